// Content comparison of two files and the two actions built on it: compare mode and the
// verification that follows a full copy.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "actions/actions.h"
#include "paths/lookup.h"
#include "paths/pathtext.h"
#include "paths/retry.h"
#include "paths/runtime.h"
#include "paths/winapi.h"
#include "report/report.h"
#include "state/state.h"

namespace {

// 256 KiB per file and read: for a large pair a sixth less CPU time than 64 KiB (fewer calls),
// while the two buffers still fit the cache; larger reads, or mapping the files, gained nothing.
constexpr unsigned COMPARE_CHUNK = 262144;

// The two comparison buffers, one per file, and where the first difference is written. The
// walk's own comparisons use compareScratch, in static storage so that a comparison at any depth
// of the walk adds nothing to the stack; a worker that compares a pair ahead of the walk has
// scratch of its own (smaller reads: it compares small files).
struct Scratch {
  unsigned char *first;
  unsigned char *second;
  unsigned chunk;
  char *detail;                   // mismatchDetail's size
  bool watched;                   // the progress line follows the comparison (the walk's own)
  CopyProgressFn noted = nullptr; // a worker's: told the bytes compared so far
};
unsigned char firstChunk[COMPARE_CHUNK];
unsigned char secondChunk[COMPARE_CHUNK];

Scratch walkScratch() {
  return Scratch{firstChunk, secondChunk, COMPARE_CHUNK, runState.mismatchDetail, true};
}

// Opens a file of a pair for reading, with one more attempt under /x after access denied: its
// protection is cleared for that open alone and the file gets back exactly the attribute word it
// had, whatever the open gives. -1 with the open's last error.
int openForComparing(const char *path, bool mayRetry = true) {
  int fd = fsOpen(path, FS_OPEN_READ);
  if (fd >= 0 || !mayRetry || !retryAfterDenied())
    return fd;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !clearProtection(path))
    return -1;
  fd = fsOpen(path, FS_OPEN_READ);
  DWORD saved = GetLastError();
  SetFileAttributesA(path, attributes);
  SetLastError(saved);
  return fd;
}

// Records where the first difference of two chunks lies (they are known to differ within their
// first `length` bytes, `offset` being where they begin) in mismatchDetail.
void noteMismatch(const Scratch &scratch, uint64_t offset, unsigned length) {
  unsigned index = 0;
  while (index < length && scratch.first[index] == scratch.second[index])
    ++index;
  snprintf(scratch.detail, sizeof runState.mismatchDetail, "(%010llX: %02X %02X)",
           static_cast<unsigned long long>(offset + index),
           static_cast<unsigned>(scratch.first[index]),
           static_cast<unsigned>(scratch.second[index]));
}

// Compares two open files: the first `listed` bytes of each (a file that ends sooner, shortened
// since it was listed, fails with error 38), then whatever follows in either until both end. A
// pair is equal only when both end at the same byte: a file that grew since it was listed, or
// one whose status says 0 bytes and yet holds data (/proc, /sys), is read to its end. A
// ContentResult; the last error says why it failed.
int compareOpenFiles(int first, int second, uint64_t listed, const char *name,
                     const Scratch &scratch) {
  uint64_t offset = 0;
  int result = CONTENT_EQUAL;
  if (scratch.watched)
    progressBegin(name);
  while (offset < listed && result == CONTENT_EQUAL) {
    uint64_t left = listed - offset;
    unsigned chunk = left < scratch.chunk ? static_cast<unsigned>(left) : scratch.chunk;
    if (!fsReadExact(first, scratch.first, chunk) || !fsReadExact(second, scratch.second, chunk)) {
      result = CONTENT_FAILED;
      break;
    }
    if (std::memcmp(scratch.first, scratch.second, chunk) != 0) {
      noteMismatch(scratch, offset, chunk);
      result = CONTENT_MISMATCH;
    }
    offset += chunk;
    if (scratch.watched)
      progressUpdate(offset, listed);
    else if (scratch.noted != nullptr)
      scratch.noted(offset, listed);
  }
  while (result == CONTENT_EQUAL) {
    int a = fsReadFull(first, scratch.first, scratch.chunk);
    int b = a < 0 ? -1 : fsReadFull(second, scratch.second, scratch.chunk);
    if (b < 0) {
      result = CONTENT_FAILED;
      break;
    }
    unsigned common = static_cast<unsigned>(a < b ? a : b);
    if (std::memcmp(scratch.first, scratch.second, common) != 0) {
      noteMismatch(scratch, offset, common);
      result = CONTENT_MISMATCH;
    } else if (a != b) {
      result = a > b ? CONTENT_LONGER : CONTENT_SHORTER;
    } else if (a == 0) {
      break;
    }
    offset += common;
  }
  if (scratch.watched) {
    DWORD saved = GetLastError();
    progressEnd();
    SetLastError(saved);
  }
  if (result != CONTENT_MISMATCH)
    scratch.detail[0] = '\0';
  return result;
}

