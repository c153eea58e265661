// The grammar of one profile file line, in one place: what whitespace is,
// how an entry line splits into key and value, which quotes enclose a value,
// and what a line can carry so that it reads back as it was written.  The
// reader, the engine's writes, the layout-keeping editor and the command all
// use these, so that what is written is what is read.
#ifndef INIREG_PROFILE_PROFILE_LINE_H_
#define INIREG_PROFILE_PROFILE_LINE_H_

#include <cstddef>
#include <string>

namespace inireg {

// The reader's and writer's line limit: 32767 characters and a terminator.
constexpr size_t kLineBufferSize = 32768;

// Whitespace as the reader and the writes trim it: space, tab, line feed,
// vertical tab, form feed and carriage return.  Bytes above 127 never are.
// Tab to carriage return are the codes 9 to 13: one range check in place of
// five comparisons, on every byte the reader trims.
inline bool IsProfileSpace(char c) {
  return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t';
}

// The quote rule: a text longer than one character whose first and last
// characters are both '"' or both '\'' is quoted; [*begin, *end) then loses
// them.  Only that one pair is removed.
inline bool StripQuotes(const char** begin, const char** end) {
  // Few values are quoted: testing the first character before the last
  // keeps the branches predictable.
  if (*end - *begin > 1 && (**begin == '"' || **begin == '\'') && **begin == (*end)[-1]) {
    ++*begin;
    --*end;
    return true;
  }
  return false;
}

// Trims `text` in place: trailing whitespace is overwritten with terminators
// when `trailing` is set; the result is the first character after leading
// whitespace when `leading` is set, otherwise `text`.  Null stays null.
char* TrimText(char* text, bool leading, bool trailing);

// Splits a value as a file line's value is read: leading and trailing
// whitespace removed, then one enclosing pair of double or single quotes.
// Returns the value's text (inside `text`, which is changed) and sets
// `quoted` when a pair was removed.
char* ParseValue(char* text, bool* quoted);

// [begin, end) of an entry line split at its first "=", both sides trimmed,
// the value without its enclosing quotes.
struct EntryLine {
  const char* keyBegin = nullptr;
  const char* keyEnd = nullptr;
  const char* valueBegin = nullptr;
  const char* valueEnd = nullptr;
  bool quoted = false;
};

enum class EntryLineKind {
  kEntry,     // A key and a value.
  kNoEquals,  // Not an entry: the line is dropped.
  kEmptyKey,  // "=" with nothing before it: ends the section being read.
};

// Parses the line [begin, end) (its line end, if any, counts as whitespace).
EntryLineKind ParseEntryLine(const char* begin, const char* end, EntryLine* entry);
// ParseEntryLine for a caller that has found the line's first "=" already
// (null: the line has none).
EntryLineKind SplitEntryLine(const char* begin, const char* equals, const char* end,
                             EntryLine* entry);

// Why the file format could not carry a write back, or null when it can:
// the entry must read back exactly as it is held in memory.  `value` is the
// value as held (without enclosing quotes), `quoted` whether it is written
// between quotes.
const char* SectionNameRefusal(const std::string& name);
const char* EntryRefusal(const std::string& key, const std::string& value, bool quoted,
                         bool joinContinuations);

// Whether `value` written bare after "=" would read back as something else
// (surrounding whitespace trimmed, an enclosing pair of quotes removed), so
// that it must be written between double quotes to keep it.
bool ValueNeedsQuotes(const std::string& value);
// `value` as it must follow "=" to read back unchanged: between double
// quotes when ValueNeedsQuotes says so, else as it is.
std::string ValueAsWritten(const std::string& value);

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_LINE_H_
