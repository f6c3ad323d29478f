// The command-line parser: options and suboptions into the run state, paths, masks, bracketed
// exclusions and the list-file name into the driver's five buffers; and the usage text.
#include "cli/parser.h"
#include "paths/pathtext.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// States of one option run.
enum OptionState { OPT_IDLE, OPT_LETTER, SUB_LETTER, SUB_TAIL };

// Characters that no path, mask or list-file name may hold: the shell's and the command line's
// own punctuation and every control character (TAB included, the list separator).
bool isForbidden(unsigned char c) {
  return c == '"' || c == ';' || c == '<' || c == '>' || c == '|' || (c >= 0x01 && c <= 0x1F);
}

// Reports a refused piece once per piece: later failures in the same piece stay silent.
bool syntaxAlreadyReported() {
  return (runState.status & ST_SYNTAX) != 0;
}

// The number after /+h or /+t, read as atoi reads it (leading white space, a sign, digits up
// to the first other character, 0 without digits); values beyond 32 bits saturate.
int32_t readNumber(const char *p) {
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
    ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  int64_t value = 0;
  const int64_t cap = static_cast<int64_t>(INT32_MAX) + 2; // past either end of the range
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > cap)
      value = cap;
  }
  if (negative)
    value = -value;
  if (value > INT32_MAX)
    return INT32_MAX;
  if (value < INT32_MIN)
    return INT32_MIN;
  return static_cast<int32_t>(value);
}

// Takes the effect of one option letter at `p` (already known not to be `+`); returns the
// position after it, or nullptr for an unknown option.
const char *applyOption(const char *p) {
  RunState &rs = runState;
  switch (upperAscii(static_cast<unsigned char>(*p))) {
  case 'A':
    rs.archiveOnly = true;
    break;
  case 'B':
    rs.backupMode = true;
    break;
  case 'C':
    rs.compareMode = true;
    break;
  case 'D':
    if (strnicmpAscii(p, "DEL", 3) != 0)
      return nullptr;
    rs.deleteMode = true;
    return p + 3;
  case 'E':
    rs.echoOnly = true;
    break;
  case 'I':
    rs.incremental = true;
    break;
  case 'M':
    rs.moveMode = true;
    break;
  case 'N':
    rs.noOverwrite = true;
    break;
  case 'O':
    rs.overwriteOnly = true;
    break;
  case 'S':
    rs.recurse = true;
    break;
  case 'U':
    rs.updateOnly = true;
    break;
  case 'V':
    rs.verifyCopy = true;
    break;
  case 'X':
    rs.includeHidden = true;
    break;
  case '?':
    rs.showHelp = true;
    break;
  case 'H':
    // An H alone already asks for help; the longest of HELP, HEL, HE that is written is
    // passed over as part of the option.
    rs.showHelp = true;
    if (strnicmpAscii(p, "HELP", 4) == 0)
      return p + 4;
    if (strnicmpAscii(p, "HEL", 3) == 0)
      return p + 3;
    if (strnicmpAscii(p, "HE", 2) == 0)
      return p + 2;
    break;
  default:
    return nullptr;
  }
  return p + 1;
}

// Takes the effect of one suboption letter at `p`; false for an unknown suboption.
bool applySuboption(const char *p) {
  RunState &rs = runState;
  switch (upperAscii(static_cast<unsigned char>(*p))) {
  case 'E':
    rs.selectMask |= SEL_ABSENT;
    break;
  case 'N':
    rs.selectMask |= SEL_NEWER;
    break;
  case 'O':
    rs.selectMask |= SEL_OLDER;
    break;
  case 'L':
    rs.selectMask |= SEL_LARGER;
    break;
  case 'S':
    rs.selectMask |= SEL_SMALLER;
    break;
  case 'A':
    rs.selectMask |= SEL_ATTR_DIFF;
    break;
  case 'M':
    rs.selectMask |= SEL_SAME;
    break;
  case 'C':
    rs.continueOnError = true;
    break;
  case 'V':
    rs.verbose = true;
    break;
  case 'R':
    rs.reversePaths = true;
    break;
  case 'D':
    rs.detailTime = true;
    break;
  case 'H': {
    int32_t n = readNumber(p + 1);
    rs.headerSizeKB = n <= 0 ? 1 : n;
    break;
  }
  case 'T': {
    int32_t n = readNumber(p + 1);
    rs.timeTolerance = n <= 0 ? 0 : static_cast<int64_t>(n) * TICKS_PER_SECOND;
    break;
  }
  default:
    return false;
  }
  return true;
}

