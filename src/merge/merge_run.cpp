#include "merge_run.hpp"

#include <cerrno>
#include <cstring>
#include <memory>

#include "atomic_output.hpp"
#include "fields.hpp"
#include "first_copy.hpp"
#include "line_io.hpp"
#include "number_read.hpp"
#include "number_text.hpp"
#include "rounding.hpp"
#include "tracked_output.hpp"

namespace tandemo {
namespace {

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
    if (int err = platform::OpenForReading(path, fd); err != 0)
      return OpenFailure(place, path, err);
    platform::FileStatus st;
    if (int err = platform::StatusOf(fd, st); err != 0) return OpenFailure(place, path, err);
    if (st.isDirectory) return OpenFailure(place, path, EISDIR);
    reader.Attach(fd);
    if (inspected && !identity.Unchanged(FileIdentity::Of(st)))
      return InputChangedFailure(place, path);
    return std::nullopt;
  }

  // Once read to its end: the file must still be as it was when inspected.
  std::optional<MergeError> CheckUnchanged() const {
    if (!inspected) return std::nullopt;
    platform::FileStatus st;
    if (platform::StatusOf(fd, st) != 0 || !identity.Unchanged(FileIdentity::Of(st)))
      return InputChangedFailure(place, path);
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
    return MergeError{
        ErrorCode::BadHeader, place, 0,
        "the header cannot list every injection: the injections are not numbered one after "
        "another (the header lists " +
            std::to_string(planned) + " from this file, up to number " +
            std::to_string(listedSoFar) + "; " + std::to_string(report.injectionsAppended) +
            " were appended, up to number " + std::to_string(report.lastNumber) + ")"};
  }
  return std::nullopt;
}

MergeOutcome Merge(const MergeRequest& request, const Inspection& inspection,
                   WrittenLineObserver* observer, bool toFile);

}  // namespace

MergeOutcome RunMerge(const MergeRequest& request, const Inspection& inspection,
                      WrittenLineObserver* observer) {
  return Merge(request, inspection, observer, true);
}

MergeOutcome RunMergeInto(const MergeRequest& request, const Inspection& inspection,
                          WrittenLineObserver& observer) {
  return Merge(request, inspection, &observer, false);
}

long long MergeSummary::InjectionsAppended() const {
  long long n = 0;
  for (const RewriteReport& r : joins) n += r.injectionsAppended;
  return n;
}

namespace {

// Into no file, the writer is attached to none: its first write fails, it is
// never flushed, and it only counts the lines; the observer has them all.
MergeOutcome Merge(const MergeRequest& request, const Inspection& inspection,
                   WrittenLineObserver* observer, bool toFile) {
  MergeOutcome outcome;
  const MergeOptions& options = request.options;
  if (inspection.files.size() != request.inputs.size() && !inspection.failure) {
    outcome.error = MergeError{ErrorCode::BadFileName, FilePlace::None(), 0,
                               "the files to merge are not the files inspected"};
    return outcome;
  }
  for (std::size_t i = 0; i < inspection.files.size() && !inspection.failure; ++i) {
    if (inspection.files[i].path != request.inputs[i]) {
      outcome.error = MergeError{ErrorCode::BadFileName, FilePlace::Input(static_cast<int>(i + 1)),
                                 0, "the files to merge are not the files inspected"};
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

  std::optional<AtomicOutput> output;
  if (toFile) {
    output.emplace();
    if (auto err = output->Begin(request.output, options.force)) {
      outcome.error = std::move(err);
      return outcome;
    }
  }
  LineWriter writer;
  if (output) writer.Attach(output->fd());
  TrackedOutput tracked(writer, observer);
  MergeProgress progress(options, inspection.BytesTotal());

  MergeSummary& summary = outcome.summary;
  summary.output = request.output;
  summary.compensated = options.compensate;

  auto fail = [&](MergeError e) {
    if (output) output->Abandon();
    outcome.error = std::move(e);
    return outcome;
  };

  std::uint64_t bytesBefore = 0;
  if (auto err = CopyFirstFile(inputs[0]->reader, tracked, options.updateHeader ? &plan : nullptr,
                               progress, summary.firstFile))
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
    if (auto err = RewriteSecondFile(inputs[i]->reader, place, tracked, state, options, progress,
                                     report)) {
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

  if (output && !writer.Flush()) {
    int err = writer.error();
    return fail(
        MergeError{err == ENOENT ? ErrorCode::PathNotFound : CodeForErrno(err), FilePlace::Output(),
                   0, std::string("the result could not be written: ") + platform::ErrorText(err)});
  }
  if (output) {
    if (auto err = output->Commit()) return fail(std::move(*err));
  }
  progress.Finish();
  summary.linesWritten = tracked.linesWritten();
  return outcome;
}

}  // namespace

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
  text +=
      std::to_string(injections) + (injections == 1 ? " injection" : " injections") + " appended";
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
      offsets += ShortestText(r.dpOffset);
    }
    if (offsets.empty())
      text += ", no data line to compensate";
    else
      text += (summary.joins.size() > 1 ? ", DP offsets " : ", DP offset ") + offsets;
  }
  return text + ".";
}

std::vector<std::string> MergeRemarks(const Inspection& inspection, const MergeSummary& summary) {
  std::vector<std::string> remarks;
  for (const Difference& d : inspection.differences)
    remarks.push_back("merged despite a difference: " + d.text);
  for (const std::string& note : inspection.notCompared) remarks.push_back("not compared: " + note);
  for (const std::string& note : inspection.notes) remarks.push_back("note: " + note);
  // A last data line cut short by an interrupted write was left out of its file.
  if (summary.firstFile.cutShort)
    remarks.push_back("note: " + DescribeCutShort(*summary.firstFile.cutShort));
  for (const RewriteReport& r : summary.joins) {
    if (r.cutShort) remarks.push_back("note: " + DescribeCutShort(*r.cutShort));
  }
  return remarks;
}

}  // namespace tandemo
