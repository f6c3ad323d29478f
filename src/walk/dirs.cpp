// Destination preparation and source directory upkeep: missing destination directories are made
// outermost first with the attributes of the source directory they mirror, and source
// directories that a move or delete has emptied are removed.
#include <cstdio>
#include <cstring>

#include "paths/lookup.h"
#include "paths/pathtext.h"
#include "paths/retry.h"
#include "paths/winapi.h"
#include "report/report.h"
#include "state/state.h"
#include "walk/walk.h"

namespace {

// Reports a directory operation that failed with `code` and records it under `statusValue`.
// The last error is `code` again afterwards, for the caller to tell why.
bool reportDirFailure(const char *path, DWORD code, uint32_t statusValue) {
  beginItemLine();
  reportError(path, static_cast<int32_t>(code));
  flushAfterItem();
  recordFailure(statusValue);
  SetLastError(code);
  return false;
}

// Whether /e has listed the directory `path` as made already: it is the last one listed, or a
// directory above it.
bool listedAsMade(const char *path) {
  const char *made = runState.echoMadeDir;
  size_t length = std::strlen(path);
  return runState.echoOnly && length > 0 && std::strlen(made) >= length &&
         namesEqualPrefix(made, path, length) && (made[length] == 0 || made[length] == '\\');
}

} // namespace

// Makes sure that the destination directory `path` exists: it climbs to the nearest existing
// ancestor (a root or drive counts as one) and makes the missing directories on the way back,
// outermost first. One buffer serves the whole chain: prefixes are terminated in place and the
// byte put back, so the chain costs no stack however many directories are missing. False with
// the last error saying why (a file in the way: 3, as a path through it is not found).
bool prepareDestination(const char *path, DWORD attributes) {
  PathBuf chain; // this call's: the destination, its prefixes terminated in turn
  if (!pathPut(chain, chain, path))
    return reportDirFailure(path, ERROR_FILENAME_EXCED_RANGE, ST_MKDIR_FAILED);
  while (*lastCharPtr(chain) == '\\')
    *lastCharPtr(chain) = 0;
  size_t end = std::strlen(chain);

  // Climb while the prefix is missing; each parent keeps the separator before the cut component
  // except trailing backslashes, so its text never ends in `\`.
  size_t length = end;
  for (;;) {
    char kept = chain[length];
    chain[length] = 0;
    int kind = listedAsMade(chain) ? 1 : probePathKind(chain);
    if (kind == 0) {
      chain[length] = kept;
      beginItemLine();
      std::printf("Destination must be a path.\n");
      recordFailure(ST_DEST_NOT_DIR);
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    if (kind == 1) {
      chain[length] = kept;
      break;
    }
    size_t parent = static_cast<size_t>(fileNamePart(chain) - chain);
    chain[length] = kept;
    if (parent >= length)
      break; // nothing left to climb: taken as the existing start of the chain
    for (;;) {
      kept = chain[parent];
      chain[parent] = 0;
      char *last = lastCharPtr(chain);
      bool separator = *last == '\\';
      chain[parent] = kept;
      if (!separator)
        break;
      parent = static_cast<size_t>(last - chain);
    }
    length = parent;
  }

  // Make the missing components from the outermost inwards.
  while (length < end) {
    while (length < end && isSeparator(chain[length]))
      length += 1;
    while (length < end && !isSeparator(chain[length]))
      length += charBytes(chain + length);
    char kept = chain[length];
    chain[length] = 0;
    bool made = makeDir(chain, attributes);
    chain[length] = kept;
    if (!made)
      return false;
  }
  return true;
}

// Makes one destination directory with the attribute word of the source directory it mirrors.
// Under /e nothing is made, and the directory is remembered as if it had been. A failure under
// a `\\` name is passed over as made.
bool makeDir(const char *path, DWORD attributes) {
  if (shouldStop())
    return false;
  if (runState.echoOnly && !pathPut(runState.echoMadeDir, runState.echoMadeDir, path))
    runState.echoMadeDir[0] = 0; // cannot happen: the path came out of a PathBuf
  if (!runState.echoOnly &&
      !(CreateDirectoryA(path, nullptr) && SetFileAttributesA(path, attributes))) {
    DWORD code = GetLastError();
    // The item line is started only when something is printed, so that a failure passed over
    // leaves no stray indentation in verbose mode.
    if (std::strncmp(path, "\\\\", 2) == 0)
      return true;
    return reportDirFailure(path, code, ST_MKDIR_FAILED);
  }
  if (runState.verbose) {
    beginItemLine();
    std::printf("createdir(%s)\n", path);
    flushAfterItem();
  }
  return true;
}

// Counts the entries of a directory that are content: no dot names or volume labels, hidden
// and system entries only under /x, no exclusion mask. -1 when it cannot be listed.
int countEntries(const char *directory) {
  PathBuf pattern; // this call's: the search pattern, then each entry's path
  FindEntry entry;
  if (!pathPut(pattern, pattern, directory) ||
      (isSeparator(*lastCharPtr(pattern)) && !pathAppend(pattern, "*.*"))) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return -1;
  }
  char *slot = fileNamePart(pattern);
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE)
    return -1;
  int count = 0;
  do {
    int r = classifyEntry(entry, pattern, slot, "");
    // An entry whose path does not fit the buffer, or whose name cannot be spelled, is content
    // all the same.
    if (r > 0 || r == ENTRY_TOO_LONG || r == ENTRY_BAD_NAME)
      count += 1;
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return count;
}

// Removes a source subdirectory that a move or delete has left empty. The last component of
// `path` (empty, or the mask of the subdirectory pass) is dropped first.
bool removeSourceDir(const char *path) {
  PathBuf dir; // this call's: the directory with its trailing separator
  if (!pathPut(dir, dir, path))
    return reportDirFailure(path, ERROR_FILENAME_EXCED_RANGE, ST_RMDIR_FAILED);
  *fileNamePart(dir) = 0;
  if (shouldStop())
    return false;
  int count = countEntries(dir);
  if (count >= 1)
    return false;
  if (count == -1)
    return reportDirFailure(dir, GetLastError(), ST_RMDIR_FAILED);
  if (!runState.echoOnly && !RemoveDirectoryA(dir) &&
      !retryWithProtectionCleared(dir, [&] { return RemoveDirectoryA(dir) != FALSE; }))
    return reportDirFailure(dir, GetLastError(), ST_RMDIR_FAILED);
  if (runState.verbose) {
    beginItemLine();
    std::printf("removedir(%s)\n", dir);
    flushAfterItem();
  }
  return true;
}
