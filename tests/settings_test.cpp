// Settings over both storages: the same calls give the same answers for a
// profile file and for a registry location, and the typed reads tell a
// missing setting from one that does not parse.
#include "inireg/settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "inireg/win32_registry.h"
#include "test_support.h"

#ifdef _WIN32
#include <windows.h>
#define TEST_PROCESS_ID GetCurrentProcessId()
#else
#include <unistd.h>
#define TEST_PROCESS_ID getpid()
#endif

namespace inireg {
namespace {

using test_support::ReadFile;
using test_support::TempDir;
using test_support::WriteFile;

enum class Kind { kProfile, kRegistry };

class SettingsTest : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    test_support::ResetProfileCache();
#ifndef _WIN32
    SetRegistryDatabasePath(folder_.File("registry.db"));
#endif
    settings_ = std::make_unique<Settings>(Open());
  }
  void TearDown() override {
    settings_.reset();
    if (GetParam() == Kind::kRegistry) {
      RegDeleteTreeA(HKEY_CURRENT_USER, subkey_.c_str());
    }
    test_support::ResetProfileCache();
#ifndef _WIN32
    SetRegistryDatabasePath("");
#endif
  }

  Settings Open(bool readOnly = false) {
    if (GetParam() == Kind::kProfile) return Settings::ProfileFile(folder_.File("settings.ini"));
    return Settings::Registry(location_, readOnly);
  }

  TempDir folder_;
  std::string subkey_ = "Software\\inireg-settings-test-" + std::to_string(TEST_PROCESS_ID);
  std::string location_ = "CU\\" + subkey_;
  std::unique_ptr<Settings> settings_;
};

TEST_P(SettingsTest, SetGetContainsAndRemove) {
  Settings& s = *settings_;
  EXPECT_FALSE(s.Get("Window", "Title").has_value());
  EXPECT_FALSE(s.Contains("Window", "Title"));
  ASSERT_TRUE(s.Set("Window", "Title", "Main window").ok());
  ASSERT_TRUE(s.Set("Window", "Empty", "").ok());
  EXPECT_EQ(s.Get("Window", "Title").value_or("?"), "Main window");
  // An empty value is a value, not a missing one.
  EXPECT_TRUE(s.Contains("Window", "Empty"));
  EXPECT_EQ(s.Get("Window", "Empty").value_or("?"), "");

  // Blanks and quotes that a profile line would lose survive.
  ASSERT_TRUE(s.Set("Window", "Padded", "  two  ").ok());
  ASSERT_TRUE(s.Set("Window", "Quoted", "\"q\"").ok());
  EXPECT_EQ(s.Get("Window", "Padded").value_or("?"), "  two  ");
  EXPECT_EQ(s.Get("Window", "Quoted").value_or("?"), "\"q\"");

  ASSERT_TRUE(s.Remove("Window", "Title").ok());
  EXPECT_FALSE(s.Contains("Window", "Title"));
  EXPECT_TRUE(s.Contains("Window", "Empty"));
  EXPECT_TRUE(s.Remove("Window", "Title").ok()) << "removing a missing setting succeeds";
  EXPECT_TRUE(s.Remove("Nowhere", "Title").ok());
}

TEST_P(SettingsTest, EmptyNamesAreNeverTheCurrentOnes) {
  Settings& s = *settings_;
  ASSERT_TRUE(s.Set("A", "k", "1").ok());
  EXPECT_FALSE(s.Set("", "k", "2").ok());
  EXPECT_FALSE(s.Set("A", "", "2").ok());
  EXPECT_FALSE(s.Get("", "k").has_value());
  EXPECT_FALSE(s.Get("A", "").has_value());
  EXPECT_FALSE(s.Remove("A", "").ok());
  EXPECT_FALSE(s.RemoveSection("").ok());
  EXPECT_TRUE(s.Keys("").empty());
  EXPECT_EQ(s.Get("A", "k").value_or("?"), "1");
}

