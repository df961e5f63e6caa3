#include "number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace tandemo {

std::string IntegerText(std::int32_t n) {
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, n);
  return std::string(buf, r.ptr);
}

namespace {

// Writes digits laid out as `intLen` integer digits and six decimals, dropping
// trailing zeros of the decimals but keeping one; no sign on a zero.
void AppendRounded(std::string& out, bool negative, const char* plain, int intLen) {
  int keep = 6;
  while (keep > 1 && plain[intLen + keep - 1] == '0') --keep;
  bool zero = true;
  for (int k = 0; k < intLen + keep; ++k) zero = zero && plain[k] == '0';
  if (negative && !zero) out += '-';
  out.append(plain, static_cast<std::size_t>(intLen));
  out += '.';
  out.append(plain + intLen, static_cast<std::size_t>(keep));
}

}  // namespace

void AppendTimeText(std::string& out, std::int32_t n) {
  if (n != 0) {
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
  }
  out += ".00";
}

std::string TimeText(std::int32_t n) {
  std::string s;
  AppendTimeText(s, n);
  return s;
}

void AppendSignalText(std::string& out, double x) {
  // 15 significant digits, as "d.ddddddddddddddde+XX".
  char sci[40];
  auto r = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific, 14);
  if (!std::isfinite(x)) {  // not reached by the merge, which refuses such values first
    out.append(sci, r.ptr);
    return;
  }
  const char* s = sci;
  const bool negative = *s == '-';
  if (negative) ++s;
  char digits[15];
  int nd = 0;
  for (; *s != 'e'; ++s)
    if (*s != '.') digits[nd++] = *s;
  int exp10 = 0;
  ++s;  // past 'e'
  if (*s == '+') ++s;
  std::from_chars(s, r.ptr, exp10);

  // The number as plain digits with the point after `intLen` of them, at least
  // seven decimals: room for 309 integer digits of the largest double.
  char plain[400];
  int len = 0;
  const int intLen = exp10 >= 0 ? exp10 + 1 : 1;
  if (exp10 >= 0) {
    for (int k = 0; k < intLen; ++k) plain[len++] = k < nd ? digits[k] : '0';
    for (int k = intLen; k < nd; ++k) plain[len++] = digits[k];
  } else {
    plain[len++] = '0';
    for (int k = 1; k < -exp10; ++k) plain[len++] = '0';
    for (int k = 0; k < nd; ++k) plain[len++] = digits[k];
  }
  while (len < intLen + 7) plain[len++] = '0';

  // Six decimals, half away from zero: a 5 in the seventh rounds the magnitude up.
  const int last = intLen + 5;
  if (plain[last + 1] >= '5') {
    int k = last;
    while (k >= 0 && plain[k] == '9') plain[k--] = '0';
    if (k >= 0) {
      ++plain[k];
    } else {  // 999.9999996 -> 1000.0: one more integer digit
      std::memmove(plain + 1, plain, static_cast<std::size_t>(last + 1));
      plain[0] = '1';
      ++len;
      return AppendRounded(out, negative, plain, intLen + 1);
    }
  }
  AppendRounded(out, negative, plain, intLen);
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
