// Read and write faults met by every action that moves data: copy (over a file and to a new
// one), verify, compare, incremental copy and move (over a file and across file systems), each
// with an I/O error (1117) and a short read (38) at the start, in the middle and at the end of
// the file. Every case checks the error on the line, the status value, that a failed copy (or
// one whose verification failed) leaves its destination as it was (contents and time), and
// that no partial file is left.
#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "actions/actions.h"
#include "seams/seams.h"
#include "state/state.h"
#include "support/testutil.h"
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>

#endif

namespace {

namespace fs = std::filesystem;

enum Action { COPY_OVER, COPY_NEW, VERIFY, COMPARE, INCREMENTAL, MOVE_OVER, MOVE_ACROSS };
enum Fault { IO_ERROR, SHORT_READ };
enum Where { AT_START, IN_MIDDLE, AT_END };

struct FaultCase {
  Action action;
  Fault fault;
  Where where;
};

const char *actionName(Action action) {
  switch (action) {
  case COPY_OVER:
    return "CopyOverAFile";
  case COPY_NEW:
    return "NewCopy";
  case VERIFY:
    return "Verify";
  case COMPARE:
    return "Compare";
  case INCREMENTAL:
    return "IncrementalCopy";
  case MOVE_OVER:
    return "MoveOverAFile";
  case MOVE_ACROSS:
    return "MoveAcrossFileSystems";
  }
  return "?";
}

std::string caseName(const testing::TestParamInfo<FaultCase> &info) {
  const FaultCase &c = info.param;
  static const char *const faults[] = {"IoError", "ShortRead"};
  static const char *const places[] = {"AtTheStart", "InTheMiddle", "AtTheEnd"};
  return std::string(actionName(c.action)) + "_" + faults[c.fault] + "_" + places[c.where];
}

// Sizes: several chunks of every buffer involved, and no multiple of any of them.
constexpr size_t SOURCE_SIZE = 300007;
constexpr size_t GROWN_FROM = 100003; // the older destination of the incremental copy

class FaultTest : public testing::TestWithParam<FaultCase> {
protected:
  void SetUp() override {
    tu::resetAll();
    runState.selectMask = SEL_DEFAULT;
  }
  void TearDown() override {
    setReadFaultForTest(-1, 0, 0);
#if !defined(_WIN32)
    setCopyFaultForTest(-1, 0);
#endif
    std::error_code ignored;
    if (!otherFs.empty())
      fs::remove_all(otherFs, ignored);
    tu::resetAll();
  }

  // The names in the test directory.
  std::set<std::string> names() const {
    std::set<std::string> found;
    for (const fs::directory_entry &entry : fs::directory_iterator(dir.path()))
      found.insert(entry.path().filename().string());
    return found;
  }

