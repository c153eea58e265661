// Profile files shared with other processes and with people: write-backs
// merge with what others wrote instead of overwriting it.  The other writers
// are real processes (tests/helpers/profile_writer.cpp and the inireg command).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "inireg/profile_engine.h"
#include "inireg/profile_store.h"
#include "profile/profile_cache.h"
#include "test_support.h"

extern char** environ;

namespace inireg {
namespace {

using test_support::FaultyFileSystem;
using test_support::ReadFile;
using test_support::ScopedFileSystem;
using test_support::TempDir;
using test_support::WriteFile;

pid_t Start(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

int Finish(pid_t pid) {
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int RunProgram(const std::vector<std::string>& arguments) { return Finish(Start(arguments)); }

// The keys of section "shared" that a fresh load of the file finds.
int CountKept(const std::string& path, const std::string& prefix, int count) {
  ProfileClose(path.c_str());
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    std::string key = prefix + std::to_string(i);
    if (ProfileGetInt("shared", key.c_str(), -1, path.c_str()) == i) ++kept;
  }
  ProfileClose(path.c_str());
  return kept;
}

class ProfileSharingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_support::ResetProfileCache();
    path_ = dir_.File("shared.ini");
  }
  void TearDown() override { test_support::ResetProfileCache(); }

  std::string Get(const std::string& section, const std::string& key) {
    char buffer[256];
    ProfileGetString(section.c_str(), key.c_str(), "<none>", buffer, sizeof buffer, path_.c_str());
    return buffer;
  }

  TempDir dir_;
  std::string path_;
};

// N processes write distinct keys into one file at once, through a store per
// key (written back as it is destroyed) and through one store each, synced
// after every key.  Every key of every process is kept.
TEST_F(ProfileSharingTest, ProcessesWritingAtOnceKeepEachOthersKeys) {
  constexpr int kProcesses = 4;
  constexpr int kKeys = 40;
  const std::string comment = "; kept by layout-keeping write-backs\r\n";
  for (std::string mode : {"stores", "held", "stores layout", "held layout"}) {
    SCOPED_TRACE(mode);
    bool layout = mode.find(" layout") != std::string::npos;
    std::string kind = mode.substr(0, mode.find(' '));
    WriteFile(path_, comment);
    std::vector<pid_t> writers;
    for (int p = 0; p < kProcesses; ++p) {
      std::vector<std::string> arguments = {PROFILE_WRITER, path_, kind,
                                            "p" + std::to_string(p) + "k", std::to_string(kKeys)};
      if (layout) arguments.push_back("layout");
      writers.push_back(Start(arguments));
    }
    for (pid_t writer : writers) EXPECT_EQ(Finish(writer), 0);
    if (layout) {
      EXPECT_EQ(ReadFile(path_).substr(0, comment.size()), comment);
    }
    int kept = 0;
    for (int p = 0; p < kProcesses; ++p)
      kept += CountKept(path_, "p" + std::to_string(p) + "k", kKeys);
    std::printf("%d processes x %d keys through %s: %d of %d keys kept\n", kProcesses, kKeys,
                mode.c_str(), kept, kProcesses * kKeys);
    EXPECT_EQ(kept, kProcesses * kKeys);
  }
}

#ifdef INIREG_TOOL
// The same through the command: each `set` that exits 0 has its key on
// disk, and none exits otherwise.
TEST_F(ProfileSharingTest, CommandsWritingAtOnceKeepEachOthersKeys) {
  constexpr int kProcesses = 4;
  constexpr int kSets = 50;
  std::vector<pid_t> loops;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failed = 0;
      for (int i = 0; i < kSets; ++i) {
        std::string key = "c" + std::to_string(p) + "k" + std::to_string(i);
        if (RunProgram({INIREG_TOOL, "set", path_, "shared", key, std::to_string(i)}) != 0)
          ++failed;
      }
      _exit(failed);
    }
    loops.push_back(pid);
  }
  for (pid_t loop : loops) EXPECT_EQ(Finish(loop), 0) << "some sets exited with a failure";
  int kept = 0;
  for (int p = 0; p < kProcesses; ++p)
    kept += CountKept(path_, "c" + std::to_string(p) + "k", kSets);
  std::printf("%d processes x %d inireg set: %d of %d keys kept\n", kProcesses, kSets, kept,
              kProcesses * kSets);
  EXPECT_EQ(kept, kProcesses * kSets);
}
#endif

