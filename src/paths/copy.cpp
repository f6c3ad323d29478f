// The copy of one file, the same on every platform: the refusals, a new temporary file beside the
// destination, exactly the size read when the source was opened, the carried metadata, the copy
// check, the record; then publish (a new name), replace (over an existing one) or discard. A
// failed or killed copy never leaves a partial destination. The backends give the narrow file
// operations underneath (fileops.h). Copies of different files may run on several threads at
// once: nothing here is shared between them but the tables below, each made for that.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>

#include "paths/fileops.h"
#include "paths/files.h"
#include "paths/runtime.h"
#include "paths/winapi.h"

FileOps fileOps = {opRead,  opWrite,    opCopyRange,     opClone,      opPosition,
                   opFlush, opMakeTemp, opOpenAnonymous, opRenameTemp, fsRead};

namespace {

// Receives the bytes done while a copy runs (none: nullptr). Each thread sets its own: the copies
// that workers prepare ahead of the walk report to no one and are checked by their own checks.
thread_local CopyProgressFn copyProgress = nullptr;

// The check of a copy's complete data before they are published (setCopyCheck).
thread_local CopyCheckFn copyCheck = nullptr;
thread_local void *copyCheckContext = nullptr;

// The buffers of the copies by reads and writes: a few of a megabyte, each taken by one copy at a
// time; a copy that finds none free uses a smaller one of its own.
constexpr size_t COPY_CHUNK = 1u << 20;
constexpr int COPY_BUFFERS = 4;
constexpr size_t OWN_CHUNK = 64u << 10;
alignas(4096) unsigned char copyBuffers[COPY_BUFFERS][COPY_CHUNK];
std::atomic<bool> copyBufferTaken[COPY_BUFFERS];

// Kernel copies go in pieces of a gigabyte; with a progress receiver in pieces that take about
// a tenth of a second each, so that it hears of the copy several times a second on fast and slow
// media alike.
constexpr uint64_t KERNEL_PIECE = 1u << 30;
constexpr uint64_t FIRST_PROGRESS_PIECE = 4u << 20;
constexpr uint64_t LEAST_PROGRESS_PIECE = 1u << 20;
constexpr uint64_t MOST_PROGRESS_PIECE = 256u << 20;

int64_t steadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The next piece for a progress receiver: doubled after a piece quicker than 50 ms, halved
// after one slower than 200 ms.
uint64_t nextPiece(uint64_t piece, int64_t tookMs) {
  if (tookMs < 50 && piece < MOST_PROGRESS_PIECE)
    return piece * 2;
  if (tookMs > 200 && piece > LEAST_PROGRESS_PIECE)
    return piece / 2;
  return piece;
}

// One data copy under way: the two files, the size read at the start (0: read to the end), the
// source's device, and how far it has come (`at`, the offset both positions are at).
struct DataCopy {
  FileRef in, out;
  uint64_t size;
  uint64_t device;
  bool toEnd;
  uint64_t at;
  bool kernel;        // the kernel's copy may still be asked
  bool kernelStarted; // it has copied something
  uint64_t piece;     // its next piece
  int64_t pieceStart; // when the last piece began (with a progress receiver)
  CopyProgressFn progress;
  unsigned char *buffer;
  size_t chunk;
};

// Writes all of `length` bytes; 0 or the error (a write that stores nothing: a full disk).
OpError writeAll(FileRef out, const unsigned char *data, size_t length) {
  while (length > 0) {
    OpError err = 0;
    long put = fileOps.write(out, data, length, &err);
    if (put < 0)
      return err;
    if (put == 0)
      return opWin32(ERROR_DISK_FULL);
    data += put;
    length -= static_cast<size_t>(put);
  }
  return 0;
}

// Holds the new file to the size read at the start, where a clone or the holes of a sparse
// source decide its end: `measured` (the source, or the clone itself) must reach that size, else
// the source shrank (SOURCE_ENDED, never a shortened copy); a clone of a source that grew is cut
// back to it, as a copy by reads would take it, and a copy that ends in a hole is given it.
OpError holdToSize(DataCopy &copy, FileRef measured) {
  uint64_t now = 0;
  OpError err = sizeOfFile(measured, &now);
  if (err != 0)
    return err;
  if (now < copy.size)
    return SOURCE_ENDED;
  if ((measured != copy.out || now > copy.size) && (err = truncateFile(copy.out, copy.size)) != 0)
    return err;
  copy.at = copy.size;
  if (copy.progress != nullptr)
    copy.progress(copy.size, copy.size);
  return 0;
}

// Copies the source from `copy.at` up to `end` (with `copy.toEnd`, up to its end) into the new
// file, both positions at `copy.at`: by the kernel's copy while it copies, then by reads and
// writes from where it stopped. A source that ends before `end` fails with SOURCE_ENDED; one that
// grew gives no more than `end`.
OpError copyStretch(DataCopy &copy, uint64_t end) {
  while (copy.kernel && copy.at < end) {
    size_t ask = static_cast<size_t>(std::min<uint64_t>(end - copy.at, copy.piece));
    OpError err = 0;
    long n = fileOps.copyRange(copy.in, copy.out, ask, copy.device, !copy.kernelStarted, &err);
    if (n < 0)
      return err;
    // The end of the file, or data the kernel does not copy here: the reads below go on from
    // here and tell which.
    if (n == 0) {
      copy.kernel = false;
      break;
    }
    copy.kernelStarted = true;
    copy.at += static_cast<uint64_t>(n);
    if (copy.progress != nullptr) {
      copy.progress(copy.at, copy.size);
      int64_t now = steadyMilliseconds();
      copy.piece = nextPiece(copy.piece, now - copy.pieceStart);
      copy.pieceStart = now;
    }
  }
  while (copy.toEnd || copy.at < end) {
    size_t ask = copy.toEnd ? copy.chunk
                            : static_cast<size_t>(std::min<uint64_t>(end - copy.at, copy.chunk));
    OpError err = 0;
    long got = fileOps.read(copy.in, copy.buffer, ask, &err);
    if (got < 0)
      return err;
    if (got == 0)
      return copy.toEnd ? 0 : SOURCE_ENDED;
    err = writeAll(copy.out, copy.buffer, static_cast<size_t>(got));
    if (err != 0)
      return err;
    copy.at += static_cast<uint64_t>(got);
    if (copy.progress != nullptr)
      copy.progress(copy.at, copy.toEnd ? copy.at : copy.size);
  }
  return 0;
}

// Copies only the data of a source with holes, the holes left as holes in the new file (where
// its file system keeps them; elsewhere it fills them with zeros itself): each stretch of data
// found before the size read at the start is copied to the same offset, and the new file is then
// given that size. A source that now ends before that size fails with SOURCE_ENDED, as a copy by
// reads would. HOLES_UNKNOWN where the system cannot tell the holes (nothing copied yet).
OpError copyExtents(DataCopy &copy) {
  uint64_t written = 0; // where the new file ends
  while (copy.at < copy.size) {
    uint64_t data = 0, hole = 0;
    OpError err = nextDataOf(copy.in, copy.at, &data, &hole);
    if (err != 0)
      return err;
    if (data >= copy.size)
      break; // nothing but a hole from here, or the source ended: told below
    if ((err = seekFile(copy.in, data)) != 0 ||
        (data != written && (err = seekFile(copy.out, data)) != 0))
      return err;
    copy.at = data;
    err = copyStretch(copy, std::min<uint64_t>(hole, copy.size));
    if (err != 0)
      return err;
    written = copy.at;
  }
  // The source ends in a hole: it must still reach the size read at the start.
  if (written < copy.size)
    return holdToSize(copy, copy.in);
  return 0;
}

// Copies the data of the source into the empty new file: a clone where the file system shares
// blocks, else the kernel's copy, else reads and writes; a source with holes has only its data
// copied where the system can tell its holes, and its copy keeps them. The size read at the start
// is what is copied: a source that grew meanwhile gives no more, one that ends sooner fails with
// SOURCE_ENDED, never a shortened copy. A file whose status says 0 bytes is read to its end:
// files of /proc and /sys say so and yet hold data.
OpError copyData(const CopySource &source, FileRef out) {
  DataCopy copy{};
  copy.in = source.file;
  copy.out = out;
  copy.size = source.stamp.size;
  copy.device = source.device;
  copy.toEnd = copy.size == 0;
  copy.kernel = !copy.toEnd;
  copy.progress = copyProgress;
  copy.piece = copy.progress != nullptr ? FIRST_PROGRESS_PIECE : KERNEL_PIECE;
  copy.pieceStart = copy.progress != nullptr ? steadyMilliseconds() : 0;
  // A small file takes a single call.
  if (copy.kernel && fileOps.clone(copy.in, out, copy.device))
    return holdToSize(copy, out);
  int taken = -1;
  for (int i = 0; i < COPY_BUFFERS && taken < 0; ++i)
    if (!copyBufferTaken[i].exchange(true, std::memory_order_acquire))
      taken = i;
  alignas(4096) unsigned char own[OWN_CHUNK];
  copy.buffer = taken >= 0 ? copyBuffers[taken] : own;
  copy.chunk = taken >= 0 ? COPY_CHUNK : OWN_CHUNK;
  OpError err = HOLES_UNKNOWN;
  if (source.sparse && !copy.toEnd)
    err = copyExtents(copy);
  if (err == HOLES_UNKNOWN)
    err = copyStretch(copy, copy.size);
  if (taken >= 0)
    copyBufferTaken[taken].store(false, std::memory_order_release);
  return err;
}

// A destination is examined before the data are copied only for a large source. A new
// destination, the common case, then costs no look: publishing refuses to replace anything, and
// only when a file is in the way is it examined, after the copy, for the refusals below. For a
// small file a refusal found that late wastes little.
constexpr uint64_t EARLY_CHECK_BYTES = 1 << 20;

} // namespace

