// The inireg command: settings in profile files and the registry from the
// shell, and the registry as .reg files.  Arguments and verbs live here (one
// table of verbs, every step answering an Outcome); the .reg format is
// reg_file, registry trees are registry_tree, locations registry_location,
// status messages registry_status, raw values tool_registry_store, what
// stores show as text is store_text.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "ini_fragment.h"
#include "inireg/profile_store.h"
#include "inireg/registry_store.h"
#include "inireg/version.h"
#include "inireg/win32_registry.h"
#include "library_internals.h"
#include "outcome.h"
#include "output_file.h"
#include "reg_file.h"
#include "registry_location.h"
#include "registry_status.h"
#include "registry_tree.h"
#include "store_text.h"
#include "terminal_text.h"
#include "tool_registry_store.h"

namespace inireg::tool {

namespace {

constexpr int kSuccess = Outcome::kSuccess;
constexpr int kFailure = Outcome::kFailure;

// The overview is kOverviewHead, a line for each verb and kOverviewOptions.
const char kOverviewHead[] =
    "Usage: inireg [OPTIONS] VERB ARGUMENTS...\n"
    "\n"
    "Reads and writes settings in profile (INI) files and in the registry.\n"
    "TARGET is a profile file path, or reg: and a registry location such as\n"
    "reg:CU\\Software\\Example (roots CU, LM, CR, US, CC, or HKCU, HKEY_CURRENT_USER, ...).\n"
    "\n"
    "Verbs:\n";
// After the verbs, which come from the verb table.
const char kOverviewOptions[] =
    "\n"
    "Options (--opt VALUE and --opt=VALUE are the same):\n"
    "  --default TEXT   get: print TEXT when there is no such value\n"
    "  --int, --hex     get: read the value as a decimal or hexadecimal number;\n"
    "                   set --int: VALUE must be a decimal 32-bit number\n"
    "  --existing       set: refuse (exit 2) when the section or key does not exist\n"
    "  --rewrite        set, delete, merge: write a profile file whole instead of\n"
    "                   changing only its own lines (comments, blank lines and\n"
    "                   line ends are then dropped)\n"
    "  --type TYPE      set: the registry type, one of sz, expand_sz, multi_sz, dword,\n"
    "                   qword, binary (default sz); --dword is --type=dword\n"
    "  --format FORMAT  get, keys, sections, dump: ini, sh or lines\n"
    "  --utf8, --utf16  export: UTF-8, or UTF-16LE with a byte-order mark (the default)\n"
    "  --force          export: replace an existing FILE\n"
    "  --read-only      open registry targets read-only, so that writes are refused\n"
    "  --registry FILE  the registry database (Linux; default $INIREG_REGISTRY,\n"
    "                   else ~/.config/inireg/registry.db)\n"
    "  --version        print the version\n"
    "  --help, -h       this text; \"inireg VERB --help\" describes a verb\n"
    "\n"
    "Profile files keep their layout: a write changes only the lines of what it\n"
    "changes, and comments, blank lines, spacing and line ends stay as they are.\n"
    "\n"
    "Exit status: 0 success; 1 nothing found (get without --default, or a listing of a\n"
    "missing file, section or location); 2 usage error, refused write or failure,\n"
    "with a message on standard error.\n";

enum class Format { kDefault, kIni, kShell, kLines };

struct Invocation {
  std::string verb;
  std::vector<std::string> arguments;
  bool readOnly = false;
  bool asInt = false;
  bool asHex = false;
  bool asDword = false;
  bool utf8 = false;
  bool utf16 = false;
  bool force = false;
  bool rewrite = false;   // Profile writes render the whole file instead of editing its lines.
  bool existing = false;  // set changes only what is already there.
  Format format = Format::kDefault;
  std::optional<std::string> defaultText;
  std::optional<std::string> registry;
  std::optional<DWORD> type;
};

// One verb: what the overview, its own help, argument checks and dispatch
// know of it.
struct Verb {
  const char* name;
  const char* arguments;       // "TARGET SECTION KEY".
  const char* optionSynopsis;  // Its options as its usage line shows them.
  const char* summary;         // The overview's line (more lines after "\n").
  const char* help;
  const char* options;  // The options it takes besides --registry and --help, space-separated.
  size_t minArguments;
  size_t maxArguments;
  Outcome (*run)(const Invocation&);
};

// --- Messages and output -----------------------------------------------------

// Prints the outcome's line, if any, and gives its exit status.  Messages
// quote names and values from files and the registry, so whatever they hold
// is escaped before it reaches the terminal.
int Report(const Outcome& outcome) {
  if (!outcome.message().empty())
    std::fprintf(stderr, "inireg: %s\n", Printable(outcome.message()).c_str());
  return outcome.status();
}

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// --- Targets -------------------------------------------------------------------

struct Target {
  bool registry = false;
  bool exists = true;  // A profile file, or the registry location key.
  std::string path;    // The profile file.
  RegRoot root = RegRoot::kCurrentUser;
  std::string subkey;

  std::string Name() const { return registry ? RegKeyPath(root, subkey) : path; }
  std::string Location() const { return FormatRegistryLocation(root, subkey); }
};

Outcome ParseTarget(const Invocation& in, const std::string& text, Target* target) {
  if (text.compare(0, 4, "reg:") == 0) {
    target->registry = true;
    std::string error;
    if (!ParseLocation(text.substr(4), &target->root, &target->subkey, &error)) {
      return Outcome::UsageError(in.verb, error);
    }
    return Outcome::Success();
  }
  if (text.empty()) {
    return Outcome::UsageError(in.verb,
                               "TARGET is empty; expected a profile file path or reg:LOCATION");
  }
  target->path = text;
  return Outcome::Success();
}

// --- Numbers -------------------------------------------------------------------

bool ParseInt32(const std::string& text, int32_t* value) {
  size_t i = text.size() > 0 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i == text.size() || text.size() - i > 10) return false;
  long long number = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    number = number * 10 + (text[i] - '0');
  }
  if (text[0] == '-') number = -number;
  if (number < INT32_MIN || number > INT32_MAX) return false;
  *value = static_cast<int32_t>(number);
  return true;
}

