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
  previous_.swap(last_);
  last_.assign(line);
  lastPlace_ = from;
  if (dataLines_ < 2) ++dataLines_;
}

}  // namespace tandemo
