// The inireg command: settings in profile files and the registry from the
// shell, and the registry as .reg files.  Arguments and verbs live here; the
// .reg format is reg_file, registry trees are registry_tree.
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

#include "inireg/profile_store.h"
#include "inireg/registry_store.h"
#include "inireg/win32_registry.h"
#include "reg_file.h"
#include "registry_tree.h"
#include "store_text.h"

namespace inireg::tool {

namespace {

constexpr int kSuccess = 0;
constexpr int kNotFound = 1;
constexpr int kFailure = 2;

const char kDefaultValueName[] = "(Default)";

const char kOverview[] =
    "Usage: inireg [OPTIONS] VERB ARGUMENTS...\n"
    "\n"
    "Reads and writes settings in profile (INI) files and in the registry.\n"
    "TARGET is a profile file path, or reg: and a registry location such as\n"
    "reg:CU\\Software\\Example (roots CU, LM, CR, US, or HKCU, HKEY_CURRENT_USER, ...).\n"
    "\n"
    "Verbs:\n"
    "  get TARGET SECTION KEY [--default TEXT] [--int | --hex]   print a value\n"
    "  set TARGET SECTION KEY VALUE [--int | --dword]            write a value\n"
    "  delete TARGET SECTION        delete a section (registry: its key and all below)\n"
    "  sections TARGET              list the sections\n"
    "  keys TARGET SECTION          list the keys of a section\n"
    "  dump TARGET                  print the whole store as INI text\n"
    "  export LOCATION [FILE]       write a registry key tree as a .reg file\n"
    "  import FILE                  apply a .reg file to the registry\n"
    "\n"
    "Options:\n"
    "  --read-only      open registry targets read-only, so that writes are refused\n"
    "  --registry FILE  the registry database (Linux; default $INIREG_REGISTRY,\n"
    "                   else ~/.config/inireg/registry.db)\n"
    "  --help           this text; \"inireg VERB --help\" describes a verb\n"
    "\n"
    "Exit status: 0 success; 1 get found nothing and no --default was given;\n"
    "2 usage error, refused write or failure, with a message on standard error.\n";

struct Invocation {
  std::string verb;
  std::vector<std::string> arguments;
  bool readOnly = false;
  bool asInt = false;
  bool asHex = false;
  bool asDword = false;
  bool utf16 = false;
  std::optional<std::string> defaultText;
  std::optional<std::string> registry;
};

struct Verb {
  const char* name;
  const char* usage;
  const char* help;
  const char* options;  // The options it takes besides --registry and --help, space-separated.
  size_t minArguments;
  size_t maxArguments;
  int (*run)(const Invocation&);
};

// --- Messages and output -----------------------------------------------------

int Fail(const std::string& message) {
  std::fprintf(stderr, "inireg: %s\n", message.c_str());
  return kFailure;
}

int UsageError(const std::string& verb, const std::string& message) {
  if (verb.empty()) {
    std::fprintf(stderr, "inireg: %s (see inireg --help)\n", message.c_str());
  } else {
    std::fprintf(stderr, "inireg: %s: %s (see inireg %s --help)\n", verb.c_str(), message.c_str(),
                 verb.c_str());
  }
  return kFailure;
}

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// --- Targets -------------------------------------------------------------------

struct Target {
  bool registry = false;
  std::string path;  // The profile file.
  RegRoot root = RegRoot::kCurrentUser;
  std::string subkey;

