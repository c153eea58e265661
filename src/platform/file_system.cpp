#include "platform/file_system.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/system_file_system.h"

namespace inireg {

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of(kFolderSeparators);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void SystemFileSystem::Sleep(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::unique_ptr<FileLock> SystemFileSystem::LockForWriteBack(const std::string& path,
                                                             unsigned timeoutMilliseconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  unsigned pause = 1;
  for (;;) {
    bool busy = false;
    std::unique_ptr<FileLock> lock = TryWriteBackLock(path, &busy);
    if (lock) return lock;
    if (!busy || std::chrono::steady_clock::now() >= deadline) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    if (pause < 16) pause *= 2;
  }
}

namespace {

std::atomic<FileSystem*> currentFileSystem{nullptr};

}  // namespace

FileSystem* DefaultFileSystem() {
  // Never destroyed, so that write-backs at process exit still have it.
  static FileSystem* const instance = MakeSystemFileSystem();
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
