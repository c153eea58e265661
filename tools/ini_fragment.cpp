#include "ini_fragment.h"

#include "library_internals.h"

namespace inireg::tool {

namespace {

// The UTF-16LE text after its byte-order mark, in the code page the profile
// reader converts wide files to.  False for an odd number of bytes.
bool NarrowWideText(const std::string& bytes, std::string* text) {
  if (bytes.size() % 2 != 0) return false;
  std::u16string units;
  for (size_t i = 2; i < bytes.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  size_t size = ConvertWideText(CodePage::kAnsi, units.data(), units.size(), nullptr, 0, '?');
  text->assign(size, '\0');
  if (size > 0)
    ConvertWideText(CodePage::kAnsi, units.data(), units.size(), &(*text)[0], size, '?');
  return true;
}

}  // namespace

bool ParseIniFragment(const std::string& bytes, std::vector<FragmentSection>* sections, int* line,
                      std::string* reason) {
  sections->clear();
  *line = 0;
  std::string text;
  if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
    if (!NarrowWideText(bytes, &text)) {
      *reason = "UTF-16LE text of an odd number of bytes";
      return false;
    }
  } else {
    text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
  }
  FragmentSection* current = nullptr;
  int number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t lineFeed = text.find('\n', start);
    size_t next = lineFeed == std::string::npos ? text.size() : lineFeed + 1;
    const char* begin = text.data() + start;
    const char* end = text.data() + (lineFeed == std::string::npos ? text.size() : lineFeed);
    start = next;
    *line = ++number;
    std::string content(begin, end);
    if (content.find('\0') != std::string::npos) {
      *reason = "the line holds a NUL byte";
      return false;
    }
    if (content.size() >= kLineBufferSize) {
      *reason = "the line is over 32767 characters, which the profile reader cuts";
      return false;
    }
    const char* p = begin;
    while (p < end && IsProfileSpace(*p)) ++p;
    if (p == end) continue;
    if (*p == '[') {
      // The name runs to the last "]", as the reader takes it.
      const char* close = nullptr;
      for (const char* q = end; q > p + 1;) {
        if (*--q == ']') {
          close = q;
          break;
        }
      }
      if (close == nullptr) {
        *reason = "a section header without its closing \"]\"";
        return false;
      }
      std::string name(p + 1, close);
      if (name.empty()) {
        *reason = "a section header without a name";
        return false;
      }
      if (const char* refusal = SectionNameRefusal(name)) {
        *reason = refusal;
        return false;
      }
      sections->push_back(FragmentSection{name, {}});
      current = &sections->back();
      continue;
    }
    bool hasEquals = std::string(p, end).find('=') != std::string::npos;
    if (*p == ';' || *p == '#') {
      if (!hasEquals) continue;
      *reason =
          std::string("a line starting with \"") + *p +
          "\" that holds \"=\": a comment to people, but the profile reader takes it for an entry";
      return false;
    }
    EntryLine parsed;
    switch (ParseEntryLine(begin, end, &parsed)) {
      case EntryLineKind::kNoEquals:
        *reason = "neither a [section] header, a KEY=VALUE entry, a ; comment nor blank";
        return false;
      case EntryLineKind::kEmptyKey:
        *reason = "an entry without a key";
        return false;
      case EntryLineKind::kEntry:
        break;
    }
    if (current == nullptr) {
      *reason = "an entry before the first [section] header";
      return false;
    }
    FragmentEntry entry;
    entry.key.assign(parsed.keyBegin, parsed.keyEnd);
    entry.value.assign(parsed.valueBegin, parsed.valueEnd);
    entry.quoted = parsed.quoted;
    entry.line = number;
    if (const char* refusal = EntryRefusal(entry.key, entry.value, entry.quoted, false)) {
      *reason = refusal;
      return false;
    }
    current->entries.push_back(std::move(entry));
  }
  *line = 0;
  return true;
}

}  // namespace inireg::tool
