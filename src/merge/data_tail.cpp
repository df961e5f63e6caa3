#include "data_tail.hpp"

#include <algorithm>
#include <cstring>

#include "number_read.hpp"
#include "rounding.hpp"

namespace tandemo {

std::size_t FieldCount(std::string_view line) {
  return static_cast<std::size_t>(std::count(line.begin(), line.end(), ',')) + 1;
}

bool LooksCutShort(std::string_view line, std::size_t fieldsBefore) {
  const std::size_t comma1 = line.find(',');
  if (comma1 == std::string_view::npos) return true;  // no DP field at all
  const std::size_t comma2 = line.find(',', comma1 + 1);
  const std::string_view dp = line.substr(
      comma1 + 1, comma2 == std::string_view::npos ? std::string_view::npos : comma2 - comma1 - 1);
  if (FieldNumber(dp).failure == Failure::TypeMismatch) return true;
  return fieldsBefore > 0 && FieldCount(line) < fieldsBefore;
}

bool LooksLikeCutTimeField(std::string_view line) {
  bool digit = false;
  for (const char c : line) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c != '.' && c != '-' && c != '+') {
      return false;
    }
  }
  return digit;
}

std::string DescribeCutShort(const CutShortLine& cut) {
  return FileLabel(cut.file) + ", line " + std::to_string(cut.line) + ": the last data line (" +
         Quoted(cut.text) + ") is cut short and was left out";
}

DataLine& DataTail::NextSlot() {
  if (++newest_ == static_cast<int>(lines_.size())) newest_ = 0;
  if (count_ < static_cast<int>(lines_.size())) ++count_;
  otherAfterLast_ = false;
  return lines_[static_cast<std::size_t>(newest_)];
}

void DataTail::Add(std::string_view line, long long lineNumber, FilePlace file) {
  DataLine& slot = NextSlot();
  // Lines of a file are mostly of one length: resizing is then free, and the copy
  // a plain one.
  if (slot.text.size() != line.size()) slot.text.resize(line.size());
  if (!line.empty()) std::memcpy(slot.text.data(), line.data(), line.size());
  slot.line = lineNumber;
  slot.file = file;
}

void DataTail::Take(std::string& line, long long lineNumber, FilePlace file) {
  DataLine& slot = NextSlot();
  slot.text.swap(line);
  slot.line = lineNumber;
  slot.file = file;
}

void DataTail::TakeEarlier(const DataTail& earlier) {
  const int n = static_cast<int>(lines_.size());
  if (count_ == 0) {
    const bool other = otherAfterLast_ || earlier.otherAfterLast_;
    *this = earlier;
    otherAfterLast_ = other;
    return;
  }
  // Oldest first: as many of the earlier lines as there is room for, then these.
  std::array<DataLine, 3> merged;
  int total = 0;
  const int fromEarlier = std::min(earlier.count_, n - count_);
  for (int k = fromEarlier - 1; k >= 0; --k)
    merged[static_cast<std::size_t>(total++)] =
        earlier.lines_[static_cast<std::size_t>((earlier.newest_ - k + n) % n)];
  for (int k = count_ - 1; k >= 0; --k)
    merged[static_cast<std::size_t>(total++)] =
        std::move(lines_[static_cast<std::size_t>((newest_ - k + n) % n)]);
  lines_ = std::move(merged);
  count_ = total;
  newest_ = total - 1;
}

const DataLine& DataTail::last() const { return lines_[static_cast<std::size_t>(newest_)]; }

const DataLine& DataTail::previous() const {
  const int n = static_cast<int>(lines_.size());
  return lines_[static_cast<std::size_t>((newest_ + n - 1) % n)];
}

bool DataTail::lastCutShort() const {
  if (count_ == 0 || otherAfterLast_) return false;
  return LooksCutShort(last().text, count_ >= 2 ? FieldCount(previous().text) : 0);
}

void DataTail::DropLast() {
  if (count_ == 0) return;
  const int n = static_cast<int>(lines_.size());
  newest_ = (newest_ + n - 1) % n;
  --count_;
  otherAfterLast_ = true;  // the line left out still stood after the new last one
}

Checked<std::int32_t> DataTail::StepHundredths() const {
  Checked<double> seconds =
      TestedDifference(LeadingValue(last().text), LeadingValue(previous().text));
  // The range in whole seconds is the 16-bit one files and their readers have always had.
  if (!seconds || !RoundToInt16(seconds.value)) return Failure::Overflow;
  return RoundToInt32(seconds.value * 100.0);
}

Checked<std::int64_t> DataTail::LastTimeHundredths() const {
  const double seconds = LeadingValue(last().text);
  // Likewise the 32-bit range of whole seconds.
  if (!RoundToInt32(seconds)) return Failure::Overflow;
  return RoundToInt64(seconds * 100.0);
}

double DataTail::LastDp() const {
  const std::string& text = last().text;
  const std::size_t comma = text.find(',');
  return comma == std::string::npos ? 0.0 : LeadingValue(std::string_view(text).substr(comma + 1));
}

}  // namespace tandemo
