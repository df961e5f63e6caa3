#include "rewrite.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>

#include "fields.hpp"
#include "number_read.hpp"
#include "number_text.hpp"
#include "rounding.hpp"

namespace tandemo {

namespace {

// Appended time stamps stay within the 32-bit range of whole seconds that stored
// files and their readers have always had: -2147483648.00 to 2147483647.00.
constexpr std::int64_t kLowestTime = std::int64_t{std::numeric_limits<std::int32_t>::min()} * 100;
constexpr std::int64_t kHighestTime = std::int64_t{std::numeric_limits<std::int32_t>::max()} * 100;

MergeError At(ErrorCode code, FilePlace place, long long line, std::string detail) {
  return MergeError{code, place, line, std::move(detail)};
}

std::string CommaTooFar(std::string_view line) {
  return "the first comma stands at position " + std::to_string(line.find(',') + 1) +
         ", beyond 32767";
}

// A data line's time field as the file writes it, quoted.
std::string TimeField(std::string_view line) { return Quoted(line.substr(0, line.find(','))); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Where a marker line's fourth field, the injection's start time on the run's
// clock, holds its number (without the blanks around it).
struct StartTime {
  bool present = false;
  std::size_t begin = 0;
  std::size_t end = 0;
  double seconds = 0.0;
};

StartTime FindStartTime(std::string_view marker) {
  std::size_t comma = std::string_view::npos;
  for (int k = 0; k < 3; ++k) {
    comma = marker.find(',', comma == std::string_view::npos ? 0 : comma + 1);
    if (comma == std::string_view::npos) return {};
  }
  std::size_t begin = comma + 1;
  std::size_t end = marker.find(',', begin);
  if (end == std::string_view::npos) end = marker.size();
  while (begin < end && IsBlank(marker[begin])) ++begin;
  while (end > begin && IsBlank(marker[end - 1])) --end;
  if (begin == end) return {};
  Checked<double> seconds = FieldNumber(marker.substr(begin, end - begin));
  if (!seconds) return {};
  return StartTime{true, begin, end, seconds.value};
}

// `text` made a copy of `view`; cheaper than assign() for texts of one length.
void CopyInto(std::string& text, std::string_view view) {
  if (text.size() != view.size()) text.resize(view.size());
  if (!view.empty()) std::memcpy(text.data(), view.data(), view.size());
}

double Seconds(std::int64_t hundredths) { return static_cast<double>(hundredths) / 100.0; }

// The line that starts at `offset`, read again as the file holds it; `written`
// when the file cannot be read again (a pipe).
std::string LineAt(LineReader& reader, std::uint64_t offset, const std::string& written) {
  std::string_view line;
  if (!reader.SeekTo(offset) || reader.Next(line) != LineReader::Status::Line) return written;
  return std::string(line);
}

// Lines a run may take: longer ones, rare in ITC data, go one by one.
constexpr std::size_t kRunLineBytes = 4096;
// After a try that found no run, lines read one by one before the next try.
constexpr int kLinesBeforeRetry = 64;
// Room an appended line needs beyond what follows its time field in the file.
constexpr std::size_t kAppendedExtra = kTimeStampChars + 1 + kQuickSignalChars;

}  // namespace

namespace detail {

std::optional<double> QuickDecimal(std::string_view field) {
  // Powers of ten a double holds exactly: a whole number below 2^53 divided by one
  // of them is rounded once, as the nearest double to the decimal, which is what
  // FieldNumber gives.
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const char* at = field.data();
  const char* const end = at + field.size();
  const bool negative = at != end && *at == '-';
  if (negative) ++at;
  std::uint64_t mantissa = 0;  // wraps only past 19 digits, which are refused below
  int significant = 0;         // digits from the first non-zero one on
  int decimals = 0;
  bool point = false;
  bool any = false;
  for (; at != end; ++at) {
    const unsigned digit = static_cast<unsigned char>(*at) - unsigned{'0'};
    if (digit < 10) {
      any = true;
      mantissa = mantissa * 10 + digit;
      significant += mantissa != 0 ? 1 : 0;
      decimals += point ? 1 : 0;
    } else if (*at == '.' && !point) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!any || significant > 15 || decimals > 22) return std::nullopt;
  const double value = static_cast<double>(mantissa) / kPowers[decimals];
  return negative ? -value : value;
}

}  // namespace detail

namespace {

// A DP field as the merge reads it: the usual form quickly, any other in full.
Checked<double> DpValue(std::string_view field) {
  std::optional<double> quick = detail::QuickDecimal(field);
  return quick ? Checked<double>(*quick) : FieldNumber(field);
}

// "the DP field "abc" is not a number", or beyond the range, at the line.
MergeError DpFieldFailure(FilePlace place, long long line, std::string_view field,
                          Failure failure) {
  return MergeError{CodeOf(failure), place, line,
                    "the DP field " + Quoted(field) +
                        (failure == Failure::Overflow ? " is beyond the 64-bit float range"
                                                      : " is not a number")};
}

// An appended data line written at `out`, which has room for kAppendedExtra bytes
// more than `rest`: the time stamp, a comma, then `rest` (what follows the file's
// own time field and its comma) with its DP field shifted by `dpOffset` when
// compensating. nullptr when the DP field needs the longer way (or is no number).
char* WriteAppendedLine(char* out, std::int64_t time, std::string_view rest, bool compensate,
                        float dpOffset) {
  char* at = WriteTimeStampText(out, time);
  *at++ = ',';
  if (compensate) {
    const std::size_t comma2 = rest.find(',');
    std::optional<double> dp = detail::QuickDecimal(rest.substr(0, comma2));
    if (!dp) return nullptr;
    at = WriteQuickSignalText(at, *dp - static_cast<double>(dpOffset));
    if (at == nullptr) return nullptr;
    rest = comma2 == std::string_view::npos ? std::string_view{} : rest.substr(comma2);
  }
  if (!rest.empty()) std::memcpy(at, rest.data(), rest.size());
  return at + rest.size();
}

}  // namespace

std::optional<MergeError> TakeStatistics(const TrackedOutput& out, RunState& state) {
  const DataTail& tail = out.tail();
  if (tail.count() < 2) {
    return MergeError{ErrorCode::NoTimeStep, FilePlace::Input(1), 0,
                      "fewer than two data lines (lines with a comma after the first marker "
                      "line), so the time step cannot be taken"};
  }
  const std::string& last = tail.last().text;
  const std::string& previous = tail.previous().text;
  const FilePlace file = tail.last().file;
  const long long line = tail.last().line;

  Checked<std::int32_t> step = tail.StepHundredths();
  if (!step) {
    return MergeError{ErrorCode::Overflow, file, line,
                      "the time step from " + TimeField(previous) + " to " + TimeField(last) +
                          " does not fit in 16 bits"};
  }
  if (step.value <= 0) {
    return MergeError{ErrorCode::NoTimeStep, file, line,
                      "the last two data lines have the time stamps " + TimeField(previous) +
                          " and " + TimeField(last) + ", a time step of " +
                          SecondsText(step.value) + " that would not advance the time axis"};
  }
  Checked<std::int64_t> time = tail.LastTimeHundredths();
  if (!time) {
    return MergeError{ErrorCode::Overflow, file, line,
                      "the time stamp " + TimeField(last) + " does not fit in 32 bits"};
  }
  Checked<std::int16_t> p = CommaPosition(last);
  Checked<std::int16_t> after = p ? AddInt16(p.value, 1) : Checked<std::int16_t>(Failure::Overflow);
  if (!after) {
    return MergeError{ErrorCode::Overflow, file, line,
                      "the first comma stands at position " + std::to_string(last.find(',') + 1) +
                          "; the position after it does not fit in 16 bits"};
  }
  if (out.markerLines() > std::numeric_limits<std::int32_t>::max()) {
    return MergeError{ErrorCode::Overflow, file, 0, "more than 2147483647 marker lines"};
  }
  state.markerCount = static_cast<std::int32_t>(out.markerLines());
  state.stepHundredths = step.value;
  state.timeHundredths = time.value;
  state.lastDp = RoundToSingle(tail.LastDp());
  return std::nullopt;
}

std::optional<MergeError> RewriteSecondFile(LineReader& later, FilePlace place, TrackedOutput& out,
                                            RunState& state, const MergeOptions& options,
                                            MergeProgress& progress, RewriteReport& report) {
  const bool compensate = options.compensate;
  bool inDataSection = false;
  bool offsetTaken = false;      // the file's first data line has fixed the offset
  bool offsetKnown = false;      // and a baseline line gave it a reference DP
  bool seenMarker = false;       // the file's first marker line has been read
  bool haveReferenceDp = false;  // a baseline line has set referenceDp
  float referenceDp = 0.0f;
  float dpOffset = 0.0f;
  // For the cut-short rule at the end: how many data lines were appended since the
  // latest one that was not (a baseline line), and that one's fields (0: none).
  long long appendedInARow = 0;
  std::size_t unwrittenFields = 0;
  std::uint64_t lineStart = 0;      // where the line being read starts in the file
  std::uint64_t lastDataStart = 0;  // likewise for the latest appended data line
  bool heldIsLast = false;          // the output holds this file's latest non-empty line
  bool afterDataLine = false;       // this file's latest non-empty line is an appended data line
  // The time field of the file's latest line with a comma after its first marker line.
  std::string ownTimeBefore;
  bool haveOwnTimeBefore = false;

  // A marker line with a start time waits for its injection's first data line,
  // which tells how far the injection moves on the merged file's clock.
  struct HeldMarker {
    bool held = false;
    std::string text;
    long long line = 0;
    StartTime startTime;
    std::optional<double> fallbackShift;  // for an injection without a data line to go by
  } marker;
  // A data line whose DP cannot be compensated, or a line that holds only the start
  // of a time field right after a data line, waits for the next non-empty line: as
  // the file's last line it was cut short and is left out; else the data line
  // fails, and the other is written or fails as any line without a comma.
  struct HeldLine {
    bool held = false;
    std::string read;  // as read, for the note
    long long line = 0;
    std::optional<MergeError> failure;  // none: written as read when a line follows
  } suspect;

  auto putMarker = [&](std::optional<double> shift) {
    marker.held = false;
    if (!shift) {
      out.Put(marker.text, SourcePlace{place, marker.line});
      return;
    }
    std::string shifted = marker.text.substr(0, marker.startTime.begin);
    AppendStartTimeText(shifted, marker.startTime.seconds + *shift);
    shifted.append(marker.text, marker.startTime.end, std::string::npos);
    out.Put(shifted, SourcePlace{place, marker.line});
  };

  std::string line;  // the line as it will be written

  // Field 1 replaced, every other character kept: what joining the split fields
  // gives, without cutting the whole line apart.
  std::string joined;
  auto compensateLine = [&](std::string& text, long long lineNo) -> std::optional<MergeError> {
    const std::size_t comma1 = text.find(',');
    if (comma1 == std::string::npos) {
      return At(
          ErrorCode::Subscript, place, lineNo,
          "the line " + Quoted(text) + " inside a data section has no DP field to compensate");
    }
    const std::size_t comma2 = text.find(',', comma1 + 1);
    const std::string_view field1 = std::string_view(text).substr(
        comma1 + 1, comma2 == std::string::npos ? std::string::npos : comma2 - comma1 - 1);
    Checked<double> dp = DpValue(field1);
    if (!dp) return DpFieldFailure(place, lineNo, field1, dp.failure);
    joined.assign(text, 0, comma1 + 1);
    AppendSignalText(joined, dp.value - static_cast<double>(dpOffset));
    if (comma2 != std::string::npos) joined.append(text, comma2, std::string::npos);
    text.swap(joined);
    return std::nullopt;
  };

  // An appended data line built in one go from the time stamp and what follows
  // the file's own time field (with compensation, its DP field shifted): the same
  // characters as writing the time stamp and then compensating the line.
  auto appendedLine = [&](std::string_view rest, std::int64_t time,
                          long long lineNo) -> std::optional<MergeError> {
    line.resize(rest.size() + kAppendedExtra);
    if (char* end = WriteAppendedLine(line.data(), time, rest, compensate, dpOffset)) {
      line.resize(static_cast<std::size_t>(end - line.data()));
      return std::nullopt;
    }
    // A DP field of another form, or one that is no number.
    const std::size_t comma2 = rest.find(',');
    const std::string_view field1 = rest.substr(0, comma2);
    Checked<double> dp = DpValue(field1);
    if (!dp) return DpFieldFailure(place, lineNo, field1, dp.failure);
    line.resize(static_cast<std::size_t>(WriteTimeStampText(line.data(), time) - line.data()));
    line += ',';
    AppendSignalText(line, dp.value - static_cast<double>(dpOffset));
    if (comma2 != std::string_view::npos) line.append(rest.substr(comma2));
    return std::nullopt;
  };

  // Most lines of an injection are data lines ending in CR LF: a run of them is
  // rebuilt from the read buffer straight into the output. A line goes this way
  // only when a non-empty line follows it, so it is never the file's last (which
  // may be cut short); a line the run cannot take goes the line-by-line way.
  struct RunLine {
    std::string_view ownTime;  // the file's own time field
    std::string_view rest;     // what follows it and its comma
    std::int64_t time = 0;
    long long line = 0;
  };
  auto appendRun = [&]() -> long long {
    const std::string_view bytes = later.Buffered();
    const char* const begin = bytes.data();
    const char* const end = begin + bytes.size();
    auto lineFeedFrom = [end](const char* from) -> const char* {
      if (from >= end) return nullptr;
      const std::size_t reach = std::min(static_cast<std::size_t>(end - from), kRunLineBytes);
      return static_cast<const char*>(std::memchr(from, '\n', reach));
    };
    const long long lineBefore = later.LineNumber();
    std::array<RunLine, 3> recent;  // the latest lines taken, for the tail
    long long taken = 0;
    std::int64_t time = state.timeHundredths;
    const char* at = begin;
    const char* latestStart = begin;
    const char* lineFeed = lineFeedFrom(at);
    while (lineFeed != nullptr) {
      const char* cr = lineFeed - 1;
      if (cr <= at || *cr != '\r' || *at == '@') break;
      const auto size = static_cast<std::size_t>(cr - at);
      if (std::memchr(at, '\r', size) != nullptr) break;
      const std::string_view text(at, size);
      const std::size_t comma = text.find(',');
      if (comma == std::string_view::npos) break;
      const char* following = lineFeed + 1;
      const char* followingFeed = lineFeedFrom(following);
      if (followingFeed == nullptr || *following == '\r' || *following == '\n') break;
      const std::int64_t lineTime = time + state.stepHundredths;
      if (lineTime < kLowestTime || lineTime > kHighestTime) break;
      const std::string_view rest = text.substr(comma + 1);
      char* into = out.ReserveLine(rest.size() + kAppendedExtra);
      char* written = WriteAppendedLine(into, lineTime, rest, compensate, dpOffset);
      if (written == nullptr) break;
      const long long lineNo = lineBefore + taken + 1;
      out.CommitLine(into, static_cast<std::size_t>(written - into), SourcePlace{place, lineNo});
      recent[static_cast<std::size_t>(taken % 3)] =
          RunLine{text.substr(0, comma), rest, lineTime, lineNo};
      time = lineTime;
      ++taken;
      latestStart = at;
      at = following;
      lineFeed = followingFeed;
    }
    if (taken == 0) return 0;
    // The tail learns of the latest lines taken, built once more as they were written.
    for (long long k = std::max<long long>(0, taken - 3); k < taken; ++k) {
      const RunLine& recentLine = recent[static_cast<std::size_t>(k % 3)];
      char text[kRunLineBytes + kAppendedExtra];
      char* written =
          WriteAppendedLine(text, recentLine.time, recentLine.rest, compensate, dpOffset);
      out.AddWrittenDataLine(std::string_view(text, static_cast<std::size_t>(written - text)),
                             SourcePlace{place, recentLine.line});
    }
    const RunLine& latest = recent[static_cast<std::size_t>((taken - 1) % 3)];
    CopyInto(ownTimeBefore, latest.ownTime);
    haveOwnTimeBefore = true;
    lastDataStart = later.Offset() + static_cast<std::uint64_t>(latestStart - begin);
    state.timeHundredths = time;
    report.dataLinesAppended += taken;
    appendedInARow += taken;
    heldIsLast = false;
    afterDataLine = true;
    later.Skip(static_cast<std::size_t>(at - begin), taken);
    return taken;
  };

  std::string_view read;
  int linesBeforeRun = 0;

  for (;;) {
    if (inDataSection && offsetTaken && !marker.held && !suspect.held && linesBeforeRun == 0) {
      if (appendRun() > 0) {
        if (progress.Stop(later.Offset())) return MergeProgress::Cancelled();
      } else {
        linesBeforeRun = kLinesBeforeRetry;
      }
    }
    if (linesBeforeRun > 0) --linesBeforeRun;
    lineStart = later.Offset();
    LineReader::Status status = later.Next(read);
    if (status == LineReader::Status::End) break;
    const long long lineNo = later.LineNumber();
    if (status == LineReader::Status::Error) {
      return ReadFailure(place, lineNo + 1, later.error());
    }
    if (progress.Stop(later.Offset())) return MergeProgress::Cancelled();
    if (read.empty()) continue;  // never written, never a baseline line
    heldIsLast = false;          // a line follows the held data line, whether it is written or not
    const bool followsDataLine = afterDataLine;
    afterDataLine = false;
    if (suspect.held) {  // a line follows it: not cut short
      if (suspect.failure) return std::move(*suspect.failure);
      suspect.held = false;
      out.Put(suspect.read, SourcePlace{place, suspect.line});
    }

    Checked<std::int16_t> p = CommaPosition(read);
    if (!p) return At(ErrorCode::Overflow, place, lineNo, CommaTooFar(read));
    const auto pos = static_cast<std::size_t>(p.value);

    if (IsMarkerLine(read)) {
      if (marker.held) putMarker(marker.fallbackShift);
      inDataSection = true;
      seenMarker = true;
      if (pos == 0) {
        Checked<std::int32_t> lowered = SubInt32(state.markerCount, 1);
        if (!lowered) {
          return At(ErrorCode::Overflow, place, lineNo,
                    "the injection count falls below -2147483648");
        }
        state.markerCount = lowered.value;
        inDataSection = false;
        continue;
      }
      double own = LeadingValue(CharactersFrom(read, 2, pos));
      Checked<std::int32_t> rounded = RoundToInt32(own);
      if (!rounded) {
        return At(
            ErrorCode::Overflow, place, lineNo,
            "the injection number " + Quoted(read.substr(1, pos - 2)) + " does not fit in 32 bits");
      }
      Checked<std::int32_t> number = AddInt32(rounded.value, state.markerCount);
      if (!number) {
        return At(ErrorCode::Overflow, place, lineNo,
                  "the injection number " + std::to_string(rounded.value) + " + " +
                      std::to_string(state.markerCount) + " does not fit in 32 bits");
      }
      line.assign("@");
      line += IntegerText(number.value);
      line += ',';
      line.append(TextAfter(read, pos));
      if (report.injectionsAppended == 0) report.firstNumber = number.value;
      report.lastNumber = number.value;
      ++report.injectionsAppended;
      const StartTime startTime = FindStartTime(line);
      if (!startTime.present) {
        out.Put(line, SourcePlace{place, lineNo});
        continue;
      }
      marker.held = true;
      marker.text.swap(line);
      marker.line = lineNo;
      marker.startTime = startTime;
      marker.fallbackShift.reset();
      if (haveOwnTimeBefore) {
        // As if the injection's data went on from the line before it in step with the merged clock.
        Checked<double> ownTime = FieldNumber(ownTimeBefore);
        if (ownTime) marker.fallbackShift = Seconds(state.timeHundredths) - ownTime.value;
      }
      continue;
    }

    if (pos != 0 && seenMarker) {  // a data line: a baseline line or one to append
      if (inDataSection) {
        const std::int64_t timeBefore = state.timeHundredths;
        const std::int64_t time = timeBefore + state.stepHundredths;
        if (time < kLowestTime || time > kHighestTime) {
          return At(ErrorCode::Overflow, place, lineNo,
                    "the time stamp " + SecondsText(timeBefore) + " + " +
                        SecondsText(state.stepHundredths) + " leaves the 32-bit range");
        }
        state.timeHundredths = time;
        if (marker.held) {
          Checked<double> ownTime = FieldNumber(read.substr(0, pos - 1));
          putMarker(ownTime ? std::optional<double>(Seconds(time) - ownTime.value)
                            : marker.fallbackShift);
        }
        CopyInto(ownTimeBefore, read.substr(0, pos - 1));
        haveOwnTimeBefore = true;
        if (!offsetTaken) {
          if (compensate && !haveReferenceDp) {
            return At(ErrorCode::NoBaseline, place, lineNo,
                      "no baseline line (a line with a comma after the first marker line) comes "
                      "before the first data line, so there is no reference DP to compensate from");
          }
          offsetTaken = true;
          offsetKnown = haveReferenceDp;
          Checked<float> offset = TestedSingleDifference(referenceDp, state.lastDp);
          if (!offset) {
            return At(ErrorCode::Overflow, place, lineNo,
                      "the DP offset between the reference DP " + ShortestText(referenceDp) +
                          " and the first file's last DP " + ShortestText(state.lastDp) +
                          " is beyond the 32-bit float range");
          }
          dpOffset = offset.value;
        }
        ++report.dataLinesAppended;
        if (compensate) {
          if (auto failure = appendedLine(TextAfter(read, pos), time, lineNo)) {
            if (failure->code != ErrorCode::TypeMismatch) return failure;
            suspect = HeldLine{true, std::string(read), lineNo, std::move(failure)};
            state.timeHundredths = timeBefore;
            --report.dataLinesAppended;
            continue;
          }
        } else {
          appendedLine(TextAfter(read, pos), time, lineNo);
        }
        ++appendedInARow;
        lastDataStart = lineStart;
        out.PutDataLine(line, SourcePlace{place, lineNo});
        heldIsLast = true;
        afterDataLine = true;
        continue;
      }
      appendedInARow = 0;
      unwrittenFields = FieldCount(read);
      // Only baseline lines give the reference DP.
      Checked<std::int16_t> after = AddInt16(p.value, 1);
      if (!after) {
        return At(ErrorCode::Overflow, place, lineNo,
                  "the first comma stands at position 32767; the position after it does not "
                  "fit in 16 bits");
      }
      referenceDp = RoundToSingle(
          LeadingValue(CharactersFrom(read, static_cast<std::size_t>(after.value), read.size())));
      haveReferenceDp = true;
      ownTimeBefore.assign(read.substr(0, pos - 1));
      haveOwnTimeBefore = true;
      continue;
    }

    if (!inDataSection) continue;  // header lines and lines outside every data section
    // A line without a comma inside a data section is written as read.
    if (marker.held) putMarker(marker.fallbackShift);
    line.assign(read);
    std::optional<MergeError> failure;
    if (compensate) failure = compensateLine(line, lineNo);
    if (followsDataLine && LooksLikeCutTimeField(read)) {
      suspect = HeldLine{true, std::string(read), lineNo, std::move(failure)};
      continue;
    }
    if (failure) return failure;
    out.Put(line, SourcePlace{place, lineNo});
  }

  if (marker.held) putMarker(marker.fallbackShift);
  if (suspect.held || !heldIsLast) {  // the line held is not the file's last
    out.WriteHeldLine();
    if (suspect.held) report.cutShort = CutShortLine{place, suspect.line, suspect.read};
  } else {
    const std::size_t fieldsBefore =
        appendedInARow >= 2 ? FieldCount(out.tail().previous().text) : unwrittenFields;
    if (auto cut = out.EndOfFile(fieldsBefore)) {
      state.timeHundredths -= state.stepHundredths;
      --report.dataLinesAppended;
      report.cutShort = CutShortLine{place, cut->line, LineAt(later, lastDataStart, cut->text)};
    }
  }
  // Without a reference DP the offset is no offset; a preview draws none.
  report.offsetTaken = offsetKnown;
  report.dpOffset = dpOffset;
  return std::nullopt;
}

}  // namespace tandemo
