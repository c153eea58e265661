// The Win32 registry functions on Linux, over the SQLite store of
// registry_database.h.
//
// This file owns what Win32 callers see: handle values, access masks, the
// argument rules and status codes, and which database the roots live in.
// Handles are tokens in a table, never addresses, so a closed, null or
// made-up handle answers ERROR_INVALID_HANDLE and cannot crash.  One mutex
// guards the table and every use of the databases; other processes are kept
// in step by SQLite's locking.
//
// Where Wine and Windows differ, or the measured facts settle nothing:
// - Values enumerate in creation order and subkeys by upper-cased name, as
//   on Windows (Wine sorts both by lower-cased name).
// - Creating a subkey needs KEY_CREATE_SUB_KEY on the parent handle, as on
//   Windows (Wine allows it without).  Opening, or "creating" a key that
//   exists, needs no right on the parent.
// - A key name component may have 255 characters, as Windows documents
//   (Wine allows 256); a value name 16383.  Both count UTF-16 units, as
//   Windows does: "é" is two bytes of UTF-8 and one unit.
// - REG_SZ data is stored exactly as given; no NUL is added.  Reads append
//   one after REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ data stored without it
//   when the buffer has room, without counting it (RegQueryValueExA,
//   RegEnumValueA), or count the one they guarantee (RegGetValueA,
//   RegQueryValueA).
// - The predefined roots are also accepted sign-extended, as the 64-bit SDK
//   writes them (0xFFFFFFFF80000001 for HKEY_CURRENT_USER).
// - Lengths that RegQueryInfoKeyA reports are bytes in the A functions' code
//   page (UTF-8), so that a buffer of that size always fits the name.
// - Keys have no class and no security descriptor: classes read as empty,
//   sizes as 0.
// - RegQueryInfoKeyA needs KEY_QUERY_VALUE, as Windows documents (Wine does
//   not check); RegDeleteTreeA on the handle's own key (null or "" subkey)
//   needs KEY_QUERY_VALUE, KEY_ENUMERATE_SUB_KEYS and KEY_SET_VALUE, and is
//   one transaction: it deletes everything or nothing (Wine may stop half
//   way).
// - RegGetValueA expands REG_EXPAND_SZ with the process environment (names
//   are case-sensitive, as on Linux); an undefined %NAME% stays as written.
// - RegFlushKey moves committed writes into the database file and syncs it.
// - Operations through a handle whose key was deleted answer
//   ERROR_KEY_DELETED, as Windows does; closing such a handle works.
// - RegDeleteKeyA: a key with subkeys and a root answer ERROR_ACCESS_DENIED
//   (Windows); a null subkey answers ERROR_INVALID_PARAMETER; "" deletes the
//   handle's own key.  No right on the handle is needed, as Windows checks
//   the deleted key's own security, which is not modelled here.
// - Argument errors (ERROR_INVALID_PARAMETER, ERROR_BAD_PATHNAME) are
//   reported before the handle is looked at.
// - Reserved parameters, key classes, security attributes and options are
//   ignored; REG_OPTION_VOLATILE keys persist like any other.
// - A failing RegOpenKeyExA or RegCreateKeyExA sets *result to NULL.
// - Value names over 16383 characters answer ERROR_INVALID_PARAMETER in
//   queries and deletes as well as in RegSetValueExA.
// - RegSetValueExA with NULL data and a non-zero size answers
//   ERROR_INVALID_PARAMETER (Windows faults on it: ERROR_NOACCESS).
// - RegEnumValueA needs KEY_QUERY_VALUE; when the name fits but the data
//   does not it answers ERROR_MORE_DATA with the name, type and needed size
//   filled in.  Null name or name-size pointers answer
//   ERROR_INVALID_PARAMETER (RegEnumKeyA likewise for a null name).
// - GENERIC_READ/WRITE/EXECUTE/ALL and MAXIMUM_ALLOWED map to key rights.
// - HKEY_CLASSES_ROOT is a tree of its own, not a view merged from the
//   Software\Classes keys.  HKCU\Software and HKLM\SOFTWARE exist from the
//   start.  HKEY_CURRENT_CONFIG is, as on Windows, another name for
//   HKLM\SYSTEM\CurrentControlSet\Hardware Profiles\Current, made on first
//   use.  Other predefined handles are invalid.
// - Keys nest at most 512 levels below their root, as Windows documents; a
//   create that would go deeper answers ERROR_INVALID_PARAMETER.
// - Database failures: ERROR_ACCESS_DENIED when the file, a journal file or
//   a folder above it belongs to another user or can be written by group or
//   others; ERROR_REGISTRY_CORRUPT when the path names no regular file or the
//   file is not a registry database or is damaged (it is then never
//   written); ERROR_REGISTRY_IO_FAILED on I/O errors or after waiting five
//   seconds for another process's write; ERROR_OUTOFMEMORY.  The reason in
//   words is kept for RegistryDatabaseError.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "inireg/win32_registry.h"
#include "platform/registry_database.h"
#include "text/utf.h"

