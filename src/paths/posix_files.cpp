// Whole-file operations on POSIX: the narrow operations under the layer's copy (copy.cpp),
// MoveFileA, DeleteFileA, CreateDirectoryA, RemoveDirectoryA, and the file-time handle calls
// CreateFileA/GetFileTime/SetFileTime/CloseHandle. The Windows refusals are enforced by
// attribute, for root too.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "paths/fileops.h"
#include "paths/files.h"
#include "paths/posix_errors.h"
#include "paths/posix_facts.h"
#include "paths/posix_names.h"
#include "paths/posix_sys.h"
#include "paths/posix_time.h"
#include "paths/winapi.h"

namespace {

// The process's file-creation mask, read once.
mode_t creationMask() {
  static mode_t mask = [] {
    mode_t m = umask(022);
    umask(m);
    return m;
  }();
  return mask;
}

// The length of the directory part of a system path, its `/` included (0 for a bare name).
size_t directoryLength(const char *sys) {
  const char *slash = strrchr(sys, '/');
  return slash != nullptr ? static_cast<size_t>(slash - sys) + 1 : 0;
}

// The directory holding the system path `sys`, in `dir` (SYS_PATH bytes): "." for a bare name.
void directoryOf(const char *sys, char *dir) {
  size_t length = directoryLength(sys);
  if (length == 0) {
    strcpy(dir, ".");
  } else {
    memcpy(dir, sys, length);
    dir[length] = '\0';
  }
}

// The form of a temporary name, ".tc<pid>-<n>.tmp" (both numbers in hex).
constexpr char TEMP_PREFIX[] = ".tc";
constexpr char TEMP_SUFFIX[] = ".tmp";

// The process number in a temporary name of ours, or 0 when `name` is not one.
unsigned tempNameProcess(const char *name) {
  if (strncmp(name, TEMP_PREFIX, 3) != 0)
    return 0;
  const char *at = name + 3;
  unsigned pid = 0;
  int digits = 0;
  for (; *at != '-'; ++at, ++digits) {
    const char *hex = strchr("0123456789abcdef", *at);
    if (*at == '\0' || hex == nullptr || digits == 8)
      return 0;
    pid = pid * 16 + static_cast<unsigned>(hex - "0123456789abcdef");
  }
  ++at;
  const char *counter = at;
  while (*at != '\0' && strchr("0123456789abcdef", *at) != nullptr)
    ++at;
  if (at == counter || at - counter > 8 || strcmp(at, TEMP_SUFFIX) != 0 || pid > 0x3FFFFFFF)
    return 0; // (no process number is that large: pid_max is at most 2^22)
  return pid;
}

// Removes from the directory `dir` the temporary files that copies of this program left when
// they were killed between giving their data a hidden name and the rename over the destination.
// A leftover is one whose process is gone (no process of that number here, or the number is our
// own, from an earlier process) and that no process holds locked: every writer holds an
// exclusive flock on its named file until the name is gone, so a live writer is never disturbed,
// not even one in another pid namespace or one whose old number a new process now has. A number
// that belongs to a running process keeps the file (it may be that process's).
void removeLeftoverTemps(const char *dir) {
  DIR *listing = opendir(dir);
  if (listing == nullptr)
    return;
  int dirFd = dirfd(listing);
  unsigned self = static_cast<unsigned>(getpid());
  while (struct dirent *entry = readdir(listing)) {
    unsigned pid = tempNameProcess(entry->d_name);
    if (pid == 0)
      continue;
    if (pid != self && (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH))
      continue;
    if (pid == self && tempNameInFlight(entry->d_name))
      continue; // a copy of this process on another thread, about to lock it
    int fd =
        openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
      continue;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0)
      unlinkat(dirFd, entry->d_name, 0);
    close(fd);
  }
  closedir(listing);
}

// Removes the leftovers beside the system path `sys` (in its directory).
void removeLeftoversBeside(const char *sys) {
  char dir[SYS_PATH];
  directoryOf(sys, dir);
  removeLeftoverTemps(dir);
}

// The bytes a hidden temporary name takes beside its directory: ".tc", the process number and
// a counter in at most 8 hex digits each, "-", ".tmp" and the final NUL.
constexpr size_t TEMP_NAME_BYTES = 3 + 8 + 1 + 8 + 4 + 1;

// A copy ended by SIGINT, SIGTERM or SIGHUP removes every hidden temporary name in flight, and
// the process then ends as the signal says. SIGKILL leaves them to the leftover check of a
// later run.
extern "C" void removeTempsOnSignal(int sig) {
  for (int slot = 0; slot < TEMP_SLOTS; ++slot) {
    const char *name = tempNameInSlot(slot);
    if (name != nullptr)
      unlink(name);
  }
  signal(sig, SIG_DFL);
  raise(sig); // delivered once the handler returns
}

