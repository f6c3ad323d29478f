// Incremental copy: the decline rules, the tail check, the appended tail, the head rewrite and
// what a failure leaves behind.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "actions/actions.h"
#include "paths/files.h"
#include "paths/runtime.h"
#include "paths/winapi.h"
#include "seams/seams.h"
#include "state/state.h"
#include "support/testutil.h"

namespace {

class IncrementalTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }

  // Writes the pair, lists both and runs the incremental copy with the source's attributes.
  int run(const std::string &source, const std::string &dest) {
    tu::writeFile(srcFile(), source);
    tu::writeFile(dstFile(), dest);
    return runListed();
  }
  int runListed() {
    sourceEntry = tu::findEntry(srcFile());
    destEntry = tu::findEntry(dstFile());
    return runWith(sourceEntry);
  }
  int runWith(const FindEntry &listedSource) {
    tu::StdoutCapture out;
    int result = incrementalCopy(src().c_str(), dst().c_str(), listedSource.dwFileAttributes,
                                 &listedSource, &destEntry);
    printed = out.finish();
    return result;
  }

  std::filesystem::path srcFile() const { return dir.path() / "src.log"; }
  std::filesystem::path dstFile() const { return dir.path() / "dst.log"; }
  std::string src() const { return dir.text("src.log"); }
  std::string dst() const { return dir.text("dst.log"); }

  tu::TempDir dir;
  FindEntry sourceEntry{};
  FindEntry destEntry{};
  std::string printed;
};

// A grown source and its older destination whose first byte differs from the source's, so that
// a destination brought up to date incrementally still shows that byte while a full copy would
// not.
struct GrownPair {
  std::string source;
  std::string dest;
};
GrownPair grownPair(size_t destSize, size_t growth) {
  GrownPair pair;
  pair.source = tu::patternBytes(destSize + growth, 7);
  pair.dest = pair.source.substr(0, destSize);
  pair.dest[0] = static_cast<char>(pair.dest[0] ^ 0x55);
  return pair;
}
// What the destination holds after an incremental update of `pair`.
std::string updated(const GrownPair &pair) {
  std::string expected = pair.source;
  expected[0] = pair.dest[0];
  return expected;
}

TEST_F(IncrementalTest, DeclinesBelowTheLeastDestinationSize) {
  GrownPair small = grownPair(32767, 100);
  EXPECT_EQ(run(small.source, small.dest), -1);
  EXPECT_EQ(tu::readFile(dstFile()), small.dest);
  EXPECT_EQ(printed, "");

  GrownPair least = grownPair(32768, 100);
  EXPECT_EQ(run(least.source, least.dest), 1);
  EXPECT_EQ(tu::readFile(dstFile()), updated(least));
  EXPECT_EQ(printed, "\t*");
}

TEST_F(IncrementalTest, DeclinesAShorterSourceEqualSizesAndMissingEntries) {
  std::string bytes = tu::patternBytes(40000, 1);
  EXPECT_EQ(run(bytes.substr(0, 39999), bytes), -1);
  EXPECT_EQ(run(bytes, bytes), -1); // equal sizes without /+h
  EXPECT_EQ(incrementalCopy(src().c_str(), dst().c_str(), 0x20, nullptr, nullptr), -1);
  EXPECT_EQ(incrementalCopy(src().c_str(), dst().c_str(), 0x20, &sourceEntry, nullptr), -1);
  EXPECT_EQ(tu::readFile(dstFile()), bytes);
}

TEST_F(IncrementalTest, GrowthIsCopiedWithTheOverlapByteAcrossChunkBorders) {
  for (size_t growth : {size_t(1), size_t(65535), size_t(65536), size_t(200000)}) {
    GrownPair pair = grownPair(50000, growth);
    EXPECT_EQ(run(pair.source, pair.dest), 1) << growth;
    EXPECT_EQ(tu::readFile(dstFile()), updated(pair)) << growth;
  }
}

TEST_F(IncrementalTest, CopiesTheSourceTimesAndAttributes) {
  GrownPair pair = grownPair(40000, 10);
  tu::writeFile(srcFile(), pair.source);
  tu::writeFile(dstFile(), pair.dest);
  tu::setWriteTicks(srcFile(), 130000000000000000LL);
  ASSERT_EQ(runListed(), 1);
  EXPECT_EQ(tu::writeTicks(dstFile()), 130000000000000000LL);
  EXPECT_EQ(GetFileAttributesA(dst().c_str()), GetFileAttributesA(src().c_str()));
}

