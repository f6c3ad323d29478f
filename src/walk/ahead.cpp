// The workers and the ring of items prepared ahead of the walk (see ahead.h).
#include "walk/ahead.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "paths/files.h"
#include "paths/runtime.h"
#include "paths/winapi.h"
#include "report/report.h"
#include "state/state.h"

namespace {

// A slot's way through the ring.
enum AheadState : int {
  SLOT_FREE,    // the walk may fill it
  SLOT_QUEUED,  // filled and handed on; no worker has it yet
  SLOT_WORKING, // a worker prepares it
  SLOT_READY,   // prepared (or nothing to prepare): the walk may commit it
};

// Work ahead is for small files: a larger one is compared or copied by the walk itself, with
// the progress line, while the workers prepare the files after it.
constexpr int64_t AHEAD_BYTES_MOST = 1 << 20;
// Each worker's comparison buffers (both files).
constexpr unsigned WORKER_BUFFER = 128u << 10;

struct Ring {
  AheadSlot slots[AHEAD_SLOTS];
  // Counters of slots since the walk began (a slot's index is its counter modulo the ring):
  // filled by the walk, taken by the workers, committed by the walk.
  uint64_t filled = 0;
  uint64_t taken = 0;
  uint64_t committed = 0;
  std::mutex lock;
  std::condition_variable workToDo; // a slot was queued, or the workers are to end
  std::condition_variable slotReady;
  bool ending = false;
};
Ring ring;

std::thread workerThreads[AHEAD_MOST_WORKERS];
int started = 0;
// Progress lines are drawn: workers note what they have copied of each file, for the line the
// walk shows while it waits for one.
bool watched = false;
// How often the walk redraws that line while it waits.
constexpr auto WAIT_STEP = std::chrono::milliseconds(200);

// The slot this worker prepares, and the copy's progress receiver that notes its bytes there.
thread_local AheadSlot *slotInHand = nullptr;
void noteCopiedBytes(uint64_t done, uint64_t) {
  if (slotInHand != nullptr)
    slotInHand->copiedBytes.store(done, std::memory_order_relaxed);
}
alignas(64) unsigned char workerBuffers[AHEAD_MOST_WORKERS][WORKER_BUFFER];

// Prepares one file: its namesake looked up, and the comparison or the copy the action will need.
void prepare(AheadSlot &slot, int worker) {
  slot.work.sourcePath = slot.source;
  slot.work.destPath = slot.destination;
  slot.work.compared = false;
  slot.work.copied = false;
  slot.namesake = 0;
  SetLastError(0);
  if (slot.lookUp)
    slot.namesake = lookUpNamesakeOf(slot.entry, *slot.lookupDir, slot.name, slot.attributesNeeded,
                                     &slot.found);
  slot.lookupError = GetLastError();
  if (slot.namesake < 0 || fileSize64(slot.entry) > AHEAD_BYTES_MOST)
    return;
  const FindEntry *namesake = slot.namesake == 1 ? &slot.found : nullptr;
  int flags = copyAheadFlags(slot.entry, namesake, slot.acrossVolumes);
  if (flags >= 0) {
    // Under /v the copy is checked before it is kept (one that fails is the walk's again).
    AheadCheck check{slot.source, workerBuffers[worker], WORKER_BUFFER, {}};
    if (runState.verifyCopy)
      setCopyCheck(checkCopyAhead, &check);
    slot.work.copied =
        prepareCopy(slot.source, slot.destination, &slot.work.copy, static_cast<unsigned>(flags));
    setCopyCheck(nullptr, nullptr);
    return;
  }
  if (namesake != nullptr && compareWouldRead(slot.entry, slot.found)) {
    compareAhead(slot.source, slot.destination, slot.entry, &slot.work.compare,
                 workerBuffers[worker], WORKER_BUFFER, watched ? noteCopiedBytes : nullptr);
    slot.work.compared = true;
  }
}

void workerMain(int worker) {
  if (watched)
    setCopyProgress(noteCopiedBytes);
  for (;;) {
    AheadSlot *slot;
    {
      std::unique_lock<std::mutex> hold(ring.lock);
      ring.workToDo.wait(hold, [] { return ring.ending || ring.taken < ring.filled; });
      if (ring.taken == ring.filled)
        return; // ending, and nothing is left to prepare
      slot = &ring.slots[ring.taken % AHEAD_SLOTS];
      ring.taken += 1;
      slot->state.store(SLOT_WORKING, std::memory_order_relaxed);
    }
    closeDeferredFiles();
    if (slot->kind == AHEAD_FILE) {
      int64_t start = aheadMicros();
      slotInHand = slot;
      prepare(*slot, worker);
      slotInHand = nullptr;
      slot->took = aheadMicros() - start;
    }
    {
      std::lock_guard<std::mutex> hold(ring.lock);
      slot->state.store(SLOT_READY, std::memory_order_relaxed);
    }
    ring.slotReady.notify_one();
  }
}

// The workers by default, and the number TREECOPY_WORKERS sets (from 1 to 64; 0 when it is not
// set or not such a number).
constexpr int DEFAULT_WORKERS = 8;
int workersSet() {
  static int workers = [] {
    const char *text = environmentValue("TREECOPY_WORKERS");
    if (text == nullptr || *text == 0)
      return 0;
    int value = 0;
    for (const char *p = text; *p != 0; ++p) {
      if (*p < '0' || *p > '9' || value > AHEAD_MOST_WORKERS)
        return 0;
      value = value * 10 + (*p - '0');
    }
    return value >= 1 && value <= AHEAD_MOST_WORKERS ? value : 0;
  }();
  return workers;
}

// What a file costs lately (microseconds, a running average), and the bounds between which the
// default engine changes its mind: work ahead above ENGAGE, on its own again below RELEASE. A
// lookup on tmpfs costs a few microseconds and handing a file to a worker more than that; a
// request to a share costs hundreds.
int64_t fileCost = 0;
constexpr int64_t ENGAGE_MICROS = 150;
constexpr int64_t RELEASE_MICROS = 50;
bool engaged = false;

} // namespace

