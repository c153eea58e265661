#include "inireg/settings.h"

#include <cerrno>
#include <cinttypes>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "settings/settings_backend.h"
#include "text/ascii_case.h"

namespace inireg {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The text without surrounding blanks.
std::string Strip(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool ParseBool(const std::string& text, bool* value) {
  static const char* const kTrue[] = {"1", "true", "yes", "on"};
  static const char* const kFalse[] = {"0", "false", "no", "off"};
  for (const char* word : kTrue) {
    if (EqualsNoCase(text, word)) return *value = true, true;
  }
  for (const char* word : kFalse) {
    if (EqualsNoCase(text, word)) return *value = false, true;
  }
  return false;
}

bool ParseInt64(const std::string& text, int64_t* value) {
  if (text.empty()) return false;
  const char* begin = text.c_str();
  bool negative = *begin == '-';
  const char* digits = (*begin == '-' || *begin == '+') ? begin + 1 : begin;
  int radix = 10;
  if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    radix = 16;
    digits += 2;
  }
  // strtoull would accept blanks and a second sign here: insist on a digit.
  bool hexDigit = (*digits >= 'a' && *digits <= 'f') || (*digits >= 'A' && *digits <= 'F');
  if (!(*digits >= '0' && *digits <= '9') && !(radix == 16 && hexDigit)) return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long magnitude = std::strtoull(digits, &end, radix);
  if (*end != '\0' || errno == ERANGE) return false;
  if (negative) {
    if (magnitude > static_cast<unsigned long long>(INT64_MAX) + 1) return false;
    *value = magnitude == static_cast<unsigned long long>(INT64_MAX) + 1
                 ? INT64_MIN
                 : -static_cast<int64_t>(magnitude);
  } else {
    if (magnitude > static_cast<unsigned long long>(INT64_MAX)) return false;
    *value = static_cast<int64_t>(magnitude);
  }
  return true;
}

// strtod follows the C locale's decimal point only when LC_NUMERIC is "C";
// settings files always use ".", so a program that set another locale must
// not read "1.5" as 1.
bool ParseDouble(const std::string& text, double* value) {
  if (text.empty()) return false;
  std::string local = text;
  const char* point = std::localeconv()->decimal_point;
  if (point != nullptr && point[0] != '.' && point[0] != '\0') {
    for (char& c : local) {
      if (c == '.') c = point[0];
    }
  }
  errno = 0;
  char* end = nullptr;
  double parsed = std::strtod(local.c_str(), &end);
  if (end == local.c_str() || *end != '\0' || errno == ERANGE || !std::isfinite(parsed)) {
    return false;
  }
  *value = parsed;
  return true;
}

template <typename T, typename Parse>
Parsed<T> ReadAs(const std::optional<std::string>& text, Parse parse) {
  Parsed<T> result;
  if (!text) return result;
  result.text = *text;
  result.state =
      parse(Strip(*text), &result.value) ? Parsed<T>::State::kPresent : Parsed<T>::State::kInvalid;
  if (!result.has_value()) result.value = T{};
  return result;
}

Status NeedNames(const std::string& section, const std::string& key) {
  if (section.empty()) return Status::Error("no section was named");
  if (key.empty()) return Status::Error("no key was named");
  return Status::Ok();
}

}  // namespace

Settings Settings::ProfileFile(std::string path) {
  return Settings(MakeProfileBackend(std::move(path)));
}

Settings Settings::Registry(std::string location, bool readOnly) {
  return Settings(MakeRegistryBackend(std::move(location), readOnly));
}

Settings::Settings(std::unique_ptr<SettingsBackend> backend) : backend_(std::move(backend)) {}
Settings::Settings(Settings&&) noexcept = default;
Settings& Settings::operator=(Settings&&) noexcept = default;
Settings::~Settings() = default;

std::optional<std::string> Settings::Get(const std::string& section, const std::string& key) const {
  if (section.empty() || key.empty()) return std::nullopt;
  bool exists = false;
  return backend_->Get(section, key, &exists);
}

bool Settings::Contains(const std::string& section, const std::string& key) const {
  if (section.empty() || key.empty()) return false;
  bool exists = false;
  backend_->Get(section, key, &exists);
  return exists;
}

Parsed<bool> Settings::GetBool(const std::string& section, const std::string& key) const {
  return ReadAs<bool>(Get(section, key), ParseBool);
}

Parsed<int64_t> Settings::GetInt64(const std::string& section, const std::string& key) const {
  return ReadAs<int64_t>(Get(section, key), ParseInt64);
}

Parsed<double> Settings::GetDouble(const std::string& section, const std::string& key) const {
  return ReadAs<double>(Get(section, key), ParseDouble);
}

Status Settings::Set(const std::string& section, const std::string& key, const std::string& value) {
  Status names = NeedNames(section, key);
  return names.ok() ? backend_->Set(section, key, value) : names;
}

Status Settings::SetBool(const std::string& section, const std::string& key, bool value) {
  return Set(section, key, value ? "true" : "false");
}

Status Settings::SetInt64(const std::string& section, const std::string& key, int64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRId64, value);
  return Set(section, key, text);
}

Status Settings::SetDouble(const std::string& section, const std::string& key, double value) {
  if (!std::isfinite(value)) return Status::Error("not a finite number");
  // %.17g reads back as the same double; the locale's decimal point is put
  // back to "." so that the file means the same to every reader.
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  const char* point = std::localeconv()->decimal_point;
  if (point != nullptr && point[0] != '.' && point[0] != '\0') {
    for (char* c = text; *c != '\0'; ++c) {
      if (*c == point[0]) *c = '.';
    }
  }
  return Set(section, key, text);
}

Status Settings::Remove(const std::string& section, const std::string& key) {
  Status names = NeedNames(section, key);
  return names.ok() ? backend_->Remove(section, key) : names;
}

Status Settings::RemoveSection(const std::string& section) {
  if (section.empty()) return Status::Error("no section was named");
  return backend_->RemoveSection(section);
}

std::vector<std::string> Settings::Sections() const { return backend_->Sections(); }

std::vector<std::string> Settings::Keys(const std::string& section) const {
  if (section.empty()) return {};
  return backend_->Keys(section);
}

Status Settings::Sync() { return backend_->Sync(); }

void Settings::SetKeepLayout(bool keepLayout) { backend_->SetKeepLayout(keepLayout); }

}  // namespace inireg
