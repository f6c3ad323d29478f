// Errors and their texts, time conversions, the runtime-library file calls, the list file and
// file identity.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "paths/files.h"
#include "paths/fs_helpers.h"
#include "paths/pathtext.h"
#include "paths/runtime.h"
#include "paths/winapi.h"
#include "support/testutil.h"
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "paths/posix_errors.h"
#include "paths/posix_time.h"
#endif

namespace {

class FsErrorsTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }
  void TearDown() override { tu::resetAll(); }
  tu::TempDir dir;
};

std::string messageOf(DWORD code, DWORD *length = nullptr) {
  char buffer[512];
  memset(buffer, 'x', sizeof buffer);
  DWORD n =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer, sizeof buffer, nullptr);
  if (length != nullptr)
    *length = n;
  return n == 0 ? std::string(buffer[0] == '\0' ? "" : "<not emptied>") : std::string(buffer, n);
}

#if !defined(_WIN32)
// The errors a user meets show the Win32 number that the Windows program would show.
TEST_F(FsErrorsTest, ANameTooLongForTheSystemGives206) {
  std::string longName(300, 'n');
  EXPECT_EQ(GetFileAttributesA(dir.text(longName).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_LAST_ERROR(206u);
}

TEST_F(FsErrorsTest, ALinkLoopGives1921) {
  ASSERT_EQ(symlink("loop", (dir.path() / "loop").c_str()), 0);
  EXPECT_EQ(fsOpen(dir.text("loop").c_str(), FS_OPEN_READ), -1);
  EXPECT_LAST_ERROR(1921u);
}

TEST_F(FsErrorsTest, AFileOnThePathGives3) {
  tu::writeFile(dir.path() / "file", "x");
  EXPECT_FALSE(CreateDirectoryA(dir.text("file\\sub").c_str(), nullptr));
  EXPECT_LAST_ERROR(3u);
  EXPECT_EQ(fsOpen(dir.text("file\\inner.txt").c_str(), FS_OPEN_READ), -1);
  EXPECT_LAST_ERROR(3u);
}

TEST_F(FsErrorsTest, AListingOfAMissingDirectoryGives3) {
  EXPECT_EQ(fst::lookupError(dir.text("missing\\*.*")), 3u);
}

TEST_F(FsErrorsTest, ANonEmptyDirectoryGives145) {
  tu::fs::create_directory(dir.path() / "full");
  tu::writeFile(dir.path() / "full" / "a.txt", "a");
  EXPECT_FALSE(RemoveDirectoryA(dir.text("full").c_str()));
  EXPECT_LAST_ERROR(145u);
}

TEST_F(FsErrorsTest, AClosedDescriptorGives6) {
  tu::writeFile(dir.path() / "a.txt", "a");
  int fd = fsOpen(dir.text("a.txt").c_str(), FS_OPEN_READ);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fsClose(fd), 0);
  char byte;
  EXPECT_EQ(fsRead(fd, &byte, 1), -1);
  EXPECT_LAST_ERROR(6u);
}

TEST_F(FsErrorsTest, AWriteToAFullDeviceGives112) {
  int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (fd < 0)
    GTEST_SKIP() << "no /dev/full here";
  EXPECT_EQ(fsWrite(fd, "x", 1), -1);
  EXPECT_LAST_ERROR(112u);
  close(fd);
}

TEST_F(FsErrorsTest, TooManyOpenFilesGives4) {
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  tu::writeFile(dir.path() / "a.txt", "a");
  std::vector<int> held;
  struct rlimit low = saved;
  low.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  for (;;) {
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
      break;
    held.push_back(fd);
  }
  int fd = fsOpen(dir.text("a.txt").c_str(), FS_OPEN_READ);
  DWORD error = GetLastError();
  for (int h : held)
    close(h);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(fd, -1);
  EXPECT_EQ(error, 4u);
}

// An error the table does not name gives its visible default.
TEST_F(FsErrorsTest, AnUnnamedErrnoGivesTheDefault31) {
  EXPECT_EQ(win32ErrorFromErrno(EPROTO), 31u);
  EXPECT_EQ(win32ErrorFromErrno(0), 31u);
}

// Every number the table produces has a text.
TEST_F(FsErrorsTest, EveryMappedNumberHasAText) {
  for (DWORD code : {2u,   3u,   4u,   5u,   8u,   17u,   19u,   31u, 32u, 38u, 87u,
                     112u, 145u, 183u, 206u, 223u, 1117u, 1921u, 18u, 80u, 267u}) {
    DWORD length = 0;
    std::string text = messageOf(code, &length);
    EXPECT_GT(length, 2u) << code;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << code;
  }
}
#endif

TEST_F(FsErrorsTest, MessageTextsAreWindowsEnglishEndedByCrLf) {
#if defined(_WIN32)
  if (tu::underWine())
    GTEST_SKIP() << "Wine's texts differ from Windows' in wording for some numbers";
#endif
  EXPECT_EQ(messageOf(2), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(messageOf(3), "The system cannot find the path specified.\r\n");
  EXPECT_EQ(messageOf(5), "Access is denied.\r\n");
  EXPECT_EQ(messageOf(32),
            "The process cannot access the file because it is being used by another process.\r\n");
  EXPECT_EQ(messageOf(38), "Reached the end of the file.\r\n");
  EXPECT_EQ(messageOf(112), "There is not enough space on the disk.\r\n");
  EXPECT_EQ(messageOf(145), "The directory is not empty.\r\n");
  EXPECT_EQ(messageOf(183), "Cannot create a file when that file already exists.\r\n");
}

TEST_F(FsErrorsTest, NumberWithoutTextGivesZero) {
  DWORD length = 1;
  std::string text = messageOf(0x2FFFFFFFu, &length);
  EXPECT_EQ(length, 0u);
#if !defined(_WIN32)
  EXPECT_EQ(text, ""); // the buffer is emptied (Windows leaves it as it was)
#endif
  char tiny[8] = "xxxxxxx";
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, tiny, sizeof tiny, nullptr),
            0u);
}