// Puts whatever `make` creates under a new hidden temporary name beside `dst`, the name left in
// `name` and noted in the table of names in flight (its slot in `*slot`); fresh names are tried
// while `make` finds one taken (EEXIST). The first time in a directory, leftovers of killed
// copies there are removed first. The name is noted before it is made, so that no moment leaves
// it unknown to the signal handler; a name that turns out taken can only be a leftover of a
// process that had this number before (names carry it), which the handler may remove. 0 or errno.
template <typename Make> int makeUnderTempName(const char *dst, char *name, int *slot, Make make) {
  size_t dirLength = directoryLength(dst);
  if (dirLength + TEMP_NAME_BYTES > SYS_PATH)
    return ENAMETOOLONG;
  cleanDirectoryOnce(dst, dirLength, removeLeftoversBeside);
  installTempHandler();
  memcpy(name, dst, dirLength);
  // Asked every time (only a copy that needs a name gets here): a name always carries the
  // number of the process that writes it, the one its leftover check looks at.
  unsigned processId = static_cast<unsigned>(getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    snprintf(name + dirLength, TEMP_NAME_BYTES, ".tc%x-%x.tmp", processId, nextTempCounter());
    *slot = noteTempName(name);
    int err = make(name);
    if (err != 0) {
      clearTempSlot(*slot);
      *slot = -1;
    }
    if (err != EEXIST)
      return err;
  }
  name[0] = '\0';
  return EEXIST;
}

// Closes the new file's descriptor, reporting a late write error (0 or errno). A named file
// keeps its lock on a duplicate until its name is gone (releaseName).
int closeTemp(PreparedCopy *copy) {
  int fd = static_cast<int>(copy->temp);
  copy->temp = NO_FILE;
  if (fd < 0)
    return 0;
  if (copy->tempName[0] != '\0' && copy->guard < 0)
    copy->guard = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  return close(fd) != 0 ? errno : 0;
}

// Descriptors that only held the lock of a temporary name that is gone, left to be closed by
// closeDeferredFiles while deferLockCloses is on.
constexpr int DEFERRED_MOST = 256;
std::mutex deferredLock;
int deferredFiles[DEFERRED_MOST];
int deferredCount = 0;
bool deferring = false;

// Closes a descriptor that only held a lock, or leaves it to closeDeferredFiles.
void closeLockHolder(int fd) {
  {
    std::lock_guard<std::mutex> hold(deferredLock);
    if (deferring && deferredCount < DEFERRED_MOST) {
      deferredFiles[deferredCount++] = fd;
      return;
    }
  }
  close(fd);
}

// The temporary name is gone (renamed or removed): its note and its lock go too. The lock of a
// removed temporary goes at once (its descriptor holds the file's space until it is closed: a
// full disk must have it back for the next file); that of a published one may be closed later.
void releaseName(PreparedCopy *copy, bool removed = false) {
  clearTempSlot(copy->slot);
  copy->slot = -1;
  copy->tempName[0] = '\0';
  if (copy->guard >= 0 && removed)
    close(static_cast<int>(copy->guard));
  else if (copy->guard >= 0)
    closeLockHolder(static_cast<int>(copy->guard));
  copy->guard = NO_FILE;
}

// Gives the anonymous new file a hidden name beside its destination, locked first. 0 or errno.
int nameAnonymousTemp(PreparedCopy *copy) {
  int fd = static_cast<int>(copy->temp);
  (void)flock(fd, LOCK_EX | LOCK_NB);
  int err =
      makeUnderTempName(copy->destination, copy->tempName, &copy->slot,
                        [&](const char *candidate) { return sysLinkAnonymous(fd, candidate); });
  if (err != 0)
    copy->tempName[0] = '\0';
  return err;
}

// Flushes the directory holding `sys`, so that a new name in it survives a crash; 0 or errno.
int flushDirectoryOf(const char *sys) {
  char dir[SYS_PATH];
  directoryOf(sys, dir);
  int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return errno;
  int err = fileOps.flush(fd);
  close(fd);
  return err;
}

