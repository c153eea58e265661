// The parent's side of the registry_writer helper program: starting it with
// its reports on a pipe, and checking the database it leaves behind.  For
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

#endif  // INIREG_TESTS_REGISTRY_WRITER_PROCESS_H_
