// Internal to the POSIX backend (src/paths/posix_*.cpp) and its tests: system paths and names,
// the program's path text (`\` separators) turned into a system path (`/`), trailing separators,
// the last component, the dot entries and the wildcard match of one name.
#pragma once

#include <cstddef>

#if !defined(_WIN32)

// A system path (with `/`) is at most this long, terminator included.
constexpr size_t SYS_PATH = 4096;

// The length of the system path `sys` without the `/` after its last name; a lone root keeps
// its one `/`. Every trimming of trailing separators in the backend goes through it.
inline size_t trimmedLength(const char *sys) {
  size_t length = 0;
  while (sys[length] != '\0')
    ++length;
  while (length > 1 && sys[length - 1] == '/')
    --length;
  return length;
}

// Drops the separators after the last name of a system path (a trailing `/` would make the
// system follow a final link), keeping a lone root.
inline void trimTrailingSlashes(char *sys) {
  sys[trimmedLength(sys)] = '\0';
}

// Whether the lead-byte table has any lead byte (a two-byte code page is active).
extern bool leadBytesActive;

// Turns program path text (`\` separators) into a system path in `out` (SYS_PATH bytes).
// False with the last error set (206 too long, 2 empty) when it cannot.
bool toSystemPath(const char *path, char *out);
// Whether a name is "." or "..".
bool isDotEntry(const char *name);
// The last component of a system path (after the last `/`).
const char *lastComponent(const char *sysPath);

// The system path of `path` in `sys` (SYS_PATH bytes) and its status in `st` (a final link
// followed with `follow`): false with the last error set when either fails.
struct stat;
bool statSystemPath(const char *path, char *sys, struct stat *st, bool follow);

// Wildcard match of one name against a normalized last component (Windows rules).
bool wildcardMatch(const char *pattern, const char *name);

#endif