// Gives `from` the name `to` unless `to` exists; 0 or errno (EEXIST when it does).
int renameNoReplace(const char *from, const char *to) {
  int err = sysRenameNoReplace(from, to);
  if (err != ENOSYS)
    return err;
  // The file system cannot refuse a replacement itself.
  struct stat st;
  if (lstat(from, &st) != 0)
    return errno;
  if (!S_ISDIR(st.st_mode)) {
    if (linkat(AT_FDCWD, from, AT_FDCWD, to, 0) == 0) {
      if (unlink(from) != 0) {
        err = errno;
        unlink(to);
        return err;
      }
      return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
      return errno;
  }
  if (lstat(to, &st) == 0)
    return EEXIST;
  return rename(from, to) == 0 ? 0 : errno;
}

// The stored DOS attributes of an open file, or -1.
int32_t storedOfFd(int fd) {
  char data[64];
  long length = sysGetXattr(fd, nullptr, DOS_XATTR_NAME, data, sizeof data);
  if (length < 0)
    return -1;
  return parseStoredAttributes(data, static_cast<size_t>(length));
}

// The stamp of a file from its status.
FileStamp stampOf(const struct stat &st) {
  FileStamp stamp;
  stamp.identity.volume = static_cast<uint64_t>(st.st_dev);
  stamp.identity.index = static_cast<uint64_t>(st.st_ino);
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.writeTicks = ticksFromUnix(static_cast<int64_t>(st.st_mtim.tv_sec),
                                   static_cast<int64_t>(st.st_mtim.tv_nsec));
  stamp.changeTicks = ticksFromUnix(static_cast<int64_t>(st.st_ctim.tv_sec),
                                    static_cast<int64_t>(st.st_ctim.tv_nsec));
  return stamp;
}

// Opens the source of a copy: a regular file (links followed). A directory is refused with 5,
// anything else (a pipe, a device, a socket) with 1, since Windows has no such files and
// reading them could block or never end. -1 with the last error set.
int openSource(const char *src, struct stat *st) {
  int in = open(src, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (in < 0) {
    setLastErrorFromErrno(errno, src);
    return -1;
  }
  DWORD code = 0;
  if (fstat(in, st) != 0)
    code = win32ErrorFromErrno(errno);
  else if (S_ISDIR(st->st_mode))
    code = ERROR_ACCESS_DENIED;
  else if (!S_ISREG(st->st_mode))
    code = ERROR_INVALID_FUNCTION_NUM;
  if (code == 0)
    return in;
  close(in);
  SetLastError(code);
  return -1;
}

// The text of the symbolic link `src`, in `text` (SYS_PATH bytes): 0 or errno.
int readLinkText(const char *src, char *text) {
  ssize_t length = readlink(src, text, SYS_PATH - 1);
  if (length < 0)
    return errno;
  if (static_cast<size_t>(length) >= SYS_PATH - 1)
    return ENAMETOOLONG;
  text[length] = '\0';
  return 0;
}

// The move of a symbolic link to another file system: the same link (the same text, as a
// rename would keep it) is made at `dst`, which must not exist (183), and on the disk before the
// source link is removed. What the link leads to is never read or touched.
BOOL moveLinkAcrossDevices(const char *src, const char *dst) {
  char text[SYS_PATH];
  int err = readLinkText(src, text);
  if (err == 0 && symlink(text, dst) != 0)
    err = errno;
  if (err == 0) {
    err = flushDirectoryOf(dst);
    if (err == 0 && unlink(src) != 0)
      err = errno;
    if (err != 0)
      unlink(dst); // the source link stays; the move did not happen
  }
  if (err != 0) {
    setLastErrorFromErrno(err, dst);
    return FALSE;
  }
  return TRUE;
}

// Handles of CreateFileA are descriptors shifted by one, so that neither 0 nor -1 is valid.
HANDLE handleOfFd(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}
// The descriptor of a handle, -1 for none.
int fdOfHandle(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
    return -1;
  return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1);
}

// A FILETIME for futimens: null, zero and all-ones leave the time unchanged (Win32 rules).
bool timespecOf(const FILETIME *time, struct timespec *out) {
  if (time == nullptr || (time->dwLowDateTime == 0 && time->dwHighDateTime == 0) ||
      (time->dwLowDateTime == 0xFFFFFFFFu && time->dwHighDateTime == 0xFFFFFFFFu)) {
    out->tv_sec = 0;
    out->tv_nsec = UTIME_OMIT;
    return true;
  }
  uint64_t value = (static_cast<uint64_t>(time->dwHighDateTime) << 32) | time->dwLowDateTime;
  if (value >= 0x8000000000000000ULL)
    return false;
  int64_t seconds, nanoseconds;
  unixFromTicks(static_cast<int64_t>(value), &seconds, &nanoseconds);
  out->tv_sec = static_cast<time_t>(seconds);
  out->tv_nsec = static_cast<long>(nanoseconds);
  return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The narrow operations under the copy (fileops.h).

const size_t TEMP_PATH_LIMIT = SYS_PATH;

void setLastErrorOfOp(OpError err, const char *sysPath) {
  if (err < 0)
    SetLastError(static_cast<DWORD>(-err));
  else
    setLastErrorFromErrno(err, sysPath);
}

bool opNameTaken(OpError err) {
  return err == EEXIST;
}

bool copySystemPath(const char *path, char *out) {
  return toSystemPath(path, out);
}

namespace {

// A read or write, repeated while a signal interrupts it: its count, or -1 with `*err`.
template <typename Call> long untilDone(OpError *err, Call call) {
  for (;;) {
    ssize_t done = call();
    if (done >= 0)
      return static_cast<long>(done);
    if (errno != EINTR) {
      *err = errno;
      return -1;
    }
  }
}

} // namespace

long opRead(FileRef in, void *buffer, size_t count, OpError *err) {
  return untilDone(err, [&] { return read(static_cast<int>(in), buffer, count); });
}

long opWrite(FileRef out, const void *data, size_t count, OpError *err) {
  return untilDone(err, [&] { return write(static_cast<int>(out), data, count); });
}

long opCopyRange(FileRef in, FileRef out, size_t ask, uint64_t device, bool first, OpError *err) {
  long n = sysCopyRange(static_cast<int>(in), static_cast<int>(out), ask, device, first);
  if (n < 0)
    *err = errno;
  return n;
}

bool opClone(FileRef in, FileRef out, uint64_t device) {
  return sysCloneFile(static_cast<int>(in), static_cast<int>(out), device);
}

int64_t opPosition(FileRef file) {
  return static_cast<int64_t>(lseek(static_cast<int>(file), 0, SEEK_CUR));
}

OpError opFlush(FileRef file) {
  return fsync(static_cast<int>(file)) == 0 ? 0 : errno;
}

OpError seekFile(FileRef file, uint64_t offset) {
  return lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) < 0 ? errno : 0;
}

OpError sizeOfFile(FileRef file, uint64_t *size) {
  struct stat st;
  if (fstat(static_cast<int>(file), &st) != 0)
    return errno;
  *size = static_cast<uint64_t>(st.st_size);
  return 0;
}

OpError truncateFile(FileRef file, uint64_t size) {
  return ftruncate(static_cast<int>(file), static_cast<off_t>(size)) == 0 ? 0 : errno;
}

// SEEK_DATA and SEEK_HOLE, where the system has them.
OpError nextDataOf(FileRef in, uint64_t at, uint64_t *data, uint64_t *hole) {
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
  int fd = static_cast<int>(in);
  off_t found = lseek(fd, static_cast<off_t>(at), SEEK_DATA);
  if (found < 0) {
    if (errno == ENXIO) {
      *data = UINT64_MAX; // nothing but a hole from here, or the source ended
      return 0;
    }
    if (errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS)
      return HOLES_UNKNOWN; // both positions are still where they were
    return errno;
  }
  off_t end = lseek(fd, found, SEEK_HOLE);
  if (end < 0)
    return errno == ENXIO ? SOURCE_ENDED : errno; // it ended before data it had
  *data = static_cast<uint64_t>(found);
  *hole = static_cast<uint64_t>(end);
  return 0;
#else
  (void)in;
  (void)at;
  (void)data;
  (void)hole;
  return HOLES_UNKNOWN;
#endif
}

bool openCopySource(const char *sysSource, CopySource *source) {
  struct stat st;
  int in = openSource(sysSource, &st);
  if (in < 0)
    return false;
  source->file = in;
  source->stamp = stampOf(st);
  source->device = static_cast<uint64_t>(st.st_dev);
  // Fewer blocks than the size needs: the usual sign of holes (a file without any never pays
  // for looking for them).
  source->sparse = static_cast<uint64_t>(st.st_blocks) * 512 < static_cast<uint64_t>(st.st_size);
  // Set-user-id and set-group-id bits are never carried: the copy belongs to whoever copies.
  source->mode = static_cast<uint32_t>(st.st_mode & 0777);
  // The stored attributes the listing read a moment ago, where the file is unchanged since.
  if (!listedStoredAttributes(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                              SysTime{static_cast<int64_t>(st.st_ctim.tv_sec),
                                      static_cast<uint32_t>(st.st_ctim.tv_nsec)},
                              &source->stored))
    source->stored = storedOfFd(in);
  int32_t stored = source->stored;
  source->attributes = 0;
  if (lastComponent(sysSource)[0] == '.' || (stored >= 0 && (stored & FILE_ATTRIBUTE_HIDDEN) != 0))
    source->attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (stored >= 0 && (stored & FILE_ATTRIBUTE_SYSTEM) != 0)
    source->attributes |= FILE_ATTRIBUTE_SYSTEM;
  source->timeSec[0] = static_cast<int64_t>(st.st_atim.tv_sec);
  source->timeNsec[0] = static_cast<uint32_t>(st.st_atim.tv_nsec);
  source->timeSec[1] = static_cast<int64_t>(st.st_mtim.tv_sec);
  source->timeNsec[1] = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  return true;
}

void closeCopySource(CopySource *source) {
  close(static_cast<int>(source->file));
  source->file = NO_FILE;
}

DWORD sourceAttributesForRefusal(const char *sysSource, DWORD attributes) {
  (void)sysSource;
  return attributes;
}

// A symbolic link in the way is judged as itself: only its own name can make it hidden. Nor may
// a copy replace a file that the user may not write, someone else's in a directory the user may
// write: Windows refuses to write it, and the rename would take it from its owner.
OpError examineDestination(const char *dst, DestinationFacts *facts) {
  *facts = DestinationFacts{};
  FileFacts old;
  int err = statFacts(AT_FDCWD, dst, dst, lastComponent(dst), &old);
  if (err == ENOENT)
    return 0;
  if (err != 0)
    return err;
  facts->exists = true;
  facts->dangling = old.dangling;
  facts->isDir = old.isDir;
  facts->identity = FileIdentity{old.dev, old.ino};
  facts->attributes = old.attributes;
  if (old.isLink)
    facts->attributes = lastComponent(dst)[0] == '.' ? FILE_ATTRIBUTE_HIDDEN : 0;
  facts->writable = old.isLink || old.dangling || faccessat(AT_FDCWD, dst, W_OK, AT_EACCESS) == 0 ||
                    errno != EACCES;
  facts->ownerDiffers =
      !old.dangling && !old.isLink && (old.uid != geteuid() || old.gid != getegid());
  facts->uid = old.uid;
  facts->gid = old.gid;
  return 0;
}

OpError identityOfTemp(const PreparedCopy &copy, FileIdentity *identity) {
  struct stat made;
  if (fstat(static_cast<int>(copy.temp), &made) != 0)
    return errno;
  *identity = stampOf(made).identity;
  return 0;
}

// New files start anonymous (O_TMPFILE) where the file system allows it, so that nothing is left
// behind even when the process is killed, else under a hidden temporary name, locked (see
// removeLeftoverTemps). The new file starts writable by its owner: an ordinary user may store
// the attributes only on a file with write permission, whatever the descriptor allows.
// The directory (per thread) whose file system refused an anonymous file last: the next copies
// into it go straight to a hidden name. On a share, the refusal itself is a round trip per
// file. Only a hint: a directory that now allows them merely gets a named temporary.
thread_local char anonymousRefusedIn[SYS_PATH];

OpError opMakeTemp(PreparedCopy *copy, const CopySource &source) {
  char dir[SYS_PATH];
  directoryOf(copy->destination, dir);
  mode_t mode = static_cast<mode_t>(source.mode) | S_IWUSR;
  copy->tempName[0] = '\0';
  if (strcmp(dir, anonymousRefusedIn) != 0) {
    OpError err = 0;
    FileRef anonymous = fileOps.openAnonymous(dir, mode, &err);
    if (anonymous >= 0) {
      copy->temp = anonymous;
      return 0;
    }
    if (err != EOPNOTSUPP)
      return err;
    memcpy(anonymousRefusedIn, dir, strlen(dir) + 1);
  }
  OpError err = 0;
  int fd = -1;
  err = makeUnderTempName(copy->destination, copy->tempName, &copy->slot, [&](const char *name) {
    fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    return fd >= 0 ? 0 : errno;
  });
  if (err != 0)
    return err;
  (void)flock(fd, LOCK_EX | LOCK_NB);
  copy->temp = fd;
  return 0;
}

FileRef opOpenAnonymous(const char *dir, uint32_t mode, OpError *err) {
  int fd = sysOpenAnonymous(dir, mode);
  if (fd < 0)
    *err = errno;
  return fd;
}

OpError opRenameTemp(const char *from, const char *to, bool replace, bool durable) {
  (void)durable; // the directory is flushed afterwards (flushPublished)
  if (!replace)
    return renameNoReplace(from, to);
  return rename(from, to) == 0 ? 0 : errno;
}

// Its own bits come last: the permission bits, after the stored attributes.
OpError carryMetadata(PreparedCopy *copy, const CopySource &source, const DestinationFacts *old,
                      bool flush) {
  int out = static_cast<int>(copy->temp);
  mode_t mode = static_cast<mode_t>(source.mode);
  int err = 0;
  if (old != nullptr && old->ownerDiffers)
    (void)!fchown(out, old->uid, old->gid); // keep the replaced file's owner where allowed
  if (source.stored >= 0)
    err = writeStoredAttributes(
        out, nullptr,
        (static_cast<uint32_t>(source.stored) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) |
            FILE_ATTRIBUTE_ARCHIVE);
  if (err == 0 && ((mode | S_IWUSR) & ~creationMask()) != mode && fchmod(out, mode) != 0)
    err = errno;
  if (err == 0) {
    struct timespec times[2];
    for (int i = 0; i < 2; ++i) {
      times[i].tv_sec = static_cast<time_t>(source.timeSec[i]);
      times[i].tv_nsec = static_cast<long>(source.timeNsec[i]);
    }
    if (futimens(out, times) != 0)
      err = errno;
  }
  if (err == 0 && flush)
    err = fileOps.flush(out);
  return err;
}

void keepOwner(PreparedCopy *copy, const DestinationFacts &old) {
  if (!old.ownerDiffers)
    return;
  if (copy->temp >= 0)
    (void)!fchown(static_cast<int>(copy->temp), old.uid, old.gid);
  else
    (void)!lchown(copy->tempName, old.uid, old.gid);
}

// Read through a descriptor opened afresh: by its hidden name, or, for an anonymous file, by its
// name in /proc (else by a hidden name given to it now), so that it reads what the file system
// holds.
OpError openTempForCheck(PreparedCopy *copy, int *fd, int64_t *size) {
  char path[SYS_PATH];
  if (copy->tempName[0] == '\0' && !sysDescriptorPath(static_cast<int>(copy->temp), path)) {
    int err = nameAnonymousTemp(copy);
    if (err != 0)
      return err;
  }
  if (copy->tempName[0] != '\0')
    strcpy(path, copy->tempName);
  int check = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (check < 0)
    return errno;
  struct stat st;
  if (fstat(check, &st) != 0) {
    int err = errno;
    close(check);
    return err;
  }
  *fd = check;
  *size = static_cast<int64_t>(st.st_size);
  return 0;
}

namespace {

// Closes the named temporary (a late write error fails it) and renames it to the destination,
// over an existing file where `replace` says so; its name is released once it is gone.
OpError renameNamedTemp(PreparedCopy *copy, bool replace) {
  int err = closeTemp(copy);
  if (err != 0)
    return err;
  err = fileOps.renameTemp(copy->tempName, copy->destination, replace,
                           (copy->flags & COPY_DURABLE) != 0);
  if (err == 0)
    releaseName(copy);
  return err;
}

} // namespace

OpError publishTemp(PreparedCopy *copy) {
  if (copy->tempName[0] == '\0') {
    int err = sysLinkAnonymous(static_cast<int>(copy->temp), copy->destination);
    if (err != 0)
      return err;
    err = closeTemp(copy);
    if (err != 0)
      unlink(copy->destination); // a late write error: the copy is not whole
    return err;
  }
  return renameNamedTemp(copy, false);
}

// A rename needs a name: an anonymous file gets a hidden one.
OpError replaceWithTemp(PreparedCopy *copy) {
  if (copy->tempName[0] == '\0') {
    int err = nameAnonymousTemp(copy);
    if (err != 0)
      return err;
  }
  return renameNamedTemp(copy, true);
}

OpError closeNamedTemp(PreparedCopy *copy) {
  return copy->tempName[0] != '\0' ? closeTemp(copy) : 0;
}

void discardTemp(PreparedCopy *copy) {
  closeTemp(copy);
  if (copy->tempName[0] != '\0')
    unlink(copy->tempName);
  releaseName(copy, true);
}

void deferLockCloses(bool on) {
  std::lock_guard<std::mutex> hold(deferredLock);
  deferring = on;
  if (!on) {
    for (int i = 0; i < deferredCount; ++i)
      close(deferredFiles[i]);
    deferredCount = 0;
  }
}

bool closeDeferredFiles() {
  int files[DEFERRED_MOST];
  int count;
  {
    std::lock_guard<std::mutex> hold(deferredLock);
    count = deferredCount;
    std::memcpy(files, deferredFiles, sizeof(int) * static_cast<size_t>(count));
    deferredCount = 0;
  }
  for (int i = 0; i < count; ++i)
    close(files[i]);
  return count > 0;
}

OpError flushPublished(PreparedCopy *copy) {
  return flushDirectoryOf(copy->destination);
}

OpError removeMovedSource(const char *sysSource) {
  return unlink(sysSource) == 0 ? 0 : errno;
}

void removeCopy(const char *sysDestination) {
  unlink(sysDestination);
}

// The handlers are installed once, for the signals whose action is the default (an ignored
// signal stays ignored).
void installTempHandler() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old;
      if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
        struct sigaction action = {};
        action.sa_handler = removeTempsOnSignal;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
      }
    }
  });
}