int aheadWorkers() {
  return workersSet() != 0 ? workersSet() : DEFAULT_WORKERS;
}

bool aheadWanted() {
  if (aheadWorkers() <= 1)
    return false;
  if (workersSet() != 0)
    return true;
  if (fileCost > ENGAGE_MICROS)
    engaged = true;
  else if (fileCost < RELEASE_MICROS)
    engaged = false;
  return engaged;
}

void noteFileCost(int64_t micros) {
  fileCost += (micros - fileCost) / 8;
}

int64_t aheadMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void aheadBegin() {
  int workers = aheadWorkers();
  if (workers <= 1 || started > 0)
    return;
  ring.filled = ring.taken = ring.committed = 0;
  ring.ending = false;
  for (AheadSlot &slot : ring.slots)
    slot.state.store(SLOT_FREE, std::memory_order_relaxed);
  deferLockCloses(true);
  watched = progressWanted();
  for (; started < workers; ++started)
    workerThreads[started] = std::thread(workerMain, started);
}

void aheadEnd() {
  if (started == 0)
    return;
  {
    std::lock_guard<std::mutex> hold(ring.lock);
    ring.ending = true;
  }
  ring.workToDo.notify_all();
  for (int i = 0; i < started; ++i)
    workerThreads[i].join();
  started = 0;
  deferLockCloses(false);
}

int aheadFree() {
  return AHEAD_SLOTS - static_cast<int>(ring.filled - ring.committed);
}

AheadSlot &aheadNext() {
  return ring.slots[ring.filled % AHEAD_SLOTS];
}

// Every slot goes through the workers, in order (one with nothing to prepare is only marked
// ready), so that they always take the oldest first.
void aheadSubmit() {
  AheadSlot &slot = aheadNext();
  slot.copiedBytes.store(0, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> hold(ring.lock);
    slot.state.store(SLOT_QUEUED, std::memory_order_relaxed);
    ring.filled += 1;
  }
  ring.workToDo.notify_one();
}

bool aheadPending() {
  return ring.committed < ring.filled;
}

AheadSlot &aheadAwait() {
  AheadSlot &slot = ring.slots[ring.committed % AHEAD_SLOTS];
  auto ready = [&] { return slot.state.load(std::memory_order_relaxed) == SLOT_READY; };
  std::unique_lock<std::mutex> hold(ring.lock);
  if (!watched || slot.kind != AHEAD_FILE || ready()) {
    ring.slotReady.wait(hold, ready);
    return slot;
  }
  // The walk waits for this file: the progress line follows it, with what its worker has
  // copied or compared of it so far.
  hold.unlock();
  progressBegin(slot.source);
  hold.lock();
  while (!ring.slotReady.wait_for(hold, WAIT_STEP, ready)) {
    hold.unlock();
    progressUpdate(slot.copiedBytes.load(std::memory_order_relaxed), fileSize64(slot.entry));
    hold.lock();
  }
  hold.unlock();
  progressEnd();
  return slot;
}

void aheadRelease() {
  AheadSlot &slot = ring.slots[ring.committed % AHEAD_SLOTS];
  if (slot.kind == AHEAD_FILE && slot.work.copied) {
    discardCopy(&slot.work.copy); // not taken: nothing of it stays
    slot.work.copied = false;
  }
  std::lock_guard<std::mutex> hold(ring.lock);
  slot.state.store(SLOT_FREE, std::memory_order_relaxed);
  ring.committed += 1;
}
