#include "platform/link_resolution.h"

#ifndef _WIN32

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <vector>

namespace inireg {

namespace {

constexpr int kMaxLinks = 40;  // The kernel's own limit (ELOOP).

void SplitInto(const std::string& path, std::deque<std::string>* components, bool atFront) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  if (atFront) {
    components->insert(components->begin(), parts.begin(), parts.end());
  } else {
    components->insert(components->end(), parts.begin(), parts.end());
  }
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder == "/") return "/" + name;
  return folder + "/" + name;
}

bool EndsWithParent(const std::string& folder) {
  return folder == ".." || (folder.size() >= 3 && folder.compare(folder.size() - 3, 3, "/..") == 0);
}

// `folder` holds no link, so ".." may be taken off it by name.
void GoUp(std::string* folder) {
  if (*folder == "/") return;
  if (folder->empty() || EndsWithParent(*folder)) {
    *folder = Join(*folder, "..");
    return;
  }
  size_t slash = folder->rfind('/');
  if (slash == std::string::npos) {
    folder->clear();
  } else {
    folder->erase(slash == 0 ? 1 : slash);
  }
}

// The protected_symlinks rule: in a sticky, world-writable folder only links
// owned by the follower or by the folder's owner are followed.
bool MayFollow(const std::string& folder, const struct stat& link) {
  struct stat info;
  if (stat(folder.empty() ? "." : folder.c_str(), &info) != 0) return false;
  bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
  if (!shared) return true;
  return link.st_uid == geteuid() || link.st_uid == info.st_uid;
}

}  // namespace

LinkResolution ResolveProtectedLinks(const std::string& path, std::string* resolved) {
  std::deque<std::string> pending;
  SplitInto(path, &pending, false);
  std::string current = !path.empty() && path[0] == '/' ? "/" : "";
  int links = 0;
  while (!pending.empty()) {
    std::string name = std::move(pending.front());
    pending.pop_front();
    if (name == ".") continue;
    if (name == "..") {
      GoUp(&current);
      continue;
    }
    std::string candidate = Join(current, name);
    struct stat info;
    if (lstat(candidate.c_str(), &info) != 0) {
      // Missing or out of reach: the kernel cannot follow anything below
      // either, so the rest is kept by name.
      current = candidate;
      for (const std::string& rest : pending) current = Join(current, rest);
      break;
    }
    if (!S_ISLNK(info.st_mode)) {
      current = std::move(candidate);
      continue;
    }
    if (++links > kMaxLinks) return LinkResolution::kLoop;
    if (!MayFollow(current, info)) return LinkResolution::kRefused;
    std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 2);
    ssize_t length = readlink(candidate.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) return LinkResolution::kBroken;
    std::string text(target.data(), static_cast<size_t>(length));
    if (text[0] == '/') current = "/";
    SplitInto(text, &pending, true);
  }
  if (current.empty()) current = ".";
  *resolved = std::move(current);
  return LinkResolution::kResolved;
}

}  // namespace inireg

#endif  // _WIN32
