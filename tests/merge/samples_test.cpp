// Real instrument files, cut into the two portions a two-portion titration gives:
// the merge must rebuild the original's injection numbering, time axis and marker
// start times, and
// with compensation carry the second portion's baseline on from the first's.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "merge/merge_run.hpp"
#include "test_support.hpp"

namespace tandemo {
namespace {

using test::SplitLines;
using test::TempDir;

struct Sample {
  std::string file;
  int cutAt;  // the injection with which the second portion begins
};
std::ostream& operator<<(std::ostream& os, const Sample& s) {
  return os << s.file << " cut at @" << s.cutAt;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t at; (at = line.find(',', start)) != std::string::npos; start = at + 1)
    fields.push_back(line.substr(start, at - start));
  fields.push_back(line.substr(start));
  return fields;
}

std::string Join(const std::vector<std::string>& fields) {
  std::string s;
  for (std::size_t i = 0; i < fields.size(); ++i) s += (i ? "," : "") + fields[i];
  return s;
}

double Number(const std::string& text) {
  double v = 0;
  std::from_chars(text.data(), text.data() + text.size(), v);
  return v;
}

// A DP value raised by the drift between the two runs, written as the instrument writes it.
std::string Shifted(const std::string& dp, double delta) {
  char buf[64];
  const std::size_t point = dp.find('.');
  const int decimals = point == std::string::npos ? 0 : static_cast<int>(dp.size() - point - 1);
  auto r =
      std::to_chars(buf, buf + sizeof buf, Number(dp) + delta, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

constexpr double kDrift = 0.25;  // the second run's DP sits this much higher
constexpr std::size_t kBaselineLines = 5;

class SampleTest : public testing::TestWithParam<Sample> {};

TEST_P(SampleTest, TwoPortionsRebuildTheOriginal) {
  const Sample& s = GetParam();
  const std::string path = std::string(TANDEMO_SAMPLES_DIR) + "/" + s.file;
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "real files not present at " << path;
  const std::string original = test::ReadFile(path).value_or("");
  const std::string eol = original.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::vector<std::string> lines = SplitLines(original);

  std::size_t firstMarker = 0;
  while (firstMarker < lines.size() && lines[firstMarker][0] != '@') ++firstMarker;
  std::size_t cut = firstMarker;
  while (cut < lines.size() && lines[cut].rfind("@" + std::to_string(s.cutAt) + ",", 0) != 0) ++cut;
  ASSERT_LT(cut, lines.size()) << "no injection " << s.cutAt;
  const int step =
      static_cast<int>(Number(lines[firstMarker + 2]) - Number(lines[firstMarker + 1]));
  ASSERT_GT(step, 0);

  // First portion: the original's bytes up to the cut, exactly as the instrument wrote them.
  std::size_t cutOffset = 0;
  for (std::size_t i = 0; i < cut; ++i) cutOffset += lines[i].size() + eol.size();
  const std::string firstPortion = original.substr(0, cutOffset);

  // Second portion: the same header, "@0" and a baseline (the last data lines before
  // the cut, as the new run sees them), then the later injections numbered from 1;
  // time stamps restart and every DP carries the drift.
  std::vector<std::string> second(lines.begin(), lines.begin() + static_cast<long>(firstMarker));
  second.push_back("@0");
  std::vector<std::size_t> baseline;
  for (std::size_t i = cut; baseline.size() < kBaselineLines && i-- > firstMarker;) {
    if (lines[i][0] != '@') baseline.insert(baseline.begin(), i);
  }
  int t = 0;
  auto retimed = [&](const std::string& line) {
    std::vector<std::string> f = Split(line);
    t += step;
    f[0] = std::to_string(t) + ".00";
    f[1] = Shifted(f[1], kDrift);
    return Join(f);
  };
  for (std::size_t i : baseline) second.push_back(retimed(lines[i]));
  // The second run's clock started this much later; its marker lines' start times say so.
  const double clockStart = Number(lines[cut + 1]) - (t + step);
  for (std::size_t i = cut; i < lines.size(); ++i) {
    if (lines[i][0] == '@') {
      const std::string marker = test::WithStartTimeMoved(lines[i], -clockStart);
      const std::size_t comma = marker.find(',');
      const int n = std::stoi(marker.substr(1, comma - 1));
      second.push_back("@" + std::to_string(n - (s.cutAt - 1)) + marker.substr(comma));
    } else {
      second.push_back(retimed(lines[i]));
    }
  }

  TempDir dir;
  test::WriteFile(dir / "first.itc", firstPortion);
  test::WriteFile(dir / "second.itc", test::Text(second, eol));

  // Without compensation: the original, line for line, but for the drift in the DP field;
  // marker lines, start times included, exactly as the original has them.
  MergeOutcome off = RunMerge(dir / "first.itc", dir / "second.itc", dir / "off.itc", false);
  ASSERT_TRUE(off.ok()) << off.error->Message();
  std::vector<std::string> expected(lines.begin(), lines.begin() + static_cast<long>(cut));
  for (std::size_t i = cut; i < lines.size(); ++i) {
    if (lines[i][0] == '@') {
      expected.push_back(lines[i]);
    } else {
      std::vector<std::string> f = Split(lines[i]);
      f[1] = Shifted(f[1], kDrift);
      expected.push_back(Join(f));
    }
  }
  const std::string offBytes = test::ReadFile(dir / "off.itc").value_or("");
  EXPECT_EQ(offBytes, test::Text(expected));

  // With compensation: the drift is taken off again, so every DP is the original's
  // within the precision of the 32-bit offset and the six written decimals.
  MergeOutcome on = RunMerge(dir / "first.itc", dir / "second.itc", dir / "on.itc", true);
  ASSERT_TRUE(on.ok()) << on.error->Message();
  ASSERT_EQ(on.summary.joins.size(), 1u);
  EXPECT_NEAR(on.summary.joins[0].dpOffset, kDrift, 1e-5);
  const std::vector<std::string> merged = SplitLines(test::ReadFile(dir / "on.itc").value_or(""));
  ASSERT_EQ(merged.size(), lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i < cut || lines[i][0] == '@') {
      EXPECT_EQ(merged[i], lines[i]) << "line " << i + 1;
      continue;
    }
    std::vector<std::string> got = Split(merged[i]);
    std::vector<std::string> want = Split(lines[i]);
    ASSERT_EQ(got.size(), want.size()) << "line " << i + 1;
    EXPECT_NEAR(Number(got[1]), Number(want[1]), 5e-6) << "line " << i + 1 << ": " << merged[i];
    got[1] = want[1];
    EXPECT_EQ(got, want) << "line " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(RealFiles, SampleTest,
                         testing::Values(Sample{"PIIE09trypsin2502111.itc", 6},  // CR LF, 5 s step
                                         Sample{"102612c24.itc", 1},     // CR LF, one injection
                                         Sample{"sample2.itc", 7},       // LF only
                                         Sample{"20191018a5.itc", 5},    // newest, start times
                                         Sample{"Mg1EDTAp1a.itc", 12}),  // two marker fields
                         [](const testing::TestParamInfo<Sample>& p) {
                           return test::FileCaseName(p.param.file) + "_CutAt" +
                                  std::to_string(p.param.cutAt);
                         });
}  // namespace
}  // namespace tandemo
