// Path text: in-place operations on NUL-terminated code-page text, two-byte characters kept
// whole.
#include <cstring>

#include "paths/pathtext.h"

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