// A log that grows while it is copied: the copy ends at the size the listing read and carries
// the times read with that size, so that the source still looks newer than its copy.
TEST_F(IncrementalTest, SourceGrownAfterListingCarriesTheListedTimes) {
  GrownPair pair = grownPair(40000, 10);
  tu::writeFile(srcFile(), pair.source);
  tu::writeFile(dstFile(), pair.dest);
  tu::setWriteTicks(srcFile(), 130000000000000000LL);
  FindEntry listed = tu::findEntry(srcFile());
  destEntry = tu::findEntry(dstFile());
  tu::writeFile(srcFile(), pair.source + "more lines\n");
  tu::setWriteTicks(srcFile(), 131000000000000000LL);

  ASSERT_EQ(runWith(listed), 1);
  EXPECT_EQ(tu::readFile(dstFile()), updated(pair));
  EXPECT_EQ(tu::writeTicks(dstFile()), 130000000000000000LL);
  runState.timeTolerance = DEFAULT_TIME_TOLERANCE;
  EXPECT_TRUE(isNewer(tu::findEntry(srcFile()), tu::findEntry(dstFile())));
}

TEST_F(IncrementalTest, EndOfFileMarkMayDifferInTheLastPositionOnly) {
  GrownPair pair = grownPair(40000, 5000);
  pair.source[39999] = 'q';
  pair.dest[39999] = '\x1A';
  EXPECT_EQ(run(pair.source, pair.dest), 1);
  EXPECT_EQ(tu::readFile(dstFile()), updated(pair)); // the mark is overwritten

  pair.dest[39999] = 'r'; // another byte in the last position
  EXPECT_EQ(run(pair.source, pair.dest), -1);
  EXPECT_EQ(tu::readFile(dstFile()), pair.dest);

  pair.dest[39999] = pair.source[39999];
  pair.dest[39998] = '\x1A'; // one byte earlier, whatever its value
  EXPECT_EQ(run(pair.source, pair.dest), -1);
  EXPECT_EQ(tu::readFile(dstFile()), pair.dest);

  // The window reaches 4,096 bytes back, and no further.
  pair.dest[39998] = pair.source[39998];
  pair.dest[40000 - 4096] ^= 1;
  EXPECT_EQ(run(pair.source, pair.dest), -1);
  pair.dest[40000 - 4096] ^= 1;
  pair.dest[40000 - 4097] ^= 1;
  EXPECT_EQ(run(pair.source, pair.dest), 1);
}

TEST_F(IncrementalTest, HeaderRewriteOfAnUnchangedSize) {
  std::string source = tu::patternBytes(40000, 4);
  std::string dest = source;
  dest[0] ^= 1;
  dest[4095] ^= 1;
  dest[4096] ^= 1; // beyond 4 KiB: stays
  runState.headerSizeKB = 4;
  tu::writeFile(srcFile(), source);
  tu::writeFile(dstFile(), dest);
  tu::setWriteTicks(srcFile(), 129000000000000000LL);
  EXPECT_EQ(runListed(), 1);
  EXPECT_EQ(printed, "\t*");
  std::string expected = source;
  expected[4096] = dest[4096];
  EXPECT_EQ(tu::readFile(dstFile()), expected);
  EXPECT_EQ(tu::writeTicks(dstFile()), 129000000000000000LL);
}

TEST_F(IncrementalTest, HeaderRewriteIsBoundedByTheOldDestinationSize) {
  // 1000 KiB would run past the source's end and fail; only the old 40,000 bytes are rewritten.
  GrownPair pair = grownPair(40000, 10000);
  pair.dest[39000 - 4096] ^= 1;
  runState.headerSizeKB = 1000;
  EXPECT_EQ(run(pair.source, pair.dest), 1);
  EXPECT_EQ(tu::readFile(dstFile()), pair.source);
}

