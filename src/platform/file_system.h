// The seam between the profile engine and the operating system's files.
//
// Every file the engine reads or writes, every rename and every pause between
// retries goes through the current FileSystem.  The default one talks to the
// real system; tests install a subclass (usually forwarding to the default)
// that fails chosen calls, so that unreadable files and write-backs that break
// half way can be tested without permission tricks.
//
// Files are always opened in binary mode: the engine handles line ends itself.
//
// What the real file system promises beyond that: only regular files are
// read or written (a FIFO, a device or a folder fails to open, and opens
// never block); a read stops at the size the file had when it was opened;
// symbolic links are followed only as the kernel's protected_symlinks rule
// allows; temporary files are private (0600) until they are complete.
#ifndef INIREG_PLATFORM_FILE_SYSTEM_H_
#define INIREG_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace inireg {

// An open file.  Closing happens in the destructor if Close was not called.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `size` bytes; returns how many were read (0 at the end).
  // A read error also returns 0 and makes Failed() true.
  virtual size_t Read(void* buffer, size_t size) = 0;
  // Appends all `size` bytes; false when they could not all be written.
  virtual bool Write(const void* data, size_t size) = 0;
  // Pushes written data through to the disk (fsync); false on failure.
  virtual bool Sync() = 0;
  // Closes the file; false when buffered data could not be written.
  virtual bool Close() = 0;
  // True once a read has failed with an error (not merely reached the end).
  virtual bool Failed() const = 0;
};

// What tells one version of a file from another without reading it: the
// file's place (device and inode, or volume and file index), its size and
// its modification and change times in nanoseconds.  A file rewritten in
// place within one timestamp tick at the same size keeps its identity; the
// engine compares contents where that can have happened.
struct FileIdentity {
  bool exists = false;  // False: nothing at the path; the rest is zero.
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;  // The inode change time; 0 where there is none.

  bool operator==(const FileIdentity& other) const {
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modifiedNs == other.modifiedNs && changedNs == other.changedNs;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// An exclusive lock that serialises the write-backs of one file among
// processes; released when destroyed.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // True when something exists at `path`: a file, or something that cannot
  // be read through it (a link that may not be followed, a link loop).
  virtual bool Exists(const std::string& path) = 0;
  // Opens an existing regular file for reading, or returns null.
  virtual std::unique_ptr<File> OpenForReading(const std::string& path) = 0;
  // Creates or empties the regular file `path` and opens it for writing, or
  // returns null.
  virtual std::unique_ptr<File> OpenForWriting(const std::string& path) = 0;
  // Creates a new file with a new, unpredictable name in the folder of
  // `path`, readable and writable by the caller alone, and stores its name
  // in `temporaryPath`.  Its Sync gives it the attributes of `path` (the
  // permission bits, and the owner and the group where the caller may) or,
  // when `path` does not exist, those of a new file, before flushing it.
  // Null when no file can be made in the folder.
  virtual std::unique_ptr<File> CreateTemporaryBeside(const std::string& path,
                                                      std::string* temporaryPath) = 0;
  // Atomically replaces `target` with `source` and makes the rename durable.
  // On Windows the replaced file's security descriptor, attributes and
  // alternate streams are kept.
  virtual bool Replace(const std::string& source, const std::string& target) = 0;
  // False when `target` exists but the caller could not write it in place
  // (no permission, not a regular file): a write-back must then not replace
  // it either.  True when it does not exist.
  virtual bool MayReplace(const std::string& target) {
    (void)target;
    return true;
  }
  // Deletes a file; failures are ignored.
  virtual void Remove(const std::string& path) = 0;
  // The file that a write to `path` should replace: the final target of a
  // symbolic link, or `path` itself.  Empty when a link on the way may not be
  // followed (another user's link in a sticky, world-writable folder) or the
  // links loop.
  virtual std::string ResolveLinks(const std::string& path) = 0;
  // Pauses the calling thread.
  virtual void Sleep(unsigned milliseconds) = 0;

  // Takes the lock that write-backs of `path` (a resolved target, not a
  // link) hold among processes, waiting at most `timeoutMilliseconds`; null
  // when it could not be had in that time.  Advisory: only writers that take
  // it are serialised.  No file is left behind once it is released.
  virtual std::unique_ptr<FileLock> LockForWriteBack(const std::string& path,
                                                     unsigned timeoutMilliseconds) = 0;
  // Fills `identity` for the file at `path` (following links); an absent
  // file gives exists == false and true.  False when it cannot be told.
  virtual bool Identify(const std::string& path, FileIdentity* identity) = 0;
};

// The real file system of the platform.  Never null; lives for the process.
FileSystem* DefaultFileSystem();

// The file system the engine uses now: the default unless a test set another.
FileSystem* CurrentFileSystem();

// Installs `fileSystem` (null: the default again).  The caller keeps
// ownership and must restore the default before destroying it.  Not to be
// called while another thread uses the engine.
void SetFileSystemForTesting(FileSystem* fileSystem);

}  // namespace inireg

#endif  // INIREG_PLATFORM_FILE_SYSTEM_H_
