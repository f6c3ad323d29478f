// Attributes: the stored DOS attributes, the archive rule, read-only through the mode, and the
// Windows refusals that the layer enforces by attribute (for root too).
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "paths/fs_helpers.h"
#include "paths/paths.h"
#include "support/testutil.h"
#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/xattr.h>

#include "paths/posix_layer.h"
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
  // Setting the times (as a copy does) is no content write.
  tu::setWriteTicks(dir.path() / "log.txt", 130000000000000000LL);
  EXPECT_EQ(GetFileAttributesA(path.c_str()) & ARC, 0u);
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

} // namespace
