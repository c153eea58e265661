// The indexes of a parsed profile file: per file, a case-insensitive table
// from a section name to the first section of that name; per section, the
// hashes of its keys and, past sixteen entries, a table from a key to its
// first entry.  They are kept right through appends and deletions,
// so that lookups find the first match in file order without a walk.
#include <cassert>
#include <cstddef>
#include <iterator>
#include <utility>

#include "profile/name_hash.h"
#include "profile/profile_records.h"

namespace inireg {

namespace {

// --- The key index of a section ---------------------------------------------

uint32_t KeyHashAt(const ProfileSection& section, size_t index) {
  return index < kKeyTableThreshold ? section.smallKeyHashes[index]
                                    : section.keyHashes[index - kKeyTableThreshold];
}

void PushKeyHash(ProfileSection* section, uint32_t hash) {
  if (section->hashedEntries < kKeyTableThreshold) {
    section->smallKeyHashes[section->hashedEntries] = hash;
  } else {
    section->keyHashes.push_back(hash);
  }
  ++section->hashedEntries;
}

// Adds entry `index` to the key table unless an earlier entry has its key.
void InsertKey(ProfileSection* section, uint32_t index) {
  uint32_t hash = KeyHashAt(*section, index);
  const ProfileText& key = section->entries[index].key;
  std::vector<uint32_t>& table = section->keyTable;
  size_t mask = table.size() - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    if (table[slot] == 0) {
      table[slot] = index + 1;
      return;
    }
    uint32_t other = table[slot] - 1;
    const ProfileText& otherKey = section->entries[other].key;
    if (KeyHashAt(*section, other) == hash &&
        NamesEqual(otherKey.data(), otherKey.size(), key.data(), key.size())) {
      return;
    }
  }
}

// Makes the key table fit the entries (at most half full), or drops it for a
// section small enough to scan.
void RebuildKeyTable(ProfileSection* section) {
  size_t count = section->entries.size();
  section->keyTable.clear();
  if (count <= kKeyTableThreshold) {
    section->keyTable.shrink_to_fit();
    return;
  }
  size_t capacity = 2 * kKeyTableThreshold;
  while (capacity < 2 * count) capacity *= 2;
  section->keyTable.assign(capacity, 0);
  for (size_t i = 0; i < count; ++i) InsertKey(section, static_cast<uint32_t>(i));
}

// --- The section index of a file --------------------------------------------

using SectionSlot = ProfileFile::SectionSlot;

// The slot holding the section named `name`, or the free slot where it
// would go.  The table must not be empty.
size_t ProbeSection(const ProfileFile& file, const char* name, size_t length, uint32_t hash) {
  size_t mask = file.sectionTable.size() - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const SectionSlot& candidate = file.sectionTable[slot];
    if (candidate.section == nullptr) return slot;
    if (candidate.hash == hash && NamesEqual(candidate.name, candidate.nameSize, name, length)) {
      return slot;
    }
  }
}

// Indexes a section that was just appended: the first of its name takes a
// slot, a later one is only counted.
void IndexSection(ProfileFile* file, ProfileSection* section) {
  uint32_t hash = HashName(section->name.data(), section->name.size());
  if (file->sectionTable.empty() ||
      (file->indexedSections + 1) * 4 > file->sectionTable.size() * 3) {
    size_t capacity = 16;
    while ((file->indexedSections + 1) * 4 > capacity * 3) capacity *= 2;
    std::vector<SectionSlot> old(capacity);
    old.swap(file->sectionTable);
    for (const SectionSlot& slot : old) {
      if (slot.section == nullptr) continue;
      size_t mask = capacity - 1;
      size_t target = slot.hash & mask;
      while (file->sectionTable[target].section != nullptr) target = (target + 1) & mask;
      file->sectionTable[target] = slot;
    }
  }
  size_t slot = ProbeSection(*file, section->name.data(), section->name.size(), hash);
  if (file->sectionTable[slot].section != nullptr) {
    ++file->shadowedSections;
    return;
  }
  file->sectionTable[slot] =
      SectionSlot{section, section->name.data(), static_cast<uint32_t>(section->name.size()), hash};
  ++file->indexedSections;
}

// Frees a slot of a linearly probed table, moving later entries of its
// cluster back so that every entry stays reachable from its home slot.
void RemoveSlot(std::vector<SectionSlot>* table, size_t hole) {
  size_t mask = table->size() - 1;
  (*table)[hole] = SectionSlot{};
  for (size_t next = (hole + 1) & mask; (*table)[next].section != nullptr;
       next = (next + 1) & mask) {
    size_t home = (*table)[next].hash & mask;
    // The entry may stay when its home lies cyclically in (hole, next].
    bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
    if (stays) continue;
    (*table)[hole] = (*table)[next];
    (*table)[next] = SectionSlot{};
    hole = next;
  }
}

}  // namespace

