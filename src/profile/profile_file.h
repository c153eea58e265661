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

struct ProfileSection {
  std::string name;  // As written between the brackets, or trimmed by a write.
  std::vector<ProfileEntry> entries;  // In file order, duplicates kept.
};

struct ProfileFile {
  std::string path;
  // In file order, duplicates kept.  A list, so that a ProfileSection pointer
  // stays valid while other sections are added or deleted.
  std::list<ProfileSection> sections;
  bool dirty = false;
  bool joinContinuations = false;
  bool keepQuotes = false;
  bool wideText = false;
  bool loaded = false;
  // The file exists but could not be read: the record holds nothing of it,
  // so it must never be written back over the file.
  bool unreadable = false;
};

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

// Pushes a line back onto the process-wide store that the next line read
// takes first.  Empty lines are not pushed.
void PushBackLine(const char* text);

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
