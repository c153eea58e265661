// Telling, without a system call or a lock, whether an SQLite database in
// WAL mode may have changed since an earlier look.
//
// Every commit, by any connection in any process, rewrites the header of the
// database's shared WAL index (the -shm file, which every connection maps)
// before the commit returns.  Two equal stamps read from that header mean
// that nothing was committed in between; a stamp read after a commit
// returned always differs from one read before it.  A checkpoint may change
// the stamp without changing the data, which only costs a caller a re-read.
//
// Linux only (the unix VFS).  Not thread-safe: use it under the same lock as
// its connection.
#ifndef INIREG_PLATFORM_SQLITE_CHANGE_STAMP_H_
#define INIREG_PLATFORM_SQLITE_CHANGE_STAMP_H_

#include <array>
#include <cstdint>

struct sqlite3;
struct sqlite3_file;

namespace inireg {

class SqliteChangeStamp {
 public:
  // The first of the WAL index header's two copies (48 bytes).
  using Stamp = std::array<uint64_t, 6>;

  // Watches the main database of `connection`, which must be in WAL mode and
  // have read the database once (so that the WAL index is mapped); without
  // that, Read always fails.
  void Attach(sqlite3* connection);
  // False when no stamp can be told now: not attached, the index not mapped,
  // or a writer half way through rewriting the header.  The caller must then
  // assume a change.
  bool Read(Stamp* stamp) const;

 private:
  sqlite3_file* file_ = nullptr;
};

}  // namespace inireg

#endif  // INIREG_PLATFORM_SQLITE_CHANGE_STAMP_H_
