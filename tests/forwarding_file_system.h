// A file system that passes every call on to another one: the base of file
// systems that break or watch a few calls (tests' fault injection, fuzzers)
// and override only those, so that a method added to FileSystem reaches the
// wrapped file system without each of them forwarding it by hand.
#ifndef INIREG_TESTS_FORWARDING_FILE_SYSTEM_H_
#define INIREG_TESTS_FORWARDING_FILE_SYSTEM_H_

#include <memory>
#include <string>

#include "platform/file_system.h"

namespace inireg {
namespace test_support {

class ForwardingFileSystem : public FileSystem {
 public:
  // `target` is not owned and must outlive this file system; null forwards
  // to the platform's default file system.
  explicit ForwardingFileSystem(FileSystem* target = nullptr)
      : target_(target != nullptr ? target : DefaultFileSystem()) {}

  FileSystem* target() const { return target_; }

  bool Exists(const std::string& path) override { return target_->Exists(path); }
  std::unique_ptr<File> OpenForReading(const std::string& path) override {
    return target_->OpenForReading(path);
  }
  std::unique_ptr<File> OpenForWriting(const std::string& path) override {
    return target_->OpenForWriting(path);
  }
  std::unique_ptr<File> CreateTemporaryBeside(const std::string& path,
                                              std::string* temporaryPath) override {
    return target_->CreateTemporaryBeside(path, temporaryPath);
  }
  bool Replace(const std::string& source, const std::string& target) override {
    return target_->Replace(source, target);
  }
  bool MayReplace(const std::string& target) override { return target_->MayReplace(target); }
  void Remove(const std::string& path) override { target_->Remove(path); }
  std::string ResolveLinks(const std::string& path) override { return target_->ResolveLinks(path); }
  void Sleep(unsigned milliseconds) override { target_->Sleep(milliseconds); }
  std::unique_ptr<FileLock> LockForWriteBack(const std::string& path,
                                             unsigned timeoutMilliseconds) override {
    return target_->LockForWriteBack(path, timeoutMilliseconds);
  }
  bool Identify(const std::string& path, FileIdentity* identity) override {
    return target_->Identify(path, identity);
  }

 private:
  FileSystem* target_;
};

}  // namespace test_support
}  // namespace inireg

#endif  // INIREG_TESTS_FORWARDING_FILE_SYSTEM_H_
