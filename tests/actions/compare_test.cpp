// Content comparison, the compare action and the verification after a copy.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "actions/actions.h"
#include "state/state.h"
#include "support/testutil.h"
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

class CompareTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }

  // Writes both files and returns the source's entry.
  FindEntry writePair(const std::string &source, const std::string &dest) {
    tu::writeFile(dir.path() / "src.bin", source);
    tu::writeFile(dir.path() / "dst.bin", dest);
    return tu::findEntry(dir.path() / "src.bin");
  }
  std::string src() const { return dir.text("src.bin"); }
  std::string dst() const { return dir.text("dst.bin"); }

  tu::TempDir dir;
};

// An entry that describes a file of `size` bytes without any file behind it.
FindEntry entryOfSize(uint64_t size, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE) {
  FindEntry entry{};
  entry.dwFileAttributes = attributes;
  entry.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  entry.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  return entry;
}

TEST_F(CompareTest, EqualFilesAtChunkBordersCompareEqual) {
  // Around 64 KiB and 256 KiB, the sizes the comparison has read in one piece.
  for (size_t size : {size_t(65536), size_t(65537), size_t(3 * 65536 + 17), size_t(262144),
                      size_t(262145), size_t(3 * 262144 + 17)}) {
    std::string bytes = tu::patternBytes(size, 3);
    FindEntry entry = writePair(bytes, bytes);
    std::strcpy(runState.mismatchDetail, "stale");
    EXPECT_EQ(compareContents(src().c_str(), dst().c_str(), entry), 1) << size;
    EXPECT_STREQ(runState.mismatchDetail, "") << size;
  }
}

TEST_F(CompareTest, DifferenceReportsOffsetAndBothBytes) {
  std::string source = tu::patternBytes(65537, 1);
  source[0] = '\x41';
  source[65536] = '\x0C';

  std::string atSecondChunk = source;
  atSecondChunk[65536] = '\xF3';
  FindEntry entry = writePair(source, atSecondChunk);
  EXPECT_EQ(compareContents(src().c_str(), dst().c_str(), entry), -1);
  EXPECT_STREQ(runState.mismatchDetail, "(0000010000: 0C F3)");

  std::string atStart = source;
  atStart[0] = '\x42';
  entry = writePair(source, atStart);
  EXPECT_EQ(compareContents(src().c_str(), dst().c_str(), entry), -1);
  EXPECT_STREQ(runState.mismatchDetail, "(0000000000: 41 42)");
}

TEST_F(CompareTest, DifferenceAfterTheFirstReadReportsItsOffset) {
  std::string source = tu::patternBytes(3 * 262144 + 5, 2);
  std::string late = source;
  late[262144 + 3] = static_cast<char>(source[262144 + 3] ^ 0x5A);
  FindEntry entry = writePair(source, late);
  EXPECT_EQ(compareContents(src().c_str(), dst().c_str(), entry), -1);
  char expected[40];
  std::snprintf(expected, sizeof expected, "(0000040003: %02X %02X)",
                static_cast<unsigned char>(source[262144 + 3]),
                static_cast<unsigned char>(late[262144 + 3]));
  EXPECT_STREQ(runState.mismatchDetail, expected);
}

// A listed size of 0 is no proof of an empty file (files of /proc and /sys say so and hold
// data): both files are opened and read to their ends.
TEST_F(CompareTest, EmptyFilesAreReadToTheirEnds) {
  FindEntry entry = writePair("", "");
  EXPECT_EQ(compareContents(src().c_str(), dst().c_str(), entry), CONTENT_EQUAL);
  writePair("", "data");
  EXPECT_EQ(compareContents(src().c_str(), dst().c_str(), entry), CONTENT_SHORTER);
  EXPECT_EQ(compareContents(dir.text("none1").c_str(), dir.text("none2").c_str(), entryOfSize(0)),
            CONTENT_FAILED);
  EXPECT_EQ(GetLastError(), 2u);
}

// Files that grew since they were listed are compared to their ends: a pair is equal only when
// both end at the same byte.
TEST_F(CompareTest, AFileThatGrewSinceItWasListedIsNoLongerEqual) {
  FindEntry entry = writePair("same", "same");
  FindEntry listed = entry;
  tu::writeFile(dir.path() / "dst.bin", "same, and more");
  tu::StdoutCapture out;
  EXPECT_EQ(compareOne(src().c_str(), dst().c_str(), 0x20, entry, listed), 1);
  tu::writeFile(dir.path() / "src.bin", "same, and more");
  tu::writeFile(dir.path() / "dst.bin", "same");
  EXPECT_EQ(compareOne(src().c_str(), dst().c_str(), 0x20, entry, listed), 1);
  tu::writeFile(dir.path() / "dst.bin", "same, and MORE");
  EXPECT_EQ(compareOne(src().c_str(), dst().c_str(), 0x20, entry, listed), 1);
  EXPECT_EQ(out.finish(), src() + "\t:shorter\n" + src() + "\t:longer\n" + src() +
                              "\t:mismatch!(000000000A: 6D 4D)\n");
  EXPECT_EQ(runState.unmatchedCount, 3);
  EXPECT_EQ(runState.status, 0u);
}

