// The profile file format: what the reader keeps, and how a file is written back.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "platform/page_blocks.h"
#include "profile/profile_reader.h"
#include "profile/profile_writer.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

namespace inireg {
namespace {

using test_support::FaultyFileSystem;
using test_support::Lines;
using test_support::ReadFile;
using test_support::ScopedFileSystem;
using test_support::TempDir;
using test_support::WriteFile;

class ProfileFileTest : public ::testing::Test {
 protected:
  ProfileFile Load(const std::string& contents, bool joinContinuations = false) {
    std::string path = dir_.File("load.ini");
    WriteFile(path, contents);
    ProfileFile file;
    file.path = path;
    file.joinContinuations = joinContinuations;
    LoadProfileFile(&file);
    return file;
  }

  // Sections and entries as one text, for compact comparisons:
  // "[name]key=value;key=\"quoted\";".
  static std::string Describe(const ProfileFile& file) {
    std::string text;
    for (const ProfileSection& section : file.sections) {
      text += "[" + section.name.str() + "]";
      for (const ProfileEntry& entry : section.entries) {
        std::string value = entry.value.str();
        text += entry.key.str() + "=" + (entry.quoted ? "\"" + value + "\"" : value) + ";";
      }
    }
    return text;
  }

  TempDir dir_;
};

TEST_F(ProfileFileTest, HeadersKeepTheirTextUpToTheLastBracket) {
  EXPECT_EQ(Describe(Load("[ s ]\nk=1\n")), "[ s ]k=1;");
  EXPECT_EQ(Describe(Load("[a]b]\n[c] trailing text\n  [d]\n")), "[a]b][c][d]");
  EXPECT_EQ(Describe(Load("[]\n[a\nk=1\n[x]=1\nj=2\n")), "[x]j=2;");
}

TEST_F(ProfileFileTest, DropsWhatIsNotAHeaderOrEntry) {
  ProfileFile file =
      Load(Lines({"before=header", "[s]", "", "; comment", ";k=v", "noequals", "k = v ", "e="}));
  EXPECT_EQ(Describe(file), "[s];k=v;k=v;e=;");
  EXPECT_FALSE(file.sections.front().entries[2].quoted);
}

TEST_F(ProfileFileTest, RemovesOneEnclosingPairOfQuotes) {
  EXPECT_EQ(Describe(Load("[s]\na='x y'\nb=\"\nc=\"\"\nd=\"x'\ne= \" z \" \n")),
            "[s]a=\"x y\";b=\";c=\"\";d=\"x';e=\" z \";");
}

TEST_F(ProfileFileTest, AnEmptyKeyOrABadHeaderEndsTheSection) {
  EXPECT_EQ(Describe(Load("[s]\na=1\n=v\nb=2\n[t]\nc=3\n")), "[s]a=1;[t]c=3;");
  EXPECT_EQ(Describe(Load("[s]\na=1\n[x\nb=2\n[t]\nc=3\n")), "[s]a=1;[t]c=3;");
}

TEST_F(ProfileFileTest, KeepsDuplicateSectionsAndKeys) {
  ProfileFile file = Load("[s]\nk=1\nk=2\n[S]\nk=3\n");
  EXPECT_EQ(Describe(file), "[s]k=1;k=2;[S]k=3;");
  EXPECT_EQ(RenderProfileFile(file), Lines({"[s]", "k=1", "k=2", "", "[S]", "k=3", ""}));
}

TEST_F(ProfileFileTest, JoinsContinuationLinesOnlyWhenAsked) {
  const std::string text = "[s]\na=1\\\n2\nb=x\\\r\ny\n";
  EXPECT_EQ(Describe(Load(text, true)), "[s]a=12;b=xy;");
  EXPECT_EQ(Describe(Load(text, false)), "[s]a=1\\;b=x\\;");
  // A backslash on the last line has nothing to join, nor one before a NUL
  // (the line ends there) or inside a line.
  EXPECT_EQ(Describe(Load("[s]\na=1\\\n", true)), "[s]a=1\\;");
  EXPECT_EQ(Describe(Load(std::string("[s]\na=1\\\0x\\\nb=2\n", 17), true)), "[s]a=1\\;b=2;");
  EXPECT_EQ(Describe(Load("[s]\na=\\1\\\r\n\\2\nb=\\\n", true)), "[s]a=\\1\\2;b=\\;");
}

TEST_F(ProfileFileTest, CarriageReturnLineFeedReadsAsLineFeed) {
  ProfileFile file = Load("[s]\r\nk=v\r\nlone=a\rb\r\n");
  EXPECT_EQ(Describe(file), "[s]k=v;lone=a\rb;");

  // Also when the line limit falls between the CR and the LF: a backslash
  // before them still joins the next line.
  std::string filler(32763, 'v');  // "a=", the filler and "\\" make 32766.
  std::string text = "[s]\r\na=" + filler + "\\\r\n2\r\nb=1\r\n";
  EXPECT_EQ(Describe(Load(text, true)), "[s]a=" + filler + "2;b=1;");
  EXPECT_EQ(Describe(Load(text, false)), "[s]a=" + filler + "\\;b=1;");
  std::string wide(filler.begin(), filler.end());
  std::u16string wideText =
      u"[s]\r\na=" + std::u16string(wide.begin(), wide.end()) + u"\\\r\n2\r\nb=1\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : wideText) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  EXPECT_EQ(Describe(Load(bytes, true)), "[s]a=" + filler + "2;b=1;");
}

// A UTF-8 byte-order mark is read as if absent and written back.
TEST_F(ProfileFileTest, KeepsAUtf8ByteOrderMark) {
  ProfileFile file = Load("\xEF\xBB\xBF[first]\nk=v\n");
  EXPECT_TRUE(file.utf8Bom);
  EXPECT_EQ(Describe(file), "[first]k=v;");
  EXPECT_EQ(RenderProfileFile(file), "\xEF\xBB\xBF" + Lines({"[first]", "k=v", ""}));
  ProfileFile plain = Load("[first]\nk=\xEF\xBB\xBF\n");
  EXPECT_FALSE(plain.utf8Bom);  // Only at the very start.
  EXPECT_EQ(Describe(plain), "[first]k=\xEF\xBB\xBF;");
  EXPECT_TRUE(Load("\xEF\xBB\xBF").utf8Bom);
  EXPECT_FALSE(Load("\xEF\xBB").utf8Bom);
}

TEST_F(ProfileFileTest, ReadsAnOverlongLineAsSeveralLines) {
  std::string value(40000, 'v');
  ProfileFile file = Load("[s]\nk=" + value + "\nnext=1\n");
  ASSERT_EQ(file.sections.size(), 1u);
  const auto& entries = file.sections.front().entries;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].value.size(), kLineBufferSize - 1 - 2);
  EXPECT_EQ(entries[1].key, "next");
}

