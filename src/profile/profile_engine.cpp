#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "inireg/profile_engine.h"
#include "platform/code_page.h"
#include "profile/profile_cache.h"
#include "profile/profile_change.h"
#include "profile/profile_file.h"
#include "profile/profile_write_back.h"
#include "text/numbers.h"

namespace inireg {

namespace {

// The cache, its lock and the exit handler that writes it back.  Made on
// first use and never destroyed, so that stores destroyed during process exit
// (objects with static storage duration) still find it.
struct ProfileCache {
  std::recursive_mutex mutex;
  std::list<std::unique_ptr<ProfileFile>> files;  // Earliest added first.
};

void FlushAtExit();
void FlushLocked();

ProfileCache& Cache() {
  static ProfileCache* const cache = [] {
    auto* created = new ProfileCache;
    std::atexit(FlushAtExit);
    return created;
  }();
  return *cache;
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
  FlushLocked();
  cache.mutex.unlock();
}

using Guard = std::lock_guard<std::recursive_mutex>;

// Writes a dirty record back; true when it holds nothing unsaved now.
bool WriteBackIfDirty(ProfileFile* file) {
  if (!file->dirty || file->unreadable) return true;
  return WriteBackProfile(file).ok();
}

void FlushLocked() {
  for (auto& file : Cache().files) WriteBackIfDirty(file.get());
}

// Where the last ProfileSectionNameAt stopped, so that listing all names
// takes one pass rather than one pass per name.  Forgotten on every change
// of a file's sections (Forget).
struct SectionCursor {
  const ProfileFile* file = nullptr;  // Null: nothing remembered.
  size_t sectionCount = 0;            // The list's size then.
  int32_t index = 0;
  std::list<ProfileSection>::iterator position;
};

SectionCursor& Cursor() {
  static SectionCursor cursor;
  return cursor;
}

void Forget() { Cursor().file = nullptr; }

bool IsEmpty(const char* text) { return text == nullptr || *text == '\0'; }

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

std::list<std::unique_ptr<ProfileFile>>::iterator FindCached(const char* path, size_t length) {
  auto& files = Cache().files;
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (IsCachedAs(**it, path, length)) return it;
  }
  return files.end();
}

// Makes room for one more record: the records added earliest leave the
// cache, each written back first if it changed.  One whose write-back fails
// stays, with its changes, and is retried at the next eviction, close, sync
// or exit flush; so the cache holds more than its capacity only while some
// records hold changes that could not be saved.
void MakeRoom() {
  auto& files = Cache().files;
  for (auto it = files.begin(); it != files.end() && files.size() >= kProfileCacheCapacity;) {
    if (WriteBackIfDirty(it->get())) {
      Forget();
      it = files.erase(it);
    } else {
      ++it;
    }
  }
}

void AddToCache(std::unique_ptr<ProfileFile> file) {
  MakeRoom();
  Cache().files.push_back(std::move(file));
}

ProfileSection* FindSection(ProfileFile* file, const char* name) {
  return inireg::FindSection(file, name, std::strlen(name));
}

ProfileEntry* FindEntry(ProfileSection* section, const char* key) {
  return inireg::FindEntry(section, key, std::strlen(key));
}

// Copies `text` into a buffer of `size` characters, cut to size - 1 and
// terminated; with size 0 only measures.  Returns the characters copied (or
// the length, when measuring).
uint32_t CopyText(const char* text, size_t length, char* buffer, uint32_t size) {
  if (size == 0 || buffer == nullptr) return static_cast<uint32_t>(length);
  size_t copied = length < size - 1 ? length : size - 1;
  std::memcpy(buffer, text, copied);
  buffer[copied] = '\0';
  return static_cast<uint32_t>(copied);
}

// Copies names into the buffer, each followed by a NUL; a name that does not
// fit is cut to the room left and ends the list.
template <typename Names, typename NameOf>
uint32_t CopyList(const Names& names, NameOf nameOf, char* buffer, uint32_t size) {
  if (buffer == nullptr) return 0;
  std::memset(buffer, 0, size);
  int64_t room = static_cast<int64_t>(size) - 1;
  char* position = buffer;
  for (const auto& item : names) {
    if (room <= 0) break;
    std::string_view name = nameOf(item);
    int64_t length = static_cast<int64_t>(name.size());
    if (room < length) {
      std::memcpy(position, name.data(), static_cast<size_t>(room));
      break;
    }
    std::memcpy(position, name.data(), name.size());
    position += length + 1;
    room -= length + 1;
  }
  return static_cast<uint32_t>(static_cast<int64_t>(size) - room - 1);
}

// Copies the value as the file holds it between double quotes.
uint32_t CopyQuoted(std::string_view value, char* buffer, uint32_t size) {
  size_t length = value.size() + 2;
  if (size == 0 || buffer == nullptr) return static_cast<uint32_t>(length);
  size_t copied = length < size - 1 ? length : size - 1;
  for (size_t i = 0; i < copied; ++i) {
    buffer[i] = i == 0 || i == length - 1 ? '"' : value[i - 1];
  }
  buffer[copied] = '\0';
  return static_cast<uint32_t>(copied);
}

std::list<std::unique_ptr<ProfileFile>>::iterator FindCached(const char* path) {
  return FindCached(path, std::strlen(path));
}

// ProfileOpen for a caller that holds the lock; `path` holds `length`
// characters and no NUL.
ProfileFile* OpenLocked(const char* path, size_t length) {
  if (length == 0) return nullptr;
  auto it = FindCached(path, length);
  if (it != Cache().files.end()) {
    ProfileFile* file = it->get();
    if (!file->loaded) {
      Forget();
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

ProfileFile* OpenLocked(const char* path) {
  return path == nullptr ? nullptr : OpenLocked(path, std::strlen(path));
}

int32_t ReadNumber(const char* section, const char* key, int32_t defaultValue, const char* path,
                   int radix) {
  Guard guard(Cache().mutex);
  ProfileFile* file = OpenLocked(path);
  if (file == nullptr || IsEmpty(section)) return defaultValue;
  ProfileSection* found = FindSection(file, section);
  if (found == nullptr || IsEmpty(key)) return defaultValue;
  ProfileEntry* entry = FindEntry(found, key);
  if (entry == nullptr) return defaultValue;
  // The value is a span of the file's text, not terminated: parse a copy.
  const ProfileText& value = entry->value;
  char text[64];
  if (value.size() < sizeof text) {
    std::memcpy(text, value.data(), value.size());
    text[value.size()] = '\0';
    return static_cast<int32_t>(ParseUnsigned32(text, radix));
  }
  return static_cast<int32_t>(ParseUnsigned32(value.str().c_str(), radix));
}

// Applies a change made through the engine: the record and its journal.
int32_t Change(ProfileFile* file, ProfileChange change) {
  Forget();
  ChangeResult result = ApplyProfileChange(file, change);
  if (result == ChangeResult::kRefused) return 0;
  if (result == ChangeResult::kApplied) {
    // A value set again replaces its journal entry rather than growing it.
    // (Not an empty value: it keeps the quoting the earlier one gave.)
    ProfileJournal& journal = file->journal;
    if (change.kind == ProfileChange::Kind::kSetEntry && !journal.empty() &&
        change.value.find_first_not_of(" \t\n\v\f\r") != std::string::npos &&
        journal.back().kind == change.kind && journal.back().section == change.section &&
        journal.back().key == change.key) {
      journal.back().value = std::move(change.value);
    } else {
      journal.push_back(std::move(change));
    }
    file->dirty = true;
  }
  return 1;
}

std::string Trimmed(const char* text) {
  std::string copy = text;
  return TrimText(&copy[0], true, true);
}

}  // namespace

ProfileEngineLock::ProfileEngineLock() { Cache().mutex.lock(); }
ProfileEngineLock::~ProfileEngineLock() { Cache().mutex.unlock(); }

ProfileFile* ProfileOpen(const char* path) {
  Guard guard(Cache().mutex);
  return OpenLocked(path);
}

std::vector<std::string> ProfileCachedPaths() {
  Guard guard(Cache().mutex);
  std::vector<std::string> paths;
  for (const auto& file : Cache().files) paths.push_back(file->path);
  return paths;
}

void ProfileFlushAll() {
  Guard guard(Cache().mutex);
  FlushLocked();
}

void ProfileClose(const char* path) {
  if (IsEmpty(path)) return;
  Guard guard(Cache().mutex);
  auto it = FindCached(path);
  if (it == Cache().files.end()) return;
  // A record whose changes could not be written stays cached with them.
  if (!WriteBackIfDirty(it->get())) return;
  Forget();
  Cache().files.erase(it);
}

void ProfileDiscard(const char* path) {
  if (IsEmpty(path)) return;
  Guard guard(Cache().mutex);
  auto it = FindCached(path);
  if (it == Cache().files.end()) return;
  Forget();
  Cache().files.erase(it);
}

void ProfileAddUnloaded(const char* path) {
  if (IsEmpty(path)) return;
  Guard guard(Cache().mutex);
  // A record still cached holds changes that could not be written back; a
  // second record of the path would hide them.
  if (FindCached(path) != Cache().files.end()) return;
  auto file = std::make_unique<ProfileFile>();
  file->path = path;
  AddToCache(std::move(file));
}

Status ProfileSync(const char* path) {
  if (IsEmpty(path)) return Status::Error("no file was named");
  Guard guard(Cache().mutex);
  Forget();
  auto it = FindCached(path);
  if (it == Cache().files.end()) {
    ProfileFile* file = OpenLocked(path);
    if (file->unreadable) return Status::Error(std::string(path) + " exists but cannot be read");
    return Status::Ok();
  }
  ProfileFile* file = it->get();
  if (!file->loaded || file->unreadable) {
    ReloadProfile(file);
    if (file->unreadable) return Status::Error(std::string(path) + " exists but cannot be read");
    return Status::Ok();
  }
  if (file->dirty) return WriteBackProfile(file);
  if (ProfileFileChangedOnDisk(*file)) {
    ReloadProfile(file);
    if (file->unreadable) return Status::Error(std::string(path) + " exists but cannot be read");
  }
  return Status::Ok();
}

int32_t ProfileDeleteEntry(const char* section, const char* key, const char* path) {
  Guard guard(Cache().mutex);
  ProfileFile* file = OpenLocked(path);
  if (file == nullptr || IsEmpty(section) || IsEmpty(key) || file->unreadable) return 0;
  ProfileChange change;
  change.kind = ProfileChange::Kind::kDeleteEntry;
  change.section = Trimmed(section);
  change.key = Trimmed(key);
  if (change.section.empty() || change.key.empty()) return 0;
  return Change(file, std::move(change));
}

void ProfileSetKeepLayout(const char* path, bool keepLayout) {
  Guard guard(Cache().mutex);
  ProfileFile* file = OpenLocked(path);
  if (file != nullptr) file->keepLayout = keepLayout;
}

void ProfileSetFlags(const char* path, int32_t value) {
  if (IsEmpty(path)) return;
  Guard guard(Cache().mutex);
  auto it = FindCached(path);
  if (it == Cache().files.end()) return;
  (*it)->joinContinuations = value != 0;
  (*it)->keepQuotes = value != 0;
}

uint32_t ProfileGetString(const char* section, const char* key, const char* defaultText,
                          char* buffer, uint32_t size, const char* path) {
  if (defaultText == nullptr) defaultText = "";
  Guard guard(Cache().mutex);
  ProfileFile* file = OpenLocked(path);
  if (file == nullptr) return CopyText(defaultText, std::strlen(defaultText), buffer, size);
  if (IsEmpty(section)) {
    return CopyList(file->sections, [](const ProfileSection& s) -> std::string_view { return s.name; },
                    buffer, size);
  }
  ProfileSection* found = inireg::FindSection(file, section, std::strlen(section));
  if (found == nullptr) return CopyText(defaultText, std::strlen(defaultText), buffer, size);
  if (IsEmpty(key)) {
    return CopyList(found->entries, [](const ProfileEntry& e) -> std::string_view { return e.key; },
                    buffer, size);
  }
  ProfileEntry* entry = inireg::FindEntry(found, key, std::strlen(key));
  if (entry == nullptr) return CopyText(defaultText, std::strlen(defaultText), buffer, size);
  if (file->keepQuotes && entry->quoted) return CopyQuoted(entry->value, buffer, size);
  return CopyText(entry->value.data(), entry->value.size(), buffer, size);
}

bool ProfileFindValue(std::string_view path, std::string_view section, std::string_view key,
                      std::string* value) {
  if (section.empty() || key.empty()) return false;
  Guard guard(Cache().mutex);
  ProfileFile* file = OpenLocked(path.data(), path.size());
  if (file == nullptr) return false;
  ProfileSection* found = inireg::FindSection(file, section.data(), section.size());
  if (found == nullptr) return false;
  ProfileEntry* entry = inireg::FindEntry(found, key.data(), key.size());
  if (entry == nullptr) return false;
  if (file->keepQuotes && entry->quoted) {
    value->assign(1, '"');
    value->append(entry->value.data(), entry->value.size());
    value->push_back('"');
  } else {
    value->assign(entry->value.data(), entry->value.size());
  }
  return true;
}

int32_t ProfileGetInt(const char* section, const char* key, int32_t defaultValue,
                      const char* path) {
  return ReadNumber(section, key, defaultValue, path, 10);
}

int32_t ProfileGetHex(const char* section, const char* key, int32_t defaultValue,
                      const char* path) {
  return ReadNumber(section, key, defaultValue, path, 16);
}

int32_t ProfileWriteString(const char* section, const char* key, const char* value,
                           const char* path) {
  Guard guard(Cache().mutex);
  Forget();
  ProfileFile* file = OpenLocked(path);
  if (file == nullptr || IsEmpty(section)) return 0;
  // Nothing of an unreadable file is known: writing it back would destroy it.
  if (file->unreadable) return 0;

  ProfileChange change;
  if (IsEmpty(key)) {
    // Deleting a section rewrites the file even when there was none.
    file->dirty = true;
    change.kind = ProfileChange::Kind::kDeleteSection;
    change.section = section;
    return Change(file, std::move(change));
  }
  change.kind = ProfileChange::Kind::kSetEntry;
  change.section = Trimmed(section);
  change.key = Trimmed(key);
  change.value = value != nullptr ? value : "";
  return Change(file, std::move(change));
}

int32_t ProfileSectionNameAt(int32_t index, char* buffer, int32_t size, const char* path) {
  Guard guard(Cache().mutex);
  ProfileFile* file = OpenLocked(path);
  if (file == nullptr || index < 0) return 0;
  // Listings ask for the names in order: go on from the last one asked for.
  SectionCursor& cursor = Cursor();
  if (cursor.file != file || cursor.sectionCount != file->sections.size() || cursor.index > index) {
    cursor.file = file;
    cursor.sectionCount = file->sections.size();
    cursor.index = 0;
    cursor.position = file->sections.begin();
  }
  for (; cursor.index < index && cursor.position != file->sections.end(); ++cursor.index) {
    ++cursor.position;
  }
  if (cursor.position == file->sections.end()) return 0;
  const ProfileText& name = cursor.position->name;
  int32_t length = static_cast<int32_t>(name.size());
  int32_t copied = size < length ? size : length;
  if (buffer != nullptr && copied > 0) std::memcpy(buffer, name.data(), copied);
  return length;
}

ProfileSection* ProfileFindSection(const char* name, const char* path) {
  Guard guard(Cache().mutex);
  ProfileFile* file = OpenLocked(path);
  if (file == nullptr || name == nullptr) return nullptr;
  return FindSection(file, name);
}

int32_t ProfileKeyNameAt(int32_t index, char* buffer, int32_t size,
                         const ProfileSection* section) {
  if (section == nullptr || index < 0 || static_cast<size_t>(index) >= section->entries.size()) {
    return 0;
  }
  const ProfileText& key = section->entries[static_cast<size_t>(index)].key;
  int32_t length = static_cast<int32_t>(key.size());
  int32_t copied = size < length ? size : length;
  if (buffer != nullptr && copied > 0) std::memcpy(buffer, key.data(), copied);
  return length;
}

}  // namespace inireg