namespace inireg {

namespace {

constexpr uintptr_t kFirstPredefined = 0x80000000u;
// Name limits in UTF-16 units, counted as Windows converts the A functions'
// UTF-8: a byte outside well-formed UTF-8 is one unit (Utf16UnitsOfBytes).
constexpr size_t kMaxKeyNameUnits = 255;
constexpr size_t kMaxValueNameUnits = 16383;

constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericRead = 0x80000000;

REGSAM EffectiveAccess(REGSAM desired) {
  if (desired & (kGenericAll | kMaximumAllowed)) desired |= KEY_ALL_ACCESS;
  if (desired & (kGenericRead | kGenericExecute)) desired |= KEY_READ;
  if (desired & kGenericWrite) desired |= KEY_WRITE;
  return desired;
}

// A handle's value, with a sign-extended root (0xFFFFFFFF80000001, as the
// 64-bit SDK defines HKEY_CURRENT_USER) taken as the root.
uintptr_t HandleValue(HKEY handle) {
  uint64_t value = reinterpret_cast<uintptr_t>(handle);
  if ((value >> 32) == 0xFFFFFFFFu) value &= 0xFFFFFFFFu;
  return static_cast<uintptr_t>(value);
}

bool IsPredefined(HKEY handle) {
  uintptr_t value = HandleValue(handle);
  return (value >= kFirstPredefined && value < kFirstPredefined + RegistryDatabase::kRootCount) ||
         value == HandleValue(HKEY_CURRENT_CONFIG);
}

// What a handle stands for.  The database is shared so that a handle keeps
// working on the file it was opened in after the registry is pointed
// elsewhere.
struct OpenKey {
  std::shared_ptr<RegistryDatabase> database;
  int64_t id = 0;
  REGSAM access = 0;

  bool Allows(REGSAM right) const { return (access & right) == right; }
};

class HandleTable {
 public:
  HKEY Add(OpenKey key) {
    // Multiples of four like Windows handles, and never reused, so that a
    // stale handle cannot come to mean another key.
    next_ += 4;
    if (next_ >= kFirstPredefined && next_ < kFirstPredefined + 0x100)
      next_ = kFirstPredefined + 0x100;
    ++uses_[key.database.get()];
    keys_.emplace(next_, std::move(key));
    return reinterpret_cast<HKEY>(next_);
  }
  const OpenKey* Find(HKEY handle) const {
    auto found = keys_.find(reinterpret_cast<uintptr_t>(handle));
    return found == keys_.end() ? nullptr : &found->second;
  }
  // Hands back the removed handle's database when no other handle uses it,
  // so that the caller can end this process's use of it.
  bool Remove(HKEY handle, std::shared_ptr<RegistryDatabase>* unused) {
    auto found = keys_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == keys_.end()) return false;
    auto use = uses_.find(found->second.database.get());
    if (--use->second == 0) {
      uses_.erase(use);
      *unused = std::move(found->second.database);
    }
    keys_.erase(found);
    return true;
  }
  // Every database that a handle uses.
  std::vector<std::shared_ptr<RegistryDatabase>> Databases() const {
    std::vector<std::shared_ptr<RegistryDatabase>> databases;
    for (const auto& entry : keys_) {
      if (std::find(databases.begin(), databases.end(), entry.second.database) == databases.end()) {
        databases.push_back(entry.second.database);
      }
    }
    return databases;
  }

