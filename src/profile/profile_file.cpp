#include "profile/profile_file.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

#include "platform/code_page.h"
#include "platform/file_system.h"

namespace inireg {

namespace {

#ifdef _WIN32
constexpr char kLineEnd[] = "\r\n";
#else
constexpr char kLineEnd[] = "\n";
#endif

constexpr int kOpenTries = 10;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Pauses between tries come from a generator of the library's own, so that
// the client's srand/rand sequence is neither reseeded nor consumed.
class RetryPauses {
 public:
  RetryPauses() : generator_(static_cast<std::minstd_rand::result_type>(std::time(nullptr))) {}
  unsigned Next() { return 30 + static_cast<unsigned>(generator_() % 250); }

 private:
  std::minstd_rand generator_;
};

// Reads one file's lines.  Files are opened in binary mode, so this class does
// what a text-mode stream would: a CR LF pair is delivered as a single LF (a
// lone CR stays).  UTF-16LE files are read by code units, a line ending at
// U+000A, and converted to the ANSI code page.
class ProfileReader {
 public:
  ProfileReader(File* file, ProfileFile* profile) : file_(file), profile_(profile) {}

  // Consumes a leading FF FE byte-order mark and records it in the profile.
  void DetectWideText() {
    if (Fill() && end_ - position_ >= 2 && static_cast<unsigned char>(buffer_[position_]) == 0xFF &&
        static_cast<unsigned char>(buffer_[position_ + 1]) == 0xFE) {
      position_ += 2;
      profile_->wideText = true;
    }
  }

  // The next section of the file, or false at the end.
  bool ReadSection(ProfileSection* section);

  bool Failed() const { return file_->Failed(); }

 private:
  bool ReadLine(char* buffer, size_t size);
  bool ReadRawLine(char* buffer, size_t size) {
    return profile_->wideText ? ReadWideLine(buffer, size) : ReadNarrowLine(buffer, size);
  }
  bool ReadNarrowLine(char* buffer, size_t size);
  bool ReadWideLine(char* buffer, size_t size);
  bool NextUnit(char16_t* unit);
  void PushBackLine(const char* text) {
    if (*text != '\0') pushedBack_.emplace_back(text);
  }

  // Makes buffered bytes available; false at the end of the file.
  bool Fill() {
    if (position_ < end_) return true;
    position_ = 0;
    end_ = file_->Read(buffer_, sizeof buffer_);
    return end_ > 0;
  }

