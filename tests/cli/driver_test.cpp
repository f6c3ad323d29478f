// The run driver: usage and conflicts, the settled selection, the three modes, wildcard
// directories, reversed paths, refused lengths and the summary.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "cli/parser.h"
#include "support/testutil.h"
#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

namespace fs = tu::fs;

struct RunResult {
  int exitCode;
  std::string out;
};

// One whole run with `args` after the program path; the output is captured.
RunResult run(const std::vector<std::string> &args) {
  std::vector<std::string> storage;
  storage.push_back("treecopy");
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &s : storage)
    argv.push_back(s.data());
  argv.push_back(nullptr);
  tu::StdoutCapture capture;
  int code = runTreecopy(static_cast<int>(storage.size()), argv.data());
  return {code, capture.finish()};
}

bool endsWith(const std::string &text, const std::string &tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string usageText() {
  tu::StdoutCapture capture;
  printUsage("treecopy");
  return capture.finish();
}

class DriverTest : public testing::Test {
protected:
  void SetUp() override {
    tu::resetAll();
    fs::create_directory(dir.path() / "src");
    fs::create_directory(dir.path() / "dst");
  }
  void TearDown() override { tu::resetAll(); }
  std::string src(const std::string &rel = "") const {
    return rel.empty() ? dir.text("src") : dir.text("src\\" + rel);
  }
  std::string dst(const std::string &rel = "") const {
    return rel.empty() ? dir.text("dst") : dir.text("dst\\" + rel);
  }
  // The path below the temporary directory of a relative text with backslashes.
  fs::path at(std::string rel) const {
    for (char &c : rel)
      if (c == '\\')
        c = '/';
    return dir.path() / fs::path(rel).make_preferred();
  }
  void put(const std::string &rel, const std::string &bytes = "data") {
    fs::create_directories(at(rel).parent_path());
    tu::writeFile(at(rel), bytes);
  }
  bool has(const std::string &rel) const { return fs::exists(at(rel)); }
  tu::TempDir dir;
};

// ----------------------------------------------------------------------------------------------
// Before any walk

TEST_F(DriverTest, UsageWhenThereIsNothingToDo) {
  std::string usage = usageText();
  EXPECT_EQ(run({}).out, usage);
  EXPECT_EQ(run({}).exitCode, 0);
  RunResult single = run({"*.txt"}); // lands in the destination: still no source
  EXPECT_EQ(single.out, usage);
  EXPECT_EQ(single.exitCode, 0);
  EXPECT_EQ(run({"/s", "/+v"}).out, usage);
}

TEST_F(DriverTest, HelpWinsOverAValidRunButNotOverAConflict) {
  put("src\\a.txt");
  RunResult help = run({src(), dst(), "/?"});
  EXPECT_EQ(help.out, usageText());
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_FALSE(has("dst\\a.txt"));

  for (std::vector<std::string> args :
       {std::vector<std::string>{"/m", "/c"}, std::vector<std::string>{"/del", "/m"},
        std::vector<std::string>{"/m", "/c", "/?"}}) {
    args.insert(args.begin(), src());
    RunResult r = run(args);
    EXPECT_EQ(r.out, "conflict options.\n");
    EXPECT_EQ(r.exitCode, 144);
    EXPECT_EQ(runState.status, 0u);
  }
}

TEST_F(DriverTest, ParseFailureEndsTheRunUntouched) {
  put("src\\a.txt");
  RunResult r = run({src(), dst(), "/k"});
  EXPECT_EQ(r.out, "/k :Unknown option\n");
  EXPECT_EQ(r.exitCode, 0x90);
  r = run({src(), dst() + "|x"});
  EXPECT_EQ(r.exitCode, 0x80);
  EXPECT_FALSE(has("dst\\a.txt"));
}

TEST_F(DriverTest, SelectionIsSettledOnce) {
  std::string missing = src("none.txt");
  struct Case {
    std::vector<std::string> options;
    uint32_t mask;
  };
  for (const Case &c : {Case{{}, 0x7F}, Case{{"/n"}, 0x01}, Case{{"/o"}, 0x7E}, Case{{"/u"}, 0x03},
                        Case{{"/i"}, 0x03}, Case{{"/+a", "/u"}, 0x00}, Case{{"/+n", "/u"}, 0x02},
                        Case{{"/n", "/+n"}, 0x00}, Case{{"/+e", "/+m"}, 0x41}}) {
    std::vector<std::string> args = c.options;
    args.insert(args.begin(), missing);
    run(args);
    EXPECT_EQ(runState.selectMask, c.mask) << (c.options.empty() ? "" : c.options[0]);
  }
}

// A delete's destination names the namesakes that decide; a wildcard there (a mask written
// where the destination stands) would pair with nothing and delete every file. It is refused
// before anything is touched, also when /+r makes the written source the destination.
TEST_F(DriverTest, DeleteRefusesAWildcardDestination) {
  put("src\\a.log");
  put("src\\sub\\b.txt");
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{src(), "*.log", "/del", "/s"},
        std::vector<std::string>{src(), dst("?"), "/del"},
        std::vector<std::string>{dst("x*"), src(), "/del", "/+r"}}) {
    RunResult r = run(args);
    const std::string &shown = args[args.size() > 3 && args[3] == "/+r" ? 0 : 1];
    EXPECT_EQ(r.out, shown + " :wildcard in the destination of a delete\n");
    EXPECT_EQ(r.exitCode, 0x80);
    EXPECT_TRUE(has("src\\a.log"));
    EXPECT_TRUE(has("src\\sub\\b.txt"));
  }
  // Other modes keep the destination's wildcard, which takes the name found.
  RunResult copy = run({src("*.log"), dst("*")});
  EXPECT_EQ(copy.exitCode, 0);
  EXPECT_TRUE(has("dst\\src\\a.log"));
}

