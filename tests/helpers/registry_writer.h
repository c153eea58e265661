// What registry_writer stores, shared with the tests that check its work.
#ifndef INIREG_TESTS_HELPERS_REGISTRY_WRITER_H_
#define INIREG_TESTS_HELPERS_REGISTRY_WRITER_H_

#include <string>

// The data of the value `name`: long enough that the writes fill the
// write-ahead log and checkpoints run while a writer may be killed.
inline std::string WriterData(const std::string& name) {
  return name + std::string(200, '#') + name;
}

#endif  // INIREG_TESTS_HELPERS_REGISTRY_WRITER_H_
