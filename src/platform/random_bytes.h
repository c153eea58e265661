// Unpredictable bytes from the operating system's generator, for names that
// other users must not be able to guess (temporary files).  Never seeded from
// the clock or the process id, never drawn from the client's rand().
#ifndef INIREG_PLATFORM_RANDOM_BYTES_H_
#define INIREG_PLATFORM_RANDOM_BYTES_H_

#include <cstddef>
#include <cstdint>

namespace inireg {

// Fills `size` bytes at `buffer`; false when the system's generator failed,
// in which case nothing may be relied on in the buffer.
bool FillRandomBytes(void* buffer, size_t size);

// A random 64-bit number, or false as FillRandomBytes.
bool RandomNumber(uint64_t* number);

}  // namespace inireg

#endif  // INIREG_PLATFORM_RANDOM_BYTES_H_
