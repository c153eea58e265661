#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "inireg/text.h"
#include "platform/code_page.h"
#include "profile/name_hash.h"
#include "profile/profile_line.h"
#include "text/ascii_case.h"
#include "text/numbers.h"
#include "text/utf.h"

namespace inireg {
namespace {

TEST(FormatString, KeepsOutputsUpToTheLastLimitWhole) {
  std::string out;
  for (size_t length : {0u, 1u, 2048u, 2049u, 6145u, 43008u}) {
    FormatString(out, "%s", std::string(length, 'x').c_str());
    EXPECT_EQ(out.size(), length);
  }
  FormatString(out, "%d|%lu|%llu", -5, 4294967295ul, 1099511627776ull);
  EXPECT_EQ(out, "-5|4294967295|1099511627776");
}

TEST(FormatString, CutsLongOutputAndEmptiesOnEmptyOutput) {
  std::string out;
  std::string big(50000, 'y');
  big[43007] = 'z';
  FormatString(out, "%s", big.c_str());
  ASSERT_EQ(out.size(), 43008u);
  EXPECT_EQ(out.back(), 'z');
  FormatString(out, "%s", "");
  EXPECT_TRUE(out.empty());
}

TEST(FormatString, MayFormatFromItsOwnDestination) {
  std::string out = "abc";
  FormatString(out, "%s-%s", out.c_str(), out.c_str());
  EXPECT_EQ(out, "abc-abc");
}

TEST(Substrings, ClampPositionsAndCounts) {
  EXPECT_EQ(PrefixString("abc", 5), "abc");
  EXPECT_EQ(PrefixString("abc", 2), "ab");
  EXPECT_EQ(PrefixString("abc", 0), "");
  EXPECT_EQ(PrefixString("abc", -1), "");

  const std::string s = "abcdef";
  EXPECT_EQ(SliceString(s, 2), "cdef");
  EXPECT_EQ(SliceString(s, -3), "abcdef");
  EXPECT_EQ(SliceString(s, 6), "");
  EXPECT_EQ(SliceString(s, 7), "");
  EXPECT_EQ(SliceString(s, 2, 10), "cdef");
  EXPECT_EQ(SliceString(s, 2, -1), "");
  EXPECT_EQ(SliceString(s, -2, 3), "abc");
  EXPECT_EQ(SliceString(s, 1, 2), "bc");
}

TEST(Numbers, UnsignedParsingWrapsToThirtyTwoBits) {
  EXPECT_EQ(static_cast<int32_t>(ParseUnsigned32("12", 10)), 12);
  EXPECT_EQ(static_cast<int32_t>(ParseUnsigned32("-1", 10)), -1);
  EXPECT_EQ(static_cast<int32_t>(ParseUnsigned32("4294967295", 10)), -1);
  EXPECT_EQ(ParseUnsigned32("99999999999999999999", 10), 0xFFFFFFFFu);
  EXPECT_EQ(ParseUnsigned32(" \t+12abc", 10), 12u);
  EXPECT_EQ(ParseUnsigned32("abc", 10), 0u);
  EXPECT_EQ(ParseUnsigned32("0x10", 10), 0u);
  EXPECT_EQ(ParseUnsigned32("0x10", 16), 16u);
  EXPECT_EQ(ParseUnsigned32("1F", 16), 31u);
  EXPECT_EQ(ParseUnsigned32("0X1f", 16), 31u);
  EXPECT_EQ(ParseUnsigned32("zz", 16), 0u);
  EXPECT_EQ(ParseUnsigned32("0xg", 16), 0u);
}

TEST(Numbers, SignedParsingClampsToTheRange) {
  EXPECT_EQ(ParseSigned32("-5"), -5);
  EXPECT_EQ(ParseSigned32("12abc"), 12);
  EXPECT_EQ(ParseSigned32("abc"), 0);
  EXPECT_EQ(ParseSigned32("4294967295"), INT32_MAX);
  EXPECT_EQ(ParseSigned32("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseSigned32("-2147483649"), INT32_MIN);
  EXPECT_EQ(ParseSigned32("2147483647"), INT32_MAX);
}

// The reader's whitespace is the C locale's isspace, and no byte above 0x7F.
TEST(AsciiCase, ProfileWhitespaceIsTheSixSpaceCharacters) {
  for (int value = 0; value < 256; ++value) {
    bool space = value == ' ' || value == '\t' || value == '\n' || value == '\v' || value == '\f' ||
                 value == '\r';
    EXPECT_EQ(IsProfileSpace(static_cast<char>(value)), space) << "byte " << value;
  }
}

// The profile indexes fold eight bytes at once; they must follow the one
// rule byte for byte, in every lane, bytes above 0x7F included (0xC1 and
// 0xE1 share their low seven bits with 'A' and 'a').
TEST(AsciiCase, WordFoldingOfTheIndexesIsTheOneRule) {
  for (int lane = 0; lane < 8; ++lane) {
    for (int value = 0; value < 256; ++value) {
      unsigned char bytes[8], folded[8];
      for (int k = 0; k < 8; ++k)
        bytes[k] = static_cast<unsigned char>(k == lane ? value : 'A' + 7 * k);
      for (int k = 0; k < 8; ++k) folded[k] = FoldCase(bytes[k]);
      uint64_t word, expected;
      std::memcpy(&word, bytes, 8);
      std::memcpy(&expected, folded, 8);
      ASSERT_EQ(name_detail::FoldWord(word), expected) << "byte " << value << " in lane " << lane;
    }
  }
  for (int a = 1; a < 256; ++a) {
    for (int b = 1; b < 256; ++b) {
      // In a short name and in the tail of a long one.
      std::string x = "Name.Of.Section" + std::string(1, static_cast<char>(a));
      std::string y = "nAME.oF.sECTION" + std::string(1, static_cast<char>(b));
      bool same =
          FoldCase(static_cast<unsigned char>(a)) == FoldCase(static_cast<unsigned char>(b));
      ASSERT_EQ(NamesEqual(x.data() + 14, 2, y.data() + 14, 2), same) << a << " " << b;
      ASSERT_EQ(NamesEqual(x.data(), x.size(), y.data(), y.size()), same) << a << " " << b;
      ASSERT_EQ(EqualsNoCase(x, y), same);
      ASSERT_EQ(CompareNoCase(x.c_str(), y.c_str()) == 0, same);
      if (same) {
        ASSERT_EQ(HashName(x.data(), x.size()), HashName(y.data(), y.size()));
      }
    }
  }
}

// The reader hashes keys where they lie in the file text, reading past their
// end; lookups hash the caller's names.  Both must give the same value,
// whatever follows the name and whatever the case.
TEST(NameHash, InBufferHashEqualsTheHashOfTheNameAlone) {
  const std::string name = "Some.Key.Name.That.Runs.Long";
  for (size_t length = 0; length <= name.size(); ++length) {
    std::string alone = name.substr(0, length);
    for (char after : {'\0', '=', 'x', '\xFF'}) {
      std::string buffer = LowerCased(alone) + std::string(kShortName, after);
      ASSERT_EQ(HashNameInBuffer(buffer.data(), length), HashName(alone.data(), length))
          << length << " " << static_cast<int>(after);
    }
  }
}

TEST(AsciiCase, FoldsOnlyTheLettersAToZ) {
  EXPECT_EQ(LowerCased("AZaz@[`{\xC1\xE9 09"), "azaz@[`{\xC1\xE9 09");
  EXPECT_EQ(UpperCased("AZaz@[`{\xE1\xC9 09"), "AZAZ@[`{\xE1\xC9 09");
  EXPECT_FALSE(EqualsNoCase("file", "file:"));
  EXPECT_TRUE(EqualsNoCase(std::string("a\0B", 3), std::string("A\0b", 3)));
  // Unsigned order: a byte above 0x7F sorts after every letter.
  EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
  EXPECT_GT(CompareNoCase("a\xE9", "AZ"), 0);
  EXPECT_LT(CompareNoCase("ab", "ABC"), 0);
}

std::u16string Decode(const std::string& bytes, BadUtf8 policy, bool* wellFormed) {
  std::u16string units = u"<";
  *wellFormed = Utf8ToUtf16(bytes.data(), bytes.size(), policy, &units);
  return units;
}

std::string Encode(const std::u16string& units, LoneSurrogate policy, char32_t replacement = '?') {
  std::string bytes = "<";
  Utf16ToUtf8(units.data(), units.size(), policy, replacement, &bytes);
  return bytes;
}

TEST(Utf, WellFormedTextIsTheSameUnderEveryPolicy) {
  const std::string text =
      "a\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
  const std::u16string units = u"<a\x7F\u0080\u07FF\u0800\uD7FF\uE000\U00010000\U0010FFFF";
  for (BadUtf8 policy : {BadUtf8::kDrop, BadUtf8::kEscape}) {
    bool wellFormed = false;
    EXPECT_EQ(Decode(text, policy, &wellFormed), units);
    EXPECT_TRUE(wellFormed);
  }
  for (LoneSurrogate policy : {LoneSurrogate::kReplace, LoneSurrogate::kEscape}) {
    EXPECT_EQ(Encode(units.substr(1), policy), "<" + text);
  }
  EXPECT_TRUE(IsWellFormedUtf8(text.data(), text.size()));
}

TEST(Utf, BadBytesAreDroppedOrEscaped) {
  // Overlong, an encoded surrogate, past U+10FFFF, a stray continuation, a
  // lead byte that never starts one, and a sequence cut short.
  const std::string bad[] = {"\xC0\xAF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                             "\x80",     "\xF8",         "\xE2\x82"};
  for (const std::string& piece : bad) {
    SCOPED_TRACE(piece);
    EXPECT_FALSE(IsWellFormedUtf8(piece.data(), piece.size()));
    bool wellFormed = true;
    EXPECT_EQ(Decode("x" + piece + "y", BadUtf8::kDrop, &wellFormed), u"<xy");
    EXPECT_FALSE(wellFormed);
    wellFormed = true;
    std::u16string escaped = Decode(piece, BadUtf8::kEscape, &wellFormed);
    EXPECT_FALSE(wellFormed);
    EXPECT_EQ(Encode(escaped.substr(1), LoneSurrogate::kEscape), "<" + piece);
  }
  bool wellFormed = true;
  EXPECT_EQ(Decode("\xFF\xC3", BadUtf8::kEscape, &wellFormed), u"<\xDCFF\xDCC3");
  // An encoded lone surrogate is that surrogate, unless a low one follows a
  // high one (they would be written back joined).
  EXPECT_EQ(Decode("\xED\xA0\x80", BadUtf8::kEscape, &wellFormed), (std::u16string{'<', 0xD800}));
  EXPECT_EQ(Decode("\xED\xA0\x80\xED\xB0\x80", BadUtf8::kEscape, &wellFormed),
            (std::u16string{'<', 0xDCED, 0xDCA0, 0xDC80, 0xDC00}));
}

TEST(Utf, LoneSurrogatesAreReplacedOrEscaped) {
  const std::u16string units{0xD800, 'x', 0xDC00, 0xDCFF, 0xDBFF};
  EXPECT_EQ(Encode(units, LoneSurrogate::kReplace), "<?x???");
  // The replacement is a code point, written as UTF-8.
  EXPECT_EQ(Encode(std::u16string{0xDFFF}, LoneSurrogate::kReplace, 0xE9), "<\xC3\xA9");
  EXPECT_EQ(Encode(units, LoneSurrogate::kEscape), "<\xED\xA0\x80x\xED\xB0\x80\xFF\xED\xAF\xBF");
  // A pair is one character whatever the policy.
  char encoded[4];
  size_t consumed = 0;
  const char16_t pair[] = {0xD83D, 0xDE00};
  EXPECT_EQ(EncodeUtf16Character(pair, 2, 0, LoneSurrogate::kReplace, '?', encoded, &consumed), 4u);
  EXPECT_EQ(consumed, 2u);
  EXPECT_EQ(std::string(encoded, 4), "\xF0\x9F\x98\x80");
  EXPECT_EQ(EncodeUtf16Character(pair, 1, 0, LoneSurrogate::kReplace, '?', encoded, &consumed), 1u);
  EXPECT_EQ(consumed, 1u);
}

// The reader's conversion of a line: within any capacity it takes the run
// WideUnitsFitting measures and writes that run's conversion, whole
// characters only.  Where the code page is UTF-8, that is what the codec
// writes, and ConvertWideText cut by the capacity writes the same.
TEST(CodePage, ALineConvertsWholeCharactersWithinTheCapacity) {
  const char16_t alphabet[] = {u'a',      u'=',      u'\u00E9', u'\u07FF', u'\u0800',
                               u'\u4E2D', u'\uFFFD', 0xD83D,    0xDE00,    0xDC00};
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    std::u16string units;
    for (size_t length = random() % 40; units.size() < length;) {
      units += alphabet[random() % (sizeof alphabet / sizeof alphabet[0])];
    }
    size_t whole = ConvertWideText(CodePage::kAnsi, units.data(), units.size(), nullptr, 0, ' ');
#ifndef _WIN32
    std::string expected;
    Utf16ToUtf8(units.data(), units.size(), LoneSurrogate::kReplace, ' ', &expected);
    ASSERT_EQ(whole, expected.size());
#endif
    for (size_t capacity = 0; capacity <= whole; ++capacity) {
      SCOPED_TRACE("round " + std::to_string(round) + ", capacity " + std::to_string(capacity));
      std::string line(capacity + 4, '#');
      size_t taken = units.size() + 1;
      size_t written =
          ConvertWideTextFitting(units.data(), units.size(), &line[0], capacity, ' ', &taken);
      ASSERT_LE(written, capacity);
      EXPECT_EQ(line.substr(capacity), "####");
      EXPECT_EQ(taken,
                WideUnitsFitting(CodePage::kAnsi, units.data(), units.size(), capacity, ' '));
      EXPECT_EQ(written, ConvertWideText(CodePage::kOem, units.data(), taken, nullptr, 0, ' '));
#ifndef _WIN32
      EXPECT_EQ(line.substr(0, written), expected.substr(0, written));
      std::string cut(capacity + 4, '#');
      EXPECT_EQ(ConvertWideText(CodePage::kOem, units.data(), units.size(), &cut[0], capacity, ' '),
                written);
      EXPECT_EQ(cut, line);
#endif
    }
  }
}

}  // namespace
}  // namespace inireg
