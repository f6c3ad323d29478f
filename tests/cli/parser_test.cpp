// The command-line parser: option runs, routing of positional pieces, list files, bracketed
// exclusion groups, refused characters and lengths, and the usage text.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "cli/parser.h"
#include "support/testutil.h"

namespace {

struct Parsed {
  CommandLine cl;
  std::string out;
  uint32_t status;
};

// Parses `args` (without the program path) from a clean run state; captures the output.
Parsed parse(const std::vector<std::string> &args) {
  std::vector<std::string> storage;
  storage.push_back("treecopy");
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &s : storage)
    argv.push_back(s.data());
  argv.push_back(nullptr);
  resetRunState();
  Parsed p;
  std::memset(&p.cl, 0, sizeof p.cl);
  tu::StdoutCapture capture;
  parseCommandLine(static_cast<int>(storage.size()), argv.data(), p.cl);
  p.out = capture.finish();
  p.status = runState.status;
  return p;
}

class ParserTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }
  void TearDown() override { tu::resetAll(); }
};

// ----------------------------------------------------------------------------------------------
// Option runs

TEST_F(ParserTest, EveryOptionLetterNeedsItsOwnSlash) {
  Parsed p = parse({"/a/s"});
  EXPECT_EQ(p.status, 0u);
  EXPECT_EQ(p.out, "");
  EXPECT_TRUE(runState.archiveOnly);
  EXPECT_TRUE(runState.recurse);

  p = parse({"/as"});
  EXPECT_EQ(p.out, "/as :syntax error\n");
  EXPECT_EQ(p.status, ST_SYNTAX);
}

TEST_F(ParserTest, EachOptionLetterSetsItsFlagInEitherCase) {
  Parsed p = parse({"/a", "/B", "/c", "/E", "/i", "/M", "/n", "/O", "/s", "/U", "/v", "/X", "/?"});
  EXPECT_EQ(p.status, 0u);
  const RunState &rs = runState;
  EXPECT_TRUE(rs.archiveOnly && rs.backupMode && rs.compareMode && rs.echoOnly && rs.incremental &&
              rs.moveMode && rs.noOverwrite && rs.overwriteOnly && rs.recurse && rs.updateOnly &&
              rs.verifyCopy && rs.includeHidden && rs.showHelp);
  EXPECT_FALSE(rs.deleteMode);
  EXPECT_EQ(rs.selectMask, 0u);
}

TEST_F(ParserTest, SuboptionLettersNeedTheirOwnPlus) {
  parse({"/+c+v"});
  EXPECT_TRUE(runState.continueOnError);
  EXPECT_TRUE(runState.verbose);

  Parsed p = parse({"/+cv"}); // the v is the c's argument text
  EXPECT_EQ(p.status, 0u);
  EXPECT_TRUE(runState.continueOnError);
  EXPECT_FALSE(runState.verbose);

  parse({"/+c/+v"});
  EXPECT_TRUE(runState.continueOnError);
  EXPECT_TRUE(runState.verbose);

  parse({"/+e/+n/+o/+L/+s/+a/+m"});
  EXPECT_EQ(runState.selectMask, SEL_DEFAULT);
  parse({"/+l"}); // either case
  EXPECT_EQ(runState.selectMask, SEL_LARGER);

  parse({"/+r/+d"});
  EXPECT_TRUE(runState.reversePaths);
  EXPECT_TRUE(runState.detailTime);
}

TEST_F(ParserTest, HeaderSizeValues) {
  parse({"/+h64"});
  EXPECT_EQ(runState.headerSizeKB, 64);
  for (const char *arg : {"/+h", "/+h0", "/+h-3", "/+hx"}) {
    parse({arg});
    EXPECT_EQ(runState.headerSizeKB, 1) << arg;
  }
  Parsed p = parse({"/+h64+v"});
  EXPECT_EQ(p.status, 0u);
  EXPECT_EQ(runState.headerSizeKB, 64);
  EXPECT_TRUE(runState.verbose);
  parse({"/+h12abc"}); // atoi stops at the first non-digit; the rest is swallowed
  EXPECT_EQ(runState.headerSizeKB, 12);
  // Beyond 32 bits the value saturates instead of wrapping.
  parse({"/+h99999999999"});
  EXPECT_EQ(runState.headerSizeKB, INT32_MAX);
  parse({"/+h2147483648"});
  EXPECT_EQ(runState.headerSizeKB, INT32_MAX);
  parse({"/+h-99999999999"});
  EXPECT_EQ(runState.headerSizeKB, 1);
  parse({"/+h123456789012345678901234567890"}); // far beyond 64 bits too
  EXPECT_EQ(runState.headerSizeKB, INT32_MAX);
}