// A wildcard left in the destination after resolution matched no directory: refused as a bad
// name before anything is made, in every mode that takes a destination. The forms that stand
// for each entry's own name are kept.
TEST_F(DriverTest, AWildcardDestinationThatMatchedNothingIsRefused) {
  put("src\\a.txt");
  // The line, up to the system's message text (Wine words its texts differently).
  auto refusal = [](const std::string &out) { return out.substr(0, out.find(')') + 1); };
  for (const std::string &dest : {dst("new?"), dst("n*w"), dst("x?\\y"), dir.text("b?k\\dst")}) {
    RunResult r = run({src(), dest, "/s"});
    EXPECT_EQ(refusal(r.out), dest + "\t:error(123)");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_EQ(r.exitCode, 0x04);
    EXPECT_EQ(runState.errorCount, 1);
  }
  RunResult compare = run({src(), dst("a?"), "/c"});
  EXPECT_EQ(refusal(compare.out), dst("a?") + "\t:error(123)");
  EXPECT_EQ(compare.exitCode, 0x08);
  EXPECT_TRUE(fs::is_empty(at("dst")));
  EXPECT_FALSE(has("b?k"));

  put("src\\ab.txt");
  RunResult sameName = run({src("a?.txt"), dst("a?.txt")});
  EXPECT_EQ(sameName.exitCode, 0) << sameName.out;
  EXPECT_TRUE(has("dst\\ab.txt"));
  RunResult mask = run({src(), "a?.txt", dst("a?.txt"), "/+v"});
  EXPECT_EQ(mask.exitCode, 0) << mask.out;
}

// ----------------------------------------------------------------------------------------------
// Single source

