// Resolving symbolic links the way the kernel's protected_symlinks rule
// allows, before a profile file is read or replaced (POSIX systems only).
//
// The write-back replaces the file a link points to, not the link, so links
// must be resolved in user space; resolving them with realpath would follow a
// link that another user planted in a shared folder such as /tmp and let them
// redirect the write to any file the caller owns.  This resolver follows a
// link that lies in a sticky, world-writable folder only when the caller or
// the folder's owner owns the link, exactly as the kernel does when it opens
// a path with that protection on, and gives up after 40 links (loops).
#ifndef INIREG_PLATFORM_LINK_RESOLUTION_H_
#define INIREG_PLATFORM_LINK_RESOLUTION_H_

#include <string>

namespace inireg {

enum class LinkResolution {
  kResolved,  // `resolved` names the file with no link left on the way.
  kRefused,   // A link on the way may not be followed (protected folder).
  kLoop,      // Too many links: a loop, or a chain longer than 40.
  kBroken,    // A link could not be read.
};

// Replaces every symbolic link on `path` (in the folders and at the end) by
// its target.  A component that does not exist (or cannot be looked at) ends
// the walk: the rest is appended as it is, so that opening the result fails
// or creates the file just as opening `path` would.  Relative paths stay
// relative to the working folder.
LinkResolution ResolveProtectedLinks(const std::string& path, std::string* resolved);

}  // namespace inireg

#endif  // INIREG_PLATFORM_LINK_RESOLUTION_H_
