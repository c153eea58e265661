#include "platform/page_blocks.h"

#include <new>

#ifdef __linux__
#include <sys/mman.h>

#include <cstdint>
#include <mutex>
#endif

// The leak checker looks for pointers in the heap, not in memory mapped
// apart from it: it is told of each block, so that bytes owned by records in
// a block are not reported lost.
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#define INIREG_TELL_LEAK_CHECKER 1
#endif

namespace inireg {

#ifdef __linux__

namespace {

bool WantsHugePages(size_t size) { return size >= kHugePageSize && size % kHugePageSize == 0; }

// Huge-page blocks freed and kept for the next ones of their size, up to
// kRetainedBytes.  A fresh block costs the kernel's zeroing of every byte
// at its first touch (about 0.1 ms a huge page), which a program that
// loads a big file again, or another one, would otherwise pay each time.
constexpr size_t kRetainedBytes = 2 * kHugePageSize;
struct RetainedBlock {
  void* block;
  size_t size;
};
struct Retained {
  std::mutex mutex;
  RetainedBlock blocks[kRetainedBytes / kHugePageSize];
  size_t count = 0;
  size_t bytes = 0;
};
Retained& RetainedBlocks() {
  static Retained* retained = new Retained;  // Never destroyed: blocks may be freed at exit.
  return *retained;
}

void* TakeRetained(size_t size) {
  Retained& retained = RetainedBlocks();
  std::lock_guard<std::mutex> lock(retained.mutex);
  for (size_t i = 0; i < retained.count; ++i) {
    if (retained.blocks[i].size != size) continue;
    void* block = retained.blocks[i].block;
    retained.blocks[i] = retained.blocks[--retained.count];
    retained.bytes -= size;
    return block;
  }
  return nullptr;
}

bool Retain(void* block, size_t size) {
  Retained& retained = RetainedBlocks();
  std::lock_guard<std::mutex> lock(retained.mutex);
  if (retained.bytes + size > kRetainedBytes) return false;
  retained.blocks[retained.count++] = RetainedBlock{block, size};
  retained.bytes += size;
  return true;
}

}  // namespace

// Maps a huge page more than asked for, and returns the unaligned ends to the
// system: the kernel places a huge page only where one fits aligned.
void* AllocatePageBlock(size_t size) {
  if (!WantsHugePages(size)) return ::operator new(size, std::nothrow);
  if (void* block = TakeRetained(size)) {
#ifdef INIREG_TELL_LEAK_CHECKER
    __lsan_register_root_region(block, size);
#endif
    return block;
  }
  size_t mapped = size + kHugePageSize;
  void* start = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (start == MAP_FAILED) return nullptr;
  uintptr_t first = reinterpret_cast<uintptr_t>(start);
  uintptr_t aligned = (first + kHugePageSize - 1) & ~(uintptr_t{kHugePageSize} - 1);
  size_t before = aligned - first;
  if (before > 0) munmap(start, before);
  size_t after = mapped - before - size;
  if (after > 0) munmap(reinterpret_cast<void*>(aligned + size), after);
  void* block = reinterpret_cast<void*>(aligned);
  // Only a hint: without it (or with huge pages turned off) the block works
  // the same, page by page.
  madvise(block, size, MADV_HUGEPAGE);
#ifdef INIREG_TELL_LEAK_CHECKER
  __lsan_register_root_region(block, size);
#endif
  return block;
}

void FreePageBlock(void* block, size_t size) {
  if (block == nullptr) return;
  if (WantsHugePages(size)) {
#ifdef INIREG_TELL_LEAK_CHECKER
    __lsan_unregister_root_region(block, size);
#endif
    if (!Retain(block, size)) munmap(block, size);
  } else {
    ::operator delete(block);
  }
}

#else

void* AllocatePageBlock(size_t size) { return ::operator new(size, std::nothrow); }

void FreePageBlock(void* block, size_t) { ::operator delete(block); }

#endif

}  // namespace inireg
