#include "platform/code_page.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace inireg {

#ifdef _WIN32

size_t ConvertWideText(CodePage codePage, const char16_t* text, size_t count, char* output,
                       size_t capacity, char defaultChar) {
  if (count == 0) return 0;
  UINT page = codePage == CodePage::kAnsi ? CP_ACP : CP_OEMCP;
  const char defaultText[2] = {defaultChar, '\0'};
  int result = WideCharToMultiByte(page, 0, reinterpret_cast<const wchar_t*>(text),
                                   static_cast<int>(count), output,
                                   output == nullptr ? 0 : static_cast<int>(capacity),
                                   output == nullptr ? nullptr : defaultText, nullptr);
  return result > 0 ? static_cast<size_t>(result) : 0;
}

const char* PreviousCharacter(const char* start, const char* current) {
  return CharPrevA(start, current);
}

bool ConvertToWideText(CodePage codePage, const char* text, size_t count, std::u16string* output) {
  if (count == 0) return true;
  UINT page = codePage == CodePage::kAnsi ? CP_ACP : CP_OEMCP;
  int needed = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text, static_cast<int>(count), nullptr, 0);
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

namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

size_t ConvertWideText(CodePage, const char16_t* text, size_t count, char* output,
                       size_t capacity, char defaultChar) {
  size_t produced = 0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t codePoint = text[i];
    if (IsHighSurrogate(text[i]) && i + 1 < count && IsLowSurrogate(text[i + 1])) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      codePoint = static_cast<unsigned char>(defaultChar);
    }
    char encoded[4];
    size_t length;
    if (codePoint < 0x80) {
      encoded[0] = static_cast<char>(codePoint);
      length = 1;
    } else if (codePoint < 0x800) {
      encoded[0] = static_cast<char>(0xC0 | (codePoint >> 6));
      encoded[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
      length = 2;
    } else if (codePoint < 0x10000) {
      encoded[0] = static_cast<char>(0xE0 | (codePoint >> 12));
      encoded[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
      encoded[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
      length = 3;
    } else {
      encoded[0] = static_cast<char>(0xF0 | (codePoint >> 18));
      encoded[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
      encoded[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
      encoded[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
      length = 4;
    }
    if (output != nullptr) {
      if (produced + length > capacity) break;  // Never a partial character.
      for (size_t k = 0; k < length; ++k) output[produced + k] = encoded[k];
    }
    produced += length;
  }
  return produced;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool ConvertToWideText(CodePage, const char* text, size_t count, std::u16string* output) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  bool wellFormed = true;
  size_t i = 0;
  while (i < count) {
    unsigned char lead = bytes[i];
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    uint32_t codePoint = length == 1 ? lead : length == 2 ? (lead & 0x1Fu) : length == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
    bool valid = length != 0 && i + length <= count;
    for (size_t k = 1; valid && k < length; ++k) {
      valid = (bytes[i + k] & 0xC0) == 0x80;
      codePoint = (codePoint << 6) | (bytes[i + k] & 0x3Fu);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && codePoint >= kSmallest[length] && codePoint <= 0x10FFFF &&
            !(codePoint >= 0xD800 && codePoint <= 0xDFFF);
    if (!valid) {
      wellFormed = false;
      ++i;
      continue;
    }
    if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      output->push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
      output->push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
      output->push_back(static_cast<char16_t>(codePoint));
    }
    i += length;
  }
  return wellFormed;
}

// The line feed and the backslash are single bytes that never occur inside a
// longer UTF-8 sequence, so one byte back is enough for what the reader asks.
const char* PreviousCharacter(const char* start, const char* current) {
  return current > start ? current - 1 : start;
}

#endif

int CompareNoCase(const char* a, const char* b) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
  while (true) {
    unsigned char cx = FoldCase(*x++);
    unsigned char cy = FoldCase(*y++);
    if (cx != cy || cx == 0) return static_cast<int>(cx) - static_cast<int>(cy);
  }
}

}  // namespace inireg
