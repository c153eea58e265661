// The changes a caller made to a cached profile file since it was loaded, in
// the order they were made.
//
// A write-back whose file changed on disk since it was loaded (another
// process, an editor) reads the file again and applies these changes to what
// it finds, so that nobody's writes are lost; the layout-keeping write-back
// applies them to the file's own lines.  Each change is applied as the
// engine's write applied it the first time: a change names sections and keys,
// never positions, so it means the same on a file that has moved on.
#ifndef INIREG_PROFILE_PROFILE_JOURNAL_H_
#define INIREG_PROFILE_PROFILE_JOURNAL_H_

#include <string>
#include <vector>

namespace inireg {

struct ProfileChange {
  enum class Kind {
    kSetEntry,       // Set key in section to value, creating both as needed.
    kDeleteSection,  // Delete the first section named `section`.
    kDeleteEntry,    // Delete the first entry `key` of the first section `section`.
  };
  Kind kind = Kind::kSetEntry;
  // kSetEntry, kDeleteEntry: trimmed, as the write found or created it.
  // kDeleteSection: exactly as the caller gave it (deletion does not trim).
  std::string section;
  std::string key;    // Trimmed; empty for kDeleteSection.
  std::string value;  // kSetEntry: the caller's value, untrimmed and unparsed.
};

using ProfileJournal = std::vector<ProfileChange>;

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_JOURNAL_H_
