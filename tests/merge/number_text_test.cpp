// Writing numbers: the exact characters of every marker number, time stamp and
// compensated DP value in the merged file come from these three conversions.
#include "merge/number_text.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>

namespace tandemo {
namespace {

struct IntCase {
  std::int32_t n;
  std::string text;
};
std::ostream& operator<<(std::ostream& os, const IntCase& c) {
  return os << c.n << " -> \"" << c.text << '"';
}

class IntegerTextTest : public testing::TestWithParam<IntCase> {};
TEST_P(IntegerTextTest, WritesPlainDigits) {
  EXPECT_EQ(IntegerText(GetParam().n), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(Table, IntegerTextTest,
                         testing::Values(IntCase{0, "0"}, IntCase{7, "7"}, IntCase{100, "100"},
                                         IntCase{-12, "-12"}, IntCase{2147483647, "2147483647"},
                                         IntCase{-2147483647 - 1, "-2147483648"}));

struct TimeStampCase {
  std::int64_t hundredths;
  std::string text;
};
std::ostream& operator<<(std::ostream& os, const TimeStampCase& c) {
  return os << c.hundredths << " -> \"" << c.text << '"';
}

class TimeStampTextTest : public testing::TestWithParam<TimeStampCase> {};
TEST_P(TimeStampTextTest, WritesHashHashPointZeroZero) {
  EXPECT_EQ(TimeStampText(GetParam().hundredths), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(
    Table, TimeStampTextTest,
    testing::Values(
        TimeStampCase{0, ".00"}, TimeStampCase{200, "2.00"}, TimeStampCase{1000, "10.00"},
        TimeStampCase{123400, "1234.00"}, TimeStampCase{-100, "-1.00"},
        TimeStampCase{-500, "-5.00"}, TimeStampCase{250, "2.50"}, TimeStampCase{60250, "602.50"},
        TimeStampCase{357, "3.57"}, TimeStampCase{1, ".01"}, TimeStampCase{50, ".50"},
        TimeStampCase{-50, "-.50"}, TimeStampCase{-1, "-.01"}, TimeStampCase{-205, "-2.05"},
        // 2147483647 * 100 and -2147483648 * 100: the limits of the merged time axis.
        TimeStampCase{214748364700, "2147483647.00"},
        TimeStampCase{-214748364800, "-2147483648.00"},
        // The lowest 64-bit value has no positive counterpart.
        TimeStampCase{std::numeric_limits<std::int64_t>::min(), "-92233720368547758.08"}));

struct StartTimeCase {
  double seconds;
  std::string text;
};
std::ostream& operator<<(std::ostream& os, const StartTimeCase& c) {
  os.precision(17);
  return os << c.seconds << " -> \"" << c.text << '"';
}

class StartTimeTextTest : public testing::TestWithParam<StartTimeCase> {};
TEST_P(StartTimeTextTest, FifteenDigitsWithoutExponent) {
  EXPECT_EQ(StartTimeText(GetParam().seconds), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(
    Table, StartTimeTextTest,
    testing::Values(StartTimeCase{360.165999999997, "360.165999999997"},
                    // 360.165999999997 + 299 carries binary noise beyond the 15th digit.
                    StartTimeCase{360.165999999997 + 299.0, "659.165999999997"},
                    StartTimeCase{659.0, "659"}, StartTimeCase{0.0, "0"}, StartTimeCase{-0.0, "0"},
                    StartTimeCase{60.0900000000038, "60.0900000000038"}, StartTimeCase{2.5, "2.5"},
                    StartTimeCase{-12.25, "-12.25"}, StartTimeCase{0.0001, "0.0001"},
                    StartTimeCase{1e20, "100000000000000000000"},
                    // 16 and 17 digits round to 15: 0.1 + 0.2 is 0.30000000000000004.
                    StartTimeCase{0.1 + 0.2, "0.3"},
                    StartTimeCase{123456789.123456789, "123456789.123457"},
                    StartTimeCase{999999999999999.9, "1000000000000000"}));

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
        SignalCase{0.0000005, "0.000001"},    // likewise just below 5e-7 in binary
        SignalCase{-0.0000005, "-0.000001"},  // half away from zero on the negative side
        SignalCase{0.00000025, "0.0"},
        SignalCase{999999.9999995, "1000000.0"},  // the carry runs into a new digit
        // Only 15 digits are significant; the rest are written as zeros, never as an exponent.
        SignalCase{123456789012345678.0, "123456789012346000.0"},
        SignalCase{1e20, "100000000000000000000.0"}, SignalCase{1e-20, "0.0"},
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
  AppendTimeStampText(line, 60050);
  line += ',';
  AppendSignalText(line, 11.0);
  line += ',';
  AppendStartTimeText(line, 12.5);
  EXPECT_EQ(line, "@600.50,11.0,12.5");
}

// The 15-digit rounding takes a shortcut through the shortest text of a double;
// it must give exactly what rounding the exact binary value gives.
std::string FifteenOf(double x) {
  const Significant15 d = FifteenDigits(x);
  std::string digits(d.digits, static_cast<std::size_t>(d.count));
  digits.resize(15, '0');
  return (d.negative ? "-" : "") + digits + "e" + std::to_string(d.exp10);
}

std::string ExactFifteenOf(double x) {
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 14);
  std::string s(buf, r.ptr);
  const bool negative = s[0] == '-';
  std::string digits;
  std::size_t i = negative ? 1 : 0;
  for (; s[i] != 'e'; ++i)
    if (s[i] != '.') digits += s[i];
  return (negative ? "-" : "") + digits + "e" + std::to_string(std::stoi(s.substr(i + 1)));
}

TEST(FifteenDigitsTest, SameAsRoundingTheExactValue) {
  std::mt19937_64 gen(20261210);
  std::uniform_real_distribution<double> dp(-50.0, 50.0);
  std::uniform_int_distribution<std::uint64_t> bits;
  for (int i = 0; i < 200000; ++i) {
    double typical =
        dp(gen) - static_cast<double>(static_cast<float>(dp(gen)));  // a DP less an offset
    std::uint64_t b = bits(gen);
    double any;
    std::memcpy(&any, &b, sizeof any);
    for (double x : {typical, any}) {
      if (!std::isfinite(x)) continue;
      ASSERT_EQ(FifteenOf(x), ExactFifteenOf(x)) << "x = " << x;
    }
  }
}

// The DP text's shortcut for small values gives the characters of the way through
// 15 digits: for typical DP values less an offset, for values on and beside a half
// of the sixth decimal, and around the shortcut's limit of 10^4.
TEST(SignalTextTest, ShortcutGivesTheExactText) {
  std::mt19937_64 gen(20261211);
  std::uniform_real_distribution<double> dp(-50.0, 50.0);
  std::uniform_int_distribution<long long> units(-99999999999LL, 99999999999LL);
  auto exact = [](double x) {
    std::string s;
    detail::AppendSignalTextExact(s, x);
    return s;
  };
  for (int i = 0; i < 200000; ++i) {
    const double typical = dp(gen) - static_cast<double>(static_cast<float>(dp(gen)));
    const double half =
        (static_cast<double>(units(gen)) + 0.5) / 1e6;  // on a half, as near as a double gets
    for (double x : {typical, half, std::nextafter(half, 0.0), std::nextafter(half, 1e300),
                     half * 1e-7, 1e4 - half / 1e7}) {
      ASSERT_EQ(SignalText(x), exact(x)) << "x = " << x;
    }
  }
}

TEST(FifteenDigitsTest, DigitsAfterTheFifteenthNearAHalf) {
  // 17-digit texts whose 16th and 17th digits are 38, 39, 50, 61 and 62: both sides
  // of the band where the shortcut hands over to exact rounding, and its middle;
  // each with the neighbouring doubles, and carries into a new leading digit.
  for (const char* text : {"1.2345678901234538", "1.2345678901234539", "1.2345678901234550",
                           "1.2345678901234561", "1.2345678901234562", "9.9999999999999962",
                           "9.9999999999999950", "0.10000000000000050", "123456789012345.50"}) {
    double x = 0;
    std::from_chars(text, text + std::strlen(text), x);
    for (double y : {std::nextafter(x, -1e300), x, std::nextafter(x, 1e300)}) {
      EXPECT_EQ(FifteenOf(y), ExactFifteenOf(y)) << text;
      EXPECT_EQ(FifteenOf(-y), ExactFifteenOf(-y)) << text;
    }
  }
}

}  // namespace
}  // namespace tandemo
