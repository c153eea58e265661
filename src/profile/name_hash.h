// Names as the profile engine compares them: without regard to the case of
// the letters A to Z (CompareNoCase), hashed and compared eight bytes at a
// time for the section and key indexes.
#ifndef INIREG_PROFILE_NAME_HASH_H_
#define INIREG_PROFILE_NAME_HASH_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace inireg {

// A name of at most 16 bytes is hashed as two words, zero-filled past its
// end, whatever its length: the same steps for every length, which is what
// lets HashNameInBuffer do without a branch.
constexpr size_t kShortName = 16;

// Section names and keys never hold a NUL (the reader ends a line at one and
// writes take C strings), so two names compare equal under CompareNoCase
// exactly when they have the same length and the same bytes after ASCII case
// folding.  The indexes below rely on that.

// HashName and NamesEqual are inline: every lookup runs them, on names of a
// few words.
namespace name_detail {

constexpr uint64_t kEachByte = 0x0101010101010101ull;

// Folds the letters A to Z of all eight bytes to lower case: the rule of
// text/ascii_case.h (FoldCase) eight bytes at a time, and text_test holds
// the two together.  No carry crosses a byte: each sum stays below 0x100.
inline uint64_t FoldWord(uint64_t word) {
  uint64_t low = word & (0x7F * kEachByte);
  uint64_t atLeastA = low + (0x80 - 'A') * kEachByte;
  uint64_t aboveZ = low + (0x80 - 'Z' - 1) * kEachByte;
  uint64_t upper = atLeastA & ~aboveZ & ~word & (0x80 * kEachByte);
  return word | (upper >> 2);
}

inline uint64_t LoadWord(const char* text) {
  uint64_t word;
  std::memcpy(&word, text, 8);
  return word;
}

// The first `count` (1 to 7) bytes, the rest zero.  Built from loads of the
// bytes themselves: a memcpy into a zeroed word compiles to byte stores that
// the word's load must wait for.
inline uint64_t LoadPart(const char* text, size_t count) {
  if (count >= 4) {
    uint32_t low, high;
    std::memcpy(&low, text, 4);
    std::memcpy(&high, text + count - 4, 4);  // Overlaps `low` for count < 8.
    return low | (static_cast<uint64_t>(high) << (8 * (count - 4)));
  }
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  return bytes[0] | (static_cast<uint64_t>(bytes[count / 2]) << (8 * (count / 2))) |
         (static_cast<uint64_t>(bytes[count - 1]) << (8 * (count - 1)));
}

// The last eight bytes of a text of at least eight, for its final part: the
// bytes it shares with the word before are the same in both texts compared
// (or hashed) at equal length, so the overlap changes no result.
inline uint64_t LoadTail(const char* text, size_t length) { return LoadWord(text + length - 8); }

// What the hash takes of a word: every byte with its 0x20 bit set, which
// folds A to Z onto a to z (and a few other pairs, such as "@" and "`", onto
// each other: more collisions, never a miss).  Names equal under
// CompareNoCase give equal words; one operation instead of FoldWord's seven.
inline uint64_t HashWord(uint64_t word) { return word | (0x20 * kEachByte); }

inline uint64_t Mix(uint64_t hash, uint64_t word) {
  hash = (hash ^ word) * 0xBF58476D1CE4E5B9ull;
  return hash ^ (hash >> 31);
}

// The low `count` bytes (0 to 8) of a word set, the others clear.  Two
// shifts of at most 32 bits: no branch, and no shift by the word's width.
inline uint64_t ByteMask(size_t count) { return ~(~uint64_t{0} << (4 * count) << (4 * count)); }

inline uint64_t HashStart(size_t length) { return 0x9E3779B97F4A7C15ull ^ length; }

inline uint32_t HashEnd(uint64_t hash) {
  hash *= 0x94D049BB133111EBull;
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

// HashName of a name longer than kShortName.
inline uint32_t HashLongName(const char* text, size_t length) {
  uint64_t hash = HashStart(length);
  size_t whole = length - 8;  // Bytes before the tail.
  for (size_t i = 0; i < whole; i += 8) hash = Mix(hash, HashWord(LoadWord(text + i)));
  return HashEnd(Mix(hash, HashWord(LoadTail(text, length))));
}

}  // namespace name_detail

// A hash of `length` bytes of `text` that is the same for names equal under
// CompareNoCase.
inline uint32_t HashName(const char* text, size_t length) {
  using namespace name_detail;
  if (length > kShortName) return HashLongName(text, length);
  uint64_t low = 0;
  uint64_t high = 0;
  if (length >= 8) {
    low = LoadWord(text);
    // The last eight bytes, shifted down past the ones `low` holds.
    size_t overlap = kShortName - length;
    high = LoadTail(text, length) >> (4 * overlap) >> (4 * overlap);
  } else if (length > 0) {
    low = LoadPart(text, length);
  }
  size_t first = length < 8 ? length : 8;
  uint64_t hash = Mix(HashStart(length), HashWord(low) & ByteMask(first));
  return HashEnd(Mix(hash, HashWord(high) & ByteMask(length - first)));
}

// HashName of a name that lies in a buffer with at least kShortName bytes
// readable from its start (the reader's file text, which it pads): a short
// name's two words are loaded whole and masked, with no branch on its
// length, which varies from one key to the next.
inline uint32_t HashNameInBuffer(const char* text, size_t length) {
  using namespace name_detail;
  if (length > kShortName) return HashLongName(text, length);
  size_t first = length < 8 ? length : 8;
  uint64_t hash = Mix(HashStart(length), HashWord(LoadWord(text)) & ByteMask(first));
  return HashEnd(Mix(hash, HashWord(LoadWord(text + 8)) & ByteMask(length - first)));
}

// Whether two words are equal under CompareNoCase.  Callers nearly always
// spell a name as the file does: equal bytes are the cheap answer.
inline bool WordsEqual(uint64_t a, uint64_t b) {
  return a == b || name_detail::FoldWord(a) == name_detail::FoldWord(b);
}

// Whether the two names are equal under CompareNoCase.  Compared a word at a
// time in line: a call into the C library's memcmp costs more than the few
// words of a name.
inline bool NamesEqual(const char* a, size_t aLength, const char* b, size_t bLength) {
  using namespace name_detail;
  if (aLength != bLength) return false;
  if (aLength < 8) return aLength == 0 || WordsEqual(LoadPart(a, aLength), LoadPart(b, aLength));
  size_t whole = aLength - 8;
  for (size_t i = 0; i < whole; i += 8) {
    if (!WordsEqual(LoadWord(a + i), LoadWord(b + i))) return false;
  }
  return WordsEqual(LoadTail(a, aLength), LoadTail(b, aLength));
}

}  // namespace inireg

#endif  // INIREG_PROFILE_NAME_HASH_H_
