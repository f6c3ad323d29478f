// The copy that check_killed_copy.py kills: copies SOURCE over DESTINATION with the layer's
// copy, and once at least BYTES bytes of data are written creates the file MARKER and waits to
// be killed. With BYTES -1 it copies to the end and exits 0.
//   copy_child SOURCE DESTINATION MARKER BYTES
// SOURCE and DESTINATION are in the program's own path syntax, MARKER in the system's.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "paths/files.h"
#include "paths/runtime.h"
#include "paths/winapi.h"

namespace {

const char *markerPath = nullptr;
long long pauseAt = -1;

// Stops the copy midway: the marker tells the test that the kill can come now.
void pauseMidway(uint64_t done, uint64_t total) {
  (void)total;
  if (pauseAt < 0 || done < static_cast<uint64_t>(pauseAt))
    return;
  std::FILE *marker = std::fopen(markerPath, "w");
  if (marker != nullptr)
    std::fclose(marker);
  for (;;)
    std::this_thread::sleep_for(std::chrono::seconds(1));
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: copy_child SOURCE DESTINATION MARKER BYTES\n");
    return 2;
  }
  initPlatform(argc, argv);
  markerPath = argv[3];
  pauseAt = std::atoll(argv[4]);
  setCopyProgress(pauseMidway);
  if (!fsCopyFile(argv[1], argv[2], FALSE)) {
    std::printf("copy failed: %lu\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  return 0;
}
