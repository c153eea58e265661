// Settings of a store as the inireg command shows them: single values as
// `get` prints them, sections and whole stores as INI text, shell
// assignments or one line an entry, and the write-back check of a changed
// profile file.  Everything goes through the stores' own interface (and, for
// registry values, the value's type and bytes).
//
// The INI text always reads back as the same sections and keys: a value the
// format cannot hold as it is (a line break, a list of strings) is shown in
// the .reg notation of its data, and a name it cannot hold at all (a key with
// "=", a section of line breaks, a key the store cannot reach because an
// earlier one has its name) becomes a ";" comment line saying so, with
// control characters escaped and no "=" in it.
#ifndef INIREG_TOOLS_STORE_TEXT_H_
#define INIREG_TOOLS_STORE_TEXT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "inireg/profile_store.h"
#include "tool_registry_store.h"

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

// A registry value as the command shows it.
struct RegistryValueText {
  DWORD type = REG_NONE;
  std::string data;  // The bytes as stored.
  // As `get` prints it: REG_SZ and REG_EXPAND_SZ text (up to its first NUL),
  // REG_DWORD and REG_QWORD as unsigned decimal numbers, REG_MULTI_SZ its
  // strings one a line, anything else (and numbers of another size) the
  // .reg notation.
  std::string text;
  // The data as a .reg file writes it ("hex(7):61,00,...", "dword:0000002a",
  // "\"text\""), on one line.
  std::string notation;
  bool plain = false;  // `text` is one line that INI can carry as a value.
};
// False when there is no such value.  "(Default)" names the unnamed value.
bool ReadRegistryValue(ToolRegistryStore& store, const std::string& section, const std::string& key,
                       RegistryValueText* value);

// What a store holds, name by name, ready to print in each format.
struct EntryView {
  std::string key;
  std::string text;         // The value as `get` prints it.
  std::string iniValue;     // The value as an INI line carries it.
  std::string problem;      // Why the entry cannot be an INI line; empty when it can.
  bool unreadable = false;  // The store cannot read this entry's own value.
};
struct SectionView {
  std::string name;
  std::string problem;      // Why the section cannot be an INI header; empty when it can.
  bool unreadable = false;  // The store cannot reach this section's entries.
  std::vector<EntryView> entries;
};
// All sections, or only `section` when it is given (empty when it is absent).
std::vector<SectionView> ViewProfile(ProfileStore& store, const std::string* section = nullptr);
std::vector<SectionView> ViewRegistry(ToolRegistryStore& store,
                                      const std::string* section = nullptr);

// One entry as a view of its own, its problems found as for whole stores.
std::vector<SectionView> SingleEntryView(const std::string& section, const std::string& key,
                                         const std::string& text, const std::string& iniValue);

// INI text: "[section]" lines, "key=value" lines, a blank line between
// sections, comments for what INI cannot carry.
std::string FormatIni(const std::vector<SectionView>& sections);
// "[section] key=value", one line an entry, comments as in FormatIni.
std::string FormatEntryLines(const std::vector<SectionView>& sections);
// Shell assignments NAME='value' that `eval` can run, for every entry whose
// value the store can read; NAME is the key (with
// `withSection`, section_key) with every character outside A-Z, a-z, 0-9 and
// _ made _, and a leading _ before a digit.
std::string FormatShell(const std::vector<SectionView>& sections, bool withSection);

// A word the shell reads back as `text`, in single quotes.
std::string ShellQuote(const std::string& text);
// A ";" comment line (with its line end) that no reader takes for an entry.
std::string CommentLine(const std::string& text);

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_STORE_TEXT_H_
