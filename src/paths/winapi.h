// The system interface the core is written against: the Win32 types, constants and calls the
// program uses (directory listing, whole-file operations, file times through a handle, the last
// error and its text, calendar fields). On Windows they are the platform's own (kernel32 and the C
// runtime), and this is the one header that includes <windows.h>; on POSIX the layer provides
// each of them with the same observable contract. Nothing outside src/paths includes a system
// header.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
typedef WIN32_FIND_DATAA FindEntry;
#else
typedef uint32_t DWORD;
typedef int BOOL;
typedef void *HANDLE;
typedef unsigned char BYTE;
typedef uint16_t WORD;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// One directory entry, laid out as WIN32_FIND_DATAA.
struct FindEntry {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[260];
  char cAlternateFileName[14];
};

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)

#define FILE_ATTRIBUTE_READONLY 0x01u
#define FILE_ATTRIBUTE_HIDDEN 0x02u
#define FILE_ATTRIBUTE_SYSTEM 0x04u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400u

#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_NOT_SAME_DEVICE 17u
#define ERROR_NO_MORE_FILES 18u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_HANDLE_EOF 38u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_INVALID_NAME 123u
#define ERROR_DIR_NOT_EMPTY 145u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_FILE_TOO_LARGE 223u
#define ERROR_DIRECTORY 267u
#define ERROR_IO_DEVICE 1117u
#define ERROR_CANT_RESOLVE_FILENAME 1921u

// The reparse tag of a symbolic link, which the listing leaves in dwReserved0 (see isLinkEntry).
#define IO_REPARSE_TAG_SYMLINK 0xA000000Cu

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x01u
#define FILE_SHARE_WRITE 0x02u
#define OPEN_EXISTING 3u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x1000u

// Directory enumeration: Windows wildcard rules on the last component, "." and ".." first,
// then names in upper-case-folded byte order; symbolic links followed.
HANDLE FindFirstFileA(const char *pattern, FindEntry *entry);
BOOL FindNextFileA(HANDLE search, FindEntry *entry);
BOOL FindClose(HANDLE search);

// Whole-file operations.
BOOL CopyFileA(const char *source, const char *destination, BOOL failIfExists);
BOOL MoveFileA(const char *source, const char *destination);
BOOL DeleteFileA(const char *path);
BOOL CreateDirectoryA(const char *path, void *securityAttributes);
BOOL RemoveDirectoryA(const char *path);
DWORD GetFileAttributesA(const char *path);
BOOL SetFileAttributesA(const char *path, DWORD attributes);

// File times through a handle (used to copy all three times after an incremental copy).
HANDLE CreateFileA(const char *path, DWORD access, DWORD share, void *securityAttributes,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL GetFileTime(HANDLE file, FILETIME *creation, FILETIME *lastAccess, FILETIME *lastWrite);
BOOL SetFileTime(HANDLE file, const FILETIME *creation, const FILETIME *lastAccess,
                 const FILETIME *lastWrite);
BOOL CloseHandle(HANDLE handle);

// The last error is a Win32 error number on both platforms.
DWORD GetLastError();
void SetLastError(DWORD code);
DWORD FormatMessageA(DWORD flags, const void *source, DWORD messageId, DWORD languageId,
                     char *buffer, DWORD size, void *arguments);

// Calendar fields of a FILETIME.
BOOL FileTimeToLocalFileTime(const FILETIME *fileTime, FILETIME *localTime);
BOOL FileTimeToSystemTime(const FILETIME *fileTime, SYSTEMTIME *systemTime);
#endif