 private:
  std::unordered_map<uintptr_t, OpenKey> keys_;
  std::unordered_map<const RegistryDatabase*, size_t> uses_;  // Handles per database.
  uintptr_t next_ = 0x1000;
};

struct RegistryState {
  std::mutex mutex;  // Guards the members below and all use of the databases.
  std::string pathOverride;
  std::shared_ptr<RegistryDatabase> current;  // The roots' database, opened on first use.
  HandleTable handles;
  pid_t openedBy = 0;  // The process that opened the databases; a forked child must not use them.
};

RegistryState& State() {
  // Never destroyed, so that static objects may still close their handles
  // while the program exits.
  static RegistryState* const state = new RegistryState;
  return *state;
}

// At a normal exit, everything written is copied from the write-ahead log
// into the database files, and the roots' database is closed when no handle
// is left on it (SQLite then removes the log when no other process has the
// file open), so that a copy of the file alone is a complete backup.
void CheckpointAtExit() {
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.openedBy != getpid()) return;
  std::vector<std::shared_ptr<RegistryDatabase>> databases = state.handles.Databases();
  for (const auto& database : databases) database->CheckpointLog();
  if (state.current) {
    state.current->CheckpointLog();
    if (std::find(databases.begin(), databases.end(), state.current) == databases.end()) {
      state.current.reset();
    }
  }
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  passwd entry;
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return found->pw_dir;
  }
  return ".";
}

std::string DefaultDatabasePath() {
  if (const char* path = std::getenv("INIREG_REGISTRY"); path != nullptr && *path != '\0')
    return path;
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG rules say.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
    return std::string(config) + "/inireg/registry.db";
  }
  return HomeFolder() + "/.config/inireg/registry.db";
}

// Finds what `handle` stands for, opening the roots' database when needed.
// The caller holds the state's mutex.
LONG Resolve(RegistryState& state, HKEY handle, OpenKey* key) {
  if (IsPredefined(handle)) {
    if (!state.current) {
      const std::string& path =
          state.pathOverride.empty() ? DefaultDatabasePath() : state.pathOverride;
      if (LONG status = RegistryDatabase::Open(path, &state.current)) return status;
      if (state.openedBy != getpid()) {
        state.openedBy = getpid();
        static const bool registered = std::atexit(CheckpointAtExit) == 0;
        (void)registered;
      }
    }
    int64_t root = static_cast<int64_t>(HandleValue(handle) - kFirstPredefined);
    *key = OpenKey{state.current, RegistryDatabase::kFirstRootId + root, KEY_ALL_ACCESS};
    if (HandleValue(handle) != HandleValue(HKEY_CURRENT_CONFIG)) return ERROR_SUCCESS;
    const KeyPath alias = {"SYSTEM", "CurrentControlSet", "Hardware Profiles", "Current"};
    int64_t machine = RegistryDatabase::kFirstRootId + 2;
    LONG status = state.current->FindKey(machine, alias, &key->id);
    bool created = false;
    if (status == ERROR_FILE_NOT_FOUND)
      status = state.current->CreateKey(machine, alias, &key->id, &created);
    return status;
  }
  const OpenKey* found = state.handles.Find(handle);
  if (found == nullptr) return ERROR_INVALID_HANDLE;
  *key = *found;
  return ERROR_SUCCESS;
}

