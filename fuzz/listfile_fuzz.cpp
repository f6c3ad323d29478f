// Fuzz target: the list-file reader as the driver uses it (readListLine). The input's first
// two bytes choose the room a line has (the driver's 516 bytes less a source prefix of 0 to
// 514) and the two-byte table; the rest is the file. Each line is read into a heap block of
// exactly that room, and checked against what the file says:
//   - the reader writes nothing past the room and always ends a line with its terminator;
//   - it hands out one line per line of the file (CR LF read as LF, up to a Ctrl-Z), so that
//     the tail of an over-long line never comes back as a line of its own;
//   - a line is the path it names: the text inside an opening double quote, every `/` a `\`;
//     one that does not fit is reported as too long and holds a head of that path that never
//     ends in half a two-byte character;
//   - a UTF-8 byte-order mark at the start of the file is no part of the first line.
// The file lives in memory (memfd), opened through /proc/self/fd, so no run leaves a file.
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "cli/listfile.h"
#include "fuzz_support.h"

namespace {

int fileFd = -1;
char fileName[64]; // the memfd in the program's path syntax

// The lines of the file as the reader should see them: a UTF-8 byte-order mark at the start is
// no part of the first, CR LF read as LF, a Ctrl-Z ends it, a last line without a line feed
// counts when it holds anything.
std::vector<std::string> expectedLines(const uint8_t *data, size_t size) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;
  size_t start = size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF ? 3 : 0;
  for (size_t i = start; i < size && data[i] != 0x1A; ++i) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n')
      continue;
    open = true;
    if (data[i] == '\n') {
      lines.push_back(line);
      line.clear();
      open = false;
      continue;
    }
    line += static_cast<char>(data[i]);
  }
  if (open)
    lines.push_back(line);
  return lines;
}

// The path a line names: the text inside an opening double quote, every `/` a `\`. A byte
// after a lead byte is that character's trail byte, whatever its value, and never a quote or
// a separator.
std::string pathOf(const std::string &line) {
  const char *p = line.c_str();
  bool quoted = *p == '"';
  if (quoted)
    ++p;
  std::string path;
  for (; *p != '\0'; p = nextChar(p)) {
    size_t n = charBytes(p);
    if (n == 1 && quoted && *p == '"')
      break;
    path += (n == 1 && *p == '/') ? '\\' : *p;
    if (n == 2)
      path += p[1];
  }
  return path;
}

void readLines(ListFile *file, size_t room, const std::vector<std::string> &expected) {
  char *line = static_cast<char *>(std::malloc(room)); // exactly `room`
  size_t count = 0;
  ListLineFault fault = LINE_FITS;
  while (readListLine(file, line, room, count == 0, &fault)) {
    FUZZ_CHECK(fault != LINE_HOLDS_NUL);
    bool tooLong = fault == LINE_TOO_LONG;
    FUZZ_CHECK(count < expected.size());
    size_t length = strnlen(line, room);
    FUZZ_CHECK(length < room);
    std::string path = pathOf(expected[count]);
    FUZZ_CHECK(tooLong == (path.size() + 1 > room));
    if (!tooLong) {
      FUZZ_CHECK(path == std::string(line, length));
    } else {
      FUZZ_CHECK(path.compare(0, length, line, length) == 0);
      FUZZ_CHECK(length + 2 >= room); // at most half a character short of the room
      if (length > 0) {
        const char *last = lastCharPtr(line);
        FUZZ_CHECK(!(isLeadByte(static_cast<unsigned char>(*last)) && last[1] == '\0'));
      }
    }
    ++count;
  }
  FUZZ_CHECK(count == expected.size());
  std::free(line);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::silenceStdout();
  fileFd = memfd_create("treecopy-list", MFD_CLOEXEC);
  if (fileFd < 0)
    std::abort();
  std::snprintf(fileName, sizeof fileName, "\\proc\\self\\fd\\%d", fileFd);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2)
    return 0;
  fuzz::chooseTextRules(data[1]);
  size_t room = 516 - static_cast<size_t>(((data[0] << 8) | data[1]) % 515); // 2 to 516
  const uint8_t *content = data + 2;
  size_t length = size - 2;
  // A line that holds a NUL is refused by the reader (the unit tests hold that); the checks
  // above compare whole lines, so such files are left out.
  if (std::memchr(content, 0, length) != nullptr)
    return 0;
  if (ftruncate(fileFd, 0) != 0 ||
      pwrite(fileFd, content, length, 0) != static_cast<ssize_t>(length))
    std::abort();

  ListFile *file = listFileOpen(fileName);
  FUZZ_CHECK(file != nullptr);
  readLines(file, room, expectedLines(content, length));
  listFileClose(file);
  return 0;
}
