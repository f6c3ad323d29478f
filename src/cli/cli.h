// The command line and the run: the parser, the usage text and the run driver, the top of the
// program. The run state they fill lives in state/state.h.
#pragma once

#include <cstdint>

#include "paths/pathtext.h"
#include "state/state.h"

// The five text buffers that the parser fills and the driver works from.
struct CommandLine {
  PathBuf sourcePath;
  PathBuf destPath;
  TabList masks;
  TabList exclusions;
  PathBuf listFileName;
};

// Parses the argument vector into runState and `out` (all empty at start). Stops at the first
// argument piece that leaves runState.status non-zero.
void parseCommandLine(int argc, char **argv, CommandLine &out);

// Prints the usage text with the program's name taken from `programPath`.
void printUsage(const char *programPath);

// The whole run: parse, settle, walk, summary. Returns the exit status.
int runTreecopy(int argc, char **argv);