// The end of the path text that scanPathArg would copy from `text`, for messages.
const char *pathTextEnd(const char *text, const char *end) {
  const char *p = text;
  while (p != end && *p != '\0' && *p != '/') {
    const char *q = nextChar(p);
    p = (end != nullptr && q > end) ? end : q;
  }
  return p;
}

} // namespace

// Pieces of an argument end at the next option slash; a trail byte is never one.
const char *skipToSlash(const char *text) {
  const char *p = text;
  while (*p != '\0' && *p != '/')
    p = nextChar(p);
  return p;
}

// Copies a path piece character by character, refusing forbidden characters and text that the
// buffer cannot hold (refused whole: a cut path would name something else).
int scanPathArg(char *out, size_t room, const char *text, const char *end) {
  size_t n = 0;
  const char *p = text;
  while (p != end && *p != '\0' && *p != '/') {
    unsigned char c = static_cast<unsigned char>(*p);
    size_t width = 1;
    // A control character is never a trail byte: after a lead byte it stands alone and is
    // refused, so that no copied text holds one (a TAB would split an item of a list).
    if (isLeadByte(c) && p + 1 != end && static_cast<unsigned char>(p[1]) >= 0x20)
      width = 2;
    if (n + width + 1 > room) {
      if (room > 0)
        out[0] = '\0';
      if (!syntaxAlreadyReported()) {
        const char *stop = pathTextEnd(text, end);
        std::printf("%.*s :path too long\n", static_cast<int>(stop - text), text);
      }
      runState.status |= ST_SYNTAX;
      return -1;
    }
    std::memcpy(out + n, p, width);
    n += width;
    p += width;
    if (width == 1 && isForbidden(c)) {
      out[n] = '\0';
      if (!syntaxAlreadyReported())
        std::printf("%s :syntax error\n", out);
      runState.status |= ST_SYNTAX;
      return static_cast<int>(n);
    }
  }
  if (room > 0)
    out[n] = '\0';
  return static_cast<int>(n);
}

// Lists keep all items in one buffer: the item, its TAB and the terminator must all fit.
int appendListItem(char *list, const char *text, const char *end) {
  size_t length = std::strlen(list);
  size_t room = length + 1 < static_cast<size_t>(PATH_BUF) ? PATH_BUF - 1 - length : 0;
  int count = scanPathArg(list + length, room, text, end);
  if (count <= 0)
    return count;
  list[length + count] = '\t';
  list[length + count + 1] = '\0';
  return count + 1;
}

// Collects the masks between `[` and `]`; a group may run on into the following arguments.
bool scanBracketGroup(const char *piece, char *exclusions) {
  bool open = true;
  const char *itemStart = piece;
  const char *p = piece;
  while (*p != '\0') {
    if (isLeadByte(static_cast<unsigned char>(*p))) {
      p = nextChar(p);
      continue;
    }
    if (*p == '[') {
      itemStart = p + 1;
      open = true;
    } else if (*p == ']') {
      if (open)
        appendListItem(exclusions, itemStart, p);
      open = false;
    } else if (*p == '/') {
      if (open)
        appendListItem(exclusions, itemStart, p);
      return open;
    }
    ++p;
  }
  if (open)
    appendListItem(exclusions, itemStart, p);
  return open;
}

// Runs the option state machine over one `/` piece: every option letter needs its own `/`,
// every suboption letter its own `+`; what follows a suboption letter is its argument.
const char *parseOptionArg(const char *piece) {
  OptionState state = OPT_IDLE;
  const char *p = piece;
  while (*p != '\0') {
    if (isLeadByte(static_cast<unsigned char>(*p))) {
      p = nextChar(p);
      continue;
    }
    if (*p == '/') {
      state = OPT_LETTER;
      ++p;
      continue;
    }
    switch (state) {
    case OPT_LETTER:
      if (*p == '+') {
        state = SUB_LETTER;
        ++p;
      } else {
        const char *after = applyOption(p);
        if (after == nullptr) {
          std::printf("/%s :Unknown option\n", p);
          runState.status |= ST_BAD_OPTION;
          return p;
        }
        state = OPT_IDLE;
        p = after;
      }
      break;
    case SUB_LETTER:
      if (*p == ' ') {
        state = OPT_IDLE;
      } else if (*p != '+') {
        if (!applySuboption(p)) {
          std::printf("/+%s :Unknown suboption\n", p);
          runState.status |= ST_BAD_OPTION;
          return p;
        }
        state = SUB_TAIL;
      }
      ++p;
      break;
    case OPT_IDLE:
      if (*p != '+') {
        if (!syntaxAlreadyReported())
          std::printf("%s :syntax error\n", piece);
        runState.status |= ST_SYNTAX;
        return p;
      }
      state = SUB_LETTER;
      ++p;
      break;
    case SUB_TAIL:
      if (*p == ' ')
        state = OPT_IDLE;
      else if (*p == '+')
        state = SUB_LETTER;
      ++p;
      break;
    }
  }
  return p;
}

