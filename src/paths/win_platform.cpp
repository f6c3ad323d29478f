// The Windows backend: kernel32 provides the file operations themselves (the copy, published
// atomically, is in win_files.cpp); this file adds what the program names in its own terms:
// the code page and the lead-byte table, the runtime-library file calls (with the Win32 last
// error left readable), the list-file stream and file identity.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>

#include "paths/files.h"
#include "paths/lookup.h"
#include "paths/pathtext.h"
#include "paths/runtime.h"
#include "paths/winapi.h"

unsigned char leadByteMap[256];

// Fills leadByteMap for the chosen table (the active code page's for LEAD_SYSTEM).
void setLeadByteTable(LeadByteTable table) {
  for (int c = 0; c < 256; ++c) {
    bool lead = false;
    if (table == LEAD_SYSTEM)
      lead = IsDBCSLeadByte(static_cast<BYTE>(c)) != 0;
    else if (table == LEAD_SHIFT_JIS)
      lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    else if (table == LEAD_WIDE)
      lead = c >= 0x81 && c <= 0xFE;
    leadByteMap[c] = lead ? 1 : 0;
  }
}

namespace {

// The console's output code page before the program changed it (0: unchanged).
UINT savedConsoleCodePage = 0;

// Gives the console its code page back at exit, once everything printed has reached it.
void restoreConsoleCodePage() {
  std::fflush(stdout);
  std::fflush(stderr);
  SetConsoleOutputCP(savedConsoleCodePage);
}

} // namespace

// Start-up; the program path is already in Windows syntax. Where the manifest's activeCodePage
// took effect, the process speaks UTF-8: no byte is a lead byte, and the console is switched to
// UTF-8 for the run so that it shows the names as they are printed. On a system older than that
// key the code page stays the ANSI one, with its lead bytes, and the console is left alone.
void initPlatform(int argc, char **argv) {
  (void)argc;
  (void)argv;
  if (GetACP() != CP_UTF8) {
    setLeadByteTable(LEAD_SYSTEM);
    return;
  }
  setLeadByteTable(LEAD_NONE);
  UINT console = GetConsoleOutputCP(); // 0 without a console
  if (console != 0 && console != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    savedConsoleCodePage = console;
    std::atexit(restoreConsoleCodePage);
  }
}

namespace {

// Whether an open file is private: no reparse point (it was opened without following one), no
// directory, one name.
bool isPrivateHandle(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info))
    return false;
  return (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
         info.nNumberOfLinks == 1;
}

} // namespace

// _open: the flag values are the runtime's own; CreateFile's error stays the last error. For
// FS_OPEN_UPDATE the file is opened without following a reparse point and checked through that
// very handle before the runtime takes it over.
int fsOpen(const char *path, int flags) {
  if (flags != FS_OPEN_UPDATE)
    return _open(path, flags);
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return -1;
  if (!isPrivateHandle(file)) {
    CloseHandle(file);
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
  }
  return fd;
}

// A reparse point is looked at itself, not followed.
int isPrivateFile(const char *path) {
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return -1;
  bool owned = isPrivateHandle(file);
  CloseHandle(file);
  return owned ? 1 : 0;
}

// _read.
int fsRead(int fd, void *buffer, unsigned count) {
  return _read(fd, buffer, count);
}

// _write.
int fsWrite(int fd, const void *buffer, unsigned count) {
  return _write(fd, buffer, count);
}

// _lseeki64 with SEEK_SET or SEEK_CUR.
int64_t fsSeek(int fd, int64_t offset, int whence) {
  return _lseeki64(fd, offset, whence == FS_SEEK_CUR ? SEEK_CUR : SEEK_SET);
}

// _chsize_s: SetEndOfFile's error stays the last error.
// Windows keeps no mark of an update in place here (an alternate data stream could, but Wine
// keeps none): an update ended midway is left for a full copy to replace.
bool markUpdate(int fd, int64_t oldSize, int64_t oldWriteTicks) {
  (void)fd;
  (void)oldSize;
  (void)oldWriteTicks;
  return true;
}

bool clearUpdateMark(const char *path) {
  (void)path;
  return true;
}

bool readUpdateMark(const char *path, int64_t *oldSize, int64_t *oldWriteTicks) {
  (void)path;
  (void)oldSize;
  (void)oldWriteTicks;
  return false;
}

int fsTruncate(int fd, int64_t size) {
  return _chsize_s(fd, size) == 0 ? 0 : -1;
}

// _close.
int fsClose(int fd) {
  return _close(fd);
}

// fopen(path, "rt"): text mode drops the CR of CR LF and ends the file at Ctrl-Z.
ListFile *listFileOpen(const char *path) {
  return reinterpret_cast<ListFile *>(fopen(path, "rt"));
}

