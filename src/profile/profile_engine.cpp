#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "inireg/profile_engine.h"
#include "platform/code_page.h"
#include "profile/profile_cache.h"
#include "profile/profile_change.h"
#include "profile/profile_records.h"
#include "profile/profile_write_back.h"
#include "text/numbers.h"

namespace inireg {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

bool IsEmpty(const char* text) { return text == nullptr || *text == '\0'; }

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

int32_t ReadNumber(const char* section, const char* key, int32_t defaultValue, const char* path,
                   int radix) {
  Guard guard(ProfileCacheMutex());
  ProfileFile* file = OpenProfileLocked(path);
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
  ForgetSectionCursor();
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

ProfileEngineLock::ProfileEngineLock() { ProfileCacheMutex().lock(); }
ProfileEngineLock::~ProfileEngineLock() { ProfileCacheMutex().unlock(); }

void ProfileClose(const char* path) {
  if (IsEmpty(path)) return;
  Guard guard(ProfileCacheMutex());
  EvictCachedProfile(path, true);
}

void ProfileAddUnloaded(const char* path) {
  if (IsEmpty(path)) return;
  Guard guard(ProfileCacheMutex());
  // A record still cached holds changes that could not be written back; a
  // second record of the path would hide them.
  if (FindCachedProfile(path, std::strlen(path)) != nullptr) return;
  auto file = std::make_unique<ProfileFile>();
  file->path = path;
  AddToCache(std::move(file));
}

Status ProfileSync(const char* path) {
  if (IsEmpty(path)) return Status::Error("no file was named");
  Guard guard(ProfileCacheMutex());
  ForgetSectionCursor();
  ProfileFile* file = FindCachedProfile(path, std::strlen(path));
  if (file == nullptr) {
    file = OpenProfileLocked(path);
    if (file->unreadable) return Status::Error(std::string(path) + " exists but cannot be read");
    return Status::Ok();
  }
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
  Guard guard(ProfileCacheMutex());
  ProfileFile* file = OpenProfileLocked(path);
  if (file == nullptr || IsEmpty(section) || IsEmpty(key) || file->unreadable) return 0;
  ProfileChange change;
  change.kind = ProfileChange::Kind::kDeleteEntry;
  change.section = Trimmed(section);
  change.key = Trimmed(key);
  if (change.section.empty() || change.key.empty()) return 0;
  return Change(file, std::move(change));
}

void ProfileSetKeepLayout(const char* path, bool keepLayout) {
  Guard guard(ProfileCacheMutex());
  ProfileFile* file = OpenProfileLocked(path);
  if (file != nullptr) file->keepLayout = keepLayout;
}

void ProfileSetFlags(const char* path, int32_t value) {
  if (IsEmpty(path)) return;
  Guard guard(ProfileCacheMutex());
  ProfileFile* file = FindCachedProfile(path, std::strlen(path));
  if (file == nullptr) return;
  file->joinContinuations = value != 0;
  file->keepQuotes = value != 0;
}

uint32_t ProfileGetString(const char* section, const char* key, const char* defaultText,
                          char* buffer, uint32_t size, const char* path) {
  if (defaultText == nullptr) defaultText = "";
  Guard guard(ProfileCacheMutex());
  ProfileFile* file = OpenProfileLocked(path);
  if (file == nullptr) return CopyText(defaultText, std::strlen(defaultText), buffer, size);
  if (IsEmpty(section)) {
    return CopyList(
        file->sections, [](const ProfileSection& s) -> std::string_view { return s.name; }, buffer,
        size);
  }
  ProfileSection* found = FindSection(file, section);
  if (found == nullptr) return CopyText(defaultText, std::strlen(defaultText), buffer, size);
  if (IsEmpty(key)) {
    return CopyList(
        found->entries, [](const ProfileEntry& e) -> std::string_view { return e.key; }, buffer,
        size);
  }
  ProfileEntry* entry = FindEntry(found, key);
  if (entry == nullptr) return CopyText(defaultText, std::strlen(defaultText), buffer, size);
  if (file->keepQuotes && entry->quoted) return CopyQuoted(entry->value, buffer, size);
  return CopyText(entry->value.data(), entry->value.size(), buffer, size);
}

bool ProfileFindValue(std::string_view path, std::string_view section, std::string_view key,
                      std::string* value) {
  if (section.empty() || key.empty()) return false;
  Guard guard(ProfileCacheMutex());
  // A cached record's path never holds a NUL; a path that does is left to
  // the C calls, which end it there, so that it names no record of its own.
  ProfileFile* file = FindCachedProfile(path.data(), path.size());
  if (file == nullptr || !file->loaded) {
    if (path.find('\0') != std::string_view::npos) return false;
    file = OpenProfileLocked(path.data(), path.size());
    if (file == nullptr) return false;
  }
  ProfileSection* found = inireg::FindSection(file, section.data(), section.size());
  if (found == nullptr) return false;
  ProfileEntry* entry = inireg::FindEntry(found, key.data(), key.size());
  if (entry == nullptr) return false;
  if (file->keepQuotes && entry->quoted) {
    value->assign(1, '"');
    value->append(entry->value.data(), entry->value.size());
    value->push_back('"');
  } else {
    // The record's bytes never lie in the caller's string, so the copy can
    // skip assign's general case (the source inside the target).
    size_t size = entry->value.size();
    value->resize(size);
    if (size > 0) std::memcpy(&(*value)[0], entry->value.data(), size);
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
  Guard guard(ProfileCacheMutex());
  ForgetSectionCursor();
  ProfileFile* file = OpenProfileLocked(path);
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
  Guard guard(ProfileCacheMutex());
  ProfileFile* file = OpenProfileLocked(path);
  if (file == nullptr || index < 0) return 0;
  // Listings ask for the names in order: go on from the last one asked for.
  SectionCursor& cursor = CachedSectionCursor();
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
  Guard guard(ProfileCacheMutex());
  ProfileFile* file = OpenProfileLocked(path);
  if (file == nullptr || name == nullptr) return nullptr;
  return FindSection(file, name);
}

int32_t ProfileKeyNameAt(int32_t index, char* buffer, int32_t size, const ProfileSection* section) {
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
