#include "reg_file.h"

#include <cstdio>

#include "registry_text.h"
#include "text/ascii_case.h"

namespace inireg::tool {

namespace {

const char kHeader5[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";

// The registry's own limits, checked while reading so that an import does
// not fail half-way on a name the registry refuses.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
// Written lines stay within the registry editor's width.
constexpr size_t kLineWidth = 80;

// An odd last byte of a UTF-16 string list is kept in the registry text as
// the three-byte form of the lone surrogate U+DB00 + byte: ED, AC..AF, 80..BF.
// Made byte by byte so that it is the same where registry text is not UTF-8.
std::string OddByteMarker(unsigned byte) {
  return {'\xED', static_cast<char>(0xAC | byte >> 6), static_cast<char>(0x80 | (byte & 0x3F))};
}

bool StartsWithNoCase(const std::string& text, size_t pos, const char* prefix) {
  std::string head = text.substr(pos, std::char_traits<char>::length(prefix));
  return EqualsNoCase(head, prefix);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hex digits and nothing else.
bool ParseHex32(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 8) return false;
  uint32_t result = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    result = result << 4 | static_cast<uint32_t>(digit);
  }
  *value = result;
  return true;
}

std::string LittleEndianBytes(const std::u16string& units) {
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// Pairs of bytes as UTF-16LE units; an odd last byte is dropped into *rest.
std::u16string UnitsOf(const std::string& bytes, std::string* rest) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  rest->assign(bytes.size() % 2 != 0 ? bytes.substr(bytes.size() - 1) : std::string());
  return units;
}

bool IsStringType(uint32_t type) {
  return type == kTypeString || type == kTypeExpandString || type == kTypeMultiString;
}

// The whole file as registry text.
bool DecodeContent(const std::string& content, std::string* text, std::string* error) {
  if (content.size() >= 2 && content[0] == '\xFF' && content[1] == '\xFE') {
    std::string rest;
    std::u16string units = UnitsOf(content.substr(2), &rest);
    if (!rest.empty()) {
      *error = "the UTF-16 file ends in the middle of a character";
      return false;
    }
    *text = WideToRegistryText(units);
    return true;
  }
  if (content.size() >= 3 && content.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    *text = Utf8ToRegistryText(content.substr(3));
    return true;
  }
  // 8-bit text that is not UTF-8 is taken to be in the registry's code page.
  *text = IsWellFormedUtf8(content) ? Utf8ToRegistryText(content) : content;
  return true;
}

class Parser {
 public:
  Parser(RegDocument* document, RegParseError* error) : document_(document), error_(error) {}

  bool Parse(const std::string& text) {
    SplitLines(text);
    std::string header = Trim(lines_.empty() ? std::string() : lines_[0]);
    if (header == kHeader5) {
      document_->regedit4 = false;
    } else if (header == kHeader4) {
      document_->regedit4 = true;
    } else {
      return Fail(1, std::string("expected the header \"") + kHeader5 + "\" or \"" + kHeader4 +
                         "\" on the first line");
    }
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      std::string line = Trim(lines_[index_]);
      int number = static_cast<int>(index_) + 1;
      if (line.empty() || line[0] == ';') continue;
      bool ok = line[0] == '['                     ? ParseKeyLine(line, number)
                : line[0] == '@' || line[0] == '"' ? ParseValueLine(line, number)
                                                   : Fail(number,
                                                          "expected [KEY], [-KEY], \"NAME\"=DATA, "
                                                          "@=DATA, a comment (;) or a blank line");
      if (!ok) return false;
    }
    return true;
  }

 private:
  void SplitLines(const std::string& text) {
    // A final line end ends the last line rather than starting another.
    size_t start = 0;
    while (start < text.size() || (start == 0 && text.empty())) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines_.push_back(std::move(line));
      start = end + 1;
    }
  }

  bool Fail(int line, std::string message) {
    error_->line = line;
    error_->message = std::move(message);
    return false;
  }

