#include "profile/profile_change.h"

#include <cstring>
#include <string>

namespace inireg {

namespace {

ChangeResult SetEntry(ProfileFile* file, const ProfileChange& change) {
  if (change.section.empty()) return ChangeResult::kRefused;
  ProfileSection* section = FindSection(file, change.section.data(), change.section.size());
  ProfileEntry* entry = section != nullptr && !change.key.empty()
                            ? FindEntry(section, change.key.data(), change.key.size())
                            : nullptr;
  // The value as a file line's value is read.  Replacing a value by an empty
  // one keeps the entry's quoting.
  std::string valueText = change.value;
  valueText.push_back('\0');
  bool quoted = false;
  std::string value = ParseValue(&valueText[0], &quoted);
  if (value.empty() && !quoted && entry != nullptr) quoted = entry->quoted;

  if (SectionNameRefusal(change.section) != nullptr ||
      EntryRefusal(change.key, value, quoted, file->joinContinuations) != nullptr) {
    return ChangeResult::kRefused;
  }
  if (section == nullptr) section = AppendSection(file, change.section);
  if (entry == nullptr) {
    AppendEntry(section, ProfileEntry{change.key, std::move(value), quoted});
  } else {
    entry->value = std::move(value);
    entry->quoted = quoted;
  }
  return ChangeResult::kApplied;
}

}  // namespace

ChangeResult ApplyProfileChange(ProfileFile* file, const ProfileChange& change) {
  switch (change.kind) {
    case ProfileChange::Kind::kSetEntry:
      return SetEntry(file, change);
    case ProfileChange::Kind::kDeleteSection:
      return EraseSection(file, change.section.data(), change.section.size())
                 ? ChangeResult::kApplied
                 : ChangeResult::kNoTarget;
    case ProfileChange::Kind::kDeleteEntry: {
      ProfileSection* section = FindSection(file, change.section.data(), change.section.size());
      ProfileEntry* entry =
          section != nullptr ? FindEntry(section, change.key.data(), change.key.size()) : nullptr;
      if (entry == nullptr) return ChangeResult::kNoTarget;
      EraseEntry(section, entry);
      return ChangeResult::kApplied;
    }
  }
  return ChangeResult::kRefused;
}

}  // namespace inireg
