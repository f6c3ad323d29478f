// Attributes: the stored DOS attributes, the archive rule, read-only through the mode, and the
// Windows refusals that the layer enforces by attribute (for root too).
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "paths/files.h"
#include "paths/fs_helpers.h"
#include "paths/retry.h"
#include "paths/runtime.h"
#include "paths/winapi.h"
#include "support/testutil.h"
#if !defined(_WIN32)
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "paths/posix_facts.h"
#endif

namespace {

constexpr DWORD RO = FILE_ATTRIBUTE_READONLY;
constexpr DWORD HID = FILE_ATTRIBUTE_HIDDEN;
constexpr DWORD SYS = FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD ARC = FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD DIR = FILE_ATTRIBUTE_DIRECTORY;

class FsAttrTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }
  void TearDown() override { tu::resetAll(); }
  std::string make(const std::string &name, const std::string &bytes = "data") {
    tu::writeFile(dir.path() / name, bytes);
    return dir.text(name);
  }
  tu::TempDir dir;
};

#if !defined(_WIN32)
uint32_t modeOf(const tu::fs::path &path) {
  struct stat st;
  EXPECT_EQ(stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

std::string storedText(const tu::fs::path &path) {
  char data[64];
  ssize_t length = getxattr(path.c_str(), "user.DOSATTRIB", data, sizeof data);
  return length < 0 ? std::string("<none>") : std::string(data, static_cast<size_t>(length));
}
#endif

TEST_F(FsAttrTest, HiddenSystemArchiveRoundTrip) {
  std::string path = make("f.txt");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), HID | SYS | ARC));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), HID | SYS | ARC);
  EXPECT_EQ(tu::findEntry(dir.path() / "f.txt").dwFileAttributes, HID | SYS | ARC);
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), ARC));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), ARC);
#if !defined(_WIN32)
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), HID | ARC));
  EXPECT_EQ(storedText(dir.path() / "f.txt"), "0x22"); // the text form Samba and Wine read
#endif
}

#if !defined(_WIN32)
// A value written by Samba (with its NUL) or Wine is read back; junk counts as none.
TEST_F(FsAttrTest, ForeignStoredValuesAreRead) {
  std::string path = make("f.txt");
  ASSERT_EQ(setxattr((dir.path() / "f.txt").c_str(), "user.DOSATTRIB", "0x2", 4, 0), 0);
  EXPECT_EQ(GetFileAttributesA(path.c_str()) & (HID | SYS), HID);
  EXPECT_EQ(parseStoredAttributes("0x20", 4), 0x20);
  EXPECT_EQ(parseStoredAttributes("0X6\0junk", 8), 6);
  EXPECT_EQ(parseStoredAttributes("0x", 2), -1);
  EXPECT_EQ(parseStoredAttributes("32", 2), -1);
  EXPECT_EQ(parseStoredAttributes("0x2g", 4), -1);
  EXPECT_EQ(parseStoredAttributes("0x123456789", 11), -1);
}
#endif

TEST_F(FsAttrTest, NormalIsReportedAlone) {
#if defined(_WIN32)
  if (tu::underWine())
    GTEST_SKIP() << "Wine reports archive on every file, so a file is never NORMAL";
#endif
  std::string path = make("plain.txt");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), RO));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), RO); // NORMAL never with another bit
}

TEST_F(FsAttrTest, ArchiveBitComesBackAfterAContentWrite) {
#if defined(_WIN32)
  if (tu::underWine())
    GTEST_SKIP() << "Wine reports archive on every file: clearing it never sticks";
#endif
  std::string path = make("log.txt");
  EXPECT_NE(GetFileAttributesA(path.c_str()) & ARC, 0u); // a new file is archived
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), 0));
  EXPECT_EQ(GetFileAttributesA(path.c_str()) & ARC, 0u);
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), 0));
  {
    std::ofstream out(dir.path() / "log.txt", std::ios::binary | std::ios::app);
    out << "more";
  }
  EXPECT_NE(GetFileAttributesA(path.c_str()) & ARC, 0u);
  EXPECT_NE(tu::findEntry(dir.path() / "log.txt").dwFileAttributes & ARC, 0u);
}

