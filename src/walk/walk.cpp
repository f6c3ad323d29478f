// The tree walker: one call lists one level of one source, pairs each accepted file with its
// destination namesake, hands the pair to the actions and descends into subdirectories by
// calling itself. Each level keeps three PathBufs and two FindEntrys in its frame and nothing
// else of size; nothing is allocated on the heap.
#include <cstdio>
#include <cstring>

#include "actions/actions.h"
#include "report/report.h"
#include "state/state.h"
#include "walk/walk.h"

#if defined(_MSC_VER)
#define WALK_NOINLINE __declspec(noinline)
#else
#define WALK_NOINLINE __attribute__((noinline))
#endif

namespace {

// The status value of the file action that the current mode would have carried out.
uint32_t blockedActionStatus() {
  return modeTraits().failStatus;
}

// The status value for a destination directory that cannot be named: where the mode makes
// directories that is what failed; otherwise the level's file actions are what is lost.
uint32_t blockedDirStatus() {
  return modeTraits().makesDestDirs ? ST_MKDIR_FAILED : blockedActionStatus();
}

// Reports a path that would outgrow its 520-byte buffer as a failure of the entry it belongs to.
// The path (head, then tail) is shown as far as it would fit, never splitting a two-byte
// character, on an item line of its own.
int reportTooLong(const char *head, size_t headLength, const char *tail, uint32_t statusValue) {
  if (headLength > PATH_BUF - 1)
    headLength = PATH_BUF - 1;
  size_t room = PATH_BUF - 1 - headLength;
  size_t tailLength = 0;
  while (tail[tailLength] != 0) {
    size_t step =
        (isLeadByte(static_cast<unsigned char>(tail[tailLength])) && tail[tailLength + 1] != 0) ? 2
                                                                                                : 1;
    if (tailLength + step > room)
      break;
    tailLength += step;
  }
  beginItemLine();
  std::printf("%.*s%.*s :path too long\n", static_cast<int>(headLength), head,
              static_cast<int>(tailLength), tail);
  return recordFailure(statusValue);
}

// The text test of the same-path refusal: the destination equals the source or lies inside it,
// judged on the texts alone with ASCII letters folded.
bool destinationInSourceText(const char *source, const char *destination) {
  if (stricmpAscii(source, destination) == 0)
    return true;
  size_t sourceLength = std::strlen(source);
  if (sourceLength > std::strlen(destination) ||
      strnicmpAscii(destination, source, sourceLength) != 0)
    return false;
  return *lastCharPtr(source) == '\\' || destination[sourceLength] == '\\';
}

// Drops trailing backslashes but keeps the one of a root (\ or C:\), so that the text names the
// directory itself.
void trimTrailingSeps(char *text) {
  for (;;) {
    char *last = lastCharPtr(text);
    if (*last != '\\' || last == text || isColonSep(last[-1]))
      return;
    *last = 0;
  }
}

// Whether the text `destination` names the directory `dir` (trimmed) or a path below it, with
// names compared as the file system compares them. A drive-relative directory (C:) cannot be
// judged by text. Both buffers are scratch copies: a terminator is placed and taken back.
bool destinationWithinDirText(char *dir, char *destination) {
  if (dir[0] == 0 || isColonSep(*lastCharPtr(dir)))
    return false;
  size_t length = std::strlen(dir);
  if (*lastCharPtr(dir) == '\\')
    length -= 1; // a root keeps its separator in `dir`; compare the text before it
  if (std::strlen(destination) < length)
    return false;
  char next = destination[length];
  if (next != 0 && next != '\\')
    return false;
  char dirEnd = dir[length];
  dir[length] = 0;
  destination[length] = 0;
  bool within = namesEqual(destination, dir);
  destination[length] = next;
  dir[length] = dirEnd;
  return within;
}

// Whether the destination, or any of its textual ancestors that exists, is the directory `dir`
// itself (device and inode, or volume and file index). The climb stops at a root, at a drive and
// at a ".." step, whose textual parent is no ancestor. `destination` is a scratch copy.
bool destinationWithinDirIdentity(const char *dir, char *destination) {
  const char *sourceDir = dir[0] != 0 ? dir : ".";
  for (;;) {
    trimTrailingSeps(destination);
    if (sameFileIdentity(destination[0] != 0 ? destination : ".", sourceDir) == 1)
      return true;
    if (destination[0] == 0)
      return false;
    char *name = fileNamePart(destination);
    if (*name == 0 || dotsOnlyLength(name) >= 2)
      return false;
    *name = 0;
    if (destination[0] == '\\' && destination[1] == '\\' && destination[2] == 0)
      return false; // what is left of a UNC name is no directory
  }
}

// The checks of the top of a walk that the text test misses. When the source names a directory
// (an empty mask, or a plain name that is a directory), or under /s carries a mask down through
// every subdirectory, a destination that is that directory or lies inside it would be filled by
// the walk from inside itself: refuse it by text (the source's directory part) and by identity.
// Kept out of walkTree so that its two buffers never sit in the recursive frames.
WALK_NOINLINE bool destinationWithinSource(const char *source, const char *destination,
                                           const char *sourcePattern, const char *nameSlot,
                                           const char *sourceMask) {
  if (destination[0] == 0)
    return false;
  PathBuf dir;   // this call's: the source directory
  PathBuf probe; // this call's: the destination, then each of its ancestors
  bool maskCarried = runState.recurse && sourceMask[0] != 0 && !looksLikePath(sourceMask);
  if (sourceMask[0] == 0 || maskCarried) {
    size_t length = static_cast<size_t>(nameSlot - sourcePattern);
    if (length >= PATH_BUF)
      return false;
    std::memcpy(dir, sourcePattern, length);
    dir[length] = 0;
  } else if (looksLikePath(sourceMask) && probePathKind(source) == 1) {
    if (!pathPut(dir, dir, source))
      return false;
  } else {
    return false;
  }
  trimTrailingSeps(dir);
  if (!pathPut(probe, probe, destination))
    return false;
  if (destinationWithinDirText(dir, probe))
    return true;
  return destinationWithinDirIdentity(dir, probe);
}

// Whether anything after the namesake lookup reads the destination's stored attribute bits:
// the attribute and all-matching selections, and an incremental copy that may clear the
// destination's protection. Otherwise the lookup skips them.
bool destAttributesNeeded() {
  return (runState.selectMask & (SEL_ATTR_DIFF | SEL_SAME)) != 0 ||
         (runState.incremental && runState.includeHidden);
}

} // namespace

