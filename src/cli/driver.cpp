// The run driver: parse, refuse conflicts, settle the selection, resolve wildcard directories,
// run one of the three modes (list file, mask list, single source) and print the summary.
#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "cli/listfile.h"
#include "cli/parser.h"
#include "paths/lookup.h"
#include "paths/pathtext.h"
#include "paths/runtime.h"
#include "paths/winapi.h"
#include "report/report.h"
#include "walk/walk.h"

namespace {

// A list line and the source prefix before it share this many bytes of sourcePath (the walk
// appends a separator and "*.*" to what it receives, which must still fit the buffer).
constexpr size_t LIST_TEXT_ROOM = PATH_BUF - 4;

// Whether `text` holds the byte `ch` as a character of its own (never as a trail byte).
bool containsChar(const char *text, char ch) {
  for (const char *p = text; *p != '\0'; p = nextChar(p))
    if (*p == ch)
      return true;
  return false;
}

// Reports a path of a walk that cannot be put together inside one buffer; the walk is
// not made (the report's reportTooLong, with the driver's status value).
void reportWalkPathTooLong(const char *head, const char *tail) {
  reportTooLong(head, std::strlen(head), tail, ST_NOT_FOUND, false);
}

// Gives a name without an extension its final dot, so that the search finds the file itself
// and not a directory pattern. False (reported) when the dot does not fit. `marked` tells
// whether a dot was added to a plain name (one without wildcard): the walk of that source then
// searches without the dot, which otherwise would name another file where one exists with that
// dot (on POSIX).
bool appendDotIfNoExtension(char *path, bool &marked) {
  const char *name = fileNamePart(path);
  marked = false;
  if (containsChar(name, '.'))
    return true;
  if (pathAppendChar(path, '.')) {
    marked = !containsChar(name, '*') && !containsChar(name, '?');
    return true;
  }
  reportWalkPathTooLong(path, ".");
  return false;
}

// Whether a destination holds a wildcard character. A delete pairs each source file with its
// namesake in the destination, and a destination with `*` or `?` (a mask written where the
// destination stands) pairs with nothing, so that every file would go.
bool refusedDeleteDestination(const char *destination) {
  return runState.mode == MODE_DELETE &&
         (containsChar(destination, '*') || containsChar(destination, '?'));
}

// Refuses, before anything is walked, a mask or list line that is not a name or a path below
// its source: one that climbs out of it or starts over from a root would be walked (and, as a
// plain path, followed into the destination) outside the trees the command names. True when
// refused (said, and ST_SYNTAX recorded).
bool refuseItemOutsideSource(const char *item) {
  if (staysBelowSource(item))
    return false;
  std::printf("%s :not a path below the source\n", item);
  runState.status |= ST_SYNTAX;
  return true;
}

// Whether `name` is one of the items of the TabList `list`, as the file system compares names.
bool isListItem(const char *list, const char *name) {
  size_t length = std::strlen(name);
  for (const char *p = list; *p != '\0';) {
    const char *tab = std::strchr(p, '\t');
    size_t itemLength = tab != nullptr ? static_cast<size_t>(tab - p) : std::strlen(p);
    if (itemLength == length && namesEqualPrefix(p, name, length))
      return true;
    p += itemLength + (tab != nullptr ? 1 : 0);
  }
  return false;
}

// Refuses a destination that still holds a wildcard once the wildcard directories have been
// resolved: the pattern matched no directory and names none. Windows refuses such a name (123)
// when the directory is to be made; it is refused here on every platform, before anything is
// walked or made, so that a POSIX run never makes a directory named by the pattern. The
// same-name forms stay: a last component that begins with `*`, or that is the source's mask (its
// last component, or one of the masks), stands for each entry's own name. True when refused
// (reported and recorded as the failure of the destination directory).
bool refuseWildDestination(const CommandLine &cl) {
  const char *last = fileNamePart(cl.destPath);
  const char *component = cl.destPath;
  bool wild = false;
  for (const char *p = cl.destPath;; p = nextChar(p)) {
    if (*p == '*' || *p == '?')
      wild = true;
    if (*p != '\0' && !isSeparator(*p))
      continue;
    if (wild &&
        !(component == last && (*last == '*' || namesEqual(last, fileNamePart(cl.sourcePath)) ||
                                isListItem(cl.masks, last))))
      break;
    if (*p == '\0')
      return false;
    wild = false;
    component = p + 1;
  }
  reportError(cl.destPath, static_cast<int32_t>(ERROR_INVALID_NAME));
  recordFailure(modeTraits().makesDestDirs ? ST_MKDIR_FAILED : modeTraits().failStatus);
  return true;
}

// One walk of the current source into the current destination. `sourceDotAdded` says whether
// the source's final dot is the driver's (see appendDotIfNoExtension).
int walkOnce(CommandLine &cl, bool sourceDotAdded = false) {
  runState.sourceDotAdded = sourceDotAdded;
  int total = walkTree(cl.sourcePath, cl.destPath, FILE_ATTRIBUTE_DIRECTORY, cl.exclusions);
  runState.sourceDotAdded = false;
  return total;
}

// Reads the list through once before anything is walked and refuses it whole when a line names
// something outside the source. A list that cannot be read twice (a pipe) is not read ahead:
// its lines are then checked as they come. False when refused.
bool listStaysBelowSource(ListFile *file, size_t room) {
  if (!listFileRewind(file))
    return true;
  PathBuf line; // the line read ahead
  ListLineFault fault = LINE_FITS;
  bool first = true;
  bool refused = false;
  while (!refused && readListLine(file, line, room, first, &fault)) {
    first = false;
    // A line that is refused anyway, or empty, names nothing.
    refused = fault == LINE_FITS && line[0] != '\0' && refuseItemOutsideSource(line);
  }
  return !refused && listFileRewind(file);
}

// List-file mode: each non-empty line, after the source prefix, is one walk. A line too long
// for the buffer, or holding a NUL byte, is reported as such and not walked. Returns 0, or the
// exit status that ends the run at once: the list file cannot be opened, or a line names
// something outside the source.
uint32_t runListFile(CommandLine &cl, int &actedTotal, int &linesWalked) {
  ListFile *file = listFileOpen(cl.listFileName);
  if (file == nullptr) {
    std::printf("@%s :file not found.\n", cl.listFileName);
    return ST_LIST_NOT_FOUND;
  }
  // Prefix and line together stay within LIST_TEXT_ROOM bytes, the line's terminator included.
  // With a prefix that leaves no room for a character of a line, every line would be too long,
  // so such a prefix is reported once as too long, counted as a failure, and no line is read.
  size_t prefixLength = 0;
  bool fits = ensureTrailingSep(cl.sourcePath);
  if (fits) {
    prefixLength = std::strlen(cl.sourcePath);
    fits = prefixLength + 1 < LIST_TEXT_ROOM;
  }
  if (!fits) {
    reportWalkPathTooLong(cl.sourcePath, "");
    listFileClose(file);
    return 0;
  }
  char *line = cl.sourcePath + prefixLength;
  size_t room = LIST_TEXT_ROOM - prefixLength;
  // Without a source each line is a source of its own, written as on the command line.
  bool belowSource = prefixLength > 0;
  if (belowSource && !listStaysBelowSource(file, room)) {
    listFileClose(file);
    return runState.status;
  }
  ListLineFault fault = LINE_FITS;
  bool first = true;
  while (readListLine(file, line, room, first, &fault)) {
    first = false;
    if (fault == LINE_TOO_LONG) {
      reportWalkPathTooLong(cl.sourcePath, "");
      if (shouldStop())
        break;
      continue;
    }
    if (fault == LINE_HOLDS_NUL) {
      // Named as far as it goes, as a name that the path syntax cannot spell.
      reportError(cl.sourcePath, static_cast<int32_t>(ERROR_INVALID_NAME));
      recordFailure(ST_NOT_FOUND);
      if (shouldStop())
        break;
      continue;
    }
    if (line[0] == '\0')
      continue;
    if (belowSource && refuseItemOutsideSource(line))
      break; // a list that could not be read ahead: the lines before it are done

    int errorsBefore = runState.errorCount;
    int filesBefore = runState.fileCount;
    int r = walkOnce(cl);
    if (r == 0 && runState.errorCount == errorsBefore && runState.fileCount == filesBefore) {
      std::printf("%s :file not found.\n", cl.sourcePath);
      recordFailure(ST_NOT_FOUND);
    }
    actedTotal += r;
    linesWalked += 1;
    if (shouldStop())
      break;
  }
  listFileClose(file);
  if (linesWalked == 0)
    *line = '\0'; // nothing walked: the closing report names the prefix alone
  return 0;
}

// Copies the mask at `p` in a mask list (items each ended by a TAB) into `item`; returns where
// the next one begins.
const char *nextMask(const char *p, PathBuf item) {
  const char *tab = std::strchr(p, '\t');
  size_t length = tab != nullptr ? static_cast<size_t>(tab - p) : std::strlen(p);
  if (length >= sizeof(PathBuf))
    length = sizeof(PathBuf) - 1; // cannot happen: the list shares one buffer of the same size
  std::memcpy(item, p, length);
  item[length] = '\0';
  return p + length + (tab != nullptr ? 1 : 0);
}

// Refuses the mask list whole, before anything is walked, when a mask names something outside
// the source. False when refused.
bool masksStayBelowSource(const char *masks) {
  PathBuf item; // one mask, copied out of the list
  for (const char *p = masks; *p != '\0';) {
    p = nextMask(p, item);
    if (refuseItemOutsideSource(item))
      return false;
  }
  return true;
}

// Mask-list mode: the source directory (or the source's own directory, after the source itself
// has been walked) is walked once per mask; a mask that names a path plainly is followed into
// the destination too.
void runMaskList(CommandLine &cl, int &actedTotal) {
  char *name = fileNamePart(cl.sourcePath);
  char *slot; // where each mask is written into sourcePath
  if (*name != '\0' && looksLikePath(name) && probePathKind(cl.sourcePath) == 1) {
    // When the separator does not fit, no mask fits either: each is then reported below.
    ensureTrailingSep(cl.sourcePath);
    slot = cl.sourcePath + std::strlen(cl.sourcePath);
  } else if (*name != '\0') {
    bool marked = false;
    if (appendDotIfNoExtension(cl.sourcePath, marked))
      actedTotal = walkOnce(cl, marked);
    else if (shouldStop())
      return; // the refusal counted as an error: the masks follow the stop rule
    *name = '\0';
    slot = name;
  } else {
    slot = cl.sourcePath + std::strlen(cl.sourcePath);
  }

  PathBuf item; // the current mask, copied out of the list
  for (const char *p = cl.masks; *p != '\0';) {
    p = nextMask(p, item);

    int r = 0;
    if (!pathPut(cl.sourcePath, slot, item)) {
      *slot = '\0';
      reportWalkPathTooLong(cl.sourcePath, item);
    } else if (looksLikePath(item)) {
      char *destName = fileNamePart(cl.destPath);
      if (*destName == '*')
        *destName = '\0';
      bool sepFits = ensureTrailingSep(cl.destPath);
      size_t destLength = std::strlen(cl.destPath);
      if (sepFits && pathAppend(cl.destPath, item)) {
        r = walkOnce(cl);
        cl.destPath[destLength] = '\0';
      } else {
        reportWalkPathTooLong(cl.destPath, item);
      }
    } else {
      r = walkOnce(cl);
    }
    actedTotal += r;
    if (shouldStop())
      break;
  }
}

// Single-source mode: one walk; a file named without extension gets its final dot first.
void runSingleSource(CommandLine &cl, int &actedTotal) {
  const char *name = fileNamePart(cl.sourcePath);
  bool marked = false;
  if (*name != '\0' && probeSourceKind(cl.sourcePath) == 0 && !containsChar(name, '.')) {
    if (!appendDotIfNoExtension(cl.sourcePath, marked))
      return;
  }
  actedTotal = walkOnce(cl, marked);
}

// The one decision of what the run does with each file; the conflict test has left at most one
// of /m, /c and /del.
void settleMode() {
  RunState &rs = runState;
  rs.mode = rs.deleteMode    ? MODE_DELETE
            : rs.compareMode ? MODE_COMPARE
            : rs.moveMode    ? MODE_MOVE
                             : MODE_COPY;
}

// Leaves the selection mask that the walk reads: the default when nothing was chosen, then
// narrowed by /n, /o, /u and /i in that order.
void settleSelectMask() {
  RunState &rs = runState;
  if (rs.selectMask == 0)
    rs.selectMask = SEL_DEFAULT;
  if (rs.noOverwrite)
    rs.selectMask &= SEL_ABSENT;
  if (rs.overwriteOnly)
    rs.selectMask &= ~SEL_ABSENT;
  if (rs.updateOnly)
    rs.selectMask &= SEL_ABSENT | SEL_NEWER;
  if (rs.incremental)
    rs.selectMask &= SEL_ABSENT | SEL_NEWER;
}

// The closing line (or the same-path message, or the report of a source that found nothing).
int printSummary(const char *sourcePath, int actedTotal, int linesWalked) {
  const RunState &rs = runState;
  uint32_t status = rs.status;
  // Only a refusal says so: the status bits of other failures can add up to the same value
  // (0xA0 | 0xD0), and the exit status stays their union.
  if (rs.samePathRefused) {
    std::printf("Source and destination are the same path.\n");
    return static_cast<int>(status);
  }
  if (rs.fileCount > 0 || rs.dirCount > 0) {
    std::printf(" %d/%d.files", actedTotal, rs.fileCount);
    if (rs.dirCount > 0)
      std::printf("(%d.dirs)", rs.dirCount);
    std::printf("%s", rs.echoOnly ? " found" : modeTraits().verb);
    if (rs.errorCount > 0)
      std::printf("(%d.errors)", rs.errorCount);
    std::printf(".\n");
    if ((rs.mode == MODE_COMPARE || rs.verifyCopy) && rs.unmatchedCount > 0)
      std::printf(" %d/%d.files unmatched.\n", rs.unmatchedCount, actedTotal);
    return static_cast<int>(status);
  }
  if (linesWalked == 0 && status == 0) {
    std::printf("%s :file not found.\n", sourcePath);
    status |= ST_NOT_FOUND;
    runState.status = status;
  }
  return static_cast<int>(status);
}

} // namespace

