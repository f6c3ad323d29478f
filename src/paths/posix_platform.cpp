// Platform set-up and the runtime-library calls on POSIX: the locale's lead-byte table, the
// program path, _open/_read/_write/_lseeki64/_close, the text-mode list file, file identity.
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include "paths/files.h"
#include "paths/pathtext.h"
#include "paths/posix_errors.h"
#include "paths/posix_facts.h"
#include "paths/posix_names.h"
#include "paths/posix_sys.h"
#include "paths/runtime.h"
#include "paths/winapi.h"

unsigned char leadByteMap[256];
bool leadBytesActive = false;

namespace {

// Compares a character-set name with a known one, ignoring case, `-` and `_`.
bool sameCharsetName(const char *name, const char *known) {
  for (;;) {
    while (*name == '-' || *name == '_')
      ++name;
    while (*known == '-' || *known == '_')
      ++known;
    unsigned char a = upperAscii(static_cast<unsigned char>(*name));
    unsigned char b = upperAscii(static_cast<unsigned char>(*known));
    if (a != b)
      return false;
    if (a == '\0')
      return true;
    ++name;
    ++known;
  }
}

// The table that the locale's character set calls for.
LeadByteTable tableOfLocale() {
  const char *codeset = nl_langinfo(CODESET);
  if (codeset == nullptr)
    return LEAD_NONE;
  static const char *const shiftJis[] = {"SHIFT_JIS", "SJIS", "CP932", "WINDOWS-31J", "MS_KANJI"};
  static const char *const wide[] = {"GBK",   "GB18030", "CP936", "BIG5", "BIG5-HKSCS",
                                     "CP950", "EUC-KR",  "CP949", "UHC"};
  for (const char *name : shiftJis)
    if (sameCharsetName(codeset, name))
      return LEAD_SHIFT_JIS;
  for (const char *name : wide)
    if (sameCharsetName(codeset, name))
      return LEAD_WIDE;
  return LEAD_NONE;
}

// The list-file stream with the end mark of text mode.
struct TextStream {
  FILE *stream;
  bool ended; // a Ctrl-Z was read: text mode ends the file there
};

} // namespace

// Fills leadByteMap for the chosen table (the locale's for LEAD_SYSTEM).
void setLeadByteTable(LeadByteTable table) {
  if (table == LEAD_SYSTEM)
    table = tableOfLocale();
  for (int c = 0; c < 256; ++c) {
    bool lead = false;
    if (table == LEAD_SHIFT_JIS)
      lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    else if (table == LEAD_WIDE)
      lead = c >= 0x81 && c <= 0xFE;
    leadByteMap[c] = lead ? 1 : 0;
  }
  leadBytesActive = table == LEAD_SHIFT_JIS || table == LEAD_WIDE;
}

// Start-up: the locale's character set for the lead bytes, and argv[0] in program syntax.
void initPlatform(int argc, char **argv) {
  // A standard stream that was closed (>&-) gets /dev/null opened read-only in its place: the
  // first file the program opens would otherwise get its number and receive the listing, and
  // writes to it now fail, so that the run sees its listing was not written.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
      continue;
    int opened = open("/dev/null", O_RDONLY); // the lowest free number: this one
    if (opened > 2)
      close(opened);
  }
  setlocale(LC_CTYPE, "");
  setLeadByteTable(LEAD_SYSTEM);
  if (argc > 0 && argv != nullptr && argv[0] != nullptr)
    for (char *c = argv[0]; *c != '\0'; ++c)
      if (*c == '/')
        *c = '\\';
}

