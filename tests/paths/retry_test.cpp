// The access-denied retry rule and the clearing of protection bits.
#include <string>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "paths/retry.h"
#include "paths/winapi.h"
#include "support/testutil.h"

namespace {

class RetryTest : public testing::Test {
protected:
  void SetUp() override { tu::resetAll(); }
  void TearDown() override { tu::resetAll(); }
};

TEST_F(RetryTest, SecondAttemptOnlyForAccessDeniedUnderX) {
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(retryAfterDenied()); // no /x
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  runState.includeHidden = true;
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_TRUE(retryAfterDenied());
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED); // still there for the report

  SetLastError(ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(retryAfterDenied());
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

TEST_F(RetryTest, ClearingAMissingPathFailsWithTheLookupError) {
  tu::TempDir dir;
  std::string missing = dir.text("missing.txt");
  SetLastError(0);
  EXPECT_FALSE(clearProtection(missing.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(RetryTest, ClearingKeepsEveryBitButTheProtection) {
  tu::TempDir dir;
  tu::writeFile(dir.path() / "ro.txt", "data");
  std::string path = dir.text("ro.txt");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE |
                                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  DWORD before = GetFileAttributesA(path.c_str());
  ASSERT_NE(before, INVALID_FILE_ATTRIBUTES);
  ASSERT_NE(before & FILE_ATTRIBUTE_READONLY, 0u);

  EXPECT_TRUE(clearProtection(path.c_str()));
  DWORD after = GetFileAttributesA(path.c_str());
  EXPECT_EQ(after & 0x07u, 0u);
  EXPECT_NE(after & FILE_ATTRIBUTE_ARCHIVE, 0u);
  // Now writable: a second attempt would succeed.
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST_F(RetryTest, ClearingADirectoryLeavesItADirectory) {
  tu::TempDir dir;
  tu::fs::create_directory(dir.path() / "sub");
  std::string path = dir.text("sub");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(clearProtection(path.c_str()));
  DWORD after = GetFileAttributesA(path.c_str());
  EXPECT_EQ(after & 0x07u, 0u);
  EXPECT_NE(after & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_TRUE(RemoveDirectoryA(path.c_str()));
}

} // namespace
