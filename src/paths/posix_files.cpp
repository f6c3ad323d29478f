// Whole-file operations on POSIX: CopyFileA, MoveFileA, DeleteFileA, CreateDirectoryA,
// RemoveDirectoryA, and the file-time handle calls CreateFileA/GetFileTime/SetFileTime/
// CloseHandle. The Windows refusals are enforced by attribute, for root too.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "paths/posix_layer.h"

namespace {

// The test seam: when faultBytes >= 0, data copies use plain reads and writes and fail with
// faultErrno once that many bytes are written, or with faultErrno 0 meet the source's end there.
int64_t faultBytes = -1;
int faultErrno = 0;

// The test seam of a dropped write: when dropAfter >= 0, data copies use plain reads and writes
// and store only their first dropAfter bytes, though every byte counts as written.
int64_t dropAfter = -1;

// The check of a copy's complete data before they are published (setCopyCheck).
CopyCheckFn copyCheck = nullptr;
void *copyCheckContext = nullptr;

// The test seam of the publishing step: called once a named temporary file is complete under
// its hidden name, before the rename that gives it the destination's name.
void (*publishHook)(void *) = nullptr;
void *publishHookContext = nullptr;

// What copyData gives for a source that ends before the size read at the start: a short read,
// reported as 38 like every other read that meets an early end. Never an errno value.
constexpr int SOURCE_ENDED = -38;

// Sets the last error for a failed copy step: an errno, or SOURCE_ENDED.
void setCopyError(int err, const char *sysPath) {
  if (err == SOURCE_ENDED)
    SetLastError(ERROR_HANDLE_EOF);
  else
    setLastErrorFromErrno(err, sysPath);
}

// The test seam of the flushes: when flushFaultErrno is not 0, the flush numbered
// flushFaultAt (counted from 0 since the seam was set) fails with it.
int flushFaultAt = -1;
int flushFaultErrno = 0;
int flushCount = 0;

// The test seam of CopyFileA: called once the source is open and its size and times are read,
// before any data are copied.
void (*copyHook)(void *) = nullptr;
void *copyHookContext = nullptr;

// fsync with the test seam; 0 or errno.
int flushDescriptor(int fd) {
  if (flushFaultErrno != 0 && flushCount++ == flushFaultAt)
    return flushFaultErrno;
  return fsync(fd) == 0 ? 0 : errno;
}

// The plain read/write buffer, shared by every copy (one copy runs at a time).
constexpr size_t COPY_CHUNK = 1u << 20;
alignas(4096) unsigned char copyBuffer[COPY_CHUNK];

// Receives the bytes done while a copy runs (none: nullptr). Kernel copies then go in pieces
// that take about a tenth of a second each, so that it hears of the copy several times a second
// on fast and slow media alike; otherwise in pieces of a gigabyte.
CopyProgressFn copyProgress = nullptr;
constexpr uint64_t KERNEL_PIECE = 1u << 30;
constexpr uint64_t FIRST_PROGRESS_PIECE = 4u << 20;
constexpr uint64_t LEAST_PROGRESS_PIECE = 1u << 20;
constexpr uint64_t MOST_PROGRESS_PIECE = 256u << 20;

// Milliseconds on a steady clock.
int64_t steadyMilliseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The next piece for a progress receiver: doubled after a piece quicker than 50 ms, halved
// after one slower than 200 ms.
uint64_t nextPiece(uint64_t piece, int64_t tookMs) {
  if (tookMs < 50 && piece < MOST_PROGRESS_PIECE)
    return piece * 2;
  if (tookMs > 200 && piece > LEAST_PROGRESS_PIECE)
    return piece / 2;
  return piece;
}

// Whether new files start anonymous (O_TMPFILE) where the file system allows it; tests turn it
// off to exercise the named temporary files of other file systems.
bool anonymousTemps = true;

// The counter that, with the process number, makes temporary names unique.
unsigned tempCounter = 0;

// The process's file-creation mask, read once.
mode_t creationMask() {
  static mode_t mask = [] {
    mode_t m = umask(022);
    umask(m);
    return m;
  }();
  return mask;
}

// Writes all of `length` bytes; 0 or errno.
int writeAll(int fd, const unsigned char *data, size_t length) {
  while (length > 0) {
    ssize_t put = write(fd, data, length);
    if (put < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    if (put == 0)
      return ENOSPC;
    data += put;
    length -= static_cast<size_t>(put);
  }
  return 0;
}

// A clone takes the whole source as it is at that moment, which may differ from the `size` read
// when it was opened: a source that grew is cut back to that size, as a copy by reads would
// take it; one that shrank fails with SOURCE_ENDED, never a shortened copy. 0 or the error.
int settleClone(int out, uint64_t size) {
  struct stat st;
  if (fstat(out, &st) != 0)
    return errno;
  if (static_cast<uint64_t>(st.st_size) < size)
    return SOURCE_ENDED;
  if (static_cast<uint64_t>(st.st_size) > size && ftruncate(out, static_cast<off_t>(size)) != 0)
    return errno;
  if (copyProgress != nullptr)
    copyProgress(size, size);
  return 0;
}

// One data copy under way: the two descriptors, the size read at the start (0: read to the
// end), the source's device, and how far it has come (`at`, the offset both positions are at).
struct DataCopy {
  int in, out;
  uint64_t size;
  uint64_t device;
  bool toEnd;
  uint64_t at;
  bool kernel;        // the kernel's copy may still be asked
  bool kernelStarted; // it has copied something
  uint64_t piece;     // its next piece
  int64_t pieceStart; // when the last piece began (with a progress receiver)
};

// Copies the source from `copy.at` up to `end` (with `copy.toEnd`, up to its end) into `out`,
// both positions at `copy.at`: by the kernel's copy while it copies, then by reads and writes
// from where it stopped (the test seams apply to these). A source that ends before `end` fails
// with SOURCE_ENDED. 0, errno or SOURCE_ENDED.
int copyStretch(DataCopy &copy, uint64_t end) {
  while (copy.kernel && copy.at < end) {
    size_t ask = static_cast<size_t>(std::min<uint64_t>(end - copy.at, copy.piece));
    long n = sysCopyRange(copy.in, copy.out, ask, copy.device, !copy.kernelStarted);
    if (n < 0)
      return errno;
    // The end of the file, or data the kernel does not copy here: the reads below go on from
    // here and tell which.
    if (n == 0) {
      copy.kernel = false;
      break;
    }
    copy.kernelStarted = true;
    copy.at += static_cast<uint64_t>(n);
    if (copyProgress != nullptr) {
      copyProgress(copy.at, copy.size);
      int64_t now = steadyMilliseconds();
      copy.piece = nextPiece(copy.piece, now - copy.pieceStart);
      copy.pieceStart = now;
    }
  }
  while (copy.toEnd || copy.at < end) {
    size_t ask = copy.toEnd ? COPY_CHUNK
                            : static_cast<size_t>(std::min<uint64_t>(end - copy.at, COPY_CHUNK));
    ssize_t got = read(copy.in, copyBuffer, ask);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    if (got == 0)
      return copy.toEnd ? 0 : SOURCE_ENDED;
    uint64_t copied = copy.at;
    if (faultBytes >= 0 &&
        copied + static_cast<uint64_t>(got) > static_cast<uint64_t>(faultBytes)) {
      // (none of this piece where the fault lies in a hole skipped before it)
      int64_t before = std::max<int64_t>(0, faultBytes - static_cast<int64_t>(copied));
      int err = writeAll(copy.out, copyBuffer, static_cast<size_t>(before));
      if (err != 0)
        return err;
      return faultErrno != 0 ? faultErrno : SOURCE_ENDED;
    }
    size_t stored = static_cast<size_t>(got);
    if (dropAfter >= 0)
      stored = copied >= static_cast<uint64_t>(dropAfter)
                   ? 0
                   : static_cast<size_t>(
                         std::min<uint64_t>(stored, static_cast<uint64_t>(dropAfter) - copied));
    int err = writeAll(copy.out, copyBuffer, stored);
    if (err != 0)
      return err;
    copy.at += static_cast<uint64_t>(got);
    if (copyProgress != nullptr)
      copyProgress(copy.at, copy.toEnd ? copy.at : copy.size);
  }
  return 0;
}

// What copyExtents gives where the system cannot tell the source's holes: the copy goes on from
// `copy.at` as for a file without holes. Never an errno value.
constexpr int HOLES_UNKNOWN = -1;

#if defined(SEEK_DATA) && defined(SEEK_HOLE)
// Copies only the data of a source with holes, the holes left as holes in `out` (where its file
// system keeps them; elsewhere it fills them with zeros itself): each stretch of data that
// SEEK_DATA and SEEK_HOLE find before the size read at the start is copied to the same offset,
// and the new file is then given that size. A source that now ends before that size fails with
// SOURCE_ENDED, as a copy by reads would. 0, errno, SOURCE_ENDED or HOLES_UNKNOWN.
int copyExtents(DataCopy &copy) {
  uint64_t written = 0; // where the new file ends
  while (copy.at < copy.size) {
    off_t data = lseek(copy.in, static_cast<off_t>(copy.at), SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO)
        break; // nothing but a hole from here, or the source ended: told below
      if (errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS)
        return HOLES_UNKNOWN; // both positions are still at copy.at
      return errno;
    }
    if (static_cast<uint64_t>(data) >= copy.size)
      break;
    off_t hole = lseek(copy.in, data, SEEK_HOLE);
    if (hole < 0)
      return errno == ENXIO ? SOURCE_ENDED : errno; // it ended before data it had
    if (lseek(copy.in, data, SEEK_SET) < 0 ||
        (static_cast<uint64_t>(data) != written && lseek(copy.out, data, SEEK_SET) < 0))
      return errno;
    copy.at = static_cast<uint64_t>(data);
    int err = copyStretch(copy, std::min<uint64_t>(static_cast<uint64_t>(hole), copy.size));
    if (err != 0)
      return err;
    written = copy.at;
  }
  if (written < copy.size) {
    // The source ends in a hole: it must still reach the size read at the start.
    struct stat st;
    if (fstat(copy.in, &st) != 0)
      return errno;
    if (static_cast<uint64_t>(st.st_size) < copy.size)
      return SOURCE_ENDED;
    if (ftruncate(copy.out, static_cast<off_t>(copy.size)) != 0)
      return errno;
    copy.at = copy.size;
    if (copyProgress != nullptr)
      copyProgress(copy.size, copy.size);
  }
  return 0;
}
#endif

// Copies the data of `in` (`size` bytes when it was examined, on device `device`) into the
// empty file `out`: a clone where the file system shares blocks, else copy_file_range, else
// reads and writes; a source with holes (`sparse`, a hint) has only its data copied where the
// system can tell its holes, and its copy keeps them. The size seen at the start is what is
// copied (as Windows does): a source that grew meanwhile gives no more, one that ends sooner
// fails with SOURCE_ENDED, never a shortened copy. A file whose status says 0 bytes is read to
// its end: files of /proc and /sys say so and yet hold data. 0, errno or SOURCE_ENDED.
int copyData(int in, int out, uint64_t size, uint64_t device, bool sparse) {
  DataCopy copy{};
  copy.in = in;
  copy.out = out;
  copy.size = size;
  copy.device = device;
  copy.toEnd = size == 0;
  copy.kernel = faultBytes < 0 && dropAfter < 0 && !copy.toEnd;
  copy.piece = copyProgress != nullptr ? FIRST_PROGRESS_PIECE : KERNEL_PIECE;
  copy.pieceStart = copyProgress != nullptr ? steadyMilliseconds() : 0;
  // A small file takes a single call.
  if (copy.kernel && sysCloneFile(in, out, device))
    return settleClone(out, size);
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
  if (sparse && !copy.toEnd) {
    int err = copyExtents(copy);
    if (err != HOLES_UNKNOWN)
      return err;
  }
#else
  (void)sparse;
#endif
  return copyStretch(copy, size);
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

// The directory whose leftovers were last removed (its system path with the final `/`), so
// that a run looks once per directory, not once per file.
char cleanedDirectory[SYS_PATH] = {};

// The bytes a hidden temporary name takes beside its directory: ".tc", the process number and
// a counter in at most 8 hex digits each, "-", ".tmp" and the final NUL.
constexpr size_t TEMP_NAME_BYTES = 3 + 8 + 1 + 8 + 4 + 1;

// The hidden name of the copy being written, for the signal handler below: a copy ended by
// SIGINT, SIGTERM or SIGHUP removes it, and the process then ends as the signal says. SIGKILL
// leaves it to the leftover check of a later run.
char signalTempName[SYS_PATH];
volatile sig_atomic_t signalTempSet = 0;

extern "C" void removeTempOnSignal(int sig) {
  if (signalTempSet != 0) {
    std::atomic_signal_fence(std::memory_order_acquire); // the name is read after the flag
    unlink(signalTempName);
  }
  signal(sig, SIG_DFL);
  raise(sig); // delivered once the handler returns
}

// Notes `name` as the temporary file to remove when a signal ends the process; the handlers are
// installed the first time, for the signals whose action is the default (an ignored signal
// stays ignored).
void noteTempName(const char *name) {
  static bool installed = false;
  if (!installed) {
    installed = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old;
      if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
        struct sigaction action = {};
        action.sa_handler = removeTempOnSignal;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
      }
    }
  }
  signalTempSet = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  strcpy(signalTempName, name);
  std::atomic_signal_fence(std::memory_order_release); // the name is whole before the flag
  signalTempSet = 1;
}

