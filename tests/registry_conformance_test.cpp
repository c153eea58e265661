// Win32 registry behaviour that callers rely on, written against the Win32
// signatures only: the same cases run on our Linux registry and, in the
// Windows build, on the system's own.  Nothing here depends on the order of
// enumeration, which differs between Windows and Wine.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "inireg/win32_registry.h"

#ifdef _WIN32
#define TEST_PROCESS_ID GetCurrentProcessId()
#else
#include <unistd.h>

#include "test_support.h"
#define TEST_PROCESS_ID getpid()
using namespace inireg;

namespace {
// The whole program works on a database of its own, never the user's.
class TemporaryRegistry : public ::testing::Environment {
  void SetUp() override {
    folder_ = std::make_unique<inireg::testing::TempDir>();
    SetRegistryDatabasePath(folder_->File("registry.db"));
  }
  void TearDown() override {
    SetRegistryDatabasePath("");
    folder_.reset();
  }
  std::unique_ptr<inireg::testing::TempDir> folder_;  // Gtest never deletes environments.
};
::testing::Environment* const kTemporaryRegistry = ::testing::AddGlobalTestEnvironment(new TemporaryRegistry);
}  // namespace
#endif

namespace {

const std::string kTestKey = "Software\\inireg-test-" + std::to_string(TEST_PROCESS_ID);

// A key handle, closed when it goes out of scope.
class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() { Close(); }
  HKEY* out() {
    Close();
    return &handle_;
  }
  operator HKEY() const { return handle_; }
  LONG Close() {
    HKEY handle = handle_;
    handle_ = nullptr;
    return handle == nullptr ? ERROR_SUCCESS : RegCloseKey(handle);
  }

 private:
  HKEY handle_ = nullptr;
};

LONG Open(HKEY parent, const char* path, Key& key, REGSAM access = KEY_ALL_ACCESS) {
  return RegOpenKeyExA(parent, path, 0, access, key.out());
}

LONG Create(HKEY parent, const char* path, Key& key, DWORD* disposition = nullptr) {
  return RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                         key.out(), disposition);
}

LONG MakeKey(HKEY parent, const char* path) {
  Key key;
  return Create(parent, path, key);
}

LONG Set(HKEY key, const char* name, DWORD type, const std::string& data) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()));
}

// REG_SZ data up to its first NUL.  Windows' registry may add a NUL to text
// written without one, so these tests compare text, not bytes; the Linux
// registry's exact bytes are tested on their own.
std::string Text(const std::string& data) { return data.substr(0, data.find('\0')); }

// The value's data (REG_SZ data as text), or "<status N>" when it cannot be
// read.
std::string Get(HKEY key, const char* name, DWORD* type = nullptr) {
  char buffer[256];
  DWORD size = sizeof buffer;
  DWORD valueType = 0;
  LONG status = RegQueryValueExA(key, name, nullptr, &valueType, reinterpret_cast<BYTE*>(buffer), &size);
  if (status != ERROR_SUCCESS) return "<status " + std::to_string(status) + ">";
  if (type != nullptr) *type = valueType;
  std::string data(buffer, size);
  return valueType == REG_SZ ? Text(data) : data;
}

std::set<std::string> ValueNames(HKEY key) {
  std::set<std::string> names;
  char name[2048];
  for (DWORD size = sizeof name; RegEnumValueA(key, static_cast<DWORD>(names.size()), name, &size,
                                               nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       size = sizeof name) {
    names.insert(std::string(name, size));
  }
  return names;
}

std::set<std::string> SubkeyNames(HKEY key) {
  std::set<std::string> names;
  char name[256];
  while (RegEnumKeyA(key, static_cast<DWORD>(names.size()), name, sizeof name) == ERROR_SUCCESS) {
    names.insert(name);
  }
  return names;
}

void DeleteTree(HKEY key) {
  char name[256];
  while (RegEnumKeyA(key, 0, name, sizeof name) == ERROR_SUCCESS) {
    Key child;
    ASSERT_EQ(ERROR_SUCCESS, Open(key, name, child));
    DeleteTree(child);
    child.Close();
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, name));
  }
}

