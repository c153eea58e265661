#include "registry/registry_path.h"

#include <cstdint>

#include "inireg/registry_store.h"
#include "inireg/text.h"
#include "text/ascii_case.h"

namespace inireg {

namespace {

// Indexed by the predefined handle's value minus 0x80000000.
const char* const kRootAbbreviations[] = {"CR", "CU", "LM", "US"};
constexpr uint32_t kFirstRoot = 0x80000000u;

HKEY RootAt(size_t index) {
  const HKEY roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};
  return roots[index];
}

}  // namespace

std::string FormatRegistryPath(HKEY root, const char* subkey) {
  // 64-bit Windows sign-extends the predefined handles' values; Linux does
  // not.  Either form names the root.
  uintptr_t handle = reinterpret_cast<uintptr_t>(root);
  uint32_t low = static_cast<uint32_t>(handle);
  bool extended = handle == static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(low)));
  uint32_t index = low - kFirstRoot;
  bool known = index < 4 && (handle == low || extended);
  std::string text = known ? kRootAbbreviations[index] : "BAD";
  text += '\\';
  if (subkey != nullptr) text += subkey;
  return text;
}

bool ParseRegistryPath(const std::string& location, HKEY* root, std::string* subkey) {
  std::string prefix = PrefixString(location, 2);
  HKEY found = nullptr;
  for (size_t i = 0; i < 4; ++i) {
    if (CompareNoCase(prefix.c_str(), kRootAbbreviations[i]) == 0) found = RootAt(i);
  }
  // The current hardware profile; not one of the four consecutive handles.
  if (CompareNoCase(prefix.c_str(), "CC") == 0) found = HKEY_CURRENT_CONFIG;
  if (found == nullptr) return false;
  *root = found;
  *subkey = location.size() > 2 && location[2] == '\\' ? SliceString(location, 3) : SliceString(location, 2);
  return true;
}

}  // namespace inireg
