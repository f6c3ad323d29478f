// The status line on a POSIX terminal: standard error's width, and drawing with a carriage
// return; when standard output writes to the same terminal, the line goes on the row below its
// open line and the cursor is given back afterwards (VT100 index, reverse index, save and
// restore cursor), so the screen shows the listing as it would be without the status line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "paths/paths.h"

namespace {

bool shown = false;       // a status line is on the screen
bool belowOutput = false; // it stands on the row below standard output's open line
size_t shownLength = 0;   // the bytes it shows

// ESC D moves down a row (scrolling at the bottom) and ESC M back up, both keeping the column,
// so that a row below exists; ESC 7 saves the cursor there, ESC D and CR go to the new row.
constexpr char GO_BELOW[] = "\033D\033M\0337\033D\r";
constexpr char COME_BACK[] = "\0338";

// Writes all of `length` bytes to standard error; a failure only loses the status line.
void writeStatus(const char *data, size_t length) {
  while (length > 0) {
    ssize_t put = write(STDERR_FILENO, data, length);
    if (put <= 0)
      return;
    data += put;
    length -= static_cast<size_t>(put);
  }
}

// Whether standard output and standard error are one terminal.
bool outputOnSameTerminal() {
  struct stat out, err;
  return isatty(STDOUT_FILENO) && fstat(STDOUT_FILENO, &out) == 0 &&
         fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

// A carriage return, the text, and blanks over what a longer line showed before, in one write.
void drawRow(const char *text, size_t length, size_t previous) {
  static char row[1 + 2 * STATUS_MAX]; // the row being written; used by this function alone
  size_t end = 0;
  row[end++] = '\r';
  for (size_t i = 0; i < length && i < STATUS_MAX; ++i)
    row[end++] = text[i];
  for (size_t i = length; i < previous && i < STATUS_MAX; ++i)
    row[end++] = ' ';
  writeStatus(row, end);
}

} // namespace

int statusColumns() {
  if (!isatty(STDERR_FILENO))
    return 0;
  const char *term = getenv("TERM");
  if (term != nullptr && strcmp(term, "dumb") == 0)
    return 0;
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    return size.ws_col;
  return 80;
}

void statusShow(const char *text, size_t length) {
  if (!shown) {
    fflush(stdout);
    belowOutput = outputOnSameTerminal();
    if (belowOutput)
      writeStatus(GO_BELOW, sizeof GO_BELOW - 1);
    shown = true;
    shownLength = 0;
  }
  drawRow(text, length, shownLength);
  shownLength = length;
}

void statusClear() {
  if (!shown)
    return;
  drawRow("", 0, shownLength);
  writeStatus("\r", 1);
  if (belowOutput)
    writeStatus(COME_BACK, sizeof COME_BACK - 1);
  shown = false;
  shownLength = 0;
}
