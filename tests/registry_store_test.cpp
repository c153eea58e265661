// RegistryStore against a real registry: the library's own on Linux, Wine's
// under the Windows build.  Each test works below a key of its own under
// HKEY_CURRENT_USER and removes it afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "inireg/registry_store.h"
#include "registry/registry_calls.h"
#include "test_support.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#define REGISTRY_API WINAPI
using SecurityAttributes = LPSECURITY_ATTRIBUTES;
#else
#include <unistd.h>
#define REGISTRY_API
using SecurityAttributes = void*;
#endif

namespace inireg {
namespace {

// Exposes the store's protected state to the tests.
struct InspectableStore : RegistryStore {
  using RegistryStore::accessFlags;
  using RegistryStore::baseKey;
  using RegistryStore::CreateKeys;
  using RegistryStore::key;
  using RegistryStore::path;
  using RegistryStore::readOnly;
  using RegistryStore::RegistryStore;
  using RegistryStore::ResizeBuffer;
  using RegistryStore::rootKey;
  using RegistryStore::section;
  using RegistryStore::sectionKey;
  using RegistryStore::SelectSection;
};

// Deletes a key and everything below it.
void DeleteTree(HKEY parent, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) return;
  char child[256];
  while (RegEnumKeyA(key, 0, child, sizeof child) == ERROR_SUCCESS) DeleteTree(key, child);
  RegCloseKey(key);
  RegDeleteKeyA(parent, name.c_str());
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    SetRegistryDatabasePath(dir_.File("registry.db"));
#endif
    static int counter = 0;
    subkey_ =
        "Software\\inireg-store-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    location_ = "CU\\" + subkey_;
  }
  void TearDown() override {
    Registry() = RegistryCalls();
    DeleteTree(HKEY_CURRENT_USER, subkey_);
#ifndef _WIN32
    SetRegistryDatabasePath("");
#endif
  }

  // Writes a value of any type directly, creating the key.
  void Put(const std::string& section, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (subkey_ + "\\" + section).c_str(), 0, nullptr, 0,
                              KEY_READ | KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  void PutText(const std::string& section, const char* name, const std::string& text,
               DWORD type = REG_SZ) {
    Put(section, name, type, text.data(), static_cast<DWORD>(text.size()));
  }

  // The stored type and bytes of a value, or type 0xFFFFFFFF when it is absent.
  std::pair<DWORD, std::string> Stored(const std::string& section, const char* name) {
    HKEY key = nullptr;
    std::pair<DWORD, std::string> result{0xFFFFFFFFu, ""};
    std::string path = section.empty() ? subkey_ : subkey_ + "\\" + section;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return result;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
      result.second.resize(size);
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&result.second[0]),
                       &size);
      result.second.resize(size);
      result.first = type;
#ifdef _WIN32
      // Windows' registry may add a NUL to REG_SZ data written without one
      // (when the byte after the data happens to be a NUL): not ours to test.
      if (type == REG_SZ && !result.second.empty() && result.second.back() == '\0') {
        result.second.pop_back();
      }
#endif
    }
    RegCloseKey(key);
    return result;
  }

  static std::vector<std::string> Take(std::string* names, const int32_t* count) {
    std::vector<std::string> result(names, names + *count);
    delete[] names;
    return result;
  }

  test_support::TempDir dir_;
  std::string subkey_;
  std::string location_;
};

// --- Location texts and the registry calls the store makes ------------------

// Records every open and create and the closes, answering as the registry
// behind it does.
struct CallLog {
  struct Open {
    HKEY parent;
    std::string subkey;
    REGSAM mask;
    bool create;
  };
  std::vector<Open> opens;
  int closes = 0;
};
CallLog* activeLog = nullptr;

LONG REGISTRY_API LoggedOpen(HKEY parent, LPCSTR subkey, DWORD options, REGSAM mask, PHKEY result) {
  activeLog->opens.push_back({parent, subkey != nullptr ? subkey : "", mask, false});
  return RegOpenKeyExA(parent, subkey, options, mask, result);
}

