// Incremental copy: brings a grown destination up to date by writing only the source's new tail
// (and, under /+h, the file head again), after checking that the destination's last bytes still
// match the source.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "actions/actions.h"
#include "paths/files.h"
#include "paths/retry.h"
#include "paths/runtime.h"
#include "paths/winapi.h"
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

// Where an update in place stands, for what a failure has to put back.
enum UpdateStage {
  STAGE_UNTOUCHED, // nothing written yet
  STAGE_WRITING,   // appending the new tail, rewriting the head, closing the file: a failure
                   // cuts the tail off again
  STAGE_WRITTEN,   // all written and closed: only the times are left
};

// One update in place: the two files, the sizes that decide it, and where it stands.
struct Update {
  const char *sourcePath;
  const char *destPath;
  const FindEntry *sourceEntry;
  const FindEntry *destEntry;
  uint64_t destSize;     // the destination's size as listed: where the new tail begins
  uint64_t growth;       // the bytes the source has grown by
  uint64_t headerLength; // the bytes of the head written again (/+h), at most destSize
  int source = -1;
  int dest = -1;
  bool marked = false; // the destination carries the mark of this update
  UpdateStage stage = STAGE_UNTOUCHED;
  uint64_t done = 0;  // bytes written so far, for the progress
  uint64_t total = 0; // bytes the update writes
};

