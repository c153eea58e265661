// The store behind the Linux registry: keys and values in one SQLite file.
//
// A RegistryDatabase is one connection to one database file.  It knows keys
// by id and names by their bytes; handles, access rights and the Win32
// argument rules belong to the caller (registry_api_linux.cpp).  Every method
// answers a Win32 status code and never throws.
//
// Promises: a file that is not a registry database (or is damaged) is never
// written to; every change is one IMMEDIATE transaction, so concurrent
// processes serialise their writes instead of losing them; key ids are never
// reused, so an id whose key was deleted stays dead (ERROR_KEY_DELETED).
// Each key keeps its last-write time; a database of the first schema, which
// had none, is upgraded in place on first use.
//
// Key lookups and value reads are remembered per connection while nothing is
// committed to the file (SqliteChangeStamp tells, without a lock), so that
// repeating them costs neither SQL nor a system call; a read that starts after
// another process's commit returned always sees that commit.
//
// Not thread-safe: the caller serialises all use of one object.
#ifndef INIREG_PLATFORM_REGISTRY_DATABASE_H_
#define INIREG_PLATFORM_REGISTRY_DATABASE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "inireg/win32_registry.h"
#include "platform/sqlite_change_stamp.h"

struct sqlite3;
struct sqlite3_stmt;

namespace inireg {

// A key path relative to some key, already split into non-empty components.
using KeyPath = std::vector<std::string>;

struct RegistryValue {
  std::string name;  // As first written.
  DWORD type = REG_NONE;
  std::string data;  // Exactly the bytes written.
};

// What RegQueryInfoKeyA reports.  Name lengths are in bytes, without a NUL.
struct RegistryKeyInfo {
  DWORD subkeys = 0;
  DWORD longestSubkeyName = 0;
  DWORD values = 0;
  DWORD longestValueName = 0;
  DWORD largestValueData = 0;
  int64_t modified = 0;  // FILETIME: 100 ns since 1601.
};

class RegistryDatabase {
 public:
  // Ids of the four root keys, in the order of HKEY_CLASSES_ROOT..HKEY_USERS.
  static constexpr int64_t kFirstRootId = 1;
  static constexpr int kRootCount = 4;

  // Opens the database at `path`, creating the file (0600) and its missing
  // folders (0700) when absent, after the checks of registry_file_check.h
  // (whose statuses it answers).  ERROR_REGISTRY_CORRUPT when the file is not
  // a registry database.
  static LONG Open(const std::string& path, std::shared_ptr<RegistryDatabase>* database);
  // Why the last failing call of any database in this process failed, as one
  // line; empty before the first failure.  The caller holds the registry's
  // lock, as for every other use.
  static const std::string& LastFailure();
  ~RegistryDatabase();
  RegistryDatabase(const RegistryDatabase&) = delete;
  RegistryDatabase& operator=(const RegistryDatabase&) = delete;

  // 0 when the key exists, else ERROR_KEY_DELETED.
  LONG CheckKey(int64_t key);
  // The key at `path` below `base`: ERROR_FILE_NOT_FOUND when missing.
  LONG FindKey(int64_t base, const KeyPath& path, int64_t* id);
  // Like FindKey, creating what is missing; `created` tells whether the last
  // component was made by this call.  ERROR_INVALID_PARAMETER when the new key
  // would lie more than 512 levels below its root.
  LONG CreateKey(int64_t base, const KeyPath& path, int64_t* id, bool* created);
  // Deletes the key at `path` (the base itself when empty) with its values.
  // ERROR_ACCESS_DENIED for a root or a key that has subkeys.
  LONG DeleteKey(int64_t base, const KeyPath& path);
  // Deletes the key at `path` with everything below it in one transaction;
  // with `keepKey`, only its values and subkeys.  ERROR_ACCESS_DENIED when a
  // root itself would go.
  LONG DeleteTree(int64_t base, const KeyPath& path, bool keepKey);
  // The `index`th subkey name in upper-cased byte order, and its last-write
  // time when `modified` is given; ERROR_NO_MORE_ITEMS past the end.
  LONG SubkeyAt(int64_t key, DWORD index, std::string* name, int64_t* modified = nullptr);
  LONG KeyInfo(int64_t key, RegistryKeyInfo* info);
  // Moves committed writes from the journal into the database file, synced.
  LONG Flush();

