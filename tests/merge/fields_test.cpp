// Finding commas in lines: comma positions are 16-bit, and the text around them
// is cut out exactly.
#include "merge/fields.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace tandemo {
namespace {

// A line whose first comma stands at the given 1-based position.
std::string CommaAt(std::size_t position, std::size_t length) {
  std::string s(length, '7');
  s[position - 1] = ',';
  return s;
}

struct CommaCase {
  std::string name;
  std::string text;
  bool overflow;
  int expected;
};
std::ostream& operator<<(std::ostream& os, const CommaCase& c) { return os << c.name; }

class CommaPositionTest : public testing::TestWithParam<CommaCase> {};

TEST_P(CommaPositionTest, FindsTheFirstCommaIn16Bits) {
  const CommaCase& c = GetParam();
  Checked<std::int16_t> p = CommaPosition(c.text);
  if (c.overflow) {
    EXPECT_EQ(p.failure, Failure::Overflow);
  } else {
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(p.value, c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommaPositionTest,
    testing::Values(CommaCase{"DataLine", "2.00,10.5", false, 5},
                    CommaCase{"Leading", ",x", false, 1}, CommaCase{"Marker", "@1,2", false, 3},
                    CommaCase{"NoComma", "abc", false, 0}, CommaCase{"Empty", "", false, 0},
                    CommaCase{"LongWithoutComma", std::string(40000, 'x'), false, 0},
                    // 32767 is the largest 16-bit position; one more does not fit.
                    CommaCase{"At32767", CommaAt(32767, 40000), false, 32767},
                    CommaCase{"At32768", CommaAt(32768, 40000), true, 0},
                    CommaCase{"At32768EndsLine", CommaAt(32768, 32768), true, 0}),
    [](const testing::TestParamInfo<CommaCase>& p) { return p.param.name; });

TEST(TextAfterTest, GivesTheCharactersAfterAPosition) {
  EXPECT_EQ(TextAfter("2.00,10.5,3", 5), "10.5,3");
  EXPECT_EQ(TextAfter("6.00,", 5), "");
  EXPECT_EQ(TextAfter("abc", 0), "abc");
  EXPECT_EQ(TextAfter("abc", 3), "");
  EXPECT_EQ(TextAfter("abc", 9), "");
}

TEST(CharactersFromTest, GivesAtMostNCharactersFromAPosition) {
  EXPECT_EQ(CharactersFrom("@12,3.5", 2, 3), "12,");  // the marker number and its comma
  EXPECT_EQ(CharactersFrom("@3,", 2, 2), "3,");
  EXPECT_EQ(CharactersFrom("abc", 2, 10), "bc");  // fewer when the text ends first
  EXPECT_EQ(CharactersFrom("ab", 3, 1), "");      // none beyond the end
}

TEST(MarkerLineTest, OnlyAnAtSignInTheFirstPlace) {
  EXPECT_TRUE(IsMarkerLine("@1,10"));
  EXPECT_TRUE(IsMarkerLine("@"));
  EXPECT_FALSE(IsMarkerLine(" @1,10"));
  EXPECT_FALSE(IsMarkerLine(""));
  EXPECT_FALSE(IsMarkerLine("1,@"));
}

}  // namespace
}  // namespace tandemo
