// The tree walker: pattern texts, destination forms, recursion, verbose blocks, the same-path
// refusal, directory upkeep during moves and the limits of the path buffers.
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "support/testutil.h"
#include "walk/walk.h"

namespace {

namespace fs = std::filesystem;

class WalkTest : public testing::Test {
protected:
  void SetUp() override {
    tu::resetAll();
    runState.selectMask = SEL_DEFAULT;
  }
  void TearDown() override { tu::resetAll(); }

  // Walks one source as the driver does: own buffers, the directory attribute word on top.
  int walk(const std::string &source, const std::string &destination, const char *exclusions = "") {
    PathBuf sourceBuf;
    PathBuf destBuf;
    snprintf(sourceBuf, sizeof sourceBuf, "%s", source.c_str());
    snprintf(destBuf, sizeof destBuf, "%s", destination.c_str());
    int total = walkTree(sourceBuf, destBuf, FILE_ATTRIBUTE_DIRECTORY, exclusions);
    EXPECT_EQ(runState.depth, 0);
    lastDest = destBuf;
    return total;
  }

  void file(const std::string &relative, const std::string &bytes = "x") {
    fs::create_directories((tmp.path() / relative).parent_path());
    tu::writeFile(tmp.path() / relative, bytes);
  }
  void dir(const std::string &relative) { fs::create_directories(tmp.path() / relative); }
  bool exists(const std::string &relative) { return fs::exists(tmp.path() / relative); }
  bool isDir(const std::string &relative) { return fs::is_directory(tmp.path() / relative); }
  std::string t(const std::string &relative = "") { return tmp.text(relative); }