// A mask or list line names something below its source when it starts from no root or drive
// and steps up nowhere: no component is "..".
bool staysBelowSource(const char *item) {
  if (item[0] == '\\')
    return false; // a root, or a network name
  const char *component = item;
  for (const char *p = item;; p = nextChar(p)) {
    if (*p != '\0' && !isSeparator(*p))
      continue;
    if (isColonSep(*p))
      return false; // a drive
    if (p - component == 2 && component[0] == '.' && component[1] == '.')
      return false;
    if (*p == '\0')
      return true;
    component = p + 1;
  }
}

// The wildcard may stand in the source's last component (when every match is a directory: a
// pattern that matches a file names files, whatever the order of the matches) or in the
// component before the file mask; the destination's `*` takes the name found.
void resolveWildDirs(char *sourcePath, char *destPath) {
  if (!containsChar(sourcePath, '*') && !containsChar(destPath, '*'))
    return;
  PathBuf work;    // working copy of the source, cut to the component looked up
  PathBuf tail;    // what follows that component in the source
  PathBuf pattern; // the component as written, for a resolved name that cannot be used
  std::memcpy(work, sourcePath, PATH_BUF);
  work[PATH_BUF - 1] = '\0';
  tail[0] = '\0';
  char *name = fileNamePart(work);
  char *component;
  if (*name != '\0' && probeSourceKind(work) == 0) {
    // The source names files: the directory part holds the component to resolve.
    char *last;
    std::strcpy(pattern, name);
    *name = '\0';
    last = lastCharPtr(work);
    if (*last == '\\') {
      *last = '\0';
      tail[0] = '\\';
      std::strcpy(tail + 1, pattern);
    } else {
      std::strcpy(tail, pattern);
    }
    component = fileNamePart(work);
  } else if (*name == '\0' && *lastCharPtr(work) == '\\') {
    *lastCharPtr(work) = '\0';
    std::strcpy(tail, "\\");
    component = fileNamePart(work);
  } else {
    component = name;
  }
  std::strcpy(pattern, component);

  if (matchDirName(work, FILE_ATTRIBUTE_DIRECTORY)) {
    size_t workLength = std::strlen(work);
    if (workLength + std::strlen(tail) + 1 <= static_cast<size_t>(PATH_BUF)) {
      std::memcpy(sourcePath, work, workLength);
      std::strcpy(sourcePath + workLength, tail);
    } else {
      // The stored name makes the source too long for its buffer: both paths stay as written.
      std::strcpy(component, pattern);
    }
  }

  char *destName = fileNamePart(destPath);
  if (*destName == '*') {
    // Not fitting leaves the destination as written, which the walk reads as the same-name form.
    pathPut(destPath, destName, component);
  } else {
    matchDirName(destPath, FILE_ATTRIBUTE_DIRECTORY);
  }
}