// One call's hold on the registry: the state's mutex, held until the object
// goes, and what a handle stands for.  Status() answers what Resolve does, or
// ERROR_ACCESS_DENIED when the handle lacks `rights`.
class LockedKey {
 public:
  explicit LockedKey(HKEY handle, REGSAM rights = 0) : state_(State()), lock_(state_.mutex) {
    status_ = Resolve(state_, handle, &key_);
    if (status_ == ERROR_SUCCESS && !key_.Allows(rights)) status_ = ERROR_ACCESS_DENIED;
  }
  LONG Status() const { return status_; }
  const OpenKey& operator*() const { return key_; }
  const OpenKey* operator->() const { return &key_; }
  HandleTable& Handles() { return state_.handles; }

 private:
  RegistryState& state_;
  std::lock_guard<std::mutex> lock_;
  OpenKey key_;
  LONG status_ = ERROR_SUCCESS;
};

// Splits a subkey path into its non-empty components.
LONG ParseKeyPath(LPCSTR subKey, KeyPath* path) {
  if (subKey == nullptr) return ERROR_SUCCESS;
  if (*subKey == '\\') return ERROR_BAD_PATHNAME;
  const char* start = subKey;
  for (;;) {
    const char* end = std::strchr(start, '\\');
    if (end == nullptr) end = start + std::strlen(start);
    if (Utf16UnitsOfBytes(start, static_cast<size_t>(end - start)) > kMaxKeyNameUnits) {
      return ERROR_INVALID_PARAMETER;
    }
    if (end != start) path->emplace_back(start, end);
    if (*end == '\0') return ERROR_SUCCESS;
    start = end + 1;
  }
}

