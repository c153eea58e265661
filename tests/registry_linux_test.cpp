// The Linux registry's own promises, beyond what Win32 callers see: its
// enumeration order, persistence, file modes, refusal of foreign files, and
// several processes and threads on one database.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "inireg/win32_registry.h"
#include "registry_writer.h"
#include "registry_writer_process.h"
#include "test_support.h"


namespace inireg {
namespace {

using ::inireg::testing::ReadFile;
using ::inireg::testing::TempDir;
using ::inireg::testing::WriteFile;

HKEY CreateKey(HKEY parent, const std::string& path) {
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr))
      << path;
  return key;
}

LONG Set(HKEY key, const std::string& name, const std::string& data) {
  return RegSetValueExA(key, name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()));
}

std::string Get(HKEY key, const std::string& name) {
  std::string data(1024, '\0');
  DWORD size = static_cast<DWORD>(data.size());
  LONG status = RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&data[0]), &size);
  return status == ERROR_SUCCESS ? data.substr(0, size) : "<status " + std::to_string(status) + ">";
}

std::vector<std::string> ValueNames(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD size = sizeof name; RegEnumValueA(key, static_cast<DWORD>(names.size()), name, &size,
                                               nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       size = sizeof name) {
    names.emplace_back(name, size);
  }
  return names;
}

std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  while (RegEnumKeyA(key, static_cast<DWORD>(names.size()), name, sizeof name) == ERROR_SUCCESS) {
    names.emplace_back(name);
  }
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Sets (or, given null, removes) an environment variable for the scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    const char* saved = std::getenv(name);
    if (saved != nullptr) saved_ = std::make_unique<std::string>(saved);
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnvironment() { saved_ ? setenv(name_, saved_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::unique_ptr<std::string> saved_;
};

// Each case has a database of its own.
class RegistryLinuxTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRegistryDatabasePath(database_); }
  void TearDown() override { SetRegistryDatabasePath(""); }
  TempDir folder_;
  std::string database_ = folder_.File("registry.db");
};

using RegistryFileTest = RegistryLinuxTest;
using RegistryProcessTest = RegistryLinuxTest;
using RegistryThreadTest = RegistryLinuxTest;

TEST_F(RegistryLinuxTest, ValuesInCreationOrderSubkeysInUpperCaseOrder) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Order");
  for (const char* name : {"b", "_x", "A", "Z", "[y"}) RegCloseKey(CreateKey(key, name));
  EXPECT_EQ((std::vector<std::string>{"A", "b", "Z", "[y", "_x"}), SubkeyNames(key));

  for (const char* name : {"zeta", "Alpha", "", "mid"}) ASSERT_EQ(ERROR_SUCCESS, Set(key, name, "1"));
  ASSERT_EQ(ERROR_SUCCESS, Set(key, "ALPHA", "overwritten"));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "zeta"));
  ASSERT_EQ(ERROR_SUCCESS, Set(key, "zeta", "again"));
  EXPECT_EQ((std::vector<std::string>{"Alpha", "", "mid", "zeta"}), ValueNames(key));
  RegCloseKey(key);
}

// Enumeration goes on from where the previous index left off; a change in
// between (by this process or another) must be seen, not skipped.
TEST_F(RegistryLinuxTest, EnumerationSeesChangesBetweenIndexes) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Enum");
  for (const char* name : {"a", "b", "c", "d"}) {
    ASSERT_EQ(ERROR_SUCCESS, Set(key, name, "1"));
    RegCloseKey(CreateKey(key, name));
  }
  auto valueAt = [&](DWORD index) {
    char name[16];
    DWORD size = sizeof name;
    LONG status = RegEnumValueA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    return status == ERROR_SUCCESS ? std::string(name) : "<" + std::to_string(status) + ">";
  };
  auto subkeyAt = [&](DWORD index) {
    char name[16];
    LONG status = RegEnumKeyA(key, index, name, sizeof name);
    return status == ERROR_SUCCESS ? std::string(name) : "<" + std::to_string(status) + ">";
  };
  EXPECT_EQ("a", valueAt(0));
  EXPECT_EQ("b", valueAt(1));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "a"));
  EXPECT_EQ("d", valueAt(2));  // Now a list of b, c, d.
  EXPECT_EQ("<259>", valueAt(3));

  EXPECT_EQ("a", subkeyAt(0));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, "a"));
  EXPECT_EQ("c", subkeyAt(1));  // Now b, c, d.
  RegCloseKey(key);
}

