// The Linux registry's database file among users and processes: files and
// folders another user owns or can change are refused with a reason, paths
// that name no regular file fail at once, many processes can make a fresh
// registry together, and after a clean exit the file alone holds everything.
//
// Cases with two users need root, which acts as both through children that
// change their user ids before running registry_writer; they skip otherwise.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "helpers/registry_writer.h"
#include "inireg/win32_registry.h"
#include "registry_writer_process.h"
#include "test_support.h"

namespace inireg {
namespace {

using ::inireg::test_support::ReadFile;
using ::inireg::test_support::TempDir;
using ::inireg::test_support::WriteFile;

// Two users other than root, for the cases that need them.
constexpr uid_t kOtherUser = 4242;
constexpr uid_t kVictim = 4343;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

uid_t OwnerOf(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

std::vector<std::string> EntriesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// How a run of registry_writer ended.
struct WriterRun {
  int status = 0;  // As waitpid reports it.
  bool timedOut = false;
  std::string out;
  std::string err;
  bool Succeeded() const { return !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0; }
  std::string Describe() const {
    std::string how = timedOut              ? "hung (killed after the time limit)"
                      : WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                            : "exit " + std::to_string(WEXITSTATUS(status));
    return how + "; stderr: " + err;
  }
};

struct WriterOptions {
  uid_t user = 0;         // 0: stay root (or whoever runs the test).
  bool exitOpen = false;  // Exit with the key still open.
  mode_t umask = 022;
  std::string folder;  // Working folder; empty: keep the test's.
  int seconds = 20;
};

// Runs registry_writer DATABASE Software\Test v COUNT in a child, as another
// user when asked, and collects what it prints.  A child that does not end
// within the time limit is killed, so that a hanging open fails the test
// instead of stopping it.
WriterRun RunWriter(const std::string& database, unsigned count,
                    const WriterOptions& options = {}) {
  WriterRun run;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) {
    run.timedOut = true;
    return run;
  }
  pid_t child = fork();
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    close(out[0]);
    close(err[0]);
    umask(options.umask);
    if (!options.folder.empty() && chdir(options.folder.c_str()) != 0) _exit(126);
    if (options.user != 0 &&
        (setgroups(0, nullptr) != 0 || setgid(options.user) != 0 || setuid(options.user) != 0)) {
      _exit(125);
    }
    std::string countText = std::to_string(count);
    const char* argv[] = {REGISTRY_WRITER,
                          database.c_str(),
                          "Software\\Test",
                          "v",
                          countText.c_str(),
                          options.exitOpen ? "--exit-open" : nullptr,
                          nullptr};
    execv(REGISTRY_WRITER, const_cast<char**>(argv));
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
  pollfd ends[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&run.out, &run.err};
  int open = 2;
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      run.timedOut = true;
      kill(child, SIGKILL);
      break;
    }
    if (poll(ends, 2, static_cast<int>(left.count())) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (ends[i].fd < 0 || ends[i].revents == 0) continue;
      char buffer[4096];
      ssize_t got = read(ends[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        texts[i]->append(buffer, static_cast<size_t>(got));
      } else {
        ends[i].fd = -1;
        --open;
      }
    }
  }
  close(out[0]);
  close(err[0]);
  waitpid(child, &run.status, 0);
  return run;
}

bool RunningAsRoot() { return geteuid() == 0; }

// Each case has a folder of its own; the registry points into it.
class RegistryDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRegistryDatabasePath(database_); }
  void TearDown() override { SetRegistryDatabasePath(""); }

  // The status of creating a key in the database at `path`, with a fresh
  // connection.
  static LONG CreateIn(const std::string& path) {
    SetRegistryDatabasePath(path);
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Probe", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status;
  }

  // A registry made and closed at `path`, holding one value.
  static void MakeRegistry(const std::string& path) {
    ASSERT_EQ(ERROR_SUCCESS, CreateIn(path));
    SetRegistryDatabasePath("");
  }

  TempDir folder_;
  std::string database_ = folder_.File("registry.db");
};

