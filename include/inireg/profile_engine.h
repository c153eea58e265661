// The profile engine: reads and writes settings in sectioned text files
// ("INI files") through a process-wide cache of parsed files.
//
// Each function names its file by its whole path.  On Windows paths compare
// without regard to case, as its file names do; elsewhere exactly.  The
// first use of a path loads the file into the cache, which holds five files:
// adding a sixth evicts the one added earliest, writing it back first if it
// changed.  Reads are answered from memory; writes change the cached copy and
// reach the disk when the file leaves the cache (eviction, ProfileClose), at
// ProfileSync, or when the process exits normally.
//
// A write-back is safe among processes: it holds the file's write-back lock,
// and if the file changed on disk since it was loaded it reads it again and
// replays this process's changes onto it, so that others' changes stay; where
// both changed the same entry, the later write-back wins.  It replaces the
// file atomically: the old contents stay intact if it fails, and the changes
// stay cached (the record stays beyond the cache's five) for the next try.
//
// Names of sections and keys compare without regard to case and the first
// match in file order wins.  Writes trim section names and keys; reads look
// them up as given.  Writes that the file format could not carry back (a key
// holding "=" or a line break, a value holding a line break, ...) are refused
// with 0 and change nothing.
//
// All functions are thread-safe: one lock guards the cache.  A caller that
// makes several calls on one ProfileSection holds a ProfileEngineLock across
// them, so that no other thread can evict the file in between.
#ifndef INIREG_PROFILE_ENGINE_H_
#define INIREG_PROFILE_ENGINE_H_

#include <cstdint>

#include "inireg/export.h"
#include "inireg/status.h"

namespace inireg {

struct ProfileSection;

// Copies the text for `section` and `key` of the file `path` into `buffer`
// (at most size - 1 characters and a terminator) and returns the number of
// characters copied; with size 0 nothing is copied and the result is the
// text's length.  The text is the entry's value (quoted values with their
// quotes when the file's quote option is on), or `defaultText` when the
// section or entry does not exist.  A null or empty section lists all section
// names instead, a null or empty key the section's keys: each name followed by
// a NUL, the list ending with a second NUL when there is room.
INIREG_EXPORT uint32_t ProfileGetString(const char* section, const char* key,
                                        const char* defaultText, char* buffer, uint32_t size,
                                        const char* path);

// The entry's value read as an unsigned decimal (ProfileGetInt) or
// hexadecimal (ProfileGetHex, "0x" allowed) number, taken as a signed 32-bit
// integer, or `defaultValue` when there is no such entry.
INIREG_EXPORT int32_t ProfileGetInt(const char* section, const char* key, int32_t defaultValue,
                                    const char* path);
INIREG_EXPORT int32_t ProfileGetHex(const char* section, const char* key, int32_t defaultValue,
                                    const char* path);

// Sets the entry, creating section and entry as needed; a null or empty key
// deletes the first section of that name.  Returns 1 on success, 0 when the
// write is refused.
INIREG_EXPORT int32_t ProfileWriteString(const char* section, const char* key, const char* value,
                                         const char* path);

// The length of the name of the section at `index` (0 first), or 0 past the
// end.  When a buffer is given, min(size, length) characters of the name are
// copied into it without a terminator.
INIREG_EXPORT int32_t ProfileSectionNameAt(int32_t index, char* buffer, int32_t size,
                                           const char* path);

// The first section of that name (untrimmed), or null.  The pointer stays
// valid only while the file stays cached: hold a ProfileEngineLock.
INIREG_EXPORT ProfileSection* ProfileFindSection(const char* name, const char* path);

// As ProfileSectionNameAt, over the keys of a section from ProfileFindSection.
INIREG_EXPORT int32_t ProfileKeyNameAt(int32_t index, char* buffer, int32_t size,
                                       const ProfileSection* section);

// Writes the file back if it changed and drops it from the cache.  A file
// whose write-back fails stays cached with its changes.
INIREG_EXPORT void ProfileClose(const char* path);

// Writes pending changes of the file back now (merging with what others
// wrote), or, without pending changes, loads the file again if it changed on
// disk.  Success means the file on disk holds every change made through the
// engine and the cache holds the file as it is on disk; a failure says why.
INIREG_EXPORT Status ProfileSync(const char* path);

// Deletes the first entry `key` (trimmed) of the first section `section`
// (trimmed).  Returns 1 on success, also when there was no such entry (as a
// section deletion does; the file is then not rewritten), 0 when refused: an
// empty section or key, or a file that exists but cannot be read.
INIREG_EXPORT int32_t ProfileDeleteEntry(const char* section, const char* key, const char* path);

// Turns the layout-keeping write-back on or off for the file (loading it if
// needed).  With it on, a write-back changes only the lines of the entries
// and sections that were changed and keeps every other byte of the file:
// comments, blank lines, spacing, line ends, a byte-order mark.  Off by
// default: the file is rewritten whole from what the reader kept.  The mode
// belongs to the cached record and is off again after it is evicted.
INIREG_EXPORT void ProfileSetKeepLayout(const char* path, bool keepLayout);

// Adds an empty record for `path` that is loaded at its next use; nothing
// when a record of the path is still cached (it holds changes that could not
// be written back).
INIREG_EXPORT void ProfileAddUnloaded(const char* path);

// Sets both options of the cached record of `path` to `value`: joining lines
// that end in a backslash (from the next load on) and returning quoted values
// with their quotes (at once).
INIREG_EXPORT void ProfileSetFlags(const char* path, int32_t value);

// Holds the engine's lock for its lifetime.  The lock is recursive, so the
// engine's functions may be called while it is held.
class INIREG_EXPORT ProfileEngineLock {
 public:
  ProfileEngineLock();
  ~ProfileEngineLock();
  ProfileEngineLock(const ProfileEngineLock&) = delete;
  ProfileEngineLock& operator=(const ProfileEngineLock&) = delete;
};

}  // namespace inireg

#endif  // INIREG_PROFILE_ENGINE_H_