TEST_P(SettingsTest, ListsSectionsAndKeysAndRemovesSections) {
  Settings& s = *settings_;
  ASSERT_TRUE(s.Set("One", "a", "1").ok());
  ASSERT_TRUE(s.Set("One", "b", "2").ok());
  ASSERT_TRUE(s.Set("Two", "c", "3").ok());
  EXPECT_EQ(s.Sections(), (std::vector<std::string>{"One", "Two"}));
  EXPECT_EQ(s.Keys("One"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(s.Keys("Three").empty());
  ASSERT_TRUE(s.RemoveSection("One").ok());
  EXPECT_EQ(s.Sections(), (std::vector<std::string>{"Two"}));
  EXPECT_FALSE(s.Contains("One", "a"));
  EXPECT_TRUE(s.RemoveSection("One").ok());
}

TEST_P(SettingsTest, TypedValuesRoundTrip) {
  Settings& s = *settings_;
  ASSERT_TRUE(s.SetBool("T", "flag", true).ok());
  ASSERT_TRUE(s.SetInt64("T", "big", INT64_MIN).ok());
  ASSERT_TRUE(s.SetInt64("T", "max", INT64_MAX).ok());
  ASSERT_TRUE(s.SetDouble("T", "ratio", 0.1).ok());
  EXPECT_EQ(s.GetBool("T", "flag").value_or(false), true);
  EXPECT_EQ(s.GetInt64("T", "big").value_or(0), INT64_MIN);
  EXPECT_EQ(s.GetInt64("T", "max").value_or(0), INT64_MAX);
  EXPECT_EQ(s.GetDouble("T", "ratio").value_or(0), 0.1);  // exactly: 17 digits
  EXPECT_FALSE(s.SetDouble("T", "nan", std::numeric_limits<double>::quiet_NaN()).ok());
}

TEST_P(SettingsTest, TypedReadsTellMissingFromInvalid) {
  Settings& s = *settings_;
  struct Case {
    const char* text;
    Parsed<bool>::State asBool;
    Parsed<int64_t>::State asInt;
    Parsed<double>::State asDouble;
  };
  using B = Parsed<bool>::State;
  using I = Parsed<int64_t>::State;
  using D = Parsed<double>::State;
  const Case cases[] = {
      {"true", B::kPresent, I::kInvalid, D::kInvalid},
      {"0", B::kPresent, I::kPresent, D::kPresent},
      {"0x1F", B::kInvalid, I::kPresent, D::kPresent},  // strtod reads hex too
      {"9223372036854775808", B::kInvalid, I::kInvalid, D::kPresent},
      {"12abc", B::kInvalid, I::kInvalid, D::kInvalid},
      {"1e3", B::kInvalid, I::kInvalid, D::kPresent},
      {"inf", B::kInvalid, I::kInvalid, D::kInvalid},
      {"- 5", B::kInvalid, I::kInvalid, D::kInvalid},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(s.Set("P", "v", c.text).ok()) << c.text;
    EXPECT_EQ(s.GetBool("P", "v").state, c.asBool) << c.text;
    EXPECT_EQ(s.GetInt64("P", "v").state, c.asInt) << c.text;
    EXPECT_EQ(s.GetDouble("P", "v").state, c.asDouble) << c.text;
    if (c.asInt == I::kInvalid) {
      EXPECT_EQ(s.GetInt64("P", "v").text, c.text);
    }
  }
  EXPECT_EQ(s.GetInt64("P", "missing").state, I::kMissing);
  EXPECT_EQ(s.GetInt64("P", "missing").value_or(7), 7);
  ASSERT_TRUE(s.Set("P", "v", "0x1F").ok());
  EXPECT_EQ(s.GetInt64("P", "v").value, 31);
  ASSERT_TRUE(s.Set("P", "v", " Off ").ok());
  EXPECT_EQ(s.GetBool("P", "v").state, B::kPresent);
  EXPECT_FALSE(s.GetBool("P", "v").value);
}

TEST_P(SettingsTest, SyncSucceedsAndAnotherObjectSeesTheChange) {
  ASSERT_TRUE(settings_->Set("S", "k", "v").ok());
  Status synced = settings_->Sync();
  ASSERT_TRUE(synced.ok()) << synced.message();
  Settings other = Open();
  EXPECT_EQ(other.Get("S", "k").value_or("?"), "v");
}

INSTANTIATE_TEST_SUITE_P(BothStores, SettingsTest,
                         ::testing::Values(Kind::kProfile, Kind::kRegistry),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return info.param == Kind::kProfile ? "Profile" : "Registry";
                         });

TEST(SettingsProfileTest, SyncPutsTheChangeOnDiskAndKeepLayoutKeepsComments) {
  test_support::ResetProfileCache();
  TempDir folder;
  std::string path = folder.File("app.ini");
  WriteFile(path, "; written by hand\n[Window]\nWidth = 640\n");
  Settings s = Settings::ProfileFile(path);
  s.SetKeepLayout(true);
  ASSERT_TRUE(s.SetInt64("Window", "Width", 800).ok());
  ASSERT_TRUE(s.Sync().ok());
  EXPECT_EQ(ReadFile(path), "; written by hand\n[Window]\nWidth = 800\n");
  test_support::ResetProfileCache();
}

TEST(SettingsProfileTest, SyncReportsAWriteBackThatFailed) {
  test_support::ResetProfileCache();
  TempDir folder;
  std::string path = folder.File("app.ini");
  test_support::FaultyFileSystem faulty;
  faulty.failTemporary = true;
  faulty.failOpenForWriting = true;
  test_support::ScopedFileSystem installed(&faulty);
  Settings s = Settings::ProfileFile(path);
  ASSERT_TRUE(s.Set("S", "k", "v").ok());
  Status synced = s.Sync();
  EXPECT_FALSE(synced.ok());
  EXPECT_FALSE(synced.message().empty());
  faulty.failTemporary = false;
  faulty.failOpenForWriting = false;
  EXPECT_TRUE(s.Sync().ok()) << "the change was kept and written by the next sync";
  EXPECT_EQ(Settings::ProfileFile(path).Get("S", "k").value_or("?"), "v");
  test_support::ResetProfileCache();
}

TEST(SettingsRegistryTest, ReadOnlyRefusesWritesAndNonTextValuesExistWithoutText) {
#ifndef _WIN32
  TempDir folder;
  SetRegistryDatabasePath(folder.File("registry.db"));
#endif
  std::string subkey = "Software\\inireg-settings-ro-" + std::to_string(TEST_PROCESS_ID);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (subkey + "\\S").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const BYTE bytes[] = {1, 2, 3};
  ASSERT_EQ(RegSetValueExA(key, "blob", 0, REG_BINARY, bytes, 3), ERROR_SUCCESS);
  uint32_t dword = 4000000000u;
  ASSERT_EQ(RegSetValueExA(key, "n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), 4),
            ERROR_SUCCESS);
  RegCloseKey(key);

  Settings s = Settings::Registry("CU\\" + subkey, /*readOnly=*/true);
  EXPECT_TRUE(s.Contains("S", "blob"));
  EXPECT_FALSE(s.Get("S", "blob").has_value());
  EXPECT_EQ(s.GetInt64("S", "n").value_or(0), 4000000000);
  EXPECT_FALSE(s.Set("S", "k", "v").ok());
  EXPECT_FALSE(s.Remove("S", "n").ok());
  EXPECT_TRUE(s.Contains("S", "n"));
  EXPECT_FALSE(Settings::Registry("XX\\nowhere").Set("S", "k", "v").ok());

  RegDeleteTreeA(HKEY_CURRENT_USER, subkey.c_str());
#ifndef _WIN32
  SetRegistryDatabasePath("");
#endif
}

}  // namespace
}  // namespace inireg
