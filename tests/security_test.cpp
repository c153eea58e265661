// Profile files among several users of one machine (Linux): nobody else
// reads a write-back's temporary file, replaces a file through a write-back
// that its caller could not write, or redirects a write-back with a planted
// link; FIFOs, devices and folders never hang a load or get written; names of
// any length get an atomic write-back; leftovers of killed writers go away.
//
// Tests that need two users run as root and act as other users in forked
// children (numeric ids need no account); they skip when not run as root.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "inireg/profile_engine.h"
#include "inireg/profile_store.h"
#include "platform/link_resolution.h"
#include "platform/temporary_files.h"
#include "profile/profile_writer.h"
#include "test_support.h"

namespace inireg {
namespace {

using test_support::ReadFile;
using test_support::TempDir;
using test_support::WriteFile;

constexpr uid_t kVictim = 4242;
constexpr uid_t kOther = 4243;
constexpr uid_t kThird = 4244;
constexpr gid_t kTeam = 4300;

#define SKIP_UNLESS_ROOT() \
  if (geteuid() != 0) GTEST_SKIP() << "acting as two users needs root; skipped"

struct stat StatOf(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) info.st_mode = 0;
  return info;
}

bool IsLink(const std::string& path) { return S_ISLNK(StatOf(path).st_mode); }

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Describes a child's end for failure messages.
std::string Ending(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    return WTERMSIG(status) == SIGALRM ? std::string("hung (killed by the alarm)")
                                       : "signal " + std::to_string(WTERMSIG(status));
  }
  return "status " + std::to_string(status);
}

// Starts `body` in a child process as user and group `id` with the extra
// `groups` (as root; -1 stays the caller) under an alarm; the child's exit
// code is what `body` returns.
pid_t Spawn(uid_t id, std::vector<gid_t> groups, const std::function<int()>& body,
            unsigned alarmSeconds = 60) {
  std::fflush(stdout);
  pid_t child = fork();
  if (child != 0) return child;
  alarm(alarmSeconds);
  if (id != static_cast<uid_t>(-1)) {
    if (setgroups(groups.size(), groups.data()) != 0 || setresgid(id, id, id) != 0 ||
        setresuid(id, id, id) != 0) {
      _exit(120);
    }
  }
  int code = body();
  std::fflush(stdout);
  _exit(code);
}

int RunAs(uid_t id, std::vector<gid_t> groups, const std::function<int()>& body,
          unsigned alarmSeconds = 60) {
  return WaitFor(Spawn(id, std::move(groups), body, alarmSeconds));
}

void Own(const std::string& path, uid_t owner, gid_t group, mode_t mode) {
  ASSERT_EQ(lchown(path.c_str(), owner, group), 0) << path;
  if (!IsLink(path)) {
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
  }
}

// Sets one value through a store and lets the store write it back.
// 0: the write was accepted; 1: it was refused.
int WriteThroughStore(const std::string& path, const std::string& value, bool keepLayout = false) {
  ProfileStore store(path);
  store.SetKeepLayout(keepLayout);
  return store.SetString(value, "k", "s") == 1 ? 0 : 1;
}

std::vector<std::string> TemporaryFilesIn(const std::string& folder) {
  std::vector<std::string> found;
  if (DIR* listing = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(listing)) {
      if (std::strncmp(entry->d_name, ".inireg-", 8) == 0) found.push_back(entry->d_name);
    }
    closedir(listing);
  }
  return found;
}

class SecurityTest : public ::testing::Test {
 protected:
  void SetUp() override { test_support::ResetProfileCache(); }
  void TearDown() override { test_support::ResetProfileCache(); }
  TempDir dir_;
};

// --- Temporary files ---------------------------------------------------------

