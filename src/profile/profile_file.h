// The in-memory form of a parsed profile file, how a file on disk is read
// into it and how it is written back.
//
// Only what the reader keeps survives a write-back: section headers, entries,
// their order (duplicates included) and whether a value was quoted.  Blank
// lines, comments, lines without "=" and text after a header's closing
// bracket are dropped.
#ifndef INIREG_PROFILE_PROFILE_FILE_H_
#define INIREG_PROFILE_PROFILE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "inireg/profile_engine.h"

namespace inireg {

class File;

// The reader's and writer's line limit: 32767 characters and a terminator.
constexpr size_t kLineBufferSize = 32768;
// Paths are kept to their first 299 characters.
constexpr size_t kMaxPathLength = 299;

struct ProfileEntry {
  std::string key;    // Trimmed; never empty.
  std::string value;  // Trimmed, without its enclosing quotes; may be empty.
  bool quoted = false;
};

// Section names and keys never hold a NUL (the reader ends a line at one and
// writes take C strings), so two names compare equal under CompareNoCase
// exactly when they have the same length and the same bytes after ASCII case
// folding.  The indexes below rely on that.

// HashName and NamesEqual are inline: every lookup runs them, on names of a
// few words.
namespace name_detail {

constexpr uint64_t kEachByte = 0x0101010101010101ull;

// Folds the letters A to Z of all eight bytes to lower case, as FoldCase does
// byte by byte.  No carry crosses a byte: each sum stays below 0x100.
inline uint64_t FoldWord(uint64_t word) {
  uint64_t low = word & (0x7F * kEachByte);
  uint64_t atLeastA = low + (0x80 - 'A') * kEachByte;
  uint64_t aboveZ = low + (0x80 - 'Z' - 1) * kEachByte;
  uint64_t upper = atLeastA & ~aboveZ & ~word & (0x80 * kEachByte);
  return word | (upper >> 2);
}

inline uint64_t LoadWord(const char* text) {
  uint64_t word;
  std::memcpy(&word, text, 8);
  return word;
}

// The first `count` (1 to 7) bytes, the rest zero.  Built from loads of the
// bytes themselves: a memcpy into a zeroed word compiles to byte stores that
// the word's load must wait for.
inline uint64_t LoadPart(const char* text, size_t count) {
  if (count >= 4) {
    uint32_t low, high;
    std::memcpy(&low, text, 4);
    std::memcpy(&high, text + count - 4, 4);  // Overlaps `low` for count < 8.
    return low | (static_cast<uint64_t>(high) << (8 * (count - 4)));
  }
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  return bytes[0] | (static_cast<uint64_t>(bytes[count / 2]) << (8 * (count / 2))) |
         (static_cast<uint64_t>(bytes[count - 1]) << (8 * (count - 1)));
}

// The last eight bytes of a text of at least eight, for its final part: the
// bytes it shares with the word before are the same in both texts compared
// (or hashed) at equal length, so the overlap changes no result.
inline uint64_t LoadTail(const char* text, size_t length) { return LoadWord(text + length - 8); }

inline uint64_t Mix(uint64_t hash, uint64_t word) {
  hash = (hash ^ word) * 0xBF58476D1CE4E5B9ull;
  return hash ^ (hash >> 31);
}

}  // namespace name_detail

// A hash of `length` bytes of `text` that is the same for names equal under
// CompareNoCase.
inline uint32_t HashName(const char* text, size_t length) {
  using namespace name_detail;
  uint64_t hash = 0x9E3779B97F4A7C15ull ^ length;
  if (length < 8) {
    if (length > 0) hash = Mix(hash, FoldWord(LoadPart(text, length)));
  } else {
    size_t whole = length - 8;  // Bytes before the tail.
    for (size_t i = 0; i < whole; i += 8) hash = Mix(hash, FoldWord(LoadWord(text + i)));
    hash = Mix(hash, FoldWord(LoadTail(text, length)));
  }
  hash *= 0x94D049BB133111EBull;
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

// Whether the two names are equal under CompareNoCase.
inline bool NamesEqual(const char* a, size_t aLength, const char* b, size_t bLength) {
  using namespace name_detail;
  if (aLength != bLength) return false;
  if (aLength < 8) return aLength == 0 || FoldWord(LoadPart(a, aLength)) == FoldWord(LoadPart(b, aLength));
  size_t whole = aLength - 8;
  for (size_t i = 0; i < whole; i += 8) {
    if (FoldWord(LoadWord(a + i)) != FoldWord(LoadWord(b + i))) return false;
  }
  return FoldWord(LoadTail(a, aLength)) == FoldWord(LoadTail(b, aLength));
}

// Sections of at most this many entries are searched by a scan of their key
// hashes; larger ones also have a table.
constexpr size_t kKeyTableThreshold = 16;

struct ProfileSection {
  std::string name;  // As written between the brackets, or trimmed by a write.

  // The key index, kept by AppendEntry.  The HashName of entries[i].key is
  // smallKeyHashes[i] for the first kKeyTableThreshold entries and
  // keyHashes[i - kKeyTableThreshold] after them; hashedEntries counts the
  // entries hashed.  The first hashes lie beside the name, in the lines a
  // lookup reads anyway, so that the entry is fetched while the name is
  // still being compared.  A section of more than kKeyTableThreshold entries
  // also has keyTable, an open-addressing table (linear probing, size a
  // power of two) of entry index + 1 (0: free) holding the first entry of
  // each key.  Entries are never removed, so the index only grows.
  uint32_t smallKeyHashes[kKeyTableThreshold] = {};
  uint32_t hashedEntries = 0;

  std::vector<ProfileEntry> entries;  // In file order, duplicates kept.
  std::vector<uint32_t> keyHashes;
  std::vector<uint32_t> keyTable;
};

// The first entry of the section whose key equals `key` under CompareNoCase,
// or null.
ProfileEntry* FindEntry(ProfileSection* section, const char* key, size_t length);
// Appends an entry and indexes it (unless an earlier entry has its key).
void AppendEntry(ProfileSection* section, ProfileEntry entry);

struct ProfileFile {
  ProfileFile() = default;
  // Moving keeps the list's nodes, so the section index stays right; a copy
  // would index the original's sections.
  ProfileFile(ProfileFile&&) = default;
  ProfileFile& operator=(ProfileFile&&) = default;
  ProfileFile(const ProfileFile&) = delete;
  ProfileFile& operator=(const ProfileFile&) = delete;

  std::string path;
  // In file order, duplicates kept.  A list, so that a ProfileSection pointer
  // stays valid while other sections are added or deleted.  Change it only
  // through AppendSection, EraseSection and ClearSections, which keep the
  // section index right.
  std::list<ProfileSection> sections;
  bool dirty = false;
  bool joinContinuations = false;
  bool keepQuotes = false;
  bool wideText = false;
  bool loaded = false;
  // The file exists but could not be read: the record holds nothing of it,
  // so it must never be written back over the file.
  bool unreadable = false;

  // The section index: an open-addressing table (linear probing, size a
  // power of two, at most three quarters full) holding, for each distinct
  // name, the first section of that name in file order.
  struct SectionSlot {
    ProfileSection* section = nullptr;  // Null: free.
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
ProfileSection* AppendSection(ProfileFile* file, std::string name);
// Deletes the first section named `name`; false when there is none.  The
// next section of that name, if any, takes its place in the index.
bool EraseSection(ProfileFile* file, const char* name, size_t length);
// Deletes every section.
void ClearSections(ProfileFile* file);

// Whitespace as the reader and the writes trim it: space, tab, line feed,
// vertical tab, form feed and carriage return.  Bytes above 127 never are.
inline bool IsProfileSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Trims `text` in place: trailing whitespace is overwritten with terminators
// when `trailing` is set; the result is the first character after leading
// whitespace when `leading` is set, otherwise `text`.  Null stays null.
char* TrimText(char* text, bool leading, bool trailing);

// Splits a value as a file line's value is read: leading and trailing
// whitespace removed, then one enclosing pair of double or single quotes.
// Returns the value's text (inside `text`, which is changed) and sets
// `quoted` when a pair was removed.
char* ParseValue(char* text, bool* quoted);

// Parses an entry line (changed in place).  Returns true and fills `entry`
// for a line "key = value"; false for a line without "=" or with an empty key,
// setting `emptyKey` in the latter case.
bool ParseEntry(char* line, ProfileEntry* entry, bool* emptyKey);

// Opens `path` for reading (fails at once when it does not exist) or for
// writing, with up to ten tries and a pause of 30 to 279 ms after each failed
// one.
enum class OpenMode { kRead, kWrite };
std::unique_ptr<File> OpenFileRetry(const std::string& path, OpenMode mode);

// Fills an empty, not yet loaded record from its file.  An absent file gives
// a profile without sections; an existing file that cannot be read gives one
// marked unreadable.
void LoadProfileFile(ProfileFile* file);

// The text the file is written back as.
std::string RenderProfileFile(const ProfileFile& file);

// Writes the record back to its file.  Returns 1 when written, 0 when the file
// could not be replaced (after printing "COULDN'T OPEN FILE"), leaving the file
// on disk as it was.
int ProfileSave(const ProfileFile& file);

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_FILE_H_
