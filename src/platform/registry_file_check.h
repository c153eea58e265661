// Deciding whether a path may hold the Linux registry, before SQLite sees it.
//
// The registry holds whatever programs keep in it, so its file must be the
// user's own and nobody else's to change, as ssh demands of its key files:
// the file, its journal files and every folder above it belong to the user
// (folders may also belong to root), and no other user can write them or
// swap them (a sticky world-writable folder such as /tmp is fine above the
// database's own folder, never as that folder).  The path must name a
// regular file, directly or through symbolic links that exist; a missing file
// is created empty with mode 0600 (missing folders 0700).  Nothing here
// blocks: FIFOs and devices are opened without waiting and then refused.
//
// Linux only.  Not thread-safe for the same path against itself; callers
// serialise opening.
#ifndef INIREG_PLATFORM_REGISTRY_FILE_CHECK_H_
#define INIREG_PLATFORM_REGISTRY_FILE_CHECK_H_

#include <string>

#include "inireg/win32_registry.h"

namespace inireg {

// On success, `usable` is the path to hand to SQLite: the file itself, with
// every symbolic link resolved.  Otherwise `reason` is one line naming the
// path, what is wrong and how to fix it, and the status says what kind of
// refusal it is:
// - ERROR_ACCESS_DENIED: the file, a journal file, a link or a folder
//   belongs to another user or can be written by group or others; or a
//   missing file or folder may not be created;
// - ERROR_REGISTRY_CORRUPT: not a path to a regular file (":memory:", a URI,
//   an empty path, a dangling link or a loop of links, a folder, a FIFO, a
//   device), or a file that is not an SQLite database;
// - ERROR_REGISTRY_IO_FAILED: any other failure of the file system.
LONG PrepareRegistryFile(const std::string& path, std::string* usable, std::string* reason);

// The path quoted as messages show it, control characters escaped, so that a
// hostile name cannot rewrite the user's terminal.
std::string ShownPath(const std::string& path);

}  // namespace inireg

#endif  // INIREG_PLATFORM_REGISTRY_FILE_CHECK_H_