TEST_F(ParserTest, TimeToleranceValues) {
  resetRunState();
  EXPECT_EQ(runState.timeTolerance, 20000000);
  parse({"/+t3"});
  EXPECT_EQ(runState.timeTolerance, 30000000);
  for (const char *arg : {"/+t", "/+t0", "/+t-1", "/+t-99999999999"}) {
    parse({arg});
    EXPECT_EQ(runState.timeTolerance, 0) << arg;
  }
  parse({"/+t2147483647"});
  EXPECT_EQ(runState.timeTolerance, int64_t{2147483647} * 10000000);
  parse({"/+t99999999999"});
  EXPECT_EQ(runState.timeTolerance, int64_t{2147483647} * 10000000);
}

TEST_F(ParserTest, DeleteOptionIsThreeLetters) {
  for (const char *arg : {"/DEL", "/del", "/Del"}) {
    Parsed p = parse({arg});
    EXPECT_EQ(p.status, 0u) << arg;
    EXPECT_TRUE(runState.deleteMode) << arg;
  }
  Parsed p = parse({"/d"});
  EXPECT_EQ(p.out, "/d :Unknown option\n");
  EXPECT_EQ(p.status, ST_BAD_OPTION);
  EXPECT_FALSE(runState.deleteMode);

  p = parse({"/delx"});
  EXPECT_EQ(p.out, "/delx :syntax error\n");
  EXPECT_EQ(p.status, ST_SYNTAX);

  p = parse({"/del/s"});
  EXPECT_TRUE(runState.deleteMode);
  EXPECT_TRUE(runState.recurse);
}

TEST_F(ParserTest, HelpForms) {
  for (const char *arg : {"/h", "/HE", "/hel", "/help", "/HeLp", "/?"}) {
    Parsed p = parse({arg});
    EXPECT_EQ(p.status, 0u) << arg;
    EXPECT_EQ(p.out, "") << arg;
    EXPECT_TRUE(runState.showHelp) << arg;
  }
  Parsed p = parse({"/helpx"});
  EXPECT_EQ(p.out, "/helpx :syntax error\n");
  EXPECT_EQ(p.status, ST_SYNTAX);
  p = parse({"/help/s"});
  EXPECT_TRUE(runState.recurse);
}

TEST_F(ParserTest, UnknownLettersNameTheRestOfTheArgument) {
  Parsed p = parse({"/+z"});
  EXPECT_EQ(p.out, "/+z :Unknown suboption\n");
  EXPECT_EQ(p.status, ST_BAD_OPTION);

  p = parse({"/k/a"});
  EXPECT_EQ(p.out, "/k/a :Unknown option\n");
  EXPECT_EQ(p.status, ST_BAD_OPTION);
  EXPECT_FALSE(runState.archiveOnly);

  p = parse({"/+c+z/s"});
  EXPECT_EQ(p.out, "/+z/s :Unknown suboption\n");
  EXPECT_TRUE(runState.continueOnError);
  EXPECT_FALSE(runState.recurse);

  p = parse({"/ a"}); // a blank after the slash is no option letter
  EXPECT_EQ(p.out, "/ a :Unknown option\n");
}

TEST_F(ParserTest, LoneSlashAndLonePlusChangeNothing) {
  Parsed p = parse({"/", "/+", "//", "/++"});
  EXPECT_EQ(p.status, 0u);
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(runState.selectMask, 0u);
}

TEST_F(ParserTest, BlanksInsideAQuotedOptionArgument) {
  Parsed p = parse({"/+c /a"});
  EXPECT_EQ(p.status, 0u);
  EXPECT_TRUE(runState.continueOnError);
  EXPECT_TRUE(runState.archiveOnly);

  p = parse({"/+c a"});
  EXPECT_EQ(p.out, "/+c a :syntax error\n");
  EXPECT_EQ(p.status, ST_SYNTAX);
}

