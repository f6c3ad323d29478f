// The program's own extensions of the file layer: the mark of an update in place, the identity
// and stamp of a file, the atomic copy (in one step, or prepared and then published or
// discarded) with its progress and check, the durable copy and move, and identity comparisons.
#pragma once

#include <cstddef>
#include <cstdint>

#include "paths/winapi.h"

// The mark of an update in place (an incremental copy) while it runs: the size and last-write
// time the file had before it, kept on the file until the update is complete, so that an update
// ended midway (a kill, a power cut) is found by a later run and done again from where the old
// file ended. Where the file system keeps no such mark (no extended attributes; Windows),
// nothing is kept and nothing fails. markUpdate is given the file open for the update; false
// with the last error set when the mark cannot be made. clearUpdateMark removes it: true when
// the file holds no mark afterwards (or none can be kept there), false with the last error set.
bool markUpdate(int fd, int64_t oldSize, int64_t oldWriteTicks);
bool clearUpdateMark(const char *path);
// True, with the size and last-write time the file had before, when `path` holds the mark of
// an update that did not end.
bool readUpdateMark(const char *path, int64_t *oldSize, int64_t *oldWriteTicks);

// The identity of a file or directory: device and inode on POSIX, volume serial number and file
// index on Windows. Two paths name one file exactly when their identities are equal.
struct FileIdentity {
  uint64_t volume;
  uint64_t index;
};
inline bool operator==(const FileIdentity &a, const FileIdentity &b) {
  return a.volume == b.volume && a.index == b.index;
}

// What a copy read of its source, taken from the very file it read (the open source, not a
// second look by name): its identity, size, last-write time and change time (the time of its last
// change of any kind: data, attributes or names; on POSIX the status change time). A move removes
// its source only while the source still has exactly this stamp.
struct FileStamp {
  FileIdentity identity;
  uint64_t size;
  int64_t writeTicks;
  int64_t changeTicks;
};
inline bool operator==(const FileStamp &a, const FileStamp &b) {
  return a.identity == b.identity && a.size == b.size && a.writeTicks == b.writeTicks &&
         a.changeTicks == b.changeTicks;
}
// What a copy did: the source as it read it, and the identity of the file it made (the
// destination once published).
struct CopyRecord {
  FileStamp source;
  FileIdentity copy;
};
// Reads the stamp of what `path` names, a link itself where the system has links that a move
// takes as themselves (one system call on POSIX). False with
// the last error set when it cannot be examined (2 or 3 when it is not there).
bool readStamp(const char *path, FileStamp *stamp);
// A time, in ticks, not later than the change time the file system gives any change made after
// this call.
int64_t changeTimeFloor();

// The copy of one file, CopyFileA's contract on both platforms: refused with 80 when the
// destination exists and `failIfExists` is set, with 32 when both name one file, with 5 when the
// source is a directory or the destination is a directory, read-only, or hidden or system while
// the source is not. The copy carries the source's last-write time and its read-only, hidden and
// system attributes (with archive set). It is published atomically: the data go into a hidden
// temporary file in the destination's directory, which replaces the destination in one rename
// only when complete, so a failed or killed copy never leaves a partial destination. False with
// the last error set. With `record`, a copy that succeeds fills it in.
BOOL fsCopyFile(const char *source, const char *destination, BOOL failIfExists,
                CopyRecord *record = nullptr);

// The copy in two steps, for callers that prepare many copies and publish them in their own
// order. prepareCopy opens the source, copies its data (exactly the size read then) into a new
// temporary file beside the destination that no one sees yet, carries the metadata and runs the
// copy check; false with the last error set, and nothing left, when any of it fails. An existing
// destination that a large source may not replace is refused already here (with 80 under
// COPY_FAIL_IF_EXISTS). publishCopy then gives the copy the destination's name (with
// `failIfExists`, only where no file has it: else 80), or replaces the destination where the
// refusals of fsCopyFile allow; discardCopy drops it. Every prepared copy ends in exactly one
// of the two, whatever they answer; neither allocates. Copies of different files may run on
// several threads at once.
constexpr size_t COPY_PATH_BYTES = 4096;
constexpr unsigned COPY_FAIL_IF_EXISTS = 1; // the destination is to be new
constexpr unsigned COPY_DURABLE = 2; // data and name reach the disk before publishCopy returns
struct PreparedCopy {
  CopyRecord record; // the source as read, and the identity of the new file
  bool published;    // the destination holds the copy
  // The layer's own.
  intptr_t temp;  // the temporary, while it is open
  intptr_t guard; // what holds its lock (POSIX)
  int slot;       // its slot in the table of names in flight, -1 none
  unsigned flags;
  bool examined;                // the destination was examined before the copy
  DWORD sourceAttributes;       // as the refusals compare them
  char source[COPY_PATH_BYTES]; // system paths
  char destination[COPY_PATH_BYTES];
  char tempName[COPY_PATH_BYTES]; // empty while the temporary is anonymous
};
bool prepareCopy(const char *source, const char *destination, PreparedCopy *copy,
                 unsigned flags = 0);
