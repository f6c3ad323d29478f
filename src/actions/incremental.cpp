// Incremental copy: brings a grown destination up to date by writing only the source's new tail
// (and, under /+h, the file head again), after checking that the destination's last bytes still
// match the source.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "actions/actions.h"
#include "report/report.h"
#include "state/state.h"

namespace {

constexpr uint64_t LEAST_DEST_SIZE = 32768;
constexpr unsigned TAIL_WINDOW = 4096;
constexpr unsigned char END_OF_FILE_MARK = 0x1A;
constexpr unsigned COPY_CHUNK = 65536;
constexpr uint64_t HEADER_UNIT = 1024;

// The two tail buffers (one per file) and the copy buffer belong to incrementalCopy alone. They
// live in static storage so that a copy at any depth of the walk adds nothing to the stack; the
// program is single-threaded and incrementalCopy never calls itself.
unsigned char sourceTail[TAIL_WINDOW];
unsigned char destTail[TAIL_WINDOW];
unsigned char copyChunk[COPY_CHUNK];

// Copies `count` bytes from the current position of `source` to the current position of
// `dest`. Each chunk is read in full before any of it is written, so a source that ends early
// stops the copy (error 38) without writing bytes the source no longer has. `done` counts the
// bytes written of the update's `total`, for its progress.
bool copyRange(int source, int dest, uint64_t count, uint64_t &done, uint64_t total) {
  while (count > 0) {
    unsigned chunk = count < COPY_CHUNK ? static_cast<unsigned>(count) : COPY_CHUNK;
    if (!fsReadExact(source, copyChunk, chunk) || !fsWriteExact(dest, copyChunk, chunk))
      return false;
    count -= chunk;
    done += chunk;
    progressUpdate(done, total);
  }
  return true;
}

// Whether the destination's last window still matches the source at the same place. The last
// byte of the old destination may be an end-of-file mark where the source has grown on.
bool tailMatches() {
  if (std::memcmp(sourceTail, destTail, TAIL_WINDOW - 1) != 0)
    return false;
  unsigned char last = destTail[TAIL_WINDOW - 1];
  return last == sourceTail[TAIL_WINDOW - 1] || last == END_OF_FILE_MARK;
}

// Gives the destination the creation, last-access and last-write times that the listing read
// together with the source's size: a source that grew while it was copied then looks newer than
// its copy, so that a later /i or /u brings the copy up to date. False with the failing call's
// last error.
bool copyFileTimes(const FindEntry &sourceEntry, const char *destPath) {
  HANDLE dest = CreateFileA(destPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (dest == INVALID_HANDLE_VALUE)
    return false;
  bool done = SetFileTime(dest, &sourceEntry.ftCreationTime, &sourceEntry.ftLastAccessTime,
                          &sourceEntry.ftLastWriteTime);
  DWORD saved = GetLastError();
  CloseHandle(dest);
  SetLastError(saved);
  return done;
}

} // namespace

// Updates an existing destination in place from its grown source: 1 done (the line carries
// "\t*"), -1 declined with nothing changed (a destination too small, or not a private file),
// 0 failed with the last error saying why.
int incrementalCopy(const char *sourcePath, const char *destPath, DWORD attributes,
                    const FindEntry *sourceEntry, const FindEntry *destEntry) {
  if (sourceEntry == nullptr || destEntry == nullptr)
    return -1;
  if (isSmaller(*sourceEntry, *destEntry))
    return -1;
  uint64_t sourceSize = static_cast<uint64_t>(fileSize64(*sourceEntry));
  uint64_t destSize = static_cast<uint64_t>(fileSize64(*destEntry));
  uint64_t growth = sourceSize - destSize;
  if (growth == 0 && runState.headerSizeKB <= 0)
    return -1;
  if (destSize < LEAST_DEST_SIZE)
    return -1;
  // Only a private file is updated in place: through a symbolic link the update would change
  // the link's target, through a hard link every other name of the file. Any other destination
  // is declined; the full copy then replaces this name alone.
  int owned = isPrivateFile(destPath);
  if (owned == 0)
    return -1;
  if (owned < 0)
    return 0;

  DWORD destAttributes = destEntry->dwFileAttributes;
  bool protectionCleared = false;
  if (runState.includeHidden && (destAttributes & PROTECTION_BITS) != 0) {
    if (!clearProtection(destPath))
      return 0;
    protectionCleared = true;
  }

  int source = -1;
  int dest = -1;
  DWORD saved = 0;
  // The head is rewritten only up to the old size: the bytes appended are not copied twice.
  uint64_t headerLength = 0;
  if (runState.headerSizeKB > 0) {
    headerLength = static_cast<uint64_t>(runState.headerSizeKB) * HEADER_UNIT;
    if (headerLength > destSize)
      headerLength = destSize;
  }
  const uint64_t total = growth + 1 + headerLength; // the bytes written, for the progress
  uint64_t done = 0;

  source = fsOpen(sourcePath, FS_OPEN_READ);
  if (source < 0)
    goto failed;
  dest = fsOpen(destPath, FS_OPEN_UPDATE);
  if (dest < 0)
    goto failed;

  if (fsSeek(source, static_cast<int64_t>(destSize - TAIL_WINDOW), FS_SEEK_SET) < 0 ||
      fsSeek(dest, static_cast<int64_t>(destSize - TAIL_WINDOW), FS_SEEK_SET) < 0)
    goto failed;
  if (!fsReadExact(source, sourceTail, TAIL_WINDOW) || !fsReadExact(dest, destTail, TAIL_WINDOW))
    goto failed;
  if (!tailMatches()) {
    fsClose(source);
    fsClose(dest);
    if (protectionCleared)
      SetFileAttributesA(destPath, destAttributes);
    return -1;
  }

  // Both files stand at the destination's last byte, which is always written again: an
  // end-of-file mark there gives way to the source's byte.
  if (fsSeek(source, -1, FS_SEEK_CUR) < 0 || fsSeek(dest, -1, FS_SEEK_CUR) < 0)
    goto failed;
  progressBegin(sourcePath);
  if (!copyRange(source, dest, growth + 1, done, total))
    goto failed;
  if (headerLength > 0) {
    if (fsSeek(source, 0, FS_SEEK_SET) < 0 || fsSeek(dest, 0, FS_SEEK_SET) < 0)
      goto failed;
    if (!copyRange(source, dest, headerLength, done, total))
      goto failed;
  }
  progressEnd();

  fsClose(source);
  source = -1;
  // A destination whose close fails may not hold what was written: a failure, not a success.
  if (fsClose(dest) != 0) {
    dest = -1;
    goto failed;
  }
  dest = -1;

  if (!copyFileTimes(*sourceEntry, destPath))
    goto failed;

  printf("\t*");
  SetFileAttributesA(destPath, attributes);
  return 1;

failed:
  progressEnd();
  saved = GetLastError();
  if (source >= 0)
    fsClose(source);
  if (dest >= 0)
    fsClose(dest);
  if (protectionCleared)
    SetFileAttributesA(destPath, destAttributes);
  SetLastError(saved);
  return 0;
}
