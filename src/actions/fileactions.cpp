// The dispatchers for one source file and its destination, and the copy, move and delete
// actions with their console lines, the archive filter, echo mode and the retry under /x.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "actions/actions.h"
#include "paths/files.h"
#include "paths/lookup.h"
#include "paths/pathtext.h"
#include "paths/retry.h"
#include "paths/winapi.h"
#include "report/report.h"
#include "state/state.h"

namespace {

// Ends a failed action's line with the error suffix for the last error and records the failure.
int failAction(uint32_t statusValue) {
  reportError("", static_cast<int32_t>(GetLastError()));
  flushAfterItem();
  return recordFailure(statusValue);
}

// Ends a moved or deleted file's line and hands it to standard output before the next file is
// touched.
int endDestructiveItem() {
  printf("\n");
  flushAfterItem();
  return 1;
}

// The start shared by copy and move: the same-path refusal, the archive filter and the item
// line. 1 when the caller goes on, 0 when it gives 0 (already recorded where that is due).
int beginTransfer(const char *sourcePath, const char *destPath, DWORD attributes) {
  if (namesEqual(sourcePath, destPath))
    return recordFailure(ST_SAME_PATH);
  if (filteredByArchive(attributes))
    return 0;
  if (beginItemLine())
    printf("%s\t--> %s", sourcePath, destPath);
  else
    printf("%s", sourcePath);
  return 1;
}

// Remembers that the run has written the destination file `dest` from the source file
// `source` (see WrittenFiles).
void rememberCopy(const FileIdentity &dest, const FileIdentity &source) {
  rememberWritten(WrittenFile{dest.volume, dest.index, source.volume, source.index});
}

// Called before a file is written into the destination: when the run can remember no more,
// it notes from when on its writes are forgotten (see WrittenFiles).
void noteComingWrite() {
  if (!writtenFiles.full && writtenFiles.count >= WRITTEN_MOST) {
    writtenFiles.full = true;
    writtenFiles.fullSince = changeTimeFloor();
  }
}

// Whether the existing destination may be replaced by this source: never when the run has
// written it from another source file (a collision of two files that map to one destination,
// which would undo the first; in a move, destroy its only copy). The same source file reaching
// the same destination twice is no collision. Past the run's memory, every destination changed
// since the run stopped remembering counts as written by it. 0 when it may be replaced; else the
// error to fail with: 80, or the error of a look that could not tell.
DWORD writtenByAnotherSource(const char *sourcePath, const char *destPath) {
  if (writtenFiles.count == 0 && !writtenFiles.full)
    return 0; // nothing written yet
  FileStamp dest;
  if (!readStamp(destPath, &dest)) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
  }
  const WrittenFile *written = findWritten(dest.identity.volume, dest.identity.index);
  if (written == nullptr)
    return writtenFiles.full && dest.changeTicks >= writtenFiles.fullSince ? ERROR_FILE_EXISTS : 0;
  FileIdentity source;
  if (!readIdentity(sourcePath, &source))
    return GetLastError();
  return source.volume == written->sourceVolume && source.index == written->sourceIndex
             ? 0
             : ERROR_FILE_EXISTS;
}

// Fails the action when the existing destination is one the run has written from another
// source file (see writtenByAnotherSource): 1 when it may go on, else 0 (reported, recorded).
int refuseCollision(const char *sourcePath, const char *destPath, uint32_t statusValue) {
  DWORD refusal = writtenByAnotherSource(sourcePath, destPath);
  if (refusal == 0)
    return 1;
  SetLastError(refusal);
  return failAction(statusValue);
}

// How a copy treats its destination.
enum CopyKind {
  COPY_REPLACING, // over the existing namesake that the selection chose
  COPY_NEW_ONLY,  // the destination was looked up as absent: nothing may be replaced, not even a
                  // namesake that appeared meanwhile, since nothing chose it (error 80)
  COPY_FOR_MOVE,  // over the existing namesake, on the disk before the source is deleted
};

