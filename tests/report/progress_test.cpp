// The progress line: its figures, and a name fitted into any terminal width without a split
// character. (Drawing it on a terminal is tested under a pseudo-terminal: tests/progress.)
#include <string>

#include <gtest/gtest.h>

#include "paths/pathtext.h"
#include "paths/status.h"
#include "report/report.h"
#include "support/testutil.h"

namespace {

class ProgressTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }
  void TearDown() override { tu::resetAll(); }
  std::string format(int columns, const std::string &name, uint64_t done, uint64_t total,
                     int64_t elapsedMs) {
    char out[STATUS_MAX + 1];
    size_t length = formatProgress(out, columns, name.c_str(), done, total, elapsedMs);
    EXPECT_EQ(length, std::string(out).size());
    return std::string(out, length);
  }
};

constexpr uint64_t MIB = 1 << 20;

TEST_F(ProgressTest, ShowsDoneTotalPercentRateAndTimeLeft) {
  EXPECT_EQ(format(100, "src\\big.bin", 256 * MIB, 1024 * MIB, 2000),
            "src\\big.bin  256.0 MiB of 1.0 GiB  25%  128.0 MiB/s  0:06 left");
  EXPECT_EQ(format(100, "a", 100, 1000, 1000), "a  100 B of 1000 B  10%  100 B/s  0:09 left");
  // An hour and more; nothing done yet (no rate, no time left); a file that grew past its size.
  EXPECT_EQ(format(100, "a", MIB, 4000 * MIB, 1000),
            "a  1.0 MiB of 3.9 GiB  0%  1.0 MiB/s  1:06:39 left");
  EXPECT_EQ(format(100, "a", 0, MIB, 1500), "a  0 B of 1.0 MiB  0%  0 B/s  ? left");
  EXPECT_EQ(format(100, "a", 2 * MIB, MIB, 1000),
            "a  2.0 MiB of 1.0 MiB  100%  2.0 MiB/s  0:00 left");
}

TEST_F(ProgressTest, LongNamesKeepTheirEndAndTheLineFitsTheWidth) {
  std::string name = "C:\\data\\projects\\an-example-project\\build\\output\\image.iso";
  for (int columns = 1; columns <= 120; ++columns) {
    std::string line = format(columns, name, 300 * MIB, 700 * MIB, 3000);
    EXPECT_LE(line.size(), static_cast<size_t>(columns > 1 ? columns - 1 : 0)) << columns;
    if (columns >= 30) {
      EXPECT_NE(line.find("image.iso  "), std::string::npos) << line;
    }
  }
  EXPECT_EQ(format(80, name, 300 * MIB, 700 * MIB, 3000),
            "...\\build\\output\\image.iso  300.0 MiB of 700.0 MiB  42%  100.0 MiB/s  0:04 left");
  // Too narrow for all the figures and a name: the percent and the time left.
  EXPECT_EQ(format(40, name, 300 * MIB, 700 * MIB, 3000),
            "...ild\\output\\image.iso  42%  0:04 left");
  EXPECT_EQ(format(12, name, 300 * MIB, 700 * MIB, 3000), "42%  0:04 l");
}

TEST_F(ProgressTest, ShortenedNamesNeverSplitACharacter) {
  // UTF-8: two-byte Cyrillic letters; whatever the width, the tail starts on a whole letter.
  std::string cyrillic = "src\\\xD0\x91\xD0\xBE\xD0\xBB\xD1\x8C\xD1\x88\xD0\xBE\xD0\xB9.bin";
  for (int columns = 20; columns <= 60; ++columns) {
    std::string line = format(columns, cyrillic, MIB, 2 * MIB, 1000);
    if (line.find("...") == 0) {
      EXPECT_NE(static_cast<unsigned char>(line[3]) & 0xC0, 0x80u) << columns;
    }
  }
  // Shift_JIS: a trail byte (here 0x5C, the code of `\`) is never the first byte shown.
  setLeadByteTable(LEAD_SHIFT_JIS);
  std::string sjis = "dir\\\x95\x5C\x95\x5C\x95\x5C\x95\x5C\x95\x5C.txt";
  for (int columns = 20; columns <= 40; ++columns) {
    std::string line = format(columns, sjis, MIB, 2 * MIB, 1000);
    if (line.find("...") == 0 && line.size() > 3) {
      EXPECT_NE(line[3], '\x5C') << columns << " " << line;
    }
  }
}

} // namespace