TEST_F(RegistryDatabaseTest, PathsThatNameNoRegularFileFailAtOnceAndCreateNothing) {
  std::string work = folder_.File("work");
  ASSERT_EQ(0, mkdir(work.c_str(), 0700));
  std::string dangling = folder_.File("dangling.db");
  ASSERT_EQ(0, symlink(folder_.File("missing/target.db").c_str(), dangling.c_str()));
  std::string chain = folder_.File("chain.db");
  ASSERT_EQ(0, symlink(dangling.c_str(), chain.c_str()));
  std::string loop = folder_.File("loop.db");
  ASSERT_EQ(0, symlink(folder_.File("loop2.db").c_str(), loop.c_str()));
  ASSERT_EQ(0, symlink(loop.c_str(), folder_.File("loop2.db").c_str()));
  std::string fifo = folder_.File("fifo.db");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  std::string folder = folder_.File("folder.db");
  ASSERT_EQ(0, mkdir(folder.c_str(), 0700));

  // Each in a child of its own: the old failures were a stack overflow and
  // a wait without end.
  const std::vector<std::string> paths = {dangling,
                                          chain,
                                          loop,
                                          fifo,
                                          folder,
                                          "/dev/zero",
                                          "/dev/null",
                                          ":memory:",
                                          "file:registry.db",
                                          "FILE::memory:",
                                          "file:registry.db?mode=memory"};
  std::chrono::steady_clock::duration longest{};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    WriterOptions options;
    options.folder = work;
    options.seconds = 15;
    auto start = std::chrono::steady_clock::now();
    WriterRun run = RunWriter(path, 3, options);
    longest = std::max(longest, std::chrono::steady_clock::now() - start);
    EXPECT_TRUE(!run.timedOut && WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1)
        << run.Describe();
    EXPECT_NE(std::string::npos, run.err.find("status 1015")) << run.err;
    EXPECT_EQ("", run.out);  // Not one write reported.
    // The reason names the path and what it is.
    EXPECT_NE(std::string::npos, run.err.find(path)) << run.err;
  }
  std::printf("%zu paths that name no regular file refused; the longest run took %lld ms\n",
              paths.size(),
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()));
  EXPECT_NE(std::string::npos, RunWriter(dangling, 1).err.find("does not exist"));
  EXPECT_NE(std::string::npos, RunWriter(fifo, 1).err.find("a FIFO"));
  EXPECT_NE(std::string::npos, RunWriter(folder, 1).err.find("a folder"));
  EXPECT_NE(std::string::npos, RunWriter(":memory:", 1).err.find("keep nothing"));
  // Nothing was made through the dangling link, nor as junk in the working
  // folder, and the FIFO and the folder are what they were.
  EXPECT_FALSE(test_support::FileExists(folder_.File("missing")));
  EXPECT_TRUE(EntriesIn(work).empty());
  EXPECT_TRUE(EntriesIn(folder).empty());
  EXPECT_TRUE(S_ISFIFO([&] {
    struct stat info {};
    lstat(fifo.c_str(), &info);
    return info.st_mode;
  }()));

  // In this process, the same refusal for the Win32 calls, with the reason.
  EXPECT_EQ(ERROR_REGISTRY_CORRUPT, CreateIn(dangling));
  EXPECT_NE(std::string::npos, RegistryDatabaseError().find("dangling.db"))
      << RegistryDatabaseError();
}

TEST_F(RegistryDatabaseTest, LinksToTheUsersOwnFileAreFollowed) {
  std::string target = folder_.File("real/registry.db");
  MakeRegistry(target);
  std::string link = folder_.File("link.db");
  ASSERT_EQ(0, symlink("real/registry.db", link.c_str()));
  SetRegistryDatabasePath(link);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Probe", 0, KEY_ALL_ACCESS, &key));
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key, "through", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 1));
  // The journal lies beside the file, not beside the link.
  EXPECT_TRUE(test_support::FileExists(target + "-wal"));
  EXPECT_FALSE(test_support::FileExists(link + "-wal"));
  RegCloseKey(key);
  EXPECT_EQ(S_IFLNK, [&] {
    struct stat info {};
    lstat(link.c_str(), &info);
    return info.st_mode & S_IFMT;
  }());
}

