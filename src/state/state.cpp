// The run-wide state record, the traits of each mode and the stop rule.
#include "state/state.h"

#include <cstring>

RunState runState;

namespace {

// One row per mode, in the order of RunMode.
const ModeTraits MODE_TABLE[] = {
    {"copy", " copied", "-->", ST_COPY_FAILED, true, false, true},
    {"move", " moved", "-->", ST_MOVE_FAILED, true, true, true},
    {"delete", " deleted", "<-->", ST_DELETE_FAILED, false, true, false},
    {"compare", " compared", "<-->", ST_COMPARE_FAILED, false, false, true},
};

} // namespace

void resetRunState() {
  std::memset(&runState, 0, sizeof runState);
  runState.timeTolerance = DEFAULT_TIME_TOLERANCE;
  runState.mode = MODE_COPY;
}

const ModeTraits &modeTraits() {
  return MODE_TABLE[runState.mode];
}

bool shouldStop() {
  return !runState.continueOnError && runState.errorCount > 0;
}

int recordFailure(uint32_t statusValue) {
  runState.status |= statusValue;
  runState.errorCount += 1;
  if (statusValue == ST_SAME_PATH)
    runState.samePathRefused = true;
  return 0;
}

void noteSamePath() {
  runState.status |= ST_SAME_PATH;
  runState.samePathRefused = true;
}