LONG REGISTRY_API LoggedCreate(HKEY parent, LPCSTR subkey, DWORD reserved, LPSTR keyClass,
                               DWORD options, REGSAM mask, SecurityAttributes security,
                               PHKEY result, LPDWORD disposition) {
  activeLog->opens.push_back({parent, subkey != nullptr ? subkey : "", mask, true});
  return RegCreateKeyExA(parent, subkey, reserved, keyClass, options, mask, security, result,
                         disposition);
}

LONG REGISTRY_API LoggedClose(HKEY key) {
  ++activeLog->closes;
  return RegCloseKey(key);
}

class RegistryCallsTest : public RegistryStoreTest {
 protected:
  void SetUp() override {
    RegistryStoreTest::SetUp();
    activeLog = &log_;
    Registry().openKey = &LoggedOpen;
    Registry().createKey = &LoggedCreate;
    Registry().closeKey = &LoggedClose;
  }
  void TearDown() override {
    RegistryStoreTest::TearDown();
    activeLog = nullptr;
  }
  CallLog log_;
};

TEST(RegistryPath, FormatsTheFourRootsAndNothingElse) {
  EXPECT_EQ(FormatRegistryPath(HKEY_CURRENT_USER, "Software\\Example"), "CU\\Software\\Example");
  EXPECT_EQ(FormatRegistryPath(HKEY_CLASSES_ROOT, "x"), "CR\\x");
  EXPECT_EQ(FormatRegistryPath(HKEY_USERS, ""), "US\\");
  EXPECT_EQ(FormatRegistryPath(HKEY_LOCAL_MACHINE, nullptr), "LM\\");
  EXPECT_EQ(FormatRegistryPath(HKEY_LOCAL_MACHINE, "\\x"), "LM\\\\x");
  HKEY fifth = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000004u));
  EXPECT_EQ(FormatRegistryPath(fifth, "Example"), "BAD\\Example");
  EXPECT_EQ(FormatRegistryPath(nullptr, "Example"), "BAD\\Example");
}

TEST_F(RegistryCallsTest, LocationTextsOpenTheirRootAndSubkey) {
  struct Case {
    const char* text;
    HKEY root;
    const char* subkey;
  } cases[] = {
      {"LM\\Software\\Example", HKEY_LOCAL_MACHINE, "Software\\Example"},
      {"lm\\software", HKEY_LOCAL_MACHINE, "software"},
      {"cU\\Example", HKEY_CURRENT_USER, "Example"},
      {"LMSoftware", HKEY_LOCAL_MACHINE, "Software"},
      {"LM", HKEY_LOCAL_MACHINE, ""},
      {"LM\\", HKEY_LOCAL_MACHINE, ""},
      {"LM\\\\Example", HKEY_LOCAL_MACHINE, "\\Example"},
      {"CR\\x", HKEY_CLASSES_ROOT, "x"},
      {"US\\x", HKEY_USERS, "x"},
  };
  for (const Case& c : cases) {
    log_.opens.clear();
    InspectableStore store(c.text, 1, 0);
    EXPECT_EQ(store.rootKey, c.root) << c.text;
    EXPECT_EQ(store.path, c.text);
    ASSERT_EQ(log_.opens.size(), 1u) << c.text;
    EXPECT_EQ(log_.opens[0].parent, c.root) << c.text;
    EXPECT_EQ(log_.opens[0].subkey, c.subkey) << c.text;
  }
  // Round trip: each root's formatted text opens that root and subkey.
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS}) {
    log_.opens.clear();
    InspectableStore store(FormatRegistryPath(root, "A\\B"), 1, 0);
    ASSERT_EQ(log_.opens.size(), 1u);
    EXPECT_EQ(log_.opens[0].parent, root);
    EXPECT_EQ(log_.opens[0].subkey, "A\\B");
  }
}

