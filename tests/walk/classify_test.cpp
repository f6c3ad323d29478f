// Entry classification and exclusion masks.
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "support/testutil.h"
#include "walk/walk.h"

namespace {

class ClassifyTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }
  void TearDown() override { tu::resetAll(); }
};

constexpr DWORD DIR = FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD FILE = FILE_ATTRIBUTE_ARCHIVE;

FindEntry entryNamed(const char *name, DWORD attributes, const char *shortName = "") {
  FindEntry entry{};
  entry.dwFileAttributes = attributes;
  snprintf(entry.cFileName, sizeof entry.cFileName, "%s", name);
  snprintf(entry.cAlternateFileName, sizeof entry.cAlternateFileName, "%s", shortName);
  return entry;
}

// matchesExclusion on a writable copy of `name`, checking that the name comes back unchanged.
bool excludes(const char *name, const char *mask, DWORD attributes) {
  PathBuf copy;
  snprintf(copy, sizeof copy, "%s", name);
  bool result = matchesExclusion(copy, mask, attributes);
  EXPECT_STREQ(copy, name);
  return result;
}

TEST_F(ClassifyTest, ExclusionMaskKinds) {
  struct Case {
    const char *name;
    const char *mask;
    DWORD attributes;
    bool excluded;
  };
  const Case cases[] = {
      // Extension masks: the final suffix only, files only.
      {"a.bak", ".bak", FILE, true},
      {"A.BAK", ".bak", FILE, true},
      {"x.y.bak", ".bak", FILE, true},
      {".bak", ".bak", FILE, true},
      {"a.bak.txt", ".bak", FILE, false},
      {"bak", ".bak", FILE, false},
      {"old.bak", ".bak", DIR, false},
      // "name." masks: the name without extension.
      {"readme", "readme.", FILE, true},
      {"README", "readme.", FILE, true},
      {"readme.txt", "readme.", FILE, false},
      {"readm", "readme.", FILE, false},
      {"readme", "readme.", DIR, false},
      // Whole file names.
      {"A.Txt", "a.txt", FILE, true},
      {"a.txt", "a.txt", DIR, false},
      {"a.txt2", "a.txt", FILE, false},
      // Directory masks, with or without the trailing separator.
      {"TEMP", "temp", DIR, true},
      {"TEMP", "temp\\", DIR, true},
      {"temp", "temp", FILE, false},
      {"temp", "temp\\", FILE, false},
      {"temp2", "temp\\", DIR, false},
      {"tem", "temp\\", DIR, false},
      // Entry names carry no directory part.
      {"temp", "C:\\temp", DIR, false},
      {"temp", "sub\\temp", DIR, false},
      {"temp", "\\temp", DIR, false},
      // No wildcard matching; an empty mask matches nothing.
      {"a.bak", "*.bak", FILE, false},
      {"a.bak", "?.bak", FILE, false},
      {"sub", "s*", DIR, false},
      {"sub", "", DIR, false},
  };
  for (const Case &c : cases)
    EXPECT_EQ(excludes(c.name, c.mask, c.attributes), c.excluded) << c.name << " / " << c.mask;
}

TEST_F(ClassifyTest, DirectoryMaskEndingInATrailByteIsComparedWhole) {
  setLeadByteTable(LEAD_SHIFT_JIS);
  // 0x95 0x5C is one character whose trail byte is the code of `\`.
  EXPECT_TRUE(excludes("a\x95\x5C", "a\x95\x5C", DIR));
  EXPECT_FALSE(excludes("a\x95", "a\x95\x5C", DIR));
  EXPECT_TRUE(excludes("a\x95\x5C", "a\x95\x5C\\", DIR));
}

TEST_F(ClassifyTest, NamedEntryByLongOrShortName) {
  PathBuf pattern = "C:\\src\\Long Folder Name";
  char *slot = pattern + 7;
  FindEntry entry = entryNamed("Long Folder Name", DIR, "LONGFO~1");
  EXPECT_EQ(classifyEntry(entry, pattern, slot, ""), ENTRY_NAMED);

  PathBuf byShort = "C:\\src\\LONGFO~1";
  slot = byShort + 7;
  EXPECT_EQ(classifyEntry(entry, byShort, slot, ""), ENTRY_NAMED);
  EXPECT_STREQ(byShort, "C:\\src\\Long Folder Name"); // the long name replaces the typed one

  // The next entry of the listing compares with the previous name and is only matched.
  EXPECT_EQ(classifyEntry(entryNamed("other", FILE), byShort, slot, ""), ENTRY_MATCHED);
  EXPECT_STREQ(byShort, "C:\\src\\other");
}

