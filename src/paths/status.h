// The status line: one line of text on standard error while standard error is a terminal, for
// people watching a long operation. Standard output is never touched (only flushed).
#pragma once

#include <cstddef>

// The width of the terminal that standard error writes to, in columns; 0 when standard error is
// not a terminal (or one that understands no cursor control). Read again on every call.
int statusColumns();
// The longest status line, in bytes.
constexpr size_t STATUS_MAX = 512;
// Draws the status line, or draws it anew: `text` (`length` bytes, at most STATUS_MAX and
// narrower than the terminal) replaces what the line showed. The first call flushes standard
// output; when that goes to the same terminal, the line is drawn on the row below the place where
// standard output stands.
void statusShow(const char *text, size_t length);
// Erases the status line and puts the cursor back where standard output left it. Nothing when
// no line is shown.
void statusClear();
