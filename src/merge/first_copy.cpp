#include "first_copy.hpp"

#include <string>

#include "fields.hpp"
#include "rounding.hpp"

namespace tandemo {

std::optional<MergeError> CopyFirstFile(LineReader& first, TrackedOutput& out, const HeaderPlan* plan,
                                        FirstCopyReport& report) {
  const FilePlace place = FilePlace::Input(1);
  std::int32_t markerCount = 0;
  std::size_t fieldsBefore = 0;  // fields of the data line before this one; 0: none yet
  // A data line that may be cut short waits for the next non-empty line: only as
  // the file's last data line is it left out.
  bool held = false;
  std::string heldText;
  long long heldLine = 0;
  std::string_view line;
  for (;;) {
    LineReader::Status status = first.Next(line);
    if (status == LineReader::Status::End) break;
    if (status == LineReader::Status::Error) {
      return ReadFailure(place, first.LineNumber() + 1, first.error());
    }
    const long long lineNo = first.LineNumber();
    if (IsMarkerLine(line)) {
      Checked<std::int32_t> counted = AddInt32(markerCount, 1);
      if (!counted) {
        return MergeError{ErrorCode::Overflow, place, lineNo, "more than 2147483647 marker lines"};
      }
      markerCount = counted.value;
    }
    if (plan && lineNo == 2) line = plan->countLine;
    if (!line.empty()) {
      if (held) {
        out.Put(heldText, SourcePlace{place, heldLine});
        held = false;
      }
      if (markerCount > 0 && IsDataLine(line)) {
        const std::size_t fieldsOfLineBefore = fieldsBefore;
        fieldsBefore = FieldCount(line);
        held = LooksCutShort(line, fieldsOfLineBefore);
      }
      if (held) {
        heldText.assign(line);
        heldLine = lineNo;
      } else {
        out.Put(line, SourcePlace{place, lineNo});
      }
    }
    if (plan && lineNo == plan->insertAfterLine) {
      for (const std::string& inserted : plan->inserted) out.Put(inserted, SourcePlace{place, lineNo});
    }
  }
  if (held) report.cutShort = CutShortLine{place, heldLine, heldText};
  return std::nullopt;
}

}  // namespace tandemo
