#include "platform/file_system.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/link_resolution.h"
#include "platform/temporary_files.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace inireg {

namespace {

// Enough tries to step over a name another writer took a moment ago; names
// are random, so only someone who sees them first can collide.
constexpr int kTemporaryNameTries = 64;

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

// Calls `tryLock` with growing pauses until it gives a lock, answers that
// the lock is not merely busy, or the time is up.
template <typename TryLock>
std::unique_ptr<FileLock> LockWithin(unsigned timeoutMilliseconds, TryLock tryLock) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  unsigned pause = 1;
  for (;;) {
    bool busy = false;
    std::unique_ptr<FileLock> lock = tryLock(&busy);
    if (lock) return lock;
    if (!busy || std::chrono::steady_clock::now() >= deadline) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    if (pause < 16) pause *= 2;
  }
}

#ifdef _WIN32

// A File over a C stream, which it owns.  Reads stop after `readLimit` bytes.
class StdioFile : public File {
 public:
  StdioFile(std::FILE* stream, uint64_t readLimit) : stream_(stream), remaining_(readLimit) {}
  ~StdioFile() override {
    if (stream_ != nullptr) std::fclose(stream_);
  }

  size_t Read(void* buffer, size_t size) override {
    if (size > remaining_) size = static_cast<size_t>(remaining_);
    size_t got = std::fread(buffer, 1, size, stream_);
    if (got < size && std::ferror(stream_)) failed_ = true;
    remaining_ -= got;
    return got;
  }

  bool Write(const void* data, size_t size) override {
    return std::fwrite(data, 1, size, stream_) == size;
  }

  bool Sync() override { return std::fflush(stream_) == 0 && _commit(_fileno(stream_)) == 0; }

  bool Close() override {
    std::FILE* stream = stream_;
    stream_ = nullptr;
    return std::fclose(stream) == 0;
  }

  bool Failed() const override { return failed_; }

 private:
  std::FILE* stream_;
  uint64_t remaining_;
  bool failed_ = false;
};

// Devices (NUL, CON, COM1) open like files; only disk files are profiles.
bool IsDiskFile(std::FILE* stream) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK;
}

class SystemFileSystem : public FileSystem {
 public:
  bool Exists(const std::string& path) override { return _access(path.c_str(), 0) == 0; }

