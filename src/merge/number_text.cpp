#include "number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace tandemo {

std::string IntegerText(std::int32_t n) {
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, n);
  return std::string(buf, r.ptr);
}

namespace {

// An infinity or NaN written as to_chars writes it; false for a finite value.
bool AppendIfNotFinite(std::string& out, double x) {
  if (std::isfinite(x)) return false;
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  out.append(buf, r.ptr);
  return true;
}

// Writes digits laid out as `integerDigits` integer digits and six decimals, dropping
// trailing zeros of the decimals but keeping one; no sign on a zero.
void AppendRounded(std::string& out, bool negative, const char* plain, int integerDigits) {
  int keep = 6;
  while (keep > 1 && plain[integerDigits + keep - 1] == '0') --keep;
  bool zero = true;
  for (int k = 0; k < integerDigits + keep; ++k) zero = zero && plain[k] == '0';
  if (negative && !zero) out += '-';
  out.append(plain, static_cast<std::size_t>(integerDigits));
  out += '.';
  out.append(plain + integerDigits, static_cast<std::size_t>(keep));
}

// Two decimal digits of `two` (below 100) at `out`.
void WritePair(char* out, unsigned two) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  std::memcpy(out, kPairs + 2 * two, 2);
}

// The decimal digits of `n` at `out`, without leading zeros ("0" for 0); one past
// the last. Counted first and written in place two at a time: a number of the size
// a time stamp or DP holds takes a few 32-bit steps.
char* WriteDigits(char* out, std::uint64_t n) {
  if (n > std::numeric_limits<std::uint32_t>::max()) return std::to_chars(out, out + 20, n).ptr;
  auto small = static_cast<std::uint32_t>(n);
  int count = 1;
  for (std::uint32_t reach = 10; count < 10 && small >= reach; reach *= 10) ++count;
  char* p = out + count;
  while (small >= 100) {
    p -= 2;
    WritePair(p, small % 100);
    small /= 100;
  }
  if (small >= 10) {
    WritePair(p - 2, small);
  } else {
    p[-1] = static_cast<char>('0' + small);
  }
  return out + count;
}

}  // namespace

char* WriteTimeStampText(char* out, std::int64_t hundredths) {
  // The magnitude as unsigned, so that the lowest value needs no special case.
  const bool negative = hundredths < 0;
  const std::uint64_t magnitude = negative
                                      ? std::uint64_t{0} - static_cast<std::uint64_t>(hundredths)
                                      : static_cast<std::uint64_t>(hundredths);
  if (negative) *out++ = '-';
  const std::uint64_t seconds = magnitude / 100;
  if (seconds > 0) out = WriteDigits(out, seconds);  // no "0" before the point
  *out++ = '.';
  WritePair(out, static_cast<unsigned>(magnitude % 100));
  return out + 2;
}

void AppendTimeStampText(std::string& out, std::int64_t hundredths) {
  char buf[kTimeStampChars];
  out.append(buf, static_cast<std::size_t>(WriteTimeStampText(buf, hundredths) - buf));
}

std::string TimeStampText(std::int64_t hundredths) {
  std::string s;
  AppendTimeStampText(s, hundredths);
  return s;
}

std::string SecondsText(std::int64_t hundredths) {
  std::string text = TimeStampText(hundredths);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  if (text.empty() || text == "-") text += '0';
  const std::size_t point = text.find('.');
  if (point == 0 || (point == 1 && text[0] == '-')) text.insert(point, "0");
  return text;
}

namespace {

// Adds one to the last of n decimal digits; true when the carry runs out of the
// first digit, which leaves them all "0".
bool RoundUp(char* digits, int n) {
  int k = n - 1;
  while (k >= 0 && digits[k] == '9') digits[k--] = '0';
  if (k < 0) return true;
  ++digits[k];
  return false;
}

// Digits and exponent of a scientific text "[-]d.ddde[+-]XX" as to_chars writes it.
Significant15 ParseScientific(const char* s, const char* end) {
  Significant15 r;
  r.negative = *s == '-';
  if (r.negative) ++s;
  char all[20];
  int n = 0;
  for (; *s != 'e'; ++s)
    if (*s != '.' && n < 20) all[n++] = *s;
  ++s;  // past 'e'
  if (*s == '+') ++s;
  std::from_chars(s, end, r.exp10);
  r.count = n < 15 ? n : 15;
  std::memcpy(r.digits, all, static_cast<std::size_t>(r.count));
  r.tail = n > 15 ? (all[15] - '0') * 10 + (n > 16 ? all[16] - '0' : 0) : 0;
  return r;
}

}  // namespace

Significant15 FifteenDigits(double x) {
  // The shortest text that reads back as x is cheap. With 15 digits or fewer it is
  // x rounded to 15 digits (x lies within half an ulp of it, closer than half a
  // step of 15 digits). With 16 or 17 digits it rounds like x unless its digits
  // after the 15th lie within 12 units of the 17th digit of a half, since x lies
  // within 11.1 such units of it; only then is the exact, slower rounding needed.
  char sci[40];
  auto r = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific);
  Significant15 d = ParseScientific(sci, r.ptr);
  // Subnormal numbers carry fewer bits than that reasoning needs.
  if ((d.tail >= 39 && d.tail <= 61) || std::fpclassify(x) == FP_SUBNORMAL) {
    r = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific, 14);
    d = ParseScientific(sci, r.ptr);
    d.tail = 0;
    return d;
  }
  if (d.tail > 50 && RoundUp(d.digits, d.count)) {  // 9.99...9 -> 10.0...0
    d.digits[0] = '1';
    ++d.exp10;
  }
  d.tail = 0;
  return d;
}