// Watches `folder` as another user until `stop` closes, opening every entry
// but `target` for reading (and, when `tryWriting`, for writing).  Reports
// "seen opened written" through `report`.
int Watch(const std::string& folder, const std::string& target, int stop, int report,
          bool tryWriting) {
  std::set<std::string> seen;
  long opened = 0, written = 0;
  pollfd stopped{stop, POLLIN, 0};
  while (poll(&stopped, 1, 0) == 0) {
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) return 2;
    while (const dirent* entry = readdir(listing)) {
      std::string name = entry->d_name;
      if (name == "." || name == ".." || name == target) continue;
      seen.insert(name);
      std::string path = folder + "/" + name;
      int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
      if (fd >= 0) {
        ++opened;
        close(fd);
      }
      if (tryWriting) {
        fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
          ++written;
          close(fd);
        }
      }
    }
    closedir(listing);
  }
  char line[96];
  int length = std::snprintf(line, sizeof line, "%zu %ld %ld", seen.size(), opened, written);
  return write(report, line, static_cast<size_t>(length)) == length ? 0 : 3;
}

TEST_F(SecurityTest, NoOtherUserCanOpenATemporaryFileWhateverTheUmask) {
  SKIP_UNLESS_ROOT();
  const std::string folder = dir_.File("home");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  Own(folder, kVictim, kVictim, 0755);
  const std::string path = folder + "/secret.ini";
  for (mode_t mask : {0000, 0022}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    WriteFile(path, "[s]\npassword=hunter2\n");
    Own(path, kVictim, kVictim, 0600);
    int stop[2], report[2];
    ASSERT_EQ(pipe(stop), 0);
    ASSERT_EQ(pipe(report), 0);
    pid_t watcher = Spawn(kOther, {}, [&] {
      close(stop[1]);
      return Watch(folder, "secret.ini", stop[0], report[1], mask == 0);
    });
    close(stop[0]);
    close(report[1]);
    constexpr int kWriteBacks = 100;
    int victim = RunAs(kVictim, {}, [&] {
      umask(mask);
      // Files large enough that each write-back takes a while.
      for (int i = 0; i < kWriteBacks; ++i) {
        ProfileStore store(path);
        for (int k = 0; k < 8; ++k) {
          std::string key = "k" + std::to_string(k);
          if (store.SetString(std::to_string(i) + std::string(30000, 'x'), key, "s") != 1) return 1;
        }
      }
      return 0;
    });
    close(stop[1]);
    int watched = WaitFor(watcher);
    char line[96] = {};
    ssize_t got = read(report[0], line, sizeof line - 1);
    close(report[0]);
    ASSERT_EQ(victim, 0) << Ending(victim);
    ASSERT_EQ(watched, 0) << Ending(watched);
    ASSERT_GT(got, 0);
    long seen = 0, opened = 0, written = 0;
    ASSERT_EQ(std::sscanf(line, "%ld %ld %ld", &seen, &opened, &written), 3);
    std::printf(
        "umask %03o: %d write-backs, another user saw %ld temporary files, opened %ld "
        "for reading and %ld for writing\n",
        static_cast<unsigned>(mask), kWriteBacks, seen, opened, written);
    EXPECT_GT(seen, 0) << "the watcher never saw a temporary file, so it proved nothing";
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(written, 0);
    struct stat info = StatOf(path);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_uid, kVictim);
    EXPECT_NE(ReadFile(path).find("\nk7=99xxxxx"), std::string::npos);
    EXPECT_TRUE(TemporaryFilesIn(folder).empty());
  }
}

