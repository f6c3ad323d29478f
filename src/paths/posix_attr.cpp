// The POSIX backend's view of one file: path translation, stat with the stored DOS
// attributes, the attribute word, GetFileAttributesA/SetFileAttributesA and wildcard matching.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif

#include "paths/pathtext.h"
#include "paths/posix_archive.h"
#include "paths/posix_attr.h"
#include "paths/posix_errors.h"
#include "paths/posix_facts.h"
#include "paths/posix_names.h"
#include "paths/posix_sys.h"
#include "paths/posix_time.h"
#include "paths/winapi.h"

namespace {

// The bits kept in the stored value.
constexpr uint32_t STORED_BITS = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

int64_t ticksOf(const SysTime &t) {
  return ticksFromUnix(t.sec, static_cast<int64_t>(t.nsec));
}

// The name that decides the dot rule for a system path: its last component, a trailing `/`
// ignored. Copied into `out` (256 bytes).
void nameOfPath(const char *sysPath, char *out) {
  size_t length = trimmedLength(sysPath);
  size_t start = length;
  while (start > 0 && sysPath[start - 1] != '/')
    --start;
  size_t n = length - start;
  if (n > 255)
    n = 255;
  memcpy(out, sysPath + start, n);
  out[n] = '\0';
}

// The length of the character at `s`: a lead byte and its trail byte, a valid UTF-8 sequence
// when no two-byte table is active, or one byte.
size_t charLength(const unsigned char *s) {
  if (*s == 0)
    return 0;
  if (isLeadByte(*s))
    return s[1] != 0 ? 2 : 1;
  if (*s >= 0xC2 && *s <= 0xF4) {
    size_t need = *s >= 0xF0 ? 4 : *s >= 0xE0 ? 3 : 2;
    for (size_t i = 1; i < need; ++i)
      if ((s[i] & 0xC0) != 0x80)
        return 1;
    return need;
  }
  return 1;
}

// Matches name against pattern[0, patternEnd): `*` any run, `?` one character, ASCII letters
// folded, everything else exact.
bool matchRange(const unsigned char *p, const unsigned char *patternEnd, const unsigned char *n) {
  const unsigned char *starP = nullptr;
  const unsigned char *starN = nullptr;
  while (*n != 0) {
    if (p < patternEnd && *p == '*') {
      while (p < patternEnd && *p == '*')
        ++p;
      starP = p;
      starN = n;
      continue;
    }
    size_t nameLength = charLength(n);
    if (p < patternEnd && *p == '?') {
      ++p;
      n += nameLength;
      continue;
    }
    if (p < patternEnd) {
      size_t patternLength = charLength(p);
      if (p + patternLength > patternEnd)
        patternLength = static_cast<size_t>(patternEnd - p);
      bool same = patternLength == nameLength && (nameLength == 1 ? upperAscii(*p) == upperAscii(*n)
                                                                  : memcmp(p, n, nameLength) == 0);
      if (same) {
        p += patternLength;
        n += nameLength;
        continue;
      }
    }
    if (starP == nullptr)
      return false;
    starN += charLength(starN);
    n = starN;
    p = starP;
  }
  while (p < patternEnd && *p == '*')
    ++p;
  return p == patternEnd;
}

} // namespace

