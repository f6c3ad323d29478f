// The process environment, read the same way on both platforms.
#include <cstdlib>

#include "paths/runtime.h"

const char *environmentValue(const char *name) {
  return std::getenv(name);
}