TEST_F(SecurityTest, AWriteBackGivesTheGroupWhereItMayAndNeverPassesGroupRightsOn) {
  SKIP_UNLESS_ROOT();
  // The owner belongs to the file's group: the group and its bits stay.
  // Someone in the group (who may write the file) leaves the group as it
  // was; a file whose group its writer is not in loses the group's rights
  // rather than handing them to the writer's own group.
  const std::string folder = dir_.File("shared");
  ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
  Own(folder, 0, kTeam, 0777);
  struct Case {
    const char* what;
    uid_t owner;
    mode_t mode;
    uid_t writer;
    std::vector<gid_t> writerGroups;
    gid_t expectGroup;
    mode_t expectMode;
  } cases[] = {
      {"owner in the group", kVictim, 0640, kVictim, {kTeam}, kTeam, 0640},
      {"member of the group", kVictim, 0660, kOther, {kTeam}, kTeam, 0660},
      {"owner outside the group", kVictim, 0640, kVictim, {}, kVictim, 0600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = folder + "/team.ini";
    WriteFile(path, "[s]\nk=old\n");
    Own(path, c.owner, kTeam, c.mode);
    int status = RunAs(c.writer, c.writerGroups, [&] { return WriteThroughStore(path, "new"); });
    ASSERT_EQ(status, 0) << Ending(status);
    struct stat info = StatOf(path);
    EXPECT_EQ(ReadFile(path), "[s]\nk=new\n\n");
    EXPECT_EQ(info.st_gid, c.expectGroup);
    EXPECT_EQ(info.st_mode & 07777, c.expectMode);
  }
}

// --- Files the caller could not write ----------------------------------------

TEST_F(SecurityTest, AFileTheCallerCouldNotWriteIsNeverReplaced) {
  SKIP_UNLESS_ROOT();
  // The folder lets every writer make files (group-writable), so only a
  // check of the file itself can refuse the rename.
  const std::string folder = dir_.File("team");
  ASSERT_EQ(mkdir(folder.c_str(), 0775), 0);
  Own(folder, 0, kTeam, 0775);
  struct Case {
    const char* what;
    uid_t owner;
    mode_t mode;
    bool writable;
  } cases[] = {
      {"the caller's own read-only file", kVictim, 0444, false},
      {"another user's file", kOther, 0644, false},
      {"another user's file the group may write", kOther, 0664, true},
      {"the caller's own file", kVictim, 0644, true},
  };
  for (bool layout : {false, true})
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (layout ? ", layout kept" : ""));
      const std::string path = folder + "/app.ini";
      WriteFile(path, "[s]\nk=old\n");
      Own(path, c.owner, kTeam, c.mode);
      int status = RunAs(kVictim, {kTeam}, [&] { return WriteThroughStore(path, "new", layout); });
      ASSERT_EQ(status, 0) << Ending(status);
      struct stat info = StatOf(path);
      if (c.writable) {
        EXPECT_EQ(ReadFile(path), layout ? "[s]\nk=new\n" : "[s]\nk=new\n\n");
      } else {
        EXPECT_EQ(ReadFile(path), "[s]\nk=old\n");
        EXPECT_EQ(info.st_uid, c.owner);
        EXPECT_EQ(info.st_gid, kTeam);
        EXPECT_EQ(info.st_mode & 07777, c.mode);
      }
      EXPECT_TRUE(TemporaryFilesIn(folder).empty());
    }
}

TEST_F(SecurityTest, TheCallersOwnReadOnlyFileIsNeverReplaced) {
  // Root may write any file, so as root the caller is another user; the
  // folder is the caller's, so only the file's own mode can refuse.
  const bool root = geteuid() == 0;
  const uid_t caller = root ? kVictim : static_cast<uid_t>(-1);
  const std::string folder = dir_.File("mine");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  if (root) Own(folder, kVictim, kVictim, 0700);
  const std::string path = folder + "/app.ini";
  WriteFile(path, "[s]\nk=old\n");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  if (root) Own(path, kVictim, kVictim, 0444);
  for (bool layout : {false, true}) {
    int status = RunAs(caller, {}, [&] { return WriteThroughStore(path, "new", layout); });
    ASSERT_EQ(status, 0) << Ending(status);
  }
  EXPECT_EQ(ReadFile(path), "[s]\nk=old\n");
  EXPECT_EQ(StatOf(path).st_mode & 07777, 0444u);
  EXPECT_TRUE(TemporaryFilesIn(folder).empty());
}

// --- Symbolic links ----------------------------------------------------------