#if !defined(_WIN32)
// A file of /proc says it holds 0 bytes and yet yields data: compared to its end.
TEST_F(CompareTest, AFileWhoseStatusSaysEmptyIsReadToItsEnd) {
  tu::writeFile(dir.path() / "dst.bin", "");
  const std::string proc = tu::programPath("/proc/sys/kernel/ostype");
  EXPECT_EQ(compareContents(proc.c_str(), dst().c_str(), entryOfSize(0)), CONTENT_LONGER);
}
#endif

TEST_F(CompareTest, MissingSecondFileFailsWithItsError) {
  tu::writeFile(dir.path() / "src.bin", "abc");
  FindEntry entry = tu::findEntry(dir.path() / "src.bin");
  EXPECT_EQ(compareContents(src().c_str(), dir.text("none").c_str(), entry), 0);
  EXPECT_EQ(GetLastError(), 2u);
}

TEST_F(CompareTest, FileShortenedAfterListingFailsWithEndOfFile) {
  std::string bytes = tu::patternBytes(70000, 2);
  FindEntry entry = writePair(bytes, bytes);
  tu::writeFile(dir.path() / "dst.bin", bytes.substr(0, 66000));
  EXPECT_EQ(compareContents(src().c_str(), dst().c_str(), entry), 0);
  EXPECT_EQ(GetLastError(), 38u);

  tu::StdoutCapture out;
  EXPECT_EQ(compareOne(src().c_str(), dst().c_str(), FILE_ATTRIBUTE_ARCHIVE, entry, entry), 0);
  std::string line = out.finish();
  EXPECT_EQ(line.rfind(src() + "\t:error(38) ", 0), 0u) << line;
  EXPECT_EQ(runState.status, ST_COMPARE_FAILED);
  EXPECT_EQ(runState.errorCount, 1);
}

TEST_F(CompareTest, SizeDifferenceComesFromTheListingAlone) {
  // No file exists: the tails must come from the entries without opening anything.
  std::string a = dir.text("none1");
  std::string b = dir.text("none2");
  tu::StdoutCapture out;
  EXPECT_EQ(compareOne(a.c_str(), b.c_str(), 0x20, entryOfSize(10), entryOfSize(9)), 1);
  EXPECT_EQ(compareOne(a.c_str(), b.c_str(), 0x20, entryOfSize(9), entryOfSize(10)), 1);
  EXPECT_EQ(out.finish(), a + "\t:longer\n" + a + "\t:shorter\n");
  EXPECT_EQ(runState.unmatchedCount, 2);
  EXPECT_EQ(runState.errorCount, 0);
  EXPECT_EQ(runState.status, 0u);
}

TEST_F(CompareTest, CompareLinesForEqualAndDifferentContents) {
  FindEntry entry = writePair("same", "same");
  runState.verbose = true;
  runState.depth = 1;
  tu::StdoutCapture out;
  EXPECT_EQ(compareOne(src().c_str(), dst().c_str(), 0x20, entry, entry), 1);
  writePair("abcd", "abXd");
  EXPECT_EQ(compareOne(src().c_str(), dst().c_str(), 0x20, entry, entry), 1);
  EXPECT_EQ(out.finish(), "  " + src() + "\t<--> " + dst() + "\n" + "  " + src() + "\t<--> " +
                              dst() + "\t:mismatch!(0000000002: 63 58)\n");
  EXPECT_EQ(runState.unmatchedCount, 1);
  EXPECT_EQ(runState.status, 0u);
}

// One path text twice is refused without a line; in other letters it is the same path only
// where the file system folds case (on POSIX it names another file).
TEST_F(CompareTest, SamePathTextIsRefusedSilently) {
  FindEntry entry = writePair("x", "x");
  std::string upper = src();
  for (char &c : upper)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  tu::StdoutCapture out;
  EXPECT_EQ(compareOne(src().c_str(), src().c_str(), 0x20, entry, entry), 0);
#if defined(_WIN32)
  EXPECT_EQ(compareOne(src().c_str(), upper.c_str(), 0x20, entry, entry), 0);
  EXPECT_EQ(runState.errorCount, 2);
#else
  EXPECT_EQ(runState.errorCount, 1);
#endif
  EXPECT_EQ(out.finish(), "");
  EXPECT_EQ(runState.status, ST_SAME_PATH);
}

TEST_F(CompareTest, ArchiveFilterAndEchoMode) {
  std::string a = dir.text("none1");
  std::string b = dir.text("none2");
  runState.archiveOnly = true;
  tu::StdoutCapture out;
  EXPECT_EQ(compareOne(a.c_str(), b.c_str(), 0x01, entryOfSize(5), entryOfSize(5)), 0);
  runState.echoOnly = true;
  // Under /e nothing is read, so missing files are simply listed.
  EXPECT_EQ(compareOne(a.c_str(), b.c_str(), 0x20, entryOfSize(5), entryOfSize(5)), 1);
  EXPECT_EQ(out.finish(), a + "\n");
  EXPECT_EQ(runState.errorCount, 0);
  EXPECT_EQ(runState.unmatchedCount, 0);
}

