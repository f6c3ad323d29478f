// The dispatchers for one source file and its destination, and the copy, move and delete
// actions with their console lines, the archive filter, echo mode and the retry under /x.
#include <cstdint>
#include <cstdio>

#include "actions/actions.h"
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

// How a copy treats its destination.
enum CopyKind {
  COPY_REPLACING, // over the existing namesake that the selection chose
  COPY_NEW_ONLY,  // the destination was looked up as absent: nothing may be replaced, not even a
                  // namesake that appeared meanwhile, since nothing chose it (error 80)
  COPY_FOR_MOVE,  // over the existing namesake, on the disk before the source is deleted
};

bool copyAs(CopyKind kind, const char *sourcePath, const char *destPath) {
  switch (kind) {
  case COPY_NEW_ONLY:
    return fsCopyFile(sourcePath, destPath, TRUE) != FALSE;
  case COPY_FOR_MOVE:
    return copyFileDurably(sourcePath, destPath);
  case COPY_REPLACING:
    break;
  }
  return fsCopyFile(sourcePath, destPath, FALSE) != FALSE;
}

// Copies the file to its destination, with one more attempt under /x after the destination
// refused with access denied; the second copy then gets the source's attribute word. False with
// the failing call's last error.
bool copyOver(CopyKind kind, const char *sourcePath, const char *destPath, DWORD attributes) {
  if (copyAs(kind, sourcePath, destPath))
    return true;
  if (!retryAfterDenied())
    return false;
  return clearProtection(destPath) && copyAs(kind, sourcePath, destPath) &&
         SetFileAttributesA(destPath, attributes);
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
  if (removeEntry(path, attributes))
    return true;
  if (!retryAfterDenied() || !clearProtection(path))
    return false;
  if (removeEntry(path, attributes))
    return true;
  DWORD saved = GetLastError();
  SetFileAttributesA(path, attributes);
  SetLastError(saved);
  return false;
}

// Renames a file, with one more attempt under /x after access denied; the moved file then gets
// the attribute word the source had. When the second rename fails, the source gets its
// protection back, as a failed second delete does; the error kept is the rename's.
bool renameWithRetry(const char *sourcePath, const char *destPath, DWORD attributes) {
  if (moveFileDurably(sourcePath, destPath))
    return true;
  if (!retryAfterDenied() || !clearProtection(sourcePath))
    return false;
  if (!moveFileDurably(sourcePath, destPath)) {
    DWORD saved = GetLastError();
    SetFileAttributesA(sourcePath, attributes);
    SetLastError(saved);
    return false;
  }
  return SetFileAttributesA(destPath, attributes) != 0;
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
  // of the interruption; the mark it left says what the file was, and the pair is judged (and
  // updated) as that file. A destination with its source's last-write time has none to read:
  // an update gives it that time only once its data are complete (the common case, an
  // unchanged pair, costs no look at the mark).
  FindEntry interrupted;
  const FindEntry &destEntry = runState.incremental && runState.mode == MODE_COPY &&
                                       lastWriteTicks(listedDest) != lastWriteTicks(sourceEntry) &&
                                       interruptedUpdate(destPath, listedDest, &interrupted)
                                   ? interrupted
                                   : listedDest;
  if (!isSelected(sourceEntry, destEntry))
    return 0;
  switch (runState.mode) {
  case MODE_DELETE:
    // A namesake that is the very file itself (reached under another spelling or through a
    // link) is no second copy: deleting the source would delete the only one.
    if (sameFileIdentity(sourcePath, destPath) == 1)
      return recordFailure(ST_SAME_PATH);
    return deleteOne(sourcePath, attributes);
  case MODE_COMPARE:
    return compareOne(sourcePath, destPath, attributes, sourceEntry, destEntry);
  case MODE_MOVE:
    return moveOne(sourcePath, destPath, attributes, &sourceEntry, &destEntry);
  case MODE_COPY:
    break;
  }
  return copyOne(sourcePath, destPath, attributes, &sourceEntry, &destEntry);
}

// Copies one file: incrementally when /i applies, else in full, then verifies it under /v and
// clears the source's archive bit under /b.
int copyOne(const char *sourcePath, const char *destPath, DWORD attributes,
            const FindEntry *sourceEntry, const FindEntry *destEntry) {
  if (beginTransfer(sourcePath, destPath, attributes) == 0)
    return 0;
  if (runState.echoOnly) {
    printf("\n");
    return 1;
  }

  if (runState.incremental) {
    int result = incrementalCopy(sourcePath, destPath, attributes, sourceEntry, destEntry);
    if (result == 0)
      return failAction(ST_COPY_FAILED);
    if (result == 1) {
      printf("\n");
      return 1;
    }
  }

  CopyKind kind = destEntry != nullptr ? COPY_REPLACING : COPY_NEW_ONLY;
  progressBegin(sourcePath);
  bool copied = copyOver(kind, sourcePath, destPath, attributes);
  progressEnd();
  if (!copied)
    return failAction(ST_COPY_FAILED);
  // verifyOne has ended the line and recorded the failure itself.
  if (runState.verifyCopy && verifyOne(sourcePath, destPath, attributes) != 1)
    return 0;
  if (runState.backupMode && !clearArchiveAfterBackup(sourcePath, attributes))
    return failAction(ST_COPY_FAILED);
  printf("\n");
  return 1;
}

// Moves one file: onto an existing destination by a copy and a delete of the source, to an
// absent one by a single rename.
int moveOne(const char *sourcePath, const char *destPath, DWORD attributes,
            const FindEntry *sourceEntry, const FindEntry *destEntry) {
  if (beginTransfer(sourcePath, destPath, attributes) == 0)
    return 0;
  if (runState.echoOnly)
    return endDestructiveItem();

  if (sourceEntry != nullptr && destEntry != nullptr) {
    // The source is deleted only after a copy that succeeded and has reached the disk. One
    // file under two spellings never gets here: the copy onto itself is refused.
    progressBegin(sourcePath);
    bool copied = copyOver(COPY_FOR_MOVE, sourcePath, destPath, attributes);
    progressEnd();
    if (!copied || !deleteWithRetry(sourcePath, attributes))
      return failAction(ST_MOVE_FAILED);
    return endDestructiveItem();
  }

  // A rename to another file system copies the data: its progress shows too.
  progressBegin(sourcePath);
  bool moved = renameWithRetry(sourcePath, destPath, attributes);
  progressEnd();
  if (!moved)
    return failAction(ST_MOVE_FAILED);
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
