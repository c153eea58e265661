#include "platform/temporary_files.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/random_bytes.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace inireg {

namespace {

constexpr char kPrefix[] = ".inireg-";
constexpr char kSuffix[] = ".tmp";
constexpr size_t kRandomDigits = 16;

unsigned long CurrentProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

bool ProcessIsGone(unsigned long processId) {
#ifdef _WIN32
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId));
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  bool gone = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return gone;
#else
  // EPERM: it runs, as another user.
  return kill(static_cast<pid_t>(processId), 0) != 0 && errno == ESRCH;
#endif
}

}  // namespace

bool MakeTemporaryName(const std::string& folder, std::string* path) {
  uint64_t random = 0;
  if (!RandomNumber(&random)) return false;
  char name[64];
  std::snprintf(name, sizeof name, "%s%lu-%016" PRIx64 "%s", kPrefix, CurrentProcessId(), random,
                kSuffix);
  *path = folder + name;
  return true;
}

bool ParseTemporaryName(const std::string& name, unsigned long* processId) {
  const size_t prefix = sizeof kPrefix - 1, suffix = sizeof kSuffix - 1;
  if (name.size() < prefix + 1 + 1 + kRandomDigits + suffix) return false;
  if (name.compare(0, prefix, kPrefix) != 0) return false;
  if (name.compare(name.size() - suffix, suffix, kSuffix) != 0) return false;
  size_t position = prefix;
  unsigned long id = 0;
  size_t digits = 0;
  while (position < name.size() && name[position] >= '0' && name[position] <= '9') {
    if (++digits > 10) return false;
    id = id * 10 + static_cast<unsigned long>(name[position++] - '0');
  }
  if (digits == 0 || position >= name.size() || name[position++] != '-') return false;
  if (name.size() - suffix - position != kRandomDigits) return false;
  for (size_t i = position; i < position + kRandomDigits; ++i) {
    if (std::strchr("0123456789abcdef", name[i]) == nullptr || name[i] == '\0') return false;
  }
  *processId = id;
  return true;
}

void RemoveStaleTemporaryFiles(const std::string& folder) {
  const unsigned long self = CurrentProcessId();
#ifdef _WIN32
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + ".inireg-*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    unsigned long processId = 0;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    if (!ParseTemporaryName(found.cFileName, &processId) || processId == self) continue;
    // The file's security descriptor decides whether the caller may delete it.
    if (ProcessIsGone(processId)) DeleteFileA((folder + found.cFileName).c_str());
  } while (FindNextFileA(search, &found));
  FindClose(search);
#else
  DIR* listing = opendir(folder.empty() ? "." : folder.c_str());
  if (listing == nullptr) return;
  const int folderFd = dirfd(listing);
  while (const struct dirent* entry = readdir(listing)) {
    unsigned long processId = 0;
    if (entry->d_name[0] != '.' || !ParseTemporaryName(entry->d_name, &processId)) continue;
    if (processId == self || !ProcessIsGone(processId)) continue;
    struct stat info;
    if (fstatat(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(info.st_mode) || info.st_uid != geteuid()) continue;
    unlinkat(folderFd, entry->d_name, 0);
  }
  closedir(listing);
#endif
}

}  // namespace inireg
