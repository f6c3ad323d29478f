// The system seam in plain POSIX: fstatat, readdir, no kernel copy, no anonymous file, no
// rename that refuses a replacement, no descriptor names. Every "not offered" answer sends the
// backend down its portable path (reads and writes, a named temporary file, link and unlink, a
// readable descriptor), which keeps the same contract. posix_linux.cpp gives the Linux forms.
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "paths/posix_sys.h"

namespace {

void fromStat(const struct stat &s, SysStat *st) {
  st->mode = static_cast<uint32_t>(s.st_mode);
  st->uid = static_cast<uint32_t>(s.st_uid);
  st->gid = static_cast<uint32_t>(s.st_gid);
  st->nlink = static_cast<uint64_t>(s.st_nlink);
  st->dev = static_cast<uint64_t>(s.st_dev);
  st->ino = static_cast<uint64_t>(s.st_ino);
  st->size = static_cast<uint64_t>(s.st_size);
  st->atime =
      SysTime{static_cast<int64_t>(s.st_atim.tv_sec), static_cast<uint32_t>(s.st_atim.tv_nsec)};
  st->mtime =
      SysTime{static_cast<int64_t>(s.st_mtim.tv_sec), static_cast<uint32_t>(s.st_mtim.tv_nsec)};
  st->ctime =
      SysTime{static_cast<int64_t>(s.st_ctim.tv_sec), static_cast<uint32_t>(s.st_ctim.tv_nsec)};
  st->hasBirth = false; // POSIX keeps no birth time: the change time stands in
  st->btime = st->ctime;
}

// How far the clock the file system stamps with may lag behind the real-time clock: a coarse
// clock ticks at least every 10 ms.
constexpr int64_t STAMP_LAG_NS = 20000000;

} // namespace

int sysStatAt(int dirFd, const char *path, bool follow, SysStat *st) {
  struct stat s;
  if (fstatat(dirFd, path, &s, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
    return errno;
  fromStat(s, st);
  return 0;
}

int sysStatFd(int fd, SysStat *st) {
  struct stat s;
  if (fstat(fd, &s) != 0)
    return errno;
  fromStat(s, st);
  return 0;
}

// readdir over a duplicate of the descriptor, so that the caller's stays open for the lookups.
int sysReadNames(int dirFd, bool (*add)(void *, const char *, size_t), void *context) {
  int fd = dup(dirFd);
  if (fd < 0)
    return errno;
  DIR *dir = fdopendir(fd);
  if (dir == nullptr) {
    int err = errno;
    close(fd);
    return err;
  }
  int err = 0;
  for (;;) {
    errno = 0;
    struct dirent *d = readdir(dir);
    if (d == nullptr) {
      err = errno;
      break;
    }
    size_t length = 0;
    while (d->d_name[length] != '\0')
      ++length;
    if (!add(context, d->d_name, length)) {
      err = ENOMEM;
      break;
    }
  }
  closedir(dir);
  return err;
}

bool sysCloneFile(int in, int out, uint64_t device) {
  (void)in;
  (void)out;
  (void)device;
  return false;
}

long sysCopyRange(int in, int out, size_t ask, uint64_t device, bool first) {
  (void)in;
  (void)out;
  (void)ask;
  (void)device;
  (void)first;
  return 0;
}

// Never asked here; kept for the one interface.
std::atomic<int64_t> sysNoCloneDevice{-1};
std::atomic<int64_t> sysNoRangeDevice{-1};

int sysOpenAnonymous(const char *dir, uint32_t mode) {
  (void)dir;
  (void)mode;
  errno = EOPNOTSUPP;
  return -1;
}

int sysLinkAnonymous(int fd, const char *path) {
  (void)fd;
  (void)path;
  return EOPNOTSUPP;
}

int sysRenameNoReplace(const char *from, const char *to) {
  (void)from;
  (void)to;
  return ENOSYS;
}

int sysOpenLookupDirectory(const char *path) {
#if defined(O_SEARCH)
  return open(path, O_SEARCH | O_DIRECTORY | O_CLOEXEC);
#else
  return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
}

long sysGetXattrAt(int dirFd, const char *name, const char *path, const char *attribute, void *data,
                   size_t size) {
  (void)dirFd;
  (void)name;
  return sysGetXattr(-1, path, attribute, data, size);
}

int sysOpenEntry(const char *path) {
  (void)path;
  errno = ENOSYS;
  return -1;
}

bool sysDescriptorPath(int fd, char *out) {
  (void)fd;
  out[0] = '\0';
  return false;
}

void sysStampFloor(SysTime *now) {
  struct timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  int64_t ns = static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec - STAMP_LAG_NS;
  now->sec = ns / 1000000000;
  now->nsec = static_cast<uint32_t>(ns % 1000000000);
}