TEST_F(ProfileFileTest, ANulByteEndsItsLine) {
  EXPECT_EQ(Describe(Load(std::string("[s]\nk=a\0b=c\nj=2\n", 16))), "[s]k=a;j=2;");
  // Wherever it lies in a line, and the line wherever in the file.
  std::string text = "[s]\n";
  std::string expected = "[s]";
  for (size_t at = 0; at < 40; ++at) {
    std::string value(40, 'v');
    value[at] = '\0';
    std::string key = "k" + std::to_string(at);
    text += key + "=" + value + "\n";
    expected += key + "=" + std::string(at, 'v') + ";";
  }
  EXPECT_EQ(Describe(Load(text + "last=1\n")), expected + "last=1;");
}

TEST_F(ProfileFileTest, SplitsLinesOfAnyLengthAtTheirFirstEqualsSign) {
  // Lines short and past 64 and 128 bytes, starting anywhere, their first
  // "=" near or far; a later "=" belongs to the value, a line with none is
  // dropped, and the last line needs no line end.
  std::string text = "[s]\n";
  std::string expected = "[s]";
  for (size_t keyLength = 1; keyLength < 150; keyLength += 4) {
    std::string key(keyLength, 'k');
    std::string value((keyLength * 7) % 90, 'v');
    if (!value.empty()) value[value.size() / 2] = '=';
    text += key + "=" + value + "\n" + std::string(keyLength % 70, 'x') + "\n";
    expected += key + "=" + value + ";";
  }
  EXPECT_EQ(Describe(Load(text + "last=1")), expected + "last=1;");
}

