// The status line, the same on both systems: one row on standard error, redrawn in place with a
// carriage return; the backends (posix_terminal.cpp, win_terminal.cpp) give the terminal's
// width, the writing, and the row of its own below standard output's open line.
#include <cstdio>

#include "paths/status.h"
#include "paths/terminal.h"

namespace {

bool shown = false;       // a status line is on the screen
bool belowOutput = false; // it stands on the row below standard output's open line
size_t shownLength = 0;   // the bytes it shows

// A carriage return, the text, and blanks over what a longer line showed before, in one write.
void drawRow(const char *text, size_t length, size_t previous) {
  static char row[1 + 2 * STATUS_MAX]; // the row being written; used by this function alone
  size_t end = 0;
  row[end++] = '\r';
  for (size_t i = 0; i < length && i < STATUS_MAX; ++i)
    row[end++] = text[i];
  for (size_t i = length; i < previous && i < STATUS_MAX; ++i)
    row[end++] = ' ';
  terminalWrite(row, end);
}

} // namespace

void statusShow(const char *text, size_t length) {
  if (!shown) {
    fflush(stdout);
    belowOutput = terminalGoBelow();
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
  terminalWrite("\r", 1);
  if (belowOutput)
    terminalComeBack();
  shown = false;
  shownLength = 0;
}
