// The fault seams of the file layer, for the test programs alone: each replaces one of the
// layer's narrow operations (src/paths/fileops.h) with a wrapper that fails, drops or pauses as
// planned. The release program has none of them.
#pragma once

#include <cstdint>

#include "paths/winapi.h"

// The next data copies store only their first `keep` bytes, though every byte is reported
// written, as a share that accepts a write and never stores it (-1: off).
void setCopyDropForTest(int64_t keep);

// One file read through fsReadExact or fsReadFull fails at one place. The file is the `file`-th
// descriptor they read from after this call (0 the first, 1 the second other one); a read of it
// that covers the byte at `offset` gives the bytes before it, and the read that starts there
// fails with `error`, or, with `error` 0, finds the end of the file (a short read: 38). `file` -1
// turns the fault off.
void setReadFaultForTest(int file, int64_t offset, DWORD error);

// New files of a copy get a hidden temporary name instead of starting anonymous (POSIX).
void setAnonymousTempsForTest(bool on);
// Makes the next data copies go by reads and writes and fail with `err` (an errno) after `bytes`
// bytes, or with `err` 0 meet the source's end there, as a file that was shortened meanwhile
// (-1: off).
void setCopyFaultForTest(int64_t bytes, int err);
// `hook(context)` runs when a copy's complete data have their hidden temporary name, just before
// the rename that gives them the destination's name (null: off).
void setPublishHookForTest(void (*hook)(void *), void *context);
// Makes the flush numbered `at` (from 0, counted from this call) fail with `err` (0: off). Data
// and directory flushes are counted alike.
void setFlushFaultForTest(int at, int err);
// `hook(context)` runs inside each copy once the source is open, its size and times are read and
// the destination looked at, before the temporary is made and any data are copied (null: off).
void setCopyHookForTest(void (*hook)(void *), void *context);
#if !defined(_WIN32)
// Forgets the devices for which the kernel's copy was refused, so that the next copy tries it
// again.
void sysForgetCopyRefusalsForTest();
#endif
