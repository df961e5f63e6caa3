#include "merge_run.hpp"

#include <cerrno>
#include <cstring>
#include <memory>

#include "atomic_output.hpp"
#include "fields.hpp"
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
                                        const HeaderPlan* plan, MergeProgress& progress) {
  const FilePlace place = FilePlace::Input(1);
  std::int32_t lngMarkerCount = 0;
  std::string_view line;
  for (;;) {
    LineReader::Status status = first.Next(line);
    if (status == LineReader::Status::End) return std::nullopt;
    if (status == LineReader::Status::Error) {
      return ReadFailure(place, first.LineNumber() + 1, first.error());
    }
    if (progress.Stop(first.Offset())) return MergeProgress::Cancelled();
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
    const bool neverRun = plan && lineNo >= plan->skipFromLine && lineNo <= plan->insertAfterLine;
    if (!line.empty() && !neverRun) out.Put(line, SourcePlace{place, lineNo});
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

// An input read by the merge: the file the inspection looked at, as it was then.
struct InputFile {
  int fd = -1;
  bool inspected = false;
  FileIdentity identity;
  FilePlace place;
  std::string path;
  LineReader reader;

  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() {
    if (fd >= 0) platform::CloseFile(fd);
  }

  std::optional<MergeError> Open(const FileFacts& facts, FilePlace where) {
    place = where;
    path = facts.path;
    inspected = facts.inspected;
    identity = facts.identity;
    if (int err = platform::OpenForReading(path, fd); err != 0) return OpenFailure(place, path, err);
    platform::FileStatus st;
    if (int err = platform::StatusOf(fd, st); err != 0) return OpenFailure(place, path, err);
    if (st.isDirectory) return OpenFailure(place, path, EISDIR);
    reader.Attach(fd);
    if (inspected && !identity.Unchanged(FileIdentity::Of(st))) return InputChangedFailure(place, path);
    return std::nullopt;
  }

  // Once read to its end: the file must still be as it was when inspected.
  std::optional<MergeError> CheckUnchanged() const {
    if (!inspected) return std::nullopt;
    platform::FileStatus st;
    if (platform::StatusOf(fd, st) != 0 || !identity.Unchanged(FileIdentity::Of(st))) return InputChangedFailure(place, path);
    return std::nullopt;
  }
};

// The header was written before the later files were read: what they gave must
// be what it lists, numbered on from the first file's injections.
std::optional<MergeError> CheckPlannedJoin(const HeaderPlan& plan, std::size_t laterIndex,
                                           const RewriteReport& report, FilePlace place) {
  std::int32_t listedSoFar = plan.total;
  for (std::size_t k = laterIndex; k < plan.appended.size(); ++k) listedSoFar -= plan.appended[k];
  const std::int32_t planned = plan.appended[laterIndex - 1];
  if (report.injectionsAppended != planned || report.lastNumber != listedSoFar) {
    return MergeError{ErrorCode::BadHeader, place, 0,
                      "the header cannot list every injection: the injections are not numbered one after "
                      "another (the header lists " + std::to_string(planned) + " from this file, up to number " +
                          std::to_string(listedSoFar) + "; " + std::to_string(report.injectionsAppended) +
                          " were appended, up to number " + std::to_string(report.lastNumber) + ")"};
  }
  return std::nullopt;
}

}  // namespace

long long MergeSummary::InjectionsAppended() const {
  long long n = 0;
  for (const RewriteReport& r : joins) n += r.injectionsAppended;
  return n;
}

MergeOutcome RunMerge(const MergeRequest& request, const Inspection& inspection) {
  MergeOutcome outcome;
  const MergeOptions& options = request.options;
  if (inspection.files.size() != request.inputs.size() && !inspection.failure) {
    outcome.error = MergeError{ErrorCode::BadFileName, FilePlace::None(), 0,
                               "the files to merge are not the files inspected"};
    return outcome;
  }
  for (std::size_t i = 0; i < inspection.files.size() && !inspection.failure; ++i) {
    if (inspection.files[i].path != request.inputs[i]) {
      outcome.error = MergeError{ErrorCode::BadFileName, FilePlace::Input(static_cast<int>(i + 1)), 0,
                                 "the files to merge are not the files inspected"};
      return outcome;
    }
  }
  if (inspection.failure) {
    outcome.error = inspection.failure;
    return outcome;
  }
  if (!inspection.agrees() && !options.force) {
    outcome.error = DifferencesRefusal(inspection);
    return outcome;
  }

  std::vector<std::unique_ptr<InputFile>> inputs;
  for (std::size_t i = 0; i < request.inputs.size(); ++i) {
    auto input = std::make_unique<InputFile>();
    if (auto err = input->Open(inspection.files[i], FilePlace::Input(static_cast<int>(i + 1)))) {
      outcome.error = std::move(err);
      return outcome;
    }
    inputs.push_back(std::move(input));
  }

  HeaderPlan plan;
  if (options.updateHeader) {
    if (auto err = PlanHeader(inspection, plan)) {
      outcome.error = std::move(err);
      return outcome;
    }
  }

  AtomicOutput output;
  if (auto err = output.Begin(request.output, options.force)) {
    outcome.error = std::move(err);
    return outcome;
  }
  LineWriter writer;
  writer.Attach(output.fd());
  TrackedOutput tracked(writer);
  MergeProgress progress(options, inspection.BytesTotal());

  MergeSummary& summary = outcome.summary;
  summary.output = request.output;
  summary.compensated = options.compensate;

  auto fail = [&](MergeError e) {
    output.Abandon();
    outcome.error = std::move(e);
    return outcome;
  };

  std::uint64_t bytesBefore = 0;
  if (auto err = CopyFirstFile(inputs[0]->reader, tracked, options.updateHeader ? &plan : nullptr, progress))
    return fail(std::move(*err));
  if (auto err = inputs[0]->CheckUnchanged()) return fail(std::move(*err));
  bytesBefore += inspection.files[0].identity.size;
  if (options.updateHeader) {
    summary.headerUpdated = true;
    summary.injectionsAnnounced = plan.total;
    summary.plannedNotRun = plan.plannedNotRun;
  }
  for (std::size_t i = 1; i < inputs.size(); ++i) {
    const FilePlace place = FilePlace::Input(static_cast<int>(i + 1));
    RunState state;
    if (auto err = TakeStatistics(tracked, state)) return fail(std::move(*err));
    RewriteReport report;
    progress.BeginFile(bytesBefore);
    if (auto err = RewriteSecondFile(inputs[i]->reader, place, tracked, state, options, progress, report)) {
      return fail(std::move(*err));
    }
    if (auto err = inputs[i]->CheckUnchanged()) return fail(std::move(*err));
    if (report.injectionsAppended == 0) return fail(NoInjectionFailure(place, request.inputs[i]));
    if (options.updateHeader) {
      if (auto err = CheckPlannedJoin(plan, i, report, place)) return fail(std::move(*err));
    }
    summary.joins.push_back(report);
    bytesBefore += inspection.files[i].identity.size;
    inputs[i].reset();
  }
  inputs.clear();

  if (!writer.Flush()) {
    int err = writer.error();
    return fail(MergeError{err == ENOENT ? ErrorCode::PathNotFound : CodeForErrno(err),
                           FilePlace::Output(), 0,
                           std::string("the result could not be written: ") + platform::ErrorText(err)});
  }
  if (auto err = output.Commit()) return fail(std::move(*err));
  progress.Finish();
  summary.linesWritten = tracked.linesWritten();
  return outcome;
}

MergeOutcome RunMerge(const std::string& first, const std::string& second,
                      const std::string& output, bool compensate) {
  MergeRequest request{{first, second}, output, {}};
  request.options.compensate = compensate;
  request.options.force = true;
  return RunMerge(request, Inspect(request.inputs));
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
    if (summary.plannedNotRun > 0) {
      text += " (" + std::to_string(summary.plannedNotRun) +
              (summary.plannedNotRun == 1 ? " planned injection" : " planned injections") +
              " of the first file never ran and " + (summary.plannedNotRun == 1 ? "is" : "are") +
              " left out)";
    }
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

std::vector<std::string> MergeRemarks(const Inspection& inspection, const MergeSummary& /*summary*/) {
  std::vector<std::string> remarks;
  for (const Difference& d : inspection.differences)
    remarks.push_back("merged despite a difference: " + d.text);
  for (const std::string& note : inspection.notCompared) remarks.push_back("not compared: " + note);
  for (const std::string& note : inspection.notes) remarks.push_back("note: " + note);
  return remarks;
}

}  // namespace tandemo
