// The parent's side of the registry_writer helper program: starting it with
// its reports on a pipe, checking the database it leaves behind, and making
// databases of earlier versions for it to upgrade.  For
// tests that define REGISTRY_WRITER (the program's path) and link SQLite.
#ifndef INIREG_TESTS_REGISTRY_WRITER_PROCESS_H_
#define INIREG_TESTS_REGISTRY_WRITER_PROCESS_H_

#include <spawn.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <string>

extern char** environ;

// Starts registry_writer on `database`, writing values named `prefix` and a
// number under HKEY_CURRENT_USER\`key` (`count` of them, 0: until killed).
// Returns the pipe its reports arrive on, or null.
inline std::FILE* StartRegistryWriter(const std::string& database, const char* key,
                                      const std::string& prefix, unsigned count, pid_t* pid) {
  int ends[2];
  if (pipe(ends) != 0) return nullptr;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, ends[0]);
  std::string countText = std::to_string(count);
  const char* argv[] = {REGISTRY_WRITER, database.c_str(),  key,
                        prefix.c_str(),  countText.c_str(), nullptr};
  int failed =
      posix_spawn(pid, REGISTRY_WRITER, &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (failed != 0) {
    close(ends[0]);
    return nullptr;
  }
  return fdopen(ends[0], "r");
}

// "ok", or what went wrong: the database must open and pass SQLite's
// integrity check.
inline std::string DatabaseIntegrity(const std::string& database) {
  sqlite3* connection = nullptr;
  if (sqlite3_open_v2(database.c_str(), &connection, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::string error = sqlite3_errmsg(connection);
    sqlite3_close(connection);
    return "does not open: " + error;
  }
  std::string result;
  sqlite3_stmt* check = nullptr;
  if (sqlite3_prepare_v2(connection, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK &&
      sqlite3_step(check) == SQLITE_ROW) {
    result = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
  } else {
    result = sqlite3_errmsg(connection);
  }
  sqlite3_finalize(check);
  sqlite3_close(connection);
  return result;
}

// The schema and rows of the first database version, which had no
// last-write times; key 7 is HKEY_CURRENT_USER\Software\Old with the values
// "b" and "a".
inline const char kFirstSchema[] = R"(
CREATE TABLE keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER REFERENCES keys(id),
  name BLOB NOT NULL,
  name_folded BLOB NOT NULL);
CREATE UNIQUE INDEX keys_by_name ON keys(parent, name_folded);
CREATE TABLE vals(
  id INTEGER PRIMARY KEY,
  key_id INTEGER NOT NULL REFERENCES keys(id),
  name BLOB NOT NULL,
  name_folded BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL);
CREATE UNIQUE INDEX vals_by_name ON vals(key_id, name_folded);
CREATE INDEX vals_by_order ON vals(key_id, id);
INSERT INTO keys(id, parent, name, name_folded) VALUES
  (1, NULL, CAST('HKEY_CLASSES_ROOT' AS BLOB), CAST('HKEY_CLASSES_ROOT' AS BLOB)),
  (2, NULL, CAST('HKEY_CURRENT_USER' AS BLOB), CAST('HKEY_CURRENT_USER' AS BLOB)),
  (3, NULL, CAST('HKEY_LOCAL_MACHINE' AS BLOB), CAST('HKEY_LOCAL_MACHINE' AS BLOB)),
  (4, NULL, CAST('HKEY_USERS' AS BLOB), CAST('HKEY_USERS' AS BLOB)),
  (5, 2, CAST('Software' AS BLOB), CAST('SOFTWARE' AS BLOB)),
  (6, 3, CAST('SOFTWARE' AS BLOB), CAST('SOFTWARE' AS BLOB)),
  (7, 5, CAST('Old' AS BLOB), CAST('OLD' AS BLOB));
INSERT INTO vals(key_id, name, name_folded, type, data) VALUES
  (7, CAST('b' AS BLOB), CAST('B' AS BLOB), 3, CAST('second' AS BLOB)),
  (7, CAST('a' AS BLOB), CAST('A' AS BLOB), 1, CAST('kept' AS BLOB));
PRAGMA application_id = 1229869639;
)";

// What the second version added to the first: the keys' last-write times,
// here all 130000000000000000 (a day in 2012).
inline const char kSecondVersionChange[] =
    "ALTER TABLE keys ADD COLUMN modified INTEGER NOT NULL DEFAULT 0;"
    "UPDATE keys SET modified = 130000000000000000;";

// Makes `path` a database of the first version's schema and rows, then
// `change`, labelled `version`; false when SQLite fails.
inline bool MakeFirstVersionDatabase(const std::string& path, int version,
                                     const char* change = "") {
  sqlite3* connection = nullptr;
  bool made = sqlite3_open(path.c_str(), &connection) == SQLITE_OK;
  std::string sql =
      kFirstSchema + (change + ("PRAGMA user_version = " + std::to_string(version) + ";"));
  made = made && sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(connection);
  return made;
}

#endif  // INIREG_TESTS_REGISTRY_WRITER_PROCESS_H_
