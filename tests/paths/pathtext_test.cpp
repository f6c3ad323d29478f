// Path text operations (two-byte characters kept whole, the colon rule both ways, bounded
// writes) and the probes that ask the file system what a path names.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "paths/lookup.h"
#include "paths/pathtext.h"
#include "paths/winapi.h"
#include "state/state.h"
#include "support/testutil.h"

namespace {

class PathTextTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }
  void TearDown() override { tu::resetAll(); }
};

// A PathBuf holding `text`.
struct Buf {
  PathBuf b;
  explicit Buf(const std::string &text) {
    std::memset(b, 0, sizeof b);
    std::memcpy(b, text.data(), text.size());
  }
  std::string str() const { return b; }
};

TEST_F(PathTextTest, LastCharacter) {
  char empty[] = "";
  EXPECT_EQ(lastCharPtr(empty), empty);
  char ab[] = "ab";
  EXPECT_EQ(lastCharPtr(ab), ab + 1);

  // 0x81 0x5C is one Shift_JIS character: the last character starts at its lead byte.
  char pair[] = "a\x81\\";
  setLeadByteTable(LEAD_SHIFT_JIS);
  EXPECT_EQ(lastCharPtr(pair), pair + 1);
  char lone[] = "a\x81"; // a lead byte before the terminator stands alone
  EXPECT_EQ(lastCharPtr(lone), lone + 1);
  setLeadByteTable(LEAD_NONE);
  EXPECT_EQ(lastCharPtr(pair), pair + 2);
}

TEST_F(PathTextTest, FileNamePart) {
  colonSeparates = true;
  EXPECT_STREQ(fileNamePart("C:foo"), "foo");
  EXPECT_STREQ(fileNamePart("dir\\"), "");
  EXPECT_STREQ(fileNamePart("foo"), "foo");
  EXPECT_STREQ(fileNamePart("C:\\a\\b.txt"), "b.txt");
  colonSeparates = false; // POSIX: a colon is part of the name
  EXPECT_STREQ(fileNamePart("C:foo"), "C:foo");
  EXPECT_STREQ(fileNamePart("logs\\12:00.log"), "12:00.log");

  setLeadByteTable(LEAD_SHIFT_JIS);
  EXPECT_STREQ(fileNamePart("dir\\\x81\\x"), "\x81\\x");
  setLeadByteTable(LEAD_NONE);
  EXPECT_STREQ(fileNamePart("dir\\\x81\\x"), "x");
}

TEST_F(PathTextTest, DotsOnlyNames) {
  EXPECT_EQ(dotsOnlyLength("."), 1);
  EXPECT_EQ(dotsOnlyLength(".."), 2);
  EXPECT_EQ(dotsOnlyLength("..."), 3);
  EXPECT_EQ(dotsOnlyLength(".a"), 0);
  EXPECT_EQ(dotsOnlyLength("a."), 0);
  EXPECT_EQ(dotsOnlyLength(""), 0);
  EXPECT_TRUE(isDotName("."));
  EXPECT_TRUE(isDotName(".."));
  EXPECT_FALSE(isDotName("..."));
  EXPECT_FALSE(isDotName(".a"));
  EXPECT_FALSE(isDotName(""));
}

TEST_F(PathTextTest, EnsureTrailingSeparator) {
  colonSeparates = true;
  Buf drive("C:");
  EXPECT_TRUE(ensureTrailingSep(drive.b));
  EXPECT_EQ(drive.str(), "C:");
  colonSeparates = false;
  EXPECT_TRUE(ensureTrailingSep(drive.b));
  EXPECT_EQ(drive.str(), "C:\\");

  Buf dir("dir");
  EXPECT_TRUE(ensureTrailingSep(dir.b));
  EXPECT_EQ(dir.str(), "dir\\");
  EXPECT_TRUE(ensureTrailingSep(dir.b)); // already there
  EXPECT_EQ(dir.str(), "dir\\");
  Buf empty("");
  EXPECT_TRUE(ensureTrailingSep(empty.b));
  EXPECT_EQ(empty.str(), "");
  Buf full(std::string(sizeof(PathBuf) - 1, 'x')); // no room for the separator: unchanged
  EXPECT_FALSE(ensureTrailingSep(full.b));
  EXPECT_EQ(full.str().size(), sizeof(PathBuf) - 1);

  // A final character whose trail byte is 0x5C does not end in a separator.
  setLeadByteTable(LEAD_SHIFT_JIS);
  Buf pair("d\x81\\");
  EXPECT_TRUE(ensureTrailingSep(pair.b));
  EXPECT_EQ(pair.str(), "d\x81\\\\");
}

