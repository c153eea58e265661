// RegistryStore: the settings-store interface of ProfileStore, kept in the
// Windows registry (on Linux, in the library's own SQLite registry).
//
// A store is placed at a location, given as text: a root abbreviation ("CR",
// "CU", "LM" or "US"), an optional backslash and a subkey path, for example
// "CU\Software\Example".  A section is a subkey of the location key and a key
// is a value name in it.  Sections and keys are sticky as in ProfileStore.
//
// Reads render REG_SZ, REG_EXPAND_SZ and REG_DWORD values as text or numbers
// and answer the caller's default for anything else; GetValue also gives
// REG_QWORD values as text and other types as raw bytes.  Writes store REG_SZ
// text (SetString, SetInt) or REG_DWORD numbers (SetDword) and create the
// location and section keys when they are missing.  The key name "(Default)"
// stands for a key's unnamed value in GetString, GetValue and SetString.
//
// GetHex, GetOptions and SetOptions are ProfileStore's: they act on a profile
// file named by the location text, not on the registry.
//
// The store owns two key handles (location and section) and closes them when
// it is destroyed.  Registry status codes are never passed on: reads answer
// defaults, writes answer 0.  A store object is used by one thread at a time.
#ifndef INIREG_REGISTRY_STORE_H_
#define INIREG_REGISTRY_STORE_H_

#include <cstdint>
#include <string>

#include "inireg/export.h"
#include "inireg/profile_store.h"
#include "inireg/win32_registry.h"

namespace inireg {

class INIREG_EXPORT RegistryStore : public ProfileStore {
 public:
  // Opens the location key with KEY_READ (readOnly non-zero) or KEY_READ |
  // KEY_WRITE, OR-ed with `accessFlags` (for example KEY_WOW64_64KEY).
  RegistryStore(std::string location, int32_t readOnly, REGSAM accessFlags);

  // The value read as a number: REG_SZ text as a signed decimal number
  // (clamped to 32 bits), REG_DWORD as is; the default for anything else.
  int32_t GetInt(std::string key, std::string section, int32_t defaultValue) override;
  // Sets `out` to REG_SZ or REG_EXPAND_SZ text (unexpanded) or a REG_DWORD as
  // unsigned decimal text, else to the default.  Returns out's length.
  int32_t GetString(std::string& out, std::string defaultValue, std::string key,
                    std::string section) override;
  // Store REG_SZ text without a terminating NUL.  Return the text's length + 1,
  // or 0 when the store is read-only or the write fails.
  int32_t SetInt(int32_t value, std::string key, std::string section) override;
  int32_t SetString(std::string value, std::string key, std::string section) override;
  // Fills `buffer` (`size` bytes) with the section's value names, each followed
  // by a NUL; the unnamed value is an empty name.  Returns the bytes used.
  int32_t GetKeyList(char* buffer, int32_t size, std::string section) override;
  // The section's value names, or null with *count 0.  Caller delete[]s.
  CountedStringArray GetKeyNames(int32_t* count, std::string section) override;
  // The names of the location key's direct subkeys, or null with *count 0.
  CountedStringArray GetSectionNames(int32_t* count) override;

  ~RegistryStore() override;

  // Reads a value of any type.  String and number types (REG_SZ,
  // REG_EXPAND_SZ, REG_DWORD, REG_QWORD) go to `out` as text and the result
  // is out's length.  Other types are raw: *size receives the data size + 1
  // and, when `data` is given, *data a new buffer (release with delete[]) of
  // that size holding the data; the result is the data size + 1 for
  // REG_BINARY and REG_MULTI_SZ and out's length for the rest.  A value that
  // cannot be read leaves everything as it was.
  virtual uint32_t GetValue(std::string& out, BYTE** data, DWORD* size, std::string key,
                            std::string section);
  // Stores a REG_DWORD.  Returns 5, or 0 when read-only or on failure.
  virtual int32_t SetDword(uint32_t value, std::string key, std::string section);

  // Moves the store to another location.  A text without a recognised root
  // abbreviation changes nothing but forgets the root, so that the key open
  // before stays in use.
  void OpenPath(std::string location);
  // Bits OR-ed into the access mask of later opens and creates.
  void SetAccessFlags(REGSAM flags);

 protected:
  // Makes `name` the current section and opens its key (closing the old one).
  void SelectSection(std::string name);
  // Makes `name` the current value name.
  void SelectValue(std::string name);
  // Creates (or opens) the location key and the section key where they are
  // not open.  1 when both are open afterwards, else 0.
  int32_t CreateKeys();
  // Sets the string's length to n (0 for n <= 0), new characters NUL, and
  // returns its writable characters.
  static char* ResizeBuffer(std::string& text, int32_t n);

  int32_t readOnly;
  HKEY rootKey = nullptr;     // Predefined: never closed.
  HKEY baseKey = nullptr;     // The location key, owned.
  HKEY sectionKey = nullptr;  // The current section's key, owned.
  REGSAM accessFlags;

 private:
  REGSAM OpenMask() const;
  REGSAM CreateMask() const;
  void NameSectionAndKey(const std::string& sectionArgument, const std::string& keyArgument);
  // The current key, or null for "(Default)" where the operation maps it.
  const char* MappedValueName() const;
  bool QueryTypeAndSize(const char* name, DWORD* type, DWORD* size);
  int32_t WriteValue(const char* name, DWORD type, const void* data, DWORD size);
};

// The location text of a root key and subkey: "CR", "CU", "LM" or "US" for the
// four predefined roots ("BAD" for any other), a backslash and the subkey.
INIREG_EXPORT std::string FormatRegistryPath(HKEY root, const char* subkey);

}  // namespace inireg

#endif  // INIREG_REGISTRY_STORE_H_