  tu::TempDir tmp;
  std::string lastDest;
};

// Restores the working directory at the end of a test that needs relative paths.
class CwdGuard {
public:
  explicit CwdGuard(const fs::path &to) : saved_(fs::current_path()) { fs::current_path(to); }
  ~CwdGuard() { fs::current_path(saved_); }

private:
  fs::path saved_;
};

struct SplitCase {
  const char *source;
  const char *pattern;
  const char *mask;
  size_t slot;
};

TEST_F(WalkTest, SplitSourceSpecTable) {
  colonSeparates = true;
  const SplitCase cases[] = {
      {"C:\\src\\", "C:\\src\\*.*", "", 7},
      {"C:\\src\\*.txt", "C:\\src\\*.txt", "*.txt", 7},
      {"C:\\src\\*.*", "C:\\src\\*.*", "", 7},
      {"C:", "C:*.*", "", 2},
      {"..", "..\\*.*", "", 3},
      {".", ".\\*.*", "", 2},
      {"C:\\src\\..", "C:\\src\\..\\*.*", "", 10},
      {"sub", "sub", "sub", 0},
      {"C:\\src\\sub", "C:\\src\\sub", "sub", 7},
  };
  for (const SplitCase &c : cases) {
    PathBuf pattern;
    PathBuf mask;
    snprintf(pattern, sizeof pattern, "%s", c.source);
    char *slot = splitSourceSpec(pattern, mask);
    ASSERT_NE(slot, nullptr) << c.source;
    EXPECT_STREQ(pattern, c.pattern) << c.source;
    EXPECT_STREQ(mask, c.mask) << c.source;
    EXPECT_EQ(static_cast<size_t>(slot - pattern), c.slot) << c.source;
  }
  // Where `:` is an ordinary character, C: is a name like any other.
  colonSeparates = false;
  PathBuf pattern = "C:";
  PathBuf mask;
  EXPECT_EQ(splitSourceSpec(pattern, mask), pattern);
  EXPECT_STREQ(mask, "C:");
}

TEST_F(WalkTest, SplitSourceSpecRefusesWhatDoesNotFit) {
  PathBuf pattern;
  PathBuf mask;
  std::string text = std::string(PATH_BUF - 3, 'a') + "\\"; // 518 bytes: no room for *.*
  snprintf(pattern, sizeof pattern, "%s", text.c_str());
  EXPECT_EQ(splitSourceSpec(pattern, mask), nullptr);
  EXPECT_EQ(std::string(pattern), text);
  text = std::string(PATH_BUF - 2, '.'); // dots only, 518 bytes: the `\` fits, *.* does not
  snprintf(pattern, sizeof pattern, "%s", text.c_str());
  EXPECT_EQ(splitSourceSpec(pattern, mask), nullptr);
  text = std::string(PATH_BUF - 5, 'a') + "\\"; // 516 bytes: *.* just fits
  snprintf(pattern, sizeof pattern, "%s", text.c_str());
  EXPECT_NE(splitSourceSpec(pattern, mask), nullptr);
  EXPECT_EQ(std::strlen(pattern), static_cast<size_t>(PATH_BUF - 1));
}

struct DestCase {
  const char *dest;
  const char *mask;
  const char *pattern;
  bool sameName;
  const char *slotText;
};

TEST_F(WalkTest, PrepareDestSpecTable) {
  colonSeparates = true;
  const DestCase cases[] = {
    {"D:\\dst", "sub", "D:\\dst\\*.*", false, "*.*"},
    {"D:\\dst\\", "sub", "D:\\dst\\*.*", false, "*.*"},
    {"D:\\dst\\sub", "sub", "D:\\dst\\*", true, "*"},
    {"D:\\dst\\sub\\", "sub", "D:\\dst\\*", true, "*"},
    {"D:\\dst\\*", "sub", "D:\\dst\\*", true, "*"},
    {"D:\\dst\\*", "", "D:\\dst\\*", true, "*"},
    {"D:\\dst\\other\\", "sub", "D:\\dst\\other\\*.*", false, "*.*"},
    {"D:", "sub", "D:*.*", false, "*.*"},
    {"D:\\dst\\..", "sub", "D:\\dst\\..\\*.*", false, "*.*"},
    {"D:\\dst\\sub", "", "D:\\dst\\sub\\*.*", false, "*.*"},
    {"a.txt", "a.txt", "*", true, "*"},
    {"", "sub", "", false, ""},
  // The same name in other letters is the same name only where the file system folds case.
#if defined(_WIN32)
    {"D:\\dst\\SUB\\", "sub", "D:\\dst\\*", true, "*"},
    {"a.txt", "A.TXT", "*", true, "*"},
#else
    {"D:\\dst\\SUB\\", "sub", "D:\\dst\\SUB\\*.*", false, "*.*"},
    {"a.txt", "A.TXT", "a.txt\\*.*", false, "*.*"},
#endif
  };
  for (const DestCase &c : cases) {
    PathBuf pattern;
    snprintf(pattern, sizeof pattern, "%s", c.dest);
    bool sameName = !c.sameName;
    char *slot = prepareDestSpec(pattern, c.mask, sameName);
    ASSERT_NE(slot, nullptr) << c.dest;
    EXPECT_STREQ(pattern, c.pattern) << c.dest;
    EXPECT_EQ(sameName, c.sameName) << c.dest;
    EXPECT_STREQ(slot, c.slotText) << c.dest;
  }
  std::string text(PATH_BUF - 3, 'd'); // 517 bytes: the `\` fits, *.* does not
  PathBuf pattern;
  snprintf(pattern, sizeof pattern, "%s", text.c_str());
  bool sameName = true;
  EXPECT_EQ(prepareDestSpec(pattern, "", sameName), nullptr);
}

// The listing of the walker's own worked example: a named directory merged into an existing
// destination, a nested block whose destination is made on the way.
TEST_F(WalkTest, VerboseLayoutOfNamedDirectoryWithSubdirectory) {
  file("s/a.txt");
  file("s/sub/b.txt");
  dir("d");
  runState.verbose = true;
  runState.recurse = true;
  tu::StdoutCapture capture;
  int total = walk(t("s"), t("d"));
  std::string out = capture.finish();
  std::string s = t("s"), d = t("d");
  std::string expected = " copy(" + s + " --> " + d + "){\n" + "  (" + s + "\\ --> " + d +
                         "\\){\n" + "   " + s + "\\a.txt\t--> " + d + "\\a.txt\n" + "   (" + s +
                         "\\sub\\ --> " + d + "\\sub\\){\n" + "    createdir(" + d + "\\sub)\n" +
                         "    " + s + "\\sub\\b.txt\t--> " + d + "\\sub\\b.txt\n" + "   }\n" +
                         "  }\n" + " }\n";
  EXPECT_EQ(out, expected);
  EXPECT_EQ(total, 2);
  EXPECT_EQ(runState.fileCount, 2);
  EXPECT_EQ(runState.dirCount, 2);
  EXPECT_TRUE(exists("d/a.txt"));
  EXPECT_TRUE(exists("d/sub/b.txt"));
  EXPECT_FALSE(runState.lineOpen);
}

TEST_F(WalkTest, RecursiveCopyMakesTheMissingDestinationChain) {
  file("src/a.txt");
  file("src/sub/b.txt");
  dir("src/empty");
  runState.verbose = true;
  runState.recurse = true;
  tu::StdoutCapture capture;
  EXPECT_EQ(walk(t("src") + "\\", t("new\\deep")), 2);
  std::string out = capture.finish();
  size_t first = out.find("createdir(" + t("new") + ")\n");
  size_t second = out.find("createdir(" + t("new\\deep") + ")\n");
  size_t third = out.find("createdir(" + t("new\\deep\\sub") + ")\n");
  ASSERT_NE(first, std::string::npos) << out;
  ASSERT_NE(second, std::string::npos) << out;
  ASSERT_NE(third, std::string::npos) << out;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_TRUE(exists("new/deep/a.txt"));
  EXPECT_TRUE(exists("new/deep/sub/b.txt"));
  // An empty directory's listing finds its dot entries: its destination is made too, and its
  // block closes on the header line.
  EXPECT_TRUE(isDir("new/deep/empty"));
  EXPECT_NE(out.find("  (" + t("src\\empty\\") + " --> " + t("new\\deep\\empty\\") +
                     "){\n   createdir(" + t("new\\deep\\empty") + ")\n  }\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(runState.errorCount, 0);
}

TEST_F(WalkTest, EmptyDestinationDefaultsToCurrentDirectory) {
  file("src/a.txt");
  dir("work");
  CwdGuard cwd(tmp.path() / "work");
  runState.verbose = true;
  tu::StdoutCapture capture;
  EXPECT_EQ(walk(t("src\\a.txt"), ""), 1);
  std::string out = capture.finish();
  EXPECT_EQ(lastDest, ".\\");
  // The top header shows the destination as received: empty.
  EXPECT_EQ(out.rfind(" copy(" + t("src\\a.txt") + " --> ){", 0), 0u) << out;
  EXPECT_TRUE(exists("work/a.txt"));
}

TEST_F(WalkTest, SameNameDestinationForms) {
  file("x/sub/f.txt");
  file("x/sub/inner/g.txt");
  runState.recurse = true;
  const char *forms[] = {"d1\\sub", "d2\\*", "d3\\sub\\"};
  const char *made[] = {"d1/sub", "d2/sub", "d3/sub"};
  for (int i = 0; i < 3; ++i) {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("x\\sub"), t(forms[i])), 2) << forms[i];
    capture.finish();
    EXPECT_TRUE(exists(std::string(made[i]) + "/f.txt")) << forms[i];
    EXPECT_TRUE(exists(std::string(made[i]) + "/inner/g.txt")) << forms[i];
  }
  // The plain form merges the named directory's content into the destination itself.
  tu::StdoutCapture capture;
  EXPECT_EQ(walk(t("x\\sub"), t("plain")), 2);
  capture.finish();
  EXPECT_TRUE(exists("plain/f.txt"));
  EXPECT_TRUE(exists("plain/inner/g.txt"));
  EXPECT_EQ(runState.errorCount, 0);
}

TEST_F(WalkTest, SameNameFileIntoMissingDirectoryMakesOnlyTheDirectory) {
  file("x/a.txt", "data");
  tu::StdoutCapture capture;
  EXPECT_EQ(walk(t("x\\a.txt"), t("d\\a.txt")), 1);
  capture.finish();
  EXPECT_TRUE(isDir("d"));
  ASSERT_TRUE(fs::is_regular_file(tmp.path() / "d" / "a.txt"));
  EXPECT_EQ(tu::readFile(tmp.path() / "d" / "a.txt"), "data");
  EXPECT_EQ(runState.errorCount, 0);
}

// A bare same-name destination means that name below the current directory, so the
// subdirectories of the named directory stay below it.
TEST_F(WalkTest, BareSameNameDestinationLandsBelowCurrentDirectory) {
  file("x/sub/f.txt");
  file("x/sub/inner/g.txt");
  dir("w1");
  dir("w2");
  runState.recurse = true;
  {
    CwdGuard cwd(tmp.path() / "w1");
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("x\\sub"), "sub"), 2);
  }
  EXPECT_TRUE(exists("w1/sub/f.txt"));
  EXPECT_TRUE(exists("w1/sub/inner/g.txt"));
  EXPECT_FALSE(exists("w1/inner"));
  {
    CwdGuard cwd(tmp.path() / "w2");
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("x\\sub"), "*"), 2);
  }
  EXPECT_TRUE(exists("w2/sub/f.txt"));
  EXPECT_TRUE(exists("w2/sub/inner/g.txt"));
  EXPECT_FALSE(exists("w2/f.txt"));
}

