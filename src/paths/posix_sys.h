// Internal to the POSIX backend (src/paths/posix_*.cpp) and its tests. No system header here:
// the system types stay inside the .cpp files.
//
// The system seam. The calls for which Linux offers a faster or safer form than POSIX are made
// only behind these functions: posix_linux.cpp gives the Linux forms (statx, getdents64, a clone
// or copy_file_range, O_TMPFILE published by linkat, renameat2 with RENAME_NOREPLACE, names in
// /proc/self/fd, the coarse clock), posix_portable.cpp the POSIX forms that keep the same
// contract (fstatat, readdir, no kernel copy, no anonymous file, no refusal of a replacement by
// the rename itself, no descriptor names). The build takes exactly one of the two
// (TREECOPY_PORTABLE_POSIX); the rest of the backend is POSIX and calls these where it needs
// them, with its own portable path for every "not offered" answer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#if !defined(_WIN32)

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

#endif
