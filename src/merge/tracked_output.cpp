#include "tracked_output.hpp"

#include "fields.hpp"

namespace tandemo {

void TrackedOutput::Put(std::string_view line, SourcePlace from) {
  writer_.WriteLine(line);
  if (IsMarkerLine(line)) {
    ++markers_;
    return;
  }
  if (markers_ == 0 || !IsDataLine(line)) return;
  tail_.Add(line, from.line, from.file);
}

}  // namespace tandemo
