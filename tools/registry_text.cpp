#include "registry_text.h"

#include <cstdint>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace inireg::tool {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // + byte (0x80..0xFF) for undecodable bytes.

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the well-formed sequence starting at `i` (its code point in
// *codePoint), or 0 when the byte there starts none.  Overlong forms,
// encoded surrogates and code points past U+10FFFF are not well formed.
size_t SequenceAt(const std::string& bytes, size_t i, uint32_t* codePoint) {
  auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  unsigned char lead = at(i);
  size_t left = bytes.size() - i;
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    if (left < 2 || !IsContinuation(at(i + 1))) return 0;
    *codePoint = ((lead & 0x1Fu) << 6) | (at(i + 1) & 0x3Fu);
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (left < 3 || !IsContinuation(at(i + 1)) || !IsContinuation(at(i + 2))) return 0;
    if (lead == 0xE0 && at(i + 1) < 0xA0) return 0;   // Overlong.
    if (lead == 0xED && at(i + 1) >= 0xA0) return 0;  // A surrogate.
    *codePoint = ((lead & 0x0Fu) << 12) | ((at(i + 1) & 0x3Fu) << 6) | (at(i + 2) & 0x3Fu);
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (left < 4 || !IsContinuation(at(i + 1)) || !IsContinuation(at(i + 2)) ||
        !IsContinuation(at(i + 3))) {
      return 0;
    }
    if (lead == 0xF0 && at(i + 1) < 0x90) return 0;   // Overlong.
    if (lead == 0xF4 && at(i + 1) >= 0x90) return 0;  // Past U+10FFFF.
    *codePoint = ((lead & 0x07u) << 18) | ((at(i + 1) & 0x3Fu) << 12) |
                 ((at(i + 2) & 0x3Fu) << 6) | (at(i + 3) & 0x3Fu);
    return 4;
  }
  return 0;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The surrogate whose three-byte form (ED A0..BF 80..BF) starts at `i`, as
// EncodeUtf8 writes a lone one, or 0.  U+DC80..U+DCFF stand for single bytes
// and so never come from three.
uint32_t EncodedSurrogateAt(const std::string& bytes, size_t i) {
  if (bytes.size() - i < 3 || static_cast<unsigned char>(bytes[i]) != 0xED) return 0;
  unsigned char second = static_cast<unsigned char>(bytes[i + 1]);
  unsigned char third = static_cast<unsigned char>(bytes[i + 2]);
  if (second < 0xA0 || second > 0xBF || !IsContinuation(third)) return 0;
  uint32_t unit = 0xD000u | (second & 0x3Fu) << 6 | (third & 0x3Fu);
  return unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF ? 0 : unit;
}

void AppendCodePoint(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

#ifdef _WIN32
std::u16string AnsiToWide(const std::string& text) {
  if (text.empty()) return {};
  int count = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string units(static_cast<size_t>(count), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                      reinterpret_cast<wchar_t*>(&units[0]), count);
  return units;
}

std::string WideToAnsi(const std::u16string& units) {
  if (units.empty()) return {};
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(units.data());
  int count = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(units.size()), nullptr, 0,
                                  nullptr, nullptr);
  std::string text(static_cast<size_t>(count), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(units.size()), &text[0], count, nullptr,
                      nullptr);
  return text;
}
#endif

}  // namespace

std::u16string DecodeUtf8(const std::string& bytes) {
  // Each piece of the input as units; the three-byte form of a surrogate is
  // taken as that surrogate only where encoding gives the same bytes back,
  // which for a high one means that no low surrogate follows (the two would
  // be written as one four-byte sequence).  Decided from the end backwards.
  struct Piece {
    std::u16string units;
    std::string bytes;  // Of an encoded surrogate, for when it stays bytes.
  };
  std::vector<Piece> pieces;
  pieces.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    Piece piece;
    uint32_t codePoint = 0;
    size_t length = SequenceAt(bytes, i, &codePoint);
    if (length == 0 && (codePoint = EncodedSurrogateAt(bytes, i)) != 0) {
      piece.units = static_cast<char16_t>(codePoint);
      piece.bytes = bytes.substr(i, 3);
      length = 3;
    } else if (length == 0) {
      piece.units = static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[i]));
      length = 1;
    } else if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      piece.units += static_cast<char16_t>(0xD800 + (codePoint >> 10));
      piece.units += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    } else {
      piece.units = static_cast<char16_t>(codePoint);
    }
    pieces.push_back(std::move(piece));
    i += length;
  }
  bool lowFollows = false;
  for (size_t k = pieces.size(); k > 0; --k) {
    Piece& piece = pieces[k - 1];
    if (!piece.bytes.empty() && IsHighSurrogate(piece.units[0]) && lowFollows) {
      piece.units.clear();
      for (char byte : piece.bytes) piece.units += static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(byte));
    }
    lowFollows = IsLowSurrogate(piece.units[0]);
  }
  std::u16string units;
  units.reserve(bytes.size());
  for (const Piece& piece : pieces) units += piece.units;
  return units;
}

std::string EncodeUtf8(const std::u16string& units) {
  std::string bytes;
  bytes.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    char16_t unit = units[i];
    bool high = unit >= 0xD800 && unit <= 0xDBFF;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      AppendCodePoint(bytes, 0x10000 + ((unit - 0xD800u) << 10) + (units[i + 1] - 0xDC00u));
      ++i;
    } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      bytes += static_cast<char>(unit - kEscapeBase);
    } else {
      AppendCodePoint(bytes, unit);
    }
  }
  return bytes;
}

bool IsWellFormedUtf8(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size();) {
    uint32_t codePoint = 0;
    size_t length = SequenceAt(bytes, i, &codePoint);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

#ifdef _WIN32

std::u16string RegistryTextToWide(const std::string& text) { return AnsiToWide(text); }
std::string WideToRegistryText(const std::u16string& units) { return WideToAnsi(units); }
std::string Utf8ToRegistryText(const std::string& utf8) { return WideToAnsi(DecodeUtf8(utf8)); }
std::string RegistryTextToUtf8(const std::string& text) { return EncodeUtf8(AnsiToWide(text)); }
bool IsPortableRegistryText(const std::string&) { return true; }

#else

std::u16string RegistryTextToWide(const std::string& text) { return DecodeUtf8(text); }
std::string WideToRegistryText(const std::u16string& units) { return EncodeUtf8(units); }
std::string Utf8ToRegistryText(const std::string& utf8) { return utf8; }
std::string RegistryTextToUtf8(const std::string& text) { return text; }
bool IsPortableRegistryText(const std::string& text) { return IsWellFormedUtf8(text); }

#endif

}  // namespace inireg::tool
