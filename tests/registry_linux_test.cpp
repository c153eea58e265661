// The Linux registry's own promises, beyond what Win32 callers see: its
// enumeration order, persistence, file modes, refusal of foreign files, and
// several processes and threads on one database.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <thread>
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

HKEY CreateKey(HKEY parent, const std::string& path) {
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr))
      << path;
  return key;
}

LONG Set(HKEY key, const std::string& name, const std::string& data) {
  return RegSetValueExA(key, name.c_str(), 0, REG_BINARY,
                        reinterpret_cast<const BYTE*>(data.data()),
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

  for (const char* name : {"zeta", "Alpha", "", "mid"})
    ASSERT_EQ(ERROR_SUCCESS, Set(key, name, "1"));
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
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegCreateKeyExA(HKEY_CURRENT_USER, (path + "\\k").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &tooDeep, nullptr));
  EXPECT_EQ(nullptr, tooDeep);
  EXPECT_EQ(ERROR_SUCCESS, Set(deepest, "v", "1"));
  RegCloseKey(deepest);
}

TEST_F(RegistryLinuxTest, StringsKeepExactlyTheirBytes) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Strings");
  for (const std::string& data : {std::string("abc"), std::string("ab\0cd", 5), std::string()}) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, "s", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())));
    EXPECT_EQ(data, Get(key, "s"));
  }
  RegCloseKey(key);
}

TEST_F(RegistryLinuxTest, HandlesOfDeletedKeysFailCleanly) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Doomed");
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Doomed"));
  RegCloseKey(
      CreateKey(HKEY_CURRENT_USER, "Software\\Doomed"));  // A new key; the handle stays dead.
  HKEY child = nullptr;
  char name[16];
  DWORD size = sizeof name;
  EXPECT_EQ(ERROR_KEY_DELETED, Set(key, "v", "x"));
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_KEY_DELETED,
            RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyA(key, 0, name, sizeof name));
  EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteValueA(key, "v"));
  EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExA(key, "", 0, KEY_READ, &child));
  EXPECT_EQ(ERROR_KEY_DELETED,
            RegCreateKeyExA(key, "c", 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr));
  EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteKeyA(key, ""));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, ""));
}

TEST_F(RegistryFileTest, DataSurvivesReopeningAndHandlesKeepTheirDatabase) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Kept");
  ASSERT_EQ(ERROR_SUCCESS, Set(key, "v", "first"));
  SetRegistryDatabasePath(folder_.File("other.db"));
  HKEY missing = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kept", 0, KEY_READ, &missing));
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
    EXPECT_EQ(ERROR_REGISTRY_CORRUPT,
              RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_REGISTRY_CORRUPT,
              RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_REGISTRY_CORRUPT, Set(HKEY_CURRENT_USER, "v", "x"));
    SetRegistryDatabasePath(database_);
    EXPECT_EQ(before, ReadFile(path));
  }
}

int64_t ScalarOf(const std::string& path, const char* sql) {
  sqlite3* connection = nullptr;
  int64_t result = -1;
  if (sqlite3_open_v2(path.c_str(), &connection, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      result = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(connection);
  return result;
}

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

uint64_t LastWriteTime(HKEY key) {
  FILETIME time{};
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr, &time));
  return Ticks(time);
}

// Runs `change` a little later than now and tells whether it moved the key's
// last-write time forward.
template <typename Change>
bool Touches(HKEY key, Change change) {
  uint64_t before = LastWriteTime(key);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  change();
  return LastWriteTime(key) > before;
}

