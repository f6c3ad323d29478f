// The archive bit of a file in the POSIX backend, as far as the stored DOS attributes cannot
// keep it: whether a file has changed since its bit was cleared. Everything about the record of
// a clear lives in posix_archive.cpp; the rest of the layer asks these two questions only.
#pragma once

#include "paths/posix_attr.h"
#include "paths/posix_facts.h"
#include "paths/posix_sys.h"

#if !defined(_WIN32)

// Whether the file of the facts (read from the status `st`; its extended attributes at
// `place`) has changed since its archive bit was cleared, so that it reads archived although
// its stored value lacks the bit. False for a directory and for a file without a stored value
// or whose stored value has the bit: the question does not arise.
bool changedSinceArchiveCleared(const FileFacts &facts, const SysStat &st, const XattrPlace &place);

// A clear of the archive bit of the file open as `t` was made: its stored value now lacks the
// bit, newly (`changed`: this change stored the value or set the mode) or as before. Records
// the clear so that any later change of the file reads as archived (nothing where the file
// system keeps no extended attributes, or where the record already vouches for the file as it
// is). 0, or the errno of a record that could not be made at all: the caller then undoes its
// change. Later failures leave the file archived and are no failure of the change.
int archiveClearMade(AttrTarget &t, bool changed);

#endif
