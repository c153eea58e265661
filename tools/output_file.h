// Files the inireg command writes whole (exports): the new contents go to a
// temporary file beside the target, created with mode 0600 under an
// unpredictable name, flushed to disk and then moved into place, so that a
// reader or a failure half way never sees a partial file, and the previous
// file stays intact until the new one is complete.
#ifndef INIREG_TOOLS_OUTPUT_FILE_H_
#define INIREG_TOOLS_OUTPUT_FILE_H_

#include <string>

namespace inireg::tool {

enum class WriteOutcome { kWritten, kExists, kFailed };

// Writes `content` to `path`.  Without `replace`, an existing file (or link)
// at `path` is left alone and kExists is answered; the check and the move are
// one step where the system allows it.  The new file gets the mode an
// ordinary new file would get (0666 less the umask) or, when it replaces a
// file, that file's permission bits.  On kFailed, `error` says why and no
// temporary file is left behind.
WriteOutcome WriteWholeFile(const std::string& path, const std::string& content, bool replace,
                            std::string* error);

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_OUTPUT_FILE_H_