TEST_F(RegistryLinuxTest, LastWriteTimesFollowChangesOfValuesAndSubkeys) {
  HKEY parent = CreateKey(HKEY_CURRENT_USER, "Software\\Times");
  HKEY child = CreateKey(parent, "Child");
  uint64_t now = (static_cast<uint64_t>(std::time(nullptr)) + 11644473600u) * 10000000u;
  EXPECT_LE(LastWriteTime(child), now + 20000000u);
  EXPECT_GE(LastWriteTime(child) + 20000000u, now);

  EXPECT_TRUE(Touches(child, [&] { Set(child, "v", "1"); }));
  EXPECT_EQ(LastWriteTime(child) % 10000, 0u) << "kept to the millisecond";
  EXPECT_FALSE(Touches(parent, [&] { Set(child, "w", "2"); }));
  EXPECT_FALSE(Touches(child, [&] {
    Get(child, "v");
    ValueNames(child);
    SubkeyNames(parent);
    RegCloseKey(CreateKey(parent, "Child"));  // Exists: nothing changes.
  }));
  EXPECT_TRUE(Touches(child, [&] { RegDeleteValueA(child, "w"); }));
  EXPECT_TRUE(Touches(parent, [&] { RegCloseKey(CreateKey(parent, "Second\\Third")); }));
  EXPECT_TRUE(Touches(parent, [&] { RegDeleteTreeA(parent, "Second"); }));
  EXPECT_TRUE(Touches(parent, [&] { RegCloseKey(CreateKey(parent, "Fourth")); }));
  EXPECT_TRUE(Touches(parent, [&] { RegDeleteKeyA(parent, "Fourth"); }));

  // Enumeration reports each subkey's own time, its values' writes included.
  EXPECT_TRUE(Touches(child, [&] { Set(child, "v", "3"); }));
  char name[16];
  DWORD size = sizeof name;
  FILETIME time{};
  ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExA(parent, 0, name, &size, nullptr, nullptr, nullptr, &time));
  EXPECT_STREQ("Child", name);
  EXPECT_EQ(LastWriteTime(child), Ticks(time));

  EXPECT_TRUE(Touches(parent, [&] { RegDeleteTreeA(parent, nullptr); }));
  RegCloseKey(child);
  RegCloseKey(parent);
}

// Limits count UTF-16 units; lengths reported to size buffers count bytes.
TEST_F(RegistryLinuxTest, NameLimitsCountUtf16UnitsAndReportedLengthsCountBytes) {
  auto repeat = [](const std::string& text, size_t count) {
    std::string repeated;
    while (count-- > 0) repeated += text;
    return repeated;
  };
  const std::string euro = "\xe2\x82\xac";       // One unit, three bytes.
  const std::string emoji = "\xf0\x9f\x98\x80";  // Two units (a surrogate pair), four bytes.
  const std::string notUtf8 = "\xff";            // One unit, as a lone surrogate.
  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Limits");
  HKEY child = nullptr;
  auto create = [&](const std::string& name) {
    LONG status =
        RegCreateKeyExA(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr);
    if (status == ERROR_SUCCESS) RegCloseKey(child);
    return status;
  };
  EXPECT_EQ(ERROR_SUCCESS, create(repeat(euro, 255)));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, create(repeat(euro, 256)));
  EXPECT_EQ(ERROR_SUCCESS, create(repeat(emoji, 127) + "a"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, create(repeat(emoji, 128)));
  EXPECT_EQ(ERROR_SUCCESS, create(repeat(notUtf8, 255)));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, create(repeat(notUtf8, 256)));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            create("\xe2\x82" + repeat(euro, 254)));  // A cut character: two units.
  EXPECT_EQ(ERROR_SUCCESS, Set(key, repeat(emoji, 8191) + "a", "v"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Set(key, repeat(emoji, 8192), "v"));

  DWORD longestSubkey = 0, longestValueName = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, &longestSubkey, nullptr,
                             nullptr, &longestValueName, nullptr, nullptr, nullptr));
  EXPECT_EQ(765u, longestSubkey);
  EXPECT_EQ(32765u, longestValueName);
  std::vector<char> name(longestSubkey + 1);
  for (DWORD index = 0;; ++index) {
    DWORD size = longestSubkey + 1;
    LONG status = RegEnumKeyExA(key, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(ERROR_SUCCESS, status) << index;
  }
  RegCloseKey(key);
}

// Deleting a tree takes every row below it, not just what enumeration sees.
TEST_F(RegistryFileTest, DeleteTreeLeavesNoRowsBehind) {
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, "Software\\Base"));
  SetRegistryDatabasePath(database_);  // Folds the journal in, so that counts see everything.
  int64_t keys = ScalarOf(database_, "SELECT count(*) FROM keys");
  HKEY base = CreateKey(HKEY_CURRENT_USER, "Software\\Base");
  for (const char* path : {"T", "T\\A\\B\\C", "T\\A\\D", "T\\E"}) {
    HKEY key = CreateKey(base, path);
    ASSERT_EQ(ERROR_SUCCESS, Set(key, "v", path));
    RegCloseKey(key);
  }
  ASSERT_EQ(ERROR_SUCCESS, Set(base, "stays", "x"));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(base, "t"));
  RegCloseKey(base);
  SetRegistryDatabasePath(database_);
  EXPECT_EQ(keys, ScalarOf(database_, "SELECT count(*) FROM keys"));
  EXPECT_EQ(1, ScalarOf(database_, "SELECT count(*) FROM vals"));
}

