#include "store_text.h"

#include <cstdio>

#include "library_internals.h"
#include "reg_file.h"
#include "terminal_text.h"

namespace inireg::tool {

namespace {

bool IsTrimmed(char c) { return IsProfileSpace(c); }

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

bool SameName(const std::string& a, const std::string& b) {
  return CompareNoCase(a.c_str(), b.c_str()) == 0;
}

// Why a key cannot be an INI line, or "" when it can.
std::string KeyProblem(const std::string& key) {
  if (key.empty()) return "an empty name";
  if (HasLineBreak(key)) return "a line break in the name";
  if (key.find('=') != std::string::npos) return "\"=\" in the name";
  if (IsTrimmed(key.front()) || IsTrimmed(key.back())) return "whitespace around the name";
  if (key.front() == '[') return "a name starting with \"[\"";
  if (key.front() == ';') return "a name starting with \";\"";
  return "";
}

std::string SectionProblem(const std::string& name) {
  if (name.empty()) return "an empty name";
  if (HasLineBreak(name)) return "a line break in the name";
  return "";
}

std::string Number(unsigned long long number) { return std::to_string(number); }

unsigned long long LittleEndian(const std::string& data) {
  unsigned long long number = 0;
  for (size_t i = data.size(); i > 0; --i)
    number = number << 8 | static_cast<unsigned char>(data[i - 1]);
  return number;
}

std::string ShellName(const std::string& text) {
  std::string name;
  for (char c : text) {
    bool word =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    name += word ? c : '_';
  }
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) name.insert(0, "_");
  return name;
}

// Marks sections and (with `keys`) entries the store cannot tell apart from
// an earlier one of the same name.  Registry names are unique already.
void MarkShadowed(std::vector<SectionView>* sections, bool keys) {
  for (size_t s = 0; s < sections->size(); ++s) {
    SectionView& section = (*sections)[s];
    for (size_t earlier = 0; earlier < s && section.problem.empty(); ++earlier) {
      if (SameName((*sections)[earlier].name, section.name)) {
        section.problem = "a section of the same name comes first, and only its keys can be read";
        section.unreadable = true;
      }
    }
    for (size_t e = 0; keys && e < section.entries.size(); ++e) {
      EntryView& entry = section.entries[e];
      for (size_t earlier = 0; earlier < e && entry.problem.empty(); ++earlier) {
        if (SameName(section.entries[earlier].key, entry.key)) {
          entry.problem = "a key of the same name comes first, and only its value can be read";
          entry.unreadable = true;
        }
      }
    }
  }
}

void AppendEntryComment(std::string* out, const std::string& prefix, const EntryView& entry) {
  std::string value = entry.unreadable ? std::string() : "; its value is \"" + entry.text + "\"";
  *out += CommentLine(prefix + "\"" + entry.key + "\" is left out (" + entry.problem + ")" + value);
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

bool ReadRegistryValue(ToolRegistryStore& store, const std::string& section, const std::string& key,
                       RegistryValueText* value) {
  if (!store.ReadRaw(key, section, &value->type, &value->data)) return false;
  const std::string& data = value->data;
  value->notation = RegDataNotation(value->type, data);
  value->plain = true;
  switch (value->type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      value->text = data.substr(0, data.find('\0'));
      value->plain = !HasLineBreak(value->text);
      return true;
    case REG_DWORD:
    case REG_QWORD:
      if (data.size() == (value->type == REG_DWORD ? 4u : 8u)) {
        value->text = Number(LittleEndian(data));
        return true;
      }
      break;
    case REG_MULTI_SZ: {
      // The strings up to the empty one that ends the list.
      std::string strings;
      for (size_t start = 0; start < data.size();) {
        size_t end = data.find('\0', start);
        if (end == start) break;
        if (end == std::string::npos) end = data.size();
        strings += data.substr(start, end - start) + "\n";
        start = end + 1;
      }
      if (!strings.empty()) strings.pop_back();
      value->text = strings;
      value->plain = false;
      return true;
    }
    default:
      break;
  }
  value->text = value->notation;
  value->plain = false;
  return true;
}

std::vector<SectionView> ViewProfile(ProfileStore& store, const std::string* only) {
  std::vector<SectionView> view;
  NameList sections = SectionNames(store);
  for (int32_t i = 0; i < sections.count; ++i) {
    if (only != nullptr && !SameName(sections.names[i], *only)) continue;
    SectionView section;
    section.name = sections.names[i];
    section.problem = SectionProblem(section.name);
    if (section.problem.empty()) {
      NameList keys = KeyNames(store, section.name);
      for (int32_t k = 0; k < keys.count; ++k) {
        EntryView entry;
        entry.key = keys.names[k];
        store.GetString(entry.text, "", entry.key, section.name);
        entry.iniValue = ValueAsWritten(entry.text);
        entry.problem = KeyProblem(entry.key);
        section.entries.push_back(std::move(entry));
      }
    }
    view.push_back(std::move(section));
    if (only != nullptr) break;  // The store reaches only the first of a name.
  }
  MarkShadowed(&view, true);
  return view;
}

std::vector<SectionView> ViewRegistry(ToolRegistryStore& store, const std::string* only) {
  std::vector<SectionView> view;
  NameList sections = SectionNames(store);
  for (int32_t i = 0; i < sections.count; ++i) {
    if (only != nullptr && !SameName(sections.names[i], *only)) continue;
    SectionView section;
    section.name = sections.names[i];
    section.problem = SectionProblem(section.name);
    NameList keys = KeyNames(store, section.name);
    for (int32_t k = 0; k < keys.count; ++k) {
      EntryView entry;
      // The store names the unnamed value "(Default)", so a value really
      // called that cannot be reached.
      bool unnamed = keys.names[k].empty();
      entry.key = unnamed ? kDefaultValueName : keys.names[k];
      if (!unnamed && IsDefaultValueName(entry.key)) {
        entry.problem =
            "the name stands for the unnamed value, so this value cannot be read by name";
        entry.unreadable = true;
        section.entries.push_back(std::move(entry));
        continue;
      }
      RegistryValueText value;
      if (!ReadRegistryValue(store, section.name, entry.key, &value)) {
        entry.problem = "it could not be read";
        entry.unreadable = true;
      } else {
        entry.text = value.text;
        entry.iniValue = value.plain ? ValueAsWritten(value.text) : value.notation;
        entry.problem = KeyProblem(entry.key);
      }
      section.entries.push_back(std::move(entry));
    }
    view.push_back(std::move(section));
  }
  MarkShadowed(&view, false);
  return view;
}

std::vector<SectionView> SingleEntryView(const std::string& section, const std::string& key,
                                         const std::string& text, const std::string& iniValue) {
  SectionView view;
  view.name = section;
  view.problem = SectionProblem(section);
  EntryView entry;
  entry.key = key;
  entry.text = text;
  entry.iniValue = iniValue;
  entry.problem = KeyProblem(key);
  view.entries.push_back(std::move(entry));
  return {view};
}

std::string FormatIni(const std::vector<SectionView>& sections) {
  std::string out;
  for (size_t i = 0; i < sections.size(); ++i) {
    const SectionView& section = sections[i];
    if (i > 0) out += "\n";
    if (!section.problem.empty()) {
      out += CommentLine("section \"" + section.name + "\" is left out (" + section.problem + ")");
      continue;
    }
    out += "[" + section.name + "]\n";
    for (const EntryView& entry : section.entries) {
      if (entry.problem.empty()) {
        out += entry.key + "=" + entry.iniValue + "\n";
      } else {
        AppendEntryComment(&out, "key ", entry);
      }
    }
  }
  return out;
}

std::string FormatEntryLines(const std::vector<SectionView>& sections) {
  std::string out;
  for (const SectionView& section : sections) {
    if (!section.problem.empty()) {
      out += CommentLine("section \"" + section.name + "\" is left out (" + section.problem + ")");
      continue;
    }
    for (const EntryView& entry : section.entries) {
      if (entry.problem.empty()) {
        out += "[" + section.name + "] " + entry.key + "=" + entry.iniValue + "\n";
      } else {
        AppendEntryComment(&out, "[" + section.name + "] key ", entry);
      }
    }
  }
  return out;
}

std::string FormatShell(const std::vector<SectionView>& sections, bool withSection) {
  std::string out;
  for (const SectionView& section : sections) {
    if (section.unreadable) continue;
    for (const EntryView& entry : section.entries) {
      if (entry.unreadable) continue;
      std::string name = withSection ? section.name + "_" + entry.key : entry.key;
      out += ShellName(name) + "=" + ShellQuote(entry.text) + "\n";
    }
  }
  return out;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string CommentLine(const std::string& text) {
  std::string line = "; ";
  for (char c : Printable(text)) line += c == '=' ? std::string("\\x3d") : std::string(1, c);
  return line + "\n";
}

}  // namespace inireg::tool
