#include "itcgen.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "merge/inspection.hpp"
#include "merge/itc_header.hpp"
#include "merge/merge_run.hpp"

namespace tandemo::itcgen {
namespace {

struct Pair {
  std::string first;
  std::string second;
};

Pair Generate(const TitrationSettings& settings) {
  StringSink a, b;
  WritePair(settings, a, b);
  return {std::move(a.text), std::move(b.text)};
}

double Number(std::string_view text) {
  double v = NAN;
  std::from_chars(text.data(), text.data() + text.size(), v);
  return v;
}

// One portion taken apart the way a reader of raw ITC files sees it.
struct Portion {
  std::vector<std::string> header;  // lines before the first marker line
  std::vector<std::string> markers;
  // Per marker line (0 for "@0"): the time stamps and DP values of its data lines.
  std::vector<std::vector<double>> times;
  std::vector<std::vector<double>> dps;
  std::vector<std::size_t> fieldCounts;
};

// Splits at the expected line end and fails the test on any other CR or LF.
std::vector<std::string> Lines(const std::string& text, std::string_view eol) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(eol, start);
    EXPECT_NE(end, std::string::npos) << "last line has no line end";
    if (end == std::string::npos) break;
    std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "stray line end in: " << line;
    lines.push_back(std::move(line));
    start = end + eol.size();
  }
  return lines;
}

Portion Parse(const std::string& text, std::string_view eol) {
  Portion p;
  for (const std::string& line : Lines(text, eol)) {
    if (!line.empty() && line.front() == '@') {
      p.markers.push_back(line);
      p.times.emplace_back();
      p.dps.emplace_back();
      continue;
    }
    if (p.markers.empty()) {
      p.header.push_back(line);
      continue;
    }
    std::size_t c1 = line.find(',');
    std::size_t c2 = line.find(',', c1 + 1);
    p.times.back().push_back(Number(std::string_view(line).substr(0, c1)));
    p.dps.back().push_back(Number(std::string_view(line).substr(c1 + 1, c2 - c1 - 1)));
    p.fieldCounts.push_back(static_cast<std::size_t>(std::count(line.begin(), line.end(), ',')) +
                            1);
  }
  return p;
}

