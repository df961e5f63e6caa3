// The merge run: one call that joins the portions of a titration into one file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "failure.hpp"
#include "first_copy.hpp"
#include "rewrite.hpp"

namespace tandemo {

struct MergeRequest {
  std::vector<std::string> inputs;  // first file, second file, further portions in order
  std::string output;
  bool compensate = false;          // shift each appended file's DP onto the merged file's last DP
  bool updateHeader = false;        // make the header announce and list every injection
};

struct MergeSummary {
  std::string output;               // the path written
  long long linesWritten = 0;
  long long firstFileMarkers = 0;
  FirstCopyReport firstFile;        // what the copy of the first file left out
  std::vector<RewriteReport> joins; // one per file appended, in order
  bool compensated = false;
  bool headerUpdated = false;
  std::int32_t injectionsAnnounced = 0;  // the header's count, when it was updated

  long long InjectionsAppended() const;
};

struct MergeOutcome {
  std::optional<MergeError> error;  // set when nothing was written
  MergeSummary summary;             // meaningful when there is no error

  bool ok() const { return !error.has_value(); }
};

// Copies the first file's non-empty lines, then rewrites each further file onto
// the end as if the result of each join were joined with the next. The output is
// replaced in one atomic step at the very end; on any failure it is left as it was.
MergeOutcome RunMerge(const MergeRequest& request);
MergeOutcome RunMerge(const std::string& first, const std::string& second,
                      const std::string& output, bool compensate);

// One line for the user: what was written.
std::string Describe(const MergeSummary& summary);

}  // namespace tandemo
