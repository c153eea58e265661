#include "inireg/text.h"

#include <cstdarg>
#include <cstdio>

namespace inireg {

namespace {

// The limits of the six attempts: each adds a step 2048 larger than the last.
constexpr int kAttemptLimits[] = {2048, 6144, 12288, 20480, 30720, 43008};
constexpr int kLargestLimit = 43008;

}  // namespace

void FormatString(std::string& destination, const char* format, ...) {
  // One stack buffer serves every attempt; an attempt may use its limit plus
  // the terminator.  The result is copied out only once it is complete, so the
  // arguments may alias `destination`.
  char buffer[kLargestLimit + 1];
  int produced = 0;
  for (int limit : kAttemptLimits) {
    va_list args;
    va_start(args, format);
    int needed = std::vsnprintf(buffer, static_cast<size_t>(limit) + 1, format, args);
    va_end(args);
    if (needed < 0) {  // An encoding error: nothing usable was produced.
      produced = 0;
      break;
    }
    produced = needed <= limit ? needed : limit;
    if (needed <= limit) break;
  }
  destination.assign(buffer, static_cast<size_t>(produced));
}

std::string PrefixString(const std::string& source, int32_t count) {
  if (count <= 0) return std::string();
  size_t taken =
      static_cast<size_t>(count) < source.size() ? static_cast<size_t>(count) : source.size();
  return source.substr(0, taken);
}

std::string SliceString(const std::string& source, int32_t start, int32_t count) {
  if (start < 0) start = 0;
  if (count < 0) count = 0;
  size_t length = source.size();
  size_t begin = static_cast<size_t>(start);
  if (begin >= length) return std::string();
  size_t taken = static_cast<size_t>(count);
  if (taken > length - begin) taken = length - begin;
  return source.substr(begin, taken);
}

std::string SliceString(const std::string& source, int32_t start) {
  if (start < 0) start = 0;
  if (static_cast<size_t>(start) >= source.size()) return std::string();
  return source.substr(static_cast<size_t>(start));
}

}  // namespace inireg