namespace {

// The copy of a move whose source is the symbolic link `src`: the same link replaces `dst`, so
// that the move moves the link itself, never what it leads to. `dst` is judged as a copy would
// judge it (a directory, a read-only file, or the link's own target refused), the new link goes
// in under a hidden name beside it and replaces it in one rename, and the directory is flushed.
// The record holds the link itself: the one the move may remove, and the one it made.
bool copyLinkDurably(const char *src, const char *dst, CopyRecord *record) {
  char text[SYS_PATH];
  int err = readLinkText(src, text);
  if (err != 0) {
    setLastErrorFromErrno(err, src);
    return false;
  }
  struct stat target;
  if (stat(src, &target) != 0 && lstat(src, &target) != 0) {
    setLastErrorFromErrno(errno, src);
    return false;
  }
  PreparedCopy link;
  link.temp = NO_FILE;
  link.guard = NO_FILE;
  link.slot = -1;
  link.tempName[0] = '\0';
  strcpy(link.source, src);
  strcpy(link.destination, dst);
  link.record.source = stampOf(target);
  link.sourceAttributes = lastComponent(src)[0] == '.' ? FILE_ATTRIBUTE_HIDDEN : 0;
  DestinationFacts old;
  err = examineDestination(dst, &old);
  if (err == 0 && old.exists) {
    DWORD code = replacementRefusal(old, link);
    if (code != 0) {
      SetLastError(code);
      return false;
    }
  } else if (err != 0) {
    setLastErrorFromErrno(err, dst);
    return false;
  }
  struct stat own;
  if (lstat(src, &own) != 0) {
    setLastErrorFromErrno(errno, src);
    return false;
  }
  err = makeUnderTempName(dst, link.tempName, &link.slot, [&](const char *candidate) {
    return symlink(text, candidate) == 0 ? 0 : errno;
  });
  if (err == 0) {
    if (rename(link.tempName, dst) != 0)
      err = errno;
    else
      releaseName(&link);
  }
  discardTemp(&link);
  if (err == 0)
    err = flushDirectoryOf(dst);
  struct stat made;
  if (err == 0 && record != nullptr && lstat(dst, &made) != 0)
    err = errno;
  if (err != 0) {
    setLastErrorFromErrno(err, dst);
    return false;
  }
  if (record != nullptr) {
    record->source = stampOf(own);
    record->copy = stampOf(made).identity;
  }
  return true;
}

// A move of one file to another file system: copied and flushed, then the source removed
// (moveFileByCopy). A symbolic link is moved as itself.
BOOL moveAcrossDevices(const char *source, const char *destination, const char *src,
                       const char *dst, PreparedCopy *prepared) {
  struct stat st;
  if (lstat(src, &st) == 0 && S_ISLNK(st.st_mode))
    return moveLinkAcrossDevices(src, dst);
  if (stat(src, &st) != 0) {
    setLastErrorFromErrno(errno, src);
    return FALSE;
  }
  if (S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_NOT_SAME_DEVICE);
    return FALSE;
  }
  if (lstat(dst, &st) == 0) {
    SetLastError(ERROR_ALREADY_EXISTS); // known before any data are copied
    return FALSE;
  }
  return moveFileByCopy(source, destination, prepared) ? TRUE : FALSE;
}

} // namespace

