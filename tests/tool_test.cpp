// The inireg command run as a user runs it: exit statuses, output, and the
// files and registry contents afterwards.  Each test has a registry database
// of its own (INIREG_REGISTRY), which the test also reads in-process.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "inireg/profile_store.h"
#include "inireg/version.h"
#include "inireg/win32_registry.h"
#include "test_support.h"

namespace inireg {
namespace {

using namespace std::string_literals;
using test_support::ReadFile;
using test_support::WriteFile;

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
    if (RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
      break;
    std::string data(size + 1, '\0');
    nameSize = 16384;
    ASSERT_EQ(RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type,
                            reinterpret_cast<BYTE*>(&data[0]), &size),
              ERROR_SUCCESS);
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

  Result Run(const std::vector<std::string>& arguments, const std::string& database = "",
             const std::string& input = "/dev/null") {
    std::string command =
        "INIREG_REGISTRY=" + Quote(database.empty() ? db_ : database) + " " + Quote(INIREG_TOOL);
    for (const std::string& argument : arguments) command += " " + Quote(argument);
    command +=
        " <" + Quote(input) + " >" + Quote(dir_.File("out")) + " 2>" + Quote(dir_.File("err"));
    int raw = std::system(command.c_str());
    Result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFile(dir_.File("out"));
    result.err = ReadFile(dir_.File("err"));
    return result;
  }

  // Runs and checks the status; a failure shows what the command said.
  std::string Expect(int status, const std::vector<std::string>& arguments,
                     const std::string& database = "", const std::string& input = "/dev/null") {
    Result result = Run(arguments, database, input);
    EXPECT_EQ(result.status, status) << arguments[0] << ": " << result.err;
    if (status == 0) {
      EXPECT_EQ(result.err, "");
    } else {
      EXPECT_NE(result.err.find("inireg: "), std::string::npos);
      EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
    }
    return status == 0 ? result.out : result.err;
  }

  Tree Registry(const std::string& subkey, const std::string& database = "",
                HKEY root = HKEY_CURRENT_USER) {
    SetRegistryDatabasePath(database.empty() ? db_ : database);
    Tree tree;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      ReadTree(key, subkey, &tree);
      RegCloseKey(key);
    }
    return tree;
  }

