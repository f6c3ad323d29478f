// The narrow file operations under the one copy of the layer (copy.cpp). Each backend
// (posix_files.cpp, win_files.cpp) gives them; copy.cpp holds the copy's contract above them:
// the refusals, the temporary beside the destination, exactly the size read, the carried
// metadata, the copy check, the record, then publish, replace or discard.
// No system header here: the system types stay inside the backends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "paths/files.h"
#include "paths/winapi.h"

// A file the layer holds open: a descriptor on POSIX, a HANDLE on Windows.
typedef intptr_t FileRef;
constexpr FileRef NO_FILE = -1;

// The error of a narrow operation: 0 for none, a positive value the system's own (errno on
// POSIX), a negative one a Win32 error number, negated (the only kind on Windows).
typedef int OpError;
constexpr OpError opWin32(DWORD code) {
  return -static_cast<int>(code);
}
// A source that ends before the size read when it was opened: 38, like every other short read.
constexpr OpError SOURCE_ENDED = opWin32(ERROR_HANDLE_EOF);
// What the narrow operations give where the system cannot tell a source's holes.
constexpr OpError HOLES_UNKNOWN = opWin32(1);
// The longest path the backend writes a temporary name into (terminator included).
extern const size_t TEMP_PATH_LIMIT;

// Sets the last error for `err`, which concerns the system path `sysPath` (may be null).
void setLastErrorOfOp(OpError err, const char *sysPath);
// Whether `err` says that a name is taken.
bool opNameTaken(OpError err);

// The source of a copy as the open file says before any data are read.
struct CopySource {
  FileRef file;
  FileStamp stamp;    // identity, size, last-write and change time
  uint64_t device;    // where the kernel's copy is asked (POSIX)
  bool sparse;        // fewer blocks than its size needs: a sign of holes (POSIX)
  DWORD attributes;   // read-only, hidden and system as the refusals compare them
  uint32_t mode;      // the permission bits (POSIX)
  int32_t stored;     // the stored DOS attributes, -1 for none (POSIX)
  int64_t timeSec[2]; // last-access and last-write times, as the backend keeps them
  uint32_t timeNsec[2];
};

// An existing destination, examined for the refusals.
struct DestinationFacts {
  bool exists;
  bool dangling; // a link that leads nowhere: replaced without a question
  bool isDir;
  bool writable;         // the user may write it (POSIX: someone else's file may not be)
  bool ownerDiffers;     // a file of another owner, whose owner the copy keeps where allowed
  uint32_t uid, gid;     //
  FileIdentity identity; // of what the name leads to
  DWORD attributes;      // read-only, hidden and system as judged (a link by its own name)
};

// Opens the source of a copy (the system path `sysSource`) with every sharing mode and reads what
// a copy carries. A directory is refused with 5. The last error is set on failure.
bool openCopySource(const char *sysSource, CopySource *source);
void closeCopySource(CopySource *source);
// The source's attribute word where a hidden or system destination makes it decide: on Windows
// read by name, as the destination's is (a file system may derive a bit from the name).
DWORD sourceAttributesForRefusal(const char *sysSource, DWORD attributes);
// Examines what stands at `sysDestination`: 0 with `exists` false when nothing does.
OpError examineDestination(const char *sysDestination, DestinationFacts *facts);
// The identity of the open temporary file.
OpError identityOfTemp(const PreparedCopy &copy, FileIdentity *identity);
// Gives the complete temporary the source's metadata (permission bits, stored attributes with
// archive set, owner of the replaced file where `old` says, last-access and last-write times,
// the attributes); with `flush` its data reach the disk too (through fileOps.flush).
OpError carryMetadata(PreparedCopy *copy, const CopySource &source, const DestinationFacts *old,
                      bool flush);
