// Hostile and huge files: each loads without a crash, in bounded time, and
// with peak memory bounded by what the file holds.
//
// The files are made at test time in a temporary folder.  Each is loaded in a
// child process, which returns its free heap to the system, resets the
// kernel's high-water mark of its resident memory, loads the file and reports
// how far the high-water mark rose above where it started (VmHWM - VmRSS), so
// that neither the parent's memory nor the other cases count.
//
// The bound: peak growth <= 2 x file size + 256 bytes x records + 32 MiB.
// The records keep at most every byte of the file once; a reader may hold the
// bytes once more while it parses.  Each record (section or entry) costs its
// bookkeeping on top of its text: list nodes, strings, vectors and index
// slots, a few dozen pointers' worth at most, well under 256 bytes.  32 MiB
// covers the runtime and the reader's buffers.  A reader that keeps copies of
// the whole file, or a quadratic structure, breaks the bound.
//
// Under AddressSanitizer or ThreadSanitizer, resident memory is mostly the
// sanitizer's own (shadow memory, quarantine, redzones): the files still load
// and are checked, the bound is not, and the 200 MB file is 32 MB instead, to
// keep the time bounded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "inireg/profile_engine.h"
#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define INIREG_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define INIREG_UNDER_SANITIZER 1
#endif
#endif
#ifndef INIREG_UNDER_SANITIZER
#define INIREG_UNDER_SANITIZER 0
#endif

