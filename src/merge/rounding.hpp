// Narrowing conversions and range-tested integer arithmetic. Nothing here wraps:
// a value out of its width is an overflow failure.
#pragma once

#include <cstdint>

#include "checked.hpp"

namespace tandemo {

// Nearest integer, halves to the even neighbour; the range test follows the
// rounding, so 32767.5 overflows (it rounds to 32768) while -32768.5 gives -32768.
Checked<std::int16_t> RoundToInt16(double x);
Checked<std::int32_t> RoundToInt32(double x);
Checked<std::int64_t> RoundToInt64(double x);

// Nearest 32-bit float, ties to even. Magnitudes beyond the float range become
// infinity; the offset test catches that where it matters.
float RoundToSingle(double x);

Checked<std::int32_t> AddInt32(std::int32_t a, std::int32_t b);
Checked<std::int32_t> SubInt32(std::int32_t a, std::int32_t b);
Checked<std::int16_t> AddInt16(std::int16_t a, std::int16_t b);

// The two floating-point tests: an infinite or invalid (NaN) result is an overflow.
Checked<double> TestedDifference(double a, double b);     // time difference, 64-bit
Checked<float> TestedSingleDifference(float a, float b);  // DP offset, rounded to 32-bit

}  // namespace tandemo
