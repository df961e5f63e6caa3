// The trace and the heats fed with what the merge really writes: a generated
// two-portion titration joined with and without compensation. Until the merge
// hands its lines over, the merged file is read back and each line given the
// portion it came from by counting: the first file's non-empty lines, then the rest.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "itcgen.hpp"
#include "merge/heats.hpp"
#include "merge/line_io.hpp"
#include "merge/merge_run.hpp"
#include "merge/trace.hpp"
#include "test_support.hpp"

namespace tandemo {
namespace {

struct Merged {
  Trace trace;
  float offset = 0.0f;
};

std::vector<std::string> LinesOf(const std::string& path) {
  std::vector<std::string> lines;
  LineReader reader;
  EXPECT_TRUE(reader.Open(path)) << path;
  std::string_view line;
  while (reader.Next(line) == LineReader::Status::Line) lines.emplace_back(line);
  return lines;
}

class MergedTitration : public testing::Test {
 protected:
  void SetUp() override {
    itcgen::StringSink first, second;
    itcgen::WritePair(settings_, first, second);
    test::WriteFile(dir_ / "first.itc", first.text);
    test::WriteFile(dir_ / "second.itc", second.text);
  }

  Merged Merge(bool compensate) {
    MergeOutcome outcome =
        RunMerge(dir_ / "first.itc", dir_ / "second.itc", dir_ / "merged.itc", compensate);
    EXPECT_TRUE(outcome.ok()) << outcome.error->Message();
    std::size_t firstLines = 0;
    for (const std::string& line : LinesOf(dir_ / "first.itc"))
      firstLines += line.empty() ? 0u : 1u;
    TraceBuilder builder;
    const std::vector<std::string> merged = LinesOf(dir_ / "merged.itc");
    for (std::size_t i = 0; i < merged.size(); ++i) builder.Put(merged[i], i < firstLines ? 0 : 1);
    const RewriteReport& join = outcome.summary.joins.at(0);
    builder.SetJoin(1, join.offsetTaken ? std::optional<float>(join.dpOffset) : std::nullopt,
                    compensate);
    return Merged{builder.Finish(), join.dpOffset};
  }

  itcgen::TitrationSettings settings_;  // 10 + 8 injections, 5 s step, 0.35 µcal/s reload offset
  test::TempDir dir_;
};

TEST_F(MergedTitration, TraceRunsOnAcrossTheJoin) {
  const Merged m = Merge(true);
  const Trace& trace = m.trace;
  ASSERT_EQ(trace.injections.size(), 18u);
  for (std::size_t i = 0; i < 18; ++i) {
    EXPECT_EQ(trace.injections[i].number, static_cast<std::int64_t>(i) + 1);
    EXPECT_EQ(trace.injections[i].portion, i < 10 ? 0u : 1u);
  }
  ASSERT_EQ(trace.joins.size(), 1u);
  const std::span<const TracePoint> before = trace.PortionPoints(0), after = trace.PortionPoints(1);
  ASSERT_FALSE(before.empty());
  ASSERT_FALSE(after.empty());
  // Retimed: the second portion starts one time step after the first ends.
  EXPECT_EQ(trace.joins[0].time, before.back().time + settings_.timeStep);
  EXPECT_EQ(trace.injections[10].time, trace.joins[0].time);
  EXPECT_EQ(trace.joins[0].offset, m.offset);
  EXPECT_TRUE(trace.joins[0].compensated);

  // Taking the offset off again gives what the second file holds, within the six
  // decimals the merge writes and the 32-bit offset.
  const Merged off = Merge(false);
  const std::vector<TracePoint> uncompensated = UncompensatedPoints(trace, 1);
  const std::span<const TracePoint> asRead = off.trace.PortionPoints(1);
  ASSERT_EQ(uncompensated.size(), asRead.size());
  for (std::size_t k = 0; k < asRead.size(); ++k) {
    ASSERT_NEAR(uncompensated[k].dp, asRead[k].dp, 1e-5) << "point " << k;
    ASSERT_EQ(uncompensated[k].time, asRead[k].time);
  }
}

// The isotherm of this binding titration falls in size through the join when the
// baseline runs on; without compensation the step in the baseline lands in the
// first appended injection's heat and turns its sign.
TEST_F(MergedTitration, HeatsShowWhetherTheBaselineRunsOn) {
  const CellContents cell{settings_.syringeConcentration, settings_.cellConcentration,
                          settings_.cellVolume};
  const std::vector<InjectionHeat> on = IntegrateHeats(Merge(true).trace, cell);
  ASSERT_EQ(on.size(), 18u);
  for (std::size_t i = 9; i <= 11; ++i)
    ASSERT_TRUE(on[i].heat && *on[i].heat < 0) << "injection " << i + 1;
  EXPECT_GT(std::fabs(*on[9].heat), std::fabs(*on[10].heat));
  EXPECT_GT(std::fabs(*on[10].heat), std::fabs(*on[11].heat));
  EXPECT_GT(*on[10].molarRatio, *on[9].molarRatio);  // the injected volume counts on

  const std::vector<InjectionHeat> off = IntegrateHeats(Merge(false).trace, cell);
  ASSERT_EQ(off.size(), 18u);
  EXPECT_GT(*off[10].heat, 0.0);
  EXPECT_NEAR(*off[11].heat, *on[11].heat, 1e-3);  // past the join the baseline is its own again
}

}  // namespace
}  // namespace tandemo
