// What an ITC file's header and data say about the titration it holds. A header
// of the usual form starts "$ITC", announces its injections on line 2 ("$ 26 ")
// and gives one "$" line per injection from line 11 on ("$ 10 , 20 , 600 , 2 ").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "failure.hpp"

namespace tandemo {

// A number as the file writes it: the value for comparing, the text for showing.
struct FactValue {
  double number = 0.0;
  std::string text;
};

struct FileFacts {
  bool scanned = false;                  // false for a pipe or device, which can be read only once
  bool usualForm = false;
  std::string formProblem;               // why the header is not of the usual form
  std::int32_t announced = 0;            // injections announced on line 2
  std::string countPrefix;               // line 2 before its number ("$ ")
  std::string countSuffix;               // line 2 after its number (" ")
  std::vector<std::string> injectionLines;  // lines 11 .. 10 + announced

  std::optional<FactValue> temperature;           // line 4, target temperature
  std::optional<FactValue> syringeConcentration;  // 2nd "#" line after the injection lines, mM
  std::optional<FactValue> cellVolume;            // 4th "#" line after the injection lines, mL
  std::optional<std::string> instrument;          // "%" line naming the software and version
  std::optional<double> timeStep;                 // from the last two data lines

  long long injectionMarkers = 0;  // marker lines with a comma: what a join appends (Whole only)
};

// How much of a file a scan reads: its header and its last data lines are enough
// to compare files; counting the injections a join appends takes the whole file.
enum class ScanDepth { HeaderAndTail, Whole };

// Fails only when the file cannot be opened or read. A pipe or device is left
// unread (`scanned` false) so that the merge still gets its bytes.
std::optional<MergeError> ScanFile(const std::string& path, FilePlace place, FileFacts& facts,
                                   ScanDepth depth = ScanDepth::Whole);

// The header of a merged file that lists every injection: line 2 with the total,
// and the appended files' "$" lines after the first file's own.
struct HeaderPlan {
  std::int32_t total = 0;  // injections of the merged file
  std::string countLine;
  long long insertAfterLine = 0;  // line of the first file after which `inserted` follows
  std::vector<std::string> inserted;
};

// Refuses headers not of the usual form, and files whose header announces fewer
// injections than a join appends from them. facts[0] is the first file.
std::optional<MergeError> PlanHeader(const std::vector<FileFacts>& facts, HeaderPlan& plan);

}  // namespace tandemo
