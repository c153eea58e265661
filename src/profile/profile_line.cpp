#include "profile/profile_line.h"

#include <cstring>

#include "profile/line_search.h"

namespace inireg {

char* TrimText(char* text, bool leading, bool trailing) {
  if (text == nullptr || *text == '\0') return text;
  char* start = text;
  if (leading) {
    while (IsProfileSpace(*start)) ++start;
  }
  if (trailing) {
    char* end = start + std::strlen(start);
    while (end > start && IsProfileSpace(end[-1])) *--end = '\0';
  }
  return start;
}

char* ParseValue(char* text, bool* quoted) {
  char* value = TrimText(text, true, true);
  const char* begin = value;
  const char* end = value + std::strlen(value);
  *quoted = StripQuotes(&begin, &end);
  if (*quoted) {
    value[end - value] = '\0';
    ++value;
  }
  return value;
}

EntryLineKind ParseEntryLine(const char* begin, const char* end, EntryLine* entry) {
  return SplitEntryLine(begin, FindInLine(begin, static_cast<size_t>(end - begin), '='), end,
                        entry);
}

EntryLineKind SplitEntryLine(const char* begin, const char* equals, const char* end,
                             EntryLine* entry) {
  if (equals == nullptr) return EntryLineKind::kNoEquals;
  const char* keyBegin = begin;
  const char* keyEnd = equals;
  while (keyBegin < keyEnd && IsProfileSpace(*keyBegin)) ++keyBegin;
  if (keyBegin == keyEnd) return EntryLineKind::kEmptyKey;
  // Many files write "key = value", many "key=value": the one space each
  // side of the "=" is dropped without a branch, which would guess wrong
  // where the two are mixed.  *keyBegin is no space, so keyEnd stays after it.
  keyEnd -= IsProfileSpace(keyEnd[-1]);
  while (IsProfileSpace(keyEnd[-1])) --keyEnd;
  const char* valueBegin = equals + 1;
  const char* valueEnd = end;
  valueBegin += valueBegin < valueEnd && IsProfileSpace(*valueBegin);
  while (valueBegin < valueEnd && IsProfileSpace(*valueBegin)) ++valueBegin;
  while (valueEnd > valueBegin && IsProfileSpace(valueEnd[-1])) --valueEnd;
  // StripQuotes without a branch on the outcome: where quoted and bare
  // values mix, one would guess wrong on a good share of lines.  The last
  // character read lies at or after the "=", the first only when there is
  // one.
  char first = valueBegin < valueEnd ? *valueBegin : '\0';
  bool quoted =
      (valueEnd - valueBegin > 1) & ((first == '"') | (first == '\'')) & (first == valueEnd[-1]);
  valueBegin += quoted;
  valueEnd -= quoted;
  entry->quoted = quoted;
  entry->keyBegin = keyBegin;
  entry->keyEnd = keyEnd;
  entry->valueBegin = valueBegin;
  entry->valueEnd = valueEnd;
  return EntryLineKind::kEntry;
}

namespace {

// memchr twice: find_first_of looks the set up once per byte.
bool HasLineBreak(const std::string& text) {
  return std::memchr(text.data(), '\n', text.size()) != nullptr ||
         std::memchr(text.data(), '\r', text.size()) != nullptr;
}

// The longest line that reads back whole.
constexpr size_t kMaxLineLength = kLineBufferSize - 1;

}  // namespace

const char* SectionNameRefusal(const std::string& name) {
  if (HasLineBreak(name)) return "a section name holds a line break";
  if (name.size() + 2 > kMaxLineLength)
    return "the section's header line would be over 32767 characters";
  return nullptr;
}

const char* EntryRefusal(const std::string& key, const std::string& value, bool quoted,
                         bool joinContinuations) {
  if (key.empty()) return "the key is empty or only whitespace";
  if (key[0] == '[') return "the key starts with \"[\" and would read as a section header";
  if (key.find('=') != std::string::npos) return "the key holds \"=\"";
  if (HasLineBreak(key)) return "the key holds a line break";
  if (HasLineBreak(value)) return "the value holds a line break";
  // Bare, a final backslash would join the next line; quoted, the line ends
  // in the quote.
  if (joinContinuations && !quoted && !value.empty() && value.back() == '\\') {
    return "the value ends in a backslash while continuation lines are joined";
  }
  if (key.size() + 1 + value.size() + (quoted ? 2 : 0) > kMaxLineLength) {
    return "the line would be over 32767 characters";
  }
  return nullptr;
}

bool ValueNeedsQuotes(const std::string& value) {
  if (value.empty()) return false;
  if (IsProfileSpace(value.front()) || IsProfileSpace(value.back())) return true;
  const char* begin = value.data();
  const char* end = begin + value.size();
  return StripQuotes(&begin, &end);
}

std::string ValueAsWritten(const std::string& value) {
  return ValueNeedsQuotes(value) ? "\"" + value + "\"" : value;
}

}  // namespace inireg
