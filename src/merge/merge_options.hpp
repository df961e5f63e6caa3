// How a merge is to run: what it changes, whether differences stop it, and how a
// front end running it on a worker thread follows it and stops it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "failure.hpp"

namespace tandemo {

struct MergeOptions {
  bool compensate = false;    // shift each appended file's DP onto the merged file's last DP
  bool updateHeader = false;  // make the header announce and list every injection
  bool force = false;         // merge even files the inspection found to differ
  // Called now and then with the input bytes read so far, and once at the end.
  std::function<void(std::uint64_t bytesRead, std::uint64_t bytesTotal)> progress;
  // Looked at between lines; once it is true the merge stops and writes nothing.
  const std::atomic<bool>* cancel = nullptr;
};

// Kept by the merge while it reads: reports progress about every 1 % of the input
// (at least 1 MiB apart) and tells when the merge is to stop.
class MergeProgress {
 public:
  MergeProgress(const MergeOptions& options, std::uint64_t bytesTotal);

  // The next file starts after `bytesBefore` bytes of input.
  void BeginFile(std::uint64_t bytesBefore) { base_ = bytesBefore; }

  // After each line; `offsetInFile` is where the file is read up to. True when
  // the merge is to stop.
  bool Stop(std::uint64_t offsetInFile) {
    if (cancel_ != nullptr && cancel_->load(std::memory_order_relaxed)) return true;
    if (report_ && base_ + offsetInFile >= next_) Report(base_ + offsetInFile);
    return false;
  }

  void Finish();  // every byte read: the last report

  // "Cancelled (1009): the merge was cancelled; nothing was written"
  static MergeError Cancelled();

 private:
  void Report(std::uint64_t bytesRead);

  const std::function<void(std::uint64_t, std::uint64_t)>& progress_;
  const std::atomic<bool>* cancel_;
  bool report_;
  std::uint64_t total_;
  std::uint64_t stride_;
  std::uint64_t base_ = 0;
  std::uint64_t next_ = 0;
};

}  // namespace tandemo