// Why an existing destination may not be replaced by the copy: 32 for the source itself, 5 for a
// directory or a read-only destination, or one hidden or system while the source is not (the
// Windows rule), or one the user may not write; 0 when it may. A link in the way is judged as
// itself: the copy replaces the link, never its target.
DWORD replacementRefusal(const DestinationFacts &old, const PreparedCopy &copy) {
  if (old.dangling)
    return 0;
  if (old.identity == copy.record.source.identity)
    return ERROR_SHARING_VIOLATION;
  DWORD source = copy.sourceAttributes;
  if ((old.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0)
    source = sourceAttributesForRefusal(copy.source, source);
  if (old.isDir || (old.attributes & FILE_ATTRIBUTE_READONLY) != 0 ||
      ((old.attributes & FILE_ATTRIBUTE_HIDDEN) != 0 && (source & FILE_ATTRIBUTE_HIDDEN) == 0) ||
      ((old.attributes & FILE_ATTRIBUTE_SYSTEM) != 0 && (source & FILE_ATTRIBUTE_SYSTEM) == 0) ||
      !old.writable)
    return ERROR_ACCESS_DENIED;
  return 0;
}

namespace {

// Runs the copy check (setCopyCheck) on the complete temporary, opened afresh: 0 when no check
// is set or it passes, else the error to fail the copy with.
OpError checkTemp(PreparedCopy *copy) {
  CopyCheckFn check = copyCheck;
  if (check == nullptr)
    return 0;
  int fd = -1;
  int64_t size = 0;
  OpError err = openTempForCheck(copy, &fd, &size);
  if (err != 0)
    return err;
  bool passed = check(copyCheckContext, fd, size);
  DWORD code = passed ? 0 : GetLastError();
  fsClose(fd);
  if (!passed && code == 0)
    code = ERROR_GEN_FAILURE;
  return passed ? 0 : opWin32(code);
}

// Sets the last error of a failed step: a refusal (`code`) or an operation's error.
bool failWith(PreparedCopy *copy, DWORD code, OpError err) {
  discardTemp(copy);
  if (code != 0)
    SetLastError(code);
  else
    setLastErrorOfOp(err, copy->destination);
  return false;
}

// The table of temporary names in flight.
std::atomic<const char *> tempSlots[TEMP_SLOTS];
std::atomic<unsigned> tempCounter{0};

// The directory whose leftovers were removed last (its path with the final separator).
std::mutex cleanedLock;
char cleanedDirectory[COPY_PATH_BYTES];

} // namespace

int noteTempName(const char *name) {
  for (int slot = 0; slot < TEMP_SLOTS; ++slot) {
    const char *none = nullptr;
    if (tempSlots[slot].load(std::memory_order_relaxed) == nullptr &&
        tempSlots[slot].compare_exchange_strong(none, name, std::memory_order_seq_cst))
      return slot;
  }
  return -1;
}

void clearTempSlot(int slot) {
  if (slot >= 0)
    tempSlots[slot].store(nullptr, std::memory_order_seq_cst);
}

const char *tempNameInSlot(int slot) {
  return tempSlots[slot].load(std::memory_order_acquire);
}

bool tempNameInFlight(const char *name) {
  size_t length = std::strlen(name);
  for (int slot = 0; slot < TEMP_SLOTS; ++slot) {
    const char *noted = tempNameInSlot(slot);
    if (noted == nullptr)
      continue;
    size_t notedLength = std::strlen(noted);
    if (notedLength >= length && std::strcmp(noted + notedLength - length, name) == 0 &&
        (notedLength == length || noted[notedLength - length - 1] == '/' ||
         noted[notedLength - length - 1] == '\\'))
      return true;
  }
  return false;
}

unsigned nextTempCounter() {
  return tempCounter.fetch_add(1, std::memory_order_relaxed);
}

void cleanDirectoryOnce(const char *path, size_t length, void (*clean)(const char *path)) {
  std::lock_guard<std::mutex> hold(cleanedLock);
  if (std::strncmp(cleanedDirectory, path, length) == 0 && cleanedDirectory[length] == '\0')
    return;
  clean(path);
  std::memcpy(cleanedDirectory, path, length);
  cleanedDirectory[length] = '\0';
}

void setCopyProgress(CopyProgressFn receiver) {
  copyProgress = receiver;
}

void setCopyCheck(CopyCheckFn check, void *context) {
  copyCheckContext = context;
  copyCheck = check;
}

bool prepareCopy(const char *source, const char *destination, PreparedCopy *copy, unsigned flags) {
  copy->published = false;
  copy->temp = NO_FILE;
  copy->guard = NO_FILE;
  copy->slot = -1;
  copy->flags = flags;
  copy->examined = false;
  copy->tempName[0] = '\0';
  copy->source[0] = copy->destination[0] = '\0';
  if (!copySystemPath(source, copy->source) || !copySystemPath(destination, copy->destination))
    return false;
  CopySource src;
  if (!openCopySource(copy->source, &src))
    return false;
  copy->record.source = src.stamp;
  copy->sourceAttributes = src.attributes;
  DWORD code = 0;
  OpError err = 0;
  DestinationFacts old{};
  if (src.stamp.size > EARLY_CHECK_BYTES) {
    err = examineDestination(copy->destination, &old);
    if (err == 0 && old.exists) {
      code =
          (flags & COPY_FAIL_IF_EXISTS) != 0 ? ERROR_FILE_EXISTS : replacementRefusal(old, *copy);
      copy->examined = !old.dangling;
    }
  }
  if (err == 0 && code == 0)
    err = fileOps.makeTemp(copy, src);
  if (err == 0 && code == 0)
    err = identityOfTemp(*copy, &copy->record.copy);
  if (err == 0 && code == 0)
    err = copyData(src, copy->temp);
  if (err == 0 && code == 0)
    err = carryMetadata(copy, src, copy->examined ? &old : nullptr, (flags & COPY_DURABLE) != 0);
  closeCopySource(&src);
  if (err == 0 && code == 0)
    err = checkTemp(copy);
  if (err == 0 && code == 0)
    err = closeNamedTemp(copy);
  if (err != 0 || code != 0)
    return failWith(copy, code, err);
  return true;
}

bool publishCopy(PreparedCopy *copy, BOOL failIfExists) {
  DWORD code = 0;
  OpError err = publishTemp(copy);
  if (opNameTaken(err)) {
    // A file is in the way: replace it only where Windows would.
    DestinationFacts old{};
    err = examineDestination(copy->destination, &old);
    if (err == 0 && !old.exists) {
      err = publishTemp(copy); // it went away meanwhile
    } else if (err == 0) {
      code = failIfExists ? ERROR_FILE_EXISTS : replacementRefusal(old, *copy);
      if (code == 0) {
        if (!copy->examined)
          keepOwner(copy, old);
        err = replaceWithTemp(copy);
      }
    }
  }
  if (err == 0 && code == 0) {
    copy->published = true;
    if ((copy->flags & COPY_DURABLE) != 0)
      err = flushPublished(copy);
  }
  if (err != 0 || code != 0)
    return failWith(copy, code, err);
  discardTemp(copy);
  return true;
}

void discardCopy(PreparedCopy *copy) {
  discardTemp(copy);
}

BOOL fsCopyFile(const char *source, const char *destination, BOOL failIfExists,
                CopyRecord *record) {
  PreparedCopy copy;
  if (!prepareCopy(source, destination, &copy, failIfExists ? COPY_FAIL_IF_EXISTS : 0) ||
      !publishCopy(&copy, failIfExists))
    return FALSE;
  if (record != nullptr)
    *record = copy.record;
  return TRUE;
}

// The copy of a move: flushed, data and name, before it returns true. A symbolic link is copied
// as itself, since a move moves a link, never what it leads to.
bool copyFileDurably(const char *source, const char *destination, CopyRecord *record) {
  int link = copyLinkAsItself(source, destination, record);
  if (link >= 0)
    return link != 0;
  PreparedCopy copy;
  if (!prepareCopy(source, destination, &copy, COPY_DURABLE) || !publishCopy(&copy, FALSE))
    return false;
  if (record != nullptr)
    *record = copy.record;
  return true;
}

bool moveFileDurably(const char *source, const char *destination, PreparedCopy *prepared) {
  bool moved = moveFileUsing(source, destination, prepared);
  if (prepared != nullptr) {
    DWORD error = GetLastError();
    discardCopy(prepared); // what the move did not use
    SetLastError(error);
  }
  return moved;
}

bool moveFileByCopy(const char *source, const char *destination, PreparedCopy *prepared) {
  PreparedCopy own;
  if (prepared == nullptr && !prepareCopy(source, destination, &own, COPY_DURABLE))
    return false;
  PreparedCopy &copy = prepared != nullptr ? *prepared : own;
  // Never over an existing name (183); the source goes only once the copy and its name are on
  // the disk, so a failed flush is a failed move.
  OpError err = publishTemp(&copy);
  if (err == 0) {
    err = flushPublished(&copy);
    if (err != 0)
      removeCopy(copy.destination); // the source stays whole; the move did not happen
  }
  discardTemp(&copy);
  if (err != 0) {
    setLastErrorOfOp(opNameTaken(err) ? opWin32(ERROR_ALREADY_EXISTS) : err, copy.destination);
    return false;
  }
  // Only the very file that was copied, unchanged, is removed: one written to meanwhile (a log
  // still growing) or replaced by another keeps its name and data, and the copy of what was read
  // stays too.
  FileStamp now;
  if (!readStamp(source, &now))
    return false;
  if (!(now == copy.record.source)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  err = removeMovedSource(copy.source);
  if (err == 0)
    return true;
  // A remove may have been done though it answered an error (a share that lost its reply, or a
  // remove asked again that finds nothing): a source that is gone is moved. The copy is taken
  // back only while the source is there, whole and unchanged.
  if (!readStamp(source, &now)) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
      return true;
  } else if (now == copy.record.source) {
    removeCopy(copy.destination);
  }
  setLastErrorOfOp(err, copy.source);
  return false;
}