// Decimal, or hexadecimal after "0x" (always with `hexOnly`, where "0x" is
// optional), of at most `bits` bits.
bool ParseUnsigned(const std::string& text, int bits, bool hexOnly, uint64_t* value) {
  bool prefixed = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  bool hex = hexOnly || prefixed;
  size_t i = prefixed ? 2 : 0;
  if (i == text.size() || text.size() - i > (hex ? 16u : 20u)) return false;
  uint64_t limit = bits == 64 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
  uint64_t number = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit = c >= '0' && c <= '9'          ? c - '0'
                : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : -1;
    if (digit < 0) return false;
    uint64_t base = hex ? 16 : 10;
    if (number > (limit - static_cast<uint64_t>(digit)) / base) return false;
    number = number * base + static_cast<uint64_t>(digit);
  }
  *value = number;
  return true;
}

std::string LittleEndianBytes(uint64_t number, int bytes) {
  std::string data;
  for (int i = 0; i < bytes; ++i) data += static_cast<char>(number >> (8 * i));
  return data;
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case REG_QWORD:
      return "REG_QWORD";
    default:
      return "a type of its own";
  }
}

struct TypeOption {
  const char* name;
  DWORD type;
};
const TypeOption kTypes[] = {
    {"sz", REG_SZ},       {"expand_sz", REG_EXPAND_SZ}, {"multi_sz", REG_MULTI_SZ},
    {"dword", REG_DWORD}, {"qword", REG_QWORD},         {"binary", REG_BINARY}};

bool ParseType(std::string text, DWORD* type) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (text.compare(0, 4, "reg_") == 0) text.erase(0, 4);
  for (const TypeOption& option : kTypes) {
    if (text == option.name) {
      *type = option.type;
      return true;
    }
  }
  return false;
}

// The bytes `set` stores for VALUE as `type`, as reg add stores them: text
// with its terminating NUL, a list of strings (one a line of VALUE) each with
// its NUL and one more at the end, numbers little-endian, binary from hex
// digits.
Outcome EncodeTypedValue(const Invocation& in, DWORD type, const std::string& value,
                         std::string* data) {
  uint64_t number = 0;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      if (value.find('\0') != std::string::npos) {
        return Outcome::UsageError(in.verb,
                                   "VALUE holds a NUL character, which would end the text");
      }
      *data = value + '\0';
      return Outcome::Success();
    case REG_MULTI_SZ:
      data->clear();
      for (size_t start = 0; start < value.size();) {
        size_t end = value.find('\n', start);
        if (end == std::string::npos) end = value.size();
        if (end == start) {
          return Outcome::UsageError(in.verb,
                                     "VALUE has an empty line; a REG_MULTI_SZ list (one string a "
                                     "line) cannot hold an empty string");
        }
        *data += value.substr(start, end - start) + '\0';
        start = end + 1;
      }
      *data += '\0';
      return Outcome::Success();
    case REG_DWORD:
    case REG_QWORD: {
      bool dword = type == REG_DWORD;
      if (!ParseUnsigned(value, dword ? 32 : 64, false, &number)) {
        return Outcome::UsageError(
            in.verb, "VALUE " + Quoted(value) + " is not a number from 0 to " +
                         (dword ? "4294967295" : "18446744073709551615") +
                         " (decimal or 0x hex), which --type=" + (dword ? "dword" : "qword") +
                         " needs");
      }
      *data = LittleEndianBytes(number, dword ? 4 : 8);
      return Outcome::Success();
    }
    case REG_BINARY: {
      std::string digits;
      for (char c : value) {
        if (c != ',' && c != ' ') digits += c;
      }
      data->clear();
      for (size_t i = 0; i < digits.size(); i += 2) {
        uint64_t byte = 0;
        if (i + 2 > digits.size() || !ParseUnsigned(digits.substr(i, 2), 8, true, &byte)) {
          return Outcome::UsageError(in.verb,
                                     "VALUE " + Quoted(value) +
                                         " is not a list of bytes as hex digit pairs (010203ff or "
                                         "01,02,03,ff), which --type=binary needs");
        }
        *data += static_cast<char>(byte);
      }
      return Outcome::Success();
    }
    default:
      return Outcome::UsageError(in.verb, "unknown type");
  }
}

// --- Verbs ---------------------------------------------------------------------

Outcome CheckNames(const Invocation& in, const std::string& section, const std::string* key) {
  if (section.empty())
    return Outcome::UsageError(in.verb, "SECTION is empty; expected a section name");
  if (key != nullptr && key->empty()) {
    return Outcome::UsageError(
        in.verb,
        "KEY is empty; expected a key name ((Default) for a registry key's unnamed value)");
  }
  return Outcome::Success();
}

