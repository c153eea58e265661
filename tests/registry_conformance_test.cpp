// Win32 registry behaviour that callers rely on, written against the Win32
// signatures only: the same cases run on our Linux registry and, in the
// Windows build, on the system's own.  Where the two may answer differently,
// registry_differences.h names the difference.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "inireg/win32_registry.h"
#include "registry_differences.h"

using namespace inireg::test_support;

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
    folder_ = std::make_unique<inireg::test_support::TempDir>();
    SetRegistryDatabasePath(folder_->File("registry.db"));
  }
  void TearDown() override {
    SetRegistryDatabasePath("");
    folder_.reset();
  }
  std::unique_ptr<inireg::test_support::TempDir> folder_;  // Gtest never deletes environments.
};
::testing::Environment* const kTemporaryRegistry =
    ::testing::AddGlobalTestEnvironment(new TemporaryRegistry);
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
  LONG status =
      RegQueryValueExA(key, name, nullptr, &valueType, reinterpret_cast<BYTE*>(buffer), &size);
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
  char name[1024];  // 255 characters of up to three bytes, and a NUL.
  while (RegEnumKeyA(key, static_cast<DWORD>(names.size()), name, sizeof name) == ERROR_SUCCESS) {
    names.insert(name);
  }
  return names;
}

void DeleteTree(HKEY key) {
  char name[1024];  // 255 characters of up to three bytes, and a NUL.
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
  void SetUp() override {
    ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, kTestKey.c_str(), root_));
  }
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
    EXPECT_EQ(ERROR_INVALID_HANDLE,
              RegEnumValueA(bad, 0, name, &size, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegEnumKeyA(bad, 0, name, sizeof name));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteValueA(bad, "v"));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteKeyA(bad, "X"));
    HKEY opened = nullptr;
    LONG length = sizeof name;
    FILETIME time{};
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyA(bad, "X", &opened));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCreateKeyA(bad, "X", &opened));
    EXPECT_EQ(nullptr, opened);
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueA(bad, "X", name, &length));
    EXPECT_EQ(ERROR_INVALID_HANDLE,
              RegGetValueA(bad, nullptr, "v", RRF_RT_ANY, nullptr, name, &size));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegSetKeyValueA(bad, "X", "v", REG_SZ, "x", 1));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteKeyValueA(bad, "X", "v"));
    EXPECT_EQ(ERROR_INVALID_HANDLE,
              RegQueryInfoKeyA(bad, nullptr, nullptr, nullptr, &size, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, &time));
    EXPECT_EQ(ERROR_INVALID_HANDLE,
              RegEnumKeyExA(bad, 0, name, &size, nullptr, nullptr, nullptr, &time));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteTreeA(bad, "X"));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteKeyExA(bad, "X", KEY_WOW64_64KEY, 0));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegFlushKey(bad));
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

