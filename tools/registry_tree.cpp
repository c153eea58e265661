#include "registry_tree.h"

#include <cstdio>
#include <vector>

#include "registry/registry_path.h"

namespace inireg::tool {

namespace {

// Key name components have at most 255 UTF-16 units, value names 16383; in
// the A functions' UTF-8 a unit takes at most three bytes.
constexpr DWORD kKeyNameBuffer = 255 * 3 + 1;
constexpr DWORD kValueNameBuffer = 16383 * 3 + 1;
const char kDefaultValueName[] = "(Default)";

class KeyHandle {
 public:
  KeyHandle() = default;
  ~KeyHandle() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  HKEY* Out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

LONG SubkeyNames(HKEY key, std::vector<std::string>* names) {
  char name[kKeyNameBuffer];
  for (DWORD index = 0;; ++index) {
    LONG status = RegEnumKeyA(key, index, name, kKeyNameBuffer);
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    names->push_back(name);
  }
}

LONG ReadValues(HKEY key, RegKey* entry) {
  std::vector<char> name(kValueNameBuffer);
  for (DWORD index = 0;; ++index) {
    RegValue value;
    DWORD nameSize = kValueNameBuffer;
    DWORD type = 0;
    DWORD dataSize = 0;
    LONG status = RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, nullptr, &dataSize);
    // The data may grow between asking its size and reading it.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
      value.data.assign(static_cast<size_t>(dataSize) + 1, '\0');
      nameSize = kValueNameBuffer;
      status = RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type,
                             reinterpret_cast<BYTE*>(&value.data[0]), &dataSize);
      if (status == ERROR_SUCCESS) break;
    }
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    value.data.resize(dataSize);
    value.name.assign(name.data(), nameSize);
    value.type = type;
    entry->values.push_back(std::move(value));
  }
}

LONG ReadTree(HKEY key, RegRoot root, const std::string& subkey, RegDocument* document) {
  RegKey entry;
  entry.root = root;
  entry.subkey = subkey;
  if (LONG status = ReadValues(key, &entry)) return status;
  document->keys.push_back(std::move(entry));
  std::vector<std::string> children;
  if (LONG status = SubkeyNames(key, &children)) return status;
  for (const std::string& child : children) {
    KeyHandle handle;
    LONG status = RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, handle.Out());
    if (status == ERROR_FILE_NOT_FOUND) continue;  // Deleted while we read.
    if (status != ERROR_SUCCESS) return status;
    std::string path = subkey.empty() ? child : subkey + "\\" + child;
    if ((status = ReadTree(handle.get(), root, path, document))) return status;
  }
  return ERROR_SUCCESS;
}