// What the walk offers for the file it hands over (see offerPrepared).
PreparedWork *offered = nullptr;

// The copy prepared ahead for the pair, published in place of a copy made now, where it was
// made for this kind of copy: true when it was taken, `*copied` then saying whether it is
// published (with the last error of a failure). A copy that failed ahead is made again now, so
// that the failure and what follows it (a second attempt under /x) are the action's own.
bool publishPrepared(CopyKind kind, const char *sourcePath, const char *destPath,
                     CopyRecord *record, bool *copied) {
  PreparedWork *work = offeredFor(sourcePath, destPath);
  if (work == nullptr || !work->copied ||
      ((work->copy.flags & COPY_FAIL_IF_EXISTS) != 0) != (kind == COPY_NEW_ONLY) ||
      ((work->copy.flags & COPY_DURABLE) != 0) != (kind == COPY_FOR_MOVE))
    return false;
  work->copied = false;
  *copied = publishCopy(&work->copy, kind == COPY_NEW_ONLY ? TRUE : FALSE);
  if (*copied)
    *record = work->copy.record;
  return true;
}

bool copyAs(CopyKind kind, const char *sourcePath, const char *destPath, CopyRecord *record) {
  bool copied = false;
  if (publishPrepared(kind, sourcePath, destPath, record, &copied))
    return copied;
  switch (kind) {
  case COPY_NEW_ONLY:
    return fsCopyFile(sourcePath, destPath, TRUE, record) != FALSE;
  case COPY_FOR_MOVE:
    return copyFileDurably(sourcePath, destPath, record);
  case COPY_REPLACING:
    break;
  }
  return fsCopyFile(sourcePath, destPath, FALSE, record) != FALSE;
}

// Copies the file to its destination, with one more attempt under /x after the destination
// refused with access denied; the second copy then gets the source's attribute word. False with
// the failing call's last error. A copy that was made is remembered as written by the run, and
// `record` says what it read.
bool copyOver(CopyKind kind, const char *sourcePath, const char *destPath, DWORD attributes,
              CopyRecord *record) {
  bool copied = copyAs(kind, sourcePath, destPath, record);
  if (!copied && retryWithProtectionCleared(
                     destPath, [&] { return copyAs(kind, sourcePath, destPath, record); })) {
    copied = true;
    if (!SetFileAttributesA(destPath, attributes)) {
      DWORD saved = GetLastError();
      rememberCopy(record->copy, record->source.identity);
      SetLastError(saved);
      return false;
    }
  }
  if (copied)
    rememberCopy(record->copy, record->source.identity);
  return copied;
}

// Removes one entry of the source: a file, or a link that a move or delete takes as itself (see
// the walk). A link to a directory carries the directory attribute and is removed as Windows
// removes one, by RemoveDirectoryA, which takes the link alone and never its target.
BOOL removeEntry(const char *path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return RemoveDirectoryA(path);
  return DeleteFileA(path);
}

// Deletes a file, with one more attempt under /x after access denied. When the second attempt
// fails the file gets its attribute word back; the error kept is the delete's.
bool deleteWithRetry(const char *path, DWORD attributes) {
  return removeEntry(path, attributes) ||
         retryWithProtectionCleared(path, [&] { return removeEntry(path, attributes); });
}

// After a failed delete of a move's source: whether the source is gone all the same (a share
// that removed it and lost its reply, or a remove asked again that found nothing). Then the move
// is complete. Otherwise the last error is the delete's again.
bool sourceGoneAfterFailure(const char *sourcePath) {
  DWORD saved = GetLastError();
  FileStamp now;
  if (!readStamp(sourcePath, &now)) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return true;
  }
  SetLastError(saved);
  return false;
}

