// Whole reads and writes over the runtime-library file calls of either backend.
#include "paths/paths.h"

// Reads exactly `count` bytes; a file that ends first gives 38.
bool fsReadExact(int fd, void *buffer, unsigned count) {
  unsigned char *at = static_cast<unsigned char *>(buffer);
  while (count > 0) {
    int got = fsRead(fd, at, count);
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
