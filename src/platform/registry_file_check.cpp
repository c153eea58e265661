// Checks a registry database path the way ssh checks its key files, and
// creates the file when it is missing.
//
// Order matters: the folders are checked before a file is created in them,
// and the file's type before it is opened for reading its header, so that an
// unsafe folder never receives a file and a FIFO is never waited on.  Once a
// folder is found safe, nobody but the user (or root) can change what is in
// it, so what is checked here stays true when SQLite opens the same names.
#include "platform/registry_file_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "text/ascii_case.h"

namespace inireg {

namespace {

// How often a missing file is created before giving up: another process may
// create and remove it in between, which only a hostile folder does, and a
// safe folder has no such neighbour.
constexpr int kCreateAttempts = 3;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::string ShownPath(const std::string& path) {
  std::string shown = "'";
  for (unsigned char c : path) {
    if (c < 0x20 || c == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown + "'";
}

namespace {

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

const char* TypeName(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// The status for a failed system call on the path.
LONG StatusOfErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
    case EISDIR:
    case ENXIO:
      return ERROR_REGISTRY_CORRUPT;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

LONG Fail(LONG status, const std::string& text, std::string* reason) {
  *reason = "registry database " + text;
  return status;
}

LONG FailErrno(const std::string& what, const std::string& path, int error, std::string* reason) {
  return Fail(StatusOfErrno(error),
              ShownPath(path) + ": cannot " + what + ": " + std::strerror(error), reason);
}

bool Realpath(const std::string& path, std::string* resolved) {
  std::unique_ptr<char, decltype(&std::free)> result(realpath(path.c_str(), nullptr), &std::free);
  if (!result) return false;
  *resolved = result.get();
  return true;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Creates the missing folders above `path`, each with mode 0700 whatever the
// umask.
LONG MakeParentFolders(const std::string& path, std::string* reason) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) == 0) {
      chmod(folder.c_str(), 0700);
    } else if (errno != EEXIST) {
      return FailErrno("create the folder " + ShownPath(folder) + " for it", path, errno, reason);
    }
  }
  return ERROR_SUCCESS;
}

// Every folder from `folder` up to the root must belong to the user or to
// root, and none may let another user rename or replace what it holds.
// `own` says that `folder` holds the database itself.  Links in the path are
// resolved first: what counts is where the kernel will look.
LONG CheckFolderChain(const std::string& path, const std::string& start, bool own,
                      std::string* reason) {
  std::string folder;
  if (!Realpath(start, &folder)) {
    return FailErrno("find its folder", path, errno, reason);
  }
  const uid_t self = geteuid();
  for (;;) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) {
      return FailErrno("inspect the folder " + ShownPath(folder), path, errno, reason);
    }
    if (info.st_uid != self && info.st_uid != 0) {
      return Fail(ERROR_ACCESS_DENIED,
                  ShownPath(path) + ": the folder " + ShownPath(folder) + " belongs to user " +
                      std::to_string(info.st_uid) + ", not to you (user " + std::to_string(self) +
                      ") or root; keep the registry in a folder of your own",
                  reason);
    }
    bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (othersWrite && (own || (info.st_mode & S_ISVTX) == 0)) {
      return Fail(ERROR_ACCESS_DENIED,
                  ShownPath(path) + ": the folder " + ShownPath(folder) +
                      " can be written by group or others (mode " + Octal(info.st_mode) +
                      "); fix with: chmod go-w " + ShownPath(folder),
                  reason);
    }
    if (folder == "/") return ERROR_SUCCESS;
    folder = FolderOf(folder);
    own = false;
  }
}

// The folders above `path` (its own folder with no sticky exception).
LONG CheckFolders(const std::string& path, std::string* reason) {
  return CheckFolderChain(path, FolderOf(path), true, reason);
}

// Before missing folders are made: the deepest folder that exists, so that
// nothing is created inside another user's folder.
LONG CheckExistingFolders(const std::string& path, std::string* reason) {
  std::string folder = FolderOf(path);
  struct stat info {};
  while (stat(folder.c_str(), &info) != 0 && errno == ENOENT && folder != "." && folder != "/") {
    folder = FolderOf(folder);
  }
  return CheckFolderChain(path, folder, folder == FolderOf(path), reason);
}

// The user's own file, which nobody else can write.
LONG CheckOwnership(const std::string& path, const std::string& what, const struct stat& info,
                    std::string* reason) {
  const uid_t self = geteuid();
  if (info.st_uid != self) {
    return Fail(ERROR_ACCESS_DENIED,
                ShownPath(path) + ": " + what + " belongs to user " + std::to_string(info.st_uid) +
                    ", not to you (user " + std::to_string(self) +
                    "); remove it or use a file of your own",
                reason);
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return Fail(ERROR_ACCESS_DENIED,
                ShownPath(path) + ": " + what + " can be written by group or others (mode " +
                    Octal(info.st_mode) + "); fix with: chmod go-w " + ShownPath(path),
                reason);
  }
  return ERROR_SUCCESS;
}

// The journal files SQLite keeps beside the database hold the same data and
// are opened without question, so a stale one must be as private as the file.
LONG CheckJournals(const std::string& database, std::string* reason) {
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    std::string journal = database + suffix;
    struct stat info {};
    if (lstat(journal.c_str(), &info) != 0) {
      if (errno == ENOENT) continue;
      return FailErrno("inspect its journal " + ShownPath(journal), database, errno, reason);
    }
    if (!S_ISREG(info.st_mode)) {
      return Fail(ERROR_ACCESS_DENIED,
                  ShownPath(database) + ": its journal " + ShownPath(journal) + " is " +
                      (S_ISLNK(info.st_mode) ? "a symbolic link" : TypeName(info.st_mode)) +
                      "; remove it",
                  reason);
    }
    if (LONG status = CheckOwnership(journal, "the journal file", info, reason)) return status;
  }
  return ERROR_SUCCESS;
}

