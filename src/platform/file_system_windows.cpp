// The real file system on Windows: C streams on disk files only,
// ReplaceFileA to keep the replaced file's security, a lock file deleted on
// close.
#include "platform/system_file_system.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/temporary_files.h"
#include "text/ascii_case.h"

namespace inireg {

const char kFolderSeparators[] = "\\/:";

namespace {

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

class WindowsFileSystem : public SystemFileSystem {
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
    return CreateUnderFreshName(
        folder, temporaryPath, [](const std::string& name, bool* nameTaken) {
          // The replace gives the final file the original's security descriptor.
          int fd =
              _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
          if (fd < 0) {
            *nameTaken = errno == EEXIST;
            return std::unique_ptr<File>();
          }
          std::FILE* stream = _fdopen(fd, "wb");
          if (stream == nullptr) {
            _close(fd);
            _unlink(name.c_str());
            return std::unique_ptr<File>();
          }
          return std::unique_ptr<File>(std::make_unique<StdioFile>(stream, 0));
        });
  }

  bool Replace(const std::string& source, const std::string& target) override {
    // ReplaceFileA keeps the replaced file's ACL, attributes and streams;
    // MoveFileExA would give it the folder's inherited ACL.
    if (ReplaceFileA(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
      return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND ||
        GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
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
    int64_t ticks =
        static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                             info.ftLastWriteTime.dwLowDateTime);
    identity->modifiedNs = (ticks - 116444736000000000LL) * 100;
    return true;
  }

 protected:
  std::unique_ptr<FileLock> TryWriteBackLock(const std::string& path, bool* busy) override;
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

std::unique_ptr<FileLock> WindowsFileSystem::TryWriteBackLock(const std::string& path, bool* busy) {
  *busy = false;
  std::string folder = FolderOf(path);
  // Names compare without case on Windows: hash the upper-cased name.
  uint32_t hash = 2166136261u;
  for (size_t i = folder.size(); i < path.size(); ++i) {
    unsigned char c = UpperCase(static_cast<unsigned char>(path[i]));
    hash = (hash ^ c) * 16777619u;
  }
  char name[40];
  std::snprintf(name, sizeof name, "~%08x.inireg-lock", static_cast<unsigned>(hash));
  std::string lockPath = folder + name;
  HANDLE handle = CreateFileA(
      lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle != INVALID_HANDLE_VALUE) return std::make_unique<LockFile>(handle);
  DWORD error = GetLastError();
  // Held by another, or being deleted by its last holder.
  *busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
  return nullptr;
}

}  // namespace

SystemFileSystem* MakeSystemFileSystem() { return new WindowsFileSystem; }

}  // namespace inireg
