// Path text, file-system probes, the file-system layer and the access-denied retry.
//
// The core is written once against the Win32-shaped operations declared here. On Windows they
// are the platform's own (kernel32 and the C runtime); on POSIX the layer provides each of them
// with the same observable contract. Nothing outside src/paths includes a system header.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
typedef WIN32_FIND_DATAA FindEntry;
#else
typedef uint32_t DWORD;
typedef int BOOL;
typedef void *HANDLE;
typedef unsigned char BYTE;
typedef uint16_t WORD;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// One directory entry, laid out as WIN32_FIND_DATAA.
struct FindEntry {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[260];
  char cAlternateFileName[14];
};

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)

#define FILE_ATTRIBUTE_READONLY 0x01u
#define FILE_ATTRIBUTE_HIDDEN 0x02u
#define FILE_ATTRIBUTE_SYSTEM 0x04u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400u

#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_NOT_SAME_DEVICE 17u
#define ERROR_NO_MORE_FILES 18u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_HANDLE_EOF 38u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_INVALID_NAME 123u
#define ERROR_DIR_NOT_EMPTY 145u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_FILE_TOO_LARGE 223u
#define ERROR_DIRECTORY 267u
#define ERROR_IO_DEVICE 1117u
#define ERROR_CANT_RESOLVE_FILENAME 1921u

// The reparse tag of a symbolic link, which the listing leaves in dwReserved0 (see isLinkEntry).
#define IO_REPARSE_TAG_SYMLINK 0xA000000Cu

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x01u
#define FILE_SHARE_WRITE 0x02u
#define OPEN_EXISTING 3u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x1000u

// Directory enumeration: Windows wildcard rules on the last component, "." and ".." first,
// then names in upper-case-folded byte order; symbolic links followed.
HANDLE FindFirstFileA(const char *pattern, FindEntry *entry);
BOOL FindNextFileA(HANDLE search, FindEntry *entry);
BOOL FindClose(HANDLE search);

// Whole-file operations.
BOOL CopyFileA(const char *source, const char *destination, BOOL failIfExists);
BOOL MoveFileA(const char *source, const char *destination);
BOOL DeleteFileA(const char *path);
BOOL CreateDirectoryA(const char *path, void *securityAttributes);
BOOL RemoveDirectoryA(const char *path);
DWORD GetFileAttributesA(const char *path);
BOOL SetFileAttributesA(const char *path, DWORD attributes);

