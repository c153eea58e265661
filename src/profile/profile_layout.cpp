#include "profile/profile_layout.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "profile/name_hash.h"
#include "profile/profile_change.h"
#include "profile/profile_writer.h"
#include "text/ascii_case.h"

namespace inireg {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// Logical lines at least this long (in bytes the reader may deliver) could be
// cut by the reader's line buffer; files with such lines are written whole.
// The margin covers a CR LF turned into LF and the terminator.
constexpr size_t kLongestSafeLine = kLineBufferSize - 16;

// Positions of records by folded name, in file order, deleted ones included,
// so that a long journal on a large file stays linear.
using NameIndex = std::unordered_map<std::string, std::vector<size_t>>;

std::string Trimmed(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsProfileSpace(text[begin])) ++begin;
  while (end > begin && IsProfileSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Names and values read from the file are spans of the parsed copy, which
// outlives the model; changed and added ones are copies.
struct LayoutEntry {
  ProfileText key;
  ProfileText value;
  bool quoted = false;
  bool deleted = false;
  // Read from the file (rather than added by a change), with the value it
  // had there and the bytes it came from.
  bool fromFile = false;
  ProfileText fileValue;
  bool fileQuoted = false;
  ProfileTextSpan span;

  // An entry of the file whose line must be rewritten.
  bool Changed() const {
    return fromFile && !deleted && (quoted != fileQuoted || value.view() != fileValue.view());
  }
};

struct LayoutSection {
  ProfileText name;
  bool deleted = false;
  bool fromFile = false;
  // A section read from the file: its record, and the source map's spans of
  // its entries (null when the map does not fit the records).
  const ProfileSection* source = nullptr;
  const ProfileTextSpan* spans = nullptr;
  ProfileTextSpan header;
  size_t regionEnd = 0;  // Where the next section's header starts, or the file's end.
  // The entries, the file's first, then new ones.  A file's section gets
  // them when a change first looks into it (Expand); until then its
  // entries are its record's, unchanged.  A journal touches few of a large
  // file's sections.
  bool expanded = false;
  std::vector<LayoutEntry> entries;

  void Expand() {
    if (expanded) return;
    expanded = true;
    if (source == nullptr) return;
    entries.reserve(source->entries.size());
    for (size_t i = 0; i < source->entries.size(); ++i) {
      const ProfileEntry& entry = source->entries[i];
      LayoutEntry item;
      item.key = ProfileText::Borrow(entry.key.data(), entry.key.size());
      item.value = ProfileText::Borrow(entry.value.data(), entry.value.size());
      item.fileValue = ProfileText::Borrow(entry.value.data(), entry.value.size());
      item.quoted = item.fileQuoted = entry.quoted;
      item.fromFile = true;
      if (spans != nullptr) item.span = spans[i];
      Add(std::move(item));
    }
  }

  void Add(LayoutEntry entry) {
    if (keyIndex_) (*keyIndex_)[LowerCased(entry.key.str())].push_back(entries.size());
    entries.push_back(std::move(entry));
  }
  // The first entry named `key` that is not deleted, or null.
  LayoutEntry* Find(const std::string& key) {
    Expand();
    if (entries.size() <= kKeyTableThreshold) {
      for (LayoutEntry& entry : entries) {
        if (!entry.deleted &&
            NamesEqual(entry.key.data(), entry.key.size(), key.data(), key.size())) {
          return &entry;
        }
      }
      return nullptr;
    }
    if (!keyIndex_) {
      // Indexed on first use: a journal touches few of a file's sections.
      keyIndex_ = std::make_unique<NameIndex>();
      for (size_t i = 0; i < entries.size(); ++i)
        (*keyIndex_)[LowerCased(entries[i].key.str())].push_back(i);
    }
    auto found = keyIndex_->find(LowerCased(key));
    if (found == keyIndex_->end()) return nullptr;
    for (size_t index : found->second) {
      if (!entries[index].deleted) return &entries[index];
    }
    return nullptr;
  }

 private:
  // Apart, as a large file has many sections and few large ones.
  std::unique_ptr<NameIndex> keyIndex_;
};

// The file's records with the changes applied, each remembering where in the
// file it came from.  Deleted records stay, marked, so that the writer knows
// which lines to drop.
class LayoutModel {
 public:
  // `addedHint`: how many sections the changes may add, at most.
  LayoutModel(const ProfileFile& parsed, const ProfileSourceMap& sources, size_t fileSize,
              size_t addedHint) {
    mapped_ = sources.headers.size() == parsed.sections.size() &&
              sources.firstEntries.size() == parsed.sections.size();
    size_t index = 0;
    sections.reserve(parsed.sections.size() + addedHint);
    for (const ProfileSection& section : parsed.sections) {
      sections.emplace_back();
      LayoutSection& copy = sections.back();
      copy.name = ProfileText::Borrow(section.name.data(), section.name.size());
      copy.fromFile = true;
      copy.source = &section;
      if (mapped_) {
        copy.header = sources.headers[index];
        copy.regionEnd =
            index + 1 < sources.headers.size() ? sources.headers[index + 1].begin : fileSize;
        ProfileSourceMap::Spans spans = sources.EntriesOf(index);
        copy.spans = spans.data;
        mapped_ = spans.size() == section.entries.size();
      }
      ++index;
    }
    fileSections_.reserve(sections.size());
    for (size_t i = 0; i < sections.size(); ++i) {
      fileSections_.emplace_back(HashName(sections[i].name.data(), sections[i].name.size()), i);
    }
    std::sort(fileSections_.begin(), fileSections_.end());
  }

  // Applies a change as the engine's write applied it.
  void Apply(const ProfileChange& change) {
    switch (change.kind) {
      case ProfileChange::Kind::kDeleteSection:
        if (LayoutSection* section = FindSection(change.section)) section->deleted = true;
        break;
      case ProfileChange::Kind::kDeleteEntry:
        if (LayoutSection* section = FindSection(Trimmed(change.section))) {
          if (LayoutEntry* entry = FindEntry(section, Trimmed(change.key))) entry->deleted = true;
        }
        break;
      case ProfileChange::Kind::kSetEntry:
        SetEntry(Trimmed(change.section), Trimmed(change.key), change.value);
        break;
    }
  }

  // False when the changes left every record as the file had it.
  bool Modified() const {
    for (const LayoutSection& section : sections) {
      if (section.deleted != !section.fromFile) return true;
      if (section.deleted || !section.expanded) continue;
      for (const LayoutEntry& entry : section.entries) {
        if (entry.deleted != !entry.fromFile || entry.Changed()) return true;
      }
    }
    return false;
  }

  // The records the file must read back as.
  void ToRecords(ProfileFile* file) const {
    for (const LayoutSection& section : sections) {
      if (section.deleted) continue;
      ProfileSection* copy = AppendSection(file, section.name);
      if (!section.expanded) {
        for (const ProfileEntry& entry : section.source->entries) AppendEntry(copy, entry);
        continue;
      }
      for (const LayoutEntry& entry : section.entries) {
        if (entry.deleted) continue;
        ProfileEntry record;
        record.key = entry.key;
        record.value = entry.value;
        record.quoted = entry.quoted;
        AppendEntry(copy, std::move(record));
      }
    }
  }

  // True when every record read from the file knows its bytes.
  bool mapped() const { return mapped_; }

  std::vector<LayoutSection> sections;

 private:
  void AddSection(LayoutSection section) {
    addedSections_[LowerCased(section.name.str())].push_back(sections.size());
    sections.push_back(std::move(section));
  }
  LayoutSection* FindSection(const std::string& name) {
    // The file's sections first, in file order; then the added ones.
    auto first = std::lower_bound(fileSections_.begin(), fileSections_.end(),
                                  std::make_pair(HashName(name.data(), name.size()), size_t{0}));
    for (auto it = first; it != fileSections_.end() && it->first == first->first; ++it) {
      LayoutSection& section = sections[it->second];
      if (!section.deleted &&
          NamesEqual(section.name.data(), section.name.size(), name.data(), name.size())) {
        return &section;
      }
    }
    auto found = addedSections_.find(LowerCased(name));
    if (found == addedSections_.end()) return nullptr;
    for (size_t index : found->second) {
      if (!sections[index].deleted) return &sections[index];
    }
    return nullptr;
  }
  static LayoutEntry* FindEntry(LayoutSection* section, const std::string& key) {
    return section->Find(key);
  }

  void SetEntry(const std::string& sectionName, const std::string& key,
                const std::string& rawValue) {
    if (sectionName.empty() || key.empty()) return;  // The engine refuses these.
    LayoutSection* section = FindSection(sectionName);
    if (section == nullptr) {
      LayoutSection added;
      added.name = sectionName;
      added.expanded = true;
      AddSection(std::move(added));
      section = &sections.back();
    }
    // The value is parsed as a line's value is; the engine takes C strings.
    std::vector<char> buffer(rawValue.c_str(),
                             rawValue.c_str() + std::strlen(rawValue.c_str()) + 1);
    bool nothingLeft = *TrimText(buffer.data(), true, false) == '\0';
    bool quoted = false;
    std::string value = ParseValue(buffer.data(), &quoted);
    if (LayoutEntry* entry = FindEntry(section, key)) {
      entry->value = std::move(value);
      if (!nothingLeft) entry->quoted = quoted;  // An empty value keeps the quotes it had.
      return;
    }
    LayoutEntry entry;
    entry.key = key;
    entry.value = std::move(value);
    entry.quoted = quoted;
    section->Add(std::move(entry));
  }

  bool mapped_ = true;
  // (HashName of the name, index) of every section read from the file,
  // sorted: the sections of one name lie together, in file order.
  std::vector<std::pair<uint32_t, size_t>> fileSections_;
  NameIndex addedSections_;  // Sections the changes added.
};

// 8-bit files: the lines are the bytes themselves.
struct NarrowText {
  using Unit = char;
  static bool Encode(const std::string& text, std::string* out) {
    out->append(text);
    return true;
  }
  static std::string Decode(const char* units, size_t count) { return std::string(units, count); }
  static constexpr size_t kBytesPerUnit = 1;  // At most, as the reader delivers them.
};

// UTF-16LE files: lines are read through the OEM code page, so new text is
// encoded from it, and only when the reader gets exactly that text back.
struct WideText {
  using Unit = char16_t;
  static bool Encode(const std::string& text, std::u16string* out) {
    std::u16string units;
    if (!ConvertToWideText(CodePage::kOem, text.data(), text.size(), &units)) return false;
    if (Decode(units.data(), units.size()) != text) return false;
    out->append(units);
    return true;
  }
  static std::string Decode(const char16_t* units, size_t count) {
    std::string text(ConvertWideText(CodePage::kOem, units, count, nullptr, 0, ' '), '\0');
    if (!text.empty()) ConvertWideText(CodePage::kOem, units, count, &text[0], text.size(), ' ');
    return text;
  }
  static constexpr size_t kBytesPerUnit = 3;
};

// Writes the model over the file's text (in code units), copying every byte
// that no change names.
template <class Codec>
class LayoutWriter {
 public:
  using Unit = typename Codec::Unit;
  using Text = std::basic_string<Unit>;
  using TextView = std::basic_string_view<Unit>;

  LayoutWriter(TextView text, bool joinContinuations) : text_(text), join_(joinContinuations) {
    size_t lineFeed = text_.find(Unit('\n'));
    if (lineFeed == TextView::npos) {
      Codec::Encode(kProfileLineEnd, &lineEnd_);
    } else if (lineFeed > 0 && text_[lineFeed - 1] == Unit('\r')) {
      lineEnd_ = {Unit('\r'), Unit('\n')};
    } else {
      lineEnd_ = {Unit('\n')};
    }
  }

  // True when some logical line could reach the reader's line limit, where
  // the reader cuts lines and stops joining them: where such a line's parts
  // fall depends on the bytes around it, which editing would move.
  bool HasLongLines() const {
    if (!join_) {
      // A logical line is a physical one: a long line is a stretch of
      // `longest` units without a line feed.  Looking back from the end of
      // each such stretch finds its last line feed after a few units.
      constexpr size_t longest =
          (kLongestSafeLine + Codec::kBytesPerUnit - 1) / Codec::kBytesPerUnit;
      size_t start = 0;
      while (text_.size() - start >= longest) {
        size_t lineFeed = text_.rfind(Unit('\n'), start + longest - 2);
        if (lineFeed == TextView::npos || lineFeed < start) return true;
        start = lineFeed + 1;
      }
      return false;
    }
    size_t logical = 0, start = 0;
    while (start < text_.size()) {
      size_t lineFeed = text_.find(Unit('\n'), start);
      size_t end = lineFeed == TextView::npos ? text_.size() : lineFeed + 1;
      logical += end - start;
      if (logical * Codec::kBytesPerUnit >= kLongestSafeLine) return true;
      if (!(join_ && EndsInContinuation(start, end))) logical = 0;
      start = end;
    }
    return false;
  }

  // Fills `out`; false when some new text cannot be encoded.  `toUnit` turns
  // the source map's byte offsets into indexes of the text.
  template <class ToUnit>
  bool Write(const LayoutModel& model, ToUnit toUnit, Text* out) {
    out_ = out;
    position_ = 0;
    for (const LayoutSection& section : model.sections) {
      // A section no change looked into is copied with what follows it.
      if (!section.fromFile || (!section.expanded && !section.deleted)) continue;
      CopyTo(toUnit(section.header.begin));
      if (section.deleted) {
        // Everything up to the next header goes with it.
        position_ = toUnit(section.regionEnd);
        continue;
      }
      CopyTo(toUnit(section.header.end));
      for (const LayoutEntry& entry : section.entries) {
        if (!entry.fromFile) continue;
        CopyTo(toUnit(entry.span.begin));
        if (entry.deleted) {
          position_ = toUnit(entry.span.end);
        } else if (entry.Changed()) {
          if (!RewriteEntry(entry, toUnit(entry.span.begin), toUnit(entry.span.end))) return false;
          position_ = toUnit(entry.span.end);
        } else {
          CopyTo(toUnit(entry.span.end));
        }
      }
      // Here is the end of the section's last entry (or of its header).
      for (const LayoutEntry& entry : section.entries) {
        if (!entry.fromFile && !entry.deleted && !WriteNewEntry(entry)) return false;
      }
    }
    CopyTo(text_.size());
    for (const LayoutSection& section : model.sections) {
      if (section.fromFile || section.deleted) continue;
      StartLine();
      if (!LastLineBlank()) out_->append(lineEnd_);
      if (!Codec::Encode("[" + section.name.str() + "]", out_)) return false;
      out_->append(lineEnd_);
      for (const LayoutEntry& entry : section.entries) {
        if (!entry.deleted && !WriteNewEntry(entry)) return false;
      }
    }
    return true;
  }

 private:
  void CopyTo(size_t end) {
    out_->append(text_.data() + position_, end - position_);
    position_ = end;
  }

  // Whether the physical line [start, end) ends in a backslash and a line end.
  bool EndsInContinuation(size_t start, size_t end) const {
    if (end == start || text_[end - 1] != Unit('\n')) return false;
    size_t last = end - 1;
    if (last > start && text_[last - 1] == Unit('\r')) --last;
    return last > start && text_[last - 1] == Unit('\\');
  }

  // Makes the output end where a new line can start: with a line end, after
  // a line that cannot take the new line in as a continuation.  Such a line
  // (the file's last, or one before an added line end) gets a space before
  // its line end, which every reading trims off again.
  void StartLine() {
    if (out_->empty()) return;
    if (out_->back() != Unit('\n')) out_->append(lineEnd_);
    if (!join_) return;
    size_t lineEnd = out_->size() - 1;
    if (lineEnd > 0 && (*out_)[lineEnd - 1] == Unit('\r')) --lineEnd;
    if (lineEnd == 0 || (*out_)[lineEnd - 1] != Unit('\\')) return;
    // The reader looks for the backslash only in the text before a NUL.
    size_t lineStart = out_->find_last_of(Unit('\n'), out_->size() - 2);
    lineStart = lineStart == Text::npos ? 0 : lineStart + 1;
    if (out_->find(Unit('\0'), lineStart) < lineEnd) return;
    out_->insert(lineEnd, 1, Unit(' '));
  }

  // After StartLine: whether the output is empty or its last line is blank.
  bool LastLineBlank() const {
    size_t end = out_->size();
    if (end == 0) return true;
    --end;  // The line feed.
    if (end > 0 && (*out_)[end - 1] == Unit('\r')) --end;
    return end == 0 || (*out_)[end - 1] == Unit('\n');
  }

  // The value as the whole-file writer writes it.
  std::string ValueText(const LayoutEntry& entry) const {
    std::string text = entry.quoted ? "\"" + entry.value.str() + "\"" : entry.value.str();
    // A backslash at the end would join the next line to this one.
    if (join_ && !entry.quoted && !entry.value.empty() && entry.value.back() == '\\') text += ' ';
    return text;
  }

  bool WriteNewEntry(const LayoutEntry& entry) {
    StartLine();
    if (!Codec::Encode(entry.key.str() + "=" + ValueText(entry), out_)) return false;
    out_->append(lineEnd_);
    return true;
  }

  // Rewrites the entry read from [begin, end) with its new value, keeping the
  // line's text up to the value (indentation, key, spacing around "=") when
  // it reads back as the same key, and its line end.
  bool RewriteEntry(const LayoutEntry& entry, size_t begin, size_t end) {
    size_t bodyEnd = end;
    if (bodyEnd > begin && text_[bodyEnd - 1] == Unit('\n')) {
      --bodyEnd;
      if (bodyEnd > begin && text_[bodyEnd - 1] == Unit('\r')) --bodyEnd;
    }
    size_t prefixEnd = begin;
    for (size_t i = begin; i < bodyEnd && text_[i] != Unit('\n'); ++i) {
      if (text_[i] != Unit('=')) continue;
      if (Trimmed(Codec::Decode(text_.data() + begin, i - begin)) == entry.key) {
        prefixEnd = i + 1;
        while (prefixEnd < bodyEnd &&
               (text_[prefixEnd] == Unit(' ') || text_[prefixEnd] == Unit('\t'))) {
          ++prefixEnd;
        }
      }
      break;
    }
    if (prefixEnd > begin) {
      out_->append(text_.data() + begin, prefixEnd - begin);
      if (!Codec::Encode(ValueText(entry), out_)) return false;
    } else if (!Codec::Encode(entry.key.str() + "=" + ValueText(entry), out_)) {
      return false;
    }
    if (bodyEnd < end) {
      out_->append(text_.data() + bodyEnd, end - bodyEnd);
    } else if (end < text_.size()) {
      out_->append(lineEnd_);
    }
    return true;
  }

  TextView text_;
  bool join_;
  Text lineEnd_;
  Text* out_ = nullptr;
  size_t position_ = 0;
};

// `room`: the bytes the output is expected to take.
bool WriteNarrow(std::string_view original, const LayoutModel& model, bool join, size_t room,
                 std::string* out) {
  LayoutWriter<NarrowText> writer(original, join);
  if (writer.HasLongLines()) return false;
  out->reserve(room);
  return writer.Write(
      model, [](size_t offset) { return offset; }, out);
}

bool WriteWide(std::string_view original, const LayoutModel& model, bool join, std::string* out) {
  // An odd last byte is no code unit: nothing written after it would be
  // read in step.
  if (original.size() % 2 != 0) return false;
  std::u16string units((original.size() - 2) / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(original[2 + 2 * i]) |
                                     (static_cast<unsigned char>(original[3 + 2 * i]) << 8));
  }
  LayoutWriter<WideText> writer(units, join);
  if (writer.HasLongLines()) return false;
  std::u16string edited;
  if (!writer.Write(
          model, [](size_t offset) { return (offset - 2) / 2; }, &edited))
    return false;
  out->assign(original.data(), 2);
  out->reserve(2 + 2 * edited.size());
  for (char16_t unit : edited) {
    out->push_back(static_cast<char>(unit & 0xFF));
    out->push_back(static_cast<char>(unit >> 8));
  }
  return true;
}

// The whole-file form, for files too odd to edit line by line.
std::string WriteWhole(std::string_view original, const LayoutModel& model, bool join) {
  ProfileFile records;
  records.joinContinuations = join;
  model.ToRecords(&records);
  std::string text = RenderProfileFile(records);
  // The mark goes on a line of its own, so that the first header is found
  // whether or not a reader takes the mark for text.
  if (original.compare(0, 3, kByteOrderMark) == 0 && text.compare(0, 3, kByteOrderMark) != 0) {
    text.insert(0, std::string(kByteOrderMark) + kProfileLineEnd);
  }
  return text;
}

bool IsTrimmed(const std::string& text) {
  return text.empty() || (!IsProfileSpace(text.front()) && !IsProfileSpace(text.back()));
}

}  // namespace

