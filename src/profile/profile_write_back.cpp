#include "profile/profile_write_back.h"

#include <cstdio>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "profile/file_retry.h"
#include "profile/profile_change.h"
#include "profile/profile_identity.h"
#include "profile/profile_layout.h"
#include "profile/profile_reader.h"
#include "profile/profile_writer.h"

namespace inireg {

namespace {

// The whole file, or false when it cannot be read.
bool ReadBytes(const std::string& path, std::string* bytes) {
  std::unique_ptr<File> stream = OpenFileRetry(path, OpenMode::kRead);
  if (!stream) return false;
  bytes->clear();
  char buffer[65536];
  for (size_t got; (got = stream->Read(buffer, sizeof buffer)) > 0;) bytes->append(buffer, got);
  return !stream->Failed();
}

bool ChangedOnDisk(const ProfileFile& file, const std::string& target) {
  FileIdentity current;
  if (!CurrentFileSystem()->Identify(target, &current)) return true;
  if (current != file.identity) return true;
  if (!ProfileIdentityCannotTell(file)) return false;
  std::string bytes;
  return !ReadBytes(target, &bytes) || HashContents(bytes) != file.contentHash;
}

Status Failed(const std::string& reason) {
  std::printf("COULDN'T OPEN FILE\n");
  std::fflush(stdout);
  return Status::Error(reason);
}

ProfileFile FreshRecord(const ProfileFile& file) {
  ProfileFile fresh;
  fresh.path = file.path;
  fresh.joinContinuations = file.joinContinuations;
  fresh.keepQuotes = file.keepQuotes;
  fresh.keepLayout = file.keepLayout;
  return fresh;
}

// Makes `file` the record of what was just written to `target`.
void RecordWritten(ProfileFile* file, const std::string& target, const std::string& contents) {
  file->dirty = false;
  file->journal.clear();
  file->identityTakenNs = ProfileClockNs();
  if (!CurrentFileSystem()->Identify(target, &file->identity)) {
    file->identity = FileIdentity();
    file->identity.size = ~uint64_t{0};  // Unknown: the next write-back merges.
  }
  // As on loading: hashed only where the identity cannot tell versions apart.
  file->contentHash = ContentHashWhereNeeded(*file, contents.data(), contents.size());
}

}  // namespace

bool ProfileFileChangedOnDisk(const ProfileFile& file) {
  return ChangedOnDisk(file, CurrentFileSystem()->ResolveLinks(file.path));
}

void ReloadProfile(ProfileFile* file) {
  ProfileFile fresh = FreshRecord(*file);
  LoadProfileFile(&fresh);
  *file = std::move(fresh);
}

namespace {

// The layout-keeping write-back: the journal is applied to the file's
// current bytes, read once into the record that becomes the file's, and
// parsed once: the changes are applied to those records too, which gives
// what reading the new bytes gives.
Status WriteBackKeepingLayout(ProfileFile* file, const std::string& target) {
  FileSystem* fileSystem = CurrentFileSystem();
  FileIdentity current;
  int64_t takenNs = ProfileClockNs();
  bool known = fileSystem->Identify(target, &current);
  ProfileFile fresh = FreshRecord(*file);
  fresh.loaded = true;
  size_t size = 0;
  if (known && current.exists && !ReadProfileBytes(target, current.size, &fresh, &size)) {
    return Failed(target + " cannot be read to apply the changes to its lines");
  }
  ProfileSourceMap sources;
  ParseProfileBytes(&fresh, size, &sources);
  LayoutEdit edit = EditKeepingLayout(fresh, size, sources, file->journal);
  bool write = edit.changed || !current.exists;
  if (write) {
    std::string reason;
    if (!ReplaceFileContents(target, edit.contents, &reason)) return Failed(reason);
    if (edit.changed && !ApplyEditToRecords(edit, file->journal, &fresh)) {
      fresh = FreshRecord(*file);
      LoadProfileText(edit.contents, &fresh, nullptr);
    }
    // Written unchanged, the file was absent: it is now as empty as the records.
  }
  *file = std::move(fresh);
  if (write) {
    RecordWritten(file, target, edit.contents);
  } else {
    // Nothing to write: the record is the file as it is.
    file->identity = current;
    if (!known) file->identity.size = ~uint64_t{0};
    file->identityTakenNs = takenNs;
    file->contentHash = ContentHashWhereNeeded(*file, file->text.get(), size);
  }
  return Status::Ok();
}

}  // namespace

Status WriteBackProfile(ProfileFile* file) {
  FileSystem* fileSystem = CurrentFileSystem();
  std::string target = fileSystem->ResolveLinks(file->path);
  if (target.empty()) {
    return Failed(
        file->path +
        " is a symbolic link that may not be followed (in a sticky folder "
        "open to all, only the caller's and the folder owner's links are) or a loop of links");
  }
  std::unique_ptr<FileLock> lock = fileSystem->LockForWriteBack(target, kWriteBackLockTimeoutMs);
  if (!lock) {
    return Failed("the write-back lock of " + target +
                  " could not be had within 5 seconds (another process is writing it back, "
                  "or its folder cannot be opened)");
  }

  if (file->keepLayout) return WriteBackKeepingLayout(file, target);

  ProfileFile merged;
  bool changed = ChangedOnDisk(*file, target);
  if (changed) {
    // Someone else wrote the file since it was loaded: start from what is
    // there now and make this record's changes again.
    merged = FreshRecord(*file);
    LoadProfileFile(&merged);
    if (merged.unreadable)
      return Failed(target + " changed on disk and cannot be read again to merge");
    for (const ProfileChange& change : file->journal) ApplyProfileChange(&merged, change);
  }
  ProfileFile* result = changed ? &merged : file;
  std::string contents = RenderProfileFile(*result);
  std::string reason;
  if (!ReplaceFileContents(target, contents, &reason)) return Failed(reason);
  if (changed) *file = std::move(merged);
  file->wideText = false;  // Written as 8-bit text.
  RecordWritten(file, target, contents);
  return Status::Ok();
}

}  // namespace inireg
