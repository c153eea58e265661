// The .reg text format of the Windows registry editor, read into and written
// from an in-memory document.  Nothing here touches the registry.
//
// Reading accepts "Windows Registry Editor Version 5.00" and "REGEDIT4"
// files, as UTF-16LE with a byte-order mark or as 8-bit text (a UTF-8
// byte-order mark is skipped), with CR LF or LF line ends.  Lines are
// "[ROOT\path]" (a key to create), "[-ROOT\path]" (a key tree to delete),
// "@=" or "\"name\"=" followed by "\"text\"", "dword:", "hex:", "hex(N):" or
// "-" (delete the value), comments starting with ";" and blank lines.  Hex
// lists continue on the next line after a trailing backslash.  Roots are
// HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS and
// HKEY_CURRENT_CONFIG, or HKCR, HKCU, HKLM, HKU and HKCC, in any case.
// Inside quotes, \\ is a backslash, \" a quote, \n a line feed and \r a
// carriage return (the last two only so that names with line breaks fit on
// a line; the registry editor's own files never hold them).
//
// Data in a document is what the registry's A functions take: a quoted
// string is its registry text followed by one NUL.  In a Version 5.00 file
// the bytes of hex(1), hex(2) and hex(7) are UTF-16LE, as the registry
// editor writes them; they are converted from and to registry text.  An odd
// last byte, which is no UTF-16 unit, is kept at the end of the text as the
// lone surrogate U+DB00 + byte (its three-byte form), and written back as
// that one byte, so such lists come back byte for byte.  In a REGEDIT4 file
// they are the bytes themselves.
//
// Writing always gives a Version 5.00 file with CR LF line ends, chosen so
// that reading it back gives the same data byte for byte:
// - REG_SZ is a quoted string only when its data is text without line breaks
//   or NULs followed by exactly one NUL (see IsPortableRegistryText);
//   anything else, such as text stored without its terminator, is hex(1)
//   (text without a terminator gets a comment line showing it).
// - REG_DWORD is "dword:" when it has exactly four bytes, else hex(4).
// - REG_EXPAND_SZ and REG_MULTI_SZ are hex(2) and hex(7); REG_BINARY hex:;
//   every other type, REG_NONE and REG_QWORD included, hex(N) with N in
//   lower-case hexadecimal and the bytes as they are.
// - Names are quoted with \\, \", \n and \r escapes; a key name with a
//   line break cannot be written (a key line has no escapes), and the
//   writer fails with a message before producing anything.
#ifndef INIREG_TOOLS_REG_FILE_H_
#define INIREG_TOOLS_REG_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "registry/registry_names.h"

namespace inireg::tool {

// The roots and their names are the library's (registry/registry_names.h).
using inireg::RegRoot;

// Value types the format treats specially (the registry's REG_* numbers).
constexpr uint32_t kTypeNone = 0;
constexpr uint32_t kTypeString = 1;
constexpr uint32_t kTypeExpandString = 2;
constexpr uint32_t kTypeBinary = 3;
constexpr uint32_t kTypeDword = 4;
constexpr uint32_t kTypeMultiString = 7;
constexpr uint32_t kTypeQword = 11;

struct RegValue {
  std::string name;     // Empty for the unnamed value ("@").
  bool remove = false;  // "name"=-
  uint32_t type = kTypeNone;
  std::string data;
  int line = 0;  // Where it was read; 0 when it was not.
};

struct RegKey {
  RegRoot root = RegRoot::kCurrentUser;
  std::string subkey;   // Components joined by single backslashes; may be empty.
  bool remove = false;  // [-...]: the key and everything below it.
  std::vector<RegValue> values;
  int line = 0;
};

struct RegDocument {
  bool regedit4 = false;  // The header read; writing ignores it.
  std::vector<RegKey> keys;
};

struct RegParseError {
  int line = 0;
  std::string message;  // What was wrong and what was expected.
};

// "HKEY_CURRENT_USER" and so on.
const char* RegRootName(RegRoot root);
// The root's long name, a backslash and the subkey (just the name when empty).
std::string RegKeyPath(RegRoot root, const std::string& subkey);

// Keys nest at most this many levels below their root, as on Windows.
constexpr size_t kMaxKeyDepth = 512;

// Splits "ROOT\path" with a long or short root name in any case.  Empty
// components ("a\\b", a trailing backslash), components longer than 255
// characters, paths deeper than kMaxKeyDepth and NUL characters are refused
// with a message, so that whatever passes can be created.
bool SplitRegKeyPath(const std::string& path, RegRoot* root, std::string* subkey,
                     std::string* error);

// Reads a whole file's bytes.  On failure `document` is left unspecified and
// `error` names the first malformed line.
bool ParseRegFile(const std::string& content, RegDocument* document, RegParseError* error);

enum class RegEncoding { kUtf8, kUtf16 };

// A value's data as the writer puts it after "=", on one line: "\"text\"",
// "dword:0000002a", "hex:01,02", "hex(7):61,00,00,00,00,00" and so on.
std::string RegDataNotation(uint32_t type, const std::string& data);

// Writes the document.  Fails with a message when a key name holds a line
// break, which no key line can carry.
bool FormatRegFile(const RegDocument& document, RegEncoding encoding, std::string* content,
                   std::string* error);

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_REG_FILE_H_