TEST_F(DriverTest, PlainCopyAndSummary) {
  put("src\\a.txt");
  RunResult r = run({src("a.txt"), dst()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(endsWith(r.out, " 1/1.files copied.\n")) << "[" << r.out << "]";
  EXPECT_TRUE(has("dst\\a.txt"));
}

TEST_F(DriverTest, SummaryCountsDirectoriesAndEchoVerb) {
  put("src\\a.txt");
  put("src\\sub\\b.txt");
  // The named source directory is itself a walked directory, as is sub.
  RunResult r = run({src(), dst(), "/s", "/e"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(endsWith(r.out, " 2/2.files(2.dirs) found.\n")) << "[" << r.out << "]";
  EXPECT_FALSE(has("dst\\a.txt"));
}

TEST_F(DriverTest, NothingActedOnStillPrintsTheCounts) {
  put("src\\a.txt");
  put("dst\\a.txt");
  RunResult r = run({src(), dst(), "/n"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(endsWith(r.out, " 0/1.files(1.dirs) copied.\n")) << "[" << r.out << "]";
}

TEST_F(DriverTest, AFileNamedWithoutExtensionGetsItsDot) {
  put("src\\noext", "1");
  put("src\\noext.txt", "2");
  RunResult r = run({src("noext"), dst()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(endsWith(r.out, " 1/1.files copied.\n")) << "[" << r.out << "]";
  EXPECT_TRUE(has("dst\\noext"));
  EXPECT_FALSE(has("dst\\noext.txt"));
}

#if !defined(_WIN32)
// The final dot the driver adds to a plain name is its own, never the user's: with readme and
// readme. side by side, each source acts on the file it names, at the top and, under /s, in the
// subdirectories too; in single-source and in mask-list mode.
TEST_F(DriverTest, TheAddedDotNeverNamesTheFileThatEndsInADot) {
  struct Case {
    std::vector<std::string> args;
    const char *gone; // the name that goes in src and src\sub
  };
  const Case cases[] = {
      {{src("readme"), "/del"}, "readme"},
      {{src("readme."), "/del"}, "readme."},
      {{src("readme"), "/del", "/s"}, "readme"},
      {{src("readme."), "/del", "/s"}, "readme."},
      {{src("readme"), "*.none", dst(), "/m", "/s"}, "readme"},
  };
  for (const Case &c : cases) {
    tu::resetAll();
    for (const char *name :
         {"src\\readme", "src\\readme.", "src\\sub\\readme", "src\\sub\\readme."})
      put(name, name);
    RunResult r = run(c.args);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    bool recurse = c.args.back() == "/s";
    for (std::string name : {"readme", "readme."}) {
      bool gone = name == c.gone;
      EXPECT_EQ(has("src\\" + name), !gone) << c.args[0] << " " << name;
      EXPECT_EQ(has("src\\sub\\" + name), !(gone && recurse)) << c.args[0] << " " << name;
    }
  }
}
#endif

TEST_F(DriverTest, ASourceThatMatchesNothing) {
  std::string missing = src("none.txt");
  RunResult r = run({missing, dst()});
  EXPECT_EQ(r.out, missing + " :file not found.\n");
  EXPECT_EQ(r.exitCode, 0xA0);
}

TEST_F(DriverTest, SameSourceAndDestinationGiveTheirOwnMessage) {
  put("src\\a.txt");
  RunResult r = run({src(), src()});
  EXPECT_EQ(r.out, "Source and destination are the same path.\n");
  EXPECT_EQ(r.exitCode, 0xF0);
}

#if !defined(_WIN32)
// Backup mode over time, on the disk file system and on tmpfs: a file copied and cleared is
// passed over while unchanged, and copied again after every change of its contents, also one
// that sets an older last-write time (cp -p, tar, rsync -a, a restore).
TEST_F(DriverTest, BackupModeSeesEveryChangeOfContents) {
  std::vector<fs::path> places = {dir.path()};
  if (fs::is_directory("/dev/shm"))
    places.push_back("/dev/shm");
  for (const fs::path &place : places) {
    fs::path root = place / ("tc-backup-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "src");
    std::string source = tu::programPath(root / "src"), backup = tu::programPath(root / "bak");
    fs::path doc = root / "src" / "doc.txt";
    tu::writeFile(doc, "first\n");
    auto backupRun = [&] {
      tu::resetAll();
      return run({source, backup, "/b"});
    };
    EXPECT_TRUE(endsWith(backupRun().out, " 1/1.files(1.dirs) copied.\n")) << place;
    EXPECT_TRUE(endsWith(backupRun().out, " 0/1.files(1.dirs) copied.\n")) << place;
    for (const char *contents : {"second\n", "third!\n"}) {
      tu::writeFile(doc, contents);
      tu::setWriteTicks(doc, 133000000000000000LL); // 2022: older than the copy
      EXPECT_TRUE(endsWith(backupRun().out, " 1/1.files(1.dirs) copied.\n")) << place;
      EXPECT_EQ(tu::readFile(root / "bak" / "doc.txt"), contents) << place;
      EXPECT_TRUE(endsWith(backupRun().out, " 0/1.files(1.dirs) copied.\n")) << place;
    }
    fs::remove_all(root);
  }
}
#endif

TEST_F(DriverTest, ReversedPathsWalkTheOtherWay) {
  put("src\\a.txt");
  RunResult r = run({dst(), src(), "/+r"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(has("dst\\a.txt"));
}

// ----------------------------------------------------------------------------------------------
// Wildcard directories

TEST_F(DriverTest, WildcardDirectoryNamesTheDestination) {
  put("src\\run-01\\log.txt");
  PathBuf source, dest;
  std::snprintf(source, sizeof source, "%s", src("run*").c_str());
  std::snprintf(dest, sizeof dest, "%s", dst("*").c_str());
  resolveWildDirs(source, dest);
  EXPECT_STREQ(source, src("run-01").c_str());
  EXPECT_STREQ(dest, dst("run-01").c_str());
}

TEST_F(DriverTest, FilePatternKeepsItsDirectoryName) {
  put("src\\data\\a.txt");
  PathBuf source, dest;
  std::snprintf(source, sizeof source, "%s", src("data\\*.txt").c_str());
  std::snprintf(dest, sizeof dest, "%s", dst("*").c_str());
  resolveWildDirs(source, dest);
  EXPECT_STREQ(source, src("data\\*.txt").c_str());
  EXPECT_STREQ(dest, dst("data").c_str());

  RunResult r = run({src("data\\*.txt"), dst("*")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(has("dst\\data\\a.txt"));
}

// A last component that matches a file names files even when a directory matches first: the
// source stays a pattern and the destination's `*` takes the directory's name.
TEST_F(DriverTest, WildcardMatchingAFileNamesFiles) {
  put("src\\archive.txt\\important.doc");
  put("src\\b.txt");
  PathBuf source, dest;
  std::snprintf(source, sizeof source, "%s", src("*.txt").c_str());
  std::snprintf(dest, sizeof dest, "%s", dst("*").c_str());
  resolveWildDirs(source, dest);
  EXPECT_STREQ(source, src("*.txt").c_str());
  EXPECT_STREQ(dest, dst("src").c_str());

  RunResult r = run({src("*.txt"), "/del"});
  EXPECT_EQ(r.out, src("b.txt") + "\n 1/1.files deleted.\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(has("src\\archive.txt\\important.doc"));
  EXPECT_FALSE(has("src\\b.txt"));
}

TEST_F(DriverTest, WildcardBeforeTheLastComponentStaysAsWritten) {
  put("src\\run-01\\a.txt");
  PathBuf source, dest;
  std::snprintf(source, sizeof source, "%s", src("run*\\*.txt").c_str());
  std::snprintf(dest, sizeof dest, "%s", dst().c_str());
  resolveWildDirs(source, dest);
  EXPECT_STREQ(source, src("run*\\*.txt").c_str());
  EXPECT_STREQ(dest, dst().c_str());
}

// ----------------------------------------------------------------------------------------------
// Mask list

TEST_F(DriverTest, OneWalkPerMask) {
  put("src\\a.c");
  put("src\\b.h");
  put("src\\c.txt");
  RunResult r = run({src(), "*.c", "*.h", dst()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(endsWith(r.out, " 2/2.files copied.\n")) << "[" << r.out << "]";
  EXPECT_TRUE(has("dst\\a.c"));
  EXPECT_TRUE(has("dst\\b.h"));
  EXPECT_FALSE(has("dst\\c.txt"));
}

TEST_F(DriverTest, PlainMasksAreFollowedIntoTheDestination) {
  put("src\\sub1\\a.txt");
  put("src\\sub2\\b.txt");
  put("src\\sub3\\c.txt");
  RunResult r = run({src(), "sub1", "sub2", dst()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(has("dst\\sub1\\a.txt"));
  EXPECT_TRUE(has("dst\\sub2\\b.txt"));
  EXPECT_FALSE(has("dst\\sub3"));
}

TEST_F(DriverTest, SourceThatIsNoDirectoryIsWalkedFirst) {
  put("src\\noext", "1");
  put("src\\x.h");
  RunResult r = run({src("noext"), "*.h", dst()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(has("dst\\noext"));
  EXPECT_TRUE(has("dst\\x.h"));
}

// A mask or list line is a name or a path below its source: no root, no drive where a colon
// separates, no ".." component (names that only begin or end with two dots are names).
TEST_F(DriverTest, WhatStaysBelowTheSource) {
  for (const char *below : {"a.txt", "*.c", "sub\\x", ".\\a", "...", "..a", "a..\\b", "sub\\"})
    EXPECT_TRUE(staysBelowSource(below)) << below;
  for (const char *outside : {"..", "..\\x", "sub\\..", "a\\..\\b", "\\x", "\\\\srv\\x"})
    EXPECT_FALSE(staysBelowSource(outside)) << outside;
  colonSeparates = true;
  EXPECT_FALSE(staysBelowSource("C:x"));
  EXPECT_FALSE(staysBelowSource("C:\\x"));
  colonSeparates = false;
  EXPECT_TRUE(staysBelowSource("12:00.log"));
}

TEST_F(DriverTest, AMaskOutsideTheSourceIsRefusedBeforeAnyWalk) {
  put("src\\a.c");
  put("outside\\f.txt");
  fs::create_directories(at("bak\\dst"));
  RunResult r = run({src(), "*.c", "..\\outside", dir.text("bak\\dst")});
  EXPECT_EQ(r.out, "..\\outside :not a path below the source\n");
  EXPECT_EQ(r.exitCode, 0x80);
  EXPECT_FALSE(has("bak\\dst\\a.c"));
  EXPECT_FALSE(has("bak\\outside"));
}

// ----------------------------------------------------------------------------------------------
// List file

TEST_F(DriverTest, ListLinesAreRelativeToTheSource) {
  put("src\\a.txt");
  put("src\\b c.txt");
  put("src\\sub\\d.txt");
  put("src\\e.txt");
  tu::writeFile(dir.path() / "list", "a.txt\n\"b c.txt\" trailing\n\nsub\\d.txt\r\n");
  RunResult r = run({src(), "@" + dir.text("list"), dst()});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(has("dst\\a.txt"));
  EXPECT_TRUE(has("dst\\b c.txt"));
  EXPECT_TRUE(has("dst\\d.txt"));
  EXPECT_FALSE(has("dst\\e.txt"));
}

TEST_F(DriverTest, MissingListFile) {
  std::string name = dir.text("nolist");
  RunResult r = run({src(), "@" + name, dst()});
  EXPECT_EQ(r.out, "@" + name + " :file not found.\n");
  EXPECT_EQ(r.exitCode, 0xB0);
}

TEST_F(DriverTest, ALineThatFindsNothingStopsTheList) {
  put("src\\b.txt");
  tu::writeFile(dir.path() / "list", "none.txt\nb.txt\n");
  std::string list = "@" + dir.text("list");
  RunResult r = run({src(), list, dst()});
  EXPECT_EQ(r.out, src("none.txt") + " :file not found.\n");
  EXPECT_EQ(r.exitCode, 0xA0);
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_FALSE(has("dst\\b.txt"));

  r = run({src(), list, dst(), "/+c"});
  EXPECT_TRUE(has("dst\\b.txt"));
  EXPECT_EQ(r.exitCode, 0xA0);
  EXPECT_TRUE(endsWith(r.out, " 1/1.files copied(1.errors).\n")) << "[" << r.out << "]";
}

TEST_F(DriverTest, AnEmptyListNamesThePrefix) {
  tu::writeFile(dir.path() / "list", "\n\n");
  RunResult r = run({src(), "@" + dir.text("list"), dst()});
  EXPECT_EQ(r.out, src() + "\\ :file not found.\n");
  EXPECT_EQ(r.exitCode, 0xA0);
}

TEST_F(DriverTest, APrefixWithNoRoomForALineIsReportedOnce) {
  tu::writeFile(dir.path() / "list", "a\nb\n");
  std::string prefix(514, 'p'); // 515 bytes with its separator
  RunResult r = run({prefix, "@" + dir.text("list"), dst()});
  EXPECT_EQ(r.out, prefix + "\\ :path too long\n");
  EXPECT_EQ(r.exitCode, 0xA0);
  EXPECT_EQ(runState.errorCount, 1);
}

TEST_F(DriverTest, AMaskThatDoesNotFitIsReportedAndSkipped) {
  put("src\\a.c");
  std::string source = src();
  std::string mask = "*" + std::string(519 - source.size() - 1, 'x'); // one byte too many
  RunResult r = run({source, mask, "*.c", dst(), "/+c"});
  EXPECT_TRUE(r.out.find(" :path too long\n") != std::string::npos) << r.out;
  EXPECT_TRUE(has("dst\\a.c"));
  EXPECT_EQ(r.exitCode, 0xA0);
}

TEST_F(DriverTest, AListWithALineOutsideTheSourceIsRefusedWhole) {
  put("src\\a.txt");
  put("outside\\f.txt");
  tu::writeFile(dir.path() / "list", "a.txt\n\"..\\outside\\f.txt\" remark\n");
  RunResult r = run({src(), "@" + dir.text("list"), dst(), "/m"});
  EXPECT_EQ(r.out, "..\\outside\\f.txt :not a path below the source\n");
  EXPECT_EQ(r.exitCode, 0x80);
  EXPECT_TRUE(has("src\\a.txt"));
  EXPECT_TRUE(has("outside\\f.txt"));
  EXPECT_FALSE(has("dst\\a.txt"));
}

TEST_F(DriverTest, ALineHoldingANulIsRefusedAsABadName) {
  put("src\\a.txt");
  put("src\\b.txt");
  tu::writeFile(dir.path() / "list", std::string("a.txt\0x\nb.txt\n", 14));
  RunResult r = run({src(), "@" + dir.text("list"), dst(), "/+c"});
  EXPECT_EQ(r.out.substr(0, r.out.find(')') + 1), src("a.txt") + "\t:error(123)");
  EXPECT_EQ(r.exitCode, 0xA0);
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_FALSE(has("dst\\a.txt"));
  EXPECT_TRUE(has("dst\\b.txt"));
}

#if !defined(_WIN32)
// A list that cannot be read twice (a pipe) is not read ahead: its lines are checked as they
// come, and the first one outside the source ends the reading.
TEST_F(DriverTest, APipedListIsCheckedLineByLine) {
  put("src\\a.txt");
  put("src\\b.txt");
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::string text = "a.txt\n..\\b.txt\nb.txt\n";
  ASSERT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(ends[1]);
  std::string list = "@\\proc\\self\\fd\\" + std::to_string(ends[0]);
  RunResult r = run({src(), list, dst(), "/+c"});
  close(ends[0]);
  EXPECT_EQ(r.out, src("a.txt") + "\n..\\b.txt :not a path below the source\n 1/1.files copied.\n");
  EXPECT_EQ(r.exitCode, 0x80);
  EXPECT_TRUE(has("dst\\a.txt"));
  EXPECT_FALSE(has("dst\\b.txt"));
}
#endif

} // namespace
