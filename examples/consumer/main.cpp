// Uses both stores of an installed inireg: writes a setting to a profile
// file and one to the registry, reads them back and prints them, then the
// version of the headers it was built with.
#include <cstdio>
#include <string>

#include "inireg/profile_store.h"
#include "inireg/registry_store.h"
#include "inireg/version.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer FILE.ini\n");
    return 2;
  }
  {
    inireg::ProfileStore profile(argv[1]);
    profile.SetString("from consumer", "Greeting", "Example");
  }  // Written back here.
  inireg::ProfileStore profile(argv[1]);
  std::string greeting;
  profile.GetString(greeting, "", "Greeting", "Example");

  inireg::RegistryStore registry("CU\\Software\\inireg consumer", 0, 0);
  registry.SetDword(42, "Answer", "Example");
  std::printf("%s %d\n", greeting.c_str(), registry.GetInt("Answer", "Example", 0));
  std::printf("inireg %s\n", INIREG_VERSION_STRING);
  return 0;
}
