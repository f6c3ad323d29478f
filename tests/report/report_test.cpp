// Console reporting: error suffixes, item-line starts, detail timestamps and verbose blocks.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "report/report.h"
#include "support/testutil.h"
#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

// The cleaning step of reportError, reached directly so that any bytes can be fed to it.
void cleanMessageText(char *text);

namespace {

class ReportTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }
  void TearDown() override { tu::resetAll(); }
};

// An entry with the given long name and last-write time.
FindEntry entryAt(const char *name, int64_t ticks) {
  FindEntry entry{};
  snprintf(entry.cFileName, sizeof entry.cFileName, "%s", name);
  entry.ftLastWriteTime.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
  entry.ftLastWriteTime.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return entry;
}

// The date text (with its leading space) that the local calendar gives for `ticks`.
std::string localDate(int64_t ticks) {
  FindEntry entry = entryAt("", ticks);
  FILETIME local;
  SYSTEMTIME st;
  EXPECT_TRUE(FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local));
  EXPECT_TRUE(FileTimeToSystemTime(&local, &st));
  char text[64];
  snprintf(text, sizeof text, " %04d/%02d/%02d %02d:%02d:%02d.%03d", (int)st.wYear, (int)st.wMonth,
           (int)st.wDay, (int)st.wHour, (int)st.wMinute, (int)st.wSecond, (int)st.wMilliseconds);
  return text;
}

// 2024-03-05 13:14:15.678 UTC in ticks since 1601.
constexpr int64_t SAMPLE_TICKS = 133541180556780000LL;

TEST_F(ReportTest, MessageCleaningTurnsControlAndHighBytesIntoSpaces) {
  char text[] = "Access is denied.\r\n";
  cleanMessageText(text);
  EXPECT_STREQ(text, "Access is denied.  ");

  char tabbed[] = "a\tb\x7F\x80\xFF";
  cleanMessageText(tabbed);
  EXPECT_STREQ(tabbed, "a b   ");
}

TEST_F(ReportTest, MessageCleaningKeepsTwoByteCharactersWhole) {
  setLeadByteTable(LEAD_SHIFT_JIS);
  // 0x82 0xA0 is one character; 0x81 0x0A keeps its trail byte although it alone is a control.
  char text[] = "x\x82\xA0y\x81\x0Az\xA0\r\n";
  cleanMessageText(text);
  EXPECT_STREQ(text, "x\x82\xA0y\x81\x0Az   ");

  // A lead byte directly before the end stops the scan without reading past it.
  char endsInLead[] = "\r\x81";
  cleanMessageText(endsInLead);
  EXPECT_STREQ(endsInLead, " \x81");
}

TEST_F(ReportTest, ErrorSuffixCarriesNameNumberAndMessage) {
  tu::StdoutCapture capture;
  reportError("D:\\dst\\sub", static_cast<int32_t>(ERROR_ACCESS_DENIED));
  std::string out = capture.finish();
  std::string head = "D:\\dst\\sub\t:error(5) ";
  ASSERT_EQ(out.compare(0, head.size(), head), 0) << out;
  // The system's text ends in CR LF, which the cleaning turns into two spaces.
  ASSERT_GE(out.size(), head.size() + 3) << out;
  EXPECT_EQ(out.substr(out.size() - 3), "  \n") << out;
  EXPECT_EQ(out.find('\r'), std::string::npos);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
}

TEST_F(ReportTest, UnknownErrorNumberStillEndsTheLine) {
  tu::StdoutCapture capture;
  reportError("", -1);
  reportError("", 0x3FFF4321);
  EXPECT_EQ(capture.finish(), "\t:error(-1) \n\t:error(1073693473) \n");
}

TEST_F(ReportTest, ItemLineStartsOnlyInVerboseMode) {
  {
    tu::StdoutCapture capture;
    runState.depth = 2;
    runState.lineOpen = true;
    EXPECT_FALSE(beginItemLine());
    EXPECT_EQ(capture.finish(), "");
    EXPECT_TRUE(runState.lineOpen); // only verbose mode touches it
  }
  {
    tu::StdoutCapture capture;
    runState.verbose = true;
    EXPECT_TRUE(beginItemLine()); // ends the header line first
    EXPECT_FALSE(runState.lineOpen);
    EXPECT_TRUE(beginItemLine());
    runState.depth = -1;
    EXPECT_TRUE(beginItemLine());
    EXPECT_EQ(capture.finish(), "\n      ");
  }
}

TEST_F(ReportTest, NameColumnFillAtEachBoundary) {
  struct Case {
    int nameLength;
    const char *fill;
  };
  // col = name length + 1 outside verbose mode.
  const Case cases[] = {
      {6, "\t\t\t      "}, // col 7
      {7, "\t\t      "},   // col 8
      {14, "\t\t      "},  // col 15
      {15, "\t      "},    // col 16
      {22, "\t      "},    // col 23
      {23, "      "},      // col 24
      {28, " "},           // col 29
      {29, ""},            // col 30
      {40, ""},
  };
  for (const Case &c : cases) {
    std::string name(static_cast<size_t>(c.nameLength), 'n');
    FindEntry entry = entryAt(name.c_str(), SAMPLE_TICKS);
    tu::StdoutCapture capture;
    EXPECT_TRUE(printTimestamp(entry, '\t'));
    EXPECT_EQ(capture.finish(), " " + name + c.fill + localDate(SAMPLE_TICKS))
        << "name length " << c.nameLength;
  }
}