TEST_F(PathTextTest, InsertCharacter) {
  Buf mask(".txt");
  insertChar(mask.b, '*');
  EXPECT_EQ(mask.str(), "*.txt");

  Buf split("dir\\name");
  insertChar(split.b + 4, '\0');
  EXPECT_STREQ(split.b, "dir\\");
  EXPECT_STREQ(split.b + 5, "name");
}

TEST_F(PathTextTest, PathOrMask) {
  colonSeparates = true;
  struct Case {
    const char *text;
    bool path;
  };
  for (Case c : {Case{"", true}, Case{".", true}, Case{"\\x.c", true}, Case{"x.c\\", true},
                 Case{"a.b", false}, Case{"..", true}, Case{"..\\sub", true}, Case{"sub", true},
                 Case{"sub\\*", true}, Case{"x\\*.c", false}, Case{"sub\\a.txt", false},
                 Case{"*.c", false}, Case{"a?", false}, Case{"a/b.c", true}, Case{"C:*.c", true},
                 Case{"C:\\data\\a.txt", true}, Case{"..x", true}, Case{"...", false}}) {
    EXPECT_EQ(looksLikePath(c.text), c.path) << c.text;
  }
  // Without drive letters the colon decides nothing.
  colonSeparates = false;
  EXPECT_FALSE(looksLikePath("C:*.c"));
  EXPECT_FALSE(looksLikePath("C:\\data\\a.txt"));
  EXPECT_TRUE(looksLikePath("a:b"));
}

TEST_F(PathTextTest, PathOrMaskWithTwoByteCharacters) {
  setLeadByteTable(LEAD_SHIFT_JIS);
  // The 0x5C of the pair is no backslash, so the star after it is a wildcard.
  EXPECT_FALSE(looksLikePath("\x81\\*"));
  // The 0x2E of the pair is no dot.
  EXPECT_TRUE(looksLikePath("\x81.c"));
  // A name ending in a pair with trail 0x5C is not "ending in a backslash".
  EXPECT_FALSE(looksLikePath("*\x81\\"));
  setLeadByteTable(LEAD_NONE);
  EXPECT_TRUE(looksLikePath("\x81\\*"));
  EXPECT_FALSE(looksLikePath("\x81.c"));
  EXPECT_TRUE(looksLikePath("*\x81\\"));
}

TEST_F(PathTextTest, ColonRuleIsOnePredicate) {
  colonSeparates = true;
  EXPECT_TRUE(isSeparator(':'));
  EXPECT_TRUE(isSeparator('\\'));
  EXPECT_FALSE(isSeparator('/'));
  colonSeparates = false;
  EXPECT_FALSE(isSeparator(':'));
  EXPECT_TRUE(isSeparator('\\'));
  tu::resetAll();
#if defined(_WIN32)
  EXPECT_TRUE(colonSeparates);
#else
  EXPECT_FALSE(colonSeparates);
#endif
}

TEST_F(PathTextTest, CaseFoldingComparesAsTheCLocaleDoes) {
  EXPECT_EQ(stricmpAscii("Readme.TXT", "readme.txt"), 0);
  EXPECT_LT(stricmpAscii("a", "B"), 0);
  EXPECT_GT(stricmpAscii("ab", "A"), 0);
  EXPECT_LT(stricmpAscii("_", "A"), 0);       // letters fold to lower case, as _stricmp does
  EXPECT_NE(stricmpAscii("\xC4", "\xE4"), 0); // only ASCII letters fold
  EXPECT_LT(stricmpAscii("a", "\xE4"), 0);    // bytes compare unsigned
  EXPECT_EQ(strnicmpAscii("abX", "ABY", 2), 0);
  EXPECT_NE(strnicmpAscii("abX", "ABY", 3), 0);
  EXPECT_EQ(strnicmpAscii("ab", "AB", 10), 0);
  EXPECT_NE(strnicmpAscii("ab", "ABC", 10), 0);
  EXPECT_TRUE(namesEqual("a.txt", "a.txt"));
  EXPECT_FALSE(namesEqual("a.txt", "a.txt2"));
  EXPECT_TRUE(namesEqualPrefix("src\\sub", "src", 3));
  EXPECT_FALSE(namesEqualPrefix("src\\sub", "srd", 3));
  EXPECT_TRUE(namesEqualPrefix("ab", "ab", 10)); // the texts end together
  EXPECT_FALSE(namesEqualPrefix("ab", "abc", 10));
}

