// Work done ahead of the walk by worker threads (private to the walk).
//
// The walk stays the one place that decides and changes what anyone can see: output, counters
// and status, and every change of the trees. Workers only prepare what nobody can see yet, for
// files the walk has listed but not reached: the lookup of each file's destination namesake and,
// where the action will need it and the file is small, the comparison of a pair (compare mode),
// or the copy into an unpublished temporary file (a plain copy; the durable copy of a move over
// a namesake or, across volumes, to a new name; under /v checked before it is kept).
// Incremental copies, deletes and moves by rename get the lookups alone. The walk takes the
// prepared items in its own order and commits them as it would have done the work itself; an
// item it does not reach (the run stops) is dropped.
//
// Bounded: a fixed ring of AHEAD_SLOTS items with their own path buffers, and at most
// AHEAD_MOST_WORKERS workers, started for one walk and ended with it. With one worker asked for,
// nothing starts and the walk does every step itself.
#pragma once

#include <atomic>
#include <cstdint>

#include "actions/actions.h"
#include "paths/lookup.h"
#include "paths/pathtext.h"
#include "paths/winapi.h"

constexpr int AHEAD_SLOTS = 64;
constexpr int AHEAD_MOST_WORKERS = 64;

// What a slot holds.
enum AheadKind : uint8_t {
  AHEAD_ENTRY,  // a listed entry the walk handles itself (a directory, a skipped name)
  AHEAD_FILE,   // a file whose namesake (and more) is prepared
  AHEAD_BROKEN, // the listing broke off here: `error` says why
};

// One listed entry, in listing order.
struct AheadSlot {
  AheadKind kind;
  std::atomic<int> state; // AheadState (see ahead.cpp)
  FindEntry entry;        // the listed entry
  DWORD error;            // AHEAD_BROKEN: the listing's error
  // AHEAD_FILE: set by the walk before a worker takes it.
  PathBuf source;      // the file's full path
  PathBuf destination; // its namesake's full path
  bool lookUp;         // false: the destination directory was made just now, nothing is in it
  const LookupDir *lookupDir; // the level's destination directory
  const char *name;           // the namesake's name in it (inside `destination`)
  bool attributesNeeded;      // the lookup reads the stored attribute bits whatever the pair
  bool acrossVolumes;         // a move to a new name would have to copy (a guess)
  // AHEAD_FILE: prepared by the worker.
  int namesake; // 1 found, 0 absent, -1 the lookup failed (`lookupError`)
  DWORD lookupError;
  FindEntry found;                   // the namesake, when found
  PreparedWork work;                 // what the actions may take
  int64_t took;                      // microseconds the preparation took
  std::atomic<uint64_t> copiedBytes; // what the worker has copied or compared (progress lines)
};

// Looks up the namesake `name` of the listed `entry` in `dir` into `out` (its stored attribute
// bits too where `attributesNeeded`, or where the pair's selection turns on them): 1 found, 0
// absent, -1 the lookup failed (last error set). Safe on any thread.
int lookUpNamesakeOf(const FindEntry &entry, const LookupDir &dir, const char *name,
                     bool attributesNeeded, FindEntry *out);

// The number of workers the run asked for (TREECOPY_WORKERS, else the default): 1 means none.
int aheadWorkers();

// Whether the walk should work ahead from here: always when the user set the number of workers
// (above 1); by default once files take long (see noteFileCost), as on a share, and not while
// they are quick, where handing each file to another thread would cost more than it saves.
bool aheadWanted();
// Notes what one file cost, in microseconds: the walk's own handling of it, or its preparation.
void noteFileCost(int64_t micros);
// Microseconds on a steady clock.
int64_t aheadMicros();

// Starts the workers (once per walk; nothing with one worker); aheadEnd waits for them to end.
void aheadBegin();
void aheadEnd();

// The ring, as the walk sees it: slots are taken in order, filled, handed to the workers
// (aheadSubmit), waited for in the same order (aheadAwait) and given back (aheadRelease).
// aheadFree says how many slots the walk may still fill.
int aheadFree();
AheadSlot &aheadNext();  // the next slot to fill
void aheadSubmit();      // hands the slot last given by aheadNext on
bool aheadPending();     // whether a submitted slot waits to be committed
AheadSlot &aheadAwait(); // the oldest submitted slot, once prepared (with its progress line)
void aheadRelease();     // gives that slot back
