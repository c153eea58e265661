#include "registry_text.h"

#include "text/utf.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace inireg::tool {

namespace {

#ifdef _WIN32
std::u16string AnsiToWide(const std::string& text) {
  if (text.empty()) return {};
  int count =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
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
  std::u16string units;
  units.reserve(bytes.size());
  Utf8ToUtf16(bytes.data(), bytes.size(), BadUtf8::kEscape, &units);
  return units;
}

std::string EncodeUtf8(const std::u16string& units) {
  std::string bytes;
  Utf16ToUtf8(units.data(), units.size(), LoneSurrogate::kEscape, 0, &bytes);
  return bytes;
}

bool IsWellFormedUtf8(const std::string& bytes) {
  return inireg::IsWellFormedUtf8(bytes.data(), bytes.size());
}

#ifdef _WIN32

std::u16string RegistryTextToWide(const std::string& text) { return AnsiToWide(text); }
size_t RegistryNameUnits(const std::string& text) { return AnsiToWide(text).size(); }
std::string WideToRegistryText(const std::u16string& units) { return WideToAnsi(units); }
std::string Utf8ToRegistryText(const std::string& utf8) { return WideToAnsi(DecodeUtf8(utf8)); }
std::string RegistryTextToUtf8(const std::string& text) { return EncodeUtf8(AnsiToWide(text)); }
bool IsPortableRegistryText(const std::string&) { return true; }

#else

std::u16string RegistryTextToWide(const std::string& text) { return DecodeUtf8(text); }
size_t RegistryNameUnits(const std::string& text) {
  return Utf16UnitsOfBytes(text.data(), text.size());
}
std::string WideToRegistryText(const std::u16string& units) { return EncodeUtf8(units); }
std::string Utf8ToRegistryText(const std::string& utf8) { return utf8; }
std::string RegistryTextToUtf8(const std::string& text) { return text; }
bool IsPortableRegistryText(const std::string& text) { return IsWellFormedUtf8(text); }

#endif

}  // namespace inireg::tool