// RegFlushKey leaves every committed write in the database file itself.
TEST_F(RegistryFileTest, FlushedWritesAreInTheDatabaseFile) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Flushed");
  ASSERT_EQ(ERROR_SUCCESS, Set(key, "v", "in the file"));
  ASSERT_EQ(ERROR_SUCCESS, RegFlushKey(key));
  std::string copy = folder_.File("copy.db");
  WriteFile(copy, ReadFile(database_));  // Without its journal.
  sqlite3* connection = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(copy.c_str(), &connection, SQLITE_OPEN_READONLY, nullptr));
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(SQLITE_OK,
            sqlite3_prepare_v2(connection, "SELECT data FROM vals WHERE name = CAST('v' AS BLOB)",
                               -1, &statement, nullptr));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(statement));
  EXPECT_EQ("in the file", std::string(static_cast<const char*>(sqlite3_column_blob(statement, 0)),
                                       sqlite3_column_bytes(statement, 0)));
  sqlite3_finalize(statement);
  sqlite3_close(connection);
  RegCloseKey(key);
}

TEST_F(RegistryFileTest, FirstVersionDatabasesAreUpgradedInPlace) {
  std::string old = folder_.File("first.db");
  ASSERT_TRUE(MakeFirstVersionDatabase(old, 1));
  SetRegistryDatabasePath(old);
  uint64_t now = (static_cast<uint64_t>(std::time(nullptr)) + 11644473600u) * 10000000u;
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, "software\\old", 0, KEY_ALL_ACCESS, &key));
  EXPECT_EQ("kept", Get(key, "a"));
  EXPECT_EQ((std::vector<std::string>{"b", "a"}), ValueNames(key));
  uint64_t upgraded = LastWriteTime(key);
  EXPECT_GE(upgraded + 20000000u, now);
  EXPECT_LE(upgraded, now + 20000000u);
  EXPECT_TRUE(Touches(key, [&] { Set(key, "c", "new"); }));
  RegCloseKey(key);
  SetRegistryDatabasePath(database_);

  EXPECT_EQ(3, ScalarOf(old, "PRAGMA user_version"));
  EXPECT_EQ(0, ScalarOf(old, "SELECT count(*) FROM keys WHERE modified = 0"));
  EXPECT_EQ(7, ScalarOf(old, "SELECT count(*) FROM keys"));
  EXPECT_EQ("ok", DatabaseIntegrity(old));

  // A second-version database keeps its keys' times.
  std::string second = folder_.File("second.db");
  ASSERT_TRUE(MakeFirstVersionDatabase(second, 2, kSecondVersionChange));
  SetRegistryDatabasePath(second);
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Old", 0, KEY_ALL_ACCESS, &key));
  EXPECT_EQ(130000000000000000u, LastWriteTime(key));
  EXPECT_TRUE(Touches(key, [&] { Set(key, "a", "changed"); }));
  RegCloseKey(key);
  SetRegistryDatabasePath(database_);
  EXPECT_EQ(3, ScalarOf(second, "PRAGMA user_version"));
  EXPECT_EQ("ok", DatabaseIntegrity(second));

  // A version this code does not know is refused and left alone.
  std::string newer = folder_.File("newer.db");
  ASSERT_TRUE(MakeFirstVersionDatabase(newer, 4));
  std::string before = ReadFile(newer);
  SetRegistryDatabasePath(newer);
  EXPECT_EQ(ERROR_REGISTRY_CORRUPT,
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Old", 0, KEY_READ, &key));
  SetRegistryDatabasePath(database_);
  EXPECT_EQ(before, ReadFile(newer));
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
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
      << "writer ended early: " << status;

  EXPECT_EQ("ok", DatabaseIntegrity(database_));

  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Shared");
  for (unsigned number : done) {
    std::string name = "k" + std::to_string(number);
    ASSERT_EQ(WriterData(name), Get(key, name));
  }
  RegCloseKey(key);
}

