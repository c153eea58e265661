// An INI fragment as `inireg merge` takes it: [section] headers and
// KEY=VALUE lines, split as the profile reader splits them (profile_line.h),
// so that each entry is exactly what reading the fragment as a profile file
// would give.  Unlike the reader, which silently drops what it cannot use,
// the parser refuses the whole fragment, naming the line, when a line would
// be lost or misread: an entry before the first header, a line that is no
// header, entry, comment or blank line, an entry without a key, a ";" or "#"
// line holding "=" (a comment to people, an entry to the reader), a NUL byte,
// or a line the file format cannot carry back.
#ifndef INIREG_TOOLS_INI_FRAGMENT_H_
#define INIREG_TOOLS_INI_FRAGMENT_H_

#include <string>
#include <vector>

namespace inireg::tool {

struct FragmentEntry {
  std::string key;    // Trimmed.
  std::string value;  // Trimmed, without its enclosing quotes.
  bool quoted = false;
  int line = 0;  // 1-based, for messages.
};

struct FragmentSection {
  std::string name;  // As written between the brackets.
  std::vector<FragmentEntry> entries;
};

// Parses `text` (UTF-8 with or without a byte-order mark, or UTF-16LE with
// one).  Sections come in the order their headers appear, a repeated header
// again.  On refusal returns false with `line` (0: the text as a whole) and
// `reason`.
bool ParseIniFragment(const std::string& text, std::vector<FragmentSection>* sections, int* line,
                      std::string* reason);

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_INI_FRAGMENT_H_
