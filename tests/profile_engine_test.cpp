// The profile engine: its cache, reads, writes and the writes it refuses.
#include <gtest/gtest.h>

#include "inireg/profile_engine.h"
#include "profile/profile_cache.h"
#include "test_support.h"

namespace inireg {
namespace {

using testing::Lines;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class ProfileEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetProfileCache(); }
  void TearDown() override { testing::ResetProfileCache(); }
  TempDir dir_;
};

TEST_F(ProfileEngineTest, WritesReachTheFileWhenItIsClosed) {
  std::string path = dir_.File("a.ini");
  EXPECT_EQ(ProfileWriteString("s", "k", "v", path.c_str()), 1);
  EXPECT_FALSE(testing::FileExists(path));
  ProfileClose(path.c_str());
  EXPECT_EQ(ReadFile(path), Lines({"[s]", "k=v", ""}));
}

}  // namespace
}  // namespace inireg
