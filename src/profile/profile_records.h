// The in-memory form of a parsed profile file: its records (sections and
// their entries, in file order) and the indexes that find a section or key
// by name.  The reader fills them (profile_reader.h), the writer renders
// them (profile_writer.h).
//
// Only what the reader keeps survives a whole-file write-back: section
// headers, entries, their order (duplicates included), whether a value was
// quoted and a UTF-8 byte-order mark.  Blank lines, comments, lines without
// "=" and text after a header's closing bracket are dropped.  (The engine's
// layout-keeping write-back edits the file's own lines instead.)
#ifndef INIREG_PROFILE_PROFILE_RECORDS_H_
#define INIREG_PROFILE_PROFILE_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "inireg/profile_engine.h"
#include "platform/file_system.h"
#include "profile/line_search.h"
#include "profile/name_hash.h"
#include "profile/node_pool.h"
#include "profile/profile_entries.h"
#include "profile/profile_journal.h"
#include "profile/profile_line.h"
#include "profile/profile_text.h"

namespace inireg {

// Sections of at most this many entries are searched by a scan of their key
// tags; larger ones also have a table.
constexpr size_t kKeyTableThreshold = 16;

struct ProfileSection {
  // What a lookup reads of a section comes first and takes 56 bytes: the
  // entries' address and count, and the key tags.
  ProfileEntries entries;  // In file order, duplicates kept.
  // The key index, kept by AppendEntry, EraseEntry and SetEntries.  keyTags[i]
  // is the high half of entries[i].keyHash for the first kKeyTableThreshold
  // entries, so that a scan compares the full hash and the key only where
  // the tag matches.  A section of more than kKeyTableThreshold entries also
  // has keyTable, an open-addressing table (linear probing, size a power of
  // two) of entry index + 1 (0: free) holding the first entry of each key.
  // A deletion rebuilds the table.
  uint16_t keyTags[kKeyTableThreshold] = {};
  ProfileText name;  // As written between the brackets, or trimmed by a write.
  std::vector<uint32_t> keyTable;
};

// The first entry of the section whose key equals `key` under CompareNoCase,
// or null.
ProfileEntry* FindEntry(ProfileSection* section, const char* key, size_t length);
// Appends an entry and indexes it (unless an earlier entry has its key).
void AppendEntry(ProfileSection* section, ProfileEntry entry);
// Deletes `entry`, one of the section's, and reindexes the section.
void EraseEntry(ProfileSection* section, ProfileEntry* entry);
// Gives the section the `count` entries the reader built at `lent` in the
// file's EntryArena, and indexes them.  The reader has set each keyHash.
void SetEntries(ProfileSection* section, ProfileEntry* lent, size_t count);

// Bytes allocated past the end of a file's text, zero-filled: room for the
// reader's line scan (LineScanner) and for a word-wise read of a short name
// (HashNameInBuffer) that end near it.
constexpr size_t kTextPadding = LineScanner::kPadding;
static_assert(kTextPadding >= kShortName, "a short name's words must be readable");

using ProfileSectionList = std::list<ProfileSection, PooledAllocator<ProfileSection>>;

struct ProfileFile {
  ProfileFile() = default;
  // Moving keeps the list's nodes, so the section index stays right; a copy
  // would index the original's sections.
  ProfileFile(ProfileFile&&) = default;
  ProfileFile& operator=(ProfileFile&&) = default;
  ProfileFile(const ProfileFile&) = delete;
  ProfileFile& operator=(const ProfileFile&) = delete;

  std::string path;  // Whole, as the first caller named it.
  // The file's bytes as read, which most names and values are spans of
  // (profile_text.h).  Allocated once per load and never moved or changed,
  // with kTextPadding zero bytes past the file's last byte.
  std::unique_ptr<char[]> text;
  // The names and values of the lines the reader built, which are not in
  // `text`.
  ProfileTextArena builtText;
  // Where the reader puts the sections' entry arrays.  Declared before
  // `sections`, so that it is destroyed after them; its assignment swaps, so
  // that a record assigned from another keeps its old sections' memory
  // until they are gone.
  EntryArena entryArena;
  // In file order, duplicates kept.  A list, so that a ProfileSection pointer
  // stays valid while other sections are added or deleted, with its nodes
  // in a pool of its own.  Change it only through AppendSection,
  // EraseSection and ClearSections, which keep the section index right.
  ProfileSectionList sections;
  bool dirty = false;
  bool joinContinuations = false;
  bool keepQuotes = false;
  bool wideText = false;
  bool loaded = false;
  // The file exists but could not be read: the record holds nothing of it,
  // so it must never be written back over the file.
  bool unreadable = false;
  // The file began with the UTF-8 byte-order mark EF BB BF; it is read as if
  // absent and written back.
  bool utf8Bom = false;
  // Write-backs edit the file's own lines (profile_layout.h) instead of
  // rewriting it from the records.
  bool keepLayout = false;

  // The file as loaded (or last written back): its identity, when that was
  // taken (Unix time, ns) and a hash of its bytes, for telling whether the
  // file on disk is still the one these records came from.
  FileIdentity identity;
  int64_t identityTakenNs = 0;
  uint64_t contentHash = 0;
  // The changes made since then, replayed onto the file when it changed on
  // disk.  Empty while the record is clean.
  ProfileJournal journal;

  // The section index: an open-addressing table (linear probing, size a
  // power of two, at most three quarters full) holding, for each distinct
  // name, the first section of that name in file order.
  // The slot repeats the name's address and size, so that a probe compares
  // the name while the section itself is still being fetched.  It also
  // remembers where the section's entries were and how many when a lookup
  // last found it: FindSection fetches those entries, and as many bytes of
  // text after the header (where the keys and values usually are), ahead of
  // time, so that what a lookup wants is on its way while the section's key
  // tags are read.  Only a hint: fetching from where they no longer are
  // costs a little time and is never wrong; each FindSection updates it.
  struct SectionSlot {
    ProfileSection* section = nullptr;  // Null: free.
    const char* name = nullptr;         // section->name's bytes.
    const ProfileEntry* entries = nullptr;
    uint32_t entryCount = 0;
    uint32_t nameSize = 0;
    uint32_t hash = 0;
  };
  std::vector<SectionSlot> sectionTable;
  size_t indexedSections = 0;  // Occupied slots.
  // Sections not in the index because an earlier one has their name.
  size_t shadowedSections = 0;
};

// The first section named `name` (compared under CompareNoCase), or null.
ProfileSection* FindSection(ProfileFile* file, const char* name, size_t length);
// Appends an empty section named `name` and indexes it when it is the first
// of its name.
ProfileSection* AppendSection(ProfileFile* file, ProfileText name);
// Deletes the first section named `name`; false when there is none.  The
// next section of that name, if any, takes its place in the index.
bool EraseSection(ProfileFile* file, const char* name, size_t length);
// Deletes every section.
void ClearSections(ProfileFile* file);

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_RECORDS_H_
