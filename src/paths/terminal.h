// What each backend gives the status line (status.cpp): private to the paths subsystem.
#pragma once

#include <cstddef>

// Writes all of `length` bytes to standard error as they are; a failure only loses the line.
void terminalWrite(const char *data, size_t length);
// Called before the first row of a status line is drawn: when standard output writes to the
// same terminal, moves to a row of its own below standard output's open line and returns true.
bool terminalGoBelow();
// Puts the cursor back at the end of standard output's open line (after terminalGoBelow).
void terminalComeBack();
