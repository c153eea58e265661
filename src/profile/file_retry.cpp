#include "profile/file_retry.h"

#include <ctime>

namespace inireg {

RetryPauses::RetryPauses()
    : generator_(static_cast<std::minstd_rand::result_type>(std::time(nullptr))) {}

std::unique_ptr<File> OpenFileRetry(const std::string& path, OpenMode mode, bool* absent) {
  FileSystem* fileSystem = CurrentFileSystem();
  bool missing = mode == OpenMode::kRead && !fileSystem->Exists(path);
  if (absent != nullptr) *absent = missing;
  if (missing) return nullptr;
  RetryPauses pauses;
  for (int attempt = 0; attempt < kOpenTries; ++attempt) {
    std::unique_ptr<File> file = mode == OpenMode::kRead ? fileSystem->OpenForReading(path)
                                                         : fileSystem->OpenForWriting(path);
    if (file) return file;
    fileSystem->Sleep(pauses.Next());
  }
  return nullptr;
}

}  // namespace inireg
