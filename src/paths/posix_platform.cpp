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

#include "paths/posix_layer.h"

unsigned char leadByteMap[256];

namespace {

// Compares a character-set name with a known one, ignoring case, `-` and `_`.
bool sameCharsetName(const char *name, const char *known) {
  for (;;) {
    while (*name == '-' || *name == '_')
      ++name;
    while (*known == '-' || *known == '_')
      ++known;
    char a = *name, b = *known;
    if (a >= 'a' && a <= 'z')
      a = static_cast<char>(a - 32);
    if (b >= 'a' && b <= 'z')
      b = static_cast<char>(b - 32);
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
}

// Start-up: the locale's character set for the lead bytes, and argv[0] in program syntax.
void initPlatform(int argc, char **argv) {
  setlocale(LC_CTYPE, "");
  setLeadByteTable(LEAD_SYSTEM);
  if (argc > 0 && argv != nullptr && argv[0] != nullptr)
    for (char *c = argv[0]; *c != '\0'; ++c)
      if (*c == '/')
        *c = '\\';
}

// _open(path, _O_BINARY|_O_RDONLY or _O_RDWR): never creates. A directory, or a read-only
// file opened for writing, is refused with 5 as on Windows; a pipe, device or socket with 1
// (opening a pipe would wait for a writer).
int fsOpen(const char *path, int flags) {
  char sys[SYS_PATH];
  if (!toSystemPath(path, sys))
    return -1;
  if (flags != FS_OPEN_READ && flags != FS_OPEN_READWRITE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  bool writing = flags == FS_OPEN_READWRITE;
  int fd = open(sys, (writing ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    setLastErrorFromErrno(errno, sys);
    return -1;
  }
  struct stat st;
  DWORD code = 0;
  if (fstat(fd, &st) != 0)
    code = win32ErrorFromErrno(errno);
  else if (S_ISDIR(st.st_mode) || (writing && (st.st_mode & 0222) == 0))
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

// fgets in text mode: CR LF reads as LF, and a Ctrl-Z ends the file.
char *listFileGets(char *buffer, int size, ListFile *file) {
  TextStream *text = reinterpret_cast<TextStream *>(file);
  if (text == nullptr || buffer == nullptr || size <= 0)
    return nullptr;
  int n = 0;
  while (n < size - 1 && !text->ended) {
    int c = getc(text->stream);
    if (c == EOF)
      break;
    if (c == 0x1A) {
      text->ended = true;
      break;
    }
    if (c == '\r') {
      int following = getc(text->stream);
      if (following == '\n')
        c = '\n';
      else if (following != EOF)
        ungetc(following, text->stream);
    }
    buffer[n++] = static_cast<char>(c);
    if (c == '\n')
      break;
  }
  if (n == 0 && size > 1)
    return nullptr;
  buffer[n] = '\0';
  return buffer;
}

// fclose.
void listFileClose(ListFile *file) {
  TextStream *text = reinterpret_cast<TextStream *>(file);
  if (text == nullptr)
    return;
  fclose(text->stream);
  free(text);
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