TEST_F(CompareTest, BackupModeClearsArchiveOnlyAfterAnEqualCompare) {
  FindEntry entry = writePair("equal", "equal");
  DWORD before = GetFileAttributesA(src().c_str());
  ASSERT_NE(before & FILE_ATTRIBUTE_ARCHIVE, 0u);
  runState.backupMode = true;
  tu::StdoutCapture out;
  EXPECT_EQ(compareOne(src().c_str(), dst().c_str(), before, entry, entry), 1);
#if !defined(_WIN32) // Wine reports the archive bit on every file, so clearing it never sticks.
  EXPECT_EQ(GetFileAttributesA(src().c_str()) & FILE_ATTRIBUTE_ARCHIVE, 0u);
#endif

  writePair("equal", "EQUAL");
  before = GetFileAttributesA(src().c_str());
  EXPECT_EQ(compareOne(src().c_str(), dst().c_str(), before, entry, entry), 1);
  EXPECT_NE(GetFileAttributesA(src().c_str()) & FILE_ATTRIBUTE_ARCHIVE, 0u);
  EXPECT_EQ(out.finish(), src() + "\n" + src() + "\t:mismatch!(0000000000: 65 45)\n");
}

TEST_F(CompareTest, VerifyPassesSilentlyForAnEqualCopy) {
  writePair("payload", "payload");
  tu::StdoutCapture out;
  EXPECT_EQ(verifyOne(src().c_str(), dst().c_str(), 0x20), 1);
  EXPECT_EQ(out.finish(), "");
  EXPECT_EQ(runState.errorCount, 0);
}

TEST_F(CompareTest, VerifyDifferencesAreCountedFailures) {
  // A destination one byte shorter than its source: the source is longer.
  writePair("abcdef", "abcde");
  tu::StdoutCapture out;
  EXPECT_EQ(verifyOne(src().c_str(), dst().c_str(), 0x20), -1);
  writePair("abcdef", "abcdeF");
  EXPECT_EQ(verifyOne(src().c_str(), dst().c_str(), 0x20), -1);
  EXPECT_EQ(out.finish(), "\t:longer\n\t:mismatch!(0000000005: 66 46)\n");
  EXPECT_EQ(runState.unmatchedCount, 2);
  EXPECT_EQ(runState.errorCount, 2);
  EXPECT_EQ(runState.status, ST_VERIFY_FAILED);
}

TEST_F(CompareTest, VerifyOfAMissingCopyReportsTheLookupError) {
  tu::writeFile(dir.path() / "src.bin", "x");
  tu::StdoutCapture out;
  EXPECT_EQ(verifyOne(src().c_str(), dir.text("none").c_str(), 0x20), 0);
  std::string line = out.finish();
  EXPECT_EQ(line.rfind("\t:error(2) ", 0), 0u) << line;
  EXPECT_EQ(runState.status, ST_VERIFY_FAILED);
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_EQ(runState.unmatchedCount, 0);
}

#if !defined(_WIN32)
// On POSIX a name may hold `?` or `*`: the copy is looked up by its exact name, never as a
// pattern that could find a neighbour of another size first.
TEST_F(CompareTest, VerifyLooksUpTheCopyByItsExactName) {
  tu::writeFile(dir.path() / "a?b", "payload");
  std::filesystem::create_directory(dir.path() / "d");
  tu::writeFile(dir.path() / "d" / "a-b", "a neighbour of another size");
  tu::writeFile(dir.path() / "d" / "a?b", "payload");
  tu::StdoutCapture out;
  EXPECT_EQ(verifyOne(dir.text("a?b").c_str(), dir.text("d\\a?b").c_str(), 0x20), 1);
  EXPECT_EQ(out.finish(), "");
  EXPECT_EQ(runState.errorCount, 0);
}
#endif

#if !defined(_WIN32)
// Under /x a compare refused for access clears a file's protection for one more attempt; the
// file gets back exactly the attributes it had, whatever the outcome. Only an ordinary user is
// refused by permission bits.
TEST_F(CompareTest, RetryUnderXGivesBothFilesBackTheirOwnAttributes) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root reads every file: needs an ordinary user";
  FindEntry entry = writePair("a\n", "a\n");
  chmod((dir.path() / "src.bin").c_str(), 0444);
  chmod((dir.path() / "dst.bin").c_str(), 0000);
  runState.includeHidden = true;
  tu::StdoutCapture out;
  EXPECT_EQ(compareOne(src().c_str(), dst().c_str(), 0x21, entry, entry), 0);
  EXPECT_EQ(out.finish(), src() + "\t:error(5) Access is denied.  \n");
  EXPECT_EQ(runState.status, ST_COMPARE_FAILED);
  struct stat st;
  ASSERT_EQ(stat((dir.path() / "src.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  ASSERT_EQ(stat((dir.path() / "dst.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0000u);
  chmod((dir.path() / "dst.bin").c_str(), 0600);
}
#endif

} // namespace