// A plain model of a profile file's records and of what the engine's writes
// do to them, written apart from the engine so that the layout-keeping
// editor can be checked against it (by its tests and by its fuzzer).
#ifndef INIREG_TESTS_PROFILE_RECORD_MODEL_H_
#define INIREG_TESTS_PROFILE_RECORD_MODEL_H_

#include <string>
#include <vector>

#include "profile/profile_journal.h"
#include "profile/profile_layout.h"

namespace inireg {
namespace model {

constexpr size_t kNotInFile = static_cast<size_t>(-1);

struct Entry {
  std::string key, value;
  bool quoted;
  size_t fileIndex = kNotInFile;  // Its index among its section's entries in the file.
  bool operator==(const Entry& o) const {
    return key == o.key && value == o.value && quoted == o.quoted;
  }
};
struct Section {
  std::string name;
  std::vector<Entry> entries;
  size_t fileIndex = kNotInFile;
  bool operator==(const Section& o) const { return name == o.name && entries == o.entries; }
};
using Records = std::vector<Section>;

// The records `file` holds.
inline Records Of(const ProfileFile& file) {
  Records records;
  for (const ProfileSection& section : file.sections) {
    records.push_back(Section{section.name.str(), {}, records.size()});
    for (const ProfileEntry& entry : section.entries) {
      records.back().entries.push_back(
          Entry{entry.key.str(), entry.value.str(), entry.quoted, records.back().entries.size()});
    }
  }
  return records;
}

// The records the reader makes of `bytes`.
inline Records Load(const std::string& bytes, bool join, ProfileSourceMap* sources = nullptr) {
  ProfileFile file;
  file.joinContinuations = join;
  LoadProfileText(bytes, &file, sources);
  return Of(file);
}

inline bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

inline std::string Trim(const std::string& text) {
  const char* space = " \t\n\v\f\r";
  size_t begin = text.find_first_not_of(space);
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(space) + 1 - begin);
}

// What the engine's write does to the records: the first section and entry
// of a name, values trimmed and one pair of enclosing quotes taken off, an
// empty value keeping the entry's quotes.
inline void Apply(Records* records, const ProfileChange& change) {
  auto findSection = [records](const std::string& name) {
    for (auto it = records->begin(); it != records->end(); ++it) {
      if (SameName(it->name, name)) return it;
    }
    return records->end();
  };
  if (change.kind == ProfileChange::Kind::kDeleteSection) {
    auto section = findSection(change.section);
    if (section != records->end()) records->erase(section);
    return;
  }
  std::string name = Trim(change.section), key = Trim(change.key);
  if (name.empty() || key.empty()) return;
  auto section = findSection(name);
  Entry* entry = nullptr;
  if (section != records->end()) {
    for (Entry& candidate : section->entries) {
      if (SameName(candidate.key, key)) {
        entry = &candidate;
        break;
      }
    }
  }
  if (change.kind == ProfileChange::Kind::kDeleteEntry) {
    if (entry != nullptr)
      section->entries.erase(section->entries.begin() + (entry - section->entries.data()));
    return;
  }
  std::string value = Trim(change.value);
  bool quoted =
      value.size() > 1 && value.front() == value.back() && (value[0] == '"' || value[0] == '\'');
  if (quoted) value = value.substr(1, value.size() - 2);
  if (value.empty() && !quoted && entry != nullptr) quoted = entry->quoted;
  if (section == records->end()) {
    records->push_back(Section{name, {}});
    section = records->end() - 1;
  }
  if (entry != nullptr) {
    entry->value = value;
    entry->quoted = quoted;
  } else {
    section->entries.push_back(Entry{key, value, quoted});
  }
}

inline Records Applied(Records records, const ProfileJournal& changes) {
  for (const ProfileChange& change : changes) Apply(&records, change);
  return records;
}

}  // namespace model
}  // namespace inireg

#endif  // INIREG_TESTS_PROFILE_RECORD_MODEL_H_
