// The second file's rewrite: its injections are appended to the merged file with
// their numbers continued, their time stamps continued in the first file's time
// step and, on request, their DP signal shifted by one offset.
#pragma once

#include <cstdint>
#include <optional>

#include "failure.hpp"
#include "line_io.hpp"
#include "merge_options.hpp"
#include "tracked_output.hpp"

namespace tandemo {

// What the merged file so far hands to the rewrite of the next file.
struct RunState {
  std::int32_t lngMarkerCount = 0;  // marker lines so far; lowered for each "@" line without a comma
  std::int16_t intStep = 0;         // time step of the first file
  std::int32_t lngTime = 0;         // running time stamp; starts as the first file's last one
  float sngLastDP = 0.0f;           // DP value of the first file's last data line
};

struct RewriteReport {
  long long injectionsAppended = 0;  // marker lines with a comma written
  std::int32_t firstNumber = 0;      // injection numbers given, when any was appended
  std::int32_t lastNumber = 0;
  long long dataLinesAppended = 0;
  bool offsetTaken = false;
  float sngDPOffset = 0.0f;
};

// Reads `second` to its end and appends what continues the merged file to `out`.
// Baseline lines (lines with a comma after the file's first marker line and before
// its first data section) give the reference DP; with `compensate` on, a file
// without one is refused rather than shifted by the whole last DP. Between lines
// `progress` is told how far the file is read, and may stop the rewrite.
std::optional<MergeError> RewriteSecondFile(LineReader& second, FilePlace place, TrackedOutput& out,
                                            RunState& state, const MergeOptions& options,
                                            MergeProgress& progress, RewriteReport& report);

}  // namespace tandemo