TEST_F(IncrementalTest, SourceShortenedAfterListingStopsWithoutDamage) {
  GrownPair pair = grownPair(40000, 160000);
  tu::writeFile(srcFile(), pair.source);
  tu::writeFile(dstFile(), pair.dest);
  FindEntry listed = tu::findEntry(srcFile());
  destEntry = tu::findEntry(dstFile());

  // Shortened within the first chunk: nothing is written, the destination keeps its length.
  tu::writeFile(srcFile(), pair.source.substr(0, 100000));
  EXPECT_EQ(runWith(listed), 0);
  EXPECT_EQ(GetLastError(), 38u);
  EXPECT_EQ(tu::readFile(dstFile()), pair.dest);

  // Shortened within the second chunk, after a first chunk was appended: that chunk is cut off
  // again, the old last byte and the old time put back.
  tu::setWriteTicks(dstFile(), 130000000000000000LL);
  destEntry = tu::findEntry(dstFile());
  tu::writeFile(srcFile(), pair.source.substr(0, 150000));
  EXPECT_EQ(runWith(listed), 0);
  EXPECT_EQ(GetLastError(), 38u);
  EXPECT_EQ(tu::readFile(dstFile()), pair.dest);
  EXPECT_EQ(tu::writeTicks(dstFile()), 130000000000000000LL);
  EXPECT_EQ(printed, "");
}

// A failure while the head is rewritten cuts the appended tail off again, as a failure at any
// other step does, and puts the old time back, so that the destination still looks older than
// its source and the next run brings it up to date.
TEST_F(IncrementalTest, AFailedHeadRewriteLeavesTheDestinationAsItWas) {
  runState.headerSizeKB = 16;
  GrownPair pair = grownPair(40000, 100000);
  tu::writeFile(srcFile(), pair.source);
  tu::writeFile(dstFile(), pair.dest);
  tu::setWriteTicks(dstFile(), 130000000000000000LL);
  sourceEntry = tu::findEntry(srcFile());
  destEntry = tu::findEntry(dstFile());
  setReadFaultForTest(0, 8192, 1117u); // in the head, read after the tail
  EXPECT_EQ(runWith(sourceEntry), 0);
  setReadFaultForTest(-1, 0, 0);
  EXPECT_EQ(GetLastError(), 1117u);
  EXPECT_TRUE(tu::readFile(dstFile()) == pair.dest);
  EXPECT_EQ(tu::writeTicks(dstFile()), 130000000000000000LL);
  destEntry = tu::findEntry(dstFile());
  EXPECT_EQ(runWith(sourceEntry), 1);
  EXPECT_TRUE(tu::readFile(dstFile()) == pair.source);
}