  void Put(const std::string& subkey, const std::string& name, DWORD type,
           const std::string& data) {
    SetRegistryDatabasePath(db_);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  // What a profile reader makes of INI text: section -> key -> value, in the
  // store's own terms (names as listed, values as GetString reads them).
  std::map<std::string, std::map<std::string, std::string>> ReadBack(const std::string& ini) {
    std::string file = dir_.File("readback" + std::to_string(++readBacks_) + ".ini");
    WriteFile(file, ini);
    ProfileStore store(file);
    std::map<std::string, std::map<std::string, std::string>> result;
    int32_t sectionCount = 0;
    std::unique_ptr<std::string[]> sections(store.GetSectionNames(&sectionCount));
    for (int32_t s = 0; s < sectionCount; ++s) {
      auto& keys = result[sections[s]];
      int32_t keyCount = 0;
      std::unique_ptr<std::string[]> names(store.GetKeyNames(&keyCount, sections[s]));
      for (int32_t k = 0; k < keyCount; ++k) {
        std::string value;
        store.GetString(value, "", names[k], sections[s]);
        keys[names[k]] = value;
      }
    }
    return result;
  }

  // The files in the test's folder other than the registry database's.
  std::vector<std::string> FolderEntries() {
    std::vector<std::string> names;
    DIR* folder = opendir(dir_.path().c_str());
    while (dirent* entry = readdir(folder)) {
      if (std::string(entry->d_name).find(".db") == std::string::npos)
        names.push_back(entry->d_name);
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
  }

  test_support::TempDir dir_;
  std::string db_ = dir_.File("registry.db");
  int readBacks_ = 0;
};

TEST_F(ToolTest, ProfileVerbs) {
  std::string ini = dir_.File("app.ini");
  // Blanks and enclosing quotes that the reader would trim are kept by quoting.
  Expect(0, {"set", ini, "Window", "Title", "  \"Main window\"  "});
  Expect(0, {"set", ini, "Window", "Width", "-640", "--int"});
  Expect(0, {"set", ini, "Paths", "Home", "C:\\Users"});
  EXPECT_EQ(ReadFile(ini),
            "[Window]\nTitle=\"  \"Main window\"  \"\nWidth=-640\n\n[Paths]\nHome=C:\\Users\n");
  EXPECT_EQ(Expect(0, {"get", ini, "window", "title"}), "  \"Main window\"  \n");
  Expect(0, {"set", ini, "Window", "Title", "Main window"});
  EXPECT_EQ(Expect(0, {"get", ini, "window", "title"}), "Main window\n");

  EXPECT_EQ(Expect(0, {"get", ini, "Window", "Width", "--int"}), "-640\n");
  Expect(0, {"set", ini, "Window", "Mask", "ff"});
  EXPECT_EQ(Expect(0, {"get", "--hex", ini, "Window", "Mask"}), "255\n");
  EXPECT_NE(Expect(1, {"get", ini, "Window", "Height"}).find("no value \"Height\""),
            std::string::npos);
  EXPECT_EQ(Expect(0, {"get", ini, "Window", "Height", "--default", ""}), "\n");
  EXPECT_EQ(Expect(0, {"get", ini, "Window", "Height", "--int", "--default=480"}), "480\n");
  Expect(1, {"get", ini, "Window", "Height", "--int"});
  Expect(1, {"get", dir_.File("missing.ini"), "Window", "Title"});

  // --int and --hex refuse what is not a number in range instead of guessing.
  Expect(0, {"set", ini, "Numbers", "yes", "true"});
  Expect(0, {"set", ini, "Numbers", "big", "9000000000"});
  Expect(0, {"set", ini, "Numbers", "min", "-2147483648"});
  EXPECT_NE(
      Expect(2, {"get", ini, "Numbers", "yes", "--int"}).find("\"true\", not a decimal number"),
      std::string::npos);
  EXPECT_NE(
      Expect(2, {"get", ini, "Numbers", "big", "--int"}).find("from -2147483648 to 2147483647"),
      std::string::npos);
  EXPECT_EQ(Expect(0, {"get", ini, "Numbers", "min", "--int"}), "-2147483648\n");
  EXPECT_NE(Expect(2, {"get", ini, "Numbers", "yes", "--hex"}).find("not a hexadecimal number"),
            std::string::npos);
  Expect(2, {"get", ini, "Numbers", "big", "--hex"});
  Expect(0, {"delete", ini, "Numbers"});

  EXPECT_EQ(Expect(0, {"sections", ini}), "Window\nPaths\n");
  EXPECT_EQ(Expect(0, {"keys", ini, "Window"}), "Title\nWidth\nMask\n");
  EXPECT_EQ(Expect(0, {"dump", ini}),
            "[Window]\nTitle=Main window\nWidth=-640\nMask=ff\n\n[Paths]\nHome=C:\\Users\n");

  // Listings of what is not there say so and exit 1; an empty file lists nothing, exit 0.
  EXPECT_NE(Expect(1, {"sections", dir_.File("missing.ini")}).find("there is no file"),
            std::string::npos);
  Expect(1, {"dump", dir_.File("missing.ini")});
  Expect(1, {"keys", dir_.File("missing.ini"), "Window"});
  EXPECT_NE(Expect(1, {"keys", ini, "Nothing"}).find("no section \"Nothing\""), std::string::npos);
  WriteFile(dir_.File("empty.ini"), "");
  EXPECT_EQ(Expect(0, {"sections", dir_.File("empty.ini")}), "");

  // Refused writes change nothing.
  std::string before = ReadFile(ini);
  EXPECT_NE(Expect(2, {"set", ini, "Window", "a=b", "1"}).find("refused"), std::string::npos);
  EXPECT_NE(Expect(2, {"set", ini, "Window", "Title", "two\nlines"}).find("refused"),
            std::string::npos);
  EXPECT_NE(Expect(2, {"set", "--read-only", ini, "Window", "Title", "x"}).find("--read-only"),
            std::string::npos);
  Expect(2, {"set", ini, "Window", "Title", "1", "--type=dword"});
  Expect(2, {"delete", "--read-only", ini, "Window"});
  Expect(2, {"delete", "--read-only", ini, "Window", "Title"});
  EXPECT_EQ(ReadFile(ini), before);

  // A section's lines go from its header to the next header.
  Expect(0, {"delete", ini, "WINDOW"});
  EXPECT_EQ(ReadFile(ini), "[Paths]\nHome=C:\\Users\n\n");
  Result again = Run({"delete", ini, "Window"});
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.err.find("nothing to delete"), std::string::npos);
}

// A hand-written file edited by the command keeps every line the edit does
// not name, byte for byte: comments, blank lines, lines before the first
// header, CR LF line ends, odd spacing, a byte-order mark.
TEST_F(ToolTest, ProfileWritesKeepTheFileLayout) {
  const std::string original =
      "\xEF\xBB\xBF; settings of the example\r\n"
      "loose line before any section\r\n"
      "\r\n"
      "[Window]   ; the main window\r\n"
      "  Title   =  Main window  \r\n"
      "; width in pixels\r\n"
      "Width\t= 640\r\n"
      "\r\n"
      "[Paths]\r\n"
      "Home = C:\\Users\r\n"
      "Temp=C:\\Temp\r\n"
      "\r\n"
      "# trailing remark\r\n"
      "[Old]\r\n"
      "gone=yes\r\n";
  std::string ini = dir_.File("hand.ini");
  WriteFile(ini, original);

  // An unchanged value rewrites nothing; a changed one only its value.
  Expect(0, {"set", ini, "Window", "Title", "Main window"});
  EXPECT_EQ(ReadFile(ini), original);
  Expect(0, {"set", ini, "window", "title", " Spaced "});
  Expect(0, {"set", ini, "Window", "Height", "480"});
  Expect(0, {"delete", ini, "Paths", "Temp"});
  Expect(0, {"delete", ini, "Old"});
  Expect(0, {"set", ini, "New", "k", "v"});
  const std::string edited =
      "\xEF\xBB\xBF; settings of the example\r\n"
      "loose line before any section\r\n"
      "\r\n"
      "[Window]   ; the main window\r\n"
      "  Title   =  \" Spaced \"\r\n"
      "; width in pixels\r\n"
      "Width\t= 640\r\n"
      "Height=480\r\n"
      "\r\n"
      "[Paths]\r\n"
      "Home = C:\\Users\r\n"
      "\r\n"
      "# trailing remark\r\n"
      "\r\n"
      "[New]\r\n"
      "k=v\r\n";
  EXPECT_EQ(ReadFile(ini), edited);
  EXPECT_EQ(Expect(0, {"get", ini, "Window", "Title"}), " Spaced \n");

  // A merge is one more edit of the same kind.
  WriteFile(dir_.File("fragment.ini"), "[Paths]\nHome=D:\\Home\n[Window]\nWidth=800\n");
  Expect(0, {"merge", ini, dir_.File("fragment.ini")});
  std::string merged = edited;
  merged.replace(merged.find("Home = C:\\Users"), 15, "Home = D:\\Home");
  merged.replace(merged.find("Width\t= 640"), 11, "Width\t= 800");
  EXPECT_EQ(ReadFile(ini), merged);

  // --rewrite writes the plain whole-file form: comments, odd lines and
  // the file's own line ends go.
  Expect(0, {"set", "--rewrite", ini, "Window", "Width", "1024"});
  EXPECT_EQ(ReadFile(ini),
            "\xEF\xBB\xBF[Window]\nTitle=\" Spaced \"\nWidth=1024\nHeight=480\n\n"
            "[Paths]\nHome=D:\\Home\n\n[New]\nk=v\n\n");
  WriteFile(ini, original);
  Expect(0, {"delete", ini, "Paths", "Temp", "--rewrite"});
  EXPECT_EQ(ReadFile(ini),
            "\xEF\xBB\xBF[Window]\nTitle=Main window\nWidth=640\n\n[Paths]\nHome=C:\\Users\n\n"
            "[Old]\ngone=yes\n\n");
  EXPECT_NE(Expect(2, {"set", "--rewrite", "reg:CU\\Software\\Tool", "S", "k", "v"})
                .find("--rewrite is for profile"),
            std::string::npos);
  Expect(2, {"get", "--rewrite", ini, "Window", "Title"});
}

// delete TARGET SECTION KEY removes one entry of a profile file, the first
// of its name (the one get reads), and reports what is not there.
TEST_F(ToolTest, DeleteOneProfileKey) {
  std::string ini = dir_.File("keys.ini");
  WriteFile(ini, "[S]\na=1\nb=2\nA=3\n[T]\na=t\n");
  Expect(0, {"delete", ini, "s", "A"});
  EXPECT_EQ(ReadFile(ini), "[S]\nb=2\nA=3\n[T]\na=t\n");
  EXPECT_EQ(Expect(0, {"get", ini, "S", "a"}), "3\n");
  Expect(0, {"delete", ini, "S", "a"});
  EXPECT_EQ(ReadFile(ini), "[S]\nb=2\n[T]\na=t\n");

  for (const std::vector<std::string>& missing :
       {std::vector<std::string>{"S", "a"}, {"Nowhere", "b"}}) {
    Result result = Run({"delete", ini, missing[0], missing[1]});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("no key \"" + missing[1] + "\" in section \"" + missing[0] + "\""),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("nothing to delete"), std::string::npos);
  }
  Result absent = Run({"delete", dir_.File("absent.ini"), "S", "a"});
  EXPECT_EQ(absent.status, 0);
  EXPECT_NE(absent.err.find("nothing to delete"), std::string::npos);
  EXPECT_FALSE(test_support::FileExists(dir_.File("absent.ini")));
  EXPECT_EQ(ReadFile(ini), "[S]\nb=2\n[T]\na=t\n");

  // The last key goes; its section header stays, as an empty section.
  Expect(0, {"delete", ini, "T", "a"});
  EXPECT_EQ(ReadFile(ini), "[S]\nb=2\n[T]\n");
  EXPECT_EQ(Expect(0, {"sections", ini}), "S\nT\n");
}