std::string Utf16(const std::u16string& text, bool byteOrderMark = true) {
  std::string bytes = byteOrderMark ? "\xFF\xFE" : "";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

TEST_F(ProfileFileTest, ReadsUtf16LittleEndianByCodeUnits) {
  // U+040A holds the byte 0x0A and U+041A the byte 0x1A (Ctrl-Z): neither may
  // end a line or the file.
  ProfileFile file = Load(Utf16(u"[\u040A]\r\nk=\u041A\u040Ax\r\nn=\U0001F600\r\n"));
  EXPECT_TRUE(file.wideText);
#ifndef _WIN32
  EXPECT_EQ(Describe(file), "[\xD0\x8A]k=\xD0\x9A\xD0\x8Ax;n=\xF0\x9F\x98\x80;");
  // Written back as 8-bit text without a byte-order mark.
  EXPECT_EQ(RenderProfileFile(file),
            Lines({"[\xD0\x8A]", "k=\xD0\x9A\xD0\x8Ax", "n=\xF0\x9F\x98\x80", ""}));
#endif
  EXPECT_EQ(Describe(Load(Utf16(u"[s]\r\nk=v\r\n"))), Describe(Load("[s]\r\nk=v\r\n")));
  // Nor the bytes 0A 00 across two units (U+0A00 U+4E00).
  ProfileFile across = Load(Utf16(u"[s]\nk=\u0A00\u4E00=x\nj=1\n"));
  ASSERT_EQ(across.sections.size(), 1u);
  const ProfileEntries& entries = across.sections.front().entries;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].key, "k");
  EXPECT_EQ(entries[1].key, "j");
}

TEST_F(ProfileFileTest, SurvivesBrokenUtf16) {
  // A lone surrogate becomes a space; an odd last byte is read as a code
  // unit with a zero high byte.
  std::string bytes = Utf16(u"[s]\nk=a\xD800z\nj=1") + "x";
  ProfileFile file = Load(bytes);
  EXPECT_EQ(Describe(file), "[s]k=a z;j=1x;");
}