TEST_F(WalkTest, SamePathRefusedByText) {
  file("a/f.txt");
  runState.verbose = true;
  tu::StdoutCapture capture;
  EXPECT_EQ(walk(t("a"), t("a\\b")), 0);
  std::string out = capture.finish();
  EXPECT_EQ(out, " copy(" + t("a") + " --> " + t("a\\b") + "){}\n");
  EXPECT_EQ(runState.status, ST_SAME_PATH);
  EXPECT_EQ(runState.errorCount, 0);
  EXPECT_FALSE(exists("a/b"));

  // A destination that only begins with the same letters is elsewhere.
  tu::resetAll();
  runState.selectMask = SEL_DEFAULT;
  tu::StdoutCapture again;
  EXPECT_EQ(walk(t("a"), t("ab")), 1);
  again.finish();
  EXPECT_EQ(runState.status, 0u);
  EXPECT_TRUE(exists("ab/f.txt"));
}

// The text test compares names as the file system does: on POSIX, Photos and photos are two
// directories, and a destination spelled like the mask in other letters is a directory of its
// own; on Windows both are one.
TEST_F(WalkTest, SamePathAndSameNameFollowTheFileSystemsLetterCase) {
  file("Photos/p.jpg");
  file("x/sub/f.txt");
  runState.recurse = true;
  {
    tu::StdoutCapture capture;
    walk(t("Photos"), t("photos"));
  }
  {
    tu::StdoutCapture capture;
    walk(t("x\\sub"), t("d\\SUB"));
  }
#if defined(_WIN32)
  EXPECT_EQ(runState.status, ST_SAME_PATH);
  EXPECT_TRUE(exists("d/sub/f.txt"));
#else
  EXPECT_EQ(runState.status, 0u);
  EXPECT_TRUE(exists("photos/p.jpg"));
  EXPECT_TRUE(exists("d/SUB/f.txt"));
  EXPECT_FALSE(exists("d/sub"));
#endif
}

