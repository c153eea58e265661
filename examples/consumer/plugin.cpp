// A plugin: a shared module with inireg inside it (the static library, which
// is position-independent for this), loaded by plugin_host with dlopen.  It
// exports one C function and none of inireg's symbols.
#include <string>

#include "inireg/profile_store.h"
#include "inireg/registry_store.h"

// Writes 42 to the profile file and 7 to the registry, reads both back and
// returns them as 100 * profile + registry (4207), or -1 when a read fails.
extern "C" int consumer_plugin_run(const char* path) {
  {
    inireg::ProfileStore profile(path);
    if (!profile.SetInt(42, "Answer", "Plugin")) return -1;
  }  // Written back here.
  inireg::ProfileStore profile(path);
  int fromProfile = profile.GetInt("Answer", "Plugin", -1);

  inireg::RegistryStore registry("CU\\Software\\inireg plugin", 0, 0);
  if (!registry.SetDword(7, "Answer", "Plugin")) return -1;
  int fromRegistry = registry.GetInt("Answer", "Plugin", -1);
  if (fromProfile < 0 || fromRegistry < 0) return -1;
  return 100 * fromProfile + fromRegistry;
}
