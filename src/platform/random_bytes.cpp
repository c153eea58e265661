#include "platform/random_bytes.h"

#include <cerrno>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <ntsecapi.h>
#else
#include <sys/random.h>
#endif

namespace inireg {

bool FillRandomBytes(void* buffer, size_t size) {
#ifdef _WIN32
  // RtlGenRandom (SystemFunction036 of advapi32) takes a ULONG length.
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    ULONG chunk = size > 0x10000 ? 0x10000 : static_cast<ULONG>(size);
    if (!RtlGenRandom(bytes, chunk)) return false;
    bytes += chunk;
    size -= chunk;
  }
  return true;
#else
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    ssize_t got = getrandom(bytes, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return true;
#endif
}

bool RandomNumber(uint64_t* number) { return FillRandomBytes(number, sizeof *number); }

}  // namespace inireg
