// The registry's small vocabularies, kept once for the library and the
// inireg command: the name that stands for a key's unnamed value, and the
// predefined roots with every name they go by (the location abbreviation
// "CU", the .reg file names "HKEY_CURRENT_USER" and "HKCU").
//
// Internal to the project: not installed.  The command and the tests include
// it by path, on purpose, as part of the same source tree.
#ifndef INIREG_REGISTRY_REGISTRY_NAMES_H_
#define INIREG_REGISTRY_REGISTRY_NAMES_H_

#include <cstddef>
#include <string>

#include "inireg/win32_registry.h"

namespace inireg {

// The key name that stands for a key's unnamed value.  Compared exactly: a
// value really named so cannot be reached by name.
inline constexpr char kDefaultValueName[] = "(Default)";

inline bool IsDefaultValueName(const std::string& name) { return name == kDefaultValueName; }

// The value name to pass to the registry functions for a key name: null (the
// unnamed value) for kDefaultValueName, else the name itself.
inline const char* ValueNameArgument(const std::string& name) {
  return IsDefaultValueName(name) ? nullptr : name.c_str();
}

// The predefined roots, in the order of their handles' values (the current
// hardware profile's handle is not next to the others).
enum class RegRoot { kClassesRoot, kCurrentUser, kLocalMachine, kUsers, kCurrentConfig };

struct RegRootNames {
  RegRoot root;
  const char* abbreviation;  // Location texts: "CU\Software\Example".
  const char* longName;      // .reg files: "HKEY_CURRENT_USER".
  const char* shortName;     // .reg files too: "HKCU".
};

inline constexpr size_t kRegRootCount = 5;
// Every root, indexed by its RegRoot value.
extern const RegRootNames kRegRoots[kRegRootCount];

const RegRootNames& NamesOf(RegRoot root);
// The root's predefined handle.
HKEY RootKey(RegRoot root);

}  // namespace inireg

#endif  // INIREG_REGISTRY_REGISTRY_NAMES_H_
