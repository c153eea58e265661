// Conversions between the registry's 8-bit text, UTF-8 and UTF-16 for the
// .reg reader and writer.
//
// "Registry text" is what the A functions of win32_registry.h take and give:
// on Linux bytes that are UTF-8 by convention, on Windows the ANSI code page.
//
// DecodeUtf8 and EncodeUtf8 are lossless for any bytes and any UTF-16: they
// are the codec of text/utf.h with its escaping policies (BadUtf8::kEscape,
// LoneSurrogate::kEscape), so on Linux every registry byte string survives a
// trip through UTF-16 exactly, and any UTF-16 string, lone surrogates
// included, a trip through registry text.
#ifndef INIREG_TOOLS_REGISTRY_TEXT_H_
#define INIREG_TOOLS_REGISTRY_TEXT_H_

#include <cstddef>
#include <string>

namespace inireg::tool {

std::u16string DecodeUtf8(const std::string& bytes);
std::string EncodeUtf8(const std::u16string& units);
// True when every byte belongs to a well-formed UTF-8 sequence.
bool IsWellFormedUtf8(const std::string& bytes);

std::u16string RegistryTextToWide(const std::string& text);
// The length of a key or value name in UTF-16 units as the registry counts
// it against its limits.  On Linux a byte outside well-formed UTF-8 is one
// unit there, so a lone surrogate written as three bytes counts three
// (RegistryTextToWide gives it back as one).
size_t RegistryNameUnits(const std::string& text);
std::string WideToRegistryText(const std::u16string& units);

// UTF-8 file text to registry text and back (the same bytes on Linux).
std::string Utf8ToRegistryText(const std::string& utf8);
std::string RegistryTextToUtf8(const std::string& text);

// Whether `text` can stand as it is between quotes in a UTF-8 .reg file so
// that every reader sees the same characters: well-formed UTF-8 on Linux,
// anything in the ANSI code page on Windows.  Line breaks and NULs are the
// caller's concern.
bool IsPortableRegistryText(const std::string& text);

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_REGISTRY_TEXT_H_