TEST_F(ParserTest, TheFirstFailureEndsTheParse) {
  Parsed p = parse({"/k", "/z", "/a"});
  EXPECT_EQ(p.out, "/k :Unknown option\n");
  EXPECT_FALSE(runState.archiveOnly);

  p = parse({"a|b", "/k"});
  EXPECT_EQ(p.out, "a| :syntax error\n");
  EXPECT_EQ(p.status, ST_SYNTAX);

  p = parse({"src/k", "dst"});
  EXPECT_EQ(p.out, "/k :Unknown option\n");
  EXPECT_STREQ(p.cl.sourcePath, "src");
  EXPECT_STREQ(p.cl.destPath, "");
}

// ----------------------------------------------------------------------------------------------
// Positional pieces

TEST_F(ParserTest, OptionsGluedToAPath) {
  Parsed p = parse({"src/s/+v"});
  EXPECT_EQ(p.status, 0u);
  EXPECT_STREQ(p.cl.sourcePath, "src");
  EXPECT_TRUE(runState.recurse);
  EXPECT_TRUE(runState.verbose);

  p = parse({"src", "*.c/a"});
  EXPECT_STREQ(p.cl.destPath, "*.c");
  EXPECT_TRUE(runState.archiveOnly);
}

TEST_F(ParserTest, ForwardSlashInsideAPathStartsOptions) {
  Parsed p = parse({"C:/dir"});
  EXPECT_STREQ(p.cl.sourcePath, "C:");
  EXPECT_EQ(p.out, "/dir :Unknown option\n");
  EXPECT_EQ(p.status, ST_BAD_OPTION);
}

TEST_F(ParserTest, SourceMasksAndDestination) {
  Parsed p = parse({"src", "*.c", "*.h", "dst"});
  EXPECT_EQ(p.status, 0u);
  EXPECT_STREQ(p.cl.sourcePath, "src");
  EXPECT_STREQ(p.cl.masks, "*.c\t*.h\t");
  EXPECT_STREQ(p.cl.destPath, "dst");

  p = parse({"src", "dst"});
  EXPECT_STREQ(p.cl.sourcePath, "src");
  EXPECT_STREQ(p.cl.masks, "");
  EXPECT_STREQ(p.cl.destPath, "dst");

  p = parse({"src", "*.c"});
  EXPECT_STREQ(p.cl.destPath, "*.c");
  EXPECT_STREQ(p.cl.masks, "");
}

TEST_F(ParserTest, OnlyAFirstPathLikePieceIsTheSource) {
  Parsed p = parse({"*.c", "dst"});
  EXPECT_STREQ(p.cl.sourcePath, "");
  EXPECT_STREQ(p.cl.masks, "*.c\t");
  EXPECT_STREQ(p.cl.destPath, "dst");

  p = parse({"sub\\a.txt", "dst"});
  EXPECT_STREQ(p.cl.sourcePath, "");
  EXPECT_STREQ(p.cl.masks, "sub\\a.txt\t");

  p = parse({"*.txt"});
  EXPECT_STREQ(p.cl.sourcePath, "");
  EXPECT_STREQ(p.cl.destPath, "*.txt");

  // The test sees the option tail: a slash is decisive before the extension dot.
  p = parse({"a/s"});
  EXPECT_STREQ(p.cl.sourcePath, "a");
}

TEST_F(ParserTest, ListFileForms) {
  Parsed p = parse({"@list", "dst"});
  EXPECT_STREQ(p.cl.listFileName, "list");
  EXPECT_STREQ(p.cl.destPath, "dst");
  EXPECT_STREQ(p.cl.sourcePath, "");

  p = parse({"@list", "src", "dst"}); // the list file took the source slot
  EXPECT_STREQ(p.cl.sourcePath, "");
  EXPECT_STREQ(p.cl.masks, "src\t");
  EXPECT_STREQ(p.cl.destPath, "dst");

  p = parse({"src", "@list", "dst"});
  EXPECT_STREQ(p.cl.sourcePath, "src");
  EXPECT_STREQ(p.cl.listFileName, "list");
  EXPECT_STREQ(p.cl.destPath, "dst");

  p = parse({"@list/s", "@other"}); // the later name replaces the earlier
  EXPECT_STREQ(p.cl.listFileName, "other");
  EXPECT_TRUE(runState.recurse);

  p = parse({"@list", "@"}); // a lone @ empties the name
  EXPECT_STREQ(p.cl.listFileName, "");

  p = parse({"@", "src"}); // an empty name does not take the source slot
  EXPECT_STREQ(p.cl.sourcePath, "src");
}