// merge applies every entry of a fragment, read as the profile reader reads
// it, from a file or standard input; a fragment with a line that would be
// lost or misread changes nothing.
TEST_F(ToolTest, MergeAppliesAFragment) {
  std::string ini = dir_.File("merge.ini");
  WriteFile(ini, "[Window]\nTitle=Old\n");
  std::string fragment = dir_.File("fragment.ini");
  WriteFile(fragment,
            "; settings to apply\r\n"
            "\r\n"
            "[window]\r\n"
            "  Title =  New title  \r\n"
            "Quoted=\"  kept  \"\r\n"
            "Empty=\r\n"
            "Both=\"\"x\"\"\r\n"
            "[Paths]\r\n"
            "Home=C:\\Users\r\n"
            "[Window]\r\n"
            "Title=Later wins\r\n");
  Expect(0, {"merge", ini, fragment});
  std::map<std::string, std::map<std::string, std::string>> expected = {
      {"Window",
       {{"Title", "Later wins"}, {"Quoted", "  kept  "}, {"Empty", ""}, {"Both", "\"x\""}}},
      {"Paths", {{"Home", "C:\\Users"}}}};
  EXPECT_EQ(ReadBack(ReadFile(ini)), expected);
  EXPECT_EQ(ReadFile(ini),
            "[Window]\nTitle=Later wins\nQuoted=\"  kept  "
            "\"\nEmpty=\nBoth=\"\"x\"\"\n\n[Paths]\nHome=C:\\Users\n");

  // Standard input, with "-" and without FILE; a byte-order mark is no text.
  WriteFile(dir_.File("stdin.ini"), "\xEF\xBB\xBF[Window]\nFromStdin=1\n");
  Expect(0, {"merge", ini, "-"}, "", dir_.File("stdin.ini"));
  WriteFile(dir_.File("stdin.ini"), "[Window]\nAlsoStdin=2\n");
  Expect(0, {"merge", ini}, "", dir_.File("stdin.ini"));
  // UTF-16LE with its byte-order mark, as Notepad may save it.
  std::string wide = "\xFF\xFE";
  for (char c : std::string("[Wide]\r\nk=\xe9\r\n")) wide += std::string{c, '\0'};
  WriteFile(dir_.File("wide.ini"), wide);
  Expect(0, {"merge", ini, dir_.File("wide.ini")});
  EXPECT_EQ(Expect(0, {"get", ini, "Window", "FromStdin"}), "1\n");
  EXPECT_EQ(Expect(0, {"get", ini, "Window", "AlsoStdin"}), "2\n");
  EXPECT_EQ(Expect(0, {"get", ini, "Wide", "k"}), "\u00e9\n");

  // Refusals name the line and leave the file as it was (or absent).
  const std::string before = ReadFile(ini);
  const std::pair<std::string, std::string> refused[] = {
      {"k=v\n[S]\n", "line 1: an entry before the first [section] header"},
      {"[S]\na=1\njust words\n", "line 3: neither a [section] header"},
      {"[S]\na=1\n=orphan\n", "line 3: an entry without a key"},
      {"[S]\n; note: a=b\n", "line 2: a line starting with \";\" that holds \"=\""},
      {"[S]\n# x=y\n", "line 2: a line starting with \"#\""},
      {"[S\na=1\n", "line 1: a section header without its closing \"]\""},
      {"[]\na=1\n", "line 1: a section header without a name"},
      {"[S]\na=1\rb=2\n", "line 2: the value holds a line break"},
      {"[S]\na=1\nb=x\0y\n"s, "line 3: the line holds a NUL byte"},
      {"[S]\nk=" + std::string(40000, 'v') + "\n", "line 2: the line is over 32767 characters"},
  };
  for (const auto& [text, message] : refused) {
    SCOPED_TRACE(message);
    WriteFile(fragment, text);
    std::string err = Expect(2, {"merge", ini, fragment});
    EXPECT_NE(err.find(fragment + " " + message), std::string::npos) << err;
    EXPECT_NE(err.find("nothing was written"), std::string::npos) << err;
    EXPECT_EQ(ReadFile(ini), before);
    Expect(2, {"merge", dir_.File("new.ini"), fragment});
    EXPECT_FALSE(test_support::FileExists(dir_.File("new.ini")));
    EXPECT_NE(Expect(2, {"merge", "reg:CU\\Software\\Merged", "-"}, "", fragment)
                  .find("standard input line"),
              std::string::npos);
  }
  EXPECT_TRUE(Registry("Software\\Merged").empty());
  Expect(2, {"merge", ini, dir_.File("missing-fragment.ini")});
  Expect(2, {"merge", "--read-only", ini, "-"}, "", dir_.File("stdin.ini"));
  Expect(2, {"merge", "--rewrite", "reg:CU\\Software\\Merged", "-"}, "", dir_.File("stdin.ini"));
  EXPECT_EQ(ReadFile(ini), before);

  // Into the registry: each entry a REG_SZ value with its NUL, as set writes it.
  WriteFile(fragment,
            "[Window]\nTitle=\" Main \"\nWidth=640\n[Window\\Child]\n(Default)=unnamed\n");
  Expect(0, {"merge", "reg:CU\\Software\\Merged", fragment});
  Tree tree = Registry("Software\\Merged");
  EXPECT_EQ(tree["Software\\Merged\\Window"]["Title"], std::make_pair(REG_SZ, " Main \0"s));
  EXPECT_EQ(tree["Software\\Merged\\Window"]["Width"], std::make_pair(REG_SZ, "640\0"s));
  EXPECT_EQ(tree["Software\\Merged\\Window\\Child"][""], std::make_pair(REG_SZ, "unnamed\0"s));
}

// set --existing changes only what is there, for both kinds of target.
TEST_F(ToolTest, SetExistingRefusesWhatIsMissing) {
  std::string ini = dir_.File("existing.ini");
  WriteFile(ini, "[S]\nk=1\n");
  Expect(0, {"set", "--existing", ini, "s", "K", "2"});
  EXPECT_EQ(ReadFile(ini), "[S]\nk=2\n");
  EXPECT_NE(Expect(2, {"set", "--existing", ini, "S", "other", "3"})
                .find("no key \"other\" in section \"S\""),
            std::string::npos);
  EXPECT_NE(Expect(2, {"set", "--existing", ini, "T", "k", "3"}).find("no section \"T\""),
            std::string::npos);
  Expect(2, {"set", "--existing", dir_.File("absent.ini"), "S", "k", "3"});
  EXPECT_EQ(ReadFile(ini), "[S]\nk=2\n");
  EXPECT_FALSE(test_support::FileExists(dir_.File("absent.ini")));

  const std::string target = "reg:CU\\Software\\Existing";
  EXPECT_NE(Expect(2, {"set", "--existing", target, "S", "k", "1"}).find("no section \"S\""),
            std::string::npos);
  EXPECT_TRUE(Registry("Software\\Existing").empty());
  Put("Software\\Existing\\S", "k", REG_DWORD, "\1\0\0\0"s);
  EXPECT_NE(Expect(2, {"set", "--existing", target, "S", "other", "1"}).find("no key \"other\""),
            std::string::npos);
  Expect(0, {"set", "--existing", target, "S", "k", "7", "--type=dword"});
  Tree tree = Registry("Software\\Existing");
  EXPECT_EQ(tree["Software\\Existing\\S"].size(), 1u);
  EXPECT_EQ(tree["Software\\Existing\\S"]["k"], std::make_pair(REG_DWORD, "\7\0\0\0"s));
}

