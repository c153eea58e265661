// The layout-keeping write-back: exact bytes for each kind of change, and,
// over a corpus of hand-written-looking files, that the result reads back as
// the changed records while every line no change names stays as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "profile/profile_layout.h"
#include "profile_record_model.h"
#include "test_support.h"

namespace inireg {
namespace {

using test_support::kNewline;

using model::Applied;
using model::Entry;
using model::Load;
using model::Records;
using model::Section;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Describe(const Records& records) {
  std::string text;
  for (const Section& section : records) {
    text += "[" + section.name + "]";
    for (const Entry& entry : section.entries) {
      text += entry.key + "=" + (entry.quoted ? "\"" + entry.value + "\"" : entry.value) + ";";
    }
  }
  return text;
}

ProfileChange Set(const std::string& section, const std::string& key, const std::string& value) {
  return ProfileChange{ProfileChange::Kind::kSetEntry, section, key, value};
}
ProfileChange DropSection(const std::string& section) {
  return ProfileChange{ProfileChange::Kind::kDeleteSection, section, "", ""};
}
ProfileChange DropEntry(const std::string& section, const std::string& key) {
  return ProfileChange{ProfileChange::Kind::kDeleteEntry, section, key, ""};
}

// The physical lines of a text, each with its line end.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

// Applies the changes and checks that the result reads back as the changed
// records, and that the lines of `original` other than those in `named`
// (matched once each) are still there, byte for byte and in order.  The
// file's last line may gain a line end (or a space before it).
std::string ExpectKept(const std::string& original, const ProfileJournal& changes, bool join,
                       std::vector<std::string> named) {
  bool inPlace = false;
  std::string result = ApplyChangesKeepingLayout(original, changes, join, &inPlace);
  EXPECT_TRUE(inPlace);
  EXPECT_EQ(Describe(Load(result, join)), Describe(Applied(Load(original, join), changes)))
      << "original:\n"
      << original << "\nresult:\n"
      << result;
  std::vector<std::string> lines = SplitLines(original);
  std::vector<std::string> resultLines = SplitLines(result);
  size_t next = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    bool isNamed = false;
    for (auto it = named.begin(); it != named.end(); ++it) {
      if (*it == line) {
        named.erase(it);
        isNamed = true;
        break;
      }
    }
    if (isNamed) continue;
    if (i + 1 == lines.size()) {
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    }
    while (next < resultLines.size() && resultLines[next].compare(0, line.size(), line) != 0)
      ++next;
    EXPECT_LT(next, resultLines.size())
        << "line " << i << " (" << line << ") is missing or out of order in:\n"
        << result;
    if (next == resultLines.size()) break;
    if (i + 1 < lines.size()) {
      EXPECT_EQ(resultLines[next], line);
    }
    ++next;
  }
  EXPECT_TRUE(named.empty()) << "a named line is not in the original: " << named.front();
  return result;
}

// Hand-written-looking files: comments of both kinds, lines before the first
// header, blank lines, odd spacing, duplicates, CR LF and mixed line ends,
// continuation lines, no final line end, a UTF-8 byte-order mark.
const char* const kCorpus[] = {
    "; Settings of the example program\n"
    "# generated once, edited by hand since\n"
    "\n"
    "[Window]\n"
    "Title = Main window\n"
    "  Width=640\n"
    "Height   =\t480 \n"
    "\n"
    "; the colours\n"
    "[Colours]\n"
    "Back='#ffffff'\n"
    "Fore=\"#000000\"\n"
    "\n"
    "# end\n",

    "[Paths]\r\n"
    "Home=C:\\Users\\me\r\n"
    "Temp = C:\\Temp\r\n"
    "\r\n"
    "[Recent]\r\n"
    "File1=a.txt\r\n"
    "File2=b.txt\r\n",

    "orphan=before any header\n"
    "[s]\r\n"
    "k=1\n"
    "noequals line\r\n"
    "[s]\n"
    "k=2\n"
    "K=3\r\n"
    "[ spaced ]\n"
    "x = y",

    "\xEF\xBB\xBF; written by Notepad\r\n"
    "[Server]\r\n"
    "Host=example\r\n"
    "Port=8080\r\n"
    "[Client]\r\n"
    "Retries=3",

    "[multi]\n"
    "Path=one;\\\n"
    "two;\\\n"
    "three\n"
    "after=1\n"
    "; a comment ending in a backslash \\\n"
    "next=2\n"
    "[tail]\n"
    "last=end\\\n",

    "[a]\n"
    "k=1\n"
    "=empty key ends the section\n"
    "lost=1\n"
    "[b\n"
    "[c]\n"
    "v = \"  padded  \"\n"
    "[c]x\n"
    "w=2\n",
};

std::vector<ProfileJournal> Journals() {
  return {
      {Set("Window", "Width", "800")},
      {Set("window", "TITLE", "  \"Quoted title\"  "), Set("Colours", "Back", "")},
      {Set("New", "a", "1"), Set("New", "b", "two"), Set("Window", "Left", "10")},
      {DropSection("Window"), Set("Colours", "Fore", "red")},
      {DropEntry("s", "k"), Set("s", "k", "again"), DropSection(" spaced ")},
      {Set("Paths", "Temp", "D:\\Temp"), DropEntry("Recent", "File1"),
       Set("Recent", "File3", "c.txt")},
      {Set("Server", "Port", "9090"), Set("Client", "Timeout", "30"), Set("Extra", "k", "v")},
      {Set("multi", "Path", "x"), Set("tail", "added", "1"), DropEntry("multi", "after")},
      {Set("a", "k", "2"), Set("a", "n", "3"), Set("c", "v", ""), DropSection("c"),
       Set("c", "w", "3")},
      {DropSection("nothing"), Set("Window", "Width", "640")},
  };
}

TEST(ProfileLayoutTest, NoChangeGivesTheSameBytes) {
  for (bool join : {false, true}) {
    for (const char* file : kCorpus) {
      EXPECT_EQ(ApplyChangesKeepingLayout(file, {}, join), file);
      // Changes that leave every record as it was change no byte either:
      // deleting what is not there, writing a value back as it reads.
      ProfileJournal noOps = {DropSection("absent"), DropEntry("Window", "absent"),
                              DropEntry("absent", "k")};
      EXPECT_EQ(ApplyChangesKeepingLayout(file, noOps, join), file);
    }
    ProfileJournal sameValues = {Set("Window", "Title", " Main window "),
                                 Set("Colours", "Back", "'#ffffff'"),
                                 Set("colours", "FORE", "\"#000000\"")};
    EXPECT_EQ(ApplyChangesKeepingLayout(kCorpus[0], sameValues, join), kCorpus[0]);
  }
}

// The bytes of `original` outside the lines the changes name (the lines of
// changed and deleted entries, the regions of deleted sections), as pieces
// split where new entries may go: after each section's last entry.  The
// reader's source map says which lines those are.
std::vector<std::string> UntouchedPieces(const std::string& original, const ProfileJournal& changes,
                                         bool join) {
  ProfileSourceMap sources;
  Records loaded = Load(original, join, &sources);
  Records changed = Applied(loaded, changes);
  std::vector<bool> gone(original.size(), false);
  std::vector<bool> cut(original.size() + 1, false);
  auto drop = [&](ProfileTextSpan span) {
    std::fill(gone.begin() + span.begin, gone.begin() + span.end, true);
  };
  for (const Section& section : loaded) {
    size_t index = section.fileIndex;
    const Section* now = nullptr;
    for (const Section& candidate : changed) {
      if (candidate.fileIndex == index) now = &candidate;
    }
    ProfileSourceMap::Spans spans = sources.EntriesOf(index);
    if (now == nullptr) {
      size_t end =
          index + 1 < sources.headers.size() ? sources.headers[index + 1].begin : original.size();
      drop(ProfileTextSpan{sources.headers[index].begin, end});
      continue;
    }
    cut[spans.empty() ? sources.headers[index].end : spans.back().end] = true;
    for (const Entry& entry : section.entries) {
      const Entry* kept = nullptr;
      for (const Entry& candidate : now->entries) {
        if (candidate.fileIndex == entry.fileIndex) kept = &candidate;
      }
      if (kept == nullptr || !(*kept == entry)) drop(spans[entry.fileIndex]);
    }
  }
  std::vector<std::string> pieces;
  for (size_t i = 0; i < original.size(); ++i) {
    if (gone[i]) continue;
    if (pieces.empty() || cut[i] || gone[i - 1]) pieces.emplace_back();
    pieces.back() += original[i];
  }
  return pieces;
}

TEST(ProfileLayoutTest, CorpusReadsBackAsTheChangedRecordsAndKeepsOtherLines) {
  for (bool join : {false, true}) {
    for (const char* file : kCorpus) {
      for (const ProfileJournal& changes : Journals()) {
        SCOPED_TRACE(std::string(join ? "joined: " : "") + file);
        bool inPlace = false;
        std::string result = ApplyChangesKeepingLayout(file, changes, join, &inPlace);
        EXPECT_TRUE(inPlace);
        EXPECT_EQ(Describe(Load(result, join)), Describe(Applied(Load(file, join), changes)));
        std::vector<std::string> pieces = UntouchedPieces(file, changes, join);
        size_t from = 0;
        for (size_t i = 0; i < pieces.size(); ++i) {
          std::string piece = pieces[i];
          // The file's last line may gain a line end, or a space before it.
          if (i + 1 == pieces.size() && EndsWith(std::string(file), piece)) {
            while (!piece.empty() && (piece.back() == '\n' || piece.back() == '\r'))
              piece.pop_back();
          }
          size_t found = result.find(piece, from);
          ASSERT_NE(found, std::string::npos) << "not kept in order: " << piece << "\nresult:\n"
                                              << result;
          from = found + piece.size();
        }
      }
    }
  }
}

TEST(ProfileLayoutTest, ChangedEntryIsRewrittenWhereItStands) {
  const std::string original = kCorpus[0];
  std::string result =
      ExpectKept(original, {Set("Window", "Height", "600")}, false, {"Height   =\t480 \n"});
  EXPECT_NE(
      result.find("[Window]\nTitle = Main window\n  Width=640\nHeight   =\t600\n\n; the colours\n"),
      std::string::npos)
      << result;
  // The key keeps its case and indentation; the quotes are the writer's.
  result = ExpectKept(original, {Set("window", "width", "' wide '")}, false, {"  Width=640\n"});
  EXPECT_NE(result.find("\n  Width=\" wide \"\n"), std::string::npos) << result;
  // An empty value keeps the quotes the entry had.
  result = ExpectKept(original, {Set("Colours", "Back", "")}, false, {"Back='#ffffff'\n"});
  EXPECT_NE(result.find("\nBack=\"\"\n"), std::string::npos) << result;
  // Each line keeps its own line end.  "K" names the same entry as "k".
  result = ExpectKept(kCorpus[2], {Set("s", "k", "9"), Set("s", "K", "8")}, false, {"k=1\n"});
  EXPECT_EQ(
      result,
      "orphan=before any header\n[s]\r\nk=8\nnoequals line\r\n[s]\nk=2\nK=3\r\n[ spaced ]\nx = y");
}

TEST(ProfileLayoutTest, DuplicatesAreChangedInTheFirstOnly) {
  const std::string original = kCorpus[2];
  std::string result = ExpectKept(original, {DropSection("S"), Set("s", "k", "9")}, false,
                                  {"[s]\r\n", "k=1\n", "noequals line\r\n", "k=2\n"});
  EXPECT_EQ(result, "orphan=before any header\n[s]\nk=9\nK=3\r\n[ spaced ]\nx = y");
  // The second entry of a key is never touched.
  result = ExpectKept("[a]\nk=1\nk=2\n", {Set("a", "k", "3")}, false, {"k=1\n"});
  EXPECT_EQ(result, "[a]\nk=3\nk=2\n");
}

TEST(ProfileLayoutTest, NewEntryFollowsTheLastEntryOfItsSection) {
  std::string result = ExpectKept(
      kCorpus[0], {Set("Window", "Left", "10"), Set(" Window ", " Top ", "20")}, false, {});
  EXPECT_NE(result.find("Height   =\t480 \nLeft=10\nTop=20\n\n; the colours\n[Colours]"),
            std::string::npos)
      << result;
  // After the header when the section has no entries, and with the file's
  // line end (CR LF here) after a header that had none.
  result = ExpectKept("[a]\r\n; nothing yet\r\n[b]", {Set("a", "k", "1"), Set("b", "j", "2")},
                      false, {});
  EXPECT_EQ(result, "[a]\r\nk=1\r\n; nothing yet\r\n[b]\r\nj=2\r\n");
  // Before the line that ended the section early: lines after it are lost.
  result = ExpectKept(kCorpus[5], {Set("a", "n", "3")}, false, {});
  EXPECT_NE(result.find("[a]\nk=1\nn=3\n=empty key"), std::string::npos) << result;
}

TEST(ProfileLayoutTest, DeletedSectionTakesItsLinesUpToTheNextHeader) {
  std::string result = ExpectKept(kCorpus[0], {DropSection("window")}, false,
                                  {"[Window]\n", "Title = Main window\n", "  Width=640\n",
                                   "Height   =\t480 \n", "\n", "; the colours\n"});
  EXPECT_EQ(result,
            "; Settings of the example program\n# generated once, edited by hand since\n\n"
            "[Colours]\nBack='#ffffff'\nFore=\"#000000\"\n\n# end\n");
  // Deleting does not trim the name: " spaced " is the section's own name.
  result = ExpectKept(kCorpus[2], {DropSection(" spaced ")}, false, {"[ spaced ]\n", "x = y"});
  EXPECT_EQ(result, "orphan=before any header\n[s]\r\nk=1\nnoequals line\r\n[s]\nk=2\nK=3\r\n");
  EXPECT_EQ(ApplyChangesKeepingLayout(kCorpus[2], {DropSection("spaced")}, false), kCorpus[2]);
}

TEST(ProfileLayoutTest, DeletedEntryTakesItsContinuationLines) {
  std::string result = ExpectKept(kCorpus[4], {DropEntry("multi", "Path")}, true,
                                  {"Path=one;\\\n", "two;\\\n", "three\n"});
  EXPECT_EQ(result.substr(0, 20), "[multi]\nafter=1\n; a ");
  // Without joining, only the entry's own line goes.
  result = ExpectKept(kCorpus[4], {DropEntry("multi", "Path")}, false, {"Path=one;\\\n"});
  EXPECT_EQ(result.substr(0, 19), "[multi]\ntwo;\\\nthree");
  // A rewritten joined entry becomes one line.
  result = ExpectKept(kCorpus[4], {Set("multi", "Path", "a;b")}, true,
                      {"Path=one;\\\n", "two;\\\n", "three\n"});
  EXPECT_EQ(result.substr(0, 22), "[multi]\nPath=a;b\nafter");
}

TEST(ProfileLayoutTest, NewSectionGoesAtTheEnd) {
  // After a line end added to a file without one, with the file's line end.
  std::string result = ExpectKept(kCorpus[3], {Set("Extra", "k", "v")}, false, {});
  EXPECT_TRUE(EndsWith(result, "Retries=3\r\n\r\n[Extra]\r\nk=v\r\n")) << result;
  // A file with no line end at all takes the platform's.
  result = ExpectKept("[a]", {Set("b", "k", "v")}, false, {});
  EXPECT_EQ(result, std::string("[a]") + kNewline + kNewline + "[b]" + kNewline + "k=v" + kNewline);
  // An empty file gets just the new section.
  EXPECT_EQ(ExpectKept("", {Set("b", "k", "v")}, false, {}),
            std::string("[b]") + kNewline + "k=v" + kNewline);
  // A file ending in a blank line gets no second one.
  EXPECT_EQ(ExpectKept("[a]\n\n", {Set("b", "k", "v")}, false, {}), "[a]\n\n[b]\nk=v\n");
}

TEST(ProfileLayoutTest, BackslashesCannotSwallowTheNextLine) {
  // A value ending in a backslash gets a space after it while lines are joined.
  std::string result = ExpectKept(
      "[a]\nk=1\nj=2\n", {Set("a", "k", "C:\\dir\\"), Set("a", "n", "x\\")}, true, {"k=1\n"});
  EXPECT_EQ(result, "[a]\nk=C:\\dir\\ \nj=2\nn=x\\ \n");
  // Quoted, it needs none.
  EXPECT_EQ(ExpectKept("[a]\nk=1\n", {Set("a", "k", "\"C:\\dir\\\"")}, true, {"k=1\n"}),
            "[a]\nk=\"C:\\dir\\\"\n");
  // The file's last line ending in a backslash had nothing to join; a line
  // added after it must not become its continuation.
  result = ExpectKept(kCorpus[4], {Set("tail", "more", "1")}, true, {"last=end\\\n"});
  EXPECT_TRUE(EndsWith(result, "[tail]\nlast=end\\ \nmore=1\n")) << result;
  result = ExpectKept("[a]\r\nk=v\\", {Set("b", "x", "1")}, true, {"k=v\\"});
  EXPECT_EQ(result, "[a]\r\nk=v\\ \r\n\r\n[b]\r\nx=1\r\n");
  // A carriage return at the end becomes part of the added line end.
  result = ExpectKept("[a]\nk=v\\\r", {Set("b", "x", "1")}, true, {"k=v\\\r"});
  EXPECT_EQ(result, "[a]\nk=v\\ \r\n\n[b]\nx=1\n");
  // The reader looks for the backslash only before a NUL: such a line is
  // not joined, so it needs no space.
  const std::string withNul("[a]\nk=v\0\\\n", 10);
  EXPECT_EQ(ExpectKept(withNul, {Set("a", "x", "1")}, true, {}), withNul + "x=1\n");
  // Without joining, backslashes mean nothing.
  EXPECT_EQ(ExpectKept("[a]\nk=v\\", {Set("a", "x", "1\\")}, false, {}), "[a]\nk=v\\\nx=1\\\n");
}

std::string Utf16(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

TEST(ProfileLayoutTest, Utf16FilesKeepTheirCodeUnits) {
  const std::u16string plain = u"; note\r\n[a]\r\nk = 1\r\n\r\n";
  bool edited = false;
  std::string changed = ApplyChangesKeepingLayout(
      Utf16(plain), {Set("a", "k", "2"), Set("b", "j", "3")}, true, &edited);
  EXPECT_TRUE(edited);
  EXPECT_EQ(changed, Utf16(u"; note\r\n[a]\r\nk = 2\r\n\r\n[b]\r\nj=3\r\n"));
  EXPECT_EQ(ApplyChangesKeepingLayout(Utf16(plain), {DropSection("a")}, false),
            Utf16(u"; note\r\n"));
#ifndef _WIN32  // The code pages are UTF-8 here.
  // Lines a change does not name keep their exact code units, a lone
  // surrogate included; new text is encoded as UTF-16LE too.
  const std::u16string original =
      u"; \xD800 lone\r\n[Fen\u00EAtre]\r\nTitre = Caf\u00E9\r\nW=1\r\n";
  bool inPlace = false;
  std::string result = ApplyChangesKeepingLayout(
      Utf16(original),
      {Set("Fen\xC3\xAAtre", "W", "2"), Set("Fen\xC3\xAAtre", "Nom", "\xE2\x82\xAC")}, false,
      &inPlace);
  EXPECT_TRUE(inPlace);
  EXPECT_EQ(
      result,
      Utf16(u"; \xD800 lone\r\n[Fen\u00EAtre]\r\nTitre = Caf\u00E9\r\nW=2\r\nNom=\u20AC\r\n"));
  EXPECT_EQ(Describe(Load(result, false)),
            "[Fen\xC3\xAAtre]Titre=Caf\xC3\xA9;W=2;Nom=\xE2\x82\xAC;");
#endif
}

TEST(ProfileLayoutTest, OddFilesAreWrittenWholeAndStillReadBackRight) {
  struct Case {
    std::string original;
    ProfileJournal changes;
  };
  std::string longComment = "; " + std::string(40000, 'c') + "\n";
  const Case cases[] = {
      // Lines the reader cuts into parts.
      {"[a]\n" + longComment + "k=1\n", {Set("a", "k", "2")}},
      {"[a]\nk=" + std::string(40000, 'v') + "[b]\nj=1\n", {DropSection("b"), Set("a", "n", "1")}},
      // A UTF-16LE file with a byte left over.
      {Utf16(u"[a]\nk=1\n") + "x", {Set("a", "k", "2")}},
#ifndef _WIN32
      // Text the code page cannot carry into UTF-16 (not UTF-8 here).
      {Utf16(u"[a]\nk=1\n"), {Set("a", "k", "\xFF")}},
#endif
  };
  for (bool join : {false, true}) {
    for (const Case& c : cases) {
      bool inPlace = true;
      std::string result = ApplyChangesKeepingLayout(c.original, c.changes, join, &inPlace);
      EXPECT_FALSE(inPlace);
      EXPECT_EQ(Describe(Load(result, join)), Describe(Applied(Load(c.original, join), c.changes)));
    }
  }
  // A byte-order mark survives the whole-file form.
  std::string result =
      ApplyChangesKeepingLayout("\xEF\xBB\xBF[a]\n" + longComment, {Set("a", "k", "1")}, false);
  EXPECT_EQ(result.compare(0, 3, "\xEF\xBB\xBF"), 0);
}

// The write-back keeps the records it parsed the file into and applies the
// changes to them instead of reading its new bytes again: wherever the
// editor vouches for that, they must be the records (and lookups) that
// reading the new bytes gives.
TEST(ProfileLayoutTest, ChangedRecordsAreThoseOfTheNewBytes) {
  std::vector<std::string> files(std::begin(kCorpus), std::end(kCorpus));
  files.push_back(Utf16(u"; note\r\n[Window]\r\nWidth = 1\r\n[s]\r\nk=2\r\n"));
  files.push_back("[Window]\n; " + std::string(40000, 'c') + "\nWidth=1\n");  // Written whole.
  size_t vouched = 0, changed = 0;
  for (bool join : {false, true}) {
    for (const std::string& file : files) {
      for (const ProfileJournal& changes : Journals()) {
        SCOPED_TRACE(std::string(join ? "joined: " : "") + file.substr(0, 200));
        ProfileFile parsed;
        parsed.joinContinuations = join;
        ProfileSourceMap sources;
        LoadProfileText(file, &parsed, &sources);
        LayoutEdit edit = EditKeepingLayout(parsed, file.size(), sources, changes);
        bool inPlace = false;
        std::string expected = ApplyChangesKeepingLayout(file, changes, join, &inPlace);
        EXPECT_EQ(edit.changed ? edit.contents : file, expected);
        EXPECT_EQ(edit.editedInPlace, inPlace);
        changed += edit.changed;
        bool applied = ApplyEditToRecords(edit, changes, &parsed);
        // Unchanged, the records already are the file's; written whole, they
        // are the rendering's.
        if (!edit.changed || !edit.editedInPlace) {
          EXPECT_FALSE(applied);
        }
        if (!applied) continue;
        ++vouched;
        ProfileFile reread;
        reread.joinContinuations = join;
        LoadProfileText(edit.contents, &reread, nullptr);
        EXPECT_EQ(Describe(model::Of(parsed)), Describe(model::Of(reread)));
        EXPECT_EQ(parsed.utf8Bom, reread.utf8Bom);
        EXPECT_EQ(parsed.wideText, reread.wideText);
        // The indexes the changes kept find what the reader's find: the
        // first section of each name, and in it the first entry of each key.
        for (ProfileSection& section : reread.sections) {
          ProfileSection* held = FindSection(&parsed, section.name.data(), section.name.size());
          ASSERT_NE(held, nullptr) << section.name;
          auto first = std::find_if(parsed.sections.begin(), parsed.sections.end(),
                                    [&](const ProfileSection& s) {
                                      return model::SameName(s.name.str(), section.name.str());
                                    });
          EXPECT_EQ(held, &*first);
          ProfileSection* want = FindSection(&reread, section.name.data(), section.name.size());
          for (const ProfileEntry& entry : want->entries) {
            ProfileEntry* found = FindEntry(held, entry.key.data(), entry.key.size());
            ProfileEntry* wanted = FindEntry(want, entry.key.data(), entry.key.size());
            ASSERT_NE(found, nullptr) << entry.key;
            EXPECT_EQ(found->value.str(), wanted->value.str());
            EXPECT_EQ(found->quoted, wanted->quoted);
          }
        }
      }
    }
  }
  // Most changed files are edited in place by journals the engine could
  // have made.
  EXPECT_GT(vouched, changed / 2);

  // Changes the records refuse (a bare value ending in a backslash while
  // lines are joined), and names the engine would have trimmed, are left to
  // the reader.
  for (const ProfileJournal& changes :
       {ProfileJournal{Set("Window", "Width", "C:\\dir\\")},
        ProfileJournal{Set(" Window ", "Width", "2")}, ProfileJournal{Set("Window", " k ", "2")}}) {
    ProfileFile parsed;
    parsed.joinContinuations = true;
    ProfileSourceMap sources;
    LoadProfileText(kCorpus[0], &parsed, &sources);
    LayoutEdit edit = EditKeepingLayout(parsed, std::strlen(kCorpus[0]), sources, changes);
    EXPECT_TRUE(edit.changed && edit.editedInPlace);
    EXPECT_FALSE(ApplyEditToRecords(edit, changes, &parsed)) << changes[0].section;
  }
}

// A file with a line near the reader's limit is written whole.  Without
// continuation lines a file has the same lines whether or not they are
// joined, so the limit must fall at the same length either way, in 8-bit
// and in UTF-16LE files, wherever the line stands.
TEST(ProfileLayoutTest, LineLimitFallsAtTheSameLengthWithAndWithoutJoining) {
  size_t inPlace = 0, whole = 0;
  auto check = [&](const std::string& file, size_t length) {
    bool joined = false, separate = false;
    ApplyChangesKeepingLayout(file, {Set("a", "k", "2")}, true, &joined);
    ApplyChangesKeepingLayout(file, {Set("a", "k", "2")}, false, &separate);
    EXPECT_EQ(joined, separate) << "a line of " << length << " units";
    ++(separate ? inPlace : whole);
  };
  for (size_t length = kLineBufferSize - 24; length <= kLineBufferSize - 8; ++length) {
    std::string line = ";" + std::string(length - 2, 'c') + "\n";
    for (const std::string& file : {"[a]\nk=1\n" + line, "[a]\n" + line + "k=1\n",
                                    line + "[a]\r\nk=1", "[a]\nk=1\n" + line.substr(1)}) {
      check(file, length);
    }
  }
  for (size_t length = (kLineBufferSize - 24) / 3; length <= (kLineBufferSize - 8) / 3; ++length) {
    std::u16string line = u";" + std::u16string(length - 2, u'c') + u"\n";
    check(Utf16(u"[a]\nk=1\n" + line), length);
    check(Utf16(line + u"[a]\nk=1\n"), length);
  }
  // The lengths tried lie on both sides of the limit.
  EXPECT_GT(inPlace, 10u);
  EXPECT_GT(whole, 10u);
}

}  // namespace
}  // namespace inireg
