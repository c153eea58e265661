// Registry locations as text: a root abbreviation, an optional backslash and
// a subkey path, which is passed to the registry as it stands.  This is the
// one reading of that grammar: RegistryStore, Settings and the inireg
// command all go through it.
#ifndef INIREG_REGISTRY_REGISTRY_PATH_H_
#define INIREG_REGISTRY_REGISTRY_PATH_H_

#include <string>

#include "inireg/win32_registry.h"
#include "registry/registry_names.h"

namespace inireg {

// Splits a location text.  True with the root and the subkey when the first
// two characters are "CR", "CU", "LM", "US" or "CC" in any case; exactly one
// backslash after them is dropped.  False for any other text.
bool ParseRegistryLocation(const std::string& location, RegRoot* root, std::string* subkey);
// The same, giving the root's predefined handle.
bool ParseRegistryPath(const std::string& location, HKEY* root, std::string* subkey);

// The location text ParseRegistryLocation reads back as `root` and `subkey`.
std::string FormatRegistryLocation(RegRoot root, const std::string& subkey);

}  // namespace inireg

#endif  // INIREG_REGISTRY_REGISTRY_PATH_H_