// Renames a file, with one more attempt under /x after access denied; the moved file then gets
// the attribute word the source had. When the second rename fails, the source gets its
// protection back, as a failed second delete does; the error kept is the rename's.
bool renameWithRetry(const char *sourcePath, const char *destPath, DWORD attributes) {
  // The copy a worker made ahead, where the move is likely to cross file systems.
  PreparedWork *work = offeredFor(sourcePath, destPath);
  PreparedCopy *prepared = nullptr;
  if (work != nullptr && work->copied && (work->copy.flags & COPY_DURABLE) != 0 &&
      (work->copy.flags & COPY_FAIL_IF_EXISTS) != 0) {
    work->copied = false; // taken: the move uses it or discards it
    prepared = &work->copy;
  }
  if (moveFileDurably(sourcePath, destPath, prepared))
    return true;
  if (!retryWithProtectionCleared(sourcePath,
                                  [&] { return moveFileDurably(sourcePath, destPath); }))
    return false;
  return SetFileAttributesA(destPath, attributes) != 0;
}

// The verification of a copy before it is published (/v): the file-system layer hands the
// complete new data to checkBeforePublishing, and what it found is reported once the copy call
// has returned. A copy that differs from its source is never published.
struct Verification {
  const char *sourcePath = nullptr;
  bool checked = false;
  int result = CONTENT_EQUAL;
  DWORD error = 0;
};

// The layer's copy check under /v: true publishes the copy.
bool checkBeforePublishing(void *context, int copy, int64_t size) {
  Verification &verification = *static_cast<Verification *>(context);
  verification.checked = true;
  verification.result = checkCopy(verification.sourcePath, copy, size);
  verification.error = GetLastError();
  if (verification.result == CONTENT_EQUAL)
    return true;
  // The copy fails with an error that no second attempt takes for its own (not 5).
  SetLastError(ERROR_GEN_FAILURE);
  return false;
}

// Under /v, has the copies of `sourcePath` checked before they are published.
void beginVerification(Verification &verification, const char *sourcePath) {
  verification.sourcePath = sourcePath;
  if (runState.verifyCopy)
    setCopyCheck(checkBeforePublishing, &verification);
}

// Ends the verification of one file's copy: true when the check refused it, which is then
// reported (the line ended, the failure recorded).
bool verificationRefused(const Verification &verification) {
  setCopyCheck(nullptr, nullptr);
  if (!verification.checked || verification.result == CONTENT_EQUAL)
    return false;
  SetLastError(verification.error);
  reportVerification(verification.result);
  return true;
}

// Whether the destination holds the mark of an incremental copy that did not end; `out` is then
// the listed entry with the size and last-write time the file had before that update.
bool interruptedUpdate(const char *destPath, const FindEntry &listed, FindEntry *out) {
  int64_t size = 0, ticks = 0;
  if (!readUpdateMark(destPath, &size, &ticks))
    return false;
  *out = listed;
  out->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size) >> 32);
  out->nFileSizeLow = static_cast<DWORD>(static_cast<uint64_t>(size) & 0xFFFFFFFFu);
  out->ftLastWriteTime.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  out->ftLastWriteTime.dwLowDateTime =
      static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
  return true;
}

} // namespace

void offerPrepared(PreparedWork *work) {
  offered = work;
}

PreparedWork *offeredFor(const char *sourcePath, const char *destPath) {
  PreparedWork *work = offered;
  if (work == nullptr || std::strcmp(work->sourcePath, sourcePath) != 0 ||
      std::strcmp(work->destPath, destPath) != 0)
    return nullptr;
  return work;
}

int copyAheadFlags(const FindEntry &sourceEntry, const FindEntry *destEntry, bool acrossVolumes) {
  if (runState.echoOnly || runState.incremental || filteredByArchive(sourceEntry.dwFileAttributes))
    return -1;
  bool chosen = destEntry == nullptr ? (runState.selectMask & SEL_ABSENT) != 0
                                     : selects(sourceEntry, *destEntry);
  if (!chosen)
    return -1;
  if (runState.mode == MODE_COPY)
    return destEntry == nullptr ? static_cast<int>(COPY_FAIL_IF_EXISTS) : 0;
  // A move copies a file over its namesake, and to a new name only across file systems; a link
  // is moved as itself.
  if (runState.mode == MODE_MOVE && !isLinkEntry(sourceEntry) &&
      (destEntry != nullptr || acrossVolumes))
    return static_cast<int>(destEntry == nullptr ? COPY_DURABLE | COPY_FAIL_IF_EXISTS
                                                 : COPY_DURABLE);
  return -1;
}

