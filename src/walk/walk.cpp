// The tree walker: one call lists one level of one source, pairs each accepted file with its
// destination namesake, hands the pair to the actions and descends into subdirectories by
// calling itself. Each level keeps one Level record (three PathBufs, two FindEntrys and its
// destination directory opened for lookups) in its frame and nothing else of size; the records of
// the open levels form a chain through their parent pointers, which lets the walk refuse a
// directory it is already inside (a link to an ancestor would otherwise be followed until the paths
// outgrow their buffers). The walk itself allocates nothing; the one allocation is the file-system
// layer's for an open listing (the names of one directory, on POSIX), which is released, or kept
// for reuse, when the listing is closed.
#include <cstdio>
#include <cstring>

#include "actions/actions.h"
#include "paths/files.h"
#include "paths/lookup.h"
#include "paths/pathtext.h"
#include "paths/winapi.h"
#include "report/report.h"
#include "state/state.h"
#include "walk/ahead.h"
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

// The text test of the same-path refusal: the destination equals the source or lies inside it,
// judged on the texts alone with names compared as the file system compares them.
bool destinationInSourceText(const char *source, const char *destination) {
  if (namesEqual(source, destination))
    return true;
  size_t sourceLength = std::strlen(source);
  if (sourceLength > std::strlen(destination) ||
      !namesEqualPrefix(destination, source, sourceLength))
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
// the walk from inside itself: refuse it by text (the source's directory part), by identity, and
// by identity again where the destination leads through a link.
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
  if (destinationWithinDirIdentity(dir, probe))
    return true;
  // Through links: the destination's real place, resolved from its nearest existing ancestor.
  return isWithinDirectory(destination, dir[0] != 0 ? dir : ".") == 1;
}

// The working storage of one level of the walk. It lives in the frame of walkLevel, one per
// level of nesting; the named steps below work on it and keep nothing of size in their own
// frames, so that the recursion costs only this record per level.
struct Level {
  PathBuf sourcePattern; // the search pattern, then each entry's full path
  PathBuf destPattern;   // the destination directory, then each entry's destination
  PathBuf sourceMask;    // the mask split off the source (empty: the whole directory)
  FindEntry entry;       // the listed entry
  FindEntry namesake;    // its namesake in the destination directory
  LookupDir lookupDir;   // the destination directory, opened for the namesake lookups
  bool lookupOpen;       // lookupDir is open (closed when the level ends)
  bool lookupDue;        // lookupDir is (re)opened before the next lookup
  char *nameSlot;        // where each listed name is written into sourcePattern
  char *destNameSlot;    // where each destination name is written into destPattern
  bool sameNameDest;     // the destination's last component stands for each entry's own name
  bool destDirExists;    // the destination directory exists (or was made)
  bool destDirFresh;     // made by this level just now: no namesake can be in it
  bool unlisted;         // the directory could not be listed (reported): its content is unknown
  DWORD destDirError;    // why the destination directory could not be made or readied
  bool identityKnown;    // `identity` could be read
  FileIdentity identity; // the identity of the directory this level lists
  bool destIdKnown;      // top level only: `destId` could be read
  FileIdentity destId;   // top level only: the identity of the destination directory
  int movesAcross;       // a move: -1 not asked yet, else 1 when it crosses volumes (a guess)
  const Level *parent;   // the level that descended into this one; null at the top
  const char *exclusions;
  int total; // files acted on in the subtree so far
};

// What a level that descends hands to the level it starts, and what it learns back.
struct Descent {
  const Level *parent;   // the descending level, and through it every open level above
  bool identityKnown;    // `identity` could be read
  FileIdentity identity; // the identity of the directory descended into
  bool unlisted;         // set by the new level when its directory could not be listed
};

// Whether the directory of identity `id` is open in the walk already: the directory of `level`
// or of a level above it.
bool isOpenInWalk(const Level &level, const FileIdentity &id) {
  for (const Level *open = &level; open != nullptr; open = open->parent)
    if (open->identityKnown && open->identity == id)
      return true;
  return false;
}

// Whether the directory of identity `id` is the destination directory of the walk: reached
// through a bind mount, or through a link that the checks of the top level cannot see (they
// judge the destination's own path), it would be walked while the walk fills it.
bool isWalkDestination(const Level &level, const FileIdentity &id) {
  const Level *top = &level;
  while (top->parent != nullptr)
    top = top->parent;
  return top->destIdKnown && top->destId == id;
}