// The 64-bit SDK defines the roots as sign-extended 32-bit numbers; code that
// kept a root in a LONG and cast it back passes that form.
TEST_F(RegistryHandleTest, SignExtendedRootsNameTheRoots) {
  HKEY extended = reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(0x80000001u)));
  HKEY zeroExtended = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u));
  for (HKEY root : {extended, zeroExtended}) {
    ASSERT_EQ(ERROR_SUCCESS, Open(root, kTestKey.c_str(), key_));
    ASSERT_EQ(ERROR_SUCCESS, Set(key_, "via", REG_SZ, std::string("root", 5)));
    Key again;
    ASSERT_EQ(ERROR_SUCCESS, Open(HKEY_CURRENT_USER, kTestKey.c_str(), again));
    EXPECT_EQ("root", Get(again, "via"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(again, "via"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(root));
  }
}

TEST_F(RegistryHandleTest, OpenKeyWithoutSubkeyHandsBackTheSameHandle) {
  HKEY same = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(root_, "", &same));
  EXPECT_EQ(HKEY(root_), same);
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(root_, nullptr, &same));
  EXPECT_EQ(HKEY(root_), same);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(root_, "Old\\Style", key_.out()));
  Key opened;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(root_, "OLD\\style", opened.out()));
  EXPECT_NE(HKEY(key_), HKEY(opened));
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "v", REG_BINARY, "shared"));
  EXPECT_EQ("shared", Get(opened, "v"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyA(root_, "Missing", opened.out()));
  EXPECT_EQ(nullptr, HKEY(opened));
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(key_));
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
    if (kCreatingNoSubkeyOpensExisting) {
      EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
    }
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
  for (const char* literal : {".", "..", "a/b", " spaced "})
    EXPECT_EQ(ERROR_SUCCESS, MakeKey(root_, literal));
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
  if (kKeyNamesStopAt255) {
    EXPECT_EQ(ERROR_INVALID_PARAMETER, Create(root_, std::string(256, 'k').c_str(), key_));
  }
  if (kLongPathsWork) {
    std::string longPath = longest + "\\" + longest;
    ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, longPath.c_str()));
    EXPECT_EQ(ERROR_SUCCESS, Open(root_, longPath.c_str(), key_));
  }
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
  for (const auto& c : cases)
    ASSERT_EQ(ERROR_SUCCESS, Set(root_, c.name, c.type, c.data)) << c.name;
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
  EXPECT_EQ(ERROR_NO_MORE_ITEMS,
            RegEnumValueA(root_, 3, name, &size, nullptr, nullptr, nullptr, nullptr));
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
  EXPECT_EQ(ERROR_MORE_DATA,
            RegEnumValueA(root_, 0, &buffer[0], &size, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(1100u, size);
  EXPECT_EQ(std::string(1099, 'n') + '\0' + '#', buffer.substr(0, 1101));
  size = 1101;
  EXPECT_EQ(ERROR_SUCCESS,
            RegEnumValueA(root_, 0, &buffer[0], &size, nullptr, nullptr, nullptr, nullptr));
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
  if (kCreatingNeedsCreateSubKey) {
    EXPECT_EQ(ERROR_ACCESS_DENIED, Create(reader, "New", key_));
  }

  ASSERT_EQ(ERROR_SUCCESS, Open(root_, "", key_, KEY_SET_VALUE));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(key_, "v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyA(key_, 0, name, sizeof name));
  EXPECT_EQ(ERROR_SUCCESS, Set(key_, "v", REG_SZ, "z"));

  ASSERT_EQ(ERROR_SUCCESS, Open(root_, "", key_, KEY_QUERY_VALUE));
  EXPECT_EQ("z", Get(key_, "v"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyA(key_, 0, name, sizeof name));

  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    ASSERT_EQ(ERROR_SUCCESS,
              Open(HKEY_CURRENT_USER, kTestKey.c_str(), key_, KEY_ALL_ACCESS | view));
    EXPECT_EQ("z", Get(key_, "v"));
  }
}

// ---- Reading strings: the terminator a reader may rely on --------------------

// Text stored without a NUL reads back with one after it when the buffer has
// room; the size reported is the stored size, and other types get nothing.
TEST_F(RegistryValueTest, StringsReadBackTerminatedWhenTheBufferHasRoom) {
  struct {
    const char* name;
    DWORD type;
    std::string data;
    bool terminated;
  } cases[] = {
      {"sz", REG_SZ, "abc", true},
      {"expand", REG_EXPAND_SZ, "abc", true},
      {"multi", REG_MULTI_SZ, std::string("a\0b", 3), true},
      {"binary", REG_BINARY, "abc", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(ERROR_SUCCESS, Set(root_, c.name, c.type, c.data));
    auto check = [&](LONG status, const char* buffer, DWORD size) {
      EXPECT_EQ(ERROR_SUCCESS, status);
      EXPECT_EQ(0, std::memcmp(buffer, c.data.data(), 3));
      EXPECT_EQ(c.terminated ? '\0' : '#', buffer[3]);
      if (kStringsKeepTheirBytes || !c.terminated) {
        EXPECT_EQ(3u, size);
      }
    };
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    DWORD size = sizeof buffer;
    LONG status =
        RegQueryValueExA(root_, c.name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    check(status, buffer, size);

    char name[32];
    DWORD nameSize = sizeof name;
    DWORD index = 0;
    while (RegEnumValueA(root_, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS &&
           std::strcmp(name, c.name) != 0) {
      ++index;
      nameSize = sizeof name;
    }
    std::memset(buffer, '#', sizeof buffer);
    size = sizeof buffer;
    nameSize = sizeof name;
    status = RegEnumValueA(root_, index, name, &nameSize, nullptr, nullptr,
                           reinterpret_cast<BYTE*>(buffer), &size);
    check(status, buffer, size);

    if (kStringsKeepTheirBytes) {  // A buffer of exactly the stored size gets no terminator.
      std::memset(buffer, '#', sizeof buffer);
      size = 3;
      EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(root_, c.name, nullptr, nullptr,
                                                reinterpret_cast<BYTE*>(buffer), &size));
      EXPECT_EQ('#', buffer[3]);
    }
  }
}

// A caller that grows both buffers after ERROR_MORE_DATA must learn both sizes.
TEST_F(RegistryEnumTest, ShortNameBufferStillReportsTypeAndDataSize) {
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "a-long-name", REG_BINARY, "12345"));
  char name[4];
  DWORD nameSize = sizeof name, type = 0, dataSize = 0;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegEnumValueA(root_, 0, name, &nameSize, nullptr, &type, nullptr, &dataSize));
  EXPECT_EQ(DWORD(REG_BINARY), type);
  EXPECT_EQ(5u, dataSize);
  std::vector<char> grown(64);
  std::vector<BYTE> data(dataSize);
  nameSize = static_cast<DWORD>(grown.size());
  EXPECT_EQ(ERROR_SUCCESS, RegEnumValueA(root_, 0, grown.data(), &nameSize, nullptr, &type,
                                         data.data(), &dataSize));
  EXPECT_STREQ("a-long-name", grown.data());
  EXPECT_EQ(0, std::memcmp(data.data(), "12345", 5));
}

// "é" in the A functions' code page: one character of two bytes in UTF-8 (our
// registry), one byte in Windows-1252 (Wine's usual ANSI code page).
std::string LetterE() {
#ifdef _WIN32
  if (GetACP() == 1252) return "\xe9";
  if (GetACP() != 65001) return "";
#endif
  return "\xc3\xa9";
}

std::string Repeat(const std::string& text, size_t count) {
  std::string repeated;
  for (size_t i = 0; i < count; ++i) repeated += text;
  return repeated;
}

TEST_F(RegistryKeyTest, NameLimitsCountCharactersNotBytes) {
  std::string e = LetterE();
  if (e.empty()) GTEST_SKIP() << "no e-acute in this ANSI code page";
  std::string longest = Repeat(e, 255);
  ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, longest.c_str()));
  char name[1024];
  DWORD nameSize = sizeof name;
  ASSERT_EQ(ERROR_SUCCESS,
            RegEnumKeyExA(root_, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(longest, std::string(name, nameSize));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Create(root_, Repeat(e, 257).c_str(), key_));

  std::string longestValue = Repeat(e, 16383);
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, longestValue.c_str(), REG_BINARY, "v"));
  EXPECT_EQ("v", Get(root_, longestValue.c_str()));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Set(root_, (longestValue + e).c_str(), REG_BINARY, "v"));
}

