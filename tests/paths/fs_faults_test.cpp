// Faults of the layer itself: the read fault seam that the action tests rely on, a source that
// ends early during a copy, and the temporary files that a killed copy leaves behind.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "paths/fs_helpers.h"
#include "paths/runtime.h"
#include "paths/winapi.h"
#include "seams/seams.h"
#include "support/testutil.h"
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#endif

namespace {

class FsFaultTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }
  void TearDown() override {
    setReadFaultForTest(-1, 0, 0);
#if !defined(_WIN32)
    setCopyFaultForTest(-1, 0);
    setCopyHookForTest(nullptr, nullptr);
    setPublishHookForTest(nullptr, nullptr);
    setAnonymousTempsForTest(true);
#endif
    tu::resetAll();
  }
  // Names in a directory below the test directory other than "." and "..", in byte order.
  std::vector<std::string> names(const std::string &sub = "") {
    std::vector<std::string> found;
    for (const std::string &name : fst::listNames(dir.text(sub.empty() ? "*" : sub + "\\*")))
      if (name != "." && name != "..")
        found.push_back(name);
    std::sort(found.begin(), found.end());
    return found;
  }
  tu::TempDir dir;
};

struct ReadFaultCase {
  const char *name;
  int file;        // which of the two open files the fault is planned for
  int64_t offset;  // where
  DWORD error;     // 0: the file seems to end there
  int64_t faulted; // the position of the read that fails
};

class ReadFaultTest : public FsFaultTest, public testing::WithParamInterface<ReadFaultCase> {};

// Both files are read chunk by chunk as a comparison reads them: the first file's reads before
// the place give the right bytes, the read that starts at the place fails with the planned
// error (38 for a short read), and the other file is never disturbed.
TEST_P(ReadFaultTest, FailsTheReadThatStartsAtThePlace) {
  const ReadFaultCase c = GetParam();
  const unsigned chunk = 65536;
  const std::string data = tu::patternBytes(3 * chunk + 100, 9);
  tu::writeFile(dir.path() / "a", data);
  tu::writeFile(dir.path() / "b", data);
  int fds[2] = {fsOpen(dir.text("a").c_str(), FS_OPEN_READ),
                fsOpen(dir.text("b").c_str(), FS_OPEN_READ)};
  ASSERT_GE(fds[0], 0);
  ASSERT_GE(fds[1], 0);
  setReadFaultForTest(c.file, c.offset, c.error);
  std::string buffer(chunk, '\0');
  int64_t failedAt = -1;
  for (int64_t at = 0; at < static_cast<int64_t>(data.size()) && failedAt < 0; at += chunk) {
    unsigned count = static_cast<unsigned>(std::min<int64_t>(chunk, data.size() - at));
    for (int f = 0; f < 2; ++f) {
      if (!fsReadExact(fds[f], buffer.data(), count)) {
        EXPECT_EQ(f, c.file);
        EXPECT_LAST_ERROR(c.error != 0 ? c.error : 38u);
        failedAt = fsSeek(fds[f], 0, FS_SEEK_CUR);
        break;
      }
      EXPECT_TRUE(buffer.compare(0, count, data, static_cast<size_t>(at), count) == 0) << at;
    }
  }
  EXPECT_EQ(failedAt, c.faulted);
  fsClose(fds[0]);
  fsClose(fds[1]);
}

const ReadFaultCase READ_FAULTS[] = {
    {"IoErrorAtTheStart", 0, 0, 1117, 0},
    {"IoErrorInTheMiddle", 0, 100000, 1117, 100000},
    {"IoErrorAtTheLastByte", 0, 3 * 65536 + 99, 1117, 3 * 65536 + 99},
    {"ShortReadAtTheStart", 0, 0, 0, 0},
    {"ShortReadInTheMiddle", 0, 100000, 0, 100000},
    {"ShortReadAtTheLastByte", 0, 3 * 65536 + 99, 0, 3 * 65536 + 99},
    {"IoErrorOfTheSecondFile", 1, 70000, 1117, 70000},
    {"ShortReadOfTheSecondFile", 1, 65536, 0, 65536},
};

INSTANTIATE_TEST_SUITE_P(Seam, ReadFaultTest, testing::ValuesIn(READ_FAULTS),
                         [](const testing::TestParamInfo<ReadFaultCase> &info) {
                           return std::string(info.param.name);
                         });

#if !defined(_WIN32)
// Shortens the file at the path it is given, in the middle of a copy.
void shorten(void *path) {
  tu::writeFile(*static_cast<std::string *>(path), "cut");
}

// A source shortened while it is copied is a failed copy (38), on every data path (clone,
// kernel copy, reads), not a shortened copy that looks whole: the destination keeps its old
// contents and nothing is left.
TEST_F(FsFaultTest, ASourceShortenedDuringTheCopyFailsWithEndOfFile) {
  for (bool planned : {false, true}) {
    tu::writeFile(dir.path() / "src", tu::patternBytes(3 << 20, 2));
    tu::writeFile(dir.path() / "dst", "old");
    std::string path = (dir.path() / "src").string();
    if (planned)
      setCopyFaultForTest(1 << 20, 0); // the seam's short read, at 1 MiB
    else
      setCopyHookForTest(shorten, &path);
    EXPECT_FALSE(CopyFileA(dir.text("src").c_str(), dir.text("dst").c_str(), FALSE));
    EXPECT_LAST_ERROR(ERROR_HANDLE_EOF);
    EXPECT_EQ(tu::readFile(dir.path() / "dst"), "old");
    EXPECT_EQ(names(), (std::vector<std::string>{"dst", "src"}));
    setCopyFaultForTest(-1, 0);
    setCopyHookForTest(nullptr, nullptr);
  }
}

