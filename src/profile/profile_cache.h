// The engine's process-wide cache of parsed files, for the engine itself and
// for tests.  Callers hold a ProfileEngineLock while they use the records.
#ifndef INIREG_PROFILE_PROFILE_CACHE_H_
#define INIREG_PROFILE_PROFILE_CACHE_H_

#include <string>
#include <string_view>
#include <vector>

#include "profile/profile_file.h"

namespace inireg {

// The cache holds at most this many files; adding one more evicts the file
// added earliest.
constexpr size_t kProfileCacheCapacity = 5;

// The cached record of `path`, loaded on first use; null for an empty path.
ProfileFile* ProfileOpen(const char* path);

// Looks `key` up in `section` of the file at `path` as ProfileGetString does,
// for callers that hold the names with their lengths (none holds a NUL):
// sets `value` to the whole value, quoted where ProfileGetString quotes it.
// False, leaving `value` as it was, when the path or a name is empty or
// the section or key is missing.
bool ProfileFindValue(std::string_view path, std::string_view section, std::string_view key,
                      std::string* value);

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
