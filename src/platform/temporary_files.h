// Names of the write-back's temporary files, and removal of those that
// writers which no longer run left behind.
//
// A temporary file lies beside the file it will replace (a rename works only
// within one file system) and is named ".inireg-PID-RANDOM.tmp": short, so
// that a file name of any length the file system accepts still gets an
// atomic write-back; unpredictable (64 bits from the system's generator), so
// that nobody can take the names in advance and force a write in place; and
// carrying the writer's process id, so that a later write-back can tell the
// leftovers of a killed writer from the files of one still at work.
#ifndef INIREG_PLATFORM_TEMPORARY_FILES_H_
#define INIREG_PLATFORM_TEMPORARY_FILES_H_

#include <string>

namespace inireg {

// `folder` (empty, or ending in a separator) followed by a new temporary
// name.  False when the system's random generator failed.
bool MakeTemporaryName(const std::string& folder, std::string* path);

// True when `name` (a bare file name) has the form of a temporary name;
// stores the process id it carries.
bool ParseTemporaryName(const std::string& name, unsigned long* processId);

// Deletes, in `folder` (empty: the working folder), every temporary file of
// this engine whose process no longer runs and that the caller owns.  Files
// of live processes, of other users and anything else are left alone;
// failures are ignored.
void RemoveStaleTemporaryFiles(const std::string& folder);

}  // namespace inireg

#endif  // INIREG_PLATFORM_TEMPORARY_FILES_H_
