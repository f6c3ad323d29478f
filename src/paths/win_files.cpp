// The copy of one file on Windows, published as on POSIX: the data go into a hidden temporary
// file in the destination's directory, which replaces the destination in one rename only when
// it is complete. kernel32's CopyFileA writes the destination in place, so a copy that fails or
// is killed halfway would leave a partial file under the real name.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "paths/paths.h"

namespace {

// The read/write buffer, shared by every copy (one copy runs at a time).
constexpr DWORD COPY_CHUNK = 1u << 20;
unsigned char copyBuffer[COPY_CHUNK];

// Counter that makes temporary names unique within the process.
unsigned tempCounter = 0;

// The bytes a hidden temporary name takes beside its directory: ".tc", the process number and
// the counter in at most 8 hex digits each, "-", ".tmp" and the final NUL.
constexpr size_t TEMP_NAME_BYTES = 3 + 8 + 1 + 8 + 4 + 1;

// The hidden name of the copy being written, for the console control handler: Ctrl-C, Ctrl-Break
// or the console closing while a copy runs removes it (the open file is shared for deletion, so
// the name goes at once and the data when the process ends), then the process ends as usual.
// The handler runs on a thread of its own: the flag is read before the name, set after it.
char ctrlTempName[sizeof(PathBuf)];
volatile LONG ctrlTempSet = 0;

BOOL WINAPI removeTempOnControl(DWORD) {
  if (InterlockedCompareExchange(&ctrlTempSet, 0, 0) != 0) {
    SetFileAttributesA(ctrlTempName, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(ctrlTempName);
  }
  return FALSE; // the next handler, in the end the default one, ends the process
}

// Notes `name` as the temporary file that the control handler removes (nullptr: none); the
// handler is installed the first time.
void noteTempName(const char *name) {
  static bool installed = false;
  if (!installed) {
    installed = true;
    SetConsoleCtrlHandler(removeTempOnControl, TRUE);
  }
  InterlockedExchange(&ctrlTempSet, 0);
  if (name == nullptr)
    return;
  std::strcpy(ctrlTempName, name);
  InterlockedExchange(&ctrlTempSet, 1);
}

// Receives the bytes done while a copy runs (none: nullptr).
CopyProgressFn copyProgress = nullptr;

// The check of a copy's complete data before they are published (setCopyCheck).
CopyCheckFn copyCheck = nullptr;
void *copyCheckContext = nullptr;

// The test seam of a dropped write: when dropAfter >= 0, copies store only their first
// dropAfter bytes, though every byte counts as written.
int64_t dropAfter = -1;

// The attribute bits a copy carries from its source; archive is set, as on any new file.
constexpr DWORD CARRIED_BITS =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Why an existing destination may not be replaced by a copy of a source with the attribute
// word `source`, as Windows refuses it: 5 for a directory, a read-only file, or one hidden or
// system while the source is not; 0 when it may.
DWORD replacementRefusal(DWORD destination, DWORD source) {
  if ((destination & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
    return ERROR_ACCESS_DENIED;
  if ((destination & FILE_ATTRIBUTE_HIDDEN) != 0 && (source & FILE_ATTRIBUTE_HIDDEN) == 0)
    return ERROR_ACCESS_DENIED;
  if ((destination & FILE_ATTRIBUTE_SYSTEM) != 0 && (source & FILE_ATTRIBUTE_SYSTEM) == 0)
    return ERROR_ACCESS_DENIED;
  return 0;
}

// Whether the open source and the path `destination` are one file (volume serial number and
// file index); false also when the destination cannot be opened.
bool isSameFile(const BY_HANDLE_FILE_INFORMATION &source, const char *destination) {
  HANDLE file = CreateFileA(destination, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  BY_HANDLE_FILE_INFORMATION info;
  BOOL known = GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  return known && info.dwVolumeSerialNumber == source.dwVolumeSerialNumber &&
         info.nFileIndexHigh == source.nFileIndexHigh && info.nFileIndexLow == source.nFileIndexLow;
}

// What stands in the way of publishing the copy as `destination` (checked before the data are
// copied and again just before the rename): 80 when it exists under failIfExists, 32 when it is
// the source itself, 5 as replacementRefusal says; 3 when its directory is missing. 0 when the
// way is free (the destination is absent or may be replaced).
DWORD publishRefusal(const char *destination, const char *sourcePath,
                     const BY_HANDLE_FILE_INFORMATION &source, BOOL failIfExists) {
  DWORD attributes = GetFileAttributesA(destination);
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return GetLastError() == ERROR_PATH_NOT_FOUND ? ERROR_PATH_NOT_FOUND : 0;
  if (failIfExists)
    return ERROR_FILE_EXISTS;
  if (isSameFile(source, destination))
    return ERROR_SHARING_VIOLATION;
  DWORD sourceAttributes = source.dwFileAttributes;
  if ((attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) {
    // The destination's attributes are read by name, so the source's are too where they decide:
    // a file system may derive a bit from the name (Wine hides a name that begins with a dot)
    // where a handle does not show it.
    DWORD byName = GetFileAttributesA(sourcePath);
    if (byName != INVALID_FILE_ATTRIBUTES)
      sourceAttributes = byName;
  }
  return replacementRefusal(attributes, sourceAttributes);
}

// Creates a new hidden file beside `destination` for the copy, its name left in `temp`.
// INVALID_HANDLE_VALUE with the last error set when it cannot.
HANDLE createTemp(const char *destination, PathBuf temp) {
  size_t dirLength = static_cast<size_t>(fileNamePart(destination) - destination);
  if (dirLength + TEMP_NAME_BYTES > sizeof(PathBuf)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  std::memcpy(temp, destination, dirLength);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::snprintf(temp + dirLength, TEMP_NAME_BYTES, ".tc%lx-%x.tmp", GetCurrentProcessId(),
                  tempCounter++);
    // Noted before it is made, so that no moment leaves the name unknown to the handler; a name
    // that turns out taken carries this process's number, so it is a leftover anyway.
    noteTempName(temp);
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE)
      return file;
    if (GetLastError() != ERROR_FILE_EXISTS)
      break;
  }
  DWORD code = GetLastError();
  noteTempName(nullptr);
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

// Copies `total` bytes (the size seen when the source was opened) of `in` into `out`, telling
// the progress receiver how far it has come. A source that grew meanwhile gives no more; one
// that ends sooner fails with 38, never a shortened copy. False with the last error set.
bool copyData(HANDLE in, HANDLE out, uint64_t total) {
  uint64_t done = 0;
  while (done < total) {
    DWORD ask = static_cast<DWORD>(total - done < COPY_CHUNK ? total - done : COPY_CHUNK);
    DWORD got = 0;
    if (!ReadFile(in, copyBuffer, ask, &got, nullptr))
      return false;
    if (got == 0) {
      SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    DWORD stored = got;
    if (dropAfter >= 0)
      stored = done >= static_cast<uint64_t>(dropAfter)
                   ? 0
                   : static_cast<DWORD>(
                         std::min<uint64_t>(got, static_cast<uint64_t>(dropAfter) - done));
    for (DWORD at = 0; at < stored;) {
      DWORD put = 0;
      if (!WriteFile(out, copyBuffer + at, stored - at, &put, nullptr))
        return false;
      if (put == 0) {
        SetLastError(ERROR_DISK_FULL);
        return false;
      }
      at += put;
    }
    done += got;
    if (copyProgress != nullptr)
      copyProgress(done, total);
  }
  return true;
}

// A file's stamp from its handle information (identity, size, last-write time) and its change
// time.
void stampFromInfo(const BY_HANDLE_FILE_INFORMATION &info, int64_t changeTicks, FileStamp *stamp) {
  stamp->identity.volume = info.dwVolumeSerialNumber;
  stamp->identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp->writeTicks =
      static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                           info.ftLastWriteTime.dwLowDateTime);
  stamp->changeTicks = changeTicks;
}

// The stamp of an open file whose information `info` was read a moment ago: its change time
// comes from the basic information. False with the last error set.
bool stampWithInfo(HANDLE file, const BY_HANDLE_FILE_INFORMATION &info, FileStamp *stamp) {
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
    return false;
  stampFromInfo(info, basic.ChangeTime.QuadPart, stamp);
  return true;
}

// The stamp of an open file. False with the last error set.
bool stampOfHandle(HANDLE file, FileStamp *stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(file, &info) && stampWithInfo(file, info, stamp);
}

} // namespace

// Opened for its attributes alone, every sharing allowed; a link leads to what it names.
bool readStamp(const char *path, FileStamp *stamp) {
  HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  bool ok = stampOfHandle(file, stamp);
  DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(error);
  return ok;
}

// The system time, less two seconds: a file system may stamp changes with a coarser clock (FAT
// keeps times to two seconds).
int64_t changeTimeFloor() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  return ticks - 2 * 10000000LL;
}

void setCopyProgress(CopyProgressFn receiver) {
  copyProgress = receiver;
}

void setCopyCheck(CopyCheckFn check, void *context) {
  copyCheck = check;
  copyCheckContext = context;
}

// The seam for tests of a write that is accepted and never stored.
void setCopyDropForTest(int64_t keep) {
  dropAfter = keep;
}

namespace {

// Fills the new temporary file `temp`, open as `out`, from `in`: the data, the last-write time
// (its creation time is its own, as a new file's), the data flushed with `durable`; then closes
// it (`out` is then invalid) and gives it the source's attributes. 0, or the error.
DWORD fillTemp(HANDLE in, HANDLE &out, const char *temp, const BY_HANDLE_FILE_INFORMATION &info,
               bool durable) {
  uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (!copyData(in, out, size) ||
      !SetFileTime(out, nullptr, &info.ftLastAccessTime, &info.ftLastWriteTime))
    return GetLastError();
  if (durable && !FlushFileBuffers(out))
    return GetLastError();
  HANDLE file = out;
  out = INVALID_HANDLE_VALUE;
  if (!CloseHandle(file))
    return GetLastError();
  // Read-only comes last: where the other attributes are kept beside the file (as Wine keeps
  // them, in an extended attribute), they can no longer change once the file is read-only.
  DWORD carried = (info.dwFileAttributes & CARRIED_BITS) | FILE_ATTRIBUTE_ARCHIVE;
  if (!SetFileAttributesA(temp, carried & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) ||
      ((carried & FILE_ATTRIBUTE_READONLY) != 0 && !SetFileAttributesA(temp, carried)))
    return GetLastError();
  return 0;
}

// Runs the copy check (setCopyCheck) on the complete temporary file `temp`, opened afresh for
// reading: 0 when no check is set or it passes, else the error to fail the copy with.
DWORD checkTemp(const char *temp) {
  if (copyCheck == nullptr)
    return 0;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(temp, GetFileExInfoStandard, &data))
    return GetLastError();
  int copy = fsOpen(temp, FS_OPEN_READ);
  if (copy < 0)
    return GetLastError();
  int64_t size =
      static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  bool passed = copyCheck(copyCheckContext, copy, size);
  DWORD code = passed ? 0 : GetLastError();
  fsClose(copy);
  if (!passed && code == 0)
    code = ERROR_GEN_FAILURE;
  return code;
}

// The copy of fsCopyFile and copyFileDurably: refusals as CopyFileA has them, then the data,
// the last-write time and the attributes into a hidden temporary file, which a copy check, where
// one is set, reads and may refuse, then one rename over the destination. With `durable` the data
// reach the disk before the rename, and the rename before the call returns. Whatever fails, the
// temporary file is removed and the destination is as it was.
BOOL copyFile(const char *source, const char *destination, BOOL failIfExists, bool durable,
              CopyRecord *record) {
  // Every sharing mode: a file that another program holds open for writing (a live log) is
  // copied up to the size read now; copyData fails one that shrinks meanwhile.
  HANDLE in =
      CreateFileA(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE)
    return FALSE; // a directory is refused here with 5, as CopyFileA refuses it
  BY_HANDLE_FILE_INFORMATION info;
  PathBuf temp;
  temp[0] = '\0';
  HANDLE out = INVALID_HANDLE_VALUE;
  DWORD code = 0;
  if (!GetFileInformationByHandle(in, &info)) {
    code = GetLastError();
    goto done;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    code = ERROR_ACCESS_DENIED;
    goto done;
  }
  // What is read is what the open source says before the copy: the size read above.
  if (record != nullptr && !stampWithInfo(in, info, &record->source)) {
    code = GetLastError();
    goto done;
  }
  code = publishRefusal(destination, source, info, failIfExists);
  if (code != 0)
    goto done;
  out = createTemp(destination, temp);
  if (out == INVALID_HANDLE_VALUE) {
    code = GetLastError();
    temp[0] = '\0';
    goto done;
  }
  if (record != nullptr) {
    // The new file keeps its identity through the rename that publishes it.
    BY_HANDLE_FILE_INFORMATION made;
    if (!GetFileInformationByHandle(out, &made)) {
      code = GetLastError();
      goto done;
    }
    record->copy.volume = made.dwVolumeSerialNumber;
    record->copy.index = (static_cast<uint64_t>(made.nFileIndexHigh) << 32) | made.nFileIndexLow;
  }
  code = fillTemp(in, out, temp, info, durable);
  if (code == 0)
    code = checkTemp(temp);
  if (code != 0)
    goto done;
  // The destination may have changed while the data were copied.
  code = publishRefusal(destination, source, info, failIfExists);
  if (code != 0)
    goto done;
  if (!MoveFileExA(temp, destination,
                   (failIfExists ? 0 : MOVEFILE_REPLACE_EXISTING) |
                       (durable ? MOVEFILE_WRITE_THROUGH : 0))) {
    code = GetLastError();
    if (failIfExists && code == ERROR_ALREADY_EXISTS)
      code = ERROR_FILE_EXISTS;
    goto done;
  }
  temp[0] = '\0';

done:
  if (out != INVALID_HANDLE_VALUE)
    CloseHandle(out);
  if (temp[0] != '\0') {
    SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL); // a read-only file cannot be deleted
    DeleteFileA(temp);
  }
  noteTempName(nullptr);
  CloseHandle(in);
  if (code != 0) {
    SetLastError(code);
    return FALSE;
  }
  return TRUE;
}

} // namespace

BOOL fsCopyFile(const char *source, const char *destination, BOOL failIfExists,
                CopyRecord *record) {
  return copyFile(source, destination, failIfExists, false, record);
}

// The copy of a move: flushed to the disk, data and name, before it returns true.
bool copyFileDurably(const char *source, const char *destination, CopyRecord *record) {
  return copyFile(source, destination, FALSE, true, record) != FALSE;
}

// MoveFileA's move, written through. The system's own move to another volume writes the
// destination in place, so a move that failed midway (a full disk) would leave a partial file
// under the real name; the layer's copy is published only once complete, flushed and, under
// /v, checked, and never over an existing name. Then only the very source that was copied,
// unchanged, is deleted: one written to meanwhile keeps its data (32) and the destination keeps
// the copy of what was read. A delete that answers an error though the source is gone has
// moved the file; while the source is still there, unchanged, the copy is taken back.
bool moveFileDurably(const char *source, const char *destination) {
  if (MoveFileExA(source, destination, MOVEFILE_WRITE_THROUGH))
    return true;
  if (GetLastError() != ERROR_NOT_SAME_DEVICE)
    return false;
  CopyRecord record;
  if (!copyFile(source, destination, TRUE, true, &record))
    return false;
  FileStamp now;
  if (!readStamp(source, &now))
    return false;
  if (!(now == record.source)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  if (DeleteFileA(source))
    return true;
  DWORD saved = GetLastError();
  if (GetFileAttributesA(source) == INVALID_FILE_ATTRIBUTES &&
      (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND))
    return true;
  if (readStamp(source, &now) && now == record.source) {
    SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL); // a read-only file cannot be deleted
    DeleteFileA(destination);
  }
  SetLastError(saved);
  return false;
}