namespace {

// The whole run, in its fixed order; returns the exit status.
int runInOrder(int argc, char **argv) {
  resetRunState();
  runState.mismatchDetail[0] = '\0';
  CommandLine cl; // the five buffers the parser fills; the driver's for the whole run
  std::memset(&cl, 0, sizeof cl);
  int actedTotal = 0;  // files acted on by all walks
  int linesWalked = 0; // non-empty list-file lines walked
  const char *programPath = (argc > 0 && argv[0] != nullptr) ? argv[0] : "treecopy";

  parseCommandLine(argc, argv, cl);
  if (runState.status != 0)
    return static_cast<int>(runState.status);

  int modes =
      (runState.moveMode ? 1 : 0) + (runState.compareMode ? 1 : 0) + (runState.deleteMode ? 1 : 0);
  if (modes > 1) {
    std::printf("conflict options.\n");
    return EXIT_CONFLICT;
  }
  if (runState.showHelp) {
    printUsage(programPath);
    return 0;
  }
  if (cl.sourcePath[0] == '\0' && cl.listFileName[0] == '\0' && cl.masks[0] == '\0') {
    printUsage(programPath);
    return 0;
  }

  settleMode();
  settleSelectMask();
  // Checked on the text that the walk will take for the destination, before anything is
  // touched (and before the wildcard resolution could give it a name).
  const char *destination = runState.reversePaths ? cl.sourcePath : cl.destPath;
  if (refusedDeleteDestination(destination)) {
    std::printf("%s :wildcard in the destination of a delete\n", destination);
    runState.status |= ST_SYNTAX;
    return static_cast<int>(runState.status);
  }
  resolveWildDirs(cl.sourcePath, cl.destPath);
  if (runState.reversePaths) {
    PathBuf swapBuf; // scratch for exchanging the two paths
    std::memcpy(swapBuf, cl.sourcePath, PATH_BUF);
    std::memcpy(cl.sourcePath, cl.destPath, PATH_BUF);
    std::memcpy(cl.destPath, swapBuf, PATH_BUF);
  }
  if (refuseWildDestination(cl))
    return static_cast<int>(runState.status);

  if (cl.listFileName[0] != '\0') {
    uint32_t ended = runListFile(cl, actedTotal, linesWalked);
    if (ended != 0)
      return static_cast<int>(ended);
  } else if (cl.masks[0] != '\0') {
    if (!masksStayBelowSource(cl.masks))
      return static_cast<int>(runState.status);
    runMaskList(cl, actedTotal);
  } else {
    runSingleSource(cl, actedTotal);
  }
  return printSummary(cl.sourcePath, actedTotal, linesWalked);
}

} // namespace

// The run, then the one check that its listing reached standard output: a listing that could
// not be written is a failure of its own, whatever the run did.
int runTreecopy(int argc, char **argv) {
  int status = runInOrder(argc, argv);
  if (!finishStandardOutput()) {
    runState.status |= ST_OUTPUT_FAILED;
    status |= static_cast<int>(ST_OUTPUT_FAILED);
  }
  return status;
}
