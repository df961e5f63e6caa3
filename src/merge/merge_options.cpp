#include "merge_options.hpp"

#include <algorithm>

namespace tandemo {
namespace {
constexpr std::uint64_t kLeastStride =
    1 << 20;  // a call per MiB at most: a window repaints no faster
}

MergeProgress::MergeProgress(const MergeOptions& options, std::uint64_t bytesTotal)
    : progress_(options.progress),
      cancel_(options.cancel),
      report_(static_cast<bool>(options.progress)),
      total_(bytesTotal),
      stride_(std::max(kLeastStride, bytesTotal / 100)) {
  if (report_) Report(0);
}

void MergeProgress::Report(std::uint64_t bytesRead) {
  progress_(std::min(bytesRead, total_), total_);
  next_ = bytesRead + stride_;
}

void MergeProgress::Finish() {
  if (report_) progress_(total_, total_);
}

MergeError MergeProgress::Cancelled() {
  return MergeError{ErrorCode::Cancelled, FilePlace::None(), 0,
                    "the merge was cancelled; nothing was written"};
}

}  // namespace tandemo
