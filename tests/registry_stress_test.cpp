// Many writers on one registry key: four processes of four threads each
// write and read distinct values of one key for a few seconds.  Nothing may be
// lost, and no call may fail other than by a bounded wait for another
// process's write (ERROR_REGISTRY_IO_FAILED after the five-second busy
// timeout), which the writers retry.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "helpers/registry_stress_worker.h"
#include "inireg/win32_registry.h"
#include "test_support.h"

extern char** environ;

namespace inireg {
namespace {

constexpr int kProcesses = 4;
constexpr int kThreads = 4;
constexpr double kSeconds = 3;
// The registry waits five seconds for another process's write; a call that
// waited much longer is stuck, not waiting.
constexpr long kLongestWaitMs = 8000;

struct Worker {
  pid_t pid = 0;
  std::FILE* output = nullptr;
  std::vector<long> writes;  // Per thread.
  long timeouts = -1, errors = -1, lost = -1, maxWaitMs = -1;
  int status = -1;
};

bool Start(Worker* worker, const std::string& database, int process) {
  int ends[2];
  if (pipe(ends) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, ends[0]);
  std::string processText = std::to_string(process), threads = std::to_string(kThreads);
  std::string seconds = std::to_string(kSeconds);
  const char* argv[] = {REGISTRY_STRESS_WORKER,
                        database.c_str(),
                        "Software\\Stress",
                        processText.c_str(),
                        threads.c_str(),
                        seconds.c_str(),
                        nullptr};
  int failed = posix_spawn(&worker->pid, REGISTRY_STRESS_WORKER, &actions, nullptr,
                           const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (failed != 0) {
    close(ends[0]);
    return false;
  }
  worker->output = fdopen(ends[0], "r");
  return worker->output != nullptr;
}

void Finish(Worker* worker) {
  char line[256];
  while (std::fgets(line, sizeof line, worker->output) != nullptr) {
    int thread = 0;
    long count = 0;
    if (std::sscanf(line, "thread %d writes %ld", &thread, &count) == 2) {
      worker->writes.push_back(count);
    } else {
      std::sscanf(line, "timeouts %ld errors %ld lost %ld maxwait_ms %ld", &worker->timeouts,
                  &worker->errors, &worker->lost, &worker->maxWaitMs);
    }
  }
  std::fclose(worker->output);
  waitpid(worker->pid, &worker->status, 0);
}

TEST(RegistryStressThreadTest, FourProcessesOfFourThreadsOnOneKeyLoseNothing) {
  test_support::TempDir folder;
  const std::string database = folder.File("registry.db");
  SetRegistryDatabasePath(database);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Stress", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);

  std::vector<Worker> workers(kProcesses);
  for (int p = 0; p < kProcesses; ++p)
    ASSERT_TRUE(Start(&workers[static_cast<size_t>(p)], database, p));
  for (Worker& worker : workers) Finish(&worker);

  long total = 0, timeouts = 0, longestWait = 0;
  for (int p = 0; p < kProcesses; ++p) {
    const Worker& worker = workers[static_cast<size_t>(p)];
    SCOPED_TRACE("process " + std::to_string(p));
    ASSERT_TRUE(WIFEXITED(worker.status) && WEXITSTATUS(worker.status) == 0)
        << "worker status " << worker.status << ", errors " << worker.errors << ", lost "
        << worker.lost;
    ASSERT_EQ(worker.writes.size(), static_cast<size_t>(kThreads));
    EXPECT_EQ(worker.errors, 0);
    EXPECT_EQ(worker.lost, 0);
    EXPECT_LT(worker.maxWaitMs, kLongestWaitMs);
    timeouts += worker.timeouts;
    longestWait = std::max(longestWait, worker.maxWaitMs);
    for (int t = 0; t < kThreads; ++t) {
      long writes = worker.writes[static_cast<size_t>(t)];
      EXPECT_GT(writes, 0) << "thread " << t << " wrote nothing";
      total += writes;
      // Every value reported written is there, with its data.
      long missing = 0;
      for (long i = 0; i < writes; ++i) {
        std::string name =
            "P" + std::to_string(p) + "T" + std::to_string(t) + "N" + std::to_string(i);
        char data[256];
        DWORD size = sizeof data;
        if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                             &size) != ERROR_SUCCESS ||
            std::string(data, size) != StressData(name)) {
          ++missing;
        }
      }
      EXPECT_EQ(missing, 0) << "thread " << t;
    }
  }
  std::printf(
      "%d processes x %d threads, %.0f s: %ld values written and found, %ld timed-out waits "
      "retried, "
      "longest call %ld ms\n",
      kProcesses, kThreads, kSeconds, total, timeouts, longestWait);
  RegCloseKey(key);
  SetRegistryDatabasePath("");
}

}  // namespace
}  // namespace inireg
