// The inireg command run as a user runs it: exit statuses, output, and the
// files and registry contents afterwards.  Each test has a registry database
// of its own (INIREG_REGISTRY), which the test also reads in-process.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "inireg/win32_registry.h"
#include "test_support.h"

namespace inireg {
namespace {

using namespace std::string_literals;
using testing::ReadFile;
using testing::WriteFile;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Every value below a key: path -> name -> (type, bytes).
using Tree = std::map<std::string, std::map<std::string, std::pair<DWORD, std::string>>>;

void ReadTree(HKEY key, const std::string& path, Tree* tree) {
  auto& values = (*tree)[path];
  std::vector<char> name(16384);
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = 16384, type = 0, size = 0;
    if (RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    std::string data(size + 1, '\0');
    nameSize = 16384;
    ASSERT_EQ(RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type,
                            reinterpret_cast<BYTE*>(&data[0]), &size), ERROR_SUCCESS);
    data.resize(size);
    values[std::string(name.data(), nameSize)] = {type, data};
  }
  char child[256];
  for (DWORD i = 0; RegEnumKeyA(key, i, child, sizeof child) == ERROR_SUCCESS; ++i) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExA(key, child, 0, KEY_READ, &handle), ERROR_SUCCESS);
    ReadTree(handle, path + "\\" + child, tree);
    RegCloseKey(handle);
  }
}

class ToolTest : public ::testing::Test {
 protected:
  void TearDown() override { SetRegistryDatabasePath(""); }

  static std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? "'\\''"s : std::string(1, c);
    return quoted + "'";
  }

  Result Run(const std::vector<std::string>& arguments, const std::string& database = "") {
    std::string command = "INIREG_REGISTRY=" + Quote(database.empty() ? db_ : database) + " " + Quote(INIREG_TOOL);
    for (const std::string& argument : arguments) command += " " + Quote(argument);
    command += " </dev/null >" + Quote(dir_.File("out")) + " 2>" + Quote(dir_.File("err"));
    int raw = std::system(command.c_str());
    Result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFile(dir_.File("out"));
    result.err = ReadFile(dir_.File("err"));
    return result;
  }

  // Runs and checks the status; a failure shows what the command said.
  std::string Expect(int status, const std::vector<std::string>& arguments, const std::string& database = "") {
    Result result = Run(arguments, database);
    EXPECT_EQ(result.status, status) << arguments[0] << ": " << result.err;
    if (status == 0) {
      EXPECT_EQ(result.err, "");
    } else {
      EXPECT_NE(result.err.find("inireg: "), std::string::npos);
      EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
    }
    return status == 0 ? result.out : result.err;
  }

  Tree Registry(const std::string& subkey, const std::string& database = "") {
    SetRegistryDatabasePath(database.empty() ? db_ : database);
    Tree tree;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      ReadTree(key, subkey, &tree);
      RegCloseKey(key);
    }
    return tree;
  }

  void Put(const std::string& subkey, const std::string& name, DWORD type, const std::string& data) {
    SetRegistryDatabasePath(db_);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())), ERROR_SUCCESS);
    RegCloseKey(key);
  }

  testing::TempDir dir_;
  std::string db_ = dir_.File("registry.db");
};

