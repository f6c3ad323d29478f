// The system seam of the POSIX backend: the Linux fast paths where they are built, the portable
// answers otherwise. Tests of a fast path skip themselves in the portable build.
#if !defined(_WIN32)
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "paths/posix_sys.h"
#include "seams/seams.h"
#include "support/testutil.h"

namespace {

class FsSeamTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }
  void TearDown() override { tu::resetAll(); }
  std::string path(const std::string &name) { return (dir.path() / name).string(); }
  tu::TempDir dir;
};

bool collect(void *context, const char *name, size_t length) {
  EXPECT_EQ(std::strlen(name), length);
  return static_cast<std::set<std::string> *>(context)->insert(name).second;
}

bool refuseSecond(void *context, const char *, size_t) {
  return ++*static_cast<int *>(context) < 2;
}

TEST_F(FsSeamTest, ReadingADirectoryHandsOutEveryNameOnce) {
  for (const char *name : {"a", "b.txt", ".hidden"})
    tu::writeFile(dir.path() / name, name);
  int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::set<std::string> names;
  EXPECT_EQ(sysReadNames(fd, collect, &names), 0);
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "a", "b.txt", ".hidden"}));
  // The descriptor stays usable: names are looked up relative to it afterwards.
  SysStat st;
  EXPECT_EQ(sysStatAt(fd, "b.txt", false, &st), 0);
  EXPECT_EQ(st.size, 5u);
  close(fd);
  fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  int seen = 0;
  EXPECT_EQ(sysReadNames(fd, refuseSecond, &seen), ENOMEM);
  close(fd);
}

TEST_F(FsSeamTest, StatusFollowsALinkOnlyWhenAsked) {
  tu::writeFile(dir.path() / "target", "12345");
  ASSERT_EQ(symlink("target", path("link").c_str()), 0);
  SysStat own, target;
  ASSERT_EQ(sysStatAt(AT_FDCWD, path("link").c_str(), false, &own), 0);
  ASSERT_EQ(sysStatAt(AT_FDCWD, path("link").c_str(), true, &target), 0);
  EXPECT_TRUE(S_ISLNK(own.mode));
  EXPECT_TRUE(S_ISREG(target.mode));
  EXPECT_EQ(target.size, 5u);
  struct stat st;
  ASSERT_EQ(stat(path("target").c_str(), &st), 0);
  EXPECT_EQ(target.dev, static_cast<uint64_t>(st.st_dev));
  EXPECT_EQ(target.ino, static_cast<uint64_t>(st.st_ino));
  EXPECT_EQ(target.mtime.sec, static_cast<int64_t>(st.st_mtim.tv_sec));
  EXPECT_EQ(target.mtime.nsec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
  int fd = open(path("target").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  SysStat byFd;
  EXPECT_EQ(sysStatFd(fd, &byFd), 0);
  close(fd);
  EXPECT_EQ(byFd.ino, target.ino);
  EXPECT_TRUE(byFd.ctime == target.ctime);
  EXPECT_EQ(sysStatAt(AT_FDCWD, path("missing").c_str(), true, &own), ENOENT);
}

TEST_F(FsSeamTest, TheStampFloorIsNeverAheadOfTheRealClock) {
  SysTime floor;
  sysStampFloor(&floor);
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  EXPECT_FALSE(laterThan(floor, SysTime{now.tv_sec, static_cast<uint32_t>(now.tv_nsec)}));
}

TEST_F(FsSeamTest, ARenameThatCannotReplaceRefusesOrLeavesItToTheCaller) {
  tu::writeFile(dir.path() / "from", "new");
  tu::writeFile(dir.path() / "to", "old");
  int err = sysRenameNoReplace(path("from").c_str(), path("to").c_str());
#if defined(TREECOPY_PORTABLE_POSIX)
  EXPECT_EQ(err, ENOSYS); // the caller links and unlinks instead
#else
  EXPECT_EQ(err, EEXIST);
  EXPECT_EQ(sysRenameNoReplace(path("from").c_str(), path("new").c_str()), 0);
  EXPECT_EQ(tu::readFile(dir.path() / "new"), "new");
#endif
  EXPECT_EQ(tu::readFile(dir.path() / "to"), "old");
}

TEST_F(FsSeamTest, AnAnonymousFileGetsItsNameOnlyWhenLinkedOnLinux) {
#if defined(TREECOPY_PORTABLE_POSIX)
  GTEST_SKIP() << "the portable build has no anonymous files (O_TMPFILE): copies start under a "
                  "hidden temporary name there";
#else
  int fd = sysOpenAnonymous(dir.path().c_str(), 0644);
  if (fd < 0 && errno == EOPNOTSUPP)
    GTEST_SKIP() << "this file system has no anonymous files";
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "data", 4), 4);
  EXPECT_EQ(tu::fs::directory_iterator(dir.path()), tu::fs::directory_iterator());
  EXPECT_EQ(sysLinkAnonymous(fd, path("named").c_str()), 0);
  tu::writeFile(dir.path() / "taken", "x");
  EXPECT_EQ(sysLinkAnonymous(fd, path("taken").c_str()), EEXIST);
  close(fd);
  EXPECT_EQ(tu::readFile(dir.path() / "named"), "data");
  EXPECT_EQ(tu::readFile(dir.path() / "taken"), "x");
#endif
}

TEST_F(FsSeamTest, TheKernelCopiesDataItselfOnLinux) {
#if defined(TREECOPY_PORTABLE_POSIX)
  GTEST_SKIP() << "the portable build copies by reading and writing (no copy_file_range)";
#else
  std::string data = tu::patternBytes(300000, 5);
  tu::writeFile(dir.path() / "in", data);
  int in = open(path("in").c_str(), O_RDONLY | O_CLOEXEC);
  int out = open(path("out").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  ASSERT_GE(in, 0);
  ASSERT_GE(out, 0);
  struct stat st;
  ASSERT_EQ(fstat(in, &st), 0);
  sysForgetCopyRefusalsForTest(); // an earlier copy to another file system may have refused it
  uint64_t device = static_cast<uint64_t>(st.st_dev);
  bool kernelCopied = sysCloneFile(in, out, device);
  if (!kernelCopied) {
    // Pieces of a third, so that the positions must move on between them.
    size_t copied = 0;
    while (copied < data.size()) {
      long n = sysCopyRange(in, out, 100000, device, copied == 0);
      ASSERT_GE(n, 0) << strerror(errno);
      if (n == 0)
        break;
      copied += static_cast<size_t>(n);
    }
    kernelCopied = copied == data.size();
    // Past the end, the kernel's copy says so with 0.
    EXPECT_EQ(sysCopyRange(in, out, 100000, device, false), 0);
  }
  close(in);
  close(out);
  ASSERT_TRUE(kernelCopied) << "neither a clone nor copy_file_range worked here";
  EXPECT_EQ(tu::readFile(dir.path() / "out"), data);
#endif
}

} // namespace
#endif
