// The run-wide state record and the stop rule.
#include <cstring>

#include "cli/cli.h"

RunState runState;

void resetRunState() {
  std::memset(&runState, 0, sizeof runState);
  runState.timeTolerance = DEFAULT_TIME_TOLERANCE;
}

bool shouldStop() { return !runState.continueOnError && runState.errorCount > 0; }

int recordFailure(uint32_t statusValue) {
  runState.status |= statusValue;
  runState.errorCount += 1;
  return 0;
}