// Chooses the action for a source file whose destination namesake does not exist. A compare
// has nothing to compare it with: no line, and it is not counted as different.
int handleAbsent(const char *sourcePath, const char *destPath, DWORD attributes) {
  if ((runState.selectMask & SEL_ABSENT) == 0)
    return 0;
  switch (runState.mode) {
  case MODE_COMPARE:
    return 0;
  case MODE_DELETE:
    return deleteOne(sourcePath, attributes);
  case MODE_MOVE:
    return moveOne(sourcePath, destPath, attributes, nullptr, nullptr);
  case MODE_COPY:
    break;
  }
  return copyOne(sourcePath, destPath, attributes, nullptr, nullptr);
}

// Chooses the action for a source file whose destination namesake exists, once the pair is
// selected.
int handleExisting(const char *sourcePath, const char *destPath, DWORD attributes,
                   const FindEntry &sourceEntry, const FindEntry &listedDest) {
  // An incremental copy ended midway left the old file with part of its new tail and the time
  // of the interruption; the mark it left says what the file was, and every selection judges
  // the pair (and a copy updates it) as that file, so that any later run brings it up to date.
  // A destination with its source's last-write time has none to read: an update gives it that
  // time only once its data are complete (the common case, an unchanged pair, costs no look at
  // the mark). A compare still compares the file as it is.
  FindEntry interrupted;
  bool marked = lastWriteTicks(listedDest) != lastWriteTicks(sourceEntry) &&
                interruptedUpdate(destPath, listedDest, &interrupted);
  if (marked && !LOOKUP_READS_STORED_BITS && selectionNeedsAttributes(sourceEntry, interrupted)) {
    // The listing may have skipped the stored attribute bits that this choice now turns on.
    FindEntry complete;
    if (lookupEntry(destPath, &complete, true))
      interrupted.dwFileAttributes = complete.dwFileAttributes;
  }
  const FindEntry &destEntry = marked ? interrupted : listedDest;
  if (!isSelected(sourceEntry, destEntry))
    return 0;
  switch (runState.mode) {
  case MODE_DELETE: {
    // A namesake that is the very file itself (reached under another spelling or through a
    // link) is no second copy: deleting the source would delete the only one. Where that cannot
    // be told (a share that fails to answer), nothing is deleted either: the file fails.
    int same = sameFileIdentity(sourcePath, destPath);
    if (same == 1)
      return recordFailure(ST_SAME_PATH);
    if (same < 0) {
      beginItemLine();
      printf("%s", sourcePath);
      return failAction(ST_DELETE_FAILED);
    }
    return deleteOne(sourcePath, attributes);
  }
  case MODE_COMPARE:
    return compareOne(sourcePath, destPath, attributes, sourceEntry, listedDest);
  case MODE_MOVE:
    return moveOne(sourcePath, destPath, attributes, &sourceEntry, &destEntry);
  case MODE_COPY:
    break;
  }
  return copyOne(sourcePath, destPath, attributes, &sourceEntry, &destEntry);
}

