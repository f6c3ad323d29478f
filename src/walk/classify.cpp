// Entry classification: which listed entries take part in the walk, and the exclusion masks.
#include <cstring>

#include "paths/pathtext.h"
#include "paths/winapi.h"
#include "state/state.h"
#include "walk/walk.h"

namespace {

// Attribute bit of a volume label.
constexpr DWORD VOLUME_LABEL_BIT = 0x08;

// The final suffix of a name, from its last `.` on; a trail byte is never taken for a `.`.
// A name without `.` is its own suffix.
const char *finalSuffix(const char *name) {
  const char *suffix = name;
  for (const char *p = name; *p != '\0'; p = nextChar(p))
    if (*p == '.')
      suffix = p;
  return suffix;
}

// Whether `name` equals the first `length` bytes of `mask` (ASCII letters folded).
bool equalsMaskPrefix(const char *name, const char *mask, size_t length) {
  return strlen(name) == length && strnicmpAscii(name, mask, length) == 0;
}

// The exclusion test on a name that is only read: a mask ending in `\` is compared with the
// name as if the name carried that `\`, without writing it.
bool nameMatchesExclusion(const char *name, const char *mask, DWORD attributes) {
  if (mask[0] == '\0')
    return false;
  if (looksLikePath(mask)) {
    // A directory mask: plain names, names ending or beginning with `\`, dot runs.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      return false;
    const char *last = lastCharPtr(mask);
    if (*last == '\\')
      return equalsMaskPrefix(name, mask, static_cast<size_t>(last - mask));
    return stricmpAscii(name, mask) == 0;
  }
  // A file mask: never excludes a directory.
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return false;
  if (mask[0] == '.')
    return stricmpAscii(finalSuffix(name), mask) == 0;
  const char *last = lastCharPtr(mask);
  if (*last == '.')
    return equalsMaskPrefix(name, mask, static_cast<size_t>(last - mask));
  return stricmpAscii(name, mask) == 0;
}

// Whether a name holds `\` as a character of its own (never as a trail byte).
bool holdsSeparator(const char *name) {
  for (const char *p = name; *p != '\0'; p = nextChar(p))
    if (*p == '\\')
      return true;
  return false;
}

// Whether any item of the TAB-ended exclusion list excludes the entry.
bool isExcluded(const char *name, const char *exclusions, DWORD attributes) {
  if (exclusions == nullptr)
    return false;
  char mask[PATH_BUF]; // one item at a time, copied out of the list; per call
  const char *item = exclusions;
  while (*item != '\0') {
    const char *end = strchr(item, '\t');
    size_t length = end != nullptr ? static_cast<size_t>(end - item) : strlen(item);
    if (length < sizeof mask) {
      memcpy(mask, item, length);
      mask[length] = '\0';
      if (nameMatchesExclusion(name, mask, attributes))
        return true;
    }
    if (end == nullptr)
      break;
    item = end + 1;
  }
  return false;
}

} // namespace

// True when `mask` excludes the entry of long name `name` and attribute word `attributes`.
// The name is only read.
bool matchesExclusion(char *name, const char *mask, DWORD attributes) {
  return nameMatchesExclusion(name, mask, attributes);
}

// Classifies one listed entry and writes its long name at `nameSlot`. The named test looks at
// the slot before it is overwritten: the mask as typed for the first entry, else the previous
// name. Only the dot entries "." and ".." are no entries; a name of more dots (such as ...) is
// one like any other. A rejected entry's name is written only when it fits; an accepted one
// whose name the path syntax cannot spell (it holds `\`, or it is made of dots where the
// platform drops trailing dots) is refused with ENTRY_BAD_NAME, and one that does not fit with
// ENTRY_TOO_LONG, the slot then left as it was.
int classifyEntry(const FindEntry &entry, char *pattern, char *nameSlot, const char *exclusions) {
  int provisional = ENTRY_MATCHED;
  if (namesEqual(entry.cFileName, nameSlot) ||
      (entry.cAlternateFileName[0] != '\0' && namesEqual(entry.cAlternateFileName, nameSlot)))
    provisional = ENTRY_NAMED;

  const char *name = entry.cFileName;
  DWORD attributes = entry.dwFileAttributes;
  int result = provisional;
  if (isExcluded(name, exclusions, attributes))
    result = ENTRY_EXCLUDED;
  else if (isDotName(name))
    result = ENTRY_DOTS;
  else if ((attributes & VOLUME_LABEL_BIT) != 0)
    result = ENTRY_VOLUME;
  else if ((attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0 &&
           !runState.includeHidden)
    result = ENTRY_HIDDEN;

  bool written = pathPut(pattern, nameSlot, name);
  if (result > 0 && (holdsSeparator(name) || (!DOT_RUNS_ARE_NAMES && dotsOnlyLength(name) > 0)))
    return ENTRY_BAD_NAME;
  if (result > 0 && !written)
    return ENTRY_TOO_LONG;
  return result;
}
