// Do these files belong to one titration? Compares what the headers and the data
// of the later portions say with what the first file says.
#pragma once

#include <string>
#include <vector>

#include "failure.hpp"
#include "itc_header.hpp"

namespace tandemo {

struct Difference {
  std::string what;        // "target temperature"
  std::string firstValue;  // as the first file writes it
  std::string laterValue;  // as the later file writes it
  FilePlace later;
};

struct Comparison {
  std::vector<Difference> differences;
  std::vector<std::string> notCompared;  // what could not be compared, and why

  bool agrees() const { return differences.empty(); }
};

// Only values that both files hold are compared; numbers as numbers.
void CompareFacts(const FileFacts& first, const FileFacts& later, FilePlace laterPlace,
                  Comparison& out);
Comparison CompareAll(const std::vector<FileFacts>& facts);

// "target temperature: 25 in the first file, 30 in the second file"
std::string DescribeDifference(const Difference& d);

// Scans every input in order; the first failure stops it.
std::optional<MergeError> ScanInputs(const std::vector<std::string>& inputs,
                                     std::vector<FileFacts>& facts,
                                     ScanDepth depth = ScanDepth::HeaderAndTail);

}  // namespace tandemo
