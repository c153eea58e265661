// The profile engine: its cache, reads, writes and the writes it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "inireg/profile_engine.h"
#include "inireg/profile_store.h"
#include "platform/file_system.h"
#include "profile/profile_cache.h"
#include "profile/profile_line.h"
#include "profile/profile_records.h"
#include "test_support.h"
#include "text/ascii_case.h"

namespace inireg {
namespace {

// The tag a section's key index keeps for `key`: the high half of its hash.
uint32_t KeyTagOf(const std::string& key) { return HashName(key.data(), key.size()) >> 16; }

using test_support::FaultyFileSystem;
using test_support::Lines;
using test_support::ReadFile;
using test_support::ScopedFileSystem;
using test_support::TempDir;
using test_support::WriteFile;

class ProfileEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { test_support::ResetProfileCache(); }
  void TearDown() override { test_support::ResetProfileCache(); }

  std::string Get(const char* section, const char* key, const std::string& path,
                  const char* defaultText = "<none>") {
    char buffer[256];
    ProfileGetString(section, key, defaultText, buffer, sizeof buffer, path.c_str());
    return buffer;
  }

  // Every section, entry and quote of the cached record, as one text.
  static std::string Snapshot(const std::string& path) {
    ProfileEngineLock lock;
    ProfileFile* file = ProfileOpen(path.c_str());
    std::string text;
    for (const ProfileSection& section : file->sections) {
      text += "[" + section.name.str() + "]\n";
      for (const ProfileEntry& entry : section.entries) {
        text += entry.key.str() + "=" + (entry.quoted ? "Q" : "U") + entry.value.str() + "\n";
      }
    }
    return text;
  }

