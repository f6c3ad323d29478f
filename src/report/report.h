// Console reporting: error suffixes, item-line starts, detail timestamps and verbose blocks.
#pragma once

#include <cstdint>

#include "paths/paths.h"

// Prints "%s\t:error(%d) " with the name and number, then the system's message text for the
// number, cleaned to printable text, and ends the line.
void reportError(const char *name, int32_t code);

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