TEST_F(ClassifyTest, EmptyShortNameNeverNamesAnEntry) {
  PathBuf pattern = "C:\\src\\";
  char *slot = pattern + strlen(pattern); // the slot holds empty text
  EXPECT_EQ(classifyEntry(entryNamed("a.txt", FILE, ""), pattern, slot, ""), ENTRY_MATCHED);
}

TEST_F(ClassifyTest, WholeDirectoryListingOnlyMatches) {
  PathBuf pattern = "C:\\src\\*.*";
  char *slot = pattern + 7;
  EXPECT_EQ(classifyEntry(entryNamed("a.txt", FILE), pattern, slot, ""), ENTRY_MATCHED);
  EXPECT_EQ(classifyEntry(entryNamed("b.txt", FILE), pattern, slot, ""), ENTRY_MATCHED);
  EXPECT_STREQ(pattern, "C:\\src\\b.txt");
}

TEST_F(ClassifyTest, NameDifferingOnlyInCase) {
  PathBuf pattern = "C:\\src\\sub";
  char *slot = pattern + 7;
  int result = classifyEntry(entryNamed("SUB", DIR), pattern, slot, "");
#if defined(_WIN32)
  EXPECT_EQ(result, ENTRY_NAMED); // one entry, however it is typed
#else
  EXPECT_EQ(result, ENTRY_MATCHED); // README and readme are two entries here
#endif
  EXPECT_STREQ(pattern, "C:\\src\\SUB");
}

TEST_F(ClassifyTest, RejectionOrder) {
  PathBuf pattern = "C:\\src\\*.*";
  char *slot = pattern + 7;
  EXPECT_EQ(classifyEntry(entryNamed(".", DIR), pattern, slot, ""), ENTRY_DOTS);
  EXPECT_EQ(classifyEntry(entryNamed("..", DIR), pattern, slot, ""), ENTRY_DOTS);
  // The exclusion test comes first.
  EXPECT_EQ(classifyEntry(entryNamed("..", DIR), pattern, slot, "x\t..\t"), ENTRY_EXCLUDED);
  EXPECT_EQ(
      classifyEntry(entryNamed("h.bak", FILE | FILE_ATTRIBUTE_HIDDEN), pattern, slot, ".bak\t"),
      ENTRY_EXCLUDED);
  EXPECT_EQ(classifyEntry(entryNamed("label", 0x08 | FILE_ATTRIBUTE_HIDDEN), pattern, slot, ""),
            ENTRY_VOLUME);
  EXPECT_EQ(classifyEntry(entryNamed("h", FILE | FILE_ATTRIBUTE_HIDDEN), pattern, slot, ""),
            ENTRY_HIDDEN);
  EXPECT_EQ(classifyEntry(entryNamed("s", DIR | FILE_ATTRIBUTE_SYSTEM), pattern, slot, ""),
            ENTRY_HIDDEN);
  EXPECT_STREQ(pattern, "C:\\src\\s"); // a rejected name that fits is still written

  runState.includeHidden = true;
  EXPECT_EQ(classifyEntry(entryNamed("h", FILE | FILE_ATTRIBUTE_HIDDEN), pattern, slot, ""),
            ENTRY_MATCHED);
  EXPECT_EQ(classifyEntry(entryNamed("s", FILE | FILE_ATTRIBUTE_SYSTEM), pattern, slot, ""),
            ENTRY_MATCHED);
  EXPECT_EQ(classifyEntry(entryNamed("..", DIR | FILE_ATTRIBUTE_HIDDEN), pattern, slot, ""),
            ENTRY_DOTS);
}

TEST_F(ClassifyTest, ExclusionListIsScannedItemByItem) {
  PathBuf pattern = "C:\\src\\*.*";
  char *slot = pattern + 7;
  const char *list = "temp\t.bak\treadme.\t";
  EXPECT_EQ(classifyEntry(entryNamed("temp", FILE), pattern, slot, list), ENTRY_MATCHED);
  EXPECT_EQ(classifyEntry(entryNamed("Temp", DIR), pattern, slot, list), ENTRY_EXCLUDED);
  EXPECT_EQ(classifyEntry(entryNamed("x.BAK", FILE), pattern, slot, list), ENTRY_EXCLUDED);
  EXPECT_EQ(classifyEntry(entryNamed("readme", FILE), pattern, slot, list), ENTRY_EXCLUDED);
  EXPECT_EQ(classifyEntry(entryNamed("readme.txt", FILE), pattern, slot, list), ENTRY_MATCHED);
}