int copyLinkAsItself(const char *source, const char *destination, CopyRecord *record) {
  char src[SYS_PATH], dst[SYS_PATH];
  struct stat st;
  if (toSystemPath(source, src) && toSystemPath(destination, dst) && lstat(src, &st) == 0 &&
      S_ISLNK(st.st_mode))
    return copyLinkDurably(src, dst, record) ? 1 : 0;
  return -1;
}

// CopyFileA: the layer's copy; with failIfExists an existing destination (one that appeared
// meanwhile too) is refused with 80 and left as it is.
BOOL CopyFileA(const char *source, const char *destination, BOOL failIfExists) {
  return fsCopyFile(source, destination, failIfExists, nullptr);
}

// lstat: a move takes a link as itself, so the stamp of a link is the link's own.
bool readStamp(const char *path, FileStamp *stamp) {
  char sys[SYS_PATH];
  struct stat st;
  if (!statSystemPath(path, sys, &st, false))
    return false;
  *stamp = stampOf(st);
  return true;
}

// The clock the system stamps changes with.
int64_t changeTimeFloor() {
  SysTime now;
  sysStampFloor(&now);
  return ticksFromUnix(now.sec, static_cast<int64_t>(now.nsec));
}

// MoveFileA's work, with the copy made ahead (or null) for a move that has to copy.
bool moveFileUsing(const char *source, const char *destination, PreparedCopy *prepared) {
  char src[SYS_PATH], dst[SYS_PATH];
  if (!toSystemPath(source, src) || !toSystemPath(destination, dst))
    return false;
  int err = renameNoReplace(src, dst);
  if (err == 0)
    return true;
  if (err == EXDEV)
    return moveAcrossDevices(source, destination, src, dst, prepared) != FALSE;
  if (err == ENOENT) {
    struct stat st;
    if (lstat(src, &st) != 0)
      setLastErrorFromErrno(ENOENT, src);
    else
      SetLastError(ERROR_PATH_NOT_FOUND); // the destination's directory is missing
    return false;
  }
  setLastErrorFromErrno(err, dst);
  return false;
}