TEST_F(FsAttrTest, ReadOnlyFileGoesThroughTheMode) {
  std::string path = make("ro.txt");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), RO | ARC));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), RO | ARC);
#if !defined(_WIN32)
  EXPECT_EQ(modeOf(dir.path() / "ro.txt") & 0222u, 0u);
  EXPECT_EQ(storedText(dir.path() / "ro.txt"), "<none>"); // nothing else changed
#endif
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), ARC));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), ARC);
#if !defined(_WIN32)
  EXPECT_NE(modeOf(dir.path() / "ro.txt") & 0200u, 0u);
#endif
}

TEST_F(FsAttrTest, ReadOnlyFileRefusesDelete) {
  std::string path = make("ro.txt", "keep");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), RO));
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
  int fd = fsOpen(path.c_str(), FS_OPEN_READ); // reading is fine
  EXPECT_GE(fd, 0);
  if (fd >= 0)
    fsClose(fd);
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), 0));
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST_F(FsAttrTest, ReadOnlyFileRefusesWritesAndOverwrite) {
  std::string path = make("ro.txt", "keep");
  std::string source = make("src.txt", "new");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), RO));
#if defined(_WIN32)
  if (tu::underWine()) {
    int probe = fsOpen(path.c_str(), FS_OPEN_READWRITE);
    if (probe >= 0) {
      fsClose(probe);
      GTEST_SKIP() << "Wine keeps read-only only in the mode bits, which refuse nothing to root";
    }
  }
#endif
  EXPECT_EQ(fsOpen(path.c_str(), FS_OPEN_READWRITE), -1);
  EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(file, INVALID_HANDLE_VALUE);
  EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(fsCopyFile(source.c_str(), path.c_str(), FALSE));
  EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
  EXPECT_EQ(tu::readFile(dir.path() / "ro.txt"), "keep");
}

TEST_F(FsAttrTest, HiddenOrSystemDestinationNeedsAMatchingSource) {
  std::string plain = make("plain.txt", "plain");
  std::string hidden = make("hidden.txt", "hidden");
  std::string target = make("target.txt", "old");
  ASSERT_TRUE(SetFileAttributesA(hidden.c_str(), HID | ARC));
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), HID | ARC));

  EXPECT_FALSE(fsCopyFile(plain.c_str(), target.c_str(), FALSE));
  EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
  EXPECT_EQ(tu::readFile(dir.path() / "target.txt"), "old");
  EXPECT_TRUE(fsCopyFile(hidden.c_str(), target.c_str(), FALSE));
  EXPECT_EQ(tu::readFile(dir.path() / "target.txt"), "hidden");

  ASSERT_TRUE(SetFileAttributesA(target.c_str(), SYS | ARC));
  EXPECT_FALSE(fsCopyFile(hidden.c_str(), target.c_str(), FALSE)); // hidden is not system
  EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
}

TEST_F(FsAttrTest, ReadOnlyDirectoryCanBeFilledButNotRemoved) {
#if defined(_WIN32)
  if (tu::underWine())
    GTEST_SKIP() << "Wine stores only hidden and system: a directory never keeps read-only";
#endif
  tu::fs::create_directory(dir.path() / "d");
  std::string path = dir.text("d");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), DIR | RO));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), DIR | RO);
#if !defined(_WIN32)
  EXPECT_NE(modeOf(dir.path() / "d") & 0200u, 0u); // the mode is never changed
#endif
  tu::writeFile(dir.path() / "d" / "x", "x");
  std::string inside = dir.text("d\\x");
  EXPECT_TRUE(DeleteFileA(inside.c_str()));
  EXPECT_FALSE(RemoveDirectoryA(path.c_str()));
  EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), DIR));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), DIR);
  EXPECT_TRUE(RemoveDirectoryA(path.c_str()));
}

TEST_F(FsAttrTest, MissingPathsGiveTheLookupError) {
  EXPECT_EQ(GetFileAttributesA(dir.text("none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA(dir.text("nodir\\none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_LAST_ERROR(ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(SetFileAttributesA(dir.text("none").c_str(), HID));
  EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
}

#if !defined(_WIN32)
// A dot name stays hidden whatever is stored; the stored hidden bit adds to it.
TEST_F(FsAttrTest, DotNameStaysHiddenOnPosix) {
  std::string path = make(".rc");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), ARC));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), HID | ARC);
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), SYS));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), HID | SYS);
}

