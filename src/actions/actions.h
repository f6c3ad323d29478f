// File actions: selection rules, copy, move, delete, compare, verify and incremental copy.
#pragma once

#include <cstdint>

#include "paths/files.h"
#include "paths/winapi.h"

// Selection rules for an existing pair (source first, destination second).
int64_t lastWriteTicks(const FindEntry &entry);
int64_t fileSize64(const FindEntry &entry);
bool isNewer(const FindEntry &a, const FindEntry &b);
bool isOlder(const FindEntry &a, const FindEntry &b);
bool isLarger(const FindEntry &a, const FindEntry &b);
bool isSmaller(const FindEntry &a, const FindEntry &b);
bool sameAttributes(const FindEntry &a, const FindEntry &b);
bool sameAll(const FindEntry &a, const FindEntry &b);
bool sameSizeAndTime(const FindEntry &a, const FindEntry &b);
// Whether isSelected can turn on the destination's attribute word for this pair: a namesake
// looked up without its stored attribute bits must be looked up again with them first.
bool selectionNeedsAttributes(const FindEntry &source, const FindEntry &destination);
bool isSelected(const FindEntry &source, const FindEntry &destination);
// The choice of isSelected alone, printing nothing (for work done ahead on another thread).
bool selects(const FindEntry &source, const FindEntry &destination);
// Whether /a or /b passes the file over: it lacks the archive bit.
bool filteredByArchive(DWORD attributes);
// Under /b, clears the source's archive bit after a good copy or an equal compare; false with
// the last error when it cannot.
bool clearArchiveAfterBackup(const char *sourcePath, DWORD attributes);

// Dispatchers for one accepted source file and its destination path. Results: 1 acted on (or
// listed under /e), 0 skipped or failed.
int handleAbsent(const char *sourcePath, const char *destPath, DWORD attributes);
int handleExisting(const char *sourcePath, const char *destPath, DWORD attributes,
                   const FindEntry &sourceEntry, const FindEntry &destEntry);

// The actions. Entries are null when the destination does not exist.
int copyOne(const char *sourcePath, const char *destPath, DWORD attributes,
            const FindEntry *sourceEntry, const FindEntry *destEntry);
int moveOne(const char *sourcePath, const char *destPath, DWORD attributes,
            const FindEntry *sourceEntry, const FindEntry *destEntry);
int deleteOne(const char *path, DWORD attributes);
int compareOne(const char *sourcePath, const char *destPath, DWORD attributes,
               const FindEntry &sourceEntry, const FindEntry &destEntry);

// What a comparison of two files' contents found: equal; a byte that differs (mismatchDetail
// says where); the first file longer or shorter, equal as far as the shorter goes; or a
// failure, the last error saying why.
enum ContentResult : int {
  CONTENT_FAILED = 0,
  CONTENT_EQUAL = 1,
  CONTENT_MISMATCH = -1,
  CONTENT_LONGER = -2,
  CONTENT_SHORTER = -3,
};
// Compares two files to their ends (the size listed for the first, then whatever follows): a
// ContentResult. Under /x a file refused for access is opened once more with its protection
// cleared, which it gets back at once.
int compareContents(const char *firstPath, const char *secondPath, const FindEntry &firstEntry);
// A comparison made ahead of the walk (see compareAhead): its ContentResult, the last error of a
// failure, and where the first difference lies.
struct ComparedAhead {
  int result;
  DWORD error;
  char detail[100];
};
// compareContents for a worker thread: with the caller's buffers (`bufferBytes` for both files
// together), the first difference written to `out`, and no progress line: the bytes compared
// so far go to `progress` where it is not null.
void compareAhead(const char *firstPath, const char *secondPath, const FindEntry &firstEntry,
                  ComparedAhead *out, unsigned char *buffers, unsigned bufferBytes,
                  CopyProgressFn progress);
// Whether compare mode would read the contents of this pair (its namesake found): the pair is
// selected and neither the listing nor /a, /b or /e settles it. A guess for work done ahead: the
// action decides again when it runs.
bool compareWouldRead(const FindEntry &sourceEntry, const FindEntry &destEntry);

// What was prepared ahead for the file that the walk hands to the actions next. An action takes
// what matches its own pair (the same source and destination paths) in place of doing that work
// again; whatever it does not take stays with the walk, which discards it.
struct PreparedWork {
  const char *sourcePath;
  const char *destPath;
  bool compared; // `compare` holds the pair's comparison
  ComparedAhead compare;
  bool copied; // `copy` holds the file's copy, complete and not yet published
  PreparedCopy copy;
};
// Offers `work` to the actions until the next call (nullptr: nothing is offered). What they do
// not take stays with the caller: a copy left in `work` is the caller's to discard.
void offerPrepared(PreparedWork *work);
// What is offered for the pair, or nullptr.
PreparedWork *offeredFor(const char *sourcePath, const char *destPath);
// Whether the action for this file would copy it whole into a new temporary file (`destEntry`
// null when it has no namesake): -1 not, else the flags of that copy: into a destination that is
// to be new (COPY_FAIL_IF_EXISTS), over its namesake (0), or the durable copy of a move
// (COPY_DURABLE: over its namesake, or, with COPY_FAIL_IF_EXISTS, to a new name where
// `acrossVolumes` says the move is likely to have to copy). A guess for work done ahead: the action
// decides again when it runs.
int copyAheadFlags(const FindEntry &sourceEntry, const FindEntry *destEntry, bool acrossVolumes);

// Checks the copy open as `copy` (`copySize` bytes) against its source, looked up again: a
// ContentResult. Prints nothing.
int checkCopy(const char *sourcePath, int copy, int64_t copySize);
// The check of a copy a worker makes ahead under /v (a CopyCheckFn whose context is an
// AheadCheck): true only when the copy equals its source. Nothing is changed and nothing shown;
// a copy it refuses is not kept, and the walk makes and checks that one again itself.
struct AheadCheck {
  const char *sourcePath;
  unsigned char *buffers; // the worker's, `bufferBytes` for both files together
  unsigned bufferBytes;
  char detail[100];
};
bool checkCopyAhead(void *context, int copy, int64_t size);
// Reports a check's result on the item line: nothing for an equal copy (1); a difference's tail
// (-1) or the error (0), each a counted failure (ST_VERIFY_FAILED).
int reportVerification(int result);
// Checks a published copy against its source: 1 the copy matches, -1 it differs, 0 the check
// failed; reports and records itself.
int verifyOne(const char *sourcePath, const char *destPath, DWORD attributes);
// 1 brought up to date, -1 declined (nothing changed), 0 failed (last error says why).
int incrementalCopy(const char *sourcePath, const char *destPath, DWORD attributes,
                    const FindEntry *sourceEntry, const FindEntry *destEntry);