  std::string Name() const { return registry ? RegKeyPath(root, subkey) : path; }
  std::string Location() const { return StoreLocation(root, subkey); }
};

bool ParseTarget(const std::string& text, Target* target, std::string* error) {
  if (text.compare(0, 4, "reg:") == 0) {
    target->registry = true;
    return ParseLocation(text.substr(4), &target->root, &target->subkey, error);
  }
  if (text.empty()) {
    *error = "TARGET is empty; expected a profile file path or reg:LOCATION";
    return false;
  }
  target->path = text;
  return true;
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

bool ParseUint32(const std::string& text, uint32_t* value) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  size_t i = hex ? 2 : 0;
  if (i == text.size() || text.size() - i > (hex ? 8u : 10u)) return false;
  unsigned long long number = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit = c >= '0' && c <= '9'               ? c - '0'
                : hex && c >= 'a' && c <= 'f'      ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F'      ? c - 'A' + 10
                                                   : -1;
    if (digit < 0) return false;
    number = number * (hex ? 16 : 10) + static_cast<unsigned>(digit);
  }
  if (number > UINT32_MAX) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

// --- Verbs ---------------------------------------------------------------------

bool CheckNames(const Invocation& in, const std::string& section, const std::string* key,
                int* status) {
  if (section.empty()) {
    *status = UsageError(in.verb, "SECTION is empty; expected a section name");
    return false;
  }
  if (key != nullptr && key->empty()) {
    *status = UsageError(in.verb, "KEY is empty; expected a key name ((Default) for a registry key's unnamed value)");
    return false;
  }
  return true;
}

// The stores answer defaults when they cannot read, which would look like an
// empty store; so a file that exists but cannot be read, or a registry that
// cannot be opened, is reported before the store is used.
bool ResolveTarget(const Invocation& in, Target* target, int* status) {
  std::string error;
  if (!ParseTarget(in.arguments[0], target, &error)) {
    *status = UsageError(in.verb, error);
    return false;
  }
  if (target->registry) {
    if (LONG result = CheckRegistry(target->root)) {
      *status = Fail(in.verb + ": cannot use the registry: " + DescribeStatus(result));
      return false;
    }
    return true;
  }
  std::FILE* file = std::fopen(target->path.c_str(), "rb");
  if (file == nullptr && errno == ENOENT) return true;  // A missing file is an empty store.
  int reason = errno;
  if (file != nullptr) {
    char byte;
    reason = std::fread(&byte, 1, 1, file) == 0 && std::ferror(file) != 0 ? errno : 0;
    std::fclose(file);
  }
  if (reason != 0) {
    *status = Fail(in.verb + ": cannot read " + target->path + ": " + std::strerror(reason));
    return false;
  }
  return true;
}

// Reading needs no write access, so registry targets open read-only.
std::unique_ptr<ProfileStore> OpenForReading(const Target& target) {
  if (target.registry) return std::make_unique<ToolRegistryStore>(target.Location(), 1, 0);
  return std::make_unique<ProfileStore>(target.path);
}

int RunGet(const Invocation& in) {
  const std::string& section = in.arguments[1];
  const std::string& key = in.arguments[2];
  Target target;
  int status = kSuccess;
  if (!ResolveTarget(in, &target, &status) || !CheckNames(in, section, &key, &status)) return status;
  if (in.asInt && in.asHex) return UsageError(in.verb, "--int and --hex exclude each other");
  int32_t defaultNumber = 0;
  if (in.defaultText && (in.asInt || in.asHex) && !ParseInt32(*in.defaultText, &defaultNumber)) {
    return UsageError(in.verb, "--default \"" + *in.defaultText + "\" is not a decimal 32-bit number, which --int and --hex print");
  }
  if (target.registry && in.asHex) {
    return UsageError(in.verb, "--hex reads profile files only; a registry DWORD is read with --int");
  }
  if (target.registry && in.asInt && key == kDefaultValueName) {
    return UsageError(in.verb, "--int cannot read the unnamed value (Default); read it as text");
  }

  std::string text;
  bool found = false;
  if (in.asInt || in.asHex) {
    std::unique_ptr<ProfileStore> store = OpenForReading(target);
    auto read = [&](int32_t fallback) {
      return in.asHex ? store->GetHex(key, section, fallback) : store->GetInt(key, section, fallback);
    };
    int32_t number = read(0);
    found = read(1) == number;
    text = std::to_string(number);
  } else if (target.registry) {
    ToolRegistryStore store(target.Location(), 1, 0);
    found = ReadRegistryText(store, section, key, &text);
  } else {
    ProfileStore store(target.path);
    found = ReadProfileString(store, section, key, &text);
  }
  if (!found) {
    if (!in.defaultText) {
      std::string what = "no value \"" + key + "\" in section \"" + section + "\" of " + target.Name();
      bool present = false;  // As a value of another type than GetInt reads.
      if (target.registry && in.asInt) {
        ToolRegistryStore store(target.Location(), 1, 0);
        present = ReadRegistryText(store, section, key, &text);
      }
      if (present) {
        what = "the value \"" + key + "\" in section \"" + section + "\" of " + target.Name() +
               " is not REG_SZ or REG_DWORD, which --int reads; without --int it shows as " + text;
      }
      std::fprintf(stderr, "inireg: get: %s (--default TEXT prints TEXT instead)\n", what.c_str());
      return kNotFound;
    }
    text = in.asInt || in.asHex ? std::to_string(defaultNumber) : *in.defaultText;
  }
  Print(text + "\n");
  return kSuccess;
}

int RunSet(const Invocation& in) {
  const std::string& section = in.arguments[1];
  const std::string& key = in.arguments[2];
  const std::string& value = in.arguments[3];
  Target target;
  int status = kSuccess;
  if (!ResolveTarget(in, &target, &status) || !CheckNames(in, section, &key, &status)) return status;
  if (in.asInt && in.asDword) return UsageError(in.verb, "--int and --dword exclude each other");
  int32_t number = 0;
  uint32_t dword = 0;
  if (in.asInt && !ParseInt32(value, &number)) {
    return UsageError(in.verb, "VALUE \"" + value + "\" is not a decimal number from -2147483648 to 2147483647, which --int needs");
  }
  if (in.asDword && !ParseUint32(value, &dword)) {
    return UsageError(in.verb, "VALUE \"" + value + "\" is not a number from 0 to 4294967295 (decimal or 0x hex), which --dword needs");
  }
  std::string where = "\"" + key + "\" in section \"" + section + "\" of " + target.Name();

  if (target.registry) {
    if ((in.asInt || in.asDword) && key == kDefaultValueName) {
      return UsageError(in.verb, "the unnamed value (Default) is written as text only; drop --int/--dword");
    }
    ToolRegistryStore store(target.Location(), in.readOnly ? 1 : 0, 0);
    int32_t written = in.asDword ? store.SetDword(dword, key, section)
                      : in.asInt ? store.SetInt(number, key, section)
                                 : store.SetString(value, key, section);
    if (written == 0) {
      return Fail(in.readOnly ? "set: refused to write " + where + ": --read-only was given"
                              : "set: the registry refused to write " + where);
    }
    return kSuccess;
  }

  if (in.asDword) return UsageError(in.verb, "--dword writes registry DWORDs; profile files hold text (use --int)");
  if (in.readOnly) return Fail("set: refused to write " + where + ": --read-only was given");
  auto store = std::make_unique<ProfileStore>(target.path);
  int32_t written = in.asInt ? store->SetInt(number, key, section) : store->SetString(value, key, section);
  if (written == 0) {
    return Fail("set: refused to write " + where +
                ": the file cannot hold it (a key with \"=\" or a line break or starting with \"[\", "
                "a value with a line break, a line over 32767 characters) or cannot be read");
  }
  Status synced = store->Sync();
  if (!synced.ok()) return Fail("set: could not write " + target.path + " back (" + synced.message() + "); the change is not on disk");
  return kSuccess;
}

int RunDelete(const Invocation& in) {
  const std::string& section = in.arguments[1];
  Target target;
  int status = kSuccess;
  if (!ResolveTarget(in, &target, &status) || !CheckNames(in, section, nullptr, &status)) return status;
  std::string where = "section \"" + section + "\" of " + target.Name();
  if (in.readOnly) return Fail("delete: refused to delete " + where + ": --read-only was given");

  if (target.registry) {
    ToolRegistryStore store(target.Location(), 0, 0);
    LONG result = store.DeleteSection(section);
    if (result == ERROR_FILE_NOT_FOUND) {
      std::fprintf(stderr, "inireg: delete: no %s; nothing to delete\n", where.c_str());
      return kSuccess;
    }
    if (result != ERROR_SUCCESS) return Fail("delete: could not delete " + where + ": " + DescribeStatus(result));
    return kSuccess;
  }

  auto store = std::make_unique<ProfileStore>(target.path);
  int32_t before = SectionNames(*store).count;
  // With no current key, SetString deletes the first section of the name.
  if (store->SetString("", "", section) == 0) {
    return Fail("delete: refused to delete " + where + ": the file cannot be read");
  }
  if (SectionNames(*store).count == before) {
    std::fprintf(stderr, "inireg: delete: no %s; nothing to delete\n", where.c_str());
    return kSuccess;
  }
  Status synced = store->Sync();
  if (!synced.ok()) return Fail("delete: could not write " + target.path + " back (" + synced.message() + "); the section is still on disk");
  return kSuccess;
}

int RunSections(const Invocation& in) {
  Target target;
  int status = kSuccess;
  if (!ResolveTarget(in, &target, &status)) return status;
  std::unique_ptr<ProfileStore> store = OpenForReading(target);
  NameList sections = SectionNames(*store);
  for (int32_t i = 0; i < sections.count; ++i) Print(sections.names[i] + "\n");
  return kSuccess;
}

int RunKeys(const Invocation& in) {
  const std::string& section = in.arguments[1];
  Target target;
  int status = kSuccess;
  if (!ResolveTarget(in, &target, &status) || !CheckNames(in, section, nullptr, &status)) return status;
  std::unique_ptr<ProfileStore> store = OpenForReading(target);
  NameList keys = KeyNames(*store, section);
  for (int32_t i = 0; i < keys.count; ++i) {
    Print((keys.names[i].empty() ? std::string(kDefaultValueName) : keys.names[i]) + "\n");
  }
  return kSuccess;
}

int RunDump(const Invocation& in) {
  Target target;
  int status = kSuccess;
  if (!ResolveTarget(in, &target, &status)) return status;
  if (target.registry) {
    ToolRegistryStore store(target.Location(), 1, 0);
    Print(DumpRegistry(store));
  } else {
    ProfileStore store(target.path);
    Print(DumpProfile(store));
  }
  return kSuccess;
}

#ifdef _WIN32
void SetBinary(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }
#else
void SetBinary(std::FILE*) {}
#endif

bool ReadAll(const std::string& path, std::string* content, std::string* error) {
  bool standardInput = path == "-";
  std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  if (standardInput) SetBinary(stdin);
  char buffer[65536];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) content->append(buffer, count);
  bool failed = std::ferror(file) != 0;
  if (!standardInput) std::fclose(file);
  if (failed) *error = "cannot read " + path;
  return !failed;
}

bool WriteAll(const std::string& path, const std::string& content, std::string* error) {
  if (path == "-") {
    SetBinary(stdout);
    Print(content);
    return true;  // Checked with all other output at exit.
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  if (std::fclose(file) != 0 || !written) {
    *error = "could not write all of " + path;
    return false;
  }
  return true;
}

int RunExport(const Invocation& in) {
  std::string location = in.arguments[0];
  if (location.compare(0, 4, "reg:") == 0) location.erase(0, 4);
  RegRoot root;
  std::string subkey, error;
  if (!ParseLocation(location, &root, &subkey, &error)) return UsageError(in.verb, error);
  RegDocument document;
  LONG status = ReadKeyTree(root, subkey, &document);
  std::string name = RegKeyPath(root, subkey);
  if (status == ERROR_FILE_NOT_FOUND) return Fail("export: there is no key " + name);
  if (status != ERROR_SUCCESS) return Fail("export: could not read " + name + ": " + DescribeStatus(status));
  std::string content;
  if (!FormatRegFile(document, in.utf16 ? RegEncoding::kUtf16 : RegEncoding::kUtf8, &content, &error)) {
    return Fail("export: " + error);
  }
  std::string path = in.arguments.size() > 1 ? in.arguments[1] : "-";
  if (!WriteAll(path, content, &error)) return Fail("export: " + error);
  return kSuccess;
}

int RunImport(const Invocation& in) {
  const std::string& path = in.arguments[0];
  if (in.readOnly) return Fail("import: refused to import " + path + ": --read-only was given");
  std::string content, error;
  if (!ReadAll(path, &content, &error)) return Fail("import: " + error);
  if (LONG result = CheckRegistry(RegRoot::kCurrentUser)) {
    return Fail("import: cannot use the registry: " + DescribeStatus(result) + "; nothing was imported");
  }
  RegDocument document;
  RegParseError parseError;
  if (!ParseRegFile(content, &document, &parseError)) {
    std::string where = parseError.line > 0 ? path + " line " + std::to_string(parseError.line) : path;
    return Fail("import: " + where + ": " + parseError.message + "; nothing was imported");
  }
  int line = 0;
  LONG status = ApplyRegDocument(document, &line);
  if (status != ERROR_SUCCESS) {
    return Fail("import: " + path + " line " + std::to_string(line) + ": the registry refused it (" +
                DescribeStatus(status) + "); the lines before it were applied");
  }
  return kSuccess;
}

const Verb kVerbs[] = {
    {"get", "inireg get TARGET SECTION KEY [--default TEXT] [--int | --hex]",
     "Prints the value of KEY in SECTION and a newline.\n"
     "  --default TEXT  print TEXT when there is no such value (exit status 0)\n"
     "  --int           read the value as a decimal number (registry: REG_SZ or REG_DWORD)\n"
     "  --hex           read the value as a hexadecimal number (profile files only)\n"
     "Registry values of other types than REG_SZ, REG_EXPAND_SZ, REG_DWORD and REG_QWORD\n"
     "print in the .reg hex notation, e.g. hex:01,02.  KEY (Default) is the unnamed value.\n"
     "Exit status 1 when there is no such value and no --default was given.\n",
     "--default --int --hex --read-only", 3, 3, RunGet},
    {"set", "inireg set TARGET SECTION KEY VALUE [--int | --dword]",
     "Writes VALUE to KEY in SECTION, creating both as needed.\n"
     "  --int    VALUE must be a decimal 32-bit number (stored as text)\n"
     "  --dword  store a REG_DWORD (registry only; decimal or 0x hex)\n"
     "Registry values are written as REG_SZ text without a terminating NUL unless\n"
     "--dword is given.  Exit status 2 when the write is refused.\n",
     "--int --dword --read-only", 4, 4, RunSet},
    {"delete", "inireg delete TARGET SECTION",
     "Deletes the section with its keys.  In the registry the section is a subkey of\n"
     "the location: it is deleted with its values and every key below it.\n"
     "A section that does not exist is reported and is not an error.\n",
     "--read-only", 2, 2, RunDelete},
    {"sections", "inireg sections TARGET", "Lists the section names, one a line.\n", "--read-only", 1, 1,
     RunSections},
    {"keys", "inireg keys TARGET SECTION",
     "Lists the key names of SECTION, one a line ((Default) for a registry key's\n"
     "unnamed value).\n",
     "--read-only", 2, 2, RunKeys},
    {"dump", "inireg dump TARGET",
     "Prints every section and its keys as INI text.  For the registry these are the\n"
     "location's direct subkeys and their values, shown as get shows them.\n",
     "--read-only", 1, 1, RunDump},
    {"export", "inireg export LOCATION [FILE] [--utf16]",
     "Writes the registry key LOCATION (CU\\Software\\Example, HKCU\\Software\\Example or\n"
     "HKEY_CURRENT_USER\\Software\\Example) and all keys below it to FILE (standard\n"
     "output when absent or -) in the .reg format: \"Windows Registry Editor Version 5.00\",\n"
     "UTF-8 or, with --utf16, UTF-16LE with a byte-order mark.  Importing the file into\n"
     "an empty registry gives back the same keys, values, types and bytes.\n",
     "--utf16", 1, 2, RunExport},
    {"import", "inireg import FILE",
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

void PrintVerbHelp(const Verb& verb) {
  std::printf("Usage: %s\n\n%s\nTARGET is a profile file path or reg:LOCATION; see inireg --help.\n",
              verb.usage, verb.help);
}

int Main(int argc, char** argv) {
  Invocation in;
  bool help = false;
  bool optionsEnded = false;
  std::vector<std::string> options;  // As given, checked once the verb is known.
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
    } else if (argument == "--help" || argument == "-h") {
      help = true;
    } else if (argument == "--default" || argument == "--registry") {
      if (i + 1 >= argc) return UsageError(in.verb, argument + " needs a value");
      (argument == "--default" ? in.defaultText : in.registry) = argv[++i];
      options.push_back(argument);
    } else {
      options.push_back(argument);
      in.readOnly |= argument == "--read-only";
      in.asInt |= argument == "--int";
      in.asHex |= argument == "--hex";
      in.asDword |= argument == "--dword";
      in.utf16 |= argument == "--utf16";
    }
  }
  if (in.verb.empty() || in.verb == "help") {
    if (!help && in.verb.empty()) {
      std::fputs(kOverview, stderr);
      return kFailure;
    }
    std::fputs(kOverview, stdout);
    return kSuccess;
  }
  const Verb* verb = FindVerb(in.verb);
  if (verb == nullptr) {
    return UsageError("", "unknown verb \"" + in.verb +
                              "\"; expected get, set, delete, sections, keys, dump, export or import");
  }
  if (help) {
    PrintVerbHelp(*verb);
    return kSuccess;
  }
  for (const std::string& option : options) {
    if (option != "--registry" && !Takes(*verb, option)) {
      std::string known;
      for (const char* c = verb->options; *c != '\0'; ++c) known += *c == ' ' ? std::string(", ") : std::string(1, *c);
      return UsageError(in.verb, "unknown option " + option + "; " + in.verb + " takes " + known +
                                     ", --registry and --help");
    }
  }
  if (in.arguments.size() < verb->minArguments || in.arguments.size() > verb->maxArguments) {
    return UsageError(in.verb, "wrong number of arguments; usage: " + std::string(verb->usage));
  }
  if (in.registry) {
#ifdef _WIN32
    return UsageError(in.verb, "--registry is for the Linux registry; Windows has its own");
#else
    if (in.registry->empty()) return UsageError(in.verb, "--registry needs a file name");
    SetRegistryDatabasePath(*in.registry);
#endif
  }
  int status = verb->run(in);
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    return Fail(in.verb + ": could not write to standard output");
  }
  return status;
}

}  // namespace

}  // namespace inireg::tool

int main(int argc, char** argv) { return inireg::tool::Main(argc, argv); }
