// The layout-keeping write-back of profile files: applies a journal of
// changes to a file's own text instead of rewriting the file from its records.
//
// Promise: loading the result (with the same joinContinuations) gives exactly
// the records that loading `original` and applying the changes to them gives:
// sections, entries, values, quoted flags, order and duplicates.  Every line
// that no change names stays byte for byte and in order: comments, blank and
// unrecognised lines, lines before the first header, each line's own line end
// (LF or CR LF), a UTF-8 byte-order mark, and the code units of a UTF-16LE
// file.  A changed entry is rewritten where it stands, keeping its key text
// and the spacing around "="; a new entry goes after the last entry of its
// section; a deleted section goes from its header to the next header; a new
// section goes at the end.  New lines take the line end of the file's first
// line.
//
// Files whose lines come near the reader's line limit (where it cuts lines),
// UTF-16LE files with an odd number of bytes, and UTF-16LE files whose new
// text cannot be encoded without loss are written whole, as the whole-file
// writer writes them: the promise about records still holds there.
#ifndef INIREG_PROFILE_PROFILE_LAYOUT_H_
#define INIREG_PROFILE_PROFILE_LAYOUT_H_

#include <string>

#include "profile/profile_journal.h"
#include "profile/profile_reader.h"

namespace inireg {

// What EditKeepingLayout made of a file.
struct LayoutEdit {
  // Some record changed, and `contents` holds the file's new bytes.
  // Otherwise the file stays as it is and `contents` is empty.
  bool changed = false;
  // The file's lines were kept (false: it was too odd and was written whole).
  bool editedInPlace = true;
  std::string contents;
};

// Applies `changes` to the `size` bytes that `parsed` holds in its own
// buffer (ProfileFile::text) and was read from, under its
// joinContinuations, with `sources` recording where each record came from.
// `parsed` is only read.
LayoutEdit EditKeepingLayout(const ProfileFile& parsed, size_t size,
                             const ProfileSourceMap& sources, const ProfileJournal& changes);

// Makes `parsed`, the records an edit that changed something was made from,
// the records of the edit's contents by applying `changes` to them, which
// spares reading the contents again.  False where that cannot be vouched
// for (the file was written whole, a change is one the engine's writes would
// refuse or never journal): then `parsed` may be partly changed, and the
// records must be read from the contents.
bool ApplyEditToRecords(const LayoutEdit& edit, const ProfileJournal& changes, ProfileFile* parsed);

// The new bytes of a file whose bytes were `original`, with `changes` applied.
// An empty journal, or one that changes no record, gives `original` itself.
// `editedInPlace`, when given, tells whether the file's lines were kept
// (false: the file was too odd and was written whole).
std::string ApplyChangesKeepingLayout(const std::string& original, const ProfileJournal& changes,
                                      bool joinContinuations, bool* editedInPlace = nullptr);

// Reads file bytes held in memory into the empty record `file` exactly as
// LoadProfileFile reads a file (under the record's joinContinuations), and
// records in `sources`, when not null, where each record came from.
void LoadProfileText(const std::string& bytes, ProfileFile* file, ProfileSourceMap* sources);

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_LAYOUT_H_
