// Conversions between the registry's 8-bit text, UTF-8 and UTF-16 for the
// .reg reader and writer.
//
// "Registry text" is what the A functions of win32_registry.h take and give:
// on Linux bytes that are UTF-8 by convention, on Windows the ANSI code page.
//
// The UTF-8 codec here is lossless for any bytes: a byte that is not part of
// a well-formed UTF-8 sequence becomes the lone surrogate U+DC80 + (byte -
// 0x80), and such a surrogate becomes that byte again.  So on Linux every
// registry byte string survives a trip through UTF-16 exactly.  Other lone
// surrogates become the three-byte form of their code point, which is read
// back as that surrogate (unless it is a high one before a low one, which
// would join them), so the codec is one to one both ways: any UTF-16 string,
// lone surrogates included, also survives a trip through registry text.
#ifndef INIREG_TOOLS_REGISTRY_TEXT_H_
#define INIREG_TOOLS_REGISTRY_TEXT_H_

#include <string>

namespace inireg::tool {

std::u16string DecodeUtf8(const std::string& bytes);
std::string EncodeUtf8(const std::u16string& units);
// True when every byte belongs to a well-formed UTF-8 sequence.
bool IsWellFormedUtf8(const std::string& bytes);

std::u16string RegistryTextToWide(const std::string& text);
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