SYSTEMTIME calendarOf(uint64_t ticks, BOOL *ok) {
  FILETIME time = {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME out{};
  *ok = FileTimeToSystemTime(&time, &out);
  return out;
}

TEST_F(FsErrorsTest, SystemTimeCoversTheWholeRangeAndRefusesBeyond) {
  BOOL ok = FALSE;
  SYSTEMTIME t = calendarOf(0, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(t.wYear, 1601);
  EXPECT_EQ(t.wMonth, 1);
  EXPECT_EQ(t.wDay, 1);
  EXPECT_EQ(t.wDayOfWeek, 1); // a Monday
  EXPECT_EQ(t.wHour + t.wMinute + t.wSecond + t.wMilliseconds, 0);

  t = calendarOf(116444736000000000ULL, &ok); // the Unix epoch
  ASSERT_TRUE(ok);
  EXPECT_EQ(t.wYear, 1970);
  EXPECT_EQ(t.wMonth, 1);
  EXPECT_EQ(t.wDay, 1);
  EXPECT_EQ(t.wDayOfWeek, 4);

  t = calendarOf(125963012967890000ULL, &ok); // 2000-02-29 12:34:56.789, a Tuesday
  ASSERT_TRUE(ok);
  EXPECT_EQ(t.wYear, 2000);
  EXPECT_EQ(t.wMonth, 2);
  EXPECT_EQ(t.wDay, 29);
  EXPECT_EQ(t.wDayOfWeek, 2);
  EXPECT_EQ(t.wHour, 12);
  EXPECT_EQ(t.wMinute, 34);
  EXPECT_EQ(t.wSecond, 56);
  EXPECT_EQ(t.wMilliseconds, 789);

  t = calendarOf(157520160000000000ULL, &ok); // 2100-03-01: 2100 is no leap year
  ASSERT_TRUE(ok);
  EXPECT_EQ(t.wMonth, 3);
  EXPECT_EQ(t.wDay, 1);
  EXPECT_EQ(t.wDayOfWeek, 1);

  t = calendarOf(0x7FFFFFFFFFFFFFFFULL, &ok); // the last representable time
  ASSERT_TRUE(ok);
  EXPECT_EQ(t.wYear, 30828);
  EXPECT_EQ(t.wMonth, 9);
  EXPECT_EQ(t.wDay, 14);
  EXPECT_EQ(t.wDayOfWeek, 4);
  EXPECT_EQ(t.wHour, 2);
  EXPECT_EQ(t.wMinute, 48);
  EXPECT_EQ(t.wSecond, 5);
  EXPECT_EQ(t.wMilliseconds, 477);

  calendarOf(0x8000000000000000ULL, &ok);
  EXPECT_FALSE(ok);
  calendarOf(0xFFFFFFFFFFFFFFFFULL, &ok); // "before 1601" read as signed
  EXPECT_FALSE(ok);
}

#if !defined(_WIN32)
// Times past the range of ticks saturate instead of overflowing: the far future stays the
// newest, and it has no calendar date.
TEST_F(FsErrorsTest, FarFutureTimesSaturate) {
  EXPECT_EQ(ticksFromUnix(0, 0), EPOCH_DIFF_TICKS);
  EXPECT_EQ(ticksFromUnix(10000000000000LL, 0), TICKS_SATURATED); // 1e13 s, as tmpfs keeps
  EXPECT_EQ(ticksFromUnix(INT64_MAX, 999999999), TICKS_SATURATED);
  EXPECT_EQ(ticksFromUnix(INT64_MIN, 0), INT64_MIN);
  int64_t lastWhole = (INT64_MAX - EPOCH_DIFF_TICKS) / 10000000;
  EXPECT_LT(ticksFromUnix(lastWhole, 0), TICKS_SATURATED);
  EXPECT_EQ(ticksFromUnix(lastWhole + 1, 0), TICKS_SATURATED);
  FILETIME saturated = {0xFFFFFFFFu, 0x7FFFFFFFu};
  FILETIME local{};
  EXPECT_FALSE(FileTimeToLocalFileTime(&saturated, &local)); // whatever the local offset
  EXPECT_LAST_ERROR(ERROR_INVALID_PARAMETER);
}

// The offset in force now is added, as Windows does; out-of-range results fail.
TEST_F(FsErrorsTest, LocalFileTimeAddsTheCurrentOffset) {
  const char *saved = getenv("TZ");
  std::string old = saved != nullptr ? saved : "";
  setenv("TZ", "XXX-2", 1); // two hours east of UTC, no daylight saving
  tzset();
  FILETIME utc = {0x00000000u, 0x01D00000u};
  FILETIME local{};
  EXPECT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(fst::ticksOf(local) - fst::ticksOf(utc), 2 * 3600 * 10000000LL);
  FILETIME last = {0xFFFFFFFFu, 0x7FFFFFFFu};
  EXPECT_FALSE(FileTimeToLocalFileTime(&last, &local));
  setenv("TZ", "XXX+3", 1);
  tzset();
  FILETIME first = {1000u, 0u};
  EXPECT_FALSE(FileTimeToLocalFileTime(&first, &local));
  if (saved != nullptr)
    setenv("TZ", old.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}
#endif

TEST_F(FsErrorsTest, ReadExactReportsAShortFileAs38) {
  tu::writeFile(dir.path() / "short", "12345");
  std::string path = dir.text("short");
  int fd = fsOpen(path.c_str(), FS_OPEN_READ);
  ASSERT_GE(fd, 0);
  char buffer[16];
  EXPECT_TRUE(fsReadExact(fd, buffer, 3));
  EXPECT_EQ(std::string(buffer, 3), "123");
  EXPECT_EQ(fsSeek(fd, 0, FS_SEEK_CUR), 3);
  EXPECT_FALSE(fsReadExact(fd, buffer, 5));
  EXPECT_LAST_ERROR(ERROR_HANDLE_EOF);
  EXPECT_EQ(fsSeek(fd, 1, FS_SEEK_SET), 1);
  EXPECT_EQ(fsRead(fd, buffer, sizeof buffer), 4);
  EXPECT_EQ(fsClose(fd), 0);

  EXPECT_EQ(fsOpen(dir.text("none").c_str(), FS_OPEN_READ), -1);
  EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
}

TEST_F(FsErrorsTest, ReadWriteOpenAppendsInPlace) {
  tu::writeFile(dir.path() / "f", "abc");
  int fd = fsOpen(dir.text("f").c_str(), FS_OPEN_READWRITE);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fsSeek(fd, 0, FS_SEEK_CUR), 0); // never truncated, starts at the beginning
  EXPECT_EQ(fsSeek(fd, 3, FS_SEEK_SET), 3);
  EXPECT_TRUE(fsWriteExact(fd, "def", 3));
  EXPECT_EQ(fsClose(fd), 0);
  EXPECT_EQ(tu::readFile(dir.path() / "f"), "abcdef");
  tu::fs::create_directory(dir.path() / "d");
  EXPECT_EQ(fsOpen(dir.text("d").c_str(), FS_OPEN_READ), -1); // a directory is refused
  EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
}

// An update in place is for a private file only: one name, no link in its place. The probe and
// the open both tell; nothing else is opened.
TEST_F(FsErrorsTest, UpdateOpensOnlyAPrivateFile) {
  tu::writeFile(dir.path() / "f", "abc");
  tu::writeFile(dir.path() / "shared", "abc");
  tu::fs::create_hard_link(dir.path() / "shared", dir.path() / "second");
  tu::fs::create_directory(dir.path() / "d");
  EXPECT_EQ(isPrivateFile(dir.text("f").c_str()), 1);
  int fd = fsOpen(dir.text("f").c_str(), FS_OPEN_UPDATE);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fsSeek(fd, 3, FS_SEEK_SET), 3);
  EXPECT_TRUE(fsWriteExact(fd, "d", 1));
  EXPECT_EQ(fsClose(fd), 0);
  EXPECT_EQ(tu::readFile(dir.path() / "f"), "abcd");
  for (const char *name : {"shared", "second"}) {
    EXPECT_EQ(isPrivateFile(dir.text(name).c_str()), 0) << name;
    EXPECT_EQ(fsOpen(dir.text(name).c_str(), FS_OPEN_UPDATE), -1) << name;
    EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(isPrivateFile(dir.text("d").c_str()), 0);
  EXPECT_EQ(isPrivateFile(dir.text("none").c_str()), -1);
  EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
#if !defined(_WIN32)
  tu::fs::create_symlink("f", dir.path() / "link");
  EXPECT_EQ(isPrivateFile(dir.text("link").c_str()), 0);
  EXPECT_EQ(fsOpen(dir.text("link").c_str(), FS_OPEN_UPDATE), -1);
  EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
#endif
  EXPECT_EQ(tu::readFile(dir.path() / "shared"), "abc");
}

// Every line of a list file as the stream gives it, each with its line feed.
std::vector<std::string> readLines(const std::string &path) {
  std::vector<std::string> lines;
  ListFile *file = listFileOpen(path.c_str());
  EXPECT_NE(file, nullptr);
  if (file == nullptr)
    return lines;
  std::string line;
  for (int c = listFileGetc(file); c != LIST_FILE_END; c = listFileGetc(file)) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    }
  }
  if (!line.empty())
    lines.push_back(line);
  EXPECT_EQ(listFileGetc(file), LIST_FILE_END); // the end stays the end
  listFileClose(file);
  return lines;
}

