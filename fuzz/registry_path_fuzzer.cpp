// Registry location texts: ParseRegistryPath against an independent reading
// of the format, the FormatRegistryPath round trip, and RegistryStore::OpenPath
// (with reads, and for some inputs a write) on the Linux registry in a
// database of its own in a temporary folder.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "inireg/registry_store.h"
#include "inireg/win32_registry.h"
#include "memory_file_system.h"
#include "registry/registry_path.h"

namespace inireg {
namespace fuzz {
namespace {

// A location whose section "s" holds the value "v" = "known".
const char kKnown[] = "CU\\Software\\Known";
// Writes go below this key, so that the database stays small.
const char kScratch[] = "Software\\Scratch\\";

std::string g_database;
unsigned g_writes = 0;

void OpenDatabase() {
  SetRegistryDatabasePath("");
  if (!g_database.empty()) unlink(g_database.c_str());
  static const std::string folder = MakeScratchFolder("inireg-fuzz-");
  g_database = folder + "/registry.db";
  unlink(g_database.c_str());
  unlink((g_database + "-wal").c_str());
  unlink((g_database + "-shm").c_str());
  SetRegistryDatabasePath(g_database);
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Known\\s", 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS ||
      RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("known"), 5) !=
          ERROR_SUCCESS) {
    Fail("cannot prepare the registry database");
  }
  RegCloseKey(key);
}

HKEY RootOf(const std::string& abbreviation) {
  std::string upper = abbreviation;
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (upper == "CR") return HKEY_CLASSES_ROOT;
  if (upper == "CU") return HKEY_CURRENT_USER;
  if (upper == "LM") return HKEY_LOCAL_MACHINE;
  if (upper == "US") return HKEY_USERS;
  if (upper == "CC") return HKEY_CURRENT_CONFIG;
  return nullptr;
}

void CheckParse(const std::string& location) {
  HKEY root = nullptr;
  std::string subkey = "untouched";
  bool parsed = ParseRegistryPath(location, &root, &subkey);
  HKEY expectedRoot = location.size() >= 2 ? RootOf(location.substr(0, 2)) : nullptr;
  if (parsed != (expectedRoot != nullptr)) Fail("ParseRegistryPath accepted the wrong texts");
  if (!parsed) return;
  std::string expectedSubkey = location.substr(location.size() > 2 && location[2] == '\\' ? 3 : 2);
  if (root != expectedRoot || subkey != expectedSubkey)
    Fail("ParseRegistryPath split the text wrongly");

  // The subkey goes to the registry as a C string: the round trip is of that.
  std::string cut = subkey.c_str();
  std::string text = FormatRegistryPath(root, cut.c_str());
  std::string upper = location.substr(0, 2);
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  // The location texts are the four roots' alone: the current hardware
  // profile's key parses but formats as any other handle does.
  if (upper == "CC") upper = "BAD";
  if (text != upper + "\\" + cut) Fail("FormatRegistryPath gave " + text);
  if (root == HKEY_CURRENT_CONFIG) return;
  HKEY again = nullptr;
  std::string subkeyAgain;
  if (!ParseRegistryPath(text, &again, &subkeyAgain) || again != root || subkeyAgain != cut) {
    Fail("a formatted location does not parse back");
  }
}

void CheckFormatOfAnyHandle(uint64_t value) {
  HKEY handle = reinterpret_cast<HKEY>(static_cast<uintptr_t>(value));
  std::string text = FormatRegistryPath(handle, nullptr);
  bool predefined = handle == HKEY_CLASSES_ROOT || handle == HKEY_CURRENT_USER ||
                    handle == HKEY_LOCAL_MACHINE || handle == HKEY_USERS;
  // The sign-extended form of a root's value names the root as well.
  uint32_t low = static_cast<uint32_t>(value);
  bool extended = value == static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(low))) &&
                  low - 0x80000000u < 4;
  if ((text == "BAD\\") == (predefined || extended))
    Fail("FormatRegistryPath named handle " + text);
}

void CheckStore(const std::string& location, bool write) {
  HKEY root = nullptr;
  std::string subkey;
  bool parsed = ParseRegistryPath(location, &root, &subkey);

  RegistryStore reader(kKnown, 1, 0);
  reader.OpenPath(location);
  std::string out;
  reader.GetString(out, "default", "v", "s");
  if (!parsed && out != "known") Fail("an unparsed location lost the key open before");
  if (parsed) {
    // The store must read what the registry itself finds there.
    std::string direct = "default";
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, (std::string(subkey.c_str()) + "\\s").c_str(), 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
      char data[64] = {};
      DWORD size = sizeof data - 1, type = 0;
      if (RegQueryValueExA(key, "v", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
              ERROR_SUCCESS &&
          type == REG_SZ) {
        direct.assign(data, size);
      }
      RegCloseKey(key);
    }
    if (out != direct)
      Fail("the store read '" + out + "' where the registry holds '" + direct + "'");
  }
  int32_t count = 0;
  delete[] reader.GetSectionNames(&count);
  delete[] reader.GetKeyNames(&count, "s");

  if (!write || !parsed) return;
  if (++g_writes % 2000 == 0) OpenDatabase();  // Keeps the database small.
  std::string scratch = location.substr(0, 2) + "\\" + kScratch + location.substr(2);
  RegistryStore writer(scratch, 0, 0);
  int32_t written = writer.SetString("x", "k", "s");
  if (written != 0) {
    if (written != 2) Fail("SetString answered " + std::to_string(written));
    RegistryStore check(scratch, 1, 0);
    std::string back;
    check.GetString(back, "missing", "k", "s");
    if (back != "x") Fail("a write reported done reads back as '" + back + "'");
  }
}

}  // namespace
}  // namespace fuzz
}  // namespace inireg

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace inireg::fuzz;
  static bool ready = (OpenDatabase(), true);
  (void)ready;
  FuzzedDataProvider input(data, size);
  bool write = input.ConsumeBool();
  uint64_t handle = input.ConsumeIntegral<uint64_t>();
  std::string location = input.ConsumeRemainingBytesAsString();
  CheckParse(location);
  CheckFormatOfAnyHandle(handle);
  CheckStore(location, write);
  return 0;
}