bool IsUri(const std::string& path) {
  return EqualsNoCase(std::string_view(path).substr(0, 5), "file:");
}

// Makes sure the file exists, creating it empty and 0600 in a folder already
// found safe.  Leaves `info` describing the path itself (not a link's target).
LONG EnsureExists(const std::string& path, struct stat* info, std::string* reason) {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (lstat(path.c_str(), info) == 0) return ERROR_SUCCESS;
    if (errno != ENOENT) return FailErrno("inspect it", path, errno, reason);
    FileDescriptor created(
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (created.get() >= 0) {
      fchmod(created.get(), 0600);
    } else if (errno != EEXIST) {
      return FailErrno("create it", path, errno, reason);
    }
  }
  return Fail(ERROR_REGISTRY_IO_FAILED,
              ShownPath(path) + ": it keeps disappearing while being created", reason);
}

}  // namespace

LONG PrepareRegistryFile(const std::string& path, std::string* usable, std::string* reason) {
  if (path.empty()) return Fail(ERROR_REGISTRY_CORRUPT, "path is empty", reason);
  if (path == ":memory:" || IsUri(path)) {
    return Fail(ERROR_REGISTRY_CORRUPT,
                ShownPath(path) +
                    " is not a file name: in-memory and URI databases keep nothing; name a file",
                reason);
  }
  if (path.back() == '/') {
    return Fail(ERROR_REGISTRY_CORRUPT, ShownPath(path) + " names a folder, not a file", reason);
  }
  if (LONG status = CheckExistingFolders(path, reason)) return status;
  if (LONG status = MakeParentFolders(path, reason)) return status;
  if (LONG status = CheckFolders(path, reason)) return status;
  struct stat info {};
  if (LONG status = EnsureExists(path, &info, reason)) return status;

  std::string target = path;
  if (S_ISLNK(info.st_mode)) {
    // A link must be the user's or root's, as the kernel's protected_symlinks
    // rule asks in sticky folders; and it must lead to a file that exists,
    // since creating one through a dangling link would create it wherever the
    // link's owner chose.
    if (info.st_uid != geteuid() && info.st_uid != 0) {
      return Fail(ERROR_ACCESS_DENIED,
                  ShownPath(path) + " is a symbolic link of user " + std::to_string(info.st_uid) +
                      "; use a file or link of your own",
                  reason);
    }
    if (!Realpath(path, &target)) {
      int error = errno;
      if (error == ENOENT) {
        return Fail(ERROR_REGISTRY_CORRUPT,
                    ShownPath(path) +
                        " is a symbolic link to a file that does not exist; create the file "
                        "or remove the link",
                    reason);
      }
      return FailErrno("follow its symbolic links", path, error, reason);
    }
    if (LONG status = CheckFolders(target, reason)) return status;
    if (lstat(target.c_str(), &info) != 0) return FailErrno("inspect it", target, errno, reason);
  }
  if (!S_ISREG(info.st_mode)) {
    return Fail(ERROR_REGISTRY_CORRUPT,
                ShownPath(path) + " is " + TypeName(info.st_mode) + "; name a regular file",
                reason);
  }
  if (LONG status = CheckOwnership(target, "the file", info, reason)) return status;

  // Opened without following links or waiting, and compared with what was
  // inspected, so that the header read is the checked file's.
  FileDescriptor file(
      open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) return FailErrno("open it", target, errno, reason);
  struct stat opened {};
  if (fstat(file.get(), &opened) != 0) return FailErrno("inspect it", target, errno, reason);
  if (opened.st_dev != info.st_dev || opened.st_ino != info.st_ino || !S_ISREG(opened.st_mode)) {
    return Fail(ERROR_REGISTRY_IO_FAILED, ShownPath(path) + " changed while it was being checked",
                reason);
  }
  static const char kMagic[16] = "SQLite format 3";  // With its NUL: 16 bytes.
  char header[sizeof kMagic];
  ssize_t got = read(file.get(), header, sizeof header);
  if (got < 0) return FailErrno("read it", target, errno, reason);
  if (got != 0 && (got != static_cast<ssize_t>(sizeof header) ||
                   std::memcmp(header, kMagic, sizeof header) != 0)) {
    return Fail(ERROR_REGISTRY_CORRUPT,
                ShownPath(path) +
                    " is not a registry database (not SQLite); "
                    "name another file",
                reason);
  }
  if (LONG status = CheckJournals(target, reason)) return status;
  *usable = target;
  return ERROR_SUCCESS;
}

}  // namespace inireg
