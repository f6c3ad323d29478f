// Entry point: prepare the platform, run, return the exit status.
#include "cli/cli.h"
#include "paths/runtime.h"

int main(int argc, char **argv) {
  initPlatform(argc, argv);
  return runTreecopy(argc, argv) & 0xFF;
}
