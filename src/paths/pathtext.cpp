// Path text: in-place operations on NUL-terminated code-page text, two-byte characters kept
// whole, and the probes that ask the file system what a path names.
#include <cstring>

#include "paths/paths.h"

#if defined(_WIN32)
bool colonSeparates = true;
#else
bool colonSeparates = false;
#endif

namespace {

// Length of the text in `buffer`, or PATH_BUF when no terminator lies inside the buffer.
size_t boundedLength(const char *buffer) {
  size_t n = 0;
  while (n < static_cast<size_t>(PATH_BUF) && buffer[n] != '\0')
    ++n;
  return n;
}

} // namespace

// Copies `text` to `at` inside `buffer` only when it fits with its terminator; the text may lie
// inside the buffer itself, so the copy is an overlapping move.
bool pathPut(char *buffer, char *at, const char *text) {
  if (at < buffer || at >= buffer + PATH_BUF)
    return false;
  size_t offset = static_cast<size_t>(at - buffer);
  size_t length = std::strlen(text);
  if (offset + length + 1 > static_cast<size_t>(PATH_BUF))
    return false;
  std::memmove(at, text, length + 1);
  return true;
}

// Appends `text` at the end of the text in `buffer`, or writes nothing when it would not fit.
bool pathAppend(char *buffer, const char *text) {
  size_t length = boundedLength(buffer);
  if (length >= static_cast<size_t>(PATH_BUF))
    return false;
  return pathPut(buffer, buffer + length, text);
}

// Appends one byte, or writes nothing when the buffer has no room for it and the terminator.
bool pathAppendChar(char *buffer, char c) {
  size_t length = boundedLength(buffer);
  if (length + 2 > static_cast<size_t>(PATH_BUF))
    return false;
  buffer[length] = c;
  buffer[length + 1] = '\0';
  return true;
}

// The first byte of the last character (the lead byte of a final two-byte character), so that
// callers can test and trim the end without ever splitting a pair; the terminator when empty.
const char *lastCharPtr(const char *text) {
  const char *last = text;
  for (const char *p = text; *p != '\0'; p = nextChar(p))
    last = p;
  return last;
}

char *lastCharPtr(char *text) {
  return const_cast<char *>(lastCharPtr(const_cast<const char *>(text)));
}

// The last component: just past the last separator, or the whole text when there is none.
const char *fileNamePart(const char *text) {
  const char *name = text;
  for (const char *p = text; *p != '\0'; p = nextChar(p))
    if (isSeparator(*p))
      name = p + 1;
  return name;
}

char *fileNamePart(char *text) {
  return const_cast<char *>(fileNamePart(const_cast<const char *>(text)));
}

// How many dots make up a name of dots only (".", "..", "..."); 0 for anything else.
int dotsOnlyLength(const char *name) {
  int count = 0;
  for (const char *p = name; *p != '\0'; ++p) {
    if (*p != '.')
      return 0;
    ++count;
  }
  return count;
}