TEST_F(FsErrorsTest, ListFileDropsCarriageReturnsBeforeLineFeeds) {
  tu::writeFile(dir.path() / "list", "a\r\nb\n\r\nlone\rcr\r\nlast");
  std::string path = dir.text("list");
  EXPECT_EQ(readLines(path), (std::vector<std::string>{"a\n", "b\n", "\n", "lone\rcr\n", "last"}));
  // A CR at the very end stays.
  tu::writeFile(dir.path() / "list2", "abc\r\nxy\r");
  EXPECT_EQ(readLines(dir.text("list2")), (std::vector<std::string>{"abc\n", "xy\r"}));
  EXPECT_EQ(listFileOpen(dir.text("none").c_str()), nullptr);
  EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
}

TEST_F(FsErrorsTest, ListFileEndsAtCtrlZ) {
  tu::writeFile(dir.path() / "list", std::string("one\r\ntwo\r\n\x1A"
                                                 "garbage\r\n"));
  EXPECT_EQ(readLines(dir.text("list")), (std::vector<std::string>{"one\n", "two\n"}));
}

TEST_F(FsErrorsTest, IdentityComparesFilesNotSpellings) {
  tu::writeFile(dir.path() / "a", "x");
  tu::writeFile(dir.path() / "b", "x");
  tu::fs::create_directory(dir.path() / "sub");
  EXPECT_EQ(sameFileIdentity(dir.text("a").c_str(), dir.text("sub\\..\\a").c_str()), 1);
  EXPECT_EQ(sameFileIdentity(dir.text("a").c_str(), dir.text("b").c_str()), 0);
  EXPECT_EQ(sameFileIdentity(dir.text("a").c_str(), dir.text("none").c_str()), -1);
  EXPECT_EQ(sameFileIdentity(dir.text("sub").c_str(), dir.text("sub").c_str()), 1);
}