// Writing the same attributes again changes nothing on disk (no needless change-time moves).
TEST_F(FsAttrTest, UnchangedAttributesAreNotRewritten) {
  std::string path = make("f.txt");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), ARC));
  EXPECT_EQ(storedText(dir.path() / "f.txt"), "<none>");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), 0));
  EXPECT_EQ(storedText(dir.path() / "f.txt"), "0x0");
}
#endif

#if !defined(_WIN32)
// The places where users keep files: the disk file system of the temporary directory (ext4
// here) and tmpfs. Change times and extended attributes behave differently on each.
std::vector<std::string> testPlaces() {
  std::vector<std::string> places = {tu::fs::temp_directory_path().string()};
  struct stat st;
  if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0)
    places.push_back("/dev/shm");
  return places;
}

// A fresh directory below `base`, removed with everything in it afterwards.
class PlacedDir {
public:
  explicit PlacedDir(const std::string &base) {
    std::string pattern = base + "/tc-attr-XXXXXX";
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~PlacedDir() {
    if (path_.empty())
      return;
    std::error_code ec;
    for (auto &entry : tu::fs::recursive_directory_iterator(path_, ec))
      chmod(entry.path().c_str(), 0755);
    tu::fs::remove_all(path_, ec);
  }
  std::string file(const std::string &name, const std::string &bytes = "data") const {
    tu::writeFile(path_ + "/" + name, bytes);
    return text(name);
  }
  std::string text(const std::string &name) const { return tu::programPath(path_ + "/" + name); }
  std::string sys(const std::string &name) const { return path_ + "/" + name; }
  bool ok() const { return !path_.empty(); }

private:
  std::string path_;
};

void appendTo(const std::string &sys, const std::string &bytes) {
  std::ofstream out(sys, std::ios::binary | std::ios::app);
  out << bytes;
}

// Runs `check` as an ordinary user (nobody) in a child process when the tests run as root;
// true when it held. Files it works on must belong to that user.
bool asOrdinaryUser(const std::function<bool()> &check) {
  if (getuid() != 0)
    return check();
  pid_t child = fork();
  if (child < 0)
    return false;
  if (child == 0)
    _exit(setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0 && check() ? 0
                                                                                            : 1);
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Clearing the archive bit always sticks, on the disk file system too, where storing a value
// equal to the stored one leaves the change time alone: cleared, changed, cleared again.
TEST_F(FsAttrTest, ClearingTheArchiveBitAgainAfterAChangeSticks) {
  for (const std::string &place : testPlaces()) {
    PlacedDir d(place);
    ASSERT_TRUE(d.ok()) << place;
    std::string path = d.file("log.txt");
    for (int round = 0; round < 3; ++round) {
      ASSERT_TRUE(SetFileAttributesA(path.c_str(), 0)) << place;
      EXPECT_EQ(GetFileAttributesA(path.c_str()) & ARC, 0u) << place << " round " << round;
      EXPECT_EQ(tu::findEntry(d.sys("log.txt")).dwFileAttributes & ARC, 0u) << place;
      appendTo(d.sys("log.txt"), "more\n");
      EXPECT_NE(GetFileAttributesA(path.c_str()) & ARC, 0u) << place << " round " << round;
    }
    EXPECT_EQ(storedText(d.sys("log.txt")), "0x0"); // the text Samba and Wine read, as before
  }
}

// Any change of the contents after the archive bit was cleared makes the file archived again,
// whatever last-write time the writer sets (cp -p, tar, rsync -a, a restore), at once or later.
TEST_F(FsAttrTest, ARewriteCarryingAnOlderTimeIsAChange) {
  for (const std::string &place : testPlaces()) {
    PlacedDir d(place);
    ASSERT_TRUE(d.ok()) << place;
    std::string path = d.file("doc.txt", "first version");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), 0));
    ASSERT_EQ(GetFileAttributesA(path.c_str()) & ARC, 0u) << place;
    tu::writeFile(d.sys("doc.txt"), "older version");
    tu::setWriteTicks(d.sys("doc.txt"), 133000000000000000LL); // 2022
    EXPECT_NE(GetFileAttributesA(path.c_str()) & ARC, 0u) << place;
    EXPECT_NE(tu::findEntry(d.sys("doc.txt")).dwFileAttributes & ARC, 0u) << place;
    // Cleared again, then rewritten after a pause, with the same size and an older time.
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), 0));
    ASSERT_EQ(GetFileAttributesA(path.c_str()) & ARC, 0u) << place;
    struct timespec pause = {0, 20000000};
    nanosleep(&pause, nullptr);
    tu::writeFile(d.sys("doc.txt"), "other version");
    tu::setWriteTicks(d.sys("doc.txt"), 133000000000000000LL);
    EXPECT_NE(GetFileAttributesA(path.c_str()) & ARC, 0u) << place;
  }
}

