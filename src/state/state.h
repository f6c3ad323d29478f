// The run-wide state: the one record every subsystem reads and writes, the status values that
// make up the exit code, the selection bits, the settled mode, and the stop rule. It sits below
// every other subsystem and includes nothing of the program's own.
#pragma once

#include <cstdint>

// Status values, OR-ed into RunState::status; the low byte is the exit code.
constexpr uint32_t ST_COPY_FAILED = 0x01;
constexpr uint32_t ST_DELETE_FAILED = 0x02;
constexpr uint32_t ST_MOVE_FAILED = 0x03;
constexpr uint32_t ST_MKDIR_FAILED = 0x04;
constexpr uint32_t ST_RMDIR_FAILED = 0x06;
constexpr uint32_t ST_COMPARE_FAILED = 0x08;
constexpr uint32_t ST_VERIFY_FAILED = 0x09;
// Standard output could not be written (the listing is incomplete); the work itself is done.
// A bit of its own: alone, or with a file failure or a missing source, it matches no other
// value.
constexpr uint32_t ST_OUTPUT_FAILED = 0x40;
constexpr uint32_t ST_SYNTAX = 0x80;
constexpr uint32_t ST_BAD_OPTION = 0x90;
constexpr uint32_t ST_NOT_FOUND = 0xA0;
constexpr uint32_t ST_LIST_NOT_FOUND = 0xB0; // returned directly, never stored
constexpr uint32_t ST_DEST_NOT_DIR = 0xD0;
constexpr uint32_t ST_SAME_PATH = 0xF0;
constexpr int EXIT_CONFLICT = 0x90; // returned directly, never stored

// Relations that select an existing pair (and SEL_ABSENT for a missing destination).
constexpr uint32_t SEL_ABSENT = 0x01;
constexpr uint32_t SEL_NEWER = 0x02;
constexpr uint32_t SEL_OLDER = 0x04;
constexpr uint32_t SEL_LARGER = 0x08;
constexpr uint32_t SEL_SMALLER = 0x10;
constexpr uint32_t SEL_ATTR_DIFF = 0x20;
constexpr uint32_t SEL_SAME = 0x40;
constexpr uint32_t SEL_DEFAULT = 0x7F;

constexpr int64_t TICKS_PER_SECOND = 10000000;
constexpr int64_t DEFAULT_TIME_TOLERANCE = 2 * TICKS_PER_SECOND;

// What a run does with each selected file. The driver settles it once from /m, /c and /del;
// echo (/e) is not a mode of its own but lists what the mode would do, so it stays a flag.
enum RunMode : uint8_t { MODE_COPY, MODE_MOVE, MODE_DELETE, MODE_COMPARE };

// Everything that differs between the modes outside the one place that acts on a file.
struct ModeTraits {
  const char *word;       // the mode word of the top verbose header
  const char *verb;       // the summary's verb
  const char *arrow;      // between source and destination in verbose headers and item lines
  uint32_t failStatus;    // the status value of a failed file action
  bool makesDestDirs;     // missing destination directories are made
  bool removesSourceDirs; // source directories that the walk has emptied are removed
  bool needsDestination;  // an empty destination means the current directory (not in delete)
};

// The one process-wide record. The parser sets the options, the driver settles selectMask and
// mode, the walk and the actions update the counters and status.
struct RunState {
  bool archiveOnly;     // /a: only files with the archive bit
  bool backupMode;      // /b: like /a, and clear the archive bit after a copy or equal compare
  bool compareMode;     // /c: as written; the driver settles `mode` from it
  bool deleteMode;      // /del: as written; the driver settles `mode` from it
  bool echoOnly;        // /e: list, change nothing
  bool incremental;     // /i: try an append-only copy first
  bool moveMode;        // /m: as written; the driver settles `mode` from it
  bool noOverwrite;     // /n: never overwrite an existing destination
  bool overwriteOnly;   // /o: only where the destination exists
  bool recurse;         // /s: descend into subdirectories
  bool updateOnly;      // /u: absent or newer files only
  bool verifyCopy;      // /v: compare each copy with its source
  bool includeHidden;   // /x: hidden and system files too; retry after access denied
  bool showHelp;        // /?, /h, /he, /hel, /help
  bool continueOnError; // /+c
  bool reversePaths;    // /+r
  bool verbose;         // /+v
  bool detailTime;      // /+d

