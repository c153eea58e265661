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
//   (Wine allows 256).
// - REG_SZ data is stored exactly as given; no NUL is added.
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
//   start.  Other predefined handles (HKEY_CURRENT_CONFIG ...) are invalid.
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

namespace inireg {

namespace {

constexpr uintptr_t kFirstPredefined = 0x80000000u;
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

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

bool IsPredefined(HKEY handle) {
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  return value >= kFirstPredefined && value < kFirstPredefined + RegistryDatabase::kRootCount;
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
    if (next_ >= kFirstPredefined && next_ < kFirstPredefined + 0x100) next_ = kFirstPredefined + 0x100;
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
  if (const char* path = std::getenv("INIREG_REGISTRY"); path != nullptr && *path != '\0') return path;
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
      const std::string& path = state.pathOverride.empty() ? DefaultDatabasePath() : state.pathOverride;
      if (LONG status = RegistryDatabase::Open(path, &state.current)) return status;
      if (state.openedBy != getpid()) {
        state.openedBy = getpid();
        static const bool registered = std::atexit(CheckpointAtExit) == 0;
        (void)registered;
      }
    }
    int64_t root = static_cast<int64_t>(reinterpret_cast<uintptr_t>(handle) - kFirstPredefined);
    *key = OpenKey{state.current, RegistryDatabase::kFirstRootId + root, KEY_ALL_ACCESS};
    return ERROR_SUCCESS;
  }
  const OpenKey* found = state.handles.Find(handle);
  if (found == nullptr) return ERROR_INVALID_HANDLE;
  *key = *found;
  return ERROR_SUCCESS;
}

// Splits a subkey path into its non-empty components.
LONG ParseKeyPath(LPCSTR subKey, KeyPath* path) {
  if (subKey == nullptr) return ERROR_SUCCESS;
  if (*subKey == '\\') return ERROR_BAD_PATHNAME;
  const char* start = subKey;
  for (;;) {
    const char* end = std::strchr(start, '\\');
    if (end == nullptr) end = start + std::strlen(start);
    if (static_cast<size_t>(end - start) > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    if (end != start) path->emplace_back(start, end);
    if (*end == '\0') return ERROR_SUCCESS;
    start = end + 1;
  }
}

// The unnamed value is "", whether it was named by NULL or by "".
LONG ParseValueName(LPCSTR name, std::string* parsed) {
  if (name == nullptr) return ERROR_SUCCESS;
  size_t length = strnlen(name, kMaxValueNameLength + 1);
  if (length > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  parsed->assign(name, length);
  return ERROR_SUCCESS;
}

// Hands out value data: the size always, the bytes only into a buffer that
// holds them all; a smaller buffer is left untouched.
LONG CopyData(const std::string& data, LPBYTE buffer, LPDWORD size) {
  DWORD needed = static_cast<DWORD>(data.size());
  if (buffer != nullptr && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (buffer != nullptr && needed != 0) std::memcpy(buffer, data.data(), needed);
  if (size != nullptr) *size = needed;
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM desired, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  KeyPath path;
  if (LONG status = ParseKeyPath(subKey, &path)) return status;
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  OpenKey parent;
  if (LONG status = Resolve(state, key, &parent)) return status;
  if (path.empty() && IsPredefined(key)) {
    *result = key;
    return ERROR_SUCCESS;
  }
  int64_t id = 0;
  if (LONG status = parent.database->FindKey(parent.id, path, &id)) return status;
  *result = state.handles.Add(OpenKey{parent.database, id, EffectiveAccess(desired)});
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*keyClass*/,
                     DWORD /*options*/, REGSAM desired, void* /*securityAttributes*/,
                     PHKEY result, LPDWORD disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  KeyPath path;
  if (LONG status = ParseKeyPath(subKey, &path)) return status;
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  OpenKey parent;
  if (LONG status = Resolve(state, key, &parent)) return status;
  int64_t id = 0;
  bool created = false;
  LONG status = parent.database->FindKey(parent.id, path, &id);
  if (status == ERROR_FILE_NOT_FOUND) {
    if (!parent.Allows(KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    status = parent.database->CreateKey(parent.id, path, &id, &created);
  }
  if (status != ERROR_SUCCESS) return status;
  *result = state.handles.Add(OpenKey{parent.database, id, EffectiveAccess(desired)});
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
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
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  OpenKey open;
  if (LONG status = Resolve(state, key, &open)) return status;
  if (!open.Allows(KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  RegistryValue value;
  if (LONG status = open.database->GetValue(open.id, name, &value)) return status;
  if (type != nullptr) *type = value.type;
  return CopyData(value.data, data, dataSize);
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD dataSize) {
  if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
  std::string name;
  if (LONG status = ParseValueName(valueName, &name)) return status;
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  OpenKey open;
  if (LONG status = Resolve(state, key, &open)) return status;
  if (!open.Allows(KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return open.database->SetValue(open.id, name, type, data, dataSize);
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                   LPDWORD /*reserved*/, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (valueName == nullptr || valueNameSize == nullptr || (data != nullptr && dataSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  OpenKey open;
  if (LONG status = Resolve(state, key, &open)) return status;
  if (!open.Allows(KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  RegistryValue value;
  if (LONG status = open.database->ValueAt(open.id, index, &value)) return status;
  if (value.name.size() >= *valueNameSize) {
    // Win32 hands out as much of the name as fits, terminated.
    if (*valueNameSize > 0) {
      std::memcpy(valueName, value.name.data(), *valueNameSize - 1);
      valueName[*valueNameSize - 1] = '\0';
    }
    return ERROR_MORE_DATA;
  }
  std::memcpy(valueName, value.name.c_str(), value.name.size() + 1);
  *valueNameSize = static_cast<DWORD>(value.name.size());
  if (type != nullptr) *type = value.type;
  return CopyData(value.data, data, dataSize);
}

LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize) {
  if (name == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  OpenKey open;
  if (LONG status = Resolve(state, key, &open)) return status;
  if (!open.Allows(KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  std::string subkey;
  if (LONG status = open.database->SubkeyAt(open.id, index, &subkey)) return status;
  if (subkey.size() >= nameSize) return ERROR_MORE_DATA;
  std::memcpy(name, subkey.c_str(), subkey.size() + 1);
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
  std::string name;
  if (LONG status = ParseValueName(valueName, &name)) return status;
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  OpenKey open;
  if (LONG status = Resolve(state, key, &open)) return status;
  if (!open.Allows(KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return open.database->DeleteValue(open.id, name);
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  KeyPath path;
  if (LONG status = ParseKeyPath(subKey, &path)) return status;
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  OpenKey open;
  if (LONG status = Resolve(state, key, &open)) return status;
  return open.database->DeleteKey(open.id, path);
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