double Mean(const std::vector<double>& v) {
  return std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

TEST(ItcGen, SameSeedGivesSameBytesOtherSeedOtherNoise) {
  TitrationSettings settings;
  const Pair once = Generate(settings);
  const Pair again = Generate(settings);
  EXPECT_EQ(once.first, again.first);
  EXPECT_EQ(once.second, again.second);

  settings.seed = 2;
  const Pair other = Generate(settings);
  EXPECT_NE(once.first, other.first);
  EXPECT_NE(once.second, other.second);
  // Only the values differ: same shape, same number of lines.
  EXPECT_EQ(Lines(once.first, "\r\n").size(), Lines(other.first, "\r\n").size());
}

struct FormCase {
  const char* name;
  TitrationSettings settings;
};
std::ostream& operator<<(std::ostream& os, const FormCase& c) { return os << c.name; }

TitrationSettings With(void (*change)(TitrationSettings&)) {
  TitrationSettings s;
  change(s);
  return s;
}

class PortionForm : public ::testing::TestWithParam<FormCase> {};

TEST_P(PortionForm, EachPortionIsARawFileOfItsOwn) {
  const TitrationSettings& settings = GetParam().settings;
  const Pair pair = Generate(settings);
  const std::string_view eol = settings.crlf ? "\r\n" : "\n";
  const int counts[] = {settings.firstInjections, settings.secondInjections};
  const std::string* texts[] = {&pair.first, &pair.second};
  for (int n = 0; n < 2; ++n) {
    SCOPED_TRACE(n == 0 ? "first portion" : "second portion");
    const Portion p = Parse(*texts[n], eol);
    const auto injections = static_cast<std::size_t>(counts[n]);

    ASSERT_GE(p.header.size(), 10 + injections);
    EXPECT_EQ(p.header[0], "$ITC");
    EXPECT_EQ(p.header[1], "$ " + std::to_string(injections) + " ");
    for (std::size_t k = 10; k < 10 + injections; ++k)
      EXPECT_EQ(p.header[k].substr(0, 2), "$ ") << "header line " << k + 1;
    for (const std::string& line : p.header)
      EXPECT_NE(std::string_view("$#%?").find(line.at(0)), std::string_view::npos) << line;

    ASSERT_EQ(p.markers.size(), injections + 1);
    EXPECT_EQ(p.markers[0], "@0");
    for (std::size_t k = 1; k <= injections; ++k) {
      std::string opening = std::to_string(k);
      opening.insert(opening.begin(), '@');
      opening += ',';
      EXPECT_EQ(p.markers[k].substr(0, p.markers[k].find(',') + 1), opening);
    }

    // Time starts again in every portion and runs on in one step across injections.
    EXPECT_EQ(p.times[0].size(),
              static_cast<std::size_t>(settings.initialDelay / settings.timeStep));
    double expected = 0;
    for (std::size_t k = 0; k < p.times.size(); ++k) {
      if (k > 0) {
        EXPECT_EQ(p.times[k].size(),
                  static_cast<std::size_t>(settings.spacing / settings.timeStep));
      }
      for (double t : p.times[k]) {
        expected += settings.timeStep;
        ASSERT_EQ(t, expected) << "after marker " << p.markers[k];
      }
    }
    for (std::size_t fields : p.fieldCounts) ASSERT_EQ(fields, 7u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PortionForm,
    ::testing::Values(FormCase{"defaults", TitrationSettings{}},
                      FormCase{"lf_only", With([](TitrationSettings& s) { s.crlf = false; })},
                      FormCase{"step_2_one_injection", With([](TitrationSettings& s) {
                                 s.timeStep = 2;
                                 s.spacing = 120;
                                 s.initialDelay = 4;
                                 s.firstInjections = 1;
                                 s.secondInjections = 1;
                               })},
                      FormCase{"many_injections", With([](TitrationSettings& s) {
                                 s.firstInjections = 30;
                                 s.secondInjections = 25;
                                 s.spacing = 100;
                               })}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(ItcGen, PeaksFollowTheSignOfTheHeatAndShrinkTowardsSaturation) {
  for (bool endothermic : {false, true}) {
    SCOPED_TRACE(endothermic ? "endothermic" : "exothermic");
    TitrationSettings settings;
    if (endothermic) settings.enthalpy = -settings.enthalpy;
    const Pair pair = Generate(settings);
    const Portion first = Parse(pair.first, "\r\n");
    const Portion second = Parse(pair.second, "\r\n");
    const double sign = endothermic ? 1.0 : -1.0;
    auto excursion = [&](const Portion& p, std::size_t marker) {  // away from the baseline
      const double baseline = p.dps[marker].back();               // the peak has died away by then
      double most = 0;
      for (double dp : p.dps[marker]) most = std::max(most, sign * (dp - baseline));
      return most;
    };
    const double early = excursion(first, 2);
    const double late = excursion(second, second.markers.size() - 1);
    EXPECT_GT(early, 50 * settings.noise);  // far out of the noise
    EXPECT_GT(early, 3 * late);
    // The peak has decayed back to the baseline before the next injection.
    EXPECT_NEAR(first.dps[2].back(), Mean(first.dps[0]), 0.05);
  }
}

TEST(ItcGen, SecondBaselineStandsOffTheFirstPortionsEnd) {
  for (double offset : {0.35, -0.5, 0.0}) {
    SCOPED_TRACE(offset);
    TitrationSettings settings;
    settings.reloadOffset = offset;
    const Pair pair = Generate(settings);
    const Portion first = Parse(pair.first, "\r\n");
    const Portion second = Parse(pair.second, "\r\n");
    const double lastDP = first.dps.back().back();
    // The second baseline also still settles a little from above.
    const double step = Mean(second.dps[0]) - lastDP;
    EXPECT_GT(step, offset - 0.03);
    EXPECT_LT(step, offset + 0.1);
  }
}

TEST(ItcGen, FitToSizeComesCloseToTheRequestedSize) {
  for (std::uint64_t bytes : {300'000ULL, 2'000'000ULL, 12'000'000ULL}) {
    SCOPED_TRACE(bytes);
    TitrationSettings settings;
    ASSERT_FALSE(FitToSize(settings, bytes).has_value());
    CountingSink a, b;
    WritePair(settings, a, b);
    const double got = static_cast<double>(a.bytes() + b.bytes());
    EXPECT_NEAR(got / static_cast<double>(bytes), 1.0, 0.01);
    EXPECT_EQ(settings.firstInjections, 10);  // the injections stay; the time between them grows
  }
}

TEST(ItcGen, FitToSizeRefusesWhatCannotBeMade) {
  TitrationSettings settings;
  EXPECT_TRUE(FitToSize(settings, 1000).has_value());  // smaller than header and baselines
  settings = TitrationSettings{};
  // About 10^13 bytes would need time stamps beyond 32 bits.
  EXPECT_TRUE(FitToSize(settings, 10'000'000'000'000ULL).has_value());
}

TEST(ItcGen, ValidateRefusesSettingsThatMakeNoRawFile) {
  const std::vector<void (*)(TitrationSettings&)> bad = {
      [](TitrationSettings& s) { s.secondInjections = 0; },
      [](TitrationSettings& s) { s.timeStep = 0; },
      [](TitrationSettings& s) { s.spacing = 152; },  // not a whole number of 5 s steps
      [](TitrationSettings& s) { s.initialDelay = 5; },  // one baseline line only
      [](TitrationSettings& s) { s.injectionVolume = 0; },
      [](TitrationSettings& s) { s.noise = NAN; },
      [](TitrationSettings& s) { s.spacing = 500'000'000; },
  };
  EXPECT_FALSE(Validate(TitrationSettings{}).has_value());
  for (std::size_t k = 0; k < bad.size(); ++k) {
    TitrationSettings s;
    bad[k](s);
    EXPECT_TRUE(Validate(s).has_value()) << "case " << k;
  }
}

// A generated pair is one titration to the merge engine: the headers agree, and
// compensation moves the appended data back onto the first portion's baseline.
TEST(ItcGen, GeneratedPairMergesAsOneTitration) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) /
                                    ("itcgen-" + std::to_string(std::random_device()()));
  ASSERT_TRUE(std::filesystem::create_directory(dir));
  const std::string firstPath = (dir / "portion1.itc").string(),
                    secondPath = (dir / "portion2.itc").string();
  TitrationSettings settings;
  const Pair pair = Generate(settings);
  std::ofstream(firstPath, std::ios::binary) << pair.first;
  std::ofstream(secondPath, std::ios::binary) << pair.second;

  const Inspection inspection = Inspect({firstPath, secondPath});
  ASSERT_FALSE(inspection.failure.has_value()) << inspection.failure->Message();
  EXPECT_TRUE(inspection.files[0].header.usualForm) << inspection.files[0].header.formProblem;
  EXPECT_TRUE(inspection.files[1].header.usualForm) << inspection.files[1].header.formProblem;
  EXPECT_TRUE(inspection.agrees());
  EXPECT_TRUE(inspection.notCompared.empty());
  EXPECT_TRUE(inspection.notes.empty());

  const double firstLastDP = Parse(pair.first, "\r\n").dps.back().back();
  const double secondLastDP = Parse(pair.second, "\r\n").dps.back().back();
  for (bool compensate : {false, true}) {
    SCOPED_TRACE(compensate ? "compensated" : "plain");
    const std::string out = (dir / (compensate ? "comp.itc" : "plain.itc")).string();
    MergeOutcome outcome = RunMerge(firstPath, secondPath, out, compensate);
    ASSERT_TRUE(outcome.ok()) << outcome.error->Message();
    EXPECT_EQ(outcome.summary.InjectionsAppended(), settings.secondInjections);
    std::ifstream in(out, std::ios::binary);
    const std::string merged((std::istreambuf_iterator<char>(in)), {});
    const Portion p = Parse(merged, "\r\n");
    ASSERT_EQ(p.markers.size(),
              static_cast<std::size_t>(1 + settings.firstInjections + settings.secondInjections));
    const double mergedLast = p.dps.back().back();
    if (compensate) {
      const float offset = outcome.summary.joins.at(0).dpOffset;
      EXPECT_GT(offset, 0.3f);  // the reload offset is visible ...
      EXPECT_NEAR(mergedLast, secondLastDP - offset, 1e-5);
      EXPECT_NEAR(mergedLast, firstLastDP, 0.05);  // ... and compensated away
    } else {
      EXPECT_EQ(mergedLast, secondLastDP);
    }
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tandemo::itcgen