// A value stored by Samba or Wine (no record beside it) is read as before: archived when the
// file was written after it was stored.
TEST_F(FsAttrTest, ForeignValuesKeepTheWrittenAfterStoredRule) {
  std::string path = make("f.txt");
  std::string sys = (dir.path() / "f.txt").string();
  ASSERT_EQ(setxattr(sys.c_str(), "user.DOSATTRIB", "0x0", 3, 0), 0);
  tu::setWriteTicks(dir.path() / "f.txt", 130000000000000000LL);
  EXPECT_EQ(GetFileAttributesA(path.c_str()) & ARC, 0u);
  appendTo(sys, "x");
  EXPECT_NE(GetFileAttributesA(path.c_str()) & ARC, 0u);
  // A record that does not match the file's change time (copied with the file, or stale): archived.
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), 0));
  ASSERT_EQ(setxattr(sys.c_str(), "user.treecopy.clean", "1.000000000", 11, 0), 0);
  EXPECT_NE(GetFileAttributesA(path.c_str()) & ARC, 0u);
}

// One change is all or nothing and reaches only the entry the path names: an ordinary user sets
// read-only and hidden at once, clears the archive bit of a read-only file they own, and a
// change they may not make leaves everything as it was.
TEST_F(FsAttrTest, AnOrdinaryUserChangesAttributesWholly) {
  for (const std::string &place : testPlaces()) {
    PlacedDir d(place);
    ASSERT_TRUE(d.ok()) << place;
    std::string both = d.file("both.txt"), ro = d.file("ro.txt"), foreign = d.file("root.txt");
    ASSERT_TRUE(SetFileAttributesA(ro.c_str(), RO | ARC));
    ASSERT_TRUE(SetFileAttributesA(foreign.c_str(), RO | ARC));
    if (getuid() == 0) {
      ASSERT_EQ(chmod(d.sys("").c_str(), 0777), 0);
      ASSERT_EQ(chown(d.sys("both.txt").c_str(), 65534, 65534), 0);
      ASSERT_EQ(chown(d.sys("ro.txt").c_str(), 65534, 65534), 0);
    }
    EXPECT_TRUE(asOrdinaryUser([&] {
      return SetFileAttributesA(both.c_str(), RO | HID) &&
             GetFileAttributesA(both.c_str()) == (RO | HID) && SetFileAttributesA(ro.c_str(), RO) &&
             GetFileAttributesA(ro.c_str()) == RO &&
             tu::findEntry(d.sys("ro.txt")).dwFileAttributes == RO;
    })) << place;
    EXPECT_EQ(modeOf(d.sys("ro.txt")) & 0222u, 0u); // read-only again after the store
    if (getuid() == 0) {
      EXPECT_TRUE(asOrdinaryUser([&] {
        return !SetFileAttributesA(foreign.c_str(), HID) && GetLastError() == ERROR_ACCESS_DENIED;
      })) << place;
      EXPECT_EQ(GetFileAttributesA(foreign.c_str()), RO | ARC);
      EXPECT_EQ(storedText(d.sys("root.txt")), "<none>");
    }
  }
}

