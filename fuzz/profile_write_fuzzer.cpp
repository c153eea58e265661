// Random sequences of ProfileWriteString with hostile sections, keys and
// values.  Each write is checked against a model of what it must do: an
// accepted write changes exactly its entry (or deletes its section), a
// refused one changes nothing at all, and the model decides which writes the
// file format can carry.  At the end the file is written back and reloaded,
// and must hold exactly what the cache held.  Half the inputs first change
// the file on disk behind the engine's back: the write-back must then give
// what the same writes give when made on the changed file (the merge).  Half
// the inputs keep the file's layout, a share go through the real file system
// (temporary file, lock, rename; no flushes) in a scratch folder.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <vector>

#include "inireg/profile_engine.h"
#include "memory_file_system.h"
#include "platform/file_system.h"
#include "profile/profile_cache.h"
#include "profile/profile_reader.h"
#include "unflushed_file_system.h"

namespace inireg {
namespace fuzz {
namespace {

const char kMemoryPath[] = "/fuzz/write.ini";
// The file the input writes: in memory, or in a scratch folder.
std::string path = kMemoryPath;
constexpr size_t kLongestLine = 32767;

struct Entry {
  std::string key, value;
  bool quoted;
  bool operator==(const Entry& o) const {
    return key == o.key && value == o.value && quoted == o.quoted;
  }
};
struct Section {
  std::string name;
  std::vector<Entry> entries;
  bool operator==(const Section& o) const { return name == o.name && entries == o.entries; }
};
struct Model {
  std::list<Section> sections;
  bool dirty = false;
  bool operator==(const Model& o) const { return sections == o.sections && dirty == o.dirty; }
};

Model ToModel(const ProfileFile& file) {
  Model model;
  model.dirty = file.dirty;
  for (const ProfileSection& section : file.sections) {
    Section copy{section.name.str(), {}};
    for (const ProfileEntry& entry : section.entries) {
      copy.entries.push_back(Entry{entry.key.str(), entry.value.str(), entry.quoted});
    }
    model.sections.push_back(std::move(copy));
  }
  return model;
}

Model Snapshot() {
  ProfileEngineLock lock;
  return ToModel(*ProfileOpen(path.c_str()));
}

// Whether the cached record holds exactly `model`, compared in place: a copy
// of the record after every write would cost more than the write.
bool CacheHolds(const Model& model) {
  ProfileEngineLock lock;
  const ProfileFile& file = *ProfileOpen(path.c_str());
  if (file.dirty != model.dirty || file.sections.size() != model.sections.size()) return false;
  auto section = model.sections.begin();
  for (const ProfileSection& held : file.sections) {
    if (held.name != section->name || held.entries.size() != section->entries.size()) return false;
    for (size_t i = 0; i < held.entries.size(); ++i) {
      const Entry& entry = section->entries[i];
      const ProfileEntry& heldEntry = held.entries[i];
      if (heldEntry.key != entry.key || heldEntry.value != entry.value ||
          heldEntry.quoted != entry.quoted) {
        return false;
      }
    }
    ++section;
  }
  return true;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
std::string Trim(const std::string& text) {
  size_t start = 0, end = text.size();
  while (start < end && IsSpace(text[start])) ++start;
  while (end > start && IsSpace(text[end - 1])) --end;
  return text.substr(start, end - start);
}
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}
// memchr rather than find_first_of, which calls memchr once per byte of the
// text: values run to 240,000 bytes.
bool Holds(const std::string& text, char c) {
  return std::memchr(text.data(), c, text.size()) != nullptr;
}
bool HasLineBreak(const std::string& text) { return Holds(text, '\r') || Holds(text, '\n'); }

// What the write must do to `model`; returns the result it must give, and
// sets `*changed` when the write changes the records.
int32_t Apply(Model* model, const std::string* section, const std::string* key,
              const std::string* value, bool joinContinuations, bool* changed) {
  *changed = false;
  if (section == nullptr || section->empty()) return 0;
  if (key == nullptr || key->empty()) {
    // Deletes the first section of exactly that (untrimmed) name, if any.
    for (auto it = model->sections.begin(); it != model->sections.end(); ++it) {
      if (SameName(it->name, *section)) {
        model->sections.erase(it);
        *changed = true;
        break;
      }
    }
    model->dirty = true;
    return 1;
  }
  std::string name = Trim(*section), keyName = Trim(*key);
  std::string text = Trim(value != nullptr ? *value : "");
  bool quoted = text.size() > 1 && text.front() == text.back() &&
                (text.front() == '"' || text.front() == '\'');
  if (quoted) text = text.substr(1, text.size() - 2);
  if (name.empty()) return 0;

  Section* found = nullptr;
  for (Section& candidate : model->sections) {
    if (SameName(candidate.name, name)) {
      found = &candidate;
      break;
    }
  }
  Entry* entry = nullptr;
  if (found != nullptr && !keyName.empty()) {
    for (Entry& candidate : found->entries) {
      if (SameName(candidate.key, keyName)) {
        entry = &candidate;
        break;
      }
    }
  }
  if (text.empty() && !quoted && entry != nullptr) quoted = entry->quoted;

  // What the file cannot carry back.
  if (HasLineBreak(name) || name.size() + 2 > kLongestLine) return 0;
  if (keyName.empty() || keyName[0] == '[' || Holds(keyName, '=') || HasLineBreak(keyName))
    return 0;
  if (HasLineBreak(text)) return 0;
  if (joinContinuations && !quoted && !text.empty() && text.back() == '\\') return 0;
  if (keyName.size() + 1 + text.size() + (quoted ? 2 : 0) > kLongestLine) return 0;

  if (found == nullptr) {
    model->sections.push_back(Section{name, {}});
    found = &model->sections.back();
  }
  if (entry == nullptr) {
    found->entries.push_back(Entry{std::move(keyName), std::move(text), quoted});
    *changed = true;
  } else if (entry->value != text || entry->quoted != quoted) {
    entry->value = std::move(text);
    entry->quoted = quoted;
    *changed = true;
  }
  model->dirty = true;
  return 1;
}

const char* const kPieces[] = {"\n", "\r", "\r\n", "=",   "[",        "]",   "\"", "'",
                               " ",  "\t", "\v",   "\f",  "\\",       ";",   "#",  "a",
                               "B",  "s",  "k",    "x y", "\xC3\xA9", "\xFF"};

std::string HostileText(FuzzedDataProvider& input) {
  std::string text;
  int pieces = input.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < pieces; ++i) {
    switch (input.ConsumeIntegralInRange(0, 4)) {
      case 0:
        text += input.PickValueInArray(kPieces);
        break;
      case 1: {
        // The engine takes C strings: a NUL would only cut the text short.
        size_t start = text.size();
        text += input.ConsumeBytesAsString(input.ConsumeIntegralInRange(0, 4));
        for (size_t at = start; at < text.size(); ++at) {
          if (text[at] == '\0') text[at] = '0';
        }
        break;
      }
      case 2: {
        // Long runs around the line limit and past it.
        size_t length =
            input.ConsumeBool() ? 40000 : input.ConsumeIntegralInRange<size_t>(32750, 32770);
        text.append(length, input.PickValueInArray({'v', ' ', '=', '\\', '"'}));
        break;
      }
      default:
        text += static_cast<char>('a' + input.ConsumeIntegralInRange(0, 3));
        break;
    }
  }
  return text;
}

// Sections and keys from a small set, so that writes meet existing entries
// (in other cases and with surrounding whitespace), or hostile text.
std::string Name(FuzzedDataProvider& input, const char* const* names, size_t count) {
  if (input.ConsumeBool()) return names[input.ConsumeIntegralInRange<size_t>(0, count - 1)];
  return HostileText(input);
}

struct Disk {
  MemoryFileSystem* memory;  // Null: the real file system.
  std::string folder;

