// The engine's process-wide cache of parsed files, for the engine itself and
// for tests.  Callers hold a ProfileEngineLock while they use the records.
// A record leaves the cache only with nothing unsaved (its changes written
// back) or when a caller discards it.  Eviction, ProfileFlushAll and the
// flush at process exit write the cache back in one and the same pass.
#ifndef INIREG_PROFILE_PROFILE_CACHE_H_
#define INIREG_PROFILE_PROFILE_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "profile/profile_records.h"

namespace inireg {

// The cache holds at most this many files; adding one more evicts the file
// added earliest.
constexpr size_t kProfileCacheCapacity = 5;

// The cached record of `path`, loaded on first use; null for an empty path.
ProfileFile* ProfileOpen(const char* path);

// Looks `key` up in `section` of the file at `path` as ProfileGetString does,
// for callers that hold the names with their lengths (none holds a NUL):
// sets `value` to the whole value, quoted where ProfileGetString quotes it.
// False, leaving `value` as it was, when the path or a name is empty, the
// path holds a NUL, or the section or key is missing.
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

// For the engine's own functions, which hold ProfileCacheMutex() (the lock a
// ProfileEngineLock takes) while they call these.

std::recursive_mutex& ProfileCacheMutex();

// ProfileOpen for a caller that holds the lock; `path` holds `length`
// characters and no NUL.  The overload without a length takes a terminated
// path or null.
ProfileFile* OpenProfileLocked(const char* path, size_t length);
ProfileFile* OpenProfileLocked(const char* path);

// The cached record of `path`, loaded or not, or null; never loads one.
ProfileFile* FindCachedProfile(const char* path, size_t length);

// Caches `file`, making room first: the records added earliest leave the
// cache, each written back first if it changed.
void AddToCache(std::unique_ptr<ProfileFile> file);

// Drops the record of the terminated `path` from the cache, written back
// first when `writeBack` is set.  False, the record staying cached with its
// changes, when that write-back failed; true when there was no record.
bool EvictCachedProfile(const char* path, bool writeBack);

// Where the last ProfileSectionNameAt stopped, so that listing all names
// takes one pass rather than one pass per name.  It points into a cached
// record, so it is forgotten whenever a record leaves the cache or is
// loaded, and on every change of a file's sections.
struct SectionCursor {
  const ProfileFile* file = nullptr;  // Null: nothing remembered.
  size_t sectionCount = 0;            // The list's size then.
  int32_t index = 0;
  ProfileSectionList::iterator position;
};
SectionCursor& CachedSectionCursor();
void ForgetSectionCursor();

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_CACHE_H_
