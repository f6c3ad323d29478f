// The dispatchers and the copy, move and delete actions: item lines, the retry under /x, the
// archive filter, echo mode and the refusals that keep one file from destroying itself.
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "actions/actions.h"
#include "paths/files.h"
#include "paths/runtime.h"
#include "paths/winapi.h"
#include "seams/seams.h"
#include "state/state.h"
#include "support/testutil.h"
#if !defined(_WIN32)
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#endif

namespace {

namespace fs = std::filesystem;

class FileActionsTest : public testing::Test {
protected:
  void SetUp() override {
    tu::resetAll();
    runState.selectMask = SEL_DEFAULT;
  }

  fs::path file(const char *name) const { return dir.path() / name; }
  std::string text(const char *name) const { return dir.text(name); }

  tu::TempDir dir;
};

// The error suffix for access denied. Wine words some system texts differently, so there only
// the number is compared.
std::string accessDeniedLine(const std::string &start) {
#if defined(_WIN32)
  return start + "\t:error(5) ";
#else
  return start + "\t:error(5) Access is denied.  \n";
#endif
}
void expectLine(const std::string &actual, const std::string &expected) {
#if defined(_WIN32)
  EXPECT_EQ(actual.rfind(expected, 0), 0u) << actual;
#else
  EXPECT_EQ(actual, expected);
#endif
}

TEST_F(FileActionsTest, CopyToAnAbsentDestination) {
  tu::writeFile(file("a.txt"), "alpha");
  tu::StdoutCapture out;
  EXPECT_EQ(handleAbsent(text("a.txt").c_str(), text("b.txt").c_str(), 0x20), 1);
  runState.verbose = true;
  runState.depth = 1;
  EXPECT_EQ(handleAbsent(text("a.txt").c_str(), text("c.txt").c_str(), 0x20), 1);
  EXPECT_EQ(out.finish(),
            text("a.txt") + "\n" + "  " + text("a.txt") + "\t--> " + text("c.txt") + "\n");
  EXPECT_EQ(tu::readFile(file("b.txt")), "alpha");
  EXPECT_EQ(tu::readFile(file("c.txt")), "alpha");
  EXPECT_EQ(runState.status, 0u);
}

TEST_F(FileActionsTest, AbsentDestinationDispatch) {
  tu::writeFile(file("a.txt"), "alpha");
  tu::StdoutCapture out;
  runState.selectMask = SEL_NEWER;
  EXPECT_EQ(handleAbsent(text("a.txt").c_str(), text("b.txt").c_str(), 0x20), 0);
  runState.selectMask = SEL_DEFAULT;
  runState.mode = MODE_COMPARE;
  EXPECT_EQ(handleAbsent(text("a.txt").c_str(), text("b.txt").c_str(), 0x20), 0);
  EXPECT_EQ(out.finish(), "");
  EXPECT_FALSE(fs::exists(file("b.txt")));
  EXPECT_EQ(runState.unmatchedCount, 0);
}

TEST_F(FileActionsTest, ReadOnlyDestinationFailsWithoutRetry) {
  tu::writeFile(file("a.txt"), "new");
  tu::writeFile(file("b.txt"), "old");
  ASSERT_TRUE(SetFileAttributesA(text("b.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  FindEntry source = tu::findEntry(file("a.txt"));
  FindEntry dest = tu::findEntry(file("b.txt"));
  tu::StdoutCapture out;
  EXPECT_EQ(copyOne(text("a.txt").c_str(), text("b.txt").c_str(), source.dwFileAttributes, &source,
                    &dest),
            0);
  expectLine(out.finish(), accessDeniedLine(text("a.txt")));
  EXPECT_EQ(runState.status, ST_COPY_FAILED);
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_EQ(tu::readFile(file("b.txt")), "old");
}

TEST_F(FileActionsTest, ReadOnlyDestinationIsReplacedUnderRetry) {
  runState.includeHidden = true;
  tu::writeFile(file("a.txt"), "new");
  tu::writeFile(file("b.txt"), "old");
  ASSERT_TRUE(SetFileAttributesA(text("b.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  FindEntry source = tu::findEntry(file("a.txt"));
  FindEntry dest = tu::findEntry(file("b.txt"));
  tu::StdoutCapture out;
  EXPECT_EQ(handleExisting(text("a.txt").c_str(), text("b.txt").c_str(), source.dwFileAttributes,
                           source, dest),
            1);
  EXPECT_EQ(out.finish(), text("a.txt") + "\n");
  EXPECT_EQ(tu::readFile(file("b.txt")), "new");
  EXPECT_EQ(GetFileAttributesA(text("b.txt").c_str()), source.dwFileAttributes);
  EXPECT_EQ(runState.status, 0u);
}

// The same path text is refused without a line. In other letters it is the same path where the
// file system folds case; on POSIX A.TXT is another file, and the copy is made.
TEST_F(FileActionsTest, SamePathTextIsRefusedSilently) {
  tu::writeFile(file("a.txt"), "keep");
  std::string same = text("a.txt");
  std::string upper = text("A.TXT");
  {
    tu::StdoutCapture out;
    EXPECT_EQ(copyOne(text("a.txt").c_str(), same.c_str(), 0x20, nullptr, nullptr), 0);
    EXPECT_EQ(moveOne(text("a.txt").c_str(), same.c_str(), 0x20, nullptr, nullptr), 0);
    EXPECT_EQ(out.finish(), "");
  }
  EXPECT_EQ(runState.status, ST_SAME_PATH);
  EXPECT_EQ(runState.errorCount, 2);
  tu::StdoutCapture out;
#if defined(_WIN32)
  EXPECT_EQ(copyOne(text("a.txt").c_str(), upper.c_str(), 0x20, nullptr, nullptr), 0);
  EXPECT_EQ(out.finish(), "");
  EXPECT_EQ(runState.errorCount, 3);
#else
  EXPECT_EQ(copyOne(text("a.txt").c_str(), upper.c_str(), 0x20, nullptr, nullptr), 1);
  EXPECT_EQ(out.finish(), text("a.txt") + "\n");
  EXPECT_EQ(tu::readFile(file("A.TXT")), "keep");
  EXPECT_EQ(runState.errorCount, 2);
#endif
  EXPECT_EQ(tu::readFile(file("a.txt")), "keep");
}

TEST_F(FileActionsTest, OneFileUnderTwoSpellingsNeverDestroysItself) {
  tu::writeFile(file("a.txt"), "only copy");
  std::string plain = text("a.txt");
  std::string dotted = text(".\\a.txt");
  FindEntry entry = tu::findEntry(file("a.txt"));
  runState.continueOnError = true;
  tu::StdoutCapture out;
  EXPECT_EQ(handleExisting(plain.c_str(), dotted.c_str(), 0x20, entry, entry), 0);
  runState.mode = MODE_MOVE;
  EXPECT_EQ(handleExisting(plain.c_str(), dotted.c_str(), 0x20, entry, entry), 0);
  std::string lines = out.finish();
  EXPECT_EQ(lines.rfind(plain + "\t:error(32) ", 0), 0u) << lines;
  EXPECT_NE(lines.find("\n" + plain + "\t:error(32) "), std::string::npos) << lines;
  EXPECT_EQ(runState.status, ST_COPY_FAILED | ST_MOVE_FAILED);
  EXPECT_EQ(runState.errorCount, 2);
  EXPECT_EQ(tu::readFile(file("a.txt")), "only copy");
}

TEST_F(FileActionsTest, DeleteWhoseNamesakeIsTheSameFileIsRefused) {
  tu::writeFile(file("a.txt"), "only copy");
  FindEntry entry = tu::findEntry(file("a.txt"));
  runState.mode = MODE_DELETE;
  tu::StdoutCapture out;
  EXPECT_EQ(handleExisting(text("a.txt").c_str(), text(".\\a.txt").c_str(), 0x20, entry, entry), 0);
  EXPECT_EQ(out.finish(), "");
  EXPECT_EQ(runState.status, ST_SAME_PATH);
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_EQ(tu::readFile(file("a.txt")), "only copy");

  // A real second copy lets the delete go ahead (equal times: the pair is selected).
  tu::writeFile(file("b.txt"), "only copy");
  tu::setWriteTicks(file("a.txt"), 130000000000000000LL);
  tu::setWriteTicks(file("b.txt"), 130000000000000000LL);
  runState.status = 0;
  tu::StdoutCapture again;
  EXPECT_EQ(handleExisting(text("a.txt").c_str(), text("b.txt").c_str(), 0x20,
                           tu::findEntry(file("a.txt")), tu::findEntry(file("b.txt"))),
            1);
  EXPECT_EQ(again.finish(), text("a.txt") + "\n");
  EXPECT_FALSE(fs::exists(file("a.txt")));
}

TEST_F(FileActionsTest, MoveOntoAnExistingDestinationCopiesThenDeletes) {
  tu::writeFile(file("a.txt"), "new");
  tu::writeFile(file("b.txt"), "old");
  FindEntry source = tu::findEntry(file("a.txt"));
  FindEntry dest = tu::findEntry(file("b.txt"));
  tu::StdoutCapture out;
  EXPECT_EQ(moveOne(text("a.txt").c_str(), text("b.txt").c_str(), 0x20, &source, &dest), 1);
  EXPECT_EQ(out.finish(), text("a.txt") + "\n");
  EXPECT_FALSE(fs::exists(file("a.txt")));
  EXPECT_EQ(tu::readFile(file("b.txt")), "new");
}

TEST_F(FileActionsTest, MoveOntoAnExistingDestinationKeepsBothWhenTheDeleteFails) {
  // A read-only source copies fine but cannot be deleted without /x; a rename would succeed.
  tu::writeFile(file("a.txt"), "new");
  tu::writeFile(file("b.txt"), "old");
  ASSERT_TRUE(SetFileAttributesA(text("a.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  FindEntry source = tu::findEntry(file("a.txt"));
  FindEntry dest = tu::findEntry(file("b.txt"));
  tu::StdoutCapture out;
  EXPECT_EQ(moveOne(text("a.txt").c_str(), text("b.txt").c_str(), source.dwFileAttributes, &source,
                    &dest),
            0);
  expectLine(out.finish(), accessDeniedLine(text("a.txt")));
  EXPECT_EQ(runState.status, ST_MOVE_FAILED);
  EXPECT_EQ(tu::readFile(file("a.txt")), "new");
  EXPECT_EQ(tu::readFile(file("b.txt")), "new");
}

#if !defined(_WIN32)
// Writes "appeared" to the path it is given, in the middle of a copy.
void createNamesake(void *path) {
  tu::writeFile(*static_cast<fs::path *>(path), "appeared");
}

// A destination looked up as absent was chosen by no rule: a namesake that appears before the
// copy is published is kept, and the copy fails with 80 (under /n as in any other mode).
TEST_F(FileActionsTest, ANamesakeThatAppearsDuringTheCopyIsKept) {
  tu::writeFile(file("a.txt"), "alpha");
  fs::path late = file("b.txt");
  setCopyHookForTest(createNamesake, &late);
  runState.noOverwrite = true;
  runState.selectMask = SEL_ABSENT;
  tu::StdoutCapture out;
  EXPECT_EQ(handleAbsent(text("a.txt").c_str(), text("b.txt").c_str(), 0x20), 0);
  setCopyHookForTest(nullptr, nullptr);
  EXPECT_EQ(out.finish(), text("a.txt") + "\t:error(80) The file exists.  \n");
  EXPECT_EQ(tu::readFile(file("b.txt")), "appeared");
  EXPECT_EQ(runState.status, ST_COPY_FAILED);
}

// Appends to the path it is given, as a program writing a log does, in the middle of a copy.
void appendMeanwhile(void *path) {
  fs::path &file = *static_cast<fs::path *>(path);
  tu::writeFile(file, tu::readFile(file) + " and more");
}

// Puts another file of the same size and last-write time in place of the path it is given, by a
// rename, in the middle of a copy.
void replaceMeanwhile(void *path) {
  fs::path &file = *static_cast<fs::path *>(path);
  int64_t ticks = tu::writeTicks(file);
  fs::path other = file;
  other += ".new";
  tu::writeFile(other, std::string(tu::readFile(file).size(), 'x'));
  tu::setWriteTicks(other, ticks);
  fs::rename(other, file);
}

// A move deletes only the very file it copied, unchanged: a source written to or replaced while
// it was copied stays, the move fails with 32, and the destination holds what was read.
TEST_F(FileActionsTest, AMoveKeepsASourceThatChangedDuringItsCopy) {
  for (void (*change)(void *) : {appendMeanwhile, replaceMeanwhile}) {
    tu::resetAll();
    runState.selectMask = SEL_DEFAULT;
    runState.mode = MODE_MOVE;
    tu::writeFile(file("a.txt"), "new");
    tu::writeFile(file("b.txt"), "old");
    FindEntry source = tu::findEntry(file("a.txt"));
    FindEntry dest = tu::findEntry(file("b.txt"));
    fs::path changing = file("a.txt");
    std::string changed;
    setCopyHookForTest(change, &changing);
    tu::StdoutCapture out;
    EXPECT_EQ(moveOne(text("a.txt").c_str(), text("b.txt").c_str(), source.dwFileAttributes,
                      &source, &dest),
              0);
    setCopyHookForTest(nullptr, nullptr);
    EXPECT_EQ(out.finish(), text("a.txt") + "\t:error(32) The process cannot access the file "
                                            "because it is being used by another process.  \n");
    EXPECT_EQ(tu::readFile(file("a.txt")), change == appendMeanwhile ? "new and more" : "xxx");
    EXPECT_EQ(tu::readFile(file("b.txt")), "new");
    EXPECT_EQ(runState.status, ST_MOVE_FAILED);
  }
}

// A retried copy that fails as well leaves the destination as it was, its protection too. The
// destination is large enough to be judged before any data are copied, so the first attempt is
// refused at once and the hook sees the second alone, which it makes fail.
void failTheCopy(void *) {
  setCopyFaultForTest(0, EIO);
}
TEST_F(FileActionsTest, AFailedRetryGivesTheDestinationItsProtectionBack) {
  runState.includeHidden = true;
  tu::writeFile(file("a.txt"), std::string(2 << 20, 'n'));
  tu::writeFile(file("b.txt"), "old");
  ASSERT_TRUE(SetFileAttributesA(text("b.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  DWORD before = GetFileAttributesA(text("b.txt").c_str());
  FindEntry source = tu::findEntry(file("a.txt"));
  FindEntry dest = tu::findEntry(file("b.txt"));
  setCopyHookForTest(failTheCopy, nullptr);
  tu::StdoutCapture out;
  EXPECT_EQ(handleExisting(text("a.txt").c_str(), text("b.txt").c_str(), source.dwFileAttributes,
                           source, dest),
            0);
  setCopyHookForTest(nullptr, nullptr);
  setCopyFaultForTest(-1, 0);
  out.finish();
  EXPECT_EQ(tu::readFile(file("b.txt")), "old");
  EXPECT_EQ(GetFileAttributesA(text("b.txt").c_str()), before);
  EXPECT_EQ(runState.status, ST_COPY_FAILED);
}

// A move onto an existing destination deletes its source only once the copy has reached the
// disk: a failed flush of the directory that names the copy is a failed move.
TEST_F(FileActionsTest, AMoveWhoseCopyCannotBeFlushedKeepsItsSource) {
  tu::writeFile(file("a.txt"), "new contents");
  tu::writeFile(file("b.txt"), "old");
  FindEntry source = tu::findEntry(file("a.txt"));
  FindEntry dest = tu::findEntry(file("b.txt"));
  runState.mode = MODE_MOVE;
  setFlushFaultForTest(1, EIO);
  tu::StdoutCapture out;
  EXPECT_EQ(moveOne(text("a.txt").c_str(), text("b.txt").c_str(), source.dwFileAttributes, &source,
                    &dest),
            0);
  setFlushFaultForTest(-1, 0);
  EXPECT_EQ(out.finish(), text("a.txt") +
                              "\t:error(1117) The request could not be performed because of an "
                              "I/O device error.  \n");
  EXPECT_EQ(tu::readFile(file("a.txt")), "new contents");
  EXPECT_EQ(runState.status, ST_MOVE_FAILED);
}
#endif

// Within one run a destination file that the run has written is never replaced by another
// source file (80, the source untouched, copy or move); the same source file again is no
// collision.
TEST_F(FileActionsTest, ALaterSourceNeverReplacesWhatTheRunHasWritten) {
  fs::create_directories(file("a"));
  fs::create_directories(file("b"));
  fs::create_directories(file("d"));
  tu::writeFile(file("a") / "x.txt", "A");
  tu::writeFile(file("b") / "x.txt", "BB");
  tu::StdoutCapture out;
  EXPECT_EQ(copyOne(text("a\\x.txt").c_str(), text("d\\x.txt").c_str(), 0x20, nullptr, nullptr), 1);
  FindEntry first = tu::findEntry(file("a") / "x.txt");
  FindEntry second = tu::findEntry(file("b") / "x.txt");
  FindEntry written = tu::findEntry(file("d") / "x.txt");
  EXPECT_EQ(copyOne(text("b\\x.txt").c_str(), text("d\\x.txt").c_str(), 0x20, &second, &written),
            0);
  EXPECT_EQ(runState.status, ST_COPY_FAILED);
  runState.mode = MODE_MOVE;
  EXPECT_EQ(moveOne(text("b\\x.txt").c_str(), text("d\\x.txt").c_str(), 0x20, &second, &written),
            0);
  EXPECT_EQ(runState.status, ST_COPY_FAILED | ST_MOVE_FAILED);
  runState.mode = MODE_COPY;
  EXPECT_EQ(copyOne(text("a\\x.txt").c_str(), text("d\\x.txt").c_str(), 0x20, &first, &written), 1);
  std::string refused = text("b\\x.txt") + "\t:error(80) ";
  std::string shown = out.finish();
  EXPECT_EQ(shown.substr(0, text("a\\x.txt").size() + 1), text("a\\x.txt") + "\n");
  EXPECT_NE(shown.find(refused), std::string::npos) << shown;
  EXPECT_EQ(tu::readFile(file("d") / "x.txt"), "A");
  EXPECT_EQ(tu::readFile(file("b") / "x.txt"), "BB");
  EXPECT_EQ(runState.errorCount, 2);
}

// Past its memory the run takes every destination changed since it stopped remembering for one
// it may have written: refused with 80 (the safe side, the same source too); an older one is
// replaced as before.
TEST_F(FileActionsTest, PastItsMemoryTheRunRefusesDestinationsChangedSinceThen) {
  for (int32_t i = 0; i < WRITTEN_MOST; ++i)
    ASSERT_TRUE(rememberWritten(WrittenFile{7, static_cast<uint64_t>(i) + 1, 7, 0}));
  EXPECT_FALSE(rememberWritten(WrittenFile{7, 1u << 30, 7, 0}));
  EXPECT_TRUE(rememberWritten(WrittenFile{7, 5, 7, 9})); // a known one is updated
  ASSERT_NE(findWritten(7, 5), nullptr);
  EXPECT_EQ(findWritten(7, 5)->sourceIndex, 9u);
  EXPECT_EQ(findWritten(7, 1u << 30), nullptr);
  tu::writeFile(file("a.txt"), "A");
  tu::writeFile(file("b.txt"), "BB");
  tu::StdoutCapture out;
  EXPECT_EQ(copyOne(text("a.txt").c_str(), text("d.txt").c_str(), 0x20, nullptr, nullptr), 1);
  EXPECT_TRUE(writtenFiles.full);
  FindEntry second = tu::findEntry(file("b.txt"));
  FindEntry written = tu::findEntry(file("d.txt"));
  EXPECT_EQ(copyOne(text("b.txt").c_str(), text("d.txt").c_str(), 0x20, &second, &written), 0);
  EXPECT_EQ(tu::readFile(file("d.txt")), "A");
  writtenFiles.fullSince = INT64_MAX; // as though the destination had changed before
  EXPECT_EQ(copyOne(text("b.txt").c_str(), text("d.txt").c_str(), 0x20, &second, &written), 1);
  std::string shown = out.finish();
  EXPECT_NE(shown.find(text("b.txt") + "\t:error(80) "), std::string::npos) << shown;
  EXPECT_EQ(tu::readFile(file("d.txt")), "BB");
  EXPECT_EQ(runState.errorCount, 1);
}

TEST_F(FileActionsTest, MoveToAnAbsentDestinationRenames) {
  tu::writeFile(file("a.txt"), "moved");
  std::error_code ec;
  fs::create_hard_link(file("a.txt"), file("witness"), ec);
  ASSERT_FALSE(ec) << ec.message();
  runState.mode = MODE_MOVE;
  tu::StdoutCapture out;
  EXPECT_EQ(handleAbsent(text("a.txt").c_str(), text("b.txt").c_str(), 0x20), 1);
  EXPECT_EQ(out.finish(), text("a.txt") + "\n");
  EXPECT_FALSE(fs::exists(file("a.txt")));
  // The renamed file is the very file the witness links to, not a copy.
  EXPECT_TRUE(fs::equivalent(file("b.txt"), file("witness")));
}

TEST_F(FileActionsTest, DeleteOfAReadOnlyFile) {
  tu::writeFile(file("a.txt"), "x");
  ASSERT_TRUE(SetFileAttributesA(text("a.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  DWORD word = GetFileAttributesA(text("a.txt").c_str());
  tu::StdoutCapture out;
  EXPECT_EQ(deleteOne(text("a.txt").c_str(), word), 0);
  std::string refused = out.finish();
  expectLine(refused, accessDeniedLine(text("a.txt")));
  EXPECT_EQ(runState.status, ST_DELETE_FAILED);
  EXPECT_EQ(GetFileAttributesA(text("a.txt").c_str()), word);

  runState.includeHidden = true;
  runState.verbose = true;
  runState.depth = 2;
  tu::StdoutCapture again;
  EXPECT_EQ(deleteOne(text("a.txt").c_str(), word), 1);
  EXPECT_EQ(again.finish(), "   " + text("a.txt") + "\n"); // no arrow, even in verbose mode
  EXPECT_FALSE(fs::exists(file("a.txt")));
}

TEST_F(FileActionsTest, EchoListsAndChangesNothing) {
  tu::writeFile(file("a.txt"), "x");
  runState.echoOnly = true;
  runState.verifyCopy = true;
  runState.backupMode = true;
  DWORD word = GetFileAttributesA(text("a.txt").c_str());
  tu::StdoutCapture out;
  EXPECT_EQ(copyOne(text("a.txt").c_str(), text("b.txt").c_str(), word, nullptr, nullptr), 1);
  EXPECT_EQ(moveOne(text("a.txt").c_str(), text("b.txt").c_str(), word, nullptr, nullptr), 1);
  EXPECT_EQ(deleteOne(text("a.txt").c_str(), word), 1);
  std::string line = text("a.txt") + "\n";
  EXPECT_EQ(out.finish(), line + line + line);
  EXPECT_TRUE(fs::exists(file("a.txt")));
  EXPECT_FALSE(fs::exists(file("b.txt")));
  EXPECT_EQ(GetFileAttributesA(text("a.txt").c_str()), word);
}

TEST_F(FileActionsTest, ArchiveFilterSkipsSilently) {
  tu::writeFile(file("a.txt"), "x");
  runState.archiveOnly = true;
  tu::StdoutCapture out;
  EXPECT_EQ(copyOne(text("a.txt").c_str(), text("b.txt").c_str(), FILE_ATTRIBUTE_NORMAL, nullptr,
                    nullptr),
            0);
  EXPECT_EQ(deleteOne(text("a.txt").c_str(), FILE_ATTRIBUTE_NORMAL), 0);
  EXPECT_EQ(out.finish(), "");
  EXPECT_EQ(runState.errorCount, 0);
  EXPECT_TRUE(fs::exists(file("a.txt")));
  EXPECT_FALSE(fs::exists(file("b.txt")));
}

TEST_F(FileActionsTest, BackupModeClearsTheArchiveBitSoASecondRunCopiesNothing) {
  tu::writeFile(file("a.txt"), "data");
  tu::setWriteTicks(file("a.txt"), 130000000000000000LL); // written before any stored attributes
  runState.backupMode = true;
  FindEntry first = tu::findEntry(file("a.txt"));
  ASSERT_NE(first.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE, 0u);
  tu::StdoutCapture out;
  EXPECT_EQ(copyOne(text("a.txt").c_str(), text("b.txt").c_str(), first.dwFileAttributes, nullptr,
                    nullptr),
            1);
  EXPECT_EQ(tu::readFile(file("b.txt")), "data");
#if !defined(_WIN32) // Wine reports the archive bit on every file, so clearing it never sticks.
  FindEntry second = tu::findEntry(file("a.txt"));
  EXPECT_EQ(second.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE, 0u);
  fs::remove(file("b.txt"));
  EXPECT_EQ(copyOne(text("a.txt").c_str(), text("b.txt").c_str(), second.dwFileAttributes, nullptr,
                    nullptr),
            0);
  EXPECT_FALSE(fs::exists(file("b.txt")));
#endif
  EXPECT_EQ(out.finish(), text("a.txt") + "\n");
}

TEST_F(FileActionsTest, IncrementalSuccessSkipsVerifyAndArchiveClearing) {
  std::string source = tu::patternBytes(40000 + 300, 9);
  tu::writeFile(file("a.log"), source);
  tu::writeFile(file("b.log"), source.substr(0, 40000));
  runState.incremental = true;
  runState.verifyCopy = true;
  runState.backupMode = true;
  FindEntry src = tu::findEntry(file("a.log"));
  FindEntry dst = tu::findEntry(file("b.log"));
  tu::StdoutCapture out;
  EXPECT_EQ(copyOne(text("a.log").c_str(), text("b.log").c_str(), src.dwFileAttributes, &src, &dst),
            1);
  EXPECT_EQ(out.finish(), text("a.log") + "\t*\n");
  EXPECT_EQ(tu::readFile(file("b.log")), source);
  EXPECT_NE(GetFileAttributesA(text("a.log").c_str()) & FILE_ATTRIBUTE_ARCHIVE, 0u);
}

TEST_F(FileActionsTest, VerifiedFullCopyEndsItsLinePlainly) {
  tu::writeFile(file("a.txt"), tu::patternBytes(70000, 5));
  runState.verifyCopy = true;
  runState.incremental = true; // absent destination: declined, full copy follows
  tu::StdoutCapture out;
  EXPECT_EQ(copyOne(text("a.txt").c_str(), text("b.txt").c_str(), 0x20, nullptr, nullptr), 1);
  EXPECT_EQ(out.finish(), text("a.txt") + "\n");
  EXPECT_EQ(tu::readFile(file("b.txt")), tu::readFile(file("a.txt")));
  EXPECT_EQ(runState.errorCount, 0);
}

// The names in the test directory, to see that nothing is left under a temporary name.
std::set<std::string> namesIn(const fs::path &path) {
  std::set<std::string> found;
  for (const fs::directory_entry &entry : fs::directory_iterator(path))
    found.insert(entry.path().filename().string());
  return found;
}

// Turns the dropped-write seam off whatever a test does.
struct DropOff {
  ~DropOff() { setCopyDropForTest(-1); }
};

// Under /v a copy is checked before it is published: one whose data were not all stored (a
// write accepted and dropped) is never published, and the old destination stays whole.
TEST_F(FileActionsTest, VerifiedCopyThatDiffersIsNotPublished) {
  const std::string data = tu::patternBytes(70000, 5);
  tu::writeFile(file("a.txt"), data);
  tu::writeFile(file("b.txt"), "the old destination\n");
  tu::setWriteTicks(file("b.txt"), 130000000000000000LL);
  FindEntry src = tu::findEntry(file("a.txt"));
  FindEntry dst = tu::findEntry(file("b.txt"));
  const std::set<std::string> before = namesIn(dir.path());
  runState.verifyCopy = true;
  DropOff off;
  setCopyDropForTest(1000);
  tu::StdoutCapture out;
  EXPECT_EQ(copyOne(text("a.txt").c_str(), text("b.txt").c_str(), 0x20, &src, &dst), 0);
  EXPECT_EQ(out.finish(), text("a.txt") + "\t:longer\n");
  EXPECT_EQ(runState.status, ST_VERIFY_FAILED);
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_EQ(runState.unmatchedCount, 1);
  EXPECT_EQ(tu::readFile(file("b.txt")), "the old destination\n");
  EXPECT_EQ(tu::writeTicks(file("b.txt")), 130000000000000000LL);
  EXPECT_EQ(namesIn(dir.path()), before);

  // A new copy that fails its check leaves no file at all.
  tu::StdoutCapture again;
  EXPECT_EQ(copyOne(text("a.txt").c_str(), text("c.txt").c_str(), 0x20, nullptr, nullptr), 0);
  EXPECT_EQ(again.finish(), text("a.txt") + "\t:longer\n");
  EXPECT_EQ(namesIn(dir.path()), before);
  setCopyDropForTest(-1);
  EXPECT_EQ(copyOne(text("a.txt").c_str(), text("c.txt").c_str(), 0x20, nullptr, nullptr), 1);
  EXPECT_EQ(tu::readFile(file("c.txt")), data);
}

// A verified move onto an older file verifies the copy before it removes the source: a copy
// that fails its check keeps both files as they were.
TEST_F(FileActionsTest, VerifiedMoveThatFailsItsCheckKeepsItsSource) {
  const std::string data = tu::patternBytes(70000, 6);
  tu::writeFile(file("a.txt"), data);
  tu::writeFile(file("b.txt"), "the old destination\n");
  FindEntry src = tu::findEntry(file("a.txt"));
  FindEntry dst = tu::findEntry(file("b.txt"));
  const std::set<std::string> before = namesIn(dir.path());
  runState.mode = MODE_MOVE;
  runState.verifyCopy = true;
  DropOff off;
  setCopyDropForTest(0);
  tu::StdoutCapture out;
  EXPECT_EQ(moveOne(text("a.txt").c_str(), text("b.txt").c_str(), 0x20, &src, &dst), 0);
  EXPECT_EQ(out.finish(), text("a.txt") + "\t:longer\n");
  EXPECT_EQ(runState.status, ST_VERIFY_FAILED);
  EXPECT_EQ(tu::readFile(file("a.txt")), data);
  EXPECT_EQ(tu::readFile(file("b.txt")), "the old destination\n");
  EXPECT_EQ(namesIn(dir.path()), before);
}

// A directory on another file system than the test directory (/dev/shm, reached as Z:\dev\shm
// under Wine), or an empty path where there is none.
fs::path otherFileSystem(const fs::path &here) {
#if defined(_WIN32)
  (void)here;
  fs::path shm = "Z:\\dev\\shm";
  std::error_code ignored;
  return tu::underWine() && fs::is_directory(shm, ignored) ? shm : fs::path();
#else
  struct stat mine, shm;
  if (stat("/dev/shm", &shm) != 0 || stat(here.c_str(), &mine) != 0 || mine.st_dev == shm.st_dev)
    return fs::path();
  return "/dev/shm";
#endif
}

// The same for a move to another file system or volume, where the rename has to copy.
TEST_F(FileActionsTest, VerifiedMoveAcrossFileSystemsThatFailsItsCheckKeepsItsSource) {
  fs::path shm = otherFileSystem(dir.path());
  if (shm.empty())
    GTEST_SKIP() << "no second file system at /dev/shm";
#if defined(_WIN32)
  const unsigned long process = GetCurrentProcessId();
#else
  const unsigned long process = static_cast<unsigned long>(getpid());
#endif
  fs::path other = shm / ("tc-verify-" + std::to_string(process));
  fs::create_directories(other);
  const std::string data = tu::patternBytes(70000, 7);
  tu::writeFile(other / "a.txt", data);
  const std::string source = tu::programPath(other / "a.txt");
  runState.mode = MODE_MOVE;
  runState.verifyCopy = true;
  {
    DropOff off;
    setCopyDropForTest(500);
    tu::StdoutCapture out;
    EXPECT_EQ(moveOne(source.c_str(), text("a.txt").c_str(), 0x20, nullptr, nullptr), 0);
    EXPECT_EQ(out.finish(), source + "\t:longer\n");
  }
  EXPECT_EQ(runState.status, ST_VERIFY_FAILED);
  EXPECT_EQ(tu::readFile(other / "a.txt"), data);
  EXPECT_TRUE(namesIn(dir.path()).empty());
  // Healthy, the verified move goes through.
  tu::StdoutCapture out;
  EXPECT_EQ(moveOne(source.c_str(), text("a.txt").c_str(), 0x20, nullptr, nullptr), 1);
  EXPECT_EQ(out.finish(), source + "\n");
  EXPECT_EQ(tu::readFile(file("a.txt")), data);
  EXPECT_FALSE(fs::exists(other / "a.txt"));
  fs::remove_all(other);
}

#if !defined(_WIN32)
// A destination left by an incremental copy that did not end carries the mark of the size and
// time it had: every selection takes it for that file, whatever its time says now.
TEST_F(FileActionsTest, EverySelectionTakesAnInterruptedUpdateForTheFileItWas) {
  tu::writeFile(file("a.log"), "old part\nnew part\n");
  tu::writeFile(file("b.log"), "old part\nnew");
  const int64_t old = 130000000000000000LL;
  tu::setWriteTicks(file("a.log"), old + 100 * TICKS_PER_SECOND);
  tu::setWriteTicks(file("b.log"), old + 200 * TICKS_PER_SECOND); // the interruption's time
  int fd = fsOpen(text("b.log").c_str(), FS_OPEN_READWRITE);
  ASSERT_GE(fd, 0);
  bool marked = markUpdate(fd, 9, old);
  fsClose(fd);
  int64_t size = 0, ticks = 0;
  if (!marked || !readUpdateMark(text("b.log").c_str(), &size, &ticks))
    GTEST_SKIP() << "no extended attributes here";
  FindEntry src = tu::findEntry(file("a.log"));
  FindEntry dst = tu::findEntry(file("b.log"));
  runState.selectMask = SEL_ABSENT | SEL_NEWER; // /u
  tu::StdoutCapture out;
  EXPECT_EQ(handleExisting(text("a.log").c_str(), text("b.log").c_str(), 0x20, src, dst), 1);
  EXPECT_EQ(out.finish(), text("a.log") + "\n");
  EXPECT_EQ(tu::readFile(file("b.log")), "old part\nnew part\n");
}
#endif

} // namespace