// Settings kept in a profile file, through a ProfileStore (which owns the
// layout mode and closes the file when it goes) and the engine's calls.
#include <string>
#include <utility>
#include <vector>

#include "inireg/profile_engine.h"
#include "inireg/profile_store.h"
#include "profile/profile_line.h"
#include "settings/settings_backend.h"

namespace inireg {

namespace {

std::vector<std::string> TakeNames(CountedStringArray names, int32_t count) {
  std::vector<std::string> result;
  result.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) result.push_back(std::move(names[i]));
  delete[] names;
  return result;
}

class ProfileBackend : public SettingsBackend {
 public:
  explicit ProfileBackend(std::string path) : path_(std::move(path)), store_(path_) {}

  std::optional<std::string> Get(const std::string& section, const std::string& key,
                                 bool* exists) override {
    ProfileEngineLock lock;
    const char* file = path_.c_str();
    // A missing entry answers with the default, so two defaults of different
    // lengths tell it from an entry of any value.
    uint32_t length = ProfileGetString(section.c_str(), key.c_str(), "", nullptr, 0, file);
    *exists = length == ProfileGetString(section.c_str(), key.c_str(), "?", nullptr, 0, file);
    if (!*exists) return std::nullopt;
    std::string value(static_cast<size_t>(length) + 1, '\0');
    uint32_t copied =
        ProfileGetString(section.c_str(), key.c_str(), "", &value[0], length + 1, file);
    value.resize(copied);
    return value;
  }

  Status Set(const std::string& section, const std::string& key,
             const std::string& value) override {
    // Quoted where a bare line would lose blanks or quotes: the write takes
    // the quotes off again, as the reader does.
    if (ProfileWriteString(section.c_str(), key.c_str(), ValueAsWritten(value).c_str(),
                           path_.c_str()) == 0) {
      return Refused();
    }
    return Status::Ok();
  }

  Status Remove(const std::string& section, const std::string& key) override {
    if (ProfileDeleteEntry(section.c_str(), key.c_str(), path_.c_str()) == 0) return Refused();
    return Status::Ok();
  }

  Status RemoveSection(const std::string& section) override {
    // A file may hold several sections of one name; a write deletes the
    // first, so delete until none is left.
    ProfileEngineLock lock;
    do {
      if (ProfileWriteString(section.c_str(), nullptr, nullptr, path_.c_str()) == 0) {
        return Refused();
      }
    } while (ProfileFindSection(section.c_str(), path_.c_str()) != nullptr);
    return Status::Ok();
  }

  std::vector<std::string> Sections() override {
    int32_t count = 0;
    CountedStringArray names = store_.GetSectionNames(&count);
    return TakeNames(names, count);
  }

  std::vector<std::string> Keys(const std::string& section) override {
    int32_t count = 0;
    CountedStringArray names = store_.GetKeyNames(&count, section);
    return TakeNames(names, count);
  }

  Status Sync() override { return store_.Sync(); }
  void SetKeepLayout(bool keepLayout) override { store_.SetKeepLayout(keepLayout); }

 private:
  Status Refused() const {
    return Status::Error("refused: " + path_ +
                         " cannot be written, or cannot carry this section, key or value");
  }

  std::string path_;
  ProfileStore store_;
};

}  // namespace

std::unique_ptr<SettingsBackend> MakeProfileBackend(std::string path) {
  return std::make_unique<ProfileBackend>(std::move(path));
}

}  // namespace inireg
