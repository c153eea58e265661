// ProfileStore: named settings kept in a sectioned text profile file, and the
// settings-store interface that every store of the library offers.
//
// A setting is addressed by a section and a key.  Section and key arguments
// are sticky: a non-empty argument becomes the store's current section or
// key, an empty one keeps the current one, and the operation works with the
// current values.  So a client can name a section once and then pass "".
//
// The store holds no file contents.  Each operation names the file to the
// profile engine (profile_engine.h), which caches parsed files process-wide:
// stores of one path share one cached copy (on Windows also paths that differ
// only in case).  Writes change the cached copy; the file is written back
// when it leaves the cache, when the store is destroyed, at Sync, or at
// normal process exit, merged with what other processes wrote meanwhile.
//
// A store object is used by one thread at a time; different stores may be
// used from different threads.
#ifndef INIREG_PROFILE_STORE_H_
#define INIREG_PROFILE_STORE_H_

#include <cstdint>
#include <string>

#include "inireg/export.h"
#include "inireg/status.h"
#include "inireg/text.h"

namespace inireg {

class INIREG_EXPORT ProfileStore {
 public:
  explicit ProfileStore(std::string path);
  ProfileStore(const ProfileStore&) = delete;
  ProfileStore& operator=(const ProfileStore&) = delete;

  // The ten operations keep this order (their slots in the virtual table);
  // derived stores append their own after the destructor.

  // The entry read as an unsigned decimal number taken as signed 32 bits
  // ("-1" and "4294967295" both give -1), or `defaultValue`.
  virtual int32_t GetInt(std::string key, std::string section, int32_t defaultValue);
  // As GetInt, read as hexadecimal ("1F" and "0x1F" give 31).
  virtual int32_t GetHex(std::string key, std::string section, int32_t defaultValue);
  // Sets `out` to the entry's value, or to `defaultValue` when there is no such
  // entry, and returns its length.  With the quote option on (SetOptions), a
  // value quoted in the file comes with its double quotes.
  virtual int32_t GetString(std::string& out, std::string defaultValue, std::string key,
                            std::string section);
  // Stores the number as decimal text.  1 on success, 0 when refused.
  virtual int32_t SetInt(int32_t value, std::string key, std::string section);
  // Stores the value as a file line would hold it: surrounding whitespace
  // removed, an enclosing pair of quotes taken off and remembered.  With an
  // empty current key the whole current section is deleted.  1 on success, 0
  // when refused: no current section, or text the file cannot carry back
  // (a key with "=", a line break in a value, ...).
  virtual int32_t SetString(std::string value, std::string key, std::string section);
  // Fills `buffer` with the key names of the section, each followed by a NUL
  // (the section names, when the current section is empty).  Returns the
  // characters used; a list too long is cut at the end of the buffer.
  virtual int32_t GetKeyList(char* buffer, int32_t size, std::string section);
  // The key names of the section in file order (an empty argument: the
  // current section), or null with *count 0 when there are none.  The caller
  // releases the array with delete[].
  virtual CountedStringArray GetKeyNames(int32_t* count, std::string section);
  // The section names in file order, or null with *count 0.
  virtual CountedStringArray GetSectionNames(int32_t* count);
  virtual int32_t GetOptions();
  // Sets the option word and reloads the file under it: any non-zero word
  // joins lines ending in a backslash with the next line and returns quoted
  // values with their quotes.  Pending changes are written back first.
  virtual void SetOptions(int32_t options);

  // Writes pending changes of the file back and drops it from the cache.
  virtual ~ProfileStore();

  // Beyond the ten operations (not virtual, so that derived stores' slots
  // stay where they are):

  // Writes pending changes back now, merged with what others wrote, and
  // reads the file again: afterwards reads see the file as it is on disk.
  // Success means every change made so far is on disk.
  Status Sync();
  // Deletes the entry (sticky key and section, as SetString).  1 on success,
  // also when there was no such entry; 0 with an empty current section or
  // key, or when the file cannot be read.
  int32_t DeleteKey(std::string key, std::string section);
  // Keeps the file's layout at write-backs of changes made through this
  // store (see ProfileSetKeepLayout); off by default.  The store remembers
  // the mode, so it holds after the engine evicted and reloaded the file.
  void SetKeepLayout(bool keepLayout);
  bool GetKeepLayout() const { return keepLayout; }

 protected:
  // Applies the sticky rule: a non-empty argument replaces the current value.
  void ApplySection(const std::string& argument);
  void ApplyKey(const std::string& argument);
  // Gives the engine's record of the file this store's layout mode.
  void ApplyKeepLayout();

  std::string path;     // The file; a derived store keeps its location here.
  std::string section;  // The current section.
  std::string key;      // The current key.
  int32_t options = 0;  // The option word.
  bool keepLayout = false;
};

}  // namespace inireg

#endif  // INIREG_PROFILE_STORE_H_