TEST_F(ToolTest, OutputFormats) {
  std::string ini = dir_.File("f.ini");
  WriteFile(ini, "[Main]\nname=it's here\nspaced=\"  x \"\n1st key=v\n\n[Other]\nk=\n");
  EXPECT_EQ(Expect(0, {"get", ini, "Main", "name", "--format=lines"}), "it's here\n");
  EXPECT_EQ(Expect(0, {"get", ini, "Main", "name", "--format", "sh"}), "name='it'\\''s here'\n");
  EXPECT_EQ(Expect(0, {"get", ini, "Main", "spaced", "--format=ini"}), "[Main]\nspaced=\"  x \"\n");
  EXPECT_EQ(Expect(0, {"get", ini, "Main", "absent", "--format=sh", "--default=d"}),
            "absent='d'\n");
  EXPECT_EQ(Expect(0, {"sections", ini, "--format=ini"}), "[Main]\n[Other]\n");
  EXPECT_EQ(Expect(0, {"sections", ini, "--format=sh"}), "'Main'\n'Other'\n");
  EXPECT_EQ(Expect(0, {"keys", ini, "main", "--format=sh"}),
            "name='it'\\''s here'\nspaced='  x '\n_1st_key='v'\n");
  EXPECT_EQ(Expect(0, {"keys", ini, "Main", "--format=ini"}),
            "[Main]\nname=it's here\nspaced=\"  x \"\n1st key=v\n");
  EXPECT_EQ(Expect(0, {"dump", ini, "--format=lines"}),
            "[Main] name=it's here\n[Main] spaced=\"  x \"\n[Main] 1st key=v\n[Other] k=\n");
  EXPECT_EQ(Expect(0, {"dump", ini, "--format=sh"}),
            "Main_name='it'\\''s here'\nMain_spaced='  x '\nMain_1st_key='v'\nOther_k=''\n");
  // What sh prints, a shell reads back as the values.
  std::string script = dir_.File("values.sh");
  WriteFile(script, Expect(0, {"dump", ini, "--format=sh"}) +
                        "printf '%s|%s|' \"$Main_name\" \"$Main_spaced\"\n");
  std::string printed;
  {
    std::string command = "sh " + Quote(script) + " >" + Quote(dir_.File("sh.out"));
    ASSERT_EQ(std::system(command.c_str()), 0);
    printed = ReadFile(dir_.File("sh.out"));
  }
  EXPECT_EQ(printed, "it's here|  x |");
  EXPECT_NE(Expect(2, {"dump", ini, "--format=xml"}).find("expected ini, sh or lines"),
            std::string::npos);
  Expect(2, {"export", "CU\\Software", "--format=ini"});
}

TEST_F(ToolTest, RegistryVerbs) {
  const std::string target = "reg:CU\\Software\\Tool";
  Expect(0, {"set", target, "Window", "Title", "Main"});
  Expect(0, {"set", target, "Window", "Width", "640", "--int"});
  Expect(0, {"set", target, "Window", "Flags", "0xffffffff", "--dword"});
  Expect(0, {"set", "reg:HKEY_CURRENT_USER\\Software\\Tool", "Window", "(Default)", "unnamed"});
  Expect(0, {"set", target, "Types", "expand", "%PATH%;x", "--type=expand_sz"});
  Expect(0, {"set", target, "Types", "multi", "one\ntwo words", "--type", "multi_sz"});
  Expect(0, {"set", target, "Types", "dword", "42", "--type=REG_DWORD"});
  Expect(0, {"set", target, "Types", "qword", "0x0102030405060708", "--type=qword"});
  Expect(0, {"set", target, "Types", "binary", "01,fe, 00", "--type=binary"});
  Expect(0, {"set", target, "Types", "(Default)", "7", "--type=dword"});
  Put("Software\\Tool\\Window", "Blob", REG_BINARY, "\x01\xfe"s);
  Put("Software\\Tool\\Window\\Deeper", "x", REG_SZ, "y");
  Put("Software\\Tool\\Other", "q", REG_QWORD, "\x02\0\0\0\0\0\0\0"s);

  // Text is stored with its terminating NUL, as reg add stores it.
  Tree tree = Registry("Software\\Tool");
  EXPECT_EQ(tree["Software\\Tool\\Window"]["Title"], std::make_pair(REG_SZ, "Main\0"s));
  EXPECT_EQ(tree["Software\\Tool\\Window"]["Width"], std::make_pair(REG_SZ, "640\0"s));
  EXPECT_EQ(tree["Software\\Tool\\Window"]["Flags"],
            std::make_pair(REG_DWORD, "\xff\xff\xff\xff"s));
  EXPECT_EQ(tree["Software\\Tool\\Window"][""], std::make_pair(REG_SZ, "unnamed\0"s));
  EXPECT_EQ(tree["Software\\Tool\\Types"]["expand"], std::make_pair(REG_EXPAND_SZ, "%PATH%;x\0"s));
  EXPECT_EQ(tree["Software\\Tool\\Types"]["multi"],
            std::make_pair(REG_MULTI_SZ, "one\0two words\0\0"s));
  EXPECT_EQ(tree["Software\\Tool\\Types"]["dword"], std::make_pair(REG_DWORD, "\x2a\0\0\0"s));
  EXPECT_EQ(tree["Software\\Tool\\Types"]["qword"],
            std::make_pair(REG_QWORD, "\x08\x07\x06\x05\x04\x03\x02\x01"s));
  EXPECT_EQ(tree["Software\\Tool\\Types"]["binary"], std::make_pair(REG_BINARY, "\x01\xfe\x00"s));
  EXPECT_EQ(tree["Software\\Tool\\Types"][""], std::make_pair(REG_DWORD, "\x07\0\0\0"s));

  EXPECT_EQ(Expect(0, {"get", target, "Window", "Title"}), "Main\n");
  EXPECT_EQ(Expect(0, {"get", target, "Window", "Width", "--int"}), "640\n");
  EXPECT_EQ(Expect(0, {"get", target, "Window", "Flags"}), "4294967295\n");
  EXPECT_EQ(Expect(0, {"get", target, "Window", "Flags", "--int"}), "-1\n");
  EXPECT_EQ(Expect(0, {"get", target, "Window", "(Default)"}), "unnamed\n");
  EXPECT_EQ(Expect(0, {"get", target, "Window", "Blob"}), "hex:01,fe\n");
  EXPECT_EQ(Expect(0, {"get", target, "Other", "q"}), "2\n");
  EXPECT_EQ(Expect(0, {"get", target, "Types", "multi"}), "one\ntwo words\n");
  EXPECT_EQ(Expect(0, {"get", target, "Types", "multi", "--format=ini"}),
            "[Types]\nmulti=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,20,00,77,00,6f,00,72,"
            "00,64,00,73,00,00,00,00,00\n");
  EXPECT_EQ(Expect(0, {"get", target, "Types", "qword"}), "72623859790382856\n");
  Expect(1, {"get", target, "Window", "Nothing"});
  EXPECT_NE(Expect(2, {"get", target, "Window", "Blob", "--int"}).find("shows as hex:01,fe"),
            std::string::npos);
  Expect(1, {"get", "reg:CU\\Software\\Absent", "Window", "Title"});
  EXPECT_EQ(Expect(0, {"sections", target}), "Other\nTypes\nWindow\n");
  EXPECT_EQ(Expect(0, {"keys", target, "Window"}), "Title\nWidth\nFlags\n(Default)\nBlob\n");
  EXPECT_EQ(
      Expect(0, {"dump", target}),
      "[Other]\nq=2\n\n[Types]\nexpand=%PATH%;x\n"
      "multi=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,20,00,77,00,6f,00,72,00,64,00,73,00,"
      "00,00,00,00\n"
      "dword=42\nqword=72623859790382856\nbinary=hex:01,fe,00\n(Default)=7\n\n"
      "[Window]\nTitle=Main\nWidth=640\nFlags=4294967295\n(Default)=unnamed\nBlob=hex:01,fe\n");
  EXPECT_NE(Expect(1, {"sections", "reg:CU\\Software\\Absent"})
                .find("there is no key HKEY_CURRENT_USER\\Software\\Absent"),
            std::string::npos);
  Expect(1, {"keys", target, "Absent"});
  Expect(1, {"dump", "reg:CU\\Software\\Absent"});

  // Values the types cannot hold are refused before anything is written.
  Expect(2, {"set", target, "Types", "dword", "4294967296", "--type=dword"});
  Expect(2, {"set", target, "Types", "qword", "18446744073709551616", "--type=qword"});
  Expect(2, {"set", target, "Types", "binary", "0g", "--type=binary"});
  Expect(2, {"set", target, "Types", "binary", "012", "--type=binary"});
  Expect(2, {"set", target, "Types", "multi", "a\n\nb", "--type=multi_sz"});
  Expect(2, {"set", target, "Types", "dword", "1", "--type=dword", "--int"});
  Expect(2, {"set", target, "Types", "dword", "1", "--type=sz", "--dword"});

  // --read-only refuses writes and leaves the registry alone.
  tree = Registry("Software\\Tool");
  Expect(2, {"set", "--read-only", target, "Window", "Title", "Other"});
  Expect(2, {"delete", "--read-only", target, "Window"});
  Expect(2, {"delete", "--read-only", target, "Window", "Title"});
  Expect(2, {"import", "--read-only", dir_.File("any.reg")});
  EXPECT_EQ(Registry("Software\\Tool"), tree);

  // --registry wins over INIREG_REGISTRY, in both spellings.
  std::string other = dir_.File("other.db");
  Expect(0, {"--registry", other, "set", target, "Window", "Title", "Elsewhere"});
  Expect(0, {"--registry=" + other, "set", target, "Window", "Width", "1"});
  EXPECT_EQ(Registry("Software\\Tool"), tree);
  EXPECT_EQ(Registry("Software\\Tool", other)["Software\\Tool\\Window"]["Title"].second,
            "Elsewhere\0"s);
  EXPECT_EQ(Registry("Software\\Tool", other)["Software\\Tool\\Window"]["Width"].second, "1\0"s);

  // One value, then a whole section.
  Expect(0, {"delete", target, "Window", "title"});
  Expect(0, {"delete", target, "Types", "(Default)"});
  Result absent = Run({"delete", target, "Window", "Title"});
  EXPECT_EQ(absent.status, 0);
  EXPECT_NE(absent.err.find("nothing to delete"), std::string::npos);
  tree = Registry("Software\\Tool");
  EXPECT_EQ(tree["Software\\Tool\\Window"].count("Title"), 0u);
  EXPECT_EQ(tree["Software\\Tool\\Window"].count("Width"), 1u);
  EXPECT_EQ(tree["Software\\Tool\\Types"].count(""), 0u);
  Expect(0, {"delete", target, "window"});
  tree = Registry("Software\\Tool");
  EXPECT_EQ(tree.count("Software\\Tool\\Window"), 0u);
  EXPECT_EQ(tree.count("Software\\Tool\\Window\\Deeper"), 0u);
  EXPECT_EQ(tree.count("Software\\Tool\\Other"), 1u);
}

