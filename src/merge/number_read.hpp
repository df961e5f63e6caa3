// Reading numbers from text. "." is the only decimal point, whatever the locale.
#pragma once

#include <string_view>

#include "checked.hpp"

namespace tandemo {

// The number at the start of a text; 0 when there is none. Never refuses.
// Spaces, tabs and line feeds are skipped wherever they stand (" 12 34,5" is 1234);
// "&H"/"&O" introduce hexadecimal/octal integers, four hex digits being a 16-bit
// two's-complement number ("&HFFFF" is -1). Reading stops at the first character
// that cannot continue [sign] digits [. digits] [E [sign] digits].
double LeadingValue(std::string_view text);

// A whole field as one number: optional blanks, sign, digits with at most one ".",
// optional exponent, optional blanks. Anything else is a type mismatch; a number
// beyond the 64-bit float range is an overflow.
Checked<double> FieldNumber(std::string_view text);

}  // namespace tandemo
