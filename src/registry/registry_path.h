// Registry locations as text: a root abbreviation, an optional backslash and
// a subkey path, which is passed to the registry as it stands.
#ifndef INIREG_REGISTRY_REGISTRY_PATH_H_
#define INIREG_REGISTRY_REGISTRY_PATH_H_

#include <string>

#include "inireg/win32_registry.h"

namespace inireg {

// Splits a location text.  True with the root and the subkey when the first
// two characters are "CR", "CU", "LM", "US" or "CC" in any case; exactly one
// backslash after them is dropped.  False for any other text.
bool ParseRegistryPath(const std::string& location, HKEY* root, std::string* subkey);

}  // namespace inireg

#endif  // INIREG_REGISTRY_REGISTRY_PATH_H_
