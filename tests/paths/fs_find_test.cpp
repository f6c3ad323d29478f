// Directory enumeration: wildcard rules, listing order, last-component normalization, "." and
// "..", exact lookups, and what each entry carries.
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "paths/files.h"
#include "paths/fs_helpers.h"
#include "paths/lookup.h"
#include "paths/pathtext.h"
#include "paths/runtime.h"
#include "paths/winapi.h"
#include "support/testutil.h"
#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "paths/posix_names.h"
#endif

namespace {

using Names = std::vector<std::string>;

class FsFindTest : public testing::Test {
protected:
  void SetUp() override {
    tu::resetAll();
    for (const char *name : {"beta", "Alpha", "Zed", "zulu", "_under", "noext", "noext.txt", "foo",
                             "f.o", "fooo", "a.b.c"})
      tu::writeFile(dir.path() / name, name);
    tu::fs::create_directory(dir.path() / "sub");
  }
  void TearDown() override { tu::resetAll(); }
  tu::TempDir dir;
};

TEST_F(FsFindTest, StarListsDotEntriesFirstThenFoldedByteOrder) {
  Names all = {".",    "..",    "a.b.c",     "Alpha", "beta", "f.o",  "foo",
               "fooo", "noext", "noext.txt", "sub",   "Zed",  "zulu", "_under"};
  EXPECT_EQ(fst::listNames(dir.text("*")), all);
  // `*.*` matches every name; `*.` means `*`.
  EXPECT_EQ(fst::listNames(dir.text("*.*")), all);
  EXPECT_EQ(fst::listNames(dir.text("*.")), all);
}

TEST_F(FsFindTest, DotEntriesAppearInsideSubdirectoriesToo) {
  EXPECT_EQ(fst::listNames(dir.text("sub\\*")), (Names{".", ".."}));
  EXPECT_EQ(fst::listNames(dir.text("sub\\*.*")), (Names{".", ".."}));
  DWORD error = 0;
  EXPECT_TRUE(fst::listNames(dir.text("sub\\*.txt"), &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FsFindTest, ASearchEndedAfterItsFirstEntryLeavesTheNextOnesWhole) {
  // Only the first entry asked for, as an existence test asks: "." of the directory.
  FindEntry entry{};
  HANDLE search = FindFirstFileA(dir.text("*").c_str(), &entry);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(entry.cFileName, ".");
  EXPECT_NE(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  FindClose(search);
  // The searches after it, on records the first one gave back, hand out each entry once.
  EXPECT_EQ(fst::listNames(dir.text("*.txt")), (Names{"noext.txt"}));
  EXPECT_EQ(fst::listNames(dir.text(".*")), (Names{".", ".."}));
  EXPECT_EQ(fst::listNames(dir.text("sub\\*")), (Names{".", ".."}));
  tu::writeFile(dir.path() / "sub" / ".hidden", "");
  EXPECT_EQ(fst::listNames(dir.text("sub\\.*")), (Names{".", "..", ".hidden"}));
}

TEST_F(FsFindTest, QuestionMarkTakesExactlyOneCharacterADotIncluded) {
  EXPECT_EQ(fst::listNames(dir.text("f?o")), (Names{"f.o", "foo"}));
  EXPECT_EQ(fst::listNames(dir.text("fo?o")), (Names{"fooo"}));
}

TEST_F(FsFindTest, DotStarSuffixAlsoMatchesNamesWithoutDot) {
  EXPECT_EQ(fst::listNames(dir.text("noext.*")), (Names{"noext", "noext.txt"}));
  EXPECT_EQ(fst::listNames(dir.text("*.txt")), (Names{"noext.txt"}));
  EXPECT_EQ(fst::listNames(dir.text("a.*")), (Names{"a.b.c"}));
}

TEST_F(FsFindTest, MatchingFoldsAsciiLetters) {
  EXPECT_EQ(fst::listNames(dir.text("ALPHA*")), (Names{"Alpha"}));
  EXPECT_EQ(fst::listNames(dir.text("z*")), (Names{"Zed", "zulu"}));
  EXPECT_EQ(fst::listNames(dir.text("*O")), (Names{"f.o", "foo", "fooo"}));
}

TEST_F(FsFindTest, TrailingDotsAndSpacesOfTheLastComponentAreDropped) {
  EXPECT_EQ(fst::listNames(dir.text("beta.")), (Names{"beta"}));
  EXPECT_EQ(fst::listNames(dir.text("beta ")), (Names{"beta"}));
  EXPECT_EQ(fst::listNames(dir.text("beta. .")), (Names{"beta"}));
  EXPECT_EQ(fst::listNames(dir.text("z*.")), (Names{"Zed", "zulu"}));
}

TEST_F(FsFindTest, DotAndDotDotNameTheDirectoryTheyLeadTo) {
  FindEntry entry = tu::findEntry(dir.path() / "sub" / ".");
  EXPECT_STREQ(entry.cFileName, "sub");
  EXPECT_NE(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(fst::listNames(dir.text("sub\\..")), (Names{dir.path().filename().string()}));
  EXPECT_EQ(fst::listNames(dir.text("sub\\..\\sub\\.")), (Names{"sub"}));
}

TEST_F(FsFindTest, MissingEntryGives2AndMissingDirectoryGives3) {
  EXPECT_EQ(fst::lookupError(dir.text("nothing")), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(fst::lookupError(dir.text("nothing*")), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(fst::lookupError(dir.text("nodir\\file")), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(fst::lookupError(dir.text("nodir\\*")), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// Whole-path lookups go to the directory the path names at each call: one removed or renamed
// by the program, and made again under the same name, is looked into afresh, and lookups that
// alternate between two directories each find their own names.
TEST_F(FsFindTest, NamesakeLookupsFollowADirectoryMadeAgain) {
  FindEntry entry;
  tu::fs::create_directory(dir.path() / "d");
  tu::fs::create_directory(dir.path() / "e");
  tu::writeFile(dir.path() / "d" / "x", "x");
  tu::writeFile(dir.path() / "e" / "y", "y");
  for (int round = 0; round < 2; ++round) {
    EXPECT_TRUE(lookupEntry(dir.text("d\\x").c_str(), &entry, false));
    EXPECT_FALSE(lookupEntry(dir.text("d\\y").c_str(), &entry, false));
    EXPECT_TRUE(lookupEntry(dir.text("e\\y").c_str(), &entry, true));
    EXPECT_FALSE(lookupEntry(dir.text("e\\x").c_str(), &entry, true));
  }

  // Removed and made again.
  ASSERT_TRUE(DeleteFileA(dir.text("d\\x").c_str()));
  ASSERT_TRUE(RemoveDirectoryA(dir.text("d").c_str()));
  ASSERT_TRUE(CreateDirectoryA(dir.text("d").c_str(), nullptr));
  tu::writeFile(dir.path() / "d" / "new", "n");
  EXPECT_TRUE(lookupEntry(dir.text("d\\new").c_str(), &entry, false));
  EXPECT_STREQ(entry.cFileName, "new");
  // A file opened for reading is found relative to the same directory.
  int fd = fsOpen(dir.text("d\\new").c_str(), FS_OPEN_READ);
  ASSERT_GE(fd, 0);
  char byte = 0;
  EXPECT_EQ(fsRead(fd, &byte, 1), 1);
  EXPECT_EQ(byte, 'n');
  fsClose(fd);

  // Renamed away and made again; the renamed one is found under its new name.
  ASSERT_TRUE(MoveFileA(dir.text("e").c_str(), dir.text("moved").c_str()));
  ASSERT_TRUE(CreateDirectoryA(dir.text("e").c_str(), nullptr));
  EXPECT_FALSE(lookupEntry(dir.text("e\\y").c_str(), &entry, false));
  EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(lookupEntry(dir.text("moved\\y").c_str(), &entry, false));

  // A directory that did not exist at the first lookup, made by the program and by another.
  EXPECT_FALSE(lookupEntry(dir.text("later\\x").c_str(), &entry, false));
  ASSERT_TRUE(CreateDirectoryA(dir.text("later").c_str(), nullptr));
  tu::writeFile(dir.path() / "later" / "x", "x");
  EXPECT_TRUE(lookupEntry(dir.text("later\\x").c_str(), &entry, false));
  EXPECT_FALSE(lookupEntry(dir.text("other\\x").c_str(), &entry, false));
  tu::fs::create_directory(dir.path() / "other");
  tu::writeFile(dir.path() / "other" / "x", "x");
  EXPECT_TRUE(lookupEntry(dir.text("other\\x").c_str(), &entry, false));

  // A directory above the kept one renamed away.
  tu::fs::create_directories(dir.path() / "top" / "in");
  tu::writeFile(dir.path() / "top" / "in" / "z", "z");
  EXPECT_TRUE(lookupEntry(dir.text("top\\in\\z").c_str(), &entry, false));
  ASSERT_TRUE(MoveFileA(dir.text("top").c_str(), dir.text("top2").c_str()));
  tu::fs::create_directories(dir.path() / "top" / "in");
  EXPECT_FALSE(lookupEntry(dir.text("top\\in\\z").c_str(), &entry, false));
}

// A directory opened for lookups: its names are found relative to it, a missing one finds
// nothing ("not found", never another error), and several threads may look names up in one at
// once. On POSIX the lookups stay with the directory opened when another program renames it
// away and makes a new one of that name; Windows looks up by path, in the new one.
TEST_F(FsFindTest, LookupDirFindsNamesInTheDirectoryItOpened) {
  FindEntry entry;
  tu::fs::create_directory(dir.path() / "d");
  tu::writeFile(dir.path() / "d" / "x", "x");
  LookupDir opened;
  ASSERT_TRUE(openLookupDir(dir.text("d\\").c_str(), &opened));
  EXPECT_TRUE(lookupEntryAt(opened, "x", &entry, true));
  EXPECT_STREQ(entry.cFileName, "x");
  EXPECT_EQ(entry.nFileSizeLow, 1u);
  EXPECT_FALSE(lookupEntryAt(opened, "y", &entry, false));
  EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);

  std::vector<std::thread> threads;
  int found[4] = {};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&opened, &found, t] {
      FindEntry own;
      for (int i = 0; i < 200; ++i)
        found[t] += lookupEntryAt(opened, "x", &own, (i & 1) != 0) ? 1 : 0;
    });
  for (std::thread &thread : threads)
    thread.join();
  for (int count : found)
    EXPECT_EQ(count, 200);

  tu::fs::rename(dir.path() / "d", dir.path() / "d.old");
  tu::fs::create_directory(dir.path() / "d");
  tu::writeFile(dir.path() / "d" / "y", "yy");
#if defined(_WIN32)
  EXPECT_FALSE(lookupEntryAt(opened, "x", &entry, false));
  EXPECT_TRUE(lookupEntryAt(opened, "y", &entry, false));
#else
  EXPECT_TRUE(lookupEntryAt(opened, "x", &entry, false));
  EXPECT_FALSE(lookupEntryAt(opened, "y", &entry, false));
#endif
  closeLookupDir(&opened);
  ASSERT_TRUE(openLookupDir(dir.text("d\\").c_str(), &opened));
  EXPECT_TRUE(lookupEntryAt(opened, "y", &entry, false));
  EXPECT_EQ(entry.nFileSizeLow, 2u);
  closeLookupDir(&opened);

  LookupDir missing;
  bool openedMissing = openLookupDir(dir.text("none\\").c_str(), &missing);
#if !defined(_WIN32)
  EXPECT_FALSE(openedMissing); // Windows opens nothing: the lookups tell
#endif
  (void)openedMissing;
  EXPECT_FALSE(lookupEntryAt(missing, "x", &entry, false));
  DWORD code = GetLastError();
  EXPECT_TRUE(code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) << code;
  closeLookupDir(&missing);
}

TEST_F(FsFindTest, EntryCarriesSizeTimesAndNoShortName) {
  tu::writeFile(dir.path() / "data.bin", tu::patternBytes(12345));
  const int64_t ticks = 132000000000000000LL + 1234567; // 2019, with 100-ns digits
  tu::setWriteTicks(dir.path() / "data.bin", ticks);
  FindEntry entry = tu::findEntry(dir.path() / "data.bin");
  EXPECT_STREQ(entry.cFileName, "data.bin");
  EXPECT_STREQ(entry.cAlternateFileName, "");
  EXPECT_EQ(fst::sizeOf(entry), 12345u);
  EXPECT_EQ(fst::ticksOf(entry.ftLastWriteTime), ticks);
  EXPECT_EQ(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

  FindEntry sub = tu::findEntry(dir.path() / "sub");
  EXPECT_EQ(fst::sizeOf(sub), 0u);
  EXPECT_NE(sub.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(FsFindTest, SizeAbove4GiBFillsTheHighHalf) {
  std::error_code ec;
  tu::writeFile(dir.path() / "big", "");
  tu::fs::resize_file(dir.path() / "big", (5ull << 30) + 7, ec);
  if (ec)
    GTEST_SKIP() << "cannot make a sparse 5 GiB file here";
  FindEntry entry = tu::findEntry(dir.path() / "big");
  EXPECT_EQ(entry.nFileSizeHigh, 1u);
  EXPECT_EQ(fst::sizeOf(entry), (5ull << 30) + 7);
}

TEST_F(FsFindTest, ManyEntriesComeOnceEachInOrder) {
  tu::fs::create_directory(dir.path() / "many");
  Names expected = {".", ".."};
  for (int i = 1999; i >= 0; --i) {
    char name[16];
    snprintf(name, sizeof name, "n%d", i * 7919 % 2000);
    tu::writeFile(dir.path() / "many" / name, "");
  }
  Names got = fst::listNames(dir.text("many\\*"));
  ASSERT_EQ(got.size(), 2002u);
  EXPECT_EQ(got[0], ".");
  EXPECT_EQ(got[1], "..");
  for (size_t i = 3; i < got.size(); ++i)
    EXPECT_LT(got[i - 1], got[i]); // "n..." names: digits and one lower-case letter
}

#if !defined(_WIN32)
// Names that agree in their first eight letters, or differ in letter case alone (two files on
// POSIX), keep the listing order: folded bytes first, exact bytes breaking ties; a name before
// its extensions. The first match comes first whatever the pattern.
TEST_F(FsFindTest, NamesAlikeInTheirFirstLettersKeepTheListingOrder) {
  tu::fs::create_directory(dir.path() / "alike");
  for (const char *name : {"abcdefghZ", "ABCDEFGHa", "abcdefgh", "abcdefgh.txt", "ABCDEFGH1",
                           "abcdefghA", "!bang", "-dash", ".hidden"})
    tu::writeFile(dir.path() / "alike" / name, name);
  Names alike = {"abcdefgh", "abcdefgh.txt", "ABCDEFGH1", "ABCDEFGHa", "abcdefghA", "abcdefghZ"};
  Names all = {".", "..", "!bang", "-dash", ".hidden"};
  all.insert(all.end(), alike.begin(), alike.end());
  EXPECT_EQ(fst::listNames(dir.text("alike\\*")), all);
  EXPECT_EQ(fst::listNames(dir.text("alike\\abcdefgh*")), alike);
  EXPECT_EQ(fst::listNames(dir.text("alike\\*a")), (Names{"ABCDEFGHa", "abcdefghA"}));
}

// POSIX file systems are case-sensitive: an exact name is looked up as spelled (Windows and
// Wine fold case here).
TEST_F(FsFindTest, ExactLookupIsCaseSensitiveOnPosix) {
  tu::writeFile(dir.path() / "readme", "lower");
  EXPECT_EQ(fst::lookupError(dir.text("README")), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  tu::writeFile(dir.path() / "README", "upper");
  EXPECT_EQ(fst::listNames(dir.text("README")), (Names{"README"}));
  EXPECT_EQ(fst::listNames(dir.text("readme")), (Names{"readme"}));
  // A wildcard folds: both, upper case first (exact bytes break the tie).
  EXPECT_EQ(fst::listNames(dir.text("readm?")), (Names{"README", "readme"}));
}

// A POSIX name may end in dots or spaces: a name that exists exactly as written is that entry,
// and the trailing dots and spaces are dropped only when none does. A wildcard is trimmed as
// before.
TEST_F(FsFindTest, ANameThatExistsAsWrittenIsThatEntryOnPosix) {
  tu::writeFile(dir.path() / "readme", "plain");
  tu::writeFile(dir.path() / "readme.", "dotted");
  tu::writeFile(dir.path() / "beta ", "blank");
  EXPECT_EQ(fst::listNames(dir.text("readme.")), (Names{"readme."}));
  EXPECT_EQ(fst::listNames(dir.text("readme")), (Names{"readme"}));
  EXPECT_EQ(fst::listNames(dir.text("readme..")), (Names{"readme"}));
  EXPECT_EQ(fst::listNames(dir.text("beta ")), (Names{"beta "}));
  EXPECT_EQ(fst::listNames(dir.text("beta. ")), (Names{"beta"}));
  EXPECT_EQ(fst::listNames(dir.text("readm*.")), (Names{"readme", "readme."}));
  EXPECT_EQ(fst::lookupError(dir.text("none.")), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// `:` is an ordinary character on POSIX.
TEST_F(FsFindTest, ColonsInNamesAreOrdinaryOnPosix) {
  tu::writeFile(dir.path() / "12:00.log", "noon");
  EXPECT_EQ(fst::listNames(dir.text("12:00.log")), (Names{"12:00.log"}));
  EXPECT_EQ(fst::listNames(dir.text("*:*")), (Names{"12:00.log"}));
  EXPECT_TRUE(fsCopyFile(dir.text("12:00.log").c_str(), dir.text("a:b").c_str(), FALSE));
  EXPECT_EQ(tu::readFile(dir.path() / "a:b"), "noon");
}

// Windows has no dot convention; on POSIX a leading dot hides, "." and ".." excepted.
TEST_F(FsFindTest, LeadingDotHidesOnPosix) {
  tu::writeFile(dir.path() / ".profile", "x");
  FindEntry entry = tu::findEntry(dir.path() / ".profile");
  EXPECT_EQ(entry.dwFileAttributes, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  FindEntry search{};
  HANDLE h = FindFirstFileA(dir.text("*").c_str(), &search);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(search.cFileName, ".");
  EXPECT_EQ(search.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);
}

// Links are followed; a dangling link is an empty file that cannot be copied.
TEST_F(FsFindTest, SymbolicLinksAreFollowedOnPosix) {
  tu::fs::create_symlink("noext.txt", dir.path() / "link");
  tu::fs::create_symlink("sub", dir.path() / "dirlink");
  tu::fs::create_symlink("gone", dir.path() / "dangling");
  FindEntry link = tu::findEntry(dir.path() / "link");
  EXPECT_EQ(fst::sizeOf(link), 9u);
  EXPECT_NE(tu::findEntry(dir.path() / "dirlink").dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  FindEntry dangling = tu::findEntry(dir.path() / "dangling");
  EXPECT_EQ(fst::sizeOf(dangling), 0u);
  EXPECT_EQ(dangling.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_FALSE(fsCopyFile(dir.text("dangling").c_str(), dir.text("copy").c_str(), FALSE));
  EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
  Names names = fst::listNames(dir.text("d*"));
  EXPECT_EQ(names, (Names{"dangling", "dirlink"}));
}

// A link that leads back to itself is listed like a dangling one, never silently left out of a
// listing, and copying it reports why it cannot be followed.
TEST_F(FsFindTest, LinkLoopIsListedAndFailsToCopyOnPosix) {
  tu::fs::create_symlink("loop", dir.path() / "loop");
  EXPECT_EQ(fst::listNames(dir.text("l*")), (Names{"loop"}));
  EXPECT_EQ(fst::sizeOf(tu::findEntry(dir.path() / "loop")), 0u);
  EXPECT_FALSE(fsCopyFile(dir.text("loop").c_str(), dir.text("copy").c_str(), FALSE));
  EXPECT_LAST_ERROR(ERROR_CANT_RESOLVE_FILENAME);
  // The attribute calls work on the link itself, which keeps no attributes: nothing is followed.
  EXPECT_TRUE(SetFileAttributesA(dir.text("loop").c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesA(dir.text("loop").c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE));
}

// A directory that may be read but not searched (no x bit) cannot be listed: its names could be
// read, but nothing about its entries, so the listing fails with 5 as a whole (the walk reports
// the directory once), and so do an exact lookup and a copy of one of its files. Checked as
// another user, since root searches every directory.
TEST_F(FsFindTest, DirectoryThatCannotBeSearchedCannotBeListedOnPosix) {
  tu::fs::create_directory(dir.path() / "sub" / "inner");
  tu::writeFile(dir.path() / "sub" / "a.txt", "a");
  chmod(dir.path().c_str(), 0755);
  chmod((dir.path() / "sub").c_str(), 0644);
  std::string pattern = dir.text("sub\\*"), file = dir.text("sub\\a.txt");
  std::string copy = dir.text("copy");
  // As root the check runs in a child that has become another user; 0 when it holds.
  auto check = [&] {
    DWORD listError = 0, lookupError = 0;
    return fst::listNames(pattern, &listError).empty() && listError == ERROR_ACCESS_DENIED &&
           fst::listNames(file, &lookupError).empty() && lookupError == ERROR_ACCESS_DENIED &&
           !fsCopyFile(file.c_str(), copy.c_str(), FALSE) && GetLastError() == ERROR_ACCESS_DENIED;
  };
  if (getuid() != 0) {
    EXPECT_TRUE(check());
  } else {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
      _exit(setgid(65534) == 0 && setuid(65534) == 0 && check() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  chmod((dir.path() / "sub").c_str(), 0755);
}

// A `\` that is the trail byte of a two-byte character is part of that character: the system
// path keeps it, so that such a name is the entry it spells and not a directory and a name.
TEST_F(FsFindTest, SystemPathsKeepTrailBytesWhole) {
  char out[SYS_PATH];
  ASSERT_TRUE(toSystemPath("dir\\\x95\x5c.txt", out));
  EXPECT_STREQ(out, "dir/\x95/.txt"); // no two-byte table: the byte is a separator
  setLeadByteTable(LEAD_SHIFT_JIS);
  ASSERT_TRUE(toSystemPath("dir\\\x95\x5c.txt", out));
  EXPECT_STREQ(out, "dir/\x95\x5c.txt");
  ASSERT_TRUE(toSystemPath("\\\x95\x5c\\\x81", out)); // a lead byte at the end stands alone
  EXPECT_STREQ(out, "/\x95\x5c/\x81");
  std::string name = "\x95\x5c.txt";
  EXPECT_TRUE(CopyFileA(dir.text("beta").c_str(), dir.text(name).c_str(), FALSE));
  EXPECT_EQ(tu::readFile(dir.path() / name), "beta");
  EXPECT_EQ(fst::listNames(dir.text("\x95\x5c*")), (Names{name}));
  EXPECT_TRUE(DeleteFileA(dir.text(name).c_str()));
  EXPECT_FALSE(tu::fs::exists(dir.path() / name));
}

// The matcher itself: ASCII folding only, and a two-byte or UTF-8 character is one character.
TEST_F(FsFindTest, WildcardMatchTakesWholeCharacters) {
  EXPECT_TRUE(wildcardMatch("*", ""));
  EXPECT_TRUE(wildcardMatch("a*b*c", "aXbYbZc"));
  EXPECT_FALSE(wildcardMatch("a*b*c", "aXbYbZ"));
  EXPECT_TRUE(wildcardMatch("x.*", "x"));
  EXPECT_FALSE(wildcardMatch("x.*", "xy"));
  EXPECT_FALSE(wildcardMatch("\xC3\x89*", "\xC3\xA9t\xC3\xA9")); // no folding beyond ASCII
  EXPECT_TRUE(wildcardMatch("?t?", "\xC3\xA9t\xC3\xA9"));        // UTF-8 characters
  setLeadByteTable(LEAD_SHIFT_JIS);
  EXPECT_TRUE(wildcardMatch("?", "\x83\x41"));         // one two-byte character
  EXPECT_FALSE(wildcardMatch("\x83\x61", "\x83\x41")); // the trail byte is not folded
  EXPECT_TRUE(wildcardMatch("\x83\x41*", "\x83\x41.txt"));
}
#endif

} // namespace
