#include "first_copy.hpp"

#include <string>

#include "fields.hpp"
#include "rounding.hpp"

namespace tandemo {

std::optional<MergeError> CopyFirstFile(LineReader& first, TrackedOutput& out, const HeaderPlan* plan,
                                        MergeProgress& progress, FirstCopyReport& report) {
  const FilePlace place = FilePlace::Input(1);
  std::int32_t markerCount = 0;
  std::string_view line;
  for (;;) {
    LineReader::Status status = first.Next(line);
    if (status == LineReader::Status::End) break;
    if (status == LineReader::Status::Error) {
      return ReadFailure(place, first.LineNumber() + 1, first.error());
    }
    if (progress.Stop(first.Offset())) return MergeProgress::Cancelled();
    const long long lineNo = first.LineNumber();
    if (IsMarkerLine(line)) {
      Checked<std::int32_t> counted = AddInt32(markerCount, 1);
      if (!counted) {
        return MergeError{ErrorCode::Overflow, place, lineNo, "more than 2147483647 marker lines"};
      }
      markerCount = counted.value;
    }
    if (plan && lineNo == 2) line = plan->countLine;
    // Plan lines of injections that never ran are left out of a header that lists them all.
    const bool neverRun = plan && lineNo >= plan->skipFromLine && lineNo <= plan->insertAfterLine;
    if (!line.empty() && !neverRun) out.Put(line, SourcePlace{place, lineNo});
    if (plan && lineNo == plan->insertAfterLine) {
      for (const std::string& inserted : plan->inserted) out.Put(inserted, SourcePlace{place, lineNo});
    }
  }
  // Every data line of this file has gone through the output, so the one before
  // the last is the tail's previous.
  const DataTail& tail = out.tail();
  if (auto cut = out.EndOfFile(tail.count() >= 2 ? FieldCount(tail.previous().text) : 0)) {
    report.cutShort = CutShortLine{place, cut->line, cut->text};
  }
  return std::nullopt;
}

}  // namespace tandemo
