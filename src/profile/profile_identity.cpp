#include "profile/profile_identity.h"

#include <chrono>
#include <cstring>

namespace inireg {

namespace {

// Whether a file of this identity, taken at `takenNs`, can have been
// changed at its size within one timestamp tick, so that only its bytes
// tell versions apart.
bool IdentityCannotTell(const FileIdentity& identity, int64_t takenNs) {
  return identity.exists && identity.modifiedNs + kTimestampTickNs >= takenNs;
}

}  // namespace

int64_t ProfileClockNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool ProfileIdentityCannotTell(const ProfileFile& file) {
  return IdentityCannotTell(file.identity, file.identityTakenNs);
}

uint64_t HashBytes(const void* data, size_t size) {
  // Four independent lanes, so that the multiplications overlap.
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  uint64_t lanes[4] = {0x243F6A8885A308D3ull, 0x13198A2E03707344ull, 0xA4093822299F31D0ull,
                       0x082EFA98EC4E6C89ull};
  auto mix = [](uint64_t state, uint64_t word) {
    state = (state ^ word) * 0x9E3779B97F4A7C15ull;
    return state ^ (state >> 29);
  };
  size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    for (int lane = 0; lane < 4; ++lane) {
      uint64_t word;
      std::memcpy(&word, bytes + i + 8 * lane, 8);
      lanes[lane] = mix(lanes[lane], word);
    }
  }
  uint64_t state = mix(mix(lanes[0], lanes[1]), mix(lanes[2], lanes[3]));
  for (; i < size; ++i) state = (state ^ bytes[i]) * 0x100000001B3ull;
  state = (state ^ size) * 0x9E3779B97F4A7C15ull;
  return state ^ (state >> 31);
}

uint64_t HashContents(const std::string& bytes) { return HashBytes(bytes.data(), bytes.size()); }

uint64_t ContentHashWhereNeeded(const ProfileFile& file, const void* data, size_t size) {
  return ProfileIdentityCannotTell(file) ? HashBytes(data, size) : HashBytes(nullptr, 0);
}

}  // namespace inireg
