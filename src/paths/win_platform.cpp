// The Windows backend: kernel32 provides the file operations themselves (the copy, published
// atomically, is in win_files.cpp); this file adds what the program names in its own terms:
// the code page and the lead-byte table, the runtime-library file calls (with the Win32 last
// error left readable), the list-file stream and file identity.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>

#include "paths/paths.h"

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

// _open: the flag values are the runtime's own; CreateFile's error stays the last error.
int fsOpen(const char *path, int flags) {
  return _open(path, flags);
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

// _close.
int fsClose(int fd) {
  return _close(fd);
}

// fopen(path, "rt"): text mode drops the CR of CR LF and ends the file at Ctrl-Z.
ListFile *listFileOpen(const char *path) {
  return reinterpret_cast<ListFile *>(fopen(path, "rt"));
}

// fgets.
char *listFileGets(char *buffer, int size, ListFile *file) {
  return fgets(buffer, size, reinterpret_cast<FILE *>(file));
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

// MoveFileA's move, written through: a move to another volume (a copy and a delete) has its
// copy flushed before the source is deleted.
bool moveFileDurably(const char *source, const char *destination) {
  return MoveFileExA(source, destination, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != FALSE;
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
