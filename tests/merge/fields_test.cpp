// Cutting lines at commas: comma positions are 16-bit, and splitting then joining
// must give back every character, so replacing one field changes nothing else.
#include "merge/fields.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

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
    testing::Values(CommaCase{"DataLine", "2.00,10.5", false, 5}, CommaCase{"Leading", ",x", false, 1},
                    CommaCase{"Marker", "@1,2", false, 3}, CommaCase{"NoComma", "abc", false, 0},
                    CommaCase{"Empty", "", false, 0},
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
  EXPECT_EQ(CharactersFrom("abc", 2, 10), "bc");      // fewer when the text ends first
  EXPECT_EQ(CharactersFrom("ab", 3, 1), "");          // none beyond the end
}

TEST(MarkerLineTest, OnlyAnAtSignInTheFirstPlace) {
  EXPECT_TRUE(IsMarkerLine("@1,10"));
  EXPECT_TRUE(IsMarkerLine("@"));
  EXPECT_FALSE(IsMarkerLine(" @1,10"));
  EXPECT_FALSE(IsMarkerLine(""));
  EXPECT_FALSE(IsMarkerLine("1,@"));
}

struct SplitCase {
  std::string text;
  std::vector<std::string> fields;
};
std::ostream& operator<<(std::ostream& os, const SplitCase& c) { return os << '"' << c.text << '"'; }

class SplitFieldsTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitFieldsTest, CutsAtEveryCommaAndJoinsBack) {
  const SplitCase& c = GetParam();
  std::vector<std::string_view> fields = SplitFields(c.text);
  EXPECT_EQ(std::vector<std::string>(fields.begin(), fields.end()), c.fields);
  EXPECT_EQ(JoinFields(fields), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitFieldsTest,
    testing::Values(SplitCase{"a,b,c", {"a", "b", "c"}}, SplitCase{"6.00,,3", {"6.00", "", "3"}},
                    SplitCase{"6.00,", {"6.00", ""}}, SplitCase{",6.00", {"", "6.00"}},
                    SplitCase{"abc", {"abc"}}, SplitCase{",", {"", ""}},
                    SplitCase{",,,", {"", "", "", ""}}, SplitCase{"", {}},
                    SplitCase{"6.00, 12.75 ,25.1", {"6.00", " 12.75 ", "25.1"}}));

TEST(SplitFieldsTest, ReusedListIsClearedFirst) {
  std::vector<std::string_view> fields;
  SplitFields("a,b,c,d", fields);
  SplitFields("x,y", fields);
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[1], "y");
  SplitFields("", fields);
  EXPECT_TRUE(fields.empty());
}

}  // namespace
}  // namespace tandemo