// Group or others could write: the file, a journal file, the folder (sticky
// or not) and a folder above it.  Each is refused with ERROR_ACCESS_DENIED
// and a reason that names the fix, the file is left as it was, and the fix
// named makes it usable.
TEST_F(RegistryDatabaseTest, FilesAndFoldersOthersCanWriteAreRefusedWithTheFix) {
  struct Case {
    const char* what;
    std::string database;
    std::string loosened;  // What gets the mode below; its fix is chmod go-w.
    mode_t mode;
  };
  std::vector<Case> cases = {
      {"file writable by all", folder_.File("a/registry.db"), folder_.File("a/registry.db"), 0666},
      {"file writable by its group", folder_.File("b/registry.db"), folder_.File("b/registry.db"),
       0620},
      {"stale log writable by all", folder_.File("c/registry.db"),
       folder_.File("c/registry.db-wal"), 0666},
      {"folder writable by all", folder_.File("d/registry.db"), folder_.File("d"), 0777},
      {"sticky folder writable by all", folder_.File("e/registry.db"), folder_.File("e"), 01777},
      {"folder writable by its group", folder_.File("f/registry.db"), folder_.File("f"), 0770},
      {"folder above writable by all", folder_.File("g/inner/registry.db"), folder_.File("g"),
       0777},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeRegistry(c.database);
    if (c.loosened.size() > 4 && c.loosened.compare(c.loosened.size() - 4, 4, "-wal") == 0) {
      WriteFile(c.loosened, "");
    }
    ASSERT_EQ(0, chmod(c.loosened.c_str(), c.mode));
    std::string before = ReadFile(c.database);
    EXPECT_EQ(ERROR_ACCESS_DENIED, CreateIn(c.database));
    std::string reason = RegistryDatabaseError();
    EXPECT_NE(std::string::npos, reason.find("chmod go-w '" + c.loosened + "'")) << reason;
    SetRegistryDatabasePath("");
    EXPECT_EQ(before, ReadFile(c.database));
    ASSERT_EQ(0, chmod(c.loosened.c_str(), c.mode & ~mode_t{022}));
    EXPECT_EQ(ERROR_SUCCESS, CreateIn(c.database)) << RegistryDatabaseError();
  }
  std::printf("%zu files and folders others can write refused, each usable after the fix\n",
              cases.size());
  // Nothing is made inside a folder that is refused.
  std::string open = folder_.File("open");
  ASSERT_EQ(0, mkdir(open.c_str(), 0700));
  ASSERT_EQ(0, chmod(open.c_str(), 0777));
  EXPECT_EQ(ERROR_ACCESS_DENIED, CreateIn(open + "/new/registry.db"));
  EXPECT_TRUE(EntriesIn(open).empty());
  // A sticky folder open to all (as /tmp) may lie above the database's own.
  std::string shared = folder_.File("shared");
  ASSERT_EQ(0, mkdir(shared.c_str(), 0700));
  ASSERT_EQ(0, chmod(shared.c_str(), 01777));
  EXPECT_EQ(ERROR_SUCCESS, CreateIn(shared + "/mine/registry.db")) << RegistryDatabaseError();
  EXPECT_EQ(0700u, ModeOf(shared + "/mine"));
}

