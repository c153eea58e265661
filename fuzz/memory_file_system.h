// A file system held in memory, for the fuzz harnesses: loads and write-backs
// go through the same seam as on disk, without the cost of real files, so
// that each input runs thousands of times a second.
#ifndef INIREG_FUZZ_MEMORY_FILE_SYSTEM_H_
#define INIREG_FUZZ_MEMORY_FILE_SYSTEM_H_

#include <map>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "platform/file_system.h"

namespace inireg {
namespace fuzz {

class MemoryFileSystem : public FileSystem {
 public:
  std::map<std::string, std::string> files;

  bool Exists(const std::string& path) override;
  std::unique_ptr<File> OpenForReading(const std::string& path) override;
  std::unique_ptr<File> OpenForWriting(const std::string& path) override;
  std::unique_ptr<File> CreateTemporaryBeside(const std::string& path,
                                              std::string* temporaryPath) override;
  bool Replace(const std::string& source, const std::string& target) override;
  void Remove(const std::string& path) override;
  std::string ResolveLinks(const std::string& path) override { return path; }
  void Sleep(unsigned) override {}
  // One process: the lock is always free.
  std::unique_ptr<FileLock> LockForWriteBack(const std::string&, unsigned) override {
    return std::make_unique<FileLock>();
  }
  // A file's identity is its size and a hash of its contents, so that any
  // change to `files` shows, however it was made.
  bool Identify(const std::string& path, FileIdentity* identity) override;

 private:
  unsigned temporaryCount_ = 0;
};

// Installs one MemoryFileSystem for the whole fuzzing process and returns it.
MemoryFileSystem& InstallMemoryFileSystem();

}  // namespace fuzz
}  // namespace inireg

#endif  // INIREG_FUZZ_MEMORY_FILE_SYSTEM_H_
