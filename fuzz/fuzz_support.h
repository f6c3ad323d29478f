// Helpers shared by the fuzz targets: reading the input, choosing the text rules, checking
// invariants, and where a piece of text may be cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "paths/pathtext.h"

// A failed invariant is a crash for libFuzzer, which then keeps the input.
#define FUZZ_CHECK(condition)                                                                      \
  do {                                                                                             \
    if (!(condition)) {                                                                            \
      std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);      \
      std::abort();                                                                                \
    }                                                                                              \
  } while (0)

namespace fuzz {

// The program's messages are not what is checked; they go nowhere, and quickly.
inline void silenceStdout() {
  if (std::freopen("/dev/null", "w", stdout) == nullptr)
    std::abort();
}

// The low two bits choose the lead-byte table (none, Shift_JIS, the wide sets; 3 is none as
// well), the third whether `:` separates.
// The table is only rebuilt when it changes (building it is a good part of a short run).
inline void chooseTextRules(uint8_t byte) {
  static const LeadByteTable tables[4] = {LEAD_NONE, LEAD_SHIFT_JIS, LEAD_WIDE, LEAD_NONE};
  static int current = -1;
  LeadByteTable table = tables[byte & 3];
  if (table != current) {
    setLeadByteTable(table);
    current = table;
  }
  colonSeparates = (byte & 4) != 0;
}

// Reads the input front to back; past its end every read gives zero.
struct Input {
  const uint8_t *data;
  size_t size;

  bool empty() const { return size == 0; }
  uint8_t byte() {
    if (size == 0)
      return 0;
    --size;
    return *data++;
  }
  // A length byte, then that many bytes; the text ends at a NUL among them.
  void text(char *out, size_t room) {
    size_t length = byte();
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
      uint8_t c = byte();
      if (n + 1 < room)
        out[n++] = static_cast<char>(c);
    }
    out[n] = '\0';
  }
};

// Whether `offset` starts a character of `text` as the program steps through it (a lead byte
// takes the next byte along unless that is the terminator). The terminator's offset counts.
inline bool isCharBoundary(const char *text, size_t offset) {
  size_t at = 0;
  while (at < offset && text[at] != '\0')
    at += (isLeadByte(static_cast<unsigned char>(text[at])) && text[at + 1] != '\0') ? 2 : 1;
  return at == offset;
}

// The offset of the last character of `text`, or its length when it is empty.
inline size_t lastCharOffset(const char *text) {
  size_t at = 0, last = 0;
  while (text[at] != '\0') {
    last = at;
    at += (isLeadByte(static_cast<unsigned char>(text[at])) && text[at + 1] != '\0') ? 2 : 1;
  }
  return text[0] == '\0' ? 0 : last;
}

// Whether the text ends in a lead byte whose trail byte is missing.
inline bool endsInLoneLeadByte(const char *text) {
  size_t length = std::strlen(text);
  return length > 0 && lastCharOffset(text) == length - 1 &&
         isLeadByte(static_cast<unsigned char>(text[length - 1]));
}

// The characters that no path, mask or list-file name from the command line may hold.
inline bool isForbiddenByte(unsigned char c) {
  return c == '"' || c == ';' || c == '<' || c == '>' || c == '|' || (c >= 0x01 && c <= 0x1F);
}

// Whether the first `length` bytes of `text` are fit to be copied from the command line: no
// control byte anywhere (a TAB would split a list item), no refused character and no option
// slash as a character of its own (a trail byte may have their values).
inline bool isCleanText(const char *text, size_t length) {
  for (size_t at = 0; at < length; ++at)
    if (static_cast<unsigned char>(text[at]) < 0x20)
      return false;
  for (size_t at = 0; at < length;) {
    unsigned char c = static_cast<unsigned char>(text[at]);
    if (isLeadByte(c) && at + 1 < length) {
      at += 2;
      continue;
    }
    if (c == '/' || isForbiddenByte(c))
      return false;
    ++at;
  }
  return true;
}

// Whether a PathBuf-sized buffer holds its terminator.
inline bool terminated(const char *buffer) {
  return std::memchr(buffer, 0, PATH_BUF) != nullptr;
}

} // namespace fuzz
