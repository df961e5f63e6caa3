// The output file is built in a scratch file beside it and then renamed over it
// in one step, so a failed merge leaves the output byte for byte as it was and a
// reader never sees half a file.
#pragma once

#include <optional>
#include <string>

#include "failure.hpp"

namespace tandemo {

class AtomicOutput {
 public:
  AtomicOutput() = default;
  ~AtomicOutput();  // removes the scratch file unless Commit() succeeded
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  // Creates a uniquely named scratch file, exclusively and without following
  // links, in the folder of the file the output path finally names (a symbolic
  // link at the output path is followed, so the link stays and its target is replaced).
  std::optional<MergeError> Begin(const std::string& outputPath);

  int fd() const { return fd_; }
  const std::string& scratchPath() const { return scratch_; }
  const std::string& targetPath() const { return target_; }

  // Flushes the scratch file to disk, gives it the replaced file's permission
  // bits and renames it over the target.
  std::optional<MergeError> Commit();

  // Removes the scratch file now; Commit() is no longer possible.
  void Abandon();

 private:
  MergeError Fail(int err, std::string what) const;

  int fd_ = -1;
  std::string scratch_;
  std::string target_;
  bool targetExists_ = false;
  unsigned targetMode_ = 0;
};

// Removes the scratch file of a merge under way, if any. Async-signal-safe: a
// front end calls it from its SIGINT/SIGTERM handler so an interrupted merge
// leaves nothing behind.
void RemovePendingScratchFile() noexcept;

// The path a chain of symbolic links at `path` finally names; `path` itself
// when it is no link. False with errno set for a loop.
bool ResolveLinks(const std::string& path, std::string& resolved);

}  // namespace tandemo
