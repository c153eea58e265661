// Number parsing with the runtime's strtoul/strtol rules, fixed to 32 bits on
// every platform (the runtime's `long` is 64 bits wide on Linux).
#ifndef INIREG_TEXT_NUMBERS_H_
#define INIREG_TEXT_NUMBERS_H_

#include <cstdint>

namespace inireg {

// As strtoul with `radix` (10 or 16) into 32 bits: leading whitespace, one
// sign (minus negates the result), "0x" in radix 16, digits up to the first
// non-digit; no digits give 0 and a value beyond 4294967295 gives 4294967295.
uint32_t ParseUnsigned32(const char* text, int radix);

// As strtol with base 10 into 32 bits: out-of-range values give the nearer
// bound.
int32_t ParseSigned32(const char* text);

}  // namespace inireg

#endif  // INIREG_TEXT_NUMBERS_H_