TEST_F(ParserTest, DoubleAtWritesAPathBeginningWithAt) {
  Parsed p = parse({"@@x"});
  EXPECT_STREQ(p.cl.sourcePath, "@x");
  EXPECT_STREQ(p.cl.listFileName, "");

  p = parse({"src", "@@y"});
  EXPECT_STREQ(p.cl.destPath, "@y");
}

// ----------------------------------------------------------------------------------------------
// Bracketed exclusion groups

TEST_F(ParserTest, GroupSpanningArguments) {
  Parsed p = parse({"src", "[.bak", ".tmp", "x]", "dst"});
  EXPECT_EQ(p.status, 0u);
  EXPECT_STREQ(p.cl.exclusions, ".bak\t.tmp\tx\t");
  EXPECT_STREQ(p.cl.sourcePath, "src");
  EXPECT_STREQ(p.cl.destPath, "dst"); // the group closed: dst is positional again
  EXPECT_STREQ(p.cl.masks, "");
}

TEST_F(ParserTest, BracketsWithinOneArgument) {
  Parsed p = parse({"[a][b]"});
  EXPECT_STREQ(p.cl.exclusions, "a\tb\t");
  p = parse({"[a[b]"}); // a second bracket drops the unfinished item
  EXPECT_STREQ(p.cl.exclusions, "b\t");
  p = parse({"[a]zz[b"}); // text after a closing bracket is ignored
  EXPECT_STREQ(p.cl.exclusions, "a\tb\t");
  p = parse({"[]", "src"}); // an empty item adds nothing
  EXPECT_STREQ(p.cl.exclusions, "");
  EXPECT_STREQ(p.cl.sourcePath, "src");
  p = parse({"[a b]"}); // a blank inside a quoted argument belongs to the mask
  EXPECT_STREQ(p.cl.exclusions, "a b\t");
}

TEST_F(ParserTest, ClosingBracketWithoutGroupAddsNothing) {
  Parsed p = parse({"]x", "src"});
  EXPECT_STREQ(p.cl.exclusions, "");
  EXPECT_STREQ(p.cl.sourcePath, "src");
}

TEST_F(ParserTest, OpenGroupStillTakesListFilesAndOptions) {
  Parsed p = parse({"[a", "@list", "/s", "b]", "src"});
  EXPECT_EQ(p.status, 0u);
  EXPECT_STREQ(p.cl.exclusions, "a\tb\t");
  EXPECT_STREQ(p.cl.listFileName, "list");
  EXPECT_TRUE(runState.recurse);
  EXPECT_STREQ(p.cl.masks, "");
  EXPECT_STREQ(p.cl.destPath, "src"); // the list file came first

  p = parse({"[a/s", "b]"}); // an option tail ends the item, the group stays open
  EXPECT_STREQ(p.cl.exclusions, "a\tb\t");
  EXPECT_TRUE(runState.recurse);

  p = parse({"[a", "@@b]"}); // @@ inside a group is a group item beginning with @
  EXPECT_STREQ(p.cl.exclusions, "a\t@b\t");

  p = parse({"[a", "b"}); // a group still open at the end keeps its items
  EXPECT_EQ(p.status, 0u);
  EXPECT_STREQ(p.cl.exclusions, "a\tb\t");
}

// ----------------------------------------------------------------------------------------------
// Refused text

TEST_F(ParserTest, ForbiddenCharactersAreSyntaxErrors) {
  Parsed p = parse({"dir|more"});
  EXPECT_EQ(p.out, "dir| :syntax error\n");
  EXPECT_EQ(p.status, ST_SYNTAX);
  EXPECT_STREQ(p.cl.sourcePath, "dir|");

  for (const char *bad : {"\"", ";", "<", ">", "|", "\x01", "\t", "\x1f"}) {
    std::string arg = std::string("ab") + bad + "cd";
    p = parse({"src", arg});
    EXPECT_EQ(p.out, std::string("ab") + bad + " :syntax error\n") << int(bad[0]);
    EXPECT_EQ(p.status, ST_SYNTAX);
  }

  p = parse({"@li;st"});
  EXPECT_EQ(p.out, "li; :syntax error\n");
  p = parse({"[a<b]"});
  EXPECT_EQ(p.out, "a< :syntax error\n");
  EXPECT_EQ(p.status, ST_SYNTAX);
}