// Runs `copy` in a child process that ends (as if killed) at the moment a copy's data have their
// hidden temporary name, before the rename; gives the child's process number.
void endHere(void *) {
  _exit(0);
}
pid_t copyKilledBeforeTheRename(const std::string &src, const std::string &dst) {
  fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    setPublishHookForTest(endHere, nullptr);
    CopyFileA(src.c_str(), dst.c_str(), FALSE);
    _exit(1); // the hook was never reached
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  return child;
}

std::string tempNameOf(pid_t pid, unsigned counter) {
  char name[64];
  snprintf(name, sizeof name, ".tc%x-%x.tmp", static_cast<unsigned>(pid), counter);
  return name;
}

// A copy killed between naming its complete data and the rename over the destination leaves
// the old destination whole and a full-size temporary file; the next copy that needs a
// temporary name in that directory removes it, with anonymous and with named temporaries.
TEST_F(FsFaultTest, TheLeftoverOfAKilledCopyIsRemovedByTheNextCopyThere) {
  for (bool anonymous : {true, false}) {
    setAnonymousTempsForTest(anonymous);
    // A directory of its own for each kind: a run looks for leftovers once per directory.
    const std::string sub = anonymous ? "anonymous" : "named";
    tu::fs::create_directory(dir.path() / sub);
    const tu::fs::path here = dir.path() / sub;
    const std::string data = tu::patternBytes(200000, 4);
    tu::writeFile(here / "src", data);
    tu::writeFile(here / "dst", "old");
    pid_t child = copyKilledBeforeTheRename(dir.text(sub + "\\src"), dir.text(sub + "\\dst"));
    EXPECT_EQ(tu::readFile(here / "dst"), "old");
    std::vector<std::string> left = names(sub);
    ASSERT_EQ(left.size(), 3u);
    const std::string leftover = left[0];
    const std::string prefix = tempNameOf(child, 0).substr(0, tempNameOf(child, 0).find('-') + 1);
    EXPECT_EQ(leftover.compare(0, prefix.size(), prefix), 0) << leftover;
    EXPECT_TRUE(tu::readFile(here / leftover) == data);

    // Another copy over a file of the same directory clears the leftover.
    tu::writeFile(here / "other", "old other");
    ASSERT_TRUE(
        CopyFileA(dir.text(sub + "\\src").c_str(), dir.text(sub + "\\other").c_str(), FALSE));
    EXPECT_EQ(names(sub), (std::vector<std::string>{"dst", "other", "src"})) << sub;
    EXPECT_EQ(tu::readFile(here / "dst"), "old");
  }
}

// A copy ended by SIGTERM, SIGINT or SIGHUP while its data have their hidden temporary name
// removes that name before the process ends as the signal says; the old destination is whole.
void signalHere(void *context) {
  raise(*static_cast<int *>(context));
}
TEST_F(FsFaultTest, ACopyEndedByASignalLeavesNoTemporaryFile) {
  for (bool anonymous : {true, false}) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
      setAnonymousTempsForTest(anonymous);
      const std::string sub = std::string(anonymous ? "anonymous" : "named") + std::to_string(sig);
      tu::fs::create_directory(dir.path() / sub);
      tu::writeFile(dir.path() / sub / "src", "new data");
      tu::writeFile(dir.path() / sub / "dst", "old");
      fflush(nullptr);
      pid_t child = fork();
      if (child == 0) {
        setPublishHookForTest(signalHere, &sig);
        CopyFileA(dir.text(sub + "\\src").c_str(), dir.text(sub + "\\dst").c_str(), FALSE);
        _exit(1); // the hook was never reached, or the signal did not end the process
      }
      int status = 0;
      waitpid(child, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sub << " " << status;
      EXPECT_EQ(tu::readFile(dir.path() / sub / "dst"), "old") << sub;
      EXPECT_EQ(names(sub), (std::vector<std::string>{"dst", "src"})) << sub;
    }
  }
}

// Only leftovers are removed: a temporary name whose process runs (this one's parent, say), a
// file of a dead process that someone holds locked (a writer of another pid namespace), and
// names that only look like ours stay.
TEST_F(FsFaultTest, ATemporaryFileThatMayBeInUseIsKept) {
  std::string running = tempNameOf(getppid(), 7);
  std::string locked = tempNameOf(0x3FFFFFF0, 1); // no such process
  std::vector<std::string> others = {".tc12-3.tmp.bak", ".tcxyz-1.tmp", ".tc12-.tmp", "tc12-3.tmp",
                                     ".tc12-3.TMP"};
  tu::writeFile(dir.path() / running, "a writer's");
  tu::writeFile(dir.path() / locked, "locked");
  for (const std::string &name : others)
    tu::writeFile(dir.path() / name, "not ours");
  std::string dead = tempNameOf(0x3FFFFFF1, 2);
  tu::writeFile(dir.path() / dead, "left over");
  int holder = open((dir.path() / locked).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);

  tu::writeFile(dir.path() / "src", "new");
  tu::writeFile(dir.path() / "dst", "old");
  ASSERT_TRUE(CopyFileA(dir.text("src").c_str(), dir.text("dst").c_str(), FALSE));
  close(holder);
  std::vector<std::string> expected = others;
  expected.insert(expected.end(), {locked, running, "dst", "src"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names(), expected); // `dead` is gone
}
#endif

} // namespace