// Puts whatever `make` creates under a new hidden temporary name beside `dst`, the name left in
// `name`; fresh names are tried while `make` finds one taken (EEXIST). The first time in a
// directory, leftovers of killed copies there are removed first. The name is noted for the
// signal handler before it is made, so that no moment leaves it unknown; a name that turns out
// taken can only be a leftover of a process that had this number before (names carry it), which
// the handler may remove. 0 or errno.
template <typename Make> int makeUnderTempName(const char *dst, char *name, Make make) {
  size_t dirLength = directoryLength(dst);
  if (dirLength + TEMP_NAME_BYTES > SYS_PATH)
    return ENAMETOOLONG;
  if (strncmp(cleanedDirectory, dst, dirLength) != 0 || cleanedDirectory[dirLength] != '\0') {
    char dir[SYS_PATH];
    directoryOf(dst, dir);
    removeLeftoverTemps(dir);
    memcpy(cleanedDirectory, dst, dirLength);
    cleanedDirectory[dirLength] = '\0';
  }
  memcpy(name, dst, dirLength);
  // Asked every time (only a copy that needs a name gets here): a name always carries the
  // number of the process that writes it, the one its leftover check looks at.
  unsigned processId = static_cast<unsigned>(getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    snprintf(name + dirLength, TEMP_NAME_BYTES, ".tc%x-%x.tmp", processId, tempCounter++);
    noteTempName(name);
    int err = make(name);
    if (err != 0)
      signalTempSet = 0;
    if (err != EEXIST)
      return err;
  }
  return EEXIST;
}