// A holds a store; B (another process) writes between A's writes.  A's
// write-backs keep B's keys, and after its sync A reads them.
TEST_F(ProfileSharingTest, InterleavedWritersSeeAndKeepEachOthersChanges) {
  ProfileStore a(path_);
  EXPECT_EQ(a.SetString("a0", "a0", "shared"), 1);
  EXPECT_TRUE(a.Sync().ok());
  for (int round = 1; round <= 3; ++round) {
    ASSERT_EQ(RunProgram({PROFILE_WRITER, path_, "stores", "b" + std::to_string(round) + "k", "1"}),
              0);
    std::string mine = "a" + std::to_string(round);
    EXPECT_EQ(a.SetString(mine, mine, "shared"), 1);
    EXPECT_EQ(Get("shared", "b" + std::to_string(round) + "k0"), "<none>")
        << "not seen before the sync";
    EXPECT_TRUE(a.Sync().ok());
    EXPECT_EQ(Get("shared", "b" + std::to_string(round) + "k0"), "0") << "seen after the sync";
  }
  ProfileClose(path_.c_str());
  for (int round = 0; round <= 3; ++round) {
    std::string mine = "a" + std::to_string(round);
    EXPECT_EQ(Get("shared", mine), mine);
    if (round > 0) {
      EXPECT_EQ(Get("shared", "b" + std::to_string(round) + "k0"), "0");
    }
  }
}

// Someone edits the file by hand while a program holds it cached: the edit
// is kept by the program's write-back and seen by the program afterwards;
// an edit of a key the program also changed loses to the program's later
// write-back.
TEST_F(ProfileSharingTest, AHandEditWhileCachedIsKeptAndSeen) {
  WriteFile(path_, "[Window]\nWidth=640\nTitle=Main\n");
  ProfileStore store(path_);
  EXPECT_EQ(store.GetInt("Width", "Window", 0), 640);
  WriteFile(path_, "[Window]\nWidth=640\nHeight=999\nTitle=Edited\n");
  EXPECT_EQ(store.SetInt(800, "Width", "Window"), 1);
  EXPECT_EQ(store.SetString("Program", "Title", "Window"), 1);
  EXPECT_TRUE(store.Sync().ok());
  EXPECT_EQ(store.GetInt("Height", "Window", 0), 999);
  EXPECT_EQ(ReadFile(path_), "[Window]\nWidth=800\nHeight=999\nTitle=Program\n\n");
}

// A UTF-16LE file read with continuation lines joined, which the reader
// converts whole: a hand edit between two calls and the keys another
// process writes at the same time are all kept, and so is the joined value.
TEST_F(ProfileSharingTest, AJoinedUtf16FileKeepsHandEditsAndOthersKeys) {
  auto utf16 = [](const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
  };
  const std::u16string text = u"[shared]\r\nlong=a\\\r\nb\u00E9\r\n";
  WriteFile(path_, utf16(text));
  ProfileStore store(path_);
  store.SetOptions(1);
  std::string value;
  store.GetString(value, "", "long", "shared");
  EXPECT_EQ(value, "ab\xC3\xA9");
  WriteFile(path_, utf16(text + u"hand=7\r\n"));
  constexpr int kKeys = 20;
  pid_t writer = Start({PROFILE_WRITER, path_, "held", "p", std::to_string(kKeys), "joined"});
  for (int i = 0; i < kKeys; ++i) {
    EXPECT_EQ(store.SetInt(i, "m" + std::to_string(i), "shared"), 1);
    EXPECT_TRUE(store.Sync().ok());
  }
  EXPECT_EQ(Finish(writer), 0);
  EXPECT_EQ(CountKept(path_, "p", kKeys), kKeys);
  EXPECT_EQ(CountKept(path_, "m", kKeys), kKeys);
  EXPECT_EQ(Get("shared", "hand"), "7");
  EXPECT_EQ(Get("shared", "long"), "ab\xC3\xA9");
}

// Another process's write-back may create the file between the load's
// looking for it and its reading it.  The file was absent when looked for:
// the load gives an empty profile, not an unreadable one (which refuses
// every write), and the write-back keeps what the other process wrote.
TEST_F(ProfileSharingTest, AFileCreatedWhileItIsLoadedIsNotTakenForUnreadable) {
  class CreatedAfterTheCheck : public test_support::ForwardingFileSystem {
   public:
    explicit CreatedAfterTheCheck(std::string path) : path_(std::move(path)) {}
    bool Exists(const std::string& path) override {
      if (path != path_ || created_) return ForwardingFileSystem::Exists(path);
      created_ = true;
      WriteFile(path_, "[s]\nother=1\n");  // Just after the check.
      return false;
    }

   private:
    std::string path_;
    bool created_ = false;
  };
  CreatedAfterTheCheck racing(path_);
  ScopedFileSystem scoped(&racing);
  EXPECT_EQ(ProfileWriteString("s", "mine", "m", path_.c_str()), 1);
  EXPECT_TRUE(ProfileSync(path_.c_str()).ok());
  EXPECT_EQ(ReadFile(path_), "[s]\nother=1\nmine=m\n\n");
}