// Whether the listing alone settles that two files differ in size: both sizes known and not
// equal. A size of 0 is not trusted, since files of /proc and /sys say so and yet hold data.
bool listedSizesDiffer(const FindEntry &a, const FindEntry &b) {
  return fileSize64(a) != 0 && fileSize64(b) != 0 && fileSize64(a) != fileSize64(b);
}

// Ends an item line with the tail of a difference the comparison found and counts it. False
// for a result that is no difference.
bool reportDifference(int result) {
  switch (result) {
  case CONTENT_LONGER:
    printf("\t:longer\n");
    break;
  case CONTENT_SHORTER:
    printf("\t:shorter\n");
    break;
  case CONTENT_MISMATCH:
    printf("\t:mismatch!%s\n", runState.mismatchDetail);
    break;
  default:
    return false;
  }
  runState.unmatchedCount += 1;
  return true;
}

// What compareOne finds offered when nothing was prepared for its pair.
constexpr int COMPARE_NOT_PREPARED = 99;

// The comparison of the pair made ahead, taken: its result, with the difference noted and the
// last error set as compareContents leaves them; COMPARE_NOT_PREPARED when none was made.
// A comparison that failed ahead is made again by the action: the failure and what follows it
// (a second open under /x) are then the action's own.
int comparedBefore(const char *sourcePath, const char *destPath) {
  PreparedWork *work = offeredFor(sourcePath, destPath);
  if (work == nullptr || !work->compared)
    return COMPARE_NOT_PREPARED;
  work->compared = false;
  if (work->compare.result == CONTENT_FAILED)
    return COMPARE_NOT_PREPARED;
  std::memcpy(runState.mismatchDetail, work->compare.detail, sizeof runState.mismatchDetail);
  SetLastError(work->compare.error);
  return work->compare.result;
}

// compareContents with the given scratch.
int compareWith(const char *firstPath, const char *secondPath, const FindEntry &firstEntry,
                const Scratch &scratch) {
  // A worker changes nothing: a file refused for access is left to the walk's own comparison.
  int first = openForComparing(firstPath, scratch.watched);
  if (first < 0)
    return CONTENT_FAILED;
  int second = openForComparing(secondPath, scratch.watched);
  if (second < 0) {
    DWORD saved = GetLastError();
    fsClose(first);
    SetLastError(saved);
    return CONTENT_FAILED;
  }
  int result = compareOpenFiles(first, second, static_cast<uint64_t>(fileSize64(firstEntry)),
                                firstPath, scratch);
  DWORD saved = GetLastError();
  fsClose(first);
  fsClose(second);
  SetLastError(saved);
  return result;
}

} // namespace

// Compares two files, the size listed for the first read from both and then each to its end;
// the first difference is recorded.
int compareContents(const char *firstPath, const char *secondPath, const FindEntry &firstEntry) {
  return compareWith(firstPath, secondPath, firstEntry, walkScratch());
}

bool compareWouldRead(const FindEntry &sourceEntry, const FindEntry &destEntry) {
  return runState.mode == MODE_COMPARE && !runState.echoOnly &&
         !filteredByArchive(sourceEntry.dwFileAttributes) &&
         !listedSizesDiffer(sourceEntry, destEntry) && selects(sourceEntry, destEntry);
}

void compareAhead(const char *firstPath, const char *secondPath, const FindEntry &firstEntry,
                  ComparedAhead *out, unsigned char *buffers, unsigned bufferBytes,
                  CopyProgressFn progress) {
  Scratch scratch{buffers, buffers + bufferBytes / 2, bufferBytes / 2, out->detail, false,
                  progress};
  out->result = compareWith(firstPath, secondPath, firstEntry, scratch);
  out->error = GetLastError();
}