TEST_F(SecurityTest, LinksInASharedStickyFolderAreFollowedOnlyWhenTheKernelWould) {
  SKIP_UNLESS_ROOT();
  // The victim's private folder holds the files links point to; links lie
  // in a sticky, world-writable folder owned by a third user.
  const std::string home = dir_.File("victim");
  ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
  Own(home, kVictim, kVictim, 0700);
  const std::string shared = dir_.File("shared");
  ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
  Own(shared, kThird, kThird, 01777);
  // Not sticky, or not world-writable: the rule does not apply.
  const std::string open = dir_.File("open");
  ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
  Own(open, kThird, kThird, 0777);
  const std::string sticky = dir_.File("sticky");
  ASSERT_EQ(mkdir(sticky.c_str(), 0777), 0);
  Own(sticky, kThird, kThird, 01775);

  struct Case {
    const char* what;
    std::string folder;
    uid_t linkOwner;
    bool targetExists;
    bool followed;
  } cases[] = {
      {"another user's link", shared, kOther, true, false},
      {"another user's dangling link", shared, kOther, false, false},
      {"the caller's own link", shared, kVictim, true, true},
      {"the caller's own dangling link", shared, kVictim, false, true},
      {"the folder owner's link", shared, kThird, true, true},
      {"another user's link, folder not sticky", open, kOther, true, true},
      {"another user's link, folder not world-writable", sticky, kOther, true, true},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string target = home + "/authorized_keys" + std::to_string(number);
    const std::string link = c.folder + "/app" + std::to_string(number++) + ".ini";
    if (c.targetExists) {
      WriteFile(target, "[s]\nk=old\n");
      Own(target, kVictim, kVictim, 0600);
    }
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    Own(link, c.linkOwner, c.linkOwner, 0);
    // 0: read "old" (or nothing, for a new file) and wrote; 1: read nothing
    // and the write was refused; anything else is wrong.
    int status = RunAs(kVictim, {}, [&] {
      std::string value;
      ProfileStore store(link);
      store.GetString(value, "none", "k", "s");
      bool written = store.SetString("new", "k", "s") == 1;
      if (written && value == (c.targetExists ? "old" : "none")) return 0;
      if (!written && value == "none") return 1;
      return 2;
    });
    ASSERT_TRUE(WIFEXITED(status)) << Ending(status);
    EXPECT_EQ(WEXITSTATUS(status), c.followed ? 0 : 1);
    EXPECT_TRUE(IsLink(link));
    if (c.followed) {
      EXPECT_EQ(ReadFile(target), "[s]\nk=new\n\n");
    } else if (c.targetExists) {
      EXPECT_EQ(ReadFile(target), "[s]\nk=old\n");
    } else {
      EXPECT_FALSE(test_support::FileExists(target));
    }
    EXPECT_TRUE(TemporaryFilesIn(c.folder).empty());
  }
}

TEST_F(SecurityTest, LinkLoopsAndLongChainsFailCleanly) {
  // A link to itself, two links to each other, and chains around the
  // kernel's limit of 40 links: loops load as unreadable files and are
  // never written; a chain of 40 resolves like any link.
  const std::string self = dir_.File("self.ini");
  ASSERT_EQ(symlink("self.ini", self.c_str()), 0);
  const std::string ping = dir_.File("ping.ini"), pong = dir_.File("pong.ini");
  ASSERT_EQ(symlink("pong.ini", ping.c_str()), 0);
  ASSERT_EQ(symlink("ping.ini", pong.c_str()), 0);
  for (const std::string& loop : {self, ping}) {
    SCOPED_TRACE(loop);
    std::string resolved;
    EXPECT_EQ(ResolveProtectedLinks(loop, &resolved), LinkResolution::kLoop);
    {
      ProfileStore store(loop);
      std::string value;
      store.GetString(value, "none", "k", "s");
      EXPECT_EQ(value, "none");
      EXPECT_EQ(store.SetString("new", "k", "s"), 0);
    }
    test_support::ResetProfileCache();
    EXPECT_TRUE(IsLink(loop));
  }
  EXPECT_TRUE(IsLink(pong));

  const std::string end = dir_.File("end.ini");
  WriteFile(end, "[s]\nk=end\n");
  auto chain = [&](int links, const std::string& name) {
    std::string next = "end.ini";
    for (int i = 0; i < links; ++i) {
      std::string link = name + std::to_string(i);
      EXPECT_EQ(symlink(next.c_str(), dir_.File(link).c_str()), 0);
      next = link;
    }
    return dir_.File(next);
  };
  std::string resolved;
  EXPECT_EQ(ResolveProtectedLinks(chain(40, "long"), &resolved), LinkResolution::kResolved);
  EXPECT_EQ(resolved, end);
  EXPECT_EQ(ResolveProtectedLinks(chain(41, "toolong"), &resolved), LinkResolution::kLoop);
  EXPECT_TRUE(TemporaryFilesIn(dir_.path()).empty());
}

