// Fuzz target: the command-line parser, and the run driver as far as it goes without the file
// system. The input's first byte chooses the two-byte table and the colon rule; the rest, cut at
// NUL bytes, is the argument vector, the program path first.
//
// The driver runs only on vectors that the parse already shows to end before any file is
// looked at: a refused parse, conflicting modes, the usage text. A run that walks would read,
// copy, move or delete whatever the arguments name, and no filter on the text can be shown to
// keep every such name inside a scratch directory (wildcards resolve to `..`, masks complete a
// source, /+r swaps the two paths), so those runs are left to the end-to-end tests.
#include <vector>

#include "cli/cli.h"
#include "cli/parser.h"
#include "fuzz_support.h"

namespace {

// Whether `text` is a run of whole characters of one of the arguments: the parser only ever
// copies pieces of arguments, cut where a character begins.
bool isPieceOfAnArgument(const char *text, size_t length, const std::vector<char *> &args) {
  if (length == 0)
    return true;
  for (const char *arg : args) {
    size_t argLength = std::strlen(arg);
    for (size_t at = 0; at + length <= argLength; ++at)
      if (std::memcmp(arg + at, text, length) == 0 && fuzz::isCharBoundary(arg, at) &&
          fuzz::isCharBoundary(arg, at + length))
        return true;
  }
  return false;
}

// One path buffer: terminated, a piece of an argument, and (after a parse that succeeded)
// without an option slash or a refused character.
void checkPath(const char *buffer, bool accepted, const std::vector<char *> &args) {
  FUZZ_CHECK(fuzz::terminated(buffer));
  size_t length = std::strlen(buffer);
  FUZZ_CHECK(isPieceOfAnArgument(buffer, length, args));
  if (!accepted)
    return;
  FUZZ_CHECK(fuzz::isCleanText(buffer, length));
}

// One TAB list: items that are never empty, each followed by exactly one TAB, each a path piece.
// After a refused parse the last item may hold the refused character, a TAB among them; the run
// ends there and no list is read.
void checkList(const char *list, bool accepted, const std::vector<char *> &args) {
  FUZZ_CHECK(fuzz::terminated(list));
  size_t length = std::strlen(list);
  FUZZ_CHECK(length == 0 || list[length - 1] == '\t');
  if (!accepted)
    return;
  const char *item = list;
  while (*item != '\0') {
    const char *tab = std::strchr(item, '\t');
    FUZZ_CHECK(tab != nullptr);
    FUZZ_CHECK(tab != item);
    PathBuf copy; // the item alone
    size_t itemLength = static_cast<size_t>(tab - item);
    std::memcpy(copy, item, itemLength);
    copy[itemLength] = '\0';
    checkPath(copy, accepted, args);
    item = tab + 1;
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::silenceStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  fuzz::chooseTextRules(data[0]);

  // Every argument in a heap block of its exact size, so that a read past its end is caught.
  std::vector<char *> args;
  size_t start = 1;
  for (size_t i = 1; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      char *arg = static_cast<char *>(std::malloc(i - start + 1));
      std::memcpy(arg, data + start, i - start);
      arg[i - start] = '\0';
      args.push_back(arg);
      start = i + 1;
    }
  }
  std::vector<char *> argv(args);
  argv.push_back(nullptr);
  int argc = static_cast<int>(args.size());

  resetRunState();
  CommandLine *cl = static_cast<CommandLine *>(std::calloc(1, sizeof(CommandLine)));
  parseCommandLine(argc, argv.data(), *cl);

  const RunState &rs = runState;
  uint32_t status = rs.status;
  FUZZ_CHECK((status & ~0x90u) == 0); // only the syntax and the option values
  bool accepted = status == 0;
  checkPath(cl->sourcePath, accepted, args);
  checkPath(cl->destPath, accepted, args);
  checkPath(cl->listFileName, accepted, args);
  checkList(cl->masks, accepted, args);
  checkList(cl->exclusions, accepted, args);
  FUZZ_CHECK(rs.headerSizeKB >= 0);
  FUZZ_CHECK(rs.timeTolerance >= 0 && rs.timeTolerance % TICKS_PER_SECOND == 0);
  FUZZ_CHECK((rs.selectMask & ~SEL_DEFAULT) == 0);
  FUZZ_CHECK(rs.errorCount == 0 && rs.fileCount == 0 && rs.dirCount == 0 && rs.depth == 0);

  // The runs that end before the file system: the driver must end them the same way.
  int modes = (rs.moveMode ? 1 : 0) + (rs.compareMode ? 1 : 0) + (rs.deleteMode ? 1 : 0);
  bool nothingNamed =
      cl->sourcePath[0] == '\0' && cl->listFileName[0] == '\0' && cl->masks[0] == '\0';
  int expected = -1;
  if (status != 0)
    expected = static_cast<int>(status);
  else if (modes > 1)
    expected = EXIT_CONFLICT;
  else if (rs.showHelp || nothingNamed)
    expected = 0;
  if (expected >= 0) {
    int code = runTreecopy(argc, argv.data());
    FUZZ_CHECK(code == expected);
    FUZZ_CHECK(runState.fileCount == 0 && runState.dirCount == 0);
  }

  std::free(cl);
  for (char *arg : args)
    std::free(arg);
  return 0;
}
