// The merged file as it is written: every line goes through here, which keeps
// what the next join needs to know of it: its marker lines and its last data
// lines (lines after the first marker line that are not empty, not marker lines,
// and hold a comma). The latest data line is held back until the next line or the
// end of its file, so that a last data line cut short can still be left out.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
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

// Told of every line as it goes to the output, in order, with where it came from:
// a preview traces the merged file from this without reading it back.
class WrittenLineObserver {
 public:
  virtual void Written(std::string_view line, SourcePlace from) = 0;

 protected:
  ~WrittenLineObserver() = default;
};

class TrackedOutput {
 public:
  explicit TrackedOutput(LineWriter& writer, WrittenLineObserver* observer = nullptr)
      : writer_(writer), observer_(observer) {}

  void Put(std::string_view line, SourcePlace from);
  // A line the caller knows to be a data line (after the first marker line, with a
  // comma); it is taken without a copy, and `line` comes back holding other text.
  void PutDataLine(std::string& line, SourcePlace from);

  // Whole lines, each ending in CR LF and none empty, written as they stand;
  // `markerLines` of the `lines` are marker lines, the first of them comes from
  // `firstLine`. Their data lines reach the tail only through AddWrittenDataLine:
  // the caller gives it the last of them, in order.
  void PutLines(std::string_view bytes, long long lines, long long markerLines,
                SourcePlace firstLine) {
    WriteHeld();
    writer_.WriteLines(bytes, lines);
    markers_ += markerLines;
    if (observer_ != nullptr) TellObserver(bytes, firstLine);
  }
  // Room for a data line built in place that is known not to be its file's last
  // (a non-empty line follows it): it is written at once, never held, and reaches
  // the tail only through AddWrittenDataLine, like the lines of PutLines.
  char* ReserveLine(std::size_t size) {
    WriteHeld();
    return writer_.Reserve(size);
  }
  // Writes the `size` bytes built at what ReserveLine returned as one line.
  void CommitLine(const char* line, std::size_t size, SourcePlace from) {
    if (observer_ != nullptr) observer_->Written(std::string_view(line, size), from);
    writer_.Commit(size);
  }
  void AddWrittenDataLine(std::string_view line, SourcePlace from) {
    tail_.Add(line, from.line, from.file);
  }

  // The file being copied has ended. A data line still held is its last one: when
  // it looks cut short beside the file's data line before it (`fieldsBefore`
  // fields, 0 when there is none) it is left out and returned, else it is written.
  std::optional<DataLine> EndOfFile(std::size_t fieldsBefore);
  // Writes a data line still held, whatever it looks like.
  void WriteHeldLine() { WriteHeld(); }

  long long markerLines() const { return markers_; }
  const DataTail& tail() const { return tail_; }
  long long linesWritten() const { return writer_.LinesWritten() + (held_ ? 1 : 0); }

 private:
  void WriteHeld() {
    if (held_) Write(tail_.last().text, SourcePlace{tail_.last().file, tail_.last().line});
    held_ = false;
  }
  // The observer is told of a block's lines one by one, as if each had been Put.
  void TellObserver(std::string_view bytes, SourcePlace from) {
    while (!bytes.empty()) {
      const std::size_t end = bytes.find("\r\n");
      observer_->Written(bytes.substr(0, end), from);
      bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 2);
      ++from.line;
    }
  }
  void Write(std::string_view line, SourcePlace from) {
    writer_.WriteLine(line);
    if (observer_ != nullptr) observer_->Written(line, from);
  }

  LineWriter& writer_;
  WrittenLineObserver* observer_;
  long long markers_ = 0;
  DataTail tail_;
  bool held_ = false;
};

}  // namespace tandemo
