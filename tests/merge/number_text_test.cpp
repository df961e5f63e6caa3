// Writing numbers: the exact characters of every marker number, time stamp and
// compensated DP value in the merged file come from these three conversions.
#include "merge/number_text.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace tandemo {
namespace {

struct IntCase {
  std::int32_t n;
  std::string text;
};
std::ostream& operator<<(std::ostream& os, const IntCase& c) { return os << c.n << " -> \"" << c.text << '"'; }

class IntegerTextTest : public testing::TestWithParam<IntCase> {};
TEST_P(IntegerTextTest, WritesPlainDigits) { EXPECT_EQ(IntegerText(GetParam().n), GetParam().text); }
INSTANTIATE_TEST_SUITE_P(Table, IntegerTextTest,
                         testing::Values(IntCase{0, "0"}, IntCase{7, "7"}, IntCase{100, "100"},
                                         IntCase{-12, "-12"}, IntCase{2147483647, "2147483647"},
                                         IntCase{-2147483647 - 1, "-2147483648"}));

class TimeTextTest : public testing::TestWithParam<IntCase> {};
TEST_P(TimeTextTest, WritesHashHashPointZeroZero) { EXPECT_EQ(TimeText(GetParam().n), GetParam().text); }
INSTANTIATE_TEST_SUITE_P(Table, TimeTextTest,
                         testing::Values(IntCase{0, ".00"}, IntCase{2, "2.00"}, IntCase{10, "10.00"},
                                         IntCase{1234, "1234.00"}, IntCase{-1, "-1.00"},
                                         IntCase{-5, "-5.00"}, IntCase{2147483647, "2147483647.00"},
                                         IntCase{-2147483647 - 1, "-2147483648.00"}));

struct SignalCase {
  double x;
  std::string text;
};
std::ostream& operator<<(std::ostream& os, const SignalCase& c) {
  os.precision(17);
  return os << c.x << " -> \"" << c.text << '"';
}

class SignalTextTest : public testing::TestWithParam<SignalCase> {};
TEST_P(SignalTextTest, WritesZeroPointZeroAndFiveHashes) {
  EXPECT_EQ(SignalText(GetParam().x), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SignalTextTest,
    testing::Values(SignalCase{0, "0.0"}, SignalCase{1, "1.0"}, SignalCase{100, "100.0"},
                    SignalCase{1.5, "1.5"}, SignalCase{-0.25, "-0.25"}, SignalCase{0.05, "0.05"},
                    SignalCase{10.123456, "10.123456"}, SignalCase{12.3456789, "12.345679"},
                    SignalCase{0.1234564, "0.123456"}, SignalCase{-3.14159265, "-3.141593"},
                    SignalCase{99.9999996, "100.0"}, SignalCase{0.0000004, "0.0"},
                    SignalCase{0.0000006, "0.000001"}, SignalCase{-1.0000004, "-1.0"},
                    SignalCase{1234567.891, "1234567.891"}, SignalCase{0.1 + 0.2, "0.3"}));

INSTANTIATE_TEST_SUITE_P(
    FifteenDigitsThenSix, SignalTextTest,
    testing::Values(
        // The double nearest 0.1234565 lies just below the half, but at 15 significant
        // digits it reads 0.123456500000000, whose seventh decimal 5 rounds up.
        SignalCase{0.1234565, "0.123457"},
        SignalCase{0.0000005, "0.000001"},   // likewise just below 5e-7 in binary
        SignalCase{-0.0000005, "-0.000001"}, // half away from zero on the negative side
        SignalCase{0.00000025, "0.0"},
        SignalCase{999999.9999995, "1000000.0"},  // the carry runs into a new digit
        // Only 15 digits are significant; the rest are written as zeros, never as an exponent.
        SignalCase{123456789012345678.0, "123456789012346000.0"},
        SignalCase{1e20, "100000000000000000000.0"},
        SignalCase{1e-20, "0.0"},
        SignalCase{-9.9999996, "-10.0"},
        SignalCase{999999999999999.9, "1000000000000000.0"},  // 16 digits: rounded at the 15th
        // The extremes of the double range: 309 integer digits, and a denormal that is 0.
        SignalCase{1.7976931348623157e308, "179769313486232" + std::string(294, '0') + ".0"},
        SignalCase{-1.7976931348623157e308, "-179769313486232" + std::string(294, '0') + ".0"},
        SignalCase{4.9406564584124654e-324, "0.0"}));

// A value that rounds to zero at six decimals is written without a sign.
INSTANTIATE_TEST_SUITE_P(NegativeZero, SignalTextTest,
                         testing::Values(SignalCase{-0.0, "0.0"}, SignalCase{-0.0000004, "0.0"}));

TEST(AppendTextTest, AppendsAfterWhatIsThere) {
  std::string line = "@";
  AppendTimeText(line, 600);
  line += ',';
  AppendSignalText(line, 11.0);
  EXPECT_EQ(line, "@600.00,11.0");
}

}  // namespace
}  // namespace tandemo
