// The last data lines of a file, or of the merged file so far. The time step, the
// last time stamp and the last DP come from the last two of them, and a last data
// line cut short by an interrupted write is recognised here: one place for what
// both the merge and the inspection read from a file's end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "checked.hpp"
#include "failure.hpp"

namespace tandemo {

struct DataLine {
  std::string text;
  long long line = 0;  // 1-based, in its file
  FilePlace file;      // the file it was read from
};

// Fields of a line: its commas plus one.
std::size_t FieldCount(std::string_view line);

// A data line that an interrupted write may have cut short: it holds fewer fields
// than the data line before it (`fieldsBefore`, 0 when there is none), or its DP
// field (the second) is not a number. Only a file's last data line is left out for it.
bool LooksCutShort(std::string_view line, std::size_t fieldsBefore);

// A data line cut off before its first comma: only digits, points and signs, at
// least one digit ("4412.0"). As a file's last line right after a data line, it is
// what an interrupted write left of the next data line; "END" and the like are not.
bool LooksLikeCutTimeField(std::string_view line);

// A cut-short last data line that was left out, for the summary's note.
struct CutShortLine {
  FilePlace file;
  long long line = 0;
  std::string text;
};
// "first file, line 4412: the last data line ("4412.00,9.70") is cut short and was left out"
std::string DescribeCutShort(const CutShortLine& cut);

class DataTail {
 public:
  // Feed a file's lines after its first marker line, in order: each data line (not
  // empty, not a marker line, holding a comma) to Add, each other non-empty line to
  // AddOther. Empty lines need not be fed.
  void Add(std::string_view line, long long lineNumber, FilePlace file = FilePlace::None());
  // Add without a copy: `line` is swapped in and comes back holding an older line's text.
  void Take(std::string& line, long long lineNumber, FilePlace file = FilePlace::None());
  void AddOther() { otherAfterLast_ = true; }
  // What a stretch of the same file read before this one held: its data lines come
  // before these, for a file whose end is read backwards in stretches.
  void TakeEarlier(const DataTail& earlier);

  int count() const { return count_; }  // data lines held: 0 to 3
  const DataLine& last() const;         // needs count() >= 1
  const DataLine& previous() const;     // needs count() >= 2

  // The last data line, with only empty lines after it, looks cut short next to
  // the data line before it.
  bool lastCutShort() const;
  // Leaves out the last data line: the one before it becomes the last.
  void DropLast();

  // From the last two data lines (count() >= 2): the time step in hundredths of a
  // second; an overflow when the step in whole seconds leaves the 16-bit range. It
  // may be 0 or negative, which no time axis can continue.
  Checked<std::int32_t> StepHundredths() const;
  // The last time stamp in hundredths of a second; an overflow when in whole seconds
  // it leaves the 32-bit range.
  Checked<std::int64_t> LastTimeHundredths() const;
  // The last data line's DP, read as the number at the start of its second field.
  double LastDp() const;

 private:
  DataLine& NextSlot();

  std::array<DataLine, 3> lines_;
  int newest_ = 0;  // index of the last data line
  int count_ = 0;
  bool otherAfterLast_ = false;
};

}  // namespace tandemo
