// The registry's small vocabularies, which the library and the inireg command
// share: every root answers to its location abbreviation and to both of its
// .reg names, each in any case, and leads to the same handle; the forms the
// command writes read back; and a value's one-line .reg notation is exactly
// the form a .reg file writes, without its continuation lines.
#include <gtest/gtest.h>

#include <string>

#include "reg_file.h"
#include "registry/registry_names.h"
#include "registry/registry_path.h"
#include "registry_location.h"

namespace inireg::tool {
namespace {

struct ExpectedRoot {
  HKEY handle;
  const char* abbreviation;
  const char* longName;
  const char* shortName;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

TEST(RegistryVocabularyTest, EveryRootAnswersToEachOfItsNames) {
  const ExpectedRoot expected[] = {
      {HKEY_CLASSES_ROOT, "CR", "HKEY_CLASSES_ROOT", "HKCR"},
      {HKEY_CURRENT_USER, "CU", "HKEY_CURRENT_USER", "HKCU"},
      {HKEY_LOCAL_MACHINE, "LM", "HKEY_LOCAL_MACHINE", "HKLM"},
      {HKEY_USERS, "US", "HKEY_USERS", "HKU"},
      {HKEY_CURRENT_CONFIG, "CC", "HKEY_CURRENT_CONFIG", "HKCC"},
  };
  for (size_t i = 0; i < sizeof expected / sizeof expected[0]; ++i) {
    const ExpectedRoot& names = expected[i];
    SCOPED_TRACE(names.longName);
    RegRoot root = static_cast<RegRoot>(i);
    EXPECT_EQ(RootKey(root), names.handle);

    // The library's location texts.
    HKEY handle = nullptr;
    std::string subkey;
    ASSERT_TRUE(ParseRegistryPath(Lower(names.abbreviation) + "\\Software\\A", &handle, &subkey));
    EXPECT_EQ(handle, names.handle);
    EXPECT_EQ(subkey, "Software\\A");

    // The command takes all three names, and .reg files both long and short.
    for (const std::string& name :
         {std::string(names.abbreviation), Lower(names.longName), Lower(names.shortName)}) {
      RegRoot parsed = RegRoot::kCurrentUser;
      std::string error;
      subkey.clear();
      ASSERT_TRUE(ParseLocation(name + "\\Software\\A", &parsed, &subkey, &error))
          << name << ": " << error;
      EXPECT_EQ(parsed, root) << name;
      EXPECT_EQ(subkey, "Software\\A") << name;
    }
    for (const char* name : {names.longName, names.shortName}) {
      RegRoot parsed = RegRoot::kCurrentUser;
      std::string error;
      ASSERT_TRUE(SplitRegKeyPath(std::string(name) + "\\Software", &parsed, &subkey, &error))
          << error;
      EXPECT_EQ(parsed, root) << name;
    }

    // What the command writes reads back as the same root.
    EXPECT_EQ(RegKeyPath(root, "X"), std::string(names.longName) + "\\X");
    RegRoot parsed = RegRoot::kCurrentUser;
    std::string error;
    ASSERT_TRUE(ParseLocation(FormatRegistryLocation(root, "X"), &parsed, &subkey, &error))
        << error;
    EXPECT_EQ(parsed, root);
    EXPECT_EQ(subkey, "X");
  }
  // Nothing else is a root.
  RegRoot parsed;
  std::string subkey, error;
  EXPECT_FALSE(ParseLocation("HKEY_DYN_DATA\\X", &parsed, &subkey, &error));
  EXPECT_FALSE(ParseLocation("XY\\X", &parsed, &subkey, &error));
  HKEY handle = nullptr;
  EXPECT_FALSE(ParseRegistryPath("HK\\X", &handle, &subkey));
}

// A value's data after "=" in a written file, with continuation lines joined.
std::string WrittenNotation(uint32_t type, const std::string& data) {
  RegDocument document;
  RegKey key;
  key.subkey = "K";
  RegValue value;
  value.name = "v";
  value.type = type;
  value.data = data;
  key.values.push_back(value);
  document.keys.push_back(key);
  std::string content, error;
  EXPECT_TRUE(FormatRegFile(document, RegEncoding::kUtf8, &content, &error)) << error;
  size_t start = content.find("\"v\"=");
  if (start == std::string::npos) return "(no value line)";
  start += 4;
  std::string joined;
  for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::string line = content.substr(start, end - start);
    bool continued = !line.empty() && line.back() == '\\';
    if (continued) line.pop_back();
    joined += joined.empty() ? line : line.substr(2);  // Continuation lines start with two blanks.
    if (!continued) break;
  }
  return joined;
}

TEST(RegistryVocabularyTest, TheOneLineNotationIsTheFilesFormUnwrapped) {
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes += static_cast<char>(i * 7);
  for (uint32_t type : {kTypeBinary, kTypeNone, kTypeQword, kTypeMultiString, kTypeExpandString,
                        uint32_t{0x1234}}) {
    std::string data = type == kTypeMultiString || type == kTypeExpandString
                           ? std::string(150, 'a') + '\0'
                           : bytes;
    std::string notation = RegDataNotation(type, data);
    EXPECT_GT(notation.size(), 80u) << type;  // Long enough that the file wraps it.
    EXPECT_EQ(WrittenNotation(type, data), notation) << type;
  }
  EXPECT_EQ(RegDataNotation(kTypeBinary, ""), "hex:");
  EXPECT_EQ(WrittenNotation(kTypeBinary, ""), "hex:");
}

}  // namespace
}  // namespace inireg::tool