// The stores answer defaults when they cannot read, which would look like an
// empty store; so a file that exists but cannot be read, or a registry that
// cannot be opened, is reported before the store is used.  Whether the file
// or the location key exists is noted for the listing verbs.
Outcome ResolveTarget(const Invocation& in, Target* target) {
  if (Outcome parsed = ParseTarget(in, in.arguments[0], target); !parsed.ok()) return parsed;
  if (target->registry) {
    if (LONG result = CheckRegistry(target->root)) {
      return Outcome::Failure(in.verb + ": cannot use the registry: " + RegistryFailure(result));
    }
    KeyHandle key;
    target->exists = RegOpenKeyExA(RootKey(target->root), target->subkey.c_str(), 0, KEY_READ,
                                   key.out()) == ERROR_SUCCESS;
    return Outcome::Success();
  }
  std::FILE* file = std::fopen(target->path.c_str(), "rb");
  if (file == nullptr && errno == ENOENT) {
    target->exists = false;  // A missing file is an empty store.
    return Outcome::Success();
  }
  int reason = errno;
  if (file != nullptr) {
    char byte;
    reason = std::fread(&byte, 1, 1, file) == 0 && std::ferror(file) != 0 ? errno : 0;
    std::fclose(file);
  }
  if (reason != 0)
    return Outcome::Failure(in.verb + ": cannot read " + target->path + ": " +
                            std::strerror(reason));
  return Outcome::Success();
}

// Listing verbs report a missing file or location: an empty listing would
// hide a mistyped name.
Outcome CheckExists(const Invocation& in, const Target& target) {
  if (target.exists) return Outcome::Success();
  return Outcome::NotFound(in.verb + ": " +
                           (target.registry ? "there is no key " : "there is no file ") +
                           target.Name());
}

// Reading needs no write access, so registry targets open read-only.
std::unique_ptr<ProfileStore> OpenForReading(const Target& target) {
  if (target.registry) return std::make_unique<ToolRegistryStore>(target.Location(), 1, 0);
  return std::make_unique<ProfileStore>(target.path);
}

// Profile writes edit only the file's own lines that change, unless
// --rewrite asks for the whole-file form.
std::unique_ptr<ProfileStore> OpenProfileForWriting(const Invocation& in, const Target& target) {
  auto store = std::make_unique<ProfileStore>(target.path);
  store->SetKeepLayout(!in.rewrite);
  return store;
}

// Writes the store's changes to disk now.  A failed write-back would be
// retried when the store closes, which could land the change after the
// command reported that it did not; so the changes are dropped instead, and
// the file stays as it was; the failure says so after `consequence`.
Outcome SyncProfile(const Invocation& in, ProfileStore& store, const Target& target,
                    const char* consequence) {
  Status synced = store.Sync();
  if (synced.ok()) return Outcome::Success();
  ProfileDiscard(target.path.c_str());
  return Outcome::Failure(in.verb + ": could not write " + target.path + " back (" +
                          synced.message() + "); " + consequence);
}

// --rewrite is about profile files' layout; on a registry target it would
// mean nothing, so it is refused rather than ignored.
Outcome CheckRewrite(const Invocation& in, const Target& target) {
  if (!in.rewrite || !target.registry) return Outcome::Success();
  return Outcome::UsageError(in.verb,
                             "--rewrite is for profile files; the registry has no layout to keep");
}

bool HasSection(ProfileStore& store, const std::string& section) {
  NameList sections = SectionNames(store);
  for (int32_t i = 0; i < sections.count; ++i) {
    if (CompareNoCase(sections.names[i].c_str(), section.c_str()) == 0) return true;
  }
  return false;
}

std::vector<SectionView> View(ProfileStore& store, const Target& target,
                              const std::string* section) {
  if (target.registry) return ViewRegistry(static_cast<ToolRegistryStore&>(store), section);
  return ViewProfile(store, section);
}

Outcome RunGet(const Invocation& in) {
  const std::string& section = in.arguments[1];
  const std::string& key = in.arguments[2];
  Target target;
  if (Outcome checked = ResolveTarget(in, &target); !checked.ok()) return checked;
  if (Outcome checked = CheckNames(in, section, &key); !checked.ok()) return checked;
  if (in.asInt && in.asHex)
    return Outcome::UsageError(in.verb, "--int and --hex exclude each other");
  bool numeric = in.asInt || in.asHex;
  int32_t defaultNumber = 0;
  if (in.defaultText && numeric && !ParseInt32(*in.defaultText, &defaultNumber)) {
    return Outcome::UsageError(in.verb,
                               "--default " + Quoted(*in.defaultText) +
                                   " is not a decimal 32-bit number, which --int and --hex print");
  }
  if (target.registry && in.asHex) {
    return Outcome::UsageError(
        in.verb, "--hex reads profile files only; a registry DWORD is read with --int");
  }
  std::string where = Quoted(key) + " in section " + Quoted(section) + " of " + target.Name();

  std::string text;
  std::string iniValue;
  bool found = false;
  DWORD type = REG_SZ;
  bool plain = true;
  std::string notation;
  if (target.registry) {
    ToolRegistryStore store(target.Location(), 1, 0);
    RegistryValueText value;
    found = ReadRegistryValue(store, section, key, &value);
    text = value.text;
    type = value.type;
    plain = value.plain;
    notation = value.notation;
    if (found && in.asInt && type == REG_DWORD && value.data.size() == 4) {
      uint32_t number = 0;
      for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(value.data[i]);
      text = std::to_string(static_cast<int32_t>(number));
    } else if (found && in.asInt && type != REG_SZ && type != REG_EXPAND_SZ) {
      return Outcome::Failure(
          "get: the value " + where + " is " + TypeName(type) +
          ", not text or a REG_DWORD, which --int reads; without --int it shows as " + text);
    }
  } else {
    ProfileStore store(target.path);
    found = ReadProfileString(store, section, key, &text);
  }
  if (!found) {
    if (!in.defaultText) {
      return Outcome::NotFound("get: no value " + where + " (--default TEXT prints TEXT instead)");
    }
    text = numeric ? std::to_string(defaultNumber) : *in.defaultText;
    plain = true;
  } else if (in.asInt && !(target.registry && type == REG_DWORD)) {
    int32_t number = 0;
    if (!ParseInt32(text, &number)) {
      return Outcome::Failure(
          "get: the value " + where + " is " + Quoted(text) +
          ", not a decimal number from -2147483648 to 2147483647, which --int reads");
    }
    text = std::to_string(number);
  } else if (in.asHex) {
    uint64_t number = 0;
    if (!ParseUnsigned(text, 32, true, &number)) {
      return Outcome::Failure("get: the value " + where + " is " + Quoted(text) +
                              ", not a hexadecimal number from 0 to ffffffff, which --hex reads");
    }
    text = std::to_string(static_cast<int32_t>(static_cast<uint32_t>(number)));
  }
  iniValue = plain || numeric ? ValueAsWritten(text) : notation;
  switch (in.format) {
    case Format::kIni:
      Print(FormatIni(SingleEntryView(section, key, text, iniValue)));
      break;
    case Format::kShell:
      Print(FormatShell(SingleEntryView(section, key, text, iniValue), false));
      break;
    default:
      Print(text + "\n");
      break;
  }
  return Outcome::Success();
}