// ---- The functions ported programs use beside the core ones ------------------

TEST_F(RegistryValueTest, GetValueFiltersTypesAndTerminatesStrings) {
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "s", REG_SZ, "abc"));
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "d", REG_DWORD, "1234"));
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "b3", REG_BINARY, "123"));
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "b4", REG_BINARY, "1234"));
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "m", REG_MULTI_SZ, std::string("a\0b", 3)));
  char buffer[16];
  DWORD type = 0, size = 0;
  auto get = [&](const char* name, DWORD flags, DWORD capacity) {
    std::memset(buffer, '#', sizeof buffer);
    type = 0;
    size = capacity;
    return RegGetValueA(root_, nullptr, name, flags, &type, buffer, &size);
  };

  ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(root_, nullptr, "s", RRF_RT_REG_SZ, &type, nullptr, &size));
  EXPECT_EQ(DWORD(REG_SZ), type);
  EXPECT_EQ(4u, size);  // The terminator is counted.
  EXPECT_EQ(ERROR_SUCCESS, get("s", RRF_RT_REG_SZ, 4));
  EXPECT_EQ(std::string("abc\0", 4), std::string(buffer, 4));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(ERROR_MORE_DATA, get("s", RRF_RT_REG_SZ, 3));
  EXPECT_EQ(4u, size);
  EXPECT_EQ('#', buffer[0]);
  EXPECT_EQ(ERROR_SUCCESS, get("m", RRF_RT_ANY, sizeof buffer));
  EXPECT_EQ(std::string("a\0b\0", 4), std::string(buffer, size));

  EXPECT_EQ(ERROR_UNSUPPORTED_TYPE, get("s", RRF_RT_REG_DWORD | RRF_RT_REG_BINARY, sizeof buffer));
  EXPECT_EQ(ERROR_UNSUPPORTED_TYPE, get("s", 0, sizeof buffer));
  EXPECT_EQ(ERROR_UNSUPPORTED_TYPE, get("d", RRF_RT_REG_QWORD, sizeof buffer));
  EXPECT_EQ(ERROR_SUCCESS, get("d", RRF_RT_REG_SZ | RRF_RT_REG_DWORD, sizeof buffer));
  EXPECT_EQ(DWORD(REG_DWORD), type);
  EXPECT_EQ("1234", std::string(buffer, size));
  // RRF_RT_DWORD takes REG_BINARY data of four bytes only.
  EXPECT_EQ(ERROR_SUCCESS, get("b4", RRF_RT_DWORD, sizeof buffer));
  EXPECT_EQ("1234", std::string(buffer, size));
  EXPECT_EQ(ERROR_DATATYPE_MISMATCH, get("b3", RRF_RT_DWORD, sizeof buffer));
  EXPECT_EQ(ERROR_SUCCESS, get("b3", RRF_RT_REG_BINARY, sizeof buffer));

  EXPECT_EQ(ERROR_FILE_NOT_FOUND, get("missing", RRF_RT_ANY, sizeof buffer));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, get("missing", RRF_RT_ANY | RRF_ZEROONFAILURE, 8));
  EXPECT_EQ(std::string(8, '\0') + "#", std::string(buffer, 9));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegGetValueA(root_, nullptr, "s", RRF_RT_ANY, &type, buffer, nullptr));
}

