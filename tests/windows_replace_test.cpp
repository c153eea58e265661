// Windows: a write-back through ReplaceFileA creates a missing file (by a
// plain move, there being nothing to replace), never replaces a read-only
// one, and leaves no temporary file either way.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "inireg/profile_store.h"
#include "test_support.h"

namespace inireg {
namespace {

using test_support::Lines;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::WriteFile;

class WindowsReplaceTest : public ::testing::Test {
 protected:
  void SetUp() override { test_support::ResetProfileCache(); }
  void TearDown() override { test_support::ResetProfileCache(); }

  static int Write(const std::string& path, const std::string& value) {
    ProfileStore store(path);
    return store.SetString(value, "k", "s");
  }

  TempDir dir_;
};

TEST_F(WindowsReplaceTest, AMissingFileIsCreatedAndAReadOnlyOneLeftAlone) {
  const std::string fresh = dir_.File("fresh.ini");
  ASSERT_EQ(Write(fresh, "first"), 1);
  test_support::ResetProfileCache();
  EXPECT_EQ(ReadFile(fresh), Lines({"[s]", "k=first", ""}));

  const std::string locked = dir_.File("locked.ini");
  WriteFile(locked, "[s]\r\nk=old\r\n");
  ASSERT_TRUE(SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(Write(locked, "new"), 1);  // Accepted in the cache, refused on disk.
  test_support::ResetProfileCache();
  EXPECT_EQ(ReadFile(locked), "[s]\r\nk=old\r\n");
  EXPECT_NE(GetFileAttributesA(locked.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);  // So that the folder can go.

  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir_.path() + "\\.inireg-*.tmp").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a temporary file was left: " << found.cFileName;
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

}  // namespace
}  // namespace inireg
