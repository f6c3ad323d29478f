// The POSIX backend's error channel: the last error, the one errno table, the Windows English
// message texts, and the FILETIME calendar conversions.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

#include "paths/posix_errors.h"
#include "paths/posix_names.h"
#include "paths/posix_time.h"
#include "paths/winapi.h"

namespace {

// The last error of the calling thread, as GetLastError keeps it.
thread_local DWORD lastError = 0;

struct ErrnoRow {
  int err;
  ErrnoUse use; // the row holds only for this use; ERRNO_ANY for every use
  DWORD code;
};

// The one translation of system errors into Win32 numbers, the first matching row winning.
// ENOENT is the missing entry (2), or the missing directory (3) of a call that names one;
// callers that can tell a missing directory on the way use missingEntryError.
const ErrnoRow ERRNO_TABLE[] = {
    {ENOENT, ERRNO_DIRECTORY, ERROR_PATH_NOT_FOUND},
    {EEXIST, ERRNO_REMOVE_DIRECTORY, ERROR_DIR_NOT_EMPTY},
    {EACCES, ERRNO_ANY, ERROR_ACCESS_DENIED},
    {EPERM, ERRNO_ANY, ERROR_ACCESS_DENIED},
    {EISDIR, ERRNO_ANY, ERROR_ACCESS_DENIED},
    {ENOENT, ERRNO_ANY, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERRNO_ANY, ERROR_PATH_NOT_FOUND},
    {EEXIST, ERRNO_ANY, ERROR_ALREADY_EXISTS},
    {ENOTEMPTY, ERRNO_ANY, ERROR_DIR_NOT_EMPTY},
    {ENOSPC, ERRNO_ANY, ERROR_DISK_FULL},
    {EDQUOT, ERRNO_ANY, ERROR_DISK_FULL},
    {EROFS, ERRNO_ANY, ERROR_WRITE_PROTECT},
    {ENAMETOOLONG, ERRNO_ANY, ERROR_FILENAME_EXCED_RANGE},
    {EXDEV, ERRNO_ANY, ERROR_NOT_SAME_DEVICE},
    {EBUSY, ERRNO_ANY, ERROR_SHARING_VIOLATION},
    {ETXTBSY, ERRNO_ANY, ERROR_SHARING_VIOLATION},
    {EIO, ERRNO_ANY, ERROR_IO_DEVICE},
    {EMFILE, ERRNO_ANY, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERRNO_ANY, ERROR_TOO_MANY_OPEN_FILES},
    {ENOMEM, ERRNO_ANY, ERROR_NOT_ENOUGH_MEMORY},
    {ELOOP, ERRNO_ANY, ERROR_CANT_RESOLVE_FILENAME},
    {EFBIG, ERRNO_ANY, ERROR_FILE_TOO_LARGE},
    {EINVAL, ERRNO_ANY, ERROR_INVALID_PARAMETER},
    {EBADF, ERRNO_ANY, ERROR_INVALID_HANDLE_NUM},
    // A socket (or a device without its driver) cannot even be opened: refused as every other
    // kind of file that is no regular file (a pipe, a device) is refused once opened.
    {ENXIO, ERRNO_ANY, ERROR_INVALID_FUNCTION_NUM},
};

// Anything the table does not name.
constexpr DWORD ERRNO_DEFAULT = ERROR_GEN_FAILURE;

struct MessageRow {
  DWORD code;
  const char *text;
};

// Windows' English texts for every number the layer can produce.
const MessageRow MESSAGES[] = {
    {ERROR_INVALID_FUNCTION_NUM, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE_NUM, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_NOT_SAME_DEVICE, "The system cannot move the file to a different disk drive."},
    {ERROR_NO_MORE_FILES_NUM, "There are no more files."},
    {ERROR_WRITE_PROTECT, "The media is write protected."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER_NUM, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_FILE_TOO_LARGE, "The file size exceeds the limit allowed and cannot be saved."},
    {ERROR_DIRECTORY_NUM, "The directory name is invalid."},
    {ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error."},
    {ERROR_CANT_RESOLVE_FILENAME, "The name of the file cannot be resolved by the system."},
};

constexpr int64_t TICKS_PER_SEC = 10000000;
constexpr int64_t TICKS_PER_DAY = 86400 * TICKS_PER_SEC;

} // namespace

// GetLastError: the thread's last error.
DWORD GetLastError() {
  return lastError;
}

// SetLastError.
void SetLastError(DWORD code) {
  lastError = code;
}

// Maps one errno value through the table, with the visible default.
DWORD win32ErrorFromErrno(int err, ErrnoUse use) {
  for (const ErrnoRow &row : ERRNO_TABLE)
    if (row.err == err && (row.use == ERRNO_ANY || row.use == use))
      return row.code;
  return ERRNO_DEFAULT;
}

// A missing name is 2 when its directory exists, 3 when the directory itself is missing.
DWORD missingEntryError(const char *sysPath) {
  if (sysPath == nullptr)
    return ERROR_FILE_NOT_FOUND;
  const char *slash = strrchr(sysPath, '/');
  if (slash == nullptr)
    return ERROR_FILE_NOT_FOUND; // the current directory exists
  char parent[SYS_PATH];
  size_t length = static_cast<size_t>(slash - sysPath);
  if (length == 0)
    return ERROR_FILE_NOT_FOUND; // the root exists
  if (length >= sizeof parent)
    return ERROR_PATH_NOT_FOUND;
  memcpy(parent, sysPath, length);
  parent[length] = '\0';
  struct stat st;
  if (stat(parent, &st) == 0 && S_ISDIR(st.st_mode))
    return ERROR_FILE_NOT_FOUND;
  return ERROR_PATH_NOT_FOUND;
}

// Sets the last error for a failed system call on `sysPath`.
void setLastErrorFromErrno(int err, const char *sysPath) {
  if (err == ENOENT)
    lastError = missingEntryError(sysPath);
  else
    lastError = win32ErrorFromErrno(err);
}

// FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, ...): the Windows English text ended by CR LF.
// A number without text gives 0 and an empty buffer.
DWORD FormatMessageA(DWORD flags, const void *source, DWORD messageId, DWORD languageId,
                     char *buffer, DWORD size, void *arguments) {
  (void)source;
  (void)languageId;
  (void)arguments;
  if (buffer != nullptr && size > 0)
    buffer[0] = '\0';
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  for (const MessageRow &row : MESSAGES) {
    if (row.code != messageId)
      continue;
    size_t length = strlen(row.text) + 2;
    if (length + 1 > size) {
      lastError = ERROR_INSUFFICIENT_BUFFER_NUM;
      return 0;
    }
    memcpy(buffer, row.text, length - 2);
    memcpy(buffer + length - 2, "\r\n", 3);
    return static_cast<DWORD>(length);
  }
  lastError = ERROR_MR_MID_NOT_FOUND_NUM;
  return 0;
}

// Ticks since 1601 for a time in seconds and nanoseconds since 1970. A time past the range of
// ticks (tmpfs keeps times far beyond the year 30828) gives TICKS_SATURATED, so that it stays
// the newest of all; one before it gives the lowest value.
int64_t ticksFromUnix(int64_t seconds, int64_t nanoseconds) {
  int64_t ticks;
  if (__builtin_mul_overflow(seconds, TICKS_PER_SEC, &ticks) ||
      __builtin_add_overflow(ticks, nanoseconds / 100 + EPOCH_DIFF_TICKS, &ticks))
    return seconds < 0 ? INT64_MIN : TICKS_SATURATED;
  return ticks;
}

// Seconds and nanoseconds since 1970 for ticks since 1601 (floored for times before 1970).
void unixFromTicks(int64_t ticks, int64_t *seconds, int64_t *nanoseconds) {
  int64_t since = ticks - EPOCH_DIFF_TICKS;
  int64_t s = since / TICKS_PER_SEC;
  int64_t rest = since % TICKS_PER_SEC;
  if (rest < 0) {
    rest += TICKS_PER_SEC;
    s -= 1;
  }
  *seconds = s;
  *nanoseconds = rest * 100;
}

// Stores ticks into a FILETIME (a time before 1601 becomes 0).
void putTicks(FILETIME *time, int64_t ticks) {
  uint64_t value = ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
  time->dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
  time->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

// FileTimeToLocalFileTime: adds the current offset of local time from UTC, as Windows does
// (the offset in force now, not the one at that time). Fails for values past the range, and for
// the last one, which stands for every time the listing found beyond it.
BOOL FileTimeToLocalFileTime(const FILETIME *fileTime, FILETIME *localTime) {
  if (fileTime == nullptr || localTime == nullptr) {
    lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  uint64_t value =
      (static_cast<uint64_t>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  if (value == static_cast<uint64_t>(TICKS_SATURATED)) {
    lastError = ERROR_INVALID_PARAMETER; // a time past the range: no calendar date is true
    return FALSE;
  }
  time_t now = time(nullptr);
  struct tm local;
  int64_t offset = 0;
  if (localtime_r(&now, &local) != nullptr)
    offset = static_cast<int64_t>(local.tm_gmtoff) * TICKS_PER_SEC;
  if (value >= 0x8000000000000000ULL) {
    lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  int64_t base = static_cast<int64_t>(value);
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) {
    lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  int64_t shifted = base + offset;
  localTime->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(shifted) & 0xFFFFFFFFu);
  localTime->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(shifted) >> 32);
  return TRUE;
}

// FileTimeToSystemTime: calendar fields of a tick count (proleptic Gregorian, from 1601).
// Values with the top bit set fail, as on Windows.
BOOL FileTimeToSystemTime(const FILETIME *fileTime, SYSTEMTIME *systemTime) {
  if (fileTime == nullptr || systemTime == nullptr) {
    lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  uint64_t value =
      (static_cast<uint64_t>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  if (value >= 0x8000000000000000ULL) {
    lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  int64_t ticks = static_cast<int64_t>(value);
  int64_t days = ticks / TICKS_PER_DAY;
  int64_t within = ticks % TICKS_PER_DAY;
  // 1601-01-01 was a Monday.
  systemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);
  // Civil date by the days-from-civil algorithm, anchored at the Unix epoch.
  int64_t unixDays = days - 134774; // 1601-01-01 to 1970-01-01
  int64_t zc = unixDays + 719468;
  int64_t era = (zc >= 0 ? zc : zc - 146096) / 146097;
  int64_t doe = zc - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t year = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2)
    year += 1;
  systemTime->wYear = static_cast<WORD>(year);
  systemTime->wMonth = static_cast<WORD>(month);
  systemTime->wDay = static_cast<WORD>(day);
  int64_t ms = within / 10000;
  systemTime->wHour = static_cast<WORD>(ms / 3600000);
  systemTime->wMinute = static_cast<WORD>(ms / 60000 % 60);
  systemTime->wSecond = static_cast<WORD>(ms / 1000 % 60);
  systemTime->wMilliseconds = static_cast<WORD>(ms % 1000);
  return TRUE;
}
