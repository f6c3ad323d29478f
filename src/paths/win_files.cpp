// The narrow file operations of the layer's copy (copy.cpp) on Windows: the source opened with
// every sharing mode, a hidden temporary beside the destination, plain reads and writes, the
// attributes and times, MoveFileExA to publish or replace; and the move to another volume. The
// system's own CopyFileA writes the destination in place, so a copy that fails or is killed
// halfway would leave a partial file under the real name.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "paths/fileops.h"
#include "paths/files.h"
#include "paths/pathtext.h"
#include "paths/runtime.h"
#include "paths/winapi.h"

namespace {

// The bytes a hidden temporary name takes beside its directory: ".tc", the process number and
// the counter in at most 8 hex digits each, "-", ".tmp" and the final NUL.
constexpr size_t TEMP_NAME_BYTES = 3 + 8 + 1 + 8 + 4 + 1;

// The attribute bits a copy carries from its source; archive is set, as on any new file.
constexpr DWORD CARRIED_BITS =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

HANDLE handleOf(FileRef file) {
  return reinterpret_cast<HANDLE>(file);
}
FileRef fileOf(HANDLE handle) {
  return reinterpret_cast<FileRef>(handle);
}
OpError lastOpError() {
  return opWin32(GetLastError());
}
int64_t ticksOf(const FILETIME &time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                              time.dwLowDateTime);
}
FILETIME fileTimeOf(int64_t ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return time;
}

// Ctrl-C, Ctrl-Break or the console closing while copies run removes every temporary name in
// flight (the open files are shared for deletion, so the names go at once and the data when the
// process ends), then the process ends as usual. The handler runs on a thread of its own.
BOOL WINAPI removeTempsOnControl(DWORD) {
  for (int slot = 0; slot < TEMP_SLOTS; ++slot) {
    const char *name = tempNameInSlot(slot);
    if (name != nullptr) {
      SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(name);
    }
  }
  return FALSE; // the next handler, in the end the default one, ends the process
}

// The temporary name is gone (renamed or removed).
void releaseName(PreparedCopy *copy) {
  clearTempSlot(copy->slot);
  copy->slot = -1;
  copy->tempName[0] = '\0';
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

const size_t TEMP_PATH_LIMIT = sizeof(PathBuf);

void setLastErrorOfOp(OpError err, const char *sysPath) {
  (void)sysPath;
  SetLastError(err < 0 ? static_cast<DWORD>(-err) : ERROR_GEN_FAILURE);
}

bool opNameTaken(OpError err) {
  return err == opWin32(ERROR_ALREADY_EXISTS) || err == opWin32(ERROR_FILE_EXISTS);
}

bool copySystemPath(const char *path, char *out) {
  size_t length = std::strlen(path);
  if (length >= sizeof(PathBuf)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::memcpy(out, path, length + 1);
  return true;
}

long opRead(FileRef in, void *buffer, size_t count, OpError *err) {
  DWORD got = 0;
  if (!ReadFile(handleOf(in), buffer, static_cast<DWORD>(count), &got, nullptr)) {
    *err = lastOpError();
    return -1;
  }
  return static_cast<long>(got);
}

long opWrite(FileRef out, const void *data, size_t count, OpError *err) {
  DWORD put = 0;
  if (!WriteFile(handleOf(out), data, static_cast<DWORD>(count), &put, nullptr)) {
    *err = lastOpError();
    return -1;
  }
  return static_cast<long>(put);
}

// No kernel copy here: the data go by reads and writes.
long opCopyRange(FileRef in, FileRef out, size_t ask, uint64_t device, bool first, OpError *err) {
  (void)in;
  (void)out;
  (void)ask;
  (void)device;
  (void)first;
  (void)err;
  return 0;
}

bool opClone(FileRef in, FileRef out, uint64_t device) {
  (void)in;
  (void)out;
  (void)device;
  return false;
}

int64_t opPosition(FileRef file) {
  LARGE_INTEGER zero, at;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(handleOf(file), zero, &at, FILE_CURRENT))
    return -1;
  return at.QuadPart;
}

OpError opFlush(FileRef file) {
  return FlushFileBuffers(handleOf(file)) ? 0 : lastOpError();
}

OpError seekFile(FileRef file, uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(handleOf(file), to, nullptr, FILE_BEGIN) ? 0 : lastOpError();
}

OpError sizeOfFile(FileRef file, uint64_t *size) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(handleOf(file), &value))
    return lastOpError();
  *size = static_cast<uint64_t>(value.QuadPart);
  return 0;
}

OpError truncateFile(FileRef file, uint64_t size) {
  OpError err = seekFile(file, size);
  if (err == 0 && !SetEndOfFile(handleOf(file)))
    err = lastOpError();
  return err;
}