TEST_F(RegistryValueTest, GetValueReadsFromASubkeyAndExpandsUnlessAskedNotTo) {
  const char kVariable[] = "INIREG_CONFORMANCE_VARIABLE";
#ifdef _WIN32
  ASSERT_TRUE(SetEnvironmentVariableA(kVariable, "value"));
#else
  ASSERT_EQ(0, setenv(kVariable, "value", 1));
#endif
  const std::string stored = std::string("%") + kVariable + "%\\x";
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(root_, "Sub\\Deeper", "e", REG_EXPAND_SZ, stored.data(),
                                           static_cast<DWORD>(stored.size())));
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetKeyValueA(root_, "Sub\\Deeper", nullptr, REG_DWORD, "\x07\0\0\0", 4));
  char buffer[64];
  DWORD type = 0, size = sizeof buffer;
  ASSERT_EQ(ERROR_SUCCESS,
            RegGetValueA(root_, "sub\\deeper", "e", RRF_RT_REG_SZ, &type, buffer, &size));
  EXPECT_EQ(DWORD(REG_SZ), type);
  EXPECT_EQ(std::string("value\\x") + '\0', std::string(buffer, size));
  size = sizeof buffer;
  ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(root_, "Sub\\Deeper", "e",
                                        RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, buffer, &size));
  EXPECT_EQ(DWORD(REG_EXPAND_SZ), type);
  EXPECT_EQ(stored + '\0', std::string(buffer, size));
  size = sizeof buffer;
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegGetValueA(root_, "Sub\\Deeper", "e", RRF_RT_REG_EXPAND_SZ, &type, buffer, &size));
  size = sizeof buffer;
  ASSERT_EQ(ERROR_SUCCESS,
            RegGetValueA(root_, "Sub\\Deeper", nullptr, RRF_RT_REG_DWORD, &type, buffer, &size));
  EXPECT_EQ(std::string("\x07\0\0\0", 4), std::string(buffer, size));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegGetValueA(root_, "Sub\\Missing", "e", RRF_RT_ANY, &type, buffer, &size));
}