TEST_F(ParserTest, OneSyntaxErrorLinePerPiece) {
  Parsed p = parse({"[a|][b>]"});
  EXPECT_EQ(p.out, "a| :syntax error\n");
  EXPECT_EQ(p.status, ST_SYNTAX);
}

TEST_F(ParserTest, PathsFillTheBufferButNeverPassIt) {
  std::string fits(519, 'p');
  Parsed p = parse({fits});
  EXPECT_EQ(p.status, 0u);
  EXPECT_EQ(std::string(p.cl.sourcePath), fits);

  std::string over(520, 'p');
  p = parse({over + "/s", "dst"});
  EXPECT_EQ(p.out, over + " :path too long\n");
  EXPECT_EQ(p.status, ST_SYNTAX);
  EXPECT_FALSE(runState.recurse);
  EXPECT_STREQ(p.cl.destPath, "");

  p = parse({"src", fits});
  EXPECT_EQ(std::string(p.cl.destPath), fits);
  p = parse({"src", over});
  EXPECT_EQ(p.out, over + " :path too long\n");

  p = parse({"@" + fits});
  EXPECT_EQ(std::string(p.cl.listFileName), fits);
  p = parse({"@" + over});
  EXPECT_EQ(p.out, over + " :path too long\n");
  EXPECT_EQ(p.status, ST_SYNTAX);
}

TEST_F(ParserTest, ListsKeepRoomForEachTab) {
  // One item of 518 bytes, its TAB and the terminator fill the list exactly.
  std::string item(518, 'm');
  Parsed p = parse({"src", item, "dst"});
  EXPECT_EQ(p.status, 0u);
  EXPECT_EQ(std::string(p.cl.masks), item + "\t");

  std::string longer(519, 'm');
  p = parse({"src", longer, "dst"});
  EXPECT_EQ(p.out, longer + " :path too long\n");
  EXPECT_EQ(p.status, ST_SYNTAX);
  EXPECT_STREQ(p.cl.masks, "");
  EXPECT_STREQ(p.cl.destPath, longer.c_str()); // never replaced: the parse ended

  // After "ab<TAB>" there is room for 515 more bytes.
  p = parse({"src", "ab", std::string(515, 'n'), "dst"});
  EXPECT_EQ(std::string(p.cl.masks), "ab\t" + std::string(515, 'n') + "\t");
  p = parse({"src", "ab", std::string(516, 'n'), "dst"});
  EXPECT_EQ(p.status, ST_SYNTAX);
  EXPECT_STREQ(p.cl.masks, "ab\t"); // the list stays well formed

  p = parse({"[" + item + "]"});
  EXPECT_EQ(std::string(p.cl.exclusions), item + "\t");
  p = parse({"[" + longer + "]"});
  EXPECT_EQ(p.out, longer + " :path too long\n");
  EXPECT_STREQ(p.cl.exclusions, "");
}

// ----------------------------------------------------------------------------------------------
// Two-byte characters (Shift_JIS table): a trail byte is never a significant character.

TEST_F(ParserTest, TrailBytesAreNeverSlashesBracketsOrForbidden) {
  setLeadByteTable(LEAD_SHIFT_JIS);
  // 0x81 0x2F is one character: the slash after it does not start options.
  Parsed p = parse({"\x81/x/s"});
  EXPECT_EQ(p.status, 0u);
  EXPECT_STREQ(p.cl.sourcePath, "\x81/x");
  EXPECT_TRUE(runState.recurse);

  p = parse({"a\x81|b"}); // 0x81 0x7C is a character, not a bar
  EXPECT_EQ(p.status, 0u);
  EXPECT_STREQ(p.cl.sourcePath, "a\x81|b");

  p = parse({"[\x81]]"});
  EXPECT_STREQ(p.cl.exclusions, "\x81]\t");

  p = parse({"ab\x81"}); // a lead byte at the very end is copied alone
  EXPECT_STREQ(p.cl.sourcePath, "ab\x81");

  // In an option run the pair is skipped whole: its trail byte is no suboption sign.
  p = parse({"/\x81+a"});
  EXPECT_EQ(p.status, 0u);
  EXPECT_TRUE(runState.archiveOnly);

  // Without the table the same bytes are single characters.
  setLeadByteTable(LEAD_NONE);
  p = parse({"a\x81|b"});
  EXPECT_EQ(p.out, "a\x81| :syntax error\n");
}

