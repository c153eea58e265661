// Permissions on Linux: write-backs keep a profile file's mode and write
// through symbolic links; the registry's files stay private whatever the
// umask; read-only stores and KEY_READ handles never change the registry.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "inireg/profile_store.h"
#include "inireg/registry_store.h"
#include "inireg/win32_registry.h"
#include "test_support.h"

namespace inireg {
namespace {

using test_support::Lines;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::WriteFile;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::string LinkTarget(const std::string& link) {
  char target[4096];
  ssize_t length = readlink(link.c_str(), target, sizeof target);
  return length < 0 ? "<not a link>" : std::string(target, static_cast<size_t>(length));
}

size_t EntriesIn(const std::string& folder) {
  size_t count = 0;
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    (void)item;
    ++count;
  }
  return count;
}

// Sets the umask for the scope's lifetime.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(umask(mask)) {}
  ~ScopedUmask() { umask(saved_); }

 private:
  mode_t saved_;
};

class ProfilePermissionsTest : public ::testing::Test {
 protected:
  void SetUp() override { test_support::ResetProfileCache(); }
  void TearDown() override { test_support::ResetProfileCache(); }

  // Changes the file through a store and lets the store write it back.
  static void WriteThroughStore(const std::string& path, const std::string& value) {
    ProfileStore store(path);
    ASSERT_EQ(store.SetString(value, "k", "s"), 1);
  }

  TempDir dir_;
};

TEST_F(ProfilePermissionsTest, AWriteBackKeepsTheFileModeWhateverTheUmask) {
  const std::string path = dir_.File("private.ini");
  for (mode_t mode : {0600, 0640, 0604, 0660}) {
    for (mode_t mask : {0000, 0022, 0077}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + ", umask " + std::to_string(mask));
      WriteFile(path, "[s]\nk=old\n");
      ASSERT_EQ(chmod(path.c_str(), mode), 0);
      ScopedUmask umask(mask);
      WriteThroughStore(path, "new");
      EXPECT_EQ(ReadFile(path), Lines({"[s]", "k=new", ""}));
      EXPECT_EQ(ModeOf(path), mode);
    }
  }
}

TEST_F(ProfilePermissionsTest, AWriteBackGoesThroughLinksToTheirTarget) {
  // A chain of links, relative and absolute, whose target is in another
  // folder: the links stay as they were, the target gets the contents and
  // keeps its mode, and no temporary file is left in either folder.
  TempDir other;
  const std::string target = other.File("target.ini");
  WriteFile(target, "[s]\nk=old\n");
  ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  const std::string first = dir_.File("first.ini");    // -> target (absolute)
  const std::string second = dir_.File("second.ini");  // -> first.ini (relative)
  ASSERT_EQ(symlink(target.c_str(), first.c_str()), 0);
  ASSERT_EQ(symlink("first.ini", second.c_str()), 0);

  WriteThroughStore(second, "through two links");
  EXPECT_EQ(LinkTarget(second), "first.ini");
  EXPECT_EQ(LinkTarget(first), target);
  EXPECT_EQ(ReadFile(target), Lines({"[s]", "k=through two links", ""}));
  EXPECT_EQ(ModeOf(target), 0600u);

  WriteThroughStore(first, "through one link");
  EXPECT_EQ(LinkTarget(first), target);
  EXPECT_EQ(ReadFile(target), Lines({"[s]", "k=through one link", ""}));
  EXPECT_EQ(ModeOf(target), 0600u);
  EXPECT_EQ(EntriesIn(dir_.path()), 2u);
  EXPECT_EQ(EntriesIn(other.path()), 1u);
}

// --- The registry ------------------------------------------------------------

class RegistryPermissionsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRegistryDatabasePath(database_); }
  void TearDown() override { SetRegistryDatabasePath(""); }
  TempDir folder_;
  std::string database_ = folder_.File("registry.db");
};

TEST_F(RegistryPermissionsTest, TheDatabaseAndItsLogsStayPrivateUnderAnOpenUmask) {
  ScopedUmask open(0);
  const std::string database = folder_.File("open/umask/registry.db");
  SetRegistryDatabasePath(database);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Private", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 1),
            ERROR_SUCCESS);
  EXPECT_EQ(ModeOf(folder_.File("open")), 0700u);
  EXPECT_EQ(ModeOf(folder_.File("open/umask")), 0700u);
  EXPECT_EQ(ModeOf(database), 0600u);
  // The journal files beside it (the write-ahead log and its index) hold the
  // same data while the database is open.
  size_t files = 0;
  for (const auto& item : std::filesystem::directory_iterator(folder_.File("open/umask"))) {
    ++files;
    EXPECT_EQ(ModeOf(item.path().string()), 0600u) << item.path();
  }
  std::printf("files beside the database: %zu\n", files - 1);
  RegCloseKey(key);
}

