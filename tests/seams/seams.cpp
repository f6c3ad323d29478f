// The fault seams of the file layer (seams.h): wrappers installed in the layer's table of narrow
// operations the first time a seam is set, each doing what its plan says and otherwise passing
// the call on to the operation it replaced.
#include "seams/seams.h"

#include <algorithm>
#include <cerrno>

#include "paths/fileops.h"
#include "paths/files.h"
#include "paths/runtime.h"
#include "paths/winapi.h"
#if !defined(_WIN32)
#include "paths/posix_sys.h"
#endif

namespace {

FileOps real;
bool installed = false;

// The data copy's fault: after faultBytes bytes, faultErrno (0: the source ends there).
int64_t faultBytes = -1;
int faultErrno = 0;
// The dropped write: only the first dropAfter bytes are stored.
int64_t dropAfter = -1;
// The flush numbered flushFaultAt (counted since the seam was set) fails with flushFaultErrno.
int flushFaultAt = -1;
int flushFaultErrno = 0;
int flushCount = 0;
void (*copyHook)(void *) = nullptr;
void *copyHookContext = nullptr;
void (*publishHook)(void *) = nullptr;
void *publishHookContext = nullptr;
bool anonymousTemps = true;

// The read fault: off while readFaultFile is -1.
int readFaultFile = -1;
int64_t readFaultOffset = 0;
DWORD readFaultError = 0;
// The descriptors fsReadExact and fsReadFull have read from since the fault was set, in order.
constexpr int FAULT_FILES = 4;
int faultSeen[FAULT_FILES];
int faultSeenCount = 0;

long faultyRead(FileRef in, void *buffer, size_t count, OpError *err) {
  if (faultBytes >= 0) {
    int64_t at = real.position(in);
    if (at >= faultBytes) {
      *err = faultErrno != 0 ? faultErrno : SOURCE_ENDED;
      return -1;
    }
    if (at >= 0 && at + static_cast<int64_t>(count) > faultBytes)
      count = static_cast<size_t>(faultBytes - at); // the bytes before the place
  }
  return real.read(in, buffer, count, err);
}

long droppingWrite(FileRef out, const void *data, size_t count, OpError *err) {
  if (dropAfter < 0)
    return real.write(out, data, count, err);
  int64_t at = real.position(out);
  size_t stored =
      at >= dropAfter
          ? 0
          : static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), dropAfter - at));
  if (stored > 0) {
    long put = real.write(out, data, stored, err);
    if (put < 0 || static_cast<size_t>(put) < stored)
      return put;
  }
  return static_cast<long>(count); // every byte counts as written
}

// While a fault or a drop is planned, data go by reads and writes only.
long plainCopyRange(FileRef in, FileRef out, size_t ask, uint64_t device, bool first,
                    OpError *err) {
  if (faultBytes >= 0 || dropAfter >= 0)
    return 0;
  return real.copyRange(in, out, ask, device, first, err);
}

bool plainClone(FileRef in, FileRef out, uint64_t device) {
  if (faultBytes >= 0 || dropAfter >= 0)
    return false;
  return real.clone(in, out, device);
}

OpError faultyFlush(FileRef file) {
  if (flushFaultErrno != 0 && flushCount++ == flushFaultAt)
    return flushFaultErrno;
  return real.flush(file);
}

OpError hookedMakeTemp(PreparedCopy *copy, const CopySource &source) {
  if (copyHook != nullptr)
    copyHook(copyHookContext);
  return real.makeTemp(copy, source);
}

FileRef choosyOpenAnonymous(const char *dir, uint32_t mode, OpError *err) {
  if (!anonymousTemps) {
    *err = EOPNOTSUPP;
    return NO_FILE;
  }
  return real.openAnonymous(dir, mode, err);
}

OpError hookedRenameTemp(const char *from, const char *to, bool replace, bool durable) {
  if (publishHook != nullptr)
    publishHook(publishHookContext);
  return real.renameTemp(from, to, replace, durable);
}

// fsRead, or the planned fault when `fd` is the file it is planned for and the read covers its
// place: the bytes before the place are read as usual, the read that starts there fails.
int faultyProgramRead(int fd, void *buffer, unsigned count) {
  if (readFaultFile < 0)
    return real.programRead(fd, buffer, count);
  int index = 0;
  while (index < faultSeenCount && faultSeen[index] != fd)
    ++index;
  if (index == faultSeenCount && faultSeenCount < FAULT_FILES)
    faultSeen[faultSeenCount++] = fd;
  if (index != readFaultFile)
    return real.programRead(fd, buffer, count);
  int64_t at = fsSeek(fd, 0, FS_SEEK_CUR);
  if (at < 0)
    return -1;
  if (at > readFaultOffset || at + static_cast<int64_t>(count) <= readFaultOffset)
    return real.programRead(fd, buffer, count);
  if (at < readFaultOffset)
    return real.programRead(fd, buffer, static_cast<unsigned>(readFaultOffset - at));
  if (readFaultError == 0)
    return 0;
  SetLastError(readFaultError);
  return -1;
}

void install() {
  if (installed)
    return;
  installed = true;
  real = fileOps;
  fileOps.read = faultyRead;
  fileOps.write = droppingWrite;
  fileOps.copyRange = plainCopyRange;
  fileOps.clone = plainClone;
  fileOps.flush = faultyFlush;
  fileOps.makeTemp = hookedMakeTemp;
  fileOps.openAnonymous = choosyOpenAnonymous;
  fileOps.renameTemp = hookedRenameTemp;
  fileOps.programRead = faultyProgramRead;
}

} // namespace

void setCopyDropForTest(int64_t keep) {
  install();
  dropAfter = keep;
}

void setReadFaultForTest(int file, int64_t offset, DWORD error) {
  install();
  readFaultFile = file;
  readFaultOffset = offset;
  readFaultError = error;
  faultSeenCount = 0;
}

void setAnonymousTempsForTest(bool on) {
  install();
  anonymousTemps = on;
}

void setCopyFaultForTest(int64_t bytes, int err) {
  install();
  faultBytes = bytes;
  faultErrno = err;
}

void setPublishHookForTest(void (*hook)(void *), void *context) {
  install();
  publishHook = hook;
  publishHookContext = context;
}

void setFlushFaultForTest(int at, int err) {
  install();
  flushFaultAt = at;
  flushFaultErrno = err;
  flushCount = 0;
}

void setCopyHookForTest(void (*hook)(void *), void *context) {
  install();
  copyHook = hook;
  copyHookContext = context;
}

#if !defined(_WIN32)
void sysForgetCopyRefusalsForTest() {
  sysNoCloneDevice = -1;
  sysNoRangeDevice = -1;
}
#endif
