// Internal to the POSIX backend (src/paths/posix_*.cpp) and its tests: the Win32 error numbers
// of the backend and the one table that turns an errno into one.
#pragma once

#include "paths/winapi.h"

#if !defined(_WIN32)

// Win32 error numbers that only the backend produces.
constexpr DWORD ERROR_INVALID_FUNCTION_NUM = 1u;
constexpr DWORD ERROR_INVALID_HANDLE_NUM = 6u;
constexpr DWORD ERROR_NO_MORE_FILES_NUM = 18u;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER_NUM = 122u;
constexpr DWORD ERROR_DIRECTORY_NUM = 267u;
constexpr DWORD ERROR_MR_MID_NOT_FOUND_NUM = 317u;

// What the failed call named, where one errno means different things: the entry itself, a
// directory it needs (a listing, the parent of a new directory), or a directory to remove.
// ERRNO_ANY marks the rows of the table that hold for every use.
enum ErrnoUse { ERRNO_ENTRY, ERRNO_DIRECTORY, ERRNO_REMOVE_DIRECTORY, ERRNO_ANY };

// The one errno table: the Win32 number for a system error (ENOENT gives 2 for the entry, 3 for
// a directory; EEXIST 145 for a directory to remove).
DWORD win32ErrorFromErrno(int err, ErrnoUse use = ERRNO_ENTRY);
// Sets the last error from errno; for ENOENT it tells a missing entry (2) from a missing
// directory on the way (3) by looking at the parent of `sysPath` (may be null: then 2).
void setLastErrorFromErrno(int err, const char *sysPath = nullptr);
// 3 when the directory holding `sysPath` is missing or not a directory, else 2.
DWORD missingEntryError(const char *sysPath);

#endif
