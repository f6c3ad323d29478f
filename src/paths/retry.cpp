// The one rule for a second attempt after a refused file operation.
#include "paths/retry.h"
#include "paths/winapi.h"
#include "state/state.h"

// Whether the operation that just failed deserves one more try: refused for access and /x given.
// Reading the last error leaves it as it is, so the caller can still report it.
bool retryAfterDenied() {
  return GetLastError() == ERROR_ACCESS_DENIED && runState.includeHidden;
}

// Clears the protection bits of the file in the way; every other bit is written back unchanged.
// On failure the last error is the one the failing call left.
bool clearProtection(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return false;
  return SetFileAttributesA(path, attributes & ~PROTECTION_BITS) != FALSE;
}
