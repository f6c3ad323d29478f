// Helpers shared by the unit tests of every subsystem: temporary trees, file contents, times,
// captured console output and a clean run state. They work on both platforms.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "paths/winapi.h"

namespace tu {

namespace fs = std::filesystem;

// A fresh directory for one test, removed with everything in it (protection cleared) afterwards.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const fs::path &path() const { return root_; }
  // The program's path text of `relative` below the directory (backslash separators).
  std::string text(const std::string &relative = "") const;

private:
  fs::path root_;
};

// The program's path text for a path of this system: `\` separators (on POSIX an absolute
// path begins with `\`).
std::string programPath(const fs::path &path);

void writeFile(const fs::path &path, const std::string &bytes);
std::string readFile(const fs::path &path);
// A string of `size` bytes with a repeating, position-dependent pattern.
std::string patternBytes(size_t size, unsigned seed = 0);

// Last-write time in 100-ns ticks since 1601, read and set through the file-system layer.
int64_t writeTicks(const fs::path &path);
void setWriteTicks(const fs::path &path, int64_t ticks);

// Reads one entry through FindFirstFileA; fails the test when it is missing.
FindEntry findEntry(const fs::path &path);

// Captures everything printed to standard output; carriage returns are dropped.
class StdoutCapture {
public:
  StdoutCapture();
  ~StdoutCapture();
  std::string finish();

private:
  bool active_;
};

// Puts runState and the text rules back to their start: no lead bytes, the platform's colon rule.
void resetAll();

// Whether the Windows build runs under Wine (for tests that mark a known Wine difference);
// always false on POSIX.
bool underWine();

} // namespace tu
