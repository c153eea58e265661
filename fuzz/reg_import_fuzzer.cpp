// .reg import: any bytes are read as a .reg file (UTF-16LE after FF FE, else
// 8-bit or UTF-8).  An accepted document, written back as UTF-8 and as
// UTF-16LE, must read back as the same keys, values, types and bytes, and
// writing what was read back must give the same file again.  A file refused
// on line N must be accepted without line N and what follows, and then gets
// the same checks.  Some small accepted documents are also imported below a
// scratch key of the Linux registry and exported back; the export must hold
// what a model of the import expects, and survive its own write and read.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "inireg/win32_registry.h"
#include "memory_file_system.h"
#include "reg_file.h"
#include "registry_tree.h"

namespace inireg {
namespace fuzz {
namespace {

using tool::RegDocument;
using tool::RegEncoding;
using tool::RegKey;
using tool::RegParseError;
using tool::RegRoot;
using tool::RegValue;

// Every root of an imported document lands below this key of HKCU, so that
// one delete clears what an input left.
const char kScratch[] = "Software\\Fuzz";
// An import costs several times the in-memory checks (each registry write is
// an SQLite transaction), so only one accepted input in kImportOneIn, picked
// by its bytes so that a saved input replays the same way, and only a few
// dozen writes of it.
constexpr uint32_t kImportOneIn = 4;
constexpr size_t kMaxRegistryOperations = 48;
constexpr size_t kMaxRegistryBytes = 64 * 1024;

// The document one line per key and value, for comparing and for messages.
// Line numbers and the header read are not part of the content.
std::string Describe(const RegDocument& document) {
  std::string text;
  for (const RegKey& key : document.keys) {
    text += std::string(key.remove ? "[-" : "[") + tool::RegRootName(key.root) + "|" +
            Escape(key.subkey) + "]\n";
    for (const RegValue& value : key.values) {
      text +=
          "  " + Escape(value.name) +
          (value.remove ? " =-" : " =" + std::to_string(value.type) + ":" + Escape(value.data)) +
          "\n";
    }
  }
  return text;
}

void Compare(const std::string& what, const std::string& expected, const std::string& actual) {
  if (expected != actual) Fail(what + "\n--- expected:\n" + expected + "--- actual:\n" + actual);
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// A key line has no escapes, so it cannot carry a CR or LF inside a key name;
// the writer refuses those documents and nothing else (value names escape
// them as \r and \n).
bool Writable(const RegDocument& document) {
  for (const RegKey& key : document.keys) {
    if (HasLineBreak(key.subkey)) return false;
  }
  return true;
}

RegDocument ReadBack(const std::string& content, const std::string& what) {
  RegDocument document;
  RegParseError error;
  if (!tool::ParseRegFile(content, &document, &error)) {
    Fail(what + " does not read back: line " + std::to_string(error.line) + ": " + error.message);
  }
  if (document.regedit4) Fail(what + " read back as REGEDIT4");
  return document;
}

// Writes `document` and reads it back; returns whether it could be written.
bool CheckRoundTrip(const RegDocument& document, RegEncoding encoding, const std::string& origin) {
  std::string what =
      origin + (encoding == RegEncoding::kUtf16 ? " written as UTF-16LE" : " written as UTF-8");
  std::string content, error;
  bool written = tool::FormatRegFile(document, encoding, &content, &error);
  if (written != Writable(document)) {
    Fail(what + (written ? ": a key name with a line break was written" : ": refused: " + error));
  }
  if (!written) return false;
  RegDocument again = ReadBack(content, what);
  Compare(what + " reads back as another document", Describe(document), Describe(again));
  std::string rewritten;
  if (!tool::FormatRegFile(again, encoding, &rewritten, &error))
    Fail(what + ": rewriting refused: " + error);
  if (rewritten != content) Fail(what + ": writing what was read back gives another file");
  return true;
}

bool IsUtf16(const std::string& bytes) {
  return bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
}

// Where line `line` (from 1) starts in the file's bytes; npos past the end.
size_t LineStart(const std::string& bytes, int line) {
  size_t step = IsUtf16(bytes) ? 2 : 1;
  int current = 1;
  for (size_t i = step == 2 ? 2 : 0; current < line && i + step <= bytes.size(); i += step) {
    if (bytes[i] == '\n' && (step == 1 || bytes[i + 1] == '\0') && ++current == line)
      return i + step;
  }
  return current == line ? 0 : std::string::npos;
}

void CheckRefusal(const std::string& bytes, const RegParseError& error) {
  if (error.message.empty()) Fail("a refusal without a message");
  // Line 0 is for a UTF-16 file cut in the middle of a character, the only
  // refusal that is about no line.
  bool cut = IsUtf16(bytes) && bytes.size() % 2 != 0;
  if ((error.line == 0) != cut)
    Fail("refused on line " + std::to_string(error.line) + ": " + error.message);
  // Every line but the last ends with a 0A byte, in either encoding.
  size_t lines = 1;
  for (char c : bytes) lines += c == '\n';
  if (static_cast<size_t>(error.line) > lines) {
    Fail("refused on line " + std::to_string(error.line) + " of at most " + std::to_string(lines));
  }
}

// --- What an import should leave in the registry --------------------------

// Names are looked up with ASCII letters folded to upper case and keep the
// spelling they were created with; values keep their creation order, and an
// overwrite keeps the value's place.
std::string Fold(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

struct ModelKey {
  std::string name;
  std::map<std::string, std::unique_ptr<ModelKey>> children;  // By folded name: the export's order.
  std::vector<RegValue> values;

  ModelKey* Child(const std::string& childName) {
    std::unique_ptr<ModelKey>& child = children[Fold(childName)];
    if (!child) {
      child = std::make_unique<ModelKey>();
      child->name = childName;
    }
    return child.get();
  }
  std::vector<RegValue>::iterator FindValue(const std::string& valueName) {
    for (auto it = values.begin(); it != values.end(); ++it) {
      if (Fold(it->name) == Fold(valueName)) return it;
    }
    return values.end();
  }
};

// One folder per RegRoot, in its order.
const char* const kRootFolders[] = {"CR", "CU", "LM", "US", "CC"};
static_assert(sizeof kRootFolders / sizeof kRootFolders[0] ==
                  static_cast<size_t>(RegRoot::kCurrentConfig) + 1,
              "a folder for every root");

std::vector<std::string> Components(const RegKey& key) {
  std::vector<std::string> parts{kRootFolders[static_cast<int>(key.root)]};
  for (size_t start = 0; !key.subkey.empty();) {
    size_t end = key.subkey.find('\\', start);
    parts.push_back(
        key.subkey.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

void ApplyToModel(const RegDocument& document, ModelKey* scratch) {
  for (const RegKey& key : document.keys) {
    std::vector<std::string> parts = Components(key);
    if (key.remove) {
      ModelKey* parent = scratch;
      for (size_t i = 0; parent != nullptr && i + 1 < parts.size(); ++i) {
        auto found = parent->children.find(Fold(parts[i]));
        parent = found == parent->children.end() ? nullptr : found->second.get();
      }
      if (parent != nullptr) parent->children.erase(Fold(parts.back()));
      continue;
    }
    ModelKey* node = scratch;
    for (const std::string& part : parts) node = node->Child(part);
    for (const RegValue& value : key.values) {
      auto found = node->FindValue(value.name);
      if (value.remove) {
        if (found != node->values.end()) node->values.erase(found);
      } else if (found != node->values.end()) {
        found->type = value.type;
        found->data = value.data;
      } else {
        RegValue stored;
        stored.name = value.name;
        stored.type = value.type;
        stored.data = value.data;
        node->values.push_back(std::move(stored));
      }
    }
  }
}

// The model as the export lists it: parents before children.
void ModelDocument(const ModelKey& key, const std::string& path, RegDocument* document) {
  RegKey entry;
  entry.root = RegRoot::kCurrentUser;
  entry.subkey = path;
  entry.values = key.values;
  document->keys.push_back(std::move(entry));
  for (const auto& child : key.children) {
    ModelDocument(*child.second, path + "\\" + child.second->name, document);
  }
}

RegDocument Rebased(const RegDocument& document) {
  RegDocument rebased = document;
  for (RegKey& key : rebased.keys) {
    std::string subkey = std::string(kScratch) + "\\" + kRootFolders[static_cast<int>(key.root)];
    if (!key.subkey.empty()) subkey += "\\" + key.subkey;
    key.root = RegRoot::kCurrentUser;
    key.subkey = subkey;
  }
  return rebased;
}

std::string g_folder;
// How deep the inputs went, printed at exit: a run whose inputs are all
// refused checks little.
size_t g_inputs = 0, g_accepted = 0, g_imported = 0;

void AtExit() {
  std::fprintf(stderr,
               "reg_import_fuzzer: %zu inputs, %zu accepted, %zu imported into the registry\n",
               g_inputs, g_accepted, g_imported);
  if (g_folder.empty()) return;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    unlink((g_folder + "/registry.db" + suffix).c_str());
  }
  rmdir(g_folder.c_str());
}

void OpenDatabase() {
  g_folder = MakeScratchFolder("inireg-reg-fuzz-");
  atexit(AtExit);
  SetRegistryDatabasePath(g_folder + "/registry.db");
}

bool WorthImporting(const RegDocument& document, const std::string& input) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (unsigned char c : input) hash = (hash ^ c) * 16777619u;
  if (hash % kImportOneIn != 0) return false;
  size_t operations = 0, bytes = 0;
  for (const RegKey& key : document.keys) {
    // Every level of a path is a key to create, and the export repeats the
    // whole path for each: deep keys cost the square of their depth.
    operations += Components(key).size() + key.values.size();
    for (const RegValue& value : key.values) bytes += value.name.size() + value.data.size();
  }
  return operations <= kMaxRegistryOperations && bytes <= kMaxRegistryBytes;
}

void CheckImport(const RegDocument& document) {
  HKEY scratch = nullptr;
  if (LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &scratch, nullptr)) {
    Fail("cannot create the scratch key: " + tool::DescribeStatus(status));
  }
  RegCloseKey(scratch);
  int line = 0;
  if (LONG status = tool::ApplyRegDocument(Rebased(document), &line)) {
    Fail("the import failed on line " + std::to_string(line) + ": " + tool::DescribeStatus(status));
  }

  ModelKey model;
  model.name = kScratch;
  ApplyToModel(document, &model);
  RegDocument expected;
  ModelDocument(model, kScratch, &expected);

  RegDocument exported;
  if (LONG status = tool::ReadKeyTree(RegRoot::kCurrentUser, kScratch, &exported)) {
    Fail("cannot export the scratch key: " + tool::DescribeStatus(status));
  }
  Compare(
      "the registry holds other than the import should leave\n--- imported:\n" + Describe(document),
      Describe(expected), Describe(exported));
  CheckRoundTrip(exported, RegEncoding::kUtf8, "the export");
  CheckRoundTrip(exported, RegEncoding::kUtf16, "the export");

  if (LONG status = tool::DeleteKeyTree(HKEY_CURRENT_USER, kScratch)) {
    Fail("cannot delete the scratch key: " + tool::DescribeStatus(status));
  }
}

void CheckAccepted(const RegDocument& document, const std::string& bytes) {
  ++g_accepted;
  CheckRoundTrip(document, RegEncoding::kUtf8, "the document");
  CheckRoundTrip(document, RegEncoding::kUtf16, "the document");
  if (WorthImporting(document, bytes)) {
    ++g_imported;
    CheckImport(document);
  }
}

}  // namespace
}  // namespace fuzz
}  // namespace inireg

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace inireg::fuzz;
  static bool ready = (OpenDatabase(), true);
  (void)ready;
  ++g_inputs;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  RegDocument document;
  RegParseError error;
  if (inireg::tool::ParseRegFile(bytes, &document, &error)) {
    CheckAccepted(document, bytes);
    return 0;
  }
  CheckRefusal(bytes, error);
  // The lines before the one refused are a file the reader accepts, which
  // also sends most mutated inputs through the checks of accepted ones.
  if (error.line < 3) return 0;
  size_t start = LineStart(bytes, error.line);
  if (start == std::string::npos)
    Fail("refused on line " + std::to_string(error.line) + ", past the end");
  RegParseError headError;
  if (!inireg::tool::ParseRegFile(bytes.substr(0, start), &document, &headError)) {
    Fail("refused on line " + std::to_string(error.line) + " (" + error.message +
         "), but the lines before it on line " + std::to_string(headError.line) + ": " +
         headError.message);
  }
  CheckAccepted(document, bytes);
  return 0;
}
