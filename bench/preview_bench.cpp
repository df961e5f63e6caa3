// tandemo-preview-bench: the time the preview's engine work takes on real or
// generated files: trace, heats and the reduction for drawing.
//
// With two or more inputs it merges them first (with compensation, into a scratch
// file beside nothing of the user's: the system's temporary folder) and feeds the
// merged lines to the trace, each with the portion it came from, as the merge will
// once it hands its lines over. With one input, that file is the first portion.
// It reports figures only; nothing here judges them.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "merge/heats.hpp"
#include "merge/line_io.hpp"
#include "merge/merge_run.hpp"
#include "merge/trace.hpp"

namespace {

using tandemo::CellContents;
using tandemo::IntegrateHeats;
using tandemo::ReduceTrace;
using tandemo::Trace;
using tandemo::TraceBuilder;

constexpr std::string_view kUsage =
    "Usage: tandemo-preview-bench [--repeat R] [--points N] FILE [FILE]...\n"
    "\n"
    "  --repeat R   runs (default 5); the median is reported\n"
    "  --points N   points per portion kept for drawing (default 2000)\n"
    "  FILE...      one file: read as the first portion; more: merged with\n"
    "               compensation first, and the merged lines traced\n";

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

bool ReadNumber(std::string_view text, std::size_t& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc{} && ptr == text.data() + text.size() && out > 0;
}

// Lines a merged file holds from each portion: the first file's non-empty lines,
// then, for each join, its injection marker lines and data lines (what the merge
// writes of a file whose data sections hold no other lines).
std::vector<long long> PortionLineCounts(const std::string& first,
                                         const tandemo::MergeSummary& summary) {
  std::vector<long long> counts;
  tandemo::LineReader reader;
  long long nonEmpty = 0;
  if (reader.Open(first)) {
    std::string_view line;
    while (reader.Next(line) == tandemo::LineReader::Status::Line) nonEmpty += line.empty() ? 0 : 1;
  }
  counts.push_back(nonEmpty);
  for (const tandemo::RewriteReport& r : summary.joins)
    counts.push_back(r.injectionsAppended + r.dataLinesAppended);
  return counts;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t repeat = 5, points = 2000;
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if ((arg == "--repeat" || arg == "--points") && i + 1 < argc) {
      if (!ReadNumber(argv[++i], arg == "--repeat" ? repeat : points)) {
        std::fprintf(stderr, "tandemo-preview-bench: %s wants a whole number above 0\n%s",
                     argv[i - 1], kUsage.data());
        return 2;
      }
    } else if (arg == "--help") {
      std::fputs(kUsage.data(), stdout);
      return 0;
    } else if (!arg.empty() && arg.front() == '-') {
      std::fprintf(stderr, "tandemo-preview-bench: unknown option %s\n%s", argv[i], kUsage.data());
      return 2;
    } else {
      inputs.emplace_back(arg);
    }
  }
  if (inputs.empty()) {
    std::fputs(kUsage.data(), stderr);
    return 2;
  }

  std::string traced = inputs.front();
  std::vector<long long> portionLines = {-1};  // one input: every line is the first portion's
  std::optional<std::filesystem::path> scratch;
  double mergeSeconds = 0.0;
  if (inputs.size() > 1) {
    scratch = std::filesystem::temp_directory_path() /
              ("tandemo-preview-bench-" + std::to_string(std::random_device{}()) + ".itc");
    const auto start = std::chrono::steady_clock::now();
    tandemo::MergeRequest request;
    request.inputs = inputs;
    request.output = scratch->string();
    request.options.compensate = true;
    request.options.force = true;  // a benchmark times the merge of whatever it is given
    tandemo::MergeOutcome outcome = tandemo::RunMerge(request, tandemo::Inspect(request.inputs));
    mergeSeconds = Seconds(std::chrono::steady_clock::now() - start);
    if (!outcome.ok()) {
      std::fprintf(stderr, "tandemo-preview-bench: %s\n", outcome.error->Message().c_str());
      return 1;
    }
    traced = scratch->string();
    portionLines = PortionLineCounts(inputs.front(), outcome.summary);
  }

  // The merged text in memory: the merge has it line by line anyway, so reading
  // it is not the preview's cost.
  std::string text;
  {
    std::ifstream in(traced, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
  }
  if (scratch) std::filesystem::remove(*scratch);

  std::vector<double> traceTimes, heatTimes, reduceTimes;
  Trace trace;
  std::size_t injections = 0;
  for (std::size_t run = 0; run < repeat; ++run) {
    auto t0 = std::chrono::steady_clock::now();
    TraceBuilder builder;
    std::size_t portion = 0;
    long long left = portionLines[0];
    std::size_t start = 0;
    while (start < text.size()) {
      // Lines end in LF or CR LF (every real and generated file does; a lone CR does not occur).
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string_view line(text.data() + start, end - start);
      start = end + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.empty()) continue;
      while (left == 0 && portion + 1 < portionLines.size()) left = portionLines[++portion];
      builder.Put(line, portion);
      --left;
    }
    for (std::size_t p = 1; p < portionLines.size(); ++p) builder.SetJoin(p, 0.0f, true);
    trace = builder.Finish();
    auto t1 = std::chrono::steady_clock::now();
    const std::vector<tandemo::InjectionHeat> heats =
        IntegrateHeats(trace, CellContents{0.5, 0.05, 0.2});
    auto t2 = std::chrono::steady_clock::now();
    const std::vector<tandemo::ReducedPortion> reduced = ReduceTrace(trace, points);
    auto t3 = std::chrono::steady_clock::now();
    injections = heats.size();
    traceTimes.push_back(Seconds(t1 - t0));
    heatTimes.push_back(Seconds(t2 - t1));
    reduceTimes.push_back(Seconds(t3 - t2));
  }

  const double total = Median(traceTimes) + Median(heatTimes) + Median(reduceTimes);
  std::printf("input: %zu file(s), %.1f MB traced, %zu data lines, %zu portions, %zu injections\n",
              inputs.size(), static_cast<double>(text.size()) / 1e6, trace.points.size(),
              trace.portions.size(), injections);
  for (std::size_t p = 0; p < trace.portions.size(); ++p)
    std::printf("  portion %zu: %zu data lines\n", p + 1, trace.PortionPoints(p).size());
  if (inputs.size() > 1)
    std::printf("merge to a scratch file (not part of the preview): %.3f s\n", mergeSeconds);
  std::printf("median of %zu runs:\n", repeat);
  std::printf("  trace (lines in memory -> points, marks, joins)  %10.3f ms\n",
              Median(traceTimes) * 1e3);
  std::printf("  heats                                            %10.3f ms\n",
              Median(heatTimes) * 1e3);
  std::printf("  reduction to %zu points per portion            %10.3f ms\n", points,
              Median(reduceTimes) * 1e3);
  std::printf("  total                                            %10.3f ms\n", total * 1e3);
  return 0;
}
