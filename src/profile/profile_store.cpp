#include "inireg/profile_store.h"

#include <new>
#include <utility>

#include "inireg/profile_engine.h"
#include "profile/profile_cache.h"

namespace inireg {

namespace {

// Builds the array of a listing from a name-at-index function that answers
// the name's length, or 0 past the end (names are never empty).  Caller holds
// the engine lock, so the names cannot change between counting and filling.
template <typename NameAt>
CountedStringArray CollectNames(int32_t* count, NameAt nameAt) {
  int32_t total = 0;
  while (nameAt(total, nullptr, 0) != 0) ++total;
  *count = 0;
  if (total == 0) return nullptr;
  std::string* names = new (std::nothrow) std::string[static_cast<size_t>(total)];
  if (names == nullptr) return nullptr;
  for (int32_t i = 0; i < total; ++i) {
    int32_t length = nameAt(i, nullptr, 0);
    names[i].assign(static_cast<size_t>(length) + 1, '\0');
    nameAt(i, &names[i][0], length + 1);
    names[i].resize(names[i].find('\0'));
  }
  *count = total;
  return names;
}

// The sticky rule for a read's by-value arguments: a non-empty argument
// becomes the current value, moved rather than copied.
void Adopt(std::string* current, std::string* argument) {
  if (!argument->empty()) *current = std::move(*argument);
}

}  // namespace

ProfileStore::ProfileStore(std::string path) : path(std::move(path)) {}

ProfileStore::~ProfileStore() {
  if (!path.empty()) ProfileClose(path.c_str());
}

void ProfileStore::ApplySection(const std::string& argument) {
  if (!argument.empty()) section = argument;
}

void ProfileStore::ApplyKey(const std::string& argument) {
  if (!argument.empty()) key = argument;
}

int32_t ProfileStore::GetInt(std::string keyArgument, std::string sectionArgument,
                             int32_t defaultValue) {
  Adopt(&key, &keyArgument);
  Adopt(&section, &sectionArgument);
  return ProfileGetInt(section.c_str(), key.c_str(), defaultValue, path.c_str());
}

int32_t ProfileStore::GetHex(std::string keyArgument, std::string sectionArgument,
                             int32_t defaultValue) {
  Adopt(&key, &keyArgument);
  Adopt(&section, &sectionArgument);
  return ProfileGetHex(section.c_str(), key.c_str(), defaultValue, path.c_str());
}

int32_t ProfileStore::GetString(std::string& out, std::string defaultValue, std::string keyArgument,
                                std::string sectionArgument) {
  Adopt(&key, &keyArgument);
  Adopt(&section, &sectionArgument);
  // A value that is there is copied straight into `out`.  The engine's C
  // calls end a name at a NUL: a section or key holding one is never found
  // by its whole length (no name holds a NUL), so it falls through to them,
  // as does a path holding one.
  if (ProfileFindValue(path, section, key, &out)) {
    return static_cast<int32_t>(out.size());
  }
  if (!section.empty() && !key.empty()) {
    // A missing value gives the default: one call into a stack buffer does
    // for most.  A result that fills the buffer may have been cut, so it
    // takes the long way.
    char shortText[256];
    uint32_t produced = ProfileGetString(section.c_str(), key.c_str(), defaultValue.c_str(),
                                         shortText, sizeof shortText, path.c_str());
    if (produced < sizeof shortText - 1) {
      out.assign(shortText, produced);
      return static_cast<int32_t>(produced);
    }
  }
  // Length and text under one lock, so that no other thread changes the
  // entry between the two calls.
  ProfileEngineLock lock;
  uint32_t length = ProfileGetString(section.c_str(), key.c_str(), defaultValue.c_str(), nullptr, 0,
                                     path.c_str());
  out.assign(static_cast<size_t>(length) + 1, '\0');
  uint32_t produced = ProfileGetString(section.c_str(), key.c_str(), defaultValue.c_str(), &out[0],
                                       length + 1, path.c_str());
  out.resize(out.find('\0'));
  return static_cast<int32_t>(produced);
}

int32_t ProfileStore::SetInt(int32_t value, std::string keyArgument, std::string sectionArgument) {
  ApplyKey(keyArgument);
  ApplySection(sectionArgument);
  std::string text;
  FormatString(text, "%d", value);
  ApplyKeepLayout();
  return ProfileWriteString(section.c_str(), key.c_str(), text.c_str(), path.c_str());
}

int32_t ProfileStore::SetString(std::string value, std::string keyArgument,
                                std::string sectionArgument) {
  ApplyKey(keyArgument);
  ApplySection(sectionArgument);
  ApplyKeepLayout();
  return ProfileWriteString(section.c_str(), key.c_str(), value.c_str(), path.c_str());
}

int32_t ProfileStore::GetKeyList(char* buffer, int32_t size, std::string sectionArgument) {
  ApplySection(sectionArgument);
  if (size < 0) size = 0;
  return static_cast<int32_t>(ProfileGetString(section.c_str(), nullptr, "", buffer,
                                               static_cast<uint32_t>(size), path.c_str()));
}

CountedStringArray ProfileStore::GetKeyNames(int32_t* count, std::string sectionArgument) {
  ApplySection(sectionArgument);
  // An empty argument lists the current section, as the registry store does.
  ProfileEngineLock lock;
  ProfileSection* found = ProfileFindSection(section.c_str(), path.c_str());
  if (section.empty() || found == nullptr) {
    *count = 0;
    return nullptr;
  }
  return CollectNames(count, [found](int32_t index, char* buffer, int32_t size) {
    return ProfileKeyNameAt(index, buffer, size, found);
  });
}

CountedStringArray ProfileStore::GetSectionNames(int32_t* count) {
  ProfileEngineLock lock;
  const char* file = path.c_str();
  return CollectNames(count, [file](int32_t index, char* buffer, int32_t size) {
    return ProfileSectionNameAt(index, buffer, size, file);
  });
}

int32_t ProfileStore::GetOptions() { return options; }

void ProfileStore::SetOptions(int32_t newOptions) {
  options = newOptions;
  ProfileEngineLock lock;
  ProfileClose(path.c_str());
  ProfileAddUnloaded(path.c_str());
  ProfileSetFlags(path.c_str(), newOptions);
}

Status ProfileStore::Sync() {
  if (path.empty()) return Status::Error("the store names no file");
  return ProfileSync(path.c_str());
}

int32_t ProfileStore::DeleteKey(std::string keyArgument, std::string sectionArgument) {
  ApplyKey(keyArgument);
  ApplySection(sectionArgument);
  ApplyKeepLayout();
  return ProfileDeleteEntry(section.c_str(), key.c_str(), path.c_str());
}

void ProfileStore::SetKeepLayout(bool newKeepLayout) {
  keepLayout = newKeepLayout;
  if (!path.empty()) ProfileSetKeepLayout(path.c_str(), keepLayout);
}

void ProfileStore::ApplyKeepLayout() {
  // The engine's record forgets the mode when it is evicted; a write puts
  // it back before the record can become dirty.
  if (keepLayout && !path.empty()) ProfileSetKeepLayout(path.c_str(), true);
}

}  // namespace inireg
