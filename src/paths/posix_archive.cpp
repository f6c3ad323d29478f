// The record of a cleared archive bit, and the clears this process keeps pending until the
// record can tell every later change.
//
// A file's archive bit lives in its stored DOS attributes (user.DOSATTRIB, whose text Samba and
// Wine read on, unchanged). Once the bit is cleared, a change of the file must set it again,
// but nothing stores the bit when another program writes the file. Samba and Wine read a file
// as changed when its last-write time is not earlier than its change time; a writer that sets
// an older last-write time (cp -p, tar, rsync -a, a restore) escapes that rule. So a clear also
// stores a record beside the value, user.treecopy.clean: "<seconds>.<9 digits>", a bound a
// little ahead of the clock on the change time that the clear gave the file (the exact change
// time cannot be recorded: storing it would move it, and the kernel may stamp a finer time than
// any clock a process can read). The clear is checked to land within the bound. A change time
// past the bound is a change since the clear, whatever last-write time it set.
//
// Until the file system's clock has passed the bound, a change could still be stamped within
// it: this process keeps each such clear pending, with the change time the clear gave the file
// (a change in the meantime moves it), and settles it once the clock has passed, at the latest
// when the process ends: a file that changed in between is marked archived again and loses its
// record. A record that cannot be made leaves the file archived: an extra backup, never a
// missed change. A last-write time in the future keeps the file archived too. A value without
// a record (stored by Samba or Wine) is read by their rule alone. The record is never copied.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sys/stat.h>

#include "paths/pathtext.h"
#include "paths/posix_archive.h"
#include "paths/posix_attr.h"
#include "paths/posix_facts.h"
#include "paths/posix_sys.h"
#include "paths/winapi.h"