// An ordinary user copies a read-only, hidden file (a copy stores its attributes before the
// read-only mode, which would keep anyone but root from storing them), on the disk file system
// and on tmpfs, plainly and durably; the copies keep both attributes.
TEST_F(FsAttrTest, AnOrdinaryUserCopiesAReadOnlyHiddenFile) {
  for (const std::string &place : testPlaces()) {
    PlacedDir d(place);
    ASSERT_TRUE(d.ok()) << place;
    std::string source = d.file("src.txt", "protected"), copy = d.text("copy.txt"),
                moved = d.text("moved.txt");
    if (getuid() == 0) {
      ASSERT_EQ(chmod(d.sys("").c_str(), 0777), 0);
      ASSERT_EQ(chown(d.sys("src.txt").c_str(), 65534, 65534), 0);
    }
    ASSERT_TRUE(SetFileAttributesA(source.c_str(), RO | HID | ARC));
    EXPECT_TRUE(asOrdinaryUser([&] {
      return fsCopyFile(source.c_str(), copy.c_str(), FALSE) &&
             GetFileAttributesA(copy.c_str()) == (RO | HID | ARC) &&
             copyFileDurably(source.c_str(), moved.c_str()) &&
             GetFileAttributesA(moved.c_str()) == (RO | HID | ARC);
    })) << place;
    EXPECT_EQ(tu::readFile(d.sys("copy.txt")), "protected") << place;
    EXPECT_EQ(modeOf(d.sys("moved.txt")) & 0222u, 0u) << place;
  }
}

// A symbolic link keeps no attributes of its own, and changing it never reaches its target.
TEST_F(FsAttrTest, AttributeChangesNeverFollowALink) {
  std::string target = make("target.txt");
  tu::fs::create_symlink("target.txt", dir.path() / "link");
  std::string link = dir.text("link");
  EXPECT_TRUE(SetFileAttributesA(link.c_str(), RO | HID | SYS));
  EXPECT_EQ(GetFileAttributesA(target.c_str()), ARC);
  EXPECT_NE(modeOf(dir.path() / "target.txt") & 0200u, 0u);
  EXPECT_EQ(storedText(dir.path() / "target.txt"), "<none>");
  EXPECT_EQ(GetFileAttributesA(link.c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | ARC));
  // clearProtection of a link in the way leaves the read-only target as it is.
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), RO | ARC));
  EXPECT_TRUE(clearProtection(link.c_str()));
  EXPECT_EQ(GetFileAttributesA(target.c_str()), RO | ARC);
  // Nor does a link to a directory, named with a trailing separator as directories are.
  tu::fs::create_directory(dir.path() / "d");
  tu::fs::create_directory_symlink("d", dir.path() / "dirlink");
  ASSERT_EQ(chmod((dir.path() / "d").c_str(), 0555), 0);
  EXPECT_TRUE(clearProtection((dir.text("dirlink") + "\\").c_str()));
  EXPECT_EQ(modeOf(dir.path() / "d"), 0555u);
  EXPECT_EQ(GetFileAttributesA((dir.text("dirlink") + "\\").c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | ARC | DIR));
}

// Clearing the read-only attribute of a directory that has it through its mode gives the
// owner's write bit back, so that /x can remove it; setting it still only stores it.
TEST_F(FsAttrTest, ClearingReadOnlyOfADirectoryGivesTheWriteBitBack) {
  tu::fs::create_directory(dir.path() / "d");
  std::string path = dir.text("d");
  ASSERT_EQ(chmod((dir.path() / "d").c_str(), 0555), 0);
  EXPECT_EQ(GetFileAttributesA(path.c_str()), DIR | RO);
  EXPECT_FALSE(RemoveDirectoryA(path.c_str()));
  EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
  EXPECT_TRUE(clearProtection(path.c_str()));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), DIR);
  EXPECT_EQ(modeOf(dir.path() / "d"), 0755u);
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), DIR | RO));
  EXPECT_EQ(modeOf(dir.path() / "d"), 0755u);
  EXPECT_TRUE(clearProtection(path.c_str()));
  EXPECT_TRUE(RemoveDirectoryA(path.c_str()));
}
#endif

} // namespace
