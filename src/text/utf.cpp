#include "text/utf.h"

#include <vector>

namespace inireg {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // + byte (0x80..0xFF) for bytes that are not UTF-8.

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

bool IsEscapedByte(char16_t unit) {
  return unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF;
}

// The surrogate whose three-byte form (ED A0..BF 80..BF) starts at `i`, as
// escaping encoding writes a lone one, or 0.  U+DC80..U+DCFF stand for
// single bytes and so never come from three.
char16_t EncodedSurrogateAt(const unsigned char* bytes, size_t count, size_t i) {
  if (count - i < 3 || bytes[i] != 0xED) return 0;
  unsigned char second = bytes[i + 1];
  unsigned char third = bytes[i + 2];
  if (second < 0xA0 || second > 0xBF || !IsContinuation(third)) return 0;
  char16_t unit = static_cast<char16_t>(0xD000u | (second & 0x3Fu) << 6 | (third & 0x3Fu));
  return IsEscapedByte(unit) ? 0 : unit;
}

void AppendCodePoint(uint32_t codePoint, std::u16string* output) {
  if (codePoint >= 0x10000) {
    codePoint -= 0x10000;
    output->push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    output->push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
  } else {
    output->push_back(static_cast<char16_t>(codePoint));
  }
}

// BadUtf8::kEscape.  Whether an encoded high surrogate stays one depends on
// what the next piece of input turns out to be, which may itself depend on
// the piece after it; so the pieces are found first and decided from the
// end backwards.  False when some bytes were not well formed.
bool DecodeEscaping(const unsigned char* bytes, size_t count, std::u16string* output) {
  struct Piece {
    size_t begin;
    size_t length;
    uint32_t codePoint;  // Of a well-formed sequence or an encoded surrogate.
    bool encodedSurrogate;
    bool escaped;  // Each byte becomes U+DC00 + byte.
  };
  std::vector<Piece> pieces;
  pieces.reserve(count);
  bool wellFormed = true;
  const char* text = reinterpret_cast<const char*>(bytes);
  for (size_t i = 0; i < count;) {
    Piece piece{i, 0, 0, false, false};
    piece.length = Utf8SequenceAt(text, count, i, &piece.codePoint);
    if (piece.length == 0 && (piece.codePoint = EncodedSurrogateAt(bytes, count, i)) != 0) {
      piece.length = 3;
      piece.encodedSurrogate = true;
    } else if (piece.length == 0) {
      piece.length = 1;
      piece.escaped = true;
    }
    wellFormed = wellFormed && !piece.escaped && !piece.encodedSurrogate;
    pieces.push_back(piece);
    i += piece.length;
  }
  bool lowFollows = false;
  for (size_t k = pieces.size(); k > 0; --k) {
    Piece& piece = pieces[k - 1];
    if (piece.encodedSurrogate && IsHighSurrogate(static_cast<char16_t>(piece.codePoint)) &&
        lowFollows) {
      piece.encodedSurrogate = false;
      piece.escaped = true;
    }
    // An escaped byte is a low surrogate; a well-formed sequence never
    // starts with one.
    lowFollows = piece.escaped ||
                 (piece.encodedSurrogate && IsLowSurrogate(static_cast<char16_t>(piece.codePoint)));
  }
  for (const Piece& piece : pieces) {
    if (piece.escaped) {
      for (size_t k = 0; k < piece.length; ++k)
        output->push_back(static_cast<char16_t>(kEscapeBase + bytes[piece.begin + k]));
    } else {
      AppendCodePoint(piece.codePoint, output);
    }
  }
  return wellFormed;
}

}  // namespace

