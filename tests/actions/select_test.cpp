// Selection rules for an existing source-destination pair.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "actions/actions.h"
#include "state/state.h"
#include "support/testutil.h"

namespace {

class SelectTest : public testing::Test {
protected:
  void SetUp() override {
    tu::resetAll();
    runState.selectMask = SEL_DEFAULT;
  }
  void TearDown() override { tu::resetAll(); }
};

constexpr int64_t SECOND = 10000000;
// 2024-03-05 12:00:00 UTC, a whole multiple of 2 seconds.
constexpr int64_t NOON = 133541136000000000LL;

FindEntry pairEntry(int64_t ticks, int64_t size = 100, DWORD attributes = 0x20,
                    const char *name = "a.txt") {
  FindEntry entry{};
  entry.dwFileAttributes = attributes;
  entry.ftLastWriteTime.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
  entry.ftLastWriteTime.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  entry.nFileSizeLow = static_cast<DWORD>(static_cast<uint64_t>(size));
  entry.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size) >> 32);
  snprintf(entry.cFileName, sizeof entry.cFileName, "%s", name);
  return entry;
}

TEST_F(SelectTest, HalvesCombineIntoSigned64BitValues) {
  FindEntry entry{};
  entry.ftLastWriteTime.dwHighDateTime = 1;
  entry.ftLastWriteTime.dwLowDateTime = 2;
  entry.nFileSizeHigh = 0x80000000u;
  entry.nFileSizeLow = 0;
  EXPECT_EQ(lastWriteTicks(entry), (int64_t{1} << 32) + 2);
  EXPECT_EQ(fileSize64(entry), INT64_MIN);
  // Sizes compare signed: the "negative" size is smaller than any real one.
  EXPECT_TRUE(isLarger(pairEntry(NOON, 1), entry));
  EXPECT_TRUE(isSmaller(entry, pairEntry(NOON, 0)));
}

TEST_F(SelectTest, TwoSecondToleranceBoundary) {
  EXPECT_TRUE(isNewer(pairEntry(NOON + 20000000), pairEntry(NOON)));
  EXPECT_FALSE(isNewer(pairEntry(NOON + 19999999), pairEntry(NOON)));
  EXPECT_TRUE(isOlder(pairEntry(NOON), pairEntry(NOON + 20000000)));
  EXPECT_FALSE(isOlder(pairEntry(NOON), pairEntry(NOON + 19999999)));
  EXPECT_FALSE(isOlder(pairEntry(NOON + 20000000), pairEntry(NOON)));
  EXPECT_FALSE(isNewer(pairEntry(NOON), pairEntry(NOON + 20000000)));
}

TEST_F(SelectTest, ToleranceZeroAndFive) {
  runState.timeTolerance = 0;
  EXPECT_TRUE(isNewer(pairEntry(NOON + 1), pairEntry(NOON)));
  EXPECT_TRUE(isOlder(pairEntry(NOON), pairEntry(NOON + 1)));
  EXPECT_FALSE(isNewer(pairEntry(NOON), pairEntry(NOON)));
  EXPECT_FALSE(isOlder(pairEntry(NOON), pairEntry(NOON)));

  runState.timeTolerance = 5 * SECOND;
  EXPECT_FALSE(isNewer(pairEntry(NOON + 3 * SECOND), pairEntry(NOON)));
  EXPECT_TRUE(isNewer(pairEntry(NOON + 5 * SECOND), pairEntry(NOON)));
  // The granularity rule keeps its own fixed 2 seconds.
  EXPECT_TRUE(sameAll(pairEntry(NOON), pairEntry(NOON + 15000000)));
  EXPECT_FALSE(sameAll(pairEntry(NOON), pairEntry(NOON + 3 * SECOND)));
}

