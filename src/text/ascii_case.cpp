#include "text/ascii_case.h"

namespace inireg {

std::string LowerCased(std::string text) {
  for (char& c : text) c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
  return text;
}

std::string UpperCased(std::string text) {
  for (char& c : text) c = static_cast<char>(UpperCase(static_cast<unsigned char>(c)));
  return text;
}

int CompareNoCase(const char* a, const char* b) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
  while (true) {
    unsigned char cx = FoldCase(*x++);
    unsigned char cy = FoldCase(*y++);
    if (cx != cy || cx == 0) return static_cast<int>(cx) - static_cast<int>(cy);
  }
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace inireg