// Keeps the owner of the file the copy replaces (POSIX; nothing on Windows).
void keepOwner(PreparedCopy *copy, const DestinationFacts &old);
// Opens the complete temporary afresh for reading (fsOpen's descriptor) for the copy check, with
// its size as the file system reports it.
OpError openTempForCheck(PreparedCopy *copy, int *fd, int64_t *size);
// Publishes the temporary as its destination unless a name is there (opNameTaken), or replaces
// the destination in one rename; the temporary is gone once either succeeds.
OpError publishTemp(PreparedCopy *copy);
OpError replaceWithTemp(PreparedCopy *copy);
// Closes the complete temporary's data descriptor where publishing goes by its name (a named
// temporary on POSIX), so that a late write error is the preparation's and publishing costs one
// rename (on a share, every close is a request); 0 or the close's error. Nothing where the
// publishing step needs the open file (an anonymous file; Windows).
OpError closeNamedTemp(PreparedCopy *copy);
// Drops whatever is left of the temporary (nothing once published).
void discardTemp(PreparedCopy *copy);
// Makes the name of a published copy durable: its directory is flushed (POSIX).
OpError flushPublished(PreparedCopy *copy);
// Removes a source the move has copied, or takes a copy back.
OpError removeMovedSource(const char *sysSource);
void removeCopy(const char *sysDestination);
// Why an existing destination may not be replaced by `copy` (its source's identity, attributes
// and path): 32, 5, or 0 when it may.
DWORD replacementRefusal(const DestinationFacts &old, const PreparedCopy &copy);
// The copy of copyFileDurably where the source is a symbolic link, copied as itself (POSIX):
// 1 done, 0 failed (last error set), -1 not a link.
int copyLinkAsItself(const char *source, const char *destination, CopyRecord *record);
// The move of a file to another file system or volume: a durable copy under a new name (never
// replacing: 183), then the removal of the very source it read, unchanged (else 32). With
// `prepared`, the durable copy made ahead is used instead of a new one.
bool moveFileByCopy(const char *source, const char *destination, PreparedCopy *prepared);
// The backend's move of moveFileDurably (which discards what of `prepared` it did not use):
// a rename, else, across file systems or volumes, moveFileByCopy with `prepared`.
bool moveFileUsing(const char *source, const char *destination, PreparedCopy *prepared);
// The system path of a path in the program's syntax, in `out` (COPY_PATH_BYTES).
bool copySystemPath(const char *path, char *out);
// Where the kernel may set the position of an open file (for the sparse copy); 0 or the error.
OpError seekFile(FileRef file, uint64_t offset);
// The size of an open file, or 0 and the error.
OpError sizeOfFile(FileRef file, uint64_t *size);
// Sets the size of the open new file.
OpError truncateFile(FileRef file, uint64_t size);
// The next stretch of data at or after `at` of the source: [*data, *hole). 0; SOURCE_ENDED
// (told by the caller) where none is left before the end; HOLES_UNKNOWN; or the error.
OpError nextDataOf(FileRef in, uint64_t at, uint64_t *data, uint64_t *hole);

// The signal (or console control) handler of the backend, installed once: it removes every
// temporary name in flight (tempNameInSlot) and ends the process as it would have ended.
void installTempHandler();

// Temporary names in flight, for that handler and for the removal of leftovers: a fixed table
// of slots, each a name that exists or is about to. noteTempName takes a slot (-1 when none is
// free: the name is then left to the leftover check of a later run); clearTempSlot frees it.
constexpr int TEMP_SLOTS = 1024;
int noteTempName(const char *name);
void clearTempSlot(int slot);
// The name in slot `slot`, or null: async-signal-safe.
const char *tempNameInSlot(int slot);
// Whether `name` is a temporary of this process still in flight.
bool tempNameInFlight(const char *name);
// A new number for a temporary name, unique in this process.
unsigned nextTempCounter();
// Runs `clean` once for the directory `dir` (its system path with the final separator, `length`
// bytes) unless the directory noted last is the same: leftovers of killed copies are removed
// once per directory, not once per file.
void cleanDirectoryOnce(const char *dir, size_t length, void (*clean)(const char *dir));

// The operations that the test programs replace with faulting wrappers (tests/seams): the only
// calls through which the copy reads, writes, flushes, makes its temporary, and renames it.
struct FileOps {
  // A read of up to `count` bytes of a copy's source at its position: the bytes read (0 at the
  // end), or -1 with `*err`.
  long (*read)(FileRef in, void *buffer, size_t count, OpError *err);
  // One write into a copy's new file at its position: the bytes written, or -1 with `*err`.
  long (*write)(FileRef out, const void *data, size_t count, OpError *err);
  // The kernel's copy (see sysCopyRange): bytes, 0 when it copies no more here, -1 with `*err`.
  long (*copyRange)(FileRef in, FileRef out, size_t ask, uint64_t device, bool first, OpError *err);
  // The kernel's clone of the whole file: true when done.
  bool (*clone)(FileRef in, FileRef out, uint64_t device);
  // The position of an open file, or -1.
  int64_t (*position)(FileRef file);
  // A flush of a file's data or of a directory. 0 or the error.
  OpError (*flush)(FileRef file);
  // Makes the temporary beside `copy->destination` (its name in copy->temp, empty while
  // anonymous) for `source`: the last step before the data are copied.
  OpError (*makeTemp)(PreparedCopy *copy, const CopySource &source);
  // A new anonymous file in `dir` (POSIX), or an error (EOPNOTSUPP where there is none).
  FileRef (*openAnonymous)(const char *dir, uint32_t mode, OpError *err);
  // Renames the complete temporary `from` to `to`, replacing it or not (opNameTaken).
  OpError (*renameTemp)(const char *from, const char *to, bool replace, bool durable);
  // The reads of fsReadExact and fsReadFull (fsRead).
  int (*programRead)(int fd, void *buffer, unsigned count);
};
extern FileOps fileOps;

// The backend's own operations, the table's defaults.
long opRead(FileRef in, void *buffer, size_t count, OpError *err);
long opWrite(FileRef out, const void *data, size_t count, OpError *err);
long opCopyRange(FileRef in, FileRef out, size_t ask, uint64_t device, bool first, OpError *err);
bool opClone(FileRef in, FileRef out, uint64_t device);
int64_t opPosition(FileRef file);
OpError opFlush(FileRef file);
OpError opMakeTemp(PreparedCopy *copy, const CopySource &source);
FileRef opOpenAnonymous(const char *dir, uint32_t mode, OpError *err);
OpError opRenameTemp(const char *from, const char *to, bool replace, bool durable);