Outcome RunSet(const Invocation& in) {
  const std::string& section = in.arguments[1];
  const std::string& key = in.arguments[2];
  const std::string& value = in.arguments[3];
  Target target;
  if (Outcome checked = ResolveTarget(in, &target); !checked.ok()) return checked;
  if (Outcome checked = CheckNames(in, section, &key); !checked.ok()) return checked;
  std::optional<DWORD> type = in.type;
  if (in.asDword) {
    if (type && *type != REG_DWORD)
      return Outcome::UsageError(in.verb, "--dword and --type name different types");
    type = REG_DWORD;
  }
  if (in.asInt && type)
    return Outcome::UsageError(in.verb, "--int writes text; it excludes --type and --dword");
  int32_t number = 0;
  if (in.asInt && !ParseInt32(value, &number)) {
    return Outcome::UsageError(in.verb,
                               "VALUE " + Quoted(value) +
                                   " is not a decimal number from -2147483648 to 2147483647, "
                                   "which --int needs");
  }
  std::string where = Quoted(key) + " in section " + Quoted(section) + " of " + target.Name();

  if (Outcome checked = CheckRewrite(in, target); !checked.ok()) return checked;
  if (in.existing) {
    std::unique_ptr<ProfileStore> store = OpenForReading(target);
    bool hasKey = false;
    if (target.registry) {
      RegistryValueText current;
      hasKey = ReadRegistryValue(static_cast<ToolRegistryStore&>(*store), section, key, &current);
    } else {
      std::string current;
      hasKey = ReadProfileString(*store, section, key, &current);
    }
    if (!hasKey) {
      std::string missing = HasSection(*store, section)
                                ? "no key " + Quoted(key) + " in section " + Quoted(section)
                                : "no section " + Quoted(section);
      return Outcome::Failure("set: refused to write " + where +
                              ": --existing was given and there is " + missing);
    }
  }

  if (target.registry) {
    DWORD written = type.value_or(REG_SZ);
    std::string data;
    Outcome encoded =
        EncodeTypedValue(in, written, in.asInt ? std::to_string(number) : value, &data);
    if (!encoded.ok()) return encoded;
    if (in.readOnly)
      return Outcome::Failure("set: refused to write " + where + ": --read-only was given");
    ToolRegistryStore store(target.Location(), 0, 0);
    if (!store.WriteRaw(key, section, written, data)) {
      return Outcome::Failure("set: the registry refused to write " + where);
    }
    return Outcome::Success();
  }

  if (type && *type != REG_SZ) {
    return Outcome::UsageError(
        in.verb, "profile files hold text; --type and --dword other than sz are for the registry");
  }
  if (in.readOnly)
    return Outcome::Failure("set: refused to write " + where + ": --read-only was given");
  std::unique_ptr<ProfileStore> store = OpenProfileForWriting(in, target);
  // The reader trims blanks around a value and one pair of enclosing quotes,
  // so such values are written inside quotes to come back as given.
  int32_t written =
      store->SetString(in.asInt ? std::to_string(number) : ValueAsWritten(value), key, section);
  if (written == 0) {
    return Outcome::Failure(
        "set: refused to write " + where +
        ": the file cannot hold it (a key with \"=\" or a line break or starting with \"[\", "
        "a value with a line break, a line over 32767 characters) or cannot be read");
  }
  return SyncProfile(in, *store, target, "the change is not on disk");
}

// One key of a profile file: the first entry of that name in the first
// section of that name, as get reads it.
Outcome DeleteProfileKey(const Invocation& in, const Target& target, const std::string& section,
                         const std::string& key, const std::string& where) {
  std::unique_ptr<ProfileStore> store = OpenProfileForWriting(in, target);
  std::string current;
  if (!ReadProfileString(*store, section, key, &current)) {
    return Outcome::Notice("delete: no " + where + "; nothing to delete");
  }
  if (store->DeleteKey(key, section) == 0) {
    return Outcome::Failure("delete: refused to delete " + where + ": the file cannot be read");
  }
  return SyncProfile(in, *store, target, "the key is still on disk");
}

