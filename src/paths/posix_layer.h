// Internals shared by the files of the POSIX backend (src/paths/posix_*.cpp) and its tests.
// No system header here: the system types stay inside the .cpp files.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "paths/paths.h"

#if !defined(_WIN32)

// The extended attribute that Samba and Wine keep DOS attributes in.
constexpr char DOS_XATTR_NAME[] = "user.DOSATTRIB";
// A file whose archive bit was cleared also has a record of the clear beside that value
// (user.treecopy.clean): a bound a little ahead of the clock on the change time the clear gave
// the file, a change time past it being a change since. posix_archive.cpp keeps it alone.
// The mark of an update in place that has not ended: "<old size> <old last-write ticks>".
constexpr char UPDATE_XATTR_NAME[] = "user.treecopy.update";

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

// Win32 error numbers that only the backend produces.
constexpr DWORD ERROR_INVALID_FUNCTION_NUM = 1u;
constexpr DWORD ERROR_INVALID_HANDLE_NUM = 6u;
constexpr DWORD ERROR_NO_MORE_FILES_NUM = 18u;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER_NUM = 122u;
constexpr DWORD ERROR_DIRECTORY_NUM = 267u;
constexpr DWORD ERROR_MR_MID_NOT_FOUND_NUM = 317u;

// Ticks between 1601-01-01 and 1970-01-01.
constexpr int64_t EPOCH_DIFF_TICKS = 116444736000000000LL;

// ---------------------------------------------------------------------------------------------
// The system seam. The calls for which Linux offers a faster or safer form than POSIX are made
// only behind these functions: posix_linux.cpp gives the Linux forms (statx, getdents64, a clone
// or copy_file_range, O_TMPFILE published by linkat, renameat2 with RENAME_NOREPLACE, names in
// /proc/self/fd, the coarse clock), posix_portable.cpp the POSIX forms that keep the same
// contract (fstatat, readdir, no kernel copy, no anonymous file, no refusal of a replacement by
// the rename itself, no descriptor names). The build takes exactly one of the two
// (TREECOPY_PORTABLE_POSIX); the rest of the backend is POSIX and calls these where it needs
// them, with its own portable path for every "not offered" answer.

// A time as the file system keeps it.
struct SysTime {
  int64_t sec;
  uint32_t nsec;
};
inline bool operator==(const SysTime &a, const SysTime &b) {
  return a.sec == b.sec && a.nsec == b.nsec;
}
// Whether `a` is not earlier than `b`, and whether it is later.
inline bool notEarlier(const SysTime &a, const SysTime &b) {
  return a.sec != b.sec ? a.sec > b.sec : a.nsec >= b.nsec;
}
inline bool laterThan(const SysTime &a, const SysTime &b) {
  return a.sec != b.sec ? a.sec > b.sec : a.nsec > b.nsec;
}

// The status of one file: what the backend reads of stat.
struct SysStat {
  uint32_t mode;
  uint32_t uid, gid;
  uint64_t nlink;
  uint64_t dev, ino; // st_dev and st_ino
  uint64_t size;
  SysTime atime, mtime, ctime;
  SysTime btime; // the birth time, where hasBirth
  bool hasBirth;
};

// The status of `path` relative to the directory descriptor `dirFd` (AT_FDCWD for the current
// directory), a final link followed or not. 0 or errno.
int sysStatAt(int dirFd, const char *path, bool follow, SysStat *st);
// The status of an open descriptor. 0 or errno.
int sysStatFd(int fd, SysStat *st);

// Hands every name of the directory `dirFd`, opened for this reading, to `add` (its length too),
// the dot entries included; the names are read from the descriptor's position, which is left
// at the end, and the descriptor stays open. 0, errno, or ENOMEM when `add` refuses a name.
int sysReadNames(int dirFd, bool (*add)(void *context, const char *name, size_t length),
                 void *context);

// The kernel's own copies of `in` (on device `device`) into the empty `out`. sysCloneFile shares
// the whole file's blocks: true when it did. sysCopyRange copies up to `ask` bytes from the two
// descriptors' positions and moves them on: the bytes copied; 0 when the kernel copies no more
// here (the end of the file, or a file system or pair of them it cannot copy between, which
// `first`, true before anything was copied, lets it say), the caller then going on by reading
// and writing from the same positions; -1 with errno on a failure.
bool sysCloneFile(int in, int out, uint64_t device);
long sysCopyRange(int in, int out, size_t ask, uint64_t device, bool first);
// The device on which the kernel refused a clone, and the one on which it refused its copy
// (-1: none): neither is asked there again. Copies on several threads may note them at once.
extern std::atomic<int64_t> sysNoCloneDevice;
extern std::atomic<int64_t> sysNoRangeDevice;