TEST_F(ToolTest, ProfileVerbs) {
  std::string ini = dir_.File("app.ini");
  Expect(0, {"set", ini, "Window", "Title", "  \"Main window\"  "});
  Expect(0, {"set", ini, "Window", "Width", "-640", "--int"});
  Expect(0, {"set", ini, "Paths", "Home", "C:\\Users"});
  EXPECT_EQ(ReadFile(ini), "[Window]\nTitle=\"Main window\"\nWidth=-640\n\n[Paths]\nHome=C:\\Users\n\n");

  EXPECT_EQ(Expect(0, {"get", ini, "window", "title"}), "Main window\n");
  EXPECT_EQ(Expect(0, {"get", ini, "Window", "Width", "--int"}), "-640\n");
  Expect(0, {"set", ini, "Window", "Mask", "ff"});
  EXPECT_EQ(Expect(0, {"get", "--hex", ini, "Window", "Mask"}), "255\n");
  EXPECT_NE(Expect(1, {"get", ini, "Window", "Height"}).find("no value \"Height\""), std::string::npos);
  EXPECT_EQ(Expect(0, {"get", ini, "Window", "Height", "--default", ""}), "\n");
  EXPECT_EQ(Expect(0, {"get", ini, "Window", "Height", "--int", "--default", "480"}), "480\n");
  Expect(1, {"get", ini, "Window", "Height", "--int"});
  Expect(1, {"get", dir_.File("missing.ini"), "Window", "Title"});

  EXPECT_EQ(Expect(0, {"sections", ini}), "Window\nPaths\n");
  EXPECT_EQ(Expect(0, {"keys", ini, "Window"}), "Title\nWidth\nMask\n");
  EXPECT_EQ(Expect(0, {"dump", ini}), "[Window]\nTitle=Main window\nWidth=-640\nMask=ff\n\n[Paths]\nHome=C:\\Users\n");

  // Refused writes change nothing.
  std::string before = ReadFile(ini);
  EXPECT_NE(Expect(2, {"set", ini, "Window", "a=b", "1"}).find("refused"), std::string::npos);
  EXPECT_NE(Expect(2, {"set", ini, "Window", "Title", "two\nlines"}).find("refused"), std::string::npos);
  EXPECT_NE(Expect(2, {"set", "--read-only", ini, "Window", "Title", "x"}).find("--read-only"), std::string::npos);
  Expect(2, {"delete", "--read-only", ini, "Window"});
  EXPECT_EQ(ReadFile(ini), before);

  Expect(0, {"delete", ini, "WINDOW"});
  EXPECT_EQ(ReadFile(ini), "[Paths]\nHome=C:\\Users\n\n");
  Result again = Run({"delete", ini, "Window"});
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.err.find("nothing to delete"), std::string::npos);
}

TEST_F(ToolTest, RegistryVerbs) {
  const std::string target = "reg:CU\\Software\\Tool";
  Expect(0, {"set", target, "Window", "Title", "Main"});
  Expect(0, {"set", target, "Window", "Width", "640", "--int"});
  Expect(0, {"set", target, "Window", "Flags", "0xffffffff", "--dword"});
  Expect(0, {"set", "reg:HKEY_CURRENT_USER\\Software\\Tool", "Window", "(Default)", "unnamed"});
  Put("Software\\Tool\\Window", "Blob", REG_BINARY, "\x01\xfe"s);
  Put("Software\\Tool\\Window\\Deeper", "x", REG_SZ, "y");
  Put("Software\\Tool\\Other", "q", REG_QWORD, "\x02\0\0\0\0\0\0\0"s);

  Tree tree = Registry("Software\\Tool");
  EXPECT_EQ(tree["Software\\Tool\\Window"]["Title"], std::make_pair(REG_SZ, "Main"s));
  EXPECT_EQ(tree["Software\\Tool\\Window"]["Width"], std::make_pair(REG_SZ, "640"s));
  EXPECT_EQ(tree["Software\\Tool\\Window"]["Flags"], std::make_pair(REG_DWORD, "\xff\xff\xff\xff"s));
  EXPECT_EQ(tree["Software\\Tool\\Window"][""], std::make_pair(REG_SZ, "unnamed"s));

  EXPECT_EQ(Expect(0, {"get", target, "Window", "Title"}), "Main\n");
  EXPECT_EQ(Expect(0, {"get", target, "Window", "Flags"}), "4294967295\n");
  EXPECT_EQ(Expect(0, {"get", target, "Window", "Flags", "--int"}), "-1\n");
  EXPECT_EQ(Expect(0, {"get", target, "Window", "(Default)"}), "unnamed\n");
  EXPECT_EQ(Expect(0, {"get", target, "Window", "Blob"}), "hex:01,fe\n");
  EXPECT_EQ(Expect(0, {"get", target, "Other", "q"}), "2\n");
  Expect(1, {"get", target, "Window", "Nothing"});
  EXPECT_NE(Expect(1, {"get", target, "Window", "Blob", "--int"}).find("shows as hex:01,fe"), std::string::npos);
  Expect(1, {"get", "reg:CU\\Software\\Absent", "Window", "Title"});
  EXPECT_EQ(Expect(0, {"sections", target}), "Other\nWindow\n");
  EXPECT_EQ(Expect(0, {"keys", target, "Window"}), "Title\nWidth\nFlags\n(Default)\nBlob\n");
  EXPECT_EQ(Expect(0, {"dump", target}),
            "[Other]\nq=2\n\n[Window]\nTitle=Main\nWidth=640\nFlags=4294967295\n(Default)=unnamed\nBlob=hex:01,fe\n");

  // --read-only refuses writes and leaves the registry alone.
  Expect(2, {"set", "--read-only", target, "Window", "Title", "Other"});
  Expect(2, {"delete", "--read-only", target, "Window"});
  Expect(2, {"import", "--read-only", dir_.File("any.reg")});
  EXPECT_EQ(Registry("Software\\Tool"), tree);

  // --registry wins over INIREG_REGISTRY.
  std::string other = dir_.File("other.db");
  Expect(0, {"--registry", other, "set", target, "Window", "Title", "Elsewhere"});
  EXPECT_EQ(Registry("Software\\Tool"), tree);
  EXPECT_EQ(Registry("Software\\Tool", other)["Software\\Tool\\Window"]["Title"].second, "Elsewhere");

  Expect(0, {"delete", target, "window"});
  tree = Registry("Software\\Tool");
  EXPECT_EQ(tree.count("Software\\Tool\\Window"), 0u);
  EXPECT_EQ(tree.count("Software\\Tool\\Window\\Deeper"), 0u);
  EXPECT_EQ(tree.count("Software\\Tool\\Other"), 1u);
}