size_t Utf8SequenceAt(const char* text, size_t count, size_t i, uint32_t* codePoint) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  unsigned char lead = bytes[i];
  size_t left = count - i;
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    if (left < 2 || !IsContinuation(bytes[i + 1])) return 0;
    *codePoint = ((lead & 0x1Fu) << 6) | (bytes[i + 1] & 0x3Fu);
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (left < 3 || !IsContinuation(bytes[i + 1]) || !IsContinuation(bytes[i + 2])) return 0;
    if (lead == 0xE0 && bytes[i + 1] < 0xA0) return 0;   // Overlong.
    if (lead == 0xED && bytes[i + 1] >= 0xA0) return 0;  // A surrogate.
    *codePoint = ((lead & 0x0Fu) << 12) | ((bytes[i + 1] & 0x3Fu) << 6) | (bytes[i + 2] & 0x3Fu);
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (left < 4 || !IsContinuation(bytes[i + 1]) || !IsContinuation(bytes[i + 2]) ||
        !IsContinuation(bytes[i + 3])) {
      return 0;
    }
    if (lead == 0xF0 && bytes[i + 1] < 0x90) return 0;   // Overlong.
    if (lead == 0xF4 && bytes[i + 1] >= 0x90) return 0;  // Past U+10FFFF.
    *codePoint = ((lead & 0x07u) << 18) | ((bytes[i + 1] & 0x3Fu) << 12) |
                 ((bytes[i + 2] & 0x3Fu) << 6) | (bytes[i + 3] & 0x3Fu);
    return 4;
  }
  return 0;
}

size_t Utf16UnitsOfBytes(const char* bytes, size_t count) {
  size_t units = 0;
  for (size_t i = 0; i < count; ++units) {
    uint32_t codePoint = 0;
    size_t length = Utf8SequenceAt(bytes, count, i, &codePoint);
    if (length == 4) ++units;  // A surrogate pair.
    i += length == 0 ? 1 : length;
  }
  return units;
}

bool IsWellFormedUtf8(const char* bytes, size_t count) {
  for (size_t i = 0; i < count;) {
    uint32_t codePoint = 0;
    size_t length = Utf8SequenceAt(bytes, count, i, &codePoint);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool Utf8ToUtf16(const char* bytes, size_t count, BadUtf8 policy, std::u16string* output) {
  if (policy == BadUtf8::kEscape) {
    return DecodeEscaping(reinterpret_cast<const unsigned char*>(bytes), count, output);
  }
  bool wellFormed = true;
  for (size_t i = 0; i < count;) {
    uint32_t codePoint = 0;
    size_t length = Utf8SequenceAt(bytes, count, i, &codePoint);
    if (length == 0) {
      wellFormed = false;
      ++i;
      continue;
    }
    AppendCodePoint(codePoint, output);
    i += length;
  }
  return wellFormed;
}

size_t EncodeUtf16Character(const char16_t* units, size_t count, size_t i, LoneSurrogate policy,
                            char32_t replacement, char encoded[4], size_t* consumed) {
  char16_t unit = units[i];
  *consumed = 1;
  if (IsHighSurrogate(unit) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
    *consumed = 2;
    return EncodeCodePoint(0x10000 + ((unit - 0xD800u) << 10) + (units[i + 1] - 0xDC00u), encoded);
  }
  if (!IsHighSurrogate(unit) && !IsLowSurrogate(unit)) return EncodeCodePoint(unit, encoded);
  if (policy == LoneSurrogate::kReplace) return EncodeCodePoint(replacement, encoded);
  if (IsEscapedByte(unit)) {
    encoded[0] = static_cast<char>(unit - kEscapeBase);
    return 1;
  }
  return EncodeCodePoint(unit, encoded);
}

void Utf16ToUtf8(const char16_t* units, size_t count, LoneSurrogate policy, char32_t replacement,
                 std::string* output) {
  output->reserve(output->size() + count);
  for (size_t i = 0; i < count;) {
    char encoded[4];
    size_t consumed = 1;
    size_t length = EncodeUtf16Character(units, count, i, policy, replacement, encoded, &consumed);
    output->append(encoded, length);
    i += consumed;
  }
}

}  // namespace inireg