// Each case works below a fresh key of its own, removed afterwards.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, kTestKey.c_str(), root_)); }
  void TearDown() override {
    DeleteTree(root_);
    EXPECT_EQ(ERROR_SUCCESS, root_.Close());
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey.c_str()));
  }
  Key root_;
  Key key_;
};

using RegistryHandleTest = RegistryTest;
using RegistryKeyTest = RegistryTest;
using RegistryValueTest = RegistryTest;
using RegistryEnumTest = RegistryTest;
using RegistryAccessTest = RegistryTest;

TEST_F(RegistryHandleTest, BadHandlesAnswerInvalidHandle) {
  HKEY closed = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root_, "", 0, KEY_READ, &closed));
  ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(closed));
  HKEY garbage = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x12345678));
  // The closed handle goes first, before anything else can be given its value
  // (Windows reuses handle values; a trace message would take one).
  for (HKEY bad : {closed, HKEY(nullptr), garbage}) {
    char name[64];
    DWORD size = sizeof name;
    EXPECT_EQ(ERROR_INVALID_HANDLE, Open(bad, "X", key_));
    EXPECT_EQ(ERROR_INVALID_HANDLE, Create(bad, "X", key_));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(bad, "v", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_INVALID_HANDLE, Set(bad, "v", REG_SZ, "x"));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegEnumValueA(bad, 0, name, &size, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegEnumKeyA(bad, 0, name, sizeof name));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteValueA(bad, "v"));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteKeyA(bad, "X"));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(bad));
  }
}

TEST_F(RegistryHandleTest, PredefinedRootsSurviveClosingAndOpenAsThemselves) {
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));
  EXPECT_EQ(ERROR_SUCCESS, Open(HKEY_CURRENT_USER, kTestKey.c_str(), key_));
  for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
    HKEY root = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, empty, 0, KEY_READ, &root));
    EXPECT_EQ(HKEY_CURRENT_USER, root);
  }
}

TEST_F(RegistryKeyTest, EmptySubkeyGivesANewHandleToTheSameKey) {
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "v", REG_SZ, "same"));
  for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
    Key created;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, Open(root_, empty, key_));
    ASSERT_EQ(ERROR_SUCCESS, Create(root_, empty, created, &disposition));
    EXPECT_NE(HKEY(root_), HKEY(key_));
    EXPECT_NE(HKEY(root_), HKEY(created));
#ifndef _WIN32  // Wine answers REG_CREATED_NEW_KEY here; Windows is unmeasured.
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
#endif
    EXPECT_EQ("same", Get(key_, "v"));
    EXPECT_EQ("same", Get(created, "v"));
  }
}

TEST_F(RegistryKeyTest, PathsAndMissingKeys) {
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open(root_, "A", key_));
  ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, "A\\B\\C"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open(root_, "A\\Missing\\C", key_));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open(root_, "A\\B\\C\\D", key_));
  EXPECT_EQ(ERROR_BAD_PATHNAME, Open(root_, "\\A", key_));
  EXPECT_EQ(ERROR_BAD_PATHNAME, Create(root_, "\\A", key_));
  ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, "Dbl\\\\X"));
  ASSERT_EQ(ERROR_SUCCESS, Open(root_, "Dbl\\", key_));
  EXPECT_EQ(std::set<std::string>{"X"}, SubkeyNames(key_));
  for (const char* literal : {".", "..", "a/b", " spaced "}) EXPECT_EQ(ERROR_SUCCESS, MakeKey(root_, literal));
  EXPECT_EQ((std::set<std::string>{".", "..", "a/b", " spaced ", "A", "Dbl"}), SubkeyNames(root_));
}

TEST_F(RegistryKeyTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, Create(root_, "MixedCase", key_, &disposition));
  EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), disposition);
  ASSERT_EQ(ERROR_SUCCESS, Create(root_, "MIXEDCASE", key_, &disposition));
  EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
  EXPECT_EQ(std::set<std::string>{"MixedCase"}, SubkeyNames(root_));
  EXPECT_EQ(ERROR_SUCCESS, Open(root_, "mixedcase", key_));

  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "Value", REG_SZ, "first"));
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "VALUE", REG_SZ, "second"));
  EXPECT_EQ(std::set<std::string>{"Value"}, ValueNames(key_));
  EXPECT_EQ("second", Get(key_, "value"));
}