OpError nextDataOf(FileRef in, uint64_t at, uint64_t *data, uint64_t *hole) {
  (void)in;
  (void)at;
  (void)data;
  (void)hole;
  return HOLES_UNKNOWN;
}

// Every sharing mode: a file that another program holds open for writing (a live log) is copied
// up to the size read now; the copy fails one that shrinks meanwhile. A directory is refused
// here with 5, as CopyFileA refuses it.
bool openCopySource(const char *sysSource, CopySource *source) {
  HANDLE in =
      CreateFileA(sysSource, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE)
    return false;
  BY_HANDLE_FILE_INFORMATION info;
  DWORD code = 0;
  if (!GetFileInformationByHandle(in, &info) || !stampWithInfo(in, info, &source->stamp))
    code = GetLastError();
  else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    code = ERROR_ACCESS_DENIED;
  if (code != 0) {
    CloseHandle(in);
    SetLastError(code);
    return false;
  }
  source->file = fileOf(in);
  source->device = 0;
  source->sparse = false;
  source->attributes = info.dwFileAttributes;
  source->mode = 0;
  source->stored = -1;
  source->timeSec[0] = ticksOf(info.ftLastAccessTime);
  source->timeSec[1] = ticksOf(info.ftLastWriteTime);
  source->timeNsec[0] = source->timeNsec[1] = 0;
  return true;
}

void closeCopySource(CopySource *source) {
  CloseHandle(handleOf(source->file));
  source->file = NO_FILE;
}

// The destination's attributes are read by name, so the source's are too where they decide: a
// file system may derive a bit from the name (Wine hides a name that begins with a dot) where a
// handle does not show it.
DWORD sourceAttributesForRefusal(const char *sysSource, DWORD attributes) {
  DWORD byName = GetFileAttributesA(sysSource);
  return byName != INVALID_FILE_ATTRIBUTES ? byName : attributes;
}

// The attributes by name; the identity through a handle opened for nothing but that (unknown
// where it cannot be opened).
OpError examineDestination(const char *dst, DestinationFacts *facts) {
  *facts = DestinationFacts{};
  DWORD attributes = GetFileAttributesA(dst);
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return GetLastError() == ERROR_PATH_NOT_FOUND ? opWin32(ERROR_PATH_NOT_FOUND) : 0;
  facts->exists = true;
  facts->isDir = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts->attributes = attributes;
  facts->writable = true;
  facts->identity = FileIdentity{UINT64_MAX, UINT64_MAX};
  HANDLE file = CreateFileA(dst, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file, &info)) {
      FileStamp stamp;
      stampFromInfo(info, 0, &stamp);
      facts->identity = stamp.identity;
    }
    CloseHandle(file);
  }
  return 0;
}

OpError identityOfTemp(const PreparedCopy &copy, FileIdentity *identity) {
  BY_HANDLE_FILE_INFORMATION made;
  if (!GetFileInformationByHandle(handleOf(copy.temp), &made))
    return lastOpError();
  FileStamp stamp;
  stampFromInfo(made, 0, &stamp);
  *identity = stamp.identity;
  return 0;
}

// A new hidden file beside the destination. Its name is noted before it is made, so that no
// moment leaves the name unknown to the handler; a name that turns out taken carries this
// process's number, so it is a leftover anyway.
OpError opMakeTemp(PreparedCopy *copy, const CopySource &source) {
  (void)source;
  const char *destination = copy->destination;
  char *temp = copy->tempName;
  size_t dirLength = static_cast<size_t>(fileNamePart(destination) - destination);
  if (dirLength + TEMP_NAME_BYTES > TEMP_PATH_LIMIT)
    return opWin32(ERROR_FILENAME_EXCED_RANGE);
  installTempHandler();
  std::memcpy(temp, destination, dirLength);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::snprintf(temp + dirLength, TEMP_NAME_BYTES, ".tc%lx-%x.tmp", GetCurrentProcessId(),
                  nextTempCounter());
    copy->slot = noteTempName(temp);
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      copy->temp = fileOf(file);
      return 0;
    }
    DWORD code = GetLastError();
    releaseName(copy);
    if (code != ERROR_FILE_EXISTS)
      return opWin32(code);
    std::memcpy(temp, destination, dirLength);
  }
  return opWin32(ERROR_FILE_EXISTS);
}

FileRef opOpenAnonymous(const char *dir, uint32_t mode, OpError *err) {
  (void)dir;
  (void)mode;
  *err = opWin32(ERROR_NOT_SUPPORTED);
  return NO_FILE;
}

