// ProfileStore: the settings-store interface over a profile file.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "inireg/profile_store.h"
#include "profile/profile_cache.h"
#include "test_support.h"

namespace inireg {
namespace {

using test_support::Lines;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::WriteFile;

class ProfileStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_support::ResetProfileCache();
    path_ = dir_.File("store.ini");
    WriteFile(path_,
              "[s]\nk=12\nneg=-1\nwrap=4294967295\npartial=12abc\nword=abc\nhex=1F\n"
              "hex0x=0x1F\nquoted=\"a b\"\n[empty]\n[t]\nx=1\ny=2\n");
  }
  void TearDown() override { test_support::ResetProfileCache(); }

  // Takes ownership of a returned list; reads the count only after the call
  // that produced the list has stored it.
  static std::vector<std::string> Take(std::string* names, const int32_t* count) {
    std::vector<std::string> result(names, names + *count);
    delete[] names;
    return result;
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(ProfileStoreTest, SectionAndKeyAreSticky) {
  ProfileStore store(path_);
  EXPECT_EQ(store.GetInt("k", "s", 7), 12);
  EXPECT_EQ(store.GetInt("", "", 7), 12);
  EXPECT_EQ(store.GetInt("x", "t", 7), 1);
  std::string out;
  EXPECT_EQ(store.GetString(out, "d", "", ""), 1);  // Still t and x.
  EXPECT_EQ(out, "1");
  EXPECT_EQ(store.GetInt("", "s", 7), 7);  // s has no x.
}

TEST_F(ProfileStoreTest, IntegersReadAsUnsignedThirtyTwoBits) {
  ProfileStore store(path_);
  EXPECT_EQ(store.GetInt("neg", "s", 7), -1);
  EXPECT_EQ(store.GetInt("wrap", "", 7), -1);
  EXPECT_EQ(store.GetInt("partial", "", 7), 12);
  EXPECT_EQ(store.GetInt("word", "", 7), 0);
  EXPECT_EQ(store.GetInt("missing", "", 7), 7);
  EXPECT_EQ(store.GetHex("hex", "", 7), 31);
  EXPECT_EQ(store.GetHex("hex0x", "", 7), 31);
  EXPECT_EQ(store.GetHex("word", "", 7), 0xABC);
}

TEST_F(ProfileStoreTest, GetStringGivesValueOrDefaultWithItsLength) {
  ProfileStore store(path_);
  std::string out = "previous";
  EXPECT_EQ(store.GetString(out, "dflt", "quoted", "s"), 3);
  EXPECT_EQ(out, "a b");
  EXPECT_EQ(store.GetString(out, "dflt", "missing", ""), 4);
  EXPECT_EQ(out, "dflt");
  EXPECT_EQ(store.GetString(out, "dflt", "k", "nosection"), 4);
  // A name holding a NUL ends there, as it does in the engine's C calls.
  EXPECT_EQ(store.GetString(out, "dflt", "quoted", std::string("s\0x", 3)), 3);
  EXPECT_EQ(out, "a b");
  {
    // So does a path, read before and after its file's record is cached:
    // it names that record and never one of its own.
    ProfileClose(path_.c_str());
    ProfileStore cut(path_ + std::string("\0junk", 5));
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(cut.GetString(out, "dflt", "quoted", "s"), 3);
      EXPECT_EQ(out, "a b");
    }
    for (const std::string& cached : ProfileCachedPaths()) {
      EXPECT_EQ(cached.find('\0'), std::string::npos);
    }
  }

  store.SetOptions(1);
  EXPECT_EQ(store.GetOptions(), 1);
  EXPECT_EQ(store.GetString(out, "", "quoted", "s"), 5);
  EXPECT_EQ(out, "\"a b\"");
}

TEST_F(ProfileStoreTest, GetStringGivesLongValuesWhole) {
  ProfileStore store(path_);
  std::string out;
  for (size_t length : {254u, 255u, 256u, 5000u}) {
    std::string value(length, 'v');
    value.back() = 'e';
    ASSERT_EQ(store.SetString(value, "long", "s"), 1);
    EXPECT_EQ(store.GetString(out, "", "long", "s"), static_cast<int32_t>(length));
    EXPECT_EQ(out, value);
    std::string longDefault(length, 'd');
    EXPECT_EQ(store.GetString(out, longDefault, "missing", "s"), static_cast<int32_t>(length));
    EXPECT_EQ(out, longDefault);
  }
}

TEST_F(ProfileStoreTest, GetStringWithoutSectionOrKeyProducesNothing) {
  ProfileStore fresh(path_);
  std::string out = "previous";
  EXPECT_EQ(fresh.GetString(out, "dflt", "", ""), 0);  // No current section.
  EXPECT_EQ(out, "");
  int32_t count = 0;
  delete[] fresh.GetKeyNames(&count, "t");  // A current section, no current key.
  out = "previous";
  EXPECT_EQ(fresh.GetString(out, "dflt", "", ""), 0);
  EXPECT_EQ(out, "");
}

TEST_F(ProfileStoreTest, WritesFollowTheCurrentSectionAndKey) {
  {
    ProfileStore store(path_);
    EXPECT_EQ(store.SetInt(-5, "n", "new"), 1);
    EXPECT_EQ(store.SetString("  \"quoted\"  ", "q", ""), 1);
    EXPECT_EQ(store.SetString("ignored", "", "t"), 1);  // Key n is current: sets t's n.
    EXPECT_EQ(store.SetString("bad\nvalue", "", ""), 0);
  }
  ProfileStore reader(path_);
  EXPECT_EQ(reader.GetInt("n", "new", 0), -5);
  std::string out;
  reader.GetString(out, "", "q", "new");
  EXPECT_EQ(out, "quoted");
  reader.GetString(out, "", "q", "t");
  EXPECT_EQ(out, "ignored");
}

TEST_F(ProfileStoreTest, AWriteWithoutAKeyDeletesTheSection) {
  ProfileStore noSection(dir_.File("other.ini"));
  EXPECT_EQ(noSection.SetString("v", "", ""), 0);

  {
    ProfileStore store(path_);
    int32_t count = 0;
    delete[] store.GetKeyNames(&count, "t");  // t becomes current; no key is.
    EXPECT_EQ(store.SetString("", "", ""), 1);
  }
  EXPECT_EQ(ReadFile(path_).find("[t]"), std::string::npos);
}

TEST_F(ProfileStoreTest, ListsKeysAndSectionsInFileOrder) {
  ProfileStore store(path_);
  int32_t count = -1;
  EXPECT_EQ(Take(store.GetKeyNames(&count, "t"), &count), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(count, 2);
  // An empty argument lists the current section.
  EXPECT_EQ(Take(store.GetKeyNames(&count, ""), &count), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(store.GetKeyNames(&count, "empty"), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(store.GetKeyNames(&count, "missing"), nullptr);
  EXPECT_EQ(count, 0);

  EXPECT_EQ(Take(store.GetSectionNames(&count), &count),
            (std::vector<std::string>{"s", "empty", "t"}));
  ProfileStore absent(dir_.File("absent.ini"));
  EXPECT_EQ(absent.GetSectionNames(&count), nullptr);
  EXPECT_EQ(count, 0);
}

TEST_F(ProfileStoreTest, GetKeyListFillsNamesWithTerminators) {
  ProfileStore store(path_);
  char buffer[32];
  EXPECT_EQ(store.GetKeyList(buffer, sizeof buffer, "t"), 4);
  EXPECT_EQ(std::string(buffer, 5), std::string("x\0y\0\0", 5));
  ProfileStore sections(path_);
  EXPECT_EQ(sections.GetKeyList(buffer, sizeof buffer, ""), 10);  // No current section.
  EXPECT_EQ(std::string(buffer, 11), std::string("s\0empty\0t\0\0", 11));
  EXPECT_EQ(store.GetKeyList(buffer, sizeof buffer, "missing"), 0);
  EXPECT_EQ(buffer[0], '\0');
}

TEST_F(ProfileStoreTest, StoresOfOnePathShareTheCachedFile) {
#ifdef _WIN32
  std::string other = path_.substr(0, path_.size() - 9) + "STORE.INI";  // Case is ignored.
#else
  std::string other = path_;
#endif
  auto first = std::make_unique<ProfileStore>(path_);
  ProfileStore second(other);
  EXPECT_EQ(first->SetString("shared", "k", "s"), 1);
  std::string out;
  second.GetString(out, "", "k", "s");
  EXPECT_EQ(out, "shared");
  first.reset();  // Writes back and drops the shared copy.
  EXPECT_EQ(ProfileCachedPaths().size(), 0u);
  EXPECT_NE(ReadFile(path_).find("k=shared"), std::string::npos);
}

TEST_F(ProfileStoreTest, SetOptionsWritesBackAndReloadsUnderTheNewOptions) {
  WriteFile(path_, "[s]\na=1\\\n2\n");
  ProfileStore store(path_);
  std::string out;
  store.GetString(out, "", "a", "s");
  EXPECT_EQ(out, "1\\");
  store.SetOptions(1);
  store.GetString(out, "", "a", "s");
  EXPECT_EQ(out, "12");

  EXPECT_EQ(store.SetString("x", "b", "s"), 1);
  store.SetOptions(0);  // Pending changes reach the file first.
  EXPECT_EQ(ReadFile(path_), Lines({"[s]", "a=12", "b=x", ""}));
  EXPECT_EQ(store.GetOptions(), 0);
}

TEST(ProfileStoreDeletion, ThroughTheBaseClassRunsTheDerivedDestructor) {
  static int destroyed = 0;
  struct Derived : ProfileStore {
    Derived() : ProfileStore("") {}
    ~Derived() override { ++destroyed; }
  };
  ProfileStore* store = new Derived;
  delete store;
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
}  // namespace inireg
