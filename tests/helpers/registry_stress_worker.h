// What registry_stress_worker stores, shared with the test that checks it.
#ifndef INIREG_TESTS_HELPERS_REGISTRY_STRESS_WORKER_H_
#define INIREG_TESTS_HELPERS_REGISTRY_STRESS_WORKER_H_

#include <string>

// Distinct per value, and long enough that writes fill database pages.
inline std::string StressData(const std::string& name) {
  return name + std::string(100, '.') + name;
}

#endif  // INIREG_TESTS_HELPERS_REGISTRY_STRESS_WORKER_H_