// Names and paths compare as the platform's file system does: folded on Windows, exact on POSIX.
TEST_F(PathTextTest, NamesCompareAsTheFileSystemDoes) {
#if defined(_WIN32)
  const bool folded = true;
#else
  const bool folded = false;
#endif
  EXPECT_EQ(namesEqual("README", "readme"), folded);
  EXPECT_EQ(namesEqual("C:\\Photos", "C:\\photos"), folded);
  EXPECT_EQ(namesEqualPrefix("photos\\2020", "Photos", 6), folded);
  EXPECT_FALSE(namesEqual("\xC4", "\xE4")); // beyond ASCII never folded
}

TEST_F(PathTextTest, BoundedWritesStopAtTheBufferEnd) {
  Buf b(std::string(517, 'x'));
  EXPECT_TRUE(pathAppendChar(b.b, 'y')); // 518 bytes of text
  EXPECT_FALSE(pathAppend(b.b, "zz"));   // 520 bytes of text would not leave the terminator
  EXPECT_EQ(b.str().size(), 518u);
  EXPECT_TRUE(pathAppend(b.b, "z"));
  EXPECT_EQ(b.str().size(), 519u);
  EXPECT_FALSE(pathAppendChar(b.b, 'w'));
  EXPECT_EQ(b.str(), std::string(517, 'x') + "yz");

  Buf at("dir\\name");
  EXPECT_TRUE(pathPut(at.b, at.b + 4, "other"));
  EXPECT_EQ(at.str(), "dir\\other");
  EXPECT_TRUE(pathPut(at.b, at.b + 10, std::string(509, 'a').c_str()));
  EXPECT_FALSE(pathPut(at.b, at.b + 11, std::string(509, 'a').c_str()));
  EXPECT_FALSE(pathPut(at.b, at.b + PATH_BUF, ""));

  Buf overlap("abcdef"); // the text may come from the buffer itself
  EXPECT_TRUE(pathPut(overlap.b, overlap.b, overlap.b + 2));
  EXPECT_EQ(overlap.str(), "cdef");
}

// ----------------------------------------------------------------------------------------------
// Probes

class ProbeTest : public PathTextTest {
protected:
  void SetUp() override {
    PathTextTest::SetUp();
    tu::writeFile(dir.path() / "f.txt", "x");
    tu::writeFile(dir.path() / "noext", "x");
    tu::fs::create_directory(dir.path() / "sub");
  }
  tu::TempDir dir;
};

TEST_F(ProbeTest, KindWithoutTheFileSystem) {
  colonSeparates = true; // drive forms, on either platform
  for (const char *text :
       {"C:\\", "C:", "C:.", "", "\\", ".", "..", ".\\", "..\\", "nowhere\\.", "nowhere\\\\"}) {
    EXPECT_EQ(probePathKind(text), 1) << text;
  }
}

TEST_F(ProbeTest, KindOfFilesDirectoriesAndMissingNames) {
  EXPECT_EQ(probePathKind(dir.text("f.txt").c_str()), 0);
  EXPECT_EQ(probePathKind(dir.text("sub").c_str()), 1);
  EXPECT_EQ(probePathKind(dir.text("sub\\").c_str()), 1);
  EXPECT_EQ(probePathKind(dir.text("sub\\.").c_str()), 1);
  EXPECT_EQ(probePathKind(dir.text("missing").c_str()), -1);
  EXPECT_EQ(probePathKind(dir.text("noext.").c_str()), 0); // trailing dot dropped by the search
  EXPECT_EQ(probePathKind(dir.text("s*").c_str()), 1);     // first match a directory
  EXPECT_EQ(probePathKind(dir.text("f*").c_str()), 0);     // first match a file
  EXPECT_EQ(probePathKind(dir.text("*").c_str()), 0);      // first match the dot entry
  EXPECT_EQ(probePathKind(dir.text("x*").c_str()), -1);
}

