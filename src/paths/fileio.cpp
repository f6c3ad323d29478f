// Whole reads and writes over the runtime-library file calls of either backend (their reads
// through the table of operations the tests may replace).
#include "paths/fileops.h"
#include "paths/runtime.h"
#include "paths/winapi.h"

// Reads exactly `count` bytes; a file that ends first gives 38.
bool fsReadExact(int fd, void *buffer, unsigned count) {
  unsigned char *at = static_cast<unsigned char *>(buffer);
  while (count > 0) {
    int got = fileOps.programRead(fd, at, count);
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
    int got = fileOps.programRead(fd, at + done, count - done);
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