  TempDir dir_;
};

TEST_F(ProfileEngineTest, WritesReachTheFileWhenItIsClosed) {
  std::string path = dir_.File("a.ini");
  EXPECT_EQ(ProfileWriteString("s", "k", "v", path.c_str()), 1);
  EXPECT_FALSE(test_support::FileExists(path));
  ProfileClose(path.c_str());
  EXPECT_EQ(ReadFile(path), Lines({"[s]", "k=v", ""}));
}

TEST_F(ProfileEngineTest, EvictsTheFileAddedFirstWhateverWasUsedSince) {
  std::vector<std::string> paths;
  for (char name = 'A'; name <= 'F'; ++name) paths.push_back(dir_.File(std::string(1, name)));
  EXPECT_EQ(ProfileWriteString("s", "k", "changed", paths[0].c_str()), 1);
  for (size_t i = 1; i < 5; ++i) {
    Get("s", "k", paths[i]);
    Get("s", "k", paths[0]);  // Using A does not save it from eviction.
  }
  EXPECT_FALSE(test_support::FileExists(paths[0]));
  Get("s", "k", paths[5]);
  EXPECT_EQ(ProfileCachedPaths(),
            (std::vector<std::string>{paths[1], paths[2], paths[3], paths[4], paths[5]}));
  EXPECT_EQ(ReadFile(paths[0]), Lines({"[s]", "k=changed", ""}));  // Written back on eviction.

  EXPECT_EQ(Get("s", "k", paths[0]), "changed");      // Loaded again from disk...
  EXPECT_EQ(ProfileCachedPaths().front(), paths[2]);  // ...evicting B.
  EXPECT_FALSE(test_support::FileExists(paths[1]));   // B was clean: nothing written.
}

// Windows file names ignore case, so its paths do too; elsewhere Case.ini
// and case.ini are two files with two records.
TEST_F(ProfileEngineTest, PathsCompareAsTheSystemsFileNamesDo) {
  std::string path = dir_.File("Case.ini");
  std::string upper = dir_.File("CASE.INI");
  ProfileWriteString("s", "k", "v", path.c_str());
#ifdef _WIN32
  EXPECT_EQ(Get("S", "K", upper), "v");
  EXPECT_EQ(ProfileCachedPaths().size(), 1u);
#else
  EXPECT_EQ(Get("S", "K", upper), "<none>");
  EXPECT_EQ(ProfileWriteString("s", "k", "other", upper.c_str()), 1);
  EXPECT_EQ(ProfileCachedPaths().size(), 2u);
  ProfileClose(path.c_str());
  ProfileClose(upper.c_str());
  EXPECT_EQ(ReadFile(path), Lines({"[s]", "k=v", ""}));
  EXPECT_EQ(ReadFile(upper), Lines({"[s]", "k=other", ""}));
#endif
}

// The whole path names the file: paths longer than 299 characters are not
// cut, and two that agree in their first 299 characters are two files.
TEST_F(ProfileEngineTest, LongPathsAreKeptWhole) {
  std::string folder = dir_.path();
  while (folder.size() < 320) {
    folder += "/" + std::string(60, 'd');
    std::filesystem::create_directory(folder);
  }
  std::string first = folder + "/first.ini";
  std::string second = folder + "/second.ini";
  ASSERT_GT(first.size(), 299u);
  EXPECT_EQ(ProfileWriteString("s", "k", "1", first.c_str()), 1);
  EXPECT_EQ(ProfileWriteString("s", "k", "2", second.c_str()), 1);
  EXPECT_EQ(ProfileCachedPaths(), (std::vector<std::string>{first, second}));
#ifdef _WIN32
  // The A functions stop at MAX_PATH: such a path fails like any file that
  // cannot be written, and nothing lands at a shorter path.
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(ProfileSync(first.c_str()).ok());
  ::testing::internal::GetCapturedStdout();
  EXPECT_FALSE(test_support::FileExists(folder.substr(0, 299)));
  ProfileDiscard(first.c_str());
  ProfileDiscard(second.c_str());
#else
  EXPECT_TRUE(ProfileSync(first.c_str()).ok());
  EXPECT_TRUE(ProfileSync(second.c_str()).ok());
  EXPECT_EQ(ReadFile(first), Lines({"[s]", "k=1", ""}));
  EXPECT_EQ(ReadFile(second), Lines({"[s]", "k=2", ""}));
  EXPECT_FALSE(test_support::FileExists(folder.substr(0, 299)));

  // A file name as long as the system allows.
  std::string longName = dir_.File(std::string(240, 'n') + ".ini");
  EXPECT_EQ(ProfileWriteString("s", "k", "long", longName.c_str()), 1);
  EXPECT_TRUE(ProfileSync(longName.c_str()).ok());
  ProfileClose(longName.c_str());
  EXPECT_EQ(Get("s", "k", longName), "long");
#endif

  // A path the system cannot open fails like any file that cannot be written.
  std::string tooLong = dir_.File(std::string(300, 'x') + ".ini");
  EXPECT_EQ(ProfileWriteString("s", "k", "v", tooLong.c_str()), 1);
  ::testing::internal::CaptureStdout();
  Status status = ProfileSync(tooLong.c_str());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "COULDN'T OPEN FILE\n");
  EXPECT_FALSE(status.ok());
  EXPECT_FALSE(status.message().empty());
  EXPECT_EQ(ProfileCachedPaths().back(), tooLong) << "kept with its change";
  ProfileDiscard(tooLong.c_str());
}

TEST_F(ProfileEngineTest, WritesTrimNamesAndReadsTakeThemAsGiven) {
  std::string path = dir_.File("trim.ini");
  EXPECT_EQ(ProfileWriteString(" s ", " k ", "  v  ", path.c_str()), 1);
  EXPECT_EQ(Get(" s ", "k", path), "<none>");
  EXPECT_EQ(Get("s", "k", path), "v");
  EXPECT_EQ(ProfileWriteString("   ", "k", "v", path.c_str()), 0);
  EXPECT_EQ(ProfileWriteString("", "k", "v", path.c_str()), 0);
}

TEST_F(ProfileEngineTest, TheFirstOfDuplicateKeysIsReadAndReplaced) {
  std::string path = dir_.File("dup.ini");
  WriteFile(path, "[s]\nk=1\nk=2\n");
  EXPECT_EQ(Get("s", "k", path), "1");
  EXPECT_EQ(ProfileWriteString("s", "K", "3", path.c_str()), 1);
  ProfileClose(path.c_str());
  EXPECT_EQ(ReadFile(path), Lines({"[s]", "k=3", "k=2", ""}));
}

