// Whole reads and writes over the runtime-library file calls of either backend, and the read
// fault seam of the tests.
#include "paths/paths.h"

namespace {

// The read fault (setReadFaultForTest): off while faultFile is -1.
int faultFile = -1;
int64_t faultOffset = 0;
DWORD faultError = 0;
// The descriptors fsReadExact has read from since the fault was set, in order.
constexpr int FAULT_FILES = 4;
int faultSeen[FAULT_FILES];
int faultSeenCount = 0;

// fsRead, or the planned fault when `fd` is the file it is planned for and the read covers its
// place: the bytes before the place are read as usual, the read that starts there fails.
int readOrFault(int fd, void *buffer, unsigned count) {
  if (faultFile < 0)
    return fsRead(fd, buffer, count);
  int index = 0;
  while (index < faultSeenCount && faultSeen[index] != fd)
    ++index;
  if (index == faultSeenCount && faultSeenCount < FAULT_FILES)
    faultSeen[faultSeenCount++] = fd;
  if (index != faultFile)
    return fsRead(fd, buffer, count);
  int64_t at = fsSeek(fd, 0, FS_SEEK_CUR);
  if (at < 0)
    return -1;
  if (at > faultOffset || at + static_cast<int64_t>(count) <= faultOffset)
    return fsRead(fd, buffer, count);
  if (at < faultOffset)
    return fsRead(fd, buffer, static_cast<unsigned>(faultOffset - at));
  if (faultError == 0)
    return 0;
  SetLastError(faultError);
  return -1;
}

} // namespace

void setReadFaultForTest(int file, int64_t offset, DWORD error) {
  faultFile = file;
  faultOffset = offset;
  faultError = error;
  faultSeenCount = 0;
}

// Reads exactly `count` bytes; a file that ends first gives 38.
bool fsReadExact(int fd, void *buffer, unsigned count) {
  unsigned char *at = static_cast<unsigned char *>(buffer);
  while (count > 0) {
    int got = readOrFault(fd, at, count);
    if (got < 0)
      return false;
    if (got == 0) {
      SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    at += got;
    count -= static_cast<unsigned>(got);
  }
  return true;
}

// Reads until `count` bytes are read or the file ends.
int fsReadFull(int fd, void *buffer, unsigned count) {
  unsigned char *at = static_cast<unsigned char *>(buffer);
  unsigned done = 0;
  while (done < count) {
    int got = readOrFault(fd, at + done, count - done);
    if (got < 0)
      return -1;
    if (got == 0)
      break;
    done += static_cast<unsigned>(got);
  }
  return static_cast<int>(done);
}

// Writes exactly `count` bytes; a write that makes no progress counts as a full disk.
bool fsWriteExact(int fd, const void *buffer, unsigned count) {
  const unsigned char *at = static_cast<const unsigned char *>(buffer);
  while (count > 0) {
    int put = fsWrite(fd, at, count);
    if (put < 0)
      return false;
    if (put == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    at += put;
    count -= static_cast<unsigned>(put);
  }
  return true;
}