Outcome RunDelete(const Invocation& in) {
  const std::string& section = in.arguments[1];
  const std::string* key = in.arguments.size() > 2 ? &in.arguments[2] : nullptr;
  Target target;
  if (Outcome checked = ResolveTarget(in, &target); !checked.ok()) return checked;
  if (Outcome checked = CheckNames(in, section, key); !checked.ok()) return checked;
  if (Outcome checked = CheckRewrite(in, target); !checked.ok()) return checked;
  std::string where = key != nullptr ? (target.registry ? "value " : "key ") + Quoted(*key) +
                                           " in section " + Quoted(section) + " of " + target.Name()
                                     : "section " + Quoted(section) + " of " + target.Name();
  if (in.readOnly)
    return Outcome::Failure("delete: refused to delete " + where + ": --read-only was given");

  if (target.registry) {
    ToolRegistryStore store(target.Location(), 0, 0);
    LONG result = key != nullptr ? store.DeleteValue(section, *key) : store.DeleteSection(section);
    if (result == ERROR_FILE_NOT_FOUND)
      return Outcome::Notice("delete: no " + where + "; nothing to delete");
    if (result != ERROR_SUCCESS) {
      return Outcome::Failure("delete: could not delete " + where + ": " + DescribeStatus(result));
    }
    return Outcome::Success();
  }

  if (key != nullptr) return DeleteProfileKey(in, target, section, *key, where);
  std::unique_ptr<ProfileStore> store = OpenProfileForWriting(in, target);
  int32_t before = SectionNames(*store).count;
  // With no current key, SetString deletes the first section of the name.
  if (store->SetString("", "", section) == 0) {
    return Outcome::Failure("delete: refused to delete " + where + ": the file cannot be read");
  }
  if (SectionNames(*store).count == before) {
    return Outcome::Notice("delete: no " + where + "; nothing to delete");
  }
  return SyncProfile(in, *store, target, "the section is still on disk");
}

Outcome RunSections(const Invocation& in) {
  Target target;
  if (Outcome checked = ResolveTarget(in, &target); !checked.ok()) return checked;
  if (Outcome checked = CheckExists(in, target); !checked.ok()) return checked;
  std::unique_ptr<ProfileStore> store = OpenForReading(target);
  NameList sections = SectionNames(*store);
  std::string out;
  for (int32_t i = 0; i < sections.count; ++i) {
    const std::string& name = sections.names[i];
    switch (in.format) {
      case Format::kIni:
        out += name.empty() || name.find_first_of("\r\n") != std::string::npos
                   ? CommentLine("section \"" + name + "\" is left out (INI cannot carry its name)")
                   : "[" + name + "]\n";
        break;
      case Format::kShell:
        out += ShellQuote(name) + "\n";
        break;
      default:
        out += name + "\n";
        break;
    }
  }
  Print(out);
  return Outcome::Success();
}

Outcome RunKeys(const Invocation& in) {
  const std::string& section = in.arguments[1];
  Target target;
  if (Outcome checked = ResolveTarget(in, &target); !checked.ok()) return checked;
  if (Outcome checked = CheckNames(in, section, nullptr); !checked.ok()) return checked;
  if (Outcome checked = CheckExists(in, target); !checked.ok()) return checked;
  std::unique_ptr<ProfileStore> store = OpenForReading(target);
  std::vector<SectionView> view = View(*store, target, &section);
  if (view.empty()) {
    return Outcome::NotFound("keys: no section " + Quoted(section) + " in " + target.Name());
  }
  switch (in.format) {
    case Format::kIni:
      Print(FormatIni(view));
      break;
    case Format::kShell:
      Print(FormatShell(view, false));
      break;
    default:
      for (const EntryView& entry : view[0].entries) Print(entry.key + "\n");
      break;
  }
  return Outcome::Success();
}

Outcome RunDump(const Invocation& in) {
  Target target;
  if (Outcome checked = ResolveTarget(in, &target); !checked.ok()) return checked;
  if (Outcome checked = CheckExists(in, target); !checked.ok()) return checked;
  std::unique_ptr<ProfileStore> store = OpenForReading(target);
  std::vector<SectionView> view = View(*store, target, nullptr);
  switch (in.format) {
    case Format::kShell:
      Print(FormatShell(view, true));
      break;
    case Format::kLines:
      Print(FormatEntryLines(view));
      break;
    default:
      Print(FormatIni(view));
      break;
  }
  return Outcome::Success();
}

#ifdef _WIN32
void SetBinary(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }
#else
void SetBinary(std::FILE*) {}
#endif

Outcome ReadAll(const Invocation& in, const std::string& path, std::string* content) {
  bool standardInput = path == "-";
  std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    return Outcome::Failure(in.verb + ": cannot open " + path + ": " + std::strerror(errno));
  if (standardInput) SetBinary(stdin);
  char buffer[65536];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) content->append(buffer, count);
  bool failed = std::ferror(file) != 0;
  if (!standardInput) std::fclose(file);
  if (failed) return Outcome::Failure(in.verb + ": cannot read " + path);
  return Outcome::Success();
}

Outcome RunExport(const Invocation& in) {
  if (in.utf8 && in.utf16)
    return Outcome::UsageError(in.verb, "--utf8 and --utf16 exclude each other");
  std::string location = in.arguments[0];
  if (location.compare(0, 4, "reg:") == 0) location.erase(0, 4);
  RegRoot root;
  std::string subkey, error;
  if (!ParseLocation(location, &root, &subkey, &error)) return Outcome::UsageError(in.verb, error);
  std::string path = in.arguments.size() > 1 ? in.arguments[1] : "-";
  if (path.empty())
    return Outcome::UsageError(in.verb,
                               "FILE is empty; expected a file name or - for standard output");
  RegDocument document;
  LONG status = ReadKeyTree(root, subkey, &document);
  std::string name = RegKeyPath(root, subkey);
  if (status == ERROR_FILE_NOT_FOUND) return Outcome::Failure("export: there is no key " + name);
  if (status != ERROR_SUCCESS) {
    return Outcome::Failure("export: could not read " + name + ": " + DescribeStatus(status));
  }
  std::string content;
  if (!FormatRegFile(document, in.utf8 ? RegEncoding::kUtf8 : RegEncoding::kUtf16, &content,
                     &error)) {
    return Outcome::Failure("export: " + error + "; nothing was written");
  }
  if (path == "-") {
    SetBinary(stdout);
    Print(content);  // Checked with all other output at exit.
    return Outcome::Success();
  }
  switch (WriteWholeFile(path, content, in.force, &error)) {
    case WriteOutcome::kWritten:
      return Outcome::Success();
    case WriteOutcome::kExists:
      return Outcome::Failure("export: " + path + " exists; --force replaces it");
    default:
      return Outcome::Failure("export: " + error);
  }
}

