// Writing a cached profile record back to a file that other processes and
// people may change too.
//
// A write-back holds the file's write-back lock (FileSystem::LockForWriteBack)
// from before it looks at the file until the new contents are in place, so
// that write-backs of one file by cooperating processes run one after the
// other.  Under the lock it checks whether the file is still the one the
// record was loaded from (its identity, and its contents where the identity
// cannot tell); if not, it reads the file again and replays the record's
// journal onto it, so that what others wrote stays and the record's own
// changes win where both changed the same thing.  Afterwards the record is
// the file as written, clean, with an empty journal.  A failed write-back
// leaves the file as it was and the record with its changes.
#ifndef INIREG_PROFILE_PROFILE_WRITE_BACK_H_
#define INIREG_PROFILE_PROFILE_WRITE_BACK_H_

#include "inireg/status.h"
#include "profile/profile_records.h"

namespace inireg {

// How long a write-back waits for another process's write-back of the file.
constexpr unsigned kWriteBackLockTimeoutMs = 5000;

// Writes the record back as described above.  On failure prints "COULDN'T
// OPEN FILE" and returns why.
Status WriteBackProfile(ProfileFile* file);

// Whether the file of `file` on disk differs from the one the record holds:
// one Identify, and a read of the file only when its identity cannot tell.
bool ProfileFileChangedOnDisk(const ProfileFile& file);

// Loads the record anew from its file, keeping its path and options.
void ReloadProfile(ProfileFile* file);

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_WRITE_BACK_H_