char* WriteQuickSignalText(char* out, double x) {
  // Most DP values are small: x * 10^6 then carries an error far below 10^-4, and
  // rounding x to 15 digits moves it by less still, so unless its fraction lies
  // within 10^-4 of a half, rounding x * 10^6 to a whole number gives the digits
  // the two roundings give.
  const double magnitude = std::fabs(x);
  if (!(magnitude < 1e4)) return nullptr;
  const double scaled = magnitude * 1e6;
  // Below 10^10: the conversion truncates, which for a magnitude is the floor.
  const auto whole = static_cast<std::uint64_t>(scaled);
  const double fraction = scaled - static_cast<double>(whole);
  if (!(std::fabs(fraction - 0.5) > 1e-4)) return nullptr;
  const std::uint64_t units = whole + (fraction > 0.5 ? 1 : 0);
  if (units == 0) {
    *out++ = '0';
    *out++ = '.';
    *out++ = '0';
    return out;
  }
  if (x < 0) *out++ = '-';
  out = WriteDigits(out, units / 1000000);  // below 10^4, or 10^4 itself after rounding up
  *out++ = '.';
  // Six decimals two at a time, then trailing zeros dropped but one kept.
  const auto decimals = static_cast<unsigned>(units % 1000000);
  WritePair(out, decimals / 10000);
  WritePair(out + 2, decimals / 100 % 100);
  WritePair(out + 4, decimals % 100);
  int keep = 6;
  while (keep > 1 && out[keep - 1] == '0') --keep;
  return out + keep;
}

void AppendSignalText(std::string& out, double x) {
  char buf[kQuickSignalChars];
  if (char* end = WriteQuickSignalText(buf, x)) {
    out.append(buf, static_cast<std::size_t>(end - buf));
    return;
  }
  detail::AppendSignalTextExact(out, x);
}

namespace detail {

void AppendSignalTextExact(std::string& out, double x) {
  if (AppendIfNotFinite(out, x))
    return;  // not reached by the merge, which refuses such values first
  const Significant15 fifteen = FifteenDigits(x);
  const bool negative = fifteen.negative;
  const char* digits = fifteen.digits;
  const int nd = fifteen.count;
  const int exp10 = fifteen.exp10;

  // The number as plain digits with the point after `integerDigits` of them, at least
  // seven decimals: room for 309 integer digits of the largest double.
  char plain[400];
  int len = 0;
  const int integerDigits = exp10 >= 0 ? exp10 + 1 : 1;
  if (exp10 >= 0) {
    for (int k = 0; k < integerDigits; ++k) plain[len++] = k < nd ? digits[k] : '0';
    for (int k = integerDigits; k < nd; ++k) plain[len++] = digits[k];
  } else {
    plain[len++] = '0';
    for (int k = 1; k < -exp10; ++k) plain[len++] = '0';
    for (int k = 0; k < nd; ++k) plain[len++] = digits[k];
  }
  while (len < integerDigits + 7) plain[len++] = '0';

  // Six decimals, half away from zero: a 5 in the seventh rounds the magnitude up.
  const int last = integerDigits + 5;
  if (plain[last + 1] >= '5' && RoundUp(plain, last + 1)) {  // 999.9999996 -> 1000.0
    std::memmove(plain + 1, plain, static_cast<std::size_t>(last + 1));
    plain[0] = '1';
    return AppendRounded(out, negative, plain, integerDigits + 1);
  }
  AppendRounded(out, negative, plain, integerDigits);
}

}  // namespace detail

void AppendStartTimeText(std::string& out, double seconds) {
  if (AppendIfNotFinite(out, seconds))
    return;  // not reached by the merge, which leaves such fields alone
  const Significant15 fifteen = FifteenDigits(seconds);
  int count = fifteen.count;
  while (count > 0 && fifteen.digits[count - 1] == '0') --count;
  if (count == 0) {  // zero, whatever its sign
    out += '0';
    return;
  }
  if (fifteen.negative) out += '-';
  const int exp10 = fifteen.exp10;
  auto digit = [&](int k) { return k < count ? fifteen.digits[k] : '0'; };
  if (exp10 < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exp10 - 1), '0');
    out.append(fifteen.digits, static_cast<std::size_t>(count));
    return;
  }
  for (int k = 0; k <= exp10; ++k) out += digit(k);
  if (count > exp10 + 1) {
    out += '.';
    out.append(fifteen.digits + exp10 + 1, static_cast<std::size_t>(count - exp10 - 1));
  }
}

std::string StartTimeText(double seconds) {
  std::string s;
  AppendStartTimeText(s, seconds);
  return s;
}

std::string SignalText(double x) {
  std::string s;
  AppendSignalText(s, x);
  return s;
}

std::string ShortestText(float f) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, f);
  return std::string(buf, r.ptr);
}

}  // namespace tandemo
