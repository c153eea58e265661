// ProfileStore: the settings-store interface over a profile file.
#include <gtest/gtest.h>

#include "inireg/profile_store.h"
#include "test_support.h"

namespace inireg {
namespace {

using testing::Lines;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class ProfileStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetProfileCache(); }
  void TearDown() override { testing::ResetProfileCache(); }
  TempDir dir_;
};

TEST_F(ProfileStoreTest, SectionAndKeyAreSticky) {
  std::string path = dir_.File("s.ini");
  WriteFile(path, "[s]\nk=12\n");
  ProfileStore store(path);
  EXPECT_EQ(store.GetInt("k", "s", 7), 12);
  EXPECT_EQ(store.GetInt("", "", 7), 12);
}

}  // namespace
}  // namespace inireg