// Reads are answered from memory while nothing was committed; every round
// here first reads (and remembers) the value and the key as missing, then a
// new process writes them and exits, after which both must be found.  Each
// writer starts the write-ahead log afresh, so the log's length alone would
// repeat between rounds.
TEST_F(RegistryProcessTest, ReadsSeeWhatAnotherProcessCommitted) {
  HKEY software = CreateKey(HKEY_CURRENT_USER, "Software");
  for (int round = 0; round < 12; ++round) {
    std::string path = "Watched" + std::to_string(round % 3);
    std::string prefix = "r" + std::to_string(round) + "-";
    HKEY key = nullptr;
    if (round < 3) {
      ASSERT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(software, path.c_str(), 0, KEY_READ, &key));
    } else {
      ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(software, path.c_str(), 0, KEY_READ, &key));
      EXPECT_EQ("<status 2>", Get(key, prefix + "0"));
      RegCloseKey(key);
    }
    pid_t writer = 0;
    std::FILE* pipe =
        StartRegistryWriter(database_, ("Software\\" + path).c_str(), prefix, 1, &writer);
    ASSERT_TRUE(pipe);
    EXPECT_EQ(1u, ReadReports(pipe).size());
    std::fclose(pipe);
    ASSERT_EQ(0, ExitStatus(writer));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(software, path.c_str(), 0, KEY_READ, &key))
        << "round " << round;
    EXPECT_EQ(WriterData(prefix + "0"), Get(key, prefix + "0")) << "round " << round;
    RegCloseKey(key);
  }
  RegCloseKey(software);
}

// Two connections in one process (handles keep the one they were opened on
// after the registry is pointed at the file again), and a plain SQLite one:
// changes through either of the others are seen by the first's next read.
TEST_F(RegistryProcessTest, ReadsSeeWhatOtherConnectionsCommitted) {
  HKEY old = CreateKey(HKEY_CURRENT_USER, "Software\\Two");
  HKEY sub = CreateKey(old, "Sub");
  ASSERT_EQ(ERROR_SUCCESS, Set(old, "v", "first"));
  HKEY later = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(old, "Later", 0, KEY_READ, &later));
  EXPECT_EQ("first", Get(old, "v"));
  EXPECT_EQ("<status 2>", Get(old, "w"));
  EXPECT_EQ("<status 2>", Get(sub, "x"));

  SetRegistryDatabasePath(database_);  // The roots move to a second connection.
  HKEY fresh = CreateKey(HKEY_CURRENT_USER, "Software\\Two");
  ASSERT_EQ(ERROR_SUCCESS, Set(fresh, "v", "second"));
  ASSERT_EQ(ERROR_SUCCESS, Set(fresh, "W", "new"));
  RegCloseKey(CreateKey(fresh, "later"));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(fresh, "Sub"));
  EXPECT_EQ("second", Get(old, "v"));
  EXPECT_EQ("new", Get(old, "w"));
  EXPECT_EQ("<status " + std::to_string(ERROR_KEY_DELETED) + ">", Get(sub, "x"));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(old, "Later", 0, KEY_READ, &later));
  RegCloseKey(later);

  sqlite3* plain = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(database_.c_str(), &plain, SQLITE_OPEN_READWRITE, nullptr));
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(plain,
                                    "UPDATE vals SET data = CAST('third' AS BLOB) "
                                    "WHERE name_folded = CAST('V' AS BLOB)",
                                    nullptr, nullptr, nullptr));
  sqlite3_close(plain);
  EXPECT_EQ("third", Get(old, "v"));
  EXPECT_EQ("third", Get(fresh, "v"));
  RegCloseKey(sub);
  RegCloseKey(fresh);
  RegCloseKey(old);
}

// What a process remembers of its reads is bounded: a value larger than the
// bound, and more values than fit, still read back whole, and current after
// another connection rewrites them.
TEST_F(RegistryProcessTest, ReadsPastTheMemoryBoundStayWholeAndCurrent) {
  auto read = [](HKEY key, const std::string& name) {
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
      return std::string("<missing>");
    }
    std::string data(size, '\0');
    LONG status = RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&data[0]), &size);
    return status == ERROR_SUCCESS ? data.substr(0, size)
                                   : "<status " + std::to_string(status) + ">";
  };
  auto content = [](int i, char fill) {
    return std::string(i == 0 ? size_t{3} << 20 : size_t{300} << 10, fill) + std::to_string(i);
  };
  constexpr int kValues = 24;
  HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Large");
  for (int i = 0; i < kValues; ++i)
    ASSERT_EQ(ERROR_SUCCESS, Set(key, std::to_string(i), content(i, 'a')));
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < kValues; ++i)
      ASSERT_TRUE(content(i, 'a') == read(key, std::to_string(i))) << i;
  }
  SetRegistryDatabasePath(database_);
  HKEY other = CreateKey(HKEY_CURRENT_USER, "Software\\Large");
  for (int i = 0; i < kValues; i += 2)
    ASSERT_EQ(ERROR_SUCCESS, Set(other, std::to_string(i), content(i, 'b')));
  for (int i = 0; i < kValues; ++i) {
    EXPECT_TRUE(content(i, i % 2 == 0 ? 'b' : 'a') == read(key, std::to_string(i))) << i;
  }
  RegCloseKey(other);
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
