// Content comparison of two files and the two actions built on it: compare mode and the
// verification that follows a full copy.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "actions/actions.h"
#include "report/report.h"
#include "state/state.h"

namespace {

// 256 KiB per file and read: for a large pair a sixth less CPU time than 64 KiB (fewer calls),
// while the two buffers still fit the cache; larger reads, or mapping the files, gained nothing.
constexpr unsigned COMPARE_CHUNK = 262144;

// The two comparison buffers, one per file. They belong to compareContents alone and live in
// static storage so that a comparison at any depth of the walk adds nothing to the stack; the
// program is single-threaded and compareContents never calls itself.
unsigned char firstChunk[COMPARE_CHUNK];
unsigned char secondChunk[COMPARE_CHUNK];

// Second attempt after a comparison refused with access denied under /x: clear both files'
// protection, compare again, then give both files the source's attribute word. Gives the new
// result (1 or -1), or 0 with the failing step's last error.
int retryCompare(const char *sourcePath, const char *destPath, DWORD attributes,
                 const FindEntry &sourceEntry) {
  if (!retryAfterDenied())
    return 0;
  if (!clearProtection(sourcePath) || !clearProtection(destPath))
    return 0;
  int result = compareContents(sourcePath, destPath, sourceEntry);
  if (result == 0)
    return 0;
  if (!SetFileAttributesA(sourcePath, attributes) || !SetFileAttributesA(destPath, attributes))
    return 0;
  return result;
}

// Ends an item line with the tail that names a size difference; true when there was one.
bool reportSizeDifference(const FindEntry &sourceEntry, const FindEntry &destEntry) {
  if (isLarger(sourceEntry, destEntry)) {
    printf("\t:longer\n");
    return true;
  }
  if (isSmaller(sourceEntry, destEntry)) {
    printf("\t:shorter\n");
    return true;
  }
  return false;
}

} // namespace

// Compares two files of the size listed for the first, chunk by chunk, and records where the
// first difference lies.
int compareContents(const char *firstPath, const char *secondPath, const FindEntry &firstEntry) {
  uint64_t remaining = static_cast<uint64_t>(fileSize64(firstEntry));
  if (remaining == 0)
    return 1; // empty files are equal without being opened

  int first = fsOpen(firstPath, FS_OPEN_READ);
  if (first < 0)
    return 0;
  int second = fsOpen(secondPath, FS_OPEN_READ);
  if (second < 0) {
    DWORD saved = GetLastError();
    fsClose(first);
    SetLastError(saved);
    return 0;
  }

  const uint64_t total = remaining;
  uint64_t offset = 0;
  unsigned index = 0;
  int result = 1;
  DWORD saved = 0;
  progressBegin(firstPath);
  while (remaining > 0 && result == 1) {
    unsigned chunk = remaining < COMPARE_CHUNK ? static_cast<unsigned>(remaining) : COMPARE_CHUNK;
    // A file shortened since it was listed ends the comparison with error 38.
    if (!fsReadExact(first, firstChunk, chunk) || !fsReadExact(second, secondChunk, chunk)) {
      saved = GetLastError();
      result = 0;
      break;
    }
    index = chunk;
    if (std::memcmp(firstChunk, secondChunk, chunk) != 0) {
      index = 0;
      while (firstChunk[index] == secondChunk[index])
        ++index;
      result = -1;
    }
    offset += index;
    remaining -= chunk;
    progressUpdate(total - remaining, total);
  }
  progressEnd();
  fsClose(first);
  fsClose(second);

  if (result == -1) {
    snprintf(runState.mismatchDetail, sizeof runState.mismatchDetail, "(%010llX: %02X %02X)",
             static_cast<unsigned long long>(offset), static_cast<unsigned>(firstChunk[index]),
             static_cast<unsigned>(secondChunk[index]));
    return -1;
  }
  runState.mismatchDetail[0] = '\0';
  if (result == 0)
    SetLastError(saved);
  return result;
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
  if (reportSizeDifference(sourceEntry, destEntry)) {
    runState.unmatchedCount += 1;
    return 1;
  }

  int result = compareContents(sourcePath, destPath, sourceEntry);
  if (result == 0)
    result = retryCompare(sourcePath, destPath, attributes, sourceEntry);
  if (result == -1) {
    printf("\t:mismatch!%s\n", runState.mismatchDetail);
    runState.unmatchedCount += 1;
    return 1;
  }
  if (result == 1 && runState.backupMode && !clearArchiveAfterBackup(sourcePath, attributes))
    result = 0;
  if (result == 0) {
    reportError("", static_cast<int32_t>(GetLastError()));
    return recordFailure(ST_COMPARE_FAILED);
  }
  printf("\n");
  return 1;
}

// Checks a fresh copy against its source, from entries read again after the copy; any
// difference is a counted failure. Prints nothing when the copy matches.
int verifyOne(const char *sourcePath, const char *destPath, DWORD attributes) {
  FindEntry sourceEntry;
  FindEntry destEntry;
  // Exact lookups, as the walk pairs files: a name holding `?` or `*` (possible on POSIX) is
  // never taken as a pattern that finds a neighbour first. Only the sizes are read.
  bool sourceFound = lookupEntry(sourcePath, &sourceEntry, false);
  DWORD sourceError = GetLastError();
  bool destFound = lookupEntry(destPath, &destEntry, false);
  if (!sourceFound || !destFound) {
    // The error reported is the one of the first lookup that found nothing.
    reportError("", static_cast<int32_t>(sourceFound ? GetLastError() : sourceError));
    return recordFailure(ST_VERIFY_FAILED);
  }

  if (reportSizeDifference(sourceEntry, destEntry)) {
    runState.unmatchedCount += 1;
    recordFailure(ST_VERIFY_FAILED);
    return -1;
  }

  int result = compareContents(sourcePath, destPath, sourceEntry);
  if (result == 0)
    result = retryCompare(sourcePath, destPath, attributes, sourceEntry);
  if (result == 0) {
    reportError("", static_cast<int32_t>(GetLastError()));
    return recordFailure(ST_VERIFY_FAILED);
  }
  if (result == -1) {
    printf("\t:mismatch!%s\n", runState.mismatchDetail);
    runState.unmatchedCount += 1;
    recordFailure(ST_VERIFY_FAILED);
    return -1;
  }
  return 1;
}
