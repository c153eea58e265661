#include "profile/profile_text.h"

namespace inireg {

const char* ProfileText::NewCopy(std::string_view text) {
  char* copy = new char[text.size()];
  std::memcpy(copy, text.data(), text.size());
  return copy;
}

void ProfileText::DeleteCopy(const char* bytes) { delete[] bytes; }

}  // namespace inireg