// Whether a name is "." or "..", which are never hidden by the dot rule.
bool isDotEntry(const char *name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Program path text to a system path: each `\` that is a character of its own becomes `/`; the
// trail byte of a two-byte character is part of that character, whatever its value.
bool toSystemPath(const char *path, char *out) {
  if (path == nullptr || path[0] == '\0') {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  size_t i = 0;
  if (!leadBytesActive) {
    // Every byte a character of its own: one pass the compiler can widen.
    size_t length = strlen(path);
    if (length + 1 > SYS_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    for (; i < length; ++i)
      out[i] = path[i] == '\\' ? '/' : path[i];
    out[length] = '\0';
    return true;
  }
  while (path[i] != '\0') {
    size_t n = charBytes(path + i);
    if (i + n >= SYS_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    out[i] = (n == 1 && path[i] == '\\') ? '/' : path[i];
    if (n == 2)
      out[i + 1] = path[i + 1];
    i += n;
  }
  out[i] = '\0';
  return true;
}

// The text after the last `/`.
const char *lastComponent(const char *sysPath) {
  const char *slash = strrchr(sysPath, '/');
  return slash != nullptr ? slash + 1 : sysPath;
}

// Parses "0x" and hexadecimal digits, ended by the end of the data or a NUL.
int32_t parseStoredAttributes(const char *data, size_t length) {
  if (length < 3 || data[0] != '0' || (data[1] != 'x' && data[1] != 'X'))
    return -1;
  uint32_t value = 0;
  size_t i = 2;
  for (; i < length && data[i] != '\0'; ++i) {
    char c = data[i];
    uint32_t digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      digit = static_cast<uint32_t>(c - 'A' + 10);
    else
      return -1;
    if (i > 9)
      return -1; // more than eight digits
    value = value * 16 + digit;
  }
  if (i == 2)
    return -1;
  return static_cast<int32_t>(value & 0xFFFF);
}

// The extended-attribute calls: Linux's own, or none where the system has no such calls (the
// stored bits are then dropped, as on a file system without extended attributes). A port to a
// system with extended attributes of another shape adds its form here.
#if defined(__linux__)
const int SYS_NO_ATTRIBUTE = ENODATA;

long sysGetXattr(int fd, const char *path, const char *name, void *data, size_t size) {
  return fd >= 0 ? fgetxattr(fd, name, data, size) : getxattr(path, name, data, size);
}

int sysSetXattr(int fd, const char *path, const char *name, const void *data, size_t size) {
  return fd >= 0 ? fsetxattr(fd, name, data, size, 0) : setxattr(path, name, data, size, 0);
}

int sysRemoveXattr(int fd, const char *path, const char *name) {
  return fd >= 0 ? fremovexattr(fd, name) : removexattr(path, name);
}
#else
const int SYS_NO_ATTRIBUTE = ENOENT;

long sysGetXattr(int, const char *, const char *, void *, size_t) {
  errno = ENOTSUP;
  return -1;
}

int sysSetXattr(int, const char *, const char *, const void *, size_t) {
  errno = ENOTSUP;
  return -1;
}

int sysRemoveXattr(int, const char *, const char *) {
  errno = ENOTSUP;
  return -1;
}
#endif

long getXattr(const XattrPlace &place, const char *attribute, void *data, size_t size) {
  if (place.dirFd == AT_FDCWD)
    return sysGetXattr(-1, place.path, attribute, data, size);
  return sysGetXattrAt(place.dirFd, place.name, place.path, attribute, data, size);
}

// The stored DOS attributes of an entry, or -1.
int32_t readStoredAttributesAt(const XattrPlace &place, bool *unsupported) {
  char data[64];
  long length = getXattr(place, DOS_XATTR_NAME, data, sizeof data);
  if (length < 0) {
    if (unsupported != nullptr && (errno == ENOTSUP || errno == EOPNOTSUPP))
      *unsupported = true;
    return -1;
  }
  return parseStoredAttributes(data, static_cast<size_t>(length));
}

// The stored DOS attributes of a path (following a final link), or -1.
int32_t readStoredAttributes(const char *sysPath, bool *unsupported) {
  return readStoredAttributesAt(XattrPlace{AT_FDCWD, sysPath, sysPath}, unsupported);
}

// Stores DOS attributes as Wine and older Samba write them ("0x" and hex digits, no NUL),
// through the descriptor `fd` when it is not -1, else by path.
int writeStoredAttributes(int fd, const char *sysPath, uint32_t value) {
  char text[16];
  int length = snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  int result = sysSetXattr(fd, sysPath, DOS_XATTR_NAME, text, static_cast<size_t>(length));
  if (result == 0)
    return 0;
  if (errno == ENOTSUP || errno == EOPNOTSUPP)
    return 0; // no extended attributes here: the bits are dropped
  return errno;
}

// The attribute word of one file, as the table of the platform design gives it.
DWORD computeAttributes(const FileFacts &facts, const char *name) {
  bool dotHidden = name != nullptr && name[0] == '.' && !isDotEntry(name);
  uint32_t stored = facts.stored >= 0 ? static_cast<uint32_t>(facts.stored) : 0;
  DWORD attributes = 0;
  if (dotHidden || (stored & FILE_ATTRIBUTE_HIDDEN) != 0)
    attributes |= FILE_ATTRIBUTE_HIDDEN;
  if ((stored & FILE_ATTRIBUTE_SYSTEM) != 0)
    attributes |= FILE_ATTRIBUTE_SYSTEM;
  if (facts.isDir) {
    attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if ((stored & FILE_ATTRIBUTE_READONLY) != 0 || (facts.mode & 0222) == 0)
      attributes |= FILE_ATTRIBUTE_READONLY;
    if ((stored & FILE_ATTRIBUTE_ARCHIVE) != 0)
      attributes |= FILE_ATTRIBUTE_ARCHIVE;
    return attributes;
  }
  if (!facts.dangling && (facts.mode & 0222) == 0)
    attributes |= FILE_ATTRIBUTE_READONLY;
  if (facts.stored < 0 || (stored & FILE_ATTRIBUTE_ARCHIVE) != 0 || facts.changedSinceCleared)
    attributes |= FILE_ATTRIBUTE_ARCHIVE;
  if (attributes == 0)
    attributes = FILE_ATTRIBUTE_NORMAL;
  return attributes;
}

namespace {

// The facts of one entry from its status (a link's target's, when it was followed) and its
// stored attributes read at `place`.
void fillFacts(const SysStat &sx, const XattrPlace &place, const char *displayName,
               FileFacts *facts, bool *xattrUnsupported) {
  facts->isDir = S_ISDIR(sx.mode);
  facts->mode = sx.mode;
  facts->dev = sx.dev;
  facts->ino = sx.ino;
  facts->size = (facts->isDir || facts->dangling) ? 0 : sx.size;
  facts->uid = sx.uid;
  facts->gid = sx.gid;
  facts->accessTicks = ticksOf(sx.atime);
  facts->writeTicks = ticksOf(sx.mtime);
  facts->changeTicks = ticksOf(sx.ctime);
  facts->changeTime = sx.ctime;
  facts->createTicks = sx.hasBirth ? ticksOf(sx.btime) : facts->changeTicks;
  facts->stored = -1;
  if (!facts->dangling && (xattrUnsupported == nullptr || !*xattrUnsupported))
    facts->stored = readStoredAttributesAt(place, xattrUnsupported);
  facts->changedSinceCleared = changedSinceArchiveCleared(*facts, sx, place);
  facts->attributes = computeAttributes(*facts, displayName);
}

} // namespace

// One stat (two for a symbolic link), one extended-attribute read, and one more for a file
// whose archive bit is stored cleared.
int statFacts(int dirFd, const char *name, const char *xattrPath, const char *displayName,
              FileFacts *facts, bool *xattrUnsupported) {
  SysStat sx;
  memset(facts, 0, sizeof *facts);
  int err = sysStatAt(dirFd, name, false, &sx);
  if (err != 0)
    return err;
  facts->isLink = S_ISLNK(sx.mode);
  if (facts->isLink) {
    SysStat target;
    err = sysStatAt(dirFd, name, true, &target);
    if (err == 0) {
      sx = target;
    } else {
      // Listed all the same, so that a copy reports why it fails instead of leaving it out.
      facts->dangling = true;
      facts->targetError = err;
    }
  }
  fillFacts(sx, XattrPlace{dirFd, name, xattrPath}, displayName, facts, xattrUnsupported);
  return 0;
}

namespace {

// A symbolic link's own word: it keeps no attributes of its own (no stored value, no mode that
// counts), so it is what Windows reports for a link: a reparse point, archived, hidden by its
// name, a directory when it leads to one.
DWORD linkAttributes(const char *sys, const char *name) {
  struct stat target;
  DWORD attributes = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE;
  if (name[0] == '.' && !isDotEntry(name))
    attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (stat(sys, &target) == 0 && S_ISDIR(target.st_mode))
    attributes |= FILE_ATTRIBUTE_DIRECTORY;
  return attributes;
}

} // namespace

// GetFileAttributesA: the attribute word of the entry that the path names; a final symbolic
// link is not followed, so that the word describes the very entry SetFileAttributesA changes.
// 0xFFFFFFFF with the last error set.
DWORD GetFileAttributesA(const char *path) {
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return INVALID_FILE_ATTRIBUTES;
  trimTrailingSlashes(sys);
  char name[256];
  nameOfPath(sys, name);
  SysStat sx;
  int err = sysStatAt(AT_FDCWD, sys, false, &sx);
  if (err != 0) {
    setLastErrorFromErrno(err, sys);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISLNK(sx.mode))
    return linkAttributes(sys, name);
  FileFacts facts;
  memset(&facts, 0, sizeof facts);
  fillFacts(sx, XattrPlace{AT_FDCWD, sys, sys}, name, &facts, nullptr);
  return facts.attributes;
}

namespace {

// The path the target is reached by where no readable descriptor is open.
const char *targetPath(const AttrTarget &t) {
  return t.proc[0] != '\0' ? t.proc : t.sys;
}

int setMode(const AttrTarget &t, mode_t mode) {
  int result = t.ioFd >= 0 ? fchmod(t.ioFd, mode) : chmod(targetPath(t), mode);
  return result == 0 ? 0 : errno;
}

// Stores one extended attribute; where write permission is refused (root without the right to
// override permissions) the owner's write bit is lifted once and the store tried again.
int storeLifting(AttrTarget &t, const char *name, const char *data, size_t length, bool *lifted) {
  int err = setAttr(t, name, data, length);
  mode_t current = t.sx.mode & 07777;
  if ((err == EACCES || err == EPERM) && !*lifted && (current & 0200) == 0 &&
      setMode(t, current | 0200) == 0) {
    *lifted = true;
    err = setAttr(t, name, data, length);
  }
  return err;
}

// Whether stores of extended attributes need the owner's write bit lifted first: an ordinary
// user needs write permission for them, and the mode has none.
bool storesNeedLifting(const AttrTarget &t) {
  return (t.sx.mode & 0200) == 0 && geteuid() != 0 && geteuid() == t.sx.uid;
}

} // namespace

int openTarget(const char *sys, AttrTarget &t) {
  t.sys = sys;
  t.pathFd = sysOpenEntry(sys);
  if (t.pathFd >= 0) {
    int err = sysStatFd(t.pathFd, &t.sx);
    if (err != 0 || S_ISLNK(t.sx.mode) || sysDescriptorPath(t.pathFd, t.proc))
      return err;
    t.proc[0] = '\0';
  } else if (errno != ENOSYS) {
    return errno;
  } else {
    int err = sysStatAt(AT_FDCWD, sys, false, &t.sx);
    if (err != 0 || S_ISLNK(t.sx.mode))
      return err;
  }
  t.ioFd = open(sys, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (t.ioFd < 0)
    return (t.pathFd < 0 && errno == EACCES) ? 0 : errno; // unreadable: by its path
  SysStat st;
  int err = sysStatFd(t.ioFd, &st);
  if (err != 0)
    return err;
  if (st.ino != t.sx.ino || st.dev != t.sx.dev)
    return ENOENT; // swapped meanwhile: the entry that was opened is gone from this name
  return 0;
}

void closeTarget(AttrTarget &t) {
  if (t.ioFd >= 0)
    close(t.ioFd);
  if (t.pathFd >= 0)
    close(t.pathFd);
}

int restatTarget(AttrTarget &t) {
  if (t.pathFd >= 0)
    return sysStatFd(t.pathFd, &t.sx);
  if (t.ioFd >= 0)
    return sysStatFd(t.ioFd, &t.sx);
  return sysStatAt(AT_FDCWD, t.sys, false, &t.sx);
}

long getAttr(const AttrTarget &t, const char *name, char *data, size_t size) {
  return sysGetXattr(t.ioFd, targetPath(t), name, data, size);
}

int setAttr(AttrTarget &t, const char *name, const char *data, size_t length) {
  int result = data == nullptr ? sysRemoveXattr(t.ioFd, targetPath(t), name)
                               : sysSetXattr(t.ioFd, targetPath(t), name, data, length);
  if (result == 0 || (data == nullptr && errno == SYS_NO_ATTRIBUTE))
    return 0;
  if (errno == ENOTSUP || errno == EOPNOTSUPP) {
    t.noXattrs = true;
    return 0;
  }
  return errno;
}

int storeWritable(AttrTarget &t, const char *name, const char *data, size_t length) {
  mode_t current = t.sx.mode & 07777;
  bool lifted = false;
  if (storesNeedLifting(t)) {
    int err = setMode(t, current | 0200);
    if (err != 0)
      return err;
    lifted = true;
  }
  int err = storeLifting(t, name, data, length, &lifted);
  if (lifted) {
    int back = setMode(t, current);
    if (err == 0)
      err = back;
  }
  return err;
}

namespace {

// The saved value of one extended attribute, so that a failed change can put it back.
struct SavedAttr {
  bool present = false;
  bool unknown = false; // present, but too long to be saved: never rewritten or removed
  char data[256];
  size_t length = 0;
};

void saveAttr(const AttrTarget &t, const char *name, SavedAttr &saved) {
  long length = getAttr(t, name, saved.data, sizeof saved.data);
  saved.unknown = length < 0 && errno == ERANGE;
  saved.present = length >= 0;
  saved.length = length > 0 ? static_cast<size_t>(length) : 0;
}

void restoreAttr(AttrTarget &t, const char *name, const SavedAttr &saved) {
  if (!saved.unknown)
    setAttr(t, name, saved.present ? saved.data : nullptr, saved.length);
}

// One attribute change: what is wanted, and what was there before it (to go back to).
struct AttrChange {
  mode_t mode;        // the mode found
  mode_t wantedMode;  // the mode wanted
  uint32_t wanted;    // the stored bits wanted
  bool storeNeeded;   // the stored value must be written
  bool clearsArchive; // a file whose archive bit is wanted cleared
  SavedAttr oldStored;
};

// Works out the change that gives the open target `attributes`: false when the stored value
// and the mode already say the same.
bool planChange(AttrTarget &t, DWORD attributes, AttrChange &c) {
  bool isDir = S_ISDIR(t.sx.mode);
  if ((attributes & FILE_ATTRIBUTE_NORMAL) != 0 && (attributes & STORED_BITS) == 0)
    attributes = 0;
  c.mode = t.sx.mode & 07777;
  c.wantedMode = c.mode;
  if (isDir) {
    c.wanted = attributes & STORED_BITS;
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0 && (c.mode & 0222) == 0)
      c.wantedMode = c.mode | 0200;
  } else {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
      c.wantedMode = c.mode & ~0222u;
    else if ((c.mode & 0222) == 0)
      c.wantedMode = c.mode | 0200;
    c.wanted =
        attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  }
  c.clearsArchive = !isDir && (c.wanted & FILE_ATTRIBUTE_ARCHIVE) == 0;

  saveAttr(t, DOS_XATTR_NAME, c.oldStored);
  int32_t stored =
      c.oldStored.present ? parseStoredAttributes(c.oldStored.data, c.oldStored.length) : -1;
  if (stored < 0)
    c.storeNeeded = c.wanted != (isDir ? 0u : FILE_ATTRIBUTE_ARCHIVE);
  else
    c.storeNeeded = (static_cast<uint32_t>(stored) & STORED_BITS) != c.wanted;
  return c.storeNeeded || c.wantedMode != c.mode;
}

// Makes the store and the mode change once. 0 or errno; `lifted` tells whether the owner's
// write bit was lifted for the store.
int applyChange(AttrTarget &t, const AttrChange &c, bool *lifted) {
  mode_t current = t.sx.mode & 07777;
  *lifted = false;
  int err = 0;
  // For an ordinary user extended attributes need write permission: the owner's write bit is
  // lifted for the moment of the store where the mode has none.
  if (c.storeNeeded && storesNeedLifting(t)) {
    err = setMode(t, current | 0200);
    if (err != 0)
      return err;
    *lifted = true;
  }
  if (c.storeNeeded) {
    char text[16];
    int length = snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(c.wanted));
    err = storeLifting(t, DOS_XATTR_NAME, text, static_cast<size_t>(length), lifted);
  }
  if (err == 0 && (c.wantedMode != current || *lifted))
    err = setMode(t, c.wantedMode);
  return err;
}

// All or nothing: what was stored goes back, and the mode.
void undoChange(AttrTarget &t, const AttrChange &c, bool lifted) {
  if (c.storeNeeded)
    restoreAttr(t, DOS_XATTR_NAME, c.oldStored);
  if (lifted || (t.sx.mode & 07777) != c.mode)
    setMode(t, c.mode);
}

} // namespace

// SetFileAttributesA: all or nothing, on the entry the path names when it is opened (a final
// link is never followed: a link keeps no attributes, and its target is never touched). A
// file's read-only bit goes through the mode, everything else through the stored value; a
// directory's read-only bit is stored, and clearing it gives the owner's write bit back where
// the mode has none. Nothing is written when everything already says the same. A file whose
// archive bit is cleared (or stays cleared) has the clear recorded (archiveClearMade).
BOOL SetFileAttributesA(const char *path, DWORD attributes) {
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return FALSE;
  trimTrailingSlashes(sys);
  AttrTarget t;
  int err = openTarget(sys, t);
  AttrChange change;
  bool changes = err == 0 && !S_ISLNK(t.sx.mode) && planChange(t, attributes, change);
  bool lifted = false;
  if (changes)
    err = applyChange(t, change, &lifted);
  if (err == 0 && !S_ISLNK(t.sx.mode) && change.clearsArchive) {
    err = archiveClearMade(t, changes);
    lifted = false; // the mode wanted is in place
  }
  if (err != 0 && changes)
    undoChange(t, change, lifted);
  closeTarget(t);
  if (err != 0) {
    setLastErrorFromErrno(err, sys);
    return FALSE;
  }
  return TRUE;
}

// Wildcard match with the `.*` rule: a pattern ending in `.*` also matches a name without a dot.
bool wildcardMatch(const char *pattern, const char *name) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(pattern);
  const unsigned char *n = reinterpret_cast<const unsigned char *>(name);
  size_t length = strlen(pattern);
  if (matchRange(p, p + length, n))
    return true;
  if (length >= 2 && pattern[length - 2] == '.' && pattern[length - 1] == '*' &&
      strchr(name, '.') == nullptr)
    return matchRange(p, p + length - 2, n);
  return false;
}
