// Crash safety on real processes, and write-backs that fail part way.
//
// A writer killed with SIGKILL at random moments must leave a profile file
// holding exactly one of the versions it wrote, and a registry database that
// opens, passes SQLite's integrity check and holds every write the writer
// reported done.  A write-back that fails (at open, half way, at the flush, at
// the rename, on a full disk) through any path of the engine must leave the
// file on disk as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "helpers/registry_writer.h"
#include "inireg/profile_engine.h"
#include "inireg/profile_store.h"
#include "inireg/win32_registry.h"
#include "profile/profile_cache.h"
#include "registry_writer_process.h"
#include "test_support.h"

namespace inireg {
namespace {

using test_support::FaultyFileSystem;
using test_support::ReadFile;
using test_support::ScopedFileSystem;
using test_support::TempDir;
using test_support::WriteFile;
using Clock = std::chrono::steady_clock;

void SleepMicroseconds(long microseconds) {
  timespec pause{microseconds / 1000000, (microseconds % 1000000) * 1000};
  while (nanosleep(&pause, &pause) != 0) {
  }
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Files in `folder` other than `keep`: temporary files of killed write-backs.
std::vector<std::string> Leftovers(const std::string& folder, const std::string& keep) {
  std::vector<std::string> found;
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    if (item.path().string() != keep) found.push_back(item.path().string());
  }
  return found;
}

// --- A profile write-back killed at random moments --------------------------

constexpr int kEntries = 32;
constexpr size_t kValueLength = 32000;  // 32 entries: about 1 MB per version.

// Sets every entry of the file to a run of `letter` and writes it back.
void WriteVersion(const std::string& path, char letter) {
  const std::string value(kValueLength, letter);
  for (int i = 0; i < kEntries; ++i) {
    std::string key = "key" + std::to_string(i);
    if (ProfileWriteString("data", key.c_str(), value.c_str(), path.c_str()) != 1) _exit(3);
  }
  ProfileClose(path.c_str());
}

TEST(ProfileCrashTest, AKilledWriteBackLeavesOneWholeVersion) {
  test_support::ResetProfileCache();
  TempDir dir;
  const std::string path = dir.File("crash.ini");
  // The two versions, as the engine itself writes them.
  WriteVersion(path, 'b');
  const std::string versionB = ReadFile(path);
  WriteVersion(path, 'a');
  const std::string versionA = ReadFile(path);
  ASSERT_GT(versionA.size(), 1000000u);
  ASSERT_EQ(versionA.size(), versionB.size());

  // Kills are spread over about three rounds of the child's loop (a load, 32
  // writes and a write-back), so they land in every phase of it.
  auto start = Clock::now();
  WriteVersion(path, 'b');
  WriteVersion(path, 'a');
  long round =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count() / 2;
  long window = 3 * round + 1000;

  std::mt19937 random(20261208);
  int sawA = 0, sawB = 0, midWriteBack = 0;
  constexpr int kKills = 200;
  for (int kill = 0; kill < kKills; ++kill) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) WriteVersion(path, i % 2 == 0 ? 'b' : 'a');
    }
    SleepMicroseconds(static_cast<long>(random() % static_cast<unsigned long>(window)));
    ::kill(child, SIGKILL);
    int status = WaitFor(child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself, status " << status;

    const std::string contents = ReadFile(path);
    bool isA = contents == versionA, isB = contents == versionB;
    ASSERT_TRUE(isA || isB) << "after kill " << kill << " the file holds " << contents.size()
                            << " bytes that are neither version";
    sawA += isA;
    sawB += isB;
    std::vector<std::string> leftovers = Leftovers(dir.path(), path);
    if (!leftovers.empty()) ++midWriteBack;
    for (const std::string& leftover : leftovers) std::remove(leftover.c_str());
  }
  std::printf(
      "kills: %d, file held version A %d times and B %d times, %d kills during a write-back\n",
      kKills, sawA, sawB, midWriteBack);
  // The kills must have caught the writer in both versions and inside
  // write-backs, or the test proved nothing.
  EXPECT_GT(sawA, 0);
  EXPECT_GT(sawB, 0);
  EXPECT_GT(midWriteBack, 0);
}

