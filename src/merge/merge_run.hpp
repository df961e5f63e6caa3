// The merge run: joins the portions of a titration into one file, after one
// inspection of them has found nothing that stops it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "failure.hpp"
#include "first_copy.hpp"
#include "inspection.hpp"
#include "merge_options.hpp"
#include "rewrite.hpp"

namespace tandemo {

class WrittenLineObserver;

struct MergeRequest {
  std::vector<std::string> inputs;  // first file, second file, further portions in order
  std::string output;
  MergeOptions options;
};

struct MergeSummary {
  std::string output;  // the path written
  long long linesWritten = 0;
  FirstCopyReport firstFile;         // what the copy of the first file left out
  std::vector<RewriteReport> joins;  // one per file appended, in order
  bool compensated = false;
  bool headerUpdated = false;
  std::int32_t injectionsAnnounced = 0;  // the header's count, when it was updated
  std::int32_t plannedNotRun = 0;        // the first file's plan lines left out of it

  long long InjectionsAppended() const;
};

struct MergeOutcome {
  std::optional<MergeError> error;  // set when nothing was written
  MergeSummary summary;             // meaningful when there is no error

  bool ok() const { return !error.has_value(); }
};

// Copies the first file's non-empty lines, then rewrites each further file onto
// the end as if the result of each join were joined with the next. Refuses what
// the inspection refuses, and files that differ unless `force` is set; each input
// is read once more and must be as it was when inspected. The output is replaced
// in one atomic step at the very end; on any failure it is left as it was.
// `observer`, when given, is told of each line as it is written.
MergeOutcome RunMerge(const MergeRequest& request, const Inspection& inspection,
                      WrittenLineObserver* observer = nullptr);

// The same merge into no file: every line the output would hold goes to
// `observer`, in order, and `request.output` is not used. It refuses and fails
// as RunMerge does; after a failure the observer has seen part of the lines.
MergeOutcome RunMergeInto(const MergeRequest& request, const Inspection& inspection,
                          WrittenLineObserver& observer);

// Inspects and merges two files the way the engine always has: differences
// between the files do not stop it. For tests and tools.
MergeOutcome RunMerge(const std::string& first, const std::string& second,
                      const std::string& output, bool compensate);

// One line for the user: what was written.
std::string Describe(const MergeSummary& summary);

// The remarks on a merge that went ahead, one line each, worded for both front
// ends: "merged despite a difference: ...", "not compared: ...", "note: ...".
std::vector<std::string> MergeRemarks(const Inspection& inspection, const MergeSummary& summary);

}  // namespace tandemo
