// Registry locations as the inireg command takes them: the location text of
// RegistryStore ("CU\Software\Example") or a .reg key name
// ("HKEY_CURRENT_USER\Software\Example", "HKCU\Software\Example").
#ifndef INIREG_TOOLS_REGISTRY_LOCATION_H_
#define INIREG_TOOLS_REGISTRY_LOCATION_H_

#include <string>

#include "registry/registry_names.h"

namespace inireg::tool {

// Reads a location the command was given.  Either form passes only with a
// subkey that a .reg file can name, so that what is exported reads back; a
// failure says what was expected.
bool ParseLocation(const std::string& text, RegRoot* root, std::string* subkey, std::string* error);

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_REGISTRY_LOCATION_H_
