// Narrowing and range-tested arithmetic: halves go to the even neighbour, and a
// value that leaves its width is an overflow instead of wrapping.
#include "merge/rounding.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>

namespace tandemo {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct RoundCase {
  double x;
  bool overflow;
  std::int64_t expected;
};
std::ostream& operator<<(std::ostream& os, const RoundCase& c) {
  os.precision(17);
  return os << c.x << " -> " << (c.overflow ? std::string("overflow") : std::to_string(c.expected));
}

class RoundToInt16Test : public testing::TestWithParam<RoundCase> {};
class RoundToInt32Test : public testing::TestWithParam<RoundCase> {};

TEST_P(RoundToInt16Test, RoundsHalfToEvenAndTestsTheRange) {
  const RoundCase& c = GetParam();
  Checked<std::int16_t> r = RoundToInt16(c.x);
  if (c.overflow) {
    EXPECT_EQ(r.failure, Failure::Overflow);
  } else {
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value, c.expected);
  }
}

TEST_P(RoundToInt32Test, RoundsHalfToEvenAndTestsTheRange) {
  const RoundCase& c = GetParam();
  Checked<std::int32_t> r = RoundToInt32(c.x);
  if (c.overflow) {
    EXPECT_EQ(r.failure, Failure::Overflow);
  } else {
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value, c.expected);
  }
}

// Cases that hold for both widths.
const RoundCase kHalves[] = {
    {0.5, false, 0},
    {1.5, false, 2},
    {2.5, false, 2},
    {3.5, false, 4},
    {-0.5, false, 0},
    {-1.5, false, -2},
    {-2.5, false, -2},
    {2.4999, false, 2},
    {2.5001, false, 3},
    {0.0, false, 0},
    // The largest double below 0.5: adding 0.5 and cutting would give 1.
    {0.49999999999999994, false, 0},
    {kNaN, true, 0},
    {kInf, true, 0},
    {-kInf, true, 0},
    {1e300, true, 0},
};
INSTANTIATE_TEST_SUITE_P(Halves, RoundToInt16Test, testing::ValuesIn(kHalves));
INSTANTIATE_TEST_SUITE_P(Halves, RoundToInt32Test, testing::ValuesIn(kHalves));

INSTANTIATE_TEST_SUITE_P(
    Limits, RoundToInt16Test,
    testing::Values(RoundCase{32767.4, false, 32767},
                    RoundCase{32766.5, false, 32766},    // the half goes to the even 32766
                    RoundCase{32767.5, true, 0},         // rounds to 32768, one past the top
                    RoundCase{-32768.5, false, -32768},  // the half goes to the even -32768
                    RoundCase{-32768.6, true, 0},        // rounds to -32769
                    RoundCase{-32769.0, true, 0}));

INSTANTIATE_TEST_SUITE_P(
    Limits, RoundToInt32Test,
    testing::Values(RoundCase{2147483647.4, false, 2147483647},
                    RoundCase{2147483646.5, false, 2147483646},  // even neighbour
                    RoundCase{2147483647.5, true, 0},            // rounds to 2^31, one past the top
                    RoundCase{-2147483648.5, false, -2147483648},  // even neighbour
                    RoundCase{-2147483648.75, true, 0},            // rounds to -2^31 - 1
                    RoundCase{-2147483649.0, true, 0},
                    RoundCase{32767.5, false, 32768}));  // fine in 32 bits

TEST(RoundToSingleTest, GivesTheNearestFloatTiesToEven) {
  EXPECT_EQ(RoundToSingle(10.52), 10.52f);
  EXPECT_EQ(RoundToSingle(0.1), 0.1f);
  // 1 + 2^-24 lies halfway between 1 and the next float 1 + 2^-23: the even one is 1.
  EXPECT_EQ(RoundToSingle(1.0 + std::ldexp(1.0, -24)), 1.0f);
  // 1 + 3 * 2^-24 lies halfway between 1 + 2^-23 and 1 + 2^-22: the even one is 1 + 2^-22.
  EXPECT_EQ(RoundToSingle(1.0 + 3 * std::ldexp(1.0, -24)),
            static_cast<float>(1.0 + std::ldexp(1.0, -22)));
  // No failure here: a magnitude beyond the float range is left to the offset test.
  EXPECT_EQ(RoundToSingle(1e39), std::numeric_limits<float>::infinity());
}

