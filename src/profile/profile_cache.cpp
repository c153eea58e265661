#include "profile/profile_cache.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "profile/profile_reader.h"
#include "profile/profile_write_back.h"

namespace inireg {

namespace {

using CachedFiles = std::list<std::unique_ptr<ProfileFile>>;

// The cache, its lock and the exit handler that writes it back.  Made on
// first use and never destroyed, so that stores destroyed during process exit
// (objects with static storage duration) still find it.
struct ProfileCache {
  std::recursive_mutex mutex;
  CachedFiles files;  // Earliest added first.
  SectionCursor cursor;
};

void FlushAtExit();

ProfileCache& Cache() {
  static ProfileCache* const cache = [] {
    auto* created = new ProfileCache;
    std::atexit(FlushAtExit);
    return created;
  }();
  return *cache;
}

using Guard = std::lock_guard<std::recursive_mutex>;

// Writes a dirty record back; true when it holds nothing unsaved now.
bool WriteBackIfDirty(ProfileFile* file) {
  if (!file->dirty || file->unreadable) return true;
  return WriteBackProfile(file).ok();
}

// What a pass over the cache does with the records it has written back.
enum class FlushPurpose {
  kKeepAll,   // Every record stays cached, clean where its write-back worked.
  kMakeRoom,  // Records leave until there is room for one more.
};

// The one pass that writes the cache back, earliest added record first.
// Making room, each record that holds nothing unsaved after its write-back
// leaves the cache; one whose write-back fails stays, with its changes, and
// is retried at the next eviction, close, sync or exit flush.  So the cache
// holds more than its capacity only while some records hold changes that
// could not be saved.
void FlushCache(FlushPurpose purpose) {
  CachedFiles& files = Cache().files;
  bool makeRoom = purpose == FlushPurpose::kMakeRoom;
  for (auto it = files.begin(); it != files.end();) {
    if (makeRoom && files.size() < kProfileCacheCapacity) return;
    bool saved = WriteBackIfDirty(it->get());
    if (makeRoom && saved) {
      ForgetSectionCursor();
      it = files.erase(it);
    } else {
      ++it;
    }
  }
}

void FlushAtExit() {
  // Another thread may still be inside the engine when the process exits; do
  // not wait for it forever.
  ProfileCache& cache = Cache();
  int waited = 0;
  while (!cache.mutex.try_lock()) {
    if (++waited > 200) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  FlushCache(FlushPurpose::kKeepAll);
  cache.mutex.unlock();
}

// Whether a cached record is the one for `path`: the whole path names it.
// Windows file names ignore case, so its paths compare without case (bytes
// first: callers nearly always spell a path the same way each time); on
// other systems two spellings are two files.
bool IsCachedAs(const ProfileFile& file, const char* path, size_t length) {
  if (file.path.size() != length) return false;
  if (std::memcmp(file.path.data(), path, length) == 0) return true;
#ifdef _WIN32
  return NamesEqual(file.path.data(), length, path, length);
#else
  return false;
#endif
}

CachedFiles::iterator FindCached(const char* path, size_t length) {
  CachedFiles& files = Cache().files;
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (IsCachedAs(**it, path, length)) return it;
  }
  return files.end();
}

}  // namespace

std::recursive_mutex& ProfileCacheMutex() { return Cache().mutex; }

SectionCursor& CachedSectionCursor() { return Cache().cursor; }

void ForgetSectionCursor() { Cache().cursor.file = nullptr; }

ProfileFile* FindCachedProfile(const char* path, size_t length) {
  auto it = FindCached(path, length);
  return it == Cache().files.end() ? nullptr : it->get();
}

void AddToCache(std::unique_ptr<ProfileFile> file) {
  FlushCache(FlushPurpose::kMakeRoom);
  Cache().files.push_back(std::move(file));
}

ProfileFile* OpenProfileLocked(const char* path, size_t length) {
  if (length == 0) return nullptr;
  if (ProfileFile* file = FindCachedProfile(path, length)) {
    if (!file->loaded) {
      ForgetSectionCursor();
      LoadProfileFile(file);
    }
    return file;
  }
  auto file = std::make_unique<ProfileFile>();
  file->path.assign(path, length);
  LoadProfileFile(file.get());
  ProfileFile* result = file.get();
  AddToCache(std::move(file));
  return result;
}

ProfileFile* OpenProfileLocked(const char* path) {
  return path == nullptr ? nullptr : OpenProfileLocked(path, std::strlen(path));
}

bool EvictCachedProfile(const char* path, bool writeBack) {
  auto it = FindCached(path, std::strlen(path));
  if (it == Cache().files.end()) return true;
  // A record whose changes could not be written stays cached with them.
  if (writeBack && !WriteBackIfDirty(it->get())) return false;
  ForgetSectionCursor();
  Cache().files.erase(it);
  return true;
}

ProfileFile* ProfileOpen(const char* path) {
  Guard guard(ProfileCacheMutex());
  return OpenProfileLocked(path);
}

std::vector<std::string> ProfileCachedPaths() {
  Guard guard(ProfileCacheMutex());
  std::vector<std::string> paths;
  for (const auto& file : Cache().files) paths.push_back(file->path);
  return paths;
}

void ProfileFlushAll() {
  Guard guard(ProfileCacheMutex());
  FlushCache(FlushPurpose::kKeepAll);
}

void ProfileDiscard(const char* path) {
  if (path == nullptr || *path == '\0') return;
  Guard guard(ProfileCacheMutex());
  EvictCachedProfile(path, false);
}

}  // namespace inireg