// Completes the search pattern of a level in place and splits off its mask. Returns the name
// slot, or nullptr when the pattern cannot be completed inside the buffer.
char *splitSourceSpec(char *sourcePattern, char *maskOut) {
  char *nameSlot = fileNamePart(sourcePattern);
  maskOut[0] = 0;
  if (dotsOnlyLength(nameSlot) > 0) {
    if (!pathAppendChar(sourcePattern, '\\'))
      return nullptr;
    nameSlot = sourcePattern + std::strlen(sourcePattern);
  }
  if (isSeparator(*lastCharPtr(sourcePattern)) && !pathAppend(sourcePattern, "*.*"))
    return nullptr;
  if (std::strcmp(nameSlot, "*.*") != 0 && !pathPut(maskOut, maskOut, nameSlot))
    return nullptr;
  return nameSlot;
}

// Completes the destination pattern of a level in place: the plain form ends in "*.*" below the
// directory, the same-name form ends in a component beginning with `*` that stands for each
// entry's own name. Returns the destination name slot, or nullptr when the text does not fit.
char *prepareDestSpec(char *destPattern, const char *mask, bool &sameNameOut) {
  sameNameOut = false;
  if (destPattern[0] == 0)
    return destPattern;
  char *slot = fileNamePart(destPattern);
  if (mask[0] != 0) {
    char *last = lastCharPtr(destPattern);
    if (*slot == 0 && *last == '\\') {
      *last = 0;
      char *component = fileNamePart(destPattern);
      if (stricmpAscii(component, mask) == 0)
        slot = component;
      else
        *last = '\\';
    }
    if (stricmpAscii(slot, mask) == 0) {
      slot[0] = '*';
      slot[1] = 0;
    }
  }
  if (dotsOnlyLength(slot) > 0) {
    if (!pathAppendChar(destPattern, '\\'))
      return nullptr;
    slot = destPattern + std::strlen(destPattern);
  }
  if (*slot == '*') {
    sameNameOut = true;
    return slot;
  }
  if (!isSeparator(*lastCharPtr(destPattern))) {
    if (!pathAppendChar(destPattern, '\\'))
      return nullptr;
    slot = destPattern + std::strlen(destPattern);
  }
  if (!pathAppend(destPattern, "*.*"))
    return nullptr;
  return slot;
}

