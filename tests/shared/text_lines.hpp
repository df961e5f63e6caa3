// Text taken apart into lines, for every test program (engine, command line,
// window and fuzz target); it needs nothing but the standard library.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tandemo::test {

// The lines of `text` as the merge reads an input: CR LF, a lone LF and a lone CR
// each end a line and belong to none. Empty lines between line ends are kept; a
// last line without a line end is one more line when it is not empty, so text
// that ends in a line end has no empty line after it ("a\r\n" and "a" are both
// {"a"}, "a\r\n\r\n" is {"a", ""}).
inline std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

}  // namespace tandemo::test
