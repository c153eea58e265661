// Loads a plugin built with inireg inside it and runs it:
//   plugin_host PLUGIN.so FILE.ini
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: plugin_host PLUGIN.so FILE.ini\n");
    return 2;
  }
  void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!plugin) {
    std::fprintf(stderr, "plugin_host: %s\n", dlerror());
    return 1;
  }
  using Run = int (*)(const char*);
  auto run = reinterpret_cast<Run>(dlsym(plugin, "consumer_plugin_run"));
  if (!run) {
    std::fprintf(stderr, "plugin_host: %s\n", dlerror());
    return 1;
  }
  std::printf("plugin %d\n", run(argv[2]));
  // Not unloaded: the library's exit write-back runs from the plugin's code.
  return 0;
}
