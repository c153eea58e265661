// Loads arbitrary bytes as a profile file (8-bit, or UTF-16LE after an FF FE
// mark), with and without joined continuation lines, and checks that writing
// the file back is stable: the file written after a reload is byte-identical
// to the one written first, and both loads hold the same records.
#include <cstddef>
#include <cstdint>
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
      text += Escape(entry.key.str()) + (entry.quoted ? "|Q|" : "|U|") + Escape(entry.value.str()) + "\n";
    }
  }
  return text;
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
  std::string before = Describe(first), after = Describe(reloaded);
  if (before != after) {
    Fail("records changed by a write-back and reload" + mode + "\n--- loaded:\n" + before +
         "--- reloaded:\n" + after);
  }
}

}  // namespace
}  // namespace fuzz
}  // namespace inireg

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  inireg::fuzz::Check(bytes, false);
  inireg::fuzz::Check(bytes, true);
  return 0;
}
