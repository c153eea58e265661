#include "tool_registry_store.h"

#include "library_internals.h"
#include "registry_tree.h"

namespace inireg::tool {

LONG ToolRegistryStore::DeleteSection(const std::string& name) {
  if (readOnly != 0) return ERROR_ACCESS_DENIED;
  if (baseKey == nullptr) return ERROR_FILE_NOT_FOUND;
  if (sectionKey != nullptr) {
    RegCloseKey(sectionKey);
    sectionKey = nullptr;
  }
  return DeleteKeyTree(baseKey, name);
}

bool ToolRegistryStore::ReadRaw(const std::string& keyName, const std::string& sectionName,
                                DWORD* type, std::string* data) {
  if (!sectionName.empty()) SelectSection(sectionName);
  if (!keyName.empty()) SelectValue(keyName);
  if (sectionKey == nullptr) return false;
  const char* name = ValueNameArgument(key);
  DWORD size = 0;
  LONG status = RegQueryValueExA(sectionKey, name, nullptr, type, nullptr, &size);
  // The data may grow between asking its size and reading it.
  while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    data->assign(static_cast<size_t>(size) + 1, '\0');
    status = RegQueryValueExA(sectionKey, name, nullptr, type, reinterpret_cast<BYTE*>(&(*data)[0]),
                              &size);
    if (status == ERROR_SUCCESS) {
      data->resize(size);
      return true;
    }
  }
  return false;
}

bool ToolRegistryStore::WriteRaw(const std::string& keyName, const std::string& sectionName,
                                 DWORD type, const std::string& data) {
  if (readOnly != 0) return false;
  if (!sectionName.empty()) SelectSection(sectionName);
  if (!keyName.empty()) SelectValue(keyName);
  if (CreateKeys() == 0) return false;
  const char* name = ValueNameArgument(key);
  return RegSetValueExA(sectionKey, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

LONG ToolRegistryStore::DeleteValue(const std::string& sectionName, const std::string& keyName) {
  if (readOnly != 0) return ERROR_ACCESS_DENIED;
  if (baseKey == nullptr) return ERROR_FILE_NOT_FOUND;
  KeyHandle section;
  LONG status = RegOpenKeyExA(baseKey, sectionName.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                              section.out());
  if (status != ERROR_SUCCESS) return status;
  return RegDeleteValueA(section.get(), ValueNameArgument(keyName));
}

}  // namespace inireg::tool