// Whether the mode takes entries out of the source tree (a move or a delete). There a link, to
// a file or to a directory, is an entry of its own: the link itself is moved or deleted, and
// what it leads to, which may lie outside the tree named, is never walked or touched. Only the
// directory that the user named at the top, when it is reached through a link, is walked as the
// directory it leads to (see descend). Copy and compare follow links.
bool takesLinksThemselves() {
  return modeTraits().removesSourceDirs;
}

// Whether the listed entry of this level (classified as `r`) is a link acted on as itself.
bool isLinkItself(const Level &level, const FindEntry &entry, int r) {
  return takesLinksThemselves() && isLinkEntry(entry) &&
         !(level.parent == nullptr && r == ENTRY_NAMED);
}

// Reports a path of this level that would outgrow its buffer: the text up to `slot`, then
// `tail`, as the failure `statusValue` of the entry it belongs to.
void reportEntryTooLong(const char *text, const char *slot, const char *tail,
                        uint32_t statusValue) {
  reportTooLong(text, static_cast<size_t>(slot - text), tail, statusValue, true);
}

// Reports a listed entry whose name holds `\`, which the path syntax cannot spell: the path as
// the name would make it, with the error of a name of bad syntax, as the failure of the action
// it blocks.
void reportBadName(const Level &level) {
  beginItemLine();
  std::printf("%.*s", static_cast<int>(level.nameSlot - level.sourcePattern), level.sourcePattern);
  reportError(level.entry.cFileName, static_cast<int32_t>(ERROR_INVALID_NAME));
  recordFailure(blockedActionStatus());
}

// Reports a whole path that would outgrow its buffer.
void reportPathTooLong(const char *path, uint32_t statusValue) {
  reportTooLong(path, std::strlen(path), "", statusValue, true);
}

// Whether a search that failed with `code` only found nothing: no such entry, no such directory
// on the way, no more entries. Any other failure means that the directory could not be listed.
bool foundNothing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_NO_MORE_FILES;
}

// Whether the text holds a wildcard character (never a trail byte).
bool holdsWildcard(const char *text) {
  for (const char *p = text; *p != 0; p = nextChar(p))
    if (*p == '*' || *p == '?')
      return true;
  return false;
}

// Reports that the directory of this level cannot be listed (or its listing broke off), as the
// failure of the file actions it blocks. The item line names the directory (the pattern up to
// the name slot, with its separator), or for a search of one name without wildcard, the whole
// path looked up, which may be what failed (a name too long for the file system).
void reportUnlisted(Level &level, DWORD code, bool wholePattern) {
  char kept = *level.nameSlot;
  if (!wholePattern)
    *level.nameSlot = 0;
  beginItemLine();
  reportError(level.sourcePattern[0] != 0 ? level.sourcePattern : ".\\",
              static_cast<int32_t>(code));
  *level.nameSlot = kept;
  level.unlisted = true;
  recordFailure(blockedActionStatus());
}

// Starts a listing of this level's pattern. INVALID_HANDLE_VALUE when it finds nothing, or when
// the directory cannot be listed, which is then reported.
HANDLE listFirst(Level &level) {
  HANDLE search = FindFirstFileA(level.sourcePattern, &level.entry);
  if (search == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    // The named pattern may climb through a wildcard or a file (`src\*\*.txt`, `src\f\x`):
    // Windows calls that an invalid name or no directory, and it finds nothing, as on POSIX.
    if (level.parent == nullptr && (code == ERROR_INVALID_NAME || code == ERROR_DIRECTORY)) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return search;
    }
    if (!foundNothing(code))
      reportUnlisted(level, code, !holdsWildcard(level.nameSlot));
  }
  return search;
}

// Starts the listing of the level's first pass. A final dot that the driver gave a plain file
// name (RunState::sourceDotAdded) stays out of the search, in every directory the name is
// carried into: the name is meant as written without it, even where a file of that name with
// the dot exists too.
HANDLE listFirstPass(Level &level) {
  char *dot = nullptr;
  if (runState.sourceDotAdded && level.sourceMask[0] != 0) {
    dot = lastCharPtr(level.sourcePattern);
    if (*dot == '.')
      *dot = 0;
    else
      dot = nullptr;
  }
  HANDLE search = listFirst(level);
  if (dot != nullptr)
    *dot = '.';
  return search;
}