// An edit in place, at the same size, within one timestamp tick leaves the
// file's identity as it was (simulated: every identity reports one time).
// The contents tell.  A file unchanged for longer than a tick costs one
// identity and no read at a write-back.
TEST_F(ProfileSharingTest, ContentsTellAChangeTheIdentityCannot) {
  FaultyFileSystem faulty;
  ScopedFileSystem scoped(&faulty);
  auto now = std::chrono::system_clock::now().time_since_epoch();
  faulty.reportedTimeNs = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
  WriteFile(path_, "[s]\nk=1\n");
  EXPECT_EQ(ProfileWriteString("s", "mine", "m", path_.c_str()), 1);
  {
    // In place: same inode, same size.
    FILE* file = std::fopen(path_.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::fputs("[s]\nk=2\n", file);
    std::fclose(file);
  }
  EXPECT_TRUE(ProfileSync(path_.c_str()).ok());
  EXPECT_EQ(ReadFile(path_), "[s]\nk=2\nmine=m\n\n");

  // An old file: its identity answers, nothing is read.
  faulty.reportedTimeNs = 0;
  ProfileClose(path_.c_str());
  timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), old, 0), 0);
  EXPECT_EQ(ProfileWriteString("s", "mine", "again", path_.c_str()), 1);
  faulty.identifies = 0;
  faulty.readOpens = 0;
  EXPECT_TRUE(ProfileSync(path_.c_str()).ok());
  EXPECT_EQ(faulty.readOpens, 0);
  EXPECT_EQ(faulty.identifies, 2) << "one before, one after the write";
  EXPECT_EQ(ReadFile(path_), "[s]\nk=2\nmine=again\n\n");
}

// The same key written by two processes: the later write-back wins, in
// either order, and the other keys of both stay.
TEST_F(ProfileSharingTest, TheLaterWriteBackOfOneKeyWins) {
  ProfileStore a(path_);
  EXPECT_EQ(a.SetString("from A", "k", "s"), 1);
  EXPECT_EQ(a.SetString("only A", "a", "s"), 1);
  // B writes k after A changed it in memory, but before A's write-back.
  ASSERT_EQ(RunProgram({PROFILE_WRITER, path_, "stores", "k", "1"}), 0);  // [shared] k0=0
#ifdef INIREG_TOOL
  ASSERT_EQ(RunProgram({INIREG_TOOL, "set", path_, "s", "k", "from B"}), 0);
  EXPECT_TRUE(a.Sync().ok());
  EXPECT_EQ(Get("s", "k"), "from A");  // A wrote back last.
  // Now B writes back last.
  EXPECT_EQ(a.SetString("from A again", "k", "s"), 1);
  EXPECT_TRUE(a.Sync().ok());
  ASSERT_EQ(RunProgram({INIREG_TOOL, "set", path_, "s", "k", "from B again"}), 0);
  EXPECT_TRUE(a.Sync().ok());
  EXPECT_EQ(Get("s", "k"), "from B again");
#else
  EXPECT_TRUE(a.Sync().ok());
  EXPECT_EQ(Get("s", "k"), "from A");
#endif
  EXPECT_EQ(Get("s", "a"), "only A");
  EXPECT_EQ(Get("shared", "k0"), "0");
}

// Deleting one entry, and the deletion replayed onto a file that changed.
TEST_F(ProfileSharingTest, AnEntryDeletionIsReplayedOntoOthersChanges) {
  WriteFile(path_, "[s]\na=1\nb=2\nc=3\n");
  ProfileStore store(path_);
  EXPECT_EQ(store.DeleteKey("b", "s"), 1);
  EXPECT_EQ(store.DeleteKey("missing", ""), 1);  // Sticky section; nothing to delete.
  EXPECT_EQ(store.DeleteKey("", "nosuch"), 1) << "the current key is still \"missing\"";
  std::string out;
  EXPECT_EQ(store.GetString(out, "gone", "b", "s"), 4);
  ASSERT_EQ(RunProgram({PROFILE_WRITER, path_, "stores", "x", "1"}), 0);
  EXPECT_TRUE(store.Sync().ok());
  EXPECT_EQ(ReadFile(path_), "[s]\na=1\nc=3\n\n[shared]\nx0=0\n\n");
  ProfileStore empty(path_);
  EXPECT_EQ(empty.DeleteKey("a", ""), 0) << "no current section";
  EXPECT_EQ(ProfileDeleteEntry("s", "  ", path_.c_str()), 0);
}

