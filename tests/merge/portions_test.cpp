// Joining portions: the header that lists every injection, the comparison of the
// files, and more than two portions.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "merge/compatibility.hpp"
#include "merge/merge_run.hpp"
#include "portion_fixture.hpp"
#include "test_support.hpp"

namespace tandemo {
namespace {

using testing::CrLfLines;
using testing::Portion;

// The scratch folder of a test, with the few things these tests do in it.
class TempDir : public test::TempDir {
 public:
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::string p = *this / name;
    test::WriteFile(p, bytes);
    return p;
  }
  std::string Path(const std::string& name) const { return *this / name; }
  std::size_t EntryCount() const { return test::ListDir(path()).size(); }
};

std::string ReadAll(const std::string& path) { return test::ReadFile(path).value_or(""); }

Portion Second(int injections) {
  Portion p;
  p.injections = injections;
  p.countLine = "$ " + std::to_string(injections) + " ";
  p.dp = 11.2;
  return p;
}

MergeOutcome Merge(const std::vector<std::string>& inputs, const std::string& out,
                   bool updateHeader, bool compensate = false) {
  MergeRequest r;
  r.inputs = inputs;
  r.output = out;
  r.updateHeader = updateHeader;
  r.compensate = compensate;
  return RunMerge(r);
}

// ---------------------------------------------------------------- header update

TEST(HeaderUpdate, OffLeavesTheFirstHeaderAsItStands) {
  TempDir dir;
  Portion first;
  std::string a = dir.Write("a.itc", first.Text());
  std::string b = dir.Write("b.itc", Second(3).Text());
  ASSERT_TRUE(Merge({a, b}, dir.Path("plain.itc"), false).ok());
  ASSERT_TRUE(RunMerge(a, b, dir.Path("two.itc"), false).ok());
  std::vector<std::string> lines = CrLfLines(ReadAll(dir.Path("plain.itc")));
  EXPECT_EQ(lines[1], "$ 2 ");
  EXPECT_EQ(lines[12], "# 0 ");  // right after the first file's two injection lines
  EXPECT_EQ(ReadAll(dir.Path("plain.itc")), ReadAll(dir.Path("two.itc")));
}

TEST(HeaderUpdate, CountAndInjectionLinesOfEveryPortion) {
  TempDir dir;
  Portion first;
  first.countLine = "$  2   ";  // the first file's own blanks stay around the new count
  Portion second = Second(3);
  std::string a = dir.Write("a.itc", first.Text());
  std::string b = dir.Write("b.itc", second.Text());
  MergeOutcome done = Merge({a, b}, dir.Path("out.itc"), true);
  ASSERT_TRUE(done.ok()) << done.error->Message();
  EXPECT_EQ(done.summary.injectionsAnnounced, 5);

  std::vector<std::string> out = CrLfLines(ReadAll(dir.Path("out.itc")));
  std::vector<std::string> in = CrLfLines(first.Text());
  EXPECT_EQ(out[1], "$  5   ");
  for (int k = 1; k <= 2; ++k) EXPECT_EQ(out[9 + static_cast<std::size_t>(k)], first.injectionLine(k));
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(out[11 + static_cast<std::size_t>(k)], second.injectionLine(k));
  // Every other line of the first file follows unchanged.
  for (std::size_t i = 12; i < in.size(); ++i) EXPECT_EQ(out[i + 3], in[i]) << "line " << i + 1;
}

TEST(HeaderUpdate, OnlyTheInjectionsAppendedAreListed) {
  // The second header announces 4 injections, but its file holds 2 marker lines with a comma.
  TempDir dir;
  Portion second = Second(2);
  second.countLine = "$ 4 ";
  std::string text = second.Text();
  // Give it room for the two announced injections it does not hold.
  std::size_t at = text.find("# 0 ");
  text.insert(at, second.injectionLine(3) + "\r\n" + second.injectionLine(4) + "\r\n");
  std::string a = dir.Write("a.itc", Portion{}.Text());
  std::string b = dir.Write("b.itc", text);
  MergeOutcome done = Merge({a, b}, dir.Path("out.itc"), true);
  ASSERT_TRUE(done.ok()) << done.error->Message();
  std::vector<std::string> out = CrLfLines(ReadAll(dir.Path("out.itc")));
  EXPECT_EQ(out[1], "$ 4 ");
  EXPECT_EQ(out[12], second.injectionLine(1));
  EXPECT_EQ(out[13], second.injectionLine(2));
  EXPECT_EQ(out[14], "# 0 ");
}

struct RefusedHeader {
  const char* name;
  std::string first;
  std::string second;
  std::string message;
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

class HeaderRefused : public ::testing::TestWithParam<RefusedHeader> {};

TEST_P(HeaderRefused, FailsAndWritesNothing) {
  TempDir dir;
  const RefusedHeader& c = GetParam();
  std::string a = dir.Write("a.itc", c.first);
  std::string b = dir.Write("b.itc", c.second);
  std::string out = dir.Write("out.itc", "kept\r\n");
  MergeOutcome done = Merge({a, b}, out, true);
  ASSERT_FALSE(done.ok());
  EXPECT_EQ(done.error->Message(), c.message);
  EXPECT_EQ(ReadAll(out), "kept\r\n");
  EXPECT_EQ(dir.EntryCount(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderRefused,
    ::testing::Values(
        RefusedHeader{"SecondAnnouncesFewer", Portion{}.Text(),
                      Replace(Second(3).Text(), "$ 3 ", "$ 2 "),
                      "Bad header (1003): second file, line 2: the header announces 2 injections "
                      "but 3 are appended from this file"},
        RefusedHeader{"FirstLineNotItc", Replace(Portion{}.Text(), "$ITC", "ITC"), Second(2).Text(),
                      "Bad header (1003): first file: the header cannot list every injection: its "
                      "first line is not \"$ITC\""},
        RefusedHeader{"CountNotWhole", Portion{}.Text(), Replace(Second(2).Text(), "$ 2 ", "$ 2.5 "),
                      "Bad header (1003): second file: the header cannot list every injection: "
                      "its second line is not \"$\" and a whole number"},
        RefusedHeader{"InjectionLineMissing", Replace(Portion{}.Text(), "$ 11 , 20", "# 11 , 20"),
                      Second(2).Text(),
                      "Bad header (1003): first file: the header cannot list every injection: "
                      "line 12 should be the \"$\" line of injection 2"},
        RefusedHeader{"NoRoomBeforeMarker", Replace(Portion{}.Text(), "$ 2 ", "$ 60 "),
                      Second(2).Text(),
                      "Bad header (1003): first file: the header cannot list every injection: it "
                      "announces 60 injections but has no room for their \"$\" lines before its "
                      "first marker line"}),
    [](const auto& test) { return std::string(test.param.name); });

// ------------------------------------------------------------- more than two portions

// Joining three files at once must give exactly what joining the result of the
// first join with the third gives.
class ThreePortions : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(ThreePortions, SameAsTwoJoinsInARow) {
  const auto [compensate, updateHeader] = GetParam();
  TempDir dir;
  Portion third = Second(2);
  third.dp = 9.7;
  third.baselineLines = 5;
  std::string a = dir.Write("a.itc", Portion{}.Text());
  std::string b = dir.Write("b.itc", Second(3).Text());
  std::string c = dir.Write("c.itc", third.Text());

  MergeOutcome once = Merge({a, b, c}, dir.Path("once.itc"), updateHeader, compensate);
  ASSERT_TRUE(once.ok()) << once.error->Message();
  ASSERT_TRUE(Merge({a, b}, dir.Path("ab.itc"), updateHeader, compensate).ok());
  ASSERT_TRUE(Merge({dir.Path("ab.itc"), c}, dir.Path("twice.itc"), updateHeader, compensate).ok());
  EXPECT_EQ(ReadAll(dir.Path("once.itc")), ReadAll(dir.Path("twice.itc")));
  EXPECT_EQ(once.summary.InjectionsAppended(), 5);
  ASSERT_EQ(once.summary.joins.size(), 2u);
  EXPECT_EQ(once.summary.joins[1].firstNumber, 6);  // 3 marker lines + 3 appended, then "@1" + 5
}

INSTANTIATE_TEST_SUITE_P(Options, ThreePortions,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

// ------------------------------------------------------------------ comparison

struct DifferenceCase {
  const char* name;
  void (*change)(Portion&);
  std::vector<std::string> differences;  // as described to the user
};

class Compare : public ::testing::TestWithParam<DifferenceCase> {};

TEST_P(Compare, ListsEachDifference) {
  TempDir dir;
  Portion second = Second(2);
  GetParam().change(second);
  std::vector<FileFacts> facts;
  ASSERT_FALSE(ScanInputs({dir.Write("a.itc", Portion{}.Text()), dir.Write("b.itc", second.Text())},
                          facts));
  Comparison cmp = CompareAll(facts);
  std::vector<std::string> described;
  for (const Difference& d : cmp.differences) described.push_back(DescribeDifference(d));
  EXPECT_EQ(described, GetParam().differences);
  EXPECT_TRUE(cmp.notCompared.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Compare,
    ::testing::Values(
        DifferenceCase{"Agree", [](Portion&) {}, {}},
        DifferenceCase{"SameNumbersWrittenOtherwise",
                       [](Portion& p) {
                         p.temperature = "$ 25.0 ";
                         p.syringe = "# .1";
                         p.cell = "#1.42660 ";
                       },
                       {}},
        DifferenceCase{"Temperature", [](Portion& p) { p.temperature = "$ 30 "; },
                       {"target temperature: 25 in the first file, 30 in the second file"}},
        DifferenceCase{"Syringe", [](Portion& p) { p.syringe = "# 0.2 "; },
                       {"syringe concentration (mM): 0.1 in the first file, 0.2 in the second file"}},
        DifferenceCase{"Cell", [](Portion& p) { p.cell = "# 0.2033 "; },
                       {"cell volume (mL): 1.4266 in the first file, 0.2033 in the second file"}},
        DifferenceCase{"Instrument", [](Portion& p) { p.instrument = "% VPViewer2000 Ver: 1.31.0"; },
                       {"instrument: VPViewer2000 Ver: 1.30.0 in the first file, VPViewer2000 "
                        "Ver: 1.31.0 in the second file"}},
        DifferenceCase{"TimeStep", [](Portion& p) { p.step = 5; },
                       {"time step: 2 in the first file, 5 in the second file"}},
        DifferenceCase{"Several",
                       [](Portion& p) {
                         p.temperature = "$ 20 ";
                         p.step = 1;
                       },
                       {"target temperature: 25 in the first file, 20 in the second file",
                        "time step: 2 in the first file, 1 in the second file"}}),
    [](const auto& test) { return std::string(test.param.name); });

// Comparing reads a file's header and then only its tail for the time step; the
// step must come out the same as from reading every line.
TEST(CompareLarge, TimeStepFromTheTailOfALargeFile) {
  TempDir dir;
  Portion big = Second(3);
  big.linesPerInjection = 4000;  // about 300 KB, well past the tail that is read
  big.step = 5;
  std::string text = big.Text();
  ASSERT_GT(text.size(), 3u * 64 * 1024);
  // Lines so long that the tail holds fewer than two of them: all is read after all.
  Portion longLines = Second(1);
  std::string longText = longLines.Text();
  longText += "12.00,1.0," + std::string(70000, '7') + "\r\n" + "14.00,1.0," +
              std::string(70000, '7') + "\r\n";
  std::vector<FileFacts> tail, whole;
  const std::vector<std::string> paths = {dir.Write("a.itc", Portion{}.Text()), dir.Write("big.itc", text),
                                          dir.Write("long.itc", longText)};
  ASSERT_FALSE(ScanInputs(paths, tail, ScanDepth::HeaderAndTail));
  ASSERT_FALSE(ScanInputs(paths, whole, ScanDepth::Whole));
  ASSERT_TRUE(tail[1].timeStep && tail[2].timeStep);
  EXPECT_EQ(*tail[1].timeStep, 5.0);
  EXPECT_EQ(*tail[1].timeStep, *whole[1].timeStep);
  EXPECT_EQ(*tail[2].timeStep, 2.0);
  EXPECT_EQ(whole[1].injectionMarkers, 3);
  std::vector<std::string> described;
  for (const Difference& d : CompareAll(tail).differences) described.push_back(DescribeDifference(d));
  EXPECT_EQ(described, std::vector<std::string>{"time step: 2 in the first file, 5 in the second file"});
}

TEST(CompareMissing, WhatEitherFileLacksIsNoDifference) {
  TempDir dir;
  Portion second = Second(2);
  second.temperature = "$ warm ";      // not a number: the value is lacking
  second.instrument = "% no version";  // names no software version
  second.baselineLines = 0;
  second.injections = 0;
  second.countLine = "$ 0 ";           // no data lines: no time step of its own
  std::vector<FileFacts> facts;
  ASSERT_FALSE(ScanInputs({dir.Write("a.itc", Portion{}.Text()), dir.Write("b.itc", second.Text())},
                          facts));
  Comparison cmp = CompareAll(facts);
  EXPECT_TRUE(cmp.agrees());
  EXPECT_EQ(cmp.notCompared,
            (std::vector<std::string>{"target temperature: the second file's header does not hold it",
                                      "instrument: the second file's header does not name it",
                                      "time step: the second file has fewer than two data lines"}));
}

TEST(CompareMissing, HeaderNotOfTheUsualFormIsNotCompared) {
  TempDir dir;
  Portion second = Second(2);
  second.temperature = "$ 40 ";
  std::string text = Replace(second.Text(), "$ITC", "$XYZ");
  std::vector<FileFacts> facts;
  ASSERT_FALSE(ScanInputs({dir.Write("a.itc", Portion{}.Text()), dir.Write("b.itc", text)}, facts));
  Comparison cmp = CompareAll(facts);
  EXPECT_TRUE(cmp.agrees());
  EXPECT_EQ(cmp.notCompared,
            (std::vector<std::string>{
                "temperature, concentration, cell volume and instrument: the second file's header "
                "is not of the usual form (its first line is not \"$ITC\")"}));
}

TEST(CompareMissing, LaterPortionsAreComparedWithTheFirst) {
  TempDir dir;
  Portion third = Second(2);
  third.cell = "# 1.5 ";
  std::vector<FileFacts> facts;
  ASSERT_FALSE(ScanInputs({dir.Write("a.itc", Portion{}.Text()), dir.Write("b.itc", Second(2).Text()),
                           dir.Write("c.itc", third.Text())},
                          facts));
  Comparison cmp = CompareAll(facts);
  ASSERT_EQ(cmp.differences.size(), 1u);
  EXPECT_EQ(DescribeDifference(cmp.differences[0]),
            "cell volume (mL): 1.4266 in the first file, 1.5 in the third file");
}

// ------------------------------------------------------------------ real files

// Cuts a real titration into two portions as the instrument would have written
// them: each with its own header announcing its injections, "@0" and a baseline,
// injections numbered from 1 and time stamps starting again.
struct Cut {
  std::string first, second;
};

std::vector<std::string> SplitAnyLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char ch = text[i];
    if (ch == '\r' || ch == '\n') {
      lines.push_back(cur);
      cur.clear();
      if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      cur += ch;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

Cut CutRealFile(const std::vector<std::string>& lines, int firstInjections, const char* eol) {
  std::vector<std::size_t> markers;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (!lines[i].empty() && lines[i][0] == '@') markers.push_back(i);
  const int total = static_cast<int>(markers.size()) - 1;
  std::vector<std::string> header(lines.begin(), lines.begin() + static_cast<long>(markers[0]));
  auto headerFor = [&](int from, int count) {
    std::vector<std::string> h(header.begin(), header.begin() + 10);
    h[1] = "$ " + std::to_string(count) + " ";
    for (int k = from; k < from + count; ++k) h.push_back(header[9 + static_cast<std::size_t>(k)]);
    h.insert(h.end(), header.begin() + 10 + total, header.end());
    return h;
  };
  auto join = [&](const std::vector<std::string>& v) {
    std::string s;
    for (const std::string& l : v) s += l + eol;
    return s;
  };
  const std::size_t cutAt = markers[static_cast<std::size_t>(firstInjections) + 1];
  std::vector<std::string> first = headerFor(1, firstInjections);
  first.insert(first.end(), lines.begin() + static_cast<long>(markers[0]),
               lines.begin() + static_cast<long>(cutAt));

  std::vector<std::string> second = headerFor(firstInjections + 1, total - firstInjections);
  auto rest = [](const std::string& l) { return l.substr(l.find(',')); };
  int t = 0;
  const int step = static_cast<int>(std::stod(lines[markers[0] + 2]) - std::stod(lines[markers[0] + 1]));
  second.push_back("@0");
  for (std::size_t i = cutAt - 4; i < cutAt; ++i) {  // the last baseline before the cut, re-recorded
    t += step;
    second.push_back(std::to_string(t) + ".00" + rest(lines[i]));
  }
  int number = 0;
  // The second run's clock started this much later: its marker lines' start times say so.
  const double clockStart = std::stod(lines[cutAt + 1]) - (t + step);
  for (std::size_t i = cutAt; i < lines.size(); ++i) {
    if (lines[i][0] == '@') {
      second.push_back("@" + std::to_string(++number) + rest(test::WithStartTimeMoved(lines[i], -clockStart)));
    } else {
      t += step;
      second.push_back(std::to_string(t) + ".00" + rest(lines[i]));
    }
  }
  return {join(first), join(second)};
}

struct RealFile {
  const char* name;
  int firstInjections;
};

class RealFiles : public ::testing::TestWithParam<RealFile> {};

TEST_P(RealFiles, PortionsWithTheirOwnHeadersRebuildTheTitration) {
  const std::string path = std::string(TANDEMO_SAMPLES_DIR) + "/" + GetParam().name;
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "real files not present at " << path;
  const std::string original = ReadAll(path);
  const bool lfOnly = original.find('\r') == std::string::npos;
  std::vector<std::string> lines = SplitAnyLines(original);
  Cut cut = CutRealFile(lines, GetParam().firstInjections, lfOnly ? "\n" : "\r\n");

  TempDir dir;
  std::string a = dir.Write("a.itc", cut.first);
  std::string b = dir.Write("b.itc", cut.second);
  std::vector<FileFacts> facts;
  ASSERT_FALSE(ScanInputs({a, b}, facts));
  EXPECT_TRUE(CompareAll(facts).agrees());

  MergeOutcome done = Merge({a, b}, dir.Path("out.itc"), true);
  ASSERT_TRUE(done.ok()) << done.error->Message();
  std::string expected;
  for (const std::string& l : lines) expected += l + "\r\n";
  // Time stamps are written back as whole seconds with two decimals, as the instrument does,
  // and the marker lines' start times are back on the first run's clock.
  EXPECT_EQ(ReadAll(dir.Path("out.itc")), expected);
}

INSTANTIATE_TEST_SUITE_P(Samples, RealFiles,
                         ::testing::Values(RealFile{"PIIE09trypsin2502111.itc", 5},
                                           RealFile{"PIIE09trypsin2502111.itc", 1},
                                           RealFile{"sample2.itc", 6},
                                           RealFile{"20191018a5.itc", 4},
                                           RealFile{"102612c24.itc", 0},
                                           RealFile{"Mg1EDTAp1a.itc", 11}),
                         [](const auto& test) {
                           return std::string(test.param.name).substr(0, 6) + "_" +
                                  std::to_string(test.param.firstInjections);
                         });

}  // namespace
}  // namespace tandemo
