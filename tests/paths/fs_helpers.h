// Small helpers for the contract tests of the file-system layer (both backends).
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "paths/winapi.h"
#include "support/testutil.h"

// The last error equals a Win32 number (the Windows headers define some numbers as long).
#define EXPECT_LAST_ERROR(code) EXPECT_EQ(GetLastError(), static_cast<DWORD>(code))

namespace fst {

// Every name FindFirstFileA/FindNextFileA return for `pattern`, in order; empty when nothing
// matches (then `error` holds the last error).
inline std::vector<std::string> listNames(const std::string &pattern, DWORD *error = nullptr) {
  std::vector<std::string> names;
  FindEntry entry{};
  HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    if (error != nullptr)
      *error = GetLastError();
    return names;
  }
  do
    names.push_back(entry.cFileName);
  while (FindNextFileA(search, &entry));
  EXPECT_LAST_ERROR(18u); // ERROR_NO_MORE_FILES
  FindClose(search);
  return names;
}

// The last error of a lookup that must fail.
inline DWORD lookupError(const std::string &pattern) {
  DWORD error = 0;
  std::vector<std::string> names = listNames(pattern, &error);
  EXPECT_TRUE(names.empty()) << pattern << " unexpectedly found " << names.size();
  return error;
}

inline int64_t ticksOf(const FILETIME &time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                              time.dwLowDateTime);
}

inline uint64_t sizeOf(const FindEntry &entry) {
  return (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
}

} // namespace fst
