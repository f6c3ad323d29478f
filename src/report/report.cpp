// Console reporting: the error suffix, item-line starts, detail timestamps and verbose blocks.
#include "report/report.h"

#include <cstdio>
#include <cstring>

#include "paths/pathtext.h"
#include "paths/winapi.h"
#include "state/state.h"

namespace {

// Size of the buffer that receives the system's message text.
constexpr DWORD MESSAGE_SIZE = 516;

// The flags of the message lookup. On Windows a system text may hold inserts such as %1; with no
// arguments to fill them the lookup would read through a null argument list, so inserts are
// left as they stand. The file-system layer of the other platforms has texts without inserts.
#if defined(_WIN32)
constexpr DWORD MESSAGE_FLAGS = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
#else
constexpr DWORD MESSAGE_FLAGS = FORMAT_MESSAGE_FROM_SYSTEM;
#endif

// Prints `count` spaces (nothing for zero or less).
void printSpaces(int count) {
  for (int i = 0; i < count; ++i)
    putchar(' ');
}

// Pads the name column of a detail line so that the date starts at column 31 (TAB stops of 8).
void printNameFill(int col) {
  if (col < 8)
    fputs("\t\t\t      ", stdout);
  else if (col < 16)
    fputs("\t\t      ", stdout);
  else if (col < 24)
    fputs("\t      ", stdout);
  else if (col < 30)
    printSpaces(30 - col);
}

} // namespace

// Makes a system message printable on one line: a two-byte character stays whole, every other
// byte outside 0x20..0x7E (the CR LF at the end, a TAB) becomes a space. Not static: the
// unit tests feed it bytes that no system text holds.
void cleanMessageText(char *text) {
  for (char *p = text; *p != '\0'; p = nextChar(p)) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (!isLeadByte(c) && (c < 0x20 || c > 0x7E))
      *p = ' ';
  }
}

// Ends the current line with the error number and the system's text for it.
void reportError(const char *name, int32_t code) {
  printf("%s\t:error(%d)", name != nullptr ? name : "", static_cast<int>(code));
  char message[MESSAGE_SIZE];
  message[0] = '\0';
  DWORD length = FormatMessageA(MESSAGE_FLAGS, nullptr, static_cast<DWORD>(code), 0, message,
                                MESSAGE_SIZE, nullptr);
  if (length == 0)
    message[0] = '\0'; // no text: the platform may have left the buffer untouched
  message[MESSAGE_SIZE - 1] = '\0';
  cleanMessageText(message);
  printf(" %s\n", message);
}

// The bytes of `text` (at most `limit`) that fit in `room` without splitting a character.
size_t fittingLength(const char *text, size_t limit, size_t room) {
  size_t length = 0;
  while (length < limit && text[length] != '\0') {
    size_t step = charBytes(text + length);
    if (length + step > room)
      break;
    length += step;
  }
  return length;
}

// Reports a path that would outgrow a path buffer and records the failure. The text is shown
// as far as a buffer could hold it, head first, never splitting a two-byte character.
int reportTooLong(const char *head, size_t headLength, const char *tail, uint32_t statusValue,
                  bool itemLine) {
  size_t room = PATH_BUF - 1;
  size_t shownHead = fittingLength(head, headLength, room);
  size_t shownTail = fittingLength(tail, PATH_BUF, room - shownHead);
  if (itemLine)
    beginItemLine();
  printf("%.*s%.*s :path too long\n", static_cast<int>(shownHead), head,
         static_cast<int>(shownTail), tail);
  flushAfterItem();
  return recordFailure(statusValue);
}

// Flushes standard output after an item line of a destructive mode. Explicitly, since a line
// buffer is no help: the Windows runtime buffers a line-buffered stream fully.
void flushAfterItem() {
  if (runState.mode == MODE_MOVE || runState.mode == MODE_DELETE)
    fflush(stdout);
}

// A write that failed leaves the stream's error mark, which stays: one look at the end sees
// every failure of the run.
bool finishStandardOutput() {
  bool failed = fflush(stdout) != 0;
  failed = ferror(stdout) != 0 || failed;
  if (failed)
    fputs("Standard output could not be written.\n", stderr);
  return !failed;
}

// Starts an item line in verbose mode: ends an open header line and indents one past the block.
bool beginItemLine() {
  if (!runState.verbose)
    return false;
  if (runState.lineOpen) {
    putchar('\n');
    runState.lineOpen = false;
  }
  if (runState.depth >= 0)
    printSpaces(runState.depth + 1);
  return true;
}

// Prints one half of the /+d detail line: the last-write time in local calendar time.
bool printTimestamp(const FindEntry &entry, char separator) {
  FILETIME local;
  SYSTEMTIME calendar;
  if (!FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local) ||
      !FileTimeToSystemTime(&local, &calendar)) {
    reportError("", static_cast<int32_t>(GetLastError()));
    runState.errorCount += 1;
    return false;
  }
  if (separator == '\t') {
    int nameLength = static_cast<int>(strnlen(entry.cFileName, sizeof entry.cFileName));
    int col = nameLength + 1;
    if (beginItemLine() && runState.depth >= 0)
      col += runState.depth + 1;
    printf(" %.*s", nameLength, entry.cFileName);
    printNameFill(col);
  } else {
    putchar(' ');
  }
  printf(" %04d/%02d/%02d", static_cast<int>(calendar.wYear), static_cast<int>(calendar.wMonth),
         static_cast<int>(calendar.wDay));
  printf(" %02d:%02d:%02d", static_cast<int>(calendar.wHour), static_cast<int>(calendar.wMinute),
         static_cast<int>(calendar.wSecond));
  printf(".%03d", static_cast<int>(calendar.wMilliseconds));
  if (separator == '\n')
    putchar('\n');
  return true;
}

// Prints the header of a verbose block and leaves its line open for the first item.
void openBlock(const char *source, const char *destination) {
  if (destination == nullptr)
    destination = "";
  if (runState.lineOpen)
    putchar('\n');
  runState.lineOpen = true;
  printSpaces(runState.depth);
  const ModeTraits &traits = modeTraits();
  if (runState.depth == 1)
    fputs(traits.word, stdout);
  // A delete without a destination pairs nothing: only the source is shown.
  if (!traits.needsDestination && destination[0] == '\0')
    printf("(%s){", source);
  else
    printf("(%s %s %s){", source, traits.arrow, destination);
}

// Prints the closing brace of a verbose block, on the header's line when the block stayed empty.
void closeBlock() {
  if (runState.lineOpen)
    runState.lineOpen = false;
  else
    printSpaces(runState.depth);
  fputs("}\n", stdout);
}