  bool ParseKeyLine(const std::string& line, int number) {
    if (line.size() < 2 || line.back() != ']') {
      return Fail(number,
                  "a key line must end with \"]\", as in [HKEY_CURRENT_USER\\Software\\Example]");
    }
    std::string path = line.substr(1, line.size() - 2);
    RegKey key;
    key.line = number;
    if (!path.empty() && path[0] == '-') {
      key.remove = true;
      path.erase(0, 1);
    }
    std::string message;
    if (!SplitRegKeyPath(path, &key.root, &key.subkey, &message)) return Fail(number, message);
    if (key.remove && key.subkey.empty()) {
      return Fail(number, "a root key cannot be deleted; expected [-ROOT\\KEY]");
    }
    document_->keys.push_back(std::move(key));
    return true;
  }

  // A quoted string from line[*pos] (the opening quote); *pos ends past the
  // closing quote.
  bool ParseQuoted(const std::string& line, size_t* pos, std::string* out, int number) {
    out->clear();
    for (size_t i = *pos + 1; i < line.size(); ++i) {
      char c = line[i];
      if (c == '"') {
        *pos = i + 1;
        return true;
      }
      if (c == '\\') {
        char next = i + 1 < line.size() ? line[i + 1] : '\0';
        if (next != '\\' && next != '"' && next != 'n' && next != 'r') {
          return Fail(
              number,
              "a backslash inside quotes must be written \\\\ (or \\\" for a quote, \\n, \\r "
              "for line breaks)");
        }
        ++i;
        c = next == 'n' ? '\n' : next == 'r' ? '\r' : next;
      }
      *out += c;
    }
    return Fail(number, "the closing quote is missing");
  }

  bool ParseValueLine(const std::string& line, int number) {
    if (document_->keys.empty()) return Fail(number, "a value comes before the first [KEY] line");
    RegKey& key = document_->keys.back();
    if (key.remove) return Fail(number, "a value under [-KEY], which deletes the key");
    RegValue value;
    value.line = number;
    size_t pos = 1;
    if (line[0] == '"') {
      pos = 0;
      if (!ParseQuoted(line, &pos, &value.name, number)) return false;
      if (RegistryNameUnits(value.name) > kMaxValueNameLength) {
        return Fail(number, "the value name is longer than 16383 characters");
      }
      // Cut short at a NUL, the name would set or delete another value.
      if (value.name.find('\0') != std::string::npos) {
        return Fail(number,
                    "the value name holds a NUL character, which the registry cannot store");
      }
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') {
      return Fail(number, "expected \"=\" after the value name");
    }
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (!ParseData(line, pos, number, &value)) return false;
    key.values.push_back(std::move(value));
    return true;
  }

  bool ParseData(const std::string& line, size_t pos, int number, RegValue* value) {
    std::string rest = line.substr(pos);
    if (rest == "-") {
      value->remove = true;
      return true;
    }
    if (!rest.empty() && rest[0] == '"') {
      size_t end = 0;
      if (!ParseQuoted(rest, &end, &value->data, number)) return false;
      if (!Trim(rest.substr(end)).empty())
        return Fail(number, "unexpected text after the closing quote");
      value->type = kTypeString;
      value->data += '\0';
      return true;
    }
    if (StartsWithNoCase(rest, 0, "dword:")) {
      uint32_t number32 = 0;
      if (!ParseHex32(Trim(rest.substr(6)), &number32)) {
        return Fail(number, "expected dword: followed by 1 to 8 hex digits, as in dword:0000002a");
      }
      value->type = kTypeDword;
      for (int shift = 0; shift < 32; shift += 8)
        value->data += static_cast<char>(number32 >> shift);
      return true;
    }
    if (StartsWithNoCase(rest, 0, "hex")) return ParseHexData(rest.substr(3), number, value);
    return Fail(number, "expected \"TEXT\", dword:, hex:, hex(N): or - after \"=\"");
  }

