#include "merge_run.hpp"

#include <cstring>
#include <memory>

#include "atomic_output.hpp"
#include "compatibility.hpp"
#include "first_copy.hpp"
#include "fields.hpp"
#include "itc_header.hpp"
#include "line_io.hpp"
#include "number_read.hpp"
#include "number_text.hpp"
#include "rounding.hpp"
#include "tracked_output.hpp"

namespace tandemo {

long long MergeSummary::InjectionsAppended() const {
  long long n = 0;
  for (const RewriteReport& r : joins) n += r.injectionsAppended;
  return n;
}

MergeOutcome RunMerge(const MergeRequest& request) {
  MergeOutcome outcome;
  if (request.inputs.size() < 2) {
    outcome.error = MergeError{ErrorCode::BadFileName, FilePlace::None(), 0,
                               "a merge needs a first and a second file"};
    return outcome;
  }
  std::vector<std::unique_ptr<LineReader>> readers;
  for (std::size_t i = 0; i < request.inputs.size(); ++i) {
    const FilePlace place = FilePlace::Input(static_cast<int>(i + 1));
    if (request.inputs[i].empty()) {
      outcome.error = MergeError{ErrorCode::BadFileName, place, 0, "no path was given"};
      return outcome;
    }
    auto reader = std::make_unique<LineReader>();
    if (!reader->Open(request.inputs[i])) {
      outcome.error = OpenFailure(place, request.inputs[i], reader->error());
      return outcome;
    }
    readers.push_back(std::move(reader));
  }

  HeaderPlan plan;
  if (request.updateHeader) {
    std::vector<FileFacts> facts;
    if (auto err = ScanInputs(request.inputs, facts, ScanDepth::Whole)) {
      outcome.error = std::move(err);
      return outcome;
    }
    if (auto err = PlanHeader(facts, plan)) {
      outcome.error = std::move(err);
      return outcome;
    }
  }

  AtomicOutput output;
  if (auto err = output.Begin(request.output)) {
    outcome.error = std::move(err);
    return outcome;
  }
  LineWriter writer;
  writer.Attach(output.fd());
  TrackedOutput tracked(writer);

  MergeSummary& summary = outcome.summary;
  summary.output = request.output;
  summary.compensated = request.compensate;

  auto fail = [&](MergeError e) {
    output.Abandon();
    outcome.error = std::move(e);
    return outcome;
  };

  if (auto err = CopyFirstFile(*readers[0], tracked, request.updateHeader ? &plan : nullptr,
                               summary.firstFile))
    return fail(std::move(*err));
  if (request.updateHeader) {
    summary.headerUpdated = true;
    summary.injectionsAnnounced = plan.total;
  }
  summary.firstFileMarkers = tracked.markerLines();
  for (std::size_t i = 1; i < readers.size(); ++i) {
    RunState state;
    if (auto err = TakeStatistics(tracked, state)) return fail(std::move(*err));
    RewriteReport report;
    if (auto err = RewriteSecondFile(*readers[i], FilePlace::Input(static_cast<int>(i + 1)),
                                     tracked, state, request.compensate, report)) {
      return fail(std::move(*err));
    }
    summary.joins.push_back(report);
    readers[i].reset();
  }
  readers.clear();

  if (!writer.Flush()) {
    int err = writer.error();
    return fail(MergeError{err == ENOENT ? ErrorCode::PathNotFound : CodeForErrno(err),
                           FilePlace::Output(), 0,
                           std::string("the result could not be written: ") + std::strerror(err)});
  }
  if (auto err = output.Commit()) return fail(std::move(*err));
  summary.linesWritten = tracked.linesWritten();
  return outcome;
}

MergeOutcome RunMerge(const std::string& first, const std::string& second,
                      const std::string& output, bool compensate) {
  return RunMerge(MergeRequest{{first, second}, output, compensate});
}

std::string Describe(const MergeSummary& summary) {
  std::string text = "Wrote " + std::to_string(summary.linesWritten) + " lines to " +
                     Quoted(summary.output) + ": ";
  long long injections = summary.InjectionsAppended();
  text += std::to_string(injections) + (injections == 1 ? " injection" : " injections") +
          " appended";
  if (summary.joins.size() > 1) text += " from " + std::to_string(summary.joins.size()) + " files";
  if (injections > 0) {
    std::int32_t from = 0, to = 0;
    bool any = false;
    for (const RewriteReport& r : summary.joins) {
      if (r.injectionsAppended == 0) continue;
      if (!any) from = r.firstNumber;
      to = r.lastNumber;
      any = true;
    }
    text += " (numbered " + std::to_string(from) +
            (from == to ? std::string(")") : " to " + std::to_string(to) + ")");
  }
  if (summary.headerUpdated) {
    text += ", header lists " + std::to_string(summary.injectionsAnnounced) + " injections";
  }
  if (summary.compensated) {
    std::string offsets;
    for (const RewriteReport& r : summary.joins) {
      if (!r.offsetTaken) continue;
      offsets += offsets.empty() ? "" : ", ";
      offsets += ShortestText(r.sngDPOffset);
    }
    if (offsets.empty()) text += ", no data line to compensate";
    else text += (summary.joins.size() > 1 ? ", DP offsets " : ", DP offset ") + offsets;
  }
  text += '.';
  // A cut-short last line left out of a file is said after what was written.
  if (summary.firstFile.cutShort) text += " Note: " + DescribeCutShort(*summary.firstFile.cutShort) + ".";
  for (const RewriteReport& r : summary.joins) {
    if (r.cutShort) text += " Note: " + DescribeCutShort(*r.cutShort) + ".";
  }
  return text;
}

}  // namespace tandemo