TEST_F(RegistryCallsTest, AnUnknownRootOnlyForgetsTheRoot) {
  InspectableStore store(location_, 0, 0);
  ASSERT_EQ(store.SetString("v", "k", "s"), 2);  // Creates the location.
  store.OpenPath(location_);
  HKEY base = store.baseKey;
  ASSERT_NE(base, nullptr);
  log_.opens.clear();
  for (const char* text : {"HKLM\\Software", "BAD\\Software", "", "L"}) {
    store.OpenPath(text);
    EXPECT_EQ(store.rootKey, nullptr) << text;
    EXPECT_EQ(store.path, location_) << text;
    EXPECT_EQ(store.baseKey, base) << text;
  }
  EXPECT_TRUE(log_.opens.empty());
  // Reads and writes go on under the old location.
  EXPECT_EQ(store.SetString("w", "k2", "s"), 2);
  EXPECT_EQ(Stored("s", "k2").second, "w");

  InspectableStore nothing("", 0, 0);
  EXPECT_EQ(nothing.rootKey, nullptr);
  EXPECT_EQ(nothing.CreateKeys(), 0);
  EXPECT_EQ(nothing.baseKey, nullptr);
  EXPECT_EQ(nothing.sectionKey, nullptr);
  EXPECT_EQ(nothing.SetString("v", "k", "s"), 0);
}

TEST_F(RegistryCallsTest, AccessMasksFollowReadOnlyAndTheFlags) {
  {
    InspectableStore store(location_, 1, KEY_WOW64_64KEY);
    store.GetInt("k", "s", 0);
    ASSERT_EQ(log_.opens.size(), 1u);  // The section's open fails before it exists.
    EXPECT_EQ(log_.opens[0].mask, 0x20019u | KEY_WOW64_64KEY);
  }
  log_.opens.clear();
  {
    InspectableStore store(location_, 0, KEY_WOW64_64KEY);
    EXPECT_EQ(store.SetString("v", "k", "s"), 2);
    // The base key's open fails, so no section is opened under it; then both
    // are created.
    ASSERT_EQ(log_.opens.size(), 3u);
    for (const auto& open : log_.opens) EXPECT_EQ(open.mask, 0x2011Fu) << open.subkey;
    EXPECT_TRUE(log_.opens[1].create);
    EXPECT_EQ(log_.opens[1].subkey, subkey_);
    EXPECT_EQ(log_.opens[2].subkey, "s");

    log_.opens.clear();
    store.SetAccessFlags(KEY_WOW64_32KEY);
    EXPECT_TRUE(log_.opens.empty());  // Nothing is reopened...
    store.GetInt("k", "s", 0);        // ...until the next open.
    ASSERT_EQ(log_.opens.size(), 1u);
    EXPECT_EQ(log_.opens[0].mask, 0x2001Fu | KEY_WOW64_32KEY);
  }
  log_.opens.clear();
  {
    // A read-only store still creates with the full mask (it never creates,
    // but CreateKeys itself does not look at readOnly).
    InspectableStore store(location_ + "\\new", 1, 0);
    store.SelectSection("\\lead");
    log_.opens.clear();
    EXPECT_EQ(store.CreateKeys(), 1);
    ASSERT_EQ(log_.opens.size(), 2u);
    EXPECT_EQ(log_.opens[0].mask, 0x2001Fu);
    EXPECT_EQ(log_.opens[0].subkey, subkey_ + "\\new");
    EXPECT_EQ(log_.opens[1].subkey, "lead");  // Created without the backslash.
    EXPECT_EQ(store.CreateKeys(), 1);         // Both open: nothing more happens.
    EXPECT_EQ(log_.opens.size(), 2u);
  }
}

TEST_F(RegistryCallsTest, SectionsReopenEveryTimeAndTheDestructorClosesBoth) {
  PutText("s", "k", "v");
  {
    InspectableStore store(location_, 0, 0);
    log_.opens.clear();
    store.GetInt("k", "s", 0);
    store.GetInt("k", "s", 0);
    EXPECT_EQ(log_.opens.size(), 2u);
    EXPECT_EQ(log_.closes, 1);  // The first section key, before reopening.
    store.GetInt("", "", 0);    // No section named: no reopening.
    EXPECT_EQ(log_.opens.size(), 2u);
  }
  EXPECT_EQ(log_.closes, 3);
}

