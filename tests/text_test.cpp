#include <gtest/gtest.h>

#include <string>

#include "inireg/text.h"
#include "text/numbers.h"

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

}  // namespace
}  // namespace inireg
