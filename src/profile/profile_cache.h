// The engine's process-wide cache of parsed files, for the engine itself and
// for tests.  Callers hold a ProfileEngineLock while they use the records.
#ifndef INIREG_PROFILE_PROFILE_CACHE_H_
#define INIREG_PROFILE_PROFILE_CACHE_H_

#include <string>
#include <vector>

#include "profile/profile_file.h"

namespace inireg {

// The cache holds at most this many files; adding one more evicts the file
// added earliest.
constexpr size_t kProfileCacheCapacity = 5;

// The cached record of `path`, loaded on first use; null for an empty path.
ProfileFile* ProfileOpen(const char* path);

// The paths of the cached records, earliest added first.
std::vector<std::string> ProfileCachedPaths();

// Writes back every changed record and keeps them cached, clean.  Runs at
// normal process exit.
void ProfileFlushAll();

// Drops the record of `path` without writing it back: its unsaved changes
// are lost.  For a caller that gives up on a file that cannot be written.
void ProfileDiscard(const char* path);

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_CACHE_H_
