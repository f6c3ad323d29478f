// The system seam on Linux: statx, getdents64, a clone or copy_file_range, O_TMPFILE published
// by linkat, renameat2 with RENAME_NOREPLACE, descriptor names in /proc and the coarse clock.
// posix_portable.cpp gives the POSIX forms of the same functions.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "paths/posix_sys.h"

namespace {

SysTime timeOf(const struct statx_timestamp &t) {
  return SysTime{static_cast<int64_t>(t.tv_sec), t.tv_nsec};
}

void fromStatx(const struct statx &sx, SysStat *st) {
  st->mode = sx.stx_mode;
  st->uid = sx.stx_uid;
  st->gid = sx.stx_gid;
  st->nlink = sx.stx_nlink;
  st->dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  st->ino = sx.stx_ino;
  st->size = sx.stx_size;
  st->atime = timeOf(sx.stx_atime);
  st->mtime = timeOf(sx.stx_mtime);
  st->ctime = timeOf(sx.stx_ctime);
  st->hasBirth = (sx.stx_mask & STATX_BTIME) != 0;
  st->btime = st->hasBirth ? timeOf(sx.stx_btime) : st->ctime;
}

constexpr unsigned STAT_MASK = STATX_BASIC_STATS | STATX_BTIME;

// Reading buffer for getdents64; only one directory is read at a time.
alignas(8) char direntBuffer[32768];

// The source device for which a clone, or a kernel copy, was last refused (none yet: -1): the
// file system has no such call, or the destination lies on another file system (EXDEV). The
// call is not tried again for that device, which saves one or two calls per file; a later
// destination back on the source's file system only loses the faster path, never data.
} // namespace
std::atomic<int64_t> sysNoCloneDevice{-1};
std::atomic<int64_t> sysNoRangeDevice{-1};
namespace {

// Whether linking by descriptor was refused while the name in /proc worked: then only the
// latter is tried, one call per file instead of two.
std::atomic<bool> linkByProcOnly{false};

// getxattrat (Linux 6.13): an extended attribute of a name relative to a directory descriptor.
// Where it is refused as unknown it is not asked again: getxattr by path takes its place.
#if !defined(SYS_getxattrat) && defined(__x86_64__)
#define SYS_getxattrat 464
#endif
struct XattrArgs {
  uint64_t value;
  uint32_t size;
  uint32_t flags;
};
// Atomic: namesake lookups may run on several threads at once.
std::atomic<bool> noGetXattrAt{false};

} // namespace

// statx: every field in one call, the birth time where the file system keeps one.
int sysStatAt(int dirFd, const char *path, bool follow, SysStat *st) {
  struct statx sx;
  int flags = AT_STATX_SYNC_AS_STAT | (follow ? 0 : AT_SYMLINK_NOFOLLOW);
  if (statx(dirFd, path, flags, STAT_MASK, &sx) != 0)
    return errno;
  fromStatx(sx, st);
  return 0;
}

int sysStatFd(int fd, SysStat *st) {
  struct statx sx;
  if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STAT_MASK, &sx) != 0)
    return errno;
  fromStatx(sx, st);
  return 0;
}

// getdents64 into one static buffer: a directory of a few hundred entries in one call.
int sysReadNames(int dirFd, bool (*add)(void *, const char *, size_t), void *context) {
  for (;;) {
    ssize_t got = getdents64(dirFd, direntBuffer, sizeof direntBuffer);
    if (got < 0)
      return errno;
    if (got == 0)
      return 0;
    for (ssize_t at = 0; at < got;) {
      const struct dirent64 *d = reinterpret_cast<const struct dirent64 *>(direntBuffer + at);
      at += d->d_reclen;
      if (!add(context, d->d_name, strlen(d->d_name)))
        return ENOMEM;
    }
  }
}