  File* file_;
  ProfileFile* profile_;
  char buffer_[65536];
  size_t position_ = 0;
  size_t end_ = 0;
  // UTF-16 code units taken from the file but not yet delivered: the rest of
  // a line that was cut for room.
  std::u16string pendingUnits_;
  size_t pendingPosition_ = 0;
  std::u16string lineUnits_;
  // Lines handed back by ReadSection, taken last-in first-out.
  std::vector<std::string> pushedBack_;
  char line_[kLineBufferSize];
};

bool ProfileReader::ReadNarrowLine(char* buffer, size_t size) {
  if (size < 2) return false;
  size_t count = 0;
  bool endOfLine = false;
  while (count < size - 1 && !endOfLine && Fill()) {
    size_t available = end_ - position_;
    size_t room = size - 1 - count;
    size_t take = available < room ? available : room;
    const char* start = buffer_ + position_;
    const void* lineFeed = std::memchr(start, '\n', take);
    if (lineFeed != nullptr) {
      take = static_cast<size_t>(static_cast<const char*>(lineFeed) - start) + 1;
      endOfLine = true;
    }
    std::memcpy(buffer + count, start, take);
    count += take;
    position_ += take;
  }
  if (count == 0) return false;
  if (endOfLine && count >= 2 && buffer[count - 2] == '\r') {
    buffer[count - 2] = '\n';
    --count;
  }
  buffer[count] = '\0';
  return true;
}

bool ProfileReader::NextUnit(char16_t* unit) {
  if (pendingPosition_ < pendingUnits_.size()) {
    *unit = pendingUnits_[pendingPosition_++];
    return true;
  }
  if (!Fill()) return false;
  unsigned char low = static_cast<unsigned char>(buffer_[position_++]);
  if (!Fill()) return false;  // An odd last byte is not a character.
  unsigned char high = static_cast<unsigned char>(buffer_[position_++]);
  *unit = static_cast<char16_t>(low | (high << 8));
  return true;
}

bool ProfileReader::ReadWideLine(char* buffer, size_t size) {
  if (size < 2) return false;
  size_t room = size - 1;
  // Every code unit converts to at least one byte, so no more than `room`
  // units can be delivered.
  lineUnits_.clear();
  char16_t unit;
  while (lineUnits_.size() < room && NextUnit(&unit)) {
    lineUnits_.push_back(unit);
    if (unit == u'\n') break;
  }
  if (lineUnits_.empty()) return false;

  // The longest prefix whose conversion fits the room; a surrogate pair is
  // never split.  What does not fit is read as the next line.
  size_t taken = lineUnits_.size();
  const char16_t* units = lineUnits_.data();
  if (ConvertWideText(CodePage::kAnsi, units, taken, nullptr, 0, ' ') > room) {
    size_t fits = 0, fails = taken;
    while (fails - fits > 1) {
      size_t middle = fits + (fails - fits) / 2;
      if (ConvertWideText(CodePage::kAnsi, units, middle, nullptr, 0, ' ') <= room) {
        fits = middle;
      } else {
        fails = middle;
      }
    }
    taken = fits;
    if (taken > 0 && IsHighSurrogate(units[taken - 1]) && IsLowSurrogate(units[taken])) --taken;
  }
  if (taken < lineUnits_.size()) {
    pendingUnits_ = lineUnits_.substr(taken) + pendingUnits_.substr(pendingPosition_);
    pendingPosition_ = 0;
  }
  if (taken == 0) return false;

  size_t produced = ConvertWideText(CodePage::kOem, units, taken, buffer, room, ' ');
  if (produced >= 2 && buffer[produced - 1] == '\n' && buffer[produced - 2] == '\r') {
    buffer[produced - 2] = '\n';
    --produced;
  }
  buffer[produced] = '\0';
  return true;
}

bool ProfileReader::ReadLine(char* buffer, size_t size) {
  if (!pushedBack_.empty()) {
    const std::string& line = pushedBack_.back();
    size_t length = line.size() < size - 1 ? line.size() : size - 1;
    std::memcpy(buffer, line.data(), length);
    buffer[length] = '\0';
    pushedBack_.pop_back();
    return true;
  }
  if (!ReadRawLine(buffer, size)) return false;
  if (!profile_->joinContinuations) return true;
  while (true) {
    char* end = buffer + std::strlen(buffer);
    if (end == buffer) break;
    char* last = const_cast<char*>(PreviousCharacter(buffer, end));
    if (*last != '\n' || last == buffer) break;
    char* before = const_cast<char*>(PreviousCharacter(buffer, last));
    if (*before != '\\') break;
    // The backslash and the line feed are replaced by the next line.
    if (!ReadRawLine(before, size - static_cast<size_t>(before - buffer))) break;
  }
  return true;
}

bool ProfileReader::ReadSection(ProfileSection* section) {
  char* line = line_;
  // The header: a "[" after optional whitespace, the name up to the last "]".
  while (true) {
    if (!ReadLine(line, sizeof line_)) return false;
    const char* p = line;
    while (IsProfileSpace(*p)) ++p;
    if (*p != '[') continue;
    const char* close = std::strrchr(p + 1, ']');
    if (close == nullptr || close == p + 1) continue;
    section->name.assign(p + 1, close);
    break;
  }
  // The entries, up to the next line that starts with "[".
  while (true) {
    if (!ReadLine(line, sizeof line_)) return true;
    const char* p = line;
    while (IsProfileSpace(*p)) ++p;
    if (*p == '[') {
      PushBackLine(line);
      return true;
    }
    if (*p == '\0') continue;
    ProfileEntry entry;
    bool emptyKey = false;
    if (ParseEntry(line, &entry, &emptyKey)) {
      section->entries.push_back(std::move(entry));
    } else if (emptyKey) {
      // The lines up to the next valid header are skipped.
      return true;
    }
  }
}

}  // namespace

char* TrimText(char* text, bool leading, bool trailing) {
  if (text == nullptr || *text == '\0') return text;
  char* start = text;
  if (leading) {
    while (IsProfileSpace(*start)) ++start;
  }
  if (trailing) {
    char* end = start + std::strlen(start);
    while (end > start && IsProfileSpace(end[-1])) *--end = '\0';
  }
  return start;
}

char* ParseValue(char* text, bool* quoted) {
  *quoted = false;
  char* value = TrimText(text, true, false);
  if (*value == '\0') return value;
  TrimText(value, false, true);
  size_t length = std::strlen(value);
  if (length > 1 && value[0] == value[length - 1] && (value[0] == '"' || value[0] == '\'')) {
    value[length - 1] = '\0';
    ++value;
    *quoted = true;
  }
  return value;
}

bool ParseEntry(char* line, ProfileEntry* entry, bool* emptyKey) {
  *emptyKey = false;
  char* equals = std::strchr(line, '=');
  if (equals == nullptr) return false;
  *equals = '\0';
  char* key = TrimText(line, true, true);
  if (*key == '\0') {
    *emptyKey = true;
    return false;
  }
  bool quoted;
  char* value = ParseValue(equals + 1, &quoted);
  entry->key = key;
  entry->value = value;
  entry->quoted = quoted;
  return true;
}

std::unique_ptr<File> OpenFileRetry(const std::string& path, OpenMode mode) {
  FileSystem* fileSystem = CurrentFileSystem();
  if (mode == OpenMode::kRead && !fileSystem->Exists(path)) return nullptr;
  RetryPauses pauses;
  for (int attempt = 0; attempt < kOpenTries; ++attempt) {
    std::unique_ptr<File> file = mode == OpenMode::kRead ? fileSystem->OpenForReading(path)
                                                         : fileSystem->OpenForWriting(path);
    if (file) return file;
    fileSystem->Sleep(pauses.Next());
  }
  return nullptr;
}

void LoadProfileFile(ProfileFile* file) {
  file->loaded = true;
  std::unique_ptr<File> stream = OpenFileRetry(file->path, OpenMode::kRead);
  if (!stream) {
    // Absent: an empty profile.  Present but not openable: empty too, but it
    // must never be written back over the file it failed to read.
    file->unreadable = CurrentFileSystem()->Exists(file->path);
    return;
  }
  auto reader = std::make_unique<ProfileReader>(stream.get(), file);
  reader->DetectWideText();
  ProfileSection section;
  while (reader->ReadSection(&section)) {
    file->sections.push_back(std::move(section));
    section = ProfileSection();
  }
  if (reader->Failed()) {
    file->sections.clear();
    file->unreadable = true;
  }
}

std::string RenderProfileFile(const ProfileFile& file) {
  std::string text;
  for (const ProfileSection& section : file.sections) {
    text += '[';
    text += section.name;
    text += ']';
    text += kLineEnd;
    for (const ProfileEntry& entry : section.entries) {
      text += entry.key;
      text += '=';
      if (entry.quoted) text += '"';
      text += entry.value;
      if (entry.quoted) text += '"';
      // A file's last line may end in a backslash that had nothing to join.
      // Written as it is, it would swallow the line after it at the next
      // load; a space stops the join and is trimmed off again.
      if (!entry.quoted && file.joinContinuations && !entry.value.empty() &&
          entry.value.back() == '\\') {
        text += ' ';
      }
      text += kLineEnd;
    }
    text += kLineEnd;
  }
  return text;
}

namespace {

bool WriteWhole(File* file, const std::string& contents) {
  bool written = file->Write(contents.data(), contents.size());
  bool synced = written && file->Sync();
  bool closed = file->Close();
  return written && synced && closed;
}

// Writes through a new file beside the target and renames it over the target,
// so that the target holds either its old or its new contents, never a mix.
// Returns false with the target untouched when that fails; sets
// `noTemporary` when no file could be made beside the target at all.
bool ReplaceAtomically(const std::string& target, const std::string& contents,
                       bool* noTemporary) {
  FileSystem* fileSystem = CurrentFileSystem();
  std::string temporaryPath;
  std::unique_ptr<File> temporary = fileSystem->CreateTemporaryBeside(target, &temporaryPath);
  *noTemporary = !temporary;
  if (!temporary) return false;
  bool replaced = WriteWhole(temporary.get(), contents);
  temporary.reset();
  if (replaced) {
    // The target may be held open by another program for a moment (Windows
    // refuses to replace it then): retry as an open would be retried.
    RetryPauses pauses;
    replaced = false;
    for (int attempt = 0; attempt < kOpenTries && !replaced; ++attempt) {
      replaced = fileSystem->Replace(temporaryPath, target);
      if (!replaced) fileSystem->Sleep(pauses.Next());
    }
  }
  if (!replaced) fileSystem->Remove(temporaryPath);
  return replaced;
}

}  // namespace

int ProfileSave(const ProfileFile& file) {
  std::string contents = RenderProfileFile(file);
  std::string target = CurrentFileSystem()->ResolveLinks(file.path);
  bool noTemporary = false;
  if (ReplaceAtomically(target, contents, &noTemporary)) return 1;
  if (noTemporary) {
    // No file can be made in the folder (it may be read-only while the file
    // itself is writable): write the file in place.
    std::unique_ptr<File> stream = OpenFileRetry(target, OpenMode::kWrite);
    if (stream && WriteWhole(stream.get(), contents)) return 1;
  }
  std::printf("COULDN'T OPEN FILE\n");
  std::fflush(stdout);
  return 0;
}

}  // namespace inireg
