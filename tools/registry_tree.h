// Whole key trees of the registry for the inireg command: reading a tree into
// a .reg document, applying a document, deleting a tree, and the registry
// store with the two operations the command needs beyond RegistryStore's.
#ifndef INIREG_TOOLS_REGISTRY_TREE_H_
#define INIREG_TOOLS_REGISTRY_TREE_H_

#include <string>

#include "inireg/registry_store.h"
#include "inireg/win32_registry.h"
#include "reg_file.h"

namespace inireg::tool {

HKEY RootKey(RegRoot root);

// Reads a location the command was given: "CU\path" as RegistryStore takes
// it (CR, CU, LM, US) or a .reg key name ("HKEY_CURRENT_USER\path", "HKCU\path").
bool ParseLocation(const std::string& text, RegRoot* root, std::string* subkey, std::string* error);
// The same location as RegistryStore takes it.
std::string StoreLocation(RegRoot root, const std::string& subkey);

// Appends the key at root\subkey and every key below it to `document`,
// parents before children, subkeys in the registry's order.
LONG ReadKeyTree(RegRoot root, const std::string& subkey, RegDocument* document);

// Deletes `subkey` of `parent` with all its values and subkeys, in one
// transaction on Linux.  ERROR_FILE_NOT_FOUND when there is no such key;
// ERROR_ACCESS_DENIED for an empty name.
LONG DeleteKeyTree(HKEY parent, const std::string& subkey);

// Applies the document in order.  Deleting a key or value that does not exist
// is not an error.  On failure *failedLine is the line of the key or value
// that failed; what came before it stays applied.
LONG ApplyRegDocument(const RegDocument& document, int* failedLine);

// ERROR_SUCCESS when the registry behind `root` can be read; on Linux, an
// error when its database cannot be opened.
LONG CheckRegistry(RegRoot root);

// A short description of a status code for messages.
std::string DescribeStatus(LONG status);

// RegistryStore with what the command needs on top.
class ToolRegistryStore : public RegistryStore {
 public:
  using RegistryStore::RegistryStore;

  // Deletes the section's key with its values and subkeys.  ERROR_ACCESS_DENIED
  // when the store is read-only; ERROR_FILE_NOT_FOUND when there is no such
  // section.
  LONG DeleteSection(const std::string& name);

  // The type and bytes of a value, named as GetValue names it (sticky,
  // "(Default)" for the unnamed value).  False when it cannot be read.
  bool ReadRaw(const std::string& keyName, const std::string& sectionName, DWORD* type,
               std::string* data);

  // Writes a value of any type, named as ReadRaw names it, creating the
  // location and section keys as needed.  False when the store is read-only
  // or the registry refuses.
  bool WriteRaw(const std::string& keyName, const std::string& sectionName, DWORD type,
                const std::string& data);

  // Deletes one value of a section ("(Default)": the unnamed value).
  // ERROR_ACCESS_DENIED when the store is read-only; ERROR_FILE_NOT_FOUND
  // when there is no such section or value.
  LONG DeleteValue(const std::string& sectionName, const std::string& keyName);
};

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_REGISTRY_TREE_H_
