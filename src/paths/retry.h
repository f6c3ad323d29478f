// The access-denied retry: under /x, an operation refused for access is tried once more with
// the protection (read-only, hidden, system) of its file cleared.
#pragma once

#include "paths/winapi.h"

// Read-only, hidden and system: the bits that make Windows refuse to replace or remove a file,
// which the retry clears.
constexpr DWORD PROTECTION_BITS = 0x07;

bool retryAfterDenied();
bool clearProtection(const char *path);

// The one second attempt: after an operation on `path` was refused for access under /x, clears
// the protection of `path` and runs `attempt` once more. When that fails too, `path` gets back
// exactly the attribute word it had, and the last error is the attempt's. False when no second
// attempt could be made (no /x, another error, the protection not cleared) or it failed.
template <typename Attempt> bool retryWithProtectionCleared(const char *path, Attempt attempt) {
  if (!retryAfterDenied())
    return false;
  DWORD before = GetFileAttributesA(path);
  if (before == INVALID_FILE_ATTRIBUTES ||
      !SetFileAttributesA(path, before & ~static_cast<DWORD>(PROTECTION_BITS)))
    return false;
  if (attempt())
    return true;
  DWORD saved = GetLastError();
  SetFileAttributesA(path, before);
  SetLastError(saved);
  return false;
}