// The identity of a directory is the same however it is reached (a trailing separator, a dot
// step, a link to it) and differs between two directories.
TEST_F(FsErrorsTest, DirectoryIdentityIsTheDirectoryNotTheSpelling) {
  tu::fs::create_directories(dir.path() / "a" / "inner");
  tu::fs::create_directory(dir.path() / "b");
  FileIdentity a{}, again{}, b{};
  ASSERT_TRUE(readIdentity(dir.text("a").c_str(), &a));
  ASSERT_TRUE(readIdentity(dir.text("a\\inner\\..\\").c_str(), &again));
  ASSERT_TRUE(readIdentity(dir.text("b\\").c_str(), &b));
  EXPECT_TRUE(a == again);
  EXPECT_FALSE(a == b);
#if !defined(_WIN32)
  tu::fs::create_directory_symlink("../a", dir.path() / "b" / "toa");
  FileIdentity link{};
  ASSERT_TRUE(readIdentity(dir.text("b\\toa\\").c_str(), &link));
  EXPECT_TRUE(link == a);
#endif
  EXPECT_FALSE(readIdentity(dir.text("none").c_str(), &b));
  EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(readIdentity(dir.text("none\\deeper").c_str(), &b));
  EXPECT_LAST_ERROR(ERROR_PATH_NOT_FOUND);
}