// A new anonymous file in the directory `dir`, open for writing, which no name reaches until
// sysLinkAnonymous gives it one: its descriptor, or -1 with errno (EOPNOTSUPP where the system
// or the file system has none).
int sysOpenAnonymous(const char *dir, uint32_t mode);
// Gives the anonymous file open as `fd` the name `path`: 0 or errno (EEXIST when it is taken).
int sysLinkAnonymous(int fd, const char *path);

// Renames `from` to `to` only when `to` does not exist, refused by the rename itself: 0, errno
// (EEXIST when it does), or ENOSYS when the system or the file system cannot refuse a
// replacement (the caller then links and unlinks).
int sysRenameNoReplace(const char *from, const char *to);

// A descriptor of the directory `path` (a final link followed) for looking names up in it,
// needing no more permission than the lookups themselves where the system allows: -1 with errno.
int sysOpenLookupDirectory(const char *path);

// A descriptor of the entry `path` names, a final link not followed, that needs no permission
// on the entry itself; -1 with errno (ENOSYS where the system has none).
int sysOpenEntry(const char *path);
// A path that reaches the file open as `fd` itself (its name in /proc), in `out` (40 bytes);
// false where the system offers none.
bool sysDescriptorPath(int fd, char *out);

// A time that no change of a file made from now on can be stamped before: the clock the file
// system stamps changes with.
void sysStampFloor(SysTime *now);

// The extended-attribute calls of the system, through the descriptor `fd` when it is not -1,
// else by path (a final link followed). Each gives what the system call gives (a length, or
// 0), or -1 with errno; where the system has no extended attributes, -1 with ENOTSUP.
// SYS_NO_ATTRIBUTE is the errno of an attribute that is not there.
long sysGetXattr(int fd, const char *path, const char *name, void *data, size_t size);
int sysSetXattr(int fd, const char *path, const char *name, const void *data, size_t size);
int sysRemoveXattr(int fd, const char *path, const char *name);
extern const int SYS_NO_ATTRIBUTE;
// sysGetXattr for the entry `name` of the directory open as `dirFd` (a final link followed),
// where the system reads it without walking the whole path again; `path` is the same entry's
// whole path, for the systems that cannot.
long sysGetXattrAt(int dirFd, const char *name, const char *path, const char *attribute, void *data,
                   size_t size);

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

// What the failed call named, where one errno means different things: the entry itself, a
// directory it needs (a listing, the parent of a new directory), or a directory to remove.
// ERRNO_ANY marks the rows of the table that hold for every use.
enum ErrnoUse { ERRNO_ENTRY, ERRNO_DIRECTORY, ERRNO_REMOVE_DIRECTORY, ERRNO_ANY };

// The one errno table: the Win32 number for a system error (ENOENT gives 2 for the entry, 3 for
// a directory; EEXIST 145 for a directory to remove).
DWORD win32ErrorFromErrno(int err, ErrnoUse use = ERRNO_ENTRY);
// Sets the last error from errno; for ENOENT it tells a missing entry (2) from a missing
// directory on the way (3) by looking at the parent of `sysPath` (may be null: then 2).
void setLastErrorFromErrno(int err, const char *sysPath = nullptr);

// The system path of `path` in `sys` (SYS_PATH bytes) and its status in `st` (a final link
// followed with `follow`): false with the last error set when either fails.
struct stat;
bool statSystemPath(const char *path, char *sys, struct stat *st, bool follow);
// 3 when the directory holding `sysPath` is missing or not a directory, else 2.
DWORD missingEntryError(const char *sysPath);

// Whether the lead-byte table has any lead byte (a two-byte code page is active).
extern bool leadBytesActive;

// Turns program path text (`\` separators) into a system path in `out` (SYS_PATH bytes).
// False with the last error set (206 too long, 2 empty) when it cannot.
bool toSystemPath(const char *path, char *out);
// Whether a name is "." or "..".
bool isDotEntry(const char *name);
// The last component of a system path (after the last `/`).
const char *lastComponent(const char *sysPath);

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
// The Win32 attribute word from the facts (mode, times, stored value) and the entry name.
DWORD computeAttributes(const FileFacts &facts, const char *name);

// Wildcard match of one name against a normalized last component (Windows rules).
bool wildcardMatch(const char *pattern, const char *name);

// The tick count that stands for every time past the range of FILETIME (times beyond the year
// 30828, which tmpfs keeps): the largest, so that comparisons keep such a file the newest; the
// calendar conversion refuses it with 87, as Windows refuses a time past the range.
constexpr int64_t TICKS_SATURATED = INT64_MAX;

// Ticks from seconds and nanoseconds since 1970 (saturated, never overflowing), and back.
int64_t ticksFromUnix(int64_t seconds, int64_t nanoseconds);
void unixFromTicks(int64_t ticks, int64_t *seconds, int64_t *nanoseconds);
// Stores ticks into a FILETIME (a time before 1601 becomes 0).
void putTicks(FILETIME *time, int64_t ticks);

#endif