TEST_F(SecurityTest, ResolvingFollowsFoldersParentsAndRelativeTargetsAsTheKernelDoes) {
  // dir/a/b/file.ini with links to folders, relative targets that climb with
  // "..", and "." and "//" in the path: the result names the same file the
  // kernel opens, and opening it must not need to follow any link.
  ASSERT_EQ(mkdir(dir_.File("a").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir_.File("a/b").c_str(), 0755), 0);
  WriteFile(dir_.File("a/b/file.ini"), "x");
  ASSERT_EQ(symlink("a/b", dir_.File("tob").c_str()), 0);
  ASSERT_EQ(symlink("../b/file.ini", dir_.File("a/b/up.ini").c_str()), 0);
  ASSERT_EQ(symlink(dir_.File("a").c_str(), dir_.File("abs").c_str()), 0);
  const std::string file = dir_.File("a/b/file.ini");
  for (const std::string& path :
       {dir_.File("tob/file.ini"), dir_.File("tob/up.ini"), dir_.File("abs/b/up.ini"),
        dir_.File("tob/../b/file.ini"), dir_.path() + "//./abs/./b//file.ini"}) {
    SCOPED_TRACE(path);
    std::string resolved;
    ASSERT_EQ(ResolveProtectedLinks(path, &resolved), LinkResolution::kResolved);
    EXPECT_EQ(resolved, file);
    EXPECT_FALSE(IsLink(resolved));
  }
  // A missing file keeps its name below the resolved folder.
  std::string resolved;
  ASSERT_EQ(ResolveProtectedLinks(dir_.File("tob/new.ini"), &resolved), LinkResolution::kResolved);
  EXPECT_EQ(resolved, dir_.File("a/b/new.ini"));
}

// --- Only regular files --------------------------------------------------------

TEST_F(SecurityTest, FifosDevicesAndFoldersLoadAsUnreadableWithoutHangingAndAreNeverWritten) {
  const std::string fifo = dir_.File("fifo.ini");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = dir_.File("folder.ini");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  // Devices are only read: a broken write-back must not replace them.
  for (const std::string& path :
       {fifo, folder, std::string("/dev/zero"), std::string("/dev/urandom")}) {
    SCOPED_TRACE(path);
    const bool writeToo = path.compare(0, 5, "/dev/") != 0;
    int status = RunAs(
        static_cast<uid_t>(-1), {},
        [&] {
          char value[16] = {};
          ProfileGetString("s", "k", "none", value, sizeof value, path.c_str());
          if (std::strcmp(value, "none") != 0) return 1;
          if (writeToo && ProfileWriteString("s", "k", "new", path.c_str()) != 0) return 2;
          ProfileClose(path.c_str());
          return 0;
        },
        20);
    EXPECT_EQ(status, 0) << Ending(status);
  }
  // A record written back straight to such a path fails and leaves it be,
  // also while a reader holds the FIFO open (a writer's open would succeed).
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  for (const std::string& path : {fifo, folder}) {
    SCOPED_TRACE(path);
    int status = RunAs(
        static_cast<uid_t>(-1), {},
        [&] {
          ProfileFile record;
          record.path = path;
          AppendSection(&record, "s");
          return ProfileSave(record) == 0 ? 0 : 1;
        },
        20);
    EXPECT_EQ(status, 0) << Ending(status);
  }
  close(reader);
  EXPECT_TRUE(S_ISFIFO(StatOf(fifo).st_mode));
  EXPECT_TRUE(S_ISDIR(StatOf(folder).st_mode));
  EXPECT_TRUE(TemporaryFilesIn(dir_.path()).empty());
}

// --- Names of any length ---------------------------------------------------------