  tu::TempDir dir;
  fs::path otherFs; // a directory on another file system, for the move across
};

// The byte offset at which the fault is placed: in the source file for every action; for the
// incremental copy within what it reads of the source, from its tail check on.
int64_t faultOffset(const FaultCase &c) {
  int64_t first = c.action == INCREMENTAL ? static_cast<int64_t>(GROWN_FROM) - 4096 : 0;
  int64_t last = static_cast<int64_t>(SOURCE_SIZE) - 1;
  switch (c.where) {
  case AT_START:
    return first;
  case IN_MIDDLE:
    return (first + last) / 2;
  case AT_END:
    break;
  }
  return last;
}

uint32_t statusValueOf(Action action) {
  switch (action) {
  case VERIFY:
    return ST_VERIFY_FAILED;
  case COMPARE:
    return ST_COMPARE_FAILED;
  case MOVE_OVER:
  case MOVE_ACROSS:
    return ST_MOVE_FAILED;
  default:
    return ST_COPY_FAILED;
  }
}

TEST_P(FaultTest, FailsWithItsErrorAndLeavesTheDestinationAsItWas) {
  const FaultCase c = GetParam();
  const DWORD error = c.fault == IO_ERROR ? 1117u : 38u;
  const std::string data = tu::patternBytes(SOURCE_SIZE, 5);
  const std::string old = c.action == INCREMENTAL ? data.substr(0, GROWN_FROM)
                          : c.action == COMPARE   ? data
                                                  : std::string("the old destination\n");
  const int64_t oldTicks = 130000000000000000LL;

  fs::path sourceFile = dir.path() / "src.bin";
  if (c.action == MOVE_ACROSS) {
#if !defined(_WIN32)
    struct stat here, shm;
    if (stat("/dev/shm", &shm) != 0 || stat(dir.path().c_str(), &here) != 0 ||
        here.st_dev == shm.st_dev)
      GTEST_SKIP() << "no second file system at /dev/shm";
    otherFs = fs::path("/dev/shm") / ("tc-faults-" + std::to_string(getpid()));
    fs::create_directories(otherFs);
    sourceFile = otherFs / "src.bin";
#endif
  }
  tu::writeFile(sourceFile, data);
  fs::path destFile = dir.path() / "dst.bin";
  const bool destExists = c.action != COPY_NEW && c.action != MOVE_ACROSS;
  if (destExists) {
    tu::writeFile(destFile, old);
    tu::setWriteTicks(destFile, oldTicks);
  }
  const std::string src = tu::programPath(sourceFile);
  const std::string dst = dir.text("dst.bin");
  FindEntry sourceEntry = tu::findEntry(sourceFile);
  FindEntry destEntry{};
  if (destExists)
    destEntry = tu::findEntry(destFile);
  const std::set<std::string> before = names();

  const int64_t at = faultOffset(c);
  if (c.action == VERIFY || c.action == COMPARE || c.action == INCREMENTAL) {
    setReadFaultForTest(0, at, c.fault == IO_ERROR ? 1117u : 0u);
  } else {
#if !defined(_WIN32)
    setCopyFaultForTest(at, c.fault == IO_ERROR ? EIO : 0);
#endif
  }
  runState.verifyCopy = c.action == VERIFY;
  runState.incremental = c.action == INCREMENTAL;
  runState.mode = c.action == COMPARE                                  ? MODE_COMPARE
                  : (c.action == MOVE_OVER || c.action == MOVE_ACROSS) ? MODE_MOVE
                                                                       : MODE_COPY;
  const FindEntry *se = destExists ? &sourceEntry : nullptr;
  const FindEntry *de = destExists ? &destEntry : nullptr;

  tu::StdoutCapture out;
  int result = 0;
  switch (c.action) {
  case COMPARE:
    result = compareOne(src.c_str(), dst.c_str(), 0x20, sourceEntry, destEntry);
    break;
  case MOVE_OVER:
  case MOVE_ACROSS:
    result = moveOne(src.c_str(), dst.c_str(), 0x20, se, de);
    break;
  default:
    result = copyOne(src.c_str(), dst.c_str(), 0x20, se, de);
    break;
  }
  std::string printed = out.finish();

  EXPECT_EQ(result, 0);
  EXPECT_EQ(runState.status, statusValueOf(c.action));
  EXPECT_EQ(runState.errorCount, 1);
  const std::string suffix = "\t:error(" + std::to_string(error) + ") ";
  EXPECT_NE(printed.find(suffix), std::string::npos) << printed;
#if !defined(_WIN32)
  const std::string text =
      error == 1117u ? "The request could not be performed because of an I/O device error."
                     : "Reached the end of the file.";
  EXPECT_EQ(printed, src + suffix + text + "  \n");
#endif
  // The source is never touched.
  EXPECT_EQ(tu::readFile(sourceFile), data);
  if (destExists) {
    // A copy whose check could not be made is not published either.
    EXPECT_EQ(tu::readFile(destFile), old);
    EXPECT_EQ(tu::writeTicks(destFile), oldTicks);
  } else {
    EXPECT_FALSE(fs::exists(destFile));
  }
  EXPECT_EQ(names(), before); // no partial file under any name
}

std::vector<FaultCase> allCases() {
  std::vector<FaultCase> cases;
#if defined(_WIN32)
  // The data copies of CopyFileA and MoveFileA are the system's own on Windows.
  const Action actions[] = {VERIFY, COMPARE, INCREMENTAL};
#else
  const Action actions[] = {COPY_OVER,   COPY_NEW,  VERIFY,     COMPARE,
                            INCREMENTAL, MOVE_OVER, MOVE_ACROSS};
#endif
  for (Action action : actions)
    for (Fault fault : {IO_ERROR, SHORT_READ})
      for (Where where : {AT_START, IN_MIDDLE, AT_END})
        cases.push_back({action, fault, where});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryDataPath, FaultTest, testing::ValuesIn(allCases()), caseName);

} // namespace
