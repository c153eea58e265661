#include "profile/profile_text.h"

#include <algorithm>

namespace inireg {

const char* ProfileText::NewCopy(std::string_view text) {
  char* copy = new char[text.size()];
  std::memcpy(copy, text.data(), text.size());
  return copy;
}

void ProfileText::DeleteCopy(const char* bytes) { delete[] bytes; }

// Blocks double from the first to the last size, so that a file with one
// built line takes little and one with many takes few blocks; a text
// longer than a block gets a block of its own.
constexpr size_t kFirstTextBlock = 256;
constexpr size_t kLastTextBlock = 64 * 1024;

ProfileText ProfileTextArena::Copy(std::string_view text) {
  if (text.empty()) return ProfileText();
  if (text.size() > left_) {
    blockSize_ = std::min(std::max(2 * blockSize_, kFirstTextBlock), kLastTextBlock);
    size_t size = std::max(blockSize_, text.size());
    blocks_.push_back(std::unique_ptr<char[]>(new char[size]));
    next_ = blocks_.back().get();
    left_ = size;
  }
  char* copy = next_;
  std::memcpy(copy, text.data(), text.size());
  next_ += text.size();
  left_ -= text.size();
  return ProfileText::Borrow(copy, text.size());
}

void ProfileTextArena::Swap(ProfileTextArena* other) noexcept {
  blocks_.swap(other->blocks_);
  std::swap(next_, other->next_);
  std::swap(left_, other->left_);
  std::swap(blockSize_, other->blockSize_);
}

}  // namespace inireg
