#include "platform/file_system.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace inireg {

namespace {

// A File over a C stream, which it owns.
class StdioFile : public File {
 public:
  explicit StdioFile(std::FILE* stream) : stream_(stream) {}
  ~StdioFile() override {
    if (stream_ != nullptr) std::fclose(stream_);
  }

  size_t Read(void* buffer, size_t size) override {
    size_t got = std::fread(buffer, 1, size, stream_);
    if (got < size && std::ferror(stream_)) failed_ = true;
    return got;
  }

  bool Write(const void* data, size_t size) override {
    return std::fwrite(data, 1, size, stream_) == size;
  }

  bool Sync() override {
    if (std::fflush(stream_) != 0) return false;
#ifdef _WIN32
    return _commit(_fileno(stream_)) == 0;
#else
    return fsync(fileno(stream_)) == 0;
#endif
  }

  bool Close() override {
    std::FILE* stream = stream_;
    stream_ = nullptr;
    return std::fclose(stream) == 0;
  }

  bool Failed() const override { return failed_; }

 private:
  std::FILE* stream_;
  bool failed_ = false;
};

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of(
#ifdef _WIN32
      "\\/:"
#else
      "/"
#endif
  );
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Names for temporary files: unique within the process by a counter, across
// processes by the process id.
std::string TemporaryName(const std::string& path, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
#ifdef _WIN32
  unsigned long pid = GetCurrentProcessId();
#else
  unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".inireg-%lu-%u-%u.tmp", pid, counter++, attempt);
  std::string base = path.substr(FolderOf(path).size());
  return FolderOf(path) + "." + base + suffix;
}

class SystemFileSystem : public FileSystem {
 public:
  bool Exists(const std::string& path) override {
#ifdef _WIN32
    return _access(path.c_str(), 0) == 0;
#else
    return access(path.c_str(), F_OK) == 0;
#endif
  }

  std::unique_ptr<File> OpenForReading(const std::string& path) override {
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) return nullptr;
    return std::make_unique<StdioFile>(stream);
  }

  std::unique_ptr<File> OpenForWriting(const std::string& path) override {
    std::FILE* stream = std::fopen(path.c_str(), "wb+");
    if (stream == nullptr) return nullptr;
    return std::make_unique<StdioFile>(stream);
  }

  std::unique_ptr<File> CreateTemporaryBeside(const std::string& path,
                                              std::string* temporaryPath) override {
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
      std::string name = TemporaryName(path, attempt);
#ifdef _WIN32
      int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return nullptr;
      }
      std::FILE* stream = _fdopen(fd, "wb");
      if (stream == nullptr) {
        _close(fd);
        _unlink(name.c_str());
        return nullptr;
      }
#else
      // 0666 less the umask, as a new file made by fopen would get; an existing
      // file's own permission bits and owner are copied below.
      int fd = open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return nullptr;
      }
      struct stat original;
      if (stat(path.c_str(), &original) == 0) {
        if (fchown(fd, original.st_uid, original.st_gid) != 0) {
          // Not permitted for other users' files: the new file stays ours.
        }
        fchmod(fd, original.st_mode & 07777);
      }
      std::FILE* stream = fdopen(fd, "wb");
      if (stream == nullptr) {
        close(fd);
        unlink(name.c_str());
        return nullptr;
      }
#endif
      *temporaryPath = name;
      return std::make_unique<StdioFile>(stream);
    }
    return nullptr;
  }

  bool Replace(const std::string& source, const std::string& target) override {
#ifdef _WIN32
    return MoveFileExA(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    if (std::rename(source.c_str(), target.c_str()) != 0) return false;
    // Make the rename itself durable: sync the folder that holds the entry.
    std::string folder = FolderOf(target);
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      fsync(fd);
      close(fd);
    }
    return true;
#endif
  }

  void Remove(const std::string& path) override { std::remove(path.c_str()); }

  std::string ResolveLinks(const std::string& path) override {
#ifdef _WIN32
    return path;
#else
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) return resolved;
    // A dangling link: write to the place it names, relative to the link's
    // folder when the name is relative.
    char target[PATH_MAX];
    ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length <= 0) return path;
    target[length] = '\0';
    if (target[0] == '/') return target;
    return FolderOf(path) + target;
#endif
  }

  void Sleep(unsigned milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

std::atomic<FileSystem*> currentFileSystem{nullptr};

}  // namespace

FileSystem* DefaultFileSystem() {
  // Never destroyed, so that write-backs at process exit still have it.
  static FileSystem* const instance = new SystemFileSystem;
  return instance;
}

FileSystem* CurrentFileSystem() {
  FileSystem* fileSystem = currentFileSystem.load(std::memory_order_acquire);
  return fileSystem != nullptr ? fileSystem : DefaultFileSystem();
}

void SetFileSystemForTesting(FileSystem* fileSystem) {
  currentFileSystem.store(fileSystem, std::memory_order_release);
}

}  // namespace inireg