// _open(path, _O_BINARY|_O_RDONLY or _O_RDWR): never creates. A directory, or a read-only
// file opened for writing, is refused with 5 as on Windows; a pipe, device or socket with 1
// (opening a pipe would wait for a writer). FS_OPEN_UPDATE does not follow a final link and
// refuses a file with other names, on the opened file itself, so that nothing can be put in
// the name's place between a check and the open.
int fsOpen(const char *path, int flags) {
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return -1;
  if (flags != FS_OPEN_READ && flags != FS_OPEN_READWRITE && flags != FS_OPEN_UPDATE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  bool writing = flags != FS_OPEN_READ;
  bool update = flags == FS_OPEN_UPDATE;
  int fd = open(sys, (writing ? O_RDWR : O_RDONLY) | (update ? O_NOFOLLOW : 0) | O_CLOEXEC |
                         O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (update && errno == ELOOP)
      SetLastError(ERROR_ACCESS_DENIED); // the name is a link
    else
      setLastErrorFromErrno(errno, sys);
    return -1;
  }
  struct stat st;
  DWORD code = 0;
  if (fstat(fd, &st) != 0)
    code = win32ErrorFromErrno(errno);
  else if (S_ISDIR(st.st_mode) || (writing && (st.st_mode & 0222) == 0) ||
           (update && st.st_nlink != 1))
    code = ERROR_ACCESS_DENIED;
  else if (!S_ISREG(st.st_mode))
    code = ERROR_INVALID_FUNCTION_NUM;
  if (code != 0) {
    close(fd);
    SetLastError(code);
    return -1;
  }
  return fd;
}

// One lstat: a regular file with one name, the name no link.
int isPrivateFile(const char *path) {
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return -1;
  struct stat st;
  if (lstat(sys, &st) != 0) {
    setLastErrorFromErrno(errno, sys);
    return -1;
  }
  return S_ISREG(st.st_mode) && st.st_nlink == 1 ? 1 : 0;
}

// _read.
int fsRead(int fd, void *buffer, unsigned count) {
  if (count > INT_MAX)
    count = INT_MAX;
  for (;;) {
    ssize_t got = read(fd, buffer, count);
    if (got >= 0)
      return static_cast<int>(got);
    if (errno != EINTR) {
      SetLastError(win32ErrorFromErrno(errno));
      return -1;
    }
  }
}

// _write.
int fsWrite(int fd, const void *buffer, unsigned count) {
  if (count > INT_MAX)
    count = INT_MAX;
  for (;;) {
    ssize_t put = write(fd, buffer, count);
    if (put >= 0)
      return static_cast<int>(put);
    if (errno != EINTR) {
      SetLastError(win32ErrorFromErrno(errno));
      return -1;
    }
  }
}

// _lseeki64 with SEEK_SET or SEEK_CUR.
int64_t fsSeek(int fd, int64_t offset, int whence) {
  off_t at = lseek(fd, static_cast<off_t>(offset), whence == FS_SEEK_CUR ? SEEK_CUR : SEEK_SET);
  if (at < 0) {
    SetLastError(win32ErrorFromErrno(errno));
    return -1;
  }
  return static_cast<int64_t>(at);
}

// _chsize_s.
int fsTruncate(int fd, int64_t size) {
  while (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) {
      SetLastError(win32ErrorFromErrno(errno));
      return -1;
    }
  }
  return 0;
}

// The mark of an update in place, in an extended attribute of the file.
bool markUpdate(int fd, int64_t oldSize, int64_t oldWriteTicks) {
  char text[48];
  int length = snprintf(text, sizeof text, "%lld %lld", static_cast<long long>(oldSize),
                        static_cast<long long>(oldWriteTicks));
  if (sysSetXattr(fd, nullptr, UPDATE_XATTR_NAME, text, static_cast<size_t>(length)) == 0 ||
      errno == ENOTSUP || errno == EOPNOTSUPP)
    return true;
  SetLastError(win32ErrorFromErrno(errno));
  return false;
}

bool clearUpdateMark(const char *path) {
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return false;
  if (sysRemoveXattr(-1, sys, UPDATE_XATTR_NAME) == 0 || errno == SYS_NO_ATTRIBUTE ||
      errno == ENOTSUP || errno == EOPNOTSUPP)
    return true;
  SetLastError(win32ErrorFromErrno(errno));
  return false;
}

bool readUpdateMark(const char *path, int64_t *oldSize, int64_t *oldWriteTicks) {
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return false;
  char text[48];
  long length = sysGetXattr(-1, sys, UPDATE_XATTR_NAME, text, sizeof text - 1);
  if (length <= 0)
    return false;
  text[length] = '\0';
  long long size = 0, ticks = 0;
  int used = 0;
  if (sscanf(text, "%lld %lld%n", &size, &ticks, &used) != 2 || used != length || size < 0)
    return false;
  *oldSize = size;
  *oldWriteTicks = ticks;
  return true;
}

// _close.
int fsClose(int fd) {
  if (close(fd) != 0) {
    SetLastError(win32ErrorFromErrno(errno));
    return -1;
  }
  return 0;
}