// Creates a new temporary file beside `dst`, locked (see removeLeftoverTemps): its name goes
// to `temp`, the descriptor is returned (-1 with errno).
int createTemp(const char *dst, mode_t mode, char *temp) {
  int fd = -1;
  int err = makeUnderTempName(dst, temp, [&](const char *name) {
    fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    return fd >= 0 ? 0 : errno;
  });
  if (err != 0) {
    errno = err;
    return -1;
  }
  (void)flock(fd, LOCK_EX | LOCK_NB);
  return fd;
}

int renameNoReplace(const char *from, const char *to);

// A new file being written beside its destination: anonymous (O_TMPFILE) where the file system
// allows it, so that nothing is left behind even when the process is killed, else under a hidden
// temporary name. The descriptor stays open until the file is published or discarded; while the
// file has a name, `guard` (a duplicate kept after the descriptor is closed) holds its lock.
struct TempFile {
  int fd = -1;
  int guard = -1;
  char name[SYS_PATH] = {}; // empty while the file is anonymous
};

// Opens a new file for the copy to `dst`, in the directory of `dst`. 0 or errno.
int openTemp(const char *dst, mode_t mode, TempFile &temp) {
  char dir[SYS_PATH];
  directoryOf(dst, dir);
  temp.name[0] = '\0';
  if (anonymousTemps) {
    temp.fd = sysOpenAnonymous(dir, mode);
    if (temp.fd >= 0)
      return 0;
    if (errno != EOPNOTSUPP)
      return errno;
  }
  temp.fd = createTemp(dst, mode, temp.name);
  return temp.fd >= 0 ? 0 : errno;
}

