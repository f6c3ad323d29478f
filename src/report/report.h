// Console reporting: error suffixes, item-line starts, detail timestamps and verbose blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "paths/winapi.h"

// Prints "%s\t:error(%d) " with the name and number, then the system's message text for the
// number, cleaned to printable text, and ends the line.
void reportError(const char *name, int32_t code);

// Reports text that would outgrow a path buffer as "<text> :path too long": the first
// `headLength` bytes of `head`, then `tail`, as far as a buffer holds them without splitting a
// two-byte character. Records the failure under `statusValue` and returns 0. With `itemLine`
// the message is the item line of the entry it belongs to (indented in verbose mode).
int reportTooLong(const char *head, size_t headLength, const char *tail, uint32_t statusValue,
                  bool itemLine);

// In move and delete modes hands the lines printed so far to standard output at once, so that a
// run killed midway leaves the line of every file it has moved or deleted; called after each
// completed item line. Copy and compare keep their buffering.
void flushAfterItem();

// Flushes standard output and tells whether everything written to it reached it. When not (a
// full device, no standard output at all), says so once on standard error.
bool finishStandardOutput();

// In verbose mode ends an open block-header line, prints the item indentation and returns true;
// otherwise prints nothing and returns false.
bool beginItemLine();

// Prints an entry's last-write time in local time: with TAB after the name column (the source
// half of the detail line), with newline ending the line. False after an error report.
bool printTimestamp(const FindEntry &entry, char separator);

// Opens a verbose block for one level of the walk (runState.depth already raised): the header
// with the mode word at the top level and the source and destination as received.
void openBlock(const char *source, const char *destination);

// Closes the current verbose block: on the header's own line when nothing followed it.
void closeBlock();

// Progress of one file's long operation (a copy, compare, verification or incremental update)
// on a terminal: when standard error is one and the operation has run for about a second, a
// status line shows the file's name (shortened to fit), the bytes done of the total, the percent,
// the rate and the time left, redrawn a few times a second and erased when the operation ends.
// Without a terminal nothing is drawn and nothing is slowed. The last error is left as it was.
//
// Starts watching an operation on `name` (the caller's text, unchanged until progressEnd). It
// also has the file-system layer report the progress of its copies (setCopyProgress). Started
// within another operation (a copy's verification before it is published), it takes that one's
// place; the progressEnd of the inner one ends both.
void progressBegin(const char *name);
// The bytes done so far of `total`; a CopyProgressFn.
void progressUpdate(uint64_t done, uint64_t total);
// Ends the operation: erases the status line if one is shown.
void progressEnd();
// Whether progress lines are drawn at all (standard error is a terminal): work done elsewhere
// for an operation the caller may come to watch reports its bytes only then.
bool progressWanted();

// The status line for `done` of `total` bytes after `elapsedMs` milliseconds, fitted into
// `columns` columns, in `out` (STATUS_MAX + 1 bytes); returns its length.
size_t formatProgress(char *out, int columns, const char *name, uint64_t done, uint64_t total,
                      int64_t elapsedMs);