TEST_F(RegistryLinuxTest, KeysNestAtMost512LevelsDeep) {
  std::string path = "Software";  // Level 1 below HKEY_CURRENT_USER.
  for (int level = 2; level <= 512; ++level) path += "\\k";
  HKEY deepest = CreateKey(HKEY_CURRENT_USER, path.c_str());
  HKEY tooDeep = nullptr;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExA(deepest, "k", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                     nullptr, &tooDeep, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExA(HKEY_CURRENT_USER, (path + "\\k").c_str(), 0,
                                                     nullptr, 0, KEY_ALL_ACCESS, nullptr, &tooDeep,
                                                     nullptr));
  EXPECT_EQ(nullptr, tooDeep);
  EXPECT_EQ(ERROR_SUCCESS, Set(deepest, "v", "1"));
  RegCloseKey(deepest);
}

TEST_F(RegistryLinuxTest, StringsKeepExactlyTheirBytes) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Strings");
  for (const std::string& data : {std::string("abc"), std::string("ab\0cd", 5), std::string()}) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "s", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(data.data()),
                                            static_cast<DWORD>(data.size())));
    EXPECT_EQ(data, Get(key, "s"));
  }
  RegCloseKey(key);
}

TEST_F(RegistryLinuxTest, HandlesOfDeletedKeysFailCleanly) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Doomed");
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Doomed"));
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, "Software\\Doomed"));  // A new key; the handle stays dead.
  HKEY child = nullptr;
  char name[16];
  DWORD size = sizeof name;
  EXPECT_EQ(ERROR_KEY_DELETED, Set(key, "v", "x"));
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_KEY_DELETED, RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyA(key, 0, name, sizeof name));
  EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteValueA(key, "v"));
  EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExA(key, "", 0, KEY_READ, &child));
  EXPECT_EQ(ERROR_KEY_DELETED, RegCreateKeyExA(key, "c", 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr));
  EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteKeyA(key, ""));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, ""));
}

TEST_F(RegistryFileTest, DataSurvivesReopeningAndHandlesKeepTheirDatabase) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Kept");
  ASSERT_EQ(ERROR_SUCCESS, Set(key, "v", "first"));
  SetRegistryDatabasePath(folder_.File("other.db"));
  HKEY missing = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kept", 0, KEY_READ, &missing));
  EXPECT_EQ("first", Get(key, "v"));
  ASSERT_EQ(ERROR_SUCCESS, Set(key, "w", "second"));
  RegCloseKey(key);
  SetRegistryDatabasePath(database_);
  key = CreateKey(HKEY_CURRENT_USER, "Software\\Kept");
  EXPECT_EQ("first", Get(key, "v"));
  EXPECT_EQ("second", Get(key, "w"));
  RegCloseKey(key);
}

TEST_F(RegistryFileTest, NewDatabasesArePrivateAndFoundThroughTheEnvironment) {
  SetRegistryDatabasePath(folder_.File("a/b/registry.db"));
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, "Software\\Private"));
  EXPECT_EQ(0700u, ModeOf(folder_.File("a")));
  EXPECT_EQ(0700u, ModeOf(folder_.File("a/b")));
  EXPECT_EQ(0600u, ModeOf(folder_.File("a/b/registry.db")));

  ScopedEnvironment registry("INIREG_REGISTRY", nullptr);
  ScopedEnvironment config("XDG_CONFIG_HOME", folder_.File("config").c_str());
  SetRegistryDatabasePath("");
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, "Software\\Xdg"));
  EXPECT_EQ(0700u, ModeOf(folder_.File("config/inireg")));
  EXPECT_EQ(0600u, ModeOf(folder_.File("config/inireg/registry.db")));

  ScopedEnvironment overriding("INIREG_REGISTRY", folder_.File("env.db").c_str());
  SetRegistryDatabasePath("");
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, "Software\\Env"));
  EXPECT_EQ(0600u, ModeOf(folder_.File("env.db")));
}