// fopen(path, "rt").
ListFile *listFileOpen(const char *path) {
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return nullptr;
  FILE *stream = fopen(sys, "re");
  if (stream == nullptr) {
    setLastErrorFromErrno(errno, sys);
    return nullptr;
  }
  struct stat st;
  if (fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode)) {
    fclose(stream);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  TextStream *text = static_cast<TextStream *>(malloc(sizeof(TextStream)));
  if (text == nullptr) {
    fclose(stream);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  text->stream = stream;
  text->ended = false;
  return reinterpret_cast<ListFile *>(text);
}

// fgetc in text mode: CR LF reads as LF, and a Ctrl-Z ends the file.
int listFileGetc(ListFile *file) {
  TextStream *text = reinterpret_cast<TextStream *>(file);
  if (text == nullptr || text->ended)
    return LIST_FILE_END;
  int c = getc(text->stream);
  if (c == EOF)
    return LIST_FILE_END;
  if (c == 0x1A) {
    text->ended = true;
    return LIST_FILE_END;
  }
  if (c == '\r') {
    int following = getc(text->stream);
    if (following == '\n')
      return '\n';
    if (following != EOF)
      ungetc(following, text->stream);
  }
  return c;
}

// fseek to the start; a Ctrl-Z read before ends the file no more.
bool listFileRewind(ListFile *file) {
  TextStream *text = reinterpret_cast<TextStream *>(file);
  if (text == nullptr || fseek(text->stream, 0, SEEK_SET) != 0)
    return false;
  text->ended = false;
  return true;
}

// fclose.
void listFileClose(ListFile *file) {
  TextStream *text = reinterpret_cast<TextStream *>(file);
  if (text == nullptr)
    return;
  fclose(text->stream);
  free(text);
}

// Device and inode, links followed.
bool readIdentity(const char *path, FileIdentity *identity) {
  char sys[SYS_PATH];
  struct stat st;
  if (!statSystemPath(path, sys, &st, true))
    return false;
  identity->volume = static_cast<uint64_t>(st.st_dev);
  identity->index = static_cast<uint64_t>(st.st_ino);
  return true;
}

namespace {

// Cuts the last component off the system path `sys` (trailing slashes first): "a/b" gives "a",
// "/a" gives "/", "a" gives ".". False when nothing can be cut ("/" or ".").
bool cutLastComponent(char *sys) {
  trimTrailingSlashes(sys);
  if (strcmp(sys, "/") == 0 || strcmp(sys, ".") == 0)
    return false;
  char *slash = strrchr(sys, '/');
  if (slash == nullptr)
    strcpy(sys, ".");
  else if (slash == sys)
    sys[1] = '\0';
  else
    *slash = '\0';
  return true;
}

} // namespace

// The nearest existing ancestor is resolved by realpath, which follows every link on the way;
// its real ancestors are then climbed to the root, one stat each.
int isWithinDirectory(const char *path, const char *dir) {
  char sys[SYS_PATH], sysDir[SYS_PATH];
  if (!toSystemPath(path, sys) || !toSystemPath(dir, sysDir))
    return -1;
  struct stat target;
  if (stat(sysDir, &target) != 0) {
    setLastErrorFromErrno(errno, sysDir);
    return -1;
  }
  char resolved[PATH_MAX];
  while (realpath(sys, resolved) == nullptr) {
    if (errno != ENOENT && errno != ENOTDIR)
      return -1;
    // The missing rest is made below the existing part, unless it steps up out of it.
    size_t length = trimmedLength(sys);
    const char *name = sys + length;
    while (name > sys && name[-1] != '/')
      --name;
    if (static_cast<size_t>(sys + length - name) == 2 && name[0] == '.' && name[1] == '.')
      return -1;
    if (!cutLastComponent(sys))
      return -1;
  }
  for (;;) {
    struct stat st;
    if (stat(resolved, &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino)
      return 1;
    if (!cutLastComponent(resolved))
      return 0;
  }
}

// Same device and inode, links followed.
int sameFileIdentity(const char *first, const char *second) {
  char a[SYS_PATH], b[SYS_PATH];
  if (!toSystemPath(first, a) || !toSystemPath(second, b))
    return -1;
  struct stat sa, sb;
  if (stat(a, &sa) != 0) {
    setLastErrorFromErrno(errno, a);
    return -1;
  }
  if (stat(b, &sb) != 0) {
    setLastErrorFromErrno(errno, b);
    return -1;
  }
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino ? 1 : 0;
}
