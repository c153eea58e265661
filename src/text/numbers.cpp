#include "text/numbers.h"

namespace inireg {

namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// Skips whitespace and one sign; returns the digits' start.
const char* SkipSpaceAndSign(const char* p, bool* negative) {
  while (IsCSpace(*p)) ++p;
  *negative = false;
  if (*p == '+' || *p == '-') {
    *negative = *p == '-';
    ++p;
  }
  return p;
}

// Accumulates digits; sets `overflow` when the value passes `limit`.
uint64_t ReadDigits(const char* p, int radix, uint64_t limit, bool* overflow) {
  uint64_t value = 0;
  *overflow = false;
  for (int digit; (digit = DigitValue(*p)) < radix; ++p) {
    if (!*overflow) {
      value = value * static_cast<uint64_t>(radix) + static_cast<uint64_t>(digit);
      if (value > limit) *overflow = true;
    }
  }
  return value;
}

}  // namespace

uint32_t ParseUnsigned32(const char* text, int radix) {
  if (text == nullptr) return 0;
  bool negative;
  const char* p = SkipSpaceAndSign(text, &negative);
  if (radix == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) p += 2;
  bool overflow;
  uint64_t value = ReadDigits(p, radix, 0xFFFFFFFFu, &overflow);
  if (overflow) return 0xFFFFFFFFu;
  uint32_t result = static_cast<uint32_t>(value);
  return negative ? static_cast<uint32_t>(0u - result) : result;
}

int32_t ParseSigned32(const char* text) {
  if (text == nullptr) return 0;
  bool negative;
  const char* p = SkipSpaceAndSign(text, &negative);
  bool overflow;
  uint64_t limit = negative ? 2147483648u : 2147483647u;
  uint64_t value = ReadDigits(p, 10, limit, &overflow);
  if (overflow) return negative ? INT32_MIN : INT32_MAX;
  return negative ? static_cast<int32_t>(-static_cast<int64_t>(value))
                  : static_cast<int32_t>(value);
}

}  // namespace inireg