TEST_F(RegistryValueTest, QueryValueReadsTheUnnamedValueTerminated) {
  ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, "Old"));
  char buffer[16];
  LONG size = sizeof buffer;
  std::memset(buffer, '#', sizeof buffer);
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueA(root_, "Old", buffer, &size));  // None set: "".
  EXPECT_EQ(1, size);
  EXPECT_EQ('\0', buffer[0]);
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(root_, "Old", nullptr, REG_SZ, "abc", 3));
  size = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueA(root_, "Old", nullptr, &size));
  EXPECT_EQ(4, size);
  size = 3;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueA(root_, "Old", buffer, &size));
  EXPECT_EQ(4, size);
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueA(root_, "old", buffer, &size));
  EXPECT_EQ(std::string("abc\0", 4), std::string(buffer, 4));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueA(root_, "Missing", buffer, &size));
}

TEST_F(RegistryKeyTest, SetKeyValueCreatesTheSubkeyAndDeleteKeyValueRemovesTheValue) {
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(root_, "New\\Sub", "v", REG_BINARY, "data", 4));
  ASSERT_EQ(ERROR_SUCCESS, Open(root_, "New\\Sub", key_));
  EXPECT_EQ("data", Get(key_, "v"));
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(root_, nullptr, "own", REG_BINARY, "x", 1));
  EXPECT_EQ("x", Get(root_, "own"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyValueA(root_, "NEW\\sub", "V"));
  EXPECT_EQ("<status 2>", Get(key_, "v"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyValueA(root_, "New\\Sub", "v"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyValueA(root_, "Missing", "v"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyValueA(root_, nullptr, "own"));

  // Through a read-only handle: its own key refuses; a subkey is opened afresh.
  Key reader;
  ASSERT_EQ(ERROR_SUCCESS, Open(root_, "", reader, KEY_READ));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetKeyValueA(reader, nullptr, "v", REG_BINARY, "x", 1));
  EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueA(reader, "New", "v", REG_BINARY, "y", 1));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyValueA(reader, "New", "v"));
  if (kCreatingNeedsCreateSubKey) {
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetKeyValueA(reader, "Other", "v", REG_BINARY, "x", 1));
  }
}

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The wall clock as a FILETIME, to the second.
uint64_t NowTicks() {
  constexpr uint64_t kSecondsFrom1601To1970 = 11644473600u;
  return (static_cast<uint64_t>(std::time(nullptr)) + kSecondsFrom1601To1970) * 10000000u;
}

TEST_F(RegistryKeyTest, QueryInfoKeyCountsAndMeasures) {
  struct Info {
    DWORD subkeys = 99, longestSubkey = 99, classSize = 99, longestClass = 99, values = 99,
          longestValueName = 99, largestData = 99;
    FILETIME time{};
    char keyClass[8] = "#######";
  };
  auto query = [](HKEY key, Info* info) {
    info->classSize = sizeof info->keyClass;
    return RegQueryInfoKeyA(key, info->keyClass, &info->classSize, nullptr, &info->subkeys,
                            &info->longestSubkey, &info->longestClass, &info->values,
                            &info->longestValueName, &info->largestData, nullptr, &info->time);
  };
  Info empty;
  uint64_t before = NowTicks();
  ASSERT_EQ(ERROR_SUCCESS, query(root_, &empty));
  EXPECT_EQ(0u, empty.subkeys + empty.longestSubkey + empty.values + empty.longestValueName +
                    empty.largestData + empty.classSize + empty.longestClass);
  EXPECT_EQ('\0', empty.keyClass[0]);

  ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, "a"));
  ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, "bcd\\below"));
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "x", REG_BINARY, "0123456789"));
  ASSERT_EQ(ERROR_SUCCESS, Set(root_, "long-name", REG_DWORD, "1234"));
  if (kQueryInfoAsDocumented) {
    ASSERT_EQ(ERROR_SUCCESS, Set(root_, "s", REG_SZ, "12345678"));
  }
  Info full;
  ASSERT_EQ(ERROR_SUCCESS, query(root_, &full));
  EXPECT_EQ(2u, full.subkeys);
  EXPECT_EQ(3u, full.longestSubkey);
  EXPECT_EQ(kQueryInfoAsDocumented ? 3u : 2u, full.values);
  EXPECT_EQ(9u, full.longestValueName);
  EXPECT_EQ(10u, full.largestData);
  uint64_t written = Ticks(full.time);
  EXPECT_GE(written + 20000000u, before);  // Two seconds of slack each way.
  EXPECT_LE(written, NowTicks() + 20000000u);
  EXPECT_GE(written, Ticks(empty.time));

  if (kQueryInfoAsDocumented) {
    ASSERT_EQ(ERROR_SUCCESS, Open(root_, "", key_, KEY_SET_VALUE));
    EXPECT_EQ(ERROR_ACCESS_DENIED, query(key_, &full));
  }
}

