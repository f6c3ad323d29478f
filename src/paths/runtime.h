// Platform set-up and the runtime-library calls, under one name on both platforms: the start of
// the program, the environment, files by descriptor (_open, _read, _write, ...) and the list-file
// stream (fopen, fgetc). No system type here.
#pragma once

#include <cstdint>

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