TEST_F(RegistryStoreTest, ASectionNeedsAnOpenBaseKey) {
  InspectableStore store(location_, 0, 0);  // The location does not exist yet.
  EXPECT_EQ(store.baseKey, nullptr);
  store.GetInt("k", "s", 0);
  EXPECT_EQ(store.sectionKey, nullptr);
  std::string text = "abc";
  char* characters = InspectableStore::ResizeBuffer(text, -5);
  EXPECT_TRUE(text.empty());
  *characters = '\0';  // Writable even when empty.
  characters = InspectableStore::ResizeBuffer(text, 4);
  EXPECT_EQ(text, std::string(4, '\0'));
}

// The operations keep the interface's slots, and the store's own two follow
// the destructor.  Itanium C++ ABI (GCC, Clang, MinGW): a pointer to a virtual
// member function holds 1 + the slot's byte offset; the destructor takes two
// slots.
#if defined(__GNUC__)
template <typename Method>
size_t SlotOf(Method method) {
  uintptr_t raw;
  static_assert(sizeof method >= sizeof raw, "unexpected member pointer layout");
  std::memcpy(&raw, &method, sizeof raw);
  return (raw - 1) / sizeof(void*);
}

TEST(RegistryStoreLayout, OperationsKeepTheirSlots) {
  EXPECT_EQ(SlotOf(&ProfileStore::GetInt), 0u);
  EXPECT_EQ(SlotOf(&ProfileStore::GetHex), 1u);
  EXPECT_EQ(SlotOf(&ProfileStore::GetString), 2u);
  EXPECT_EQ(SlotOf(&ProfileStore::SetInt), 3u);
  EXPECT_EQ(SlotOf(&ProfileStore::SetString), 4u);
  EXPECT_EQ(SlotOf(&ProfileStore::GetKeyList), 5u);
  EXPECT_EQ(SlotOf(&ProfileStore::GetKeyNames), 6u);
  EXPECT_EQ(SlotOf(&ProfileStore::GetSectionNames), 7u);
  EXPECT_EQ(SlotOf(&ProfileStore::GetOptions), 8u);
  EXPECT_EQ(SlotOf(&ProfileStore::SetOptions), 9u);
  EXPECT_EQ(SlotOf(&RegistryStore::GetInt), 0u);
  EXPECT_EQ(SlotOf(&RegistryStore::GetSectionNames), 7u);
  EXPECT_EQ(SlotOf(&RegistryStore::GetValue), 12u);  // After the destructor's two.
  EXPECT_EQ(SlotOf(&RegistryStore::SetDword), 13u);
}
#endif

// --- Reading and writing values ---------------------------------------------

TEST_F(RegistryStoreTest, StringsAndIntegersRoundTripAsTextWithoutNul) {
  RegistryStore store(location_, 0, 0);
  EXPECT_EQ(store.SetString("abc", "Name", "Sect"), 4);
  EXPECT_EQ(Stored("Sect", "Name"), std::make_pair(DWORD{REG_SZ}, std::string("abc")));
  std::string out;
  EXPECT_EQ(store.GetString(out, "dflt", "Name", "Sect"), 3);
  EXPECT_EQ(out, "abc");

  EXPECT_EQ(store.SetString("", "Empty", ""), 1);
  EXPECT_EQ(Stored("Sect", "Empty"), std::make_pair(DWORD{REG_SZ}, std::string()));
  EXPECT_EQ(store.GetString(out, "dflt", "", ""), 0);
  EXPECT_EQ(out, "");

  EXPECT_EQ(store.SetInt(42, "n", ""), 3);
  EXPECT_EQ(Stored("Sect", "n"), std::make_pair(DWORD{REG_SZ}, std::string("42")));
  EXPECT_EQ(store.GetInt("", "", 0), 42);
  EXPECT_EQ(store.SetInt(-7, "", ""), 3);
  EXPECT_EQ(store.GetInt("", "", 0), -7);

  EXPECT_EQ(store.GetString(out, "d", "Missing", ""), 1);
  EXPECT_EQ(out, "d");
  out = "kept";
  EXPECT_EQ(store.GetValue(out, nullptr, nullptr, "Missing", ""), 4u);
  EXPECT_EQ(out, "kept");
}

