// Internal to the POSIX backend (src/paths/posix_*.cpp): the entry that one change of
// attributes works on, and the extended attributes stored on it.
#pragma once

#include <cstddef>

#include "paths/posix_sys.h"

#if !defined(_WIN32)

// The entry that one SetFileAttributesA changes, held by one descriptor opened without
// following a final link that needs no permission on the file (O_PATH). Its mode and extended
// attributes are reached through the descriptor's name in /proc, which leads to the very
// file. Where the system offers neither, a readable descriptor of the same file serves, opened
// without following a final link; and where the file cannot be read, its path, once a look at
// the entry itself has shown that it is no link.
struct AttrTarget {
  int pathFd = -1;       // the descriptor that needs no permission, or -1
  int ioFd = -1;         // the readable descriptor, or -1
  char proc[40] = {};    // the descriptor's name in /proc, or empty
  const char *sys;       // the entry's path: the last way to reach it
  SysStat sx;            // the entry as opened, or as last read again
  bool noXattrs = false; // its file system keeps no extended attributes
};
// Opens the target; 0 or errno.
int openTarget(const char *sys, AttrTarget &t);
void closeTarget(AttrTarget &t);
// The target's status again, after a change; 0 or errno.
int restatTarget(AttrTarget &t);
// One extended attribute of the target: its length (0 or more), or -1 with errno.
long getAttr(const AttrTarget &t, const char *name, char *data, size_t size);
// Sets (or, with a null value, removes) one extended attribute; 0 or errno. Where the file
// system keeps none, nothing is stored, nothing fails, and noXattrs is set.
int setAttr(AttrTarget &t, const char *name, const char *data, size_t length);
// Stores one extended attribute as setAttr does, the owner's write bit lifted for the moment of
// the store where the mode lacks it and the store needs it (the mode of t.sx is put back).
int storeWritable(AttrTarget &t, const char *name, const char *data, size_t length);

#endif
