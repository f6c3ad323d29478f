// The reading of a list file, shared by the run driver and its tests only.
#pragma once

#include <cstddef>

#include "paths/paths.h"

// Reads the next line of a list file into `line`, which has `room` bytes (at least 1) for the
// text and its terminator, and turns it into a path: the line feed goes; a line that begins
// with a double quote keeps only the text up to the closing quote (or the line's end), the rest
// being a remark; a `/` is a separator like `\` and becomes one. A trail byte of a two-byte
// character is never taken for a quote or a `/`. A line whose text does not fit sets `tooLong`:
// `line` then holds the text as far as it fits without splitting a two-byte character, and the
// rest of the line, up to its line feed, has been read and dropped, so that the next call reads
// the next line. False at the end of the file, when no line is left.
bool readListLine(ListFile *file, char *line, size_t room, bool *tooLong);
