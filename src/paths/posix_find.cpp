// Directory enumeration on POSIX: FindFirstFileA, FindNextFileA and FindClose with the Win32
// rules for the last component, "." and ".." first, then names in upper-case-folded order.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include "paths/lookup.h"
#include "paths/pathtext.h"
#include "paths/posix_errors.h"
#include "paths/posix_facts.h"
#include "paths/posix_names.h"
#include "paths/posix_sys.h"
#include "paths/posix_time.h"
#include "paths/winapi.h"

namespace {

constexpr uint32_t SEARCH_MAGIC = 0x46494E44u; // "FIND"

// The longest last component whose reading can wait (any the core makes is shorter).
constexpr size_t DEFERRED_PATTERN = 520;

// One name of a listing: where it lies in the arena, and its sort key (see sortKey).
struct Ordered {
  uint64_t key;
  uint32_t offset;
};

// One search. The names of a wildcard search are read once and each entry is examined when it
// is handed out. The first entry is found by one pass over the names; the others are sorted
// only when FindNextFileA asks for them, so that a search that only asks whether anything is
// there sorts nothing. The arenas grow on the heap and are kept for the next search when the
// handle is closed (a few released handles are cached).
//
// A pattern that matches "." has that entry first whatever else the directory holds, so the
// search hands it out at once and reads the names only when the next entry is asked for: a
// search that only tells whether a directory exists costs no listing of it.
struct SearchState {
  uint32_t magic;
  int dirFd;                      // the directory of a wildcard search; -1 for an exact lookup
  bool xattrUnsupported;          // the directory's file system keeps no extended attributes
  bool namesDeferred;             // only "." has been handed out; the names are still to be read
  char pattern[DEFERRED_PATTERN]; // the last component, while the names are still to be read
  size_t dirLength;               // length of the directory part in fullPath (with its `/`)
  char fullPath[SYS_PATH];        // directory part, then the current entry's name
  char *names;                    // NUL-terminated matching names, one after another
  size_t namesLength, namesCapacity;
  Ordered *order; // the names, in listing order from `sorted` on
  size_t count, orderCapacity;
  size_t next; // the next entry FindNextFileA hands out
  bool sorted; // order[1..count) is sorted (order[0] is the first in any case)
  int denied;  // the errno that refused examining an entry: the directory cannot be searched
  SearchState *nextFree;
};

// The last file a listing handed out (see noteListedFile).
struct ListedFile {
  bool valid;
  uint64_t dev, ino;
  SysTime ctime;
  int32_t stored;
};
// The walk lists: a copy on another thread (prepared ahead) finds no note and reads the
// attributes itself.
thread_local ListedFile listedFile = {};

// Released handles kept for reuse (single-threaded program; never more than a few).
SearchState *freeStates = nullptr;
int freeCount = 0;
constexpr int FREE_KEEP = 4;
constexpr size_t ARENA_KEEP = 1u << 20; // larger arenas are returned to the system

SearchState *newState() {
  SearchState *state = freeStates;
  if (state != nullptr) {
    freeStates = state->nextFree;
    --freeCount;
  } else {
    // Not cleared as a whole: only the bytes of fullPath in use are ever touched.
    state = static_cast<SearchState *>(malloc(sizeof(SearchState)));
    if (state == nullptr)
      return nullptr;
    state->names = nullptr;
    state->namesCapacity = 0;
    state->order = nullptr;
    state->orderCapacity = 0;
  }
  state->magic = SEARCH_MAGIC;
  state->dirFd = -1;
  state->xattrUnsupported = false;
  state->namesDeferred = false;
  state->dirLength = 0;
  state->fullPath[0] = '\0';
  state->namesLength = 0;
  state->count = 0;
  state->next = 0;
  state->sorted = false;
  state->denied = 0;
  state->nextFree = nullptr;
  return state;
}

void releaseState(SearchState *state) {
  if (state->dirFd >= 0)
    close(state->dirFd);
  state->dirFd = -1;
  state->magic = 0;
  if (freeCount >= FREE_KEEP) {
    free(state->names);
    free(state->order);
    free(state);
    return;
  }
  if (state->namesCapacity > ARENA_KEEP) {
    free(state->names);
    state->names = nullptr;
    state->namesCapacity = 0;
  }
  if (state->orderCapacity * sizeof(Ordered) > ARENA_KEEP) {
    free(state->order);
    state->order = nullptr;
    state->orderCapacity = 0;
  }
  state->nextFree = freeStates;
  freeStates = state;
  ++freeCount;
}

// The first eight bytes of a name in listing order, as one number: ASCII letters folded to upper
// case, big-endian, a short name padded with zeros (so that it comes before its extensions);
// "." is 0 and ".." 1, before every other name. Names whose keys differ are in the order of
// their keys; names of equal keys are compared in full (nameBefore).
uint64_t sortKey(const char *name, size_t length) {
  if (name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.')))
    return length - 1;
  uint64_t key = 0;
  for (size_t i = 0; i < 8; ++i)
    key = (key << 8) | (i < length ? upperAscii(static_cast<unsigned char>(name[i])) : 0);
  return key;
}

// First sizes of the arenas: enough for a directory of a few dozen entries. The walk keeps one
// search open on every level it is inside, so these are paid once per level of depth; larger
// directories grow the arenas by doubling.
constexpr size_t NAMES_START = 1024;
constexpr size_t ORDER_START = 64;

// Adds one name to the arena; false when memory runs out.
bool addName(SearchState *state, const char *name, size_t length) {
  if (state->namesLength + length + 1 > state->namesCapacity) {
    size_t capacity = state->namesCapacity != 0 ? state->namesCapacity * 2 : NAMES_START;
    while (capacity < state->namesLength + length + 1)
      capacity *= 2;
    char *grown = static_cast<char *>(realloc(state->names, capacity));
    if (grown == nullptr)
      return false;
    state->names = grown;
    state->namesCapacity = capacity;
  }
  if (state->count == state->orderCapacity) {
    size_t capacity = state->orderCapacity != 0 ? state->orderCapacity * 2 : ORDER_START;
    Ordered *grown = static_cast<Ordered *>(realloc(state->order, capacity * sizeof(Ordered)));
    if (grown == nullptr)
      return false;
    state->order = grown;
    state->orderCapacity = capacity;
  }
  if (state->namesLength > UINT32_MAX - length - 1)
    return false;
  state->order[state->count++] = {sortKey(name, length), static_cast<uint32_t>(state->namesLength)};
  memcpy(state->names + state->namesLength, name, length + 1);
  state->namesLength += length + 1;
  return true;
}

// "." first, ".." second, then everything else.
int dotRank(const char *name) {
  if (name[0] == '.' && name[1] == '\0')
    return 0;
  if (name[0] == '.' && name[1] == '.' && name[2] == '\0')
    return 1;
  return 2;
}

// The listing order: dot entries first, then bytes with ASCII letters folded to upper case,
// exact bytes breaking ties.
bool nameBefore(const char *a, const char *b) {
  int rankA = dotRank(a), rankB = dotRank(b);
  if (rankA != rankB)
    return rankA < rankB;
  const unsigned char *x = reinterpret_cast<const unsigned char *>(a);
  const unsigned char *y = reinterpret_cast<const unsigned char *>(b);
  for (;; ++x, ++y) {
    unsigned char cx = upperAscii(*x);
    unsigned char cy = upperAscii(*y);
    if (cx != cy)
      return cx < cy;
    if (cx == 0)
      break;
  }
  return strcmp(a, b) < 0;
}

// The listing order of two names of the arena.
bool orderedBefore(const char *base, const Ordered &a, const Ordered &b) {
  if (a.key != b.key)
    return a.key < b.key;
  return nameBefore(base + a.offset, base + b.offset);
}

// Moves the first name in listing order to the front: one pass, no sort.
void placeFirst(SearchState *state) {
  if (state->count == 0)
    return;
  const char *base = state->names;
  size_t first = 0;
  for (size_t i = 1; i < state->count; ++i)
    if (orderedBefore(base, state->order[i], state->order[first]))
      first = i;
  std::swap(state->order[0], state->order[first]);
}

// Sorts the names after the first, once FindNextFileA asks for them.
void sortRest(SearchState *state) {
  const char *base = state->names;
  if (state->count > 2)
    std::sort(state->order + 1, state->order + state->count,
              [base](const Ordered &a, const Ordered &b) { return orderedBefore(base, a, b); });
  state->sorted = true;
}

// Copies the facts into the entry record. A symbolic link keeps the facts of what it leads to
// and is told by its reparse tag alone, as Windows leaves a reparse point's tag in dwReserved0
// (see isLinkEntry).
void fillEntry(const FileFacts &facts, const char *name, FindEntry *entry) {
  memset(entry, 0, sizeof *entry);
  entry->dwFileAttributes = facts.attributes;
  if (facts.isLink)
    entry->dwReserved0 = IO_REPARSE_TAG_SYMLINK;
  putTicks(&entry->ftCreationTime, facts.createTicks);
  putTicks(&entry->ftLastAccessTime, facts.accessTicks);
  putTicks(&entry->ftLastWriteTime, facts.writeTicks);
  entry->nFileSizeHigh = static_cast<DWORD>(facts.size >> 32);
  entry->nFileSizeLow = static_cast<DWORD>(facts.size & 0xFFFFFFFFu);
  size_t length = strlen(name);
  if (length >= sizeof entry->cFileName)
    length = sizeof entry->cFileName - 1;
  memcpy(entry->cFileName, name, length);
  entry->cFileName[length] = '\0';
}

// Hands out the next entry of a wildcard search that still exists; false at the end, or when
// the directory turns out not to be searchable (`denied` then holds the errno).
bool nextEntry(SearchState *state, FindEntry *entry) {
  while (state->denied == 0 && state->next < state->count) {
    if (state->next > 0 && !state->sorted)
      sortRest(state);
    const char *name = state->names + state->order[state->next++].offset;
    size_t length = strlen(name);
    if (state->dirLength + length + 1 > SYS_PATH)
      continue;
    memcpy(state->fullPath + state->dirLength, name, length + 1);
    FileFacts facts;
    int err =
        statFacts(state->dirFd, name, state->fullPath, name, &facts, &state->xattrUnsupported);
    if (err == ENOENT || err == ENOTDIR)
      continue; // removed since the directory was read
    if (err == EACCES || err == EPERM) {
      // The entry itself was not even reached (a final link is followed only afterwards): the
      // directory can be read but not searched, and no entry of it can be examined or opened.
      state->denied = err;
      return false;
    }
    if (err != 0) {
      // Listed all the same (an empty file, as an unreachable link is), so that the operation
      // on it reports why it fails instead of the entry being left out without a word.
      memset(&facts, 0, sizeof facts);
      facts.dangling = true;
      facts.targetError = err;
      facts.stored = -1;
      facts.attributes = computeAttributes(facts, name);
    }
    if (err == 0 && !facts.dangling && !facts.isDir)
      noteListedFile(facts);
    fillEntry(facts, name, entry);
    return true;
  }
  return false;
}

// Rewrites a path whose last component is "." or ".." into the path of the directory it names
// (textually where a plain name precedes, as Win32 does; through realpath otherwise).
// False with the last error set when it names the root or cannot be resolved.
bool resolveDotTail(char *sys) {
  char original[SYS_PATH];
  strcpy(original, sys);
  for (;;) {
    char *slash = strrchr(sys, '/');
    char *component = slash != nullptr ? slash + 1 : sys;
    if (!isDotEntry(component)) {
      if (component[0] != '\0')
        return true;
      SetLastError(ERROR_FILE_NOT_FOUND);
      return false;
    }
    bool up = component[1] == '.';
    if (slash == nullptr)
      break; // relative to the current directory
    if (slash == sys) {
      SetLastError(ERROR_FILE_NOT_FOUND); // the root has no entry
      return false;
    }
    *slash = '\0';
    while (slash > sys + 1 && slash[-1] == '/')
      *--slash = '\0';
    if (!up)
      continue;
    char *before = strrchr(sys, '/');
    char *name = before != nullptr ? before + 1 : sys;
    if (name[0] == '\0' || isDotEntry(name))
      break;
    if (before == nullptr) {
      strcpy(sys, ".");
      continue;
    }
    if (before == sys) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return false;
    }
    *before = '\0';
  }
  char resolved[PATH_MAX];
  if (realpath(original, resolved) == nullptr) {
    setLastErrorFromErrno(errno, original);
    return false;
  }
  if (strcmp(resolved, "/") == 0 || strlen(resolved) >= SYS_PATH) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  strcpy(sys, resolved);
  return true;
}

// One exact lookup: the entry as the file system spells it, or nothing.
HANDLE lookUpExact(const char *sys, FindEntry *entry) {
  const char *name = lastComponent(sys);
  FileFacts facts;
  int err = statFacts(AT_FDCWD, sys, sys, name, &facts);
  if (err != 0) {
    setLastErrorFromErrno(err, sys);
    return INVALID_HANDLE_VALUE;
  }
  SearchState *state = newState();
  if (state == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  fillEntry(facts, name, entry);
  return state;
}

// What the reading of one directory adds its names to.
struct ListingContext {
  SearchState *state;
  const char *pattern;
  bool matchesAll; // the pattern matches every name: none is matched one by one
};

// Whether a pattern matches every name: stars alone, or `*.*` (which by the `.*` rule also
// matches a name without a dot).
bool matchesEveryName(const char *pattern) {
  if (strcmp(pattern, "*.*") == 0)
    return true;
  for (const char *p = pattern; *p != '\0'; ++p)
    if (*p != '*')
      return false;
  return true;
}

// Keeps a name that matches the pattern; false when memory runs out.
bool addMatchingName(void *context, const char *name, size_t length) {
  ListingContext *listing = static_cast<ListingContext *>(context);
  return (!listing->matchesAll && !wildcardMatch(listing->pattern, name)) ||
         addName(listing->state, name, length);
}

// Reads the names of the search's directory that match `pattern` into the arenas and moves the
// first in listing order to the front. 0, or the Win32 error that stopped it.
DWORD readNames(SearchState *state, const char *pattern) {
  state->namesLength = 0;
  state->count = 0;
  state->next = 0;
  state->sorted = false;
  ListingContext context = {state, pattern, matchesEveryName(pattern)};
  int err = sysReadNames(state->dirFd, addMatchingName, &context);
  if (err != 0)
    return err == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : win32ErrorFromErrno(err, ERRNO_DIRECTORY);
  placeFirst(state);
  return 0;
}

// Reads the names that a search handed out "." without, and passes over that "." again.
DWORD readDeferredNames(SearchState *state) {
  state->namesDeferred = false;
  DWORD err = readNames(state, state->pattern);
  if (err == 0 && state->count > 0 && dotRank(state->names + state->order[0].offset) == 0)
    state->next = 1;
  return err;
}

// Reads the directory, keeps the names that match and hands out the first.
HANDLE listDirectory(char *sys, const char *pattern, FindEntry *entry) {
  SearchState *state = newState();
  if (state == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  size_t dirLength = static_cast<size_t>(pattern - sys);
  memcpy(state->fullPath, sys, dirLength);
  state->fullPath[dirLength] = '\0';
  state->dirLength = dirLength;
  state->dirFd = open(dirLength != 0 ? state->fullPath : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (state->dirFd < 0) {
    int err = errno;
    SetLastError(win32ErrorFromErrno(err, ERRNO_DIRECTORY));
    releaseState(state);
    return INVALID_HANDLE_VALUE;
  }
  size_t patternLength = strlen(pattern);
  if (patternLength < sizeof state->pattern && wildcardMatch(pattern, ".")) {
    memcpy(state->pattern, pattern, patternLength + 1);
    if (addName(state, ".", 1) && nextEntry(state, entry)) {
      state->namesDeferred = true;
      return state;
    }
    // "." cannot be examined (its directory is gone): the whole listing says what is left.
  }
  DWORD err = readNames(state, pattern);
  if (err != 0) {
    SetLastError(err);
    releaseState(state);
    return INVALID_HANDLE_VALUE;
  }
  if (!nextEntry(state, entry)) {
    SetLastError(state->denied != 0 ? win32ErrorFromErrno(state->denied) : ERROR_FILE_NOT_FOUND);
    releaseState(state);
    return INVALID_HANDLE_VALUE;
  }
  return state;
}

} // namespace

// FindFirstFileA: the last component is normalized (trailing dots and spaces dropped, "." and
// ".." resolved to the directory they name); with `*` or `?` the directory is listed, without
// them the one entry is looked up exactly. A name that exists exactly as written is that entry:
// its trailing dots and spaces are dropped only when it does not (POSIX names may end in them,
// and readme and readme. may be two files).
HANDLE FindFirstFileA(const char *pattern, FindEntry *entry) {
  if (pattern == nullptr || entry == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  char sys[SYS_PATH];
  if (!toSystemPath(pattern, sys))
    return INVALID_HANDLE_VALUE;
  char *component = const_cast<char *>(lastComponent(sys));
  if (isDotEntry(component)) {
    if (!resolveDotTail(sys))
      return INVALID_HANDLE_VALUE;
    return lookUpExact(sys, entry);
  }
  size_t length = strlen(component);
  bool wildcard = strpbrk(component, "*?") != nullptr;
  if (!wildcard && length > 0 && (component[length - 1] == '.' || component[length - 1] == ' ')) {
    HANDLE exact = lookUpExact(sys, entry);
    if (exact != INVALID_HANDLE_VALUE)
      return exact;
  }
  while (length > 0 && (component[length - 1] == '.' || component[length - 1] == ' '))
    component[--length] = '\0';
  if (length == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (!wildcard)
    return lookUpExact(sys, entry);
  return listDirectory(sys, component, entry);
}

// FindNextFileA: the next entry in listing order; false with 18 at the end.
BOOL FindNextFileA(HANDLE search, FindEntry *entry) {
  SearchState *state = static_cast<SearchState *>(search);
  if (search == INVALID_HANDLE_VALUE || state == nullptr || state->magic != SEARCH_MAGIC ||
      entry == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE_NUM);
    return FALSE;
  }
  if (state->namesDeferred) {
    DWORD err = readDeferredNames(state);
    if (err != 0) {
      SetLastError(err);
      return FALSE;
    }
  }
  if (nextEntry(state, entry))
    return TRUE;
  SetLastError(state->denied != 0 ? win32ErrorFromErrno(state->denied) : ERROR_NO_MORE_FILES_NUM);
  return FALSE;
}

void noteListedFile(const FileFacts &facts) {
  listedFile = {true, facts.dev, facts.ino, facts.changeTime, facts.stored};
}

bool listedStoredAttributes(uint64_t dev, uint64_t ino, const SysTime &ctime, int32_t *stored) {
  if (!listedFile.valid || listedFile.dev != dev || listedFile.ino != ino ||
      !(listedFile.ctime == ctime))
    return false;
  *stored = listedFile.stored;
  return true;
}

// FindClose: ends a search and keeps its buffers for the next one.
BOOL FindClose(HANDLE search) {
  SearchState *state = static_cast<SearchState *>(search);
  if (search == INVALID_HANDLE_VALUE || state == nullptr || state->magic != SEARCH_MAGIC) {
    SetLastError(ERROR_INVALID_HANDLE_NUM);
    return FALSE;
  }
  releaseState(state);
  return TRUE;
}

namespace {

// The exact lookup of one name: one stat, and one extended-attribute read only when the caller
// looks at the stored bits. `dirFd` is the directory `sys` is looked up relative to (by its last
// component), or AT_FDCWD for the whole path.
bool lookupSystemEntry(int dirFd, const char *sys, FindEntry *entry, bool storedAttributes) {
  const char *name = lastComponent(sys);
  bool skipStored = !storedAttributes;
  FileFacts facts;
  int err = statFacts(dirFd, dirFd == AT_FDCWD ? sys : name, sys, name, &facts, &skipStored);
  if (err != 0) {
    setLastErrorFromErrno(err); // a missing namesake is 2: no look at its directory
    return false;
  }
  fillEntry(facts, name, entry);
  return true;
}

} // namespace

bool lookupEntry(const char *path, FindEntry *entry, bool storedAttributes) {
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return false;
  return lookupSystemEntry(AT_FDCWD, sys, entry, storedAttributes);
}

// The descriptor of the directory, needing only the permission to search it where the system
// allows (sysOpenLookupDirectory).
bool openLookupDir(const char *path, LookupDir *dir) {
  dir->fd = -1;
  dir->error = 0;
  dir->path[0] = '\0';
  if (!pathPut(dir->path, dir->path, path)) {
    dir->error = ERROR_FILENAME_EXCED_RANGE;
    SetLastError(dir->error);
    return false;
  }
  if (*lastCharPtr(path) != '\\')
    return true; // no directory of its own (empty, or a drive prefix): by whole paths
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys)) {
    dir->error = GetLastError();
    return false;
  }
  dir->fd = sysOpenLookupDirectory(sys);
  if (dir->fd >= 0)
    return true;
  int err = errno;
  // Refused where the open wants to read the directory (a searchable, unreadable one where the
  // system has no open for searching), or no descriptor left: the names may still be reached by
  // their paths, as every lookup of the whole path would.
  if (err == EACCES || err == EPERM || err == EMFILE || err == ENFILE)
    return true;
  setLastErrorFromErrno(err, sys);
  dir->error = GetLastError();
  return false;
}

// One stat relative to the directory's descriptor (and one extended-attribute read where asked
// for), nothing kept: safe from several threads at once.
bool lookupEntryAt(const LookupDir &dir, const char *name, FindEntry *entry,
                   bool storedAttributes) {
  PathBuf whole;
  char sys[SYS_PATH];
  if (!lookupDirPath(dir, name, whole) || !toSystemPath(whole, sys))
    return false;
  return lookupSystemEntry(dir.fd >= 0 ? dir.fd : AT_FDCWD, sys, entry, storedAttributes);
}

void closeLookupDir(LookupDir *dir) {
  if (dir->fd >= 0)
    close(dir->fd);
  dir->fd = -1;
}