Outcome RunImport(const Invocation& in) {
  const std::string& path = in.arguments[0];
  if (in.readOnly)
    return Outcome::Failure("import: refused to import " + path + ": --read-only was given");
  std::string content;
  if (Outcome read = ReadAll(in, path, &content); !read.ok()) return read;
  if (LONG result = CheckRegistry(RegRoot::kCurrentUser)) {
    return Outcome::Failure("import: cannot use the registry: " + RegistryFailure(result) +
                            "; nothing was imported");
  }
  RegDocument document;
  RegParseError parseError;
  if (!ParseRegFile(content, &document, &parseError)) {
    std::string where =
        parseError.line > 0 ? path + " line " + std::to_string(parseError.line) : path;
    return Outcome::Failure("import: " + where + ": " + parseError.message +
                            "; nothing was imported");
  }
  int line = 0;
  LONG status = ApplyRegDocument(document, &line);
  if (status != ERROR_SUCCESS) {
    return Outcome::Failure("import: " + path + " line " + std::to_string(line) +
                            ": the registry refused it (" + DescribeStatus(status) +
                            "); the lines before it were applied");
  }
  return Outcome::Success();
}

// Applies an INI fragment: to a profile file through one store and one
// write-back, so that the file holds all of it or none of it; to the
// registry value by value, as set writes them.
Outcome RunMerge(const Invocation& in) {
  Target target;
  if (Outcome checked = ResolveTarget(in, &target); !checked.ok()) return checked;
  if (Outcome checked = CheckRewrite(in, target); !checked.ok()) return checked;
  std::string path = in.arguments.size() > 1 ? in.arguments[1] : "-";
  if (path.empty())
    return Outcome::UsageError(in.verb,
                               "FILE is empty; expected a file name or - for standard input");
  std::string source = path == "-" ? "standard input" : path;
  if (in.readOnly)
    return Outcome::Failure("merge: refused to write " + target.Name() + ": --read-only was given");
  std::string content, error;
  if (Outcome read = ReadAll(in, path, &content); !read.ok()) return read;
  std::vector<FragmentSection> sections;
  int line = 0;
  if (!ParseIniFragment(content, &sections, &line, &error)) {
    std::string at = line > 0 ? source + " line " + std::to_string(line) : source;
    return Outcome::Failure("merge: " + at + ": " + error + "; nothing was written");
  }

  if (target.registry) {
    ToolRegistryStore store(target.Location(), 0, 0);
    for (const FragmentSection& section : sections) {
      for (const FragmentEntry& entry : section.entries) {
        if (!store.WriteRaw(entry.key, section.name, REG_SZ, entry.value + '\0')) {
          return Outcome::Failure("merge: " + source + " line " + std::to_string(entry.line) +
                                  ": the registry refused to write " + Quoted(entry.key) +
                                  " in section " + Quoted(section.name) + " of " + target.Name() +
                                  "; the lines before it were applied");
        }
      }
    }
    return Outcome::Success();
  }

  std::unique_ptr<ProfileStore> store = OpenProfileForWriting(in, target);
  bool changed = false;
  for (const FragmentSection& section : sections) {
    for (const FragmentEntry& entry : section.entries) {
      // The store takes off one enclosing pair of quotes and remembers it,
      // as the reader did.
      std::string value = entry.quoted ? "\"" + entry.value + "\"" : entry.value;
      if (store->SetString(value, entry.key, section.name) == 0) {
        ProfileDiscard(target.path.c_str());
        return Outcome::Failure("merge: " + source + " line " + std::to_string(entry.line) +
                                ": refused to write " + Quoted(entry.key) + " in section " +
                                Quoted(section.name) + " of " + target.path +
                                " (the file cannot be read); nothing was written");
      }
      changed = true;
    }
  }
  if (!changed) return Outcome::Success();
  return SyncProfile(in, *store, target, "nothing was written");
}