TEST_F(RegistryStoreTest, TextReadsAsASignedClampedNumber) {
  PutText("s", "partial", "12abc");
  PutText("s", "word", "abc");
  PutText("s", "big", "4294967295");
  PutText("s", "neg", "-5");
  PutText("s", "nul",
          std::string("7\0"
                      "9",
                      3));
  PutText("s", "expand", "5", REG_EXPAND_SZ);
  RegistryStore store(location_, 1, 0);
  EXPECT_EQ(store.GetInt("partial", "s", 99), 12);
  EXPECT_EQ(store.GetInt("word", "", 99), 0);
  EXPECT_EQ(store.GetInt("big", "", 99), 2147483647);
  EXPECT_EQ(store.GetInt("neg", "", 99), -5);
  EXPECT_EQ(store.GetInt("nul", "", 99), 7);
  EXPECT_EQ(store.GetInt("expand", "", 99), 99);
  std::string out;
  store.GetString(out, "", "nul", "");
  EXPECT_EQ(out, "7");
  store.GetString(out, "", "expand", "");
  EXPECT_EQ(out, "5");  // Not expanded, but read.
}

TEST_F(RegistryStoreTest, NumbersOfEveryWidth) {
  uint32_t all = 0xFFFFFFFFu;
  Put("s", "dword", REG_DWORD, &all, 4);
  uint64_t big = uint64_t{1} << 40;
  Put("s", "qword", REG_QWORD, &big, 8);
  Put("s", "wide", REG_DWORD, &big, 8);  // Longer than a DWORD: unreadable.
  RegistryStore store(location_, 0, 0);
  std::string out;
  EXPECT_EQ(store.GetInt("dword", "s", 0), -1);
  EXPECT_EQ(store.GetString(out, "", "dword", ""), 10);
  EXPECT_EQ(out, "4294967295");
  EXPECT_EQ(store.GetValue(out, nullptr, nullptr, "qword", ""), 13u);
  EXPECT_EQ(out, "1099511627776");
  EXPECT_EQ(store.GetString(out, "dflt", "qword", ""), 4);
  EXPECT_EQ(store.GetInt("qword", "", 3), 3);
  EXPECT_EQ(store.GetInt("wide", "", 3), 3);
  EXPECT_EQ(store.GetString(out, "dflt", "wide", ""), 4);

  EXPECT_EQ(store.SetDword(7, "seven", ""), 5);
  EXPECT_EQ(Stored("s", "seven"), std::make_pair(DWORD{REG_DWORD}, std::string("\x07\0\0\0", 4)));
  EXPECT_EQ(store.GetInt("", "", 0), 7);
  EXPECT_EQ(store.GetString(out, "", "", ""), 1);
  EXPECT_EQ(out, "7");
  BYTE* data = reinterpret_cast<BYTE*>(&out);
  DWORD size = 99;
  out = "x";
  EXPECT_EQ(store.GetValue(out, &data, &size, "", ""), 1u);
  EXPECT_EQ(out, "7");
  EXPECT_EQ(data, reinterpret_cast<BYTE*>(&out));
  EXPECT_EQ(size, 99u);
}

