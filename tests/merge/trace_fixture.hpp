// Traces for the trace and heat tests: built from lines written in the test, or
// from a real instrument file read as the first portion of a merge.
#pragma once

#include <charconv>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "merge/line_io.hpp"
#include "merge/trace.hpp"
#include "test_support.hpp"

namespace tandemo::test {

// A portion's lines as the merge writes them.
struct PortionLines {
  std::vector<std::string> lines;
  std::optional<float> offset;  // what the merge reports for its join (appended portions)
  bool compensated = false;
};

inline Trace TraceOf(const std::vector<PortionLines>& portions) {
  TraceBuilder builder;
  for (std::size_t p = 0; p < portions.size(); ++p) {
    long long lineNo = 0;
    for (const std::string& line : portions[p].lines) builder.Put(line, p, ++lineNo);
    if (p > 0) builder.SetJoin(p, portions[p].offset, portions[p].compensated);
  }
  return builder.Finish();
}

inline std::string SamplePath(std::string_view name) {
  return std::string(TANDEMO_SAMPLES_DIR) + "/" + std::string(name);
}

// The real file read line by line, as the merge copies a first file; nothing
// when the samples are absent.
inline std::optional<Trace> SampleTrace(std::string_view name) {
  const std::string path = SamplePath(name);
  if (!std::filesystem::exists(path)) return std::nullopt;
  LineReader reader;
  if (!reader.Open(path)) return std::nullopt;
  TraceBuilder builder;
  std::string_view line;
  while (reader.Next(line) == LineReader::Status::Line) builder.Put(line, 0, reader.LineNumber());
  return builder.Finish();
}

// A data line "time,DP,25.0": the third field as instruments write further channels.
inline std::string DataLine(double time, double dp) {
  char buf[80];
  char* end = std::to_chars(buf, buf + 32, time).ptr;
  *end++ = ',';
  end = std::to_chars(end, buf + 72, dp).ptr;
  return std::string(buf, end) + ",25.0";
}

}  // namespace tandemo::test