// The next entry of a listing of this level; false at its end. A listing that breaks off for
// another reason than its end is reported.
bool listNext(Level &level, HANDLE search) {
  if (FindNextFileA(search, &level.entry))
    return true;
  DWORD code = GetLastError();
  if (code != ERROR_NO_MORE_FILES)
    reportUnlisted(level, code, false);
  return false;
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
      if (namesEqual(component, mask))
        slot = component;
      else
        *last = '\\';
    }
    if (namesEqual(slot, mask)) {
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

namespace {

int walkLevel(const char *source, char *destination, DWORD attributes, const char *exclusions,
              Descent *from);

// Turns the source and destination of a level into its search pattern, mask and destination
// pattern. False when the level is not walked: a text too long (reported) or, at the top, a
// destination inside the source (recorded as the same path).
bool prepareLevel(Level &level, const char *source, const char *destination) {
  if (!pathPut(level.sourcePattern, level.sourcePattern, source)) {
    reportPathTooLong(source, blockedActionStatus());
    return false;
  }
  if (!pathPut(level.destPattern, level.destPattern, destination)) {
    reportPathTooLong(destination, blockedDirStatus());
    return false;
  }
  // A last component such as .txt is shorthand for *.txt.
  char *name = fileNamePart(level.sourcePattern);
  if (name[0] == '.' && dotsOnlyLength(name) == 0) {
    if (std::strlen(level.sourcePattern) + 1 >= PATH_BUF) {
      reportTooLong(source, std::strlen(source), "*", blockedActionStatus(), true);
      return false;
    }
    insertChar(name, '*');
  }
  level.nameSlot = splitSourceSpec(level.sourcePattern, level.sourceMask);
  if (level.nameSlot == nullptr) {
    reportPathTooLong(source, blockedActionStatus());
    return false;
  }
  // Only the destination the user wrote can be of the same-name form; the walk itself always
  // hands a subdirectory's destination on as that directory.
  level.destNameSlot = prepareDestSpec(
      level.destPattern, runState.depth == 1 ? level.sourceMask : "", level.sameNameDest);
  if (level.destNameSlot == nullptr) {
    reportPathTooLong(destination, blockedDirStatus());
    return false;
  }
  // A same-name destination without a directory part means that name below the current
  // directory, so that a subdirectory's content gets a directory of its own.
  if (level.sameNameDest && level.destNameSlot == level.destPattern) {
    if (std::strlen(level.destPattern) + 2 >= PATH_BUF) {
      reportPathTooLong(destination, blockedDirStatus());
      return false;
    }
    insertChar(level.destPattern, '\\');
    insertChar(level.destPattern, '.');
    level.destNameSlot += 2;
  }
  if (runState.depth == 1 && destinationWithinSource(source, destination, level.sourcePattern,
                                                     level.nameSlot, level.sourceMask)) {
    noteSamePath();
    return false;
  }
  return true;
}

// Makes sure the destination directory of a level whose listing found anything exists, where
// the mode makes directories, and leaves destPattern naming it.
void readyDestination(Level &level, const char *destination, DWORD attributes) {
  if (level.destPattern[0] == 0)
    return;
  level.destDirExists = pathExists(level.destPattern);
  // A directory that could not be searched for another reason than its absence (an I/O error
  // of a share, a listing refused) is not known to be missing. Where no directory is made, the
  // lookup of each namesake then tells, or fails as that file's failure: a delete or compare
  // never takes the level's files for ones without a namesake.
  if (!level.destDirExists && !modeTraits().makesDestDirs && !foundNothing(GetLastError()))
    level.destDirExists = true;
  if (level.sameNameDest)
    *level.destNameSlot = 0;
  if (level.destDirExists || !modeTraits().makesDestDirs ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return;
  const char *dirText = level.sameNameDest ? level.destPattern : destination;
  // A directory that was missing and is made here holds no namesake: its files need no lookup.
  // (Not under /e, which makes nothing, nor for a network path, whose failure to be made is
  // passed over.)
  bool missing =
      !runState.echoOnly && std::strncmp(dirText, "\\\\", 2) != 0 && probePathKind(dirText) == -1;
  level.destDirExists = prepareDestination(dirText, attributes);
  level.destDirFresh = level.destDirExists && missing;
  if (!level.destDirExists)
    level.destDirError = GetLastError();
}

// Opens the level's destination directory (the destination pattern up to its name slot) for its
// namesake lookups, once readyDestination has found it and a file of the level needs a lookup:
// the lookups go to the directory that the path names then, even when another program renames
// it away and makes a new one of that name meanwhile. One that cannot be opened fails each
// lookup with the open's error, or is looked into by whole paths where those may still reach
// the names (see openLookupDir).
void openLevelLookups(Level &level) {
  if (level.lookupOpen)
    closeLookupDir(&level.lookupDir);
  level.lookupDue = false;
  char kept = *level.destNameSlot;
  *level.destNameSlot = 0;
  openLookupDir(level.destPattern, &level.lookupDir);
  *level.destNameSlot = kept;
  level.lookupOpen = true;
}

// Reads the identity of the top level's destination directory (the destination pattern up to
// its name slot) once it exists, so that the walk never descends into it (isWalkDestination).
void readDestIdentity(Level &level) {
  if (level.destIdKnown || level.destPattern[0] == 0)
    return;
  char kept = *level.destNameSlot;
  *level.destNameSlot = 0;
  level.destIdKnown =
      readIdentity(level.destPattern[0] != 0 ? level.destPattern : ".", &level.destId);
  *level.destNameSlot = kept;
}

// Reports a file of a level whose destination directory could not be made or readied (its
// failure is reported already): the file is not acted on, and fails with the directory's error
// as the failure of its action. Its destination could only be a name in a directory that is not
// there, or not as the walk would have it.
void reportDestinationNotReady(const Level &level) {
  beginItemLine();
  reportError(level.sourcePattern, static_cast<int32_t>(level.destDirError));
  flushAfterItem();
  recordFailure(blockedActionStatus());
}

// Whether anything after the namesake lookup reads the destination's stored attribute bits
// whatever the pair: an incremental copy that may clear the destination's protection. Otherwise
// the lookup skips them, and the selection has them read only for a pair whose choice turns on
// them (the attribute and all-matching relations, see selectionNeedsAttributes).
bool destAttributesNeeded() {
  return runState.incremental && runState.includeHidden;
}

// What the lookup of a namesake found.
enum NamesakeLookup {
  NAMESAKE_FAILED = -1, // it could not be looked up (last error set): whether it exists is unknown
  NAMESAKE_ABSENT = 0,
  NAMESAKE_FOUND = 1,
};

} // namespace

// Only "not found" makes a namesake absent; any other failure (an I/O error of a share, a
// refused search) leaves it unknown.
int lookUpNamesakeOf(const FindEntry &entry, const LookupDir &dir, const char *name,
                     bool attributesNeeded, FindEntry *out) {
  bool complete = attributesNeeded || LOOKUP_READS_STORED_BITS;
  bool found = lookupEntryAt(dir, name, out, complete);
  if (found && !complete && selectionNeedsAttributes(entry, *out))
    found = lookupEntryAt(dir, name, out, true);
  if (found)
    return NAMESAKE_FOUND;
  return foundNothing(GetLastError()) ? NAMESAKE_ABSENT : NAMESAKE_FAILED;
}

namespace {

// Looks up the level's namesake (level.destPattern names it).
// The directory is opened at the level's first lookup, and again at the first after each
// subdirectory walked: a subdirectory's walk may take long, and the files after it are looked
// up in the directory that the level's destination path names when they are reached, as the
// subdirectory's were.
NamesakeLookup lookUpNamesake(Level &level) {
  if (level.lookupDue)
    openLevelLookups(level);
  return static_cast<NamesakeLookup>(lookUpNamesakeOf(
      level.entry, level.lookupDir, level.destNameSlot, destAttributesNeeded(), &level.namesake));
}

// Reports a file whose namesake could not be looked up as a failure of the action it would
// have met, with the lookup's error: nothing is done to a file whose namesake may exist.
void reportNamesakeFailure(const Level &level) {
  DWORD code = GetLastError();
  if (filteredByArchive(level.entry.dwFileAttributes))
    return;
  if (beginItemLine() && runState.mode != MODE_DELETE)
    std::printf("%s\t%s %s", level.sourcePattern, modeTraits().arrow, level.destPattern);
  else
    std::printf("%s", level.sourcePattern);
  reportError("", static_cast<int32_t>(code));
  flushAfterItem();
  recordFailure(blockedActionStatus());
}

// Pairs the listed file with its destination namesake and hands the pair to the actions. With
// `prepared`, its namesake was looked up ahead (and more may have been prepared for the action).
void handleFile(Level &level, AheadSlot *prepared) {
  const char *sourcePath = level.sourcePattern;
  DWORD attributes = level.entry.dwFileAttributes;
  runState.fileCount += 1;
  if (!level.destDirExists) {
    if (modeTraits().makesDestDirs)
      reportDestinationNotReady(level);
    else // a delete pairs nothing and a compare has nothing to compare with
      level.total += handleAbsent(sourcePath, level.destPattern, attributes);
    return;
  }
  if (!pathPut(level.destPattern, level.destNameSlot, level.nameSlot)) {
    reportEntryTooLong(level.destPattern, level.destNameSlot, level.nameSlot,
                       blockedActionStatus());
    return;
  }
  NamesakeLookup namesake;
  if (prepared != nullptr) {
    namesake = static_cast<NamesakeLookup>(prepared->namesake);
    if (namesake == NAMESAKE_FOUND)
      level.namesake = prepared->found;
    SetLastError(prepared->lookupError);
    offerPrepared(&prepared->work);
  } else {
    namesake = level.destDirFresh ? NAMESAKE_ABSENT : lookUpNamesake(level);
  }
  if (namesake == NAMESAKE_FOUND)
    level.total +=
        handleExisting(sourcePath, level.destPattern, attributes, level.entry, level.namesake);
  else if (namesake == NAMESAKE_ABSENT)
    level.total += handleAbsent(sourcePath, level.destPattern, attributes);
  else
    reportNamesakeFailure(level);
  offerPrepared(nullptr);
}

// How a subdirectory's destination is chosen when it is descended.
enum DescentKind {
  DESCEND_OWN_NAME, // below the destination directory, under its own name
  DESCEND_MERGED,   // the destination directory itself (a directory named by the source)
  DESCEND_MASKED,   // own name, and the level's mask carried down (the subdirectory pass)
};

// Walks the listed subdirectory: its source path gets its separator (and the carried mask),
// its destination is set, and after the walk an emptied source directory is removed where the
// mode says so. A subdirectory that is one of the directories open in the walk (reached again
// through a link or junction) is refused: walking it would repeat the walk inside itself. One
// that is the destination directory itself is refused as the same path. A directory that the
// user named through a link is walked, but never removed through the link.
void descend(Level &level, DescentKind kind) {
  if (!pathAppendChar(level.sourcePattern, '\\')) {
    reportTooLong(level.sourcePattern, std::strlen(level.sourcePattern), "\\",
                  blockedActionStatus(), true);
    return;
  }
  Descent into;
  into.parent = &level;
  into.unlisted = false;
  into.identityKnown = readIdentity(level.sourcePattern, &into.identity);
  if (into.identityKnown && isWalkDestination(level, into.identity)) {
    noteSamePath();
    return;
  }
  if (into.identityKnown && isOpenInWalk(level, into.identity)) {
    beginItemLine();
    reportError(level.sourcePattern, static_cast<int32_t>(ERROR_CANT_RESOLVE_FILENAME));
    recordFailure(blockedActionStatus());
    return;
  }
  if (level.destPattern[0] != 0) {
    if (kind == DESCEND_MERGED) {
      *level.destNameSlot = 0;
    } else if (!pathPut(level.destPattern, level.destNameSlot, level.nameSlot)) {
      reportEntryTooLong(level.destPattern, level.destNameSlot, level.nameSlot, blockedDirStatus());
      return;
    }
  }
  if (kind == DESCEND_MASKED && !pathAppend(level.sourcePattern, level.sourceMask)) {
    reportTooLong(level.sourcePattern, std::strlen(level.sourcePattern), level.sourceMask,
                  blockedActionStatus(), true);
    return;
  }
  DWORD attributes = level.entry.dwFileAttributes;
  bool throughLink = isLinkEntry(level.entry);
  runState.dirCount += 1;
  level.total +=
      walkLevel(level.sourcePattern, level.destPattern, attributes, level.exclusions, &into);
  // A directory whose listing failed is not known to be empty: it is left alone.
  if (modeTraits().removesSourceDirs && !into.unlisted && !throughLink)
    removeSourceDir(level.sourcePattern);
}

// Handles the listed entry (level.entry): an accepted file goes to the actions, and a
// subdirectory is descended when /s takes the whole directory or the source names it. With
// `prepared`, the file's namesake was looked up ahead. True when a file went to the actions.
bool handleListed(Level &level, AheadSlot *prepared) {
  int r = classifyEntry(level.entry, level.sourcePattern, level.nameSlot, level.exclusions);
  // A link taken as itself is an entry like a file, whatever it leads to.
  bool isDir = (level.entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
               !isLinkItself(level, level.entry, r);
  bool wholeTree = runState.recurse && level.sourceMask[0] == 0;
  if (r == ENTRY_TOO_LONG) {
    // A file, or a directory that /s would descend, is lost: report it.
    if (!isDir)
      runState.fileCount += 1;
    if (!isDir || wholeTree)
      reportEntryTooLong(level.sourcePattern, level.nameSlot, level.entry.cFileName,
                         blockedActionStatus());
    return false;
  }
  if (r == ENTRY_BAD_NAME) {
    // Seen, and lost like a path too long: a file, or a directory /s would descend.
    if (!isDir)
      runState.fileCount += 1;
    if (!isDir || wholeTree)
      reportBadName(level);
    return false;
  }
  if (r <= 0)
    return false;
  if (!isDir) {
    handleFile(level, prepared);
    *level.destNameSlot = 0;
    return true;
  }
  if (wholeTree || r == ENTRY_NAMED) {
    // A directory named by the source, met first, has its content merged into the
    // destination directory itself; every other one gets its own name below it.
    bool merged = *level.destNameSlot == '*' && r == ENTRY_NAMED;
    descend(level, merged ? DESCEND_MERGED : DESCEND_OWN_NAME);
    level.lookupDue = true;
    if (r == ENTRY_NAMED)
      level.sourceMask[0] = 0;
  }
  *level.destNameSlot = 0;
  return false;
}

// Whether a move from this level is likely to have to copy: its source and destination
// directories are on different volumes (asked once per level; a file that is a mount of its
// own is the exception the move itself still finds). Only a guess for work done ahead.
bool movesAcrossVolumes(Level &level) {
  if (runState.mode != MODE_MOVE || !level.identityKnown)
    return false;
  if (level.movesAcross < 0) {
    char kept = *level.destNameSlot;
    *level.destNameSlot = 0;
    FileIdentity dest;
    level.movesAcross = readIdentity(level.destPattern[0] != 0 ? level.destPattern : ".", &dest) &&
                                !(dest.volume == level.identity.volume)
                            ? 1
                            : 0;
    *level.destNameSlot = kept;
  }
  return level.movesAcross == 1;
}

// What describeSlot finds, the entry's name written at the name slot on the way.
bool classifySlot(Level &level, AheadSlot &slot) {
  slot.kind = AHEAD_ENTRY;
  int r = classifyEntry(slot.entry, level.sourcePattern, level.nameSlot, level.exclusions);
  if (r == ENTRY_TOO_LONG || r == ENTRY_BAD_NAME || r <= 0)
    return false;
  if ((slot.entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      !isLinkItself(level, slot.entry, r))
    return (runState.recurse && level.sourceMask[0] == 0) || r == ENTRY_NAMED;
  if (!level.destDirExists)
    return false;
  size_t prefix = static_cast<size_t>(level.destNameSlot - level.destPattern);
  std::memcpy(slot.destination, level.destPattern, prefix);
  if (!pathPut(slot.destination, slot.destination + prefix, level.nameSlot))
    return false;
  std::memcpy(slot.source, level.sourcePattern, PATH_BUF);
  slot.lookUp = !level.destDirFresh;
  if (slot.lookUp && level.lookupDue)
    openLevelLookups(level); // (no file of the level is in the ring: none still looks up)
  slot.lookupDir = &level.lookupDir;
  slot.name = slot.destination + prefix;
  slot.attributesNeeded = destAttributesNeeded();
  slot.acrossVolumes = movesAcrossVolumes(level);
  slot.kind = AHEAD_FILE;
  return false;
}

// Puts the listed entry in `slot` into the ring as the walk will meet it: a file to prepare
// (its paths set), or an entry the walk handles itself. True when the entry is a directory the
// walk will descend: nothing after it is listed before that, since the walk below it uses the
// ring too (and what it finds there may decide how later entries are met).
//
// The named test of an entry looks at the name slot as the entry before it left it (the mask as
// typed for the first). The entry is classified here as the walk will classify it when it comes
// to it, with the slot as the entry listed before left it (listedBefore), and the slot is given
// back as the walk left it, which goes on in listing order from there.
PathBuf listedBefore; // while entries wait in the ring: the slot as the last one listed left it
bool describeSlot(Level &level, AheadSlot &slot) {
  PathBuf kept;
  size_t keptLength = std::strlen(level.nameSlot) + 1;
  std::memcpy(kept, level.nameSlot, keptLength);
  if (!aheadPending()) // nothing waits: the walk's own slot is where the listing stands
    std::memcpy(listedBefore, kept, keptLength);
  // (Both texts come from this level's slot: they fit it.)
  std::memcpy(level.nameSlot, listedBefore, std::strlen(listedBefore) + 1);
  bool blocked = classifySlot(level, slot);
  std::memcpy(listedBefore, level.nameSlot, std::strlen(level.nameSlot) + 1);
  std::memcpy(level.nameSlot, kept, keptLength);
  return blocked;
}

// The first pass with workers: the listing is read ahead into the ring, where the workers look
// up the namesakes of its files (and prepare what the actions will need) while the walk commits
// the entries in listing order, exactly as the plain first pass would. When the run stops, what
// was prepared for later entries is dropped. The listing's first entry not yet handled is in
// level.entry. True when the walk is to go on by itself (work ahead no longer pays): every entry
// listed so far is handled, the listing goes on with its next entry.
bool firstPassAhead(Level &level, HANDLE search) {
  aheadBegin();
  bool firstHeld = true; // level.entry holds the listing's first entry, not yet in the ring
  bool listing = true;   // the listing may hold more entries
  bool blocked = false;  // a directory to descend is in the ring: list no further until then
  for (;;) {
    bool wanted = aheadWanted();
    while (listing && !blocked && wanted && aheadFree() > 0) {
      AheadSlot &slot = aheadNext();
      if (firstHeld) {
        slot.entry = level.entry;
        firstHeld = false;
      } else if (!FindNextFileA(search, &slot.entry)) {
        DWORD code = GetLastError();
        listing = false;
        if (code == ERROR_NO_MORE_FILES)
          break;
        slot.kind = AHEAD_BROKEN;
        slot.error = code;
        aheadSubmit();
        break;
      }
      blocked = describeSlot(level, slot);
      aheadSubmit();
    }
    if (!aheadPending())
      return listing && !firstHeld;
    AheadSlot &slot = aheadAwait();
    if (slot.kind == AHEAD_FILE) {
      level.entry = slot.entry;
      handleListed(level, &slot);
      noteFileCost(slot.took);
      aheadRelease();
    } else {
      // Given back first: a descent fills the ring from here.
      AheadKind kind = slot.kind;
      DWORD error = slot.error;
      level.entry = slot.entry;
      aheadRelease();
      if (kind == AHEAD_BROKEN) {
        reportUnlisted(level, error, false);
      } else {
        if (!aheadPending())
          blocked = false; // this was the last entry listed: the directory, if one blocked
        handleListed(level, nullptr);
      }
    }
    if (shouldStop()) {
      while (aheadPending()) { // dropped: nothing after the failure happens
        aheadAwait();
        aheadRelease();
      }
      return false;
    }
  }
}

// The first pass over the level's listing: every listed entry is handled in listing order.
// Files that take long (see aheadWanted) have the rest of the listing worked ahead.
void firstPass(Level &level, HANDLE search) {
  if (shouldStop())
    return;
  for (;;) {
    if (aheadWanted()) {
      if (!firstPassAhead(level, search))
        return;
      // Every entry listed so far is handled: the walk goes on by itself with the next one.
    } else {
      int64_t start = aheadMicros();
      if (handleListed(level, nullptr))
        noteFileCost(aheadMicros() - start);
      if (shouldStop())
        return;
    }
    if (!listNext(level, search))
      return;
  }
}

// The subdirectory pass carries a wildcard or dotted mask down into every subdirectory.
void subdirectoryPass(Level &level) {
  if (!pathPut(level.sourcePattern, level.nameSlot, "*.*")) {
    reportEntryTooLong(level.sourcePattern, level.nameSlot, "*.*", blockedActionStatus());
    return;
  }
  HANDLE search = listFirst(level);
  if (search == INVALID_HANDLE_VALUE)
    return;
  do {
    int r = classifyEntry(level.entry, level.sourcePattern, level.nameSlot, level.exclusions);
    // A link taken as itself was the first pass's, as a file is.
    if ((level.entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        isLinkItself(level, level.entry, r))
      continue;
    if (r == ENTRY_TOO_LONG) {
      reportEntryTooLong(level.sourcePattern, level.nameSlot, level.entry.cFileName,
                         blockedActionStatus());
      continue;
    }
    if (r == ENTRY_BAD_NAME) {
      reportBadName(level);
      continue;
    }
    if (r > 0)
      descend(level, DESCEND_MASKED);
  } while (!shouldStop() && listNext(level, search));
  FindClose(search);
}

// Reads the identity of the directory that the level lists (the pattern up to its name slot; an
// empty directory part is the current directory).
void readLevelIdentity(Level &level) {
  char kept = *level.nameSlot;
  *level.nameSlot = 0;
  level.identityKnown =
      readIdentity(level.sourcePattern[0] != 0 ? level.sourcePattern : ".", &level.identity);
  *level.nameSlot = kept;
}

// Walks one level of one source into its destination and returns the number of files acted on
// in the whole subtree. `from` is what the descending level hands over (null at the top).
int walkLevel(const char *source, char *destination, DWORD attributes, const char *exclusions,
              Descent *from) {
  Level level; // this level's working storage
  level.nameSlot = nullptr;
  level.destNameSlot = nullptr;
  level.sameNameDest = false;
  level.destDirExists = false;
  level.destDirFresh = false;
  level.unlisted = false;
  level.destDirError = 0;
  level.lookupOpen = false;
  level.lookupDue = true;
  level.destIdKnown = false;
  level.movesAcross = -1;
  level.identityKnown = from != nullptr && from->identityKnown;
  if (level.identityKnown)
    level.identity = from->identity;
  level.parent = from != nullptr ? from->parent : nullptr;
  level.exclusions = exclusions;
  level.total = 0;

  runState.depth += 1;
  if (runState.verbose)
    openBlock(source, destination);
  if (modeTraits().needsDestination && destination[0] == 0)
    pathPut(destination, destination, ".\\");
  if (source[0] != 0 && destinationInSourceText(source, destination))
    noteSamePath();
  else if (source[0] != 0 && !prepareLevel(level, source, destination))
    level.unlisted = true; // not walked: its content is unknown, so it is never removed
  else if (source[0] != 0) {
    if (from == nullptr)
      readLevelIdentity(level); // the top of the chain of open directories
    HANDLE search = listFirstPass(level);
    if (search != INVALID_HANDLE_VALUE) {
      readyDestination(level, destination, attributes);
      if (from == nullptr)
        readDestIdentity(level);
      firstPass(level, search);
      FindClose(search);
    }
    // A directory that cannot be listed is reported once, not again by the second pass.
    if (!level.unlisted && !shouldStop() && runState.recurse && level.sourceMask[0] != 0 &&
        !looksLikePath(level.sourceMask)) {
      if (from == nullptr)
        readDestIdentity(level);
      subdirectoryPass(level);
    }
  }
  if (level.lookupOpen)
    closeLookupDir(&level.lookupDir);
  if (runState.verbose)
    closeBlock();
  runState.depth -= 1;
  if (from != nullptr)
    from->unlisted = level.unlisted;
  return level.total;
}

} // namespace

// Walks one source into one destination: the top level, whose listing failure is reported
// like any other.
int walkTree(const char *source, char *destination, DWORD attributes, const char *exclusions) {
  int total = walkLevel(source, destination, attributes, exclusions, nullptr);
  aheadEnd();
  return total;
}
