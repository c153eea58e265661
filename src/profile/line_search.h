// Searches within one line of a profile file: its end, its "=".  A line is a
// few dozen bytes, so a pass sixteen bytes at a time in line (SSE2) costs
// less than a call into memchr; without SSE2 the searches are memchr's.
// Both are inline: the reader runs them on every line it reads.
#ifndef INIREG_PROFILE_LINE_SEARCH_H_
#define INIREG_PROFILE_LINE_SEARCH_H_

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace inireg {

#if defined(__SSE2__)
namespace line_search_detail {

// The first byte of the `size` at `text` for which `hits` (a function of
// sixteen bytes, giving 0xFF where a byte is wanted) or, in the last few
// bytes, `wanted` holds; null when none does.
template <typename Hits, typename Wanted>
inline const char* FindFirst(const char* text, size_t size, Hits hits, Wanted wanted) {
  const char* end = text + size;
  for (; end - text >= 16; text += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    int found = _mm_movemask_epi8(hits(bytes));
    if (found != 0) return text + __builtin_ctz(static_cast<unsigned>(found));
  }
  for (; text < end; ++text) {
    if (wanted(*text)) return text;
  }
  return nullptr;
}

}  // namespace line_search_detail
#endif

// The first `byte` in the `size` bytes at `text`, or null.
inline const char* FindInLine(const char* text, size_t size, char byte) {
#if defined(__SSE2__)
  const __m128i pattern = _mm_set1_epi8(byte);
  return line_search_detail::FindFirst(
      text, size, [&](__m128i bytes) { return _mm_cmpeq_epi8(bytes, pattern); },
      [&](char c) { return c == byte; });
#else
  return static_cast<const char*>(std::memchr(text, byte, size));
#endif
}

// The first line feed or NUL in the `size` bytes at `text`, or null.
inline const char* FindLineFeedOrNul(const char* text, size_t size) {
#if defined(__SSE2__)
  const __m128i lineFeed = _mm_set1_epi8('\n');
  const __m128i zero = _mm_setzero_si128();
  return line_search_detail::FindFirst(
      text, size,
      [&](__m128i bytes) {
        return _mm_or_si128(_mm_cmpeq_epi8(bytes, lineFeed), _mm_cmpeq_epi8(bytes, zero));
      },
      [](char c) { return c == '\n' || c == '\0'; });
#else
  const char* lineFeed = static_cast<const char*>(std::memchr(text, '\n', size));
  size_t before = lineFeed != nullptr ? static_cast<size_t>(lineFeed - text) : size;
  const char* nul = static_cast<const char*>(std::memchr(text, '\0', before));
  return nul != nullptr ? nul : lineFeed;
#endif
}

}  // namespace inireg

#endif  // INIREG_PROFILE_LINE_SEARCH_H_
