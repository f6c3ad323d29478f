#include "support/testutil.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/cli.h"

namespace tu {

namespace {

// Clears the protection bits below `root` so that the tree can be removed.
void unprotectTree(const fs::path &root) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string text = programPath(it->path());
    DWORD attributes = GetFileAttributesA(text.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & 0x07u) != 0)
      SetFileAttributesA(text.c_str(), attributes & ~0x07u);
  }
}

} // namespace

TempDir::TempDir() {
  static std::mt19937_64 random{std::random_device{}()};
  fs::path base = fs::temp_directory_path();
  for (;;) {
    std::ostringstream name;
    name << "tc-" << std::hex << random();
    root_ = base / name.str();
    std::error_code ec;
    if (fs::create_directory(root_, ec))
      break;
  }
  root_ = fs::canonical(root_);
}

TempDir::~TempDir() {
  std::error_code ec;
  unprotectTree(root_);
  fs::remove_all(root_, ec);
}

std::string TempDir::text(const std::string &relative) const {
  std::string base = programPath(root_);
  if (relative.empty())
    return base;
  return base + "\\" + relative;
}

std::string programPath(const fs::path &path) {
  std::string text = path.string();
  for (char &c : text)
    if (c == '/')
      c = '\\';
  return text;
}

void writeFile(const fs::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string patternBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t x = 2463534242u + seed * 7919u;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[i] = static_cast<char>(x & 0xFF);
  }
  return bytes;
}

int64_t writeTicks(const fs::path &path) {
  FindEntry entry = findEntry(path);
  return (static_cast<int64_t>(entry.ftLastWriteTime.dwHighDateTime) << 32) |
         entry.ftLastWriteTime.dwLowDateTime;
}

void setWriteTicks(const fs::path &path, int64_t ticks) {
  std::string text = programPath(path);
  HANDLE file = CreateFileA(text.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot open " << text;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  EXPECT_TRUE(SetFileTime(file, nullptr, &time, &time));
  CloseHandle(file);
}

FindEntry findEntry(const fs::path &path) {
  FindEntry entry{};
  std::string text = programPath(path);
  HANDLE search = FindFirstFileA(text.c_str(), &entry);
  EXPECT_NE(search, INVALID_HANDLE_VALUE) << "not found: " << text;
  if (search != INVALID_HANDLE_VALUE)
    FindClose(search);
  return entry;
}

// Capturing touches files and handles; the last error that a test reads afterwards must still
// be the one its code under test left.
StdoutCapture::StdoutCapture() : active_(true) {
  DWORD saved = GetLastError();
  fflush(stdout);
  testing::internal::CaptureStdout();
  SetLastError(saved);
}

StdoutCapture::~StdoutCapture() {
  if (active_)
    finish();
}

std::string StdoutCapture::finish() {
  DWORD saved = GetLastError();
  fflush(stdout);
  active_ = false;
  std::string text = testing::internal::GetCapturedStdout();
  SetLastError(saved);
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\r')
      out.push_back(c);
  return out;
}

void resetAll() {
  resetRunState();
  setLeadByteTable(LEAD_NONE);
#if defined(_WIN32)
  colonSeparates = true;
#else
  colonSeparates = false;
#endif
}

bool underWine() {
#if defined(_WIN32)
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

} // namespace tu
