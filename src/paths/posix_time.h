// Internal to the POSIX backend (src/paths/posix_*.cpp) and its tests: times as FILETIME ticks
// (100 ns since 1601) and the system's seconds and nanoseconds since 1970.
#pragma once

#include <cstdint>

#include "paths/winapi.h"

#if !defined(_WIN32)

// Ticks between 1601-01-01 and 1970-01-01.
constexpr int64_t EPOCH_DIFF_TICKS = 116444736000000000LL;

// The tick count that stands for every time past the range of FILETIME (times beyond the year
// 30828, which tmpfs keeps): the largest, so that comparisons keep such a file the newest; the
// calendar conversion refuses it with 87, as Windows refuses a time past the range.
constexpr int64_t TICKS_SATURATED = INT64_MAX;

// Ticks from seconds and nanoseconds since 1970 (saturated, never overflowing), and back.
int64_t ticksFromUnix(int64_t seconds, int64_t nanoseconds);
void unixFromTicks(int64_t ticks, int64_t *seconds, int64_t *nanoseconds);
// Stores ticks into a FILETIME (a time before 1601 becomes 0).
void putTicks(FILETIME *time, int64_t ticks);

#endif