TEST_F(RegistryStoreTest, RawTypesComeAsNewBuffers) {
  const char binary[10] = {1, 2, 3, 0, 5, 6, 7, 8, 9, 10};
  Put("s", "bin", REG_BINARY, binary, sizeof binary);
  Put("s", "none", REG_NONE, "ab", 2);
  const char multi[] = "one\0two\0";
  Put("s", "multi", REG_MULTI_SZ, multi, sizeof multi);  // With the final NUL.
  RegistryStore store(location_, 0, 0);
  std::string out;

  BYTE* data = nullptr;
  DWORD size = 0;
  EXPECT_EQ(store.GetValue(out, &data, &size, "bin", "s"), 11u);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(std::memcmp(data, binary, 10), 0);
  delete[] data;
  EXPECT_EQ(store.GetValue(out, nullptr, nullptr, "", ""), 11u);
  data = nullptr;
  EXPECT_EQ(store.GetValue(out, &data, nullptr, "", ""), 11u);  // Size-only: no buffer.
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(store.GetString(out, "dflt", "", ""), 4);

  out.clear();
  EXPECT_EQ(store.GetValue(out, &data, &size, "none", ""), 0u);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 2), "ab");
  delete[] data;

  EXPECT_EQ(store.GetValue(out, &data, &size, "multi", ""), sizeof multi + 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string(multi, sizeof multi));
  delete[] data;
  EXPECT_EQ(store.GetString(out, "dflt", "", ""), 4);
}

TEST_F(RegistryStoreTest, DefaultStandsForTheUnnamedValueOnlyInStringOperations) {
  RegistryStore store(location_, 0, 0);
  EXPECT_EQ(store.SetString("unnamed", "(Default)", "s"), 8);
  EXPECT_EQ(Stored("s", nullptr).second, "unnamed");
  EXPECT_EQ(store.SetInt(1, "", ""), 2);  // SetInt: a value named "(Default)".
  EXPECT_EQ(Stored("s", "(Default)").second, "1");
  EXPECT_EQ(Stored("s", nullptr).second, "unnamed");
  std::string out;
  store.GetString(out, "", "(Default)", "");
  EXPECT_EQ(out, "unnamed");
  EXPECT_EQ(store.GetInt("(Default)", "", 0), 1);
  store.GetString(out, "", "(default)", "");  // Another case: the named value.
  EXPECT_EQ(out, "1");
  EXPECT_EQ(store.SetDword(2, "(Default)", ""), 5);
  EXPECT_EQ(Stored("s", "(Default)").first, DWORD{REG_DWORD});
  EXPECT_EQ(Stored("s", nullptr).second, "unnamed");

  uint32_t number = 9;
  Put("s", nullptr, REG_DWORD, &number, 4);
  EXPECT_EQ(store.GetValue(out, nullptr, nullptr, "(Default)", ""), 1u);
  EXPECT_EQ(out, "9");

  int32_t count = 0;
  std::vector<std::string> names = Take(store.GetKeyNames(&count, "s"), &count);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"", "(Default)"}));
}

// --- Listings ---------------------------------------------------------------

TEST_F(RegistryStoreTest, KeyListsFillTheBufferWithNamesAndNuls) {
  PutText("s", "ab", "1");
  PutText("s", "cd", "2");
  PutText("t", "ab", "1");
  PutText("t", "cdef", "2");
  RegistryStore store(location_, 0, 0);
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  int32_t used = store.GetKeyList(buffer, 10, "s");
  EXPECT_EQ(used, 6);
  std::string listed(buffer, 10);
  EXPECT_TRUE(listed == std::string("ab\0cd\0\0\0\0\0", 10) ||
              listed == std::string("cd\0ab\0\0\0\0\0", 10));
  EXPECT_EQ(buffer[10], 'x');
  EXPECT_EQ(store.GetKeyList(buffer, 6, "t"), 5);
  listed.assign(buffer, 6);
  EXPECT_TRUE(listed == std::string("ab\0cd\0", 6) || listed == std::string("cdef\0\0", 6));
  EXPECT_EQ(store.GetKeyList(buffer, 0, ""), 0);

  PutText("u", nullptr, "unnamed");
  EXPECT_EQ(store.GetKeyList(buffer, sizeof buffer, "u"), 1);
  EXPECT_EQ(buffer[0], '\0');
}

