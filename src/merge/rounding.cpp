#include "rounding.hpp"

#include <cmath>
#include <limits>

namespace tandemo {
namespace {

template <class Int>
Checked<Int> RoundTo(double x) {
  if (std::isnan(x)) return Failure::Overflow;
  // nearbyint rounds in the current mode, which is round-to-nearest-even unless
  // somebody changed it; do it by hand so no global state is consulted.
  double fl = std::floor(x);
  double diff = x - fl;
  double r = fl;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(fl, 2.0) != 0.0)) r = fl + 1.0;
  // r is whole, so "below -min" is "at most max"; -min is exact as a double where max may not be.
  const double low = static_cast<double>(std::numeric_limits<Int>::min());
  if (r < low || r >= -low) {
    return Failure::Overflow;
  }
  return static_cast<Int>(r);
}

}  // namespace

Checked<std::int16_t> RoundToInt16(double x) { return RoundTo<std::int16_t>(x); }
Checked<std::int32_t> RoundToInt32(double x) { return RoundTo<std::int32_t>(x); }
Checked<std::int64_t> RoundToInt64(double x) { return RoundTo<std::int64_t>(x); }

float RoundToSingle(double x) { return static_cast<float>(x); }

Checked<std::int32_t> AddInt32(std::int32_t a, std::int32_t b) {
  std::int64_t r = std::int64_t{a} + b;
  if (r < std::numeric_limits<std::int32_t>::min() || r > std::numeric_limits<std::int32_t>::max())
    return Failure::Overflow;
  return static_cast<std::int32_t>(r);
}

Checked<std::int32_t> SubInt32(std::int32_t a, std::int32_t b) {
  std::int64_t r = std::int64_t{a} - b;
  if (r < std::numeric_limits<std::int32_t>::min() || r > std::numeric_limits<std::int32_t>::max())
    return Failure::Overflow;
  return static_cast<std::int32_t>(r);
}

Checked<std::int16_t> AddInt16(std::int16_t a, std::int16_t b) {
  int r = int{a} + int{b};
  if (r < std::numeric_limits<std::int16_t>::min() || r > std::numeric_limits<std::int16_t>::max())
    return Failure::Overflow;
  return static_cast<std::int16_t>(r);
}

Checked<double> TestedDifference(double a, double b) {
  double d = a - b;
  if (!std::isfinite(d)) return Failure::Overflow;
  return d;
}

Checked<float> TestedSingleDifference(float a, float b) {
  float d = RoundToSingle(double{a} - double{b});
  if (!std::isfinite(d)) return Failure::Overflow;
  return d;
}

}  // namespace tandemo