TEST_F(ToolTest, CurrentConfigIsARoot) {
  for (const char* location : {"reg:CC\\Software\\Tool", "reg:HKCC\\Software\\Tool",
                               "reg:HKEY_CURRENT_CONFIG\\Software\\Tool"}) {
    SCOPED_TRACE(location);
    Expect(0, {"set", location, "S", "k", location});
    EXPECT_EQ(Expect(0, {"get", location, "S", "k"}), std::string(location) + "\n");
  }
  EXPECT_EQ(Registry("Software\\Tool", "", HKEY_CURRENT_CONFIG)["Software\\Tool\\S"]["k"].second,
            "reg:HKEY_CURRENT_CONFIG\\Software\\Tool\0"s);
  // Nothing of it shows under the user's tree.
  EXPECT_EQ(Registry("Software\\Tool").size(), 0u);
  // Like the other roots it cannot be deleted.
  SetRegistryDatabasePath(db_);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_CONFIG, ""), ERROR_ACCESS_DENIED);
  HKEY root = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_CONFIG, "", 0, KEY_READ, &root), ERROR_SUCCESS);
  EXPECT_EQ(root, HKEY_CURRENT_CONFIG);
  EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
  std::string file = dir_.File("cc.reg");
  Expect(0, {"export", "HKCC\\Software\\Tool", file, "--utf8"});
  EXPECT_NE(ReadFile(file).find("[HKEY_CURRENT_CONFIG\\Software\\Tool\\S]\r\n"), std::string::npos);
  std::string fresh = dir_.File("cc.db");
  Expect(0, {"import", file}, fresh);
  EXPECT_EQ(Registry("Software\\Tool", fresh, HKEY_CURRENT_CONFIG),
            Registry("Software\\Tool", "", HKEY_CURRENT_CONFIG));
}