// Copies one file: incrementally when /i applies, else in full (verified before it is published
// under /v), then clears the source's archive bit under /b.
int copyOne(const char *sourcePath, const char *destPath, DWORD attributes,
            const FindEntry *sourceEntry, const FindEntry *destEntry) {
  if (beginTransfer(sourcePath, destPath, attributes) == 0)
    return 0;
  if (runState.echoOnly) {
    printf("\n");
    return 1;
  }

  if (destEntry != nullptr && refuseCollision(sourcePath, destPath, ST_COPY_FAILED) == 0)
    return 0;
  noteComingWrite();

  if (runState.incremental) {
    int result = incrementalCopy(sourcePath, destPath, attributes, sourceEntry, destEntry);
    if (result == 0)
      return failAction(ST_COPY_FAILED);
    if (result == 1) {
      // Updated in place: the destination keeps its identity.
      FileIdentity dest, source;
      if (readIdentity(destPath, &dest) && readIdentity(sourcePath, &source))
        rememberCopy(dest, source);
      printf("\n");
      return 1;
    }
  }

  CopyKind kind = destEntry != nullptr ? COPY_REPLACING : COPY_NEW_ONLY;
  CopyRecord record;
  Verification verification;
  beginVerification(verification, sourcePath);
  progressBegin(sourcePath);
  bool copied = copyOver(kind, sourcePath, destPath, attributes, &record);
  progressEnd();
  if (verificationRefused(verification))
    return 0;
  if (!copied)
    return failAction(ST_COPY_FAILED);
  if (runState.backupMode && !clearArchiveAfterBackup(sourcePath, attributes))
    return failAction(ST_COPY_FAILED);
  printf("\n");
  return 1;
}

// Moves one file: onto an existing destination by a copy and a delete of the source, to an
// absent one by a single rename. Under /v a move that copies verifies the copy before the
// source is removed; one that fails the verification keeps its source.
int moveOne(const char *sourcePath, const char *destPath, DWORD attributes,
            const FindEntry *sourceEntry, const FindEntry *destEntry) {
  if (beginTransfer(sourcePath, destPath, attributes) == 0)
    return 0;
  if (runState.echoOnly)
    return endDestructiveItem();

  if (sourceEntry != nullptr && destEntry != nullptr) {
    if (refuseCollision(sourcePath, destPath, ST_MOVE_FAILED) == 0)
      return 0;
    noteComingWrite();
    // The source is deleted only after a copy that succeeded (and under /v was found equal to
    // it) and has reached the disk. One file under two spellings never gets here: the copy
    // onto itself is refused.
    CopyRecord record;
    Verification verification;
    beginVerification(verification, sourcePath);
    progressBegin(sourcePath);
    bool copied = copyOver(COPY_FOR_MOVE, sourcePath, destPath, attributes, &record);
    progressEnd();
    if (verificationRefused(verification)) {
      flushAfterItem();
      return 0;
    }
    if (!copied)
      return failAction(ST_MOVE_FAILED);
    // Only the very file that was copied, unchanged, is deleted: one written to meanwhile (a
    // log still growing) or replaced by another keeps its name and data, and the destination
    // keeps the copy of what was read.
    FileStamp now;
    if (!readStamp(sourcePath, &now))
      return failAction(ST_MOVE_FAILED);
    if (!(now == record.source)) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return failAction(ST_MOVE_FAILED);
    }
    if (!deleteWithRetry(sourcePath, attributes) && !sourceGoneAfterFailure(sourcePath))
      return failAction(ST_MOVE_FAILED);
    return endDestructiveItem();
  }

  // A rename to another file system copies the data: its progress shows too, and under /v the
  // copy is verified before the source is removed.
  noteComingWrite();
  Verification verification;
  beginVerification(verification, sourcePath);
  progressBegin(sourcePath);
  bool moved = renameWithRetry(sourcePath, destPath, attributes);
  progressEnd();
  if (verificationRefused(verification)) {
    flushAfterItem();
    return 0;
  }
  if (!moved)
    return failAction(ST_MOVE_FAILED);
  // The moved file is the destination now (a copy of it, from another file system).
  FileIdentity dest;
  if (readIdentity(destPath, &dest))
    rememberCopy(dest, dest);
  return endDestructiveItem();
}

// Deletes one source file; its line never carries an arrow.
int deleteOne(const char *path, DWORD attributes) {
  if (filteredByArchive(attributes))
    return 0;
  beginItemLine();
  printf("%s", path);
  if (runState.echoOnly)
    return endDestructiveItem();
  if (!deleteWithRetry(path, attributes))
    return failAction(ST_DELETE_FAILED);
  return endDestructiveItem();
}