TEST_F(ProfileEngineTest, QuotingFollowsTheValueWritten) {
  std::string path = dir_.File("q.ini");
  WriteFile(path, "[s]\nq=\"a b\"\n");
  EXPECT_EQ(ProfileWriteString("s", "q", "", path.c_str()), 1);  // Stays quoted.
  EXPECT_EQ(ProfileWriteString("s", "p", "'x'", path.c_str()), 1);
  EXPECT_EQ(ProfileWriteString("s", "u", "\"y", path.c_str()), 1);
  ProfileClose(path.c_str());
  EXPECT_EQ(ReadFile(path), Lines({"[s]", "q=\"\"", "p=\"x\"", "u=\"y", ""}));
}

TEST_F(ProfileEngineTest, DeletingASectionAlwaysRewritesTheFile) {
  std::string path = dir_.File("del.ini");
  WriteFile(path, "; comment\n[a]\nk=1\n[b]\nk=2\n");
  EXPECT_EQ(ProfileWriteString("missing", nullptr, nullptr, path.c_str()), 1);
  EXPECT_EQ(ProfileWriteString("A", "", nullptr, path.c_str()), 1);
  ProfileClose(path.c_str());
  EXPECT_EQ(ReadFile(path), Lines({"[b]", "k=2", ""}));
}

TEST_F(ProfileEngineTest, ListCopiesCutTheLastNameThatDoesNotFit) {
  std::string path = dir_.File("list.ini");
  WriteFile(path, "[abc]\n[de]\n[s]\nabc=1\ndefgh=2\n[t]\nabc=1\ndefghij=2\n");
  char buffer[20];
  EXPECT_EQ(ProfileGetString(nullptr, nullptr, "", buffer, 8, path.c_str()), 7u);
  EXPECT_EQ(std::string(buffer, 8), std::string("abc\0de\0\0", 8));
  EXPECT_EQ(ProfileGetString("s", "", "", buffer, 10, path.c_str()), 10u);
  EXPECT_EQ(std::string(buffer, 10), std::string("abc\0defgh\0", 10));
  EXPECT_EQ(ProfileGetString("t", "", "", buffer, 10, path.c_str()), 4u);
  EXPECT_EQ(std::string(buffer, 10), std::string("abc\0defgh\0", 10));
  EXPECT_EQ(ProfileGetString("t", "", "", nullptr, 10, path.c_str()), 0u);
  EXPECT_EQ(ProfileGetString("none", "", "dflt", buffer, 10, path.c_str()), 4u);
}

TEST_F(ProfileEngineTest, LengthQueriesAndCutCopies) {
  std::string path = dir_.File("len.ini");
  WriteFile(path, "[s]\nq=\"abc\"\n");
  EXPECT_EQ(ProfileGetString("s", "q", "", nullptr, 0, path.c_str()), 3u);
  EXPECT_EQ(ProfileGetString("s", "x", "dflt", nullptr, 0, path.c_str()), 4u);
  ProfileSetFlags(path.c_str(), 1);  // Quotes show at once.
  EXPECT_EQ(ProfileGetString("s", "q", "", nullptr, 0, path.c_str()), 5u);
  char buffer[4];
  EXPECT_EQ(ProfileGetString("s", "q", "", buffer, sizeof buffer, path.c_str()), 3u);
  EXPECT_STREQ(buffer, "\"ab");
}

TEST_F(ProfileEngineTest, NumbersReadInTheirRadix) {
  std::string path = dir_.File("num.ini");
  WriteFile(path, "[s]\nh=0x10\nn=-1\nbig=4294967295\n");
  EXPECT_EQ(ProfileGetInt("s", "h", 5, path.c_str()), 0);
  EXPECT_EQ(ProfileGetHex("s", "h", 5, path.c_str()), 16);
  EXPECT_EQ(ProfileGetInt("s", "n", 5, path.c_str()), -1);
  EXPECT_EQ(ProfileGetInt("s", "big", 5, path.c_str()), -1);
  EXPECT_EQ(ProfileGetInt("s", "missing", 5, path.c_str()), 5);
  EXPECT_EQ(ProfileGetInt("s", "", 5, path.c_str()), 5);
  EXPECT_EQ(ProfileGetInt("", "h", 5, path.c_str()), 5);
  EXPECT_EQ(ProfileGetInt("s", "h", 5, ""), 5);
}