TEST_F(RegistryStoreTest, ListsSectionsAndKeysOfTheCurrentSection) {
  PutText("A", "k", "1");
  PutText("A\\deep", "k", "1");
  PutText("B", "k", "1");
  RegistryStore store(location_, 0, 0);
  int32_t count = -1;
  std::vector<std::string> sections = Take(store.GetSectionNames(&count), &count);
  EXPECT_EQ(sections, (std::vector<std::string>{"A", "B"}));

  // Nothing named yet: no key listing, and not the sections in its place.
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(store.GetKeyList(buffer, sizeof buffer, ""), 0);
  EXPECT_EQ(store.GetKeyNames(&count, ""), nullptr);
  EXPECT_EQ(count, 0);

  // A write without a section goes to the location key itself.
  EXPECT_EQ(store.SetString("top", "own", ""), 4);
  EXPECT_EQ(Stored("", "own").second, "top");
  EXPECT_EQ(Take(store.GetKeyNames(&count, ""), &count), (std::vector<std::string>{"own"}));

  EXPECT_EQ(Take(store.GetKeyNames(&count, "A"), &count), (std::vector<std::string>{"k"}));
  EXPECT_EQ(store.GetKeyNames(&count, "missing"), nullptr);
  EXPECT_EQ(count, 0);

  RegistryStore leaf(location_ + "\\B", 0, 0);
  EXPECT_EQ(leaf.GetSectionNames(&count), nullptr);
  EXPECT_EQ(count, 0);
}