// Under /s a masked source would walk into the destination it is filling, one level deeper each
// time: a destination inside the source's directory is refused. Without /s it is allowed.
TEST_F(WalkTest, SamePathRefusesMaskedRecursionIntoItself) {
  file("a/f.txt");
  file("a/sub/g.txt");
  runState.recurse = true;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("a\\*.txt"), t("a\\b")), 0);
    EXPECT_EQ(capture.finish(), "");
  }
  EXPECT_EQ(runState.status, ST_SAME_PATH);
  EXPECT_EQ(runState.errorCount, 0);
  EXPECT_FALSE(exists("a/b"));

  tu::resetAll();
  runState.selectMask = SEL_DEFAULT;
  runState.recurse = true;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("a\\*.*"), t("a\\x")), 0);
  }
  EXPECT_EQ(runState.status, ST_SAME_PATH);
  EXPECT_FALSE(exists("a/x"));

  tu::resetAll();
  runState.selectMask = SEL_DEFAULT;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("a\\*.txt"), t("a\\b")), 1);
  }
  EXPECT_EQ(runState.status, 0u);
  EXPECT_TRUE(exists("a/b/f.txt"));
}

// The same directory written another way is found by identity, not by text.
TEST_F(WalkTest, SamePathRefusedByIdentity) {
  file("src/f.txt");
  dir("other");
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("src"), t("other\\..\\src\\sub")), 0);
  }
  EXPECT_EQ(runState.status, ST_SAME_PATH);
  EXPECT_EQ(runState.errorCount, 0);
  EXPECT_FALSE(exists("src/sub"));

  tu::resetAll();
  runState.selectMask = SEL_DEFAULT;
  dir("w");
  {
    CwdGuard cwd(tmp.path());
    tu::StdoutCapture capture;
    EXPECT_EQ(walk("src", ".\\src\\sub"), 0);
  }
  EXPECT_EQ(runState.status, ST_SAME_PATH);
  EXPECT_FALSE(exists("src/sub"));

  // A sibling reached through `..` is not inside the source, although cutting its last
  // component textually would lead back to the current directory.
  tu::resetAll();
  runState.selectMask = SEL_DEFAULT;
  {
    CwdGuard cwd(tmp.path() / "src");
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(".", "..\\copy"), 1);
  }
  EXPECT_EQ(runState.status, 0u);
  EXPECT_TRUE(exists("copy/f.txt"));
}

