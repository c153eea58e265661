// A second process for the profile sharing tests: writes COUNT keys named
// PREFIX0, PREFIX1, ... into section "shared" of FILE.
//
//   profile_writer FILE stores PREFIX COUNT   a store per key, written back
//                                              when it is destroyed
//   profile_writer FILE held PREFIX COUNT     one store for all keys, synced
//                                              after each
//
// A fifth argument "layout" turns on the layout-keeping write-back, "joined"
// the joining of continuation lines (option word 1).
//
// Exits 0 when every write and write-back reported success.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "inireg/profile_store.h"

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: profile_writer FILE stores|held PREFIX COUNT [layout|joined]\n");
    return 2;
  }
  std::string path = argv[1];
  std::string mode = argv[2];
  std::string prefix = argv[3];
  int count = std::atoi(argv[4]);
  bool layout = argc == 6 && std::string(argv[5]) == "layout";
  int options = argc == 6 && std::string(argv[5]) == "joined" ? 1 : 0;
  int failures = 0;
  if (mode == "stores") {
    for (int i = 0; i < count; ++i) {
      inireg::ProfileStore store(path);
      store.SetOptions(options);
      store.SetKeepLayout(layout);
      if (store.SetInt(i, prefix + std::to_string(i), "shared") != 1) ++failures;
    }
  } else {
    inireg::ProfileStore store(path);
    store.SetOptions(options);
    store.SetKeepLayout(layout);
    for (int i = 0; i < count; ++i) {
      if (store.SetInt(i, prefix + std::to_string(i), "shared") != 1) ++failures;
      inireg::Status status = store.Sync();
      if (!status.ok()) {
        std::fprintf(stderr, "profile_writer: %s\n", status.message().c_str());
        ++failures;
      }
    }
  }
  return failures == 0 ? 0 : 1;
}