TEST_F(ToolTest, UsageErrorsSayWhatWasExpected) {
  std::string garbage = dir_.File("garbage.db");
  WriteFile(garbage, "not a database");
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "Usage:"},
      {{"fetch"}, "unknown verb \"fetch\""},
      {{"get", "a.ini", "S"}, "usage: inireg get TARGET SECTION KEY"},
      {{"get", "a.ini", "S", "K", "--dword"}, "get takes --default"},
      {{"get", "a.ini", "S", "K", "--default"}, "--default needs a value"},
      {{"get", "a.ini", "", "K"}, "SECTION is empty"},
      {{"get", "a.ini", "S", "K", "--int", "--hex"}, "exclude each other"},
      {{"get", "reg:CU\\X", "S", "K", "--hex"}, "profile files only"},
      {{"get", "reg:XY\\Software", "S", "K"}, "unknown registry location"},
      {{"get", "reg:HKEY_CURRENT_CONFIG\\X", "S", "K"}, "unknown root"},
      {{"set", "a.ini", "S", "K", "12x", "--int"}, "is not a decimal number"},
      {{"set", "a.ini", "S", "K", "1", "--dword"}, "profile files hold text"},
      {{"set", "reg:CU\\X", "S", "K", "4294967296", "--dword"}, "0 to 4294967295"},
      {{"set", "reg:CU\\X", "S", "(Default)", "1", "--int"}, "as text only"},
      {{"export", "CU\\Nowhere"}, "there is no key HKEY_CURRENT_USER\\Nowhere"},
      {{"import", "/nonexistent/file.reg"}, "cannot open"},
      // What the stores would show as empty is reported.
      {{"sections", dir_.path()}, "cannot read"},
      {{"keys", "reg:CU\\X", "S", "--registry", garbage}, "cannot use the registry"},
  };
  for (const auto& [arguments, fragment] : cases) {
    Result result = Run(arguments);
    SCOPED_TRACE(arguments.empty() ? "(none)" : arguments[0] + " " + (arguments.size() > 1 ? arguments[1] : ""));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(fragment), std::string::npos) << result.err;
  }
  for (const char* verb : {"get", "set", "delete", "sections", "keys", "dump", "export", "import"}) {
    EXPECT_EQ(Expect(0, {verb, "--help"}).rfind(std::string("Usage: inireg ") + verb, 0), 0u) << verb;
  }
  EXPECT_NE(Expect(0, {"--help"}).find("Exit status"), std::string::npos);
}