TEST_F(ProfileEngineTest, NamesByIndexAndSectionLookup) {
  std::string path = dir_.File("names.ini");
  WriteFile(path, "[first]\na=1\nbb=2\n[second]\n");
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(ProfileSectionNameAt(1, buffer, 3, path.c_str()), 6);
  EXPECT_EQ(std::string(buffer, 4), "secx");  // No terminator is added.
  EXPECT_EQ(ProfileSectionNameAt(2, buffer, 8, path.c_str()), 0);
  ProfileEngineLock lock;
  ProfileSection* section = ProfileFindSection("FIRST", path.c_str());
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(ProfileKeyNameAt(1, nullptr, 0, section), 2);
  EXPECT_EQ(ProfileKeyNameAt(2, nullptr, 0, section), 0);
  EXPECT_EQ(ProfileFindSection("third", path.c_str()), nullptr);
}

// A section of up to sixteen keys is searched by 16-bit tags of their
// hashes: keys whose tags are equal, at either end of the sixteen, are told
// apart by the key itself, and the first of a duplicated key wins.
TEST(ProfileKeyIndex, KeysSharingATagAreFoundByName) {
  std::vector<std::string> names;  // Distinct keys with one tag.
  uint32_t tag = KeyTagOf("seed");
  for (int i = 0; names.size() < 4; ++i) {
    std::string name = "k" + std::to_string(i);
    if (KeyTagOf(name) == tag) names.push_back(name);
  }
  for (size_t count : {size_t{4}, size_t{9}, kKeyTableThreshold}) {
    SCOPED_TRACE(count);
    ProfileSection section;
    auto append = [&](const std::string& key, const std::string& value) {
      ProfileEntry entry;
      entry.key = key;
      entry.value = value;
      AppendEntry(&section, std::move(entry));
    };
    // Two tagged keys first, a duplicate in the middle, another and a third
    // tagged key last.
    append(names[0], "first");
    append(names[1], "second");
    while (section.entries.size() + 2 < count) {
      append("filler" + std::to_string(section.entries.size()), "x");
      if (section.entries.size() == count / 2) append(UpperCased(names[0]), "duplicate");
    }
    append(names[1], "late duplicate");
    append(names[2], "third");
    ASSERT_EQ(section.entries.size(), count);
    auto find = [&](const std::string& key) -> std::string {
      ProfileEntry* entry = FindEntry(&section, key.data(), key.size());
      return entry == nullptr ? "(none)" : entry->value.str();
    };
    EXPECT_EQ(find(names[0]), "first");
    EXPECT_EQ(find(names[1]), "second");
    EXPECT_EQ(find(names[2]), "third");
    EXPECT_EQ(find(names[3]), "(none)");
    EXPECT_EQ(find(UpperCased(names[2])), "third");
  }
}

TEST_F(ProfileEngineTest, FlagsChangeOnlyACachedRecord) {
  std::string path = dir_.File("flags.ini");
  WriteFile(path, "[s]\na=1\\\n2\n");
  ProfileSetFlags(path.c_str(), 1);  // Not cached: nothing happens.
  EXPECT_EQ(Get("s", "a", path), "1\\");
  ProfileClose(path.c_str());
  ProfileAddUnloaded(path.c_str());
  ProfileSetFlags(path.c_str(), 1);
  EXPECT_EQ(Get("s", "a", path), "12");  // Loaded under the new flags.
}

