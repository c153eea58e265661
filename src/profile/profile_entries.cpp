#include "profile/profile_entries.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "platform/page_blocks.h"

namespace inireg {

namespace {

constexpr size_t kSmallestBlock = size_t{4} << 10;

}  // namespace

EntryArena::~EntryArena() {
  for (const Block& block : blocks_) FreePageBlock(block.memory, block.size);
}

void EntryArena::Swap(EntryArena* other) noexcept {
  std::swap(blocks_, other->blocks_);
  std::swap(next_, other->next_);
  std::swap(end_, other->end_);
  std::swap(blockSize_, other->blockSize_);
}

void EntryArena::SizeFor(size_t fileBytes) {
  // A file's entries take about one and a half times its bytes (40 bytes
  // for a line of about 26).  Where they would fill half a huge page or
  // more, the blocks are huge pages.
  size_t wanted = fileBytes + fileBytes / 2;
  if (wanted >= kHugePageSize / 2) {
    blockSize_ = kHugePageSize;
  } else {
    blockSize_ = std::max(kSmallestBlock, (wanted + kSmallestBlock - 1) & ~(kSmallestBlock - 1));
  }
}

void EntryArena::MoveRun(ProfileEntry** run, size_t count) {
  // Doubling keeps a block a whole number of huge pages, or of small ones.
  size_t size = blockSize_ != 0 ? blockSize_ : kSmallestBlock;
  if (count + 1 > SIZE_MAX / 2 / sizeof(ProfileEntry)) throw std::bad_alloc();
  while (size < 2 * (count + 1) * sizeof(ProfileEntry)) {
    if (size > SIZE_MAX / 2) throw std::bad_alloc();
    size *= 2;
  }
  blocks_.reserve(blocks_.size() + 1);
  void* memory = AllocatePageBlock(size);
  if (memory == nullptr) throw std::bad_alloc();
  blocks_.push_back({memory, size});
  auto* moved = static_cast<ProfileEntry*>(memory);
  if (count > 0) {
    std::uninitialized_move(*run, *run + count, moved);
    std::destroy(*run, *run + count);
    *run = moved;
  }
  next_ = reinterpret_cast<char*>(moved + count);
  end_ = static_cast<char*>(memory) + size;
}

void ProfileEntries::Swap(ProfileEntries* other) noexcept {
  std::swap(data_, other->data_);
  std::swap(size_, other->size_);
  std::swap(capacity_, other->capacity_);
  std::swap(lent_, other->lent_);
}

void ProfileEntries::Release() {
  std::destroy(data_, data_ + size_);
  if (!lent_) ::operator delete(data_);
  data_ = nullptr;
  size_ = capacity_ = 0;
  lent_ = false;
}

void ProfileEntries::MoveTo(size_t capacity) {
  auto* moved = static_cast<ProfileEntry*>(::operator new(capacity * sizeof(ProfileEntry)));
  std::uninitialized_move(data_, data_ + size_, moved);
  uint32_t size = size_;
  Release();
  data_ = moved;
  size_ = size;
  capacity_ = static_cast<uint32_t>(capacity);
}

void ProfileEntries::push_back(ProfileEntry entry) {
  if (size_ == capacity_) MoveTo(std::max<size_t>(4, size_ * size_t{2}));
  new (data_ + size_) ProfileEntry(std::move(entry));
  ++size_;
}

// In place, lent or not: the freed slot stays the array's.
void ProfileEntries::erase(ProfileEntry* position) {
  std::move(position + 1, data_ + size_, position);
  --size_;
  data_[size_].~ProfileEntry();
}

void ProfileEntries::Lend(ProfileEntry* lent, size_t count) {
  if (data_ != nullptr) Release();
  data_ = lent;
  size_ = static_cast<uint32_t>(count);
  capacity_ = static_cast<uint32_t>(count);
  lent_ = true;
}

}  // namespace inireg