// The compare-mode action for one existing, selected pair: one line ending plainly, with a
// size or content tail, or with an error.
int compareOne(const char *sourcePath, const char *destPath, DWORD attributes,
               const FindEntry &sourceEntry, const FindEntry &destEntry) {
  if (namesEqual(sourcePath, destPath))
    return recordFailure(ST_SAME_PATH);
  if (filteredByArchive(attributes))
    return 0;

  if (beginItemLine())
    printf("%s\t<--> %s", sourcePath, destPath);
  else
    printf("%s", sourcePath);
  if (runState.echoOnly) {
    printf("\n");
    return 1;
  }

  // A size difference is settled from the listing; neither file is opened.
  if (listedSizesDiffer(sourceEntry, destEntry)) {
    reportDifference(isLarger(sourceEntry, destEntry) ? CONTENT_LONGER : CONTENT_SHORTER);
    return 1;
  }

  int result = comparedBefore(sourcePath, destPath);
  if (result == COMPARE_NOT_PREPARED)
    result = compareContents(sourcePath, destPath, sourceEntry);
  if (reportDifference(result))
    return 1;
  if (result == CONTENT_EQUAL && runState.backupMode &&
      !clearArchiveAfterBackup(sourcePath, attributes))
    result = CONTENT_FAILED;
  if (result == CONTENT_FAILED) {
    reportError("", static_cast<int32_t>(GetLastError()));
    return recordFailure(ST_COMPARE_FAILED);
  }
  printf("\n");
  return 1;
}

namespace {

// Checks a copy, open as `copy` with `copySize` bytes, against its source looked up again,
// with `scratch` (a worker's changes nothing: a source refused for access fails the check).
int checkCopyWith(const char *sourcePath, int copy, int64_t copySize, const Scratch &scratch) {
  // An exact lookup, as the walk pairs files: a name holding `?` or `*` (possible on POSIX) is
  // never taken as a pattern that finds a neighbour first. Only the size is read.
  FindEntry sourceEntry;
  if (!lookupEntry(sourcePath, &sourceEntry, false))
    return CONTENT_FAILED;
  int64_t sourceSize = fileSize64(sourceEntry);
  if (sourceSize != 0 && copySize != 0 && sourceSize != copySize)
    return sourceSize > copySize ? CONTENT_LONGER : CONTENT_SHORTER;
  int source = openForComparing(sourcePath, scratch.watched);
  if (source < 0)
    return CONTENT_FAILED;
  int result =
      compareOpenFiles(source, copy, sourceSize == copySize ? static_cast<uint64_t>(sourceSize) : 0,
                       sourcePath, scratch);
  DWORD saved = GetLastError();
  fsClose(source);
  SetLastError(saved);
  return result;
}

} // namespace

int checkCopy(const char *sourcePath, int copy, int64_t copySize) {
  return checkCopyWith(sourcePath, copy, copySize, walkScratch());
}

bool checkCopyAhead(void *context, int copy, int64_t size) {
  AheadCheck &check = *static_cast<AheadCheck *>(context);
  Scratch scratch{check.buffers, check.buffers + check.bufferBytes / 2, check.bufferBytes / 2,
                  check.detail, false};
  return checkCopyWith(check.sourcePath, copy, size, scratch) == CONTENT_EQUAL;
}

// Reports what the check of a copy found: nothing for an equal copy, else the item line's tail
// or error, a counted failure.
int reportVerification(int result) {
  if (result == CONTENT_EQUAL)
    return 1;
  if (reportDifference(result)) {
    recordFailure(ST_VERIFY_FAILED);
    return -1;
  }
  reportError("", static_cast<int32_t>(GetLastError()));
  return recordFailure(ST_VERIFY_FAILED);
}

// Checks a published copy against its source, from entries read again; any difference is a
// counted failure. Prints nothing when the copy matches.
int verifyOne(const char *sourcePath, const char *destPath, DWORD attributes) {
  (void)attributes;
  FindEntry sourceEntry;
  FindEntry destEntry;
  bool sourceFound = lookupEntry(sourcePath, &sourceEntry, false);
  DWORD sourceError = GetLastError();
  bool destFound = lookupEntry(destPath, &destEntry, false);
  if (!sourceFound || !destFound) {
    // The error reported is the one of the first lookup that found nothing.
    if (!sourceFound)
      SetLastError(sourceError);
    return reportVerification(CONTENT_FAILED);
  }
  int copy = openForComparing(destPath);
  if (copy < 0)
    return reportVerification(CONTENT_FAILED);
  int result = checkCopy(sourcePath, copy, fileSize64(destEntry));
  DWORD saved = GetLastError();
  fsClose(copy);
  SetLastError(saved);
  return reportVerification(result);
}
