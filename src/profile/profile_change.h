// Applying one change to a parsed profile file: the engine's writes do it to
// the cached record, and a write-back replays a record's journal onto the
// file as it now is on disk.  Both go through ApplyProfileChange, so that a
// replayed change does exactly what it did the first time.
#ifndef INIREG_PROFILE_PROFILE_CHANGE_H_
#define INIREG_PROFILE_PROFILE_CHANGE_H_

#include "profile/profile_journal.h"
#include "profile/profile_records.h"

namespace inireg {

enum class ChangeResult {
  kApplied,   // The records changed.
  kNoTarget,  // A deletion found nothing to delete; nothing changed.
  kRefused,   // The file format could not carry it back; nothing changed.
};

// kSetEntry: finds or appends the section and the entry and sets the value
// as a file line's value is read (an empty value keeps an existing entry's
// quoting).  kDeleteSection: deletes the first section of that (untrimmed)
// name.  kDeleteEntry: deletes the first entry of the key in the first
// section of the name.  Section pointers other than a deleted one stay
// valid.
ChangeResult ApplyProfileChange(ProfileFile* file, const ProfileChange& change);

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_CHANGE_H_