// Copies `count` bytes from the current position of the source to the current position of the
// destination. Each chunk is read in full before any of it is written, so a source that ends
// early stops the copy (error 38) without writing bytes the source no longer has.
bool copyRange(Update &u, uint64_t count) {
  while (count > 0) {
    unsigned chunk = count < COPY_CHUNK ? static_cast<unsigned>(count) : COPY_CHUNK;
    if (!fsReadExact(u.source, copyChunk, chunk) || !fsWriteExact(u.dest, copyChunk, chunk))
      return false;
    count -= chunk;
    u.done += chunk;
    progressUpdate(u.done, u.total);
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

// Puts the destination's old end back after a failed append: the old size and the old last
// byte (which the append rewrites first). Space taken on a full disk is given back; failures
// here are not reported (the caller reports the error that stopped the update).
void cutOffTail(int dest, uint64_t destSize) {
  if (fsTruncate(dest, static_cast<int64_t>(destSize)) != 0)
    return;
  if (fsSeek(dest, static_cast<int64_t>(destSize - 1), FS_SEEK_SET) >= 0)
    fsWriteExact(dest, &destTail[TAIL_WINDOW - 1], 1);
}

// Whether the update applies to the pair: a source grown from a destination large enough to be
// checked (or any with /+h); sets the sizes. Nothing is touched.
bool updateApplies(Update &u) {
  if (isSmaller(*u.sourceEntry, *u.destEntry))
    return false;
  uint64_t sourceSize = static_cast<uint64_t>(fileSize64(*u.sourceEntry));
  u.destSize = static_cast<uint64_t>(fileSize64(*u.destEntry));
  u.growth = sourceSize - u.destSize;
  if (u.growth == 0 && runState.headerSizeKB <= 0)
    return false;
  if (u.destSize < LEAST_DEST_SIZE)
    return false;
  u.headerLength = 0;
  if (runState.headerSizeKB > 0) {
    u.headerLength = static_cast<uint64_t>(runState.headerSizeKB) * HEADER_UNIT;
    if (u.headerLength > u.destSize)
      u.headerLength = u.destSize;
  }
  u.total = u.growth + 1 + u.headerLength;
  return true;
}

// Opens both files and compares the destination's last window with the source at the same
// place: 1 they match (both files then stand at the destination's last byte), -1 they do not,
// 0 failed.
int openAndCheckTail(Update &u) {
  u.source = fsOpen(u.sourcePath, FS_OPEN_READ);
  if (u.source < 0)
    return 0;
  u.dest = fsOpen(u.destPath, FS_OPEN_UPDATE);
  if (u.dest < 0)
    return 0;
  int64_t window = static_cast<int64_t>(u.destSize - TAIL_WINDOW);
  if (fsSeek(u.source, window, FS_SEEK_SET) < 0 || fsSeek(u.dest, window, FS_SEEK_SET) < 0)
    return 0;
  if (!fsReadExact(u.source, sourceTail, TAIL_WINDOW) ||
      !fsReadExact(u.dest, destTail, TAIL_WINDOW))
    return 0;
  if (!tailMatches())
    return -1;
  // The destination's last byte is always written again: an end-of-file mark there gives way
  // to the source's byte.
  if (fsSeek(u.source, -1, FS_SEEK_CUR) < 0 || fsSeek(u.dest, -1, FS_SEEK_CUR) < 0)
    return 0;
  return 1;
}

// Marks the destination as being updated, appends the new tail, then writes the head again
// under /+h (only up to the old size: the bytes just appended are not copied twice), and closes
// the destination. The file ends where the source's listed size does: an earlier update ended
// midway may have left more.
bool writeUpdate(Update &u) {
  if (!markUpdate(u.dest, static_cast<int64_t>(u.destSize), lastWriteTicks(*u.destEntry)))
    return false;
  u.marked = true;
  u.stage = STAGE_WRITING;
  if (!copyRange(u, u.growth + 1) ||
      fsTruncate(u.dest, static_cast<int64_t>(u.destSize + u.growth)) != 0)
    return false;
  if (u.headerLength > 0) {
    if (fsSeek(u.source, 0, FS_SEEK_SET) < 0 || fsSeek(u.dest, 0, FS_SEEK_SET) < 0)
      return false;
    if (!copyRange(u, u.headerLength))
      return false;
  }
  fsClose(u.source);
  u.source = -1;
  // A destination whose close fails may not hold what was written (a share may tell of a write
  // it never stored only here): a failure, whose tail is cut off like any other's, through the
  // file opened once more.
  int closed = fsClose(u.dest);
  u.dest = -1;
  if (closed != 0) {
    DWORD saved = GetLastError();
    u.dest = fsOpen(u.destPath, FS_OPEN_UPDATE);
    SetLastError(saved);
    return false;
  }
  u.stage = STAGE_WRITTEN;
  return true;
}

// Closes what is open after an update that did not go through. The appended bytes are cut off
// and the destination's old times put back; the last error stays the one that stopped the
// update.
void endUpdate(Update &u) {
  DWORD saved = GetLastError();
  if (u.source >= 0)
    fsClose(u.source);
  if (u.dest >= 0) {
    if (u.stage == STAGE_WRITING)
      cutOffTail(u.dest, u.destSize);
    fsClose(u.dest);
  }
  if (u.stage == STAGE_WRITING)
    copyFileTimes(*u.destEntry, u.destPath);
  if (u.marked)
    clearUpdateMark(u.destPath);
  SetLastError(saved);
}

} // namespace

// Updates an existing destination in place from its grown source: 1 done (the line carries
// "\t*"), -1 declined with nothing changed (a destination too small, or not a private file),
// 0 failed with the last error saying why. A failure at any step of the writing (a full disk, a
// read error, a source shortened meanwhile, a close that reports a lost write) cuts the bytes
// appended off again and puts the last byte and the times back, so that the destination still
// looks older than its source and the next run brings it up to date (a head rewritten in part
// under /+h is written again then). A mark that cannot be removed once the update is complete
// is a failure too, reported with its error: the data and times stay those of the source.
int incrementalCopy(const char *sourcePath, const char *destPath, DWORD attributes,
                    const FindEntry *sourceEntry, const FindEntry *destEntry) {
  if (sourceEntry == nullptr || destEntry == nullptr)
    return -1;
  Update u;
  u.sourcePath = sourcePath;
  u.destPath = destPath;
  u.sourceEntry = sourceEntry;
  u.destEntry = destEntry;
  if (!updateApplies(u))
    return -1;
  // Only a private file is updated in place: through a symbolic link the update would change
  // the link's target, through a hard link every other name of the file. Any other destination
  // is declined; the full copy then replaces this name alone.
  int owned = isPrivateFile(destPath);
  if (owned <= 0)
    return owned == 0 ? -1 : 0;

  DWORD destAttributes = destEntry->dwFileAttributes;
  bool protectionCleared = false;
  if (runState.includeHidden && (destAttributes & PROTECTION_BITS) != 0) {
    if (!clearProtection(destPath))
      return 0;
    protectionCleared = true;
  }

  int result = openAndCheckTail(u);
  if (result == 1) {
    progressBegin(sourcePath);
    result = writeUpdate(u) && copyFileTimes(*sourceEntry, destPath) ? 1 : 0;
    progressEnd();
  }
  if (result != 1)
    endUpdate(u);
  if (result == 1) {
    bool markRemoved = clearUpdateMark(destPath);
    DWORD saved = GetLastError();
    if (markRemoved)
      printf("\t*");
    SetFileAttributesA(destPath, attributes);
    SetLastError(saved);
    if (!markRemoved)
      result = 0;
  } else if (protectionCleared) {
    DWORD saved = GetLastError();
    SetFileAttributesA(destPath, destAttributes);
    SetLastError(saved);
  }
  return result;
}
