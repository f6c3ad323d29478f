// The POSIX backend's view of one file: path translation, stat with the stored DOS
// attributes, the attribute word, GetFileAttributesA/SetFileAttributesA and wildcard matching.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "paths/posix_layer.h"

namespace {

// The bits kept in the stored value.
constexpr uint32_t STORED_BITS = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// Whether stat timestamp `a` is not earlier than `b`.
bool notEarlier(const struct statx_timestamp &a, const struct statx_timestamp &b) {
  if (a.tv_sec != b.tv_sec)
    return a.tv_sec > b.tv_sec;
  return a.tv_nsec >= b.tv_nsec;
}

int64_t ticksOf(const struct statx_timestamp &t) {
  return ticksFromUnix(static_cast<int64_t>(t.tv_sec), static_cast<int64_t>(t.tv_nsec));
}

// The name that decides the dot rule for a system path: its last component, a trailing `/`
// ignored. Copied into `out` (256 bytes).
void nameOfPath(const char *sysPath, char *out) {
  size_t length = strlen(sysPath);
  while (length > 1 && sysPath[length - 1] == '/')
    --length;
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

unsigned char foldAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? c - 32 : c;
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
      bool same = patternLength == nameLength && (nameLength == 1 ? foldAscii(*p) == foldAscii(*n)
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

// The stored DOS attributes of a path (following a final link), or -1.
int32_t readStoredAttributes(const char *sysPath, bool *unsupported) {
  char data[64];
  ssize_t length = getxattr(sysPath, DOS_XATTR_NAME, data, sizeof data);
  if (length < 0) {
    if (unsupported != nullptr && (errno == ENOTSUP || errno == EOPNOTSUPP))
      *unsupported = true;
    return -1;
  }
  return parseStoredAttributes(data, static_cast<size_t>(length));
}

// Stores DOS attributes as Wine and older Samba write them ("0x" and hex digits, no NUL),
// through the descriptor `fd` when it is not -1, else by path.
int writeStoredAttributes(int fd, const char *sysPath, uint32_t value) {
  char text[16];
  int length = snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  int result = fd >= 0 ? fsetxattr(fd, DOS_XATTR_NAME, text, static_cast<size_t>(length), 0)
                       : setxattr(sysPath, DOS_XATTR_NAME, text, static_cast<size_t>(length), 0);
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
  if (facts.stored < 0 || (stored & FILE_ATTRIBUTE_ARCHIVE) != 0 || facts.writtenAfterStored)
    attributes |= FILE_ATTRIBUTE_ARCHIVE;
  if (attributes == 0)
    attributes = FILE_ATTRIBUTE_NORMAL;
  return attributes;
}

// One stat (two for a symbolic link) and one extended-attribute read.
int statFacts(int dirFd, const char *name, const char *xattrPath, const char *displayName,
              FileFacts *facts, bool *xattrUnsupported) {
  struct statx sx;
  const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
  memset(facts, 0, sizeof *facts);
  if (statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, mask, &sx) != 0)
    return errno;
  facts->isLink = S_ISLNK(sx.stx_mode);
  if (facts->isLink) {
    struct statx target;
    if (statx(dirFd, name, AT_STATX_SYNC_AS_STAT, mask, &target) == 0) {
      sx = target;
    } else {
      // Listed all the same, so that a copy reports why it fails instead of leaving it out.
      facts->dangling = true;
      facts->targetError = errno;
    }
  }
  facts->isDir = S_ISDIR(sx.stx_mode);
  facts->mode = sx.stx_mode;
  facts->dev = (static_cast<uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
  facts->ino = sx.stx_ino;
  facts->size = (facts->isDir || facts->dangling) ? 0 : sx.stx_size;
  facts->uid = sx.stx_uid;
  facts->gid = sx.stx_gid;
  facts->accessTicks = ticksOf(sx.stx_atime);
  facts->writeTicks = ticksOf(sx.stx_mtime);
  facts->changeTicks = ticksOf(sx.stx_ctime);
  facts->createTicks =
      (sx.stx_mask & STATX_BTIME) != 0 ? ticksOf(sx.stx_btime) : facts->changeTicks;
  facts->writtenAfterStored = notEarlier(sx.stx_mtime, sx.stx_ctime);
  facts->stored = -1;
  if (!facts->dangling && (xattrUnsupported == nullptr || !*xattrUnsupported))
    facts->stored = readStoredAttributes(xattrPath, xattrUnsupported);
  facts->attributes = computeAttributes(*facts, displayName);
  return 0;
}

// GetFileAttributesA: the attribute word of a path; 0xFFFFFFFF with the last error set.
DWORD GetFileAttributesA(const char *path) {
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return INVALID_FILE_ATTRIBUTES;
  char name[256];
  nameOfPath(sys, name);
  FileFacts facts;
  int err = statFacts(AT_FDCWD, sys, sys, name, &facts);
  if (err != 0) {
    setLastErrorFromErrno(err, sys);
    return INVALID_FILE_ATTRIBUTES;
  }
  return facts.attributes;
}

// SetFileAttributesA: read-only through the mode (files), the rest through the stored value.
// Nothing is written when the stored value already says the same. Clearing the archive bit
// of a file must leave its change time after its last-write time, or the archive rule would
// read the file as written again; the store is repeated until the clock has moved on.
BOOL SetFileAttributesA(const char *path, DWORD attributes) {
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return FALSE;
  char name[256];
  nameOfPath(sys, name);
  FileFacts facts;
  int err = statFacts(AT_FDCWD, sys, sys, name, &facts);
  if (err == 0 && facts.dangling)
    err = facts.targetError;
  if (err != 0) {
    setLastErrorFromErrno(err, sys);
    return FALSE;
  }
  if ((attributes & FILE_ATTRIBUTE_NORMAL) != 0 && (attributes & STORED_BITS) == 0)
    attributes = 0;
  uint32_t wanted;
  if (facts.isDir) {
    wanted = attributes & STORED_BITS;
  } else {
    bool readOnly = (facts.mode & 0222) == 0;
    bool wantReadOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly != wantReadOnly) {
      mode_t mode = facts.mode & 07777;
      mode = wantReadOnly ? (mode & ~0222u) : (mode | 0200u);
      if (chmod(sys, mode) != 0) {
        setLastErrorFromErrno(errno, sys);
        return FALSE;
      }
    }
    wanted = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  }
  bool clearsArchive = (wanted & FILE_ATTRIBUTE_ARCHIVE) == 0;
  bool same;
  if (facts.stored < 0)
    same = wanted == (facts.isDir ? 0u : FILE_ATTRIBUTE_ARCHIVE);
  else
    same = (static_cast<uint32_t>(facts.stored) & STORED_BITS) == wanted &&
           (facts.isDir || !clearsArchive || !facts.writtenAfterStored);
  if (same)
    return TRUE;
  for (int attempt = 0;; ++attempt) {
    err = writeStoredAttributes(-1, sys, wanted);
    if (err != 0) {
      setLastErrorFromErrno(err, sys);
      return FALSE;
    }
    if (facts.isDir || !clearsArchive || attempt >= 50)
      break;
    struct statx sx;
    if (statx(AT_FDCWD, sys, AT_STATX_SYNC_AS_STAT, STATX_MTIME | STATX_CTIME, &sx) != 0 ||
        !notEarlier(sx.stx_mtime, sx.stx_ctime))
      break;
    // A last-write time in the future cannot be overtaken by waiting: the file stays archived.
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (sx.stx_mtime.tv_sec > now.tv_sec + 1)
      break;
    struct timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
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
