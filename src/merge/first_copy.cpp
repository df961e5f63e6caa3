#include "first_copy.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "fields.hpp"
#include "rounding.hpp"

namespace tandemo {
namespace {

// Lines a run may take: longer ones, rare in ITC data, go one by one.
constexpr std::size_t kRunLineBytes = 4096;
// After a stretch that held no run, lines read one by one before the next try.
constexpr int kLinesBeforeRetry = 64;

// The lines at the front of `bytes` that are copied exactly as they stand: each
// ends in CR LF, holds no other CR or LF, and is not empty.
struct Run {
  std::size_t bytes = 0;
  long long lines = 0;
  std::int32_t markerLines = 0;
  std::size_t lastStart = 0;  // where the run's last line starts
};

Run FindRun(std::string_view bytes) {
  Run run;
  const char* const begin = bytes.data();
  const char* const end = begin + bytes.size();
  const char* at = begin;
  while (at < end) {
    const std::size_t reach = std::min(static_cast<std::size_t>(end - at), kRunLineBytes);
    const void* lf = std::memchr(at, '\n', reach);
    if (!lf) break;
    const char* cr = static_cast<const char*>(lf) - 1;
    if (cr <= at || *cr != '\r' || std::memchr(at, '\r', static_cast<std::size_t>(cr - at))) break;
    if (*at == '@') ++run.markerLines;
    run.lastStart = static_cast<std::size_t>(at - begin);
    ++run.lines;
    at = cr + 2;
  }
  run.bytes = static_cast<std::size_t>(at - begin);
  return run;
}

}  // namespace

std::optional<MergeError> CopyFirstFile(LineReader& first, TrackedOutput& out,
                                        const HeaderPlan* plan, MergeProgress& progress,
                                        FirstCopyReport& report) {
  const FilePlace place = FilePlace::Input(1);
  std::int32_t markerCount = 0;
  // Past the header lines a plan replaces, and inside the data, most lines are
  // copied unchanged: they go out in runs straight from the read buffer.
  const long long planEnd = plan ? std::max<long long>(2, plan->insertAfterLine) : 0;
  int linesBeforeRun = 0;
  std::string_view line;
  // A line holding only the start of a time field right after a data line waits
  // for the next non-empty line: as the file's last it was cut short and is left out.
  struct {
    bool held = false;
    std::string text;
    long long line = 0;
  } fragment;
  bool afterDataLine = false;  // the latest non-empty line put is a data line
  auto putHeldFragment = [&] {
    if (!fragment.held) return;
    fragment.held = false;
    out.Put(fragment.text, SourcePlace{place, fragment.line});
  };
  auto put = [&](std::string_view text, long long lineNo) {
    putHeldFragment();
    if (afterDataLine && LooksLikeCutTimeField(text)) {
      fragment.held = true;
      fragment.text.assign(text);
      fragment.line = lineNo;
      afterDataLine = false;
      return;
    }
    out.Put(text, SourcePlace{place, lineNo});
    afterDataLine = markerCount > 0 && IsDataLine(text);
  };
  for (;;) {
    if (markerCount > 0 && first.LineNumber() >= planEnd && linesBeforeRun == 0) {
      const std::string_view bytes = first.Buffered();
      if (bytes.empty() && first.error())
        return ReadFailure(place, first.LineNumber() + 1, first.error());
      const Run run = FindRun(bytes);
      if (run.lines == 0) {
        linesBeforeRun = kLinesBeforeRetry;
      } else {
        Checked<std::int32_t> counted = AddInt32(markerCount, run.markerLines);
        if (!counted) {
          return MergeError{ErrorCode::Overflow, place, first.LineNumber() + run.lines,
                            "more than 2147483647 marker lines"};
        }
        markerCount = counted.value;
        // All but the last line go out as one block; the last goes through Put, which
        // holds it back if it is a data line, as the file's last one may be cut short.
        const long long lineBefore = first.LineNumber();
        const std::string_view last = bytes.substr(run.lastStart, run.bytes - run.lastStart - 2);
        const std::int32_t lastIsMarker = IsMarkerLine(last) ? 1 : 0;
        putHeldFragment();
        out.PutLines(bytes.substr(0, run.lastStart), run.lines - 1, run.markerLines - lastIsMarker,
                     SourcePlace{place, lineBefore + 1});
        // The tail keeps the block's last three data lines, found from its end.
        std::array<std::string_view, 3> tailLines;
        std::array<long long, 3> tailNumbers{};
        int found = 0;
        std::size_t lineEnd = run.lastStart;  // one past the CR LF of the line looked at
        long long lineNo = lineBefore + run.lines - 1;
        while (found < 3 && lineEnd > 0) {
          std::size_t start = lineEnd - 2;
          while (start > 0 && bytes[start - 1] != '\n') --start;
          const std::string_view text = bytes.substr(start, lineEnd - 2 - start);
          if (lineNo == lineBefore + run.lines - 1) afterDataLine = IsDataLine(text);
          if (IsDataLine(text)) {
            tailLines[static_cast<std::size_t>(found)] = text;
            tailNumbers[static_cast<std::size_t>(found)] = lineNo;
            ++found;
          }
          lineEnd = start;
          --lineNo;
        }
        for (int k = found - 1; k >= 0; --k) {
          out.AddWrittenDataLine(tailLines[static_cast<std::size_t>(k)],
                                 SourcePlace{place, tailNumbers[static_cast<std::size_t>(k)]});
        }
        put(last, lineBefore + run.lines);
        first.Skip(run.bytes, run.lines);
        if (progress.Stop(first.Offset())) return MergeProgress::Cancelled();
        continue;
      }
    }
    LineReader::Status status = first.Next(line);
    if (status == LineReader::Status::End) break;
    if (status == LineReader::Status::Error) {
      return ReadFailure(place, first.LineNumber() + 1, first.error());
    }
    if (linesBeforeRun > 0) --linesBeforeRun;
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
    if (!line.empty() && !neverRun) put(line, lineNo);
    if (plan && lineNo == plan->insertAfterLine) {
      for (const std::string& inserted : plan->inserted) put(inserted, lineNo);
    }
  }
  // Every data line of this file has gone through the output, so the one before
  // the last is the tail's previous.
  const DataTail& tail = out.tail();
  if (fragment.held) {
    out.WriteHeldLine();  // the data line before it was not the file's last
    report.cutShort = CutShortLine{place, fragment.line, fragment.text};
  } else if (auto cut = out.EndOfFile(tail.count() >= 2 ? FieldCount(tail.previous().text) : 0)) {
    report.cutShort = CutShortLine{place, cut->line, cut->text};
  }
  return std::nullopt;
}

}  // namespace tandemo