// Files, links and folders of another user, made by root for that user.
TEST_F(RegistryDatabaseTest, FilesAndFoldersOfAnotherUserAreRefused) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root, to own files as another user";
  std::string theirFile = folder_.File("a/registry.db");
  MakeRegistry(theirFile);
  ASSERT_EQ(0, chown(theirFile.c_str(), kOtherUser, kOtherUser));

  std::string theirFolder = folder_.File("b");
  std::string inTheirFolder = theirFolder + "/registry.db";
  MakeRegistry(inTheirFolder);
  ASSERT_EQ(0, chown(theirFolder.c_str(), kOtherUser, kOtherUser));

  std::string theirLog = folder_.File("c/registry.db");
  MakeRegistry(theirLog);
  WriteFile(theirLog + "-shm", "");
  ASSERT_EQ(0, chown((theirLog + "-shm").c_str(), kOtherUser, kOtherUser));

  std::string mine = folder_.File("d/registry.db");
  MakeRegistry(mine);
  std::string theirLink = folder_.File("d/link.db");
  ASSERT_EQ(0, symlink(mine.c_str(), theirLink.c_str()));
  ASSERT_EQ(0, lchown(theirLink.c_str(), kOtherUser, kOtherUser));

  for (const std::string& path : {theirFile, inTheirFolder, theirLog, theirLink}) {
    SCOPED_TRACE(path);
    std::string before = ReadFile(path);
    EXPECT_EQ(ERROR_ACCESS_DENIED, CreateIn(path));
    EXPECT_NE(std::string::npos, RegistryDatabaseError().find("user " + std::to_string(kOtherUser)))
        << RegistryDatabaseError();
    SetRegistryDatabasePath("");
    EXPECT_EQ(before, ReadFile(path));
  }
  EXPECT_EQ(ERROR_SUCCESS, CreateIn(mine));  // The same file, named directly.
  // Nothing is made inside another user's folder.
  EXPECT_EQ(ERROR_ACCESS_DENIED, CreateIn(theirFolder + "/new/registry.db"));
  EXPECT_FALSE(test_support::FileExists(theirFolder + "/new"));
}

// Two real users: the registry another user prepared in a shared folder is
// refused, and the victim's own registry, made under umask 000, keeps
// everything (journals included) from the other user.
TEST_F(RegistryDatabaseTest, AnotherUserCanNeitherPlantNorReadTheRegistry) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root, to run children as two other users";
  ASSERT_EQ(0, chmod(folder_.path().c_str(), 0755));

  std::string shared = folder_.File("shared");
  ASSERT_EQ(0, mkdir(shared.c_str(), 0777));
  ASSERT_EQ(0, chmod(shared.c_str(), 0777));
  std::string planted = shared + "/registry.db";
  WriterOptions attacker;
  attacker.user = kOtherUser;
  attacker.umask = 0;
  // A real registry, planted by the other user and open to all.
  std::string made = folder_.File("made/registry.db");
  MakeRegistry(made);
  WriteFile(planted, ReadFile(made));
  ASSERT_EQ(0, chown(planted.c_str(), kOtherUser, kOtherUser));
  ASSERT_EQ(0, chmod(planted.c_str(), 0666));
  WriterOptions victim;
  victim.user = kVictim;
  victim.umask = 0;
  std::string before = ReadFile(planted);
  WriterRun refused = RunWriter(planted, 5, victim);
  EXPECT_TRUE(WIFEXITED(refused.status) && WEXITSTATUS(refused.status) == 1) << refused.Describe();
  EXPECT_NE(std::string::npos, refused.err.find("status 5:")) << refused.err;
  EXPECT_EQ("", refused.out);
  EXPECT_EQ(before, ReadFile(planted));
  EXPECT_EQ(std::vector<std::string>{"registry.db"}, EntriesIn(shared));

  // The victim's own: a folder of theirs, the registry made under umask 000
  // by a writer that is still running when the other user looks.
  std::string home = folder_.File("home");
  ASSERT_EQ(0, mkdir(home.c_str(), 0700));
  ASSERT_EQ(0, chown(home.c_str(), kVictim, kVictim));
  std::string own = home + "/.config/inireg/registry.db";
  victim.seconds = 2;  // Killed after two seconds of writing.
  WriterRun running = RunWriter(own, 0, victim);
  ASSERT_TRUE(running.timedOut) << running.Describe();
  ASSERT_FALSE(running.out.empty()) << running.Describe();
  for (const std::string& path : {own, own + "-wal", own + "-shm"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(0600u, ModeOf(path));
    EXPECT_EQ(kVictim, OwnerOf(path));
  }
  EXPECT_EQ(0700u, ModeOf(home + "/.config"));
  EXPECT_EQ(0700u, ModeOf(home + "/.config/inireg"));
  // What the other user gets: the database refused, and no way to the files.
  WriterRun intruder = RunWriter(own, 1, attacker);
  EXPECT_TRUE(WIFEXITED(intruder.status) && WEXITSTATUS(intruder.status) == 1)
      << intruder.Describe();
  EXPECT_EQ("", intruder.out);
  // The victim's next run takes its registry as it is.
  victim.seconds = 20;
  WriterRun again = RunWriter(own, 5, victim);
  EXPECT_TRUE(again.Succeeded()) << again.Describe();
}

