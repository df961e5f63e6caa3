#include "itc_header.hpp"

#include <sys/stat.h>

#include <cstring>
#include <limits>
#include <string_view>

#include "fields.hpp"
#include "line_io.hpp"
#include "number_read.hpp"
#include "rounding.hpp"

namespace tandemo {
namespace {

// A header longer than this is no ITC header; the rest of it is not kept.
constexpr std::size_t kMaxHeaderLines = 10000;
constexpr std::size_t kFirstInjectionLine = 11;
// Enough for the last two data lines of any instrument's file.
constexpr std::uint64_t kTailBytes = 64 * 1024;

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
bool ParseCountLine(std::string_view line, FileFacts& facts) {
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

void ReadHeader(const std::vector<std::string>& header, FileFacts& facts) {
  for (const std::string& line : header) {  // the instrument line may stand anywhere
    if (!line.empty() && line.front() == '%' && line.find("Ver:") != std::string::npos) {
      facts.instrument = std::string(Trimmed(std::string_view(line).substr(1)));
      break;
    }
  }
  if (header.empty() || Trimmed(header[0]) != "$ITC") {
    facts.formProblem = "its first line is not \"$ITC\"";
    return;
  }
  if (header.size() < 2 || !ParseCountLine(header[1], facts)) {
    facts.formProblem = "its second line is not \"$\" and a whole number";
    return;
  }
  const std::size_t lastInjection = kFirstInjectionLine - 1 + static_cast<std::size_t>(facts.announced);
  if (header.size() < lastInjection) {
    facts.formProblem = "it announces " + std::to_string(facts.announced) +
                        " injections but has no room for their \"$\" lines before its first marker line";
    return;
  }
  for (std::size_t n = kFirstInjectionLine; n <= lastInjection; ++n) {
    const std::string& line = header[n - 1];
    if (line.empty() || line.front() != '$') {
      facts.formProblem = "line " + std::to_string(n) + " should be the \"$\" line of injection " +
                          std::to_string(n - kFirstInjectionLine + 1);
      facts.injectionLines.clear();
      return;
    }
    facts.injectionLines.push_back(line);
  }
  facts.usualForm = true;

  if (header.size() >= 4) facts.temperature = NumberAfterMark(header[3], '$');
  // The "#" block right after the injection lines: syringe concentration is its
  // second line, cell volume its fourth.
  std::size_t hashIndex = 0;
  for (std::size_t k = lastInjection; k < header.size(); ++k) {
    const std::string& line = header[k];
    if (line.empty() || line.front() != '#') break;
    ++hashIndex;
    if (hashIndex == 2) facts.syringeConcentration = NumberAfterMark(line, '#');
    if (hashIndex == 4) {
      facts.cellVolume = NumberAfterMark(line, '#');
      break;
    }
  }
}

}  // namespace

std::optional<MergeError> ScanFile(const std::string& path, FilePlace place, FileFacts& facts,
                                   ScanDepth depth) {
  facts = FileFacts{};
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    facts.formProblem = "it is a pipe or device, which can be read only once";
    return std::nullopt;
  }
  facts.scanned = true;
  LineReader reader;
  if (!reader.Open(path)) return OpenFailure(place, path, reader.error());
  bool lineNumbersKnown = true;  // not once the scan jumps to the tail
  auto readFailure = [&] {
    return ReadFailure(place, lineNumbersKnown ? reader.LineNumber() + 1 : 0, reader.error());
  };
  std::vector<std::string> header;
  std::string_view line;
  LineReader::Status status;
  while ((status = reader.Next(line)) == LineReader::Status::Line && !IsMarkerLine(line)) {
    if (header.size() < kMaxHeaderLines) header.emplace_back(line);
  }
  if (status == LineReader::Status::Error) return readFailure();
  ReadHeader(header, facts);
  if (status == LineReader::Status::End) return std::nullopt;  // no marker line: no data lines
  if (line.find(',') != std::string_view::npos) ++facts.injectionMarkers;

  // The data lines: all of them, or only the file's tail when that holds the last two.
  const std::uint64_t dataStart = reader.Offset();
  const std::uint64_t size = reader.Size();
  const bool tailOnly = depth == ScanDepth::HeaderAndTail && size > dataStart + kTailBytes;
  if (tailOnly) {
    lineNumbersKnown = false;
    if (!reader.SeekTo(size - kTailBytes)) return readFailure();
  }
  bool skipPartial = tailOnly;  // the tail may begin inside a line
  int dataLines = 0;
  std::string previous, last;
  for (;;) {
    status = reader.Next(line);
    if (status == LineReader::Status::End) break;
    if (status == LineReader::Status::Error) return readFailure();
    if (skipPartial) {
      skipPartial = false;
      continue;
    }
    if (IsMarkerLine(line)) {
      if (line.find(',') != std::string_view::npos) ++facts.injectionMarkers;
      continue;
    }
    if (!IsDataLine(line)) continue;
    previous.swap(last);
    last.assign(line);
    if (dataLines < 2) ++dataLines;
  }
  if (tailOnly && dataLines < 2) {  // very long lines: read all the data after all
    return ScanFile(path, place, facts, ScanDepth::Whole);
  }
  if (dataLines == 2) {
    Checked<double> step = TestedDifference(LeadingValue(last), LeadingValue(previous));
    if (step) facts.timeStep = step.value;
  }
  return std::nullopt;
}

std::optional<MergeError> PlanHeader(const std::vector<FileFacts>& facts, HeaderPlan& plan) {
  plan = HeaderPlan{};
  for (std::size_t i = 0; i < facts.size(); ++i) {
    if (!facts[i].usualForm) {
      return MergeError{ErrorCode::BadHeader, FilePlace::Input(static_cast<int>(i + 1)), 0,
                        "the header cannot list every injection: " + facts[i].formProblem};
    }
  }
  long long total = facts.front().announced;
  for (std::size_t i = 1; i < facts.size(); ++i) {
    const FileFacts& f = facts[i];
    if (f.announced < f.injectionMarkers) {
      return MergeError{ErrorCode::BadHeader, FilePlace::Input(static_cast<int>(i + 1)), 2,
                        "the header announces " + std::to_string(f.announced) + " injections but " +
                            std::to_string(f.injectionMarkers) + " are appended from this file"};
    }
    total += f.injectionMarkers;
    for (long long k = 0; k < f.injectionMarkers; ++k)
      plan.inserted.push_back(f.injectionLines[static_cast<std::size_t>(k)]);
  }
  if (total > std::numeric_limits<std::int32_t>::max()) {
    return MergeError{ErrorCode::Overflow, FilePlace::Input(1), 2,
                      "the total number of injections does not fit in 32 bits"};
  }
  const FileFacts& first = facts.front();
  plan.total = static_cast<std::int32_t>(total);
  plan.countLine = first.countPrefix + std::to_string(total) + first.countSuffix;
  plan.insertAfterLine = static_cast<long long>(kFirstInjectionLine) - 1 + first.announced;
  return std::nullopt;
}

}  // namespace tandemo
