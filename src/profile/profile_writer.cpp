#include "profile/profile_writer.h"

#include <cstdio>
#include <memory>

#include "platform/file_system.h"
#include "profile/file_retry.h"

namespace inireg {

std::string RenderProfileFile(const ProfileFile& file) {
  constexpr size_t kLineEndLength = sizeof kProfileLineEnd - 1;
  size_t length = 0;
  for (const ProfileSection& section : file.sections) {
    length += section.name.size() + 2 + 2 * kLineEndLength;
    for (const ProfileEntry& entry : section.entries) {
      length += entry.key.size() + 1 + entry.value.size() + (entry.quoted ? 2 : 0) + kLineEndLength;
    }
  }
  std::string text;
  text.reserve(length + 3);
  if (file.utf8Bom) text += "\xEF\xBB\xBF";
  for (const ProfileSection& section : file.sections) {
    text += '[';
    text += section.name;
    text += ']';
    text += kProfileLineEnd;
    for (const ProfileEntry& entry : section.entries) {
      text += entry.key;
      text += '=';
      if (entry.quoted) text += '"';
      text += entry.value;
      if (entry.quoted) text += '"';
      // A file's last line may end in a backslash that had nothing to join.
      // Written as it is, it would swallow the line after it at the next
      // load; a space stops the join and is trimmed off again.
      if (!entry.quoted && file.joinContinuations && !entry.value.empty() &&
          entry.value.back() == '\\') {
        text += ' ';
      }
      text += kProfileLineEnd;
    }
    text += kProfileLineEnd;
  }
  return text;
}

namespace {

bool WriteWhole(File* file, const std::string& contents) {
  bool written = file->Write(contents.data(), contents.size());
  bool synced = written && file->Sync();
  bool closed = file->Close();
  return written && synced && closed;
}

// Writes through a new file beside the target and renames it over the target,
// so that the target holds either its old or its new contents, never a mix.
// Returns false with the target untouched when that fails, and `reason`;
// sets `noTemporary` when no file could be made beside the target at all.
bool ReplaceAtomically(const std::string& target, const std::string& contents, bool* noTemporary,
                       std::string* reason) {
  FileSystem* fileSystem = CurrentFileSystem();
  std::string temporaryPath;
  std::unique_ptr<File> temporary = fileSystem->CreateTemporaryBeside(target, &temporaryPath);
  *noTemporary = !temporary;
  if (!temporary) {
    *reason = "no temporary file could be made beside " + target;
    return false;
  }
  bool replaced = WriteWhole(temporary.get(), contents);
  temporary.reset();
  if (!replaced)
    *reason = "writing or flushing the new contents of " + target + " failed (is the disk full?)";
  if (replaced) {
    // The target may be held open by another program for a moment (Windows
    // refuses to replace it then): retry as an open would be retried.
    RetryPauses pauses;
    replaced = false;
    for (int attempt = 0; attempt < kOpenTries && !replaced; ++attempt) {
      replaced = fileSystem->Replace(temporaryPath, target);
      if (!replaced) fileSystem->Sleep(pauses.Next());
    }
    if (!replaced) *reason = "the new contents could not be renamed over " + target;
  }
  if (!replaced) fileSystem->Remove(temporaryPath);
  return replaced;
}

}  // namespace

bool ReplaceFileContents(const std::string& target, const std::string& contents,
                         std::string* reason) {
  FileSystem* fileSystem = CurrentFileSystem();
  // An empty target: a link that may not be followed.  A file the caller
  // could not write in place is not replaced either: the rename would
  // succeed wherever the folder lets the caller make files.
  if (target.empty()) {
    *reason =
        "a symbolic link that may not be followed (in a sticky folder open to all, only "
        "the caller's and the folder owner's links are) or a loop of links";
    return false;
  }
  if (!fileSystem->MayReplace(target)) {
    *reason = target + " may not be written by this user, so it is not replaced";
    return false;
  }
  bool noTemporary = false;
  if (ReplaceAtomically(target, contents, &noTemporary, reason)) return true;
  if (noTemporary) {
    // No file can be made in the folder (it may be read-only while the file
    // itself is writable): write the file in place.
    std::unique_ptr<File> stream = OpenFileRetry(target, OpenMode::kWrite);
    if (stream && WriteWhole(stream.get(), contents)) return true;
    *reason = stream ? "writing " + target + " in place failed (is the disk full?)"
                     : "neither a temporary file beside " + target +
                           " nor the file itself could be opened for writing";
  }
  return false;
}

int ProfileSave(const ProfileFile& file) {
  std::string reason;
  if (ReplaceFileContents(CurrentFileSystem()->ResolveLinks(file.path), RenderProfileFile(file),
                          &reason)) {
    return 1;
  }
  std::printf("COULDN'T OPEN FILE\n");
  std::fflush(stdout);
  return 0;
}

}  // namespace inireg
