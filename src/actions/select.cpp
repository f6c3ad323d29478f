// Selection rules: whether an existing source-destination pair is acted on.
#include "actions/actions.h"
#include "paths/winapi.h"
#include "report/report.h"
#include "state/state.h"

namespace {

// The fixed time granularity of the "all the same" test: 2 seconds, whatever /+t says.
constexpr int64_t GRANULARITY = 20000000;

// Combines two 32-bit halves into one signed 64-bit value (two's complement, no overflow).
int64_t combineHalves(DWORD high, DWORD low) {
  return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | static_cast<uint64_t>(low));
}

// Whether `later` exceeds `earlier` by at least `tolerance`. The difference of two signed
// 64-bit values may not fit one, but taken unsigned it is exact once later > earlier.
bool laterByAtLeast(int64_t later, int64_t earlier, int64_t tolerance) {
  if (later <= earlier)
    return false;
  if (tolerance <= 0)
    return true;
  return static_cast<uint64_t>(later) - static_cast<uint64_t>(earlier) >=
         static_cast<uint64_t>(tolerance);
}

// The distance between two times, exact for any pair.
uint64_t distance(int64_t a, int64_t b) {
  return a >= b ? static_cast<uint64_t>(a) - static_cast<uint64_t>(b)
                : static_cast<uint64_t>(b) - static_cast<uint64_t>(a);
}

} // namespace

// The last-write time of an entry in 100-ns ticks since 1601.
int64_t lastWriteTicks(const FindEntry &entry) {
  return combineHalves(entry.ftLastWriteTime.dwHighDateTime, entry.ftLastWriteTime.dwLowDateTime);
}

// The size of an entry in bytes.
int64_t fileSize64(const FindEntry &entry) {
  return combineHalves(entry.nFileSizeHigh, entry.nFileSizeLow);
}

// Newer by at least the time tolerance; equal times never are.
bool isNewer(const FindEntry &a, const FindEntry &b) {
  return laterByAtLeast(lastWriteTicks(a), lastWriteTicks(b), runState.timeTolerance);
}

// Older by at least the time tolerance; equal times never are.
bool isOlder(const FindEntry &a, const FindEntry &b) {
  return laterByAtLeast(lastWriteTicks(b), lastWriteTicks(a), runState.timeTolerance);
}

// Larger in bytes.
bool isLarger(const FindEntry &a, const FindEntry &b) {
  return fileSize64(a) > fileSize64(b);
}

// Smaller in bytes.
bool isSmaller(const FindEntry &a, const FindEntry &b) {
  return fileSize64(a) < fileSize64(b);
}

// All 32 attribute bits equal, archive and normal included.
bool sameAttributes(const FindEntry &a, const FindEntry &b) {
  return a.dwFileAttributes == b.dwFileAttributes;
}

// Everything matches. A file system that stores times in 2-second steps rounds them: when
// exactly one of the two times is a whole multiple of 2 seconds, times less than 2 seconds
// apart count as the same. Two files of different sizes are never the same, whatever their
// times: /del /+m and /m /+m delete a source on the strength of this test.
bool sameAll(const FindEntry &a, const FindEntry &b) {
  return sameAttributes(a, b) && sameSizeAndTime(a, b);
}

// sameAll without the attributes: the sizes equal, the times the same by the rule above.
bool sameSizeAndTime(const FindEntry &a, const FindEntry &b) {
  if (fileSize64(a) != fileSize64(b))
    return false;
  int64_t ta = lastWriteTicks(a);
  int64_t tb = lastWriteTicks(b);
  bool aWhole = ta % GRANULARITY == 0;
  bool bWhole = tb % GRANULARITY == 0;
  if (aWhole == bWhole)
    return ta == tb;
  return distance(ta, tb) < static_cast<uint64_t>(GRANULARITY);
}

// The relations of the mask that need no attribute word decide alone when one of them holds;
// otherwise the attribute-difference and all-matching relations decide, and the attribute word
// matters unless both are chosen for a pair of the same size and time (one of them holds,
// whatever the words) or all-matching alone is chosen for a pair that differs in size or time.
bool selectionNeedsAttributes(const FindEntry &source, const FindEntry &destination) {
  uint32_t mask = runState.selectMask;
  bool attributeDiff = (mask & SEL_ATTR_DIFF) != 0;
  bool allMatching = (mask & SEL_SAME) != 0;
  if (!attributeDiff && !allMatching)
    return false;
  if (((mask & SEL_NEWER) != 0 && isNewer(source, destination)) ||
      ((mask & SEL_OLDER) != 0 && isOlder(source, destination)) ||
      ((mask & SEL_LARGER) != 0 && isLarger(source, destination)) ||
      ((mask & SEL_SMALLER) != 0 && isSmaller(source, destination)))
    return false;
  bool sameApartFromAttributes = sameSizeAndTime(source, destination);
  if (attributeDiff && allMatching && sameApartFromAttributes)
    return false;
  return attributeDiff || sameApartFromAttributes;
}

// Whether /a or /b passes the file over: it lacks the archive bit.
bool filteredByArchive(DWORD attributes) {
  return (runState.archiveOnly || runState.backupMode) &&
         (attributes & FILE_ATTRIBUTE_ARCHIVE) == 0;
}

// Clears the archive bit that /b has used up; every other bit is written back as it was.
bool clearArchiveAfterBackup(const char *sourcePath, DWORD attributes) {
  return SetFileAttributesA(sourcePath, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE)) !=
         FALSE;
}

// Whether an existing pair is acted on; under /+d first prints both last-write times.
bool isSelected(const FindEntry &source, const FindEntry &destination) {
  if (runState.detailTime) {
    if (!printTimestamp(source, '\t'))
      return false;
    if (!printTimestamp(destination, '\n'))
      return false;
  }
  return selects(source, destination);
}

bool selects(const FindEntry &source, const FindEntry &destination) {
  uint32_t mask = runState.selectMask;
  if ((mask & SEL_NEWER) != 0 && isNewer(source, destination))
    return true;
  if ((mask & SEL_OLDER) != 0 && isOlder(source, destination))
    return true;
  if ((mask & SEL_LARGER) != 0 && isLarger(source, destination))
    return true;
  if ((mask & SEL_SMALLER) != 0 && isSmaller(source, destination))
    return true;
  if ((mask & SEL_ATTR_DIFF) != 0 && !sameAttributes(source, destination))
    return true;
  if ((mask & SEL_SAME) != 0 && sameAll(source, destination))
    return true;
  return false;
}
