#include "profile/profile_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "profile/file_retry.h"
#include "profile/line_search.h"
#include "profile/profile_identity.h"
#include "text/utf.h"

namespace inireg {

namespace {

// Reads the lines of a file's bytes, which the profile holds whole.  Files
// are opened in binary mode, so this class does what a text-mode stream
// would: a CR LF pair is delivered as a single LF (a lone CR stays).
// UTF-16LE files are read by code units, a line ending at U+000A, and
// converted to the ANSI code page.  Names and values of lines that lie whole
// in the bytes are kept as spans of them; lines the reader has to build
// (UTF-16, joined, cut at the line limit) are copied.
// No ANSI or OEM code page takes more than three bytes for a UTF-16 code
// unit (UTF-8 does for some; a surrogate pair takes four for two units).
constexpr size_t kMostBytesPerUnit = 3;

class ProfileReader {
 public:
  ProfileReader(ProfileFile* profile, size_t size)
      : profile_(profile),
        buffer_(profile->text.get()),
        end_(size),
        consumed_(size),
        scanner_(buffer_, size) {}
  // A run that an exception left belongs to no section yet.
  ~ProfileReader() { std::destroy(run_, run_ + runCount_); }
  ProfileReader(const ProfileReader&) = delete;
  ProfileReader& operator=(const ProfileReader&) = delete;

  // Consumes a leading byte-order mark, FF FE (UTF-16LE text) or EF BB BF
  // (UTF-8), and records it in the profile.
  void DetectWideText() {
    if (!Fill()) return;
    // The first read of a file gives its first bytes whole unless the file
    // is shorter.
    const unsigned char* start = reinterpret_cast<const unsigned char*>(buffer_ + position_);
    size_t available = end_ - position_;
    if (available >= 2 && start[0] == 0xFF && start[1] == 0xFE) {
      position_ += 2;
      profile_->wideText = true;
      wideUnits_ = true;
    } else if (available >= 3 && start[0] == 0xEF && start[1] == 0xBB && start[2] == 0xBF) {
      position_ += 3;
      profile_->utf8Bom = true;
    }
  }

  // For a UTF-16 file: converts all of its text at once into a buffer of
  // the record's and reads that as 8-bit text, where the result is the
  // same as converting line by line.  It is not when lines (or lines joined
  // into one) come near the line limit, which the two ways cut differently,
  // and the file offsets of lines are known only line by line: then nothing
  // changes and the file is read by code units.
  void ConvertWholeText();

  // Reads every section of the file into the profile.
  void ReadAll();

  void RecordSources(ProfileSourceMap* sources) { sources_ = sources; }

 private:
  // NextLine, remembering which bytes of the file the line came from when
  // the sources are recorded.
  bool NextMappedLine(const char** begin, const char** end) {
    if (sources_ == nullptr) return NextLine(begin, end);
    lineSpan_.begin = Offset();
    bool read = NextLine(begin, end);
    lineSpan_.end = Offset();
    return read;
  }
  // The file offset of the first byte not yet delivered.
  size_t Offset() const {
    return consumed_ - (end_ - position_) - 2 * (pendingUnits_.size() - pendingPosition_);
  }