namespace {

constexpr char CLEAN_XATTR_NAME[] = "user.treecopy.clean";

// How far ahead of the clock a record's bound lies: room for the stores that follow it.
constexpr long BOUND_AHEAD_NS = 2000000;
// How many times a record is tried before the file is left archived.
constexpr int CLEAN_ATTEMPTS = 5;

// Parses "<seconds>.<nanoseconds>" as the record holds it; false when it is not a record.
bool parseCleanRecord(const char *data, size_t length, int64_t *seconds, uint32_t *nanoseconds) {
  char text[48];
  if (length == 0 || length >= sizeof text)
    return false;
  memcpy(text, data, length);
  text[length] = '\0';
  long long s;
  unsigned long ns;
  int used = 0;
  if (sscanf(text, "%lld.%9lu%n", &s, &ns, &used) != 2 || static_cast<size_t>(used) != length ||
      ns > 999999999ul)
    return false;
  *seconds = s;
  *nanoseconds = static_cast<uint32_t>(ns);
  return true;
}

// Whether a change time lies past a record's bound.
bool pastRecord(const SysTime &a, int64_t seconds, uint32_t nanoseconds) {
  return a.sec != seconds ? a.sec > seconds : a.nsec > nanoseconds;
}

// Clears whose record this process has not yet settled: the file, the change time the clear
// gave it, and the bound recorded.
struct PendingClear {
  char sys[PATH_BUF]; // the file's system path
  uint64_t dev, ino;  // its identity
  SysTime stamp;      // the change time the clear gave it
  SysTime bound;      // the bound the record holds
};
constexpr int PENDING_MAX = 64;
PendingClear pendingClears[PENDING_MAX]; // oldest first
int pendingCount = 0;
// The walk adds clears while workers look files up (and ask whether they changed since).
std::mutex pendingLock;

// Whether this process cleared the file's archive bit a moment ago and the file has changed
// since: its change time is no longer the one the clear gave it.
bool changedSincePendingClear(const SysStat &st) {
  std::lock_guard<std::mutex> hold(pendingLock);
  for (int i = 0; i < pendingCount; ++i) {
    const PendingClear &p = pendingClears[i];
    if (p.dev == st.dev && p.ino == st.ino)
      return !(p.stamp == st.ctime);
  }
  return false;
}

// Whether a file whose stored value lacks the archive bit has changed since: its last-write
// time is not earlier than its change time (the rule for values that Samba and Wine store, and
// the one that sees an ordinary write at once), or a record exists and the change time is past
// the bound it holds (any change after the clear, whatever last-write time it sets).
bool changedSince(const XattrPlace &place, const SysStat &st) {
  if (notEarlier(st.mtime, st.ctime) || changedSincePendingClear(st))
    return true;
  char data[48];
  long length = getXattr(place, CLEAN_XATTR_NAME, data, sizeof data);
  int64_t seconds;
  uint32_t nanoseconds;
  if (length > 0 && parseCleanRecord(data, static_cast<size_t>(length), &seconds, &nanoseconds))
    return pastRecord(st.ctime, seconds, nanoseconds);
  return length < 0 && errno != SYS_NO_ATTRIBUTE; // unreadable: never a missed change
}

// Whether the record of the open target vouches for it as it is: a record, with the change
// time within its bound, no change since a pending clear, and no write after the change time.
bool recordHolds(const AttrTarget &t) {
  char data[48];
  long length = getAttr(t, CLEAN_XATTR_NAME, data, sizeof data);
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
  bool recorded =
      length >= 0 && parseCleanRecord(data, static_cast<size_t>(length), &seconds, &nanoseconds);
  return !notEarlier(t.sx.mtime, t.sx.ctime) && recorded &&
         !pastRecord(t.sx.ctime, seconds, nanoseconds) && !changedSincePendingClear(t.sx);
}

// Waits until the coarse clock, which the file system stamps changes with (or with a later,
// finer time), has passed `t`; false when that would take long (a time in the future).
bool waitPast(const SysTime &t) {
  for (int i = 0; i < 200; ++i) {
    SysTime now;
    sysStampFloor(&now);
    if (laterThan(now, t))
      return true;
    if (t.sec > now.sec + 1)
      return false;
    struct timespec pause = {0, 500000};
    nanosleep(&pause, nullptr);
  }
  return false;
}

// A little ahead of the clock: the bound a clear records.
SysTime boundAhead() {
  struct timespec ahead;
  clock_gettime(CLOCK_REALTIME, &ahead);
  ahead.tv_nsec += BOUND_AHEAD_NS;
  if (ahead.tv_nsec >= 1000000000) {
    ahead.tv_sec += 1;
    ahead.tv_nsec -= 1000000000;
  }
  return SysTime{static_cast<int64_t>(ahead.tv_sec), static_cast<uint32_t>(ahead.tv_nsec)};
}

// Settles one pending clear once every later change of the file must be stamped past its
// bound: a file that changed in between (its change time moved) is marked archived again.
void settle(const PendingClear &p) {
  if (!waitPast(p.bound))
    return;
  AttrTarget t;
  if (openTarget(p.sys, t) == 0 && !S_ISLNK(t.sx.mode) && t.sx.ino == p.ino && t.sx.dev == p.dev &&
      !(t.sx.ctime == p.stamp)) {
    // Changed while the record could not yet tell: marked archived, and the record goes.
    char data[16];
    long length = getAttr(t, DOS_XATTR_NAME, data, sizeof data);
    int32_t stored = length > 0 ? parseStoredAttributes(data, static_cast<size_t>(length)) : -1;
    if (stored >= 0) {
      char text[16];
      int textLength = snprintf(text, sizeof text, "0x%x",
                                static_cast<unsigned>(stored) | FILE_ATTRIBUTE_ARCHIVE);
      setAttr(t, DOS_XATTR_NAME, text, static_cast<size_t>(textLength));
    }
    setAttr(t, CLEAN_XATTR_NAME, nullptr, 0);
  }
  closeTarget(t); // gone or swapped: nothing to settle
}

// Settles the clears whose bound the file system's clock has passed (all of them with `all`,
// waiting for the last bounds), oldest first.
void settlePendingClears(bool all) {
  int kept = 0;
  SysTime now;
  sysStampFloor(&now);
  for (int i = 0; i < pendingCount; ++i) {
    PendingClear &p = pendingClears[i];
    if (all || laterThan(now, p.bound))
      settle(p);
    else if (kept != i)
      pendingClears[kept++] = p;
    else
      kept++;
  }
  pendingCount = kept;
}

void settleAllPendingClears() {
  std::lock_guard<std::mutex> hold(pendingLock);
  settlePendingClears(true);
}

// Drops entry `i`, keeping the rest in order.
void dropPendingClear(int i) {
  memmove(pendingClears + i, pendingClears + i + 1,
          sizeof(PendingClear) * static_cast<size_t>(pendingCount - i - 1));
  pendingCount -= 1;
}

// Keeps a clear until it can be settled: the oldest is settled at once when the list is full,
// and whatever is left when the process ends. A later clear of the same file supersedes it.
void addPendingClear(const char *sys, const SysStat &sx, const SysTime &bound) {
  static bool registered = false;
  if (!registered)
    registered = atexit(settleAllPendingClears) == 0;
  PendingClear entry;
  entry.dev = sx.dev;
  entry.ino = sx.ino;
  entry.stamp = sx.ctime;
  entry.bound = bound;
  size_t length = strlen(sys);
  if (!registered || length >= sizeof entry.sys) {
    if (length < sizeof entry.sys) {
      memcpy(entry.sys, sys, length + 1);
      settle(entry); // cannot be kept: settled now
    }
    return;
  }
  memcpy(entry.sys, sys, length + 1);
  std::lock_guard<std::mutex> hold(pendingLock);
  // The earlier clear of this file is superseded (and must not be settled: the change time it
  // would find moved is this clear's own).
  for (int i = 0; i < pendingCount; ++i) {
    if (pendingClears[i].dev == entry.dev && pendingClears[i].ino == entry.ino) {
      dropPendingClear(i);
      break;
    }
  }
  settlePendingClears(false);
  if (pendingCount == PENDING_MAX) {
    settle(pendingClears[0]);
    dropPendingClear(0);
  }
  pendingClears[pendingCount++] = entry;
}

// Stores the record holding `bound`; 0 or errno.
int storeRecord(AttrTarget &t, const SysTime &bound) {
  char record[48];
  int length =
      snprintf(record, sizeof record, "%lld.%09u", static_cast<long long>(bound.sec), bound.nsec);
  return storeWritable(t, CLEAN_XATTR_NAME, record, static_cast<size_t>(length));
}

} // namespace

