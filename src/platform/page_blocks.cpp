#include "platform/page_blocks.h"

#include <new>

#ifdef __linux__
#include <sys/mman.h>

#include <cstdint>
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

}  // namespace

// Maps a huge page more than asked for, and returns the unaligned ends to the
// system: the kernel places a huge page only where one fits aligned.
void* AllocatePageBlock(size_t size) {
  if (!WantsHugePages(size)) return ::operator new(size, std::nothrow);
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
    munmap(block, size);
  } else {
    ::operator delete(block);
  }
}

#else

void* AllocatePageBlock(size_t size) { return ::operator new(size, std::nothrow); }

void FreePageBlock(void* block, size_t) { ::operator delete(block); }

#endif

}  // namespace inireg