// Walks one level of one source into its destination and returns the number of files acted on
// in the whole subtree.
int walkTree(const char *source, char *destination, DWORD attributes, const char *exclusions) {
  PathBuf sourcePattern; // this level's: the search pattern, then each entry's full path
  PathBuf destPattern;   // this level's: the destination directory, then each entry's destination
  PathBuf sourceMask;    // this level's: the mask split off the source (empty: whole directory)
  FindEntry entry;       // the listed entry
  FindEntry namesake;    // its namesake in the destination directory
  char *nameSlot = nullptr;
  char *destNameSlot = nullptr;
  char *name = nullptr;
  bool sameNameDest = false;
  bool destDirExists = false;
  bool destDirFresh = false; // made by this level just now: no namesake can be in it
  HANDLE search = INVALID_HANDLE_VALUE;
  int total = 0;

  runState.depth += 1;
  if (runState.verbose)
    openBlock(source, destination);
  if (modeTraits().needsDestination && destination[0] == 0)
    pathPut(destination, destination, ".\\");
  if (source[0] == 0)
    goto done;
  if (destinationInSourceText(source, destination)) {
    runState.status |= ST_SAME_PATH;
    goto done;
  }

  if (!pathPut(sourcePattern, sourcePattern, source)) {
    reportTooLong(source, std::strlen(source), "", blockedActionStatus());
    goto done;
  }
  if (!pathPut(destPattern, destPattern, destination)) {
    reportTooLong(destination, std::strlen(destination), "", blockedDirStatus());
    goto done;
  }
  // A last component such as .txt is shorthand for *.txt.
  name = fileNamePart(sourcePattern);
  if (name[0] == '.' && dotsOnlyLength(name) == 0) {
    if (std::strlen(sourcePattern) + 1 >= PATH_BUF) {
      reportTooLong(source, std::strlen(source), "*", blockedActionStatus());
      goto done;
    }
    insertChar(name, '*');
  }
  nameSlot = splitSourceSpec(sourcePattern, sourceMask);
  if (nameSlot == nullptr) {
    reportTooLong(source, std::strlen(source), "", blockedActionStatus());
    goto done;
  }
  // Only the destination the user wrote can be of the same-name form; the walk itself always
  // hands a subdirectory's destination on as that directory.
  destNameSlot = prepareDestSpec(destPattern, runState.depth == 1 ? sourceMask : "", sameNameDest);
  if (destNameSlot == nullptr) {
    reportTooLong(destination, std::strlen(destination), "", blockedDirStatus());
    goto done;
  }
  // A same-name destination without a directory part means that name below the current
  // directory, so that a subdirectory's content gets a directory of its own.
  if (sameNameDest && destNameSlot == destPattern) {
    if (std::strlen(destPattern) + 2 >= PATH_BUF) {
      reportTooLong(destination, std::strlen(destination), "", blockedDirStatus());
      goto done;
    }
    insertChar(destPattern, '\\');
    insertChar(destPattern, '.');
    destNameSlot += 2;
  }
  if (runState.depth == 1 &&
      destinationWithinSource(source, destination, sourcePattern, nameSlot, sourceMask)) {
    runState.status |= ST_SAME_PATH;
    goto done;
  }

  search = FindFirstFileA(sourcePattern, &entry);
  if (search != INVALID_HANDLE_VALUE) {
    // The destination directory of a level that found anything exists or is made.
    if (destPattern[0] != 0) {
      destDirExists = pathExists(destPattern);
      if (sameNameDest)
        *destNameSlot = 0;
      if (!destDirExists && modeTraits().makesDestDirs &&
          (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        const char *dirText = sameNameDest ? destPattern : destination;
        // A directory that was missing and is made here holds no namesake: its files need no
        // lookup. (Not under /e, which makes nothing, nor for a network path, whose failure to
        // be made is passed over.)
        bool missing = !runState.echoOnly && std::strncmp(dirText, "\\\\", 2) != 0 &&
                       probePathKind(dirText) == -1;
        destDirExists = prepareDestination(dirText, attributes);
        destDirFresh = destDirExists && missing;
      }
    }

    if (!shouldStop()) {
      do {
        int r = classifyEntry(entry, sourcePattern, nameSlot, exclusions);
        bool isDir = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (r == ENTRY_TOO_LONG) {
          // A file, or a directory that /s would descend, is lost: report it.
          if (!isDir)
            runState.fileCount += 1;
          if (!isDir || (runState.recurse && sourceMask[0] == 0))
            reportTooLong(sourcePattern, static_cast<size_t>(nameSlot - sourcePattern),
                          entry.cFileName, blockedActionStatus());
          continue;
        }
        if (r <= 0)
          continue;
        if (!isDir) {
          runState.fileCount += 1;
          if (!destDirExists) {
            total += handleAbsent(sourcePattern, destPattern, entry.dwFileAttributes);
          } else if (!pathPut(destPattern, destNameSlot, nameSlot)) {
            reportTooLong(destPattern, static_cast<size_t>(destNameSlot - destPattern), nameSlot,
                          blockedActionStatus());
          } else if (!destDirFresh && lookupEntry(destPattern, &namesake, destAttributesNeeded())) {
            total +=
                handleExisting(sourcePattern, destPattern, entry.dwFileAttributes, entry, namesake);
          } else {
            total += handleAbsent(sourcePattern, destPattern, entry.dwFileAttributes);
          }
        } else if ((runState.recurse && sourceMask[0] == 0) || r == ENTRY_NAMED) {
          bool ready = true;
          if (!pathAppendChar(sourcePattern, '\\')) {
            ready = false;
            reportTooLong(sourcePattern, std::strlen(sourcePattern), "\\", blockedActionStatus());
          } else if (destPattern[0] != 0) {
            // A directory named by the source, met first, has its content merged into the
            // destination directory itself; every other one gets its own name below it.
            if (*destNameSlot == '*' && r == ENTRY_NAMED) {
              *destNameSlot = 0;
            } else if (!pathPut(destPattern, destNameSlot, nameSlot)) {
              ready = false;
              reportTooLong(destPattern, static_cast<size_t>(destNameSlot - destPattern), nameSlot,
                            blockedDirStatus());
            }
          }
          if (ready) {
            runState.dirCount += 1;
            total += walkTree(sourcePattern, destPattern, entry.dwFileAttributes, exclusions);
            if (modeTraits().removesSourceDirs)
              removeSourceDir(sourcePattern, entry.dwFileAttributes);
          }
          if (r == ENTRY_NAMED)
            sourceMask[0] = 0;
        }
        *destNameSlot = 0;
      } while (!shouldStop() && FindNextFileA(search, &entry));
    }
    FindClose(search);
  }

  // The subdirectory pass carries a wildcard or dotted mask down into every subdirectory.
  if (!shouldStop() && runState.recurse && sourceMask[0] != 0 && !looksLikePath(sourceMask)) {
    if (!pathPut(sourcePattern, nameSlot, "*.*")) {
      reportTooLong(sourcePattern, static_cast<size_t>(nameSlot - sourcePattern), "*.*",
                    blockedActionStatus());
      goto done;
    }
    search = FindFirstFileA(sourcePattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
      goto done;
    do {
      int r = classifyEntry(entry, sourcePattern, nameSlot, exclusions);
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        continue;
      if (r == ENTRY_TOO_LONG) {
        reportTooLong(sourcePattern, static_cast<size_t>(nameSlot - sourcePattern), entry.cFileName,
                      blockedActionStatus());
        continue;
      }
      if (r <= 0)
        continue;
      if (!pathAppendChar(sourcePattern, '\\')) {
        reportTooLong(sourcePattern, std::strlen(sourcePattern), "\\", blockedActionStatus());
        continue;
      }
      if (destPattern[0] != 0 && !pathPut(destPattern, destNameSlot, nameSlot)) {
        reportTooLong(destPattern, static_cast<size_t>(destNameSlot - destPattern), nameSlot,
                      blockedDirStatus());
        continue;
      }
      if (!pathAppend(sourcePattern, sourceMask)) {
        reportTooLong(sourcePattern, std::strlen(sourcePattern), sourceMask, blockedActionStatus());
        continue;
      }
      runState.dirCount += 1;
      total += walkTree(sourcePattern, destPattern, entry.dwFileAttributes, exclusions);
      if (modeTraits().removesSourceDirs)
        removeSourceDir(sourcePattern, entry.dwFileAttributes);
    } while (!shouldStop() && FindNextFileA(search, &entry));
    FindClose(search);
  }

done:
  if (runState.verbose)
    closeBlock();
  runState.depth -= 1;
  return total;
}
