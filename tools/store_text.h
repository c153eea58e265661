// Settings of a store as the inireg command shows them: single values as
// `get` prints them, whole stores as INI text, and the write-back check of a
// changed profile file.  Everything goes through the stores' own interface.
#ifndef INIREG_TOOLS_STORE_TEXT_H_
#define INIREG_TOOLS_STORE_TEXT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "inireg/profile_store.h"
#include "registry_tree.h"

namespace inireg::tool {

// The arrays GetKeyNames and GetSectionNames hand out, freed on destruction.
struct NameList {
  int32_t count = 0;
  std::unique_ptr<std::string[]> names;
};
NameList SectionNames(ProfileStore& store);
NameList KeyNames(ProfileStore& store, const std::string& section);

// The value of an entry of a profile file.  False when there is none.
bool ReadProfileString(ProfileStore& store, const std::string& section, const std::string& key,
                       std::string* value);

// A registry value as text: REG_SZ, REG_EXPAND_SZ, REG_DWORD and REG_QWORD as
// GetValue gives them, other types in the .reg hex notation ("hex:01,02",
// "hex(7):..." with the bytes as stored).  False when there is no such value.
bool ReadRegistryText(ToolRegistryStore& store, const std::string& section, const std::string& key,
                      std::string* text);

// Every section and its entries as INI text that reads back to the same
// values: "[section]" lines, "key=value" lines, a blank line between sections.
std::string DumpProfile(ProfileStore& store);
// The location's direct subkeys and their values, shown as ReadRegistryText
// shows them; "(Default)" names the unnamed value.
std::string DumpRegistry(ToolRegistryStore& store);

// Closes a changed profile store, which writes the file back, and reads the
// file again to confirm that it now holds what the store showed.
bool CommitProfile(std::unique_ptr<ProfileStore> store, const std::string& path);

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_STORE_TEXT_H_