struct IntOpCase {
  const char* name;
  Checked<std::int64_t> (*op)(std::int64_t, std::int64_t);
  std::int64_t a, b;
  bool overflow;
  std::int64_t expected;
};
std::ostream& operator<<(std::ostream& os, const IntOpCase& c) {
  return os << c.name << "(" << c.a << ", " << c.b << ")";
}

template <class R>
Checked<std::int64_t> Widen(Checked<R> r) {
  if (!r) return r.failure;
  return static_cast<std::int64_t>(r.value);
}
Checked<std::int64_t> Add32(std::int64_t a, std::int64_t b) {
  return Widen(AddInt32(static_cast<std::int32_t>(a), static_cast<std::int32_t>(b)));
}
Checked<std::int64_t> Sub32(std::int64_t a, std::int64_t b) {
  return Widen(SubInt32(static_cast<std::int32_t>(a), static_cast<std::int32_t>(b)));
}
Checked<std::int64_t> Add16(std::int64_t a, std::int64_t b) {
  return Widen(AddInt16(static_cast<std::int16_t>(a), static_cast<std::int16_t>(b)));
}

class GuardedArithmeticTest : public testing::TestWithParam<IntOpCase> {};

TEST_P(GuardedArithmeticTest, FailsInsteadOfWrapping) {
  const IntOpCase& c = GetParam();
  Checked<std::int64_t> r = c.op(c.a, c.b);
  if (c.overflow) {
    EXPECT_EQ(r.failure, Failure::Overflow);
  } else {
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value, c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, GuardedArithmeticTest,
    testing::Values(IntOpCase{"AddInt32", Add32, 2147483646, 1, false, 2147483647},
                    IntOpCase{"AddInt32", Add32, 2147483647, 1, true, 0},
                    IntOpCase{"AddInt32", Add32, -2147483647, -1, false, -2147483648},
                    IntOpCase{"AddInt32", Add32, -2147483648, -1, true, 0},
                    IntOpCase{"AddInt32", Add32, 2147483647, -32768, false, 2147450879},
                    IntOpCase{"SubInt32", Sub32, -2147483647, 1, false, -2147483648},
                    IntOpCase{"SubInt32", Sub32, -2147483648, 1, true, 0},
                    IntOpCase{"SubInt32", Sub32, 2147483647, -1, true, 0},
                    IntOpCase{"AddInt16", Add16, 32766, 1, false, 32767},
                    IntOpCase{"AddInt16", Add16, 32767, 1, true, 0},
                    IntOpCase{"AddInt16", Add16, -32768, -1, true, 0}));

TEST(FloatingPointTestsTest, TimeDifferenceFailsOnlyWhenNotFinite) {
  Checked<double> ok = TestedDifference(3.5, 1.0);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok.value, 2.5);
  EXPECT_EQ(TestedDifference(1e308, -1e308).failure,
            Failure::Overflow);  // 2e308 is beyond the double range
  EXPECT_EQ(TestedDifference(kInf, kInf).failure, Failure::Overflow);  // an invalid operation
}

TEST(FloatingPointTestsTest, OffsetIsRoundedToFloatThenTested) {
  Checked<float> typical = TestedSingleDifference(10.92f, 10.52f);
  ASSERT_TRUE(typical.ok());
  EXPECT_EQ(typical.value, 0.3999996185302734375f);  // 10.92f - 10.52f, rounded to a float

  const float max = std::numeric_limits<float>::max();  // 2^128 - 2^104
  // FLT_MAX + 2^102 stays below the halfway point 2^128 - 2^103, so it rounds back to FLT_MAX.
  Checked<float> below = TestedSingleDifference(max, -std::ldexp(1.0f, 102));
  ASSERT_TRUE(below.ok());
  EXPECT_EQ(below.value, max);
  // FLT_MAX + 2^103 is exactly halfway to 2^128; the tie goes to the even 2^128, which is infinity.
  EXPECT_EQ(TestedSingleDifference(max, -std::ldexp(1.0f, 103)).failure, Failure::Overflow);
  EXPECT_EQ(TestedSingleDifference(3e38f, -3e38f).failure, Failure::Overflow);
  EXPECT_EQ(TestedSingleDifference(std::numeric_limits<float>::infinity(), 1.0f).failure,
            Failure::Overflow);
}

}  // namespace
}  // namespace tandemo