// MoveFileA: renames without ever replacing an existing destination (183); across file
// systems a file is copied, flushed and only then removed, a directory refused (17).
BOOL MoveFileA(const char *source, const char *destination) {
  return moveFileUsing(source, destination, nullptr) ? TRUE : FALSE;
}

bool statSystemPath(const char *path, char *sys, struct stat *st, bool follow) {
  if (!toSystemPath(path, sys))
    return false;
  if ((follow ? stat(sys, st) : lstat(sys, st)) != 0) {
    setLastErrorFromErrno(errno, sys);
    return false;
  }
  return true;
}

// DeleteFileA: a directory or a read-only file is refused with 5; a link is removed itself.
BOOL DeleteFileA(const char *path) {
  char sys[SYS_PATH];
  struct stat st;
  if (!statSystemPath(path, sys, &st, false))
    return FALSE;
  if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && (st.st_mode & 0222) == 0)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(sys) != 0) {
    setLastErrorFromErrno(errno, sys);
    return FALSE;
  }
  return TRUE;
}

// CreateDirectoryA: 183 for an existing name, 3 for a missing parent.
BOOL CreateDirectoryA(const char *path, void *securityAttributes) {
  (void)securityAttributes;
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return FALSE;
  if (mkdir(sys, 0777) != 0) {
    int err = errno;
    SetLastError(win32ErrorFromErrno(err, ERRNO_DIRECTORY));
    return FALSE;
  }
  return TRUE;
}