TEST_F(SecurityTest, NamesOfAnyLengthTheFileSystemAcceptsAreReplacedAtomically) {
  // An atomic write-back renames a new file over the old one, so the name
  // comes to hold a new inode; a write in place would keep the old one.
  for (size_t length : {1u, 200u, 250u, 255u}) {
    SCOPED_TRACE("name of " + std::to_string(length) + " characters");
    std::string name(length - (length > 4 ? 4 : 0), 'n');
    if (length > 4) name += ".ini";
    const std::string path = dir_.File(name);
    WriteFile(path, "[s]\nk=old\n");
    ino_t before = StatOf(path).st_ino;
    ASSERT_NE(before, 0u);
    {
      ProfileStore store(path);
      ASSERT_EQ(store.SetString("new", "k", "s"), 1);
    }
    EXPECT_EQ(ReadFile(path), "[s]\nk=new\n\n");
    EXPECT_NE(StatOf(path).st_ino, before);
    EXPECT_TRUE(TemporaryFilesIn(dir_.path()).empty());
    std::remove(path.c_str());
  }
}

// --- Leftovers of killed writers -------------------------------------------------

TEST_F(SecurityTest, TheNextWriteBackRemovesLeftoversOfKilledWritersOnly) {
  const std::string path = dir_.File("app.ini");
  // Real leftovers: writers of a 4 MB file killed at random moments.  Each
  // new writer removes what the killed ones left, so they never pile up.
  std::mt19937 random(20261208);
  const std::string value(32000, 'v');
  int kills = 0, killsLeavingOne = 0;
  size_t most = 0, leftovers = 0;
  while ((killsLeavingOne < 3 || leftovers == 0) && kills < 300) {
    pid_t writer = Spawn(static_cast<uid_t>(-1), {}, [&] {
      for (int i = 0;; ++i) {
        for (int k = 0; k < 128; ++k) {
          std::string key = "k" + std::to_string(k);
          if (ProfileWriteString("s", key.c_str(), (value + std::to_string(i)).c_str(),
                                 path.c_str()) != 1) {
            return 1;
          }
        }
        ProfileClose(path.c_str());
      }
    });
    std::this_thread::sleep_for(std::chrono::microseconds(20000 + random() % 80000));
    kill(writer, SIGKILL);
    int status = WaitFor(writer);
    ASSERT_TRUE(WIFSIGNALED(status)) << Ending(status);
    ++kills;
    leftovers = TemporaryFilesIn(dir_.path()).size();
    killsLeavingOne += leftovers > 0;
    most = std::max(most, leftovers);
  }
  std::printf("%d writers killed, %d left a temporary file, at most %zu at once\n", kills,
              killsLeavingOne, most);
  ASSERT_GT(leftovers, 0u) << "the kills never caught a writer inside a write-back";
  EXPECT_EQ(most, 1u);

  // Planted look-alikes that must stay: a live process's file, a name of
  // another form, and (as root) a dead process's file owned by another user.
  pid_t alive = Spawn(static_cast<uid_t>(-1), {}, [] {
    pause();
    return 0;
  });
  pid_t dead = Spawn(static_cast<uid_t>(-1), {}, [] { return 0; });
  WaitFor(dead);
  const std::string live = dir_.File(".inireg-" + std::to_string(alive) + "-0123456789abcdef.tmp");
  const std::string otherForm = dir_.File(".inireg-" + std::to_string(dead) + "-0123.tmp");
  const std::string othersFile =
      dir_.File(".inireg-" + std::to_string(dead) + "-fedcba9876543210.tmp");
  for (const std::string& file : {live, otherForm, othersFile}) WriteFile(file, "keep");
  const bool root = geteuid() == 0;
  if (root) Own(othersFile, kOther, kOther, 0600);
  const std::string ownDead =
      dir_.File(".inireg-" + std::to_string(dead) + "-00000000000000ff.tmp");
  WriteFile(ownDead, "stale");

  {
    ProfileStore store(path);
    ASSERT_EQ(store.SetString("after", "k", "s"), 1);
  }
  kill(alive, SIGKILL);
  WaitFor(alive);
  std::set<std::string> remaining;
  for (const std::string& name : TemporaryFilesIn(dir_.path())) remaining.insert(dir_.File(name));
  std::set<std::string> expected = {live, otherForm};
  if (root) expected.insert(othersFile);
  EXPECT_EQ(remaining, expected);
  // The killed writers may have finished some write-backs before.
  EXPECT_TRUE(ReadFile(path).find("\nk=after\n") != std::string::npos);
}

