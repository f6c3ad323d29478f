// Destination preparation and source directory upkeep.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "support/testutil.h"
#include "walk/walk.h"

namespace {

namespace fs = std::filesystem;

class DirsTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }
  void TearDown() override { tu::resetAll(); }
  std::string t(const std::string &relative = "") { return tmp.text(relative); }
  tu::TempDir tmp;
};

TEST_F(DirsTest, PrepareDestinationMakesTheChainOutermostFirst) {
  runState.verbose = true;
  const DWORD attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN;
  tu::StdoutCapture capture;
  // Trailing separators, any number of them, are dropped first.
  EXPECT_TRUE(prepareDestination((t("a\\b\\c") + "\\\\").c_str(), attributes));
  EXPECT_EQ(capture.finish(), " createdir(" + t("a") + ")\n createdir(" + t("a\\b") +
                                  ")\n createdir(" + t("a\\b\\c") + ")\n");
  for (const char *name : {"a", "a\\b", "a\\b\\c"}) {
    DWORD got = GetFileAttributesA(t(name).c_str());
    EXPECT_EQ(got & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), attributes) << name;
  }
  EXPECT_EQ(runState.errorCount, 0);

  // An existing directory, and a root, need nothing.
  tu::StdoutCapture again;
  EXPECT_TRUE(prepareDestination(t("a\\b").c_str(), FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(prepareDestination("\\", FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(again.finish(), "");
}

// Under /e nothing is made, yet each directory is listed as made once: it and every directory
// above it then count as existing, and only what lies below them is listed again.
TEST_F(DirsTest, EchoListsEachDirectoryOnce) {
  runState.verbose = true;
  runState.echoOnly = true;
  tu::StdoutCapture capture;
  EXPECT_TRUE(prepareDestination(t("a\\b").c_str(), FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(prepareDestination(t("a\\b").c_str(), FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(prepareDestination(t("a").c_str(), FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(prepareDestination(t("a\\b\\c").c_str(), FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(prepareDestination(t("a\\bc").c_str(), FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(capture.finish(), " createdir(" + t("a") + ")\n createdir(" + t("a\\b") +
                                  ")\n createdir(" + t("a\\b\\c") + ")\n createdir(" + t("a\\bc") +
                                  ")\n");
  EXPECT_FALSE(fs::exists(tmp.path() / "a"));
}

TEST_F(DirsTest, PrepareDestinationRefusesAFileOnTheWay) {
  tu::writeFile(tmp.path() / "f", "data");
  runState.continueOnError = true;
  tu::StdoutCapture capture;
  EXPECT_FALSE(prepareDestination(t("f").c_str(), FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(prepareDestination(t("f\\x\\y").c_str(), FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(capture.finish(), "Destination must be a path.\nDestination must be a path.\n");
  EXPECT_EQ(runState.status, ST_DEST_NOT_DIR);
  EXPECT_EQ(runState.errorCount, 2);
  EXPECT_EQ(tu::readFile(tmp.path() / "f"), "data");
}

TEST_F(DirsTest, MakeDirFailureAndStopRule) {
  // The parent is missing: CreateDirectoryA alone fails with "path not found".
  {
    tu::StdoutCapture capture;
    EXPECT_FALSE(makeDir(t("missing\\x").c_str(), FILE_ATTRIBUTE_DIRECTORY));
    std::string out = capture.finish();
    EXPECT_EQ(out.rfind(t("missing\\x") + "\t:error(3) ", 0), 0u) << out;
  }
  EXPECT_EQ(runState.status, ST_MKDIR_FAILED);
  EXPECT_EQ(runState.errorCount, 1);
  // Once an error has been counted, nothing more is made or printed.
  runState.verbose = true;
  tu::StdoutCapture capture;
  EXPECT_FALSE(makeDir(t("later").c_str(), FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(prepareDestination(t("later\\deeper").c_str(), FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(capture.finish(), "");
  EXPECT_FALSE(fs::exists(tmp.path() / "later"));
}

#if !defined(_WIN32)
// (A UNC name would ask the network on Windows; the rule is the same on both platforms.)
TEST_F(DirsTest, MakeDirPassesOverFailuresUnderDoubleBackslash) {
  runState.verbose = true;
  runState.lineOpen = true;
  tu::StdoutCapture capture;
  EXPECT_TRUE(makeDir("\\\\no-such-server-here\\share\\x", FILE_ATTRIBUTE_DIRECTORY));
  // Nothing at all: not even the end of the open header line or an indentation.
  EXPECT_EQ(capture.finish(), "");
  EXPECT_TRUE(runState.lineOpen);
  EXPECT_EQ(runState.errorCount, 0);
  EXPECT_EQ(runState.status, 0u);
}
#endif

TEST_F(DirsTest, CountEntriesCountsContentOnly) {
  fs::create_directories(tmp.path() / "d" / "sub");
  tu::writeFile(tmp.path() / "d" / "h.txt", "");
  ASSERT_TRUE(SetFileAttributesA(t("d\\h.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
  // Dot entries never count; the hidden file only under /x.
  EXPECT_EQ(countEntries((t("d") + "\\").c_str()), 1);
  runState.includeHidden = true;
  EXPECT_EQ(countEntries((t("d") + "\\").c_str()), 2);
  EXPECT_EQ(countEntries((t("d\\sub") + "\\").c_str()), 0);
  EXPECT_EQ(countEntries((t("nothing") + "\\").c_str()), -1);
}

#if !defined(_WIN32)
// A name of dots other than . and .. is content: a directory that holds only such a file is not
// empty.
TEST_F(DirsTest, CountEntriesCountsNamesMadeOfDots) {
  fs::create_directories(tmp.path() / "d");
  tu::writeFile(tmp.path() / "d" / "...", "precious");
  runState.includeHidden = true; // a dot name is hidden on POSIX
  EXPECT_EQ(countEntries((t("d") + "\\").c_str()), 1);
  runState.mode = MODE_MOVE;
  EXPECT_FALSE(removeSourceDir((t("d") + "\\").c_str()));
  EXPECT_EQ(tu::readFile(tmp.path() / "d" / "..."), "precious");
}
#endif

TEST_F(DirsTest, RemoveSourceDirDropsTheMaskAndKeepsContent) {
  fs::create_directories(tmp.path() / "empty");
  fs::create_directories(tmp.path() / "full");
  tu::writeFile(tmp.path() / "full" / "a.txt", "");
  runState.verbose = true;
  tu::StdoutCapture capture;
  EXPECT_TRUE(removeSourceDir((t("empty") + "\\*.txt").c_str()));
  EXPECT_FALSE(removeSourceDir((t("full") + "\\").c_str()));
  EXPECT_EQ(capture.finish(), " removedir(" + t("empty") + "\\)\n");
  EXPECT_FALSE(fs::exists(tmp.path() / "empty"));
  EXPECT_TRUE(fs::exists(tmp.path() / "full" / "a.txt"));
  EXPECT_EQ(runState.errorCount, 0);
}

// A read-only directory is refused with access denied; /x clears its protection and retries.
TEST_F(DirsTest, RemoveSourceDirRetriesReadOnlyUnderX) {
  const DWORD readOnly = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
  fs::create_directories(tmp.path() / "ro");
  ASSERT_TRUE(SetFileAttributesA(t("ro").c_str(), readOnly));
#if defined(_WIN32)
  // Wine ignores the read-only bit on directories (Windows keeps it): nothing to refuse there.
  if ((GetFileAttributesA(t("ro").c_str()) & FILE_ATTRIBUTE_READONLY) == 0)
    GTEST_SKIP() << "the platform keeps no read-only bit on directories";
#endif
  runState.continueOnError = true;
  {
    tu::StdoutCapture capture;
    EXPECT_FALSE(removeSourceDir((t("ro") + "\\").c_str()));
    std::string out = capture.finish();
    EXPECT_EQ(out.rfind(t("ro") + "\\\t:error(5) ", 0), 0u) << out;
  }
  EXPECT_EQ(runState.status, ST_RMDIR_FAILED);
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_TRUE(fs::is_directory(tmp.path() / "ro"));

  runState.includeHidden = true;
  tu::StdoutCapture capture;
  EXPECT_TRUE(removeSourceDir((t("ro") + "\\").c_str()));
  EXPECT_EQ(capture.finish(), "");
  EXPECT_FALSE(fs::exists(tmp.path() / "ro"));
  EXPECT_EQ(runState.errorCount, 1);
}

} // namespace
