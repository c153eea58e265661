// Writing a profile file's records back as a whole file: the text they
// render to and the replacement of the file on disk, which leaves the file
// either as it was or holding the new text.  No lock and no merge here: the
// engine's write-back (profile_write_back.h) adds those.
#ifndef INIREG_PROFILE_PROFILE_WRITER_H_
#define INIREG_PROFILE_PROFILE_WRITER_H_

#include <string>

#include "profile/profile_records.h"

namespace inireg {

// The line end the writers put where the file gives none: the platform's.
#ifdef _WIN32
constexpr char kProfileLineEnd[] = "\r\n";
#else
constexpr char kProfileLineEnd[] = "\n";
#endif

// The text the file is written back as.
std::string RenderProfileFile(const ProfileFile& file);

// Replaces the file `target` (no link) with `contents`: atomically through
// a temporary file beside it, or in place when no file can be made in its
// folder.  On failure the file stays as it was (but for the in-place
// fallback) and `reason` says what failed.
bool ReplaceFileContents(const std::string& target, const std::string& contents,
                         std::string* reason);

// Writes the record back to its file, whole, as it is: no lock, no merge.
// Returns 1 when written, 0 when the file could not be replaced (after
// printing "COULDN'T OPEN FILE"), leaving the file on disk as it was.
int ProfileSave(const ProfileFile& file);

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_WRITER_H_
