// The real file system on POSIX systems: descriptors opened without
// following a final link or blocking, private temporary files given the
// replaced file's attributes on Sync, rename and folder fsync, flock.
#include "platform/system_file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/link_resolution.h"
#include "platform/temporary_files.h"

namespace inireg {

const char kFolderSeparators[] = "/";

namespace {

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
  TemporaryFile(int fd, const Attributes& attributes)
      : DescriptorFile(fd, 0), attributes_(attributes) {}

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

class PosixFileSystem : public SystemFileSystem {
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
    return CreateUnderFreshName(
        folder, temporaryPath, [&attributes](const std::string& name, bool* nameTaken) {
          int fd = open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
          if (fd < 0) {
            *nameTaken = errno == EEXIST;
            return std::unique_ptr<File>();
          }
          return std::unique_ptr<File>(std::make_unique<TemporaryFile>(fd, attributes));
        });
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

  bool Identify(const std::string& path, FileIdentity* identity) override {
    *identity = FileIdentity();
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return errno == ENOENT || errno == ENOTDIR;
    identity->exists = true;
    identity->device = static_cast<uint64_t>(info.st_dev);
    identity->inode = static_cast<uint64_t>(info.st_ino);
    identity->size = static_cast<uint64_t>(info.st_size);
    identity->modifiedNs =
        static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    identity->changedNs =
        static_cast<int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    return true;
  }

 protected:
  std::unique_ptr<FileLock> TryWriteBackLock(const std::string& path, bool* busy) override;
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

std::unique_ptr<FileLock> PosixFileSystem::TryWriteBackLock(const std::string& path, bool* busy) {
  *busy = false;
  // Non-blocking opens, so that a FIFO at the path cannot hang the lock.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES)
    fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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
    current = exists && fstat(fd, &held) == 0 && held.st_dev == named.st_dev &&
              held.st_ino == named.st_ino;
  } else {
    current = !absent || !exists;
  }
  if (current) return std::make_unique<DescriptorLock>(fd);
  close(fd);
  *busy = true;
  return nullptr;
}

}  // namespace

SystemFileSystem* MakeSystemFileSystem() { return new PosixFileSystem; }

}  // namespace inireg
