// Memory for the nodes of a node-based container (a file's section list),
// handed out from blocks rather than one heap allocation per node.
//
// A big file has thousands of sections; a heap allocation for each cost the
// load about as much as parsing the section's header.  The pool takes its
// blocks from the heap, a few nodes at first and up to kMaxBlockNodes,
// keeps the nodes given back on a free list for reuse, and frees the blocks
// when the last allocator sharing it goes.  Not thread-safe: a pool belongs
// to one container, which its owner guards.  Nodes must all have one size,
// as a container's nodes do.
#ifndef INIREG_PROFILE_NODE_POOL_H_
#define INIREG_PROFILE_NODE_POOL_H_

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

namespace inireg {

class NodePool {
 public:
  NodePool() = default;
  NodePool(const NodePool&) = delete;
  NodePool& operator=(const NodePool&) = delete;

  // Memory for one node of `size` bytes (the same size on every call),
  // aligned for any type.
  void* Allocate(size_t size);
  void Free(void* node);

 private:
  static constexpr size_t kFirstBlockNodes = 4;
  static constexpr size_t kMaxBlockNodes = 256;
  // A freed node holds the next free one.
  struct FreeNode {
    FreeNode* next;
  };

  void* AllocateFromNewBlock(size_t size);

  std::vector<std::unique_ptr<std::max_align_t[]>> blocks_;
  FreeNode* free_ = nullptr;
  char* next_ = nullptr;  // Unused room in the newest block, up to end_.
  char* end_ = nullptr;
  size_t nodeSize_ = 0;
  size_t blockNodes_ = kFirstBlockNodes;  // The next block's.
};

// A standard allocator on a shared NodePool.  The pool travels with a
// container that is moved or swapped, so that its nodes (and pointers to
// their elements) stay where they are; a moved-from container keeps sharing
// it.  Allocations of more than one object, which node containers do not
// make, go to the heap.
template <typename T>
class PooledAllocator {
 public:
  using value_type = T;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;
  using is_always_equal = std::false_type;

  PooledAllocator() : pool_(std::make_shared<NodePool>()) {}
  template <typename U>
  PooledAllocator(const PooledAllocator<U>& other) noexcept  // NOLINT(runtime/explicit)
      : pool_(other.pool_) {}

  T* allocate(size_t count) {
    if (count != 1) return std::allocator<T>().allocate(count);
    return static_cast<T*>(pool_->Allocate(RoundedSize()));
  }
  void deallocate(T* node, size_t count) noexcept {
    if (count != 1) return std::allocator<T>().deallocate(node, count);
    pool_->Free(node);
  }

  template <typename U>
  bool operator==(const PooledAllocator<U>& other) const noexcept {
    return pool_ == other.pool_;
  }
  template <typename U>
  bool operator!=(const PooledAllocator<U>& other) const noexcept {
    return pool_ != other.pool_;
  }

 private:
  template <typename U>
  friend class PooledAllocator;
  static_assert(alignof(T) <= alignof(std::max_align_t), "a pool node is max_align_t aligned");
  static constexpr size_t RoundedSize() {
    return (sizeof(T) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
           alignof(std::max_align_t);
  }

  // Copied, never moved from: a container left by a move keeps a pool.
  std::shared_ptr<NodePool> pool_;
};

}  // namespace inireg

#endif  // INIREG_PROFILE_NODE_POOL_H_