// A path lies inside a directory when the directory is one of its real ancestors, however it is
// written; the missing rest of the path is placed below its nearest existing ancestor.
TEST_F(FsErrorsTest, WithinDirectoryClimbsTheRealAncestors) {
  tu::fs::create_directories(dir.path() / "src" / "sub");
  tu::fs::create_directory(dir.path() / "other");
  std::string src = dir.text("src");
  EXPECT_EQ(isWithinDirectory(src.c_str(), src.c_str()), 1);
  EXPECT_EQ(isWithinDirectory(dir.text("src\\sub\\").c_str(), src.c_str()), 1);
  EXPECT_EQ(isWithinDirectory(dir.text("src\\new\\deeper").c_str(), src.c_str()), 1);
  EXPECT_EQ(isWithinDirectory(dir.text("other\\..\\src\\sub").c_str(), src.c_str()), 1);
  EXPECT_EQ(isWithinDirectory(dir.text("other").c_str(), src.c_str()), 0);
  EXPECT_EQ(isWithinDirectory(dir.text("srcx").c_str(), src.c_str()), 0);
  EXPECT_EQ(isWithinDirectory(dir.text("").c_str(), src.c_str()), 0); // the parent
  // The missing rest steps up: on POSIX where it lands cannot be told from what exists; Windows
  // takes the steps by text, so the path is the directory's sibling x.
#if defined(_WIN32)
  EXPECT_EQ(isWithinDirectory(dir.text("src\\new\\..\\..\\x").c_str(), src.c_str()), 0);
#else
  EXPECT_EQ(isWithinDirectory(dir.text("src\\new\\..\\..\\x").c_str(), src.c_str()), -1);
#endif
  EXPECT_EQ(isWithinDirectory(src.c_str(), dir.text("none").c_str()), -1);
#if !defined(_WIN32)
  // Through links: to a directory inside, to the directory itself, to one outside.
  tu::fs::create_directory_symlink("src/sub", dir.path() / "tosub");
  tu::fs::create_directory_symlink(dir.path() / "src", dir.path() / "other" / "tosrc");
  tu::fs::create_directory_symlink("../other", dir.path() / "src" / "out");
  EXPECT_EQ(isWithinDirectory(dir.text("tosub").c_str(), src.c_str()), 1);
  EXPECT_EQ(isWithinDirectory(dir.text("tosub\\new\\deeper").c_str(), src.c_str()), 1);
  EXPECT_EQ(isWithinDirectory(dir.text("other\\tosrc").c_str(), src.c_str()), 1);
  EXPECT_EQ(isWithinDirectory(dir.text("src\\out\\x").c_str(), src.c_str()), 0);
#endif
}

#if !defined(_WIN32)
TEST_F(FsErrorsTest, LeadByteTablesFollowTheChosenSet) {
  setLeadByteTable(LEAD_SHIFT_JIS);
  EXPECT_TRUE(isLeadByte(0x81));
  EXPECT_TRUE(isLeadByte(0x9F));
  EXPECT_FALSE(isLeadByte(0xA0));
  EXPECT_TRUE(isLeadByte(0xFC));
  EXPECT_FALSE(isLeadByte(0xFD));
  setLeadByteTable(LEAD_WIDE);
  EXPECT_TRUE(isLeadByte(0xA0));
  EXPECT_TRUE(isLeadByte(0xFE));
  EXPECT_FALSE(isLeadByte(0x80));
  setLeadByteTable(LEAD_NONE);
  EXPECT_FALSE(isLeadByte(0x81));
}

TEST_F(FsErrorsTest, ProgramPathTakesBackslashes) {
  char program[] = "/usr/local/bin/treecopy";
  char *argv[] = {program, nullptr};
  initPlatform(1, argv);
  EXPECT_STREQ(program, "\\usr\\local\\bin\\treecopy");
  setLeadByteTable(LEAD_NONE);
}
#endif

} // namespace
