// Test helper for registry_stress_test: several threads write and read
// distinct values of one registry key until a deadline, then report.
//
// Usage: registry_stress_worker DATABASE KEY PROCESS THREADS SECONDS
// Thread t writes values "P<process>T<t>N<i>" for i = 0, 1, ... with
// StressData(name) as REG_BINARY, reads each back at once and rereads
// earlier ones of its own and of the other threads.  A write that times out
// waiting for another process (ERROR_REGISTRY_IO_FAILED) is retried.
// Prints "thread T writes N" per thread, then "timeouts X errors E lost L
// maxwait_ms M"; exits 0 when E and L are 0.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "inireg/win32_registry.h"
#include "registry_stress_worker.h"

using namespace inireg;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<long> timeouts{0}, errors{0}, lost{0}, maxWaitMs{0};

void NoteWait(Clock::time_point start) {
  long waited = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  long seen = maxWaitMs.load();
  while (waited > seen && !maxWaitMs.compare_exchange_weak(seen, waited)) {
  }
}

bool ReadsBack(HKEY key, const std::string& name) {
  char data[256];
  DWORD size = sizeof data, type = 0;
  Clock::time_point start = Clock::now();
  LONG status =
      RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  NoteWait(start);
  if (status == ERROR_REGISTRY_IO_FAILED) {
    ++timeouts;
    return true;  // Not known either way; the parent checks every value at the end.
  }
  if (status != ERROR_SUCCESS) {
    std::fprintf(stderr, "read %s: status %d\n", name.c_str(), static_cast<int>(status));
  }
  return status == ERROR_SUCCESS && type == REG_BINARY &&
         std::string(data, size) == StressData(name);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: registry_stress_worker DATABASE KEY PROCESS THREADS SECONDS\n");
    return 2;
  }
  SetRegistryDatabasePath(argv[1]);
  const std::string process = argv[3];
  const int threads = std::atoi(argv[4]);
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(static_cast<long>(std::atof(argv[5]) * 1000));

  HKEY shared = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, argv[2], 0, KEY_ALL_ACCESS, &shared) != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot open the key\n");
    return 1;
  }
  std::vector<std::atomic<long>> written(static_cast<size_t>(threads));
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      // Half the threads share the process's handle, half open their own.
      HKEY key = shared;
      if (t % 2 == 1 &&
          RegOpenKeyExA(HKEY_CURRENT_USER, argv[2], 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        ++errors;
        return;
      }
      std::mt19937 random(static_cast<unsigned>(t));
      auto nameOf = [&](int thread, long i) {
        return "P" + process + "T" + std::to_string(thread) + "N" + std::to_string(i);
      };
      for (long i = 0; Clock::now() < deadline; ++i) {
        std::string name = nameOf(t, i), data = StressData(name);
        LONG status;
        do {
          Clock::time_point start = Clock::now();
          status = RegSetValueExA(key, name.c_str(), 0, REG_BINARY,
                                  reinterpret_cast<const BYTE*>(data.data()),
                                  static_cast<DWORD>(data.size()));
          NoteWait(start);
          if (status == ERROR_REGISTRY_IO_FAILED) ++timeouts;
        } while (status == ERROR_REGISTRY_IO_FAILED);
        if (status != ERROR_SUCCESS) {
          std::fprintf(stderr, "write %s: status %d\n", name.c_str(), static_cast<int>(status));
          ++errors;
          break;
        }
        written[static_cast<size_t>(t)] = i + 1;
        if (!ReadsBack(key, name)) ++lost;
        // An earlier value of this thread and one of another thread.
        if (!ReadsBack(key,
                       nameOf(t, static_cast<long>(random() % static_cast<unsigned long>(i + 1)))))
          ++lost;
        int other = static_cast<int>(random() % static_cast<unsigned>(threads));
        long done = written[static_cast<size_t>(other)];
        if (done > 0 &&
            !ReadsBack(key, nameOf(other, static_cast<long>(random() %
                                                            static_cast<unsigned long>(done))))) {
          ++lost;
        }
      }
      if (key != shared) RegCloseKey(key);
    });
  }
  for (std::thread& worker : workers) worker.join();
  RegCloseKey(shared);
  for (int t = 0; t < threads; ++t)
    std::printf("thread %d writes %ld\n", t, written[static_cast<size_t>(t)].load());
  std::printf("timeouts %ld errors %ld lost %ld maxwait_ms %ld\n", timeouts.load(), errors.load(),
              lost.load(), maxWaitMs.load());
  return errors == 0 && lost == 0 ? 0 : 1;
}
