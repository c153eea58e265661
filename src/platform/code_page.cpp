#include "platform/code_page.h"

#include <cstdint>
#include <cstring>

#include "text/utf.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace inireg {

#ifdef _WIN32

size_t ConvertWideText(CodePage codePage, const char16_t* text, size_t count, char* output,
                       size_t capacity, char defaultChar) {
  if (count == 0) return 0;
  UINT page = codePage == CodePage::kAnsi ? CP_ACP : CP_OEMCP;
  const char defaultText[2] = {defaultChar, '\0'};
  int result =
      WideCharToMultiByte(page, 0, reinterpret_cast<const wchar_t*>(text), static_cast<int>(count),
                          output, output == nullptr ? 0 : static_cast<int>(capacity),
                          output == nullptr ? nullptr : defaultText, nullptr);
  return result > 0 ? static_cast<size_t>(result) : 0;
}

// The conversion gives no length per character, but its length grows with
// the run converted: the longest run that fits is found by halves.
size_t WideUnitsFitting(CodePage codePage, const char16_t* text, size_t count, size_t capacity,
                        char defaultChar) {
  if (ConvertWideText(codePage, text, count, nullptr, 0, defaultChar) <= capacity) return count;
  size_t fits = 0, fails = count;
  while (fails - fits > 1) {
    size_t middle = fits + (fails - fits) / 2;
    if (ConvertWideText(codePage, text, middle, nullptr, 0, defaultChar) <= capacity) {
      fits = middle;
    } else {
      fails = middle;
    }
  }
  if (fits > 0 && IsHighSurrogate(text[fits - 1]) && IsLowSurrogate(text[fits])) --fits;
  return fits;
}

size_t ConvertWideTextFitting(const char16_t* text, size_t count, char* output, size_t capacity,
                              char defaultChar, size_t* taken) {
  *taken = WideUnitsFitting(CodePage::kAnsi, text, count, capacity, defaultChar);
  return ConvertWideText(CodePage::kOem, text, *taken, output, capacity, defaultChar);
}

const char* PreviousCharacter(const char* start, const char* current) {
  return CharPrevA(start, current);
}

bool ConvertToWideText(CodePage codePage, const char* text, size_t count, std::u16string* output) {
  if (count == 0) return true;
  UINT page = codePage == CodePage::kAnsi ? CP_ACP : CP_OEMCP;
  int needed =
      MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text, static_cast<int>(count), nullptr, 0);
  if (needed <= 0) return false;
  size_t start = output->size();
  output->resize(start + static_cast<size_t>(needed));
  int written = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text, static_cast<int>(count),
                                    reinterpret_cast<wchar_t*>(&(*output)[start]), needed);
  if (written != needed) {
    output->resize(start);
    return false;
  }
  return true;
}

#else  // UTF-8 on both code pages.

#if defined(__SSE2__)
// Whether the eight units at `text` are all ASCII: one byte each in UTF-8.
inline bool EightAreAscii(const char16_t* text) {
  __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
  __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
  return _mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF;
}
#endif

namespace {

// Converts units until the next character would not fit `capacity` bytes,
// never writing part of one; with a null `output` it only counts.  Returns
// the bytes the converted units take; *converted is their number.
size_t ConvertUnits(const char16_t* text, size_t count, char* output, size_t capacity,
                    char defaultChar, size_t* converted) {
  size_t produced = 0;
  size_t i = 0;
  while (i < count) {
    char16_t unit = text[i];
    if (unit < 0x80) {  // Most text: one byte, itself.
#if defined(__SSE2__)
      // Often eight such units, narrowed to their low bytes at once.  Only
      // tried at an ASCII unit, so that text of other characters does not
      // pay for it unit by unit.
      if (count - i >= 8 && capacity - produced >= 8 && EightAreAscii(text + i)) {
        do {
          if (output != nullptr) {
            __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(output + produced),
                             _mm_packus_epi16(units, units));
          }
          produced += 8;
          i += 8;
        } while (count - i >= 8 && capacity - produced >= 8 && EightAreAscii(text + i));
        continue;
      }
#endif
      if (produced == capacity) break;
      if (output != nullptr) output[produced] = static_cast<char>(unit);
      ++produced;
      ++i;
      continue;
    }
    // Two or three bytes in line; a surrogate needs the unit after it.
    // Encoded straight into the output where four bytes are free, else into
    // a copy, which is dropped when it does not fit.
    char encoded[4];
    bool direct = output != nullptr && capacity - produced >= 4;
    char* to = direct ? output + produced : encoded;
    size_t consumed = 1;
    size_t length =
        !IsSurrogate(unit)
            ? EncodeCodePoint(unit, to)
            : EncodeUtf16Character(text, count, i, LoneSurrogate::kReplace,
                                   static_cast<unsigned char>(defaultChar), to, &consumed);
    if (!direct) {
      if (produced + length > capacity) break;
      if (output != nullptr) std::memcpy(output + produced, encoded, length);
    }
    produced += length;
    i += consumed;
  }
  *converted = i;
  return produced;
}

}  // namespace

size_t ConvertWideText(CodePage, const char16_t* text, size_t count, char* output, size_t capacity,
                       char defaultChar) {
  size_t converted;
  if (output == nullptr) capacity = SIZE_MAX;  // Counting: no limit.
  return ConvertUnits(text, count, output, capacity, defaultChar, &converted);
}

// Both code pages are UTF-8: the conversion stops where the measure would.
size_t ConvertWideTextFitting(const char16_t* text, size_t count, char* output, size_t capacity,
                              char defaultChar, size_t* taken) {
  return ConvertUnits(text, count, output, capacity, defaultChar, taken);
}

size_t WideUnitsFitting(CodePage, const char16_t* text, size_t count, size_t capacity,
                        char defaultChar) {
  size_t fitting;
  ConvertUnits(text, count, nullptr, capacity, defaultChar, &fitting);
  return fitting;
}

bool ConvertToWideText(CodePage, const char* text, size_t count, std::u16string* output) {
  return Utf8ToUtf16(text, count, BadUtf8::kDrop, output);
}

// The line feed and the backslash are single bytes that never occur inside a
// longer UTF-8 sequence, so one byte back is enough for what the reader asks.
const char* PreviousCharacter(const char* start, const char* current) {
  return current > start ? current - 1 : start;
}

#endif

}  // namespace inireg