// File times through a handle (used to copy all three times after an incremental copy).
HANDLE CreateFileA(const char *path, DWORD access, DWORD share, void *securityAttributes,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL GetFileTime(HANDLE file, FILETIME *creation, FILETIME *lastAccess, FILETIME *lastWrite);
BOOL SetFileTime(HANDLE file, const FILETIME *creation, const FILETIME *lastAccess,
                 const FILETIME *lastWrite);
BOOL CloseHandle(HANDLE handle);

// The last error is a Win32 error number on both platforms.
DWORD GetLastError();
void SetLastError(DWORD code);
DWORD FormatMessageA(DWORD flags, const void *source, DWORD messageId, DWORD languageId,
                     char *buffer, DWORD size, void *arguments);

// Calendar fields of a FILETIME.
BOOL FileTimeToLocalFileTime(const FILETIME *fileTime, FILETIME *localTime);
BOOL FileTimeToSystemTime(const FILETIME *fileTime, SYSTEMTIME *systemTime);
#endif

// ---------------------------------------------------------------------------------------------
// Platform set-up and the runtime-library calls, under one name on both platforms.

// Prepares the platform once at start: the lead-byte table from the active code page or locale,
// and the program path (argv[0]) in the program's own path syntax (`/` turned into `\` on POSIX).
void initPlatform(int argc, char **argv);

// The value of the environment variable `name`, or nullptr when it is not set.
const char *environmentValue(const char *name);

// Flags of fsOpen, the values of _O_BINARY|_O_RDONLY and _O_BINARY|_O_RDWR, and FS_OPEN_UPDATE:
// read and write like FS_OPEN_READWRITE, for an update in place of a private file only (see
// isPrivateFile): a symbolic link (or other reparse point) as the final component, or a file
// with more than one name, is refused with 5 and not opened.
constexpr int FS_OPEN_READ = 0x8000;
constexpr int FS_OPEN_READWRITE = 0x8002;
constexpr int FS_OPEN_UPDATE = 0x108002;

// _open, _read, _write, _lseeki64, _close: the last error is set on failure. fsOpen never
// creates or truncates. Opening a read-only file for writing is refused with 5.
int fsOpen(const char *path, int flags);

// Whether `path` names a private file, one that may be updated in place: a regular file that
// is not reached through a symbolic link (or other reparse point) as its last component and has
// no other name (hard link). Writing into anything else would change files outside the tree or
// under other names. 1 yes, 0 no, -1 when it cannot be examined (last error set).
int isPrivateFile(const char *path);
int fsRead(int fd, void *buffer, unsigned count);
int fsWrite(int fd, const void *buffer, unsigned count);
int64_t fsSeek(int fd, int64_t offset, int whence); // whence: FS_SEEK_SET or FS_SEEK_CUR
int fsClose(int fd);
// _chsize_s: sets the size of a file open for writing. 0, or -1 with the last error set.
int fsTruncate(int fd, int64_t size);
constexpr int FS_SEEK_SET = 0;
constexpr int FS_SEEK_CUR = 1;

// The mark of an update in place (an incremental copy) while it runs: the size and last-write
// time the file had before it, kept on the file until the update is complete, so that an update
// ended midway (a kill, a power cut) is found by a later run and done again from where the old
// file ended. Where the file system keeps no such mark (no extended attributes; Windows),
// nothing is kept and nothing fails. markUpdate is given the file open for the update; false
// with the last error set when the mark cannot be made. clearUpdateMark removes it: true when
// the file holds no mark afterwards (or none can be kept there), false with the last error set.
bool markUpdate(int fd, int64_t oldSize, int64_t oldWriteTicks);
bool clearUpdateMark(const char *path);
// True, with the size and last-write time the file had before, when `path` holds the mark of
// an update that did not end.
bool readUpdateMark(const char *path, int64_t *oldSize, int64_t *oldWriteTicks);

// The identity of a file or directory: device and inode on POSIX, volume serial number and file
// index on Windows. Two paths name one file exactly when their identities are equal.
struct FileIdentity {
  uint64_t volume;
  uint64_t index;
};
inline bool operator==(const FileIdentity &a, const FileIdentity &b) {
  return a.volume == b.volume && a.index == b.index;
}

// What a copy read of its source, taken from the very file it read (the open source, not a
// second look by name): its identity, size, last-write time and change time (the time of its last
// change of any kind: data, attributes or names; on POSIX the status change time). A move removes
// its source only while the source still has exactly this stamp.
struct FileStamp {
  FileIdentity identity;
  uint64_t size;
  int64_t writeTicks;
  int64_t changeTicks;
};
inline bool operator==(const FileStamp &a, const FileStamp &b) {
  return a.identity == b.identity && a.size == b.size && a.writeTicks == b.writeTicks &&
         a.changeTicks == b.changeTicks;
}
// What a copy did: the source as it read it, and the identity of the file it made (the
// destination once published).
struct CopyRecord {
  FileStamp source;
  FileIdentity copy;
};
// Reads the stamp of what `path` names, a link itself where the system has links that a move
// takes as themselves (one system call on POSIX). False with
// the last error set when it cannot be examined (2 or 3 when it is not there).
bool readStamp(const char *path, FileStamp *stamp);
// A time, in ticks, not later than the change time the file system gives any change made after
// this call.
int64_t changeTimeFloor();

// The copy of one file, CopyFileA's contract on both platforms: refused with 80 when the
// destination exists and `failIfExists` is set, with 32 when both name one file, with 5 when the
// source is a directory or the destination is a directory, read-only, or hidden or system while
// the source is not. The copy carries the source's last-write time and its read-only, hidden and
// system attributes (with archive set). It is published atomically: the data go into a hidden
// temporary file in the destination's directory, which replaces the destination in one rename
// only when complete, so a failed or killed copy never leaves a partial destination. False with
// the last error set. With `record`, a copy that succeeds fills it in.
BOOL fsCopyFile(const char *source, const char *destination, BOOL failIfExists,
                CopyRecord *record = nullptr);

// The copy in two steps, for callers that prepare many copies and publish them in their own
// order. prepareCopy opens the source, copies its data (exactly the size read then) into a new
// temporary file beside the destination that no one sees yet, carries the metadata and runs the
// copy check; false with the last error set, and nothing left, when any of it fails. An existing
// destination that a large source may not replace is refused already here (with 80 under
// COPY_FAIL_IF_EXISTS). publishCopy then gives the copy the destination's name (with
// `failIfExists`, only where no file has it: else 80), or replaces the destination where the
// refusals of fsCopyFile allow; discardCopy drops it. Every prepared copy ends in exactly one
// of the two, whatever they answer; neither allocates. Copies of different files may run on
// several threads at once.
constexpr size_t COPY_PATH_BYTES = 4096;
constexpr unsigned COPY_FAIL_IF_EXISTS = 1; // the destination is to be new
constexpr unsigned COPY_DURABLE = 2; // data and name reach the disk before publishCopy returns
struct PreparedCopy {
  CopyRecord record; // the source as read, and the identity of the new file
  bool published;    // the destination holds the copy
  // The layer's own.
  intptr_t temp;  // the temporary, while it is open
  intptr_t guard; // what holds its lock (POSIX)
  int slot;       // its slot in the table of names in flight, -1 none
  unsigned flags;
  bool examined;                // the destination was examined before the copy
  DWORD sourceAttributes;       // as the refusals compare them
  char source[COPY_PATH_BYTES]; // system paths
  char destination[COPY_PATH_BYTES];
  char tempName[COPY_PATH_BYTES]; // empty while the temporary is anonymous
};
bool prepareCopy(const char *source, const char *destination, PreparedCopy *copy,
                 unsigned flags = 0);
bool publishCopy(PreparedCopy *copy, BOOL failIfExists);
void discardCopy(PreparedCopy *copy);
// While on, the descriptors that only held the lock of a published copy's temporary name are not
// closed by the publishing call but by closeDeferredFiles (on any thread): on a share every close
// is a request. Turning it off closes what is left. (POSIX; nothing on Windows.)
void deferLockCloses(bool on);
// Closes the descriptors deferred so far; false when there were none.
bool closeDeferredFiles();

// Receives the progress of the data copy of fsCopyFile: the bytes done and the total (the size
// seen at the start), after each piece of a bounded size. While one is set, copies go in such
// pieces; without one the layer copies the fastest way it knows, in as few calls as it can.
typedef void (*CopyProgressFn)(uint64_t done, uint64_t total);
// Each thread has its own receiver, for the copies it makes.
void setCopyProgress(CopyProgressFn receiver); // nullptr: none

// Receives the complete data of each copy before they are published, while one is set: the
// copies of fsCopyFile and copyFileDurably, and the copy of a move to another file system or
// volume (moveFileDurably). `copy` is a descriptor (for fsRead; the layer closes it) opened
// afresh on the new data as the file system now holds them, `size` their size as it now reports
// it. False refuses the copy: nothing is published, the destination (and a moved source) stay as
// they were, and the copy fails with the last error the check left.
typedef bool (*CopyCheckFn)(void *context, int copy, int64_t size);
// Each thread has its own check, for the copies it makes.
void setCopyCheck(CopyCheckFn check, void *context); // nullptr: none

// Reads exactly `count` bytes (repeating short reads). False with the last error set when it
// cannot: the system's error, or ERROR_HANDLE_EOF (38) when the file ends first.
bool fsReadExact(int fd, void *buffer, unsigned count);
// Reads up to `count` bytes, repeating short reads until the file ends: the bytes read (fewer
// than `count` only at the end of the file), or -1 with the last error set.
int fsReadFull(int fd, void *buffer, unsigned count);
// Writes exactly `count` bytes; false with the last error set otherwise.
bool fsWriteExact(int fd, const void *buffer, unsigned count);

// The list-file stream: fopen(path, "rt"), fgetc, fclose. A carriage return before a line feed
// is dropped and a Ctrl-Z ends the file, as text mode does. listFileGetc gives the next byte
// (0 to 255) or LIST_FILE_END.
struct ListFile;
constexpr int LIST_FILE_END = -1;
ListFile *listFileOpen(const char *path);
int listFileGetc(ListFile *file);
void listFileClose(ListFile *file);
// fseek(file, 0, SEEK_SET): the file is read again from its start. False when it cannot be (a
// pipe), the reading then going on where it stood.
bool listFileRewind(ListFile *file);

// Whether a listed entry is a link: a symbolic link or a junction, an entry that stands for
// another name, whatever it leads to (a file, a directory, nothing). The rest of the entry
// describes what it leads to, as the listing follows links. On Windows it is a reparse point
// whose tag (in dwReserved0) is a name surrogate, or whose tag is none of the system's (Wine
// marks a POSIX link to a directory as a reparse point and leaves no tag; a placeholder of a
// cloud or deduplicated file is a reparse point too, with a tag of the system's, and is no link).
// On POSIX the listing sets dwReserved0 to the symbolic-link tag (and to 0 for every other
// entry), leaving the attribute word the target's.
inline bool isLinkEntry(const FindEntry &entry) {
#if defined(_WIN32)
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         ((entry.dwReserved0 & 0x20000000u) != 0 || (entry.dwReserved0 & 0x80000000u) == 0);
#else
  return entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK;
#endif
}

// Looks up one entry by its exact name: no wildcard and no trimming of trailing dots, so a
// destination namesake is never another file. False with the last error set when it does not
// exist. With `storedAttributes` false the POSIX backend skips reading the stored DOS attributes
// (hidden, system and archive then follow from the name and mode alone: one system call less),
// for callers that never look at those bits. The whole path is looked up as it is now; a walk
// looks its namesakes up in the directory its level opened (lookupEntryAt).
bool lookupEntry(const char *path, FindEntry *entry, bool storedAttributes);
// Whether every lookup reads the stored attribute bits, asked for or not (on Windows the system
// hands them out with the entry): a second lookup for them is never needed there.
#if defined(_WIN32)
constexpr bool LOOKUP_READS_STORED_BITS = true;
#else
constexpr bool LOOKUP_READS_STORED_BITS = false;
#endif

// fsCopyFile(source, destination, FALSE) whose result is on the disk when it returns true: the
// copy's data and the directory entry naming it are flushed. A move that copies calls it before
// it deletes the source, so that a power cut never leaves neither. False with the last error
// when the copy or a flush fails (after a failed flush the destination may hold the new copy).
bool copyFileDurably(const char *source, const char *destination, CopyRecord *record = nullptr);
// MoveFileA (never replacing), whose copy, where the move has to copy (to another file system
// or volume), is on the disk before the source is removed. On POSIX such a move removes the
// source only while it is still the very file it copied, unchanged (else it fails with 32 and
// keeps both); a remove that answers an error although the source is gone completes the move,
// and the copy is taken back only while the source is there, unchanged.
bool moveFileDurably(const char *source, const char *destination);

// Whether two paths name one file (same device and inode; volume serial and file index on
// Windows): 1 the same file, 0 two files, -1 when either cannot be examined.
int sameFileIdentity(const char *first, const char *second);

// Reads the identity of what `path` names, links followed (one system call on POSIX). False with
// the last error set when it cannot be examined.
bool readIdentity(const char *path, FileIdentity *identity);

// Whether `path`, resolved through every link (symbolic link or junction) in its nearest
// existing ancestor, is the directory `dir` or lies inside it, each real ancestor compared by
// identity: 1 yes, 0 no, -1 when it cannot be told (`dir` cannot be examined, or the missing
// rest of `path` steps up with "..").
int isWithinDirectory(const char *path, const char *dir);

// ---------------------------------------------------------------------------------------------
// The status line: one line of text on standard error while standard error is a terminal, for
// people watching a long operation. Standard output is never touched (only flushed).

// The width of the terminal that standard error writes to, in columns; 0 when standard error is
// not a terminal (or one that understands no cursor control). Read again on every call.
int statusColumns();
// The longest status line, in bytes.
constexpr size_t STATUS_MAX = 512;
// Draws the status line, or draws it anew: `text` (`length` bytes, at most STATUS_MAX and
// narrower than the terminal) replaces what the line showed. The first call flushes standard
// output; when that goes to the same terminal, the line is drawn on the row below the place where
// standard output stands.
void statusShow(const char *text, size_t length);
// Erases the status line and puts the cursor back where standard output left it. Nothing when
// no line is shown.
void statusClear();

// ---------------------------------------------------------------------------------------------
// Two-byte characters of the active code page.

enum LeadByteTable { LEAD_NONE = 0, LEAD_SHIFT_JIS = 1, LEAD_WIDE = 2, LEAD_SYSTEM = 3 };
extern unsigned char leadByteMap[256];
// Chooses the lead-byte table: Shift_JIS (0x81-0x9F, 0xE0-0xFC), the wide sets of GBK, Big5 and
// UHC (0x81-0xFE), none, or the system's own (IsDBCSLeadByte, or the locale on POSIX).
void setLeadByteTable(LeadByteTable table);
inline bool isLeadByte(unsigned char c) {
  return leadByteMap[c] != 0;
}

// The bytes of the character at `p`: 2 for a lead byte and its trail byte, 1 otherwise (a lead
// byte directly before the terminator stands alone, so that a scan then stops there). Every
// scan of program text steps with it, so that a trail byte is never taken for `\`, `.` or `/`.
inline size_t charBytes(const char *p) {
  return (isLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
}
inline const char *nextChar(const char *p) {
  return p + charBytes(p);
}
inline char *nextChar(char *p) {
  return p + charBytes(p);
}

// ---------------------------------------------------------------------------------------------
// Path text.

constexpr int PATH_BUF = 520;
typedef char PathBuf[PATH_BUF]; // a path, NUL-terminated, in the active code page
typedef char TabList[PATH_BUF]; // items each followed by one TAB (masks, exclusions)

// Whether `:` separates (ends a drive prefix). True on Windows; on POSIX `:` is an ordinary
// character. A variable only so that tests can check both rules on either platform.
extern bool colonSeparates;
inline bool isColonSep(char c) {
  return colonSeparates && c == ':';
}
inline bool isSeparator(char c) {
  return c == '\\' || isColonSep(c);
}

// Bounded writes into a PathBuf (or TabList) `buffer`: `text` is copied to `at` (a position
// inside `buffer`) only when it fits with its terminator; false and nothing written otherwise.
bool pathPut(char *buffer, char *at, const char *text);
bool pathAppend(char *buffer, const char *text);
bool pathAppendChar(char *buffer, char c);

char *lastCharPtr(char *text);
const char *lastCharPtr(const char *text);
char *fileNamePart(char *text);
const char *fileNamePart(const char *text);
int dotsOnlyLength(const char *name);
// Whether a name is one of the two dot entries, "." or "..", which are never entries of a
// listing's own.
bool isDotName(const char *name);
// Whether a name made only of dots other than the dot entries (such as ...) names an entry of
// that name. On POSIX it does. Windows drops the trailing dots of every component, so that such
// a name names the directory before it: no path can spell an entry of that name there.
#if defined(_WIN32)
constexpr bool DOT_RUNS_ARE_NAMES = false;
#else
constexpr bool DOT_RUNS_ARE_NAMES = true;
#endif
// The append forms below need room for one more byte; callers check with pathAppendChar first
// where the text may fill its buffer, or use the checked variants.
// Makes a non-empty path in a PathBuf end in a separator so that a name can follow; false, and
// nothing written, when the separator does not fit.
bool ensureTrailingSep(char *path);
void insertChar(char *position, char ch);
bool looksLikePath(const char *text);

// The program's ASCII case folds: a letter as its upper (lower) case, every other byte (a DBCS
// byte too) as it is. Listings order by the upper fold, as Windows lists; _stricmp orders by the
// lower one.
constexpr unsigned char upperAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}
constexpr unsigned char lowerAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// ASCII-only case folding, as _stricmp and _strnicmp compare in the C locale.
int stricmpAscii(const char *a, const char *b);
int strnicmpAscii(const char *a, const char *b, size_t n);
// Whether two names, or two paths, name one entry as the file system compares them: ASCII case
// folded on Windows, exact on POSIX, where README and readme are two files. Every same-path and
// same-name test of the program compares with these two.
bool namesEqual(const char *a, const char *b);
// The same comparison over the first `length` bytes of each text (a path and its prefix).
bool namesEqualPrefix(const char *a, const char *b, size_t length);

// File-system probes.
bool pathExists(const char *pattern);
bool closeFind(HANDLE search);
int probePathKind(const char *path);
// What a source's last component names, every match looked at: 1 only directories (a wildcard
// then stands for a directory), 0 at least one file (a dot entry counts as one: x\* names the
// files of x), -1 nothing. For a name without wildcard the same as probePathKind.
int probeSourceKind(const char *path);
bool matchDirName(char *path, DWORD attributeMask);

// ---------------------------------------------------------------------------------------------
// Namesake lookups in one directory.

// A directory opened for looking names up in it: a walk level opens its destination directory,
// looks its namesakes up in it, and closes it when the level ends. On POSIX it holds a
// descriptor, so that the lookups go to the directory opened even when another program renames
// it away and makes a new one of that name; on Windows the lookups go by the directory's path.
// Nothing in it changes between the open and the close: any number of threads may look names up
// in one at once. Fixed size; it holds nothing of the heap.
struct LookupDir {
  PathBuf path; // the directory's path text as opened, ready for a name to follow
  int fd;       // POSIX: the descriptor the names are looked up in; -1: by whole path
  DWORD error;  // 0, or the error every lookup fails with: the directory cannot be looked into
};

// Opens the directory `path` (a text that a name can follow: empty for the current directory,
// or ending in a separator) for lookups. False, with the last error set, when it cannot be
// looked into: every lookup in it then fails with that error, which is 2 or 3 ("not found")
// when it does not exist. Where the directory cannot be opened but the names in it may still be
// reachable by their paths (no permission to open it where the system wants more than the
// permission to search it, no descriptor left), or where the text has no directory of its own
// to open (empty, or a drive prefix), its lookups go by whole paths. On Windows nothing is opened:
// each lookup tells. closeLookupDir must follow either way.
bool openLookupDir(const char *path, LookupDir *dir);
// lookupEntry of the entry `name` (one component) of the directory `dir`.
bool lookupEntryAt(const LookupDir &dir, const char *name, FindEntry *entry, bool storedAttributes);
void closeLookupDir(LookupDir *dir);
// The whole path of `name` in `dir`, into the PathBuf `whole`: false (with 206) when it does
// not fit.
bool lookupDirPath(const LookupDir &dir, const char *name, char *whole);

// ---------------------------------------------------------------------------------------------
// Access-denied retry.

// Read-only, hidden and system: the bits that make Windows refuse to replace or remove a file,
// which the retry clears.
constexpr DWORD PROTECTION_BITS = 0x07;

bool retryAfterDenied();
bool clearProtection(const char *path);

// The one second attempt: after an operation on `path` was refused for access under /x, clears
// the protection of `path` and runs `attempt` once more. When that fails too, `path` gets back
// exactly the attribute word it had, and the last error is the attempt's. False when no second
// attempt could be made (no /x, another error, the protection not cleared) or it failed.
template <typename Attempt> bool retryWithProtectionCleared(const char *path, Attempt attempt) {
  if (!retryAfterDenied())
    return false;
  DWORD before = GetFileAttributesA(path);
  if (before == INVALID_FILE_ATTRIBUTES ||
      !SetFileAttributesA(path, before & ~static_cast<DWORD>(PROTECTION_BITS)))
    return false;
  if (attempt())
    return true;
  DWORD saved = GetLastError();
  SetFileAttributesA(path, before);
  SetLastError(saved);
  return false;
}