// A UTF-16 file is converted whole, unless the line offsets are wanted (the
// layout editor's), when it is read line by line: both ways must give the
// same records, whatever the units, with lines joined or not.
TEST_F(ProfileFileTest, Utf16TextConvertedWholeReadsAsLineByLine) {
  auto both = [](const std::string& bytes, bool joined = false) {
    ProfileFile whole, byLine;
    whole.joinContinuations = byLine.joinContinuations = joined;
    ProfileSourceMap sources;
    ReadProfileText(bytes.data(), bytes.size(), &whole, nullptr);
    ReadProfileText(bytes.data(), bytes.size(), &byLine, &sources);
    return std::make_pair(Describe(whole), Describe(byLine));
  };
  // Lone and paired surrogates, U+0A00 (the byte 0A), U+000A and U+0000.
  const std::u16string alphabet =
      std::u16string(u"ab =[]\"\r\n\n\t;\\\u00E9\u4E00\u0A00") + u"\xD83D" + u"\xDE00" + u"\xD800";
  std::mt19937 random(7);
  for (int round = 0; round < 400; ++round) {
    std::u16string text = u"[s]\n";
    size_t length = random() % 120;
    for (size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    std::string bytes = Utf16(text);
    if (round % 3 == 0) bytes.push_back('x');  // An odd last byte.
    if (round % 5 == 0) bytes.insert(bytes.size() / 2 & ~size_t{1}, std::string(2, '\0'));
    auto [whole, byLine] = both(bytes, round % 2 == 1);
    EXPECT_EQ(whole, byLine) << "round " << round;
  }
  // Joined lines that are short each but together near the line limit, or
  // past it (where the line by line reader cuts them by units), in
  // three-byte characters.
  for (size_t lines : {3, 4}) {
    std::u16string joinedText = u"[s]\nk=";
    for (size_t i = 0; i < lines; ++i) joinedText += std::u16string(3000, u'\u4E2D') + u"\\\r\n";
    joinedText += u"end\nj=1\n";
    auto [whole, byLine] = both(Utf16(joinedText), true);
    EXPECT_EQ(whole, byLine) << lines << " lines";
    EXPECT_NE(whole.find(";j=1;"), std::string::npos) << whole.substr(0, 40);
  }
  // A surrogate pair where the conversion's runs of 16,384 units meet.
  std::u16string text = u"[s]\n";
  while (text.size() < 16300) text += u"filler=0123456789\n";
  text += u"pair=";
  text += std::u16string(16383 - text.size(), u'v');
  text += u"\U0001F600 after\n";
  auto [whole, byLine] = both(Utf16(text));
  EXPECT_EQ(whole, byLine);
#ifndef _WIN32
  EXPECT_NE(whole.find("\xF0\x9F\x98\x80 after;"), std::string::npos);
#endif
}

#ifndef _WIN32  // Needs a code page of multi-byte characters (UTF-8 here).
TEST_F(ProfileFileTest, Utf16LineCutForRoomContinuesOnTheNextLine) {
  // Three-byte characters: the converted line outgrows the line buffer, and
  // what does not fit is read as the next line, whole characters only.
  const size_t count = 10925;
  std::u16string line = u"k=" + std::u16string(count, u'\u4E2D') + u"=tail\n";
  ProfileFile file = Load(Utf16(u"[s]\n" + line + u"j=1\n"));
  ASSERT_EQ(file.sections.size(), 1u);
  const auto& entries = file.sections.front().entries;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_LE(entries[0].value.size() + 2, kLineBufferSize - 1);
  EXPECT_EQ(entries[1].value, "tail");
  EXPECT_EQ(entries[2].key, "j");
  EXPECT_EQ(entries[0].value.size() % 3, 0u);
  EXPECT_EQ(entries[0].value.size() + entries[1].key.size(), 3 * count);

  // Four-byte characters (surrogate pairs) after four bytes: the room ends
  // three bytes into a pair, which goes whole to the next line.
  std::u16string pair = u"\U0001F600";
  std::u16string pairs;
  for (int i = 0; i < 8200; ++i) pairs += pair;
  file = Load(Utf16(u"[s]\nk=xy" + pairs + u"=tail\n"));
  const auto& split = file.sections.front().entries;
  ASSERT_EQ(split.size(), 2u);
  EXPECT_EQ(split[0].value.size(), 2 + 4 * 8190u);
  EXPECT_EQ(split[1].key.size(), 4 * 10u);
  EXPECT_EQ(split[0].value.view().find(' '), std::string_view::npos);
}

#endif

TEST_F(ProfileFileTest, AFileWithoutSectionsIsWrittenEmpty) {
  EXPECT_EQ(RenderProfileFile(Load("no sections here\n")), "");
}

TEST_F(ProfileFileTest, TrimTextTrimsTheAskedSides) {
  char both[] = " \t a b \r\n";
  EXPECT_STREQ(TrimText(both, true, true), "a b");
  char leading[] = "  a ";
  EXPECT_STREQ(TrimText(leading, true, false), "a ");
  char trailing[] = "  a ";
  EXPECT_STREQ(TrimText(trailing, false, true), "  a");
  char spaces[] = "   ";
  EXPECT_STREQ(TrimText(spaces, true, true), "");
  EXPECT_EQ(TrimText(nullptr, true, true), nullptr);
}

// A parse builds each section's entries in place in the record's arena
// (blocks of huge pages for a big file), moving a section whose block fills
// up to a new block; a section that grows later moves to an array of its
// own.  Edits in place, growth, and a record assigned over (whose old
// sections die after its arena is handed on) must all keep every entry.
TEST_F(ProfileFileTest, EntriesKeptInTheParsesArenaSurviveEditsAndReassignment) {
  for (int sections : {3, 3000}) {
    std::string text;
    for (int s = 0; s < sections; ++s) {
      text += "[section " + std::to_string(s) + "]\n";
      for (int k = 0; k < 20; ++k)
        text += "key" + std::to_string(k) + "=value " + std::to_string(s) + "\n";
    }
    text += "[large]\n";
    for (int k = 0; k < 20000; ++k)
      text += "k" + std::to_string(k) + "=" + std::to_string(k) + "\n";
    SCOPED_TRACE(text.size());
    ProfileFile file = Load(text);
    ASSERT_EQ(file.sections.size(), static_cast<size_t>(sections) + 1);
    bool grow = false;
    for (ProfileSection& section : file.sections) {
      if (section.name == "large") continue;
      FindEntry(&section, "key19", 5)->value = "changed";  // Owned bytes in lent memory.
      grow = !grow;  // Every other section stays where the parse put it.
      if (!grow) continue;
      EraseEntry(&section, FindEntry(&section, "key0", 4));
      ProfileEntry added;
      added.key = "added";
      added.value = "new";
      AppendEntry(&section, added);  // Fits where key0 was.
      AppendEntry(&section, added);  // Moves the section to an array of its own.
      ASSERT_EQ(section.entries.size(), 21u);
      EXPECT_EQ(FindEntry(&section, "key0", 4), nullptr);
      EXPECT_EQ(FindEntry(&section, "key1", 4)->value, "value " + section.name.str().substr(8));
      EXPECT_EQ(FindEntry(&section, "key19", 5)->value, "changed");
      EXPECT_EQ(section.entries[19].value, "new");
    }
#ifdef __SANITIZE_ADDRESS__
    // The changed values' bytes are pointed to from the arena alone.
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
    ProfileSection* large = FindSection(&file, "large", 5);
    ASSERT_EQ(large->entries.size(), 20000u);
    EraseEntry(large, &large->entries[0]);
    EXPECT_EQ(FindEntry(large, "k19999", 6)->value, "19999");

    std::string rendered = RenderProfileFile(file);
    ProfileFile reread = Load(rendered);
    EXPECT_EQ(Describe(reread), Describe(file));
    // A record moved keeps its sections where they are; a section deleted
    // leaves its node to the next one added.
    ProfileFile moved = std::move(file);
    EXPECT_EQ(FindSection(&moved, "large", 5), large);
    ASSERT_TRUE(EraseSection(&moved, "large", 5));
    ProfileSection* again = AppendSection(&moved, ProfileText("large"));
    EXPECT_EQ(FindSection(&moved, "large", 5), again);
    EXPECT_EQ(again->entries.size(), 0u);
    file = std::move(moved);
    EXPECT_EQ(file.sections.back().name, "large");
    file = Load("[other]\nk=v\n");  // The old record's sections go after its arena moved.
    EXPECT_EQ(Describe(file), "[other]k=v;");
    EXPECT_EQ(RenderProfileFile(reread), rendered);
  }
}

// The names and values of built lines live in the record's own blocks:
// enough of them for several blocks, and one value larger than any block,
// read as the 8-bit file reads, also after the record moved.
TEST_F(ProfileFileTest, BuiltLinesKeepTheirTextThroughMoves) {
  std::string narrow = "[s]\n";
  for (int k = 0; k < 3000; ++k)
    narrow += "key" + std::to_string(k) + "=v " + std::to_string(k) + "\n";
  narrow += "big=" + std::string(30000, 'b') + "\nlast=1\n";
  const std::string expected = Describe(Load(narrow));
  ProfileFile file = Load(Utf16(std::u16string(narrow.begin(), narrow.end())));
  EXPECT_EQ(Describe(file), expected);
  ProfileFile moved = std::move(file);
  file = Load("[other]\nk=v\n");
  EXPECT_EQ(Describe(moved), expected);
  moved = Load(Utf16(u"[t]\nk=v\n"));
  EXPECT_EQ(Describe(moved), "[t]k=v;");
}

// Freed huge-page blocks are kept for reuse: each block handed out must be
// one no one else holds, whole, whether fresh or kept.
TEST(PageBlocksTest, KeptBlocksAreHandedOutOnceEach) {
  for (int round = 0; round < 3; ++round) {
    std::vector<void*> blocks;
    for (int i = 0; i < 3; ++i) {
      void* block = AllocatePageBlock(kHugePageSize);
      ASSERT_NE(block, nullptr);
      std::memset(block, round * 3 + i, kHugePageSize);
      blocks.push_back(block);
    }
    EXPECT_EQ(std::set<void*>(blocks.begin(), blocks.end()).size(), blocks.size());
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(static_cast<unsigned char*>(blocks[i])[kHugePageSize - 1], round * 3 + i);
    }
    for (void* block : blocks) FreePageBlock(block, kHugePageSize);
  }
}