  std::unique_ptr<File> OpenForReading(const std::string& path) override {
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) return nullptr;
    __int64 length = _filelengthi64(_fileno(stream));
    if (!IsDiskFile(stream) || length < 0) {
      std::fclose(stream);
      return nullptr;
    }
    return std::make_unique<StdioFile>(stream, static_cast<uint64_t>(length));
  }

  std::unique_ptr<File> OpenForWriting(const std::string& path) override {
    std::FILE* stream = std::fopen(path.c_str(), "wb+");
    if (stream == nullptr) return nullptr;
    if (!IsDiskFile(stream)) {
      std::fclose(stream);
      return nullptr;
    }
    return std::make_unique<StdioFile>(stream, 0);
  }

  std::unique_ptr<File> CreateTemporaryBeside(const std::string& path,
                                              std::string* temporaryPath) override {
    const std::string folder = FolderOf(path);
    RemoveStaleTemporaryFiles(folder);
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
      std::string name;
      if (!MakeTemporaryName(folder, &name)) return nullptr;
      // The replace gives the final file the original's security descriptor.
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
      *temporaryPath = name;
      return std::make_unique<StdioFile>(stream, 0);
    }
    return nullptr;
  }

  bool Replace(const std::string& source, const std::string& target) override {
    // ReplaceFileA keeps the replaced file's ACL, attributes and streams;
    // MoveFileExA would give it the folder's inherited ACL.
    if (ReplaceFileA(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
      return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND || GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
      return false;
    }
    // No file to replace: a plain move, which fails if one appeared meanwhile.
    return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
  }

  bool MayReplace(const std::string& target) override {
    HANDLE handle = CreateFileA(target.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      // Held open by another program: a matter for the replace's retries.
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_SHARING_VIOLATION;
    }
    bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    return disk;
  }

  void Remove(const std::string& path) override { std::remove(path.c_str()); }

  std::string ResolveLinks(const std::string& path) override { return path; }

  void Sleep(unsigned milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  std::unique_ptr<FileLock> LockForWriteBack(const std::string& path,
                                             unsigned timeoutMilliseconds) override {
    return LockWithin(timeoutMilliseconds, [&path](bool* busy) { return TryWriteBackLock(path, busy); });
  }

  bool Identify(const std::string& path, FileIdentity* identity) override {
    *identity = FileIdentity();
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
  }

 private:
  // One try at the write-back lock of `path`.  Null with `busy` set when
  // another holder has it (or the file was replaced under us: try again).
  static std::unique_ptr<FileLock> TryWriteBackLock(const std::string& path, bool* busy);
};

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

#else  // POSIX

// A File over a descriptor, which it owns.  Reads stop after `readLimit`
// bytes, so a file that grows while it is read cannot hold the reader.
class DescriptorFile : public File {
 public:
  DescriptorFile(int fd, uint64_t readLimit) : fd_(fd), remaining_(readLimit) {}
  ~DescriptorFile() override {
    if (fd_ >= 0) close(fd_);
  }

  size_t Read(void* buffer, size_t size) override {
    if (size > remaining_) size = static_cast<size_t>(remaining_);
    size_t got = 0;
    while (got < size) {
      ssize_t result = read(fd_, static_cast<char*>(buffer) + got, size - got);
      if (result < 0 && errno == EINTR) continue;
      if (result < 0) failed_ = true;
      if (result <= 0) break;
      got += static_cast<size_t>(result);
    }
    remaining_ -= got;
    return got;
  }

  bool Write(const void* data, size_t size) override {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
      ssize_t result = write(fd_, bytes, size);
      if (result < 0 && errno == EINTR) continue;
      if (result <= 0) return false;
      bytes += result;
      size -= static_cast<size_t>(result);
    }
    return true;
  }

  bool Sync() override { return fsync(fd_) == 0; }

  bool Close() override {
    int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

  bool Failed() const override { return failed_; }

 protected:
  int fd() const { return fd_; }

 private:
  int fd_;
  uint64_t remaining_;
  bool failed_ = false;
};

// What a finished temporary file takes over from the file it replaces.
struct Attributes {
  bool replacesFile = false;  // False: a new file, mode from the umask.
  uid_t owner = 0;
  gid_t group = 0;
  mode_t mode = 0;
};

// A temporary file stays 0600 while it is written; Sync gives it its final
// attributes and then flushes it, so that it is whole before anyone else
// may read it.
class TemporaryFile : public DescriptorFile {
 public:
  TemporaryFile(int fd, const Attributes& attributes) : DescriptorFile(fd, 0), attributes_(attributes) {}

  bool Sync() override {
    mode_t mode = attributes_.mode;
    if (attributes_.replacesFile) {
      // Owner and group separately: a user may give a file any group of
      // their own, only root may give it another owner.
      bool ownerKept = attributes_.owner == geteuid() || fchown(fd(), attributes_.owner, -1) == 0;
      bool groupKept = fchown(fd(), static_cast<uid_t>(-1), attributes_.group) == 0;
      // The old group's rights must not pass to the caller's group, nor set-id
      // bits to a new owner or group.
      if (!groupKept) mode &= ~static_cast<mode_t>(S_IRWXG | S_ISGID);
      if (!ownerKept) mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    }
    if (fchmod(fd(), mode) != 0) return false;
    return DescriptorFile::Sync();
  }

 private:
  Attributes attributes_;
};

// The umask, read without changing it (umask() would race with other
// threads creating files) where /proc tells it.
mode_t CurrentUmask() {
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) {
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    }
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask);
  }
  mode_t mask = umask(022);
  umask(mask);
  return mask;
}

