// Helpers shared by the tests: temporary folders, whole-file reads and writes,
// and a file system that fails on request.  In namespace test_support, not
// testing, so that GoogleTest's ::testing stays visible inside inireg.
#ifndef INIREG_TESTS_TEST_SUPPORT_H_
#define INIREG_TESTS_TEST_SUPPORT_H_

#include <atomic>
#include <memory>
#include <string>

#include "forwarding_file_system.h"
#include "platform/file_system.h"

namespace inireg {
namespace test_support {

// A new, empty folder, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// The line end the library writes on this platform.
extern const char* const kNewline;
// Joins lines with kNewline after each.
std::string Lines(std::initializer_list<const char*> lines);

// Writes back every cached profile and empties the cache (dropping records
// that cannot be written back), so that each test starts with a clean engine.
void ResetProfileCache();

// Forwards to the real file system, failing the calls a test asks for.
// Pauses are counted, not slept.
class FaultyFileSystem : public ForwardingFileSystem {
 public:
  std::atomic<bool> failOpenForReading{false};
  std::atomic<bool> failOpenForWriting{false};
  std::atomic<bool> failTemporary{false};
  std::atomic<bool> failReplace{false};
  std::atomic<bool> failSync{false};
  std::atomic<bool> failReads{false};  // Opens succeed, reads report an error.
  // Writes fail once this many bytes were written to one file (-1: never),
  // after writing the part that fits, as a full disk would.
  std::atomic<long> writeLimit{-1};
  std::atomic<int> pauses{0};
  std::atomic<int> readOpens{0};
  std::atomic<int> writeOpens{0};
  // The write-back lock is never had, as if another process held it.
  std::atomic<bool> failLock{false};
  // Non-zero: every identity reports these modification and change times,
  // as a file system with coarse timestamps would within one tick.
  std::atomic<long long> reportedTimeNs{0};
  std::atomic<int> identifies{0};

  std::unique_ptr<File> OpenForReading(const std::string& path) override;
  std::unique_ptr<File> OpenForWriting(const std::string& path) override;
  std::unique_ptr<File> CreateTemporaryBeside(const std::string& path,
                                              std::string* temporaryPath) override;
  bool Replace(const std::string& source, const std::string& target) override;
  void Sleep(unsigned milliseconds) override;
  std::unique_ptr<FileLock> LockForWriteBack(const std::string& path,
                                             unsigned timeoutMilliseconds) override;
  bool Identify(const std::string& path, FileIdentity* identity) override;

 private:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file);
};

// Installs a file system for the scope's lifetime.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem* fileSystem) { SetFileSystemForTesting(fileSystem); }
  ~ScopedFileSystem() { SetFileSystemForTesting(nullptr); }
};

}  // namespace test_support
}  // namespace inireg

#endif  // INIREG_TESTS_TEST_SUPPORT_H_