TEST_F(RegistryKeyTest, KeyNameComponentsHoldAtMost255Characters) {
  std::string longest(255, 'k');
  ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, longest.c_str()));
  EXPECT_EQ(std::set<std::string>{longest}, SubkeyNames(root_));
  std::string tooLong = "Ok\\" + std::string(257, 'k');
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Create(root_, tooLong.c_str(), key_));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Open(root_, tooLong.c_str(), key_));
#ifndef _WIN32  // Wine accepts 256.
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Create(root_, std::string(256, 'k').c_str(), key_));
#endif
}

TEST_F(RegistryKeyTest, DeleteKeyRefusesKeysWithSubkeysAndTakesValuesAlong) {
  ASSERT_EQ(ERROR_SUCCESS, Create(root_, "Parent\\Child", key_));
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "v", REG_SZ, "x"));
  key_.Close();
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(root_, "Parent"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root_, "PARENT\\child"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(root_, "Parent\\Child"));
  ASSERT_EQ(ERROR_SUCCESS, Create(root_, "Parent\\Child", key_));
  EXPECT_EQ(std::set<std::string>{}, ValueNames(key_));
}

TEST_F(RegistryValueTest, DataAndTypeComeBackAsWritten) {
  struct {
    const char* name;
    DWORD type;
    std::string data;
  } cases[] = {
      {"dword", REG_DWORD, std::string("\x01\x02\x03\x04", 4)},
      {"short dword", REG_DWORD, std::string("\x05\x06", 2)},
      {"qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
      {"binary", REG_BINARY, std::string("a\0b\0\xff", 5)},
      {"empty", REG_BINARY, ""},
      {"string", REG_SZ, std::string("text\0", 5)},
      {"multi", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
      {"unknown type", 0x12345, "odd"},
  };
  for (const auto& c : cases) ASSERT_EQ(ERROR_SUCCESS, Set(root_, c.name, c.type, c.data)) << c.name;
  for (const auto& c : cases) {
    DWORD type = 0;
    EXPECT_EQ(c.type == REG_SZ ? Text(c.data) : c.data, Get(root_, c.name, &type)) << c.name;
    EXPECT_EQ(c.type, type) << c.name;
  }
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "string", REG_DWORD, std::string(4, '\0')));
  DWORD type = 0;
  EXPECT_EQ(std::string(4, '\0'), Get(root_, "string", &type));
  EXPECT_EQ(DWORD(REG_DWORD), type);
  EXPECT_EQ(sizeof cases / sizeof cases[0], ValueNames(root_).size());
}

TEST_F(RegistryValueTest, UnnamedValueIsNullOrEmptyAndDefaultIsAnOrdinaryName) {
  EXPECT_EQ("<status 2>", Get(root_, nullptr));
  EXPECT_EQ("<status 2>", Get(root_, ""));
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, nullptr, REG_SZ, std::string("unnamed", 8)));
  EXPECT_EQ("unnamed", Get(root_, ""));
  EXPECT_EQ("<status 2>", Get(root_, "(Default)"));
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "(Default)", REG_SZ, std::string("named", 6)));
  EXPECT_EQ((std::set<std::string>{"", "(Default)"}), ValueNames(root_));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(root_, ""));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(root_, nullptr));
  EXPECT_EQ("named", Get(root_, "(Default)"));
}

TEST_F(RegistryValueTest, QueriesReportSizesAndRefuseSmallBuffers) {
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "v", REG_BINARY, "12345678"));
  DWORD type = 0, size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(root_, "v", nullptr, &type, nullptr, &size));
  EXPECT_EQ(DWORD(REG_BINARY), type);
  EXPECT_EQ(8u, size);
  BYTE buffer[8] = {'.', '.', '.', '.', '.', '.', '.', '.'};
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(root_, "v", nullptr, &type, buffer, nullptr));
  type = 0;
  size = 7;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(root_, "v", nullptr, &type, buffer, &size));
  EXPECT_EQ(8u, size);
  EXPECT_EQ(DWORD(REG_BINARY), type);
  EXPECT_EQ(0, std::memcmp(buffer, "........", 8));
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(root_, "v", nullptr, nullptr, buffer, &size));
  EXPECT_EQ(0, std::memcmp(buffer, "12345678", 8));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(root_, "w", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(root_, "V"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(root_, "v"));
}