namespace {

// Parser state that spans the arguments of one parse.
struct ParseState {
  int positionalCount; // positional pieces seen (a leading list file counts as one)
  bool groupOpen;      // a bracketed exclusion group runs on into the next argument
};

// Handles the first piece of an argument when it is not an option run.
void handlePiece(const char *piece, ParseState &ps, CommandLine &out) {
  if (piece[0] == '@' && piece[1] != '@') {
    scanPathArg(out.listFileName, PATH_BUF, piece + 1);
    if (out.listFileName[0] != '\0' && ps.positionalCount == 0)
      ps.positionalCount = 1;
    return;
  }
  if (piece[0] == '[' || piece[0] == ']') {
    ps.groupOpen = scanBracketGroup(piece, out.exclusions);
    return;
  }
  if (piece[0] == '@')
    ++piece; // "@@name" is the positional text "@name"
  if (ps.groupOpen) {
    ps.groupOpen = scanBracketGroup(piece, out.exclusions);
    return;
  }
  int before = ps.positionalCount++;
  // The test sees the rest of the argument, option tail included.
  if (before == 0 && looksLikePath(piece)) {
    scanPathArg(out.sourcePath, PATH_BUF, piece);
    return;
  }
  if (out.destPath[0] != '\0') {
    appendListItem(out.masks, out.destPath);
    if (runState.status != 0)
      return;
  }
  scanPathArg(out.destPath, PATH_BUF, piece);
}

} // namespace

// Cuts every argument into at most one path piece and one option run, stopping at the first
// piece that fails so that its message is the only one.
void parseCommandLine(int argc, char **argv, CommandLine &out) {
#if !defined(_WIN32)
  // Where programs answer --help and --version, either alone shows the usage, as /? does (a
  // file of that name stays reachable as .\--help).
  if (argc == 2 && argv[1] != nullptr &&
      (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0)) {
    runState.showHelp = true;
    return;
  }
#endif
  ParseState ps = {0, false};
  for (int i = 1; i < argc; ++i) {
    const char *piece = argv[i];
    if (piece == nullptr || *piece == '\0')
      continue;
    if (*piece != '/') {
      const char *next = skipToSlash(piece);
      handlePiece(piece, ps, out);
      if (runState.status != 0)
        return;
      piece = next;
    }
    if (*piece == '/') {
      parseOptionArg(piece);
      if (runState.status != 0)
        return;
    }
  }
}

// Shows the program's name without directory or extension, then the fixed help lines.
void printUsage(const char *programPath) {
  const char *name = fileNamePart(programPath);
  const char *end = name;
  while (*end != '\0' && *end != '.')
    end = nextChar(end);
  int n = static_cast<int>(end - name);
  std::printf("%.*s Version 1.02\n", n, name);
  std::printf("usage: %.*s <srcpath> {<mask>|[<mask>]} [<dstpath>] {/<option>}\n", n, name);
  std::printf("       %.*s <srcpath>     @filelist     [<dstpath>] {/<option>}\n", n, name);
  std::printf("option: /a   Archive            /n   No overwrite\n"
              "        /b   Backup             /o   Overwrite only\n"
              "        /c   Compare            /s   Subdirectories\n"
              "        /del Delete             /u   Update new files\n"
              "        /e   Echo               /v   Verify\n"
              "        /i   Incremental copy   /x   Hidden files too\n"
              "        /m   Move\n"
              "suboption:\n"
              "        /+e  Exist              /+a  Attributes unmatch\n"
              "        /+n  New                /+m  Matching all\n"
              "        /+o  Old                /+c  Continues even if errors\n"
              "        /+L  Large              /+v  Verbose message\n"
              "        /+s  Small              /+r  Reverse path\n"
              "                                /+d  Detail Timestamp\n"
              "        /+h<HeaderSize(KB)> (Incremental copy only)\n"
              "        /+t<Allowable timestamp difference(sec)>\n");
}