TEST_F(WalkTest, MaskedRecursionVisitsEverySubdirectory) {
  file("src/a.txt");
  file("src/b.dat");
  file("src/sub/c.txt");
  file("src/sub/d.dat");
  file("src/sub/deeper/e.txt");
  file("src/nodata/f.dat");
  runState.recurse = true;
  runState.verbose = true;
  tu::StdoutCapture capture;
  // The leading dot is shorthand for *.txt.
  EXPECT_EQ(walk(t("src\\.txt"), t("dst")), 3);
  std::string out = capture.finish();
  EXPECT_TRUE(exists("dst/a.txt"));
  EXPECT_TRUE(exists("dst/sub/c.txt"));
  EXPECT_TRUE(exists("dst/sub/deeper/e.txt"));
  EXPECT_FALSE(exists("dst/b.dat"));
  EXPECT_FALSE(exists("dst/sub/d.dat"));
  // A subdirectory whose level matches nothing is walked but not made.
  EXPECT_FALSE(exists("dst/nodata"));
  EXPECT_EQ(runState.dirCount, 3);
  EXPECT_EQ(runState.fileCount, 3);
  EXPECT_NE(out.find("(" + t("src\\sub\\*.txt") + " --> " + t("dst\\sub\\") + "){"),
            std::string::npos)
      << out;
}

#if !defined(_WIN32)
// On a case-sensitive file system a subdirectory may be spelled like the mask in other letters;
// the walk still gives it a destination directory of its own.
TEST_F(WalkTest, SubdirectoryNamedLikeTheMaskKeepsItsOwnDirectory) {
  file("src/x/README.TXT/readme.txt", "inner");
  runState.recurse = true;
  tu::StdoutCapture capture;
  EXPECT_EQ(walk(t("src\\readme.txt"), t("dst")), 1);
  capture.finish();
  EXPECT_EQ(tu::readFile(tmp.path() / "dst/x/README.TXT/readme.txt"), "inner");
  EXPECT_FALSE(fs::is_regular_file(tmp.path() / "dst/x/readme.txt"));
}
#endif

#if !defined(_WIN32)
// The chain of open directories: a link back to a directory the walk is inside (the parent, the
// top of the walk, or round through a second link) is refused with 1921 as the failure of the
// action it blocks, and not counted as a directory walked; a link elsewhere is followed.
TEST_F(WalkTest, DirectoryAlreadyOpenInTheWalkIsRefused) {
  file("src/a/f.txt");
  dir("src/b");
  dir("src/c");
  dir("src/d");
  fs::create_directory_symlink("..", tmp.path() / "src" / "a" / "up");
  fs::create_directory_symlink(tmp.path() / "src", tmp.path() / "src" / "a" / "top");
  fs::create_directory_symlink("../c", tmp.path() / "src" / "b" / "toc");
  fs::create_directory_symlink("../b", tmp.path() / "src" / "c" / "tob");
  fs::create_directory_symlink("../a", tmp.path() / "src" / "d" / "toa");
  const std::string loop = "\t:error(1921) The name of the file cannot be resolved by the "
                           "system.  \n";
  runState.recurse = true;
  runState.continueOnError = true;
  tu::StdoutCapture capture;
  // a, b, b\toc, c, c\tob, d, d\toa: seven directories walked, f.txt twice.
  EXPECT_EQ(walk(t("src\\"), t("dst")), 2);
  EXPECT_EQ(capture.finish(), t("src\\a\\f.txt\n") + t("src\\a\\top\\") + loop + t("src\\a\\up\\") +
                                  loop + t("src\\b\\toc\\tob\\") + loop + t("src\\c\\tob\\toc\\") +
                                  loop + t("src\\d\\toa\\f.txt\n") + t("src\\d\\toa\\top\\") +
                                  loop + t("src\\d\\toa\\up\\") + loop);
  EXPECT_EQ(runState.dirCount, 7);
  EXPECT_EQ(runState.fileCount, 2);
  EXPECT_EQ(runState.errorCount, 6);
  EXPECT_EQ(runState.status, ST_COPY_FAILED);
  EXPECT_TRUE(exists("dst/d/toa/f.txt"));
  EXPECT_FALSE(exists("dst/a/up"));
}