LONG ApplyKey(const RegKey& key, int* failedLine) {
  *failedLine = key.line;
  HKEY root = RootKey(key.root);
  if (key.remove) {
    LONG status = DeleteKeyTree(root, key.subkey);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
  }
  KeyHandle handle;
  DWORD disposition = 0;
  LONG status = RegCreateKeyExA(root, key.subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_READ | KEY_WRITE, nullptr, handle.Out(), &disposition);
  if (status != ERROR_SUCCESS) return status;
  for (const RegValue& value : key.values) {
    *failedLine = value.line;
    if (value.remove) {
      status = RegDeleteValueA(handle.get(), value.name.c_str());
      if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
    } else {
      status = RegSetValueExA(handle.get(), value.name.c_str(), 0, value.type,
                              reinterpret_cast<const BYTE*>(value.data.data()),
                              static_cast<DWORD>(value.data.size()));
    }
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

}  // namespace

HKEY RootKey(RegRoot root) {
  switch (root) {
    case RegRoot::kClassesRoot: return HKEY_CLASSES_ROOT;
    case RegRoot::kCurrentUser: return HKEY_CURRENT_USER;
    case RegRoot::kLocalMachine: return HKEY_LOCAL_MACHINE;
    case RegRoot::kUsers: return HKEY_USERS;
    case RegRoot::kCurrentConfig: return HKEY_CURRENT_CONFIG;
  }
  return nullptr;
}

bool ParseLocation(const std::string& text, RegRoot* root, std::string* subkey, std::string* error) {
  HKEY handle = nullptr;
  std::string path;
  if (text.size() >= 2 && (text[0] == 'H' || text[0] == 'h') && (text[1] == 'K' || text[1] == 'k')) {
    if (!SplitRegKeyPath(text, root, &path, error)) return false;
  } else if (ParseRegistryPath(text, &handle, &path)) {
    const RegRoot roots[] = {RegRoot::kClassesRoot, RegRoot::kCurrentUser, RegRoot::kLocalMachine,
                             RegRoot::kUsers, RegRoot::kCurrentConfig};
    for (RegRoot candidate : roots) {
      if (RootKey(candidate) == handle) *root = candidate;
    }
    // The same rules as .reg key names, so that what is exported can be read back.
    RegRoot ignored;
    std::string checked;
    if (!path.empty() && !SplitRegKeyPath(std::string("HKCU\\") + path, &ignored, &checked, error)) {
      return false;
    }
  } else {
    *error = "unknown registry location \"" + text +
             "\"; expected ROOT\\PATH with ROOT one of CU, LM, CR, US, CC (or HKCU, HKLM, HKCR, HKU, "
             "HKCC, HKEY_CURRENT_USER, ...), as in CU\\Software\\Example";
    return false;
  }
  *subkey = path;
  return true;
}

std::string StoreLocation(RegRoot root, const std::string& subkey) {
  static const char* const kAbbreviations[] = {"CR", "CU", "LM", "US", "CC"};
  return std::string(kAbbreviations[static_cast<int>(root)]) + "\\" + subkey;
}

LONG ReadKeyTree(RegRoot root, const std::string& subkey, RegDocument* document) {
  KeyHandle handle;
  LONG status = RegOpenKeyExA(RootKey(root), subkey.c_str(), 0, KEY_READ, handle.Out());
  if (status != ERROR_SUCCESS) return status;
  return ReadTree(handle.get(), root, subkey, document);
}

LONG DeleteKeyTree(HKEY parent, const std::string& subkey) {
  // RegDeleteTreeA empties the parent itself for an empty name; this deletes
  // named keys only (never a whole root).
  if (subkey.empty()) return ERROR_ACCESS_DENIED;
  return RegDeleteTreeA(parent, subkey.c_str());
}

LONG ApplyRegDocument(const RegDocument& document, int* failedLine) {
  *failedLine = 0;
  for (const RegKey& key : document.keys) {
    if (LONG status = ApplyKey(key, failedLine)) return status;
  }
  return ERROR_SUCCESS;
}

LONG CheckRegistry(RegRoot root) {
  KeyHandle handle;
  return RegOpenKeyExA(RootKey(root), "", 0, KEY_READ, handle.Out());
}

std::string DescribeStatus(LONG status) {
  switch (status) {
    case ERROR_FILE_NOT_FOUND: return "not found";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_INVALID_PARAMETER: return "invalid parameter";
    case ERROR_BAD_PATHNAME: return "bad path name";
    case ERROR_REGISTRY_CORRUPT: return "the registry database cannot be opened or is damaged";
    case ERROR_REGISTRY_IO_FAILED: return "the registry database could not be read or written";
    default: break;
  }
  char text[48];
  std::snprintf(text, sizeof text, "registry error %ld", static_cast<long>(status));
  return text;
}

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
  const char* name = key == kDefaultValueName ? "" : key.c_str();
  DWORD size = 0;
  LONG status = RegQueryValueExA(sectionKey, name, nullptr, type, nullptr, &size);
  // The data may grow between asking its size and reading it.
  while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    data->assign(static_cast<size_t>(size) + 1, '\0');
    status = RegQueryValueExA(sectionKey, name, nullptr, type, reinterpret_cast<BYTE*>(&(*data)[0]), &size);
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
  const char* name = key == kDefaultValueName ? "" : key.c_str();
  return RegSetValueExA(sectionKey, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

LONG ToolRegistryStore::DeleteValue(const std::string& sectionName, const std::string& keyName) {
  if (readOnly != 0) return ERROR_ACCESS_DENIED;
  if (baseKey == nullptr) return ERROR_FILE_NOT_FOUND;
  KeyHandle section;
  LONG status = RegOpenKeyExA(baseKey, sectionName.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, section.Out());
  if (status != ERROR_SUCCESS) return status;
  return RegDeleteValueA(section.get(), keyName == kDefaultValueName ? "" : keyName.c_str());
}

}  // namespace inireg::tool
