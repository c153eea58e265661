// The indexes of a parsed profile file: per file, a case-insensitive table
// from a section name to the first section of that name; per section, tags
// of its keys' hashes and, past sixteen entries, a table from a key to its
// first entry.  They are kept right through appends and deletions,
// so that lookups find the first match in file order without a walk.
#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "profile/name_hash.h"
#include "profile/profile_records.h"

namespace inireg {

namespace {

// --- The key index of a section ---------------------------------------------

uint16_t KeyTag(uint32_t hash) { return static_cast<uint16_t>(hash >> 16); }

// A bit for each of the first `count` (at most kKeyTableThreshold) key tags
// equal to `tag`, the first tag in the lowest bit.
uint32_t TagMatches(const uint16_t* tags, size_t count, uint16_t tag) {
  static_assert(kKeyTableThreshold == 16, "the tags are compared in two halves of eight");
  uint32_t matches = 0;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi16(static_cast<int16_t>(tag));
  __m128i low = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(tags)), wanted);
  __m128i high =
      _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(tags + 8)), wanted);
  // Saturating each 16-bit 0 or -1 to a byte keeps it 0 or -1.
  matches = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
#else
  for (size_t i = 0; i < kKeyTableThreshold; ++i) matches |= uint32_t{tags[i] == tag} << i;
#endif
  return matches & ((uint32_t{1} << count) - 1);
}

// Adds entry `index` to the key table unless an earlier entry has its key.
void InsertKey(ProfileSection* section, uint32_t index) {
  const ProfileEntry& entry = section->entries[index];
  std::vector<uint32_t>& table = section->keyTable;
  size_t mask = table.size() - 1;
  for (size_t slot = entry.keyHash & mask;; slot = (slot + 1) & mask) {
    if (table[slot] == 0) {
      table[slot] = index + 1;
      return;
    }
    const ProfileEntry& other = section->entries[table[slot] - 1];
    if (other.keyHash == entry.keyHash &&
        NamesEqual(other.key.data(), other.key.size(), entry.key.data(), entry.key.size())) {
      return;
    }
  }
}

// Makes the key tags and the key table fit the entries (the table at most
// half full, or none for a section small enough to scan).
void Reindex(ProfileSection* section) {
  size_t count = section->entries.size();
  for (size_t i = 0; i < kKeyTableThreshold; ++i) {
    section->keyTags[i] = i < count ? KeyTag(section->entries[i].keyHash) : 0;
  }
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

// Asks for the cache lines of `bytes` bytes from `start` without waiting for
// them.  The address may be stale or run past the end of its block: a
// prefetch never faults, and the arithmetic is done on integers.
void PrefetchBytes(const void* start, size_t bytes) {
  uintptr_t address = reinterpret_cast<uintptr_t>(start);
  for (size_t offset = 0; offset < bytes; offset += 64) {
    __builtin_prefetch(reinterpret_cast<const void*>(address + offset));
  }
}

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
  SectionSlot& taken = file->sectionTable[slot];
  taken = SectionSlot{};
  taken.section = section;
  taken.name = section->name.data();
  taken.nameSize = static_cast<uint32_t>(section->name.size());
  taken.hash = hash;
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

void SetEntries(ProfileSection* section, ProfileEntry* lent, size_t count) {
  section->entries.Lend(lent, count);
  Reindex(section);
}

ProfileEntry* FindEntry(ProfileSection* section, const char* key, size_t length) {
  uint32_t hash = HashName(key, length);
  ProfileEntry* entries = section->entries.data();
  size_t count = section->entries.size();
  if (count <= kKeyTableThreshold) {
    for (uint32_t matches = TagMatches(section->keyTags, count, KeyTag(hash)); matches != 0;
         matches &= matches - 1) {
      ProfileEntry& entry = entries[__builtin_ctz(matches)];
      if (entry.keyHash == hash && NamesEqual(entry.key.data(), entry.key.size(), key, length)) {
        return &entry;
      }
    }
    return nullptr;
  }
  const std::vector<uint32_t>& table = section->keyTable;
  size_t mask = table.size() - 1;
  for (size_t slot = hash & mask; table[slot] != 0; slot = (slot + 1) & mask) {
    ProfileEntry& entry = entries[table[slot] - 1];
    if (entry.keyHash == hash && NamesEqual(entry.key.data(), entry.key.size(), key, length)) {
      return &entry;
    }
  }
  return nullptr;
}

void AppendEntry(ProfileSection* section, ProfileEntry entry) {
  entry.keyHash = HashName(entry.key.data(), entry.key.size());
  section->entries.push_back(std::move(entry));
  size_t count = section->entries.size();
  if (count <= kKeyTableThreshold) {
    section->keyTags[count - 1] = KeyTag(section->entries.back().keyHash);
  } else if (count * 2 > section->keyTable.size()) {
    Reindex(section);
  } else {
    InsertKey(section, static_cast<uint32_t>(count - 1));
  }
}

void EraseEntry(ProfileSection* section, ProfileEntry* entry) {
  section->entries.erase(section->entries.begin() + (entry - section->entries.data()));
  Reindex(section);
}

ProfileSection* FindSection(ProfileFile* file, const char* name, size_t length) {
  assert(file->indexedSections + file->shadowedSections == file->sections.size());
  if (file->sectionTable.empty()) return nullptr;
  SectionSlot& found =
      file->sectionTable[ProbeSection(*file, name, length, HashName(name, length))];
  ProfileSection* section = found.section;
  if (section == nullptr) return nullptr;
  // A section small enough to scan is a few cache lines of entries and of
  // text after its header, where its keys and values usually are: both are
  // fetched while the section itself is.
  size_t bytes = std::min<size_t>(found.entryCount, kKeyTableThreshold) * sizeof(ProfileEntry);
  PrefetchBytes(found.entries, bytes);
  PrefetchBytes(found.name, bytes);
  if (found.entries != section->entries.data() || found.entryCount != section->entries.size()) {
    found.entries = section->entries.data();
    found.entryCount = static_cast<uint32_t>(section->entries.size());
  }
  return section;
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
