// Searches in the lines of a profile file: where a line ends and where its
// "=" is.  The reader scans the file's lines with LineScanner; FindInLine
// searches one line that is already cut out.  A line is a few dozen bytes,
// so a pass sixteen bytes at a time in line (SSE2) costs less than a call
// into memchr; without SSE2 the searches are plain loops or memchr's.
#ifndef INIREG_PROFILE_LINE_SEARCH_H_
#define INIREG_PROFILE_LINE_SEARCH_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace inireg {

// The first `byte` in the `size` bytes at `text`, or null.
inline const char* FindInLine(const char* text, size_t size, char byte) {
#if defined(__SSE2__)
  const __m128i pattern = _mm_set1_epi8(byte);
  const char* end = text + size;
  for (; end - text >= 16; text += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    int found = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, pattern));
    if (found != 0) return text + __builtin_ctz(static_cast<unsigned>(found));
  }
  for (; text < end; ++text) {
    if (*text == byte) return text;
  }
  return nullptr;
#else
  return static_cast<const char*>(std::memchr(text, byte, size));
#endif
}

// Finds where a line of a whole buffer ends and where its first "=" is, with
// one pass over the 64 bytes from the line's start: it makes a bit mask of
// their line feeds and NULs and one of their "=" signs, and a count of
// trailing zeros gives each.  Nearly every profile line is shorter than 64
// bytes, so the search takes no branch that depends on the line's length; a
// loop per line would mispredict its exit on every line.
class LineScanner {
 public:
  // The bytes that must be readable past the end of the text scanned: a
  // window at a line near the end reaches that far (and ignores them).
  static constexpr size_t kPadding = 64;

  // `text` holds `size` bytes and kPadding more that may be read.
  LineScanner(const char* text, size_t size) : text_(text), size_(size) {}

  struct Line {
    size_t end;     // Offset of the line feed or NUL; kNone: none before the limit.
    size_t equals;  // Offset of the first "=" before it; >= end when none is.
  };
  static constexpr size_t kNone = ~size_t{0};

  // The first line feed or NUL in [from, limit) (limit <= size) and the
  // first "=" before it.
  Line NextLine(size_t from, size_t limit) {
    Masks masks = MasksAt(from);
    if (masks.ends == 0) return LongLine(from, limit, masks.equals);
    size_t end = from + static_cast<size_t>(__builtin_ctzll(masks.ends));
    if (end >= limit) return Line{kNone, limit};
    // The signs before the line end, which lies at bit 63 or lower: with bit
    // 63 set as well, the count of trailing zeros is the first sign's place
    // or, when there is none, a place at or after the end, without a branch
    // on whether the line has a sign (many do not).
    uint64_t before = masks.equals & ((masks.ends & (0 - masks.ends)) - 1);
    return Line{end, from + static_cast<size_t>(__builtin_ctzll(before | uint64_t{1} << 63))};
  }

 private:
  struct Masks {
    uint64_t ends;    // Bit i: byte from + i is a line feed or a NUL.
    uint64_t equals;  // Bit i: byte from + i is "=".
  };

  // The masks of the 64 bytes at `from` (fewer at the buffer's end: bits
  // past it stay clear).
  Masks MasksAt(size_t from) const {
    const char* bytes = text_ + from;
#if defined(__SSE2__)
    {
      const __m128i lineFeed = _mm_set1_epi8('\n');
      const __m128i zero = _mm_setzero_si128();
      const __m128i sign = _mm_set1_epi8('=');
      uint64_t ends = 0;
      uint64_t signs = 0;
      for (int i = 0; i < 4; ++i) {
        __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i));
        __m128i end = _mm_or_si128(_mm_cmpeq_epi8(chunk, lineFeed), _mm_cmpeq_epi8(chunk, zero));
        ends |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(end))) << (16 * i);
        signs |= static_cast<uint64_t>(
                     static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, sign))))
                 << (16 * i);
      }
      // The padding's bytes are no part of the text.
      size_t left = size_ - from;
      uint64_t inText = left >= 64 ? ~uint64_t{0} : (uint64_t{1} << left) - 1;
      return Masks{ends & inText, signs & inText};
    }
#else
    size_t count = size_ - from < 64 ? size_ - from : 64;
    Masks masks{0, 0};
    for (size_t i = 0; i < count; ++i) {
      masks.ends |= static_cast<uint64_t>(bytes[i] == '\n' || bytes[i] == '\0') << i;
      masks.equals |= static_cast<uint64_t>(bytes[i] == '=') << i;
    }
    return masks;
#endif
  }

  // The offset of the lowest set bit of `bits`, bit 0 being `base`, or
  // `none`.
  static size_t FirstAt(size_t base, uint64_t bits, size_t none) {
    return bits != 0 ? base + static_cast<size_t>(__builtin_ctzll(bits)) : none;
  }

  // NextLine for a line of 64 bytes or more; `signs` are the "=" signs of
  // its first 64.
  Line LongLine(size_t from, size_t limit, uint64_t signs) {
    size_t equals = FirstAt(from, signs, limit);
    for (size_t at = from + 64; at < limit; at += 64) {
      Masks masks = MasksAt(at);
      if (masks.ends != 0) {
        size_t end = FirstAt(at, masks.ends, kNone);
        if (end >= limit) return Line{kNone, limit};
        if (equals == limit) {
          equals = FirstAt(at, masks.equals & ((masks.ends & (0 - masks.ends)) - 1), limit);
        }
        return Line{end, equals};
      }
      if (equals == limit) equals = FirstAt(at, masks.equals, limit);
    }
    return Line{kNone, limit};
  }

  const char* text_;
  size_t size_;
};

}  // namespace inireg

#endif  // INIREG_PROFILE_LINE_SEARCH_H_
