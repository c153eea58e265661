// Settings kept in the registry: a section is a subkey of the location and a
// key a value name ("(Default)" the unnamed value, as in RegistryStore).
// Every call opens what it needs and closes it again, so nothing is held
// between calls and another process's changes are seen at once.
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "inireg/win32_registry.h"
#include "registry/key_handle.h"
#include "registry/registry_names.h"
#include "registry/registry_path.h"
#include "settings/settings_backend.h"

namespace inireg {

namespace {

// Enumeration buffers: key names are at most 255 characters, value names
// 16383, in the system's own limits.
constexpr DWORD kKeyNameCapacity = 256;
constexpr DWORD kValueNameCapacity = 16384;

Status Failed(const char* what, LONG status) {
  return Status::Error(std::string(what) + " failed with registry status " +
                       std::to_string(static_cast<long>(status)));
}

class RegistryBackend : public SettingsBackend {
 public:
  RegistryBackend(std::string location, bool readOnly)
      : location_(std::move(location)), readOnly_(readOnly) {
    valid_ = ParseRegistryPath(location_, &root_, &subkey_);
  }

  std::optional<std::string> Get(const std::string& section, const std::string& key,
                                 bool* exists) override {
    *exists = false;
    KeyHandle open;
    if (Open(section, KEY_QUERY_VALUE, &open) != ERROR_SUCCESS) return std::nullopt;
    const char* name = ValueNameArgument(key);
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(open.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    *exists = true;
    // The value may grow between the two queries: read until it fits.
    std::vector<BYTE> data;
    LONG status;
    do {
      data.resize(static_cast<size_t>(size) + 1);
      size = static_cast<DWORD>(data.size());
      status = RegQueryValueExA(open.get(), name, nullptr, &type, data.data(), &size);
    } while (status == ERROR_MORE_DATA);
    if (status != ERROR_SUCCESS) {
      *exists = status != ERROR_FILE_NOT_FOUND;
      return std::nullopt;
    }
    data.resize(size);
    return AsText(type, data);
  }

  Status Set(const std::string& section, const std::string& key,
             const std::string& value) override {
    if (readOnly_) return Status::Error("the settings were opened read-only");
    KeyHandle created;
    LONG status = Create(section, &created);
    if (status != ERROR_SUCCESS) return Failed("creating the section key", status);
    // REG_SZ with its terminating NUL, as the system's own tools write it.
    status = RegSetValueExA(created.get(), ValueNameArgument(key), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    return status == ERROR_SUCCESS ? Status::Ok() : Failed("writing the value", status);
  }

  Status Remove(const std::string& section, const std::string& key) override {
    if (readOnly_) return Status::Error("the settings were opened read-only");
    KeyHandle open;
    LONG status = Open(section, KEY_SET_VALUE, &open);
    if (status == ERROR_FILE_NOT_FOUND) return Status::Ok();
    if (status != ERROR_SUCCESS) return Failed("opening the section key", status);
    status = RegDeleteValueA(open.get(), ValueNameArgument(key));
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return Status::Ok();
    return Failed("deleting the value", status);
  }

  Status RemoveSection(const std::string& section) override {
    if (readOnly_) return Status::Error("the settings were opened read-only");
    KeyHandle base;
    LONG status = Open("", KEY_READ | KEY_WRITE, &base);
    if (status == ERROR_FILE_NOT_FOUND) return Status::Ok();
    if (status != ERROR_SUCCESS) return Failed("opening the location key", status);
    status = RegDeleteTreeA(base.get(), section.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return Status::Ok();
    return Failed("deleting the section key", status);
  }

  std::vector<std::string> Sections() override {
    std::vector<std::string> names;
    KeyHandle base;
    if (Open("", KEY_ENUMERATE_SUB_KEYS, &base) != ERROR_SUCCESS) return names;
    char name[kKeyNameCapacity];
    for (DWORD index = 0; RegEnumKeyA(base.get(), index, name, sizeof name) == ERROR_SUCCESS;
         ++index) {
      names.emplace_back(name);
    }
    return names;
  }

  std::vector<std::string> Keys(const std::string& section) override {
    std::vector<std::string> names;
    KeyHandle open;
    if (Open(section, KEY_QUERY_VALUE, &open) != ERROR_SUCCESS) return names;
    std::vector<char> name(kValueNameCapacity);
    for (DWORD index = 0;; ++index) {
      DWORD length = kValueNameCapacity;
      if (RegEnumValueA(open.get(), index, name.data(), &length, nullptr, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS) {
        break;
      }
      names.emplace_back(length == 0 ? std::string(kDefaultValueName)
                                     : std::string(name.data(), length));
    }
    return names;
  }

  Status Sync() override {
    if (!valid_) return Status::Error("not a registry location: " + location_);
    KeyHandle base;
    LONG status = Open("", KEY_READ, &base);
    if (status == ERROR_FILE_NOT_FOUND) return Status::Ok();
    if (status != ERROR_SUCCESS) return Failed("opening the location key", status);
    status = RegFlushKey(base.get());
    return status == ERROR_SUCCESS ? Status::Ok() : Failed("flushing the key", status);
  }

  void SetKeepLayout(bool) override {}

 private:
  // The path below the root of the location's `section` subkey (the location
  // itself for an empty section).
  std::string PathOf(const std::string& section) const {
    if (section.empty()) return subkey_;
    return subkey_.empty() ? section : subkey_ + "\\" + section;
  }

  LONG Open(const std::string& section, REGSAM access, KeyHandle* key) const {
    if (!valid_) return ERROR_INVALID_PARAMETER;
    return RegOpenKeyExA(root_, PathOf(section).c_str(), 0, access, key->out());
  }

  LONG Create(const std::string& section, KeyHandle* key) const {
    if (!valid_) return ERROR_INVALID_PARAMETER;
    return RegCreateKeyExA(root_, PathOf(section).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_READ | KEY_WRITE, nullptr, key->out(), nullptr);
  }

  // Text for the string and number types; nothing for the others.
  static std::optional<std::string> AsText(DWORD type, const std::vector<BYTE>& data) {
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::string text(data.begin(), data.end());
      size_t end = text.find('\0');
      if (end != std::string::npos) text.resize(end);
      return text;
    }
    if (type == REG_DWORD && data.size() == 4) {
      uint32_t number = 0;
      std::memcpy(&number, data.data(), 4);
      return std::to_string(number);
    }
    if (type == REG_QWORD && data.size() == 8) {
      uint64_t number = 0;
      std::memcpy(&number, data.data(), 8);
      return std::to_string(number);
    }
    return std::nullopt;
  }

  std::string location_;
  bool readOnly_;
  bool valid_ = false;
  HKEY root_ = nullptr;
  std::string subkey_;
};

}  // namespace

std::unique_ptr<SettingsBackend> MakeRegistryBackend(std::string location, bool readOnly) {
  return std::make_unique<RegistryBackend>(std::move(location), readOnly);
}

}  // namespace inireg