TEST(TemporaryNameTest, NamesAreShortUnpredictableAndCarryTheProcessId) {
  std::set<std::string> names;
  for (int i = 0; i < 1000; ++i) {
    std::string name;
    ASSERT_TRUE(MakeTemporaryName("", &name));
    unsigned long processId = 0;
    ASSERT_TRUE(ParseTemporaryName(name, &processId)) << name;
    EXPECT_EQ(processId, static_cast<unsigned long>(getpid()));
    EXPECT_LE(name.size(), 48u);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 1000u);
  std::string inFolder;
  ASSERT_TRUE(MakeTemporaryName("/some/folder/", &inFolder));
  EXPECT_EQ(inFolder.compare(0, 21, "/some/folder/.inireg-"), 0);
  unsigned long processId = 0;
  for (const char* notOurs :
       {".inireg-12-0123456789abcdeg.tmp", ".inireg--0123456789abcdef.tmp",
        ".inireg-12-0123456789abcdef.tmpx", "x.inireg-12-0123456789abcdef.tmp",
        ".inireg-12345678901-0123456789abcdef.tmp", ".inireg-12-0123456789ABCDEF.tmp"}) {
    EXPECT_FALSE(ParseTemporaryName(notOurs, &processId)) << notOurs;
  }
}

// --- Stress through the real file system -----------------------------------------

// A file whose lines say how long it is and what it sums to, so that a
// reader can tell a whole version from a mix or a cut.
std::string Checked(const std::string& payload) {
  unsigned long sum = 0;
  for (unsigned char c : payload) sum = sum * 31 + c;
  return "[s]\nsize=" + std::to_string(payload.size()) + "\ndata=" + payload +
         "\nsum=" + std::to_string(sum) + "\n\n";
}

TEST_F(SecurityTest, ConcurrentReadersSeeAnOldOrANewWholeFileAcrossRandomWriteBacks) {
  const std::string path = dir_.File("stress.ini");
  WriteFile(path, Checked(""));
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  // The writer is another process, through the engine's write-back, with
  // random sizes; started before the reader threads, as fork copies only
  // the calling thread.
  constexpr int kWriteBacks = 400;
  pid_t writer = Spawn(
      static_cast<uid_t>(-1), {},
      [&] {
        std::mt19937 random(20261210);
        for (int i = 0; i < kWriteBacks; ++i) {
          std::string payload(random() % 100000, 'a');
          for (char& c : payload) c = static_cast<char>('a' + random() % 26);
          ProfileFile record;
          record.path = path;
          ProfileSection* section = AppendSection(&record, "s");
          AppendEntry(section, {"size", std::to_string(payload.size()), false});
          AppendEntry(section, {"data", payload, false});
          unsigned long sum = 0;
          for (unsigned char c : payload) sum = sum * 31 + c;
          AppendEntry(section, {"sum", std::to_string(sum), false});
          if (ProfileSave(record) != 1) return 1;
        }
        return 0;
      },
      300);
  std::atomic<bool> done{false};
  std::atomic<long> reads{0}, broken{0};
  std::string firstBroken;
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      while (!done) {
        std::string text = ReadFile(path);
        // Each version is what Checked makes of some payload.
        size_t data = text.find("\ndata=");
        size_t sum = text.find("\nsum=");
        bool whole = data != std::string::npos && sum != std::string::npos && sum > data &&
                     text == Checked(text.substr(data + 6, sum - data - 6));
        ++reads;
        if (!whole && broken++ == 0) firstBroken = text.substr(0, 200);
      }
    });
  }
  int status = WaitFor(writer);
  done = true;
  for (std::thread& reader : readers) reader.join();
  std::printf("%d random write-backs, %ld reads by 2 readers, %ld not a whole version\n",
              kWriteBacks, reads.load(), broken.load());
  EXPECT_EQ(status, 0) << Ending(status);
  EXPECT_EQ(broken, 0) << "first: " << firstBroken;
  EXPECT_GT(reads, kWriteBacks);
  EXPECT_EQ(StatOf(path).st_mode & 07777, 0640u);
  EXPECT_TRUE(TemporaryFilesIn(dir_.path()).empty());
}

}  // namespace
}  // namespace inireg
