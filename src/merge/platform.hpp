// The engine's system calls, one file per platform: platform_posix.cpp and
// platform_windows.cpp, chosen by the build. Paths are UTF-8 here; failures are
// errno values, so that the engine words its messages once for every platform.
// Files are C runtime descriptors on both, so line reading and writing is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "failure.hpp"

namespace tandemo::platform {

// Which file a handle or path leads to, and how it is now.
struct FileStatus {
  bool isRegular = false;
  bool isDirectory = false;
  std::uint64_t device = 0;  // the device, or the volume's serial number
  std::uint64_t index = 0;   // the inode, or the file index on that volume
  std::uint64_t size = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;
};

// Opens an existing file for reading (shared with every other reader and writer);
// 0, or the errno of the failure.
int OpenForReading(const std::string& path, int& fd);
int StatusOf(int fd, FileStatus& status);                       // 0 or errno
int StatusOfPath(const std::string& path, FileStatus& status);  // follows links; 0 or errno
long ReadSome(int fd, char* into, std::size_t size);  // bytes read, 0 at the end, -1 and errno
long ReadSomeAt(int fd, char* into, std::size_t size,
                std::uint64_t offset);                       // as ReadSome, at an offset
bool SeekTo(int fd, std::uint64_t offset);                   // false with errno set
long WriteSome(int fd, const char* from, std::size_t size);  // bytes written, -1 and errno
// Starts writing the bytes at [offset, offset + size) to disk without waiting, so
// that a flush at the end finds little left to do; nothing where that cannot be asked.
void StartWriteback(int fd, std::uint64_t offset, std::uint64_t size) noexcept;
int CloseFile(int fd);  // 0 or errno

// The folder the output goes to and the file there that the output replaces.
// What a platform keeps of a replaced file (owner, mode, access list, attributes)
// and which outputs it refuses, beyond what the engine checks, is its own.
class OutputFolder {
 public:
  OutputFolder();
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Opens the output path's folder and finds the file it names there.
  std::optional<MergeError> Find(const std::string& outputPath);
  // Refuses a target that cannot or may not be replaced; `force` as for the front ends.
  std::optional<MergeError> Examine(bool force);
  bool targetExists() const;
  const std::string& folderShown() const;  // the folder's path, for messages
  const std::string& targetName() const;   // the target's name in it

  // The longest name a folder entry may have here, in bytes.
  std::size_t LongestName() const;
  // Removes scratch files of merges into this folder that were killed: `ownerOf`
  // tells a scratch name's process id (0: no scratch name).
  void RemoveStaleScratchFiles(std::uint64_t (*ownerOf)(const std::string& name)) const;
  // Creates the scratch file exclusively, private to the runner, open for writing,
  // and remembers it for RemovePendingScratch(); 0, EEXIST or another errno.
  int CreateScratch(const std::string& name, int& fd);
  int Flush(int fd) const;  // to disk; 0 or errno
  // Gives the scratch file what the replaced file keeps (a new one: what a new file gets here).
  std::optional<MergeError> GiveTargetsRights(int fd);
  // Puts the closed scratch file in place of the target in one step; 0 or errno.
  int Replace(const std::string& scratchName);
  void Remove(const std::string& scratchName) const;
  void SyncFolder() const;  // makes the replacement itself durable

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Removes the scratch file of the merge under way, if any; async-signal-safe.
void RemovePendingScratch() noexcept;

// Holds off the signals that remove the scratch file while a few steps that
// belong together are taken (a no-op where handlers run on their own thread).
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  alignas(16) unsigned char saved_[128];
};

std::uint64_t CurrentProcessId();

// "folder/name" as shown in messages ("name" in the current folder).
std::string JoinedPath(const std::string& folder, const std::string& name);

// Text of an errno value, the same words on every platform for the values the engine meets.
std::string ErrorText(int err);

}  // namespace tandemo::platform
