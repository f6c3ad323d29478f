// The status line in a Windows console: standard error's window width, and the row below
// standard output's open line when both write to one console, the cursor put back afterwards
// through the console functions, so the screen shows the listing as it would be without the
// status line.
#include <cstdio>
#include <io.h>

#include "paths/status.h"
#include "paths/terminal.h"
#include "paths/winapi.h"

namespace {

COORD outputCursor; // where standard output's open line ends

// The console behind standard error, or nullptr.
HANDLE errorConsole() {
  if (!_isatty(_fileno(stderr)))
    return nullptr;
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  return handle != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(handle, &info) ? handle
                                                                                     : nullptr;
}

} // namespace

// Bytes as they are (the console shows them in its output code page).
void terminalWrite(const char *data, size_t length) {
  fwrite(data, 1, length, stderr);
  fflush(stderr);
}

bool terminalGoBelow() {
  HANDLE console = errorConsole();
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  DWORD mode;
  if (console == nullptr || !GetConsoleMode(output, &mode) ||
      !GetConsoleScreenBufferInfo(console, &info))
    return false;
  outputCursor = info.dwCursorPosition;
  terminalWrite("\n", 1);
  return true;
}

void terminalComeBack() {
  HANDLE console = errorConsole();
  if (console != nullptr)
    SetConsoleCursorPosition(console, outputCursor);
}

int statusColumns() {
  HANDLE console = errorConsole();
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (console == nullptr || !GetConsoleScreenBufferInfo(console, &info))
    return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}
