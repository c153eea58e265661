#include "inireg/registry_store.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "inireg/text.h"
#include "registry/registry_calls.h"
#include "registry/registry_names.h"
#include "registry/registry_path.h"
#include "text/numbers.h"

namespace inireg {

namespace {

// Listings read names into buffers of this many characters; a longer value
// name ends the listing.
constexpr DWORD kNameBufferSize = 1024;
constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;  // 0x2001F

// Enumerates names by index until the first non-zero status, handing each to
// `take`, which returns false to stop.  `next(index, buffer)` reads one name.
template <typename NextName, typename Take>
void EnumerateNames(NextName next, Take take) {
  char name[kNameBufferSize];
  for (DWORD index = 0;; ++index) {
    if (next(index, name) != ERROR_SUCCESS || !take(name)) return;
  }
}

// The two-pass listing: count the names, allocate the array once, then fill
// it.  Names that disappear between the passes leave empty strings; names
// that appear are not listed.
template <typename NextName>
CountedStringArray CollectNames(int32_t* count, NextName next) {
  int32_t total = 0;
  EnumerateNames(next, [&total](const char*) { return ++total < INT32_MAX; });
  *count = 0;
  if (total == 0) return nullptr;
  std::string* names = new (std::nothrow) std::string[static_cast<size_t>(total)];
  if (names == nullptr) return nullptr;
  *count = total;
  int32_t filled = 0;
  EnumerateNames(next, [&](const char* name) {
    names[filled++] = name;
    return filled < total;
  });
  return names;
}

}  // namespace

RegistryStore::RegistryStore(std::string location, int32_t readOnly, REGSAM accessFlags)
    : ProfileStore(""), readOnly(readOnly), accessFlags(accessFlags) {
  OpenPath(std::move(location));
}

RegistryStore::~RegistryStore() {
  if (baseKey != nullptr) Registry().closeKey(baseKey);
  if (sectionKey != nullptr) Registry().closeKey(sectionKey);
}

REGSAM RegistryStore::OpenMask() const {
  return (readOnly != 0 ? KEY_READ : kReadWrite) | accessFlags;
}

REGSAM RegistryStore::CreateMask() const { return kReadWrite | accessFlags; }

void RegistryStore::OpenPath(std::string location) {
  HKEY root = nullptr;
  std::string subkey;
  if (!ParseRegistryPath(location, &root, &subkey)) {
    rootKey = nullptr;
    return;
  }
  rootKey = root;
  path = std::move(location);
  if (baseKey != nullptr) {
    Registry().closeKey(baseKey);
    baseKey = nullptr;
  }
  if (Registry().openKey(rootKey, subkey.c_str(), 0, OpenMask(), &baseKey) != ERROR_SUCCESS) {
    baseKey = nullptr;
  }
}

void RegistryStore::SetAccessFlags(REGSAM flags) { accessFlags = flags; }

void RegistryStore::SelectSection(std::string name) {
  section = std::move(name);
  if (sectionKey != nullptr) {
    Registry().closeKey(sectionKey);
    sectionKey = nullptr;
  }
  if (baseKey == nullptr ||
      Registry().openKey(baseKey, section.c_str(), 0, OpenMask(), &sectionKey) != ERROR_SUCCESS) {
    sectionKey = nullptr;
  }
}

void RegistryStore::SelectValue(std::string name) { key = std::move(name); }

int32_t RegistryStore::CreateKeys() {
  DWORD disposition = 0;
  if (baseKey == nullptr) {
    // rootKey is set only when OpenPath parsed `path`, which no one changes
    // afterwards.
    HKEY root = nullptr;
    std::string subkey;
    if (rootKey == nullptr || !ParseRegistryPath(path, &root, &subkey)) return 0;
    if (Registry().createKey(rootKey, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             CreateMask(), nullptr, &baseKey, &disposition) != ERROR_SUCCESS) {
      baseKey = nullptr;
      return 0;
    }
  }
  if (sectionKey == nullptr) {
    const char* name = section.c_str();
    if (*name == '\\') ++name;
    if (Registry().createKey(baseKey, name, 0, nullptr, REG_OPTION_NON_VOLATILE, CreateMask(),
                             nullptr, &sectionKey, &disposition) != ERROR_SUCCESS) {
      sectionKey = nullptr;
      return 0;
    }
  }
  return 1;
}

char* RegistryStore::ResizeBuffer(std::string& text, int32_t n) {
  text.resize(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  return &text[0];  // Writable even when empty (it points at the terminator).
}

void RegistryStore::NameSectionAndKey(const std::string& sectionArgument,
                                      const std::string& keyArgument) {
  if (!sectionArgument.empty()) SelectSection(sectionArgument);
  if (!keyArgument.empty()) SelectValue(keyArgument);
}

const char* RegistryStore::MappedValueName() const { return ValueNameArgument(key); }

bool RegistryStore::QueryTypeAndSize(const char* name, DWORD* type, DWORD* size) {
  return sectionKey != nullptr &&
         Registry().queryValue(sectionKey, name, nullptr, type, nullptr, size) == ERROR_SUCCESS;
}

int32_t RegistryStore::WriteValue(const char* name, DWORD type, const void* data, DWORD size) {
  if (sectionKey == nullptr && CreateKeys() == 0) return 0;
  LONG status =
      Registry().setValue(sectionKey, name, 0, type, static_cast<const BYTE*>(data), size);
  return status == ERROR_SUCCESS ? static_cast<int32_t>(size) + 1 : 0;
}

int32_t RegistryStore::GetInt(std::string keyArgument, std::string sectionArgument,
                              int32_t defaultValue) {
  NameSectionAndKey(sectionArgument, keyArgument);
  DWORD type = 0, size = 0;
  if (!QueryTypeAndSize(key.c_str(), &type, &size)) return defaultValue;
  if (type == REG_SZ) {
    // One byte more than the data, zero-filled: the text always ends inside.
    std::unique_ptr<char[]> text(new (std::nothrow) char[static_cast<size_t>(size) + 1]());
    if (!text) return defaultValue;
    DWORD capacity = size;
    if (Registry().queryValue(sectionKey, key.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(text.get()), &capacity) != ERROR_SUCCESS) {
      return defaultValue;
    }
    return ParseSigned32(text.get());
  }
  if (type == REG_DWORD) {
    uint32_t number = 0;
    DWORD capacity = sizeof number;
    if (Registry().queryValue(sectionKey, key.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(&number), &capacity) != ERROR_SUCCESS) {
      return defaultValue;
    }
    return static_cast<int32_t>(number);
  }
  return defaultValue;
}

int32_t RegistryStore::GetString(std::string& out, std::string defaultValue,
                                 std::string keyArgument, std::string sectionArgument) {
  NameSectionAndKey(sectionArgument, keyArgument);
  const char* name = MappedValueName();
  DWORD type = 0, size = 0;
  bool read = false;
  if (QueryTypeAndSize(name, &type, &size)) {
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && size <= INT32_MAX - 3) {
      out.clear();
      char* text = ResizeBuffer(out, static_cast<int32_t>(size) + 3);
      DWORD capacity = size + 1;
      read = Registry().queryValue(sectionKey, name, nullptr, &type, reinterpret_cast<BYTE*>(text),
                                   &capacity) == ERROR_SUCCESS;
      if (read) out.resize(std::strlen(out.c_str()));
    } else if (type == REG_DWORD) {
      uint32_t number = 0;
      DWORD capacity = sizeof number;
      read = Registry().queryValue(sectionKey, name, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&number), &capacity) == ERROR_SUCCESS;
      if (read) FormatString(out, "%lu", static_cast<unsigned long>(number));
    }
  }
  if (!read) out = defaultValue;
  return static_cast<int32_t>(out.size());
}

