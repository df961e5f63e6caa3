#include "number_read.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>

namespace tandemo {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number taken apart; the parts hold digits only.
struct DecimalParts {
  bool negative = false;
  std::string_view integerDigits;
  std::string_view fracDigits;
  bool expNegative = false;
  std::string_view expDigits;
};

// Exponents beyond this are out of every float range; clamping keeps the text short.
constexpr long kExponentClamp = 100000;

long ClampedExponent(const DecimalParts& p) {
  long e = 0;
  for (char c : p.expDigits) {
    e = e * 10 + (c - '0');
    if (e > kExponentClamp) {
      e = kExponentClamp;
      break;
    }
  }
  return p.expNegative ? -e : e;
}

// The decimal exponent of the first significant digit, or nothing for a zero.
bool LeadingDigitExponent(const DecimalParts& p, long exponent, long& out) {
  for (std::size_t k = 0; k < p.integerDigits.size(); ++k) {
    if (p.integerDigits[k] != '0') {
      out = static_cast<long>(p.integerDigits.size() - k) - 1 + exponent;
      return true;
    }
  }
  for (std::size_t k = 0; k < p.fracDigits.size(); ++k) {
    if (p.fracDigits[k] != '0') {
      out = -static_cast<long>(k) - 1 + exponent;
      return true;
    }
  }
  return false;
}

// Nearest double to the decimal; +-infinity when it is beyond the range.
double ToDouble(const DecimalParts& p) {
  long exponent = ClampedExponent(p);
  std::string canon;
  canon.reserve(p.integerDigits.size() + p.fracDigits.size() + 12);
  if (p.negative) canon += '-';
  if (p.integerDigits.empty())
    canon += '0';
  else
    canon.append(p.integerDigits);
  if (!p.fracDigits.empty()) {
    canon += '.';
    canon.append(p.fracDigits);
  }
  canon += 'e';
  canon += std::to_string(exponent);

  double value = 0.0;
  auto [ptr, ec] = std::from_chars(canon.data(), canon.data() + canon.size(), value);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) {
    long lead = 0;
    bool huge = LeadingDigitExponent(p, exponent, lead) && lead > 0;
    value = huge ? std::numeric_limits<double>::infinity() : 0.0;
    if (p.negative) value = -value;
  }
  return value;
}

// [sign] digits [. digits] from position i on, which it moves past them; false
// when there is no digit.
bool ReadMantissa(std::string_view v, std::size_t& i, DecimalParts& p) {
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) {
    p.negative = v[i] == '-';
    ++i;
  }
  std::size_t start = i;
  while (i < v.size() && IsDigit(v[i])) ++i;
  p.integerDigits = v.substr(start, i - start);
  if (i < v.size() && v[i] == '.') {
    ++i;
    start = i;
    while (i < v.size() && IsDigit(v[i])) ++i;
    p.fracDigits = v.substr(start, i - start);
  }
  return !p.integerDigits.empty() || !p.fracDigits.empty();
}

bool IsSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }

double RadixValue(std::string_view digits, unsigned radix) {
  std::uint64_t v = 0;
  bool big = false;
  double dv = 0.0;
  for (char c : digits) {
    unsigned d =
        IsDigit(c) ? static_cast<unsigned>(c - '0') : static_cast<unsigned>((c | 0x20) - 'a' + 10);
    dv = dv * radix + d;
    if (!big) {
      if (v > (std::numeric_limits<std::uint64_t>::max() - d) / radix)
        big = true;
      else
        v = v * radix + d;
    }
  }
  if (big) return dv;
  // 16-bit values read as two's complement, likewise 32-bit ones; wider stay unsigned.
  if (v <= 0xFFFFu) return static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
  if (v <= 0xFFFFFFFFu) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  return static_cast<double>(v);
}

}  // namespace

double LeadingValue(std::string_view text) {
  // Copy the characters that count, skipping blanks, then read a prefix of that.
  std::string s;
  s.reserve(text.size() < 64 ? text.size() : 64);
  for (char c : text) {
    if (IsSkipped(c)) continue;
    if (c == ',') break;  // a comma can never continue a number
    s += c;
  }
  std::string_view v = s;
  std::size_t i = 0;

  if (v.size() >= 2 && v[0] == '&') {
    char kind = static_cast<char>(v[1] | 0x20);
    unsigned radix = kind == 'h' ? 16 : kind == 'o' ? 8 : 0;
    if (radix == 0) return 0.0;
    i = 2;
    std::size_t start = i;
    while (i < v.size()) {
      char c = v[i];
      bool ok = radix == 16 ? (IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'))
                            : (c >= '0' && c <= '7');
      if (!ok) break;
      ++i;
    }
    return RadixValue(v.substr(start, i - start), radix);
  }

  DecimalParts p;
  if (!ReadMantissa(v, i, p)) return 0.0;
  if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
    std::size_t j = i + 1;
    bool neg = false;
    if (j < v.size() && (v[j] == '+' || v[j] == '-')) {
      neg = v[j] == '-';
      ++j;
    }
    const std::size_t start = j;
    while (j < v.size() && IsDigit(v[j])) ++j;
    if (j > start) {  // an exponent letter without digits is not part of the number
      p.expNegative = neg;
      p.expDigits = v.substr(start, j - start);
    }
  }
  return ToDouble(p);
}

Checked<double> FieldNumber(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t b = 0, e = text.size();
  while (b < e && blank(text[b])) ++b;
  while (e > b && blank(text[e - 1])) --e;
  std::string_view v = text.substr(b, e - b);

  DecimalParts p;
  std::size_t i = 0;
  if (!ReadMantissa(v, i, p)) return Failure::TypeMismatch;
  if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
    ++i;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) {
      p.expNegative = v[i] == '-';
      ++i;
    }
    const std::size_t start = i;
    while (i < v.size() && IsDigit(v[i])) ++i;
    p.expDigits = v.substr(start, i - start);
    if (p.expDigits.empty()) return Failure::TypeMismatch;
  }
  if (i != v.size()) return Failure::TypeMismatch;

  // The text is checked to be a plain decimal, which from_chars reads as it stands
  // (but for a "+"); only a value beyond the range needs the slower path.
  std::string_view digits = v.front() == '+' ? v.substr(1) : v;
  double value = 0.0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc{} || ptr != digits.data() + digits.size()) value = ToDouble(p);
  if (std::isinf(value)) return Failure::Overflow;
  return value;
}

}  // namespace tandemo