  // Sets [*begin, *end) to the next line as ReadLine would deliver it, cut
  // at its first NUL; false at the end of the file.
  bool NextLine(const char** begin, const char** end);
  // NextLine for a line built in line_ (UTF-16, joined, longer than it).
  bool NextBuiltLine(const char** begin, const char** end);
  bool ReadLine(char* buffer, size_t size);
  bool ReadRawLine(char* buffer, size_t size) {
    return wideUnits_ ? ReadWideLine(buffer, size) : ReadNarrowLine(buffer, size);
  }
  bool ReadNarrowLine(char* buffer, size_t size);
  bool ReadWideLine(char* buffer, size_t size);
  bool NextUnit(char16_t* unit);
  // Appends to lineUnits_ the units of the line being read, up to `room`
  // (less than kLineBufferSize) in all and through its line feed: first
  // those pending, then the file's.
  void TakeLineUnits(size_t room);
  // Adds the entry of a line that belongs to a section.  False for a line
  // whose key is empty, which ends the section.
  bool ReadEntry(const char* line, const char* end);
  // HashName of the current line's key [begin, end).
  uint32_t KeyHash(const char* begin, const char* end) const {
    size_t size = static_cast<size_t>(end - begin);
    return lineInText_ ? HashNameInBuffer(begin, size) : HashName(begin, size);
  }
  // Hands the entries read so far to the current section.
  void FinishSection();
  // The text [begin, end) of the current line, borrowed from the file's
  // bytes when the line lies in them, else from a copy in the record's
  // builtText: both outlive the record's spans, and line_ does not.
  ProfileText Span(const char* begin, const char* end) const {
    size_t size = static_cast<size_t>(end - begin);
    return lineInText_ ? ProfileText::Borrow(begin, size)
                       : profile_->builtText.Copy(std::string_view(begin, size));
  }

  // False at the end of the file.
  bool Fill() const { return position_ < end_; }