  bool ParseHexData(const std::string& rest, int number, RegValue* value) {
    size_t colon = 0;
    value->type = kTypeBinary;
    if (!rest.empty() && rest[0] == '(') {
      size_t close = rest.find(')');
      if (close == std::string::npos || !ParseHex32(rest.substr(1, close - 1), &value->type)) {
        return Fail(number,
                    "expected hex(N): with N a type number of 1 to 8 hex digits, as in hex(2):");
      }
      colon = close + 1;
    }
    if (colon >= rest.size() || rest[colon] != ':')
      return Fail(number, "expected \":\" after hex or hex(N)");
    std::string list = Trim(rest.substr(colon + 1));
    while (!list.empty() && list.back() == '\\') {
      list.pop_back();
      if (index_ + 1 >= lines_.size()) {
        return Fail(number, "the hex list ends with \"\\\" but no line follows");
      }
      list += Trim(lines_[++index_]);
    }
    // One trailing comma is allowed (the registry editor writes one before
    // each continuation); an empty list is no bytes.
    if (!list.empty() && list.back() == ',') list.pop_back();
    std::string bytes;
    for (size_t start = 0; !list.empty();) {
      size_t comma = list.find(',', start);
      std::string token =
          Trim(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      int high = token.size() == 2 ? HexDigit(token[0]) : 0;
      int low = token.empty() || token.size() > 2 ? -1 : HexDigit(token.back());
      if (high < 0 || low < 0)
        return Fail(number, "expected hex bytes separated by commas, as in hex:01,ff");
      bytes += static_cast<char>(high << 4 | low);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    if (IsStringType(value->type) && !document_->regedit4) {
      std::string odd;
      value->data = WideToRegistryText(UnitsOf(bytes, &odd));
      if (!odd.empty()) value->data += OddByteMarker(static_cast<unsigned char>(odd[0]));
    } else {
      value->data = std::move(bytes);
    }
    return true;
  }

  RegDocument* document_;
  RegParseError* error_;
  std::vector<std::string> lines_;
  size_t index_ = 0;
};

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\n' || c == '\r') {
      out += c == '\n' ? "\\n" : "\\r";
      continue;
    }
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// The UTF-16LE bytes of a string type's data, with the odd-byte marker the
// reader makes turned back into that byte.
std::string StringListBytes(const std::string& data) {
  size_t size = data.size();
  auto at = [&](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(data[i])); };
  if (size >= 3 && at(size - 3) == 0xED && (at(size - 2) & 0xFC) == 0xAC &&
      (at(size - 1) & 0xC0) == 0x80) {
    char odd = static_cast<char>((at(size - 2) & 0x03) << 6 | (at(size - 1) & 0x3F));
    return LittleEndianBytes(RegistryTextToWide(data.substr(0, size - 3))) + odd;
  }
  return LittleEndianBytes(RegistryTextToWide(data));
}

// Text followed by exactly one NUL, and nothing a quoted string would lose.
bool IsQuotableString(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  std::string body = data.substr(0, data.size() - 1);
  return body.find('\0') == std::string::npos && !HasLineBreak(body) &&
         IsPortableRegistryText(body);
}

// "prefix" and the bytes as the format writes them, two lower-case hex
// digits a byte separated by commas.  Where a line would pass `width`, it
// is continued with "\" and a two-space indent on the next line.
std::string HexList(const std::string& prefix, const std::string& bytes, size_t width) {
  std::string text;
  std::string line = prefix;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char piece[4];
    std::snprintf(piece, sizeof piece, "%02x%s", static_cast<unsigned char>(bytes[i]),
                  i + 1 < bytes.size() ? "," : "");
    if (line.size() + std::char_traits<char>::length(piece) + 1 > width && line != "  ") {
      text += line + "\\\r\n";
      line = "  ";
    }
    line += piece;
  }
  return text + line;
}

// How a value's data is written: a literal ("text" or dword:...) or a hex
// prefix and the bytes that follow it.
struct DataForm {
  std::string literal;
  std::string hexPrefix;
  std::string bytes;
};

DataForm FormOf(uint32_t type, const std::string& data) {
  DataForm form;
  char typeText[24];
  std::snprintf(typeText, sizeof typeText, "hex(%x):", static_cast<unsigned>(type));
  form.hexPrefix = typeText;
  switch (type) {
    case kTypeString:
      if (IsQuotableString(data)) {
        form.literal = Quote(data.substr(0, data.size() - 1));
        return form;
      }
      form.bytes = StringListBytes(data);
      return form;
    case kTypeDword:
      if (data.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(data[i]);
        char text[24];
        std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
        form.literal = text;
        return form;
      }
      form.bytes = data;
      return form;
    case kTypeBinary:
      form.hexPrefix = "hex:";
      form.bytes = data;
      return form;
    case kTypeExpandString:
    case kTypeMultiString:
      form.bytes = StringListBytes(data);
      return form;
    default:
      form.bytes = data;
      return form;
  }
}

