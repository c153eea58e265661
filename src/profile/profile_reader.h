// Reading a profile file into its records (profile_records.h): the file's
// bytes are read whole, once, and most names and values stay spans of them.
// The reader decides what a file says: byte-order marks, UTF-16 text, line
// ends, the line limit, continuation lines, headers and entries.
#ifndef INIREG_PROFILE_PROFILE_READER_H_
#define INIREG_PROFILE_PROFILE_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "profile/profile_records.h"

namespace inireg {

// Where in a file's bytes each record came from, for editors that change a
// file line by line.  Offsets count bytes from the start of the file (a
// byte-order mark included).  A span runs from the first byte of the logical
// line a record was read from to the byte after it: its line end and, when
// continuation lines were joined, every physical line joined into it.
struct ProfileTextSpan {
  size_t begin = 0;
  size_t end = 0;
};
struct ProfileSourceMap {
  std::vector<ProfileTextSpan> headers;  // One per section, in order.
  // One per entry, section after section; section i's start at
  // entries[firstEntries[i]].  Flat, so that a file of many sections costs
  // two growing arrays rather than an allocation per section.
  std::vector<ProfileTextSpan> entries;
  std::vector<size_t> firstEntries;  // One per section.

  struct Spans {
    const ProfileTextSpan* data;
    size_t count;
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    const ProfileTextSpan& operator[](size_t i) const { return data[i]; }
    const ProfileTextSpan& back() const { return data[count - 1]; }
  };
  // The spans of the entries of section `section`.
  Spans EntriesOf(size_t section) const {
    size_t first = firstEntries[section];
    size_t end = section + 1 < firstEntries.size() ? firstEntries[section + 1] : entries.size();
    return Spans{entries.data() + first, end - first};
  }
};

// Reads `size` bytes, copied, into the empty record `file` as LoadProfileFile
// reads a file, and, when `sources` is not null, records where each record
// came from.
void ReadProfileText(const char* bytes, size_t size, ProfileFile* file, ProfileSourceMap* sources);

// Reads the file `path` whole into a new buffer of the empty record `file`
// (ProfileFile::text), sized by `expectedSize` (the size its identity gave)
// so that one read usually takes it all, and sets `size` to the bytes read.
// False when the file cannot be opened or read.
bool ReadProfileBytes(const std::string& path, uint64_t expectedSize, ProfileFile* file,
                      size_t* size);
// Reads the `size` bytes the empty record `file` holds in its own buffer
// into its records, as ReadProfileText does with a copy.
void ParseProfileBytes(ProfileFile* file, size_t size, ProfileSourceMap* sources);

// Fills an empty, not yet loaded record from its file, and sets its identity
// and, where the identity cannot tell versions apart, its content hash.  An
// absent file gives a profile without sections; an existing file that cannot
// be read gives one marked unreadable.
void LoadProfileFile(ProfileFile* file);

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_READER_H_
