// Benchmark driver for the POSIX file-system layer: whole-file copy, directory listing,
// exact lookups and a tree copy, each through the layer's Win32-shaped calls. run.sh builds
// it and compares the figures with GNU cp and with strace counts.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "paths/pathtext.h"
#include "paths/runtime.h"
#include "paths/winapi.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The program's path text of a system path.
std::string programPath(const std::string &sys) {
  std::string text = sys;
  for (char &c : text)
    if (c == '/')
      c = '\\';
  return text;
}

int usage() {
  fprintf(stderr, "usage: fsbench copy SRC DST | mkfiles DIR N | list DIR |\n"
                  "       lookup DIR hit|miss N | mktree DIR DIRS FILES | copytree SRC DST\n");
  return 2;
}

// Copies one file through CopyFileA and prints the seconds taken.
int benchCopy(const char *src, const char *dst) {
  std::string s = programPath(src), d = programPath(dst);
  auto start = std::chrono::steady_clock::now();
  if (!CopyFileA(s.c_str(), d.c_str(), FALSE)) {
    fprintf(stderr, "CopyFileA failed: %u\n", static_cast<unsigned>(GetLastError()));
    return 1;
  }
  printf("%.3f\n", secondsSince(start));
  return 0;
}

// Creates `count` empty files named f0000000... in `dir`.
int makeFiles(const char *dir, long count) {
  mkdir(dir, 0777);
  char name[4200];
  for (long i = 0; i < count; ++i) {
    snprintf(name, sizeof name, "%s/f%07ld.dat", dir, (i * 7919) % count);
    int fd = open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      perror(name);
      return 1;
    }
    close(fd);
  }
  return 0;
}

// Lists `dir\*` and prints the entry count and seconds.
int benchList(const char *dir) {
  std::string pattern = programPath(dir) + "\\*";
  auto start = std::chrono::steady_clock::now();
  FindEntry entry;
  long count = 0;
  HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do
      ++count;
    while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  printf("%ld %.3f\n", count, secondsSince(start));
  return 0;
}

// Looks up `count` names exactly: existing ones (hit) or missing ones (miss).
int benchLookup(const char *dir, const char *kind, long count) {
  bool hit = strcmp(kind, "hit") == 0;
  std::string base = programPath(dir);
  char name[4200];
  long found = 0;
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) {
    snprintf(name, sizeof name, "%s\\%s%07ld.dat", base.c_str(), hit ? "f" : "missing", i);
    FindEntry entry;
    HANDLE search = FindFirstFileA(name, &entry);
    if (search != INVALID_HANDLE_VALUE) {
      ++found;
      FindClose(search);
    }
  }
  printf("%ld %.3f\n", found, secondsSince(start));
  return 0;
}

// A tree of `dirs` directories holding `files` small files in all.
int makeTree(const char *root, long dirs, long files) {
  mkdir(root, 0777);
  char path[4200];
  for (long d = 0; d < dirs; ++d) {
    snprintf(path, sizeof path, "%s/d%04ld", root, d);
    mkdir(path, 0777);
  }
  static char data[4096];
  memset(data, 'x', sizeof data);
  for (long i = 0; i < files; ++i) {
    snprintf(path, sizeof path, "%s/d%04ld/file%06ld.txt", root, i % dirs, i);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
      return 1;
    if (write(fd, data, static_cast<size_t>(100 + i % 4000)) < 0)
      return 1;
    close(fd);
  }
  return 0;
}

// Copies a tree the way the walk does: one search per directory, kept open while the
// subdirectories are copied, a namesake lookup per file, CopyFileA for each.
long copyTree(char *src, char *dst) {
  size_t srcLength = strlen(src), dstLength = strlen(dst);
  CreateDirectoryA(dst, nullptr);
  strcat(src, "\\*");
  FindEntry entry;
  HANDLE search = FindFirstFileA(src, &entry);
  src[srcLength] = '\0';
  long copied = 0;
  if (search == INVALID_HANDLE_VALUE)
    return 0;
  do {
    if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0)
      continue;
    snprintf(src + srcLength, PATH_BUF - srcLength, "\\%s", entry.cFileName);
    snprintf(dst + dstLength, PATH_BUF - dstLength, "\\%s", entry.cFileName);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      copied += copyTree(src, dst);
    } else {
      FindEntry namesake;
      HANDLE lookup = FindFirstFileA(dst, &namesake);
      if (lookup != INVALID_HANDLE_VALUE)
        FindClose(lookup);
      if (CopyFileA(src, dst, FALSE))
        ++copied;
    }
    src[srcLength] = '\0';
    dst[dstLength] = '\0';
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return copied;
}

int benchCopyTree(const char *src, const char *dst) {
  PathBuf s, d;
  snprintf(s, sizeof s, "%s", programPath(src).c_str());
  snprintf(d, sizeof d, "%s", programPath(dst).c_str());
  auto start = std::chrono::steady_clock::now();
  long copied = copyTree(s, d);
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  printf("%ld %.3f %ld\n", copied, secondsSince(start), usage.ru_maxrss);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  initPlatform(argc, argv);
  if (argc < 2)
    return usage();
  std::string mode = argv[1];
  if (mode == "copy" && argc == 4)
    return benchCopy(argv[2], argv[3]);
  if (mode == "mkfiles" && argc == 4)
    return makeFiles(argv[2], atol(argv[3]));
  if (mode == "list" && argc == 3)
    return benchList(argv[2]);
  if (mode == "lookup" && argc == 5)
    return benchLookup(argv[2], argv[3], atol(argv[4]));
  if (mode == "mktree" && argc == 5)
    return makeTree(argv[2], atol(argv[3]), atol(argv[4]));
  if (mode == "copytree" && argc == 4)
    return benchCopyTree(argv[2], argv[3]);
  return usage();
}
