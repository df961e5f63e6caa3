// Finding the commas of ITC lines and the text around them. Positions
// count from 1 and fit in 16 bits; 0 means "not found".
#pragma once

#include <cstdint>
#include <string_view>

#include "checked.hpp"

namespace tandemo {

// Position of the first ","; 0 when there is none, whatever the length. A first
// comma beyond position 32767 is an overflow.
Checked<std::int16_t> CommaPosition(std::string_view text);

// The characters after position p: the whole text for 0, nothing for p >= length.
std::string_view TextAfter(std::string_view text, std::size_t p);

// At most n characters from position s (1-based) on; none when s lies beyond the end.
std::string_view CharactersFrom(std::string_view text, std::size_t s, std::size_t n);

// A marker line opens one injection: its first character is "@".
inline bool IsMarkerLine(std::string_view line) { return !line.empty() && line.front() == '@'; }

// A data line, once a file's first marker line has been read: not empty, not a
// marker line, and holding a comma. The time step comes from the last two of them.
inline bool IsDataLine(std::string_view line) {
  return !line.empty() && !IsMarkerLine(line) && line.find(',') != std::string_view::npos;
}

}  // namespace tandemo