// "." or "..".
bool isDotName(const char *name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool ensureTrailingSep(char *path) {
  if (path[0] != '\0' && !isSeparator(*lastCharPtr(path)))
    return pathAppendChar(path, '\\');
  return true;
}

// Opens a one-byte gap at `position` and stores `ch` there (a NUL splits the text in two).
void insertChar(char *position, char ch) {
  size_t tail = std::strlen(position);
  std::memmove(position + 1, position, tail + 1);
  *position = ch;
}

// Tells a path (a directory or file named plainly) from a file mask: the first decisive
// character wins, and wildcards or an extension dot make a mask.
bool looksLikePath(const char *text) {
  if (text[0] == '\0' || (text[0] == '.' && text[1] == '\0') || text[0] == '\\')
    return true;
  if (*lastCharPtr(text) == '\\')
    return true;
  const char *p = text;
  while (*p != '\0') {
    unsigned char c = static_cast<unsigned char>(*p);
    if (isLeadByte(c)) {
      p = nextChar(p);
      continue;
    }
    if (c == '*' || c == '?')
      return false;
    if (c == '.') {
      if (p[1] == '.') {
        p += 2;
        continue;
      }
      return false;
    }
    if (c == '/' || isColonSep(static_cast<char>(c)))
      return true;
    if (c == '\\' && p[1] == '*') {
      p += 2;
      continue;
    }
    ++p;
  }
  return true;
}

// _stricmp in the C locale: ASCII letters folded to lower case, bytes compared unsigned.
int stricmpAscii(const char *a, const char *b) {
  for (;; ++a, ++b) {
    int x = lowerAscii(static_cast<unsigned char>(*a));
    int y = lowerAscii(static_cast<unsigned char>(*b));
    if (x != y || x == 0)
      return x - y;
  }
}

// _strnicmp in the C locale: as stricmpAscii over at most `n` bytes.
int strnicmpAscii(const char *a, const char *b, size_t n) {
  for (; n > 0; --n, ++a, ++b) {
    int x = lowerAscii(static_cast<unsigned char>(*a));
    int y = lowerAscii(static_cast<unsigned char>(*b));
    if (x != y || x == 0)
      return x - y;
  }
  return 0;
}

// Entry names are one entry when the file system would take them so: Windows folds case,
// POSIX file systems do not.
bool namesEqual(const char *a, const char *b) {
#if defined(_WIN32)
  return stricmpAscii(a, b) == 0;
#else
  return std::strcmp(a, b) == 0;
#endif
}

// The first `length` bytes compared as namesEqual compares whole texts.
bool namesEqualPrefix(const char *a, const char *b, size_t length) {
#if defined(_WIN32)
  return strnicmpAscii(a, b, length) == 0;
#else
  return std::strncmp(a, b, length) == 0;
#endif
}

// Whether a search pattern finds anything at all; the search is closed at once.
bool pathExists(const char *pattern) {
  FindEntry entry;
  return closeFind(FindFirstFileA(pattern, &entry));
}

// Closes a search handle when there is one to close.
bool closeFind(HANDLE search) {
  if (search == INVALID_HANDLE_VALUE)
    return false;
  FindClose(search);
  return true;
}

namespace {

// Whether a listed entry counts as a directory for the probes: the dot entries do not (a
// directory named with more dots, possible on POSIX, does).
bool probesAsDirectory(const FindEntry &entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !isDotName(entry.cFileName);
}

// Whether the last component of `text` (no trailing separator) is a dot form that names a
// directory without a look: "." and "..", and where the platform drops trailing dots, any run
// of dots.
bool endsInDotForm(const char *text) {
  const char *name = fileNamePart(text);
  if (*name == '\0')
    return false;
  return DOT_RUNS_ARE_NAMES ? isDotName(name) : dotsOnlyLength(name) > 0;
}

// The kind of what a path names: 1 a directory, 0 something else, -1 nothing. Roots, drives and
// dot forms are known to be directories without asking; otherwise the first match decides, or
// with `everyMatch` any match that is no directory makes 0.
int probeKind(const char *path, bool everyMatch) {
  PathBuf scratch; // this call's own copy, trimmed before the search
  scratch[0] = '\0';
  if (!pathPut(scratch, scratch, path))
    return -1; // longer than any path the program handles: nothing can match it
  char *last = lastCharPtr(scratch);
  if (*last == '\\')
    *last = '\0';
  last = lastCharPtr(scratch);
  if (*last == '\0' || isSeparator(*last))
    return 1;
  if (endsInDotForm(scratch))
    return 1;
  FindEntry entry;
  HANDLE search = FindFirstFileA(scratch, &entry);
  if (search == INVALID_HANDLE_VALUE)
    return -1;
  int kind = probesAsDirectory(entry) ? 1 : 0;
  while (everyMatch && kind == 1 && FindNextFileA(search, &entry))
    kind = probesAsDirectory(entry) ? 1 : 0;
  FindClose(search);
  return kind;
}

} // namespace

// 1 when the path names a directory, 0 something else, -1 nothing; only the first match counts.
int probePathKind(const char *path) {
  return probeKind(path, false);
}

// 1 when every match of the path is a directory, 0 when one is not, -1 when nothing matches.
int probeSourceKind(const char *path) {
  return probeKind(path, true);
}

namespace {

// Replaces the last component of the PathBuf `path` by the stored name of the first entry
// whose attributes meet `attributeMask`, keeping `reserve` bytes free after the new text.
bool replaceWithMatch(char *path, DWORD attributeMask, size_t reserve) {
  if (path[0] == '\0')
    return false;
  char *name = fileNamePart(path);
  if (*name == '\0')
    return false;
  FindEntry entry;
  HANDLE search = FindFirstFileA(path, &entry);
  if (search == INVALID_HANDLE_VALUE)
    return false;
  bool replaced = false;
  do {
    // A stored name holding `\` (possible on POSIX) cannot be written into a path.
    const char *p = entry.cFileName;
    while (*p != '\0' && *p != '\\')
      p = nextChar(p);
    if ((entry.dwFileAttributes & attributeMask) != 0 && *p == '\0') {
      size_t offset = static_cast<size_t>(name - path);
      size_t length = std::strlen(entry.cFileName);
      // A stored name too long for the buffer leaves the path as written.
      if (offset + length + 1 + reserve <= static_cast<size_t>(PATH_BUF)) {
        std::memcpy(name, entry.cFileName, length + 1);
        replaced = true;
      }
      break;
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return replaced;
}

} // namespace

// Turns a pattern for the last component into the name the file system stores for the first
// matching entry (a wildcard directory becomes a real one; a plain name takes its stored case).
bool matchDirName(char *path, DWORD attributeMask) {
  if (path[0] == '\0')
    return false;
  char *last = lastCharPtr(path);
  if (isColonSep(*last))
    return false;
  if (*last == '\\') {
    *last = '\0';
    bool replaced = replaceWithMatch(path, attributeMask, 1);
    size_t length = std::strlen(path);
    path[length] = '\\';
    path[length + 1] = '\0';
    return replaced;
  }
  return replaceWithMatch(path, attributeMask, 0);
}

// The directory's text, then the name.
bool lookupDirPath(const LookupDir &dir, const char *name, char *whole) {
  size_t length = std::strlen(dir.path);
  if (!pathPut(whole, whole + length, name)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::memcpy(whole, dir.path, length);
  return true;
}