void LoadProfileText(const std::string& bytes, ProfileFile* file, ProfileSourceMap* sources) {
  file->loaded = true;
  ReadProfileText(bytes.data(), bytes.size(), file, sources);
}

LayoutEdit EditKeepingLayout(const ProfileFile& parsed, size_t size,
                             const ProfileSourceMap& sources, const ProfileJournal& changes) {
  LayoutEdit edit;
  if (changes.empty()) return edit;
  bool join = parsed.joinContinuations;
  std::string_view original(parsed.text.get(), size);
  // Room for every change's text as a line of its own, so that the output
  // is allocated once.
  size_t room = size, added = 0;
  for (const ProfileChange& change : changes) {
    room += change.section.size() + change.key.size() + change.value.size() + 16;
    added += change.kind == ProfileChange::Kind::kSetEntry;
  }
  LayoutModel model(parsed, sources, size, added);
  for (const ProfileChange& change : changes) model.Apply(change);
  if (!model.Modified()) return edit;

  edit.changed = true;
  if (model.mapped()) {
    bool written = parsed.wideText ? WriteWide(original, model, join, &edit.contents)
                                   : WriteNarrow(original, model, join, room, &edit.contents);
    if (written) return edit;
    edit.contents.clear();
  }
  edit.editedInPlace = false;
  edit.contents = WriteWhole(original, model, join);
  return edit;
}