// A directory that cannot be listed (here: a link that leads to itself, refused with too many
// link levels) is a failure of that directory, reported once with the status value of the
// action it blocks; a mask carried down by /s does not list it a second time.
TEST_F(WalkTest, DirectoryThatCannotBeListedIsReportedOnce) {
  file("src/a.txt");
  fs::create_symlink("loop", tmp.path() / "src" / "loop");
  const std::string failure = t("src\\loop\\") +
                              "\t:error(1921) The name of the file cannot be resolved by the "
                              "system.  \n";
  runState.recurse = true;
  runState.continueOnError = true;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("src\\loop\\*.txt"), t("dst")), 0);
    EXPECT_EQ(capture.finish(), failure);
  }
  EXPECT_EQ(runState.status, ST_COPY_FAILED);
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_FALSE(exists("dst"));

  tu::resetAll();
  runState.mode = MODE_DELETE;
  runState.selectMask = SEL_DEFAULT;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("src\\loop\\"), ""), 0);
    EXPECT_EQ(capture.finish(), failure);
  }
  EXPECT_EQ(runState.status, ST_DELETE_FAILED);
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_TRUE(exists("src/a.txt"));
}
#endif

#if !defined(_WIN32)
// A move or delete takes a link as an entry of its own, like a file, whatever it leads to: the
// link goes, what it leads to stays. A copy follows it.
TEST_F(WalkTest, MoveAndDeleteTakeLinksThemselves) {
  file("src/a.txt");
  file("important/payroll.db", "pay");
  fs::create_directory_symlink("../important", tmp.path() / "src" / "shortcut");
  fs::create_symlink("../important/payroll.db", tmp.path() / "src" / "note");
  runState.recurse = true;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("src"), t("copy")), 3);
    capture.finish();
  }
  EXPECT_TRUE(isDir("copy/shortcut"));
  EXPECT_FALSE(fs::is_symlink(tmp.path() / "copy" / "shortcut"));

  runState.mode = MODE_MOVE;
  runState.fileCount = 0;
  runState.dirCount = 0;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("src"), t("dst")), 3);
    capture.finish();
  }
  EXPECT_EQ(runState.fileCount, 3);
  EXPECT_EQ(runState.dirCount, 1);
  EXPECT_TRUE(fs::is_symlink(tmp.path() / "dst" / "shortcut"));
  EXPECT_TRUE(fs::is_symlink(tmp.path() / "dst" / "note"));
  EXPECT_FALSE(exists("src"));

  runState.mode = MODE_DELETE;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("dst"), ""), 3);
    capture.finish();
  }
  EXPECT_FALSE(exists("dst"));
  EXPECT_EQ(tu::readFile(tmp.path() / "important" / "payroll.db"), "pay");
  EXPECT_EQ(runState.errorCount, 0);
}

// A source directory that is the destination directory itself (here reached through a link
// the top's checks cannot see, as they judge the destination's own path) is never walked: the
// same-path refusal, without an error counted.
TEST_F(WalkTest, SourceDirectoryThatIsTheDestinationIsRefused) {
  file("src/a.txt");
  dir("dst");
  fs::create_directory_symlink("../dst", tmp.path() / "src" / "into");
  runState.recurse = true;
  tu::StdoutCapture capture;
  EXPECT_EQ(walk(t("src\\*"), t("dst")), 1);
  capture.finish();
  EXPECT_TRUE(runState.samePathRefused);
  EXPECT_EQ(runState.status, ST_SAME_PATH);
  EXPECT_EQ(runState.errorCount, 0);
  EXPECT_EQ(runState.dirCount, 0);
  EXPECT_TRUE(exists("dst/a.txt"));
  EXPECT_FALSE(exists("dst/into"));
}
#endif

