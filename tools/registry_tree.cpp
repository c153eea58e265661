#include "registry_tree.h"

#include <vector>

#include "library_internals.h"

namespace inireg::tool {

namespace {

// Key name components have at most 255 UTF-16 units, value names 16383; in
// the A functions' UTF-8 a unit takes at most three bytes.
constexpr DWORD kKeyNameBuffer = 255 * 3 + 1;
constexpr DWORD kValueNameBuffer = 16383 * 3 + 1;

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
    LONG status =
        RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, nullptr, &dataSize);
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
    LONG status = RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, handle.out());
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
                                KEY_READ | KEY_WRITE, nullptr, handle.out(), &disposition);
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

LONG ReadKeyTree(RegRoot root, const std::string& subkey, RegDocument* document) {
  KeyHandle handle;
  LONG status = RegOpenKeyExA(RootKey(root), subkey.c_str(), 0, KEY_READ, handle.out());
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

}  // namespace inireg::tool
