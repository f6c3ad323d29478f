// The probes that ask the file system what a path names, and the whole path of a name in a
// lookup directory.
#include <cstring>

#include "paths/lookup.h"
#include "paths/pathtext.h"
#include "paths/winapi.h"

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

// The directory's text, then the name; nothing for a directory that could not be opened.
bool lookupDirPath(const LookupDir &dir, const char *name, char *whole) {
  if (dir.error != 0) {
    SetLastError(dir.error);
    return false;
  }
  size_t length = std::strlen(dir.path);
  if (!pathPut(whole, whole + length, name)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::memcpy(whole, dir.path, length);
  return true;
}
