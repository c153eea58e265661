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
#include <sys/file.h>
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

  std::unique_ptr<FileLock> LockForWriteBack(const std::string& path,
                                             unsigned timeoutMilliseconds) override {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    unsigned pause = 1;
    for (;;) {
      bool busy = false;
      std::unique_ptr<FileLock> lock = TryWriteBackLock(path, &busy);
      if (lock) return lock;
      if (!busy || std::chrono::steady_clock::now() >= deadline) return nullptr;
      Sleep(pause);
      if (pause < 16) pause *= 2;
    }
  }

  bool Identify(const std::string& path, FileIdentity* identity) override {
    *identity = FileIdentity();
#ifdef _WIN32
    HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) return false;
    identity->exists = true;
    identity->device = info.dwVolumeSerialNumber;
    identity->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identity->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    // FILETIME counts 100 ns from 1601; the engine compares with Unix time.
    int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                         info.ftLastWriteTime.dwLowDateTime);
    identity->modifiedNs = (ticks - 116444736000000000LL) * 100;
    return true;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return errno == ENOENT || errno == ENOTDIR;
    identity->exists = true;
    identity->device = static_cast<uint64_t>(info.st_dev);
    identity->inode = static_cast<uint64_t>(info.st_ino);
    identity->size = static_cast<uint64_t>(info.st_size);
    identity->modifiedNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    identity->changedNs = static_cast<int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    return true;
#endif
  }

 private:
  // One try at the write-back lock of `path`.  Null with `busy` set when
  // another holder has it (or the file was replaced under us: try again).
  static std::unique_ptr<FileLock> TryWriteBackLock(const std::string& path, bool* busy);
};

#ifdef _WIN32

// A lock file beside the target, opened without sharing and deleted by the
// system when its handle closes (also when the process dies).  Its name is
// short, so that it can be made beside a file of any name length.
class LockFile : public FileLock {
 public:
  explicit LockFile(HANDLE handle) : handle_(handle) {}
  ~LockFile() override { CloseHandle(handle_); }

 private:
  HANDLE handle_;
};

std::unique_ptr<FileLock> SystemFileSystem::TryWriteBackLock(const std::string& path, bool* busy) {
  *busy = false;
  std::string folder = FolderOf(path);
  // Names compare without case on Windows: hash the upper-cased name.
  uint32_t hash = 2166136261u;
  for (size_t i = folder.size(); i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    hash = (hash ^ c) * 16777619u;
  }
  char name[40];
  std::snprintf(name, sizeof name, "~%08x.inireg-lock", static_cast<unsigned>(hash));
  std::string lockPath = folder + name;
  HANDLE handle = CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                              nullptr);
  if (handle != INVALID_HANDLE_VALUE) return std::make_unique<LockFile>(handle);
  DWORD error = GetLastError();
  // Held by another, or being deleted by its last holder.
  *busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
  return nullptr;
}

#else

// flock on an open descriptor: of the file itself, or of its folder while
// the file does not exist.  flock belongs to the open file description, so
// other descriptors of the file that the write-back opens and closes do not
// release it (fcntl locks would be); closing this one does.
class DescriptorLock : public FileLock {
 public:
  explicit DescriptorLock(int fd) : fd_(fd) {}
  ~DescriptorLock() override { close(fd_); }

 private:
  int fd_;
};

std::unique_ptr<FileLock> SystemFileSystem::TryWriteBackLock(const std::string& path, bool* busy) {
  *busy = false;
  // Non-blocking opens, so that a FIFO at the path cannot hang the lock.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  bool absent = fd < 0 && errno == ENOENT;
  bool onFolder = fd < 0;
  if (onFolder) {
    // Nothing to lock at the path: writers that create the file meet at
    // its folder instead.
    std::string folder = FolderOf(path);
    fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *busy = errno == EWOULDBLOCK || errno == EINTR;
    close(fd);
    return nullptr;
  }
  // The path may have been given another file (a write-back renamed its
  // new file over it) or created while we waited: the lock then guards the
  // wrong thing, and the caller tries again.
  struct stat named;
  bool exists = stat(path.c_str(), &named) == 0;
  bool current;
  if (!onFolder) {
    struct stat held;
    current = exists && fstat(fd, &held) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
  } else {
    current = !absent || !exists;
  }
  if (current) return std::make_unique<DescriptorLock>(fd);
  close(fd);
  *busy = true;
  return nullptr;
}

#endif

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
