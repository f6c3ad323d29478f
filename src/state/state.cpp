// The run-wide state record, the traits of each mode and the stop rule.
#include "state/state.h"

#include <cstring>

RunState runState;
WrittenFiles writtenFiles;

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
  std::memset(&writtenFiles, 0, sizeof writtenFiles);
}

namespace {

// The first slot to look at for a destination identity.
uint32_t slotOf(uint64_t volume, uint64_t index) {
  uint64_t mixed = (index ^ (volume * 0x9E3779B97F4A7C15ULL)) * 0xFF51AFD7ED558CCDULL;
  return static_cast<uint32_t>(mixed >> 40) & (WRITTEN_SLOTS - 1);
}

// The slot that holds a destination identity, or the free slot where it belongs (slots are
// never freed, so a look ends at the first free one).
WrittenFile *slotFor(uint64_t volume, uint64_t index) {
  uint32_t at = slotOf(volume, index);
  for (;;) {
    WrittenFile &slot = writtenFiles.slots[at];
    if ((slot.destVolume == volume && slot.destIndex == index) ||
        (slot.destVolume == 0 && slot.destIndex == 0))
      return &slot;
    at = (at + 1) & (WRITTEN_SLOTS - 1);
  }
}

} // namespace

bool rememberWritten(const WrittenFile &file) {
  if (file.destVolume == 0 && file.destIndex == 0)
    return true; // no file has that identity
  WrittenFile *slot = slotFor(file.destVolume, file.destIndex);
  bool fresh = slot->destVolume == 0 && slot->destIndex == 0;
  if (fresh && writtenFiles.count >= WRITTEN_MOST)
    return false;
  if (fresh)
    writtenFiles.count += 1;
  *slot = file;
  return true;
}

const WrittenFile *findWritten(uint64_t destVolume, uint64_t destIndex) {
  if (destVolume == 0 && destIndex == 0)
    return nullptr;
  const WrittenFile *slot = slotFor(destVolume, destIndex);
  return slot->destVolume == 0 && slot->destIndex == 0 ? nullptr : slot;
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