const Verb kVerbs[] = {
    {"get", "TARGET SECTION KEY", "[--default TEXT] [--int | --hex] [--format FORMAT]",
     "print a value",
     "Prints the value of KEY in SECTION and a newline.\n"
     "  --default TEXT  print TEXT when there is no such value (exit status 0)\n"
     "  --int           read the value as a decimal 32-bit number (registry: text or REG_DWORD);\n"
     "                  text that is no such number is refused with exit status 2\n"
     "  --hex           read the value as a hexadecimal number of up to 8 digits\n"
     "                  (profile files only), printed in decimal\n"
     "  --format FORMAT lines (the default: the value alone), ini ([SECTION] and\n"
     "                  KEY=VALUE) or sh (KEY='VALUE' for eval)\n"
     "Registry values: REG_SZ and REG_EXPAND_SZ print as text, REG_DWORD and REG_QWORD\n"
     "as numbers, REG_MULTI_SZ as its strings one a line, other types in the .reg\n"
     "notation (hex:01,02).  KEY (Default) is the unnamed value.\n"
     "Exit status 1 when there is no such value and no --default was given.\n",
     "--default --int --hex --format --read-only", 3, 3, RunGet},
    {"set", "TARGET SECTION KEY VALUE", "[--int | --type TYPE] [--existing] [--rewrite]",
     "write a value",
     "Writes VALUE to KEY in SECTION, creating both as needed.  A value with blanks\n"
     "around it or enclosing quotes is written inside quotes so that it reads back as given.\n"
     "  --int        VALUE must be a decimal 32-bit number (stored as text)\n"
     "  --type TYPE  the registry type: sz (the default; text with its terminating NUL,\n"
     "               as reg add writes it), expand_sz, multi_sz (one string a line of\n"
     "               VALUE), dword, qword (decimal or 0x hex), binary (hex digit pairs,\n"
     "               commas allowed)\n"
     "  --dword      the same as --type=dword\n"
     "  --existing   refuse the write when SECTION or KEY does not exist yet\n"
     "  --rewrite    profile files: write the whole file in the plain form\n"
     "               instead of changing only the key's own line\n"
     "Exit status 2 when the write is refused (with --existing: no such section or key).\n",
     "--int --dword --type --existing --rewrite --read-only", 4, 4, RunSet},
    {"delete", "TARGET SECTION [KEY]", "[--rewrite]",
     "delete a section (registry: its key and all below)\nor one key (registry: one value)",
     "Deletes the section with its keys, or with KEY only that key.  In a profile\n"
     "file the section's lines go from its header to the next header, a key its own\n"
     "line (the first key of that name, as get reads it).  In the registry the section\n"
     "is a subkey of the location: it is deleted with its values and every key below\n"
     "it; KEY deletes one value ((Default): the unnamed value).\n"
     "  --rewrite  profile files: write the whole file in the plain form\n"
     "A section or key that does not exist is reported and is not an error.\n",
     "--rewrite --read-only", 2, 3, RunDelete},
    {"merge", "TARGET [FILE]", "[--rewrite]",
     "apply an INI fragment (- or no FILE: standard input)",
     "Applies an INI fragment, [SECTION] headers and KEY=VALUE lines read as a\n"
     "profile file is read, from FILE (standard input when absent or -): every entry\n"
     "is set as set sets it.  A profile file is written back once, with all of the\n"
     "fragment or (exit status 2) none of it.  In the registry each value is written\n"
     "as REG_SZ with its terminating NUL, in order.  Blank lines and lines starting\n"
     "with ; or # are skipped; a fragment with a line that would be lost or misread\n"
     "(an entry before the first header or without a key, a line that is no entry, a\n"
     "; or # line holding =, a line the file cannot carry) is refused with its line\n"
     "number and nothing is written.  A header without entries adds nothing.\n"
     "  --rewrite  profile files: write the whole file in the plain form\n",
     "--rewrite --read-only", 1, 2, RunMerge},
    {"sections", "TARGET", "[--format FORMAT]", "list the sections",
     "Lists the section names, one a line; --format ini prints them as [NAME] lines,\n"
     "--format sh as single-quoted shell words.\n"
     "Exit status 1 when the file or the registry location does not exist.\n",
     "--format --read-only", 1, 1, RunSections},
    {"keys", "TARGET SECTION", "[--format FORMAT]", "list the keys of a section",
     "Lists the key names of SECTION, one a line ((Default) for a registry key's\n"
     "unnamed value); --format ini prints the section as INI text, --format sh its\n"
     "keys and values as KEY='VALUE' lines for eval.\n"
     "Exit status 1 when the file, the location or the section does not exist.\n",
     "--format --read-only", 2, 2, RunKeys},
    {"dump", "TARGET", "[--format FORMAT]", "print the whole store as INI text",
     "Prints every section and its keys as INI text that reads back as the same\n"
     "sections and keys.  For the registry these are the location's direct subkeys and\n"
     "their values, shown as get shows them; values INI cannot hold on one line (line\n"
     "breaks, REG_MULTI_SZ, binary types) in the .reg notation of their data, and names\n"
     "it cannot hold as ; comment lines.  --format lines prints [SECTION] KEY=VALUE\n"
     "lines, --format sh SECTION_KEY='VALUE' lines for eval.\n"
     "Exit status 1 when the file or the registry location does not exist.\n",
     "--format --read-only", 1, 1, RunDump},
    {"export", "LOCATION [FILE]", "[--utf8] [--force]", "write a registry key tree as a .reg file",
     "Writes the registry key LOCATION (CU\\Software\\Example, HKCU\\Software\\Example or\n"
     "HKEY_CURRENT_USER\\Software\\Example) and all keys below it to FILE (standard\n"
     "output when absent or -) in the .reg format of the registry editor: \"Windows\n"
     "Registry Editor Version 5.00\", UTF-16LE with a byte-order mark, or UTF-8 with\n"
     "--utf8.  Importing the file into an empty registry gives back the same keys,\n"
     "values, types and bytes.  The file is written whole to a temporary file and\n"
     "then moved into place; an existing FILE is replaced only with --force.\n",
     "--utf8 --utf16 --force", 1, 2, RunExport},
    {"import", "FILE", "", "apply a .reg file to the registry (- reads standard input)",
     "Applies a .reg file (Version 5.00 or REGEDIT4; UTF-16LE with a byte-order mark,\n"
     "UTF-8 or 8-bit) to the registry; FILE - reads standard input.  The whole file is\n"
     "checked first: a malformed line is reported with its number and nothing is written.\n",
     "--read-only", 1, 1, RunImport},
};

const Verb* FindVerb(const std::string& name) {
  for (const Verb& verb : kVerbs) {
    if (name == verb.name) return &verb;
  }
  return nullptr;
}

bool Takes(const Verb& verb, const std::string& option) {
  std::string list = std::string(" ") + verb.options + " ";
  return list.find(" " + option + " ") != std::string::npos;
}

// "get TARGET SECTION KEY".
std::string Synopsis(const Verb& verb) { return std::string(verb.name) + " " + verb.arguments; }

// "inireg get TARGET SECTION KEY [--default TEXT] ...".
std::string Usage(const Verb& verb) {
  std::string usage = "inireg " + Synopsis(verb);
  if (*verb.optionSynopsis != '\0') usage += std::string(" ") + verb.optionSynopsis;
  return usage;
}