// --- A registry writer killed at random moments -----------------------------

TEST(RegistryCrashTest, AKilledWriterLosesNoReportedWrite) {
  TempDir dir;
  const std::string database = dir.File("registry.db");
  std::mt19937 random(20261209);
  std::vector<std::string> reported;  // Every write reported, all rounds.
  int killedBeforeAnyWrite = 0;
  constexpr int kKills = 100;
  for (int round = 0; round < kKills; ++round) {
    pid_t writer = 0;
    std::FILE* reports = StartRegistryWriter(database, "Software\\Crash",
                                             "r" + std::to_string(round) + "-", 0, &writer);
    ASSERT_NE(reports, nullptr);
    // From before the database is opened to a hundred writes or more in.
    SleepMicroseconds(static_cast<long>(random() % 30000));
    kill(writer, SIGKILL);
    unsigned number = 0;
    size_t before = reported.size();
    while (std::fscanf(reports, "%u", &number) == 1) {
      reported.push_back("r" + std::to_string(round) + "-" + std::to_string(number));
    }
    std::fclose(reports);
    int status = WaitFor(writer);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the writer ended by itself, status " << status;
    if (reported.size() == before) ++killedBeforeAnyWrite;

    ASSERT_EQ(DatabaseIntegrity(database), "ok") << "after kill " << round;
    if (reported.empty()) continue;
    // A fresh connection, so that the check reads what is on disk.
    SetRegistryDatabasePath(database);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Crash", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    size_t lost = 0;
    for (const std::string& name : reported) {
      char data[512];
      DWORD size = sizeof data;
      if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                           &size) != ERROR_SUCCESS ||
          std::string(data, size) != WriterData(name)) {
        ++lost;
      }
    }
    RegCloseKey(key);
    SetRegistryDatabasePath("");
    ASSERT_EQ(lost, 0u) << "after kill " << round << " of " << reported.size()
                        << " reported writes";
  }
  std::printf("kills: %d, reported writes: %zu, lost: 0, kills before the first write: %d\n",
              kKills, reported.size(), killedBeforeAnyWrite);
  // Most kills must land among writes, or the test proved little.
  EXPECT_GT(reported.size(), static_cast<size_t>(kKills));
}

// --- Write-backs that fail ---------------------------------------------------

class WriteBackFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_support::ResetProfileCache();
    path_ = dir_.File("keep.ini");
    WriteFile(path_, original_);
  }
  void TearDown() override { test_support::ResetProfileCache(); }

  // Runs `action` and returns what it printed.
  template <typename Action>
  static std::string Printed(Action action) {
    ::testing::internal::CaptureStdout();
    action();
    return ::testing::internal::GetCapturedStdout();
  }

  // Loads five other files, which evicts the file added first.
  void EvictWithOthers() {
    for (int i = 0; i < 5; ++i) {
      std::string other = dir_.File("other" + std::to_string(i) + ".ini");
      ProfileGetInt("s", "k", 0, other.c_str());
    }
  }

  TempDir dir_;
  std::string path_;
  const std::string original_ = "; a comment the engine would drop\n[s]\nk=1\n";
  FaultyFileSystem faulty_;
};

// Each way a write-back can break, set on `faulty`.
struct Fault {
  const char* name;
  void (*set)(FaultyFileSystem*);
};
const Fault kFaults[] = {
    {"no file can be opened",
     [](FaultyFileSystem* f) {
       f->failTemporary = true;
       f->failOpenForWriting = true;
     }},
    {"the disk fills half way", [](FaultyFileSystem* f) { f->writeLimit = 20; }},
    {"the disk is full", [](FaultyFileSystem* f) { f->writeLimit = 0; }},
    {"the flush fails", [](FaultyFileSystem* f) { f->failSync = true; }},
    {"the rename fails", [](FaultyFileSystem* f) { f->failReplace = true; }},
};