bool ApplyEditToRecords(const LayoutEdit& edit, const ProfileJournal& changes,
                        ProfileFile* parsed) {
  // Written whole, the records are the rendering's, which need not keep
  // what the reader made of the odd original.
  if (!edit.changed || !edit.editedInPlace) return false;
  for (const ProfileChange& change : changes) {
    // The editor trims what the engine's writes journal trimmed already;
    // the records' changes do not.
    if (change.kind != ProfileChange::Kind::kDeleteSection &&
        !(IsTrimmed(change.section) && IsTrimmed(change.key))) {
      return false;
    }
    // A line that may come near the reader's line limit (where it cuts
    // lines), counting three bytes a code unit as UTF-16 text may take, is
    // left to the reader.
    if (3 * (change.section.size() + change.key.size() + change.value.size()) + 16 >=
        kLongestSafeLine) {
      return false;
    }
    // The editor writes even what the records refuse (a replayed change
    // the file as it is now cannot carry): then only its bytes tell.
    if (ApplyProfileChange(parsed, change) == ChangeResult::kRefused) return false;
  }
  return true;
}

std::string ApplyChangesKeepingLayout(const std::string& original, const ProfileJournal& changes,
                                      bool joinContinuations, bool* editedInPlace) {
  bool unused;
  if (editedInPlace == nullptr) editedInPlace = &unused;
  *editedInPlace = true;
  if (changes.empty()) return original;
  ProfileFile parsed;
  parsed.joinContinuations = joinContinuations;
  ProfileSourceMap sources;
  LoadProfileText(original, &parsed, &sources);
  LayoutEdit edit = EditKeepingLayout(parsed, original.size(), sources, changes);
  *editedInPlace = edit.editedInPlace;
  return edit.changed ? std::move(edit.contents) : original;
}

}  // namespace inireg
