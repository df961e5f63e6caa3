// The trace of a merged titration: what the builder collects from the written
// lines, and the reduction for drawing that keeps every bucket's extremes.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "merge/trace.hpp"
#include "trace_fixture.hpp"

namespace tandemo {
namespace {

using test::DataLine;
using test::PortionLines;
using test::TraceOf;

// Two portions as the merge writes them: the first file whole (header lines with
// commas that are no data, "@0" and its baseline, two injections), the second
// from its first injection on, renumbered and retimed, its DP shifted by 0.25.
std::vector<PortionLines> TwoPortions() {
  PortionLines first{
      {"$ITC", "$ 2 ", "$ 2 , 4 , 60 , 2 ", "# 0.5 ", "%-0.5123 , 29.912 ", "@0", DataLine(2, 1.0),
       DataLine(4, 1.5), DataLine(6, 1.0), "@1,2.0000,4.0", DataLine(8, 3.0), DataLine(10, 1.0),
       "@2,2.5,5.0, 9.5 ", DataLine(12, 4.0), DataLine(14, 1.0), ""},
      std::nullopt,
      false};
  PortionLines second{
      {"@3,2.0000,4.0", DataLine(16, 2.0), DataLine(18, 0.75), DataLine(20, 0.5)}, 0.25f, true};
  return {first, second};
}

TEST(TraceBuilder, CollectsPointsMarksAndJoinOfTheWrittenLines) {
  const Trace trace = TraceOf(TwoPortions());

  ASSERT_EQ(trace.points.size(), 10u);  // 3 baseline + 2 + 2 + 3; the header's commas are no data
  ASSERT_EQ(trace.portions.size(), 2u);
  EXPECT_EQ(trace.PortionPoints(0).size(), 7u);
  ASSERT_EQ(trace.PortionPoints(1).size(), 3u);
  EXPECT_EQ(trace.PortionPoints(1).front().time, 16.0);
  EXPECT_EQ(trace.PortionPoints(1).back().dp, 0.5);
  EXPECT_EQ(trace.Baseline().size(), 3u);
  EXPECT_EQ(trace.unreadableLines, 0);

  ASSERT_EQ(trace.injections.size(), 3u);
  struct Expected {
    std::int64_t number;
    std::size_t portion;
    double time;
    double volume;
    double duration;
    std::size_t first, end;
    long long line;
  };
  const Expected expected[] = {{1, 0, 8, 2.0, 4.0, 3, 5, 10},
                               {2, 0, 12, 2.5, 5.0, 5, 7, 13},
                               {3, 1, 16, 2.0, 4.0, 7, 10, 1}};
  for (std::size_t i = 0; i < 3; ++i) {
    const InjectionMark& m = trace.injections[i];
    const Expected& e = expected[i];
    SCOPED_TRACE("injection " + std::to_string(i + 1));
    EXPECT_EQ(m.number, e.number);
    EXPECT_EQ(m.portion, e.portion);
    EXPECT_EQ(m.time, e.time);
    EXPECT_EQ(m.volume, e.volume);
    EXPECT_EQ(m.duration, e.duration);
    EXPECT_EQ(m.firstPoint, e.first);
    EXPECT_EQ(m.endPoint, e.end);
    EXPECT_EQ(m.line, e.line);
  }

  ASSERT_EQ(trace.joins.size(), 1u);
  EXPECT_EQ(trace.joins[0].portion, 1u);
  EXPECT_EQ(trace.joins[0].time, 16.0);
  EXPECT_EQ(trace.joins[0].offset, 0.25f);
  EXPECT_TRUE(trace.joins[0].compensated);

  // Without compensation the appended portion would lie higher by the offset.
  const std::vector<TracePoint> raw = UncompensatedPoints(trace, 1);
  ASSERT_EQ(raw.size(), 3u);
  EXPECT_EQ(raw[0].time, 16.0);
  EXPECT_EQ(raw[0].dp, 2.25);
  EXPECT_EQ(raw[2].dp, 0.75);
  EXPECT_TRUE(UncompensatedPoints(trace, 0).empty());
}

TEST(TraceBuilder, JoinWithoutCompensationOrOffset) {
  std::vector<PortionLines> portions = TwoPortions();
  portions[1].compensated = false;
  Trace trace = TraceOf(portions);
  EXPECT_EQ(trace.joins[0].offset, 0.25f);
  EXPECT_FALSE(trace.joins[0].compensated);
  EXPECT_TRUE(UncompensatedPoints(trace, 1).empty());  // what is written is already uncompensated

  // A join that took no offset cannot be compensated, whatever the caller says.
  portions[1].offset.reset();
  portions[1].compensated = true;
  trace = TraceOf(portions);
  EXPECT_FALSE(trace.joins[0].offset.has_value());
  EXPECT_FALSE(trace.joins[0].compensated);
}

TEST(TraceBuilder, PortionThatWroteNothingStillHasItsJoin) {
  TraceBuilder builder;
  const std::vector<PortionLines> portions = TwoPortions();
  for (const std::string& line : portions[0].lines) builder.Put(line, 0);
  builder.SetJoin(1, 0.5f, true);  // the second file held no injection
  const Trace trace = builder.Finish();
  ASSERT_EQ(trace.portions.size(), 2u);
  EXPECT_TRUE(trace.PortionPoints(1).empty());
  ASSERT_EQ(trace.joins.size(), 1u);
  EXPECT_FALSE(trace.joins[0].time.has_value());
  EXPECT_EQ(trace.joins[0].offset, 0.5f);
}

// The marker line's fields as the instrument generations write them.
struct MarkerCase {
  const char* line;
  std::int64_t number;
  std::optional<double> volume;
  std::optional<double> duration;
};
std::ostream& operator<<(std::ostream& os, const MarkerCase& c) { return os << c.line; }

class MarkerFields : public testing::TestWithParam<MarkerCase> {};

TEST_P(MarkerFields, NumberVolumeAndDuration) {
  const MarkerCase& c = GetParam();
  const Trace trace =
      TraceOf({{{"@0", DataLine(1, 1), c.line, DataLine(2, 1)}, std::nullopt, false}});
  ASSERT_EQ(trace.injections.size(), 1u);
  EXPECT_EQ(trace.injections[0].number, c.number);
  EXPECT_EQ(trace.injections[0].volume, c.volume);
  EXPECT_EQ(trace.injections[0].duration, c.duration);
}

INSTANTIATE_TEST_SUITE_P(
    Generations, MarkerFields,
    testing::Values(MarkerCase{"@1,12.0000", 1, 12.0, std::nullopt},  // large-cell
                    MarkerCase{"@2,0.4000,0.8", 2, 0.4, 0.8},         // older small-volume
                    MarkerCase{"@3,3.0002,6.0, 360.165999999997 ", 3, 3.0002,
                               6.0},                                        // start time too
                    MarkerCase{"@14,", 14, std::nullopt, std::nullopt},     // volume field empty
                    MarkerCase{"@5,abc,x", 5, std::nullopt, std::nullopt},  // not numbers
                    MarkerCase{"@ 7 , 2 ,  ", 7, 2.0, std::nullopt}));      // blanks around

TEST(TraceBuilder, UnreadableDataLinesAreCountedNotDrawn) {
  const Trace trace = TraceOf({{{"$ITC", "@0", DataLine(1, 1), "2.00,abc,25.0", "@1,2", "x,1.5",
                                 DataLine(3, 1), "no comma is no data line"},
                                std::nullopt,
                                false}});
  EXPECT_EQ(trace.points.size(), 2u);
  EXPECT_EQ(trace.unreadableLines, 2);
  EXPECT_EQ(trace.firstUnreadablePortion, 0u);
  EXPECT_EQ(trace.firstUnreadableLine, 4);
  EXPECT_EQ(trace.injections[0].time, 3.0);  // the first readable data line after the marker
}

TEST(TraceBuilder, MarkerAtTheEndHasNoTimeAndNoInterval) {
  const Trace trace =
      TraceOf({{{"@0", DataLine(1, 1), DataLine(2, 1), "@1,2"}, std::nullopt, false}});
  ASSERT_EQ(trace.injections.size(), 1u);
  EXPECT_FALSE(trace.injections[0].time.has_value());
  EXPECT_EQ(trace.injections[0].firstPoint, trace.injections[0].endPoint);
  EXPECT_EQ(trace.Baseline().size(), 2u);
}

// Every real file read as a first portion: its injections (the samples' README
// counts them) with times that run on.
struct SampleCase {
  const char* file;
  std::size_t injections;
};
std::ostream& operator<<(std::ostream& os, const SampleCase& c) { return os << c.file; }

class SampleTraces : public testing::TestWithParam<SampleCase> {};

TEST_P(SampleTraces, MarksInOrderAndReductionKeepsEveryBucketExtreme) {
  const std::optional<Trace> trace = test::SampleTrace(GetParam().file);
  if (!trace) GTEST_SKIP() << "real files not present at " << TANDEMO_SAMPLES_DIR;
  EXPECT_EQ(trace->unreadableLines, 0);
  ASSERT_EQ(trace->injections.size(), GetParam().injections);
  EXPECT_FALSE(trace->Baseline().empty());
  for (std::size_t i = 0; i < trace->points.size(); ++i) {
    if (i > 0) {
      ASSERT_LT(trace->points[i - 1].time, trace->points[i].time) << "point " << i;
    }
  }
  for (std::size_t i = 0; i < trace->injections.size(); ++i) {
    const InjectionMark& m = trace->injections[i];
    ASSERT_TRUE(m.time.has_value()) << "injection " << i + 1;
    EXPECT_EQ(m.number, static_cast<std::int64_t>(i) + 1);
    EXPECT_TRUE(m.volume.has_value());
    EXPECT_GT(m.endPoint, m.firstPoint);
    if (i + 1 < trace->injections.size()) {
      EXPECT_EQ(m.endPoint, trace->injections[i + 1].firstPoint);
    }
  }

  // Each bucket's lowest and highest DP (an oracle over the documented buckets)
  // must be among the kept points, and the first and last point too.
  const std::span<const TracePoint> points = trace->PortionPoints(0);
  for (std::size_t maxPoints : {4u, 50u, 301u, 1000u, 4000u}) {
    SCOPED_TRACE("at most " + std::to_string(maxPoints));
    const std::vector<std::size_t> kept = ReduceForDrawing(points, maxPoints);
    ASSERT_LE(kept.size(), maxPoints);
    ASSERT_TRUE(std::is_sorted(kept.begin(), kept.end()));
    ASSERT_EQ(std::adjacent_find(kept.begin(), kept.end()), kept.end());
    EXPECT_EQ(kept.front(), 0u);
    EXPECT_EQ(kept.back(), points.size() - 1);
    if (points.size() <= maxPoints) {
      EXPECT_EQ(kept.size(), points.size());
      continue;
    }
    const std::size_t interior = points.size() - 2, buckets = (maxPoints - 2) / 2;
    for (std::size_t b = 0; b < buckets; ++b) {
      const std::size_t lo = 1 + b * interior / buckets, hi = 1 + (b + 1) * interior / buckets;
      if (lo == hi) continue;
      auto byDp = [](const TracePoint& x, const TracePoint& y) { return x.dp < y.dp; };
      auto [low, high] = std::minmax_element(points.begin() + static_cast<long>(lo),
                                             points.begin() + static_cast<long>(hi), byDp);
      auto keptAt = [&](auto it) {
        return std::binary_search(kept.begin(), kept.end(),
                                  static_cast<std::size_t>(it - points.begin()));
      };
      // minmax_element finds the last of equal maxima, the reduction the first: compare values.
      auto keptValue = [&](double dp) {
        for (std::size_t k : kept) {
          if (k >= lo && k < hi && points[k].dp == dp) return true;
        }
        return false;
      };
      EXPECT_TRUE(keptAt(low)) << "bucket " << b << " lost its minimum";
      EXPECT_TRUE(keptValue(high->dp)) << "bucket " << b << " lost its maximum";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    RealFiles, SampleTraces,
    testing::Values(SampleCase{"Mg1EDTAp1a.itc", 23}, SampleCase{"PIIE09trypsin2502111.itc", 10},
                    SampleCase{"102612c24.itc", 1}, SampleCase{"sample2.itc", 11},
                    SampleCase{"20191018a5.itc", 11}),
    [](const testing::TestParamInfo<SampleCase>& p) { return test::FileCaseName(p.param.file); });

// Small cases worked by hand; the buckets are those ReduceForDrawing documents.
struct ReductionCase {
  const char* what;
  std::vector<double> dp;
  std::size_t maxPoints;
  std::vector<std::size_t> kept;
};
std::ostream& operator<<(std::ostream& os, const ReductionCase& c) { return os << c.what; }

class Reduction : public testing::TestWithParam<ReductionCase> {};

TEST_P(Reduction, KeepsFirstLastAndEachBucketsExtremes) {
  const ReductionCase& c = GetParam();
  std::vector<TracePoint> points;
  for (std::size_t i = 0; i < c.dp.size(); ++i) points.push_back({static_cast<double>(i), c.dp[i]});
  EXPECT_EQ(ReduceForDrawing(points, c.maxPoints), c.kept);
}

const std::vector<double> kTen = {0, 5, 1, 2, -3, 4, 0, 0, 9, 1};

INSTANTIATE_TEST_SUITE_P(
    ByHand, Reduction,
    testing::Values(
        // 8 interior points, (6 - 2) / 2 = 2 buckets [1,5) and [5,9): max 5 at 1, min -3 at 4;
        // min 0 at 6 (the first of two), max 9 at 8.
        ReductionCase{"two buckets", kTen, 6, {0, 1, 4, 6, 8, 9}},
        ReductionCase{"odd limit rounds the buckets down", kTen, 7, {0, 1, 4, 6, 8, 9}},
        ReductionCase{"limit at the size keeps all", kTen, 10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        // 3 buckets: [1,3), [3,6), [6,9) (1 + 8/3 = 3, 1 + 16/3 = 6, 1 + 24/3 = 9).
        ReductionCase{"one below the size", kTen, 9, {0, 1, 2, 4, 5, 6, 8, 9}},
        ReductionCase{"no bucket", kTen, 3, {0, 9}}, ReductionCase{"first only", kTen, 1, {0}},
        ReductionCase{"nothing", kTen, 0, {}},
        // Flat: each bucket's minimum and maximum are its first point, kept once.
        ReductionCase{"flat", {2, 2, 2, 2, 2, 2, 2, 2, 2, 2}, 6, {0, 1, 5, 9}},
        // 7 interior points in 2 buckets: [1,4) and [4,8) (1 + 7/2 = 4, 1 + 14/2 = 8).
        ReductionCase{"uneven buckets", {0, 1, 2, 3, 4, 5, 6, 7, 8}, 6, {0, 1, 3, 4, 7, 8}},
        ReductionCase{"empty", {}, 4, {}}));

TEST(Reduction, NoSpikeOrDipIsLostInALongNoisyTrace) {
  std::mt19937 random(7);
  std::normal_distribution<double> noise(10.0, 0.01);
  std::vector<TracePoint> points(200000);
  for (std::size_t i = 0; i < points.size(); ++i)
    points[i] = {static_cast<double>(i), noise(random)};
  for (std::size_t at : {1u, 777u, 99999u, 150001u, 199998u}) {
    for (double height : {0.5, -0.5}) {
      std::vector<TracePoint> spiked = points;
      spiked[at].dp += height;
      const std::vector<std::size_t> kept = ReduceForDrawing(spiked, 1000);
      EXPECT_LE(kept.size(), 1000u);
      EXPECT_TRUE(std::binary_search(kept.begin(), kept.end(), at))
          << "spike " << height << " at " << at;
    }
  }
}

TEST(Reduction, ZoomTakesThePointsOfATimeWindow) {
  const Trace trace = TraceOf(TwoPortions());  // data lines every 2 s from 2 to 20
  struct Window {
    double from, to;
    std::size_t first, count;
  };
  for (const Window& w : {Window{14, 18, 6, 3},      // both ends on a line: included
                          Window{13.5, 18.5, 6, 3},  // between lines
                          Window{-5, 1, 0, 0},       // before the data
                          Window{0, 100, 0, 10},     // all of it
                          Window{20, 20, 9, 1},      // the last line alone
                          Window{9, 8, 4, 0}}) {     // an empty window
    const std::span<const TracePoint> got = PointsBetween(trace.points, w.from, w.to);
    EXPECT_EQ(got.size(), w.count) << w.from << " to " << w.to;
    if (!got.empty()) {
      EXPECT_EQ(got.data() - trace.points.data(), static_cast<long>(w.first));
    }
  }
}

TEST(Reduction, EachPortionOnItsOwnWithItsUncompensatedTwin) {
  const Trace trace = TraceOf(TwoPortions());
  const std::vector<ReducedPortion> reduced = ReduceTrace(trace, 4);
  ASSERT_EQ(reduced.size(), 2u);
  // First portion, 7 points: 5 interior in one bucket, [1,6): min 1.0 at 2, max 4.0 at 5.
  EXPECT_EQ(reduced[0].indices, (std::vector<std::size_t>{0, 2, 5, 6}));
  EXPECT_TRUE(reduced[0].uncompensated.empty());
  // The second portion's 3 points fit: indices into the whole trace, DP as written and + 0.25.
  EXPECT_EQ(reduced[1].indices, (std::vector<std::size_t>{7, 8, 9}));
  ASSERT_EQ(reduced[1].points.size(), 3u);
  ASSERT_EQ(reduced[1].uncompensated.size(), 3u);
  EXPECT_EQ(reduced[1].points[1].dp, 0.75);
  EXPECT_EQ(reduced[1].uncompensated[1].dp, 1.0);
  EXPECT_EQ(reduced[1].uncompensated[1].time, 18.0);
}

}  // namespace
}  // namespace tandemo