// fgetc.
int listFileGetc(ListFile *file) {
  int c = fgetc(reinterpret_cast<FILE *>(file));
  return c == EOF ? LIST_FILE_END : c;
}

// fseek to the start.
bool listFileRewind(ListFile *file) {
  return file != nullptr && fseek(reinterpret_cast<FILE *>(file), 0, SEEK_SET) == 0;
}

// fclose.
void listFileClose(ListFile *file) {
  if (file != nullptr)
    fclose(reinterpret_cast<FILE *>(file));
}

namespace {

// Volume serial number and file index of a path (a directory too); false when unreadable.
bool identityOf(const char *path, BY_HANDLE_FILE_INFORMATION *info) {
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  BOOL ok = GetFileInformationByHandle(file, info);
  DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(error);
  return ok != FALSE;
}

} // namespace

// Volume serial number and file index; a link or junction leads to what it names.
bool readIdentity(const char *path, FileIdentity *identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!identityOf(path, &info))
    return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

namespace {

// Cuts the last component off `path` (trailing separators first), keeping the separator or
// colon before it, so that C:\a gives C:\ and \\?\C:\a gives \\?\C:\. False when there is
// no component left to cut (a drive, a root, a single relative name).
bool cutLastComponent(char *path) {
  while (path[0] != '\0' && *lastCharPtr(path) == '\\')
    *lastCharPtr(path) = '\0';
  char *name = fileNamePart(path);
  if (*name == '\0' || name == path)
    return false;
  *name = '\0';
  return true;
}

} // namespace

// The nearest existing ancestor is opened and its final path (every link and junction
// resolved) read back; its ancestors are then climbed to the root by identity.
int isWithinDirectory(const char *path, const char *dir) {
  BY_HANDLE_FILE_INFORMATION target;
  if (!identityOf(dir, &target))
    return -1;
  PathBuf probe;
  if (!pathPut(probe, probe, path))
    return -1;
  HANDLE file;
  for (;;) {
    file = CreateFileA(probe, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file != INVALID_HANDLE_VALUE)
      break;
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      return -1;
    while (probe[1] != '\0' && *lastCharPtr(probe) == '\\')
      *lastCharPtr(probe) = '\0';
    const char *name = fileNamePart(probe);
    if (dotsOnlyLength(name) >= 1)
      return -1; // the missing rest steps up out of the existing part, or "." is missing
    if (name == probe) {
      pathPut(probe, probe, "."); // a relative name below the current directory
      continue;
    }
    if (!cutLastComponent(probe))
      return -1;
  }
  char resolved[PATH_BUF];
  DWORD length = GetFinalPathNameByHandleA(file, resolved, sizeof resolved, FILE_NAME_NORMALIZED);
  CloseHandle(file);
  if (length == 0 || length >= sizeof resolved)
    return -1;
  for (;;) {
    BY_HANDLE_FILE_INFORMATION info;
    if (identityOf(resolved, &info) && info.dwVolumeSerialNumber == target.dwVolumeSerialNumber &&
        info.nFileIndexHigh == target.nFileIndexHigh && info.nFileIndexLow == target.nFileIndexLow)
      return 1;
    if (!cutLastComponent(resolved))
      return 0;
  }
}

// Whether two paths name one file: same volume serial number and file index.
int sameFileIdentity(const char *first, const char *second) {
  BY_HANDLE_FILE_INFORMATION a, b;
  if (!identityOf(first, &a) || !identityOf(second, &b))
    return -1;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                 a.nFileIndexLow == b.nFileIndexLow
             ? 1
             : 0;
}

// The exact lookup of one name: Windows names hold no wildcard, so FindFirstFileA finds just it.
bool lookupEntry(const char *path, FindEntry *entry, bool storedAttributes) {
  (void)storedAttributes;
  HANDLE search = FindFirstFileA(path, entry);
  if (search == INVALID_HANDLE_VALUE)
    return false;
  FindClose(search);
  return true;
}

// Windows looks each name up by its whole path: the directory is its path text.
bool openLookupDir(const char *path, LookupDir *dir) {
  dir->fd = -1;
  dir->error = 0;
  if (!pathPut(dir->path, dir->path, path)) {
    dir->path[0] = '\0';
    dir->error = ERROR_FILENAME_EXCED_RANGE;
    SetLastError(dir->error);
    return false;
  }
  return true;
}

bool lookupEntryAt(const LookupDir &dir, const char *name, FindEntry *entry,
                   bool storedAttributes) {
  PathBuf whole;
  return lookupDirPath(dir, name, whole) && lookupEntry(whole, entry, storedAttributes);
}

void closeLookupDir(LookupDir *dir) {
  dir->fd = -1;
}
