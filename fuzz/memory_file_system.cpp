#include "memory_file_system.h"

#include <functional>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace inireg {
namespace fuzz {

namespace {

class MemoryFile : public File {
 public:
  // Reading: a copy of the contents.  Writing: appends to the named file.
  MemoryFile(std::string contents) : contents_(std::move(contents)) {}
  MemoryFile(MemoryFileSystem* owner, std::string path) : owner_(owner), path_(std::move(path)) {}

  size_t Read(void* buffer, size_t size) override {
    size_t left = contents_.size() - position_;
    size_t take = size < left ? size : left;
    std::memcpy(buffer, contents_.data() + position_, take);
    position_ += take;
    return take;
  }
  bool Write(const void* data, size_t size) override {
    auto it = owner_->files.find(path_);
    if (it == owner_->files.end()) return false;
    it->second.append(static_cast<const char*>(data), size);
    return true;
  }
  bool Sync() override { return true; }
  bool Close() override { return true; }
  bool Failed() const override { return false; }

 private:
  std::string contents_;
  size_t position_ = 0;
  MemoryFileSystem* owner_ = nullptr;
  std::string path_;
};

}  // namespace

bool MemoryFileSystem::Exists(const std::string& path) { return files.count(path) != 0; }

std::unique_ptr<File> MemoryFileSystem::OpenForReading(const std::string& path) {
  auto it = files.find(path);
  if (it == files.end()) return nullptr;
  return std::make_unique<MemoryFile>(it->second);
}

std::unique_ptr<File> MemoryFileSystem::OpenForWriting(const std::string& path) {
  files[path].clear();
  return std::make_unique<MemoryFile>(this, path);
}

std::unique_ptr<File> MemoryFileSystem::CreateTemporaryBeside(const std::string& path,
                                                              std::string* temporaryPath) {
  *temporaryPath = path + ".tmp" + std::to_string(temporaryCount_++);
  files[*temporaryPath].clear();
  return std::make_unique<MemoryFile>(this, *temporaryPath);
}

bool MemoryFileSystem::Replace(const std::string& source, const std::string& target) {
  auto it = files.find(source);
  if (it == files.end()) return false;
  std::string contents = std::move(it->second);
  files.erase(it);
  files[target] = std::move(contents);
  return true;
}

void MemoryFileSystem::Remove(const std::string& path) { files.erase(path); }

bool MemoryFileSystem::Identify(const std::string& path, FileIdentity* identity) {
  *identity = FileIdentity();
  auto it = files.find(path);
  if (it == files.end()) return true;
  identity->exists = true;
  identity->size = it->second.size();
  identity->inode = std::hash<std::string>()(it->second);
  return true;
}

MemoryFileSystem& InstallMemoryFileSystem() {
  static MemoryFileSystem* const fileSystem = [] {
    auto* created = new MemoryFileSystem;
    SetFileSystemForTesting(created);
    return created;
  }();
  return *fileSystem;
}

}  // namespace fuzz
}  // namespace inireg
