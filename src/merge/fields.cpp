#include "fields.hpp"

#include <cstring>
#include <limits>

namespace tandemo {

Checked<std::int16_t> CommaPosition(std::string_view text) {
  std::size_t at = text.find(',');
  if (at == std::string_view::npos) return std::int16_t{0};
  if (at + 1 > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max()))
    return Failure::Overflow;
  return static_cast<std::int16_t>(at + 1);
}

std::string_view TextAfter(std::string_view text, std::size_t p) {
  return p >= text.size() ? std::string_view{} : text.substr(p);
}

std::string_view CharactersFrom(std::string_view text, std::size_t s, std::size_t n) {
  if (s == 0 || s > text.size()) return {};
  return text.substr(s - 1, n);
}

}  // namespace tandemo