// Gives the section the entries and their key hashes, moved, in vectors of
// exactly their number; empties both.
void SetEntries(ProfileSection* section, std::vector<ProfileEntry>* entries,
                std::vector<uint32_t>* hashes) {
  section->entries.assign(std::make_move_iterator(entries->begin()),
                          std::make_move_iterator(entries->end()));
  size_t count = hashes->size();
  size_t small = count < kKeyTableThreshold ? count : kKeyTableThreshold;
  std::copy(hashes->begin(), hashes->begin() + static_cast<std::ptrdiff_t>(small),
            section->smallKeyHashes);
  section->keyHashes.assign(hashes->begin() + static_cast<std::ptrdiff_t>(small), hashes->end());
  section->hashedEntries = static_cast<uint32_t>(count);
  entries->clear();
  hashes->clear();
  RebuildKeyTable(section);
}

ProfileEntry* FindEntry(ProfileSection* section, const char* key, size_t length) {
  assert(section->hashedEntries == section->entries.size());
  uint32_t hash = HashName(key, length);
  if (section->keyTable.empty()) {
    for (size_t i = 0; i < section->hashedEntries; ++i) {
      ProfileEntry& entry = section->entries[i];
      if (section->smallKeyHashes[i] == hash &&
          NamesEqual(entry.key.data(), entry.key.size(), key, length)) {
        return &entry;
      }
    }
    return nullptr;
  }
  const std::vector<uint32_t>& table = section->keyTable;
  size_t mask = table.size() - 1;
  for (size_t slot = hash & mask; table[slot] != 0; slot = (slot + 1) & mask) {
    uint32_t index = table[slot] - 1;
    ProfileEntry& entry = section->entries[index];
    if (KeyHashAt(*section, index) == hash &&
        NamesEqual(entry.key.data(), entry.key.size(), key, length)) {
      return &entry;
    }
  }
  return nullptr;
}

void AppendEntry(ProfileSection* section, ProfileEntry entry) {
  assert(section->hashedEntries == section->entries.size());
  PushKeyHash(section, HashName(entry.key.data(), entry.key.size()));
  section->entries.push_back(std::move(entry));
  if (section->entries.size() <= kKeyTableThreshold) return;
  if (section->entries.size() * 2 > section->keyTable.size()) {
    RebuildKeyTable(section);
  } else {
    InsertKey(section, static_cast<uint32_t>(section->entries.size() - 1));
  }
}

void EraseEntry(ProfileSection* section, ProfileEntry* entry) {
  assert(section->hashedEntries == section->entries.size());
  size_t index = static_cast<size_t>(entry - section->entries.data());
  size_t count = section->entries.size();
  for (size_t i = index; i + 1 < count; ++i) {
    uint32_t next = KeyHashAt(*section, i + 1);
    if (i < kKeyTableThreshold) {
      section->smallKeyHashes[i] = next;
    } else {
      section->keyHashes[i - kKeyTableThreshold] = next;
    }
  }
  if (count > kKeyTableThreshold) {
    section->keyHashes.pop_back();
  } else {
    section->smallKeyHashes[count - 1] = 0;
  }
  --section->hashedEntries;
  section->entries.erase(section->entries.begin() + static_cast<std::ptrdiff_t>(index));
  RebuildKeyTable(section);
}

ProfileSection* FindSection(ProfileFile* file, const char* name, size_t length) {
  assert(file->indexedSections + file->shadowedSections == file->sections.size());
  if (file->sectionTable.empty()) return nullptr;
  size_t slot = ProbeSection(*file, name, length, HashName(name, length));
  return file->sectionTable[slot].section;
}

ProfileSection* AppendSection(ProfileFile* file, ProfileText name) {
  assert(file->indexedSections + file->shadowedSections == file->sections.size());
  file->sections.emplace_back();
  ProfileSection* section = &file->sections.back();
  section->name = std::move(name);
  IndexSection(file, section);
  return section;
}

bool EraseSection(ProfileFile* file, const char* name, size_t length) {
  assert(file->indexedSections + file->shadowedSections == file->sections.size());
  if (file->sectionTable.empty()) return false;
  size_t slot = ProbeSection(*file, name, length, HashName(name, length));
  ProfileSection* first = file->sectionTable[slot].section;
  if (first == nullptr) return false;
  auto position = file->sections.begin();
  while (&*position != first) ++position;
  auto next = std::next(position);
  if (file->shadowedSections > 0) {
    // The next section of that name, if any, becomes the first.
    for (; next != file->sections.end(); ++next) {
      if (NamesEqual(next->name.data(), next->name.size(), name, length)) break;
    }
  } else {
    next = file->sections.end();
  }
  if (next != file->sections.end()) {
    SectionSlot& taken = file->sectionTable[slot];
    taken.section = &*next;
    taken.name = next->name.data();
    --file->shadowedSections;
  } else {
    RemoveSlot(&file->sectionTable, slot);
    --file->indexedSections;
  }
  file->sections.erase(position);
  return true;
}

void ClearSections(ProfileFile* file) {
  file->sections.clear();
  file->sectionTable.clear();
  file->indexedSections = 0;
  file->shadowedSections = 0;
}

}  // namespace inireg
