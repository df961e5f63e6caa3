#include "preview_data.hpp"

#include <cstdlib>  // mkdtemp

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <future>
#include <system_error>

#include "merge/line_io.hpp"

namespace tandemo::ui {
namespace {

// A folder of its own under the system's temporary folder, removed with what it holds.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code ec;
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "tandemo-preview-XXXXXX").string();
    if (ec) {
      error_ = ec.value();
      return;
    }
    if (::mkdtemp(pattern.data()) == nullptr) {
      error_ = errno;
      return;
    }
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  int error() const { return error_; }
  std::string File(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  int error_ = 0;
};

constexpr long long kLinesBetweenStopChecks = 65536;

}  // namespace

MergedLines TraceMergedLines(const PreviewInput& input, std::stop_token stop) {
  MergedLines result;
  ScratchFolder scratch;
  if (!scratch.ok()) {
    result.error = MergeError{CodeForErrno(scratch.error()), FilePlace::None(), 0,
                              std::string("no scratch folder for the preview: ") + std::strerror(scratch.error())};
    return result;
  }
  const std::string merged = scratch.File("merged.itc");
  // Declared after the folder, so the merge has finished before the folder goes.
  std::future<MergeOutcome> merging = std::async(std::launch::async, [&input, &merged] {
    return RunMerge(input.first, input.second, merged, input.compensate);
  });

  // While the merge runs: the first portion, from the first file's non-empty
  // lines, which the merge copies as they stand, each ended with CR LF.
  TraceBuilder builder;
  long long firstLines = 0;
  std::uint64_t firstBytes = 0;
  std::optional<MergeError> firstError;
  {
    LineReader first;
    if (first.Open(input.first)) {
      std::string_view line;
      LineReader::Status status;
      while ((status = first.Next(line)) == LineReader::Status::Line && !stop.stop_requested()) {
        if (line.empty()) continue;
        builder.Put(line, 0);
        ++firstLines;
        firstBytes += line.size() + 2;
      }
      if (status == LineReader::Status::Error)
        firstError = ReadFailure(FilePlace::Input(1), first.LineNumber() + 1, first.error());
    } else {
      firstError = OpenFailure(FilePlace::Input(1), input.first, first.error());
    }
  }
  MergeOutcome outcome = merging.get();
  if (!outcome.ok()) {
    result.error = std::move(outcome.error);
    return result;
  }
  result.summary = std::move(outcome.summary);
  if (stop.stop_requested()) {
    result.stopped = true;
    return result;
  }
  if (firstError) {  // the merge read it, this reading did not: say so rather than guess
    result.error = std::move(firstError);
    return result;
  }

  // The rest from the merged file, from where the first file's copy ends. Should
  // the counts not add up to what the merge wrote, the whole merged file is read.
  auto traceMerged = [&](std::uint64_t from, long long firstPortionLines) -> bool {
    LineReader reader;
    if (!reader.Open(merged) || (from > 0 && !reader.SeekTo(from))) {
      result.error = OpenFailure(FilePlace::Output(), merged, reader.error());
      return false;
    }
    std::string_view line;
    LineReader::Status status;
    long long index = from > 0 ? firstPortionLines : 0;
    while ((status = reader.Next(line)) == LineReader::Status::Line) {
      builder.Put(line, index < firstPortionLines ? 0 : 1);
      if (++index % kLinesBetweenStopChecks == 0 && stop.stop_requested()) {
        result.stopped = true;
        return false;
      }
    }
    if (status == LineReader::Status::Error) {
      result.error = ReadFailure(FilePlace::Output(), reader.LineNumber() + 1, reader.error());
      return false;
    }
    return index == result.summary.linesWritten;
  };
  if (!traceMerged(firstBytes, firstLines)) {
    if (result.error || result.stopped) return result;
    builder = TraceBuilder();
    if (!traceMerged(0, firstLines) && (result.error || result.stopped)) return result;
  }
  const RewriteReport& join = result.summary.joins.at(0);
  builder.SetJoin(1, join.offsetTaken ? std::optional<float>(join.sngDPOffset) : std::nullopt,
                  input.compensate && join.offsetTaken);
  result.trace = builder.Finish();
  return result;
}

PreviewData BuildPreview(const PreviewInput& input, const std::stop_token& stop) {
  PreviewData data;
  data.input = input;
  MergedLines merged = TraceMergedLines(input, stop);
  if (merged.error || merged.stopped) {
    data.error = std::move(merged.error);
    data.stopped = merged.stopped;
    return data;
  }
  SettingsReading settings = ReadSettings({input.first, input.second}, merged.trace, merged.summary);
  if (settings.error) {
    data.error = std::move(settings.error);
    return data;
  }
  if (stop.stop_requested()) {
    data.stopped = true;
    return data;
  }
  data.heats = IntegrateHeats(merged.trace, settings.cell);
  data.settings = std::move(settings.table);
  data.reduced = ReduceTrace(merged.trace, kPreviewPointsPerPortion);
  data.trace = std::make_shared<const Trace>(std::move(merged.trace));
  return data;
}

}  // namespace tandemo::ui