namespace inireg {
namespace {

using test_support::Lines;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::WriteFile;

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kLine = 32767;  // The reader's line limit.

// A "Vm...:" line of /proc/self/status in KiB, or -1.
long StatusKiB(const char* field) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long value = -1;
  size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
      value = std::strtol(line + length + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  return value;
}

// Starts the high-water mark of resident memory afresh from the current
// resident memory, which is returned (KiB), or -1 when that cannot be done.
long ResetPeak() {
  malloc_trim(0);
  int fd = open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  bool reset = write(fd, "5", 1) == 1;
  close(fd);
  return reset ? StatusKiB("VmRSS") : -1;
}

// Writes a file from generated chunks, never holding all of it.
class FileMaker {
 public:
  explicit FileMaker(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}
  ~FileMaker() { Close(); }
  void Add(const std::string& bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) failed_ = true;
    size_ += bytes.size();
  }
  // Returns the size written, or 0 when the file could not be written.
  size_t Close() {
    if (file_ != nullptr && std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return failed_ ? 0 : size_;
  }

 private:
  std::FILE* file_;
  size_t size_ = 0;
  bool failed_ = false;
};

struct LoadReport {
  long growthKiB = 0;    // Peak resident memory gained by the load.
  char check[200] = {};  // Empty when the loaded file read as expected.
};

// Loads `path` through the engine in a child process, measuring the load
// alone; then `check` returns what the loaded file got wrong (empty: nothing).
LoadReport LoadInChild(const std::string& path, const std::function<std::string()>& check) {
  LoadReport report;
  int ends[2];
  if (pipe(ends) != 0) {
    std::snprintf(report.check, sizeof report.check, "no pipe");
    return report;
  }
  test_support::ResetProfileCache();
  pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    LoadReport result;
    long before = ResetPeak();
    ProfileGetInt("no such section", "k", 0, path.c_str());
    result.growthKiB = StatusKiB("VmHWM") - before;
    std::string problem = before < 0 ? "the peak of resident memory cannot be reset" : check();
    std::snprintf(result.check, sizeof result.check, "%s", problem.c_str());
    ssize_t written = write(ends[1], &result, sizeof result);
    _exit(written == sizeof result ? 0 : 1);
  }
  close(ends[1]);
  ssize_t got = read(ends[0], &report, sizeof report);
  close(ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (got != static_cast<ssize_t>(sizeof report) || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::snprintf(report.check, sizeof report.check, "the loading process failed (status %d)",
                  status);
  }
  return report;
}

void ExpectBoundedMemory(const char* what, const LoadReport& report, size_t fileBytes,
                         size_t records) {
  EXPECT_STREQ(report.check, "") << what;
  double growthMiB = report.growthKiB / 1024.0;
  double boundMiB = (2.0 * fileBytes + 256.0 * records) / kMiB + 32;
  std::printf("%s: %.1f MiB file, %zu records, peak memory grew by %.1f MiB (bound %.1f MiB)\n",
              what, static_cast<double>(fileBytes) / kMiB, records, growthMiB, boundMiB);
  if (!INIREG_UNDER_SANITIZER) {
    EXPECT_LE(growthMiB, boundMiB) << what;
  }
}

// The number of NUL-terminated names in a list the engine filled.
size_t CountNames(const std::vector<char>& list, uint32_t used) {
  size_t names = 0;
  for (uint32_t i = 0; i < used; ++i) names += list[i] == '\0';
  return names;
}

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override { test_support::ResetProfileCache(); }
  void TearDown() override { test_support::ResetProfileCache(); }
  TempDir dir_;
};

TEST_F(HostileInputTest, AHugeFileWithoutALineFeed) {
  // A header padded to one line's length, then lines of exactly the reader's
  // limit, "k=vvv...", and no line feed anywhere: each cut piece is an entry,
  // so the records keep nearly every byte.
  const size_t blocks = (INIREG_UNDER_SANITIZER ? 32 : 200) * kMiB / kLine;
  const std::string path = dir_.File("no-line-feed.ini");
  FileMaker maker(path);
  maker.Add("[s]" + std::string(kLine - 3, ' '));
  const std::string block = "k=" + std::string(kLine - 2, 'v');
  for (size_t i = 0; i < blocks; ++i) maker.Add(block);
  size_t size = maker.Close();
  ASSERT_GT(size, 0u);

  LoadReport report = LoadInChild(path, [&]() -> std::string {
    uint32_t length = ProfileGetString("s", "k", "", nullptr, 0, path.c_str());
    if (length != kLine - 2) return "the first value has " + std::to_string(length) + " characters";
    std::vector<char> keys(3 * blocks + 16);
    uint32_t used = ProfileGetString("s", nullptr, "", keys.data(),
                                     static_cast<uint32_t>(keys.size()), path.c_str());
    size_t count = CountNames(keys, used);
    if (count != blocks) return std::to_string(count) + " entries, not " + std::to_string(blocks);
    return "";
  });
  ExpectBoundedMemory("no line feed", report, size, blocks + 1);
}

TEST_F(HostileInputTest, AMillionSections) {
  constexpr size_t kSections = 1000000;
  const std::string path = dir_.File("sections.ini");
  FileMaker maker(path);
  std::string chunk;
  for (size_t i = 0; i < kSections; ++i) {
    chunk += "[s" + std::to_string(i) + "]\n";
    if (chunk.size() > kMiB) {
      maker.Add(chunk);
      chunk.clear();
    }
  }
  maker.Add(chunk + "k=last\n");
  size_t size = maker.Close();
  ASSERT_GT(size, 0u);

  LoadReport report = LoadInChild(path, [&]() -> std::string {
    char value[16];
    ProfileGetString("s999999", "k", "", value, sizeof value, path.c_str());
    if (std::string(value) != "last") return "the last section reads '" + std::string(value) + "'";
    std::vector<char> names(size);
    uint32_t used = ProfileGetString(nullptr, nullptr, "", names.data(),
                                     static_cast<uint32_t>(names.size()), path.c_str());
    size_t count = CountNames(names, used);
    if (count != kSections) return std::to_string(count) + " sections";
    return "";
  });
  ExpectBoundedMemory("a million sections", report, size, kSections + 1);
}

TEST_F(HostileInputTest, AFileOfNulBytes) {
  const std::string path = dir_.File("nul.ini");
  FileMaker maker(path);
  for (int i = 0; i < 64; ++i) maker.Add(std::string(kMiB, '\0'));
  maker.Add("\n[after]\nk=v\n");  // What follows the NULs still counts.
  size_t size = maker.Close();
  ASSERT_GT(size, 0u);

  LoadReport report = LoadInChild(path, [&]() -> std::string {
    char value[8];
    ProfileGetString("after", "k", "", value, sizeof value, path.c_str());
    return std::string(value) == "v"
               ? ""
               : "the section after the NULs reads '" + std::string(value) + "'";
  });
  ExpectBoundedMemory("NUL bytes", report, size, 2);
}

// UTF-16LE text with a byte-order mark.
std::string Utf16(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

TEST_F(HostileInputTest, BrokenUtf16) {
  // Lone surrogates in names and values, a line with no end, and an odd last
  // byte.
  constexpr size_t kSections = 200000;
  const std::string path = dir_.File("utf16.ini");
  FileMaker maker(path);
  maker.Add("\xFF\xFE");
  std::u16string chunk;
  for (size_t i = 0; i < kSections; ++i) {
    std::u16string number;
    for (char c : std::to_string(i)) number += static_cast<char16_t>(c);
    chunk += u"[s\xD800" + number + u"]\r\nk\xDC00=\xDBFF v\r\n";
    if (chunk.size() > kMiB) {
      maker.Add(Utf16(chunk));
      chunk.clear();
    }
  }
  chunk += u"[long]\r\nk=" + std::u16string(4 * kMiB, u'\x4E2D');
  maker.Add(Utf16(chunk) + "\x41");
  size_t size = maker.Close();
  ASSERT_GT(size, 0u);

  LoadReport report = LoadInChild(path, [&]() -> std::string {
    char value[16];
    // A lone surrogate reads as a space; the name and key keep it, the value
    // loses it to trimming.
    const char* name = "s 199999";
    ProfileGetString(name, "k", "", value, sizeof value, path.c_str());
    if (std::string(value) != "v") return "the last section reads '" + std::string(value) + "'";
    uint32_t length = ProfileGetString("long", "k", "", nullptr, 0, path.c_str());
    if (length == 0 || length > kLine)
      return "the long line gives a value of " + std::to_string(length);
    return "";
  });
  ExpectBoundedMemory("broken UTF-16", report, size, 2 * kSections + 2);
}

// A file read with continuation lines joined whose last line ends in a
// backslash: a write-back must not let that backslash join the next line.
TEST_F(HostileInputTest, ABackslashOnTheLastLineSurvivesAWriteBackWithLinesJoined) {
  const std::string path = dir_.File("join.ini");
  WriteFile(path, "[s]\nc=end\\\n");
  auto openJoined = [&] {
    ProfileAddUnloaded(path.c_str());
    ProfileSetFlags(path.c_str(), 1);
  };
  auto get = [&](const char* key) {
    char value[32];
    ProfileGetString("s", key, "<missing>", value, sizeof value, path.c_str());
    return std::string(value);
  };
  openJoined();
  EXPECT_EQ(get("c"), "end\\");
  EXPECT_EQ(ProfileWriteString("s", "d", "1", path.c_str()), 1);
  ProfileClose(path.c_str());
  openJoined();
  EXPECT_EQ(get("c"), "end\\");
  EXPECT_EQ(get("d"), "1");
  ProfileClose(path.c_str());
}

}  // namespace
}  // namespace inireg
