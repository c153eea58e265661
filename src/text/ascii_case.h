// The one rule by which text compares without regard to case here: the
// letters A to Z match a to z, and every other byte (each byte of a longer
// UTF-8 or code-page character included) matches only itself, whatever the
// locale.  Profile sections and keys, registry key names, and the words of
// the command and of .reg files all compare this way.
//
// The profile indexes fold eight bytes at a time (profile/name_hash.h); that
// is this rule too, and a test holds the two together.
#ifndef INIREG_TEXT_ASCII_CASE_H_
#define INIREG_TEXT_ASCII_CASE_H_

#include <string>
#include <string_view>

namespace inireg {

// The lower-case form of an ASCII letter; other bytes unchanged.
inline unsigned char FoldCase(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// The upper-case form of an ASCII letter; other bytes unchanged.
inline unsigned char UpperCase(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// `text` with its ASCII letters in lower (upper) case.
std::string LowerCased(std::string text);
std::string UpperCased(std::string text);

// Compares two C strings by their folded bytes as unsigned values: negative,
// zero or positive, as strcmp.
int CompareNoCase(const char* a, const char* b);

// Whether the two texts have the same length and the same folded bytes.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace inireg

#endif  // INIREG_TEXT_ASCII_CASE_H_
