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

#include "paths/posix_layer.h"

namespace {

constexpr uint32_t SEARCH_MAGIC = 0x46494E44u; // "FIND"

// One search. The names of a wildcard search are read once, sorted, and each entry is
// examined when it is handed out. The arenas grow on the heap and are kept for the next
// search when the handle is closed (a few released handles are cached).
struct SearchState {
  uint32_t magic;
  int dirFd;               // the directory of a wildcard search; -1 for an exact lookup
  bool xattrUnsupported;   // the directory's file system keeps no extended attributes
  size_t dirLength;        // length of the directory part in fullPath (with its `/`)
  char fullPath[SYS_PATH]; // directory part, then the current entry's name
  char *names;             // NUL-terminated matching names, one after another
  size_t namesLength, namesCapacity;
  uint32_t *order; // offsets into names, sorted
  size_t count, orderCapacity;
  size_t next; // the next entry FindNextFileA hands out
  int denied;  // the errno that refused examining an entry: the directory cannot be searched
  SearchState *nextFree;
};

// Released handles kept for reuse (single-threaded program; never more than a few).
SearchState *freeStates = nullptr;
int freeCount = 0;
constexpr int FREE_KEEP = 4;
constexpr size_t ARENA_KEEP = 1u << 20; // larger arenas are returned to the system

// Reading buffer for getdents; only one directory is read at a time.
alignas(8) char direntBuffer[32768];

SearchState *newState() {
  SearchState *state = freeStates;
  if (state != nullptr) {
    freeStates = state->nextFree;
    --freeCount;
  } else {
    state = static_cast<SearchState *>(calloc(1, sizeof(SearchState)));
    if (state == nullptr)
      return nullptr;
  }
  state->magic = SEARCH_MAGIC;
  state->dirFd = -1;
  state->xattrUnsupported = false;
  state->dirLength = 0;
  state->fullPath[0] = '\0';
  state->namesLength = 0;
  state->count = 0;
  state->next = 0;
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
  if (state->orderCapacity * sizeof(uint32_t) > ARENA_KEEP) {
    free(state->order);
    state->order = nullptr;
    state->orderCapacity = 0;
  }
  state->nextFree = freeStates;
  freeStates = state;
  ++freeCount;
}

// Adds one name to the arena; false when memory runs out.
bool addName(SearchState *state, const char *name, size_t length) {
  if (state->namesLength + length + 1 > state->namesCapacity) {
    size_t capacity = state->namesCapacity != 0 ? state->namesCapacity * 2 : 16384;
    while (capacity < state->namesLength + length + 1)
      capacity *= 2;
    char *grown = static_cast<char *>(realloc(state->names, capacity));
    if (grown == nullptr)
      return false;
    state->names = grown;
    state->namesCapacity = capacity;
  }
  if (state->count == state->orderCapacity) {
    size_t capacity = state->orderCapacity != 0 ? state->orderCapacity * 2 : 1024;
    uint32_t *grown = static_cast<uint32_t *>(realloc(state->order, capacity * sizeof(uint32_t)));
    if (grown == nullptr)
      return false;
    state->order = grown;
    state->orderCapacity = capacity;
  }
  if (state->namesLength > UINT32_MAX - length - 1)
    return false;
  state->order[state->count++] = static_cast<uint32_t>(state->namesLength);
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
    unsigned char cx = (*x >= 'a' && *x <= 'z') ? *x - 32 : *x;
    unsigned char cy = (*y >= 'a' && *y <= 'z') ? *y - 32 : *y;
    if (cx != cy)
      return cx < cy;
    if (cx == 0)
      break;
  }
  return strcmp(a, b) < 0;
}

// Copies the facts into the entry record.
void fillEntry(const FileFacts &facts, const char *name, FindEntry *entry) {
  memset(entry, 0, sizeof *entry);
  entry->dwFileAttributes = facts.attributes;
  auto put = [](FILETIME *time, int64_t ticks) {
    uint64_t value = ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
    time->dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    time->dwHighDateTime = static_cast<DWORD>(value >> 32);
  };
  put(&entry->ftCreationTime, facts.createTicks);
  put(&entry->ftLastAccessTime, facts.accessTicks);
  put(&entry->ftLastWriteTime, facts.writeTicks);
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
    const char *name = state->names + state->order[state->next++];
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

// Reads the directory, keeps the names that match, sorts them and hands out the first.
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
  for (;;) {
    ssize_t got = getdents64(state->dirFd, direntBuffer, sizeof direntBuffer);
    if (got < 0) {
      SetLastError(win32ErrorFromErrno(errno, ERRNO_DIRECTORY));
      releaseState(state);
      return INVALID_HANDLE_VALUE;
    }
    if (got == 0)
      break;
    for (ssize_t at = 0; at < got;) {
      const struct dirent64 *d = reinterpret_cast<const struct dirent64 *>(direntBuffer + at);
      at += d->d_reclen;
      if (!wildcardMatch(pattern, d->d_name))
        continue;
      if (!addName(state, d->d_name, strlen(d->d_name))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        releaseState(state);
        return INVALID_HANDLE_VALUE;
      }
    }
  }
  const char *base = state->names;
  std::sort(state->order, state->order + state->count,
            [base](uint32_t a, uint32_t b) { return nameBefore(base + a, base + b); });
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
  if (nextEntry(state, entry))
    return TRUE;
  SetLastError(state->denied != 0 ? win32ErrorFromErrno(state->denied) : ERROR_NO_MORE_FILES_NUM);
  return FALSE;
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

// The exact lookup of one name, for a destination namesake: one stat, and one extended-attribute
// read only when the caller looks at the stored bits.
bool lookupEntry(const char *path, FindEntry *entry, bool storedAttributes) {
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return false;
  const char *name = lastComponent(sys);
  bool skipStored = !storedAttributes;
  FileFacts facts;
  int err = statFacts(AT_FDCWD, sys, sys, name, &facts, &skipStored);
  if (err != 0) {
    setLastErrorFromErrno(err); // a missing namesake is 2: no look at its directory
    return false;
  }
  fillEntry(facts, name, entry);
  return true;
}