TEST_F(SelectTest, GranularityRule) {
  // Neither a whole multiple: times must be equal.
  EXPECT_TRUE(sameAll(pairEntry(NOON + 1000000), pairEntry(NOON + 1000000)));
  EXPECT_FALSE(sameAll(pairEntry(NOON + 1000000), pairEntry(NOON + 13000000)));
  EXPECT_FALSE(sameAll(pairEntry(NOON + 1000000, 1), pairEntry(NOON + 1000000, 2)));
  // Both whole multiples: 2 seconds apart is different.
  EXPECT_FALSE(sameAll(pairEntry(NOON), pairEntry(NOON + 2 * SECOND)));
  EXPECT_TRUE(sameAll(pairEntry(NOON), pairEntry(NOON)));
  // Exactly one whole multiple: within 19,999,999 ticks either way, and the sizes still equal
  // (a backup half the size of its source is never "the same", whichever time is rounded).
  EXPECT_TRUE(sameAll(pairEntry(NOON, 1), pairEntry(NOON + 19999999, 1)));
  EXPECT_FALSE(sameAll(pairEntry(NOON, 1), pairEntry(NOON + 19999999, 2)));
  EXPECT_FALSE(sameAll(pairEntry(NOON + 7000000, 100000), pairEntry(NOON, 50000)));
  EXPECT_TRUE(sameAll(pairEntry(NOON + 19999999), pairEntry(NOON)));
  EXPECT_TRUE(sameAll(pairEntry(NOON), pairEntry(NOON - 19999999)));
  EXPECT_FALSE(sameAll(pairEntry(NOON), pairEntry(NOON + 20000001)));
  EXPECT_FALSE(sameAll(pairEntry(NOON, 1, 0x20), pairEntry(NOON + 15000000, 1, 0x21)));
  // Attribute words must match in every bit, archive included.
  EXPECT_FALSE(sameAll(pairEntry(NOON, 1, 0x20), pairEntry(NOON, 1, 0x80)));
  EXPECT_FALSE(sameAttributes(pairEntry(NOON, 1, 0x20), pairEntry(NOON, 1, 0x00)));
}

TEST_F(SelectTest, NegativeTimesUseSignedRemainders) {
  // -1 leaves a non-zero remainder, 0 a zero one: one tick apart is the same.
  EXPECT_TRUE(sameAll(pairEntry(-1), pairEntry(0)));
  EXPECT_TRUE(sameAll(pairEntry(-20000000), pairEntry(-20000000 + 19999999)));
  EXPECT_FALSE(sameAll(pairEntry(-20000000), pairEntry(-40000000)));
}

TEST_F(SelectTest, ExtremeTimesNeverOverflow) {
  FindEntry lowest = pairEntry(INT64_MIN);
  FindEntry highest = pairEntry(INT64_MAX);
  EXPECT_TRUE(isNewer(highest, lowest));
  EXPECT_TRUE(isOlder(lowest, highest));
  EXPECT_FALSE(isNewer(lowest, highest));
  EXPECT_FALSE(isOlder(highest, lowest));
  EXPECT_FALSE(sameAll(lowest, highest));
  // One whole multiple near the top against the lowest time.
  FindEntry topWhole = pairEntry(INT64_MAX - INT64_MAX % 20000000);
  EXPECT_FALSE(sameAll(lowest, topWhole));
  EXPECT_FALSE(sameAll(topWhole, lowest));
  FindEntry bottomWhole = pairEntry(INT64_MIN - INT64_MIN % 20000000);
  EXPECT_FALSE(sameAll(highest, bottomWhole));
  EXPECT_TRUE(sameAll(bottomWhole, pairEntry(INT64_MIN - INT64_MIN % 20000000 - 1)));
  runState.timeTolerance = INT64_MAX;
  EXPECT_TRUE(isNewer(highest, lowest));
  EXPECT_TRUE(isNewer(highest, pairEntry(0)));
  EXPECT_FALSE(isNewer(highest, pairEntry(1)));
}

TEST_F(SelectTest, DefaultMaskSelection) {
  // Identical: only "all the same" holds.
  EXPECT_TRUE(isSelected(pairEntry(NOON), pairEntry(NOON)));
  // The one pair the default leaves alone: equal size and attributes, neither time whole,
  // less than 2 seconds apart (12:00:00.1 and 12:00:01.3).
  EXPECT_FALSE(isSelected(pairEntry(NOON + 1000000), pairEntry(NOON + 13000000)));
  EXPECT_TRUE(isSelected(pairEntry(NOON + 1000000, 1), pairEntry(NOON + 13000000, 2)));
  EXPECT_TRUE(isSelected(pairEntry(NOON + 1000000, 1, 0x20), pairEntry(NOON + 13000000, 1, 0)));
  EXPECT_TRUE(isSelected(pairEntry(NOON + 1000000 + 2 * SECOND), pairEntry(NOON + 1000000)));
}

