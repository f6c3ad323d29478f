// Timings of the content comparison and the incremental copy on large files, each beside a
// well-known tool doing the same job on the same files. Not part of the test suite.
//
//   bench_actions <scratch directory>
//
// The scratch directory must exist; the files made in it are removed at the end.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "actions/actions.h"
#include "paths/runtime.h"
#include "paths/winapi.h"
#include "state/state.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t GIB = 1ull << 30;
constexpr uint64_t MIB = 1ull << 20;

// Byte counters of this process from /proc/self/io (rchar/wchar count every read and write
// call, whether or not it reached the disk).
struct IoCounters {
  uint64_t rchar = 0;
  uint64_t wchar = 0;
};
IoCounters readIo() {
  IoCounters io;
  FILE *f = std::fopen("/proc/self/io", "r");
  if (f == nullptr)
    return io;
  char key[64];
  unsigned long long value;
  while (std::fscanf(f, "%63[^:]: %llu\n", key, &value) == 2) {
    if (std::strcmp(key, "rchar") == 0)
      io.rchar = value;
    else if (std::strcmp(key, "wchar") == 0)
      io.wchar = value;
  }
  std::fclose(f);
  return io;
}

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Writes `size` bytes of a repeating pattern (different from block to block) to `path`.
bool makeFile(const fs::path &path, uint64_t size) {
  FILE *f = std::fopen(path.string().c_str(), "wb");
  if (f == nullptr)
    return false;
  std::vector<unsigned char> block(MIB);
  for (uint64_t done = 0; done < size;) {
    uint64_t n = size - done < MIB ? size - done : MIB;
    for (size_t i = 0; i < n; ++i)
      block[i] = static_cast<unsigned char>((done / MIB) * 31 + i * 7 + (i >> 9));
    if (std::fwrite(block.data(), 1, n, f) != n) {
      std::fclose(f);
      return false;
    }
    done += n;
  }
  return std::fclose(f) == 0;
}

std::string programPath(const fs::path &path) {
  std::string text = path.string();
  for (char &c : text)
    if (c == '/')
      c = '\\';
  return text;
}

FindEntry listEntry(const fs::path &path) {
  FindEntry entry{};
  HANDLE search = FindFirstFileA(programPath(path).c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE)
    FindClose(search);
  return entry;
}

// Runs a shell command and gives its wall time, or a negative value when it failed.
double timeCommand(const std::string &command) {
  double start = now();
  int rc = std::system(command.c_str());
  double elapsed = now() - start;
  return rc == 0 ? elapsed : -1.0;
}

double best(const std::vector<double> &times) {
  double b = times.empty() ? -1.0 : times[0];
  for (double t : times)
    if (t < b)
      b = t;
  return b;
}

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times.empty() ? -1.0 : times[times.size() / 2];
}

constexpr int ROUNDS = 5;

void benchCompare(const fs::path &dir) {
  fs::path a = dir / "cmp-a.bin";
  fs::path b = dir / "cmp-b.bin";
  if (!makeFile(a, GIB) || !makeFile(b, GIB)) {
    std::printf("compare: cannot create the files\n");
    return;
  }
  FindEntry entry = listEntry(a);
  std::string quoted = "cmp '" + a.string() + "' '" + b.string() + "'";
  timeCommand(quoted); // warms the page cache for both sides alike

  std::vector<double> ours, theirs;
  for (int round = 0; round < ROUNDS; ++round) {
    double start = now();
    int result = compareContents(programPath(a).c_str(), programPath(b).c_str(), entry);
    ours.push_back(now() - start);
    if (result != 1)
      std::printf("compare: unexpected result %d\n", result);
    theirs.push_back(timeCommand(quoted));
  }
  std::printf("compare 1 GiB identical files (warm cache, %d rounds):\n", ROUNDS);
  double o = best(ours), t = best(theirs);
  std::printf(
      "  best:   compareContents %.3f s (%.2f GB/s)   cmp %.3f s (%.2f GB/s)   ratio %.2fx\n", o,
      GIB / o / 1e9, t, GIB / t / 1e9, o / t);
  o = median(ours);
  t = median(theirs);
  std::printf(
      "  median: compareContents %.3f s (%.2f GB/s)   cmp %.3f s (%.2f GB/s)   ratio %.2fx\n", o,
      GIB / o / 1e9, t, GIB / t / 1e9, o / t);
  fs::remove(a);
  fs::remove(b);
}

void benchIncremental(const fs::path &dir) {
  fs::path src = dir / "inc-src.bin";
  fs::path dst = dir / "inc-dst.bin";
  fs::path full = dir / "inc-full.bin";
  if (!makeFile(src, GIB + 8 * MIB) || !makeFile(dst, GIB)) {
    std::printf("incremental: cannot create the files\n");
    return;
  }
  std::string s = programPath(src), d = programPath(dst), f = programPath(full);
  std::string rsync = "rsync --append '" + src.string() + "' '" + dst.string() + "'";
  timeCommand("cat '" + src.string() + "' '" + dst.string() + "' > /dev/null");

  std::vector<double> ours, copies, rsyncs;
  IoCounters used{};
  std::printf("\nincrementalCopy's own line marks:");
  std::fflush(stdout);
  for (int round = 0; round < ROUNDS; ++round) {
    fs::resize_file(dst, GIB);
    FindEntry srcEntry = listEntry(src);
    FindEntry dstEntry = listEntry(dst);
    IoCounters before = readIo();
    double start = now();
    int result =
        incrementalCopy(s.c_str(), d.c_str(), srcEntry.dwFileAttributes, &srcEntry, &dstEntry);
    ours.push_back(now() - start);
    IoCounters after = readIo();
    used.rchar = after.rchar - before.rchar;
    used.wchar = after.wchar - before.wchar;
    if (result != 1 || fs::file_size(dst) != GIB + 8 * MIB)
      std::printf("\nincremental: unexpected result %d\n", result);

    fs::remove(full);
    start = now();
    if (!CopyFileA(s.c_str(), f.c_str(), FALSE))
      std::printf("full copy failed: %u\n", static_cast<unsigned>(GetLastError()));
    copies.push_back(now() - start);

    fs::resize_file(dst, GIB);
    rsyncs.push_back(timeCommand(rsync));
    if (fs::file_size(dst) != GIB + 8 * MIB)
      std::printf("rsync --append did not bring the file up to date\n");
  }
  std::printf("\nbring a 1 GiB file up to date after 8 MiB of growth (warm cache, best of %d):\n",
              ROUNDS);
  std::printf("  incrementalCopy read %llu bytes, wrote %llu bytes (/proc/self/io rchar/wchar)\n",
              static_cast<unsigned long long>(used.rchar),
              static_cast<unsigned long long>(used.wchar));
  double o = best(ours), c = best(copies), r = best(rsyncs);
  std::printf("  incrementalCopy %.4f s   full CopyFileA %.4f s (%.0fx)   rsync --append %.4f s "
              "(%.1fx)\n",
              o, c, c / o, r, r / o);
  fs::remove(src);
  fs::remove(dst);
  fs::remove(full);
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::printf("usage: bench_actions <scratch directory>\n");
    return 2;
  }
  initPlatform(argc, argv);
  resetRunState();
  fs::path dir = argv[1];
  benchCompare(dir);
  benchIncremental(dir);
  return 0;
}