// Writes that could not be read back as written are refused and change
// nothing, not even the dirty state.
TEST_F(ProfileEngineTest, RefusesWritesTheFileCannotCarryBack) {
  std::string path = dir_.File("refuse.ini");
  const std::string original = "; kept only if nothing is written\n[s]\nk=1\n";
  WriteFile(path, original);
  struct Write {
    std::string section;
    const char* key;
    std::string value;
  } refused[] = {
      {"s", "  ", "v"},
      {"s", "a=b", "v"},
      {"s", "a\nb", "v"},
      {"s", "a\rb", "v"},
      {"s", "[x]", "v"},
      {"s", "k", "1\n[other]\nk=v"},
      {"s", "k", "a\rb"},
      {"s\nt", "k", "v"},
      {"s\rt", "k", "v"},
      {"s", "k", std::string(32766, 'v')},
      {std::string(32766, 's'), "k", "v"},
  };
  for (const Write& write : refused) {
    EXPECT_EQ(
        ProfileWriteString(write.section.c_str(), write.key, write.value.c_str(), path.c_str()), 0)
        << "key [" << write.key << "] value of " << write.value.size();
  }
  EXPECT_EQ(Get("s", "k", path), "1");
  ProfileClose(path.c_str());
  EXPECT_EQ(ReadFile(path), original);

  // The longest line that can be read back is accepted.
  std::string longest(32767 - 2, 'v');
  EXPECT_EQ(ProfileWriteString("s", "k", longest.c_str(), path.c_str()), 1);
  ProfileClose(path.c_str());
  EXPECT_EQ(Get("s", "k", path, "").size(), 255u);  // Cut by the buffer of Get.
  EXPECT_EQ(ProfileGetString("s", "k", "", nullptr, 0, path.c_str()), longest.size());
}

TEST_F(ProfileEngineTest, ATrailingBackslashIsRefusedOnlyWhileLinesAreJoined) {
  std::string path = dir_.File("join.ini");
  EXPECT_EQ(ProfileWriteString("s", "k", "dir\\", path.c_str()), 1);
  ProfileClose(path.c_str());
  ProfileAddUnloaded(path.c_str());
  ProfileSetFlags(path.c_str(), 1);
  EXPECT_EQ(ProfileWriteString("s", "j", "dir\\", path.c_str()), 0);
  EXPECT_EQ(ProfileWriteString("s", "j", "dir\\x", path.c_str()), 1);
  // Quoted, the line ends in the quote: nothing is joined.
  EXPECT_EQ(ProfileWriteString("s", "q", "\"dir\\\"", path.c_str()), 1);
  EXPECT_EQ(ProfileWriteString("s", "after", "1", path.c_str()), 1);
  ProfileClose(path.c_str());
  ProfileAddUnloaded(path.c_str());
  ProfileSetFlags(path.c_str(), 1);
  EXPECT_EQ(Get("s", "q", path), "\"dir\\\"");
  EXPECT_EQ(Get("s", "after", path), "1");
}

// The command quotes what ValueNeedsQuotes names: so quoted, or bare when
// not named, every value reads back exactly as it was given.
TEST_F(ProfileEngineTest, QuotingWhatValueNeedsQuotesNamesKeepsEveryValue) {
  std::string path = dir_.File("quote.ini");
  const char* values[] = {"plain", " lead", "trail\t", "\"both\"", "'single'", "\"mixed'",
                          "\"",    "",      "in side", "\"\"",     " \"x\" "};
  int index = 0;
  for (const char* value : values) {
    std::string text = value;
    std::string written = ValueNeedsQuotes(text) ? "\"" + text + "\"" : text;
    std::string key = "k" + std::to_string(index++);
    ASSERT_EQ(ProfileWriteString("s", key.c_str(), written.c_str(), path.c_str()), 1);
    ProfileClose(path.c_str());
    EXPECT_EQ(Get("s", key.c_str(), path), text) << "[" << text << "]";
  }
  EXPECT_FALSE(ValueNeedsQuotes("in side"));
  EXPECT_TRUE(ValueNeedsQuotes(" lead"));
  EXPECT_NE(EntryRefusal("a=b", "v", false, false), nullptr);
  EXPECT_EQ(EntryRefusal("k", "dir\\", true, true), nullptr);
  EXPECT_NE(EntryRefusal("k", "dir\\", false, true), nullptr);
}