TEST_F(RegistryValueTest, ValueNamesHoldAtMost16383Characters) {
  std::string longest(16383, 'v');
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, longest.c_str(), REG_SZ, "long"));
  EXPECT_EQ("long", Get(root_, longest.c_str()));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Set(root_, (longest + "v").c_str(), REG_SZ, "x"));
}

TEST_F(RegistryEnumTest, EnumerationListsEverythingThenAnswersNoMoreItems) {
  for (const char* name : {"one", "two", "three"}) {
    ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, name));
    ASSERT_EQ(ERROR_SUCCESS, Set(root_, name, REG_DWORD, "1234"));
  }
  EXPECT_EQ((std::set<std::string>{"one", "two", "three"}), ValueNames(root_));
  EXPECT_EQ((std::set<std::string>{"one", "two", "three"}), SubkeyNames(root_));
  char name[64];
  DWORD size = sizeof name, type = 0;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(root_, 3, name, &size, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyA(root_, 3, name, sizeof name));
  BYTE data[4];
  DWORD dataSize = sizeof data;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(root_, 1, name, &size, nullptr, &type, data, &dataSize));
  EXPECT_EQ(DWORD(REG_DWORD), type);
  EXPECT_EQ(0, std::memcmp(data, "1234", 4));
}

TEST_F(RegistryEnumTest, NamesNeedRoomForTheirTerminator) {
  std::string valueName(1100, 'n');
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, valueName.c_str(), REG_SZ, "x"));
  std::string buffer(1200, '#');
  DWORD size = 1100;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(root_, 0, &buffer[0], &size, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(1100u, size);
  EXPECT_EQ(std::string(1099, 'n') + '\0' + '#', buffer.substr(0, 1101));
  size = 1101;
  EXPECT_EQ(ERROR_SUCCESS, RegEnumValueA(root_, 0, &buffer[0], &size, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(1100u, size);
  EXPECT_EQ(valueName, buffer.c_str());

  ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, "Subkey"));
  char name[8] = "#######";
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyA(root_, 0, name, 6));
  EXPECT_STREQ("#######", name);
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(root_, 0, name, 7));
  EXPECT_STREQ("Subkey", name);
}

TEST_F(RegistryAccessTest, HandlesDoOnlyWhatTheirAccessAllows) {
  ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, "Sub"));
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "v", REG_SZ, "x"));
  char name[64];
  DWORD size = sizeof name;

  Key reader;
  ASSERT_EQ(ERROR_SUCCESS, Open(HKEY_CURRENT_USER, kTestKey.c_str(), reader, KEY_READ));
  EXPECT_EQ(ERROR_ACCESS_DENIED, Set(reader, "v", REG_SZ, "y"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(reader, "v"));
  EXPECT_EQ("x", Get(reader, "v"));
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(reader, 0, name, sizeof name));
  EXPECT_EQ(ERROR_SUCCESS, Create(reader, "Sub", key_));  // Exists: nothing to create.
#ifndef _WIN32  // Windows refuses this; Wine does not.
  EXPECT_EQ(ERROR_ACCESS_DENIED, Create(reader, "New", key_));
#endif

  ASSERT_EQ(ERROR_SUCCESS, Open(root_, "", key_, KEY_SET_VALUE));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(key_, "v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyA(key_, 0, name, sizeof name));
  EXPECT_EQ(ERROR_SUCCESS, Set(key_, "v", REG_SZ, "z"));

  ASSERT_EQ(ERROR_SUCCESS, Open(root_, "", key_, KEY_QUERY_VALUE));
  EXPECT_EQ("z", Get(key_, "v"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyA(key_, 0, name, sizeof name));

  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    ASSERT_EQ(ERROR_SUCCESS, Open(HKEY_CURRENT_USER, kTestKey.c_str(), key_, KEY_ALL_ACCESS | view));
    EXPECT_EQ("z", Get(key_, "v"));
  }
}

}  // namespace
