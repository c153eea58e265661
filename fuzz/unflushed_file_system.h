// The real file system without its flushes, for the share of fuzz inputs
// that go through real files: every call reaches the system's own code
// (opening, temporary files beside the target, locks, identities), except
// that nothing waits for the disk.  A flush there costs some 16 ms, many
// times what the rest of an input costs, and no oracle can see it.
#ifndef INIREG_FUZZ_UNFLUSHED_FILE_SYSTEM_H_
#define INIREG_FUZZ_UNFLUSHED_FILE_SYSTEM_H_

#include <memory>
#include <string>

#include "platform/file_system.h"

namespace inireg {
namespace fuzz {

class UnflushedFileSystem : public FileSystem {
 public:
  bool Exists(const std::string& path) override { return real_->Exists(path); }
  std::unique_ptr<File> OpenForReading(const std::string& path) override {
    return real_->OpenForReading(path);
  }
  // Files opened for writing skip Sync (and with it, for a temporary file,
  // taking over the target's permissions: it stays private).
  std::unique_ptr<File> OpenForWriting(const std::string& path) override;
  std::unique_ptr<File> CreateTemporaryBeside(const std::string& path,
                                              std::string* temporaryPath) override;
  // A plain rename: the system's Replace renames and then flushes the folder.
  bool Replace(const std::string& source, const std::string& target) override;
  bool MayReplace(const std::string& target) override { return real_->MayReplace(target); }
  void Remove(const std::string& path) override { real_->Remove(path); }
  std::string ResolveLinks(const std::string& path) override { return real_->ResolveLinks(path); }
  // Retries go on at once: the harness's files fail for good or not at all.
  void Sleep(unsigned) override {}
  std::unique_ptr<FileLock> LockForWriteBack(const std::string& path,
                                             unsigned timeoutMilliseconds) override {
    return real_->LockForWriteBack(path, timeoutMilliseconds);
  }
  bool Identify(const std::string& path, FileIdentity* identity) override {
    return real_->Identify(path, identity);
  }

 private:
  FileSystem* real_ = DefaultFileSystem();
};

}  // namespace fuzz
}  // namespace inireg

#endif  // INIREG_FUZZ_UNFLUSHED_FILE_SYSTEM_H_