TEST_F(WalkTest, MoveRemovesEmptiedSourceDirectoriesInnermostFirst) {
  file("src/a.txt");
  file("src/sub/b.txt");
  file("src/sub/deeper/c.txt");
  file("keep/k.txt");
  file("keep/inner/keep.txt");
  runState.mode = MODE_MOVE;
  runState.recurse = true;
  runState.verbose = true;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("src"), t("dst")), 3);
    std::string out = capture.finish();
    size_t deeper = out.find("removedir(" + t("src\\sub\\deeper\\") + ")\n");
    size_t sub = out.find("removedir(" + t("src\\sub\\") + ")\n");
    size_t top = out.find("removedir(" + t("src\\") + ")\n");
    ASSERT_NE(deeper, std::string::npos) << out;
    ASSERT_NE(sub, std::string::npos) << out;
    ASSERT_NE(top, std::string::npos) << out;
    EXPECT_LT(deeper, sub);
    EXPECT_LT(sub, top);
  }
  EXPECT_FALSE(exists("src"));
  EXPECT_TRUE(exists("dst/sub/deeper/c.txt"));

  // A directory that still holds an excluded file stays, and so do its parents, silently.
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("keep"), t("dst2"), "keep.txt\t"), 1);
    std::string out = capture.finish();
    EXPECT_EQ(out.find("removedir"), std::string::npos) << out;
  }
  EXPECT_TRUE(exists("keep/inner/keep.txt"));
  EXPECT_FALSE(exists("keep/k.txt"));
  EXPECT_EQ(runState.errorCount, 0);
}

TEST_F(WalkTest, DestinationNamingAFileStopsTheLevel) {
  file("src/a.txt");
  file("src/b.txt");
  file("dest.txt", "file");
  tu::StdoutCapture capture;
  EXPECT_EQ(walk(t("src"), t("dest.txt")), 0);
  EXPECT_EQ(capture.finish(), "Destination must be a path.\n");
  EXPECT_EQ(runState.status, ST_DEST_NOT_DIR);
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_EQ(runState.fileCount, 0);
  EXPECT_EQ(tu::readFile(tmp.path() / "dest.txt"), "file");
}

TEST_F(WalkTest, EchoListsWithoutMakingOrRemoving) {
  file("src/a.txt");
  file("src/sub/b.txt");
  dir("src/empty");
  runState.echoOnly = true;
  runState.recurse = true;
  runState.verbose = true;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("src\\"), t("dst")), 2);
    std::string out = capture.finish();
    EXPECT_NE(out.find("createdir(" + t("dst") + ")\n"), std::string::npos) << out;
    EXPECT_NE(out.find("createdir(" + t("dst\\sub") + ")\n"), std::string::npos) << out;
  }
  EXPECT_FALSE(exists("dst"));

  runState.mode = MODE_MOVE;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("src\\"), t("dst")), 2);
    std::string out = capture.finish();
    // Listed files stay, so only the directory that was empty already is reported removed.
    EXPECT_NE(out.find("removedir(" + t("src\\empty\\") + ")\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("removedir(" + t("src\\sub\\") + ")"), std::string::npos) << out;
  }
  EXPECT_TRUE(isDir("src/empty"));
  EXPECT_TRUE(exists("src/sub/b.txt"));
  EXPECT_FALSE(exists("dst"));
  EXPECT_EQ(runState.errorCount, 0);
}