TEST_F(RegistryFileTest, ForeignAndDamagedFilesAreRefusedAndLeftAlone) {
  std::string text = folder_.File("text.db");
  WriteFile(text, "[section]\nkey=value\n");
  std::string tiny = folder_.File("tiny.db");  // SQLite alone would take it for an empty database.
  WriteFile(tiny, "1");

  std::string foreign = folder_.File("foreign.db");
  sqlite3* connection = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(foreign.c_str(), &connection));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(connection, "CREATE TABLE t(x); INSERT INTO t VALUES(1);",
                                    nullptr, nullptr, nullptr));
  sqlite3_close(connection);

  std::string damaged = folder_.File("damaged.db");
  SetRegistryDatabasePath(damaged);
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, "Software\\Soon\\Damaged"));
  SetRegistryDatabasePath(database_);  // Closes it, folding the log into the file.
  std::string bytes = ReadFile(damaged);
  ASSERT_GT(bytes.size(), 8192u);
  for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  WriteFile(damaged, bytes);

  for (const std::string& path : {text, tiny, foreign, damaged}) {
    SCOPED_TRACE(path);
    std::string before = ReadFile(path);
    SetRegistryDatabasePath(path);
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_REGISTRY_CORRUPT, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_REGISTRY_CORRUPT, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", 0, nullptr, 0,
                                                      KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_REGISTRY_CORRUPT, Set(HKEY_CURRENT_USER, "v", "x"));
    SetRegistryDatabasePath(database_);
    EXPECT_EQ(before, ReadFile(path));
  }
}

// Reads reported write numbers until `limit` lines or the end of the pipe.
std::vector<unsigned> ReadReports(std::FILE* pipe, size_t limit = SIZE_MAX) {
  std::vector<unsigned> done;
  unsigned number = 0;
  while (done.size() < limit && std::fscanf(pipe, "%u", &number) == 1) done.push_back(number);
  return done;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

TEST_F(RegistryProcessTest, ConcurrentWritersLoseNothing) {
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, "Software\\Shared"));
  constexpr unsigned kWrites = 1500;
  pid_t first = 0, second = 0;
  std::FILE* firstPipe = StartRegistryWriter(database_, "Software\\Shared", "p", kWrites, &first);
  std::FILE* secondPipe = StartRegistryWriter(database_, "Software\\Shared", "q", kWrites, &second);
  ASSERT_TRUE(firstPipe && secondPipe);
  // The reports (a few kB) fit the pipe buffer, so draining one writer
  // after the other never holds the second back.
  EXPECT_EQ(kWrites, ReadReports(firstPipe).size());
  EXPECT_EQ(kWrites, ReadReports(secondPipe).size());
  std::fclose(firstPipe);
  std::fclose(secondPipe);
  EXPECT_EQ(0, ExitStatus(first));
  EXPECT_EQ(0, ExitStatus(second));

  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Shared");
  EXPECT_EQ(2 * kWrites, ValueNames(key).size());
  for (unsigned i = 0; i < kWrites; i += 7) {
    for (std::string name : {"p" + std::to_string(i), "q" + std::to_string(i)}) {
      EXPECT_EQ(WriterData(name), Get(key, name));
    }
  }
  RegCloseKey(key);
}

TEST_F(RegistryProcessTest, KilledWriterLeavesEveryReportedWrite) {
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, "Software\\Shared"));
  pid_t writer = 0;
  std::FILE* pipe = StartRegistryWriter(database_, "Software\\Shared", "k", 0, &writer);
  ASSERT_TRUE(pipe);
  std::vector<unsigned> done = ReadReports(pipe, 2000);
  kill(writer, SIGKILL);
  for (unsigned number : ReadReports(pipe)) done.push_back(number);
  std::fclose(pipe);
  int status = ExitStatus(writer);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "writer ended early: " << status;

  EXPECT_EQ("ok", DatabaseIntegrity(database_));

  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Shared");
  for (unsigned number : done) {
    std::string name = "k" + std::to_string(number);
    ASSERT_EQ(WriterData(name), Get(key, name));
  }
  RegCloseKey(key);
}

TEST_F(RegistryThreadTest, ThreadsShareHandlesAndTheDatabase) {
  HKEY shared = CreateKey(HKEY_CURRENT_USER, "Software\\Threads");
  constexpr int kThreads = 4, kWrites = 100;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([shared, t] {
      HKEY own = CreateKey(shared, "T" + std::to_string(t));
      for (int i = 0; i < kWrites; ++i) {
        std::string name = std::to_string(t) + "." + std::to_string(i);
        EXPECT_EQ(ERROR_SUCCESS, Set(shared, name, name));
        EXPECT_EQ(ERROR_SUCCESS, Set(own, name, name));
        EXPECT_EQ(name, Get(shared, name));
        SubkeyNames(shared);
        HKEY again = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(own, "", 0, KEY_READ, &again));
        EXPECT_EQ(name, Get(again, name));
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(again));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(again));
      }
      EXPECT_EQ(size_t(kWrites), ValueNames(own).size());
      EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(own));
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(size_t(kThreads * kWrites), ValueNames(shared).size());
  EXPECT_EQ(size_t(kThreads), SubkeyNames(shared).size());
  RegCloseKey(shared);
}

}  // namespace
}  // namespace inireg
