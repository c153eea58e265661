#include "store_text.h"

#include <cstdio>
#include <vector>

#include "platform/code_page.h"

namespace inireg::tool {

namespace {

const char kDefaultValueName[] = "(Default)";

// A profile value as a line must hold it for the reader to give it back:
// in quotes when it has surrounding whitespace or its own enclosing quotes.
std::string IniValue(const std::string& value) {
  if (value.empty()) return value;
  char first = value.front(), last = value.back();
  bool spaced = first == ' ' || first == '\t' || last == ' ' || last == '\t';
  bool enclosed = value.size() >= 2 && first == last && (first == '"' || first == '\'');
  return spaced || enclosed ? "\"" + value + "\"" : value;
}

// Registry data shown as text: the bytes in the .reg hex notation.
std::string HexText(DWORD type, const std::string& data) {
  char prefix[24];
  if (type == REG_BINARY) {
    std::snprintf(prefix, sizeof prefix, "hex:");
  } else {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
  }
  std::string text = prefix;
  for (size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : ",%02x", static_cast<unsigned char>(data[i]));
    text += byte;
  }
  return text;
}

}  // namespace

NameList SectionNames(ProfileStore& store) {
  NameList list;
  list.names.reset(store.GetSectionNames(&list.count));
  return list;
}

NameList KeyNames(ProfileStore& store, const std::string& section) {
  NameList list;
  list.names.reset(store.GetKeyNames(&list.count, section));
  return list;
}

// Whether the entry exists, by asking twice with different defaults.
bool ReadProfileString(ProfileStore& store, const std::string& section, const std::string& key,
                       std::string* value) {
  store.GetString(*value, "\x01", key, section);
  if (*value != "\x01") return true;
  store.GetString(*value, "\x02", key, section);
  return *value != "\x02";
}

// Existence is told by GetValue leaving one of two different preset texts
// alone.
bool ReadRegistryText(ToolRegistryStore& store, const std::string& section, const std::string& key,
                      std::string* text) {
  for (const char* preset : {"\x01", "\x02"}) {
    std::string out = preset;
    BYTE* raw = nullptr;
    DWORD size = 0;
    store.GetValue(out, &raw, &size, key, section);
    if (raw != nullptr) {
      delete[] raw;
      DWORD type = REG_NONE;
      std::string data;
      if (!store.ReadRaw(key, section, &type, &data)) return false;
      *text = HexText(type, data);
      return true;
    }
    if (out != preset) {
      *text = out;
      return true;
    }
  }
  return false;
}

std::string DumpProfile(ProfileStore& store) {
  std::string out;
  NameList sections = SectionNames(store);
  std::vector<std::string> seen;
  for (int32_t i = 0; i < sections.count; ++i) {
    const std::string& name = sections.names[i];
    if (i > 0) out += "\n";
    out += "[" + name + "]\n";
    bool repeated = false;
    for (const std::string& other : seen) repeated |= CompareNoCase(other.c_str(), name.c_str()) == 0;
    seen.push_back(name);
    // The store reaches sections by name, so only the first of a name.
    if (name.empty() || repeated) {
      out += "; the store cannot reach this section's keys (" +
             std::string(name.empty() ? "empty name" : "a section of that name came before") + ")\n";
      continue;
    }
    NameList keys = KeyNames(store, name);
    for (int32_t k = 0; k < keys.count; ++k) {
      std::string value;
      store.GetString(value, "", keys.names[k], name);
      out += keys.names[k] + "=" + IniValue(value) + "\n";
    }
  }
  return out;
}

std::string DumpRegistry(ToolRegistryStore& store) {
  std::string out;
  NameList sections = SectionNames(store);
  for (int32_t i = 0; i < sections.count; ++i) {
    const std::string& name = sections.names[i];
    if (i > 0) out += "\n";
    out += "[" + name + "]\n";
    NameList keys = KeyNames(store, name);
    for (int32_t k = 0; k < keys.count; ++k) {
      std::string key = keys.names[k].empty() ? kDefaultValueName : keys.names[k];
      std::string value;
      if (ReadRegistryText(store, name, key, &value)) {
        out += key + "=" + value + "\n";
      } else {
        out += "; " + key + " could not be read\n";
      }
    }
  }
  return out;
}

bool CommitProfile(std::unique_ptr<ProfileStore> store, const std::string& path) {
  std::string expected = DumpProfile(*store);
  store.reset();
  ProfileStore reread(path);
  return DumpProfile(reread) == expected;
}

}  // namespace inireg::tool
