// A section's entries: the entry record, the array that holds a section's
// entries, and the arena in which the reader places those arrays.
//
// A file's parse makes one array per section.  Made one by one on the heap,
// they scatter over fresh pages; the reader instead builds them in place,
// one after another, in a few large blocks of the record's arena
// (platform/page_blocks.h), which a big file's load faults in as a few huge
// pages.  An array that outgrows its place later moves to a heap array of
// its own, so the arena only ever hands out, and frees all at once when its
// record goes.
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

// Memory for entry arrays, taken from large blocks and given back all at
// once by the destructor.  The arrays' owners destroy the entries in it; the
// arena must outlive them.
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
  // entries take, and a huge page for big files.
  void SizeFor(size_t fileBytes);
  // For the reader, which builds a section's entries one after another at
  // the end of the last block: room (not constructed) for one more entry
  // after the `count` entries from *run.  When the block is full, the run
  // moves to a new block with room for as many again, and *run follows it;
  // with `count` 0, *run is set to the room.  Throws std::bad_alloc when
  // there is no memory.
  ProfileEntry* Push(ProfileEntry** run, size_t count) {
    if (static_cast<size_t>(end_ - next_) < sizeof(ProfileEntry)) MoveRun(run, count);
    auto* room = reinterpret_cast<ProfileEntry*>(next_);
    next_ += sizeof(ProfileEntry);
    if (count == 0) *run = room;
    return room;
  }

 private:
  struct Block {
    void* memory;
    size_t size;
  };
  void Swap(EntryArena* other) noexcept;
  void MoveRun(ProfileEntry** run, size_t count);

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
  ProfileEntry* begin() { return data_; }
  ProfileEntry* end() { return data_ + size_; }
  const ProfileEntry* begin() const { return data_; }
  const ProfileEntry* end() const { return data_ + size_; }
  ProfileEntry& operator[](size_t index) { return data_[index]; }
  const ProfileEntry& operator[](size_t index) const { return data_[index]; }
  ProfileEntry& back() { return data_[size_ - 1]; }

  void push_back(ProfileEntry entry);
  void erase(ProfileEntry* position);
  // Replaces the entries with the `count` built at `lent`, in an arena that
  // outlives this object.
  void Lend(ProfileEntry* lent, size_t count);

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
