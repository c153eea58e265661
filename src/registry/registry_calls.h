// The registry functions RegistryStore calls, reached through one table of
// function pointers so that tests can watch or change what the registry
// answers (the access masks asked for, a value replaced between two queries)
// on Windows and on Linux alike.  The table starts out pointing at the
// platform's functions.
#ifndef INIREG_REGISTRY_REGISTRY_CALLS_H_
#define INIREG_REGISTRY_REGISTRY_CALLS_H_

#include "inireg/win32_registry.h"

namespace inireg {

struct RegistryCalls {
  decltype(&RegOpenKeyExA) openKey = &RegOpenKeyExA;
  decltype(&RegCreateKeyExA) createKey = &RegCreateKeyExA;
  decltype(&RegCloseKey) closeKey = &RegCloseKey;
  decltype(&RegQueryValueExA) queryValue = &RegQueryValueExA;
  decltype(&RegSetValueExA) setValue = &RegSetValueExA;
  decltype(&RegEnumValueA) enumValue = &RegEnumValueA;
  decltype(&RegEnumKeyA) enumKey = &RegEnumKeyA;
};

// The table in use.  Tests may replace entries while no store is in use on
// another thread, and must restore them.
RegistryCalls& Registry();

}  // namespace inireg

#endif  // INIREG_REGISTRY_REGISTRY_CALLS_H_