  int32_t headerSizeKB;  // /+h<n>; 0 when not given, else at least 1
  int64_t timeTolerance; // /+t<sec> in 100-ns ticks; 2 seconds by default
  uint32_t selectMask;   // /+e /+n /+o /+L /+s /+a /+m; settled by the driver
  RunMode mode;          // settled by the driver from /m, /c and /del; copy by default
  // Set by the driver for the walk of a source whose plain file name (no extension, no
  // wildcard) it gave a final dot, so that the name is a mask carried down by /s: the walk
  // searches for the name without that dot, which is never the user's (on POSIX, readme and
  // readme. can be two files).
  bool sourceDotAdded;

  int32_t depth;          // nesting level of the walk (1 at the top)
  int32_t fileCount;      // files considered
  int32_t dirCount;       // subdirectories walked
  int32_t unmatchedCount; // compare or verify differences
  int32_t errorCount;     // counted failures; drives shouldStop

  uint32_t status;          // OR of the status values met
  bool samePathRefused;     // a same-path refusal happened (status alone cannot tell: 0xA0|0xD0)
  bool lineOpen;            // a verbose block header's line is still open
  char mismatchDetail[100]; // position and bytes of the last content difference
  // Under /e, the last destination directory listed as made (a path text of at most 520 bytes
  // with its terminator, as a PathBuf): nothing is made, but it and the directories above it
  // count as existing from then on, so that the walk lists each directory it would make once.
  char echoMadeDir[520];
};

extern RunState runState;

// What the run has written into its destinations, so that a later file of the same run never
// replaces it (two list lines or masks whose files have one name; two names that differ in
// letter case, copied to a destination that folds case). Each remembered file is the identity of
// the destination file written or moved in (volume and index: device and inode, or volume serial
// number and file index) with that of the source file it came from. The table is fixed: at most
// WRITTEN_MOST files, in WRITTEN_SLOTS slots (a free slot is all zero; no file has that identity).
// Past its bound the run remembers when it ran out of room (`fullSince`, a change time): every
// destination changed since then may be one it wrote and forgot.
struct WrittenFile {
  uint64_t destVolume, destIndex;
  uint64_t sourceVolume, sourceIndex;
};
constexpr int32_t WRITTEN_SLOTS = 8192; // a power of two
constexpr int32_t WRITTEN_MOST = WRITTEN_SLOTS / 4 * 3;
struct WrittenFiles {
  WrittenFile slots[WRITTEN_SLOTS];
  int32_t count;     // slots in use
  bool full;         // a file was written that could not be remembered
  int64_t fullSince; // while full: a time not later than the change time of any such file
};
extern WrittenFiles writtenFiles;

// Remembers that the destination file `file.dest...` now holds what came from the source file
// `file.source...` (replacing what was remembered of that destination). False, nothing
// remembered, when there is no room left.
bool rememberWritten(const WrittenFile &file);
// The remembered file of a destination identity, or nullptr.
const WrittenFile *findWritten(uint64_t destVolume, uint64_t destIndex);

// Puts every field back to its start value (all zero, the default time tolerance), and forgets
// what the run has written.
void resetRunState();

// The traits of the settled mode.
const ModeTraits &modeTraits();

// True once an error has been counted and /+c was not given.
bool shouldStop();

// Records one failure: OR `statusValue` into status, count the error. Returns 0, the result of
// a failed action, so that workers can `return recordFailure(ST_COPY_FAILED);`. Recording
// ST_SAME_PATH also marks the run as one that met a same-path refusal.
int recordFailure(uint32_t statusValue);

// The walker's same-path refusal of a whole walk: ORs ST_SAME_PATH and marks the run, without
// counting an error.
void noteSamePath();