void PrintVerbHelp(const Verb& verb) {
  std::printf(
      "Usage: %s\n\n%s\nTARGET is a profile file path or reg:LOCATION; see inireg --help.\n",
      Usage(verb).c_str(), verb.help);
}

std::string Overview() {
  // The summaries start in this column, their further lines too.
  constexpr size_t kSummaryColumn = 31;
  std::string text = kOverviewHead;
  for (const Verb& verb : kVerbs) {
    std::string line = "  " + Synopsis(verb);
    if (line.size() < kSummaryColumn - 1) line.resize(kSummaryColumn - 1, ' ');
    text += line + " ";
    for (const char* c = verb.summary; *c != '\0'; ++c) {
      text += *c;
      if (*c == '\n') text += std::string(kSummaryColumn, ' ');
    }
    text += "\n";
  }
  return text + kOverviewOptions;
}

// "get, set, ... or import", for messages.
std::string VerbNames() {
  std::string names;
  size_t count = sizeof kVerbs / sizeof kVerbs[0];
  for (size_t i = 0; i < count; ++i) {
    names += i == 0 ? "" : i + 1 == count ? " or " : ", ";
    names += kVerbs[i].name;
  }
  return names;
}

bool TakesValue(const std::string& option) {
  return option == "--default" || option == "--registry" || option == "--format" ||
         option == "--type";
}

int Main(int argc, char** argv) {
  Invocation in;
  bool help = false;
  bool version = false;
  bool optionsEnded = false;
  std::vector<std::string> options;  // As given, checked once the verb is known.
  std::optional<std::string> formatText, typeText;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-' ||
        (argument[1] != '-' && argument != "-h")) {
      if (in.verb.empty()) {
        in.verb = argument;
      } else {
        in.arguments.push_back(argument);
      }
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    size_t equals = argument.find('=');
    std::string name = argument.substr(0, equals);
    std::optional<std::string> value;
    if (equals != std::string::npos) value = argument.substr(equals + 1);
    if (TakesValue(name)) {
      if (!value) {
        if (i + 1 >= argc) return Report(Outcome::UsageError(in.verb, name + " needs a value"));
        value = argv[++i];
      }
      if (name == "--default") in.defaultText = value;
      if (name == "--registry") in.registry = value;
      if (name == "--format") formatText = value;
      if (name == "--type") typeText = value;
    } else if (value) {
      return Report(Outcome::UsageError(in.verb, name + " takes no value"));
    }
    if (name == "--help" || name == "-h") {
      help = true;
    } else if (name == "--version") {
      version = true;
    } else {
      options.push_back(name);
      in.readOnly |= name == "--read-only";
      in.asInt |= name == "--int";
      in.asHex |= name == "--hex";
      in.asDword |= name == "--dword";
      in.utf8 |= name == "--utf8";
      in.utf16 |= name == "--utf16";
      in.force |= name == "--force";
      in.rewrite |= name == "--rewrite";
      in.existing |= name == "--existing";
    }
  }
  if (version) {
    std::printf("inireg %s\n", INIREG_VERSION_STRING);
    return std::fflush(stdout) == 0 ? kSuccess : kFailure;
  }
  if (in.verb.empty() || in.verb == "help") {
    if (!help && in.verb.empty()) {
      std::fputs(Overview().c_str(), stderr);
      return kFailure;
    }
    std::fputs(Overview().c_str(), stdout);
    return kSuccess;
  }
  const Verb* verb = FindVerb(in.verb);
  if (verb == nullptr) {
    return Report(
        Outcome::UsageError("", "unknown verb " + Quoted(in.verb) + "; expected " + VerbNames()));
  }
  if (help) {
    PrintVerbHelp(*verb);
    return kSuccess;
  }
  for (const std::string& option : options) {
    if (option != "--registry" && !Takes(*verb, option)) {
      std::string known;
      for (const char* c = verb->options; *c != '\0'; ++c)
        known += *c == ' ' ? std::string(", ") : std::string(1, *c);
      return Report(Outcome::UsageError(in.verb, "unknown option " + option + "; " + in.verb +
                                                     " takes " + known +
                                                     ", --registry and --help"));
    }
  }
  if (formatText) {
    if (*formatText == "ini") {
      in.format = Format::kIni;
    } else if (*formatText == "sh") {
      in.format = Format::kShell;
    } else if (*formatText == "lines") {
      in.format = Format::kLines;
    } else {
      return Report(Outcome::UsageError(
          in.verb, "unknown format " + Quoted(*formatText) + "; expected ini, sh or lines"));
    }
  }
  if (typeText) {
    DWORD type = REG_NONE;
    if (!ParseType(*typeText, &type)) {
      return Report(Outcome::UsageError(
          in.verb, "unknown type " + Quoted(*typeText) +
                       "; expected sz, expand_sz, multi_sz, dword, qword or binary"));
    }
    in.type = type;
  }
  if (in.arguments.size() < verb->minArguments || in.arguments.size() > verb->maxArguments) {
    return Report(
        Outcome::UsageError(in.verb, "wrong number of arguments; usage: " + Usage(*verb)));
  }
  if (in.registry) {
#ifdef _WIN32
    return Report(
        Outcome::UsageError(in.verb, "--registry is for the Linux registry; Windows has its own"));
#else
    if (in.registry->empty())
      return Report(Outcome::UsageError(in.verb, "--registry needs a file name"));
    SetRegistryDatabasePath(*in.registry);
#endif
  }
  int status = Report(verb->run(in));
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    return Report(Outcome::Failure(in.verb + ": could not write to standard output"));
  }
  return status;
}

}  // namespace

}  // namespace inireg::tool

int main(int argc, char** argv) { return inireg::tool::Main(argc, argv); }
