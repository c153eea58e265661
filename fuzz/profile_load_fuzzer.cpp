// Loads arbitrary bytes as a profile file (8-bit, or UTF-16LE after an FF FE
// mark), with and without joined continuation lines, and checks that writing
// the file back is stable: the file written after a reload is byte-identical
// to the one written first, and both loads hold the same records.
//
// Lines longer than the reader's 32767-byte buffer come from short inputs:
// one that begins with the byte 01 stands for a file with two of its bytes
// repeated tens of thousands of times (see Stretch), so that the fuzzer need
// not mutate inputs of 70 KB, each many times slower, to reach them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "memory_file_system.h"
#include "profile/profile_reader.h"
#include "profile/profile_writer.h"

namespace inireg {
namespace fuzz {
namespace {

const char kPath[] = "/fuzz/load.ini";

// Sections and entries with their quoting, one line each, with every byte
// that could blur the layout escaped.
std::string Describe(const ProfileFile& file) {
  std::string text;
  for (const ProfileSection& section : file.sections) {
    text += "[" + Escape(section.name.str()) + "]\n";
    for (const ProfileEntry& entry : section.entries) {
      text += Escape(entry.key.str()) + (entry.quoted ? "|Q|" : "|U|") + Escape(entry.value.str()) +
              "\n";
    }
  }
  return text;
}

bool SameRecords(const ProfileFile& a, const ProfileFile& b) {
  if (a.sections.size() != b.sections.size()) return false;
  auto other = b.sections.begin();
  for (const ProfileSection& section : a.sections) {
    if (section.name != other->name || section.entries.size() != other->entries.size())
      return false;
    for (size_t i = 0; i < section.entries.size(); ++i) {
      const ProfileEntry& x = section.entries[i];
      const ProfileEntry& y = other->entries[i];
      if (x.key != y.key || x.value != y.value || x.quoted != y.quoted) return false;
    }
    ++other;
  }
  return true;
}

ProfileFile Load(bool joinContinuations) {
  ProfileFile file;
  file.path = kPath;
  file.joinContinuations = joinContinuations;
  LoadProfileFile(&file);
  if (file.unreadable) Fail("an in-memory file was reported unreadable");
  return file;
}

// Writes the record back through the engine's own write-back and returns the
// bytes that reached the "disk".
std::string Save(MemoryFileSystem& disk, const ProfileFile& file) {
  if (ProfileSave(file) != 1) Fail("write-back failed on a file system that cannot fail");
  if (disk.files.size() != 1) Fail("write-back left a temporary file behind");
  const std::string& written = disk.files[kPath];
  if (written != RenderProfileFile(file)) Fail("the file written is not the rendered record");
  return written;
}

void Check(const std::string& bytes, bool joinContinuations) {
  MemoryFileSystem& disk = InstallMemoryFileSystem();
  disk.files.clear();
  disk.files[kPath] = bytes;
  ProfileFile first = Load(joinContinuations);
  std::string second = Save(disk, first);

  ProfileFile reloaded = Load(joinContinuations);
  std::string third = Save(disk, reloaded);
  std::string mode = joinContinuations ? " (continuation lines joined)" : "";
  if (second != third) Fail("second and third files differ" + mode);
  if (!SameRecords(first, reloaded)) {
    Fail("records changed by a write-back and reload" + mode + "\n--- loaded:\n" + Describe(first) +
         "--- reloaded:\n" + Describe(reloaded));
  }
}

// The file an input stands for: its bytes, or for an input that begins
// with 01, the bytes after a 4-byte header with two of them repeated.  The
// header's other bytes give the place of the two bytes (little-endian, taken modulo the
// length and rounded down to an even offset, so that UTF-16LE units stay
// whole) and the repetitions, 16384 + 80 * the fourth byte: from 32768 to
// 73568 bytes, past the reader's buffer whether a UTF-16LE unit converts to
// one byte (from the fourth byte's value 205 on) or more.
std::string Stretch(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (size < 6 || data[0] != 0x01) return bytes;
  std::string file = bytes.substr(4);
  size_t at = ((data[1] | (size_t{data[2]} << 8)) % (file.size() - 1)) & ~size_t{1};
  size_t repetitions = 16384 + 80 * size_t{data[3]};
  // The run of pairs is doubled rather than built a pair at a time: a loop
  // of tens of thousands of steps, each traced by the coverage
  // instrumentation, would cost more than the load it feeds.
  std::string run = file.substr(at, 2);
  while (run.size() < 2 * repetitions) run += run;
  run.resize(2 * repetitions);
  return file.substr(0, at) + run + file.substr(at);
}

}  // namespace
}  // namespace fuzz
}  // namespace inireg

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes = inireg::fuzz::Stretch(data, size);
  inireg::fuzz::Check(bytes, false);
  inireg::fuzz::Check(bytes, true);
  // Nothing of this input stays allocated, or libFuzzer would run it again
  // to look for a leak.
  inireg::fuzz::InstallMemoryFileSystem().files.clear();
  return 0;
}