TEST_F(IncrementalTest, ReadOnlyDestinationWithoutRetryIsAFailure) {
  GrownPair pair = grownPair(40000, 100);
  tu::writeFile(srcFile(), pair.source);
  tu::writeFile(dstFile(), pair.dest);
  ASSERT_TRUE(SetFileAttributesA(dst().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(runListed(), 0);
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_EQ(tu::readFile(dstFile()), pair.dest);
}

TEST_F(IncrementalTest, ProtectedDestinationUnderRetry) {
  runState.includeHidden = true;
  GrownPair pair = grownPair(40000, 100);
  tu::writeFile(srcFile(), pair.source);
  tu::writeFile(dstFile(), pair.dest);
  DWORD protectedWord = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(SetFileAttributesA(dst().c_str(), protectedWord));
  DWORD listedWord = GetFileAttributesA(dst().c_str());

  // A tail that no longer matches: declined, and the destination's own word is put back.
  std::string changedSource = pair.source;
  changedSource[39990] ^= 1;
  tu::writeFile(srcFile(), changedSource);
  EXPECT_EQ(runListed(), -1);
  EXPECT_EQ(GetFileAttributesA(dst().c_str()), listedWord);

  // A matching tail: updated, and the destination carries the source's word afterwards.
  tu::writeFile(srcFile(), pair.source);
  EXPECT_EQ(runListed(), 1);
  EXPECT_EQ(tu::readFile(dstFile()), updated(pair));
  EXPECT_EQ(GetFileAttributesA(dst().c_str()), sourceEntry.dwFileAttributes);
}

// A destination that is not a private file is declined untouched: a file with a second name
// (an older snapshot's), and on POSIX a symbolic link to a file elsewhere, even a protected one
// under /x. The full copy that follows replaces the name alone.
TEST_F(IncrementalTest, DeclinesADestinationThatIsNotPrivate) {
  GrownPair pair = grownPair(40000, 100);
  tu::writeFile(srcFile(), pair.source);
  tu::writeFile(dir.path() / "other.log", pair.dest);
  std::filesystem::create_hard_link(dir.path() / "other.log", dstFile());
  EXPECT_EQ(runListed(), -1);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(tu::readFile(dir.path() / "other.log"), pair.dest);
  std::filesystem::remove(dstFile());
#if !defined(_WIN32)
  runState.includeHidden = true;
  ASSERT_TRUE(SetFileAttributesA(dir.text("other.log").c_str(),
                                 FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  DWORD targetWord = GetFileAttributesA(dir.text("other.log").c_str());
  std::filesystem::create_symlink("other.log", dstFile());
  EXPECT_EQ(runListed(), -1);
  EXPECT_EQ(tu::readFile(dir.path() / "other.log"), pair.dest);
  EXPECT_EQ(GetFileAttributesA(dir.text("other.log").c_str()), targetWord);
#endif
}

} // namespace

#if !defined(_WIN32)
// An update ended midway (the old file, part of its new tail, the time of the interruption)
// carries the mark of the update: the dispatcher judges the pair as the old file, so that /i
// selects it although it looks newer than its source, and the update completes it. Without the
// mark the same file is passed over.
TEST_F(IncrementalTest, AnUpdateEndedMidwayIsCompletedByTheNextRun) {
  GrownPair pair = grownPair(40000, 30000);
  tu::writeFile(srcFile(), pair.source);
  tu::writeFile(dstFile(), pair.dest);
  tu::setWriteTicks(srcFile(), 132000000000000000LL);
  tu::setWriteTicks(dstFile(), 131000000000000000LL);
  int64_t oldTicks = tu::writeTicks(dstFile());
  std::string interrupted = updated(pair).substr(0, 40000 + 12345);
  for (bool marked : {false, true}) {
    tu::writeFile(dstFile(), interrupted); // written just now: newer than its source
    int fd = fsOpen(dst().c_str(), FS_OPEN_UPDATE);
    ASSERT_GE(fd, 0);
    if (marked) {
      ASSERT_TRUE(markUpdate(fd, 40000, oldTicks));
    }
    fsClose(fd);
    runState.incremental = true;
    runState.selectMask = SEL_ABSENT | SEL_NEWER;
    tu::StdoutCapture out;
    int result = handleExisting(src().c_str(), dst().c_str(), FILE_ATTRIBUTE_ARCHIVE,
                                tu::findEntry(srcFile()), tu::findEntry(dstFile()));
    std::string line = out.finish();
    int64_t size = 0, ticks = 0;
    if (!marked) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(tu::readFile(dstFile()), interrupted);
      continue;
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(line, src() + "\t*\n");
    EXPECT_EQ(tu::readFile(dstFile()), updated(pair));
    EXPECT_EQ(tu::writeTicks(dstFile()), tu::writeTicks(srcFile()));
    EXPECT_FALSE(readUpdateMark(dst().c_str(), &size, &ticks)); // done: the mark is gone
  }
}

// A mark left by an update ended after its data and times were complete (the file already has
// its source's contents and last-write time) is not acted on: the pair is unchanged.
TEST_F(IncrementalTest, AMarkOnACompleteDestinationChangesNothing) {
  GrownPair pair = grownPair(40000, 30000);
  tu::writeFile(srcFile(), pair.source);
  tu::writeFile(dstFile(), updated(pair));
  tu::setWriteTicks(srcFile(), 132000000000000000LL);
  tu::setWriteTicks(dstFile(), 132000000000000000LL);
  int fd = fsOpen(dst().c_str(), FS_OPEN_UPDATE);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(markUpdate(fd, 40000, 131000000000000000LL));
  fsClose(fd);
  tu::setWriteTicks(dstFile(), 132000000000000000LL);
  runState.incremental = true;
  runState.selectMask = SEL_ABSENT | SEL_NEWER;
  tu::StdoutCapture out;
  int result = handleExisting(src().c_str(), dst().c_str(), FILE_ATTRIBUTE_ARCHIVE,
                              tu::findEntry(srcFile()), tu::findEntry(dstFile()));
  EXPECT_EQ(out.finish(), "");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(tu::readFile(dstFile()), updated(pair));
}

// A failed update leaves no mark behind: the destination is the old file again.
TEST_F(IncrementalTest, AFailedUpdateLeavesNoMark) {
  GrownPair pair = grownPair(40000, 30000);
  tu::writeFile(srcFile(), pair.source);
  tu::writeFile(dstFile(), pair.dest);
  sourceEntry = tu::findEntry(srcFile());
  destEntry = tu::findEntry(dstFile());
  tu::writeFile(srcFile(), pair.source.substr(0, 50000)); // shortened after it was listed
  EXPECT_EQ(runWith(sourceEntry), 0);
  EXPECT_EQ(tu::readFile(dstFile()), pair.dest);
  int64_t size = 0, ticks = 0;
  EXPECT_FALSE(readUpdateMark(dst().c_str(), &size, &ticks));
}
#endif
