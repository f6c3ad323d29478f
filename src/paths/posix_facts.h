// Internal to the POSIX backend (src/paths/posix_*.cpp) and its tests: what the layer reads of
// one file (its status and its stored DOS attributes, kept in an extended attribute) and the
// Win32 attribute word it makes of them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "paths/posix_sys.h"
#include "paths/winapi.h"

#if !defined(_WIN32)

// The extended attribute that Samba and Wine keep DOS attributes in.
constexpr char DOS_XATTR_NAME[] = "user.DOSATTRIB";
// A file whose archive bit was cleared also has a record of the clear beside that value
// (user.treecopy.clean): a bound a little ahead of the clock on the change time the clear gave
// the file, a change time past it being a change since. posix_archive.cpp keeps it alone.
// The mark of an update in place that has not ended: "<old size> <old last-write ticks>".
constexpr char UPDATE_XATTR_NAME[] = "user.treecopy.update";

// What the layer knows about one file after one stat and one extended-attribute read.
struct FileFacts {
  bool isDir;
  bool isLink;              // the name is a symbolic link: the other facts describe its target
  bool dangling;            // a symbolic link whose target cannot be reached (an empty file)
  int targetError;          // why a dangling link's target cannot be reached (errno)
  uint32_t mode;            // st_mode
  uint64_t dev, ino;        // identity
  uint64_t size;            // 0 for a directory
  uint32_t uid, gid;        // owner
  int64_t accessTicks;      // 100-ns ticks since 1601
  int64_t writeTicks;       //
  int64_t createTicks;      // birth time where known, else change time
  int64_t changeTicks;      // status change time
  SysTime changeTime;       // the same, as the file system keeps it
  bool changedSinceCleared; // changed since a stored archive bit was cleared: written since
                            // (a last-write time not earlier than the change time), or a
                            // change time past the bound the clear recorded
                            // (changedSinceArchiveCleared)
  int32_t stored;           // stored DOS attributes, -1 when none
  DWORD attributes;         // the Win32 attribute word
};

// Fills `facts` for `name` relative to the directory `dirFd` (or a path when dirFd is
// AT_FDCWD, passed as -100). `xattrPath` is the full path for the DOS attribute read where it
// cannot be read relative to `dirFd`;
// `displayName` decides the dot rule. A final symbolic link is followed; one whose target
// cannot be reached (missing, a loop, no access) becomes an empty file. 0 or the stat's errno.
int statFacts(int dirFd, const char *name, const char *xattrPath, const char *displayName,
              FileFacts *facts, bool *xattrUnsupported = nullptr);
// The listing's note of the last file it handed out: its identity, change time and stored DOS
// attributes. A copy of that very file, unchanged since (every change of its attributes moves its
// change time), takes the stored attributes from here instead of reading them a second time.
void noteListedFile(const FileFacts &facts);
// The noted stored attributes of the file of identity `dev`/`ino` and change time `ctime`: true
// and the value (-1 for none) when the note is of that file as it is now.
bool listedStoredAttributes(uint64_t dev, uint64_t ino, const SysTime &ctime, int32_t *stored);

// Reads stored DOS attributes of `sysPath`: the value, or -1 when none (or unreadable).
int32_t readStoredAttributes(const char *sysPath, bool *unsupported = nullptr);
// Parses the text form `0x..` (a Samba or Wine value); -1 when it is not that form.
int32_t parseStoredAttributes(const char *data, size_t length);
// Writes `value` as stored DOS attributes, through `fd` when it is not -1, else by path;
// silently nothing where the file system has no extended attributes. 0 or an errno.
int writeStoredAttributes(int fd, const char *sysPath, uint32_t value);
// Where the extended attributes of one entry are read: its name in an open directory, or its
// whole path when `dirFd` is AT_FDCWD (a final link followed in both).
struct XattrPlace {
  int dirFd;
  const char *name;
  const char *path;
};
// sysGetXattr of the entry at `place`.
long getXattr(const XattrPlace &place, const char *attribute, void *data, size_t size);
// The Win32 attribute word from the facts (mode, times, stored value) and the entry name.
DWORD computeAttributes(const FileFacts &facts, const char *name);

#endif