// Starts registry_writer in a child that waits until the pipe `gate` ends
// before it runs, so that several writers can be let go at the same moment.
// Returns the pipe its reports arrive on.
std::FILE* StartGatedWriter(const int gate[2], const std::string& database,
                            const std::string& prefix, unsigned count, pid_t* pid) {
  int reports[2];
  if (pipe(reports) != 0) return nullptr;
  *pid = fork();
  if (*pid == 0) {
    dup2(reports[1], STDOUT_FILENO);
    close(reports[0]);
    close(reports[1]);
    close(gate[1]);
    char byte;
    while (read(gate[0], &byte, 1) > 0) {
    }
    std::string countText = std::to_string(count);
    const char* argv[] = {REGISTRY_WRITER, database.c_str(),  "Software\\Fresh",
                          prefix.c_str(),  countText.c_str(), nullptr};
    execv(REGISTRY_WRITER, const_cast<char**>(argv));
    _exit(127);
  }
  close(reports[1]);
  return fdopen(reports[0], "r");
}

// Reads the write numbers a writer reports until its pipe ends.
size_t CountReports(std::FILE* pipe) {
  size_t count = 0;
  unsigned number = 0;
  while (std::fscanf(pipe, "%u", &number) == 1) ++count;
  return count;
}

// Rounds start from no file, from a first-version database and from a
// second-version one: whoever comes first makes or upgrades it, and the
// others wait for it.
TEST_F(RegistryDatabaseTest, ManyProcessesMakeOrUpgradeARegistryAtOnce) {
  constexpr int kRounds = 12;
  constexpr int kWriters = 6;
  constexpr unsigned kWrites = 60;
  size_t lost = 0;
  for (int round = 0; round < kRounds; ++round) {
    int version = round % 3;  // 0: no file yet.
    SCOPED_TRACE("round " + std::to_string(round) + ", version " + std::to_string(version));
    std::string folder = folder_.File("fresh" + std::to_string(round));
    std::string database = folder + "/registry.db";
    if (version > 0) {
      ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
      ASSERT_TRUE(
          MakeFirstVersionDatabase(database, version, version == 2 ? kSecondVersionChange : ""));
      ASSERT_EQ(0, chmod(database.c_str(), 0600));
    }
    int gate[2];
    ASSERT_EQ(0, pipe(gate));
    std::vector<pid_t> pids(kWriters);
    std::vector<std::FILE*> pipes(kWriters);
    for (int i = 0; i < kWriters; ++i) {
      pipes[i] = StartGatedWriter(gate, database, "w" + std::to_string(i) + "_", kWrites, &pids[i]);
      ASSERT_NE(nullptr, pipes[i]);
    }
    close(gate[0]);
    close(gate[1]);  // All go.
    for (int i = 0; i < kWriters; ++i) {
      size_t reported = CountReports(pipes[i]);
      std::fclose(pipes[i]);
      int status = 0;
      waitpid(pids[i], &status, 0);
      EXPECT_EQ(kWrites, reported) << "writer " << i;
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "writer " << i << ": " << status;
      lost += kWrites - reported;
    }
    EXPECT_EQ("ok", DatabaseIntegrity(database));
    SetRegistryDatabasePath(database);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Fresh", 0, KEY_READ, &key));
    DWORD count = 0;
    char name[64];
    for (DWORD size = sizeof name; RegEnumValueA(key, count, name, &size, nullptr, nullptr, nullptr,
                                                 nullptr) == ERROR_SUCCESS;
         size = sizeof name) {
      ++count;
    }
    EXPECT_EQ(kWriters * kWrites, count);
    RegCloseKey(key);
    if (version > 0) {
      // What the old database held is there, its key's time kept or begun.
      ASSERT_EQ(ERROR_SUCCESS,
                RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Old", 0, KEY_READ, &key));
      char data[16] = {};
      DWORD size = sizeof data;
      EXPECT_EQ(ERROR_SUCCESS,
                RegQueryValueExA(key, "a", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size));
      EXPECT_STREQ("kept", data);
      FILETIME time{};
      EXPECT_EQ(ERROR_SUCCESS,
                RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, &time));
      uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
      if (version == 2) {
        EXPECT_EQ(130000000000000000u, ticks);
      } else {
        EXPECT_GT(ticks, 130000000000000000u);
      }
      RegCloseKey(key);
    }
  }
  std::printf("made or upgraded registries: %d rounds of %d processes x %u writes, %zu lost\n",
              kRounds, kWriters, kWrites, lost);
}

