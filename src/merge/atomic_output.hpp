// The output file is built in a scratch file beside it and then renamed over it
// in one step, so a failed merge leaves the output byte for byte as it was and a
// reader never sees half a file. The system calls of this live in the platform's
// own file (platform_posix.cpp, platform_windows.cpp); what to do when is here.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "failure.hpp"
#include "platform.hpp"

namespace tandemo {

class AtomicOutput {
 public:
  AtomicOutput() = default;
  ~AtomicOutput();  // removes the scratch file unless Commit() succeeded
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  // Finds the file the output path names, from an open handle of its folder, and
  // creates a uniquely named scratch file there, private (mode 0600) while it is
  // written. A symbolic link at the output path is followed only where the system
  // would follow it: in a sticky folder that anyone may write to, only a link of
  // the runner's own or of the folder's owner. An existing file whose owner or
  // group the runner cannot keep (another user's file) is refused unless `force`.
  // Scratch files left by merges that were killed are removed first.
  std::optional<MergeError> Begin(const std::string& outputPath, bool force = false);

  int fd() const { return fd_; }
  // Where the scratch file is, for messages and tests.
  std::string scratchPath() const;

  // Flushes the scratch file to disk; gives it the replaced file's owner, group,
  // permission bits, access control list and user attributes (a new file: the
  // mode a new file gets here); renames it over the target.
  std::optional<MergeError> Commit();

  // Removes the scratch file now; Commit() is no longer possible.
  void Abandon();

 private:
  MergeError Fail(int err, std::string what) const;
  std::string TargetShown() const;

  std::unique_ptr<platform::OutputFolder> folder_;
  int fd_ = -1;  // the scratch file, open for writing
  std::string scratchName_;
};

// Removes the scratch file of a merge under way, if any. Async-signal-safe: a
// front end calls it from its handlers of terminating signals.
void RemovePendingScratchFile() noexcept;

// True once the last output begun has been renamed into place: from then on the
// merge has succeeded whatever happens to the process. Async-signal-safe.
bool OutputReplaced() noexcept;

}  // namespace tandemo
