// The list-file line reader: every line read to its line feed, whatever its length; quotes,
// separators and two-byte characters.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/listfile.h"
#include "paths/pathtext.h"
#include "paths/runtime.h"
#include "support/testutil.h"

namespace {

struct Line {
  std::string text;
  bool tooLong;
  bool holdsNul = false;
  bool operator==(const Line &other) const {
    return text == other.text && tooLong == other.tooLong && holdsNul == other.holdsNul;
  }
};

std::ostream &operator<<(std::ostream &out, const Line &line) {
  return out << "{\"" << line.text << "\"" << (line.tooLong ? ", too long" : "")
             << (line.holdsNul ? ", holds NUL" : "") << "}";
}

class ListFileTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }
  void TearDown() override { tu::resetAll(); }

  // Every line of a list file with the given bytes, read into a buffer of `room` bytes.
  std::vector<Line> read(const std::string &bytes, size_t room) {
    tu::writeFile(dir.path() / "list", bytes);
    ListFile *file = listFileOpen(dir.text("list").c_str());
    EXPECT_NE(file, nullptr);
    std::vector<Line> lines;
    if (file == nullptr)
      return lines;
    std::vector<char> buffer(room + 8, '#');
    ListLineFault fault = LINE_HOLDS_NUL;
    while (readListLine(file, buffer.data(), room, lines.empty(), &fault)) {
      EXPECT_EQ(buffer[room], '#') << "written past the room";
      lines.push_back({buffer.data(), fault == LINE_TOO_LONG, fault == LINE_HOLDS_NUL});
    }
    listFileClose(file);
    return lines;
  }

  tu::TempDir dir;
};

using Lines = std::vector<Line>;

TEST_F(ListFileTest, PlainLinesCarriageReturnsAndTheLastLine) {
  EXPECT_EQ(read("a.txt\r\n\r\nsub\\b.txt\nlast", 64),
            (Lines{{"a.txt", false}, {"", false}, {"sub\\b.txt", false}, {"last", false}}));
  EXPECT_EQ(read("", 64), Lines{});
  EXPECT_EQ(read("one\n\x1Atwo\n", 64), (Lines{{"one", false}}));
}

TEST_F(ListFileTest, QuotesKeepTheTextUpToTheClosingQuote) {
  EXPECT_EQ(read("\"b c.txt\" a remark\n\"open\n\"\n", 64),
            (Lines{{"b c.txt", false}, {"open", false}, {"", false}}));
  // A quote inside the text is an ordinary character.
  EXPECT_EQ(read("a\"b\n", 64), (Lines{{"a\"b", false}}));
}

// Room for five bytes of text: five fit, six do not. The rest of a long line is dropped and the
// next line is read whole, never a piece of the long one.
TEST_F(ListFileTest, ALineTooLongIsCutOnceAndItsRestDropped) {
  EXPECT_EQ(read("abcde\nabcdef\nnext\n", 6),
            (Lines{{"abcde", false}, {"abcde", true}, {"next", false}}));
  std::string tail(3000, 'y');
  EXPECT_EQ(read("x" + tail + "a.txt\r\nb.txt", 6), (Lines{{"xyyyy", true}, {"b.txt", false}}));
  // A long remark after a quoted path does not make the line too long; a long quoted path does.
  EXPECT_EQ(read("\"ab\" " + tail + "\n\"abcdefg\" r\n", 6),
            (Lines{{"ab", false}, {"abcde", true}}));
  // No room for any text: every non-empty line is too long.
  EXPECT_EQ(read("a\n\nb\n", 1), (Lines{{"", true}, {"", false}, {"", true}}));
}

TEST_F(ListFileTest, SlashIsASeparator) {
  EXPECT_EQ(read("old/config.ini\n\"a/b c\" x/y\n", 64),
            (Lines{{"old\\config.ini", false}, {"a\\b c", false}}));
}

// A trail byte is never taken for a quote or a slash, and a two-byte character is never split
// at the cut of a line too long.
TEST_F(ListFileTest, TwoByteCharactersStayWhole) {
  setLeadByteTable(LEAD_SHIFT_JIS);
  EXPECT_EQ(read("\x95\x5c/\x81/x\n", 64), (Lines{{"\x95\x5c\\\x81/x", false}}));
  EXPECT_EQ(read("\"\x81\"x\"y\n", 64), (Lines{{"\x81\"x", false}}));
  EXPECT_EQ(read("ab\x95\x5c\n", 4), (Lines{{"ab", true}}));
  EXPECT_EQ(read("ab\x95\x5c\n", 5), (Lines{{"ab\x95\x5c", false}}));
}

// A UTF-8 byte-order mark before the first line is no part of it; bytes that only begin like
// one are text, and a mark anywhere else is text too.
TEST_F(ListFileTest, AByteOrderMarkBeforeTheFirstLineIsSkipped) {
  EXPECT_EQ(read("\xEF\xBB\xBF\"a b\" x\r\n\xEF\xBB\xBF"
                 "c\n",
                 64),
            (Lines{{"a b", false},
                   {"\xEF\xBB\xBF"
                    "c",
                    false}}));
  EXPECT_EQ(read("\xEF\xBB\xBF", 64), Lines{});
  EXPECT_EQ(read("\xEF\xBB\xBF\n", 64), (Lines{{"", false}}));
  EXPECT_EQ(read("\xEF\xBBx\n", 64), (Lines{{"\xEF\xBBx", false}}));
  EXPECT_EQ(read("\xEF\n", 64), (Lines{{"\xEF", false}}));
  EXPECT_EQ(read("\xEF", 64), (Lines{{"\xEF", false}}));
}

// A NUL byte in the text of a line marks it, keeps the text before it and reads the line to its
// end; in the remark after a closing quote it is no part of the path.
TEST_F(ListFileTest, ANulByteMarksTheLine) {
  using namespace std::string_literals;
  EXPECT_EQ(read("a.txt\0.bak\nb\n"s, 64), (Lines{{"a.txt", false, true}, {"b", false}}));
  EXPECT_EQ(read("\"a\" \0\n\0\n"s, 64), (Lines{{"a", false}, {"", false, true}}));
  EXPECT_EQ(read("abcdefgh\0\n"s, 4), (Lines{{"abc", false, true}}));
}

} // namespace