// Closes the new file's descriptor, reporting a late write error (0 or errno). A named file
// keeps its lock on a duplicate until its name is gone (releaseName).
int closeTemp(TempFile &temp) {
  int fd = temp.fd;
  temp.fd = -1;
  if (fd < 0)
    return 0;
  if (temp.name[0] != '\0' && temp.guard < 0)
    temp.guard = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  return close(fd) != 0 ? errno : 0;
}

// The temporary name is gone (renamed or removed): its lock goes too.
void releaseName(TempFile &temp) {
  signalTempSet = 0;
  temp.name[0] = '\0';
  if (temp.guard >= 0)
    close(temp.guard);
  temp.guard = -1;
}

// Drops the new file: nothing of it is left.
void discardTemp(TempFile &temp) {
  closeTemp(temp);
  if (temp.name[0] != '\0')
    unlink(temp.name);
  releaseName(temp);
}

// Publishes the complete new file as `dst` unless `dst` exists (EEXIST; the file is kept for
// a replacement). 0 or errno; on success the file is `dst` and the descriptor is closed.
int publishTemp(TempFile &temp, const char *dst) {
  if (temp.name[0] == '\0') {
    int err = sysLinkAnonymous(temp.fd, dst);
    if (err != 0)
      return err;
    err = closeTemp(temp);
    if (err != 0)
      unlink(dst); // a late write error: the copy is not whole
    return err;
  }
  int err = closeTemp(temp);
  if (err != 0)
    return err;
  if (publishHook != nullptr)
    publishHook(publishHookContext);
  err = renameNoReplace(temp.name, dst);
  if (err == 0)
    releaseName(temp);
  return err;
}