TEST_F(ParserTest, AControlCharacterIsNeverATrailByte) {
  // A TAB after a lead byte would otherwise be copied as its trail byte, and a list reader
  // splitting at TABs would see an item cut in two and an empty one after it.
  setLeadByteTable(LEAD_SHIFT_JIS);
  Parsed p = parse({"src", "[a\x81\t]", "dst"});
  EXPECT_EQ(p.out, "a\x81\t :syntax error\n");
  EXPECT_EQ(p.status, ST_SYNTAX);
  EXPECT_STREQ(p.cl.exclusions, "a\x81\t\t"); // the refused item, kept as the message shows it

  p = parse({"src", "*.c\x81\t", "dst"});
  EXPECT_EQ(p.out, "*.c\x81\t :syntax error\n");
  EXPECT_EQ(p.status, ST_SYNTAX);

  p = parse({std::string("sr\x81\x01") + "c"});
  EXPECT_EQ(p.out, "sr\x81\x01 :syntax error\n");
  EXPECT_EQ(p.status, ST_SYNTAX);

  setLeadByteTable(LEAD_WIDE);
  // (Not Ctrl-Z here: the captured output, read back as text on Windows, would end at it.)
  p = parse({"@li\xfe\x05st"});
  EXPECT_EQ(p.out, "li\xfe\x05 :syntax error\n");
}

TEST_F(ParserTest, TwoByteCharacterIsNeverSplitAtTheBufferEnd) {
  setLeadByteTable(LEAD_SHIFT_JIS);
  std::string fits = std::string(517, 'p') + "\x81\x40"; // 519 bytes
  Parsed p = parse({fits});
  EXPECT_EQ(p.status, 0u);
  EXPECT_EQ(std::string(p.cl.sourcePath), fits);

  std::string over = std::string(518, 'p') + "\x81\x40"; // the pair would end at byte 520
  p = parse({over});
  EXPECT_EQ(p.out, over + " :path too long\n");
  EXPECT_EQ(p.status, ST_SYNTAX);
}

// ----------------------------------------------------------------------------------------------
// Usage text

const char *const USAGE_BODY = "option: /a   Archive            /n   No overwrite\n"
                               "        /b   Backup             /o   Overwrite only\n"
                               "        /c   Compare            /s   Subdirectories\n"
                               "        /del Delete             /u   Update new files\n"
                               "        /e   Echo               /v   Verify\n"
                               "        /i   Incremental copy   /x   Hidden files too\n"
                               "        /m   Move\n"
                               "suboption:\n"
                               "        /+e  Exist              /+a  Attributes unmatch\n"
                               "        /+n  New                /+m  Matching all\n"
                               "        /+o  Old                /+c  Continues even if errors\n"
                               "        /+L  Large              /+v  Verbose message\n"
                               "        /+s  Small              /+r  Reverse path\n"
                               "                                /+d  Detail Timestamp\n"
                               "        /+h<HeaderSize(KB)> (Incremental copy only)\n"
                               "        /+t<Allowable timestamp difference(sec)>\n";

std::string usageFor(const std::string &name) {
  return name + " Version 1.02\n" + "usage: " + name +
         " <srcpath> {<mask>|[<mask>]} [<dstpath>] {/<option>}\n" + "       " + name +
         " <srcpath>     @filelist     [<dstpath>] {/<option>}\n" + USAGE_BODY;
}

std::string capturedUsage(const char *programPath) {
  tu::StdoutCapture capture;
  printUsage(programPath);
  return capture.finish();
}

TEST_F(ParserTest, UsageTextByteForByte) {
  std::string text = capturedUsage("treecopy");
  EXPECT_EQ(text, usageFor("treecopy"));
  int lines = 0;
  for (char c : text)
    lines += c == '\n';
  EXPECT_EQ(lines, 19);
}

TEST_F(ParserTest, UsageNameDropsDirectoryAndExtension) {
  EXPECT_EQ(capturedUsage("\\usr\\local\\bin\\treecopy"), usageFor("treecopy"));
  EXPECT_EQ(capturedUsage("\\tools\\treecopy.exe"), usageFor("treecopy"));
  EXPECT_EQ(capturedUsage("tc.v2.exe"), usageFor("tc")); // cut at the first dot
  setLeadByteTable(LEAD_SHIFT_JIS);
  EXPECT_EQ(capturedUsage("\\bin\\\x81.x.exe"), usageFor("\x81.x")); // 0x81 0x2E is one character
}

} // namespace
