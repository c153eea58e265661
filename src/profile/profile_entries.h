// A section's entries: the entry record, the array that holds a section's
// entries, and the arena in which the reader places those arrays.
//
// A file's parse makes one array per section.  Made one by one on the heap,
// they scatter over fresh pages; the arena hands them out in order from a
// few large blocks (platform/page_blocks.h), which a big file's load faults
// in as a few huge pages.  An array that grows or shrinks later moves to a
// heap array of its own, so the arena only ever hands out, and frees all at
// once when its record goes.
#ifndef INIREG_PROFILE_PROFILE_ENTRIES_H_
#define INIREG_PROFILE_PROFILE_ENTRIES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "profile/profile_text.h"

namespace inireg {

struct ProfileEntry {
  ProfileText key;    // Trimmed; never empty.
  ProfileText value;  // Trimmed, without its enclosing quotes; may be empty.
  bool quoted = false;
  // HashName of key: set by AppendEntry, and by the reader for SetEntries.
  // (It fills what would be padding.)
  uint32_t keyHash = 0;
};

// Raw memory for entry arrays, taken from blocks of one size and given back
// all at once by the destructor.  The arrays' owners destroy the entries in
// it; the arena must outlive them.
class EntryArena {
 public:
  EntryArena() = default;
  ~EntryArena();
  EntryArena(const EntryArena&) = delete;
  EntryArena& operator=(const EntryArena&) = delete;
  EntryArena(EntryArena&& other) noexcept { Swap(&other); }
  // Swaps instead of freeing: a record assigned from another hands its old
  // arena to that one, so that its old sections, destroyed after the arena
  // is assigned, still find their entries' memory (see ProfileFile).
  EntryArena& operator=(EntryArena&& other) noexcept {
    Swap(&other);
    return *this;
  }

  // Sizes the blocks for a file of `fileBytes` bytes: about what its
  // entries take, and a huge page for big files.  Call before Allocate.
  void SizeFor(size_t fileBytes);
  // Room for `count` entries, not constructed; null when an array that
  // large does not belong in the arena (the caller gives it its own).
  ProfileEntry* Allocate(size_t count);

 private:
  struct Block {
    void* memory;
    size_t size;
  };
  void Swap(EntryArena* other) noexcept;

  std::vector<Block> blocks_;
  char* next_ = nullptr;  // The unused rest of the last block.
  char* end_ = nullptr;
  size_t blockSize_ = 0;
};

// The entries of one section, in file order: a vector of the few operations
// the records use, whose array is either its own (on the heap) or lent by
// the file's EntryArena.
class ProfileEntries {
 public:
  ProfileEntries() = default;
  ~ProfileEntries() { Release(); }
  ProfileEntries(const ProfileEntries&) = delete;
  ProfileEntries& operator=(const ProfileEntries&) = delete;
  ProfileEntries(ProfileEntries&& other) noexcept { Swap(&other); }
  ProfileEntries& operator=(ProfileEntries&& other) noexcept {
    Swap(&other);
    return *this;
  }

  ProfileEntry* data() { return data_; }
  const ProfileEntry* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  ProfileEntry* begin() { return data_; }
  ProfileEntry* end() { return data_ + size_; }
  const ProfileEntry* begin() const { return data_; }
  const ProfileEntry* end() const { return data_ + size_; }
  ProfileEntry& operator[](size_t index) { return data_[index]; }
  const ProfileEntry& operator[](size_t index) const { return data_[index]; }
  ProfileEntry& back() { return data_[size_ - 1]; }

  void push_back(ProfileEntry entry);
  void erase(ProfileEntry* position);
  // Replaces the entries with `entries`' (moved), in an array lent by
  // `arena` where it has room, else in one of their exact number; empties
  // `entries`.
  void TakeFrom(std::vector<ProfileEntry>* entries, EntryArena* arena);

 private:
  void Swap(ProfileEntries* other) noexcept;
  // Destroys the entries and frees an array of its own.
  void Release();
  // Moves the entries to an array of its own with room for `capacity`.
  void MoveTo(size_t capacity);

  ProfileEntry* data_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
  bool lent_ = false;  // data_ lies in an arena: not ours to free.
};

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_ENTRIES_H_
