// Path text: two-byte characters of the active code page, the fixed path buffers and their
// bounded writes, separators, names and dot names, and the program's ASCII case folds and name
// comparisons. Pure text: no system type.
#pragma once

#include <cstddef>

// ---------------------------------------------------------------------------------------------
// Two-byte characters of the active code page.

enum LeadByteTable { LEAD_NONE = 0, LEAD_SHIFT_JIS = 1, LEAD_WIDE = 2, LEAD_SYSTEM = 3 };
extern unsigned char leadByteMap[256];
// Chooses the lead-byte table: Shift_JIS (0x81-0x9F, 0xE0-0xFC), the wide sets of GBK, Big5 and
// UHC (0x81-0xFE), none, or the system's own (IsDBCSLeadByte, or the locale on POSIX).
void setLeadByteTable(LeadByteTable table);
inline bool isLeadByte(unsigned char c) {
  return leadByteMap[c] != 0;
}

// The bytes of the character at `p`: 2 for a lead byte and its trail byte, 1 otherwise (a lead
// byte directly before the terminator stands alone, so that a scan then stops there). Every
// scan of program text steps with it, so that a trail byte is never taken for `\`, `.` or `/`.
inline size_t charBytes(const char *p) {
  return (isLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
}
inline const char *nextChar(const char *p) {
  return p + charBytes(p);
}
inline char *nextChar(char *p) {
  return p + charBytes(p);
}

// ---------------------------------------------------------------------------------------------
// Path text.

constexpr int PATH_BUF = 520;
typedef char PathBuf[PATH_BUF]; // a path, NUL-terminated, in the active code page
typedef char TabList[PATH_BUF]; // items each followed by one TAB (masks, exclusions)

// Whether `:` separates (ends a drive prefix). True on Windows; on POSIX `:` is an ordinary
// character. A variable only so that tests can check both rules on either platform.
extern bool colonSeparates;
inline bool isColonSep(char c) {
  return colonSeparates && c == ':';
}
inline bool isSeparator(char c) {
  return c == '\\' || isColonSep(c);
}

// Bounded writes into a PathBuf (or TabList) `buffer`: `text` is copied to `at` (a position
// inside `buffer`) only when it fits with its terminator; false and nothing written otherwise.
bool pathPut(char *buffer, char *at, const char *text);
bool pathAppend(char *buffer, const char *text);
bool pathAppendChar(char *buffer, char c);

char *lastCharPtr(char *text);
const char *lastCharPtr(const char *text);
char *fileNamePart(char *text);
const char *fileNamePart(const char *text);
int dotsOnlyLength(const char *name);
// Whether a name is one of the two dot entries, "." or "..", which are never entries of a
// listing's own.
bool isDotName(const char *name);
// Whether a name made only of dots other than the dot entries (such as ...) names an entry of
// that name. On POSIX it does. Windows drops the trailing dots of every component, so that such
// a name names the directory before it: no path can spell an entry of that name there.
#if defined(_WIN32)
constexpr bool DOT_RUNS_ARE_NAMES = false;
#else
constexpr bool DOT_RUNS_ARE_NAMES = true;
#endif
// The append forms below need room for one more byte; callers check with pathAppendChar first
// where the text may fill its buffer, or use the checked variants.
// Makes a non-empty path in a PathBuf end in a separator so that a name can follow; false, and
// nothing written, when the separator does not fit.
bool ensureTrailingSep(char *path);
void insertChar(char *position, char ch);
bool looksLikePath(const char *text);

// The program's ASCII case folds: a letter as its upper (lower) case, every other byte (a DBCS
// byte too) as it is. Listings order by the upper fold, as Windows lists; _stricmp orders by the
// lower one.
constexpr unsigned char upperAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}
constexpr unsigned char lowerAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// ASCII-only case folding, as _stricmp and _strnicmp compare in the C locale.
int stricmpAscii(const char *a, const char *b);
int strnicmpAscii(const char *a, const char *b, size_t n);
// Whether two names, or two paths, name one entry as the file system compares them: ASCII case
// folded on Windows, exact on POSIX, where README and readme are two files. Every same-path and
// same-name test of the program compares with these two.
bool namesEqual(const char *a, const char *b);
// The same comparison over the first `length` bytes of each text (a path and its prefix).
bool namesEqualPrefix(const char *a, const char *b, size_t length);
