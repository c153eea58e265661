// Text utilities shared by the stores: printf-style formatting into a
// std::string, clamped substrings, and the shape in which lists of names are
// handed to callers.
//
// None of these functions keeps state; calls on different strings may run on
// several threads at once.
#ifndef INIREG_TEXT_H_
#define INIREG_TEXT_H_

#include <cstdint>
#include <string>

#include "inireg/export.h"

namespace inireg {

// A list of names returned by GetKeyNames and GetSectionNames: a pointer to
// the first of N strings (N >= 1) made by one `new std::string[N]`.  N is
// reported through the operation's count out-parameter.  An empty list is a
// null pointer with a count of 0.  The caller owns the array and releases it
// with `delete[]`.
using CountedStringArray = std::string*;

// Replaces `destination` with the formatted text.  The text is built on the
// stack in at most six attempts of growing size (2048 up to 43008
// characters); an output longer than 43008 characters is cut to its first
// 43008.  The arguments may refer to `destination` itself: the old content is
// read before it is replaced.
INIREG_EXPORT void FormatString(std::string& destination, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// The first `count` characters of `source`; a count beyond the length takes
// the whole string, a count of 0 or less gives an empty string.
INIREG_EXPORT std::string PrefixString(const std::string& source, int32_t count);

// `count` characters of `source` from `start`, clamped: a negative start or
// count is taken as 0, and the count is lowered so that the slice ends inside
// the string.
INIREG_EXPORT std::string SliceString(const std::string& source, int32_t start, int32_t count);

// The tail of `source` from `start`; a negative start gives the whole string.
INIREG_EXPORT std::string SliceString(const std::string& source, int32_t start);

}  // namespace inireg

#endif  // INIREG_TEXT_H_