// Gives the anonymous new file a hidden name beside `dst`, locked first. 0 or errno.
int nameAnonymousTemp(TempFile &temp, const char *dst) {
  (void)flock(temp.fd, LOCK_EX | LOCK_NB);
  char name[SYS_PATH];
  int err = makeUnderTempName(
      dst, name, [&](const char *candidate) { return sysLinkAnonymous(temp.fd, candidate); });
  if (err == 0)
    strcpy(temp.name, name);
  return err;
}

// Replaces the existing `dst` by the complete new file in one rename: the old destination
// stays whole until then. 0 or errno.
int replaceWithTemp(TempFile &temp, const char *dst) {
  // A rename needs a name: an anonymous file gets a hidden one.
  if (temp.name[0] == '\0') {
    int err = nameAnonymousTemp(temp, dst);
    if (err != 0)
      return err;
  }
  int err = closeTemp(temp);
  if (err != 0)
    return err;
  if (publishHook != nullptr)
    publishHook(publishHookContext);
  if (rename(temp.name, dst) != 0)
    return errno;
  releaseName(temp);
  return 0;
}

// Runs the copy check (setCopyCheck) on the complete new file of the copy to `dst`, read through
// a descriptor opened afresh: by its hidden name, or, for an anonymous file, by its name in
// /proc (else by a hidden name given to it now), so that it reads what the file system holds.
// 0 when no check is set or it passes, else the Win32 error to fail the copy with.
DWORD checkTemp(TempFile &temp, const char *dst) {
  if (copyCheck == nullptr)
    return 0;
  char path[SYS_PATH];
  if (temp.name[0] == '\0' && !sysDescriptorPath(temp.fd, path)) {
    int err = nameAnonymousTemp(temp, dst);
    if (err != 0)
      return win32ErrorFromErrno(err);
  }
  if (temp.name[0] != '\0')
    strcpy(path, temp.name);
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0)
    return win32ErrorFromErrno(errno);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    DWORD code = win32ErrorFromErrno(errno);
    close(fd);
    return code;
  }
  bool passed = copyCheck(copyCheckContext, fd, static_cast<int64_t>(st.st_size));
  DWORD code = passed ? 0 : GetLastError();
  close(fd);
  if (!passed && code == 0)
    code = ERROR_GEN_FAILURE;
  return code;
}

// Copies the open source into a complete new file beside `dst`, carrying the permission bits,
// the stored DOS attributes (with archive set, as a new copy has it) and the last-access and
// last-write times. With `flush` the data reach the disk first. On failure nothing is left
// behind. 0 or errno; on success `temp` is open and ready to be published.
int copyToTemp(int in, const struct stat &source, int32_t stored, const char *dst,
               const FileFacts *oldDst, bool flush, TempFile &temp) {
  // Set-user-id and set-group-id bits are never carried: the copy belongs to whoever copies.
  mode_t mode = source.st_mode & 0777;
  // The new file starts writable by its owner: an ordinary user may store the attributes only on
  // a file with write permission, whatever the descriptor allows. Its own bits come last.
  int err = openTemp(dst, mode | S_IWUSR, temp);
  if (err != 0)
    return err;
  int out = temp.fd;
  // Fewer blocks than the size needs: the usual sign of holes (a file without any never pays
  // for looking for them).
  bool sparse =
      static_cast<uint64_t>(source.st_blocks) * 512 < static_cast<uint64_t>(source.st_size);
  err = copyData(in, out, static_cast<uint64_t>(source.st_size),
                 static_cast<uint64_t>(source.st_dev), sparse);
  if (err == 0 && oldDst != nullptr && (oldDst->uid != geteuid() || oldDst->gid != getegid()))
    (void)!fchown(out, oldDst->uid, oldDst->gid); // keep the replaced file's owner where allowed
  if (err == 0 && stored >= 0)
    err = writeStoredAttributes(
        out, nullptr,
        (static_cast<uint32_t>(stored) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) |
            FILE_ATTRIBUTE_ARCHIVE);
  if (err == 0 && ((mode | S_IWUSR) & ~creationMask()) != mode && fchmod(out, mode) != 0)
    err = errno;
  if (err == 0) {
    struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (futimens(out, times) != 0)
      err = errno;
  }
  if (err == 0 && flush)
    err = flushDescriptor(out);
  if (err != 0)
    discardTemp(temp);
  return err;
}

