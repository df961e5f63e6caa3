// The merged file as it is written: every line goes through here, which keeps
// what the next join needs to know of it: its marker lines and its last data
// lines (lines after the first marker line that are not empty, not marker lines,
// and hold a comma).
#pragma once

#include <string_view>

#include "data_tail.hpp"
#include "failure.hpp"
#include "line_io.hpp"

namespace tandemo {

// Where a line written to the output came from, for messages.
struct SourcePlace {
  FilePlace file;
  long long line = 0;
};

class TrackedOutput {
 public:
  explicit TrackedOutput(LineWriter& writer) : writer_(writer) {}

  void Put(std::string_view line, SourcePlace from);

  long long markerLines() const { return markers_; }
  const DataTail& tail() const { return tail_; }
  long long linesWritten() const { return writer_.LinesWritten(); }

 private:
  LineWriter& writer_;
  long long markers_ = 0;
  DataTail tail_;
};

}  // namespace tandemo
