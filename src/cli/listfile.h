// The reading of a list file, shared by the run driver and its tests only.
#pragma once

#include <cstddef>

#include "paths/runtime.h"

// What was wrong with a line that readListLine read.
enum ListLineFault {
  LINE_FITS,      // nothing: the line is a path (or empty)
  LINE_TOO_LONG,  // its text does not fit the room
  LINE_HOLDS_NUL, // its text holds a NUL byte, which no path can hold
};

// Reads the next line of a list file into `line`, which has `room` bytes (at least 1) for the
// text and its terminator, and turns it into a path: the line feed goes; a line that begins
// with a double quote keeps only the text up to the closing quote (or the line's end), the rest
// being a remark; a `/` is a separator like `\` and becomes one. A trail byte of a two-byte
// character is never taken for a quote or a `/`. With `first` (the file's first line), a UTF-8
// byte-order mark before the line, as Notepad writes one, is no part of it. A line is always
// read to its line feed, so that the next call reads the next line; `fault` says what was
// wrong with it: a line whose text does not fit holds the text as far as it fits without
// splitting a two-byte character, and one whose text holds a NUL byte holds the text before it.
// False at the end of the file, when no line is left.
bool readListLine(ListFile *file, char *line, size_t room, bool first, ListLineFault *fault);