TEST_F(RegistryEnumTest, EnumKeyExGivesNamesLengthsAndTimes) {
  uint64_t before = NowTicks();
  for (const char* name : {"one", "two", "three"}) ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, name));
  std::set<std::string> names;
  char name[16];
  char keyClass[4] = "###";
  DWORD size = sizeof name, classSize = sizeof keyClass;
  FILETIME time{};
  for (DWORD index = 0; RegEnumKeyExA(root_, index, name, &size, nullptr, keyClass, &classSize,
                                      &time) == ERROR_SUCCESS;
       ++index) {
    EXPECT_EQ(std::strlen(name), size);
    EXPECT_EQ(0u, classSize);
    EXPECT_EQ('\0', keyClass[0]);
    EXPECT_GE(Ticks(time) + 20000000u, before);
    EXPECT_LE(Ticks(time), NowTicks() + 20000000u);
    names.insert(name);
    size = sizeof name;
    classSize = sizeof keyClass;
  }
  EXPECT_EQ((std::set<std::string>{"one", "two", "three"}), names);
  if (kWindowsEnumerationOrder) {
    size = sizeof name;
    ASSERT_EQ(ERROR_SUCCESS,
              RegEnumKeyExA(root_, 1, name, &size, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("three", name);
  }
  std::memset(name, '#', sizeof name);
  size = 5;  // "three" needs six.
  DWORD index = 0;
  for (; RegEnumKeyExA(root_, index, name, &size, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
       ++index) {
    size = 5;
  }
  EXPECT_EQ(ERROR_MORE_DATA,
            RegEnumKeyExA(root_, index, name, &size, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(5u, size);
  size = sizeof name;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS,
            RegEnumKeyExA(root_, 3, name, &size, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryKeyTest, DeleteTreeTakesEverythingBelow) {
  ASSERT_EQ(ERROR_SUCCESS, Create(root_, "Tree\\A\\B", key_));
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "v", REG_BINARY, "x"));
  ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, "Tree\\C"));
  key_.Close();
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(root_, "TREE"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open(root_, "Tree", key_));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeA(root_, "Tree"));

  // Without a subkey the key itself stays, emptied of values and subkeys.
  ASSERT_EQ(ERROR_SUCCESS, Create(root_, "Kept", key_));
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "v", REG_BINARY, "x"));
  ASSERT_EQ(ERROR_SUCCESS, MakeKey(key_, "Child\\Grandchild"));
  Key reader;
  ASSERT_EQ(ERROR_SUCCESS, Open(root_, "Kept", reader, KEY_READ));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteTreeA(reader, nullptr));
  if (kDeleteTreeAllOrNothing) {
    EXPECT_EQ(std::set<std::string>{"Child"}, SubkeyNames(key_));
    EXPECT_EQ(std::set<std::string>{"v"}, ValueNames(key_));
  }
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(key_, nullptr));
  EXPECT_EQ(std::set<std::string>{}, SubkeyNames(key_));
  EXPECT_EQ(std::set<std::string>{}, ValueNames(key_));
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "after", REG_BINARY, "y"));
  EXPECT_EQ("y", Get(key_, "after"));
}

TEST_F(RegistryKeyTest, DeleteKeyExIgnoresTheView) {
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    ASSERT_EQ(ERROR_SUCCESS, MakeKey(root_, "Viewed\\Child"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyExA(root_, "Viewed", view, 0));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyExA(root_, "Viewed\\Child", view, 0));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyExA(root_, "viewed", view, 0));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyExA(root_, "Viewed", view, 0));
  }
}

}  // namespace