// The values of Software\Test in the database file alone, copied without its
// journal files; -1 when the key is not there.
long ValuesInCopyOf(const std::string& database, const std::string& copy) {
  WriteFile(copy, ReadFile(database));
  SetRegistryDatabasePath(copy);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return -1;
  long count = 0;
  char name[64];
  for (DWORD size = sizeof name; RegEnumValueA(key, static_cast<DWORD>(count), name, &size, nullptr,
                                               nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       size = sizeof name) {
    ++count;
  }
  RegCloseKey(key);
  SetRegistryDatabasePath("");
  return count;
}

TEST_F(RegistryDatabaseTest, AfterACleanExitTheFileAloneHoldsEveryValue) {
  // SQLite itself copies its log into the file only every 1000 pages, so
  // without a checkpoint at the end most of these would be in the log alone.
  constexpr unsigned kWrites = 300;
  WriterRun run = RunWriter(database_, kWrites);
  ASSERT_TRUE(run.Succeeded()) << run.Describe();
  EXPECT_EQ(kWrites, ValuesInCopyOf(database_, folder_.File("exited.db")));
  // The end of the process alone, with the key still open.
  std::string openAtExit = folder_.File("open-at-exit.db");
  WriterOptions exitOpen;
  exitOpen.exitOpen = true;
  run = RunWriter(openAtExit, kWrites, exitOpen);
  ASSERT_TRUE(run.Succeeded()) << run.Describe();
  EXPECT_EQ(kWrites, ValuesInCopyOf(openAtExit, folder_.File("open-at-exit-copy.db")));

  // In this process: closing the last handle is enough, while the database
  // itself stays open.
  SetRegistryDatabasePath(database_);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  for (unsigned i = 0; i < kWrites; ++i) {
    std::string name = "more" + std::to_string(i);
    std::string data = WriterData(name);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name.c_str(), 0, REG_BINARY,
                                            reinterpret_cast<const BYTE*>(data.data()),
                                            static_cast<DWORD>(data.size())));
  }
  HKEY second = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &second));
  ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(second));
  EXPECT_EQ(2 * kWrites, ValuesInCopyOf(database_, folder_.File("closed.db")));
}

#ifdef INIREG_TOOL
// The command prints the reason, with the fix, on one line.
TEST_F(RegistryDatabaseTest, TheCommandSaysWhatToFix) {
  std::string database = folder_.File("open/registry.db");
  MakeRegistry(database);
  ASSERT_EQ(0, chmod(folder_.File("open").c_str(), 0777));
  std::string command = std::string("'") + INIREG_TOOL + "' --registry '" + database +
                        "' keys 'reg:CU\\Software' Probe 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(nullptr, pipe);
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
  EXPECT_NE(std::string::npos,
            output.find("cannot use the registry: registry database '" + database + "'"))
      << output;
  EXPECT_NE(std::string::npos, output.find("fix with: chmod go-w '" + folder_.File("open") + "'\n"))
      << output;
}
#endif

}  // namespace
}  // namespace inireg