TEST_F(SelectTest, EachRelationSelectsAlone) {
  FindEntry base = pairEntry(NOON + 1000000, 100, 0x20);
  struct Case {
    uint32_t mask;
    FindEntry source;
    bool expected;
  };
  const Case cases[] = {
      {SEL_NEWER, pairEntry(NOON + 1000000 + 2 * SECOND), true},
      {SEL_NEWER, pairEntry(NOON + 1000000 - 2 * SECOND), false},
      {SEL_OLDER, pairEntry(NOON + 1000000 - 2 * SECOND), true},
      {SEL_OLDER, pairEntry(NOON + 1000000 + 2 * SECOND), false},
      {SEL_LARGER, pairEntry(NOON + 1000000, 101), true},
      {SEL_LARGER, pairEntry(NOON + 1000000, 99), false},
      {SEL_SMALLER, pairEntry(NOON + 1000000, 99), true},
      {SEL_SMALLER, pairEntry(NOON + 1000000, 101), false},
      {SEL_ATTR_DIFF, pairEntry(NOON + 1000000, 100, 0x21), true},
      {SEL_ATTR_DIFF, pairEntry(NOON + 1000000, 100, 0x20), false},
      {SEL_SAME, pairEntry(NOON + 1000000, 100, 0x20), true},
      {SEL_SAME, pairEntry(NOON + 1000000, 100, 0x00), false},
      {SEL_ABSENT, pairEntry(NOON + 1000000, 100, 0x20), false},
      {0, pairEntry(NOON + 1000000 + 9 * SECOND, 1, 0x01), false},
  };
  for (const Case &c : cases) {
    runState.selectMask = c.mask;
    EXPECT_EQ(isSelected(c.source, base), c.expected) << "mask " << c.mask;
  }
  // Whole source time, destination 1.5 s later: "the same" only when the sizes are too.
  runState.selectMask = SEL_SAME;
  EXPECT_TRUE(isSelected(pairEntry(NOON, 5), pairEntry(NOON + 15000000, 5)));
  EXPECT_FALSE(isSelected(pairEntry(NOON, 5), pairEntry(NOON + 15000000, 9)));
}

// The date text (with its leading space) of `ticks` in the local calendar.
std::string localDate(int64_t ticks) {
  FindEntry entry = pairEntry(ticks);
  FILETIME local;
  SYSTEMTIME st;
  EXPECT_TRUE(FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local));
  EXPECT_TRUE(FileTimeToSystemTime(&local, &st));
  char text[64];
  snprintf(text, sizeof text, " %04d/%02d/%02d %02d:%02d:%02d.%03d", (int)st.wYear, (int)st.wMonth,
           (int)st.wDay, (int)st.wHour, (int)st.wMinute, (int)st.wSecond, (int)st.wMilliseconds);
  return text;
}

TEST_F(SelectTest, DetailLineIsPrintedForEveryPair) {
  runState.detailTime = true;
  runState.selectMask = 0;
  tu::StdoutCapture capture;
  EXPECT_FALSE(isSelected(pairEntry(NOON), pairEntry(NOON + 1234567, 5, 0x20, "ignored")));
  runState.selectMask = SEL_DEFAULT;
  EXPECT_TRUE(isSelected(pairEntry(NOON), pairEntry(NOON)));
  std::string first = " a.txt\t\t\t      " + localDate(NOON) + " " + localDate(NOON + 1234567);
  std::string second = " a.txt\t\t\t      " + localDate(NOON) + " " + localDate(NOON);
  EXPECT_EQ(capture.finish(), first + "\n" + second + "\n");
}

TEST_F(SelectTest, UnconvertibleTimeLeavesThePairUnselected) {
  runState.detailTime = true;
  {
    tu::StdoutCapture capture;
    EXPECT_FALSE(isSelected(pairEntry(-1), pairEntry(NOON)));
    std::string out = capture.finish();
    // The source half fails first and the destination half is never printed.
    EXPECT_EQ(out.rfind("\t:error(", 0), 0u) << out;
    EXPECT_EQ(out.find("a.txt"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  }
  EXPECT_EQ(runState.errorCount, 1);
  {
    tu::StdoutCapture capture;
    EXPECT_FALSE(isSelected(pairEntry(NOON), pairEntry(-1)));
    std::string out = capture.finish();
    std::string head = " a.txt\t\t\t      " + localDate(NOON) + "\t:error(";
    EXPECT_EQ(out.rfind(head, 0), 0u) << out;
  }
  EXPECT_EQ(runState.errorCount, 2);
  EXPECT_EQ(runState.status, 0u);
}

} // namespace