void AppendValue(std::string* out, const RegValue& value) {
  std::string name = value.name.empty() ? "@" : Quote(value.name);
  if (value.remove) {
    *out += name + "=-\r\n";
    return;
  }
  DataForm form = FormOf(value.type, value.data);
  if (!form.literal.empty()) {
    *out += name + "=" + form.literal + "\r\n";
    return;
  }
  // RegistryStore writes text without a terminator; a comment keeps such a
  // value readable.
  if (value.type == kTypeString && IsQuotableString(value.data + '\0')) {
    *out += "; " + Quote(value.data) + " without a terminating NUL:\r\n";
  }
  *out += HexList(name + "=" + form.hexPrefix, form.bytes, kLineWidth) + "\r\n";
}

}  // namespace

const char* RegRootName(RegRoot root) { return NamesOf(root).longName; }

std::string RegKeyPath(RegRoot root, const std::string& subkey) {
  std::string path = RegRootName(root);
  if (!subkey.empty()) path += "\\" + subkey;
  return path;
}

bool SplitRegKeyPath(const std::string& path, RegRoot* root, std::string* subkey,
                     std::string* error) {
  size_t slash = path.find('\\');
  std::string rootName = path.substr(0, slash);
  const RegRootNames* found = nullptr;
  for (const RegRootNames& entry : kRegRoots) {
    if (EqualsNoCase(rootName, entry.longName) || EqualsNoCase(rootName, entry.shortName))
      found = &entry;
  }
  if (found == nullptr) {
    *error = "unknown root \"" + rootName +
             "\"; expected HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS or "
             "HKEY_CURRENT_CONFIG (or HKCR, HKCU, HKLM, HKU, HKCC)";
    return false;
  }
  std::string rest = slash == std::string::npos ? std::string() : path.substr(slash + 1);
  // The registry takes names as C strings: "[-HKCU\<NUL>x]" would delete
  // every key below the root.
  if (rest.find('\0') != std::string::npos) {
    *error = "a key name holds a NUL character, which the registry cannot store";
    return false;
  }
  size_t depth = 0;
  for (size_t start = 0; !rest.empty() && start <= rest.size();) {
    size_t end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    if (end == start) {
      *error = "empty key name in \"" + path + "\" (two backslashes in a row, or one at the end)";
      return false;
    }
    if (RegistryNameUnits(rest.substr(start, end - start)) > kMaxKeyNameLength) {
      *error = "a key name in \"" + path + "\" is longer than 255 characters";
      return false;
    }
    if (++depth > kMaxKeyDepth) {
      *error =
          "the key lies more than 512 levels below its root, deeper than the registry nests keys";
      return false;
    }
    start = end + 1;
  }
  *root = found->root;
  *subkey = rest;
  return true;
}

bool ParseRegFile(const std::string& content, RegDocument* document, RegParseError* error) {
  *document = RegDocument();
  std::string text;
  if (!DecodeContent(content, &text, &error->message)) {
    error->line = 0;
    return false;
  }
  return Parser(document, error).Parse(text);
}

std::string RegDataNotation(uint32_t type, const std::string& data) {
  DataForm form = FormOf(type, data);
  if (!form.literal.empty()) return form.literal;
  return HexList(form.hexPrefix, form.bytes, std::string::npos);
}

bool FormatRegFile(const RegDocument& document, RegEncoding encoding, std::string* content,
                   std::string* error) {
  std::string text = std::string(kHeader5) + "\r\n\r\n";
  for (const RegKey& key : document.keys) {
    std::string path = RegKeyPath(key.root, key.subkey);
    if (HasLineBreak(path)) {
      *error =
          "the key name \"" + path + "\" holds a line break, which a .reg key line cannot carry";
      return false;
    }
    text += (key.remove ? "[-" : "[") + path + "]\r\n";
    for (const RegValue& value : key.values) {
      AppendValue(&text, value);
    }
    text += "\r\n";
  }
  if (encoding == RegEncoding::kUtf16) {
    *content = "\xFF\xFE" + LittleEndianBytes(RegistryTextToWide(text));
  } else {
    *content = RegistryTextToUtf8(text);
  }
  return true;
}

}  // namespace inireg::tool