// Every key and value below `key`, with types and data, as one text.
std::string Dump(HKEY key, const std::string& indent = "") {
  std::string text;
  for (DWORD index = 0;; ++index) {
    char name[1024];
    DWORD nameSize = sizeof name, type = 0, dataSize = 0;
    std::string data(4096, '\0');
    dataSize = static_cast<DWORD>(data.size());
    LONG status = RegEnumValueA(key, index, name, &nameSize, nullptr, &type,
                                reinterpret_cast<BYTE*>(&data[0]), &dataSize);
    if (status != ERROR_SUCCESS) {
      if (status != ERROR_NO_MORE_ITEMS)
        text += indent + "<values: status " + std::to_string(status) + ">\n";
      break;
    }
    text += indent + std::string(name, nameSize) + " (" + std::to_string(type) +
            ") = " + data.substr(0, dataSize) + "\n";
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    LONG status = RegEnumKeyA(key, index, name, sizeof name);
    if (status != ERROR_SUCCESS) {
      if (status != ERROR_NO_MORE_ITEMS)
        text += indent + "<keys: status " + std::to_string(status) + ">\n";
      break;
    }
    text += indent + "[" + name + "]\n";
    HKEY child = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
      text += Dump(child, indent + "  ");
      RegCloseKey(child);
    }
  }
  return text;
}

TEST_F(RegistryPermissionsTest, ReadOnlyStoresAndReadHandlesNeverChangeTheRegistry) {
  const std::string location = "CU\\Software\\Permissions";
  {
    RegistryStore writer(location, 0, 0);
    ASSERT_GT(writer.SetString("text", "name", "first"), 0);
    ASSERT_GT(writer.SetDword(7, "number", "first"), 0);
    ASSERT_GT(writer.SetString("deeper", "name", "first\\nested"), 0);
    ASSERT_GT(writer.SetString("", "(Default)", "second"), 0);
  }
  HKEY tree = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Permissions", 0, KEY_READ, &tree),
            ERROR_SUCCESS);
  const std::string before = Dump(tree);
  ASSERT_NE(before.find("deeper"), std::string::npos) << before;

  int refused = 0, attempts = 0;
  auto refuse = [&](bool wasRefused) {
    ++attempts;
    refused += wasRefused;
  };
  const std::vector<std::string> sections = {
      "first", "FIRST", "first\\nested", "second", "new", "new\\deeper", "", "\\first"};
  const std::vector<std::string> keys = {"name", "NAME", "number", "(Default)", "new", ""};
  for (int round = 0; round < 20; ++round) {
    RegistryStore store(location, 1, round % 2 == 0 ? 0 : KEY_WOW64_64KEY);
    if (round % 5 == 4) store.OpenPath(location + "\\first");
    for (const std::string& section : sections) {
      for (const std::string& key : keys) {
        refuse(store.SetString("changed", key, section) == 0);
        refuse(store.SetInt(round, key, section) == 0);
        refuse(store.SetDword(static_cast<uint32_t>(round), key, section) == 0);
      }
    }
  }
  // Handles opened with KEY_READ, on the tree and on a key in it.
  for (const char* path : {"", "first", "first\\nested"}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(tree, path, 0, KEY_READ, &key), ERROR_SUCCESS);
    for (const char* name : {"name", "number", "", "new"}) {
      refuse(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>("changed"), 7) ==
             ERROR_ACCESS_DENIED);
      refuse(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>("\1\0\0\0"),
                            4) == ERROR_ACCESS_DENIED);
      refuse(RegDeleteValueA(key, name) == ERROR_ACCESS_DENIED);
    }
    HKEY created = nullptr;
    refuse(RegCreateKeyExA(key, "brand new", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                           nullptr) == ERROR_ACCESS_DENIED);
    RegCloseKey(key);
  }
  EXPECT_EQ(refused, attempts) << "some writes were not refused";
  EXPECT_EQ(Dump(tree), before);
  RegCloseKey(tree);
}

}  // namespace
}  // namespace inireg