  void Put(const std::string& contents) {
    if (memory != nullptr) {
      memory->files[path] = contents;
    } else {
      std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
    }
  }
  bool Has() const {
    return memory != nullptr ? memory->files.count(path) != 0 : std::filesystem::exists(path);
  }
  std::string Get() const {
    if (memory != nullptr)
      return memory->files.count(path) != 0 ? memory->files.at(path) : std::string();
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  size_t Files() const {
    if (memory != nullptr) return memory->files.size();
    size_t count = 0;
    for (const auto& item : std::filesystem::directory_iterator(folder))
      count += item.exists() ? 1 : 0;
    return count;
  }
};

// The records a file's bytes load as, under the option.
Model LoadBytes(const std::string& bytes, bool join) {
  MemoryFileSystem& memory = InstallMemoryFileSystem();
  FileSystem* was = CurrentFileSystem();
  SetFileSystemForTesting(&memory);
  memory.files["/fuzz/base.ini"] = bytes;
  ProfileFile file;
  file.path = "/fuzz/base.ini";
  file.joinContinuations = join;
  LoadProfileFile(&file);
  memory.files.erase("/fuzz/base.ini");
  SetFileSystemForTesting(was);
  return ToModel(file);
}

struct Write {
  std::string section, key, value;
  bool nullKey, nullValue;
};

void Run(FuzzedDataProvider& input) {
  MemoryFileSystem& memory = InstallMemoryFileSystem();
  memory.files.clear();
  static const std::string scratch = MakeScratchFolder("inireg-write-fuzz-");
  static UnflushedFileSystem unflushed;
  bool real = input.ConsumeIntegralInRange(0, 15) == 0;
  Disk disk{real ? nullptr : &memory, scratch};
  if (real) {
    SetFileSystemForTesting(&unflushed);
    path = scratch + "/write.ini";
    std::filesystem::remove(path);
  } else {
    path = kMemoryPath;
  }
  bool join = input.ConsumeBool();
  bool layout = input.ConsumeBool();
  // A file to start from; that a reload reads it the same is the load
  // harness's concern, that writes keep it intact is this one's.
  if (input.ConsumeBool()) disk.Put(input.ConsumeRandomLengthString(2000));
  if (join) {
    ProfileAddUnloaded(path.c_str());
    ProfileSetFlags(path.c_str(), 1);
  }
  if (layout) ProfileSetKeepLayout(path.c_str(), true);
  std::string before = disk.Get();
  bool existed = disk.Has();
  static const char* const kSections[] = {"s", "S", " s ", "t", "[t]", "u]"};
  static const char* const kKeys[] = {"k", "K", " k ", "j", "\"q\""};

  Model model = Snapshot();
  std::vector<Write> effective;  // The writes a merge makes again.
  bool recordsChanged = false;
  int writes = input.ConsumeIntegralInRange(1, 24);
  for (int i = 0; i < writes && input.remaining_bytes() > 0; ++i) {
    std::string section = Name(input, kSections, 6), key = Name(input, kKeys, 5);
    std::string value = HostileText(input);
    bool nullKey = input.ConsumeIntegralInRange(0, 15) == 0;
    bool nullValue = input.ConsumeIntegralInRange(0, 15) == 0;
    const std::string* keyArgument = nullKey ? nullptr : &key;
    const std::string* valueArgument = nullValue ? nullptr : &value;

    bool changes = false;
    int32_t want = Apply(&model, &section, keyArgument, valueArgument, join, &changes);
    int32_t got = ProfileWriteString(section.c_str(), nullKey ? nullptr : key.c_str(),
                                     nullValue ? nullptr : value.c_str(), path.c_str());
    if (got != want) {
      Fail("write " + std::to_string(i) + " answered " + std::to_string(got) + ", expected " +
           std::to_string(want) + " (section of " + std::to_string(section.size()) + ", key of " +
           std::to_string(key.size()) + ", value of " + std::to_string(value.size()) + " bytes)");
    }
    if (!CacheHolds(model)) {
      Fail(std::string(got == 0 ? "a refused write changed the record"
                                : "an accepted write did not do what it should") +
           " (write " + std::to_string(i) + ")");
    }
    // Every accepted set counts (the caller wrote that value, whatever was
    // there), a deletion only when it found its section.
    bool deletion = nullKey || key.empty();
    recordsChanged = recordsChanged || changes;
    if (want == 1 && (!deletion || changes)) {
      effective.push_back(
          Write{std::move(section), std::move(key), std::move(value), nullKey, nullValue});
    }
  }

  // Someone else changes the file meanwhile: the write-back must merge.
  bool concurrent = input.ConsumeBool();
  if (concurrent) {
    std::string others =
        input.ConsumeBool() ? disk.Get() + "[other]\nx=1\n" : input.ConsumeRandomLengthString(500);
    disk.Put(others);
    model = LoadBytes(others, join);
    for (const Write& write : effective) {
      bool changes;
      Apply(&model, &write.section, write.nullKey ? nullptr : &write.key,
            write.nullValue ? nullptr : &write.value, join, &changes);
    }
  }

  // Synced, the record stays cached as the file it wrote (the layout-keeping
  // write-back builds it from the changes rather than from the new bytes).
  if (input.ConsumeBool() && ProfileSync(path.c_str()).ok()) {
    Model synced = model;
    synced.dirty = false;
    if (!CacheHolds(synced)) {
      Fail(std::string("after a write-back the cached record differs from what was written") +
           (layout ? " (layout kept)" : "") + (concurrent ? " (merged)" : ""));
    }
  }

  // Written back, and read back the same.
  ProfileClose(path.c_str());
  if (disk.Files() > 1) Fail("write-back left a temporary file behind");
  if (layout && !concurrent && !recordsChanged && existed && disk.Get() != before) {
    Fail("a layout-keeping write-back of unchanged records changed the file");
  }
  if (join) {
    ProfileAddUnloaded(path.c_str());
    ProfileSetFlags(path.c_str(), 1);
  }
  Model reloaded = Snapshot();
  model.dirty = false;
  if (!(reloaded.sections == model.sections)) {
    Fail(std::string("the reloaded file differs from what was written") +
         (layout ? " (layout kept)" : "") + (real ? " (real files)" : ""));
  }
  ProfileClose(path.c_str());
  if (real) SetFileSystemForTesting(&memory);
  // Nothing of this input stays allocated, or libFuzzer would run it again
  // to look for a leak.
  memory.files.clear();
}

}  // namespace
}  // namespace fuzz
}  // namespace inireg

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  inireg::fuzz::Run(input);
  return 0;
}