// RemoveDirectoryA: a read-only directory gives 5, one not empty 145, a file 267. A link to
// a directory is removed itself.
BOOL RemoveDirectoryA(const char *path) {
  char sys[SYS_PATH];
  struct stat st;
  if (!statSystemPath(path, sys, &st, false))
    return FALSE;
  if (S_ISLNK(st.st_mode)) {
    struct stat target;
    if (stat(sys, &target) != 0 || !S_ISDIR(target.st_mode)) {
      SetLastError(ERROR_DIRECTORY_NUM);
      return FALSE;
    }
    if (unlink(sys) != 0) {
      setLastErrorFromErrno(errno, sys);
      return FALSE;
    }
    return TRUE;
  }
  if (!S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_DIRECTORY_NUM);
    return FALSE;
  }
  int32_t stored = readStoredAttributes(sys);
  if ((st.st_mode & 0222) == 0 || (stored >= 0 && (stored & FILE_ATTRIBUTE_READONLY) != 0)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (rmdir(sys) != 0) {
    int err = errno;
    SetLastError(win32ErrorFromErrno(err, ERRNO_REMOVE_DIRECTORY));
    return FALSE;
  }
  return TRUE;
}

// CreateFileA, only to reach an existing file's times: OPEN_EXISTING, read or write access.
// Write access to a read-only file is refused with 5.
HANDLE CreateFileA(const char *path, DWORD access, DWORD share, void *securityAttributes,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
  (void)share;
  (void)securityAttributes;
  (void)flags;
  (void)templateFile;
  if (disposition != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return INVALID_HANDLE_VALUE;
  bool writing = (access & GENERIC_WRITE) != 0;
  int fd = open(sys, (writing ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    setLastErrorFromErrno(errno, sys);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (writing && fstat(fd, &st) == 0 && (st.st_mode & 0222) == 0) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return handleOfFd(fd);
}

// GetFileTime: creation (birth, else change), last-access and last-write times.
BOOL GetFileTime(HANDLE file, FILETIME *creation, FILETIME *lastAccess, FILETIME *lastWrite) {
  int fd = fdOfHandle(file);
  SysStat sx;
  int err = fd < 0 ? 0 : sysStatFd(fd, &sx);
  if (fd < 0 || err != 0) {
    SetLastError(fd < 0 ? ERROR_INVALID_HANDLE_NUM : win32ErrorFromErrno(err));
    return FALSE;
  }
  auto ticks = [](const SysTime &t) { return ticksFromUnix(t.sec, static_cast<int64_t>(t.nsec)); };
  if (creation != nullptr)
    putTicks(creation, sx.hasBirth ? ticks(sx.btime) : ticks(sx.ctime));
  if (lastAccess != nullptr)
    putTicks(lastAccess, ticks(sx.atime));
  if (lastWrite != nullptr)
    putTicks(lastWrite, ticks(sx.mtime));
  return TRUE;
}

// SetFileTime: last-access and last-write through futimens; a creation time cannot be set on
// POSIX and is ignored.
BOOL SetFileTime(HANDLE file, const FILETIME *creation, const FILETIME *lastAccess,
                 const FILETIME *lastWrite) {
  (void)creation;
  int fd = fdOfHandle(file);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE_NUM);
    return FALSE;
  }
  struct timespec times[2];
  if (!timespecOf(lastAccess, &times[0]) || !timespecOf(lastWrite, &times[1])) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (futimens(fd, times) != 0) {
    SetLastError(win32ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

// CloseHandle for handles of CreateFileA.
BOOL CloseHandle(HANDLE handle) {
  int fd = fdOfHandle(handle);
  if (fd < 0 || close(fd) != 0) {
    SetLastError(fd < 0 ? ERROR_INVALID_HANDLE_NUM : win32ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}
