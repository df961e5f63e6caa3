// Writing numbers as text, exactly as the merged file holds them. No locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tandemo {

// Decimal digits, "-" for a negative number: 0 -> "0", -12 -> "-12".
std::string IntegerText(std::int32_t n);

// A time stamp given in hundredths of a second, in the "##.00" pattern:
// 500 -> "5.00", 250 -> "2.50", 0 -> ".00", 50 -> ".50", -500 -> "-5.00", -50 -> "-.50".
std::string TimeStampText(std::int64_t hundredths);
void AppendTimeStampText(std::string& out, std::int64_t hundredths);
// Seconds given in hundredths, as a person writes them: 200 -> "2", 250 -> "2.5",
// 1 -> "0.01", -50 -> "-0.5", 0 -> "0". For time steps in messages and facts.
std::string SecondsText(std::int64_t hundredths);
// The same characters written at `out`, which has room for kTimeStampChars; returns
// one past the last. For the hot path, which builds each line in place.
inline constexpr std::size_t kTimeStampChars = 32;
char* WriteTimeStampText(char* out, std::int64_t hundredths);

// A marker line's start time as the instruments write it: up to 15 significant
// digits, never an exponent, trailing zeros dropped, no point for a whole number.
// 360.165999999997 -> "360.165999999997", 659.0 -> "659", 0.0001 -> "0.0001".
std::string StartTimeText(double seconds);
void AppendStartTimeText(std::string& out, double seconds);

// A DP value in the "0.0#####" pattern: 15 significant digits, then six decimals
// rounded half away from zero, trailing zeros dropped but one kept; never an
// exponent. 12.5 -> "12.5", 100 -> "100.0", 0.30000000000000004 -> "0.3".
// A value that rounds to zero is written "0.0", without a sign.
std::string SignalText(double x);
void AppendSignalText(std::string& out, double x);
// The characters of AppendSignalText written at `out`, which has room for
// kQuickSignalChars, for the usual DP value; nullptr, having written nothing, for
// a value that needs AppendSignalText's longer way.
inline constexpr std::size_t kQuickSignalChars = 32;
char* WriteQuickSignalText(char* out, double x);

namespace detail {
// The DP text by way of the 15 digits, for every value; AppendSignalText takes a
// shortcut for most values and must give the same characters.
void AppendSignalTextExact(std::string& out, double x);
}  // namespace detail

// A double rounded to 15 significant decimal digits, the first step of the DP text.
struct Significant15 {
  bool negative = false;
  char digits[15] = {};
  int count = 0;  // digits held; the missing ones are zeros
  int exp10 = 0;  // the first digit's power of ten
  int tail = 0;   // internal: the 16th and 17th digits of the shortest text
};
Significant15 FifteenDigits(double x);

// The shortest text that reads back as the same 32-bit float ("0.39999962"),
// for messages and summaries.
std::string ShortestText(float f);

}  // namespace tandemo