  ProfileFile* profile_;
  // The file's bytes (profile_->text), or its text converted whole from
  // UTF-16 (ConvertWholeText).
  const char* buffer_;
  bool wideUnits_ = false;  // buffer_ holds UTF-16 code units.
  size_t position_ = 0;
  size_t end_;
  size_t consumed_;  // The file's size.
  ProfileSourceMap* sources_ = nullptr;
  ProfileTextSpan lineSpan_;  // The bytes of the line NextMappedLine gave last.
  bool lineInText_ = false;   // The line NextLine gave last lies in buffer_.
  // For a line in buffer_: its first "=", or null when it has none.
  const char* lineEquals_ = nullptr;
  LineScanner scanner_;
  // UTF-16 code units taken from the file but not yet delivered: the rest of
  // a line that was cut for room.
  std::u16string pendingUnits_;
  size_t pendingPosition_ = 0;
  // The units of the line ReadWideLine reads: kLineBufferSize of them,
  // allocated by the first such line, of which lineUnitCount_ are used.
  std::unique_ptr<char16_t[]> lineUnits_;
  size_t lineUnitCount_ = 0;
  // The buffer lines are built in, allocated by the first line that needs
  // one: most files never do.
  std::unique_ptr<char[]> line_;
  // The section being read and its entries so far, built in place in the
  // record's arena (the run), which the section is lent when it ends.
  ProfileSection* section_ = nullptr;
  ProfileEntry* run_ = nullptr;
  size_t runCount_ = 0;
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
  } else if (!endOfLine && count == size - 1 && buffer[count - 1] == '\r' && Fill() &&
             buffer_[position_] == '\n') {
    // A CR LF cut by the room, its CR the last byte that fits: one line end
    // all the same (a continuation backslash before it still joins).
    ++position_;
    buffer[count - 1] = '\n';
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
  // An odd last byte is read with a zero high byte, as the zero-filled line
  // buffer of the classic reader delivers it.
  unsigned char high = Fill() ? static_cast<unsigned char>(buffer_[position_++]) : 0;
  *unit = static_cast<char16_t>(low | (high << 8));
  return true;
}

// Sets the units[i] to the UTF-16LE code units of `size` bytes, (size + 1)
// / 2 of them: an odd last byte is a unit with a zero high byte.
void TakeUnits(const unsigned char* bytes, size_t size, char16_t* units) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(units, bytes, size & ~size_t{1});
#else
  for (size_t i = 0; i < size / 2; ++i) {
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
#endif
  if (size % 2 != 0) units[size / 2] = bytes[size - 1];
}

// The first line feed of the UTF-16LE units from `start` to `stop`: a byte
// 0A at an even offset from `start` with a zero byte after it, or alone as
// an odd last byte (read as a unit with a zero high byte).  Null when there
// is none.
const char* FindUnitLineFeed(const char* start, const char* stop) {
  for (const char* from = start; from < stop;) {
    const char* hit = static_cast<const char*>(std::memchr(from, '\n', stop - from));
    if (hit == nullptr) return nullptr;
    if ((hit - start) % 2 == 0 && (hit + 1 == stop || hit[1] == '\0')) return hit;
    from = hit + 1;
  }
  return nullptr;
}

void ProfileReader::TakeLineUnits(size_t room) {
  if (pendingPosition_ < pendingUnits_.size()) {
    const char16_t* pending = pendingUnits_.data() + pendingPosition_;
    size_t count = std::min(room - lineUnitCount_, pendingUnits_.size() - pendingPosition_);
    const char16_t* lineFeed = std::char_traits<char16_t>::find(pending, count, u'\n');
    if (lineFeed != nullptr) count = static_cast<size_t>(lineFeed - pending) + 1;
    std::copy_n(pending, count, lineUnits_.get() + lineUnitCount_);
    lineUnitCount_ += count;
    pendingPosition_ += count;
    if (lineFeed != nullptr) return;
  }
  // The file's whole units up to the first line feed.
  size_t wanted = room - lineUnitCount_;
  size_t whole = std::min(wanted, (end_ - position_) / 2);
  const char* start = buffer_ + position_;
  const char* lineFeed = FindUnitLineFeed(start, start + 2 * whole);
  size_t count = lineFeed != nullptr ? static_cast<size_t>(lineFeed - start) / 2 + 1 : whole;
  TakeUnits(reinterpret_cast<const unsigned char*>(start), 2 * count,
            lineUnits_.get() + lineUnitCount_);
  lineUnitCount_ += count;
  position_ += 2 * count;
  // An odd last byte is read with a zero high byte, as the zero-filled line
  // buffer of the classic reader delivers it.
  if (count == wanted || end_ - position_ != 1) return;
  if (count > 0 && lineUnits_[lineUnitCount_ - 1] == u'\n') return;
  lineUnits_[lineUnitCount_++] = static_cast<unsigned char>(buffer_[position_++]);
}

bool ProfileReader::ReadWideLine(char* buffer, size_t size) {
  if (size < 2) return false;
  size_t room = size - 1;
  // Every code unit converts to at least one byte, so no more than `room`
  // units can be delivered.
  if (lineUnits_ == nullptr) lineUnits_.reset(new char16_t[kLineBufferSize]);
  lineUnitCount_ = 0;
  TakeLineUnits(room);
  if (lineUnitCount_ == 0) return false;
  // A CR LF cut by the room ends the line as one line feed (see
  // ReadNarrowLine).
  char16_t* units = lineUnits_.get();
  size_t count = lineUnitCount_;
  if (count == room && units[count - 1] == u'\r') {
    char16_t next;
    if (NextUnit(&next)) {
      if (next == u'\n') {
        units[count - 1] = u'\n';
      } else {
        pendingUnits_.insert(pendingUnits_.begin() + static_cast<std::ptrdiff_t>(pendingPosition_),
                             next);
      }
    }
  }

  // The longest prefix whose conversion fits the room; a surrogate pair is
  // never split.  What does not fit is read as the next line.  A line of at
  // most a third of the room fits without being measured.
  size_t taken = count;
  size_t produced = count <= room / kMostBytesPerUnit
                        ? ConvertWideText(CodePage::kOem, units, count, buffer, room, ' ')
                        : ConvertWideTextFitting(units, count, buffer, room, ' ', &taken);
  if (taken < count) {
    // The units not taken go back before those still pending.
    pendingUnits_.replace(0, pendingPosition_, units + taken, count - taken);
    pendingPosition_ = 0;
  }
  if (taken == 0) return false;
  if (produced >= 2 && buffer[produced - 1] == '\n' && buffer[produced - 2] == '\r') {
    buffer[produced - 2] = '\n';
    --produced;
  }
  buffer[produced] = '\0';
  return true;
}

bool ProfileReader::ReadLine(char* buffer, size_t size) {
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

// Whether the line whose line feed is unit `lineFeed` of the UTF-16LE
// `bytes` may continue on the next when lines are joined: its last unit
// before the line feed, and one CR, is a backslash or a character that a
// code page's best fit might turn into one.
bool MayContinue(const unsigned char* bytes, size_t lineFeed) {
  auto unitAt = [bytes](size_t index) { return bytes[2 * index] | (bytes[2 * index + 1] << 8); };
  size_t last = lineFeed;
  if (last > 0 && unitAt(last - 1) == u'\r') --last;
  if (last == 0) return false;
  char16_t unit = static_cast<char16_t>(unitAt(last - 1));
  return unit == u'\\' || unit >= 0x80;
}

void ProfileReader::ConvertWholeText() {
  if (!wideUnits_ || sources_ != nullptr) return;
  // A line of fewer units than a third of the limit, with room for a CR and
  // a LF, converts whole, as the line by line reader converts it.  Joined
  // lines count as one: each is read into the room the ones before it left.
  constexpr size_t kLongestLineUnits = (kLineBufferSize - 3) / kMostBytesPerUnit;
  constexpr size_t kChunkUnits = 16384;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buffer_ + position_);
  size_t byteCount = end_ - position_;
  size_t unitCount = (byteCount + 1) / 2;  // An odd last byte: a unit with a zero high byte.
  const bool joined = profile_->joinContinuations;
  // Room for text that is mostly ASCII, grown when it is not.
  size_t capacity = unitCount + unitCount / 4 +
                    kMostBytesPerUnit * std::min(kChunkUnits, unitCount) + kTextPadding;
  std::unique_ptr<char[]> converted(new char[capacity]);
  size_t produced = 0;
  size_t lineStart = 0;  // The unit after the last line feed.
  std::unique_ptr<char16_t[]> chunk(new char16_t[std::min(kChunkUnits, unitCount)]);
  for (size_t first = 0; first < unitCount;) {
    size_t count = std::min(kChunkUnits, unitCount - first);
    size_t chunkBytes = std::min(2 * count, byteCount - 2 * first);
    TakeUnits(bytes + 2 * first, chunkBytes, chunk.get());
    const char* chunkStart = reinterpret_cast<const char*>(bytes + 2 * first);
    const char* chunkStop = chunkStart + chunkBytes;
    for (const char* lineFeed = chunkStart;
         (lineFeed = FindUnitLineFeed(lineFeed, chunkStop)) != nullptr; lineFeed += 2) {
      size_t unit = first + static_cast<size_t>(lineFeed - chunkStart) / 2;
      if (lineStart + kLongestLineUnits <= unit) return;
      if (!joined || !MayContinue(bytes, unit)) lineStart = unit + 1;
    }
    if (lineStart + kLongestLineUnits <= first + count) return;
    // A surrogate pair is converted whole: a chunk does not end inside one.
    if (first + count < unitCount && IsHighSurrogate(chunk[count - 1])) --count;
    size_t needed = produced + kMostBytesPerUnit * count + kTextPadding;
    if (needed > capacity) {
      capacity = std::max(2 * capacity, needed);
      std::unique_ptr<char[]> larger(new char[capacity]);
      std::memcpy(larger.get(), converted.get(), produced);
      converted = std::move(larger);
    }
    size_t written = ConvertWideText(CodePage::kOem, chunk.get(), count, converted.get() + produced,
                                     kMostBytesPerUnit * count, ' ');
    if (written == 0) return;  // It took more than three bytes a unit.
    produced += written;
    first += count;
  }
  std::memset(converted.get() + produced, 0, kTextPadding);
  buffer_ = converted.get();
  position_ = 0;
  end_ = produced;
  scanner_ = LineScanner(buffer_, produced);
  wideUnits_ = false;
  profile_->builtText.Keep(std::move(converted));
}

// Whether the line [start, lineFeed) ends in a backslash, before a CR if
// there is one: a continuation when lines are joined (ReadLine), which
// looks at the character before the line feed.  A last byte other than a
// backslash is no backslash in any code page: a double-byte character's
// lead byte is never one.
bool EndsInBackslash(const char* start, const char* lineFeed) {
  const char* last = lineFeed;
  if (last > start && last[-1] == '\r') --last;
  return last > start && last[-1] == '\\';
}

// Every line of a file passes here: in line, with the built lines' way out
// of line.
inline bool ProfileReader::NextLine(const char** begin, const char** end) {
  // A narrow line that lies whole in the buffer is used where it is.  Its
  // CR LF stays two bytes: every use of a line trims trailing whitespace
  // or looks at characters before it, so the CR changes nothing there.
  // With continuation lines joined, so is a line that does not end in one.
  if (!wideUnits_ && Fill()) {
    size_t available = end_ - position_;
    size_t limit = position_ + (available < kLineBufferSize - 1 ? available : kLineBufferSize - 1);
    LineScanner::Line found = scanner_.NextLine(position_, limit);
    if (found.end != LineScanner::kNone) {
      size_t stop = found.end;
      const char* start = buffer_ + position_;
      const char* lineFeed = buffer_ + stop;
      const char* nul = nullptr;
      if (*lineFeed == '\0') {
        // The line ends at its first NUL; what follows up to the line feed
        // is dropped.
        nul = lineFeed;
        lineFeed = static_cast<const char*>(std::memchr(nul, '\n', limit - stop));
      }
      if (lineFeed != nullptr &&
          !(profile_->joinContinuations && nul == nullptr && EndsInBackslash(start, lineFeed))) {
        position_ = static_cast<size_t>(lineFeed - buffer_) + 1;
        *begin = start;
        *end = nul != nullptr ? nul : lineFeed + 1;
        lineEquals_ = found.equals < stop ? buffer_ + found.equals : nullptr;
        lineInText_ = true;
        return true;
      }
    }
  }
  return NextBuiltLine(begin, end);
}

bool ProfileReader::NextBuiltLine(const char** begin, const char** end) {
  lineInText_ = false;
  if (line_ == nullptr) line_.reset(new char[kLineBufferSize]);
  if (!ReadLine(line_.get(), kLineBufferSize)) return false;
  *begin = line_.get();
  *end = line_.get() + std::strlen(line_.get());
  return true;
}

bool ProfileReader::ReadEntry(const char* line, const char* end) {
  EntryLine parsed;
  EntryLineKind kind = lineInText_ ? SplitEntryLine(line, lineEquals_, end, &parsed)
                                   : ParseEntryLine(line, end, &parsed);
  if (kind != EntryLineKind::kEntry) return kind == EntryLineKind::kNoEquals;
  ProfileEntry* room = profile_->entryArena.Push(&run_, runCount_);
  new (room)
      ProfileEntry{Span(parsed.keyBegin, parsed.keyEnd), Span(parsed.valueBegin, parsed.valueEnd),
                   parsed.quoted, KeyHash(parsed.keyBegin, parsed.keyEnd)};
  ++runCount_;  // Only once built: a Span that throws leaves nothing to destroy.
  if (sources_ != nullptr) sources_->entries.push_back(lineSpan_);
  return true;
}

void ProfileReader::FinishSection() {
  SetEntries(section_, run_, runCount_);
  run_ = nullptr;
  runCount_ = 0;
  section_ = nullptr;
}

void ProfileReader::ReadAll() {
  const char* line;
  const char* end;
  while (NextMappedLine(&line, &end)) {
    const char* p = line;
    while (p < end && IsProfileSpace(*p)) ++p;
    if (section_ != nullptr) {
      // The entries, up to an empty key or the next line that starts with
      // "[", which is then read as a header.
      if (p == end) continue;
      if (*p != '[') {
        if (!ReadEntry(line, end)) FinishSection();  // Lines up to the next header are skipped.
        continue;
      }
      FinishSection();
    }
    // A header: a "[" after optional whitespace, the name up to the last "]".
    if (p == end || *p != '[') continue;
    const char* close = nullptr;
    for (const char* q = end; q > p + 1;) {
      if (*--q == ']') {
        close = q;
        break;
      }
    }
    if (close == nullptr || close == p + 1) continue;
    section_ = AppendSection(profile_, Span(p + 1, close));
    if (sources_ != nullptr) {
      sources_->headers.push_back(lineSpan_);
      sources_->firstEntries.push_back(sources_->entries.size());
    }
  }
  if (section_ != nullptr) FinishSection();
}

// Reads the rest of `stream` into a new buffer of `file`; `expected` (the
// size the file had when identified) sizes it so that one read usually takes
// the whole file.  Returns the bytes read.
size_t ReadWhole(File* stream, uint64_t expected, ProfileFile* file) {
  // One byte more than expected, so that the read that finds the end needs
  // no larger buffer.
  size_t room = expected < (uint64_t{1} << 31) ? static_cast<size_t>(expected) + 1 : 65536;
  std::unique_ptr<char[]> buffer(new char[room + kTextPadding]);
  size_t size = 0;
  while (size_t got = stream->Read(buffer.get() + size, room - size)) {
    size += got;
    if (size < room) continue;
    // The file grew since it was identified.
    std::unique_ptr<char[]> larger(new char[2 * room + kTextPadding]);
    std::memcpy(larger.get(), buffer.get(), size);
    buffer = std::move(larger);
    room *= 2;
  }
  std::memset(buffer.get() + size, 0, kTextPadding);
  file->text = std::move(buffer);
  return size;
}

// Parses the profile's own bytes, `size` of them, into its records.
void ParseText(ProfileFile* file, size_t size, ProfileSourceMap* sources) {
  file->entryArena.SizeFor(size);
  ProfileReader reader(file, size);
  reader.RecordSources(sources);
  reader.DetectWideText();
  reader.ConvertWholeText();
  reader.ReadAll();
}

}  // namespace

void LoadProfileFile(ProfileFile* file) {
  file->loaded = true;
  FileSystem* fileSystem = CurrentFileSystem();
  // The identity is taken before the file is read: a change in between
  // then shows as a different identity at write-back, never as none.
  file->identityTakenNs = ProfileClockNs();
  if (!fileSystem->Identify(file->path, &file->identity)) {
    // Unknown: the write-back will take the file for changed.
    file->identity = FileIdentity();
    file->identity.size = ~uint64_t{0};
  }
  file->contentHash = HashBytes(nullptr, 0);
  bool absent = false;
  std::unique_ptr<File> stream = OpenFileRetry(file->path, OpenMode::kRead, &absent);
  if (!stream) {
    // Absent: an empty profile.  Present but not openable: empty too, but it
    // must never be written back over the file it failed to read.  A file
    // that was absent when looked for is absent, even when another process's
    // write-back has created it since (its changes are merged at ours).
    file->unreadable = !absent && fileSystem->Exists(file->path);
    return;
  }
  size_t size = ReadWhole(stream.get(), file->identity.size, file);
  if (stream->Failed()) {
    file->text.reset();
    file->unreadable = true;
    return;
  }
  file->contentHash = ContentHashWhereNeeded(*file, file->text.get(), size);
  ParseText(file, size, nullptr);
}

bool ReadProfileBytes(const std::string& path, uint64_t expectedSize, ProfileFile* file,
                      size_t* size) {
  std::unique_ptr<File> stream = OpenFileRetry(path, OpenMode::kRead);
  if (!stream) return false;
  *size = ReadWhole(stream.get(), expectedSize, file);
  if (!stream->Failed()) return true;
  file->text.reset();
  *size = 0;
  return false;
}

void ParseProfileBytes(ProfileFile* file, size_t size, ProfileSourceMap* sources) {
  ParseText(file, size, sources);
}

void ReadProfileText(const char* bytes, size_t size, ProfileFile* file, ProfileSourceMap* sources) {
  file->text.reset(new char[size + kTextPadding]);
  if (size > 0) std::memcpy(file->text.get(), bytes, size);
  std::memset(file->text.get() + size, 0, kTextPadding);
  ParseText(file, size, sources);
}

}  // namespace inireg
