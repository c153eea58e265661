#include "profile/node_pool.h"

#include <cassert>
#include <utility>

namespace inireg {

void* NodePool::Allocate(size_t size) {
  assert(nodeSize_ == 0 || nodeSize_ == size);
  if (free_ != nullptr) {
    FreeNode* node = free_;
    free_ = node->next;
    return node;
  }
  if (static_cast<size_t>(end_ - next_) < size) return AllocateFromNewBlock(size);
  void* node = next_;
  next_ += size;
  return node;
}

void NodePool::Free(void* node) {
  FreeNode* freed = ::new (node) FreeNode{free_};
  free_ = freed;
}

void* NodePool::AllocateFromNewBlock(size_t size) {
  nodeSize_ = size;
  size_t units = blockNodes_ * size / sizeof(std::max_align_t);
  std::unique_ptr<std::max_align_t[]> block(new std::max_align_t[units]);
  next_ = reinterpret_cast<char*>(block.get());
  end_ = next_ + units * sizeof(std::max_align_t);
  blocks_.push_back(std::move(block));
  // Doubling: a small file takes one small block, a big one a few dozen,
  // none leaving more than kMaxBlockNodes nodes unused.
  if (blockNodes_ < kMaxBlockNodes) blockNodes_ *= 2;
  void* node = next_;
  next_ += size;
  return node;
}

}  // namespace inireg