// Flushes the directory holding `sys`, so that a new name in it survives a crash; 0 or errno.
int flushDirectoryOf(const char *sys) {
  char dir[SYS_PATH];
  directoryOf(sys, dir);
  int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return errno;
  int err = flushDescriptor(fd);
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

// Whether the system path `src` is still the file a copy read, its status then `read`: 0 when
// it is, 32 when it is another file or has changed since, else the error of the look at it.
DWORD sourceChangedSince(const char *src, const struct stat &read) {
  struct stat now;
  if (stat(src, &now) != 0) {
    int err = errno;
    return err == ENOENT ? missingEntryError(src) : win32ErrorFromErrno(err);
  }
  return stampOf(now) == stampOf(read) ? 0 : ERROR_SHARING_VIOLATION;
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

// A move of one file to another file system: copied and flushed, then the source removed. A
// symbolic link is moved as itself.
BOOL moveAcrossDevices(const char *src, const char *dst) {
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
  int in = openSource(src, &st);
  if (in < 0)
    return FALSE;
  TempFile temp;
  int err = copyToTemp(in, st, storedOfFd(in), dst, nullptr, true, temp);
  close(in);
  // A copy its check refuses is dropped: the source stays.
  DWORD code = err == 0 ? checkTemp(temp, dst) : 0;
  if (code != 0) {
    discardTemp(temp);
    SetLastError(code);
    return FALSE;
  }
  if (err == 0)
    err = publishTemp(temp, dst);
  discardTemp(temp);
  if (err == 0) {
    // The source goes only once the copy and its name are on the disk; a failed flush is a
    // failed move.
    err = flushDirectoryOf(dst);
    if (err != 0)
      unlink(dst); // the source stays whole; the move did not happen
  }
  if (err != 0) {
    setCopyError(err, dst);
    return FALSE;
  }
  // Only the very file that was copied, unchanged, is removed: one written to meanwhile (a log
  // still growing) or replaced by another keeps its name and data, and the copy of what was
  // read stays too.
  code = sourceChangedSince(src, st);
  if (code != 0) {
    SetLastError(code);
    return FALSE;
  }
  if (unlink(src) == 0)
    return TRUE;
  err = errno;
  // A remove may have been done though it answered an error (a share that lost its reply, or
  // a remove asked again that finds nothing): a source that is gone is moved. The copy is taken
  // back only while the source is there, whole and unchanged.
  struct stat now;
  if (stat(src, &now) != 0 && errno == ENOENT)
    return TRUE;
  if (sourceChangedSince(src, st) == 0)
    unlink(dst);
  setCopyError(err, src);
  return FALSE;
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

// Stores ticks into a FILETIME (a time before 1601 becomes 0).
void putTicks(FILETIME *time, int64_t ticks) {
  uint64_t value = ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
  time->dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
  time->dwHighDateTime = static_cast<DWORD>(value >> 32);
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

void setCopyProgress(CopyProgressFn receiver) {
  copyProgress = receiver;
}

void setCopyCheck(CopyCheckFn check, void *context) {
  copyCheck = check;
  copyCheckContext = context;
}

// The seam for tests of a write that is accepted and never stored.
void setCopyDropForTest(int64_t keep) {
  dropAfter = keep;
}

// The seam for tests of the named temporary files.
void setAnonymousTempsForTest(bool on) {
  anonymousTemps = on;
}

// The seam for tests of a failing copy.
void setCopyFaultForTest(int64_t bytes, int err) {
  faultBytes = bytes;
  faultErrno = err;
}

// The seam for tests of a failing flush.
void setFlushFaultForTest(int at, int err) {
  flushFaultAt = at;
  flushFaultErrno = err;
  flushCount = 0;
}

// The seam for tests of what happens while a copy runs.
void setCopyHookForTest(void (*hook)(void *), void *context) {
  copyHook = hook;
  copyHookContext = context;
}

// The seam for tests of a copy that stops between naming its data and the final rename.
void setPublishHookForTest(void (*hook)(void *), void *context) {
  publishHook = hook;
  publishHookContext = context;
}

namespace {

// A destination is examined before the data are copied only for a large source. A new
// destination, the common case, then costs no stat: the final
// rename refuses to replace anything, and only when a file is in the way is it examined, after
// the copy, for the refusals below. For a small file a refusal found that late wastes little.
constexpr off_t EARLY_CHECK_BYTES = 1 << 20;

// Why an existing destination may not be replaced by a copy of the source: 32 for the source
// itself, 5 for a directory or a read-only destination, or one hidden or system while the source
// is not (the Windows rule), or one the user has no write permission for; 0 when it may. A symbolic
// link in the way is judged as itself: the copy replaces the link, never its target, so the
// target's read-only, hidden and system bits do not count; only the link's own name can make it
// hidden.
DWORD replacementRefusal(const FileFacts &old, const struct stat &st, const char *src,
                         int32_t stored, const char *dst) {
  if (old.dangling)
    return 0;
  if (old.dev == static_cast<uint64_t>(st.st_dev) && old.ino == static_cast<uint64_t>(st.st_ino))
    return ERROR_SHARING_VIOLATION;
  DWORD attributes = old.attributes;
  if (old.isLink)
    attributes = lastComponent(dst)[0] == '.' ? FILE_ATTRIBUTE_HIDDEN : 0;
  bool sourceHidden =
      lastComponent(src)[0] == '.' || (stored >= 0 && (stored & FILE_ATTRIBUTE_HIDDEN) != 0);
  bool sourceSystem = stored >= 0 && (stored & FILE_ATTRIBUTE_SYSTEM) != 0;
  if (old.isDir || (attributes & FILE_ATTRIBUTE_READONLY) != 0 ||
      ((attributes & FILE_ATTRIBUTE_HIDDEN) != 0 && !sourceHidden) ||
      ((attributes & FILE_ATTRIBUTE_SYSTEM) != 0 && !sourceSystem))
    return ERROR_ACCESS_DENIED;
  // Nor a file that the user may not write, someone else's in a directory the user may write:
  // Windows refuses to write it, and the rename would take it from its owner.
  if (!old.isLink && faccessat(AT_FDCWD, dst, W_OK, AT_EACCESS) != 0 && errno == EACCES)
    return ERROR_ACCESS_DENIED;
  return 0;
}

// The copy of CopyFileA and copyFileDurably: the data go into a temporary file beside the
// destination, which replaces the destination only when complete; the old destination stays
// whole until then. The size copied and the times carried come from one fstat of the open
// source, whatever way the data go (a clone too is held to that size). With `durable` the data are
// flushed before the copy is published and the directory after it. A copy check, where one is
// set, reads the complete temporary file before it is published and may refuse it.
BOOL copyFile(const char *source, const char *destination, bool failIfExists, bool durable,
              CopyRecord *record) {
  char src[SYS_PATH], dst[SYS_PATH];
  if (!toSystemPath(source, src) || !toSystemPath(destination, dst))
    return FALSE;
  struct stat st;
  int in = openSource(src, &st);
  if (in < 0)
    return FALSE;
  DWORD code = 0;
  int err = 0;
  FileFacts old;
  bool examined = false; // `old` describes the destination found before the copy
  // The stored attributes the listing read a moment ago, where the file is unchanged since.
  int32_t stored;
  if (!listedStoredAttributes(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                              SysTime{static_cast<int64_t>(st.st_ctim.tv_sec),
                                      static_cast<uint32_t>(st.st_ctim.tv_nsec)},
                              &stored))
    stored = storedOfFd(in);
  TempFile temp;
  // A new destination, asked for with failIfExists, is refused by the publishing step itself.
  if (st.st_size > EARLY_CHECK_BYTES) {
    err = statFacts(AT_FDCWD, dst, dst, lastComponent(dst), &old);
    if (err == 0) {
      code = failIfExists ? ERROR_FILE_EXISTS : replacementRefusal(old, st, src, stored, dst);
      if (code != 0)
        goto done;
      examined = !old.dangling && !old.isLink; // a link's facts are its target's
    } else if (err != ENOENT) {
      goto done;
    }
    err = 0;
  }
  if (copyHook != nullptr)
    copyHook(copyHookContext);
  err = copyToTemp(in, st, stored, dst, examined ? &old : nullptr, durable, temp);
  if (err != 0)
    goto done;
  if (record != nullptr) {
    // What was read is what the open source said before the copy; the new file keeps its
    // identity through the rename that publishes it.
    struct stat made;
    if (fstat(temp.fd, &made) != 0) {
      err = errno;
      goto done;
    }
    record->source = stampOf(st);
    record->copy = stampOf(made).identity;
  }
  code = checkTemp(temp, dst);
  if (code != 0)
    goto done;
  err = publishTemp(temp, dst);
  if (err == EEXIST) {
    // A file is in the way: replace it only where Windows would.
    err = statFacts(AT_FDCWD, dst, dst, lastComponent(dst), &old);
    if (err == ENOENT) {
      err = publishTemp(temp, dst); // it went away meanwhile
    } else if (err == 0) {
      code = failIfExists ? ERROR_FILE_EXISTS : replacementRefusal(old, st, src, stored, dst);
      if (code == 0) {
        if (!examined && !old.dangling && !old.isLink &&
            (old.uid != geteuid() || old.gid != getegid())) {
          // keep the replaced file's owner where allowed
          if (temp.fd >= 0)
            (void)!fchown(temp.fd, old.uid, old.gid);
          else
            (void)!lchown(temp.name, old.uid, old.gid);
        }
        err = replaceWithTemp(temp, dst);
      }
    }
  }
  if (err == 0 && code == 0 && durable)
    err = flushDirectoryOf(dst);
done:
  discardTemp(temp); // nothing left once published
  close(in);
  if (code != 0) {
    SetLastError(code);
    return FALSE;
  }
  if (err != 0) {
    setCopyError(err, dst);
    return FALSE;
  }
  return TRUE;
}

} // namespace

// CopyFileA: see copyFile; with failIfExists an existing destination (one that appeared
// meanwhile too) is refused with 80 and left as it is.
BOOL CopyFileA(const char *source, const char *destination, BOOL failIfExists) {
  return copyFile(source, destination, failIfExists != FALSE, false, nullptr);
}

// The layer's copy is CopyFileA itself: it publishes atomically already.
BOOL fsCopyFile(const char *source, const char *destination, BOOL failIfExists,
                CopyRecord *record) {
  return copyFile(source, destination, failIfExists != FALSE, false, record);
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
  FileFacts old;
  err = statFacts(AT_FDCWD, dst, dst, lastComponent(dst), &old);
  if (err == 0) {
    DWORD code = replacementRefusal(old, target, src, -1, dst);
    if (code != 0) {
      SetLastError(code);
      return false;
    }
  } else if (err != ENOENT) {
    setLastErrorFromErrno(err, dst);
    return false;
  }
  struct stat link;
  if (lstat(src, &link) != 0) {
    setLastErrorFromErrno(errno, src);
    return false;
  }
  TempFile temp;
  err = makeUnderTempName(dst, temp.name, [&](const char *candidate) {
    return symlink(text, candidate) == 0 ? 0 : errno;
  });
  if (err == 0) {
    if (rename(temp.name, dst) != 0)
      err = errno;
    else
      releaseName(temp);
  } else {
    temp.name[0] = '\0';
  }
  discardTemp(temp);
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
    record->source = stampOf(link);
    record->copy = stampOf(made).identity;
  }
  return true;
}

} // namespace

// The copy of a move: flushed, data and name, before it returns true. A symbolic link is
// copied as itself, since a move moves a link, never what it leads to.
bool copyFileDurably(const char *source, const char *destination, CopyRecord *record) {
  char src[SYS_PATH], dst[SYS_PATH];
  struct stat st;
  if (toSystemPath(source, src) && toSystemPath(destination, dst) && lstat(src, &st) == 0 &&
      S_ISLNK(st.st_mode))
    return copyLinkDurably(src, dst, record);
  return copyFile(source, destination, false, true, record) != FALSE;
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

// MoveFileA flushes a move across file systems itself.
bool moveFileDurably(const char *source, const char *destination) {
  return MoveFileA(source, destination) != FALSE;
}

// MoveFileA: renames without ever replacing an existing destination (183); across file
// systems a file is copied, flushed and only then removed, a directory refused (17).
BOOL MoveFileA(const char *source, const char *destination) {
  char src[SYS_PATH], dst[SYS_PATH];
  if (!toSystemPath(source, src) || !toSystemPath(destination, dst))
    return FALSE;
  int err = renameNoReplace(src, dst);
  if (err == 0)
    return TRUE;
  if (err == EXDEV)
    return moveAcrossDevices(src, dst);
  if (err == ENOENT) {
    struct stat st;
    if (lstat(src, &st) != 0)
      setLastErrorFromErrno(ENOENT, src);
    else
      SetLastError(ERROR_PATH_NOT_FOUND); // the destination's directory is missing
    return FALSE;
  }
  setLastErrorFromErrno(err, dst);
  return FALSE;
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