OpError opRenameTemp(const char *from, const char *to, bool replace, bool durable) {
  DWORD flags = (replace ? MOVEFILE_REPLACE_EXISTING : 0) | (durable ? MOVEFILE_WRITE_THROUGH : 0);
  return MoveFileExA(from, to, flags) ? 0 : lastOpError();
}

// The last-access and last-write times (its creation time is its own, as a new file's), the data
// flushed with `flush`; then the file is closed and given the source's attributes. Read-only
// comes last: where the other attributes are kept beside the file (as Wine keeps them, in an
// extended attribute), they can no longer change once the file is read-only.
OpError carryMetadata(PreparedCopy *copy, const CopySource &source, const DestinationFacts *old,
                      bool flush) {
  (void)old;
  FILETIME access = fileTimeOf(source.timeSec[0]);
  FILETIME write = fileTimeOf(source.timeSec[1]);
  if (!SetFileTime(handleOf(copy->temp), nullptr, &access, &write))
    return lastOpError();
  if (flush) {
    OpError err = fileOps.flush(copy->temp);
    if (err != 0)
      return err;
  }
  HANDLE file = handleOf(copy->temp);
  copy->temp = NO_FILE;
  if (!CloseHandle(file))
    return lastOpError();
  DWORD carried = (source.attributes & CARRIED_BITS) | FILE_ATTRIBUTE_ARCHIVE;
  if (!SetFileAttributesA(copy->tempName, carried & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) ||
      ((carried & FILE_ATTRIBUTE_READONLY) != 0 && !SetFileAttributesA(copy->tempName, carried)))
    return lastOpError();
  return 0;
}

void keepOwner(PreparedCopy *copy, const DestinationFacts &old) {
  (void)copy;
  (void)old;
}

OpError openTempForCheck(PreparedCopy *copy, int *fd, int64_t *size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(copy->tempName, GetFileExInfoStandard, &data))
    return lastOpError();
  int check = fsOpen(copy->tempName, FS_OPEN_READ);
  if (check < 0)
    return lastOpError();
  *fd = check;
  *size =
      static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  return 0;
}

namespace {

// Gives the temporary the destination's name, replacing a file there or not.
OpError renameTempTo(PreparedCopy *copy, bool replace) {
  OpError err = fileOps.renameTemp(copy->tempName, copy->destination, replace,
                                   (copy->flags & COPY_DURABLE) != 0);
  if (err == 0)
    releaseName(copy);
  return err;
}

} // namespace

OpError closeNamedTemp(PreparedCopy *) {
  return 0; // the temporary is renamed through its open handle
}

void deferLockCloses(bool) {}

bool closeDeferredFiles() {
  return false;
}

OpError publishTemp(PreparedCopy *copy) {
  return renameTempTo(copy, false);
}

OpError replaceWithTemp(PreparedCopy *copy) {
  return renameTempTo(copy, true);
}

void discardTemp(PreparedCopy *copy) {
  if (copy->temp != NO_FILE)
    CloseHandle(handleOf(copy->temp));
  copy->temp = NO_FILE;
  if (copy->tempName[0] != '\0') {
    SetFileAttributesA(copy->tempName, FILE_ATTRIBUTE_NORMAL); // a read-only file cannot be deleted
    DeleteFileA(copy->tempName);
  }
  releaseName(copy);
}

// The rename that published the copy was written through.
OpError flushPublished(PreparedCopy *copy) {
  (void)copy;
  return 0;
}

OpError removeMovedSource(const char *sysSource) {
  return DeleteFileA(sysSource) ? 0 : lastOpError();
}

void removeCopy(const char *sysDestination) {
  SetFileAttributesA(sysDestination, FILE_ATTRIBUTE_NORMAL); // a read-only file cannot be deleted
  DeleteFileA(sysDestination);
}

void installTempHandler() {
  static std::once_flag installed;
  std::call_once(installed, [] { SetConsoleCtrlHandler(removeTempsOnControl, TRUE); });
}

// No links that a copy takes as themselves here.
int copyLinkAsItself(const char *source, const char *destination, CopyRecord *record) {
  (void)source;
  (void)destination;
  (void)record;
  return -1;
}

// MoveFileA's move, written through. The system's own move to another volume writes the
// destination in place, so a move that failed midway (a full disk) would leave a partial file
// under the real name; the layer's copy is published only once complete, flushed and, under /v,
// checked, and never over an existing name (183) (moveFileByCopy).
bool moveFileUsing(const char *source, const char *destination, PreparedCopy *prepared) {
  if (MoveFileExA(source, destination, MOVEFILE_WRITE_THROUGH))
    return true;
  if (GetLastError() != ERROR_NOT_SAME_DEVICE)
    return false;
  if (GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_ALREADY_EXISTS); // known before any data are copied
    return false;
  }
  return moveFileByCopy(source, destination, prepared);
}
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