// Whatever names and values the registry holds, dump prints INI that a
// profile reader takes back as the same sections and keys: no section or key
// appears that is not there, and none shows another's value.
TEST_F(ToolTest, DumpReadsBackAsTheSameSectionsAndKeys) {
  const std::string key = "Software\\Odd";
  Put(key + "\\S", "plain", REG_SZ, "1\0"s);
  Put(key + "\\S", "a=b", REG_SZ, "x\0"s);
  Put(key + "\\S", "broken\nline", REG_SZ, "y\0"s);
  Put(key + "\\S", "lines", REG_SZ, "first\n[Fake]\nk=v\0"s);
  Put(key + "\\S", "[bracket", REG_SZ, "z\0"s);
  Put(key + "\\S", " spaced ", REG_SZ, "w\0"s);
  Put(key + "\\S", "(Default)", REG_SZ, "named like the unnamed one\0"s);
  Put(key + "\\S", "", REG_SZ, "unnamed\0"s);
  Put(key + "\\S", "quoted", REG_SZ, " \"q\" \0"s);
  Put(key + "\\S", "escape", REG_SZ, "\x1b[31mred\0"s);
  Put(key + "\\Line\nBreak", "k", REG_SZ, "v\0"s);
  Put(key + "\\T]x", "k", REG_SZ, "v\0"s);
  std::string dump = Expect(0, {"dump", "reg:CU\\" + key});
  auto back = ReadBack(dump);
  std::map<std::string, std::map<std::string, std::string>> expected = {
      {"S",
       {{"plain", "1"},
        {"lines",
         "hex(1):66,00,69,00,72,00,73,00,74,00,0a,00,5b,00,46,00,61,00,6b,00,65,00,5d,00,0a,00,6b,"
         "00,3d,00,76,00,00,00"},
        {"(Default)", "unnamed"},
        {"quoted", " \"q\" "},
        {"escape", "\x1b[31mred"}}},
      {"T]x", {{"k", "v"}}},
  };
  EXPECT_EQ(back, expected) << dump;
  for (const char* left :
       {"; key \"a\\x3db\" is left out", "; key \"broken\\nline\" is left out",
        "; key \"[bracket\" is left out", "; key \" spaced \" is left out",
        "; key \"(Default)\" is left out", "; section \"Line\\nBreak\" is left out"}) {
    EXPECT_NE(dump.find(left), std::string::npos) << left << "\n" << dump;
  }

  // A profile file with two spellings of one key: the store reads the first.
  std::string ini = dir_.File("twice.ini");
  WriteFile(ini, "[S]\na=1\nA=2\n[s]\nb=3\n");
  dump = Expect(0, {"dump", ini});
  EXPECT_EQ(dump.find("A=1"), std::string::npos) << dump;
  EXPECT_EQ(dump.find("b=3"), std::string::npos) << dump;
  EXPECT_EQ(ReadBack(dump),
            (std::map<std::string, std::map<std::string, std::string>>{{"S", {{"a", "1"}}}}))
      << dump;
  EXPECT_EQ(Expect(0, {"dump", ini, "--format=sh"}), "S_a='1'\n");
}

TEST_F(ToolTest, MessagesEscapeControlCharacters) {
  std::string file = dir_.File("evil.reg");
  WriteFile(file, "Windows Registry Editor Version 5.00\r\n\r\n[\x1b]0;owned\x07\x1b[2J\\x]\r\n");
  std::string message = Expect(2, {"import", file});
  EXPECT_EQ(message.find('\x1b'), std::string::npos) << message;
  EXPECT_EQ(message.find('\x07'), std::string::npos) << message;
  EXPECT_NE(message.find("unknown root \"\\x1b]0;owned\\x07\\x1b[2J\""), std::string::npos)
      << message;
  message = Expect(1, {"get", dir_.File("a.ini"), "S\r\nx",
                       "k\x9b"
                       "1m"});
  EXPECT_NE(message.find("\"k\\x9b1m\" in section \"S\\r\\nx\""), std::string::npos) << message;
  message = Expect(1, {"get", dir_.File("a.ini"), "S", "k\xc2\x9b"});
  EXPECT_NE(message.find("\"k\\u009b\""), std::string::npos) << message;
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
      {{"get", "a.ini", "S", "K", "--int=1"}, "--int takes no value"},
      {{"get", "a.ini", "", "K"}, "SECTION is empty"},
      {{"get", "a.ini", "S", "K", "--int", "--hex"}, "exclude each other"},
      {{"get", "a.ini", "S", "K", "--int", "--default=x"}, "not a decimal 32-bit number"},
      {{"get", "reg:CU\\X", "S", "K", "--hex"}, "profile files only"},
      {{"get", "reg:XY\\Software", "S", "K"}, "unknown registry location"},
      {{"get", "reg:HKEY_DYN_DATA\\X", "S", "K"}, "unknown root"},
      {{"set", "a.ini", "S", "K", "12x", "--int"}, "is not a decimal number"},
      {{"set", "a.ini", "S", "K", "1", "--dword"}, "profile files hold text"},
      {{"set", "reg:CU\\X", "S", "K", "4294967296", "--dword"}, "0 to 4294967295"},
      {{"set", "reg:CU\\X", "S", "K", "1", "--type=word"}, "unknown type \"word\""},
      {{"delete", "a.ini", "S", "K", "L"}, "usage: inireg delete TARGET SECTION [KEY]"},
      {{"export", "CU\\Nowhere"}, "there is no key HKEY_CURRENT_USER\\Nowhere"},
      {{"export", "CU\\Software", "x.reg", "--utf8", "--utf16"}, "exclude each other"},
      {{"import", "/nonexistent/file.reg"}, "cannot open"},
      // What the stores would show as empty is reported.
      {{"sections", dir_.path()}, "cannot read"},
      {{"keys", "reg:CU\\X", "S", "--registry", garbage}, "cannot use the registry"},
  };
  for (const auto& [arguments, fragment] : cases) {
    Result result = Run(arguments);
    SCOPED_TRACE(arguments.empty()
                     ? "(none)"
                     : arguments[0] + " " + (arguments.size() > 1 ? arguments[1] : ""));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(fragment), std::string::npos) << result.err;
  }
  for (const char* verb :
       {"get", "set", "delete", "sections", "keys", "dump", "export", "import"}) {
    EXPECT_EQ(Expect(0, {verb, "--help"}).rfind(std::string("Usage: inireg ") + verb, 0), 0u)
        << verb;
  }
  EXPECT_NE(Expect(0, {"--help"}).find("Exit status"), std::string::npos);
  EXPECT_EQ(Expect(0, {"--version"}), "inireg " INIREG_VERSION_STRING "\n");
  EXPECT_EQ(Expect(0, {"get", "--version"}), "inireg " INIREG_VERSION_STRING "\n");
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
  Put(key, "name with\r\nline break", REG_SZ, "x\0"s);
  Put(key, "expand", REG_EXPAND_SZ, "%PATH%;x\0"s);
  Put(key, "odd expand", REG_EXPAND_SZ, "A\xed\xac\x80"s);
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

  for (bool utf8 : {false, true}) {
    SCOPED_TRACE(utf8 ? "UTF-8" : "UTF-16");
    std::string file = dir_.File(utf8 ? "narrow.reg" : "wide.reg");
    std::vector<std::string> arguments = {"export", "HKCU\\" + key, file};
    if (utf8) arguments.push_back("--utf8");
    Expect(0, arguments);
    std::string content = ReadFile(file);
    if (!utf8) {
      EXPECT_EQ(content.compare(0, 4, "\xFF\xFEW\0"s), 0);
    } else {
      EXPECT_EQ(content.find("Windows Registry Editor Version "
                             "5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Round]\r\n"),
                0u);
      for (const char* line :
           {"@=\"unnamed\"\r\n", "\"sz\"=\"text\"\r\n",
            "\"sz without NUL\"=hex(1):", "\"q\\\"u\\\\o\\\\\\\"te\"=\"\\\"C:\\\\dir\\\\\\\"\"\r\n",
            "\"name with\\r\\nline break\"=\"x\"\r\n", "\"odd expand\"=hex(2):41,00,00\r\n",
            "\"dword\"=dword:0000002a\r\n", "\"qword\"=hex(b):01,02,03",
            "\"odd type\"=hex(1234):00,01\r\n", "\"none\"=hex(0):\r\n"}) {
        EXPECT_NE(content.find(line), std::string::npos) << line;
      }
    }
    std::string fresh = dir_.File(utf8 ? "fresh8.db" : "fresh16.db");
    Expect(0, {"import", file}, fresh);
    EXPECT_EQ(Registry(key, fresh), original);
  }
  // Exporting to standard output gives the same file.
  EXPECT_EQ(Expect(0, {"export", "reg:CU\\" + key}), ReadFile(dir_.File("wide.reg")));
  EXPECT_EQ(Expect(0, {"export", "reg:CU\\" + key, "-", "--utf8"}),
            ReadFile(dir_.File("narrow.reg")));
}

