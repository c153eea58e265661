#include "registry/registry_path.h"

#include <cstdint>

#include "inireg/registry_store.h"
#include "inireg/text.h"
#include "text/ascii_case.h"

namespace inireg {

namespace {

// HKEY_CLASSES_ROOT's value; the next three roots follow it in kRegRoots'
// order.
constexpr uint32_t kFirstRootHandle = 0x80000000u;

}  // namespace

bool ParseRegistryLocation(const std::string& location, RegRoot* root, std::string* subkey) {
  std::string prefix = PrefixString(location, 2);
  const RegRootNames* found = nullptr;
  for (const RegRootNames& names : kRegRoots) {
    if (CompareNoCase(prefix.c_str(), names.abbreviation) == 0) found = &names;
  }
  if (found == nullptr) return false;
  *root = found->root;
  *subkey = location.size() > 2 && location[2] == '\\' ? SliceString(location, 3)
                                                       : SliceString(location, 2);
  return true;
}

bool ParseRegistryPath(const std::string& location, HKEY* root, std::string* subkey) {
  RegRoot parsed;
  if (!ParseRegistryLocation(location, &parsed, subkey)) return false;
  *root = RootKey(parsed);
  return true;
}

std::string FormatRegistryLocation(RegRoot root, const std::string& subkey) {
  return std::string(NamesOf(root).abbreviation) + "\\" + subkey;
}

std::string FormatRegistryPath(HKEY root, const char* subkey) {
  // 64-bit Windows sign-extends the predefined handles' values; Linux does
  // not.  Either form names the root.  Only the four roots whose handles
  // follow one another are named; any other handle, the current hardware
  // profile's included, is "BAD".
  uintptr_t handle = reinterpret_cast<uintptr_t>(root);
  uint32_t low = static_cast<uint32_t>(handle);
  bool extended =
      handle == static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(low)));
  uint32_t index = low - kFirstRootHandle;
  bool known = index < 4 && (handle == low || extended);
  std::string text = known ? kRegRoots[index].abbreviation : "BAD";
  text += '\\';
  if (subkey != nullptr) text += subkey;
  return text;
}

}  // namespace inireg
