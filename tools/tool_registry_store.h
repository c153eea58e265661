// RegistryStore with the operations the inireg command needs beyond its own:
// values of any type as raw bytes, and deleting a section's whole key tree
// or one value.  Values are named as the store names them (sticky, with
// "(Default)" for the unnamed value).
#ifndef INIREG_TOOLS_TOOL_REGISTRY_STORE_H_
#define INIREG_TOOLS_TOOL_REGISTRY_STORE_H_

#include <string>

#include "inireg/registry_store.h"
#include "inireg/win32_registry.h"

namespace inireg::tool {

class ToolRegistryStore : public RegistryStore {
 public:
  using RegistryStore::RegistryStore;

  // Deletes the section's key with its values and subkeys.  ERROR_ACCESS_DENIED
  // when the store is read-only; ERROR_FILE_NOT_FOUND when there is no such
  // section.
  LONG DeleteSection(const std::string& name);

  // The type and bytes of a value.  False when it cannot be read.
  bool ReadRaw(const std::string& keyName, const std::string& sectionName, DWORD* type,
               std::string* data);

  // Writes a value of any type, creating the location and section keys as
  // needed.  False when the store is read-only or the registry refuses.
  bool WriteRaw(const std::string& keyName, const std::string& sectionName, DWORD type,
                const std::string& data);

  // Deletes one value of a section.  ERROR_ACCESS_DENIED when the store is
  // read-only; ERROR_FILE_NOT_FOUND when there is no such section or value.
  LONG DeleteValue(const std::string& sectionName, const std::string& keyName);
};

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_TOOL_REGISTRY_STORE_H_