TEST_F(WriteBackFaultTest, AFailedEvictionLeavesTheFileAsItWas) {
  for (const Fault& fault : kFaults) {
    SCOPED_TRACE(fault.name);
    FaultyFileSystem faulty;
    ScopedFileSystem scoped(&faulty);
    EXPECT_EQ(ProfileWriteString("s", "k", "a much longer value than before", path_.c_str()), 1);
    fault.set(&faulty);
    EXPECT_EQ(Printed([&] { EvictWithOthers(); }), "COULDN'T OPEN FILE\n");
    EXPECT_EQ(ReadFile(path_), original_);
    EXPECT_EQ(Leftovers(dir_.path(), path_).size(), 0u) << "a temporary file was left behind";
    // The changed file stayed cached, with its change; a clean one left.
    std::vector<std::string> cached = ProfileCachedPaths();
    EXPECT_EQ(cached.size(), 5u);
    EXPECT_EQ(cached.front(), path_);
    char value[64];
    ProfileGetString("s", "k", "", value, sizeof value, path_.c_str());
    EXPECT_STREQ(value, "a much longer value than before");
    // The next write-back, with the fault gone, lands it.
    SetFileSystemForTesting(nullptr);
    test_support::ResetProfileCache();
    EXPECT_EQ(ReadFile(path_),
              test_support::Lines({"[s]", "k=a much longer value than before", ""}));
    WriteFile(path_, original_);
  }
}

// A record whose write-back keeps failing stays cached with its changes for
// as long as it fails, whatever else is loaded; when every record holds
// unsaved changes the cache grows past five rather than lose any.
TEST_F(WriteBackFaultTest, RecordsWithUnsavedChangesOutstayTheCapacity) {
  FaultyFileSystem faulty;
  ScopedFileSystem scoped(&faulty);
  std::vector<std::string> paths;
  for (int i = 0; i < 7; ++i) {
    paths.push_back(dir_.File("dirty" + std::to_string(i) + ".ini"));
    EXPECT_EQ(ProfileWriteString("s", "k", std::to_string(i).c_str(), paths.back().c_str()), 1);
    faulty.failReplace = true;  // Every write-back from now on fails.
  }
  std::string printed = Printed([&] { EvictWithOthers(); });
  EXPECT_NE(printed.find("COULDN'T OPEN FILE"), std::string::npos);
  std::vector<std::string> cached = ProfileCachedPaths();
  EXPECT_EQ(cached.size(), 7u + 1u) << "seven unsaved records and the file just loaded";
  for (const std::string& path : paths) {
    EXPECT_NE(std::find(cached.begin(), cached.end(), path), cached.end()) << path;
  }
  faulty.failReplace = false;
  for (int i = 0; i < 7; ++i) {
    EXPECT_TRUE(ProfileSync(paths[i].c_str()).ok());
    EXPECT_EQ(ReadFile(paths[i]),
              test_support::Lines({"[s]", ("k=" + std::to_string(i)).c_str(), ""}));
  }
}

TEST_F(WriteBackFaultTest, AFailedStoreWriteBackLeavesTheFileAsItWas) {
  for (const Fault& fault : kFaults) {
    SCOPED_TRACE(fault.name);
    FaultyFileSystem faulty;
    ScopedFileSystem scoped(&faulty);
    std::string printed = Printed([&] {
      ProfileStore store(path_);
      EXPECT_EQ(store.SetString("changed", "k", "s"), 1);
      EXPECT_EQ(store.SetInt(7, "new", "t"), 1);
      fault.set(&faulty);
    });
    EXPECT_EQ(printed, "COULDN'T OPEN FILE\n");
    EXPECT_EQ(ReadFile(path_), original_);
    EXPECT_EQ(Leftovers(dir_.path(), path_).size(), 0u) << "a temporary file was left behind";
    // The store is gone, its changes are not: a sync without the fault
    // writes them, and reports it.
    {
      ProfileStore again(path_);
      fault.set(&faulty);
      Status failed = Status::Ok();
      EXPECT_EQ(Printed([&] { failed = again.Sync(); }), "COULDN'T OPEN FILE\n");
      EXPECT_FALSE(failed.ok());
      EXPECT_FALSE(failed.message().empty());
      SetFileSystemForTesting(nullptr);
      EXPECT_TRUE(again.Sync().ok());
      EXPECT_EQ(ReadFile(path_), test_support::Lines({"[s]", "k=changed", "", "[t]", "new=7", ""}));
    }
    WriteFile(path_, original_);
    test_support::ResetProfileCache();
  }
}

