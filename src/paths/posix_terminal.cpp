// The status line on a POSIX terminal: standard error's width, and the row below standard
// output's open line when both write to one terminal (VT100 index, reverse index, save and
// restore cursor), so the screen shows the listing as it would be without the status line.
#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "paths/status.h"
#include "paths/terminal.h"

namespace {

// ESC D moves down a row (scrolling at the bottom) and ESC M back up, both keeping the column,
// so that a row below exists; ESC 7 saves the cursor there, ESC D and CR go to the new row.
constexpr char GO_BELOW[] = "\033D\033M\0337\033D\r";
constexpr char COME_BACK[] = "\0338";

// Whether standard output and standard error are one terminal.
bool outputOnSameTerminal() {
  struct stat out, err;
  return isatty(STDOUT_FILENO) && fstat(STDOUT_FILENO, &out) == 0 &&
         fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

} // namespace

void terminalWrite(const char *data, size_t length) {
  while (length > 0) {
    ssize_t put = write(STDERR_FILENO, data, length);
    if (put <= 0)
      return;
    data += put;
    length -= static_cast<size_t>(put);
  }
}

bool terminalGoBelow() {
  if (!outputOnSameTerminal())
    return false;
  terminalWrite(GO_BELOW, sizeof GO_BELOW - 1);
  return true;
}

void terminalComeBack() {
  terminalWrite(COME_BACK, sizeof COME_BACK - 1);
}

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