TEST_F(ToolTest, ExportImportRoundTripOfEveryType) {
  const std::string key = "Software\\Round";
  Put(key, "", REG_SZ, "unnamed\0"s);
  Put(key, "sz", REG_SZ, "text\0"s);
  Put(key, "sz without NUL", REG_SZ, "text");
  Put(key, "sz inner NUL", REG_SZ, "a\0b\0"s);
  Put(key, "sz invalid UTF-8", REG_SZ, "\xff\xc3(\0"s);
  Put(key, "sz \u00e9t\u00e9", REG_SZ, "\u00e9t\u00e9 \U0001F600\0"s);
  Put(key, "q\"u\\o\\\"te", REG_SZ, "\"C:\\dir\\\"\0"s);
  Put(key, "expand", REG_EXPAND_SZ, "%PATH%;x\0"s);
  Put(key, "binary", REG_BINARY, std::string(300, '\x5a') + "\0\xff"s);
  Put(key, "dword", REG_DWORD, "\x2a\0\0\0"s);
  Put(key, "dword of 2 bytes", REG_DWORD, "\x2a\0"s);
  Put(key, "multi", REG_MULTI_SZ, "one\0two\0\0"s);
  Put(key, "qword", REG_QWORD, "\x01\x02\x03\x04\x05\x06\x07\x08"s);
  Put(key, "none", REG_NONE, "");
  Put(key, "odd type", 0x1234, "\x00\x01"s);
  Put(key + "\\Sub\\Deeper", "", REG_BINARY, "");
  Put(key + "\\Empty]Key", "x", REG_DWORD, "\0\0\0\0"s);
  Tree original = Registry(key);
  ASSERT_EQ(original.size(), 4u);

  for (bool utf16 : {false, true}) {
    SCOPED_TRACE(utf16 ? "UTF-16" : "UTF-8");
    std::string file = dir_.File(utf16 ? "wide.reg" : "narrow.reg");
    std::vector<std::string> arguments = {"export", "HKCU\\" + key, file};
    if (utf16) arguments.push_back("--utf16");
    Expect(0, arguments);
    std::string content = ReadFile(file);
    if (utf16) {
      EXPECT_EQ(content.compare(0, 4, "\xFF\xFEW\0"s), 0);
    } else {
      EXPECT_EQ(content.find("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Round]\r\n"), 0u);
      for (const char* line : {"@=\"unnamed\"\r\n", "\"sz\"=\"text\"\r\n", "\"sz without NUL\"=hex(1):",
                               "\"q\\\"u\\\\o\\\\\\\"te\"=\"\\\"C:\\\\dir\\\\\\\"\"\r\n",
                               "\"dword\"=dword:0000002a\r\n", "\"qword\"=hex(b):01,02,03",
                               "\"odd type\"=hex(1234):00,01\r\n", "\"none\"=hex(0):\r\n"}) {
        EXPECT_NE(content.find(line), std::string::npos) << line;
      }
    }
    std::string fresh = dir_.File(utf16 ? "fresh16.db" : "fresh8.db");
    Expect(0, {"import", file}, fresh);
    EXPECT_EQ(Registry(key, fresh), original);
  }
  // Exporting to standard output gives the same file.
  EXPECT_EQ(Expect(0, {"export", "reg:CU\\" + key}), ReadFile(dir_.File("narrow.reg")));
}

TEST_F(ToolTest, MalformedImportChangesNothing) {
  Put("Software\\Keep", "a", REG_SZ, "1\0"s);
  Put("Software\\Keep\\Child", "b", REG_DWORD, "\1\0\0\0"s);
  Tree before = Registry("Software");
  std::string file = dir_.File("bad.reg");
  WriteFile(file,
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n"
            "[-HKEY_CURRENT_USER\\Software\\Keep]\r\n"
            "[HKEY_CURRENT_USER\\Software\\New]\r\n"
            "\"a\"=-\r\n"
            "\"b\"=hex:01,02,\\\r\n"
            "  03\r\n"
            "\"c\"=dword:1234567890\r\n");
  std::string message = Expect(2, {"import", file});
  EXPECT_NE(message.find("bad.reg line 8: expected dword:"), std::string::npos) << message;
  EXPECT_NE(message.find("nothing was imported"), std::string::npos);
  EXPECT_EQ(Registry("Software"), before);

  // The same file without the bad line is applied in order; REGEDIT4 and
  // UTF-16 files work the same way.
  std::string good = ReadFile(file);
  good.resize(good.find("\"c\""));
  WriteFile(file, good);
  Expect(0, {"import", file});
  Tree after = Registry("Software");
  EXPECT_EQ(after.count("Software\\Keep"), 0u);
  EXPECT_EQ(after.count("Software\\Keep\\Child"), 0u);
  EXPECT_EQ(after["Software\\New"]["b"], std::make_pair(REG_BINARY, "\1\2\3"s));

  WriteFile(file, "REGEDIT4\n\n[HKCU\\Software\\New]\n\"b\"=-\n\"e\"=hex(2):41,00\n");
  Expect(0, {"import", file});
  std::u16string wide = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\New]\r\n\"w\"=\"\u00e9\"\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : wide) bytes += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  WriteFile(file, bytes);
  Expect(0, {"import", file});
  after = Registry("Software\\New");
  EXPECT_EQ(after["Software\\New"].count("b"), 0u);
  EXPECT_EQ(after["Software\\New"]["e"], std::make_pair(REG_EXPAND_SZ, "A\0"s));
  EXPECT_EQ(after["Software\\New"]["w"], std::make_pair(REG_SZ, "\u00e9\0"s));
}

}  // namespace
}  // namespace inireg