uint32_t RegistryStore::GetValue(std::string& out, BYTE** data, DWORD* size,
                                 std::string keyArgument, std::string sectionArgument) {
  NameSectionAndKey(sectionArgument, keyArgument);
  const char* name = MappedValueName();
  DWORD type = 0, dataSize = 0;
  if (!QueryTypeAndSize(name, &type, &dataSize)) return static_cast<uint32_t>(out.size());
  // Every answer below follows the type and size the size query saw; the
  // reads report the type into readType, which may differ when another
  // writer changed the value in between.
  DWORD readType = 0;

  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    if (dataSize > INT32_MAX - 3) return static_cast<uint32_t>(out.size());
    // No fallback: a failed read leaves whatever it put into the NUL-filled
    // characters, which is normally nothing.
    out.clear();
    char* text = ResizeBuffer(out, static_cast<int32_t>(dataSize) + 3);
    DWORD capacity = dataSize + 1;
    Registry().queryValue(sectionKey, name, nullptr, &readType, reinterpret_cast<BYTE*>(text),
                          &capacity);
    out.resize(std::strlen(out.c_str()));
  } else if (type == REG_DWORD) {
    uint32_t number = 0;
    DWORD capacity = sizeof number;
    if (Registry().queryValue(sectionKey, name, nullptr, &readType,
                              reinterpret_cast<BYTE*>(&number), &capacity) == ERROR_SUCCESS) {
      FormatString(out, "%lu", static_cast<unsigned long>(number));
    }
  } else if (type == REG_QWORD) {
    uint64_t number = 0;
    DWORD capacity = sizeof number;
    if (Registry().queryValue(sectionKey, name, nullptr, &readType,
                              reinterpret_cast<BYTE*>(&number), &capacity) == ERROR_SUCCESS) {
      FormatString(out, "%llu", static_cast<unsigned long long>(number));
    }
  } else {
    // Raw bytes.  Without a size to read into, this is a size-only query.
    // When no buffer can be had, nothing of the caller's changes.
    BYTE* buffer = nullptr;
    if (data != nullptr && size != nullptr) {
      buffer = new (std::nothrow) BYTE[static_cast<size_t>(dataSize) + 1];
      if (buffer == nullptr) return static_cast<uint32_t>(out.size());
    }
    if (size != nullptr) *size = dataSize + 1;
    if (buffer != nullptr) {
      *data = buffer;
      // A value that grew since the size query fails the read, and the
      // registry then reports the size it would need: more than the buffer
      // holds.  Report no bytes instead, so that no caller reads past it.
      if (Registry().queryValue(sectionKey, name, nullptr, &readType, buffer, size) !=
          ERROR_SUCCESS) {
        *size = 0;
      }
    }
    if (type == REG_BINARY || type == REG_MULTI_SZ) return dataSize + 1;
  }
  return static_cast<uint32_t>(out.size());
}

