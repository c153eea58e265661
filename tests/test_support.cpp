#include "test_support.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "inireg/profile_engine.h"
#include "profile/profile_cache.h"

namespace inireg {
namespace test_support {

namespace fs = std::filesystem;

#ifdef _WIN32
const char* const kNewline = "\r\n";
#else
const char* const kNewline = "\n";
#endif

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device seed;
  for (;;) {
    fs::path candidate = fs::temp_directory_path() / ("inireg-test-" + std::to_string(seed()) +
                                                      "-" + std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(path_, error);
}

std::string TempDir::File(const std::string& name) const {
  return (fs::path(path_) / name).string();
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) {
    text += line;
    text += kNewline;
  }
  return text;
}

void ResetProfileCache() {
  for (const std::string& path : ProfileCachedPaths()) ProfileClose(path.c_str());
  // What could not be written back is dropped: the next test starts clean.
  for (const std::string& path : ProfileCachedPaths()) ProfileDiscard(path.c_str());
}

namespace {

// Counts bytes per file and fails writes past a limit after writing what fits.
class LimitedFile : public File {
 public:
  LimitedFile(std::unique_ptr<File> inner, FaultyFileSystem* owner)
      : inner_(std::move(inner)), owner_(owner) {}
  size_t Read(void* buffer, size_t size) override {
    if (owner_->failReads) {
      failed_ = true;
      return 0;
    }
    return inner_->Read(buffer, size);
  }
  bool Write(const void* data, size_t size) override {
    long limit = owner_->writeLimit;
    if (limit >= 0 && written_ + static_cast<long>(size) > limit) {
      size_t fits = static_cast<size_t>(limit - written_);
      inner_->Write(data, fits);
      written_ = limit;
      return false;
    }
    written_ += static_cast<long>(size);
    return inner_->Write(data, size);
  }
  bool Sync() override { return !owner_->failSync && inner_->Sync(); }
  bool Close() override { return inner_->Close(); }
  bool Failed() const override { return failed_ || inner_->Failed(); }

 private:
  std::unique_ptr<File> inner_;
  FaultyFileSystem* owner_;
  long written_ = 0;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<File> FaultyFileSystem::Wrap(std::unique_ptr<File> file) {
  if (!file) return nullptr;
  return std::make_unique<LimitedFile>(std::move(file), this);
}

std::unique_ptr<File> FaultyFileSystem::OpenForReading(const std::string& path) {
  ++readOpens;
  if (failOpenForReading) return nullptr;
  return Wrap(ForwardingFileSystem::OpenForReading(path));
}

std::unique_ptr<File> FaultyFileSystem::OpenForWriting(const std::string& path) {
  ++writeOpens;
  if (failOpenForWriting) return nullptr;
  return Wrap(ForwardingFileSystem::OpenForWriting(path));
}

std::unique_ptr<File> FaultyFileSystem::CreateTemporaryBeside(const std::string& path,
                                                              std::string* temporaryPath) {
  if (failTemporary) return nullptr;
  return Wrap(ForwardingFileSystem::CreateTemporaryBeside(path, temporaryPath));
}

bool FaultyFileSystem::Replace(const std::string& source, const std::string& target) {
  if (failReplace) return false;
  return ForwardingFileSystem::Replace(source, target);
}

void FaultyFileSystem::Sleep(unsigned) { ++pauses; }

std::unique_ptr<FileLock> FaultyFileSystem::LockForWriteBack(const std::string& path,
                                                             unsigned timeoutMilliseconds) {
  if (failLock) return nullptr;
  return ForwardingFileSystem::LockForWriteBack(path, timeoutMilliseconds);
}

bool FaultyFileSystem::Identify(const std::string& path, FileIdentity* identity) {
  ++identifies;
  bool known = ForwardingFileSystem::Identify(path, identity);
  long long time = reportedTimeNs;
  if (known && identity->exists && time != 0) identity->modifiedNs = identity->changedNs = time;
  return known;
}

}  // namespace test_support
}  // namespace inireg
