#include "itc_header.hpp"

#include <charconv>
#include <limits>

#include "number_read.hpp"

namespace tandemo {
namespace {

constexpr std::size_t kFirstInjectionLine = 11;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kVersionMark = "Ver:";
constexpr std::string_view kRunTimeMark = "Run time:";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The number on a "$ 25 " or "# 0.1 " line, when the rest of the line is one.
std::optional<FactValue> NumberAfterMark(std::string_view line, char mark) {
  if (line.empty() || line.front() != mark) return std::nullopt;
  std::string_view rest = line.substr(1);
  Checked<double> value = FieldNumber(rest);
  if (!value) return std::nullopt;
  return FactValue{value.value, std::string(Trimmed(rest))};
}

// Line 2: "$", blanks, a whole number, blanks.
bool ParseCountLine(std::string_view line, HeaderFacts& facts) {
  if (line.empty() || line.front() != '$') return false;
  std::size_t i = 1;
  while (i < line.size() && IsBlank(line[i])) ++i;
  std::size_t digitsAt = i;
  long long n = 0;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
    n = n * 10 + (line[i] - '0');
    if (n > std::numeric_limits<std::int32_t>::max()) return false;
    ++i;
  }
  if (i == digitsAt) return false;
  std::size_t digitsEnd = i;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i != line.size()) return false;
  facts.announced = static_cast<std::int32_t>(n);
  facts.countPrefix.assign(line.substr(0, digitsAt));
  facts.countSuffix.assign(line.substr(digitsEnd));
  return true;
}

// The unit line stands first among the "%" lines; the software line may stand
// anywhere. A file whose first "%" line is the software line names no unit.
void ReadPercentLines(const std::vector<std::string>& lines, HeaderFacts& facts) {
  bool firstPercent = true;
  for (const std::string& line : lines) {
    if (line.empty() || line.front() != '%') continue;
    const std::string_view text = Trimmed(std::string_view(line).substr(1));
    const bool software = text.find(kVersionMark) != std::string_view::npos;
    if (firstPercent && !software && !text.empty()) facts.instrumentUnit = std::string(text);
    firstPercent = false;
    if (!software || facts.controlSoftware) continue;
    const std::size_t runTime = text.find(kRunTimeMark);
    facts.controlSoftware = std::string(Trimmed(text.substr(0, runTime)));
    if (runTime != std::string_view::npos)
      facts.runStart = ParseRunStart(text.substr(runTime + kRunTimeMark.size()));
  }
}

// Digits only, within [low, high].
bool ReadNumber(std::string_view text, int low, int high, int& value) {
  if (text.empty() || text.size() > 4) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

// Cuts `text` at the first `separator`: the part before it, the rest after it.
std::string_view CutAt(std::string_view& text, char separator) {
  const std::size_t at = text.find(separator);
  std::string_view head = text.substr(0, at);
  text = at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
  return head;
}

}  // namespace

std::optional<RunStart> ParseRunStart(std::string_view text) {
  text = Trimmed(text);
  const std::string shown(text);
  std::string_view date = CutAt(text, ' ');
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  std::string_view clock = CutAt(text, ' ');
  const std::string_view half = Trimmed(text);
  int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (!ReadNumber(CutAt(date, '/'), 1, 12, month) || !ReadNumber(CutAt(date, '/'), 1, 31, day) ||
      !ReadNumber(date, 1, 9999, year)) {
    return std::nullopt;
  }
  std::string_view hourText = CutAt(clock, ':');
  std::string_view minuteText = CutAt(clock, ':');
  if (!ReadNumber(hourText, 1, 12, hour) || !ReadNumber(minuteText, 0, 59, minute))
    return std::nullopt;
  if (!clock.empty() && !ReadNumber(clock, 0, 59, second)) return std::nullopt;
  if (half == "AM" || half == "am") {
    if (hour == 12) hour = 0;
  } else if (half == "PM" || half == "pm") {
    if (hour != 12) hour += 12;
  } else {
    return std::nullopt;
  }
  const long long days = (static_cast<long long>(year) * 12 + (month - 1)) * 31 + (day - 1);
  return RunStart{((days * 24 + hour) * 60 + minute) * 60 + second, shown};
}

HeaderFacts ReadHeader(const std::vector<std::string>& lines) {
  HeaderFacts facts;
  ReadPercentLines(lines, facts);
  std::string_view firstLine = lines.empty() ? std::string_view() : std::string_view(lines[0]);
  if (firstLine.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    firstLine.remove_prefix(kByteOrderMark.size());
  if (lines.empty() || Trimmed(firstLine) != "$ITC") {
    facts.formProblem = "its first line is not \"$ITC\"";
    return facts;
  }
  if (lines.size() < 2 || !ParseCountLine(lines[1], facts)) {
    facts.formProblem = "its second line is not \"$\" and a whole number";
    return facts;
  }
  const std::size_t lastInjection =
      kFirstInjectionLine - 1 + static_cast<std::size_t>(facts.announced);
  if (lines.size() < lastInjection) {
    facts.formProblem =
        "it announces " + std::to_string(facts.announced) +
        " injections but has no room for their \"$\" lines before its first marker line";
    return facts;
  }
  for (std::size_t n = kFirstInjectionLine; n <= lastInjection; ++n) {
    const std::string& line = lines[n - 1];
    if (line.empty() || line.front() != '$') {
      facts.formProblem = "line " + std::to_string(n) + " should be the \"$\" line of injection " +
                          std::to_string(n - kFirstInjectionLine + 1);
      facts.injectionLines.clear();
      return facts;
    }
    facts.injectionLines.push_back(line);
  }
  facts.usualForm = true;

  if (lines.size() >= 4) facts.temperature = NumberAfterMark(lines[3], '$');
  // The "#" block right after the injection lines: syringe concentration is its
  // second line, cell concentration its third, cell volume its fourth.
  std::size_t hashIndex = 0;
  for (std::size_t k = lastInjection; k < lines.size(); ++k) {
    const std::string& line = lines[k];
    if (line.empty() || line.front() != '#') break;
    ++hashIndex;
    if (hashIndex == 2) facts.syringeConcentration = NumberAfterMark(line, '#');
    if (hashIndex == 3) facts.cellConcentration = NumberAfterMark(line, '#');
    if (hashIndex == 4) {
      facts.cellVolume = NumberAfterMark(line, '#');
      break;
    }
  }
  return facts;
}

}  // namespace tandemo