// The write-back lock: one holder at a time, whether the file exists or not;
// a write-back waits for it; nothing is left in the folder afterwards.
TEST_F(ProfileEngineTest, TheWriteBackLockIsExclusiveAndLeavesNothingBehind) {
  FileSystem* files = DefaultFileSystem();
  std::string path = dir_.File("locked.ini");
  for (bool exists : {false, true}) {
    SCOPED_TRACE(exists ? "the file exists" : "no file yet");
    if (exists) WriteFile(path, "[s]\nk=1\n");
    std::unique_ptr<FileLock> held = files->LockForWriteBack(path, 1000);
    ASSERT_NE(held, nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(files->LockForWriteBack(path, 200), nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
    // Other files are free (on Linux, files being created share their
    // folder's lock).
    if (exists) {
      EXPECT_NE(files->LockForWriteBack(dir_.File("other.ini"), 0), nullptr);
    }

    // A write-back waits while another holds the lock, then goes ahead.
    EXPECT_EQ(ProfileWriteString("s", "k", exists ? "2" : "1", path.c_str()), 1);
    std::thread release([&held] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      held.reset();
    });
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ProfileSync(path.c_str()).ok());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    release.join();
    EXPECT_EQ(ReadFile(path), Lines({"[s]", exists ? "k=2" : "k=1", ""}));
  }
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(dir_.path())) {
    names.push_back(item.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"locked.ini"});
}

TEST_F(ProfileEngineTest, AByteOrderMarkSurvivesWriteBacks) {
  std::string path = dir_.File("bom.ini");
  WriteFile(path, "\xEF\xBB\xBF[first]\nk=1\n");
  EXPECT_EQ(Get("first", "k", path), "1");
  EXPECT_EQ(ProfileWriteString("first", "k", "2", path.c_str()), 1);
  ProfileClose(path.c_str());
  EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF" + Lines({"[first]", "k=2", ""}));
  EXPECT_EQ(Get("first", "k", path), "2");
}

TEST_F(ProfileEngineTest, AnUnreadableFileIsNeverWrittenOver) {
  std::string path = dir_.File("locked.ini");
  WriteFile(path, "[s]\nk=1\n");
  FaultyFileSystem faulty;
  ScopedFileSystem scoped(&faulty);
  faulty.failOpenForReading = true;
  EXPECT_EQ(Get("s", "k", path), "<none>");
  EXPECT_EQ(faulty.readOpens, 10);
  EXPECT_EQ(faulty.pauses, 10);
  EXPECT_EQ(ProfileWriteString("s", "k", "2", path.c_str()), 0);
  EXPECT_EQ(ProfileWriteString("s", nullptr, nullptr, path.c_str()), 0);
  ProfileClose(path.c_str());
  EXPECT_EQ(ReadFile(path), "[s]\nk=1\n");

  // A file that opens but fails while it is read is just as unknown.
  faulty.failOpenForReading = false;
  faulty.failReads = true;
  EXPECT_EQ(Get("s", "k", path), "<none>");
  EXPECT_EQ(ProfileWriteString("s", "k", "2", path.c_str()), 0);
  ProfileClose(path.c_str());
  EXPECT_EQ(ReadFile(path), "[s]\nk=1\n");

  // An absent file is read at once, without tries.
  faulty.readOpens = 0;
  EXPECT_EQ(Get("s", "k", dir_.File("absent.ini")), "<none>");
  EXPECT_EQ(faulty.readOpens, 0);
}

