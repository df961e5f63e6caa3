// The heat of each injection: areas of titrations built here with known peaks,
// the displaced-volume molar ratio at hand-computed points, and the real files.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "merge/heats.hpp"
#include "trace_fixture.hpp"

namespace tandemo {
namespace {

using test::PortionLines;

constexpr double kStep = 2.0;  // s between data lines of the titrations built here

// A titration written line by line: "@0" and its baseline, then injections with
// the DP the test gives point by point; numbers and time stamps run on across portions.
class Titration {
 public:
  Titration& Baseline(const std::vector<double>& dp) {
    Current().lines.push_back("@0");
    return Data(dp);
  }
  Titration& Inject(const std::string& volume, const std::vector<double>& dp) {
    Current().lines.push_back("@" + std::to_string(++number_) + "," + volume + ",4.0");
    return Data(dp);
  }
  Titration& NextPortion(float offset) {
    portions_.push_back(PortionLines{{}, offset, false});
    return *this;
  }
  Trace Build() const { return test::TraceOf(portions_); }

 private:
  PortionLines& Current() {
    if (portions_.empty()) portions_.emplace_back();
    return portions_.back();
  }
  Titration& Data(const std::vector<double>& dp) {
    for (double v : dp) Current().lines.push_back(test::DataLine(time_ += kStep, v));
    return *this;
  }
  std::vector<PortionLines> portions_;
  int number_ = 0;
  double time_ = 0.0;
};

std::vector<double> Flat(std::size_t n, double level) { return std::vector<double>(n, level); }

// A straight baseline from `from` at the first point to `to` at the last.
std::vector<double> Ramp(std::size_t n, double from, double to) {
  std::vector<double> dp(n);
  for (std::size_t k = 0; k < n; ++k)
    dp[k] = from + (to - from) * static_cast<double>(k) / static_cast<double>(n - 1);
  return dp;
}

// A peak laid on a baseline from point `at` on.
std::vector<double> Peak(std::vector<double> dp, std::size_t at,
                         const std::vector<double>& heights) {
  for (std::size_t k = 0; k < heights.size(); ++k) dp[at + k] += heights[k];
  return dp;
}

const std::vector<double> kRectangle = {0.5, 0.5, 0.5};   // area 1.5 x 2 s = 3 µcal
const std::vector<double> kTriangle = {0.25, 0.5, 0.25};  // area 1.0 x 2 s = 2 µcal
const std::vector<double> kDip = {-1.0, -1.0};            // area -2.0 x 2 s = -4 µcal

const CellContents kCell{0.5, 0.05, 0.2};  // syringe 0.5 mM, cell 0.05 mM, 0.2 mL

struct AreaCase {
  const char* what;
  Titration titration;
  std::vector<double> heats;  // µcal, worked from the peaks above
};
std::ostream& operator<<(std::ostream& os, const AreaCase& c) { return os << c.what; }

class KnownAreas : public testing::TestWithParam<AreaCase> {};

TEST_P(KnownAreas, HeatIsThePeakArea) {
  const AreaCase& c = GetParam();
  const std::vector<InjectionHeat> heats = IntegrateHeats(c.titration.Build(), kCell);
  ASSERT_EQ(heats.size(), c.heats.size());
  for (std::size_t i = 0; i < heats.size(); ++i) {
    ASSERT_TRUE(heats[i].heat.has_value()) << "injection " << i + 1;
    EXPECT_NEAR(*heats[i].heat, c.heats[i], 1e-12) << "injection " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Generated, KnownAreas,
    testing::Values(AreaCase{"flat baseline: rectangle, triangle, dip",
                             Titration()
                                 .Baseline(Flat(10, 1.0))
                                 .Inject("2", Peak(Flat(10, 1.0), 1, kRectangle))
                                 .Inject("2", Peak(Flat(10, 1.0), 1, kTriangle))
                                 .Inject("2", Peak(Flat(10, 1.0), 2, kDip)),
                             {3.0, 2.0, -4.0}},
                    // The baseline level changes from one interval's end to the next: the straight
                    // line from the level before to the own level takes it off exactly.
                    AreaCase{"baseline that moves between injections",
                             Titration()
                                 .Baseline(Flat(10, 1.0))
                                 .Inject("2", Peak(Ramp(10, 1.0, 1.2), 2, kRectangle))
                                 .Inject("2", Peak(Ramp(10, 1.2, 0.9), 1, kTriangle)),
                             {3.0, 2.0}},
                    // The appended portion's first injection starts from the first portion's last
                    // level (2.0), not from a baseline of its own.
                    AreaCase{"join: the interval before is the first portion's last injection",
                             Titration()
                                 .Baseline(Flat(10, 1.0))
                                 .Inject("2", Peak(Ramp(10, 1.0, 2.0), 2, kRectangle))
                                 .NextPortion(0.0f)
                                 .Inject("2", Peak(Ramp(10, 2.0, 2.4), 2, kRectangle)),
                             {3.0, 3.0}},
                    // Without "@0" data the first baseline is flat at the injection's own level.
                    AreaCase{"no baseline before the first injection",
                             Titration()
                                 .Inject("2", Peak(Flat(10, 1.0), 2, kRectangle))
                                 .Inject("2", Peak(Flat(12, 1.0), 3, kDip)),
                             {3.0, -4.0}},
                    // 35 lines per interval as on the 5-s instrument: windows of 3 lines.
                    AreaCase{"long intervals",
                             Titration()
                                 .Baseline(Flat(12, 0.5))
                                 .Inject("4", Peak(Flat(35, 0.5), 3, kTriangle))
                                 .Inject("4", Peak(Flat(35, 0.5), 28, kRectangle)),
                             {2.0, 3.0}}));

// The baseline level is the mean DP of the last tenth of the interval, n / 10
// lines and at least one: the last three lines are 1.0, 1.25, 1.75.
struct WindowCase {
  std::size_t lines;
  double level;
};
std::ostream& operator<<(std::ostream& os, const WindowCase& c) {
  return os << c.lines << " lines";
}

class TenthWindow : public testing::TestWithParam<WindowCase> {};

TEST_P(TenthWindow, LevelIsTheMeanOfTheLastTenth) {
  std::vector<double> dp = Flat(GetParam().lines, 3.0);
  dp[dp.size() - 3] = 1.0;
  dp[dp.size() - 2] = 1.25;
  dp[dp.size() - 1] = 1.75;
  const std::vector<InjectionHeat> heats =
      IntegrateHeats(Titration().Baseline(dp).Inject("2", dp).Build(), kCell);
  ASSERT_EQ(heats.size(), 1u);
  EXPECT_EQ(heats[0].baselineBefore, GetParam().level);
  EXPECT_EQ(heats[0].baselineAfter, GetParam().level);
}

INSTANTIATE_TEST_SUITE_P(Limits, TenthWindow,
                         testing::Values(WindowCase{9, 1.75},   // 9 / 10 = 0: one line all the same
                                         WindowCase{19, 1.75},  // 19 / 10 = 1
                                         WindowCase{20, 1.5},   // 20 / 10 = 2: (1.25 + 1.75) / 2
                                         WindowCase{29, 1.5},   // 29 / 10 = 2
                                         WindowCase{30, 4.0 / 3.0}));  // 30 / 10 = 3: 4 / 3

TEST(Heats, VolumeCountsOnAcrossTheJoinIntoRatioAndHeatPerMole) {
  const Trace trace = Titration()
                          .Baseline(Flat(10, 1.0))
                          .Inject("2", Peak(Flat(10, 1.0), 2, kRectangle))
                          .NextPortion(0.25f)
                          .Inject("2", Peak(Flat(10, 1.0), 2, kRectangle))
                          .Build();
  const std::vector<InjectionHeat> heats = IntegrateHeats(trace, kCell);
  ASSERT_EQ(heats.size(), 2u);
  EXPECT_EQ(heats[1].number, 2);
  EXPECT_EQ(heats[1].portion, 1u);
  EXPECT_EQ(heats[1].startTime, 42.0);  // 20 + 10 lines of 2 s, then the marker's first line
  EXPECT_EQ(heats[1].injectedVolume, 4.0);
  // (X0/M0)(v/V)(1 + v/2V) with X0/M0 = 10, V = 200 µL: v = 2 gives 10 x 0.01 x 1.005,
  // v = 4 gives 10 x 0.02 x 1.01.
  ASSERT_TRUE(heats[0].molarRatio && heats[1].molarRatio);
  EXPECT_NEAR(*heats[0].molarRatio, 0.1005, 1e-15);
  EXPECT_NEAR(*heats[1].molarRatio, 0.202, 1e-15);
  // 3 µcal / (0.5 mM x 2 µL) = 3 kcal/mol.
  EXPECT_NEAR(*heats[1].heatPerMole, 3.0, 1e-12);
}

TEST(Heats, AbsentValuesStayAbsent) {
  // An injection without data lines has no heat; the next one's baseline comes
  // from the interval before that, and the volume still counts.
  Trace trace = Titration()
                    .Baseline(Flat(10, 1.0))
                    .Inject("2", {})
                    .Inject("2", Peak(Flat(10, 1.0), 2, kRectangle))
                    .Build();
  std::vector<InjectionHeat> heats = IntegrateHeats(trace, kCell);
  ASSERT_EQ(heats.size(), 2u);
  EXPECT_FALSE(heats[0].heat.has_value());
  EXPECT_FALSE(heats[0].startTime.has_value());
  EXPECT_FALSE(heats[0].heatPerMole.has_value());
  EXPECT_TRUE(heats[0].molarRatio.has_value());
  EXPECT_NEAR(*heats[1].heat, 3.0, 1e-12);
  EXPECT_EQ(heats[1].injectedVolume, 4.0);

  // A volume that is not a number leaves every later total, and so the ratio, unknown.
  trace = Titration()
              .Baseline(Flat(10, 1.0))
              .Inject("x", Peak(Flat(10, 1.0), 2, kRectangle))
              .Inject("2", Peak(Flat(10, 1.0), 2, kRectangle))
              .Build();
  heats = IntegrateHeats(trace, kCell);
  EXPECT_FALSE(heats[0].volume.has_value());
  EXPECT_FALSE(heats[0].heatPerMole.has_value());
  EXPECT_NEAR(*heats[0].heat, 3.0, 1e-12);
  EXPECT_FALSE(heats[1].injectedVolume.has_value());
  EXPECT_FALSE(heats[1].molarRatio.has_value());
  EXPECT_NEAR(*heats[1].heatPerMole, 3.0, 1e-12);

  // Without the header values: heats only, plotted against the injection number.
  heats = IntegrateHeats(trace, CellContents{});
  EXPECT_FALSE(heats[1].molarRatio.has_value());
  EXPECT_FALSE(heats[1].heatPerMole.has_value());
  EXPECT_NEAR(*heats[1].heat, 3.0, 1e-12);
}

struct CompositionCase {
  const char* how;
  CellContents cell;
  double injected;  // µL
  std::optional<double> macromolecule, ligand, ratio;
};
std::ostream& operator<<(std::ostream& os, const CompositionCase& c) { return os << c.how; }

class Composition : public testing::TestWithParam<CompositionCase> {};

TEST_P(Composition, DisplacedVolume) {
  const CompositionCase& c = GetParam();
  const std::optional<CellComposition> got = CompositionAfter(c.injected, c.cell);
  ASSERT_EQ(got.has_value(), c.ratio.has_value());
  if (!got) return;
  EXPECT_NEAR(got->macromolecule, *c.macromolecule, 1e-15);
  EXPECT_NEAR(got->ligand, *c.ligand, 1e-15);
  EXPECT_NEAR(got->molarRatio, *c.ratio, 1e-14);
}

INSTANTIATE_TEST_SUITE_P(
    ByHand, Composition,
    testing::Values(
        // V = 1000 µL, v/V = 0.1, v/2V = 0.05: M = 0.1 x 0.95 / 1.05, X = 1 x 0.1 x 0.95,
        // ratio 1.05.
        CompositionCase{"1 mL cell, 100 uL in", {1.0, 0.1, 1.0}, 100.0, 0.095 / 1.05, 0.095, 1.05},
        // V = 200 µL, v/V = 0.2, v/2V = 0.1: M = 0.02 x 0.9 / 1.1, X = 0.2 x 0.2 x 0.9, ratio 2.2.
        CompositionCase{"0.2 mL cell, 40 uL in", {0.2, 0.02, 0.2}, 40.0, 0.018 / 1.1, 0.036, 2.2},
        CompositionCase{"nothing injected yet", {0.2, 0.02, 0.2}, 0.0, 0.02, 0.0, 0.0},
        // v = 2V = 400 µL leaves no macromolecule in the approximation.
        CompositionCase{"at twice the cell volume", {0.2, 0.02, 0.2}, 400.0, {}, {}, {}},
        CompositionCase{"negative volume", {0.2, 0.02, 0.2}, -1.0, {}, {}, {}},
        CompositionCase{"no cell volume", {0.2, 0.02, {}}, 4.0, {}, {}, {}},
        CompositionCase{"cell volume zero", {0.2, 0.02, 0.0}, 4.0, {}, {}, {}},
        CompositionCase{"no cell concentration", {0.2, {}, 0.2}, 4.0, {}, {}, {}},
        CompositionCase{"cell concentration zero", {0.2, 0.0, 0.2}, 4.0, {}, {}, {}},
        CompositionCase{"no syringe concentration", {{}, 0.02, 0.2}, 4.0, {}, {}, {}}));

// Real files, with the header values read off their "#" lines (syringe mM, cell
// mM, cell volume mL: the 2nd, 3rd and 4th after the injection lines).
struct RealCase {
  const char* file;
  CellContents cell;
  std::size_t fromInjection;  // 1-based
};
std::ostream& operator<<(std::ostream& os, const RealCase& c) {
  return os << c.file << " from @" << c.fromInjection;
}

const CellContents kMgEdta{1.0, 0.1, 1.434};
const CellContents kTrypsin{8.0, 0.65, 0.2001};
const CellContents kSample2{2.0592, 0.2326, 0.2028};
const CellContents kCbsCaii{0.3311, 0.01, 0.2037};

// Water into water gives only the small heat of mixing: a few tenths of a kcal per
// mole of injectant at most, where binding gives several. 20191018a5 behaves so from
// its first injection to its last (each 3 µL gives about -0.25 µcal, flat, no
// isotherm at ten times the cell's molar amount); Mg1EDTAp1a does from injection 13
// on, once every site is taken (about -0.1 kcal/mol after -2.4 at the start).
class WaterLike : public testing::TestWithParam<RealCase> {};

TEST_P(WaterLike, IntegratesNearZero) {
  const RealCase& c = GetParam();
  const std::optional<Trace> trace = test::SampleTrace(c.file);
  if (!trace) GTEST_SKIP() << "real files not present at " << TANDEMO_SAMPLES_DIR;
  const std::vector<InjectionHeat> heats = IntegrateHeats(*trace, c.cell);
  ASSERT_GT(heats.size(), c.fromInjection);
  for (std::size_t i = c.fromInjection - 1; i < heats.size(); ++i) {
    ASSERT_TRUE(heats[i].heatPerMole.has_value()) << "injection " << i + 1;
    EXPECT_LT(std::fabs(*heats[i].heatPerMole), 0.5)
        << "injection " << i + 1 << ": " << *heats[i].heat << " ucal";
  }
}

// "Mg1EDTAp1a_From13": the file and the injection the heats are taken from.
std::string RealCaseName(const testing::TestParamInfo<RealCase>& p) {
  return test::FileCaseName(p.param.file) + "_From" + std::to_string(p.param.fromInjection);
}

INSTANTIATE_TEST_SUITE_P(RealFiles, WaterLike,
                         testing::Values(RealCase{"20191018a5.itc", kCbsCaii, 1},
                                         RealCase{"Mg1EDTAp1a.itc", kMgEdta, 13}),
                         RealCaseName);

// A binding titration gives heats of one sign while sites are being taken; the sign
// may turn once, to the heat of mixing, after the heats have fallen to a few percent
// of the largest. A baseline taken from the wrong place turns it back and forth.
class Binding : public testing::TestWithParam<RealCase> {};

TEST_P(Binding, HeatsChangeSignOnlyOnceSaturated) {
  const RealCase& c = GetParam();
  const std::optional<Trace> trace = test::SampleTrace(c.file);
  if (!trace) GTEST_SKIP() << "real files not present at " << TANDEMO_SAMPLES_DIR;
  const std::vector<InjectionHeat> heats = IntegrateHeats(*trace, c.cell);
  ASSERT_FALSE(heats.empty());
  double largest = 0.0, largestPerMole = 0.0;
  for (const InjectionHeat& h : heats) {
    ASSERT_TRUE(h.heat.has_value() && h.heatPerMole.has_value());
    if (std::fabs(*h.heat) > std::fabs(largest)) largest = *h.heat;
    largestPerMole = std::fmax(largestPerMole, std::fabs(*h.heatPerMole));
  }
  EXPECT_GT(largestPerMole, 1.0) << "kcal/mol: no binding seen";
  ASSERT_TRUE(heats.front().molarRatio.has_value());
  double ratioBefore = 0.0;
  int signChanges = 0;
  bool fallen = false;  // the heats have fallen below 5 % of the largest
  for (std::size_t i = 0; i < heats.size(); ++i) {
    const double q = *heats[i].heat;
    SCOPED_TRACE("injection " + std::to_string(i + 1) + ": " + std::to_string(q) + " ucal");
    EXPECT_GT(*heats[i].molarRatio, ratioBefore);
    ratioBefore = *heats[i].molarRatio;
    if (std::fabs(q) > 0.05 * std::fabs(largest)) {
      EXPECT_EQ(q > 0, largest > 0) << "a binding-sized heat of the other sign";
    } else if (i > 0) {
      fallen = true;
    }
    if (i > 0 && (q > 0) != (*heats[i - 1].heat > 0)) {
      ++signChanges;
      EXPECT_TRUE(fallen) << "the sign turns before the sites are taken";
    }
  }
  EXPECT_LE(signChanges, 1);
}

INSTANTIATE_TEST_SUITE_P(RealFiles, Binding,
                         testing::Values(RealCase{"Mg1EDTAp1a.itc", kMgEdta, 1},
                                         RealCase{"PIIE09trypsin2502111.itc", kTrypsin, 1},
                                         RealCase{"sample2.itc", kSample2, 1}),
                         RealCaseName);

}  // namespace
}  // namespace tandemo
