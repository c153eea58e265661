// The .reg format in-process: what the reader makes of each kind of line,
// where it reports malformed ones, which representation the writer picks, and
// that writing and reading back gives the same data byte for byte.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "reg_file.h"
#include "registry_text.h"

namespace inireg::tool {
namespace {

using namespace std::string_literals;

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

RegDocument Parse(const std::string& content) {
  RegDocument document;
  RegParseError error;
  EXPECT_TRUE(ParseRegFile(content, &document, &error))
      << "line " << error.line << ": " << error.message;
  return document;
}

std::string Format(const RegDocument& document, RegEncoding encoding = RegEncoding::kUtf8) {
  std::string content, error;
  EXPECT_TRUE(FormatRegFile(document, encoding, &content, &error)) << error;
  return content;
}

std::string Utf16(const std::u16string& units) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

RegValue Value(const std::string& name, uint32_t type, const std::string& data) {
  RegValue value;
  value.name = name;
  value.type = type;
  value.data = data;
  return value;
}

RegDocument OneKey(std::vector<RegValue> values) {
  RegDocument document;
  RegKey key;
  key.subkey = "Software\\Test";
  key.values = std::move(values);
  document.keys.push_back(key);
  return document;
}

void ExpectValues(const std::vector<RegValue>& expected, const std::vector<RegValue>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (size_t v = 0; v < expected.size(); ++v) {
    SCOPED_TRACE("value " + std::to_string(v) + " \"" + expected[v].name + "\"");
    EXPECT_EQ(expected[v].name, actual[v].name);
    EXPECT_EQ(expected[v].remove, actual[v].remove);
    EXPECT_EQ(expected[v].type, actual[v].type);
    EXPECT_EQ(expected[v].data, actual[v].data);
  }
}

void ExpectSameDocument(const RegDocument& expected, const RegDocument& actual) {
  ASSERT_EQ(expected.keys.size(), actual.keys.size());
  for (size_t k = 0; k < expected.keys.size(); ++k) {
    SCOPED_TRACE("key " + expected.keys[k].subkey);
    EXPECT_EQ(expected.keys[k].root, actual.keys[k].root);
    EXPECT_EQ(expected.keys[k].subkey, actual.keys[k].subkey);
    EXPECT_EQ(expected.keys[k].remove, actual.keys[k].remove);
    ExpectValues(expected.keys[k].values, actual.keys[k].values);
  }
}

TEST(RegFileReadTest, EveryKindOfLine) {
  RegDocument document = Parse(kHeader +
                               "; a comment\r\n"
                               "[HKEY_CURRENT_USER\\Software\\Example]\r\n"
                               "@=\"unnamed\"\r\n"
                               "\"Path\"=\"C:\\\\Program Files\\\\\\\"x\\\"\"\r\n"
                               "\"Count\"=dword:0000002A\r\n"
                               "\"Short\" = dword:ff\r\n"
                               "\"Blob\"=hex:00,01,\\\r\n"
                               "  fe,ff\r\n"
                               "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                               "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                               "\"Odd\"=hex(1234):0a\r\n"
                               "\"Empty\"=hex(0):\r\n"
                               "\"Gone\"=-\r\n"
                               "\r\n"
                               "[-hkcu\\Software\\Old]\r\n"
                               "[HKLM\\SOFTWARE\\X]\n"
                               "[hku\\S-1]\n"
                               "[HKCR]\n");
  ASSERT_EQ(document.keys.size(), 5u);
  const RegKey& key = document.keys[0];
  EXPECT_EQ(key.root, RegRoot::kCurrentUser);
  EXPECT_EQ(key.subkey, "Software\\Example");
  EXPECT_EQ(key.line, 4);
  ASSERT_EQ(key.values.size(), 10u);
  RegValue gone = Value("Gone", kTypeNone, "");
  gone.remove = true;
  ExpectValues(
      {Value("", kTypeString, "unnamed\0"s),
       Value("Path", kTypeString, "C:\\Program Files\\\"x\"\0"s),
       Value("Count", kTypeDword, "\x2a\0\0\0"s), Value("Short", kTypeDword, "\xff\0\0\0"s),
       Value("Blob", kTypeBinary, "\x00\x01\xfe\xff"s),
       // Version 5.00 string hex is UTF-16LE, stored as registry text.
       Value("Expand", kTypeExpandString, "%A%\0"s), Value("Multi", kTypeMultiString, "a\0b\0\0"s),
       Value("Odd", 0x1234, "\x0a"), Value("Empty", kTypeNone, ""), gone},
      key.values);
  EXPECT_EQ(key.values[4].line, 9);
  EXPECT_TRUE(document.keys[1].remove);
  EXPECT_EQ(document.keys[1].subkey, "Software\\Old");
  EXPECT_EQ(document.keys[2].root, RegRoot::kLocalMachine);
  EXPECT_EQ(document.keys[3].root, RegRoot::kUsers);
  EXPECT_EQ(document.keys[4].root, RegRoot::kClassesRoot);
  EXPECT_EQ(document.keys[4].subkey, "");
}

TEST(RegFileReadTest, EncodingsAndHeaders) {
  const std::string body = "[HKEY_CURRENT_USER\\A]\r\n\"n\"=\"v\"\r\n\"e\"=hex(2):41,00,00,00\r\n";
  // REGEDIT4 string hex is the bytes themselves.
  RegDocument old = Parse("REGEDIT4\r\n\r\n" + body);
  EXPECT_TRUE(old.regedit4);
  EXPECT_EQ(old.keys[0].values[1].data, "A\0\0\0"s);

  RegDocument utf8 = Parse(kHeader + body);
  EXPECT_FALSE(utf8.regedit4);
  EXPECT_EQ(utf8.keys[0].values[1].data, "A\0"s);
  ExpectSameDocument(utf8, Parse("\xEF\xBB\xBF" + kHeader + body));
  std::u16string wide;
  for (char c : kHeader + body) wide += static_cast<char16_t>(c);
  ExpectSameDocument(utf8, Parse(Utf16(wide)));
}

TEST(RegFileReadTest, MalformedLinesNameTheirLine) {
  struct Case {
    std::string content;
    int line;
    const char* fragment;
  };
  const Case cases[] = {
      {"Windows Registry Editor Version 4.00\r\n", 1, "header"},
      {"", 1, "header"},
      {kHeader + "\"a\"=\"b\"\r\n", 3, "before the first [KEY]"},
      {kHeader + "[HKEY_CURRENT_USER\\A\r\n", 3, "must end with"},
      {kHeader + "[HKEY_DYN_DATA\\A]\r\n", 3, "unknown root"},
      // Beyond the registry's nesting limit: refused before anything is written.
      {kHeader + "[HKCU" +
           [] {
             std::string path;
             for (size_t i = 0; i <= kMaxKeyDepth; ++i) path += "\\k";
             return path;
           }() +
           "]\r\n",
       3, "512 levels"},
      {kHeader + "[HKCU\\A\\\\B]\r\n", 3, "empty key name"},
      {kHeader + "[HKCU\\" + std::string(256, 'k') + "]\r\n", 3, "longer than 255"},
#ifndef _WIN32
      // 100 lone surrogates: 100 units read back, but the registry counts the
      // three bytes each is stored as.
      {kHeader + "[HKCU\\" +
           [] {
             std::string name;
             for (int i = 0; i < 100; ++i) name += "\xED\xA0\x80";
             return name;
           }() +
           "]\r\n",
       3, "longer than 255"},
#endif
      {kHeader + "[-HKCU]\r\n", 3, "root key cannot be deleted"},
      {kHeader + "[-HKCU\\A]\r\n\"a\"=\"b\"\r\n", 4, "under [-KEY]"},
      {kHeader + "[HKCU\\A]\r\n\r\n\"a\"\"b\"\r\n", 5, "expected \"=\""},
      {kHeader + "[HKCU\\A]\r\n\"a\"=\"b\r\n", 4, "closing quote"},
      {kHeader + "[HKCU\\A]\r\n\"a\"=\"C:\\x\"\r\n", 4, "backslash"},
      {kHeader + "[HKCU\\A]\r\n\"a\"=\"C:\\\"\r\n", 4, "closing quote"},
      {kHeader + "[HKCU\\A]\r\n\"a\"=\"b\" c\r\n", 4, "after the closing quote"},
      {kHeader + "[HKCU\\A]\r\n\"a\"=dword:123456789\r\n", 4, "dword:"},
      {kHeader + "[HKCU\\A]\r\n\"a\"=dword:xyz\r\n", 4, "dword:"},
      {kHeader + "[HKCU\\A]\r\n\"a\"=hex:1,2g\r\n", 4, "hex bytes"},
      {kHeader + "[HKCU\\A]\r\n\"a\"=hex:01,,02\r\n", 4, "hex bytes"},
      {kHeader + "[HKCU\\A]\r\n\"a\"=hex:123\r\n", 4, "hex bytes"},
      {kHeader + "[HKCU\\A]\r\n\"a\"=hex(x):00\r\n", 4, "hex(N)"},
      {kHeader + "[HKCU\\A]\r\n\"a\"=hex(2)00\r\n", 4, "\":\""},
      {kHeader + "[HKCU\\A]\r\n\"a\"=hex:00,\\\r\n", 4, "no line follows"},
      {kHeader + "[HKCU\\A]\r\n\"a\"=str\r\n", 4, "expected \"TEXT\""},
      {kHeader + "[HKCU\\A]\r\n\"" + std::string(16384, 'n') + "\"=\"\"\r\n", 4, "16383"},
      {kHeader + "[HKCU\\A]\r\nname=\"b\"\r\n", 4, "expected [KEY]"},
      // The line count goes on past continued lines.
      {kHeader + "[HKCU\\A]\r\n\"a\"=hex:00,\\\r\n 01\r\nbad\r\n", 6, "expected [KEY]"},
      {"\xFF\xFE"
       "W",
       0, "UTF-16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content.substr(0, 120));
    RegDocument document;
    RegParseError error;
    EXPECT_FALSE(ParseRegFile(c.content, &document, &error));
    EXPECT_EQ(error.line, c.line);
    EXPECT_NE(error.message.find(c.fragment), std::string::npos) << error.message;
  }
}

// The registry takes names as C strings, so a name cut short at a NUL would
// name another key: "[-HKCU\<NUL>x]" deleted every key under HKCU.
TEST(RegFileReadTest, NamesWithNulAreRefused) {
  const std::string lines[] = {
      "[-HKEY_CURRENT_USER\\\0x]"s,
      "[HKCU\\Software\\a\0b]"s,
      "[HKCU\\A]\r\n\"a\0b\"=\"c\""s,
      "[HKCU\\A]\r\n\"\0\"=-"s,
  };
  for (const std::string& line : lines) {
    std::u16string wide;
    for (char c : kHeader + line + "\r\n") wide += static_cast<char16_t>(c);
    for (const std::string& content : {kHeader + line + "\r\n", Utf16(wide)}) {
      SCOPED_TRACE(content);
      RegDocument document;
      RegParseError error;
      EXPECT_FALSE(ParseRegFile(content, &document, &error));
      EXPECT_NE(error.message.find("NUL"), std::string::npos) << error.message;
    }
  }
  RegRoot root;
  std::string subkey, error;
  EXPECT_FALSE(SplitRegKeyPath("HKCU\\a\0"s, &root, &subkey, &error));
}

TEST(RegFileWriteTest, RepresentationOfEachType) {
  RegDocument document = OneKey({
      Value("", kTypeString, "text\0"s),
      Value("q\"b\\", kTypeString, "a \"quoted\" C:\\path\0"s),
      Value("no terminator", kTypeString, "ab"),
      Value("inner nul", kTypeString, "a\0b\0"s),
      Value("line break", kTypeString, "a\nb\0"s),
      Value("dword", kTypeDword, "\x2a\0\0\0"s),
      Value("short dword", kTypeDword, "\x2a"),
      Value("expand", kTypeExpandString, "%A%\0"s),
      Value("multi", kTypeMultiString, "a\0\0"s),
      Value("binary", kTypeBinary, "\x01\xff"s),
      Value("qword", kTypeQword, "\x01\0\0\0\0\0\0\0"s),
      Value("none", kTypeNone, ""),
      Value("odd", 0x1234, "\x7f"),
  });
  document.keys.push_back(RegKey{RegRoot::kLocalMachine, "Software\\Gone", true, {}, 0});
  RegValue removed;
  removed.name = "old";
  removed.remove = true;
  document.keys[0].values.push_back(removed);
  EXPECT_EQ(Format(document), kHeader +
                                  "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
                                  "@=\"text\"\r\n"
                                  "\"q\\\"b\\\\\"=\"a \\\"quoted\\\" C:\\\\path\"\r\n"
                                  "; \"ab\" without a terminating NUL:\r\n"
                                  "\"no terminator\"=hex(1):61,00,62,00\r\n"
                                  "\"inner nul\"=hex(1):61,00,00,00,62,00,00,00\r\n"
                                  "\"line break\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
                                  "\"dword\"=dword:0000002a\r\n"
                                  "\"short dword\"=hex(4):2a\r\n"
                                  "\"expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                                  "\"multi\"=hex(7):61,00,00,00,00,00\r\n"
                                  "\"binary\"=hex:01,ff\r\n"
                                  "\"qword\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                                  "\"none\"=hex(0):\r\n"
                                  "\"odd\"=hex(1234):7f\r\n"
                                  "\"old\"=-\r\n"
                                  "\r\n"
                                  "[-HKEY_LOCAL_MACHINE\\Software\\Gone]\r\n"
                                  "\r\n");
}

TEST(RegFileWriteTest, LongHexListsWrapWithinEightyColumns) {
  std::string data(100, '\xab');
  std::string text = Format(OneKey({Value("blob", kTypeBinary, data)}));
  size_t start = text.find("\"blob\"");
  ASSERT_NE(start, std::string::npos);
  int lines = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos && end > start;
       start = end + 2) {
    std::string line = text.substr(start, end - start);
    EXPECT_LE(line.size(), 80u) << line;
    if (lines > 0) {
      EXPECT_EQ(line.compare(0, 2, "  "), 0) << line;
    }
    ++lines;
  }
  EXPECT_GT(lines, 1);
  EXPECT_EQ(Parse(text).keys[0].values[0].data, data);
}

// A value name may hold line breaks; written as \n and \r it stays on its
// line and reads back as it was.  A key line has no escapes (a backslash
// separates keys), so a key name with a line break is refused whole.
TEST(RegFileWriteTest, LineBreaksInNames) {
  RegDocument document = OneKey(
      {Value("a\nb\r\n[HKCU\\Fake]", kTypeBinary, "\x01"), Value("\\n", kTypeString, "x\0"s)});
  std::string content = Format(document);
  EXPECT_NE(content.find("\"a\\nb\\r\\n[HKCU\\\\Fake]\"=hex:01\r\n"), std::string::npos) << content;
  EXPECT_NE(content.find("\"\\\\n\"=\"x\"\r\n"), std::string::npos) << content;
  ExpectSameDocument(document, Parse(content));
  ExpectSameDocument(document, Parse(Format(document, RegEncoding::kUtf16)));

  std::string error;
  document.keys[0].subkey = "A\rB";
  EXPECT_FALSE(FormatRegFile(document, RegEncoding::kUtf8, &content, &error));
  EXPECT_NE(error.find("line break"), std::string::npos);
}

// String lists in a Version 5.00 file are UTF-16LE; one of odd length has a
// byte that is no unit, which must still come back where it was.
TEST(RegFileRoundTripTest, OddLengthStringListsKeepTheirBytes) {
  for (const char* type : {"hex(1)", "hex(2)", "hex(7)"}) {
    std::vector<std::string> lists = {"41", "41,00,42", "41,00,00,00,00", "e9,00,ff", "41,00,80"};
#ifndef _WIN32
    // A lone surrogate has no ANSI form; on Linux it survives too.
    lists.push_back("00,d8,7f");
    lists.push_back("41,00,00,dc,00,d8");
#endif
    for (const std::string& list : lists) {
      SCOPED_TRACE(std::string(type) + ":" + list);
      std::string file = kHeader + "[HKCU\\A]\r\n\"v\"=" + type + ":" + list + "\r\n\r\n";
      RegDocument document = Parse(file);
      // Written again (in either encoding) the list is byte for byte the same.
      std::string again = Format(document);
      EXPECT_NE(again.find(std::string("\"v\"=") + type + ":" + list + "\r\n"), std::string::npos)
          << again;
      ExpectSameDocument(document, Parse(Format(document, RegEncoding::kUtf16)));
    }
  }
  // Even lists keep their text as before.
  EXPECT_EQ(Parse(kHeader + "[HKCU\\A]\r\n\"v\"=hex(2):41,00\r\n").keys[0].values[0].data, "A");
}

TEST(RegFileReadTest, CurrentConfigAndDepthLimit) {
  RegDocument document = Parse(kHeader + "[HKEY_CURRENT_CONFIG\\Software]\r\n[hkcc]\r\n");
  ASSERT_EQ(document.keys.size(), 2u);
  EXPECT_EQ(document.keys[0].root, RegRoot::kCurrentConfig);
  EXPECT_EQ(document.keys[1].root, RegRoot::kCurrentConfig);
  EXPECT_EQ(RegKeyPath(RegRoot::kCurrentConfig, "X"), "HKEY_CURRENT_CONFIG\\X");
  std::string path = "HKCU";
  for (size_t i = 0; i < kMaxKeyDepth; ++i) path += "\\k";
  RegRoot root;
  std::string subkey, error;
  EXPECT_TRUE(SplitRegKeyPath(path, &root, &subkey, &error)) << error;
  EXPECT_FALSE(SplitRegKeyPath(path + "\\k", &root, &subkey, &error));
  EXPECT_NE(error.find("512"), std::string::npos);
}

TEST(RegFileWriteTest, DataNotationIsTheFileFormOnOneLine) {
  EXPECT_EQ(RegDataNotation(kTypeString, "a\"b\0"s), "\"a\\\"b\"");
  EXPECT_EQ(RegDataNotation(kTypeString, "ab"), "hex(1):61,00,62,00");
  EXPECT_EQ(RegDataNotation(kTypeDword, "\x2a\0\0\0"s), "dword:0000002a");
  EXPECT_EQ(RegDataNotation(kTypeMultiString, "a\0b\0\0"s), "hex(7):61,00,00,00,62,00,00,00,00,00");
  EXPECT_EQ(RegDataNotation(kTypeBinary, std::string(200, '\x01')).find('\n'), std::string::npos);
  EXPECT_EQ(RegDataNotation(0x20, "\xff"), "hex(20):ff");
}

TEST(RegFileRoundTripTest, RandomDataComesBackByteForByte) {
  std::mt19937 random(20261208);
  auto bytes = [&](size_t length, bool ascii) {
    std::string data;
    for (size_t i = 0; i < length; ++i) {
      data += static_cast<char>(ascii ? ' ' + random() % 95 : random() % 256);
    }
    return data;
  };
#ifdef _WIN32
  const bool ascii = true;  // String types pass through the ANSI code page.
#else
  const bool ascii = false;
#endif
  RegDocument document;
  for (int k = 0; k < 20; ++k) {
    RegKey key;
    key.root = static_cast<RegRoot>(k % 4);
    key.subkey = "Software\\K" + std::to_string(k) + "\\\"q\"\\b]";
    for (uint32_t type : {kTypeNone, kTypeString, kTypeExpandString, kTypeBinary, kTypeDword,
                          kTypeMultiString, kTypeQword, 0x1234u, 0xffffffffu}) {
      std::string name = bytes(random() % 12, true);
      if (name.find_first_of("\r\n") != std::string::npos) name.clear();
      key.values.push_back(Value(name + std::to_string(type), type, bytes(random() % 200, ascii)));
      key.values.push_back(
          Value("t" + std::to_string(type), type, bytes(random() % 20, true) + '\0'));
    }
    document.keys.push_back(key);
  }
  ExpectSameDocument(document, Parse(Format(document, RegEncoding::kUtf8)));
  ExpectSameDocument(document, Parse(Format(document, RegEncoding::kUtf16)));
}

TEST(RegistryTextTest, Utf8CodecIsLosslessForAnyBytes) {
  EXPECT_EQ(DecodeUtf8("a\xC3\xA9\xF0\x9F\x98\x80"), u"a\u00e9\U0001F600");
  // Overlong, surrogate, truncated and stray bytes become escapes.
  EXPECT_EQ(DecodeUtf8("\xC0\xAF\xED\xA0\x80\xE2\x82"),
            (std::u16string{0xDCC0, 0xDCAF, 0xDCED, 0xDCA0, 0xDC80, 0xDCE2, 0xDC82}));
  EXPECT_FALSE(IsWellFormedUtf8("\xF4\x90\x80\x80"));
  EXPECT_TRUE(IsWellFormedUtf8("\xF4\x8F\xBF\xBF"));
  // A lone surrogate's three-byte form is read back as the surrogate, but
  // not a high one before a low one (those would join into one character).
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80x\xED\xBF\xBF"), (std::u16string{0xD800, 'x', 0xDFFF}));
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80\xED\xB0\x80"),
            (std::u16string{0xDCED, 0xDCA0, 0xDC80, 0xDC00}));
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80\xff"), (std::u16string{0xDCED, 0xDCA0, 0xDC80, 0xDCFF}));
  std::mt19937 random(7);
  // Bytes biased towards the lead bytes of multi-byte and surrogate forms.
  const unsigned char kBytes[] = {0x41, 0x80, 0xA0, 0xAC, 0xB0, 0xBF, 0xC3, 0xED, 0xF0, 0xFF, 0x00};
  for (int i = 0; i < 2000; ++i) {
    std::string data;
    for (int k = 0; k < 32; ++k) {
      data += static_cast<char>(i % 2 == 0 ? random() % 256 : kBytes[random() % sizeof kBytes]);
    }
    ASSERT_EQ(EncodeUtf8(DecodeUtf8(data)), data);
  }
  // And the other way: any UTF-16 string, lone surrogates and escapes included.
  const char16_t kUnits[] = {u'a',   0x00E9, 0xD800, 0xDBFF, 0xDB41, 0xDC00,
                             0xDC7F, 0xDC80, 0xDCFF, 0xDD00, 0xDFFF, 0xFFFF};
  for (int i = 0; i < 2000; ++i) {
    std::u16string units;
    for (int k = 0; k < 16; ++k) units += kUnits[random() % (sizeof kUnits / sizeof kUnits[0])];
    ASSERT_EQ(DecodeUtf8(EncodeUtf8(units)), units);
  }
}

}  // namespace
}  // namespace inireg::tool
