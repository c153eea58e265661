// Times RegistryStore's reads (GetString, GetInt) and writes (SetString,
// SetDword).  On Linux it works on the library's own SQLite registry in a
// fresh database; on Windows (or under Wine) on the system registry, below a
// key of its own that it deletes at the end.
//
// Prints one line per operation: "registry OPERATION MICROSECONDS", the
// median microseconds per call, for scripts/bench.sh to set side by side.
//
// Usage: registry_bench [--dir DIR] [--quick]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "inireg/registry_store.h"
#include "inireg/win32_registry.h"

// Inside namespace inireg the registry functions are called unqualified,
// which finds the library's own on Linux and the system's on Windows.
namespace inireg {
namespace {

using Clock = std::chrono::steady_clock;

unsigned long ProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

constexpr int kSections = 20;
constexpr int kValuesPerSection = 50;

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  size_t n = samples.size();
  return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

// Runs `batch` (which makes `calls` calls) until `minimum` samples and
// `budget` seconds are reached; the median microseconds per call.
double Measure(const std::function<void()>& batch, int calls, int minimum, double budget) {
  std::vector<double> samples;
  Clock::time_point start = Clock::now();
  while (static_cast<int>(samples.size()) < minimum ||
         (std::chrono::duration<double>(Clock::now() - start).count() < budget &&
          samples.size() < 1000)) {
    Clock::time_point begin = Clock::now();
    batch();
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count() /
                      calls);
  }
  return Median(samples);
}

// Deletes a key and everything below it.
void DeleteTree(HKEY parent, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) {
    return;
  }
  char child[256];
  while (RegEnumKeyA(key, 0, child, sizeof child) == ERROR_SUCCESS) DeleteTree(key, child);
  RegCloseKey(key);
  RegDeleteKeyA(parent, name.c_str());
}

struct Name {
  std::string section;
  std::string key;
};

int Run(int argc, char** argv) {
  std::string folder = ".";
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--dir" && i + 1 < argc) {
      folder = argv[++i];
    } else if (argument == "--quick") {
      quick = true;
    } else {
      std::fprintf(stderr, "usage: %s [--dir DIR] [--quick]\n", argv[0]);
      return 2;
    }
  }
#ifndef _WIN32
  std::string database = folder + "/registry-bench.db";
  std::remove(database.c_str());
  std::remove((database + "-wal").c_str());
  std::remove((database + "-shm").c_str());
  SetRegistryDatabasePath(database);
#endif
  const double budget = quick ? 0.3 : 1.5;
  const std::string subkey = "Software\\inireg-bench-" + std::to_string(ProcessId());
  const std::string location = "CU\\" + subkey;

  std::vector<Name> names;
  {
    RegistryStore store(location, 0, 0);
    for (int s = 0; s < kSections; ++s) {
      std::string section = "Section " + std::to_string(s);
      for (int k = 0; k < kValuesPerSection; ++k) {
        std::string key = "Value" + std::to_string(k);
        if (k % 2 == 0) {
          store.SetString("C:\\Program Files\\Example\\" + key + ".dat", key, section);
        } else {
          store.SetDword(static_cast<uint32_t>(k * 1000), key, section);
        }
        names.push_back({section, key});
      }
    }
  }
  std::mt19937 random(7);
  std::vector<Name> reads, writes;
  for (int i = 0; i < 256; ++i) reads.push_back(names[random() % names.size()]);
  for (int i = 0; i < 32; ++i) writes.push_back(names[random() % names.size()]);
  // The same section throughout: the store keeps its section key open.
  std::vector<Name> oneSection;
  for (int i = 0; i < 256; ++i) oneSection.push_back(names[random() % kValuesPerSection]);

  RegistryStore store(location, 0, 0);
  std::string out;
  const std::string none;
  struct Result {
    const char* name;
    double microseconds;
  };
  std::vector<Result> results;
  results.push_back({"GetString(random section)", Measure(
                                                      [&] {
                                                        for (const Name& n : reads)
                                                          store.GetString(out, none, n.key,
                                                                          n.section);
                                                      },
                                                      static_cast<int>(reads.size()), 5, budget)});
  results.push_back(
      {"GetString(same section)", Measure(
                                      [&] {
                                        for (const Name& n : oneSection)
                                          store.GetString(out, none, n.key, n.section);
                                      },
                                      static_cast<int>(oneSection.size()), 5, budget)});
  results.push_back({"GetInt(random section)", Measure(
                                                   [&] {
                                                     for (const Name& n : reads)
                                                       store.GetInt(n.key, n.section, -1);
                                                   },
                                                   static_cast<int>(reads.size()), 5, budget)});
  int round = 0;
  results.push_back({"SetString(random section)",
                     Measure(
                         [&] {
                           ++round;
                           for (const Name& n : writes)
                             store.SetString("changed " + std::to_string(round), n.key, n.section);
                         },
                         static_cast<int>(writes.size()), 3, budget)});
  results.push_back({"SetDword(random section)",
                     Measure(
                         [&] {
                           ++round;
                           for (const Name& n : writes)
                             store.SetDword(static_cast<uint32_t>(round), n.key, n.section);
                         },
                         static_cast<int>(writes.size()), 3, budget)});
  results.push_back({"SetDword(same section)", Measure(
                                                   [&] {
                                                     ++round;
                                                     for (size_t i = 0; i < writes.size(); ++i)
                                                       store.SetDword(static_cast<uint32_t>(round),
                                                                      oneSection[i].key,
                                                                      oneSection[i].section);
                                                   },
                                                   static_cast<int>(writes.size()), 3, budget)});

  for (const Result& result : results)
    std::printf("registry %s %.3f\n", result.name, result.microseconds);
  DeleteTree(HKEY_CURRENT_USER, subkey);
#ifndef _WIN32
  SetRegistryDatabasePath("");
  std::remove(database.c_str());
  std::remove((database + "-wal").c_str());
  std::remove((database + "-shm").c_str());
#endif
  return 0;
}

}  // namespace
}  // namespace inireg

int main(int argc, char** argv) { return inireg::Run(argc, argv); }
