// The SQLite file behind the Linux registry: opening and recognising it, its
// schema, and the key and value operations as transactions.
//
// Names are stored as bytes twice: as first written, and folded to ASCII upper
// case for lookups.  The folded form is also the enumeration order of
// subkeys, which is Windows' order.  Values enumerate by their row id, which
// grows with every new value and is kept by an overwrite: creation order.
#include "platform/registry_database.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/registry_file_check.h"
#include "text/ascii_case.h"

namespace inireg {

namespace {

// "INRG": marks a database as ours, next to the schema version.
constexpr int64_t kApplicationId = 0x494E5247;
// Version 1 had no last-write times and version 2 kept them on keys only;
// both are upgraded in place on first use.
constexpr int64_t kSchemaVersion = 3;
constexpr int64_t kFirstSchemaVersion = 1;
// Keys nest at most this deep below a root, as on Windows: deeper trees only
// make every walk over them (export, deletion) risk the stack.
constexpr int64_t kMaxKeyDepth = 512;
// Concurrent writers wait this long for each other before giving up.
constexpr int kBusyTimeoutMs = 5000;
// The read cache starts afresh past about this many bytes, and leaves out
// single values of more than a quarter of it.
constexpr size_t kMaxCacheBytes = size_t{4} << 20;
constexpr size_t kCacheEntryOverhead = 64;

const char* const kSchema = R"(
CREATE TABLE keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER REFERENCES keys(id),
  name BLOB NOT NULL,
  name_folded BLOB NOT NULL,
  modified INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX keys_by_name ON keys(parent, name_folded);
CREATE TABLE vals(
  id INTEGER PRIMARY KEY,
  key_id INTEGER NOT NULL REFERENCES keys(id),
  name BLOB NOT NULL,
  name_folded BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  modified INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX vals_by_name ON vals(key_id, name_folded);
CREATE INDEX vals_by_order ON vals(key_id, id);
INSERT INTO keys(id, parent, name, name_folded) VALUES
  (1, NULL, CAST('HKEY_CLASSES_ROOT' AS BLOB), CAST('HKEY_CLASSES_ROOT' AS BLOB)),
  (2, NULL, CAST('HKEY_CURRENT_USER' AS BLOB), CAST('HKEY_CURRENT_USER' AS BLOB)),
  (3, NULL, CAST('HKEY_LOCAL_MACHINE' AS BLOB), CAST('HKEY_LOCAL_MACHINE' AS BLOB)),
  (4, NULL, CAST('HKEY_USERS' AS BLOB), CAST('HKEY_USERS' AS BLOB)),
  (5, 2, CAST('Software' AS BLOB), CAST('SOFTWARE' AS BLOB)),
  (6, 3, CAST('SOFTWARE' AS BLOB), CAST('SOFTWARE' AS BLOB));
)";

// A failed SQLite call, carried to the public method that maps it to a status.
struct SqliteError {
  int code;
};

void Check(int code) {
  if (code != SQLITE_OK) throw SqliteError{code};
}

LONG StatusOf(int code) {
  switch (code & 0xff) {
    case SQLITE_NOMEM:
    case SQLITE_TOOBIG:
      return ERROR_OUTOFMEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_CANTOPEN:
    case SQLITE_ERROR:  // Our fixed SQL failing means a schema that is not ours.
    case SQLITE_SCHEMA:
      return ERROR_REGISTRY_CORRUPT;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

std::string& FailureText() {
  static std::string* const text = new std::string;  // Outlives static destructors.
  return *text;
}

// What a failed SQLite call means to the user, in a few words.
std::string Describe(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "another process held the registry locked for more than " +
             std::to_string(kBusyTimeoutMs / 1000) + " seconds";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_ERROR:
    case SQLITE_SCHEMA:
      return "the file is damaged or not a registry database; it was left as it is";
    case SQLITE_FULL:
      return "the disk is full";
    case SQLITE_READONLY:
      return "the file or its folder is read-only";
    default:
      return sqlite3_errstr(code);
  }
}

template <typename Body>
LONG Guarded(Body&& body) {
  try {
    return body();
  } catch (const SqliteError& error) {
    FailureText() = "registry database: " + Describe(error.code);
    return StatusOf(error.code);
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

// The current time as a FILETIME (100-nanosecond intervals since 1601), to
// the millisecond, as coarse as the Windows clock a key's last-write time
// comes from (one timer tick, 1 to 16 ms): a burst of changes kept on a key's
// row (subkeys created, values deleted) then rewrites the row once, since
// kTouchKey writes only a different time.
int64_t Now() {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  int64_t milliseconds = now.tv_nsec / 1000000;
  return (static_cast<int64_t>(now.tv_sec) + kSecondsFrom1601To1970) * 10000000 +
         milliseconds * 10000;
}

std::string Fold(const std::string& name) { return UpperCased(name); }

// The read cache's name for the folded `name` in key `id`.
std::string CacheSlot(int64_t id, const std::string& folded) {
  std::string slot(reinterpret_cast<const char*>(&id), sizeof id);
  slot += folded;
  return slot;
}

}  // namespace

// Every statement the database runs more than once, prepared on first use:
// each one's name with its SQL, so that the names and the texts cannot drift
// apart.
//
// A key's last-write time (kModifiedOf) is the newest of the time on its row
// (its creation, its subkeys' creation and deletion, a value's deletion) and
// the times on its values' rows.  A value's write stamps its own row, which
// the write rewrites anyway, so that it commits no page of `keys`.
#define INIREG_REGISTRY_STATEMENTS(X)                                                           \
  X(kBegin, "BEGIN IMMEDIATE")                                                                  \
  X(kBeginRead, "BEGIN")                                                                        \
  X(kCommit, "COMMIT")                                                                          \
  X(kKeyExists, "SELECT 1 FROM keys WHERE id = ?1")                                             \
  X(kFindChild, "SELECT id FROM keys WHERE parent = ?1 AND name_folded = ?2")                   \
  X(kInsertKey, "INSERT INTO keys(parent, name, name_folded, modified) VALUES(?1, ?2, ?3, ?4)") \
  X(kHasChildren, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1")                               \
  X(kDeleteKeyRow, "DELETE FROM keys WHERE id = ?1")                                            \
  X(kDeleteValuesOf, "DELETE FROM vals WHERE key_id = ?1")                                      \
  X(kSubkeyAt,                                                                                  \
    "SELECT name, name_folded, id FROM keys WHERE parent = ?1 "                                 \
    "ORDER BY name_folded LIMIT 1 OFFSET ?2")                                                   \
  X(kSubkeyAfter,                                                                               \
    "SELECT name, name_folded, id FROM keys WHERE parent = ?1 AND name_folded > ?2 "            \
    "ORDER BY name_folded LIMIT 1")                                                             \
  X(kGetValue, "SELECT name, type, data FROM vals WHERE key_id = ?1 AND name_folded = ?2")      \
  X(kValueAt,                                                                                   \
    "SELECT name, type, data, id FROM vals WHERE key_id = ?1 ORDER BY id LIMIT 1 OFFSET ?2")    \
  X(kValueAfter,                                                                                \
    "SELECT name, type, data, id FROM vals WHERE key_id = ?1 AND id > ?2 ORDER BY id LIMIT 1")  \
  X(kDataVersion, "PRAGMA data_version")                                                        \
  X(kDepthOf,                                                                                   \
    "WITH RECURSIVE up(id, depth) AS (SELECT ?1, 0 UNION ALL "                                  \
    "SELECT keys.parent, up.depth + 1 FROM keys JOIN up ON keys.id = up.id "                    \
    "WHERE keys.parent IS NOT NULL) SELECT max(depth) FROM up")                                 \
  X(kSetValue,                                                                                  \
    "INSERT INTO vals(key_id, name, name_folded, type, data, modified) "                        \
    "VALUES(?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT(key_id, name_folded) DO UPDATE "                \
    "SET type = excluded.type, data = excluded.data, modified = excluded.modified")             \
  X(kDeleteValue, "DELETE FROM vals WHERE key_id = ?1 AND name_folded = ?2")                    \
  X(kTouchKey, "UPDATE keys SET modified = ?2 WHERE id = ?1 AND modified <> ?2")                \
  X(kKeyInfoSubkeys,                                                                            \
    "SELECT count(*), coalesce(max(length(name)), 0) FROM keys WHERE parent = ?1")              \
  X(kKeyInfoValues,                                                                             \
    "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(data)), 0) "          \
    "FROM vals WHERE key_id = ?1")                                                              \
  X(kModifiedOf,                                                                                \
    "SELECT max(modified, coalesce((SELECT max(vals.modified) FROM vals "                       \
    "WHERE vals.key_id = keys.id), 0)) FROM keys WHERE id = ?1")                                \
  X(kDeleteTreeValues,                                                                          \
    "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "                                          \
    "SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "                             \
    "DELETE FROM vals WHERE key_id IN tree")                                                    \
  X(kDeleteTreeKeys,                                                                            \
    "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "                                          \
    "SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "                             \
    "DELETE FROM keys WHERE id IN tree AND id != ?2")                                           \
  X(kParentOf, "SELECT parent FROM keys WHERE id = ?1")                                         \
  X(kCheckpoint, "PRAGMA wal_checkpoint(PASSIVE)")

enum RegistryDatabase::Statement : int {
#define INIREG_STATEMENT_NAME(name, sql) name,
  INIREG_REGISTRY_STATEMENTS(INIREG_STATEMENT_NAME)
#undef INIREG_STATEMENT_NAME
      kStatementCount
};

namespace {

const char* const kStatementSql[] = {
#define INIREG_STATEMENT_SQL(name, sql) sql,
    INIREG_REGISTRY_STATEMENTS(INIREG_STATEMENT_SQL)
#undef INIREG_STATEMENT_SQL
};

}  // namespace

#undef INIREG_REGISTRY_STATEMENTS

// One run of a cached statement: binds, steps, and resets it when done so
// that it holds no read lock and no bound data afterwards.
class RegistryDatabase::Query {
 public:
  Query(RegistryDatabase& database, Statement statement)
      : statement_(database.Prepared(statement)) {}
  ~Query() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Query& Bind(int index, int64_t number) {
    Check(sqlite3_bind_int64(statement_, index, number));
    return *this;
  }
  Query& Bind(int index, const std::string& bytes) {
    Check(sqlite3_bind_blob64(statement_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT));
    return *this;
  }
  // `bytes` must stay valid until the query is done.
  Query& BindBorrowed(int index, const void* bytes, size_t size) {
    Check(sqlite3_bind_blob64(statement_, index, size == 0 ? "" : bytes, size, SQLITE_STATIC));
    return *this;
  }
  // True for a row, false when done.
  bool Step() {
    int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW) return true;
    if (code == SQLITE_DONE) return false;
    throw SqliteError{code};
  }
  void Run() { Step(); }
  // The columns name, type, data.
  void ReadValue(RegistryValue* value) {
    value->name = Bytes(0);
    value->type = static_cast<DWORD>(Integer(1));
    value->data = Bytes(2);
  }
  int64_t Integer(int column) { return sqlite3_column_int64(statement_, column); }
  std::string Bytes(int column) {
    const void* bytes = sqlite3_column_blob(statement_, column);
    int size = sqlite3_column_bytes(statement_, column);
    return bytes == nullptr ? std::string() : std::string(static_cast<const char*>(bytes), size);
  }

 private:
  sqlite3_stmt* statement_;
};

// A write transaction, rolled back unless committed.  IMMEDIATE takes the
// write lock up front, so a concurrent writer waits in the busy handler
// instead of failing half way through.
class RegistryDatabase::Transaction {
 public:
  explicit Transaction(RegistryDatabase& database) : database_(database) {
    database_.cache_.Forget();
    Query(database_, kBegin).Run();
  }
  ~Transaction() {
    // SQLite may already have rolled back after an I/O error.
    if (!sqlite3_get_autocommit(database_.connection_.get())) {
      sqlite3_exec(database_.connection_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit() {
    Query(database_, kCommit).Run();
    ++database_.localCommits_;
  }

 private:
  RegistryDatabase& database_;
};

// One call's reading.  It first brings the read cache in line with the file;
// what the cache lacks is then read in one read transaction, begun at the
// first miss (Begin), so that all of it comes from one state of the database.
class RegistryDatabase::Read {
 public:
  explicit Read(RegistryDatabase& database) : database_(database) {
    ReadCache& cache = database_.cache_;
    SqliteChangeStamp::Stamp now;
    bool known = database_.changeStamp_.Read(&now);
    if (!known || !cache.valid || now != cache.stamp) {
      cache.Forget();
      cache.valid = known;
      cache.stamp = now;
    }
  }
  ~Read() {
    if (!begun_) return;
    sqlite3_step(commit_);
    sqlite3_reset(commit_);
    sqlite3* connection = database_.connection_.get();
    if (!sqlite3_get_autocommit(connection))
      sqlite3_exec(connection, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Read(const Read&) = delete;
  Read& operator=(const Read&) = delete;
  void Begin() {
    if (begun_) return;
    commit_ = database_.Prepared(kCommit);
    Query(database_, kBeginRead).Run();
    begun_ = true;
  }

 private:
  RegistryDatabase& database_;
  sqlite3_stmt* commit_ = nullptr;
  bool begun_ = false;
};

void RegistryDatabase::ReadCache::Forget() {
  valid = false;
  Clear();
}

void RegistryDatabase::ReadCache::Clear() {
  keys.clear();
  children.clear();
  values.clear();
  bytes = 0;
}

bool RegistryDatabase::ReadCache::Admit(size_t size) {
  if (!valid || size > kMaxCacheBytes / 4) return false;
  size += kCacheEntryOverhead;
  if (bytes + size > kMaxCacheBytes) Clear();
  bytes += size;
  return true;
}

void RegistryDatabase::Closer::operator()(sqlite3* connection) const {
  sqlite3_close_v2(connection);
}
void RegistryDatabase::Finalizer::operator()(sqlite3_stmt* statement) const {
  sqlite3_finalize(statement);
}

RegistryDatabase::RegistryDatabase(sqlite3* connection)
    : connection_(connection), statements_(kStatementCount) {}

RegistryDatabase::~RegistryDatabase() = default;

LONG RegistryDatabase::Open(const std::string& path, std::shared_ptr<RegistryDatabase>* database) {
  std::string usable;
  std::string reason;
  if (LONG status = PrepareRegistryFile(path, &usable, &reason)) {
    FailureText() = reason;
    return status;
  }
  int failure = SQLITE_OK;
  LONG status = Guarded([&] {
    sqlite3* raw = nullptr;
    // The checked file itself: links were resolved by the check.
    int code = sqlite3_open_v2(usable.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                               nullptr);
    std::shared_ptr<RegistryDatabase> opened(new RegistryDatabase(raw));
    try {
      if (code != SQLITE_OK) throw SqliteError{code};
      opened->Claim();
    } catch (const SqliteError& error) {
      failure = error.code;
      throw;
    }
    *database = std::move(opened);
    return ERROR_SUCCESS;
  });
  if (failure != SQLITE_OK)
    FailureText() = "registry database " + ShownPath(path) + ": " + Describe(failure);
  return status;
}

const std::string& RegistryDatabase::LastFailure() { return FailureText(); }

// Recognises the database as ours, or initialises it when it is empty.
// Nothing is written before the file has been recognised.  Several processes
// may meet a fresh file at once: the check and the schema are one write
// transaction, so that none sees the schema half made, and whoever finds the
// lock taken waits in the busy handler rather than failing.
void RegistryDatabase::Claim() {
  Check(sqlite3_busy_timeout(connection_.get(), kBusyTimeoutMs));
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    try {
      Transaction transaction(*this);
      if (!IsOurs()) {
        if (!IsEmpty()) throw SqliteError{SQLITE_NOTADB};
        CreateSchema();
      }
      UpgradeSchema();
      transaction.Commit();
      // WAL lets readers run beside a writer; NORMAL still keeps every
      // commit once the writing process dies, and loses at most the last
      // ones when the whole machine does.
      bool wal = Text("PRAGMA journal_mode=WAL") == "wal";
      Execute("PRAGMA synchronous=NORMAL");
      // The stamp needs the WAL index mapped, which the first read does.
      if (wal && Scalar("SELECT count(*) FROM keys WHERE id = 1") == 1) {
        changeStamp_.Attach(connection_.get());
      }
      return;
    } catch (const SqliteError& error) {
      // While another process turns a fresh file to WAL, or builds the
      // log's index, SQLite answers SQLITE_BUSY at once, without the busy
      // handler (seen with six processes starting on a new file).
      if ((error.code & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) throw;
      sqlite3_sleep(5);
    }
  }
}

void RegistryDatabase::CheckpointLog() {
  if (localCommits_ == checkpointedCommits_) return;
  if (sqlite3_wal_checkpoint_v2(connection_.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                nullptr) == SQLITE_OK) {
    checkpointedCommits_ = localCommits_;
  }
}

bool RegistryDatabase::IsOurs() {
  if (Scalar("PRAGMA application_id") != kApplicationId) return false;
  int64_t version = Scalar("PRAGMA user_version");
  return version >= kFirstSchemaVersion && version <= kSchemaVersion;
}

bool RegistryDatabase::IsEmpty() {
  return Scalar("PRAGMA application_id") == 0 && Scalar("PRAGMA user_version") == 0 &&
         Scalar("SELECT count(*) FROM sqlite_master") == 0;
}

void RegistryDatabase::CreateSchema() {
  Execute(kSchema);
  Execute(("UPDATE keys SET modified = " + std::to_string(Now())).c_str());
  Execute(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str());
  Execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
}

// An older database is brought to the current version in place, one step at
// a time, inside Claim's write transaction: a crash or a failure leaves the
// version it had, two processes never both upgrade, and none sees an upgrade
// half done.
//   1 -> 2: keys gain their last-write times, all set to the upgrade's time.
//   2 -> 3: values gain theirs, 0 (older than any key's), so that every key
//           keeps the time it had.
void RegistryDatabase::UpgradeSchema() {
  int64_t version = Scalar("PRAGMA user_version");
  if (version == kSchemaVersion) return;
  if (version == kFirstSchemaVersion) {
    Execute("ALTER TABLE keys ADD COLUMN modified INTEGER NOT NULL DEFAULT 0");
    Execute(("UPDATE keys SET modified = " + std::to_string(Now())).c_str());
  }
  Execute("ALTER TABLE vals ADD COLUMN modified INTEGER NOT NULL DEFAULT 0");
  Execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
}

void RegistryDatabase::Touch(int64_t key) {
  Query(*this, kTouchKey).Bind(1, key).Bind(2, Now()).Run();
}

sqlite3_stmt* RegistryDatabase::Prepared(Statement statement) {
  auto& slot = statements_[statement];
  if (!slot) {
    sqlite3_stmt* prepared = nullptr;
    Check(sqlite3_prepare_v3(connection_.get(), kStatementSql[statement], -1,
                             SQLITE_PREPARE_PERSISTENT, &prepared, nullptr));
    slot.reset(prepared);
  }
  return slot.get();
}

void RegistryDatabase::Execute(const char* sql) {
  Check(sqlite3_exec(connection_.get(), sql, nullptr, nullptr, nullptr));
}

std::string RegistryDatabase::Text(const char* sql) {
  sqlite3_stmt* raw = nullptr;
  Check(sqlite3_prepare_v2(connection_.get(), sql, -1, &raw, nullptr));
  std::unique_ptr<sqlite3_stmt, Finalizer> statement(raw);
  int code = sqlite3_step(raw);
  if (code != SQLITE_ROW) throw SqliteError{code == SQLITE_DONE ? SQLITE_CORRUPT : code};
  const unsigned char* text = sqlite3_column_text(raw, 0);
  return text == nullptr ? std::string() : reinterpret_cast<const char*>(text);
}

int64_t RegistryDatabase::Scalar(const char* sql) {
  sqlite3_stmt* raw = nullptr;
  Check(sqlite3_prepare_v2(connection_.get(), sql, -1, &raw, nullptr));
  std::unique_ptr<sqlite3_stmt, Finalizer> statement(raw);
  int code = sqlite3_step(raw);
  if (code != SQLITE_ROW) throw SqliteError{code == SQLITE_DONE ? SQLITE_CORRUPT : code};
  return sqlite3_column_int64(raw, 0);
}

bool RegistryDatabase::KeyExists(int64_t key) {
  return Query(*this, kKeyExists).Bind(1, key).Step();
}

// Follows `path` from `base` as far as it exists; `resolved` counts the
// components found, and the id of the last one found is returned.
int64_t RegistryDatabase::ResolvePath(int64_t base, const KeyPath& path, size_t* resolved) {
  int64_t id = base;
  for (*resolved = 0; *resolved < path.size(); ++*resolved) {
    Query find(*this, kFindChild);
    if (!find.Bind(1, id).Bind(2, Fold(path[*resolved])).Step()) break;
    id = find.Integer(0);
  }
  return id;
}

bool RegistryDatabase::KeyExists(Read& read, int64_t key) {
  auto hit = cache_.keys.find(key);
  if (hit != cache_.keys.end()) return hit->second;
  read.Begin();
  bool exists = KeyExists(key);
  if (cache_.Admit(sizeof key)) cache_.keys.emplace(key, exists);
  return exists;
}

// The id of `parent`'s subkey `name`, 0 when there is none.
int64_t RegistryDatabase::ChildOf(Read& read, int64_t parent, const std::string& name) {
  std::string folded = Fold(name);
  std::string slot = CacheSlot(parent, folded);
  auto hit = cache_.children.find(slot);
  if (hit != cache_.children.end()) return hit->second;
  read.Begin();
  int64_t child = 0;
  {
    Query find(*this, kFindChild);
    if (find.Bind(1, parent).Bind(2, folded).Step()) child = find.Integer(0);
  }
  if (cache_.Admit(slot.size())) cache_.children.emplace(std::move(slot), child);
  return child;
}

int64_t RegistryDatabase::ResolvePath(Read& read, int64_t base, const KeyPath& path,
                                      size_t* resolved) {
  int64_t id = base;
  for (*resolved = 0; *resolved < path.size(); ++*resolved) {
    int64_t child = ChildOf(read, id, path[*resolved]);
    if (child == 0) break;
    id = child;
  }
  return id;
}

LONG RegistryDatabase::CheckKey(int64_t key) {
  return Guarded([&] {
    Read read(*this);
    return KeyExists(read, key) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
  });
}

LONG RegistryDatabase::FindKey(int64_t base, const KeyPath& path, int64_t* id) {
  return Guarded([&] {
    Read read(*this);
    size_t resolved = 0;
    int64_t found = ResolvePath(read, base, path, &resolved);
    if (resolved < path.size() || path.empty()) {
      if (!KeyExists(read, base)) return ERROR_KEY_DELETED;
      if (resolved < path.size()) return ERROR_FILE_NOT_FOUND;
    }
    *id = found;
    return ERROR_SUCCESS;
  });
}

LONG RegistryDatabase::CreateKey(int64_t base, const KeyPath& path, int64_t* id, bool* created) {
  return Guarded([&] {
    Transaction transaction(*this);
    if (!KeyExists(base)) return ERROR_KEY_DELETED;
    size_t resolved = 0;
    int64_t parent = ResolvePath(base, path, &resolved);
    if (resolved < path.size()) {
      Query depth(*this, kDepthOf);
      depth.Bind(1, parent).Step();
      if (depth.Integer(0) + static_cast<int64_t>(path.size() - resolved) > kMaxKeyDepth) {
        return ERROR_INVALID_PARAMETER;
      }
    }
    if (resolved < path.size()) Touch(parent);
    int64_t now = Now();
    for (size_t i = resolved; i < path.size(); ++i) {
      Query(*this, kInsertKey)
          .Bind(1, parent)
          .Bind(2, path[i])
          .Bind(3, Fold(path[i]))
          .Bind(4, now)
          .Run();
      parent = sqlite3_last_insert_rowid(connection_.get());
    }
    transaction.Commit();
    *id = parent;
    *created = resolved < path.size();
    return ERROR_SUCCESS;
  });
}

LONG RegistryDatabase::DeleteKey(int64_t base, const KeyPath& path) {
  return Guarded([&] {
    Transaction transaction(*this);
    if (!KeyExists(base)) return ERROR_KEY_DELETED;
    size_t resolved = 0;
    int64_t id = ResolvePath(base, path, &resolved);
    if (resolved < path.size()) return ERROR_FILE_NOT_FOUND;
    if (id < kFirstRootId + kRootCount) return ERROR_ACCESS_DENIED;
    if (Query(*this, kHasChildren).Bind(1, id).Step()) return ERROR_ACCESS_DENIED;
    TouchParent(id);
    Query(*this, kDeleteValuesOf).Bind(1, id).Run();
    Query(*this, kDeleteKeyRow).Bind(1, id).Run();
    transaction.Commit();
    return ERROR_SUCCESS;
  });
}

void RegistryDatabase::TouchParent(int64_t key) {
  Query parent(*this, kParentOf);
  if (parent.Bind(1, key).Step()) Touch(parent.Integer(0));
}

LONG RegistryDatabase::DeleteTree(int64_t base, const KeyPath& path, bool keepKey) {
  return Guarded([&] {
    Transaction transaction(*this);
    if (!KeyExists(base)) return ERROR_KEY_DELETED;
    size_t resolved = 0;
    int64_t id = ResolvePath(base, path, &resolved);
    if (resolved < path.size()) return ERROR_FILE_NOT_FOUND;
    if (keepKey) {
      Touch(id);
    } else {
      if (id < kFirstRootId + kRootCount) return ERROR_ACCESS_DENIED;
      TouchParent(id);
    }
    Query(*this, kDeleteTreeValues).Bind(1, id).Run();
    Query(*this, kDeleteTreeKeys).Bind(1, id).Bind(2, keepKey ? id : 0).Run();
    transaction.Commit();
    return ERROR_SUCCESS;
  });
}

LONG RegistryDatabase::KeyInfo(int64_t key, RegistryKeyInfo* info) {
  return Guarded([&] {
    // One read transaction, so that the counts and the time belong together.
    Read read(*this);
    read.Begin();
    Query modified(*this, kModifiedOf);
    if (!modified.Bind(1, key).Step()) return ERROR_KEY_DELETED;
    info->modified = modified.Integer(0);
    Query subkeys(*this, kKeyInfoSubkeys);
    subkeys.Bind(1, key).Step();
    info->subkeys = static_cast<DWORD>(subkeys.Integer(0));
    info->longestSubkeyName = static_cast<DWORD>(subkeys.Integer(1));
    Query values(*this, kKeyInfoValues);
    values.Bind(1, key).Step();
    info->values = static_cast<DWORD>(values.Integer(0));
    info->longestValueName = static_cast<DWORD>(values.Integer(1));
    info->largestValueData = static_cast<DWORD>(values.Integer(2));
    return ERROR_SUCCESS;
  });
}

LONG RegistryDatabase::Flush() {
  return Guarded([&] {
    Query(*this, kCheckpoint).Run();
    return ERROR_SUCCESS;
  });
}

LONG RegistryDatabase::SubkeyAt(int64_t key, DWORD index, std::string* name, int64_t* modified) {
  return Guarded([&] {
    Read read(*this);
    read.Begin();
    EnumerationCursor& cursor = subkeyCursor_;
    bool follows = Follows(cursor, key, index);
    Query query(*this, follows ? kSubkeyAfter : kSubkeyAt);
    query.Bind(1, key);
    if (follows) {
      query.Bind(2, cursor.lastFolded);
    } else {
      query.Bind(2, index);
    }
    cursor.valid = false;
    if (query.Step()) {
      *name = query.Bytes(0);
      // Only on request: the time looks at every value of the subkey.
      if (modified != nullptr) {
        Query time(*this, kModifiedOf);
        time.Bind(1, query.Integer(2)).Step();
        *modified = time.Integer(0);
      }
      Advance(&cursor, key, index);
      cursor.lastFolded = query.Bytes(1);
      return ERROR_SUCCESS;
    }
    return KeyExists(key) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
  });
}

LONG RegistryDatabase::GetValue(int64_t key, const std::string& name, RegistryValue* value) {
  return Guarded([&] {
    Read read(*this);
    std::string folded = Fold(name);
    std::string slot = CacheSlot(key, folded);
    auto hit = cache_.values.find(slot);
    bool exists = false;
    if (hit != cache_.values.end()) {
      exists = hit->second.exists;
      if (exists) *value = hit->second.value;
    } else {
      read.Begin();
      {
        Query query(*this, kGetValue);
        exists = query.Bind(1, key).Bind(2, folded).Step();
        if (exists) query.ReadValue(value);
      }
      size_t size = slot.size() + (exists ? value->name.size() + value->data.size() : 0);
      if (cache_.Admit(size)) {
        cache_.values.emplace(std::move(slot),
                              ReadCache::Value{exists, exists ? *value : RegistryValue()});
      }
    }
    if (exists) return ERROR_SUCCESS;
    return KeyExists(read, key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
  });
}

LONG RegistryDatabase::ValueAt(int64_t key, DWORD index, RegistryValue* value) {
  return Guarded([&] {
    Read read(*this);
    read.Begin();
    EnumerationCursor& cursor = valueCursor_;
    bool follows = Follows(cursor, key, index);
    Query query(*this, follows ? kValueAfter : kValueAt);
    query.Bind(1, key).Bind(2, follows ? cursor.lastId : static_cast<int64_t>(index));
    cursor.valid = false;
    if (query.Step()) {
      query.ReadValue(value);
      Advance(&cursor, key, index);
      cursor.lastId = query.Integer(3);
      return ERROR_SUCCESS;
    }
    return KeyExists(key) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
  });
}

std::pair<int64_t, uint64_t> RegistryDatabase::ChangeStamp() {
  Query query(*this, kDataVersion);
  query.Step();
  return {query.Integer(0), localCommits_};
}

bool RegistryDatabase::Follows(const EnumerationCursor& cursor, int64_t key, DWORD index) {
  return cursor.valid && cursor.key == key && index == cursor.index + 1 &&
         cursor.stamp == ChangeStamp();
}

void RegistryDatabase::Advance(EnumerationCursor* cursor, int64_t key, DWORD index) {
  cursor->valid = true;
  cursor->key = key;
  cursor->index = index;
  cursor->stamp = ChangeStamp();
}

LONG RegistryDatabase::SetValue(int64_t key, const std::string& name, DWORD type, const BYTE* data,
                                DWORD size) {
  return Guarded([&] {
    Transaction transaction(*this);
    if (!KeyExists(key)) return ERROR_KEY_DELETED;
    Query(*this, kSetValue)
        .Bind(1, key)
        .Bind(2, name)
        .Bind(3, Fold(name))
        .Bind(4, type)
        .BindBorrowed(5, data, size)
        .Bind(6, Now())
        .Run();
    transaction.Commit();
    return ERROR_SUCCESS;
  });
}

LONG RegistryDatabase::DeleteValue(int64_t key, const std::string& name) {
  return Guarded([&] {
    Transaction transaction(*this);
    if (!KeyExists(key)) return ERROR_KEY_DELETED;
    Query(*this, kDeleteValue).Bind(1, key).Bind(2, Fold(name)).Run();
    if (sqlite3_changes(connection_.get()) == 0) return ERROR_FILE_NOT_FOUND;
    Touch(key);
    transaction.Commit();
    return ERROR_SUCCESS;
  });
}

}  // namespace inireg
