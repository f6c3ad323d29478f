// Fuzz target: the path text operations, with the two-byte tables on. The input's first byte
// chooses the lead-byte table, the colon rule and whether hidden entries count; then each byte
// picks one operation on two PathBufs and a TabList (at most 64 of them), with its operands
// read from the input.
// After every operation the buffers are checked: never written past their 520 bytes (each lies
// in a heap block of exactly that size), still terminated, and changed exactly as the operation
// promises, which also means that a two-byte character is never cut in two.
#include <string>

#include "cli/cli.h"
#include "cli/parser.h"
#include "fuzz_support.h"
#include "walk/walk.h"

namespace {

constexpr size_t BUF = PATH_BUF;

enum Operation {
  OP_LOAD,         // pathPut at the start, a short text
  OP_FILL,         // pathPut at the start, a text repeated to a length around the buffer's size
  OP_PUT,          // pathPut at an offset
  OP_PUT_OVERLAP,  // pathPut of the buffer's own tail to an offset
  OP_APPEND,       // pathAppend
  OP_APPEND_CHAR,  // pathAppendChar
  OP_TRAILING_SEP, // ensureTrailingSep
  OP_INSERT,       // insertChar
  OP_TRIM_LAST,    // *lastCharPtr(text) = 0, as the callers trim
  OP_CUT_NAME,     // *fileNamePart(text) = 0, as the callers cut
  OP_INSPECT,      // the read-only tests
  OP_SPLIT_SOURCE, // splitSourceSpec
  OP_PREPARE_DEST, // prepareDestSpec
  OP_CLASSIFY,     // classifyEntry and matchesExclusion
  OP_SCAN_PATH,    // scanPathArg into a buffer of any size
  OP_APPEND_ITEM,  // appendListItem
  OP_COUNT
};

bool isSeparatorChar(const char *text, size_t at) {
  return fuzz::isCharBoundary(text, at) && isSeparator(text[at]);
}

// The expected result of a bounded write: `text` at `offset` when it fits, else no change.
void expectPut(const char *buffer, const std::string &before, size_t offset,
               const std::string &text, bool fitted) {
  bool fits = offset + text.size() + 1 <= BUF;
  FUZZ_CHECK(fitted == fits);
  if (!fits) {
    FUZZ_CHECK(std::memcmp(buffer, before.data(), BUF) == 0);
    return;
  }
  FUZZ_CHECK(std::memcmp(buffer, before.data(), offset) == 0);
  FUZZ_CHECK(std::memcmp(buffer + offset, text.c_str(), text.size() + 1) == 0);
  FUZZ_CHECK(std::memcmp(buffer + offset + text.size() + 1,
                         before.data() + offset + text.size() + 1,
                         BUF - offset - text.size() - 1) == 0);
}

std::string snapshot(const char *buffer) {
  return std::string(buffer, BUF);
}

// A text of whole characters, to stand where the callers put names and masks.
void readText(fuzz::Input &in, char *out) {
  in.text(out, BUF);
}

// An offset into `text` at a character boundary, at most its length.
size_t boundaryOffset(fuzz::Input &in, const char *text) {
  size_t length = std::strlen(text);
  size_t at = length == 0 ? 0 : in.byte() % (length + 1);
  while (at > 0 && !fuzz::isCharBoundary(text, at))
    --at;
  return at;
}

// The read-only tests against what each promises.
void inspect(const char *text, const char *other, fuzz::Input &in) {
  size_t length = std::strlen(text);
  FUZZ_CHECK(lastCharPtr(text) == text + fuzz::lastCharOffset(text));

  // One pass over the characters: the name follows the last separator, the first slash of its
  // own ends a piece.
  size_t name = 0;
  const char *slash = nullptr;
  for (size_t at = 0; at < length;) {
    if (isSeparator(text[at]))
      name = at + 1;
    if (text[at] == '/' && slash == nullptr)
      slash = text + at;
    at += (isLeadByte(static_cast<unsigned char>(text[at])) && text[at + 1] != '\0') ? 2 : 1;
  }
  FUZZ_CHECK(fileNamePart(text) == text + name);
  FUZZ_CHECK(skipToSlash(text) == (slash != nullptr ? slash : text + length));

  size_t dots = 0;
  while (text[dots] == '.')
    ++dots;
  FUZZ_CHECK(dotsOnlyLength(text) == (dots == length ? static_cast<int>(dots) : 0));

  // The path-or-mask rules in their order; the first decisive character wins.
  bool path = true;
  if (length == 0 || (length == 1 && text[0] == '.') || text[0] == '\\' ||
      text[fuzz::lastCharOffset(text)] == '\\') {
    path = true;
  } else {
    for (size_t at = 0; at < length;) {
      unsigned char c = static_cast<unsigned char>(text[at]);
      if (isLeadByte(c) && text[at + 1] != '\0') {
        at += 2;
        continue;
      }
      if (c == '*' || c == '?') {
        path = false;
        break;
      }
      if (c == '.' && text[at + 1] == '.') {
        at += 2;
        continue;
      }
      if (c == '.') {
        path = false;
        break;
      }
      if (c == '/' || isColonSep(static_cast<char>(c)))
        break;
      at += (c == '\\' && text[at + 1] == '*') ? 2 : 1;
    }
  }
  FUZZ_CHECK(looksLikePath(text) == path);

  // Case folding of ASCII letters only, bytes compared unsigned.
  size_t n = in.byte();
  int expected = 0;
  for (size_t i = 0; i < n; ++i) {
    auto fold = [](char c) {
      unsigned char u = static_cast<unsigned char>(c);
      return static_cast<int>(u >= 'A' && u <= 'Z' ? u + 32 : u);
    };
    int x = fold(text[i]), y = fold(other[i]);
    if (x != y || x == 0) {
      expected = x - y;
      break;
    }
  }
  int got = strnicmpAscii(text, other, n);
  FUZZ_CHECK((got < 0) == (expected < 0) && (got > 0) == (expected > 0));
  int whole = strnicmpAscii(text, other, BUF);
  int unbounded = stricmpAscii(text, other);
  FUZZ_CHECK((whole < 0) == (unbounded < 0) && (whole > 0) == (unbounded > 0));
}

// splitSourceSpec: the directory part stays, the name slot follows a separator or starts the
// text, the slot holds the mask or "*.*", and only a text near the end of its buffer fails.
void splitSource(char *pattern) {
  std::string before = pattern;
  char *mask = static_cast<char *>(std::malloc(BUF));
  std::memset(mask, 'M', BUF);
  char *slot = splitSourceSpec(pattern, mask);
  FUZZ_CHECK(fuzz::terminated(pattern));
  if (slot == nullptr) {
    FUZZ_CHECK(before.size() + 5 > BUF);
    std::free(mask);
    return;
  }
  FUZZ_CHECK(fuzz::terminated(mask));
  size_t offset = static_cast<size_t>(slot - pattern);
  FUZZ_CHECK(offset <= std::strlen(pattern));
  FUZZ_CHECK(offset == 0 || isSeparatorChar(pattern, offset - 1));
  FUZZ_CHECK(fuzz::isCharBoundary(pattern, offset));
  FUZZ_CHECK(std::strncmp(pattern, before.c_str(), std::min(offset, before.size())) == 0);
  if (mask[0] != '\0')
    FUZZ_CHECK(std::strcmp(mask, slot) == 0 && std::strcmp(slot, "*.*") != 0);
  else
    FUZZ_CHECK(std::strcmp(slot, "*.*") == 0 || slot[0] == '\0');
  std::free(mask);
}

// prepareDestSpec: the slot is "*.*" below the directory, or a component beginning with `*`
// (the same-name form); what comes before the slot is the text as it was.
void prepareDest(char *dest, const char *mask) {
  std::string before = dest;
  bool sameName = true;
  char *slot = prepareDestSpec(dest, mask, sameName);
  FUZZ_CHECK(fuzz::terminated(dest));
  if (before.empty()) {
    FUZZ_CHECK(slot == dest && !sameName && dest[0] == '\0');
    return;
  }
  if (slot == nullptr) {
    FUZZ_CHECK(before.size() + 5 > BUF);
    return;
  }
  size_t offset = static_cast<size_t>(slot - dest);
  FUZZ_CHECK(offset <= std::strlen(dest));
  // After a text that ends in a lead byte without its trail byte (no valid text of the code
  // page does), the separator appended becomes that trail byte, as the system would read it.
  if (fuzz::endsInLoneLeadByte(before.c_str()))
    FUZZ_CHECK(offset == 0 || isSeparator(dest[offset - 1]));
  else
    FUZZ_CHECK(offset == 0 || isSeparatorChar(dest, offset - 1));
  FUZZ_CHECK(std::strncmp(dest, before.c_str(), std::min(offset, before.size())) == 0);
  if (sameName)
    FUZZ_CHECK(slot[0] == '*');
  else
    FUZZ_CHECK(std::strcmp(slot, "*.*") == 0);
}

// classifyEntry writes the name at the slot exactly when it fits, refuses an accepted entry
// whose name holds a `\` (a character of its own, never a trail byte) or that does not fit,
// and leaves the exclusion list and the entry alone; matchesExclusion only reads the name.
void classify(char *pattern, const char *exclusions, fuzz::Input &in) {
  FindEntry *entry = static_cast<FindEntry *>(std::calloc(1, sizeof(FindEntry)));
  in.text(entry->cFileName, sizeof entry->cFileName);
  in.text(entry->cAlternateFileName, sizeof entry->cAlternateFileName);
  entry->dwFileAttributes = in.byte() | (in.byte() & 1 ? FILE_ATTRIBUTE_DIRECTORY : 0);
  FindEntry entryBefore = *entry;
  std::string listBefore = snapshot(exclusions);
  size_t offset = boundaryOffset(in, pattern);
  std::string before = snapshot(pattern);
  int r = classifyEntry(*entry, pattern, pattern + offset, exclusions);
  FUZZ_CHECK(r >= ENTRY_BAD_NAME && r <= ENTRY_MATCHED);
  bool holdsSeparator = false;
  for (const char *p = entry->cFileName; *p != '\0'; p = nextChar(p))
    holdsSeparator = holdsSeparator || (charBytes(p) == 1 && *p == '\\');
  if (r == ENTRY_BAD_NAME)
    FUZZ_CHECK(holdsSeparator);
  FUZZ_CHECK(std::memcmp(entry, &entryBefore, sizeof entryBefore) == 0);
  FUZZ_CHECK(snapshot(exclusions) == listBefore);
  bool fits = offset + std::strlen(entry->cFileName) + 1 <= BUF;
  if (r == ENTRY_TOO_LONG) {
    FUZZ_CHECK(!fits);
    FUZZ_CHECK(snapshot(pattern) == before);
  } else {
    expectPut(pattern, before, offset, entry->cFileName, fits);
  }

  char *name = static_cast<char *>(std::malloc(BUF));
  in.text(name, BUF);
  std::string nameBefore = snapshot(name);
  matchesExclusion(name, exclusions, entry->dwFileAttributes);
  FUZZ_CHECK(snapshot(name) == nameBefore);
  std::free(name);
  std::free(entry);
}

// scanPathArg into a buffer of `room` bytes: a copy of whole characters that fits with its
// terminator, stopped by a slash, the end or a refused character (kept, and the last), or
// refused whole. No control byte other than that refused one is ever copied.
void scanPath(fuzz::Input &in) {
  size_t room = (static_cast<size_t>(in.byte()) << 8 | in.byte()) % (BUF + 1);
  char *text = static_cast<char *>(std::malloc(BUF));
  readText(in, text);
  size_t length = std::strlen(text);
  const char *end = nullptr;
  if (in.byte() & 1)
    end = text + boundaryOffset(in, text);
  size_t stop = end != nullptr ? static_cast<size_t>(end - text) : length;
  char *out = static_cast<char *>(std::malloc(room)); // exactly `room` bytes
  runState.status = 0;
  int n = scanPathArg(out, room, text, end);
  if (n < 0) {
    FUZZ_CHECK(n == -1 && (runState.status & ST_SYNTAX) != 0);
    FUZZ_CHECK(room == 0 || out[0] == '\0');
  } else {
    size_t copied = static_cast<size_t>(n);
    FUZZ_CHECK(copied <= stop);
    FUZZ_CHECK(room > 0 ? copied < room : copied == 0);
    if (room > 0)
      FUZZ_CHECK(out[copied] == '\0');
    FUZZ_CHECK(std::memcmp(out, text, copied) == 0);
    FUZZ_CHECK(fuzz::isCharBoundary(text, copied));
    bool refused = (runState.status & ST_SYNTAX) != 0;
    if (refused) {
      // Stopped right after the refused character, a character of its own.
      FUZZ_CHECK(copied > 0 && fuzz::isForbiddenByte(static_cast<unsigned char>(out[copied - 1])));
      FUZZ_CHECK(fuzz::isCleanText(out, copied - 1));
    } else {
      FUZZ_CHECK(copied == stop || text[copied] == '/');
      FUZZ_CHECK(fuzz::isCleanText(out, copied));
    }
  }
  runState.status = 0;
  std::free(out);
  std::free(text);
}

// appendListItem: the list gains one item and its TAB, or nothing at all.
void appendItem(char *list, fuzz::Input &in) {
  char *text = static_cast<char *>(std::malloc(BUF));
  readText(in, text);
  std::string before = snapshot(list);
  size_t length = std::strlen(list);
  runState.status = 0;
  int n = appendListItem(list, text);
  FUZZ_CHECK(fuzz::terminated(list));
  if (n <= 0) {
    FUZZ_CHECK(std::strcmp(list, before.c_str()) == 0);
  } else {
    FUZZ_CHECK(std::strlen(list) == length + static_cast<size_t>(n));
    FUZZ_CHECK(std::strncmp(list, before.c_str(), length) == 0);
    FUZZ_CHECK(list[length + n - 1] == '\t');
    if (runState.status == 0)
      FUZZ_CHECK(fuzz::isCleanText(list + length, static_cast<size_t>(n - 1)));
  }
  runState.status = 0;
  std::free(text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::silenceStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input in{data, size};
  if (in.empty())
    return 0;
  uint8_t rules = in.byte();
  fuzz::chooseTextRules(rules);
  resetRunState();
  runState.includeHidden = (rules & 8) != 0;

  // Two paths and one TAB list, each in a heap block of exactly one buffer.
  char *bufs[2];
  for (char *&b : bufs) {
    b = static_cast<char *>(std::malloc(BUF));
    std::memset(b, 0, BUF);
  }
  char *list = static_cast<char *>(std::calloc(1, BUF));
  char *text = static_cast<char *>(std::malloc(BUF));

  // A few dozen operations reach every state of the buffers; longer inputs only run slower.
  for (int count = 0; count < 64 && !in.empty(); ++count) {
    uint8_t op = in.byte();
    char *b = bufs[(op >> 7) & 1];
    char *other = bufs[((op >> 7) & 1) ^ 1];
    std::string before = snapshot(b);
    size_t length = std::strlen(b);
    bool roomForOne = length + 2 <= BUF; // the unchecked appends need this of their callers
    switch (op % OP_COUNT) {
    case OP_LOAD: {
      readText(in, text);
      expectPut(b, before, 0, text, pathPut(b, b, text));
      break;
    }
    case OP_FILL: {
      readText(in, text);
      size_t want = (static_cast<size_t>(in.byte()) << 8 | in.byte()) % (BUF + 10);
      std::string filled;
      std::string unit = text[0] != '\0' ? text : "a";
      while (filled.size() < want)
        filled += unit;
      filled.resize(want);
      expectPut(b, before, 0, filled, pathPut(b, b, filled.c_str()));
      break;
    }
    case OP_PUT: {
      readText(in, text);
      size_t offset = in.byte() % (length + 2);
      if (offset == length + 1)
        offset = BUF; // the end of the buffer: always refused
      bool fitted = pathPut(b, b + offset, text);
      if (offset == BUF)
        FUZZ_CHECK(!fitted && snapshot(b) == before);
      else
        expectPut(b, before, offset, text, fitted);
      break;
    }
    case OP_PUT_OVERLAP: {
      size_t from = boundaryOffset(in, b);
      size_t offset = boundaryOffset(in, b);
      std::string tail = b + from;
      expectPut(b, before, offset, tail, pathPut(b, b + offset, b + from));
      break;
    }
    case OP_APPEND: {
      readText(in, text);
      bool fitted = pathAppend(b, text);
      expectPut(b, before, length, text, fitted);
      break;
    }
    case OP_APPEND_CHAR: {
      char c = static_cast<char>(in.byte());
      bool fitted = pathAppendChar(b, c);
      FUZZ_CHECK(fitted == roomForOne);
      if (fitted)
        FUZZ_CHECK(b[length] == c && b[length + 1] == '\0' &&
                   std::memcmp(b, before.data(), length) == 0);
      else
        FUZZ_CHECK(snapshot(b) == before);
      break;
    }
    case OP_TRAILING_SEP: {
      bool lone = fuzz::endsInLoneLeadByte(b);
      bool needed = length > 0 && !isSeparatorChar(b, fuzz::lastCharOffset(b));
      bool fits = ensureTrailingSep(b);
      FUZZ_CHECK(fits == (!needed || roomForOne));
      FUZZ_CHECK(std::string(b) == std::string(before.c_str()) + (needed && fits ? "\\" : ""));
      if (!fits)
        break;
      // A text that ends in a whole character now ends in a separator of its own.
      if (length > 0 && !lone)
        FUZZ_CHECK(isSeparatorChar(b, fuzz::lastCharOffset(b)));
      break;
    }
    case OP_INSERT: {
      if (!roomForOne)
        break;
      size_t at = in.byte() % (length + 1);
      char c = static_cast<char>(in.byte());
      insertChar(b + at, c);
      std::string expected = before.substr(0, length);
      expected.insert(at, 1, c);
      FUZZ_CHECK(std::memcmp(b, expected.c_str(), length + 2) == 0);
      break;
    }
    case OP_TRIM_LAST: {
      char *last = lastCharPtr(b);
      FUZZ_CHECK(last == b + fuzz::lastCharOffset(b));
      *last = '\0';
      FUZZ_CHECK(fuzz::isCharBoundary(before.c_str(), std::strlen(b)));
      break;
    }
    case OP_CUT_NAME: {
      char *name = fileNamePart(b);
      FUZZ_CHECK(fuzz::isCharBoundary(b, static_cast<size_t>(name - b)));
      *name = '\0';
      break;
    }
    case OP_INSPECT:
      inspect(b, other, in);
      FUZZ_CHECK(snapshot(b) == before);
      break;
    case OP_SPLIT_SOURCE:
      splitSource(b);
      break;
    case OP_PREPARE_DEST:
      prepareDest(b, other);
      break;
    case OP_CLASSIFY:
      classify(b, list, in);
      break;
    case OP_SCAN_PATH:
      scanPath(in);
      break;
    case OP_APPEND_ITEM:
      appendItem(list, in);
      break;
    }
    FUZZ_CHECK(fuzz::terminated(bufs[0]) && fuzz::terminated(bufs[1]) && fuzz::terminated(list));
  }

  std::free(text);
  std::free(list);
  for (char *b : bufs)
    std::free(b);
  return 0;
}
