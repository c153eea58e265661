// Opening and replacing a profile file is retried for a while: another
// program (an editor, a virus scanner, a second writer) may hold the file
// for a moment.  The pauses between tries come from a generator of the
// library's own, so that the client's srand/rand sequence is neither
// reseeded nor consumed.
#ifndef INIREG_PROFILE_FILE_RETRY_H_
#define INIREG_PROFILE_FILE_RETRY_H_

#include <memory>
#include <random>
#include <string>

#include "platform/file_system.h"

namespace inireg {

// How many times an open or a replacement is tried before it fails.
constexpr int kOpenTries = 10;

// The pauses between tries: 30 to 279 ms each.
class RetryPauses {
 public:
  RetryPauses();
  unsigned Next() { return 30 + static_cast<unsigned>(generator_() % 250); }

 private:
  std::minstd_rand generator_;
};

// Opens `path` for reading (fails at once when it does not exist) or for
// writing, with up to kOpenTries tries and a pause after each failed one.
// `absent`, when given, tells whether a read failed because the file did not
// exist when looked for: another process may create it a moment later, and
// the file was absent all the same at the moment that counts.
enum class OpenMode { kRead, kWrite };
std::unique_ptr<File> OpenFileRetry(const std::string& path, OpenMode mode, bool* absent = nullptr);

}  // namespace inireg

#endif  // INIREG_PROFILE_FILE_RETRY_H_
