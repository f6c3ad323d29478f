// Finding entries: what a listed entry's link mark says, the lookup of one entry by its exact
// name, the probes that ask the file system what a path names, and directories opened for
// namesake lookups.
#pragma once

#include "paths/pathtext.h"
#include "paths/winapi.h"

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
// The whole path of `name` in `dir`, into the PathBuf `whole`: false when it does not fit
// (206), or with the open's error when the directory could not be opened.
bool lookupDirPath(const LookupDir &dir, const char *name, char *whole);
