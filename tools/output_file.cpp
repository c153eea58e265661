#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "library_internals.h"

namespace inireg::tool {

namespace {

std::string Folder(const std::string& path) {
  size_t slash = path.find_last_of(
#ifdef _WIN32
      "\\/"
#else
      "/"
#endif
  );
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

#ifdef _WIN32

int CreateExclusive(const std::string& name) {
  return _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
bool WriteAllTo(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    unsigned chunk = static_cast<unsigned>(std::min<size_t>(content.size() - done, 1u << 30));
    int written = _write(fd, content.data() + done, chunk);
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}
bool Flush(int fd) { return _commit(fd) == 0; }
int Close(int fd) { return _close(fd); }
void Remove(const std::string& name) { _unlink(name.c_str()); }
bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
void FlushFolder(const std::string&) {}  // MOVEFILE_WRITE_THROUGH did it.
void GiveMode(int, const std::string&, bool) {}
// MoveFileEx refuses an existing target unless told to replace it.
bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, bool* exists) {
  DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (MoveFileExA(from.c_str(), to.c_str(), flags)) return true;
  DWORD code = GetLastError();
  *exists = !replace && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS);
  errno = *exists ? EEXIST : EIO;
  return false;
}

#else

int CreateExclusive(const std::string& name) {
  return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}
bool WriteAllTo(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    ssize_t written = write(fd, content.data() + done, content.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}
bool Flush(int fd) { return fsync(fd) == 0; }
int Close(int fd) { return close(fd); }
void Remove(const std::string& name) { unlink(name.c_str()); }
bool Exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}
// Makes the rename itself survive a power loss.
void FlushFolder(const std::string& folder) {
  int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}
// The temporary file is private while it is written; only the complete file
// gets the mode it is to have.
void GiveMode(int fd, const std::string& path, bool replace) {
  struct stat status;
  mode_t mode;
  if (replace && stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
    mode = status.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, mode);
}
// link() never replaces, so without `replace` the existence check and the
// move are one step; a file system without hard links falls back to a check
// and a rename.
bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, bool* exists) {
  if (replace) return rename(from.c_str(), to.c_str()) == 0;
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) {
    *exists = true;
    return false;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EXDEV) return false;
  if (Exists(to)) {
    *exists = true;
    return false;
  }
  return rename(from.c_str(), to.c_str()) == 0;
}

#endif

}  // namespace

WriteOutcome WriteWholeFile(const std::string& path, const std::string& content, bool replace,
                            std::string* error) {
  if (!replace && Exists(path)) return WriteOutcome::kExists;
  std::string folder = Folder(path);
  std::string temporary;
  int fd = -1;
  // The write-back's own temporary names: a killed export's leftover is
  // then removed by the next write-back in that folder.
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    if (!MakeTemporaryName(folder, &temporary)) break;
    fd = CreateExclusive(temporary);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    *error = "cannot create a temporary file in " + (folder.empty() ? std::string(".") : folder) +
             ": " + std::strerror(errno);
    return WriteOutcome::kFailed;
  }
  bool written = WriteAllTo(fd, content);
  int reason = errno;
  if (written) {
    GiveMode(fd, path, replace);
    written = Flush(fd);
    reason = errno;
  }
  if (Close(fd) != 0 && written) {
    written = false;
    reason = errno;
  }
  bool exists = false;
  if (written && MoveIntoPlace(temporary, path, replace, &exists)) {
    FlushFolder(folder);
    return WriteOutcome::kWritten;
  }
  if (written) reason = errno;
  Remove(temporary);
  if (exists) return WriteOutcome::kExists;
  *error =
      "could not write " + path + ": " + std::strerror(reason) + "; any file there is unchanged";
  return WriteOutcome::kFailed;
}

}  // namespace inireg::tool
