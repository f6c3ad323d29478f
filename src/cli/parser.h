// The parser's pieces, shared with the run driver and the unit tests only.
#pragma once

#include <cstddef>

#include "cli/cli.h"

// The first `/` of `text` (never a trail byte), or its terminator.
const char *skipToSlash(const char *text);

// Copies one path piece from `text` into `out`, which has `room` bytes including the
// terminator, up to `end` (when given), a `/` or the terminator. Returns the bytes copied.
// A forbidden character ends the copy with a syntax error (counted, and kept in `out`); text
// that does not fit is refused whole with "path too long", `out` emptied and -1 returned.
// Either failure sets ST_SYNTAX in the run state.
int scanPathArg(char *out, size_t room, const char *text, const char *end = nullptr);

// Appends one item and its TAB to the TabList `list`; returns the scanPathArg count plus one for
// the TAB, or the count unchanged when it is 0 or less (nothing added).
int appendListItem(char *list, const char *text, const char *end = nullptr);

// Adds the bracketed masks of one piece to `exclusions`; true when a group is left open.
bool scanBracketGroup(const char *piece, char *exclusions);

// One option run, from the `/` that begins `piece` to the end of its argument. Returns where
// the run ended: the terminator, or the character that failed it.
const char *parseOptionArg(const char *piece);

// Resolves a wildcard in the source's last directory component to the first matching directory
// (in the last component only when it matches directories alone) and gives a destination whose
// last component begins with `*` that directory's name. Both are PathBufs, rewritten in place.
void resolveWildDirs(char *sourcePath, char *destPath);

// Whether a mask or list line names something below its source: it does not start from a root
// or drive, and no component of it is "..".
bool staysBelowSource(const char *item);