int32_t RegistryStore::SetString(std::string value, std::string keyArgument,
                                 std::string sectionArgument) {
  if (readOnly != 0) return 0;
  NameSectionAndKey(sectionArgument, keyArgument);
  return WriteValue(MappedValueName(), REG_SZ, value.data(), static_cast<DWORD>(value.size()));
}

int32_t RegistryStore::SetInt(int32_t value, std::string keyArgument, std::string sectionArgument) {
  if (readOnly != 0) return 0;
  NameSectionAndKey(sectionArgument, keyArgument);
  std::string text;
  FormatString(text, "%d", value);
  return WriteValue(key.c_str(), REG_SZ, text.data(), static_cast<DWORD>(text.size()));
}

int32_t RegistryStore::SetDword(uint32_t value, std::string keyArgument,
                                std::string sectionArgument) {
  if (readOnly != 0) return 0;
  NameSectionAndKey(sectionArgument, keyArgument);
  const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                         static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  return WriteValue(key.c_str(), REG_DWORD, bytes, sizeof bytes);
}

int32_t RegistryStore::GetKeyList(char* buffer, int32_t size, std::string sectionArgument) {
  NameSectionAndKey(sectionArgument, "");
  if (buffer == nullptr || size < 0) size = 0;
  if (size > 0) std::memset(buffer, 0, static_cast<size_t>(size));
  if (sectionKey == nullptr) return 0;
  int32_t position = 0;
  EnumerateNames(
      [this](DWORD index, char* name) {
        DWORD capacity = kNameBufferSize;
        DWORD type = 0;
        return Registry().enumValue(sectionKey, index, name, &capacity, nullptr, &type, nullptr,
                                    nullptr);
      },
      [&](const char* name) {
        int32_t length = static_cast<int32_t>(std::strlen(name));
        if (size - position > length + 1) {
          std::memcpy(buffer + position, name, static_cast<size_t>(length) + 1);
          position += length + 1;
          return true;
        }
        if (size - position - 1 > 0) {
          std::memcpy(buffer + position, name, static_cast<size_t>(size - position - 1));
          position = size - 1;
        }
        return false;
      });
  return position;
}

CountedStringArray RegistryStore::GetKeyNames(int32_t* count, std::string sectionArgument) {
  NameSectionAndKey(sectionArgument, "");
  if (sectionKey == nullptr) {
    *count = 0;
    return nullptr;
  }
  return CollectNames(count, [this](DWORD index, char* name) {
    DWORD capacity = kNameBufferSize;
    DWORD type = 0;
    return Registry().enumValue(sectionKey, index, name, &capacity, nullptr, &type, nullptr,
                                nullptr);
  });
}

CountedStringArray RegistryStore::GetSectionNames(int32_t* count) {
  if (baseKey == nullptr) {
    *count = 0;
    return nullptr;
  }
  return CollectNames(count, [this](DWORD index, char* name) {
    return Registry().enumKey(baseKey, index, name, kNameBufferSize);
  });
}

RegistryCalls& Registry() {
  static RegistryCalls calls;
  return calls;
}

}  // namespace inireg
