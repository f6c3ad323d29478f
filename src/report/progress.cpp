// The progress line of one long file operation, on standard error while it is a terminal. The
// listing on standard output is never touched: the line is drawn and erased through the
// file-system layer's status line, which knows the terminal.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "paths/files.h"
#include "paths/pathtext.h"
#include "paths/status.h"
#include "paths/winapi.h"
#include "report/report.h"

namespace {

using Clock = std::chrono::steady_clock;

// An operation shows its line once it has run this long, and redraws it at most this often.
constexpr int64_t SHOW_AFTER_MS = 1000;
constexpr int64_t REDRAW_MS = 250;

// Whether standard error is a terminal: -1 until the first operation asks, then 0 or 1.
int onTerminal = -1;

// The operation being watched.
bool active = false;
const char *watchedName = nullptr;
Clock::time_point startedAt;
Clock::time_point drawnAt;
bool drawn = false;

// The line being drawn; used by progressUpdate alone.
char line[STATUS_MAX + 1];

int64_t millisecondsSince(Clock::time_point then, Clock::time_point now) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(now - then).count();
}

// A byte count for people: "512 B", "12.3 KiB", "1.0 GiB".
void putBytes(char *out, size_t size, double bytes) {
  static const char *const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  if (bytes < 1024) {
    std::snprintf(out, size, "%.0f B", bytes);
    return;
  }
  int unit = 0;
  bytes /= 1024;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  std::snprintf(out, size, "%.1f %s", bytes, units[unit]);
}

// A duration in whole seconds as m:ss, or h:mm:ss from an hour on.
void putDuration(char *out, size_t size, uint64_t seconds) {
  if (seconds >= 3600)
    std::snprintf(out, size, "%llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  else
    std::snprintf(out, size, "%u:%02u", static_cast<unsigned>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
}

// Where the last `room` bytes of `name` begin, moved forward to the start of a character: a
// two-byte character of the code page, or (in UTF-8) a sequence, is never cut.
const char *tailStart(const char *name, size_t length, size_t room) {
  const char *p = name;
  while (static_cast<size_t>(name + length - p) > room)
    p = nextChar(p);
  // In UTF-8 a byte 10xxxxxx continues a sequence; with a two-byte code page such a byte that is
  // no lead byte is a character of its own, and skipping it only shortens the name by one.
  while ((static_cast<unsigned char>(*p) & 0xC0) == 0x80 &&
         !isLeadByte(static_cast<unsigned char>(*p)))
    ++p;
  return p;
}

} // namespace

size_t formatProgress(char *out, int columns, const char *name, uint64_t done, uint64_t total,
                      int64_t elapsedMs) {
  // One column is left free, so that the line never makes the terminal wrap.
  size_t width = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
  if (width > STATUS_MAX)
    width = STATUS_MAX;
  unsigned percent = total == 0 || done >= total ? 100 : static_cast<unsigned>(done * 100 / total);
  double rate =
      elapsedMs > 0 ? static_cast<double>(done) * 1000.0 / static_cast<double>(elapsedMs) : 0.0;
  char doneText[32], totalText[32], rateText[32], leftText[32];
  putBytes(doneText, sizeof doneText, static_cast<double>(done));
  putBytes(totalText, sizeof totalText, static_cast<double>(total));
  putBytes(rateText, sizeof rateText, rate);
  if (done >= total)
    putDuration(leftText, sizeof leftText, 0);
  else if (rate >= 1.0)
    putDuration(leftText, sizeof leftText,
                static_cast<uint64_t>(static_cast<double>(total - done) / rate + 0.5));
  else
    std::snprintf(leftText, sizeof leftText, "?");

  // The figures, in full when they leave room for a name, else the percent and the time left.
  char figures[160];
  int length = std::snprintf(figures, sizeof figures, "  %s of %s  %u%%  %s/s  %s left", doneText,
                             totalText, percent, rateText, leftText);
  size_t figuresLength = static_cast<size_t>(length);
  constexpr size_t LEAST_NAME = 12;
  if (figuresLength + LEAST_NAME > width) {
    length = std::snprintf(figures, sizeof figures, "  %u%%  %s left", percent, leftText);
    figuresLength = static_cast<size_t>(length);
  }
  if (figuresLength > width) { // a very narrow terminal: what fits of the figures
    size_t shown = figuresLength - 2 < width ? figuresLength - 2 : width;
    std::memcpy(out, figures + 2, shown);
    out[shown] = '\0';
    return shown;
  }

  size_t room = width - figuresLength;
  size_t nameLength = std::strlen(name);
  size_t at = 0;
  if (nameLength <= room) {
    std::memcpy(out, name, nameLength);
    at = nameLength;
  } else if (room > 3) {
    // The end of a path names the file: the beginning gives way.
    const char *tail = tailStart(name, nameLength, room - 3);
    std::memcpy(out, "...", 3);
    std::memcpy(out + 3, tail, static_cast<size_t>(name + nameLength - tail));
    at = 3 + static_cast<size_t>(name + nameLength - tail);
  }
  std::memcpy(out + at, figures, figuresLength);
  at += figuresLength;
  out[at] = '\0';
  return at;
}

bool progressWanted() {
  if (onTerminal < 0)
    onTerminal = statusColumns() > 0 ? 1 : 0;
  return onTerminal == 1;
}

void progressBegin(const char *name) {
  if (!progressWanted())
    return; // no terminal: no clock, and the layer copies the fastest way
  // An operation within one being watched (the verification of a copy before it is published)
  // takes its place: the line shown for the outer one goes.
  if (active && drawn) {
    DWORD saved = GetLastError();
    statusClear();
    SetLastError(saved);
  }
  active = true;
  drawn = false;
  watchedName = name;
  startedAt = Clock::now();
  setCopyProgress(progressUpdate);
}

void progressUpdate(uint64_t done, uint64_t total) {
  if (!active)
    return;
  Clock::time_point now = Clock::now();
  int64_t elapsed = millisecondsSince(startedAt, now);
  if (elapsed < SHOW_AFTER_MS || (drawn && millisecondsSince(drawnAt, now) < REDRAW_MS))
    return;
  int columns = statusColumns();
  if (columns <= 0)
    return;
  DWORD saved = GetLastError();
  size_t length = formatProgress(line, columns, watchedName, done, total, elapsed);
  statusShow(line, length);
  drawn = true;
  drawnAt = now;
  SetLastError(saved);
}

void progressEnd() {
  if (!active)
    return;
  active = false;
  setCopyProgress(nullptr);
  if (drawn) {
    DWORD saved = GetLastError();
    statusClear();
    SetLastError(saved);
  }
}