TEST_F(ProfileEngineTest, ChangesAreWrittenBackAtNormalExit) {
  // The child process may run this test body anew (it does on Windows), so the
  // files have names that do not depend on the process.
  std::string folder = std::filesystem::temp_directory_path().string();
  std::string path = folder + "/inireg-exit-test.ini";
  std::string staticPath = folder + "/inireg-exit-test-static.ini";
  std::remove(path.c_str());
  std::remove(staticPath.c_str());
  EXPECT_EXIT(
      {
        ProfileWriteString("s", "k", "cached", path.c_str());
        // A store with static storage duration is destroyed during exit,
        // after the engine's own exit handler has run: it must still work.
        static ProfileStore store(staticPath);
        store.SetString("static", "k", "s");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFile(path), Lines({"[s]", "k=cached", ""}));
  EXPECT_EQ(ReadFile(staticPath), Lines({"[s]", "k=static", ""}));
  std::remove(path.c_str());
  std::remove(staticPath.c_str());
}

// A random sequence of writes, then a write-back and a fresh load, gives back
// exactly the sections, keys, values and quoting held in memory; refused
// writes change nothing.
TEST_F(ProfileEngineTest, RandomWritesSurviveAWriteBackAndReload) {
  std::mt19937 random(20261208);
  const std::vector<std::string> pieces = {"a",  "B",   " ",        "\t", "=",   "[",
                                           "]",  "\"",  "'",        ";",  "\\",  "\n",
                                           "\r", "x y", "\xC3\xA9", "#",  "0x1F"};
  auto randomText = [&](size_t maxPieces) {
    std::string text;
    size_t count = random() % (maxPieces + 1);
    for (size_t i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
    return text;
  };
  for (int round = 0; round < 20; ++round) {
    std::string path = dir_.File("random" + std::to_string(round) + ".ini");
    if (round % 2 == 1) {
      ProfileAddUnloaded(path.c_str());
      ProfileSetFlags(path.c_str(), 1);  // Half the rounds join continuation lines.
    }
    for (int i = 0; i < 200; ++i) {
      std::string section = random() % 4 == 0 ? randomText(3) : std::string(1, 'p' + random() % 4);
      std::string key = random() % 10 == 0 ? std::string() : randomText(3);
      std::string value = randomText(4);
      std::string before = Snapshot(path);
      int32_t result =
          ProfileWriteString(section.c_str(), key.c_str(), value.c_str(), path.c_str());
      if (result == 0) {
        EXPECT_EQ(Snapshot(path), before) << "a refused write changed the record";
      }
    }
    std::string written = Snapshot(path);
    ProfileClose(path.c_str());
    if (round % 2 == 1) {
      ProfileAddUnloaded(path.c_str());
      ProfileSetFlags(path.c_str(), 1);
    }
    EXPECT_EQ(Snapshot(path), written) << "round " << round;
    ProfileClose(path.c_str());
  }
}

// Lookups, writes and deletions against a plain model of the file: lists of
// sections and entries searched front to back for the first name equal
// without regard to case.  Names come in case variants, duplicates and
// lengths on both sides of eight bytes, and sections outgrow sixteen keys.
TEST_F(ProfileEngineTest, FirstMatchesAgreeWithAPlainModel) {
  using Entries = std::vector<std::pair<std::string, std::string>>;
  using Model = std::vector<std::pair<std::string, Entries>>;
  std::mt19937 random(7);
  const std::vector<std::string> sectionNames = {
      "a", "A", "b", "Sect", "SECT", "long section one", "LONG SECTION ONE", "long section two"};
  auto keyName = [&] {
    std::string key = "key" + std::to_string(random() % 24);
    if (random() % 2) key[0] = 'K';
    if (random() % 4 == 0) key += " with a longer tail";
    return key;
  };
  auto equal = [](const std::string& x, const std::string& y) {
    return CompareNoCase(x.c_str(), y.c_str()) == 0;
  };
  auto findSection = [&](Model& model, const std::string& name) -> Entries* {
    for (auto& section : model) {
      if (equal(section.first, name)) return &section.second;
    }
    return nullptr;
  };

  for (int round = 0; round < 10; ++round) {
    Model model;
    std::string text;
    for (int i = 0; i < 12; ++i) {
      model.push_back({sectionNames[random() % sectionNames.size()], {}});
      text += "[" + model.back().first + "]\n";
      for (int k = random() % 30; k > 0; --k) {
        model.back().second.push_back({keyName(), std::to_string(random() % 1000)});
        text += model.back().second.back().first + "=" + model.back().second.back().second + "\n";
      }
    }
    std::string path = dir_.File("model" + std::to_string(round) + ".ini");
    WriteFile(path, text);

    for (int op = 0; op < 400; ++op) {
      const std::string& name = sectionNames[random() % sectionNames.size()];
      std::string key = keyName();
      int kind = random() % 10;
      if (kind < 6) {
        Entries* entries = findSection(model, name);
        std::string expected = "<none>";
        if (entries != nullptr) {
          for (auto& entry : *entries) {
            if (equal(entry.first, key)) {
              expected = entry.second;
              break;
            }
          }
        }
        ASSERT_EQ(Get(name.c_str(), key.c_str(), path), expected) << name << "/" << key;
      } else if (kind < 9) {
        std::string value = std::to_string(op);
        ASSERT_EQ(ProfileWriteString(name.c_str(), key.c_str(), value.c_str(), path.c_str()), 1);
        Entries* entries = findSection(model, name);
        if (entries == nullptr) {
          model.push_back({name, {}});
          entries = &model.back().second;
        }
        auto found = std::find_if(entries->begin(), entries->end(),
                                  [&](const auto& entry) { return equal(entry.first, key); });
        if (found != entries->end()) {
          found->second = value;
        } else {
          entries->push_back({key, value});
        }
      } else if (op % 2 == 0) {
        ASSERT_EQ(ProfileWriteString(name.c_str(), nullptr, nullptr, path.c_str()), 1);
        auto found = std::find_if(model.begin(), model.end(),
                                  [&](const auto& section) { return equal(section.first, name); });
        if (found != model.end()) model.erase(found);
      } else {
        // Deleting one entry, often from sections past sixteen keys.
        for (int repeat = 0; repeat < 3; ++repeat) {
          key = keyName();
          ASSERT_EQ(ProfileDeleteEntry(name.c_str(), key.c_str(), path.c_str()), 1);
          Entries* entries = findSection(model, name);
          if (entries == nullptr) continue;
          auto found = std::find_if(entries->begin(), entries->end(),
                                    [&](const auto& entry) { return equal(entry.first, key); });
          if (found != entries->end()) entries->erase(found);
        }
      }
    }
    std::string expected;
    for (const auto& section : model) {
      expected += "[" + section.first + "]\n";
      for (const auto& entry : section.second) expected += entry.first + "=U" + entry.second + "\n";
    }
    EXPECT_EQ(Snapshot(path), expected) << "round " << round;
    ProfileClose(path.c_str());
  }
}

// Stores on several threads: each thread has its own files and all share one,
// while more files than the cache holds force evictions throughout.
TEST(ProfileEngineThreads, ConcurrentStoresLoseNoWrites) {
  test_support::ResetProfileCache();
  TempDir dir;
  const std::string shared = dir.File("shared.ini");
  constexpr int kThreads = 4;
  constexpr int kWrites = 100;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ProfileStore sharedStore(shared);
      std::vector<std::unique_ptr<ProfileStore>> own;
      for (int f = 0; f < 2; ++f) {
        own.push_back(std::make_unique<ProfileStore>(
            dir.File("t" + std::to_string(t) + "-" + std::to_string(f) + ".ini")));
      }
      std::string section = "thread" + std::to_string(t);
      for (int i = 0; i < kWrites; ++i) {
        std::string key = "k" + std::to_string(i);
        EXPECT_EQ(sharedStore.SetInt(i, key, section), 1);
        EXPECT_EQ(own[i % 2]->SetInt(i, key, "s"), 1);
        int32_t count = 0;
        delete[] sharedStore.GetKeyNames(&count, section);
        EXPECT_EQ(count, i + 1);
        EXPECT_EQ(sharedStore.GetInt(key, section, -1), i);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  test_support::ResetProfileCache();
  for (int t = 0; t < kThreads; ++t) {
    std::string section = "thread" + std::to_string(t);
    EXPECT_EQ(ProfileGetInt(section.c_str(), "k99", -1, shared.c_str()), kWrites - 1);
    std::string own = dir.File("t" + std::to_string(t) + "-1.ini");
    EXPECT_EQ(ProfileGetInt("s", "k99", -1, own.c_str()), kWrites - 1);
  }
  test_support::ResetProfileCache();
}

}  // namespace
}  // namespace inireg
