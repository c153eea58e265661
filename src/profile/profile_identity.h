// Telling whether the file on disk is still the one a record was read from:
// the clock identities are taken by, when an identity cannot tell two
// versions of a file apart, and the hash of a file's bytes that then can.
#ifndef INIREG_PROFILE_PROFILE_IDENTITY_H_
#define INIREG_PROFILE_PROFILE_IDENTITY_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "profile/profile_records.h"

namespace inireg {

// File systems keep modification times at a granularity of up to two
// seconds (FAT), and Linux stamps them from a clock that advances in ticks.
// A file whose modification time lies this close to the moment its identity
// was taken may have been changed again within the same tick, at the same
// size, without its identity showing it.
constexpr int64_t kTimestampTickNs = 2000000000;

// The clock identities are taken by (Unix time, ns).
int64_t ProfileClockNs();
// Whether only the content hash can tell the file on disk from the one the
// record came from: its identity was taken within a tick of its last change.
bool ProfileIdentityCannotTell(const ProfileFile& file);

// A hash of a file's bytes, for telling versions of a file apart.
uint64_t HashBytes(const void* data, size_t size);
uint64_t HashContents(const std::string& bytes);
// The content hash a record whose identity was just taken keeps of its
// file's bytes: the bytes' hash where only a hash can tell versions apart,
// else that of no bytes (an older file is not hashed at all).
uint64_t ContentHashWhereNeeded(const ProfileFile& file, const void* data, size_t size);

}  // namespace inireg

#endif  // INIREG_PROFILE_PROFILE_IDENTITY_H_