  LONG GetValue(int64_t key, const std::string& name, RegistryValue* value);
  // The `index`th value in creation order; ERROR_NO_MORE_ITEMS past the end.
  LONG ValueAt(int64_t key, DWORD index, RegistryValue* value);
  // Creates or overwrites a value; an overwrite keeps its name and position.
  LONG SetValue(int64_t key, const std::string& name, DWORD type, const BYTE* data, DWORD size);
  LONG DeleteValue(int64_t key, const std::string& name);

  // Copies the write-ahead log into the database file, as far as no other
  // process's open read holds it back, if this connection wrote since the
  // last time; never waits.  Called when the process stops using the
  // database, so that the file alone is complete after a clean exit.
  void CheckpointLog();

 private:
  enum Statement : int;
  class Query;
  class Transaction;
  class Read;

  explicit RegistryDatabase(sqlite3* connection);
  void Claim();
  void CreateSchema();
  void UpgradeSchema();
  // Sets a key's last-write time to now (a key changes when its values or
  // its list of subkeys do).
  void Touch(int64_t key);
  void TouchParent(int64_t key);
  sqlite3_stmt* Prepared(Statement statement);
  void Execute(const char* sql);
  int64_t Scalar(const char* sql);
  std::string Text(const char* sql);
  bool IsEmpty();
  bool IsOurs();
  bool KeyExists(int64_t key);
  int64_t ResolvePath(int64_t base, const KeyPath& path, size_t* resolved);
  // The same answers through the read cache, inside `read`.
  bool KeyExists(Read& read, int64_t key);
  int64_t ChildOf(Read& read, int64_t parent, const std::string& name);
  int64_t ResolvePath(Read& read, int64_t base, const KeyPath& path, size_t* resolved);

  // What this connection read while the database stayed as `stamp` says.
  // Keys that do not exist and values that do not exist are remembered too.
  struct ReadCache {
    bool valid = false;  // False: `stamp` is unknown, nothing may be kept.
    SqliteChangeStamp::Stamp stamp{};
    size_t bytes = 0;                                   // Roughly, to bound the memory held.
    std::unordered_map<int64_t, bool> keys;             // Id: exists.
    std::unordered_map<std::string, int64_t> children;  // Parent id, folded name: id or 0.
    struct Value {
      bool exists = false;
      RegistryValue value;
    };
    std::unordered_map<std::string, Value> values;  // Key id, folded name.
    // Drops everything, and the stamp with it.
    void Forget();
    // Drops everything, keeping the stamp.
    void Clear();
    // False when an entry of about `size` bytes may not be kept; else makes
    // room for it. for an entry of about `size` bytes.
    bool Admit(size_t size);
  };

  // Enumeration by index goes on from the row the previous index found, as
  // long as nothing was committed since (by this connection or another), so
  // that listing n names costs n steps rather than n * n / 2.
  struct EnumerationCursor {
    bool valid = false;
    int64_t key = 0;
    DWORD index = 0;
    std::pair<int64_t, uint64_t> stamp;  // data_version, local commits.
    int64_t lastId = 0;                  // Values: the row id found.
    std::string lastFolded;              // Subkeys: the folded name found.
  };
  std::pair<int64_t, uint64_t> ChangeStamp();
  bool Follows(const EnumerationCursor& cursor, int64_t key, DWORD index);
  void Advance(EnumerationCursor* cursor, int64_t key, DWORD index);

  struct Closer {
    void operator()(sqlite3* connection) const;
  };
  struct Finalizer {
    void operator()(sqlite3_stmt* statement) const;
  };
  // Declared first so that it outlives the statements prepared on it.
  std::unique_ptr<sqlite3, Closer> connection_;
  std::vector<std::unique_ptr<sqlite3_stmt, Finalizer>> statements_;  // By Statement.
  uint64_t localCommits_ = 0;
  uint64_t checkpointedCommits_ = 0;
  EnumerationCursor valueCursor_;
  EnumerationCursor subkeyCursor_;
  SqliteChangeStamp changeStamp_;
  ReadCache cache_;
};

}  // namespace inireg

#endif  // INIREG_PLATFORM_REGISTRY_DATABASE_H_