// Only . and .. name a directory without a look. A longer run of dots is a name of its own where
// the platform spells it (POSIX), and the directory before it where trailing dots are dropped.
TEST_F(ProbeTest, KindOfNamesMadeOfDots) {
  if (DOT_RUNS_ARE_NAMES) {
    tu::fs::create_directory(dir.path() / ".....");
    EXPECT_EQ(probePathKind(dir.text(".....").c_str()), 1);
  }
  EXPECT_EQ(probePathKind(dir.text("sub\\..").c_str()), 1);
  EXPECT_EQ(probePathKind(dir.text("sub\\...").c_str()), DOT_RUNS_ARE_NAMES ? -1 : 1);
  EXPECT_EQ(probePathKind(dir.text("nowhere\\...").c_str()), DOT_RUNS_ARE_NAMES ? -1 : 1);
}

// A wildcard names files as soon as one match is a file, whatever the order of the matches; it
// stands for a directory only when every match is one.
TEST_F(ProbeTest, SourceKindLooksAtEveryMatch) {
  tu::fs::create_directory(dir.path() / "archive.txt");
  tu::writeFile(dir.path() / "b.txt", "x");
  tu::fs::create_directory(dir.path() / "sub2");
  EXPECT_EQ(probePathKind(dir.text("*.txt").c_str()), 1); // the directory archive.txt comes first
  EXPECT_EQ(probeSourceKind(dir.text("*.txt").c_str()), 0);
  EXPECT_EQ(probeSourceKind(dir.text("a*.txt").c_str()), 1); // only the directory
  EXPECT_EQ(probeSourceKind(dir.text("s*").c_str()), 1);     // sub and sub2
  EXPECT_EQ(probeSourceKind(dir.text("s*\\").c_str()), 1);
  EXPECT_EQ(probeSourceKind(dir.text("*").c_str()), 0); // the dot entries and files
  EXPECT_EQ(probeSourceKind(dir.text("x*").c_str()), -1);
  EXPECT_EQ(probeSourceKind(dir.text("f.txt").c_str()), 0);
  EXPECT_EQ(probeSourceKind(dir.text("sub").c_str()), 1);
  EXPECT_EQ(probeSourceKind(dir.text("sub\\.").c_str()), 1);
}

TEST_F(ProbeTest, MatchDirNameTakesTheFirstMatchingDirectory) {
  Buf wild(dir.text("S*"));
  EXPECT_TRUE(matchDirName(wild.b, FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(wild.str(), dir.text("sub"));

  Buf trailing(dir.text("su?\\"));
  EXPECT_TRUE(matchDirName(trailing.b, FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(trailing.str(), dir.text("sub\\"));

  Buf star(dir.text("*")); // the dot entry comes first
  EXPECT_TRUE(matchDirName(star.b, FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(star.str(), dir.text("."));
}

#if !defined(_WIN32)
// A stored name that holds `\` (a POSIX name may) is never written into a path: the next
// matching directory is taken, or none.
TEST_F(ProbeTest, MatchDirNamePassesOverNamesThatHoldABackslash) {
  tu::fs::create_directory(dir.path() / "a\\b");
  tu::fs::create_directory(dir.path() / "a_b");
  Buf wild(dir.text("a*"));
  EXPECT_TRUE(matchDirName(wild.b, FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(wild.str(), dir.text("a_b"));
  tu::fs::remove(dir.path() / "a_b");
  Buf only(dir.text("a*"));
  EXPECT_FALSE(matchDirName(only.b, FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(only.str(), dir.text("a*"));
}
#endif

TEST_F(ProbeTest, MatchDirNameLeavesUnmatchedTextAlone) {
  Buf file(dir.text("f*")); // only a file matches
  EXPECT_FALSE(matchDirName(file.b, FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(file.str(), dir.text("f*"));

  Buf missing(dir.text("zz*\\"));
  EXPECT_FALSE(matchDirName(missing.b, FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(missing.str(), dir.text("zz*\\"));

  Buf empty("");
  EXPECT_FALSE(matchDirName(empty.b, FILE_ATTRIBUTE_DIRECTORY));
  Buf root("\\");
  EXPECT_FALSE(matchDirName(root.b, FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(root.str(), "\\");
  colonSeparates = true;
  Buf drive("C:");
  EXPECT_FALSE(matchDirName(drive.b, FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(drive.str(), "C:");
}

TEST_F(ProbeTest, ExistenceAndClosing) {
  EXPECT_TRUE(pathExists(dir.text("*.txt").c_str()));
  EXPECT_FALSE(pathExists(dir.text("*.zip").c_str()));
  EXPECT_FALSE(closeFind(INVALID_HANDLE_VALUE));
  FindEntry entry;
  HANDLE search = FindFirstFileA(dir.text("f.txt").c_str(), &entry);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(closeFind(search));
}

} // namespace