// A failed copy ends the walk at every level unless /+c is given.
TEST_F(WalkTest, FirstErrorStopsTheWalkWithoutContinue) {
  file("src/a.txt", "new");
  file("src/b.txt", "new");
  file("src/sub/c.txt", "new");
  // A directory in the way of each file: the copy is refused on every platform (a read-only
  // file would not do, since Wine run as root writes over it).
  dir("dst/a.txt");
  dir("dst/b.txt");
  runState.recurse = true;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("src\\"), t("dst")), 0);
    std::string out = capture.finish();
    EXPECT_EQ(out.rfind(t("src\\a.txt") + "\t:error(", 0), 0u) << out;
    EXPECT_EQ(out.find("b.txt"), std::string::npos) << out;
  }
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_EQ(runState.status, ST_COPY_FAILED);
  EXPECT_EQ(runState.dirCount, 0);
  EXPECT_FALSE(exists("dst/sub"));

  tu::resetAll();
  runState.selectMask = SEL_DEFAULT;
  runState.recurse = true;
  runState.continueOnError = true;
  {
    tu::StdoutCapture capture;
    EXPECT_EQ(walk(t("src\\"), t("dst")), 1);
  }
  EXPECT_EQ(runState.errorCount, 2);
  EXPECT_TRUE(exists("dst/sub/c.txt"));
}

// A tree nested deeper than the path buffers reach: the walk reports the first path that does
// not fit as a failure, never writes past a buffer and never exhausts the stack.
TEST_F(WalkTest, TreeDeeperThanThePathBuffers) {
  std::string chain = "src";
  while (tmp.text(chain).size() < PATH_BUF + 40)
    chain += "/d";
  std::error_code ec;
  fs::create_directories(tmp.path() / chain, ec);
  if (ec)
    GTEST_SKIP() << "the platform cannot make a tree this deep: " << ec.message();
  file("src/a.txt"); // listed before the deep chain
  runState.recurse = true;
  tu::StdoutCapture capture;
  int total = walk(t("src"), t("dst"));
  std::string out = capture.finish();
  EXPECT_EQ(runState.depth, 0);
  EXPECT_GE(total, 1);
  EXPECT_TRUE(exists("dst/a.txt"));
#if defined(_WIN32)
  // The platform's own limit of 260 characters is met long before the buffers are full: its
  // ANSI file calls refuse such paths or find nothing, so only an orderly end is checked here.
  EXPECT_LE(runState.errorCount, 1);
#else
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_NE(out.find(" :path too long\n"), std::string::npos) << out;
  EXPECT_EQ(runState.status, ST_COPY_FAILED);
  // The path shown is cut to what fits the buffer.
  size_t end = out.find(" :path too long\n");
  size_t start = out.rfind('\n', end);
  start = start == std::string::npos ? 0 : start + 1;
  EXPECT_LE(end - start, static_cast<size_t>(PATH_BUF - 1));
#endif

  // With /+c every level below the limit is still walked and each overlong path reported.
  tu::resetAll();
  runState.selectMask = SEL_DEFAULT;
  runState.recurse = true;
  runState.continueOnError = true;
  runState.echoOnly = true;
  tu::StdoutCapture again;
  walk(t("src"), t("dst2"));
  again.finish();
  EXPECT_EQ(runState.depth, 0);
#if !defined(_WIN32)
  EXPECT_GE(runState.errorCount, 1);
#endif
}

} // namespace

#if !defined(_WIN32)
// The descriptors open in this process (those of /proc/self/fd, less the one reading it).
static int openDescriptors() {
  int count = 0;
  for (const fs::directory_entry &entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

// Each level opens its destination directory for its lookups, again after a subdirectory, and
// closes it when it ends: a deep tree whose namesakes all exist is walked with every file found
// and no descriptor left behind.
TEST_F(WalkTest, LevelLookupsLeaveNoDescriptorBehind) {
  std::string chain = "src";
  for (int depth = 0; depth < 40; ++depth) {
    file(chain + "/a.txt");
    file(chain + "/z.txt"); // looked up after the subdirectory is walked
    chain += "/d";
  }
  runState.recurse = true;
  tu::StdoutCapture first;
  EXPECT_EQ(walk(t("src"), t("dst")), 80);
  first.finish();
  int before = openDescriptors();
  runState.selectMask = SEL_ABSENT; // nothing is absent now
  tu::StdoutCapture capture;
  EXPECT_EQ(walk(t("src"), t("dst")), 0);
  capture.finish();
  EXPECT_EQ(runState.errorCount, 0);
  EXPECT_EQ(openDescriptors(), before);
}
#endif
