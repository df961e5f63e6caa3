#include "tracked_output.hpp"

#include "fields.hpp"

namespace tandemo {

void TrackedOutput::Put(std::string_view line, SourcePlace from) {
  if (IsMarkerLine(line)) {
    WriteHeld();
    Write(line, from);
    ++markers_;
    return;
  }
  WriteHeld();
  if (markers_ > 0 && IsDataLine(line)) {
    tail_.Add(line, from.line, from.file);
    held_ = true;
    return;
  }
  Write(line, from);
}

void TrackedOutput::PutDataLine(std::string& line, SourcePlace from) {
  WriteHeld();
  tail_.Take(line, from.line, from.file);
  held_ = true;
}

std::optional<DataLine> TrackedOutput::EndOfFile(std::size_t fieldsBefore) {
  if (!held_) return std::nullopt;
  if (!LooksCutShort(tail_.last().text, fieldsBefore)) {
    WriteHeld();
    return std::nullopt;
  }
  held_ = false;
  DataLine cut = tail_.last();
  tail_.DropLast();
  return cut;
}

}  // namespace tandemo