bool publishCopy(PreparedCopy *copy, BOOL failIfExists);
void discardCopy(PreparedCopy *copy);
// While on, the descriptors that only held the lock of a published copy's temporary name are not
// closed by the publishing call but by closeDeferredFiles (on any thread): on a share every close
// is a request. Turning it off closes what is left. (POSIX; nothing on Windows.)
void deferLockCloses(bool on);
// Closes the descriptors deferred so far; false when there were none.
bool closeDeferredFiles();

// Receives the progress of the data copy of fsCopyFile: the bytes done and the total (the size
// seen at the start), after each piece of a bounded size. While one is set, copies go in such
// pieces; without one the layer copies the fastest way it knows, in as few calls as it can.
typedef void (*CopyProgressFn)(uint64_t done, uint64_t total);
// Each thread has its own receiver, for the copies it makes.
void setCopyProgress(CopyProgressFn receiver); // nullptr: none

// Receives the complete data of each copy before they are published, while one is set: the
// copies of fsCopyFile and copyFileDurably, and the copy of a move to another file system or
// volume (moveFileDurably). `copy` is a descriptor (for fsRead; the layer closes it) opened
// afresh on the new data as the file system now holds them, `size` their size as it now reports
// it. False refuses the copy: nothing is published, the destination (and a moved source) stay as
// they were, and the copy fails with the last error the check left.
typedef bool (*CopyCheckFn)(void *context, int copy, int64_t size);
// Each thread has its own check, for the copies it makes.
void setCopyCheck(CopyCheckFn check, void *context); // nullptr: none

// fsCopyFile(source, destination, FALSE) whose result is on the disk when it returns true: the
// copy's data and the directory entry naming it are flushed. A move that copies calls it before
// it deletes the source, so that a power cut never leaves neither. False with the last error
// when the copy or a flush fails (after a failed flush the destination may hold the new copy).
bool copyFileDurably(const char *source, const char *destination, CopyRecord *record = nullptr);
// MoveFileA (never replacing), whose copy, where the move has to copy (to another file system
// or volume), is on the disk before the source is removed. On POSIX such a move removes the
// source only while it is still the very file it copied, unchanged (else it fails with 32 and
// keeps both); a remove that answers an error although the source is gone completes the move,
// and the copy is taken back only while the source is there, unchanged. With `prepared`, a copy
// of the source made ahead (prepareCopy with COPY_DURABLE, by the caller's knowledge that the
// move is likely to cross file systems) is that copy when the move has to copy, and is
// discarded otherwise: the move is the same either way.
bool moveFileDurably(const char *source, const char *destination, PreparedCopy *prepared = nullptr);

// Whether two paths name one file (same device and inode; volume serial and file index on
// Windows): 1 the same file, 0 two files, -1 when either cannot be examined.
int sameFileIdentity(const char *first, const char *second);

// Reads the identity of what `path` names, links followed (one system call on POSIX). False with
// the last error set when it cannot be examined.
bool readIdentity(const char *path, FileIdentity *identity);

// Whether `path`, resolved through every link (symbolic link or junction) in its nearest
// existing ancestor, is the directory `dir` or lies inside it, each real ancestor compared by
// identity: 1 yes, 0 no, -1 when it cannot be told (`dir` cannot be examined, or the missing
// rest of `path` steps up with "..").
int isWithinDirectory(const char *path, const char *dir);