// Sync reports every way a write-back can fail, the lock included, and keeps
// the changes for the next try.
TEST_F(WriteBackFaultTest, SyncReportsWhyAWriteBackFailed) {
  struct Case {
    const char* name;
    void (*set)(FaultyFileSystem*);
    const char* says;
  } cases[] = {
      {"the lock is held", [](FaultyFileSystem* f) { f->failLock = true; }, "lock"},
      {"no file can be opened",
       [](FaultyFileSystem* f) {
         f->failTemporary = true;
         f->failOpenForWriting = true;
       },
       "could be opened"},
      {"the disk is full", [](FaultyFileSystem* f) { f->writeLimit = 0; }, "disk full"},
      {"the rename fails", [](FaultyFileSystem* f) { f->failReplace = true; }, "renamed"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    FaultyFileSystem faulty;
    ScopedFileSystem scoped(&faulty);
    ProfileStore store(path_);
    EXPECT_EQ(store.SetString(test.name, "k", "s"), 1);
    test.set(&faulty);
    Status status = Status::Ok();
    EXPECT_EQ(Printed([&] { status = store.Sync(); }), "COULDN'T OPEN FILE\n");
    EXPECT_FALSE(status.ok());
    EXPECT_NE(status.message().find(test.says), std::string::npos) << status.message();
    EXPECT_EQ(ReadFile(path_), original_);
    SetFileSystemForTesting(nullptr);
    EXPECT_TRUE(store.Sync().ok());
    EXPECT_EQ(ReadFile(path_),
              test_support::Lines({"[s]", (std::string("k=") + test.name).c_str(), ""}));
    WriteFile(path_, original_);
    test_support::ResetProfileCache();
  }
}

TEST_F(WriteBackFaultTest, AFailedExitFlushKeepsTheChangesForTheNextOne) {
  ProfileStore store(path_);
  EXPECT_EQ(store.SetString("changed", "k", "s"), 1);
  {
    FaultyFileSystem faulty;
    ScopedFileSystem scoped(&faulty);
    faulty.writeLimit = 10;
    EXPECT_EQ(Printed([] { ProfileFlushAll(); }), "COULDN'T OPEN FILE\n");
    EXPECT_EQ(ReadFile(path_), original_);
  }
  // The disk has room again: the change is still pending and now lands.
  ProfileFlushAll();
  EXPECT_EQ(ReadFile(path_), test_support::Lines({"[s]", "k=changed", ""}));
}

TEST_F(WriteBackFaultTest, AnUnreadableFileIsNeitherChangedNorWrittenBackByStoresOrEviction) {
  FaultyFileSystem faulty;
  ScopedFileSystem scoped(&faulty);
  faulty.failReads = true;
  {
    ProfileStore store(path_);
    EXPECT_EQ(store.SetString("changed", "k", "s"), 0);
    EXPECT_EQ(store.SetString("", "", "s"), 0);  // Deleting the section is a write too.
    std::string out;
    EXPECT_EQ(store.GetString(out, "default", "k", "s"), 7);
    faulty.failReads = false;
    EvictWithOthers();  // The unreadable record leaves the cache unwritten...
  }
  EXPECT_EQ(ReadFile(path_), original_);
  EXPECT_EQ(ProfileGetInt("s", "k", 0, path_.c_str()), 1);  // ...and is read anew.
}

}  // namespace
}  // namespace inireg