bool changedSinceArchiveCleared(const FileFacts &facts, const SysStat &st,
                                const XattrPlace &place) {
  // The record is read only where it decides: a file whose stored value lacks the archive bit.
  return !facts.isDir && facts.stored >= 0 && (facts.stored & FILE_ATTRIBUTE_ARCHIVE) == 0 &&
         changedSince(place, st);
}

int archiveClearMade(AttrTarget &t, bool changed) {
  if (t.noXattrs)
    return 0; // nothing to record beside: the file system keeps no stored value either
  if (changed ? restatTarget(t) != 0 : recordHolds(t))
    return 0;
  for (int attempt = 0; attempt < CLEAN_ATTEMPTS; ++attempt) {
    SysTime bound = boundAhead();
    int err = storeRecord(t, bound);
    if (err != 0)
      return attempt == 0 ? err : 0; // a later attempt: the earlier record leaves it archived
    if (restatTarget(t) != 0 || t.noXattrs)
      return 0;
    bool writtenSince = notEarlier(t.sx.mtime, t.sx.ctime);
    if (!writtenSince && !laterThan(t.sx.ctime, bound)) {
      addPendingClear(t.sys, t.sx, bound);
      return 0;
    }
    // Written within this tick of the clock (or dated ahead), or the stores outran the bound:
    // the next attempt comes after it.
    if (writtenSince && !waitPast(t.sx.mtime))
      return 0; // the file stays archived
  }
  return 0;
}