// The unnamed value is "", whether it was named by NULL or by "".
LONG ParseValueName(LPCSTR name, std::string* parsed) {
  if (name == nullptr) return ERROR_SUCCESS;
  size_t length = std::strlen(name);
  if (Utf16UnitsOfBytes(name, length) > kMaxValueNameUnits) return ERROR_INVALID_PARAMETER;
  parsed->assign(name, length);
  return ERROR_SUCCESS;
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

bool EndsWithNul(const std::string& data) { return !data.empty() && data.back() == '\0'; }

// Hands out value data: the size always, the bytes only into a buffer that
// holds them all; a smaller buffer is left untouched.  String data stored
// without a terminator gets one after it when the buffer has room; the size
// reported stays the stored size.
LONG CopyData(const RegistryValue& value, LPBYTE buffer, LPDWORD size) {
  const std::string& data = value.data;
  DWORD needed = static_cast<DWORD>(data.size());
  if (buffer != nullptr && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (buffer != nullptr) {
    if (needed != 0) std::memcpy(buffer, data.data(), needed);
    if (IsStringType(value.type) && !EndsWithNul(data) && *size > needed) buffer[needed] = 0;
  }
  if (size != nullptr) *size = needed;
  return ERROR_SUCCESS;
}

// The key at `subKey` below an open key (the key itself for null or "").
// Naming a subkey opens it afresh, which needs no right on the parent; the
// key itself must allow `rights` through the handle it was opened with.
LONG OpenSubkey(const OpenKey& parent, LPCSTR subKey, REGSAM rights, OpenKey* key) {
  KeyPath path;
  if (LONG status = ParseKeyPath(subKey, &path)) return status;
  if (subKey == nullptr || *subKey == '\0') {
    if (!parent.Allows(rights)) return ERROR_ACCESS_DENIED;
    *key = parent;
    return parent.database->CheckKey(parent.id);
  }
  *key = OpenKey{parent.database, 0, KEY_ALL_ACCESS};
  return parent.database->FindKey(parent.id, path, &key->id);
}

FILETIME ToFileTime(int64_t time) {
  return FILETIME{static_cast<DWORD>(static_cast<uint64_t>(time)),
                  static_cast<DWORD>(static_cast<uint64_t>(time) >> 32)};
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM desired, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  KeyPath path;
  if (LONG status = ParseKeyPath(subKey, &path)) return status;
  LockedKey parent(key);
  if (LONG status = parent.Status()) return status;
  if (path.empty() && IsPredefined(key)) {
    *result = key;
    return ERROR_SUCCESS;
  }
  int64_t id = 0;
  if (LONG status = parent->database->FindKey(parent->id, path, &id)) return status;
  *result = parent.Handles().Add(OpenKey{parent->database, id, EffectiveAccess(desired)});
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*keyClass*/,
                     DWORD /*options*/, REGSAM desired, void* /*securityAttributes*/, PHKEY result,
                     LPDWORD disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  KeyPath path;
  if (LONG status = ParseKeyPath(subKey, &path)) return status;
  LockedKey parent(key);
  if (LONG status = parent.Status()) return status;
  int64_t id = 0;
  bool created = false;
  LONG status = parent->database->FindKey(parent->id, path, &id);
  if (status == ERROR_FILE_NOT_FOUND) {
    if (!parent->Allows(KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    status = parent->database->CreateKey(parent->id, path, &id, &created);
  }
  if (status != ERROR_SUCCESS) return status;
  *result = parent.Handles().Add(OpenKey{parent->database, id, EffectiveAccess(desired)});
  if (disposition != nullptr)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (IsPredefined(key)) return ERROR_SUCCESS;
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::shared_ptr<RegistryDatabase> unused;
  if (!state.handles.Remove(key, &unused)) return ERROR_INVALID_HANDLE;
  // The last handle on a database ends this use of it.
  if (unused) unused->CheckpointLog();
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD /*reserved*/, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize) {
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  std::string name;
  if (LONG status = ParseValueName(valueName, &name)) return status;
  LockedKey open(key, KEY_QUERY_VALUE);
  if (LONG status = open.Status()) return status;
  RegistryValue value;
  if (LONG status = open->database->GetValue(open->id, name, &value)) return status;
  if (type != nullptr) *type = value.type;
  return CopyData(value, data, dataSize);
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD dataSize) {
  if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
  std::string name;
  if (LONG status = ParseValueName(valueName, &name)) return status;
  LockedKey open(key, KEY_SET_VALUE);
  if (LONG status = open.Status()) return status;
  return open->database->SetValue(open->id, name, type, data, dataSize);
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                   LPDWORD /*reserved*/, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (valueName == nullptr || valueNameSize == nullptr ||
      (data != nullptr && dataSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  LockedKey open(key, KEY_QUERY_VALUE);
  if (LONG status = open.Status()) return status;
  RegistryValue value;
  if (LONG status = open->database->ValueAt(open->id, index, &value)) return status;
  if (type != nullptr) *type = value.type;
  if (value.name.size() >= *valueNameSize) {
    // Win32 hands out as much of the name as fits, terminated, and the type
    // and the data's size, so that a caller can grow both buffers at once.
    if (*valueNameSize > 0) {
      std::memcpy(valueName, value.name.data(), *valueNameSize - 1);
      valueName[*valueNameSize - 1] = '\0';
    }
    if (dataSize != nullptr) *dataSize = static_cast<DWORD>(value.data.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(valueName, value.name.c_str(), value.name.size() + 1);
  *valueNameSize = static_cast<DWORD>(value.name.size());
  return CopyData(value, data, dataSize);
}

LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize) {
  if (name == nullptr) return ERROR_INVALID_PARAMETER;
  LockedKey open(key, KEY_ENUMERATE_SUB_KEYS);
  if (LONG status = open.Status()) return status;
  std::string subkey;
  if (LONG status = open->database->SubkeyAt(open->id, index, &subkey)) return status;
  if (subkey.size() >= nameSize) return ERROR_MORE_DATA;
  std::memcpy(name, subkey.c_str(), subkey.size() + 1);
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
  std::string name;
  if (LONG status = ParseValueName(valueName, &name)) return status;
  LockedKey open(key, KEY_SET_VALUE);
  if (LONG status = open.Status()) return status;
  return open->database->DeleteValue(open->id, name);
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  KeyPath path;
  if (LONG status = ParseKeyPath(subKey, &path)) return status;
  // A root is never deleted, HKEY_CURRENT_CONFIG's key included.
  if (HandleValue(key) == HandleValue(HKEY_CURRENT_CONFIG) && path.empty())
    return ERROR_ACCESS_DENIED;
  LockedKey open(key);
  if (LONG status = open.Status()) return status;
  return open->database->DeleteKey(open->id, path);
}

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  if (subKey != nullptr && *subKey != '\0')
    return RegOpenKeyExA(key, subKey, 0, KEY_ALL_ACCESS, result);
  // Windows hands back the very handle it was given.
  *result = nullptr;
  LockedKey open(key);
  if (LONG status = open.Status()) return status;
  *result = key;
  return ERROR_SUCCESS;
}

LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  return RegCreateKeyExA(key, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                         result, nullptr);
}

namespace {

DWORD TypeFlag(DWORD type) {
  switch (type) {
    case REG_NONE:
      return RRF_RT_REG_NONE;
    case REG_SZ:
      return RRF_RT_REG_SZ;
    case REG_EXPAND_SZ:
      return RRF_RT_REG_EXPAND_SZ;
    case REG_BINARY:
      return RRF_RT_REG_BINARY;
    case REG_DWORD:
      return RRF_RT_REG_DWORD;
    case REG_MULTI_SZ:
      return RRF_RT_REG_MULTI_SZ;
    case REG_QWORD:
      return RRF_RT_REG_QWORD;
    default:
      return 0;
  }
}

// ERROR_SUCCESS when RegGetValueA's flags accept data of this type and size.
LONG CheckWantedType(DWORD flags, DWORD type, size_t size) {
  DWORD wanted = flags & RRF_RT_ANY;
  if (wanted != RRF_RT_ANY && (wanted & TypeFlag(type)) == 0) return ERROR_UNSUPPORTED_TYPE;
  // RRF_RT_DWORD and RRF_RT_QWORD take REG_BINARY data only of that width.
  if (type == REG_BINARY &&
      ((wanted == RRF_RT_DWORD && size != 4) || (wanted == RRF_RT_QWORD && size != 8))) {
    return ERROR_DATATYPE_MISMATCH;
  }
  return ERROR_SUCCESS;
}

// Replaces each %NAME% by the environment variable's value, as
// ExpandEnvironmentStrings does; a reference to an undefined variable stays
// as written.
std::string ExpandEnvironment(const std::string& text) {
  std::string expanded;
  size_t at = 0;
  while (at < text.size()) {
    size_t open = text.find('%', at);
    size_t close = open == std::string::npos ? std::string::npos : text.find('%', open + 1);
    if (close == std::string::npos) {
      expanded.append(text, at, std::string::npos);
      break;
    }
    expanded.append(text, at, open - at);
    std::string name = text.substr(open + 1, close - open - 1);
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value != nullptr) {
      expanded += value;
      at = close + 1;
    } else {
      expanded.append(text, open, close - open);  // The closing % may open the next reference.
      at = close;
    }
  }
  return expanded;
}

// RegGetValueA after its argument checks, below a resolved handle.
LONG GetValueBelow(const LockedKey& parent, LPCSTR subKey, const std::string& name, DWORD flags,
                   LPDWORD type, PVOID data, LPDWORD dataSize) {
  if (LONG status = parent.Status()) return status;
  OpenKey open;
  if (LONG status = OpenSubkey(*parent, subKey, KEY_QUERY_VALUE, &open)) return status;
  RegistryValue value;
  if (LONG status = open.database->GetValue(open.id, name, &value)) return status;
  // Strings come back terminated, the terminator counted.
  if (value.type == REG_EXPAND_SZ && (flags & RRF_NOEXPAND) == 0) {
    value.data = ExpandEnvironment(value.data.substr(0, value.data.find('\0'))) + '\0';
    value.type = REG_SZ;
  } else if (IsStringType(value.type) && !EndsWithNul(value.data)) {
    value.data += '\0';
  }
  DWORD size = static_cast<DWORD>(value.data.size());
  LONG status = CheckWantedType(flags, value.type, value.data.size());
  if (status == ERROR_SUCCESS && data != nullptr) {
    if (*dataSize < size) {
      status = ERROR_MORE_DATA;
    } else if (size != 0) {
      std::memcpy(data, value.data.data(), size);
    }
  }
  if (type != nullptr) *type = value.type;
  if (dataSize != nullptr) *dataSize = size;
  return status;
}

}  // namespace

LONG RegGetValueA(HKEY key, LPCSTR subKey, LPCSTR valueName, DWORD flags, LPDWORD type, PVOID data,
                  LPDWORD dataSize) {
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  // Naming REG_EXPAND_SZ among the types wanted needs RRF_NOEXPAND; without
  // it such data comes back expanded, as REG_SZ.  RRF_RT_ANY takes both.
  DWORD wanted = flags & RRF_RT_ANY;
  if (wanted != RRF_RT_ANY && (wanted & RRF_RT_REG_EXPAND_SZ) != 0 && (flags & RRF_NOEXPAND) == 0) {
    return ERROR_INVALID_PARAMETER;
  }
  DWORD capacity = dataSize != nullptr ? *dataSize : 0;
  std::string name;
  LONG status = ParseValueName(valueName, &name);
  if (status == ERROR_SUCCESS) {
    LockedKey parent(key);
    status = GetValueBelow(parent, subKey, name, flags, type, data, dataSize);
  }
  if (status != ERROR_SUCCESS && (flags & RRF_ZEROONFAILURE) != 0 && data != nullptr) {
    std::memset(data, 0, capacity);
  }
  return status;
}

LONG RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, PLONG dataSize) {
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  LockedKey parent(key);
  if (LONG status = parent.Status()) return status;
  OpenKey open;
  if (LONG status = OpenSubkey(*parent, subKey, KEY_QUERY_VALUE, &open)) return status;
  RegistryValue value;
  LONG status = open.database->GetValue(open.id, "", &value);
  // A key without an unnamed value reads as an empty string.
  if (status == ERROR_FILE_NOT_FOUND) {
    value.type = REG_SZ;
  } else if (status != ERROR_SUCCESS) {
    return status;
  }
  if (IsStringType(value.type) && !EndsWithNul(value.data)) value.data += '\0';
  LONG size = static_cast<LONG>(value.data.size());
  if (data != nullptr) {
    if (*dataSize < size) {
      *dataSize = size;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, value.data.data(), value.data.size());
  }
  if (dataSize != nullptr) *dataSize = size;
  return ERROR_SUCCESS;
}

LONG RegSetKeyValueA(HKEY key, LPCSTR subKey, LPCSTR valueName, DWORD type, LPCVOID data,
                     DWORD dataSize) {
  if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
  std::string name;
  if (LONG status = ParseValueName(valueName, &name)) return status;
  KeyPath path;
  if (LONG status = ParseKeyPath(subKey, &path)) return status;
  LockedKey parent(key);
  if (LONG status = parent.Status()) return status;
  OpenKey open;
  LONG status = OpenSubkey(*parent, subKey, KEY_SET_VALUE, &open);
  if (status == ERROR_FILE_NOT_FOUND) {
    if (!parent->Allows(KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    bool created = false;
    status = parent->database->CreateKey(parent->id, path, &open.id, &created);
  }
  if (status != ERROR_SUCCESS) return status;
  return open.database->SetValue(open.id, name, type, static_cast<const BYTE*>(data), dataSize);
}

LONG RegDeleteKeyValueA(HKEY key, LPCSTR subKey, LPCSTR valueName) {
  std::string name;
  if (LONG status = ParseValueName(valueName, &name)) return status;
  LockedKey parent(key);
  if (LONG status = parent.Status()) return status;
  OpenKey open;
  if (LONG status = OpenSubkey(*parent, subKey, KEY_SET_VALUE, &open)) return status;
  return open.database->DeleteValue(open.id, name);
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD /*reserved*/,
                      LPDWORD subkeys, LPDWORD maxSubkeyName, LPDWORD maxClass, LPDWORD values,
                      LPDWORD maxValueName, LPDWORD maxValueData, LPDWORD securityDescriptorSize,
                      PFILETIME lastWriteTime) {
  if (keyClass != nullptr && classSize == nullptr) return ERROR_INVALID_PARAMETER;
  LockedKey open(key, KEY_QUERY_VALUE);
  if (LONG status = open.Status()) return status;
  RegistryKeyInfo info;
  if (LONG status = open->database->KeyInfo(open->id, &info)) return status;
  if (keyClass != nullptr && *classSize > 0) keyClass[0] = '\0';
  if (classSize != nullptr) *classSize = 0;
  if (subkeys != nullptr) *subkeys = info.subkeys;
  if (maxSubkeyName != nullptr) *maxSubkeyName = info.longestSubkeyName;
  if (maxClass != nullptr) *maxClass = 0;
  if (values != nullptr) *values = info.values;
  if (maxValueName != nullptr) *maxValueName = info.longestValueName;
  if (maxValueData != nullptr) *maxValueData = info.largestValueData;
  if (securityDescriptorSize != nullptr) *securityDescriptorSize = 0;
  if (lastWriteTime != nullptr) *lastWriteTime = ToFileTime(info.modified);
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD /*reserved*/,
                   LPSTR keyClass, LPDWORD classSize, PFILETIME lastWriteTime) {
  if (name == nullptr || nameSize == nullptr || (keyClass != nullptr && classSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  LockedKey open(key, KEY_ENUMERATE_SUB_KEYS);
  if (LONG status = open.Status()) return status;
  std::string subkey;
  int64_t modified = 0;
  if (LONG status = open->database->SubkeyAt(open->id, index, &subkey,
                                             lastWriteTime != nullptr ? &modified : nullptr)) {
    return status;
  }
  if (subkey.size() >= *nameSize) return ERROR_MORE_DATA;
  std::memcpy(name, subkey.c_str(), subkey.size() + 1);
  *nameSize = static_cast<DWORD>(subkey.size());
  if (keyClass != nullptr && *classSize > 0) keyClass[0] = '\0';
  if (classSize != nullptr) *classSize = 0;
  if (lastWriteTime != nullptr) *lastWriteTime = ToFileTime(modified);
  return ERROR_SUCCESS;
}

LONG RegDeleteTreeA(HKEY key, LPCSTR subKey) {
  KeyPath path;
  if (LONG status = ParseKeyPath(subKey, &path)) return status;
  // Null and "" both name the handle's own key, which stays, emptied.
  bool ownKey = subKey == nullptr || *subKey == '\0';
  LockedKey open(key, ownKey ? KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_SET_VALUE : 0);
  if (LONG status = open.Status()) return status;
  return open->database->DeleteTree(open->id, path, ownKey);
}

LONG RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM /*view*/, DWORD /*reserved*/) {
  return RegDeleteKeyA(key, subKey);  // One view: KEY_WOW64_32KEY and _64KEY name the same key.
}

LONG RegFlushKey(HKEY key) {
  LockedKey open(key);
  if (LONG status = open.Status()) return status;
  if (LONG status = open->database->CheckKey(open->id)) return status;
  return open->database->Flush();
}

std::string RegistryDatabaseError() {
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return RegistryDatabase::LastFailure();
}

void SetRegistryDatabasePath(const std::string& path) {
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.pathOverride = path;
  state.current.reset();  // Open handles keep their own reference.
}

}  // namespace inireg
