// The tree walk: entry classification, the walker, destination and source directory upkeep.
#pragma once

#include <cstdint>

#include "paths/winapi.h"

// Results of classifyEntry.
constexpr int ENTRY_MATCHED = 2;
constexpr int ENTRY_NAMED = 1;
constexpr int ENTRY_EXCLUDED = 0;
constexpr int ENTRY_HIDDEN = -1;
constexpr int ENTRY_VOLUME = -2;
constexpr int ENTRY_DOTS = -3;
// The entry was accepted but its full path does not fit the buffer: the name is not written.
constexpr int ENTRY_TOO_LONG = -4;
// The entry would be accepted but the path syntax cannot spell its name: it holds `\` (a POSIX
// name may), or on Windows it is made of dots (a share may hold such a name), which Windows
// would drop. It is never acted on, paired or descended. The name is written when it fits.
constexpr int ENTRY_BAD_NAME = -5;

// Accepts or rejects one listed entry; an accepted entry's long name is written at `nameSlot`
// (a position inside the PathBuf `pattern`), making the pattern the entry's full path.
int classifyEntry(const FindEntry &entry, char *pattern, char *nameSlot, const char *exclusions);
bool matchesExclusion(char *name, const char *mask, DWORD attributes);

// Walks one source (directory, mask or name) into one destination; returns the number of files
// acted on. `destination` is the caller's PathBuf: an empty one receives ".\" outside delete mode.
int walkTree(const char *source, char *destination, DWORD attributes, const char *exclusions);
char *splitSourceSpec(char *sourcePattern, char *maskOut);
char *prepareDestSpec(char *destPattern, const char *mask, bool &sameNameOut);

// Destination and source directory upkeep.
bool prepareDestination(const char *path, DWORD attributes);
bool makeDir(const char *path, DWORD attributes);
int countEntries(const char *directory);
bool removeSourceDir(const char *path);