TEST_F(ClassifyTest, NameThatDoesNotFitLeavesTheSlotAlone) {
  PathBuf pattern;
  memset(pattern, 'p', sizeof pattern);
  pattern[PATH_BUF - 12] = '\\';
  strcpy(pattern + PATH_BUF - 11, "*.*"); // slot 11 bytes before the end
  char *slot = pattern + PATH_BUF - 11;
  std::string before = pattern;

  // Ten characters and the NUL fit exactly.
  EXPECT_EQ(classifyEntry(entryNamed("0123456789", FILE), pattern, slot, ""), ENTRY_MATCHED);
  EXPECT_EQ(strlen(pattern), static_cast<size_t>(PATH_BUF - 1));

  strcpy(slot, "*.*");
  EXPECT_EQ(classifyEntry(entryNamed("0123456789a", FILE), pattern, slot, ""), ENTRY_TOO_LONG);
  EXPECT_EQ(std::string(pattern), before);
  EXPECT_EQ(
      classifyEntry(entryNamed("0123456789a", FILE | FILE_ATTRIBUTE_HIDDEN), pattern, slot, ""),
      ENTRY_HIDDEN);
  EXPECT_EQ(std::string(pattern), before);
}

// A name holding `\` (a POSIX name may) cannot be spelled in a path: refused, but only where it
// would otherwise be accepted; a trail byte 0x5C of a two-byte character is no `\`.
TEST_F(ClassifyTest, NameHoldingABackslashIsRefused) {
  char pattern[PATH_BUF] = "src\\*.*";
  char *slot = pattern + 4;
  EXPECT_EQ(classifyEntry(entryNamed("a\\b", FILE), pattern, slot, ""), ENTRY_BAD_NAME);
  EXPECT_STREQ(pattern, "src\\a\\b"); // written, for the report
  EXPECT_EQ(classifyEntry(entryNamed("x\\y", DIR), pattern, slot, ""), ENTRY_BAD_NAME);
  EXPECT_EQ(classifyEntry(entryNamed("a\\b", FILE | FILE_ATTRIBUTE_HIDDEN), pattern, slot, ""),
            ENTRY_HIDDEN);
  EXPECT_EQ(classifyEntry(entryNamed("a\\b.bak", FILE), pattern, slot, ".bak\t"), ENTRY_EXCLUDED);
  EXPECT_EQ(classifyEntry(entryNamed("\\", FILE), pattern, slot, ""), ENTRY_BAD_NAME);
  EXPECT_EQ(classifyEntry(entryNamed("\x95\x5c.txt", FILE), pattern, slot, ""), ENTRY_BAD_NAME);
  setLeadByteTable(LEAD_SHIFT_JIS);
  strcpy(slot, "*.*");
  EXPECT_EQ(classifyEntry(entryNamed("\x95\x5c.txt", FILE), pattern, slot, ""), ENTRY_MATCHED);
  EXPECT_EQ(classifyEntry(entryNamed("\x95\x5c\\x", FILE), pattern, slot, ""), ENTRY_BAD_NAME);
}

// Only . and .. are no entries. A name of more dots is an entry like any other where the path
// syntax spells it (POSIX), and refused like a name holding `\` where it cannot (Windows drops
// trailing dots); the exclusion and hidden tests come first either way.
TEST_F(ClassifyTest, NameMadeOfDotsIsAnEntry) {
  char pattern[PATH_BUF] = "src\\*.*";
  char *slot = pattern + 4;
  int spelled = DOT_RUNS_ARE_NAMES ? ENTRY_MATCHED : ENTRY_BAD_NAME;
  EXPECT_EQ(classifyEntry(entryNamed("...", FILE), pattern, slot, ""), spelled);
  EXPECT_STREQ(pattern, "src\\...");
  EXPECT_EQ(classifyEntry(entryNamed("....", FILE), pattern, slot, ""), spelled);
  EXPECT_EQ(classifyEntry(entryNamed(".....", DIR), pattern, slot, ""), spelled);
  EXPECT_EQ(classifyEntry(entryNamed("...", FILE | FILE_ATTRIBUTE_HIDDEN), pattern, slot, ""),
            ENTRY_HIDDEN);
  EXPECT_EQ(classifyEntry(entryNamed("...", DIR), pattern, slot, "...\\\t"), ENTRY_EXCLUDED);
  EXPECT_EQ(classifyEntry(entryNamed(".", DIR), pattern, slot, ""), ENTRY_DOTS);
  EXPECT_EQ(classifyEntry(entryNamed("..", DIR), pattern, slot, ""), ENTRY_DOTS);
}

} // namespace
