// The status line in a Windows console: standard error's window width, and drawing with a
// carriage return; when standard output writes to the same console, the line goes on the row
// below its open line and the cursor is put back afterwards through the console functions, so
// the screen shows the listing as it would be without the status line.
#include <cstdio>
#include <io.h>

#include "paths/paths.h"

namespace {

bool shown = false;       // a status line is on the screen
bool belowOutput = false; // it stands on the row below standard output's open line
COORD outputCursor;       // where standard output's open line ends
size_t shownLength = 0;   // the bytes it shows

// The console behind standard error, or nullptr.
HANDLE errorConsole() {
  if (!_isatty(_fileno(stderr)))
    return nullptr;
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  return handle != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(handle, &info) ? handle
                                                                                     : nullptr;
}

// Writes bytes to standard error as they are (the console shows them in its output code page).
void writeStatus(const char *data, size_t length) {
  fwrite(data, 1, length, stderr);
  fflush(stderr);
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
  HANDLE console = errorConsole();
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (console == nullptr || !GetConsoleScreenBufferInfo(console, &info))
    return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void statusShow(const char *text, size_t length) {
  if (!shown) {
    fflush(stdout);
    HANDLE console = errorConsole();
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    DWORD mode;
    belowOutput = console != nullptr && GetConsoleMode(output, &mode) &&
                  GetConsoleScreenBufferInfo(console, &info);
    if (belowOutput) {
      outputCursor = info.dwCursorPosition;
      writeStatus("\n", 1);
    }
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
  if (belowOutput) {
    HANDLE console = errorConsole();
    if (console != nullptr)
      SetConsoleCursorPosition(console, outputCursor);
  }
  shown = false;
  shownLength = 0;
}