TEST_F(RegistryStoreTest, AMissingLocationReadsEmptyAndIsCreatedByAWrite) {
  RegistryStore store(location_ + "\\not\\yet", 0, 0);
  int32_t count = -1;
  EXPECT_EQ(store.GetSectionNames(&count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(store.GetKeyNames(&count, "s"), nullptr);
  EXPECT_EQ(store.GetInt("k", "s", 5), 5);
  EXPECT_EQ(store.SetString("v", "k", "s"), 2);
  EXPECT_EQ(Stored("not\\yet\\s", "k").second, "v");
  EXPECT_EQ(store.GetInt("k", "s", 5), 0);
}

TEST_F(RegistryStoreTest, AReadOnlyStoreRefusesWritesBeforeNamingAnything) {
  PutText("s", "k", "before");
  InspectableStore store(location_, 1, 0);
  std::string out;
  store.GetString(out, "", "k", "s");
  EXPECT_EQ(out, "before");
  EXPECT_EQ(store.SetString("after", "other", "t"), 0);
  EXPECT_EQ(store.SetInt(1, "other", "t"), 0);
  EXPECT_EQ(store.SetDword(1, "other", "t"), 0);
  EXPECT_EQ(store.section, "s");
  EXPECT_EQ(store.key, "k");
  EXPECT_EQ(Stored("s", "k").second, "before");
  EXPECT_EQ(Stored("t", "other").first, 0xFFFFFFFFu);
}

TEST_F(RegistryStoreTest, GetHexReadsAProfileFileAndKeepsTheOpenSection) {
  PutText("S", "K", "from S");
  InspectableStore store(location_, 0, 0);
  std::string out;
  store.GetString(out, "", "other", "S");
  EXPECT_EQ(store.GetHex("K", "T", 5), 5);  // No profile file of that name.
  EXPECT_EQ(store.section, "T");
  EXPECT_EQ(store.GetString(out, "", "", ""), 6);  // K, in the key of S.
  EXPECT_EQ(out, "from S");
}

// --- Failures ---------------------------------------------------------------

// Replaces the value between the store's size query and its data read.
std::function<void()> betweenQueries;
LONG REGISTRY_API QueryThenChange(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type,
                                  LPBYTE data, LPDWORD size) {
  if (data != nullptr && betweenQueries) {
    betweenQueries();
    betweenQueries = nullptr;
  }
  return RegQueryValueExA(key, name, reserved, type, data, size);
}

TEST_F(RegistryStoreTest, AValueThatGrowsBetweenTheQueriesReadsAsMissing) {
  PutText("s", "k", "12");
  RegistryStore store(location_, 0, 0);
  Registry().queryValue = &QueryThenChange;
  auto grow = [this] { PutText("s", "k", "123456789"); };

  betweenQueries = grow;
  EXPECT_EQ(store.GetInt("k", "s", -3), -3);
  PutText("s", "k", "12");
  betweenQueries = grow;
  std::string out;
  EXPECT_EQ(store.GetString(out, "dflt", "", ""), 4);
  EXPECT_EQ(out, "dflt");
  PutText("s", "k", "12");
  betweenQueries = grow;
  out = "old";
  store.GetValue(out, nullptr, nullptr, "", "");
  EXPECT_EQ(out, "");  // A string read without fallback keeps what it read: nothing.

  const char bytes[4] = {1, 2, 3, 4};
  Put("s", "b", REG_BINARY, bytes, 2);
  betweenQueries = [&] { Put("s", "b", REG_BINARY, bytes, 4); };
  BYTE* data = nullptr;
  DWORD size = 0;
  EXPECT_EQ(store.GetValue(out, &data, &size, "b", ""), 3u);
  EXPECT_EQ(size, 0u);  // Not the 4 bytes the registry now needs: the buffer holds 3.
  delete[] data;        // Allocated for the old size; the read itself failed.
}

// The answer for a raw type (its size + 1, or out's length) follows the type
// the size query saw, even when the value has another type by the read.
TEST_F(RegistryStoreTest, ARawValueThatChangesTypeBetweenTheQueriesAnswersAsTheSizeQuerySaw) {
  const char bytes[4] = {1, 2, 3, 4};
  Put("s", "r", REG_BINARY, bytes, 4);
  RegistryStore store(location_, 0, 0);
  Registry().queryValue = &QueryThenChange;
  struct Case {
    DWORD before, after;
    uint32_t result;  // out stays "xy": its length is 2.
  } cases[] = {
      {REG_BINARY, REG_NONE, 5},
      {REG_MULTI_SZ, 0x1234, 5},
      {REG_NONE, REG_BINARY, 2},
      {0x1234, REG_MULTI_SZ, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.before << " -> " << c.after);
    Put("s", "r", c.before, bytes, 4);
    betweenQueries = [&] { Put("s", "r", c.after, bytes, 4); };
    std::string out = "xy";
    BYTE* data = nullptr;
    DWORD size = 0;
    EXPECT_EQ(store.GetValue(out, &data, &size, "r", "s"), c.result);
    EXPECT_EQ(size, 4u);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::memcmp(data, bytes, 4), 0);
    EXPECT_EQ(out, "xy");
    delete[] data;
    EXPECT_EQ(store.GetValue(out, nullptr, nullptr, "r", "s"),
              c.after == REG_BINARY || c.after == REG_MULTI_SZ ? 5u : 2u);
  }
}

TEST_F(RegistryStoreTest, ADeletedSectionKeyFailsQuietly) {
  PutText("s", "k", "v");
  RegistryStore store(location_, 0, 0);
  EXPECT_EQ(store.GetInt("k", "s", 1), 0);
  DeleteTree(HKEY_CURRENT_USER, subkey_);
  EXPECT_EQ(store.GetInt("", "", 1), 1);
  std::string out;
  EXPECT_EQ(store.GetString(out, "d", "", ""), 1);
  int32_t count = -1;
  EXPECT_EQ(store.GetKeyNames(&count, ""), nullptr);
  EXPECT_EQ(count, 0);
  char buffer[4];
  EXPECT_EQ(store.GetKeyList(buffer, sizeof buffer, ""), 0);
  EXPECT_EQ(store.SetString("v", "", ""), 0);
}

}  // namespace
}  // namespace inireg
