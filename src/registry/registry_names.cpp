#include "registry/registry_names.h"

namespace inireg {

const RegRootNames kRegRoots[kRegRootCount] = {
    {RegRoot::kClassesRoot, "CR", "HKEY_CLASSES_ROOT", "HKCR"},
    {RegRoot::kCurrentUser, "CU", "HKEY_CURRENT_USER", "HKCU"},
    {RegRoot::kLocalMachine, "LM", "HKEY_LOCAL_MACHINE", "HKLM"},
    {RegRoot::kUsers, "US", "HKEY_USERS", "HKU"},
    {RegRoot::kCurrentConfig, "CC", "HKEY_CURRENT_CONFIG", "HKCC"},
};

const RegRootNames& NamesOf(RegRoot root) { return kRegRoots[static_cast<size_t>(root)]; }

HKEY RootKey(RegRoot root) {
  switch (root) {
    case RegRoot::kClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RegRoot::kCurrentUser:
      return HKEY_CURRENT_USER;
    case RegRoot::kLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegRoot::kUsers:
      return HKEY_USERS;
    case RegRoot::kCurrentConfig:
      return HKEY_CURRENT_CONFIG;
  }
  return nullptr;
}

}  // namespace inireg
