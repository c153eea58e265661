// Blocks of memory taken straight from the system, for records that are
// made together and freed together (the entries of a parsed file).
//
// A block of a multiple of kHugePageSize bytes is aligned to that size and,
// on Linux, marked for transparent huge pages: the kernel may then back it
// with 2 MiB pages, so that its first touch costs one page fault where 4 KiB
// pages cost 512.  Faulting in fresh memory is a large share of parsing a
// big file, the more so in a virtual machine, where a fault can also go
// through the host.  Where the system gives no huge pages (or is told not
// to), the block is ordinary memory.  A few freed huge-page blocks are kept
// for reuse rather than returned to the system (page_blocks.cpp): their
// contents are whatever was left in them.
#ifndef INIREG_PLATFORM_PAGE_BLOCKS_H_
#define INIREG_PLATFORM_PAGE_BLOCKS_H_

#include <cstddef>

namespace inireg {

constexpr size_t kHugePageSize = size_t{2} << 20;

// A block of `size` bytes, aligned to at least 16; null when there is no
// memory for it.  Free it with FreePageBlock and the same size.
void* AllocatePageBlock(size_t size);
void FreePageBlock(void* block, size_t size);

}  // namespace inireg

#endif  // INIREG_PLATFORM_PAGE_BLOCKS_H_
