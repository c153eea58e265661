// Settings: named settings in a profile file or in the registry, behind one
// class with the usual argument order (section, key[, value]) and no hidden
// state between calls.
//
//   inireg::Settings settings = inireg::Settings::ProfileFile("app.ini");
//   settings.Set("Window", "Title", "Main window");
//   int64_t width = settings.GetInt64("Window", "Width").value_or(640);
//   if (!settings.Sync()) std::cerr << settings.Sync().message() << "\n";
//
// It is a thin face over ProfileStore and RegistryStore, which stay as they
// are: a profile file goes through the process-wide profile engine (changes
// are cached and written back, merged with what others wrote, by Sync, when
// the file leaves the cache or at exit); a registry location is read and
// written at once.  Every call names its section and key; an empty section
// or key is never "the current one" here: reads of it find nothing and
// writes are refused.
//
// A Settings object is used by one thread at a time.  It can be moved, not
// copied.
#ifndef INIREG_SETTINGS_H_
#define INIREG_SETTINGS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "inireg/export.h"
#include "inireg/status.h"

namespace inireg {

class SettingsBackend;

// The outcome of a typed read: the value, or whether the setting was missing
// or held text that does not read as the type (`text` then holds it).
template <typename T>
struct Parsed {
  enum class State { kMissing, kInvalid, kPresent };
  State state = State::kMissing;
  T value{};
  std::string text;  // The stored text, when there was one.

  bool has_value() const { return state == State::kPresent; }
  explicit operator bool() const { return has_value(); }
  T value_or(T fallback) const { return has_value() ? value : fallback; }
};

class INIREG_EXPORT Settings {
 public:
  // Settings kept in the profile file at `path`.
  static Settings ProfileFile(std::string path);
  // Settings kept in the registry below `location`, a root abbreviation
  // ("CR", "CU", "LM", "US"), a backslash and a subkey path; a section is a
  // subkey of it and a key a value name.  A read-only object refuses writes.
  static Settings Registry(std::string location, bool readOnly = false);

  Settings(Settings&&) noexcept;
  Settings& operator=(Settings&&) noexcept;
  ~Settings();

  // The setting as text, or nothing when it is missing.  Registry values of
  // the string types give their text, REG_DWORD and REG_QWORD their decimal
  // value; other types are not text and give nothing (Contains is true).
  std::optional<std::string> Get(const std::string& section, const std::string& key) const;
  // "1", "true", "yes", "on" and "0", "false", "no", "off", in any case and
  // with surrounding blanks.
  Parsed<bool> GetBool(const std::string& section, const std::string& key) const;
  // A decimal number, or hexadecimal after "0x", in the 64-bit range.
  Parsed<int64_t> GetInt64(const std::string& section, const std::string& key) const;
  // A finite decimal number as strtod reads it, without trailing text.
  Parsed<double> GetDouble(const std::string& section, const std::string& key) const;
  bool Contains(const std::string& section, const std::string& key) const;

  // Writes the setting, creating its section.  A failure says why: no
  // section or key, read-only, text the file cannot carry, a registry error.
  Status Set(const std::string& section, const std::string& key, const std::string& value);
  Status SetBool(const std::string& section, const std::string& key, bool value);
  Status SetInt64(const std::string& section, const std::string& key, int64_t value);
  Status SetDouble(const std::string& section, const std::string& key, double value);

  // Removes one setting; removing a missing one succeeds.
  Status Remove(const std::string& section, const std::string& key);
  // Removes a section with its settings (in the registry, with every key
  // below it); removing a missing one succeeds.
  Status RemoveSection(const std::string& section);

  // Names in file order (profile files) or in the registry's order.
  std::vector<std::string> Sections() const;
  std::vector<std::string> Keys(const std::string& section) const;

  // Profile files: writes pending changes to disk now, merged with what
  // others wrote since the file was read, and reads it again.  Registry:
  // nothing is pending, so success unless the location cannot be used.
  Status Sync();
  // Profile files: whether write-backs keep comments, blank lines and the
  // file's own spacing (on) or rewrite the file whole (off, the default).
  // No effect on the registry.
  void SetKeepLayout(bool keepLayout);

 private:
  explicit Settings(std::unique_ptr<SettingsBackend> backend);
  std::unique_ptr<SettingsBackend> backend_;
};

}  // namespace inireg

#endif  // INIREG_SETTINGS_H_