// --- The layout-keeping write-back through the engine and stores -----------

// A hand-written file: a byte-order mark, lines before the first header,
// comments, CR LF line ends, odd spacing, a duplicate key.
const char kHandWritten[] =
    "\xEF\xBB\xBF; settings of the example program\r\n"
    "\r\n"
    "[Window]\r\n"
    "  Width =  640   ; pixels\r\n"
    "Title=\"Main\"\r\n"
    "Title=shadowed\r\n"
    "\r\n"
    "# old section, kept as it is\r\n"
    "[Old]\r\n"
    "x=1\r\n"
    "[Last]\r\n"
    "y = 2\r\n";

TEST_F(ProfileSharingTest, LayoutModeChangesOnlyTheLinesOfItsChanges) {
  WriteFile(path_, kHandWritten);
  ProfileStore store(path_);
  store.SetKeepLayout(true);
  EXPECT_TRUE(store.Sync().ok());
  EXPECT_EQ(ReadFile(path_), kHandWritten) << "nothing changed: nothing rewritten";
  EXPECT_EQ(store.SetInt(800, "Width", "Window"), 1);
  EXPECT_EQ(store.SetString("Main window", "Title", ""), 1);
  EXPECT_EQ(store.SetString("1", "Height", ""), 1);
  EXPECT_EQ(store.DeleteKey("y", "Last"), 1);
  EXPECT_EQ(ProfileWriteString("Old", nullptr, nullptr, path_.c_str()), 1);  // Deletes the section.
  EXPECT_TRUE(store.Sync().ok());
  std::string written = ReadFile(path_);
  EXPECT_EQ(written.substr(0, 47), std::string(kHandWritten).substr(0, 47))
      << "mark, comment, blank line";
  EXPECT_NE(written.find("Title=shadowed\r\nHeight=1\r\n"), std::string::npos) << written;
  EXPECT_EQ(written.find("[Old]"), std::string::npos) << written;
  EXPECT_EQ(written.find("y = 2"), std::string::npos) << written;
  EXPECT_NE(written.find("[Last]\r\n"), std::string::npos) << written;
  EXPECT_EQ(written.find("640"), std::string::npos) << written;
  EXPECT_EQ(store.GetInt("Width", "Window", 0), 800);
  std::string title;
  store.GetString(title, "", "Title", "Window");
  EXPECT_EQ(title, "Main window");
  // Every line of the original that no change named is still there, in order.
  std::vector<std::string> untouched = {"\xEF\xBB\xBF; settings of the example program\r\n",
                                        "[Window]\r\n", "Title=shadowed\r\n", "[Last]\r\n"};
  size_t from = 0;
  for (const std::string& line : untouched) {
    size_t at = written.find(line, from);
    EXPECT_NE(at, std::string::npos) << line;
    if (at != std::string::npos) from = at + line.size();
  }
}

// The mode belongs to the store: it holds after the engine evicted and
// reloaded the file, and it merges with a hand edit made meanwhile.
TEST_F(ProfileSharingTest, LayoutModeSurvivesEvictionAndMergesHandEdits) {
  WriteFile(path_, "; comment\n[s]\na = 1\n");
  ProfileStore store(path_);
  store.SetKeepLayout(true);
  EXPECT_EQ(store.GetInt("a", "s", 0), 1);
  for (int i = 0; i < 5; ++i)
    ProfileGetInt("s", "k", 0, dir_.File("other" + std::to_string(i)).c_str());
  EXPECT_EQ(ProfileCachedPaths().front(), dir_.File("other0")) << "the file was evicted";
  WriteFile(path_, "; comment\n[s]\na = 1\n; an admin's note\nb=2\n");
  EXPECT_EQ(store.SetInt(3, "a", "s"), 1);
  WriteFile(path_, "; comment\n[s]\na = 1\n; an admin's note\nb=2\nc=4\n");  // While cached.
  EXPECT_TRUE(store.Sync().ok());
  EXPECT_EQ(ReadFile(path_), "; comment\n[s]\na = 3\n; an admin's note\nb=2\nc=4\n");
  EXPECT_EQ(store.GetInt("c", "s", 0), 4);
}

}  // namespace
}  // namespace inireg
