// The first file's copy: every non-empty line as read, but a last data line cut
// short by an interrupted write, which is left out.
#pragma once

#include <optional>

#include "data_tail.hpp"
#include "failure.hpp"
#include "inspection.hpp"
#include "line_io.hpp"
#include "merge_options.hpp"
#include "tracked_output.hpp"

namespace tandemo {

struct FirstCopyReport {
  std::optional<CutShortLine> cutShort;  // the file's last data line, left out
};

// Copies the first file to `out`. With a header plan, line 2 and the injection
// lines are those of the plan. Between lines `progress` is told how far the file
// is read, and may stop the copy.
std::optional<MergeError> CopyFirstFile(LineReader& first, TrackedOutput& out,
                                        const HeaderPlan* plan, MergeProgress& progress,
                                        FirstCopyReport& report);

}  // namespace tandemo
