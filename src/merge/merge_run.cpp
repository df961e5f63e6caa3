#include "merge_run.hpp"

#include <cstring>
#include <memory>

#include "atomic_output.hpp"
#include "compatibility.hpp"
#include "fields.hpp"
#include "itc_header.hpp"
#include "line_io.hpp"
#include "number_read.hpp"
#include "number_text.hpp"
#include "rounding.hpp"
#include "tracked_output.hpp"

namespace tandemo {
namespace {

// Copies the first file: every non-empty line as read; marker lines are counted.
// With a header plan, line 2 and the injection lines are those of the plan.
std::optional<MergeError> CopyFirstFile(LineReader& first, TrackedOutput& out,
                                        const HeaderPlan* plan) {
  const FilePlace place = FilePlace::Input(1);
  std::int32_t lngMarkerCount = 0;
  std::string_view line;
  for (;;) {
    LineReader::Status status = first.Next(line);
    if (status == LineReader::Status::End) return std::nullopt;
    if (status == LineReader::Status::Error) {
      return ReadFailure(place, first.LineNumber() + 1, first.error());
    }
    if (IsMarkerLine(line)) {
      Checked<std::int32_t> counted = AddInt32(lngMarkerCount, 1);
      if (!counted) {
        return MergeError{ErrorCode::Overflow, place, first.LineNumber(),
                          "more than 2147483647 marker lines"};
      }
      lngMarkerCount = counted.value;
    }
    const long long lineNo = first.LineNumber();
    if (plan && lineNo == 2) line = plan->countLine;
    if (!line.empty()) out.Put(line, SourcePlace{place, lineNo});
    if (plan && lineNo == plan->insertAfterLine) {
      for (const std::string& inserted : plan->inserted) out.Put(inserted, SourcePlace{place, lineNo});
    }
  }
}

// A data line's time field as the file writes it, quoted.
std::string TimeField(std::string_view line) { return Quoted(line.substr(0, line.find(','))); }

// Time step, last time stamp and last DP of what has been written so far, taken
// from its last two data lines, so a trailing empty or marker line cannot zero them.
std::optional<MergeError> TakeStatistics(const TrackedOutput& out, RunState& state) {
  const FilePlace first = FilePlace::Input(1);
  if (out.dataLines() < 2) {
    return MergeError{ErrorCode::NoTimeStep, first, 0,
                      "fewer than two data lines (lines with a comma after the first marker "
                      "line), so the time step cannot be taken"};
  }
  const std::string& last = out.lastData();
  const SourcePlace at = out.lastDataPlace();
  const double lastTime = LeadingValue(last);
  const double previousTime = LeadingValue(out.previousData());

  Checked<double> diff = TestedDifference(lastTime, previousTime);
  Checked<std::int16_t> step = diff ? RoundToInt16(diff.value) : Checked<std::int16_t>(Failure::Overflow);
  if (!step) {
    return MergeError{ErrorCode::Overflow, at.file, at.line,
                      "the time step from " + TimeField(out.previousData()) + " to " +
                          TimeField(last) + " does not fit in 16 bits"};
  }
  if (step.value <= 0) {
    return MergeError{ErrorCode::NoTimeStep, at.file, at.line,
                      "the last two data lines have the time stamps " + TimeField(out.previousData()) +
                          " and " + TimeField(last) +
                          ", a time step of " + std::to_string(step.value) +
                          " that would not advance the time axis"};
  }
  Checked<std::int32_t> time = RoundToInt32(lastTime);
  if (!time) {
    return MergeError{ErrorCode::Overflow, at.file, at.line,
                      "the time stamp " + TimeField(last) +
                          " does not fit in 32 bits"};
  }
  Checked<std::int16_t> p = CommaPosition(last);
  Checked<std::int16_t> after = p ? AddInt16(p.value, 1) : Checked<std::int16_t>(Failure::Overflow);
  if (!after) {
    return MergeError{ErrorCode::Overflow, at.file, at.line,
                      "the first comma stands at position " + std::to_string(last.find(',') + 1) +
                          "; the position after it does not fit in 16 bits"};
  }
  if (out.markerLines() > 2147483647) {
    return MergeError{ErrorCode::Overflow, at.file, 0, "more than 2147483647 marker lines"};
  }
  state.lngMarkerCount = static_cast<std::int32_t>(out.markerLines());
  state.intStep = step.value;
  state.lngTime = time.value;
  state.sngLastDP = RoundToSingle(
      LeadingValue(CharactersFrom(last, static_cast<std::size_t>(after.value), last.size())));
  return std::nullopt;
}

}  // namespace

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

  if (auto err = CopyFirstFile(*readers[0], tracked, request.updateHeader ? &plan : nullptr))
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
                     QuotedPath(summary.output) + ": ";
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
  return text + ".";
}

}  // namespace tandemo
