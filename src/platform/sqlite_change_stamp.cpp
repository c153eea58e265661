#include "platform/sqlite_change_stamp.h"

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace inireg {

namespace {

// The WAL index is mapped in regions of this size; the header opens the first.
constexpr int kIndexRegionSize = 32768;
// In each header copy: a byte that is non-zero once the header is valid.
constexpr size_t kIsInitOffset = 12;

}  // namespace

void SqliteChangeStamp::Attach(sqlite3* connection) {
  file_ = nullptr;
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(connection, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK)
    return;
  if (file == nullptr || file->pMethods == nullptr || file->pMethods->iVersion < 2 ||
      file->pMethods->xShmMap == nullptr) {
    return;
  }
  file_ = file;
}

bool SqliteChangeStamp::Read(Stamp* stamp) const {
  if (file_ == nullptr) return false;
  volatile void* region = nullptr;
  // Not extending: an index that is not mapped yet is reported, never made.
  if (file_->pMethods->xShmMap(file_, 0, kIndexRegionSize, 0, &region) != SQLITE_OK ||
      region == nullptr) {
    return false;
  }
  // A writer stores the second copy, then (after a barrier) the first; so
  // reading the first, then the second, and finding them equal means the
  // first was read whole.
  // The mapping is page-aligned, so the header reads as whole words.
  const volatile uint64_t* header = static_cast<const volatile uint64_t*>(region);
  Stamp first, second;
  // Acquire loads for the first copy keep the second copy's loads after
  // them (what a fence would do; ThreadSanitizer does not take fences).
  for (size_t i = 0; i < first.size(); ++i)
    first[i] = __atomic_load_n(&header[i], __ATOMIC_ACQUIRE);
  for (size_t i = 0; i < second.size(); ++i) second[i] = header[second.size() + i];
  unsigned char isInit = 0;
  std::memcpy(&isInit, reinterpret_cast<const unsigned char*>(first.data()) + kIsInitOffset, 1);
  if (first != second || isInit == 0) return false;
  *stamp = first;
  return true;
}

}  // namespace inireg
