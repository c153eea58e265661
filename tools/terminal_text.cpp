#include "terminal_text.h"

#include <cstdio>

#include "registry_text.h"

namespace inireg::tool {

std::string Printable(const std::string& text) {
  // DecodeUtf8 turns each byte outside well-formed UTF-8 into U+DC80 + (byte
  // - 0x80), which no well-formed text decodes to.
  std::u16string units = DecodeUtf8(text);
  std::string out;
  char escape[8];
  for (size_t i = 0; i < units.size(); ++i) {
    char16_t unit = units[i];
    if (unit >= 0xDC80 && unit <= 0xDCFF) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(unit - 0xDC00));
      out += escape;
    } else if (unit == '\n') {
      out += "\\n";
    } else if (unit == '\r') {
      out += "\\r";
    } else if (unit == '\t') {
      out += "\\t";
    } else if (unit < 0x20 || unit == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(unit));
      out += escape;
    } else if (unit >= 0x80 && unit <= 0x9F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
      out += escape;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      // A pair is one character; a lone surrogate stands for bytes that are
      // not UTF-8.
      bool pair = unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                  units[i + 1] <= 0xDFFF;
      if (pair) {
        out += EncodeUtf8(units.substr(i++, 2));
        continue;
      }
      for (char byte : EncodeUtf8(std::u16string(1, unit))) {
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(byte));
        out += escape;
      }
    } else {
      out += EncodeUtf8(std::u16string(1, unit));
    }
  }
  return out;
}

}  // namespace inireg::tool
