// The one UTF-8 / UTF-16 codec, with a policy for what has no faithful form
// on the other side: bytes that are not well-formed UTF-8, and surrogates
// that are not half of a pair.
//
// Well-formed means: no overlong forms, no encoded surrogates, nothing past
// U+10FFFF, no stray or missing continuation bytes.  Well-formed text and
// paired surrogates convert the same under every policy.
#ifndef INIREG_TEXT_UTF_H_
#define INIREG_TEXT_UTF_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace inireg {

// What decoding does with each byte that does not belong to a well-formed
// sequence.
enum class BadUtf8 {
  kDrop,  // Left out.
  // Kept, so that any bytes survive a trip through UTF-16: byte b becomes the
  // lone surrogate U+DC00 + b (b is 0x80 or above), which LoneSurrogate::
  // kEscape encodes as b again.  The three-byte form of a surrogate other
  // than those becomes that surrogate, unless it is a high one followed by
  // a low one (encoding would join the two into one four-byte sequence).
  kEscape,
};

// What encoding does with a surrogate that is not half of a pair.
enum class LoneSurrogate {
  kReplace,  // Written as the caller's replacement code point.
  // U+DC80..U+DCFF become the single byte they stand for (see BadUtf8::
  // kEscape), any other the three-byte form of its code point.
  kEscape,
};

// The length of the well-formed sequence at `bytes[i]` (1 to 4, its code
// point in *codePoint), or 0 when none starts there.  `i` < `count`.
size_t Utf8SequenceAt(const char* bytes, size_t count, size_t i, uint32_t* codePoint);

bool IsWellFormedUtf8(const char* bytes, size_t count);

// The UTF-16 code units `count` bytes convert to when each byte that is not
// part of well-formed UTF-8 becomes one unit of its own (a lone surrogate).
// How the registry measures names against its limits.
size_t Utf16UnitsOfBytes(const char* bytes, size_t count);

// Appends the UTF-16 form of `count` bytes to `output`.  False when some
// bytes were not well formed; `policy` says what became of them.
bool Utf8ToUtf16(const char* bytes, size_t count, BadUtf8 policy, std::u16string* output);

// Writes the UTF-8 form (1 to 4 bytes) of the character that starts at
// `units[i]` to `encoded` and returns its length; `*consumed` is the number
// of units it took (2 for a pair).  `replacement` serves LoneSurrogate::
// kReplace.  `i` < `count`.
size_t EncodeUtf16Character(const char16_t* units, size_t count, size_t i, LoneSurrogate policy,
                            char32_t replacement, char encoded[4], size_t* consumed);

// Appends the UTF-8 form of `count` units to `output`.
void Utf16ToUtf8(const char16_t* units, size_t count, LoneSurrogate policy, char32_t replacement,
                 std::string* output);

inline bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
inline bool IsSurrogate(char16_t unit) { return (unit & 0xF800) == 0xD800; }

// Writes the UTF-8 form of `codePoint` (at most U+10FFFF) and returns its
// length.  Inline: converters call it for every character that is not ASCII.
inline size_t EncodeCodePoint(uint32_t codePoint, char encoded[4]) {
  if (codePoint < 0x80) {
    encoded[0] = static_cast<char>(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    encoded[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    encoded[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    encoded[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    encoded[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    encoded[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 3;
  }
  encoded[0] = static_cast<char>(0xF0 | (codePoint >> 18));
  encoded[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
  encoded[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
  encoded[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
  return 4;
}

}  // namespace inireg

#endif  // INIREG_TEXT_UTF_H_
