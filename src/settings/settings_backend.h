// What Settings asks of the storage behind it: one implementation for profile
// files (through the profile engine) and one for the registry.  Callers have
// checked that section and key are not empty.
#ifndef INIREG_SETTINGS_SETTINGS_BACKEND_H_
#define INIREG_SETTINGS_SETTINGS_BACKEND_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "inireg/settings.h"
#include "inireg/status.h"

namespace inireg {

class SettingsBackend {
 public:
  virtual ~SettingsBackend() = default;
  // The setting as text; `exists` tells a missing setting from one that is
  // there but is not text (a registry value of a binary type).
  virtual std::optional<std::string> Get(const std::string& section, const std::string& key,
                                         bool* exists) = 0;
  virtual Status Set(const std::string& section, const std::string& key,
                     const std::string& value) = 0;
  virtual Status Remove(const std::string& section, const std::string& key) = 0;
  virtual Status RemoveSection(const std::string& section) = 0;
  virtual std::vector<std::string> Sections() = 0;
  virtual std::vector<std::string> Keys(const std::string& section) = 0;
  virtual Status Sync() = 0;
  virtual void SetKeepLayout(bool keepLayout) = 0;
};

std::unique_ptr<SettingsBackend> MakeProfileBackend(std::string path);
std::unique_ptr<SettingsBackend> MakeRegistryBackend(std::string location, bool readOnly);

}  // namespace inireg

#endif  // INIREG_SETTINGS_SETTINGS_BACKEND_H_
