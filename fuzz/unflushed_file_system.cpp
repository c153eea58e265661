#include "unflushed_file_system.h"

#include <cstdio>

namespace inireg {
namespace fuzz {

namespace {

class UnflushedFile : public File {
 public:
  explicit UnflushedFile(std::unique_ptr<File> inner) : inner_(std::move(inner)) {}
  size_t Read(void* buffer, size_t size) override { return inner_->Read(buffer, size); }
  bool Write(const void* data, size_t size) override { return inner_->Write(data, size); }
  bool Sync() override { return true; }
  bool Close() override { return inner_->Close(); }
  bool Failed() const override { return inner_->Failed(); }

 private:
  std::unique_ptr<File> inner_;
};

std::unique_ptr<File> Unflushed(std::unique_ptr<File> file) {
  if (!file) return nullptr;
  return std::make_unique<UnflushedFile>(std::move(file));
}

}  // namespace

std::unique_ptr<File> UnflushedFileSystem::OpenForWriting(const std::string& path) {
  return Unflushed(real_->OpenForWriting(path));
}

std::unique_ptr<File> UnflushedFileSystem::CreateTemporaryBeside(const std::string& path,
                                                                 std::string* temporaryPath) {
  return Unflushed(real_->CreateTemporaryBeside(path, temporaryPath));
}

bool UnflushedFileSystem::Replace(const std::string& source, const std::string& target) {
  return std::rename(source.c_str(), target.c_str()) == 0;
}

}  // namespace fuzz
}  // namespace inireg