// Opens a regular file without following a link at its end and without
// blocking (a FIFO would wait for a writer); null for anything else.
int OpenRegular(const std::string& path, int flags, struct stat* info) {
  int fd = open(path.c_str(), flags | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  if (fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool Resolve(const std::string& path, std::string* resolved) {
  return ResolveProtectedLinks(path, resolved) == LinkResolution::kResolved;
}

class SystemFileSystem : public FileSystem {
 public:
  bool Exists(const std::string& path) override {
    std::string resolved;
    if (!Resolve(path, &resolved)) return true;
    struct stat info;
    return lstat(resolved.c_str(), &info) == 0;
  }

  std::unique_ptr<File> OpenForReading(const std::string& path) override {
    std::string resolved;
    if (!Resolve(path, &resolved)) return nullptr;
    struct stat info;
    int fd = OpenRegular(resolved, O_RDONLY, &info);
    if (fd < 0) return nullptr;
    return std::make_unique<DescriptorFile>(fd, static_cast<uint64_t>(info.st_size));
  }

  std::unique_ptr<File> OpenForWriting(const std::string& path) override {
    std::string resolved;
    if (!Resolve(path, &resolved)) return nullptr;
    // Emptied only once it is known to be a regular file.
    struct stat info;
    int fd = OpenRegular(resolved, O_WRONLY | O_CREAT, &info);
    if (fd < 0) return nullptr;
    if (ftruncate(fd, 0) != 0) {
      close(fd);
      return nullptr;
    }
    return std::make_unique<DescriptorFile>(fd, 0);
  }

  std::unique_ptr<File> CreateTemporaryBeside(const std::string& path,
                                              std::string* temporaryPath) override {
    const std::string folder = FolderOf(path);
    RemoveStaleTemporaryFiles(folder);
    Attributes attributes;
    struct stat original;
    if (stat(path.c_str(), &original) == 0) {
      attributes.replacesFile = true;
      attributes.owner = original.st_uid;
      attributes.group = original.st_gid;
      attributes.mode = original.st_mode & 07777;
    } else {
      attributes.mode = 0666 & ~CurrentUmask();
    }
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
      std::string name;
      if (!MakeTemporaryName(folder, &name)) return nullptr;
      int fd = open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return nullptr;
      }
      *temporaryPath = name;
      return std::make_unique<TemporaryFile>(fd, attributes);
    }
    return nullptr;
  }

  bool Replace(const std::string& source, const std::string& target) override {
    if (std::rename(source.c_str(), target.c_str()) != 0) return false;
    // Make the rename itself durable: sync the folder that holds the entry.
    std::string folder = FolderOf(target);
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      fsync(fd);
      close(fd);
    }
    return true;
  }

  bool MayReplace(const std::string& target) override {
    // As an in-place write would open it, without emptying it.
    struct stat info;
    int fd = OpenRegular(target, O_WRONLY, &info);
    if (fd < 0) return errno == ENOENT;
    close(fd);
    return true;
  }

  void Remove(const std::string& path) override { unlink(path.c_str()); }

  std::string ResolveLinks(const std::string& path) override {
    std::string resolved;
    return Resolve(path, &resolved) ? resolved : std::string();
  }

  void Sleep(unsigned milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  std::unique_ptr<FileLock> LockForWriteBack(const std::string& path,
                                             unsigned timeoutMilliseconds) override {
    return LockWithin(timeoutMilliseconds, [&path](bool* busy) { return TryWriteBackLock(path, busy); });
  }

  bool Identify(const std::string& path, FileIdentity* identity) override {
    *identity = FileIdentity();
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return errno == ENOENT || errno == ENOTDIR;
    identity->exists = true;
    identity->device = static_cast<uint64_t>(info.st_dev);
    identity->inode = static_cast<uint64_t>(info.st_ino);
    identity->size = static_cast<uint64_t>(info.st_size);
    identity->modifiedNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    identity->changedNs = static_cast<int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    return true;
  }

 private:
  // One try at the write-back lock of `path`.  Null with `busy` set when
  // another holder has it (or the file was replaced under us: try again).
  static std::unique_ptr<FileLock> TryWriteBackLock(const std::string& path, bool* busy);
};

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
