#include "fuzz_support.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>

namespace inireg {
namespace fuzz {

void Fail(const std::string& what) {
  std::fprintf(stderr, "oracle failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string Escape(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == '\\' || c == '|' || c >= 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string MakeScratchFolder(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) Fail("cannot make a temporary folder");
  return pattern;
}

}  // namespace fuzz
}  // namespace inireg
