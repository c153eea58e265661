// The real file system, split between what every platform shares
// (file_system.cpp) and what each does its own way (file_system_posix.cpp or
// file_system_windows.cpp; the build compiles the one for its platform).
//
// The shared part: pauses, waiting for the write-back lock around the
// platform's single try, and finding a free temporary name.  The platform
// part: opening, replacing, identifying and locking files.
#ifndef INIREG_PLATFORM_SYSTEM_FILE_SYSTEM_H_
#define INIREG_PLATFORM_SYSTEM_FILE_SYSTEM_H_

#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/temporary_files.h"

namespace inireg {

// The characters that end a folder name in a path on this platform.
extern const char kFolderSeparators[];

// The folder of `path` with its final separator, or empty for a bare name.
std::string FolderOf(const std::string& path);

class SystemFileSystem : public FileSystem {
 public:
  void Sleep(unsigned milliseconds) override;
  // Tries with growing pauses until the lock is had, the platform answers
  // that it is not merely busy, or the time is up.
  std::unique_ptr<FileLock> LockForWriteBack(const std::string& path,
                                             unsigned timeoutMilliseconds) override;

 protected:
  // One try at the write-back lock of `path`.  Null with `busy` set when
  // another holder has it (or the file was replaced under us: try again).
  virtual std::unique_ptr<FileLock> TryWriteBackLock(const std::string& path, bool* busy) = 0;

  // Calls `create(name, &nameTaken)` with fresh temporary names in `folder`
  // until it gives a file, which is returned with its name in
  // `temporaryPath`.  Null when it fails for another reason than the name
  // being taken, when no name can be made, or after enough taken names.
  template <typename Create>
  static std::unique_ptr<File> CreateUnderFreshName(const std::string& folder,
                                                    std::string* temporaryPath, Create create) {
    // Enough tries to step over a name another writer took a moment ago;
    // names are random, so only someone who sees them first can collide.
    constexpr int kTemporaryNameTries = 64;
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
      std::string name;
      if (!MakeTemporaryName(folder, &name)) return nullptr;
      bool nameTaken = false;
      std::unique_ptr<File> file = create(name, &nameTaken);
      if (file) {
        *temporaryPath = name;
        return file;
      }
      if (!nameTaken) return nullptr;
    }
    return nullptr;
  }
};

// The platform's file system, made once for the process.
SystemFileSystem* MakeSystemFileSystem();

}  // namespace inireg

#endif  // INIREG_PLATFORM_SYSTEM_FILE_SYSTEM_H_
