// A later file's rewrite: its injections are appended to the merged file with
// their numbers continued, their time stamps continued in the first file's time
// step, their marker lines' start times moved onto the merged file's clock and, on
// request, their DP signal shifted by one offset.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "data_tail.hpp"
#include "failure.hpp"
#include "line_io.hpp"
#include "merge_options.hpp"
#include "tracked_output.hpp"

namespace tandemo {

// What the merged file so far hands to the rewrite of the next file.
struct RunState {
  std::int32_t markerCount = 0;  // marker lines so far; lowered for each "@" line without a comma
  std::int32_t stepHundredths = 0;  // time step of the first file, in hundredths of a second
  std::int64_t timeHundredths = 0;  // running time stamp; starts as the first file's last one
  float lastDp = 0.0f;              // DP value of the first file's last data line
};

// Time step, last time stamp, last DP and marker count of what has been written
// so far, from its last two data lines.
std::optional<MergeError> TakeStatistics(const TrackedOutput& out, RunState& state);

struct RewriteReport {
  long long injectionsAppended = 0;  // marker lines with a comma written
  std::int32_t firstNumber = 0;      // injection numbers given, when any was appended
  std::int32_t lastNumber = 0;
  long long dataLinesAppended = 0;
  bool offsetTaken = false;  // dpOffset holds the offset from a baseline line's reference DP
  float dpOffset = 0.0f;
  std::optional<CutShortLine> cutShort;  // the file's last data line, left out
};

// Reads `later` to its end and appends what continues the merged file to `out`.
// Baseline lines (lines with a comma after the file's first marker line and before
// its first data section) give the reference DP; with `compensate` on, a file
// without one is refused rather than shifted by the whole last DP. Between lines
// `progress` is told how far the file is read, and may stop the rewrite.
std::optional<MergeError> RewriteSecondFile(LineReader& later, FilePlace place, TrackedOutput& out,
                                            RunState& state, const MergeOptions& options,
                                            MergeProgress& progress, RewriteReport& report);

namespace detail {
// A DP field of the plain form "[-]digits[.digits]" with at most 15 significant
// digits, read exactly as FieldNumber reads it; nothing for any other form, which
// FieldNumber then reads.
std::optional<double> QuickDecimal(std::string_view field);
}  // namespace detail

}  // namespace tandemo