// --- Writing back -------------------------------------------------------------

class ProfileSaveTest : public ProfileFileTest {
 protected:
  void SetUp() override {
    path_ = dir_.File("save.ini");
    WriteFile(path_, "[old]\nk=1\n");
    file_.path = path_;
    LoadProfileFile(&file_);
    file_.sections.front().entries[0].value = "2";
  }
  size_t FilesInFolder() {
    size_t count = 0;
    for (auto& item : std::filesystem::directory_iterator(dir_.path())) {
      (void)item;
      ++count;
    }
    return count;
  }

  std::string path_;
  ProfileFile file_;
  FaultyFileSystem faulty_;
};

TEST_F(ProfileSaveTest, ReplacesTheFileWhole) {
  EXPECT_EQ(ProfileSave(file_), 1);
  EXPECT_EQ(ReadFile(path_), Lines({"[old]", "k=2", ""}));
  EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(ProfileSaveTest, AFailedWriteBackLeavesTheOriginalAsItWas) {
  ScopedFileSystem scoped(&faulty_);
  struct Fault {
    const char* what;
    std::atomic<bool>* flag;
  } faults[] = {{"sync", &faulty_.failSync}, {"rename", &faulty_.failReplace}};
  for (const Fault& fault : faults) {
    *fault.flag = true;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ProfileSave(file_), 0) << fault.what;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "COULDN'T OPEN FILE\n");
    EXPECT_EQ(ReadFile(path_), "[old]\nk=1\n") << fault.what;
    EXPECT_EQ(FilesInFolder(), 1u) << "temporary file left behind after " << fault.what;
    *fault.flag = false;
  }
  faulty_.writeLimit = 5;  // The disk fills up half way.
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(ProfileSave(file_), 0);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(ReadFile(path_), "[old]\nk=1\n");
}

TEST_F(ProfileSaveTest, WritesInPlaceWhenNoFileCanBeMadeBeside) {
  ScopedFileSystem scoped(&faulty_);
  faulty_.failTemporary = true;
  EXPECT_EQ(ProfileSave(file_), 1);
  EXPECT_EQ(ReadFile(path_), Lines({"[old]", "k=2", ""}));

  faulty_.failOpenForWriting = true;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(ProfileSave(file_), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "COULDN'T OPEN FILE\n");
  EXPECT_EQ(faulty_.writeOpens, 1 + 10);  // Ten tries, each followed by a pause.
  EXPECT_EQ(faulty_.pauses, 10);
}

#ifndef _WIN32
TEST_F(ProfileSaveTest, KeepsPermissionsAndWritesThroughSymbolicLinks) {
  ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
  std::string link = dir_.File("link.ini");
  ASSERT_EQ(symlink("save.ini", link.c_str()), 0);
  file_.path = link;
  EXPECT_EQ(ProfileSave(file_), 1);

  struct stat info;
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFile(path_), Lines({"[old]", "k=2", ""}));
}
#endif

}  // namespace
}  // namespace inireg