// FICLONE, where the file system shares blocks.
bool sysCloneFile(int in, int out, uint64_t device) {
  if (static_cast<int64_t>(device) == sysNoCloneDevice)
    return false;
  if (ioctl(out, FICLONE, in) == 0)
    return true;
  if (errno == EOPNOTSUPP || errno == ENOTTY || errno == EINVAL || errno == EXDEV)
    sysNoCloneDevice = static_cast<int64_t>(device);
  return false;
}

// copy_file_range. Some file systems report 0 for data they cannot splice: the caller's reads go
// on from there and tell whether it was the end.
long sysCopyRange(int in, int out, size_t ask, uint64_t device, bool first) {
  if (static_cast<int64_t>(device) == sysNoRangeDevice)
    return 0;
  for (;;) {
    ssize_t n = copy_file_range(in, nullptr, out, nullptr, ask, 0);
    if (n >= 0)
      return static_cast<long>(n);
    if (errno == EINTR)
      continue;
    if (!first || (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL &&
                   errno != EBADF && errno != EPERM))
      return -1;
    if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP)
      sysNoRangeDevice = static_cast<int64_t>(device);
    return 0;
  }
}

// O_TMPFILE: nothing is left behind even when the process is killed.
int sysOpenAnonymous(const char *dir, uint32_t mode) {
#if defined(O_TMPFILE)
  int fd = open(dir, O_TMPFILE | O_WRONLY | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0 && (errno == EISDIR || errno == EINVAL))
    errno = EOPNOTSUPP; // a kernel or file system without it
  return fd;
#else
  (void)dir;
  (void)mode;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

// linkat by descriptor, or through the descriptor's name in /proc.
int sysLinkAnonymous(int fd, const char *path) {
  if (!linkByProcOnly) {
    if (linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0)
      return 0;
    if (errno != ENOENT && errno != EPERM)
      return errno;
  }
  // Linking by descriptor may need a capability; the descriptor's name in /proc does not.
  char proc[40];
  snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  if (linkat(AT_FDCWD, proc, AT_FDCWD, path, AT_SYMLINK_FOLLOW) != 0)
    return errno;
  linkByProcOnly = true;
  return 0;
}

// renameat2 with RENAME_NOREPLACE.
int sysRenameNoReplace(const char *from, const char *to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
    return 0;
  int err = errno;
  return (err == EINVAL || err == ENOSYS || err == EOPNOTSUPP) ? ENOSYS : err;
}

// O_PATH: lookups in the directory need only the permission to search it.
int sysOpenLookupDirectory(const char *path) {
  return open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

long sysGetXattrAt(int dirFd, const char *name, const char *path, const char *attribute, void *data,
                   size_t size) {
#if defined(SYS_getxattrat)
  if (!noGetXattrAt.load(std::memory_order_relaxed)) {
    XattrArgs args = {reinterpret_cast<uintptr_t>(data), static_cast<uint32_t>(size), 0};
    long length = syscall(SYS_getxattrat, dirFd, name, 0u, attribute, &args, sizeof args);
    // ENOSYS from an older kernel; EPERM from a system-call filter that does not know the call
    // (reading a user attribute is never refused with EPERM otherwise).
    if (length >= 0 || (errno != ENOSYS && errno != EPERM))
      return length;
    noGetXattrAt.store(true, std::memory_order_relaxed);
  }
#else
  (void)dirFd;
  (void)name;
#endif
  return sysGetXattr(-1, path, attribute, data, size);
}

// O_PATH: no permission on the entry is needed.
int sysOpenEntry(const char *path) {
  return open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
}

// /proc/self/fd/N, when /proc is there.
bool sysDescriptorPath(int fd, char *out) {
  snprintf(out, 40, "/proc/self/fd/%d", fd);
  return access(out, F_OK) == 0;
}

// The coarse clock is what the kernel stamps changes with (or a later, finer time).
void sysStampFloor(SysTime *now) {
  struct timespec t;
  clock_gettime(CLOCK_REALTIME_COARSE, &t);
  now->sec = static_cast<int64_t>(t.tv_sec);
  now->nsec = static_cast<uint32_t>(t.tv_nsec);
}
