#include "rewrite.hpp"

#include <string>

#include "fields.hpp"
#include "number_read.hpp"
#include "number_text.hpp"
#include "rounding.hpp"

namespace tandemo {

namespace {

MergeError At(ErrorCode code, FilePlace place, long long line, std::string detail) {
  return MergeError{code, place, line, std::move(detail)};
}

std::string CommaTooFar(std::string_view line) {
  return "the first comma stands at position " + std::to_string(line.find(',') + 1) +
         ", beyond 32767";
}

}  // namespace

std::optional<MergeError> RewriteSecondFile(LineReader& second, FilePlace place, TrackedOutput& out,
                                            RunState& state, const MergeOptions& options,
                                            MergeProgress& progress, RewriteReport& report) {
  const bool compensate = options.compensate;
  bool blnInData = false;
  bool blnMarkerLine = false;
  bool blnOffsetTaken = false;
  bool seenMarker = false;   // the file's first marker line has been read
  bool haveRefDP = false;    // a baseline line has set sngRefDP
  float sngRefDP = 0.0f;
  float sngDPOffset = 0.0f;

  std::string line;  // the line as it will be written
  std::string joined;
  std::string_view read;

  for (;;) {
    LineReader::Status status = second.Next(read);
    if (status == LineReader::Status::End) break;
    const long long lineNo = second.LineNumber();
    if (status == LineReader::Status::Error) {
      return ReadFailure(place, lineNo + 1, second.error());
    }
    if (progress.Stop(second.Offset())) return MergeProgress::Cancelled();

    Checked<std::int16_t> p = CommaPosition(read);
    if (!p) return At(ErrorCode::Overflow, place, lineNo, CommaTooFar(read));
    const auto pos = static_cast<std::size_t>(p.value);

    bool written = false;
    if (IsMarkerLine(read)) {
      blnInData = true;
      seenMarker = true;
      if (pos == 0) {
        Checked<std::int32_t> lowered = SubInt32(state.lngMarkerCount, 1);
        if (!lowered) {
          return At(ErrorCode::Overflow, place, lineNo,
                    "the injection count falls below -2147483648");
        }
        state.lngMarkerCount = lowered.value;
        blnInData = false;
      } else {
        double own = LeadingValue(CharactersFrom(read, 2, pos));
        Checked<std::int32_t> rounded = RoundToInt32(own);
        if (!rounded) {
          return At(ErrorCode::Overflow, place, lineNo,
                    "the injection number " + Quoted(read.substr(1, pos - 2)) +
                        " does not fit in 32 bits");
        }
        Checked<std::int32_t> number = AddInt32(rounded.value, state.lngMarkerCount);
        if (!number) {
          return At(ErrorCode::Overflow, place, lineNo,
                    "the injection number " + std::to_string(rounded.value) + " + " +
                        std::to_string(state.lngMarkerCount) + " does not fit in 32 bits");
        }
        line.assign("@");
        line += IntegerText(number.value);
        line += ',';
        line.append(TextAfter(read, pos));
        blnMarkerLine = true;
        if (report.injectionsAppended == 0) report.firstNumber = number.value;
        report.lastNumber = number.value;
        ++report.injectionsAppended;
        written = true;
      }
    } else if (pos != 0 && blnInData) {  // a data line
      Checked<std::int32_t> time = AddInt32(state.lngTime, state.intStep);
      if (!time) {
        return At(ErrorCode::Overflow, place, lineNo,
                  "the time stamp " + std::to_string(state.lngTime) + " + " +
                      std::to_string(state.intStep) + " leaves the 32-bit range");
      }
      state.lngTime = time.value;
      line.clear();
      AppendTimeText(line, state.lngTime);
      line += ',';
      line.append(TextAfter(read, pos));
      if (!blnOffsetTaken) {
        if (compensate && !haveRefDP) {
          return At(ErrorCode::NoBaseline, place, lineNo,
                    "no baseline line (a line with a comma after the first marker line) comes "
                    "before the first data line, so there is no reference DP to compensate from");
        }
        blnOffsetTaken = true;
        Checked<float> offset = TestedSingleDifference(sngRefDP, state.sngLastDP);
        if (!offset) {
          return At(ErrorCode::Overflow, place, lineNo,
                    "the DP offset between the reference DP " + ShortestText(sngRefDP) +
                        " and the first file's last DP " + ShortestText(state.sngLastDP) +
                        " is beyond the 32-bit float range");
        }
        sngDPOffset = offset.value;
      }
      ++report.dataLinesAppended;
      written = true;
    } else {  // an other line: only baseline lines give the reference DP
      if (pos != 0 && seenMarker) {
        Checked<std::int16_t> after = AddInt16(p.value, 1);
        if (!after) {
          return At(ErrorCode::Overflow, place, lineNo,
                    "the first comma stands at position 32767; the position after it does not "
                    "fit in 16 bits");
        }
        sngRefDP = RoundToSingle(LeadingValue(CharactersFrom(read, static_cast<std::size_t>(after.value), read.size())));
        haveRefDP = true;
      }
      if (!read.empty() && blnInData) {  // a line without a comma inside a data section
        line.assign(read);
        written = true;
      }
    }
    if (!written) continue;

    if (compensate && !blnMarkerLine) {
      // Field 1 replaced, every other character kept: what joining the split fields
      // gives, without cutting the whole line apart.
      const std::size_t comma1 = line.find(',');
      if (comma1 == std::string::npos) {
        return At(ErrorCode::Subscript, place, lineNo,
                  "the line " + Quoted(line) + " inside a data section has no DP field to compensate");
      }
      const std::size_t comma2 = line.find(',', comma1 + 1);
      const std::string_view field1 = std::string_view(line).substr(
          comma1 + 1, comma2 == std::string::npos ? std::string::npos : comma2 - comma1 - 1);
      Checked<double> dp = FieldNumber(field1);
      if (!dp) {
        return At(CodeOf(dp.failure), place, lineNo,
                  "the DP field " + Quoted(field1) +
                      (dp.failure == Failure::Overflow ? " is beyond the 64-bit float range"
                                                       : " is not a number"));
      }
      joined.assign(line, 0, comma1 + 1);
      AppendSignalText(joined, dp.value - static_cast<double>(sngDPOffset));
      if (comma2 != std::string::npos) joined.append(line, comma2, std::string::npos);
      line.swap(joined);
    }
    out.Put(line, SourcePlace{place, lineNo});
    blnMarkerLine = false;
  }
  report.offsetTaken = blnOffsetTaken;
  report.sngDPOffset = sngDPOffset;
  return std::nullopt;
}

}  // namespace tandemo
