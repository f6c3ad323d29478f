// Fuzz target: the list-file reader as the driver uses it. The input's first two bytes choose
// the room a line has (the driver's 516 bytes less a source prefix of 0 to 514) and the
// two-byte table; the rest is the file. Each line is read with listFileGets into a heap block
// of exactly that room and trimmed with trimListLine, and checked:
//   - the reader writes nothing past the room and always ends a line with its terminator;
//   - it loses nothing and invents nothing: the lines, one after another, are the file with
//     CR LF read as LF, up to a Ctrl-Z;
//   - the trimmed line is part of the line read, without its line feed.
// The file lives in memory (memfd), opened through /proc/self/fd, so no run leaves a file.
//
// readLines is the one place that knows how the driver reads its lines; it is meant to follow
// the driver when that changes.
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "cli/cli.h"
#include "cli/parser.h"
#include "fuzz_support.h"

namespace {

int fileFd = -1;
char fileName[64]; // the memfd in the program's path syntax

// What the reader should hand out, one line after another: CR LF read as LF, a Ctrl-Z ends it.
std::string expectedText(const uint8_t *data, size_t size) {
  std::string text;
  for (size_t i = 0; i < size && data[i] != 0x1A; ++i) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n')
      continue;
    text += static_cast<char>(data[i]);
  }
  return text;
}

// Reads the file as the driver does, checking each line against the rest of `expected`.
void readLines(ListFile *file, int room, const std::string &expected) {
  char *line = static_cast<char *>(std::malloc(static_cast<size_t>(room))); // exactly `room`
  size_t consumed = 0;
  while (listFileGets(line, room, file) != nullptr) {
    // The line handed out: the next bytes of the file, through a line feed or as many as fit.
    size_t limit = std::min(expected.size() - consumed, static_cast<size_t>(room - 1));
    size_t length = 0;
    while (length < limit && expected[consumed + length] != '\n')
      ++length;
    if (length < limit)
      ++length; // the line feed
    FUZZ_CHECK(length > 0);
    FUZZ_CHECK(std::memcmp(line, expected.data() + consumed, length) == 0);
    FUZZ_CHECK(line[length] == '\0');
    consumed += length;

    std::string raw = line;
    trimListLine(line);
    std::string trimmed = line;
    FUZZ_CHECK(trimmed.find('\n') == std::string::npos);
    if (!raw.empty() && raw[0] == '"')
      FUZZ_CHECK(raw.compare(1, trimmed.size(), trimmed) == 0);
    else
      FUZZ_CHECK(raw.compare(0, trimmed.size(), trimmed) == 0);
  }
  FUZZ_CHECK(consumed == expected.size());
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
  int room = 516 - ((data[0] << 8) | data[1]) % 515; // 2 to 516, as the driver allows
  const uint8_t *content = data + 2;
  size_t length = size - 2;
  if (ftruncate(fileFd, 0) != 0 ||
      pwrite(fileFd, content, length, 0) != static_cast<ssize_t>(length))
    std::abort();

  ListFile *file = listFileOpen(fileName);
  FUZZ_CHECK(file != nullptr);
  readLines(file, room, expectedText(content, length));
  listFileClose(file);
  return 0;
}
