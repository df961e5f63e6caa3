// One look at the files to be merged, before anything is written: what each file
// says about its titration, whether they belong to one titration, and what cannot
// be merged at all. Each file's header, baseline and tail are read, not its whole
// data; both front ends show what this finds, worded here once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "failure.hpp"
#include "itc_header.hpp"
#include "platform.hpp"

namespace tandemo {

// Which file a path names, and how it was when inspected: the merge reads it
// again and refuses a file that has changed meanwhile.
struct FileIdentity {
  std::uint64_t device = 0;  // the device, or the volume's serial number
  std::uint64_t index = 0;   // the inode, or the file index on that volume
  std::uint64_t size = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;

  static FileIdentity Of(const platform::FileStatus& status) {
    return FileIdentity{status.device, status.index, status.size, status.modifiedSeconds,
                        status.modifiedNanoseconds};
  }
  bool SameFile(const FileIdentity& other) const {
    return device == other.device && index == other.index;
  }
  bool Unchanged(const FileIdentity& other) const {
    return SameFile(other) && size == other.size && modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds;
  }
};

enum class LineEnd { None, CrLf, Lf, Cr, Mixed };

struct FileFacts {
  std::string path;
  bool inspected = false;  // false for a pipe or device, which can be read only once
  FileIdentity identity;
  HeaderFacts header;
  LineEnd lineEnd = LineEnd::None;  // of the file's first 64 KiB

  std::optional<FactValue>
      timeStep;  // from the last two data lines, shown as the time stamps give it
  std::optional<FactValue> previousTime;  // the time stamp of the data line before the last
  std::optional<FactValue> lastTime;      // the last data line's time stamp and DP
  std::optional<FactValue> lastDp;
  long long lastDataLine = 0;           // its line number; 0 when only the tail was read
  std::optional<FactValue> baselineDp;  // the last line of the baseline after the first marker line
  // Injections performed: the number of the last marker line with a comma, 0 when
  // there is none. What a join appends from the file, and what it has done.
  std::optional<std::int32_t> injectionsPerformed;
  bool hasInjection = false;  // a marker line with a comma, whatever its number
};

// One difference between files that may not belong to one titration, worded
// for the user: "target temperature: 25 in the first file, 30 in the second file".
struct Difference {
  std::string label;  // "target temperature"
  std::string text;
  FilePlace later;
};

struct Inspection {
  std::vector<FileFacts> files;  // in the order of the inputs
  // A reason no merge of these files is possible, whatever the options: a file
  // that cannot be read, the same run twice, no time step, nothing to append.
  std::optional<MergeError> failure;
  std::vector<Difference> differences;   // stop a merge unless it is forced
  std::vector<std::string> notes;        // mismatches that do not stop a merge
  std::vector<std::string> notCompared;  // what could not be compared, and why

  bool agrees() const { return differences.empty(); }
  std::uint64_t BytesTotal() const;

  // The input that `outputPath` names (by path, or the same file by device and
  // inode, through symbolic links), as its index; nothing when none.
  std::optional<std::size_t> InputAt(const std::string& outputPath) const;
};

Inspection Inspect(const std::vector<std::string>& inputs);

// "Files differ (1004): these files may not belong to one titration; nothing was
// written" followed by one indented line per difference.
MergeError DifferencesRefusal(const Inspection& inspection);

// "Output is an input (1007): output file: "out.itc" is the first input file; nothing was written"
MergeError OutputIsInputRefusal(std::size_t inputIndex, const std::string& outputPath);

// "the first input file", for a question such as "The output file is the first input file."
std::string InputRole(std::size_t inputIndex);

// "No injection (1006): second file: no injection to append; is it an ITC data file? ("b.itc")"
MergeError NoInjectionFailure(FilePlace place, const std::string& path);

// "Input changed (1008): second file: the second file changed while it was read ("b.itc"); ..."
MergeError InputChangedFailure(FilePlace place, const std::string& path);

// The header of a merged file that lists every injection performed: line 2 with
// the total, the first file's "$" lines of the injections it performed, then each
// later file's lines of the injections appended from it.
struct HeaderPlan {
  std::int32_t total = 0;          // injections of the merged file
  std::int32_t plannedNotRun = 0;  // the first file's announced injections that never ran
  std::string countLine;
  long long skipFromLine = 0;          // the first file's lines skipFromLine .. insertAfterLine
  long long insertAfterLine = 0;       // are plan lines never run; `inserted` follows them
  std::vector<std::string> inserted;   // later files' injection lines
  std::vector<std::int32_t> appended;  // injections each later file is to give
};

// Refuses headers not of the usual form, and files that performed more injections
// than their header lists.
std::optional<MergeError> PlanHeader(const Inspection& inspection, HeaderPlan& plan);

}  // namespace tandemo
