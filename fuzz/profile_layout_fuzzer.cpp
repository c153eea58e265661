// The layout-keeping write-back on any file (8-bit or UTF-16LE, lines joined
// or not) with random journals of set, delete-section and delete-entry
// changes.  Checked against a model kept independently of the editor:
//  - the result reads back as the file's records with the changes applied
//    (sections, entries, values, quoted flags, order, duplicates), whenever
//    the whole-file writer can carry those records at all;
//  - when the file was edited in place, every byte of the file outside the
//    lines the changes name is still there, in order (the file's last line
//    may gain a line end);
//  - a journal that changes no record gives the file's own bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "profile/profile_layout.h"
#include "profile/profile_reader.h"
#include "profile/profile_writer.h"
#include "profile_record_model.h"

namespace inireg {
namespace fuzz {
namespace {

using model::Apply;
using model::Entry;
using model::Load;
using model::Records;
using model::Section;
using model::Trim;

// Whether the whole-file writer can write these records so that they read
// back the same: what the format cannot carry is no test of the editor.
bool Carriable(const Records& records, bool join) {
  ProfileFile file;
  file.joinContinuations = join;
  for (const Section& section : records) {
    ProfileSection* copy = AppendSection(&file, section.name);
    for (const Entry& entry : section.entries)
      AppendEntry(copy, ProfileEntry{entry.key, entry.value, entry.quoted});
  }
  Records back = Load(RenderProfileFile(file), join, nullptr);
  return back == records;
}

std::string Describe(const Records& records) {
  std::string text;
  for (const Section& section : records) {
    text += "[" + Escape(section.name) + "]";
    for (const Entry& entry : section.entries) {
      text += Escape(entry.key) + "=" + (entry.quoted ? "\"" : "") + Escape(entry.value) +
              (entry.quoted ? "\"" : "") + ";";
    }
  }
  return text;
}

// The byte ranges of `original` that no change names, split where the
// editor may insert lines, checked to appear in `result` in order.
void CheckKeptBytes(const std::string& original, const std::string& result, const Records& loaded,
                    const Records& expected, const ProfileSourceMap& sources, bool wide) {
  std::vector<std::pair<size_t, size_t>> dropped;  // Ranges changed or deleted.
  std::vector<size_t> cuts;                        // Where lines may be inserted.
  for (const Section& section : loaded) {
    size_t index = section.fileIndex;
    size_t regionEnd =
        index + 1 < sources.headers.size() ? sources.headers[index + 1].begin : original.size();
    const Section* now = nullptr;
    for (const Section& candidate : expected) {
      if (candidate.fileIndex == index) now = &candidate;
    }
    if (now == nullptr) {
      dropped.emplace_back(sources.headers[index].begin, regionEnd);
      continue;
    }
    ProfileSourceMap::Spans spans = sources.EntriesOf(index);
    cuts.push_back(spans.empty() ? sources.headers[index].end : spans.back().end);
    for (const Entry& entry : section.entries) {
      const Entry* kept = nullptr;
      for (const Entry& candidate : now->entries) {
        if (candidate.fileIndex == entry.fileIndex) kept = &candidate;
      }
      if (kept == nullptr || !(*kept == entry)) {
        dropped.emplace_back(spans[entry.fileIndex].begin, spans[entry.fileIndex].end);
      }
    }
  }
  std::vector<bool> gone(original.size(), false);
  for (const auto& range : dropped) {
    for (size_t i = range.first; i < range.second; ++i) gone[i] = true;
  }
  std::vector<bool> cut(original.size() + 1, false);
  for (size_t at : cuts) cut[at] = true;
  size_t searchFrom = 0;
  size_t i = 0;
  while (i < original.size()) {
    if (gone[i]) {
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < original.size() && !gone[end] && !cut[end]) ++end;
    std::string piece = original.substr(i, end - i);
    if (end == original.size()) {
      // The last line may gain a line end, or a space before it (or before
      // a carriage return that becomes part of the new line end).
      const std::string lineEnds[] = {wide ? std::string("\r\0\n\0", 4) : "\r\n",
                                      wide ? std::string("\n\0", 2) : "\n",
                                      wide ? std::string("\r\0", 2) : "\r"};
      for (const std::string& lineEnd : lineEnds) {
        if (piece.size() >= lineEnd.size() &&
            piece.compare(piece.size() - lineEnd.size(), lineEnd.size(), lineEnd) == 0) {
          piece.resize(piece.size() - lineEnd.size());
          break;
        }
      }
    }
    size_t found = result.find(piece, searchFrom);
    if (found == std::string::npos) {
      Fail("bytes " + std::to_string(i) + " to " + std::to_string(end) + " of the file (" +
           Escape(piece) + ") are not kept in order\nfile:   " + Escape(original) +
           "\nresult: " + Escape(result));
    }
    searchFrom = found + piece.size();
    i = end;
  }
}

const char* const kPieces[] = {"\n", "\r\n", "=", "[", "]", "\"", "'",        " ",
                               "\t", "\\",   ";", "a", "S", "k",  "\xC3\xA9", "\xFF"};

std::string Text(FuzzedDataProvider& input, const char* const* names, size_t count) {
  if (input.ConsumeBool()) return names[input.ConsumeIntegralInRange<size_t>(0, count - 1)];
  std::string text;
  int pieces = input.ConsumeIntegralInRange(0, 4);
  for (int i = 0; i < pieces; ++i) {
    if (input.ConsumeBool()) {
      text += input.PickValueInArray(kPieces);
    } else {
      text += input.ConsumeBytesAsString(input.ConsumeIntegralInRange(0, 3));
    }
  }
  for (char& c : text) {
    if (c == '\0') c = '0';  // The engine takes C strings.
  }
  return text;
}

// A file made of lines a person might write, around the names the changes use.
std::string LikelyFile(FuzzedDataProvider& input, const char* const* sections, size_t sectionCount,
                       const char* const* keys, size_t keyCount) {
  static const char* const kLineEnds[] = {"\n", "\r\n", "\n", "\\\n"};
  static const char* const kOthers[] = {"; comment", "# note = 1", "",
                                        "  ",        "no equals",  "=empty key",
                                        "[unclosed", "\"quoted\"", "[x] trailing"};
  std::string text;
  int lines = input.ConsumeIntegralInRange(0, 30);
  for (int i = 0; i < lines; ++i) {
    switch (input.ConsumeIntegralInRange(0, 5)) {
      case 0:
        text += std::string("[") +
                sections[input.ConsumeIntegralInRange<size_t>(0, sectionCount - 1)] + "]";
        break;
      case 1:
      case 2:
        text += std::string(input.ConsumeBool() ? "  " : "") +
                keys[input.ConsumeIntegralInRange<size_t>(0, keyCount - 1)] +
                (input.ConsumeBool() ? " = " : "=") +
                input.ConsumeBytesAsString(input.ConsumeIntegralInRange(0, 4));
        break;
      case 3:
        text += input.PickValueInArray(kOthers);
        break;
      default:
        text += input.ConsumeBytesAsString(input.ConsumeIntegralInRange(0, 6));
        break;
    }
    if (i + 1 < lines || input.ConsumeBool()) text += input.PickValueInArray(kLineEnds);
  }
  return text;
}

void Run(FuzzedDataProvider& input) {
  static const char* const kSections[] = {"s", "S", " s ", "t", "[t]", "u]", "a"};
  static const char* const kKeys[] = {"k", "K", " k ", "j", "\"q\"", "x"};
  bool join = input.ConsumeBool();
  int form = input.ConsumeIntegralInRange(0, 2);
  std::string text = input.ConsumeBool() ? LikelyFile(input, kSections, 7, kKeys, 6)
                                         : input.ConsumeRandomLengthString(3000);
  std::string original;
  if (form == 0) {
    original = text;
  } else {
    // UTF-16LE: each byte widened (readable lines), or the bytes as they are.
    original = "\xFF\xFE";
    for (char c : text) {
      original += c;
      if (form == 1) original += '\0';
    }
  }

  ProfileJournal changes;
  int count = input.ConsumeIntegralInRange(0, 12);
  for (int i = 0; i < count && input.remaining_bytes() > 0; ++i) {
    ProfileChange change;
    int kind = input.ConsumeIntegralInRange(0, 5);
    change.kind = kind == 0   ? ProfileChange::Kind::kDeleteSection
                  : kind == 1 ? ProfileChange::Kind::kDeleteEntry
                              : ProfileChange::Kind::kSetEntry;
    change.section = Text(input, kSections, 7);
    if (change.kind != ProfileChange::Kind::kDeleteSection) {
      change.section = Trim(change.section);
      change.key = Trim(Text(input, kKeys, 6));
    }
    if (change.kind == ProfileChange::Kind::kSetEntry) change.value = Text(input, kSections, 7);
    changes.push_back(change);
  }

  ProfileSourceMap sources;
  Records loaded = Load(original, join, &sources);
  Records expected = loaded;
  for (const ProfileChange& change : changes) Apply(&expected, change);

  bool inPlace = false;
  std::string result = ApplyChangesKeepingLayout(original, changes, join, &inPlace);
  if (expected == loaded) {
    // The same records of the file, not deleted and added again alike.
    bool same = expected.size() == loaded.size();
    for (size_t i = 0; same && i < expected.size(); ++i) {
      same = expected[i].fileIndex == loaded[i].fileIndex;
      for (size_t j = 0; same && j < expected[i].entries.size(); ++j) {
        same = expected[i].entries[j].fileIndex == loaded[i].entries[j].fileIndex;
      }
    }
    if (same && result != original) Fail("changes that change no record changed the file");
  }
  if (!Carriable(expected, join)) return;
  Records back = Load(result, join, nullptr);
  if (!(back == expected)) {
    Fail("the result reads back as " + Describe(back) + "\nexpected " + Describe(expected) +
         "\nfile:   " + Escape(original) + "\nresult: " + Escape(result));
  }
  if (inPlace) CheckKeptBytes(original, result, loaded, expected, sources, form != 0);
}

}  // namespace
}  // namespace fuzz
}  // namespace inireg

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  inireg::fuzz::Run(input);
  return 0;
}
