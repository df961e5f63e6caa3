#include "number_text.hpp"

#include <charconv>
#include <cmath>

namespace tandemo {

std::string IntegerText(std::int32_t n) {
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, n);
  return std::string(buf, r.ptr);
}

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
  std::string_view s(sci, static_cast<std::size_t>(r.ptr - sci));
  bool negative = false;
  if (!s.empty() && s.front() == '-') { negative = true; s.remove_prefix(1); }
  if (s.size() < 3 || !std::isfinite(x)) {  // not reached for finite values; keep it readable
    out.append(sci, r.ptr);
    return;
  }
  std::size_t ePos = s.find('e');
  char digits[15];
  std::size_t nd = 0;
  for (std::size_t i = 0; i < ePos && nd < 15; ++i)
    if (s[i] != '.') digits[nd++] = s[i];
  int exp10 = 0;
  std::from_chars(s.data() + ePos + (s[ePos + 1] == '+' ? 2 : 1), s.data() + s.size(), exp10);

  // Lay the digits out around the point: integer part, then at least seven decimals.
  long intLen = exp10 + 1;  // digits before the point
  std::string intPart;
  std::string frac;
  if (intLen > 0) {
    for (long k = 0; k < intLen; ++k)
      intPart += k < static_cast<long>(nd) ? digits[k] : '0';
    for (long k = intLen; k < static_cast<long>(nd); ++k) frac += digits[k];
  } else {
    intPart = "0";
    frac.assign(static_cast<std::size_t>(-intLen), '0');
    frac.append(digits, nd);
  }
  if (frac.size() < 7) frac.append(7 - frac.size(), '0');

  // Six decimals, half away from zero (the magnitude rounds up on a 5).
  bool roundUp = frac[6] >= '5';
  frac.resize(6);
  if (roundUp) {
    int k = 5;
    for (; k >= 0; --k) {
      if (frac[static_cast<std::size_t>(k)] == '9') frac[static_cast<std::size_t>(k)] = '0';
      else { ++frac[static_cast<std::size_t>(k)]; break; }
    }
    if (k < 0) {  // carry into the integer part
      long j = static_cast<long>(intPart.size()) - 1;
      for (; j >= 0; --j) {
        if (intPart[static_cast<std::size_t>(j)] == '9') intPart[static_cast<std::size_t>(j)] = '0';
        else { ++intPart[static_cast<std::size_t>(j)]; break; }
      }
      if (j < 0) intPart.insert(intPart.begin(), '1');
    }
  }
  std::size_t keep = 6;
  while (keep > 1 && frac[keep - 1] == '0') --keep;
  frac.resize(keep);

  bool zero = intPart.find_first_not_of('0') == std::string::npos &&
              frac.find_first_not_of('0') == std::string::npos;
  if (negative && !zero) out += '-';
  out += intPart;
  out += '.';
  out += frac;
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