TEST_F(ReportTest, VerboseDetailLineAndOtherSeparators) {
  runState.verbose = true;
  runState.depth = 1;
  runState.lineOpen = true;
  std::string name(20, 'v'); // col 23: one TAB and six spaces
  FindEntry source = entryAt(name.c_str(), SAMPLE_TICKS);
  FindEntry dest = entryAt("other", SAMPLE_TICKS + 15000000);
  tu::StdoutCapture capture;
  EXPECT_TRUE(printTimestamp(source, '\t'));
  EXPECT_TRUE(printTimestamp(dest, '\n'));
  EXPECT_TRUE(printTimestamp(dest, 'x')); // any other separator: one space, no newline
  EXPECT_EQ(capture.finish(), "\n   " + name + "\t      " + localDate(SAMPLE_TICKS) + " " +
                                  localDate(SAMPLE_TICKS + 15000000) + "\n " +
                                  localDate(SAMPLE_TICKS + 15000000));
}

TEST_F(ReportTest, TimeBeyondTheCalendarIsReportedAndCounted) {
  FindEntry entry = entryAt("a.txt", -1); // 0xFFFFFFFFFFFFFFFF
  tu::StdoutCapture capture;
  EXPECT_FALSE(printTimestamp(entry, '\t'));
  std::string out = capture.finish();
  EXPECT_EQ(out.rfind("\t:error(", 0), 0u) << out;
  EXPECT_EQ(out.back(), '\n');
  EXPECT_EQ(out.find("a.txt"), std::string::npos); // nothing but the error suffix
  EXPECT_EQ(runState.errorCount, 1);
  EXPECT_EQ(runState.status, 0u);
}

TEST_F(ReportTest, BlockHeaderFormsByMode) {
  struct Case {
    RunMode mode;
    const char *dest;
    const char *expected;
  };
  const Case cases[] = {
      {MODE_COPY, "D:\\d", " copy(C:\\s --> D:\\d){"},
      {MODE_COPY, "", " copy(C:\\s --> ){"},
      {MODE_MOVE, "D:\\d", " move(C:\\s --> D:\\d){"},
      {MODE_COMPARE, "D:\\d", " compare(C:\\s <--> D:\\d){"},
      {MODE_DELETE, "", " delete(C:\\s){"},
      {MODE_DELETE, "D:\\d", " delete(C:\\s <--> D:\\d){"},
  };
  for (const Case &c : cases) {
    tu::resetAll();
    runState.verbose = true;
    runState.mode = c.mode;
    runState.depth = 1;
    tu::StdoutCapture capture;
    openBlock("C:\\s", c.dest);
    EXPECT_EQ(capture.finish(), c.expected);
    EXPECT_TRUE(runState.lineOpen);
  }
}

TEST_F(ReportTest, NestedBlocksAndClosingBraces) {
  runState.verbose = true;
  tu::StdoutCapture capture;
  runState.depth = 1;
  openBlock("C:\\s", "D:\\d");
  runState.depth = 2;
  openBlock("C:\\s\\", "D:\\d\\"); // ends the parent's header line, no mode word
  EXPECT_TRUE(beginItemLine());
  fputs("C:\\s\\a.txt\t--> D:\\d\\a.txt\n", stdout);
  runState.depth = 3;
  openBlock("C:\\s\\e\\", "D:\\d\\e\\");
  closeBlock(); // empty: the brace shares the header's line
  EXPECT_FALSE(runState.lineOpen);
  runState.depth = 2;
  closeBlock();
  runState.depth = 1;
  closeBlock();
  EXPECT_EQ(capture.finish(), " copy(C:\\s --> D:\\d){\n"
                              "  (C:\\s\\ --> D:\\d\\){\n"
                              "   C:\\s\\a.txt\t--> D:\\d\\a.txt\n"
                              "   (C:\\s\\e\\ --> D:\\d\\e\\){}\n"
                              "  }\n"
                              " }\n");
}

TEST_F(ReportTest, AListingThatReachedStandardOutputIsNoFailure) {
  tu::StdoutCapture capture;
  printf("line\n");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(finishStandardOutput());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(capture.finish(), "line\n");
}

#if !defined(_WIN32)
// Every write that failed during the run is seen at the end, and said once on standard error.
TEST_F(ReportTest, AListingThatCouldNotBeWrittenIsSaidOnce) {
  fflush(stdout);
  int saved = dup(1);
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(saved, 0);
  ASSERT_GE(full, 0);
  dup2(full, 1);
  close(full);
  printf("lost\n");
  fflush(stdout); // fails, and leaves the error mark
  testing::internal::CaptureStderr();
  bool reached = finishStandardOutput();
  std::string said = testing::internal::GetCapturedStderr();
  dup2(saved, 1);
  close(saved);
  clearerr(stdout);
  EXPECT_FALSE(reached);
  EXPECT_EQ(said, "Standard output could not be written.\n");
}
#endif

} // namespace
