// Test helper for registry_linux_test: writes numbered values into one key of
// the registry and reports each finished write as a line on stdout, so that
// the parent can check what a writer did after it is gone.
//
// Usage: registry_writer DATABASE KEY PREFIX COUNT [--exit-open]
// (COUNT 0: until killed).  Value PREFIXn holds WriterData("PREFIXn") as
// REG_BINARY.  With --exit-open the key stays open when the program exits.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "inireg/win32_registry.h"
#include "registry_writer.h"

using namespace inireg;

int main(int argc, char** argv) {
  bool exitOpen = argc == 6 && std::string(argv[5]) == "--exit-open";
  if (argc != 5 && !exitOpen) {
    std::fprintf(stderr, "usage: registry_writer DATABASE KEY PREFIX COUNT [--exit-open]\n");
    return 2;
  }
  SetRegistryDatabasePath(argv[1]);
  HKEY key = nullptr;
  LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, argv[2], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr);
  unsigned long count = std::strtoul(argv[4], nullptr, 10);
  for (unsigned long i = 0; status == ERROR_SUCCESS && (count == 0 || i < count); ++i) {
    std::string name = argv[3] + std::to_string(i);
    std::string data = WriterData(name);
    status =
        RegSetValueExA(key, name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size()));
    if (status == ERROR_SUCCESS) {
      std::printf("%lu\n", i);
      std::fflush(stdout);
    }
  }
  if (status != ERROR_SUCCESS) {
    std::fprintf(stderr, "registry_writer: status %d: %s\n", static_cast<int>(status),
                 RegistryDatabaseError().c_str());
    return 1;
  }
  if (exitOpen) return 0;
  return RegCloseKey(key) == ERROR_SUCCESS ? 0 : 1;
}