// Exports go to a temporary file that is moved into place whole: an existing
// file is replaced only with --force and keeps its permissions, a failed
// export leaves it as it was, and no temporary file stays behind.
TEST_F(ToolTest, ExportWritesWholeFilesOnly) {
  Put("Software\\Ex", "v", REG_SZ, "1\0"s);
  std::string file = dir_.File("out.reg");
  WriteFile(file, "previous");
  chmod(file.c_str(), 0640);
  EXPECT_NE(Expect(2, {"export", "CU\\Software\\Ex", file}).find("exists; --force replaces it"),
            std::string::npos);
  std::vector<std::string> before = FolderEntries();
  EXPECT_EQ(ReadFile(file), "previous");

  // A key name no .reg line can carry fails the export before anything is written.
  Put("Software\\Ex\\bad\nname", "v", REG_SZ, "1\0"s);
  EXPECT_NE(Expect(2, {"export", "CU\\Software\\Ex", file, "--force"}).find("nothing was written"),
            std::string::npos);
  EXPECT_EQ(ReadFile(file), "previous");
  EXPECT_EQ(FolderEntries(), before);
  SetRegistryDatabasePath(db_);
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Ex\\bad\nname"), ERROR_SUCCESS);

  Expect(0, {"export", "CU\\Software\\Ex", file, "--force", "--utf8"});
  EXPECT_NE(ReadFile(file).find("\"v\"=\"1\""), std::string::npos);
  struct stat status;
  ASSERT_EQ(stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(FolderEntries(), before);

  // A new file gets the ordinary mode; the temporary one was private.
  std::string fresh = dir_.File("fresh.reg");
  Expect(0, {"export", "CU\\Software\\Ex", fresh});
  ASSERT_EQ(stat(fresh.c_str(), &status), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(status.st_mode & 07777, 0666u & ~mask);
  // A folder that does not exist: a failure, and nothing made.
  EXPECT_NE(Expect(2, {"export", "CU\\Software\\Ex", dir_.File("none/out.reg")})
                .find("cannot create a temporary file"),
            std::string::npos);
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

  // A key nested deeper than the registry allows is found before anything is
  // written too, rather than where the registry would refuse it.
  std::string deep = "[HKEY_CURRENT_USER\\Software\\Deep";
  for (int i = 0; i < 511; ++i) deep += "\\k";
  WriteFile(file,
            "Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Keep]\r\n" +
                deep + "]\r\n");
  EXPECT_NE(Expect(2, {"import", file}).find("line 4: the key lies more than 512 levels"),
            std::string::npos);
  EXPECT_EQ(Registry("Software"), before);

  // The same file without the bad line is applied in order; REGEDIT4 and
  // UTF-16 files work the same way, and - reads standard input.
  WriteFile(file,
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n"
            "[-HKEY_CURRENT_USER\\Software\\Keep]\r\n"
            "[HKEY_CURRENT_USER\\Software\\New]\r\n"
            "\"a\"=-\r\n"
            "\"b\"=hex:01,02,\\\r\n"
            "  03\r\n");
  Expect(0, {"import", "-"}, "", file);
  Tree after = Registry("Software");
  EXPECT_EQ(after.count("Software\\Keep"), 0u);
  EXPECT_EQ(after.count("Software\\Keep\\Child"), 0u);
  EXPECT_EQ(after["Software\\New"]["b"], std::make_pair(REG_BINARY, "\1\2\3"s));

  WriteFile(file, "REGEDIT4\n\n[HKCU\\Software\\New]\n\"b\"=-\n\"e\"=hex(2):41,00\n");
  Expect(0, {"import", file});
  std::u16string wide =
      u"Windows Registry Editor Version "
      u"5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\New]\r\n\"w\"=\"\u00e9\"\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : wide)
    bytes += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  WriteFile(file, bytes);
  Expect(0, {"import", file});
  after = Registry("Software\\New");
  EXPECT_EQ(after["Software\\New"].count("b"), 0u);
  EXPECT_EQ(after["Software\\New"]["e"], std::make_pair(REG_EXPAND_SZ, "A\0"s));
  EXPECT_EQ(after["Software\\New"]["w"], std::make_pair(REG_SZ, "\u00e9\0"s));
}

// Options and verbs as words of a text: every "--name" (roff writes "\-\-")
// and every name from `verbs` that occurs in it.
std::set<std::string> OptionsIn(std::string text) {
  for (size_t at; (at = text.find("\\-")) != std::string::npos;) text.replace(at, 2, "-");
  std::set<std::string> options;
  for (size_t at = 0; (at = text.find("--", at)) != std::string::npos;) {
    size_t end = at + 2;
    while (end < text.size() && ((text[end] >= 'a' && text[end] <= 'z') || text[end] == '-' ||
                                 text[end] == '8' || text[end] == '1' || text[end] == '6')) {
      ++end;
    }
    if (end > at + 2) options.insert(text.substr(at, end - at));
    at = end;
  }
  return options;
}

// inireg --help and the man page name the same verbs and options, and the
// bash completion offers each verb exactly the options the command takes.
TEST_F(ToolTest, HelpManPageAndCompletionAgree) {
  std::string help = Expect(0, {"--help"});
  std::string manual = ReadFile(INIREG_MAN_PAGE);
  EXPECT_EQ(OptionsIn(help), OptionsIn(manual));
  EXPECT_GE(OptionsIn(help).size(), 14u);
  const char* const verbs[] = {"get",  "set",  "delete", "merge", "sections",
                               "keys", "dump", "export", "import"};
  for (const char* verb : verbs) {
    EXPECT_NE(help.find(std::string("  ") + verb + " "), std::string::npos) << verb;
    EXPECT_NE(manual.find(std::string(".B ") + verb), std::string::npos) << verb;
  }

  std::string script = dir_.File("complete.sh");
  WriteFile(
      script,
      // Stand-ins for what the bash-completion package provides.
      "_init_completion() { words=(\"${COMP_WORDS[@]}\"); cword=$COMP_CWORD; cur=${words[cword]};"
      " prev=${words[cword-1]}; }\n"
      "_filedir() { COMPREPLY=(FILE); }\n"
      "compopt() { :; }\n"
      "complete() { :; }\n"
      "source " +
          Quote(INIREG_BASH_COMPLETION) +
          "\n"
          "COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _inireg\n"
          "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
  auto complete = [&](const std::string& words) {
    std::string command =
        "bash " + Quote(script) + " " + words + " >" + Quote(dir_.File("completion"));
    EXPECT_EQ(std::system(command.c_str()), 0) << words;
    return ReadFile(dir_.File("completion"));
  };
  EXPECT_EQ(complete("inireg ''"),
            "get\nset\ndelete\nmerge\nsections\nkeys\ndump\nexport\nimport\n");
  EXPECT_EQ(complete("inireg get app.ini S k --format="), "ini\nsh\nlines\n");
  EXPECT_EQ(complete("inireg set app.ini S k v --type ''"),
            "sz\nexpand_sz\nmulti_sz\ndword\nqword\nbinary\n");
  EXPECT_EQ(complete("inireg --registry x.db import ''"), "FILE\n");
  EXPECT_EQ(complete("inireg merge app.ini ''"), "FILE\n");
  EXPECT_EQ(complete("inireg merge app.ini x.ini ''"), "\n");
  for (const char* verb : verbs) {
    SCOPED_TRACE(verb);
    // The command names what a verb takes when it is given an unknown option.
    std::string refusal = Run({verb, "--unknown"}).err;
    size_t from = refusal.find(std::string(verb) + " takes ");
    ASSERT_NE(from, std::string::npos) << refusal;
    std::set<std::string> takes = OptionsIn(refusal.substr(from));
    takes.insert("--version");
    std::set<std::string> offered;
    std::string words = complete(std::string("inireg ") + verb + " --");
    for (size_t at = 0, end; (end = words.find('\n', at)) != std::string::npos; at = end + 1) {
      offered.insert(words.substr(at, end - at));
    }
    EXPECT_EQ(offered, takes);
  }
}

// What inireg exports, Windows' own reg.exe (Wine's, run as a program that
// knows nothing of inireg) imports, and what it exports again inireg imports
// to the same keys, types and bytes: the files are the registry editor's
// format, not only inireg's.
class WineInteropTest : public ToolTest {
 protected:
  void SetUp() override {
    std::string found = Shell("command -v wine64 || ls /usr/lib/wine/wine64 2>/dev/null");
    wine_ = found.substr(0, found.find('\n'));
    if (wine_.empty())
      GTEST_SKIP() << "wine64 is not installed; the round trip through reg.exe is not tested";
    wineserver_ = wine_.substr(0, wine_.rfind('/') + 1) + "wineserver";
    if (!test_support::FileExists(wineserver_))
      wineserver_ = Shell("command -v wineserver | tr -d '\\n'");
    // A prefix of the test's own in the build folder, made once, in the
    // environment every Wine program of the project gets (NAME=VALUE lines).
    environment_ = "WINEPREFIX=" + Quote(INIREG_WINE_PREFIX) + " ";
    std::istringstream settings(ReadFile(INIREG_WINE_ENVIRONMENT));
    for (std::string line; std::getline(settings, line);) {
      size_t equals = line.find('=');
      if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
      environment_ += line.substr(0, equals + 1) + Quote(line.substr(equals + 1)) + " ";
    }
    ASSERT_NE(environment_.find("WINEDEBUG="), std::string::npos) << INIREG_WINE_ENVIRONMENT;
    if (!test_support::FileExists(std::string(INIREG_WINE_PREFIX) + "/.inireg-ready")) {
      Shell("rm -rf " + Quote(INIREG_WINE_PREFIX));
      ASSERT_EQ(Wine("wineboot.exe --init"), 0)
          << "could not make the Wine prefix " << INIREG_WINE_PREFIX;
      WriteFile(std::string(INIREG_WINE_PREFIX) + "/.inireg-ready", "");
    }
  }

  void TearDown() override {
    // Ends the Wine server of this prefix only, which the test started.
    if (!wineserver_.empty())
      Shell(environment_ + Quote(wineserver_) + " -k; " + environment_ + Quote(wineserver_) +
            " -w");
    ToolTest::TearDown();
  }

  std::string Shell(const std::string& command) {
    std::string output = dir_.File("shell.out");
    int status = std::system((command + " </dev/null >" + Quote(output) + " 2>/dev/null").c_str());
    (void)status;
    return ReadFile(output);
  }

  int Wine(const std::string& arguments) {
    std::string command = "timeout 300 env " + environment_ + Quote(wine_) + " " + arguments +
                          " </dev/null >" + Quote(dir_.File("wine.out")) + " 2>&1";
    int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  // Wine's Z: drive is the root of the Linux file system.
  static std::string WindowsPath(std::string path) {
    for (char& c : path) c = c == '/' ? '\\' : c;
    return "Z:" + path;
  }

  std::string wine_, wineserver_, environment_;
};

TEST_F(WineInteropTest, EveryTypeAndNonAsciiTextRoundTripsThroughRegExe) {
  const std::string key = "Software\\InteropTest";
  Put(key, "", REG_SZ, "unnamed\0"s);
  Put(key, "sz", REG_SZ, "Gr\u00fc\u00dfe \u20ac \U0001F600\0"s);
  Put(key, "sz without NUL", REG_SZ, "stored as RegistryStore stores it");
  Put(key, "sz quotes", REG_SZ, "\"C:\\Program Files\\\"\0"s);
  Put(key, "expand", REG_EXPAND_SZ, "%SystemRoot%\\Gr\u00fc\u00dfe\0"s);
  Put(key, "multi", REG_MULTI_SZ, "eins\0zwei Gr\u00fc\u00dfe\0\0"s);
  Put(key, "dword", REG_DWORD, "\x2a\0\0\x80"s);
  Put(key, "qword", REG_QWORD, "\x01\x02\x03\x04\x05\x06\x07\x88"s);
  Put(key, "binary", REG_BINARY, std::string(200, '\xa5') + "\0\xff"s);
  Put(key, "none", REG_NONE, "\x01"s);
  Put(key, "type of its own", 0x1234, "\x00\x01\x02"s);
  Put(key + "\\Schl\u00fcssel \u00e9t\u00e9", "x", REG_SZ, "y\0"s);
  Put(key + "\\Empty", "", REG_BINARY, "");
  Tree original = Registry(key);

  std::string exported = dir_.File("inireg.reg");
  std::string reexported = dir_.File("regexe.reg");
  Expect(0, {"export", "HKCU\\" + key, exported});
  ASSERT_EQ(Wine("reg.exe import " + Quote(WindowsPath(exported))), 0)
      << ReadFile(dir_.File("wine.out"));
  ASSERT_EQ(Wine("reg.exe export " + Quote("HKCU\\" + key) + " " + Quote(WindowsPath(reexported)) +
                 " /y"),
            0)
      << ReadFile(dir_.File("wine.out"));
  // reg.exe writes UTF-16LE with a byte-order mark.
  ASSERT_EQ(ReadFile(reexported).compare(0, 2, "\xFF\xFE"), 0);

  std::string fresh = dir_.File("fresh.db");
  Expect(0, {"import", reexported}, fresh);
  Tree back = Registry(key, fresh);
  // Wine's registry, like Windows' through its Unicode conversion, ends
  // REG_SZ data written without a terminator with one; the text is the same.
  auto& unterminated = back[key]["sz without NUL"];
  EXPECT_EQ(unterminated, std::make_pair(REG_SZ, original[key]["sz without NUL"].second + '\0'));
  unterminated = original[key]["sz without NUL"];
  ASSERT_EQ(back.size(), original.size());
  for (const auto& [path, values] : original) {
    EXPECT_EQ(back[path].size(), values.size()) << path;
    for (const auto& [name, value] : values) {
      EXPECT_EQ(back[path][name], value) << path << " \"" << name << "\"";
    }
  }
}

}  // namespace
}  // namespace inireg
