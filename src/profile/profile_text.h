// The bytes of a section name, key or value in a parsed profile.
//
// The reader keeps a file's bytes whole in one buffer (ProfileFile::text)
// and most names and values are spans of it: loading allocates nothing per
// line, and a key lies in memory right before its value.  The names and
// values of lines the reader had to build (from UTF-16, joined lines) are
// spans too, of copies in the record's ProfileTextArena.  Text a write gave
// is a copy of its own.  A borrowed span is valid for as long as the record
// whose memory it points into; ProfileFile keeps both at one address for
// its whole life, moves included.
#ifndef INIREG_PROFILE_PROFILE_TEXT_H_
#define INIREG_PROFILE_PROFILE_TEXT_H_

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace inireg {

class ProfileText {
 public:
  ProfileText() = default;
  // A copy of `text`, owned.  Implicit, so that a std::string can be
  // assigned wherever a record's text is set.
  ProfileText(std::string_view text) { CopyFrom(text); }  // NOLINT(runtime/explicit)
  ProfileText(const std::string& text) : ProfileText(std::string_view(text)) {}  // NOLINT
  ProfileText(const char* text) : ProfileText(std::string_view(text)) {}         // NOLINT

  // A span of a buffer that outlives this object; nothing is copied.
  static ProfileText Borrow(const char* data, size_t size) {
    ProfileText text;
    text.data_ = data;
    text.size_ = static_cast<uint32_t>(size);
    return text;
  }

  // A copy owns its bytes, borrowed or not: it may outlive the buffer.
  ProfileText(const ProfileText& other) { CopyFrom(other.view()); }
  ProfileText(ProfileText&& other) noexcept { Take(&other); }
  ProfileText& operator=(const ProfileText& other) {
    if (this != &other) {
      ProfileText copy(other);
      FreeOwnedBytes();
      Take(&copy);
    }
    return *this;
  }
  ProfileText& operator=(ProfileText&& other) noexcept {
    if (this != &other) {
      FreeOwnedBytes();
      Take(&other);
    }
    return *this;
  }
  ~ProfileText() { FreeOwnedBytes(); }

  const char* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  char back() const { return data_[size_ - 1]; }
  std::string_view view() const { return std::string_view(data_, size_); }
  operator std::string_view() const { return view(); }  // NOLINT(runtime/explicit)
  std::string str() const { return std::string(data_, size_); }

  friend bool operator==(const ProfileText& a, std::string_view b) { return a.view() == b; }
  friend bool operator!=(const ProfileText& a, std::string_view b) { return a.view() != b; }
  friend std::ostream& operator<<(std::ostream& out, const ProfileText& text) {
    return out << text.view();
  }

 private:
  void CopyFrom(std::string_view text) {
    size_ = static_cast<uint32_t>(text.size());
    if (text.empty()) {
      data_ = "";
      return;
    }
    data_ = NewCopy(text);
    owned_ = true;
  }
  void Take(ProfileText* other) {
    data_ = other->data_;
    size_ = other->size_;
    owned_ = other->owned_;
    other->data_ = "";
    other->size_ = 0;
    other->owned_ = false;
  }
  // Frees the bytes when this text owns them, and leaves it empty.
  void FreeOwnedBytes() {
    if (owned_) DeleteCopy(data_);
    data_ = "";
    size_ = 0;
    owned_ = false;
  }

  // Out of line, so that the compiler does not take the empty literal a
  // text starts with for what a delete may free.
  static const char* NewCopy(std::string_view text);
  static void DeleteCopy(const char* bytes);

  const char* data_ = "";
  uint32_t size_ = 0;
  bool owned_ = false;
};

// Copies of the names and values of lines the reader built (UTF-16 text,
// joined lines, lines cut at the length limit), which no file buffer holds:
// packed into blocks that keep their address until the arena is destroyed,
// so that the records borrow them as they borrow the file's bytes, with no
// allocation of its own for each.
class ProfileTextArena {
 public:
  ProfileTextArena() = default;
  ProfileTextArena(const ProfileTextArena&) = delete;
  ProfileTextArena& operator=(const ProfileTextArena&) = delete;
  ProfileTextArena(ProfileTextArena&& other) noexcept { Swap(&other); }
  // Swaps, as ProfileFile's other owners of borrowed memory do.
  ProfileTextArena& operator=(ProfileTextArena&& other) noexcept {
    Swap(&other);
    return *this;
  }

  // A span of a copy of `text` that lives as long as the arena.
  ProfileText Copy(std::string_view text);
  // Takes a block that records borrow text from, to live as long as the
  // arena.
  void Keep(std::unique_ptr<char[]> block) { blocks_.push_back(std::move(block)); }

 private:
  void Swap(ProfileTextArena* other) noexcept;

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;  // The unused rest of the last block.
  size_t left_ = 0;
  size_t blockSize_ = 0;  // Of the last block of the doubling series.
};

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_TEXT_H_
