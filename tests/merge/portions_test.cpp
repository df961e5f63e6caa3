// Joining portions: the header that lists every injection, the comparison of the
// files, and more than two portions.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <tuple>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>

#include "merge/first_copy.hpp"
#include "merge/inspection.hpp"
#include "merge/merge_run.hpp"
#include "merge/rewrite.hpp"
#include "merge/rounding.hpp"
#include "portion_fixture.hpp"
#include "test_support.hpp"

namespace tandemo {
namespace {

using test::Portion;
using test::SplitLines;

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
  r.options.updateHeader = updateHeader;
  r.options.compensate = compensate;
  return RunMerge(r, Inspect(r.inputs));
}

// The differences an inspection finds, as the user reads them.
std::vector<std::string> DifferenceTexts(const Inspection& inspection) {
  std::vector<std::string> texts;
  for (const Difference& d : inspection.differences) texts.push_back(d.text);
  return texts;
}

// ---------------------------------------------------------------- header update

TEST(HeaderUpdate, OffLeavesTheFirstHeaderAsItStands) {
  TempDir dir;
  Portion first;
  std::string a = dir.Write("a.itc", first.Text());
  std::string b = dir.Write("b.itc", Second(3).Text());
  ASSERT_TRUE(Merge({a, b}, dir.Path("plain.itc"), false).ok());
  ASSERT_TRUE(RunMerge(a, b, dir.Path("two.itc"), false).ok());
  std::vector<std::string> lines = SplitLines(ReadAll(dir.Path("plain.itc")));
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

  std::vector<std::string> out = SplitLines(ReadAll(dir.Path("out.itc")));
  std::vector<std::string> in = SplitLines(first.Text());
  EXPECT_EQ(out[1], "$  5   ");
  for (int k = 1; k <= 2; ++k)
    EXPECT_EQ(out[9 + static_cast<std::size_t>(k)], first.injectionLine(k));
  for (int k = 1; k <= 3; ++k)
    EXPECT_EQ(out[11 + static_cast<std::size_t>(k)], second.injectionLine(k));
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
  std::vector<std::string> out = SplitLines(ReadAll(dir.Path("out.itc")));
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
std::ostream& operator<<(std::ostream& os, const RefusedHeader& c) { return os << c.name; }

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
        RefusedHeader{"CountNotWhole", Portion{}.Text(),
                      Replace(Second(2).Text(), "$ 2 ", "$ 2.5 "),
                      "Bad header (1003): second file: the header cannot list every injection: "
                      "its second line is not \"$\" and a whole number"},
        RefusedHeader{"InjectionLineMissing", Replace(Portion{}.Text(), "$ 11 , 20", "# 11 , 20"),
                      Second(2).Text(),
                      "Bad header (1003): first file: the header cannot list every injection: "
                      "line 12 should be the \"$\" line of injection 2"},
        RefusedHeader{
            "FirstPerformedMoreThanAnnounced", Replace(Portion{}.Text(), "$ 2 ", "$ 1 "),
            Second(2).Text(),
            "Bad header (1003): first file, line 2: the header announces 1 injections but 2 were "
            "performed"},
        // "@2" is missing: the last marker line says 3 injections, 2 are appended.
        RefusedHeader{"SecondNotNumberedInOrder", Portion{}.Text(),
                      Replace(Second(3).Text(), "@2,10.0000,20.0\r\n", ""),
                      "Bad header (1003): second file: the header cannot list every injection: the "
                      "injections are "
                      "not numbered one after another (the header lists 3 from this file, up to "
                      "number 5; 2 were "
                      "appended, up to number 5)"},
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
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<bool, bool>>& p) {
                           return std::string(std::get<0>(p.param) ? "Compensated"
                                                                   : "Uncompensated") +
                                  (std::get<1>(p.param) ? "_HeaderUpdated" : "_HeaderAsIs");
                         });

// ------------------------------------------------------------------ comparison

struct DifferenceCase {
  const char* name;
  void (*change)(Portion&);
  std::vector<std::string> differences;  // as described to the user
  std::vector<std::string> notes;
};
std::ostream& operator<<(std::ostream& os, const DifferenceCase& c) { return os << c.name; }

class Compare : public ::testing::TestWithParam<DifferenceCase> {};

TEST_P(Compare, ListsEachDifferenceAndNote) {
  TempDir dir;
  Portion first;
  first.unit = "% VPITC06.03.471";
  Portion second = Second(2);
  second.unit = first.unit;
  GetParam().change(second);
  const Inspection inspection =
      Inspect({dir.Write("a.itc", first.Text()), dir.Write("b.itc", second.Text())});
  ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
  EXPECT_EQ(DifferenceTexts(inspection), GetParam().differences);
  EXPECT_EQ(inspection.notes, GetParam().notes);
  EXPECT_TRUE(inspection.notCompared.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Compare,
    ::testing::Values(
        DifferenceCase{"Agree", [](Portion&) {}, {}, {}},
        DifferenceCase{"SameNumbersWrittenOtherwise",
                       [](Portion& p) {
                         p.temperature = "$ 25.0 ";
                         p.syringe = "# .1";
                         p.cell = "#1.42660 ";
                       },
                       {},
                       {}},
        DifferenceCase{"Temperature",
                       [](Portion& p) { p.temperature = "$ 30 "; },
                       {"target temperature: 25 in the first file, 30 in the second file"},
                       {}},
        DifferenceCase{
            "Syringe",
            [](Portion& p) { p.syringe = "# 0.2 "; },
            {"syringe concentration (mM): 0.1 in the first file, 0.2 in the second file"},
            {}},
        DifferenceCase{"Cell",
                       [](Portion& p) { p.cell = "# 0.2033 "; },
                       {"cell volume (mL): 1.4266 in the first file, 0.2033 in the second file"},
                       {}},
        DifferenceCase{"InstrumentUnit",
                       [](Portion& p) { p.unit = "% VPITC07.01.002"; },
                       {"instrument unit: VPITC06.03.471 in the first file, VPITC07.01.002 in the "
                        "second file"},
                       {}},
        // A software update on the same unit is worth a word, not a refusal.
        DifferenceCase{"ControlSoftware",
                       [](Portion& p) { p.instrument = "% VPViewer2000 Ver: 1.31.0"; },
                       {},
                       {"control software: VPViewer2000 Ver: 1.30.0 in the first file, "
                        "VPViewer2000 Ver: 1.31.0 in "
                        "the second file"}},
        DifferenceCase{
            "CellConcentration",
            [](Portion& p) { p.cellConcentration = "# 0.045 "; },
            {},
            {"cell concentration (mM): 0.05 in the first file, 0.045 in the second file"}},
        DifferenceCase{"TimeStep",
                       [](Portion& p) { p.step = 5; },
                       {"time step: 2 in the first file, 5 in the second file"},
                       {}},
        DifferenceCase{"Several",
                       [](Portion& p) {
                         p.temperature = "$ 20 ";
                         p.step = 1;
                       },
                       {"target temperature: 25 in the first file, 20 in the second file",
                        "time step: 2 in the first file, 1 in the second file"},
                       {}}),
    [](const auto& test) { return std::string(test.param.name); });

// The run start time of the newest instruments: a later portion must have started later.
struct RunOrderCase {
  const char* name;
  std::string first, second;  // the software lines
  std::vector<std::string> differences;
  std::vector<std::string> notCompared;
};
std::ostream& operator<<(std::ostream& os, const RunOrderCase& c) { return os << c.name; }

class RunOrder : public ::testing::TestWithParam<RunOrderCase> {};

TEST_P(RunOrder, LaterPortionStartedLater) {
  TempDir dir;
  Portion first, second = Second(2);
  first.instrument = GetParam().first;
  second.instrument = GetParam().second;
  const Inspection inspection =
      Inspect({dir.Write("a.itc", first.Text()), dir.Write("b.itc", second.Text())});
  ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
  EXPECT_EQ(DifferenceTexts(inspection), GetParam().differences);
  EXPECT_EQ(inspection.notCompared, GetParam().notCompared);
  EXPECT_TRUE(inspection.notes.empty());  // the run time is no part of the control software
}

const char kNewest[] = "% MicroCalITC Ver: 1.29.32 Run time:";

INSTANTIATE_TEST_SUITE_P(
    Cases, RunOrder,
    ::testing::Values(
        RunOrderCase{"LaterRun",
                     std::string(kNewest) + "10/29/2019 5:59:16 PM",
                     std::string(kNewest) + "10/29/2019 9:02:40 PM",
                     {},
                     {}},
        // 12 PM is noon, 12 AM midnight: 12:30 AM comes before 1:00 AM.
        RunOrderCase{"MidnightHour",
                     std::string(kNewest) + "10/30/2019 12:30:00 AM",
                     std::string(kNewest) + "10/30/2019 1:00:00 AM",
                     {},
                     {}},
        RunOrderCase{"NoonBeforeAfternoon",
                     std::string(kNewest) + "10/30/2019 12:59:59 PM",
                     std::string(kNewest) + "10/30/2019 1:00:00 PM",
                     {},
                     {}},
        // Month first: 10/29 is before 11/2, though 29 > 2.
        RunOrderCase{"MonthBeforeDay",
                     std::string(kNewest) + "10/29/2019 11:00:00 PM",
                     std::string(kNewest) + "11/2/2019 8:00:00 AM",
                     {},
                     {}},
        RunOrderCase{"SameSecond",
                     std::string(kNewest) + "10/29/2019 5:59:16 PM",
                     std::string(kNewest) + "10/29/2019 5:59:16 PM",
                     {},
                     {}},
        RunOrderCase{"Swapped",
                     std::string(kNewest) + "10/29/2019 9:02:40 PM",
                     std::string(kNewest) + "10/29/2019 5:59:16 PM",
                     {"run start time: the second file's run started before the first's: are they "
                      "swapped? (first "
                      "file 10/29/2019 9:02:40 PM, second file 10/29/2019 5:59:16 PM)"},
                     {}},
        RunOrderCase{"YearBefore",
                     std::string(kNewest) + "1/2/2020 1:00:00 AM",
                     std::string(kNewest) + "12/31/2019 11:59:59 PM",
                     {"run start time: the second file's run started before the first's: are they "
                      "swapped? (first "
                      "file 1/2/2020 1:00:00 AM, second file 12/31/2019 11:59:59 PM)"},
                     {}},
        // Older instruments write no run time: nothing to compare, nothing to say.
        RunOrderCase{"NeitherHasOne", "% ITC200 Ver: 1.26.1", "% ITC200 Ver: 1.26.1", {}, {}},
        RunOrderCase{
            "SecondLacksIt",
            std::string(kNewest) + "10/29/2019 5:59:16 PM",
            "% MicroCalITC Ver: 1.29.32",
            {},
            {"run start time: the second file's header does not say when its run started"}},
        RunOrderCase{
            "NotATime",
            std::string(kNewest) + "10/29/2019 5:59:16 PM",
            std::string(kNewest) + "29.10.2019 17:59",
            {},
            {"run start time: the second file's header does not say when its run started"}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(RunOrderThree, EachPortionIsComparedWithTheOneBefore) {
  TempDir dir;
  Portion first, second = Second(2), third = Second(2);
  first.instrument = std::string(kNewest) + "10/29/2019 5:00:00 PM";
  second.instrument = std::string(kNewest) + "10/29/2019 9:00:00 PM";
  third.instrument =
      std::string(kNewest) + "10/29/2019 7:00:00 PM";  // after the first, before the second
  third.dp = 9.0;
  const Inspection inspection =
      Inspect({dir.Write("a.itc", first.Text()), dir.Write("b.itc", second.Text()),
               dir.Write("c.itc", third.Text())});
  ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
  EXPECT_EQ(DifferenceTexts(inspection),
            std::vector<std::string>{
                "run start time: the third file's run started before the second's: are they "
                "swapped? (second file 10/29/2019 9:00:00 PM, third file 10/29/2019 7:00:00 PM)"});
}

// The inspection reads a file's header, baseline and tail: the facts of a large
// file must come out as from reading every line.
TEST(InspectLarge, FactsFromTheTailOfALargeFile) {
  TempDir dir;
  Portion big = Second(3);
  big.linesPerInjection = 4000;  // about 300 KB, well past the tail that is read
  big.step = 5;
  std::string text = big.Text();
  ASSERT_GT(text.size(), 3u * 64 * 1024);
  // Lines so long that the tail holds fewer than two of them, and no marker line:
  // the tail read grows backwards until it has them.
  Portion longLines = Second(1);
  std::string longText = longLines.Text();
  longText += "12.00,1.0," + std::string(70000, '7') + "\r\n" + "14.00,1.0," +
              std::string(70000, '7') + "\r\n";
  const Inspection inspection =
      Inspect({dir.Write("a.itc", Portion{}.Text()), dir.Write("big.itc", text),
               dir.Write("long.itc", longText)});
  ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
  const FileFacts& bigFacts = inspection.files[1];
  ASSERT_TRUE(bigFacts.timeStep && bigFacts.lastTime && bigFacts.lastDp && bigFacts.baselineDp);
  EXPECT_EQ(bigFacts.timeStep->text, "5");
  EXPECT_EQ(bigFacts.lastTime->text, std::to_string(5 * (3 + 3 * 4000)) + ".00");
  EXPECT_EQ(bigFacts.lastDp->text,
            "131.22000");  // 11.2 + 0.01 for each of the 12002 lines after the first
  EXPECT_EQ(bigFacts.baselineDp->text, "11.22000");
  EXPECT_EQ(bigFacts.injectionsPerformed, 3);
  EXPECT_EQ(bigFacts.lastDataLine, 0);  // the tail alone was read: its line numbers are not known
  EXPECT_EQ(bigFacts.lineEnd, LineEnd::CrLf);
  EXPECT_EQ(bigFacts.identity.size, text.size());

  const FileFacts& longFacts = inspection.files[2];
  ASSERT_TRUE(longFacts.timeStep);
  EXPECT_EQ(longFacts.timeStep->text, "2");
  EXPECT_EQ(longFacts.injectionsPerformed, 1);
  EXPECT_EQ(DifferenceTexts(inspection),
            std::vector<std::string>{"time step: 2 in the first file, 5 in the second file"});
}

// The last injection lies far before the end, beyond several 256 KiB stretches that
// are searched for it; an "@" inside a line and a marker line without a comma after
// it are no injection.
TEST(InspectLarge, LastInjectionFarBeforeTheEnd) {
  TempDir dir;
  std::string text = Second(2).Text();  // ends with injection 2
  text += "@7,2.0,4.0\r\n";
  for (int i = 0; text.size() < 1500 * 1024; ++i) {
    text += std::to_string(100 + i) + ".00,11.2,25.0" + (i % 1000 == 0 ? ",n@8,x" : "") + "\r\n";
    if (i == 40000) text += "@\r\n";
  }
  const Inspection inspection =
      Inspect({dir.Write("a.itc", Portion{}.Text()), dir.Write("b.itc", text)});
  ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
  EXPECT_EQ(inspection.files[1].injectionsPerformed, 7);
  ASSERT_TRUE(inspection.files[1].timeStep);
  EXPECT_EQ(inspection.files[1].timeStep->text, "1");
}

// The tail read starts 64 KiB before the end; a line that starts exactly there
// belongs to the tail, one that starts a byte earlier to the stretch before it.
TEST(InspectLarge, LineStartingWhereTheTailStarts) {
  for (std::size_t before : {0u, 1u, 2u}) {
    SCOPED_TRACE("the last marker line starts " + std::to_string(before) +
                 " bytes before the tail");
    TempDir dir;
    Portion portion = Second(2);
    portion.linesPerInjection = 3000;  // well over 64 KiB
    std::string text = portion.Text();
    // "@3,x", then two data lines that fill the last 64 KiB but `before` bytes.
    const std::size_t tail = 64 * 1024;
    const std::string marker = "@3,x\r\n";
    // As many fields as the line before it: a shorter last line would be cut short.
    const std::string last = "9002.00,1.0,7\r\n";
    const std::size_t fill = tail - (marker.size() - before) - last.size() - 2;
    text += marker + "9000.00,1.0," + std::string(fill - 12, '7') + "\r\n" + last;
    ASSERT_EQ(text.size() - text.rfind(marker), tail + before);
    const Inspection inspection =
        Inspect({dir.Write("a.itc", Portion{}.Text()), dir.Write("b.itc", text)});
    ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
    EXPECT_EQ(inspection.files[1].injectionsPerformed, 3);
    ASSERT_TRUE(inspection.files[1].timeStep);
    EXPECT_EQ(inspection.files[1].timeStep->text, "2");
  }
}

TEST(InspectSmall, FactsOfAShortFile) {
  TempDir dir;
  Portion first;
  first.unit = "% ITC200_04.10.329";
  first.instrument = "% MicroCalITC Ver: 1.29.32 Run time:10/29/2019 5:59:16 PM";
  const std::string text = test::WithLineEnd(first.Text(), "\n");
  const Inspection inspection =
      Inspect({dir.Write("a.itc", text), dir.Write("b.itc", Second(2).Text())});
  const FileFacts& f = inspection.files[0];
  EXPECT_EQ(f.header.instrumentUnit, "ITC200_04.10.329");
  EXPECT_EQ(f.header.controlSoftware, "MicroCalITC Ver: 1.29.32");
  ASSERT_TRUE(f.header.runStart);
  EXPECT_EQ(f.header.runStart->text, "10/29/2019 5:59:16 PM");
  ASSERT_TRUE(f.header.temperature && f.header.syringeConcentration && f.header.cellConcentration &&
              f.header.cellVolume);
  EXPECT_EQ(f.header.temperature->text, "25");
  EXPECT_EQ(f.header.syringeConcentration->text, "0.1");
  EXPECT_EQ(f.header.cellConcentration->text, "0.05");
  EXPECT_EQ(f.header.cellVolume->text, "1.4266");
  EXPECT_EQ(f.header.announced, 2);
  EXPECT_EQ(f.injectionsPerformed, 2);
  EXPECT_EQ(f.lastTime->text, "18.00");  // 3 baseline + 2 x 3 data lines, 2 s apart
  EXPECT_EQ(f.lastDp->text, "10.58000");
  EXPECT_EQ(f.baselineDp->text, "10.52000");
  EXPECT_EQ(f.lastDataLine, 33);
  EXPECT_EQ(f.lineEnd, LineEnd::Lf);
}

// The line-end kind of a file, from its first 64 KiB; a CR last in the file ends a line alone.
TEST(InspectSmall, LineEndKind) {
  const std::pair<std::string, LineEnd> cases[] = {
      {"\r\n", LineEnd::CrLf}, {"\n", LineEnd::Lf}, {"\r", LineEnd::Cr}, {"mixed", LineEnd::Mixed}};
  for (const auto& [end, kind] : cases) {
    TempDir dir;
    std::string text = Portion{}.Text();
    if (end == "mixed") {
      text.replace(text.find("\r\n"), 2, "\n");
    } else {
      text = test::WithLineEnd(text, end);
    }
    const Inspection inspection =
        Inspect({dir.Write("a.itc", text), dir.Write("b.itc", Second(2).Text())});
    ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
    EXPECT_EQ(inspection.files[0].lineEnd, kind) << "line end " << (end == "\r" ? "CR" : end);
    EXPECT_EQ(inspection.files[0].injectionsPerformed, 2);
  }
}

struct StepTextCase {
  std::string previous, last, shown;
};

// Time steps are shown as the time stamps write them, never with binary noise.
TEST(InspectSteps, ShownAsTheTimeStampsWriteThem) {
  const StepTextCase cases[] = {{"602.00", "604.00", "2"},
                                {"602.4", "602.8", "0.4"},
                                {"100.00", "102.50", "2.5"},
                                {"1", "6", "5"},
                                {"0.1", "0.3", "0.2"}};
  for (const StepTextCase& c : cases) {
    TempDir dir;
    const std::string later =
        test::Text({"$ITC", "@0", "0,1", "@1,x", c.previous + ",1", c.last + ",2"});
    const Inspection inspection =
        Inspect({dir.Write("a.itc", test::Text({"@0", "1,1", "3,1", "@1,x", "5,5"})),
                 dir.Write("b.itc", later)});
    ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
    ASSERT_TRUE(inspection.files[1].timeStep);
    EXPECT_EQ(inspection.files[1].timeStep->text, c.shown) << c.previous << " to " << c.last;
  }
}

struct TailAgreementCase {
  std::string name;
  std::vector<std::string> lastLines;  // after "@1,x", the first file's last lines
  std::string step, lastTime, lastDp;  // the facts as the inspection shows them
  bool cutShort;                       // the last line is left out
};
std::ostream& operator<<(std::ostream& os, const TailAgreementCase& c) { return os << c.name; }

class TailAgreementTest : public ::testing::TestWithParam<std::tuple<TailAgreementCase, bool>> {};

// The inspection's time step, last time and last DP of a file are those the merge
// continues from, in a short file read whole and in a long one of which only the
// tail is read.
TEST_P(TailAgreementTest, InspectionAndMergeReadTheSameTail) {
  const auto& [c, longFile] = GetParam();
  TempDir dir;
  std::vector<std::string> lines = {"$ITC", "$ 1 ", "@0", "1.00,10.0,25.0", "@1,x"};
  // Lines of a long file's middle, of the same form; the tail read starts far after them.
  for (int i = 0; longFile && i < 5000; ++i) lines.push_back("3.00,10.0,25.0");
  lines.insert(lines.end(), c.lastLines.begin(), c.lastLines.end());
  const std::string path = dir.Write("a.itc", test::Text(lines));
  const Inspection inspection = Inspect({path, dir.Write("b.itc", Second(1).Text())});
  ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
  const FileFacts& facts = inspection.files[0];
  ASSERT_TRUE(facts.timeStep && facts.lastTime && facts.lastDp);
  EXPECT_EQ(facts.timeStep->text, c.step);
  EXPECT_EQ(facts.lastTime->text, c.lastTime);
  EXPECT_EQ(facts.lastDp->text, c.lastDp);

  // The merge's statistics of the same file, as the first file of a join.
  LineReader reader;
  ASSERT_TRUE(reader.Open(path));
  int fd = ::open(dir.Path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  LineWriter writer;
  writer.Attach(fd);
  TrackedOutput out(writer);
  MergeOptions options;
  MergeProgress progress(options, 0);
  FirstCopyReport report;
  ASSERT_FALSE(CopyFirstFile(reader, out, nullptr, progress, report));
  RunState state;
  ASSERT_FALSE(TakeStatistics(out, state));
  ::close(fd);
  EXPECT_EQ(report.cutShort.has_value(), c.cutShort);
  EXPECT_EQ(std::lround(facts.timeStep->number * 100), state.stepHundredths);
  EXPECT_EQ(std::llround(facts.lastTime->number * 100), state.timeHundredths);
  EXPECT_EQ(RoundToSingle(facts.lastDp->number), state.lastDp);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TailAgreementTest,
    ::testing::Combine(
        ::testing::Values(
            TailAgreementCase{"WholeSeconds",
                              {"600.00,10.5,25.0", "602.00,10.52,25.0"},
                              "2",
                              "602.00",
                              "10.52",
                              false},
            TailAgreementCase{"TwoAndAHalf",
                              {"600.00,10.5,25.0", "602.50,10.52,25.0"},
                              "2.5",
                              "602.50",
                              "10.52",
                              false},
            TailAgreementCase{
                "Hundredth", {"6.00,10.5,25.0", "6.01,10.52,25.0"}, "0.01", "6.01", "10.52", false},
            // Fewer fields than the line before, and a DP field that is not a number: left out of
            // both.
            TailAgreementCase{"CutShortFields",
                              {"598.00,10.4,25.0", "600.00,10.5,25.0", "602.00,9.70"},
                              "2",
                              "600.00",
                              "10.5",
                              true},
            TailAgreementCase{"CutAfterItsComma",
                              {"598.00,10.4,25.0", "600.00,10.5,25.0", "602.00,"},
                              "2",
                              "600.00",
                              "10.5",
                              true},
            // No comma: only the start of a time field is left, so the data lines before it give
            // the facts, and the merge leaves it out.
            TailAgreementCase{"CutBeforeItsComma",
                              {"598.00,10.4,25.0", "600.00,10.5,25.0", "602"},
                              "2",
                              "600.00",
                              "10.5",
                              true}),
        ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<TailAgreementCase, bool>>& p) {
      return std::get<0>(p.param).name + (std::get<1>(p.param) ? "Long" : "Short");
    });

TEST(CompareMissing, WhatEitherFileLacksIsNoDifference) {
  TempDir dir;
  Portion second = Second(1);
  second.temperature = "$ warm ";      // not a number: the value is lacking
  second.instrument = "% no version";  // names a unit but no software
  second.baselineLines = 0;
  second.linesPerInjection = 0;  // no data lines: no time step of its own
  const Inspection inspection =
      Inspect({dir.Write("a.itc", Portion{}.Text()), dir.Write("b.itc", second.Text())});
  ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
  EXPECT_TRUE(inspection.agrees());
  EXPECT_EQ(
      inspection.notCompared,
      (std::vector<std::string>{"instrument unit: the first file's header does not name it",
                                "control software: the second file's header does not name it",
                                "target temperature: the second file's header does not hold it",
                                "time step: the second file has fewer than two data lines"}));
}

TEST(CompareMissing, HeaderNotOfTheUsualFormIsNotCompared) {
  TempDir dir;
  Portion second = Second(2);
  second.temperature = "$ 40 ";
  std::string text = Replace(second.Text(), "$ITC", "$XYZ");
  const Inspection inspection =
      Inspect({dir.Write("a.itc", Portion{}.Text()), dir.Write("b.itc", text)});
  ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
  EXPECT_TRUE(inspection.agrees());
  EXPECT_EQ(inspection.notCompared,
            (std::vector<std::string>{
                "target temperature, concentrations and cell volume: the second file's header "
                "is not of the usual form (its first line is not \"$ITC\")"}));
}

TEST(CompareMissing, ByteOrderMarkIsNoPartOfTheHeader) {
  TempDir dir;
  Portion second = Second(2);
  second.temperature = "$ 40 ";
  const Inspection inspection = Inspect(
      {dir.Write("a.itc", Portion{}.Text()), dir.Write("b.itc", "\xEF\xBB\xBF" + second.Text())});
  ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
  EXPECT_EQ(
      DifferenceTexts(inspection),
      std::vector<std::string>{"target temperature: 25 in the first file, 40 in the second file"});
}

TEST(CompareMissing, LaterPortionsAreComparedWithTheFirst) {
  TempDir dir;
  Portion third = Second(2);
  third.cell = "# 1.5 ";
  third.dp = 9.0;
  const Inspection inspection =
      Inspect({dir.Write("a.itc", Portion{}.Text()), dir.Write("b.itc", Second(2).Text()),
               dir.Write("c.itc", third.Text())});
  ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
  EXPECT_EQ(DifferenceTexts(inspection),
            std::vector<std::string>{
                "cell volume (mL): 1.4266 in the first file, 1.5 in the third file"});
}

// ------------------------------------------------------------------ real files

// Cuts a real titration into two portions as the instrument would have written
// them: each with its own header announcing its injections, "@0" and a baseline,
// injections numbered from 1 and time stamps starting again.
struct Cut {
  std::string first, second;
};

// How the first portion ends.
enum class FirstRun {
  Complete,      // its header announces the injections it performed
  StoppedEarly,  // its header announces the whole titration; the rest was run as the second portion
};

// The software line with the run started `hours` later, on the newest instruments.
std::string RunStartedLater(const std::string& line, int hours) {
  const std::size_t at = line.find("Run time:");
  if (at == std::string::npos) return line;
  std::string rest = line.substr(at + 9);  // "10/29/2019 5:59:16 PM"
  const std::size_t space = rest.find(' '), colon = rest.find(':');
  const int hour = std::stoi(rest.substr(space + 1, colon - space - 1));
  EXPECT_LE(hour + hours, 11) << "the test moves the run within the same half-day";
  return line.substr(0, at + 9) + rest.substr(0, space + 1) + std::to_string(hour + hours) +
         rest.substr(colon);
}

Cut CutRealFile(const std::vector<std::string>& lines, int firstInjections, const char* eol,
                FirstRun firstRun) {
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
  std::vector<std::string> first = firstRun == FirstRun::Complete
                                       ? headerFor(1, firstInjections)
                                       : std::vector<std::string>(header);
  first.insert(first.end(), lines.begin() + static_cast<long>(markers[0]),
               lines.begin() + static_cast<long>(cutAt));

  // The second run: its own header, started later, "@0" and a baseline, its own clock.
  std::vector<std::string> second = headerFor(firstInjections + 1, total - firstInjections);
  for (std::string& l : second) l = RunStartedLater(l, 3);
  auto rest = [](const std::string& l) { return l.substr(l.find(',')); };
  int t = 0;
  const int step =
      static_cast<int>(std::stod(lines[markers[0] + 2]) - std::stod(lines[markers[0] + 1]));
  second.push_back("@0");
  for (std::size_t i = cutAt - 4; i < cutAt;
       ++i) {  // the last baseline before the cut, re-recorded
    t += step;
    second.push_back(std::to_string(t) + ".00" + rest(lines[i]));
  }
  int number = 0;
  // The second run's clock started this much later: its marker lines' start times say so.
  const double clockStart = std::stod(lines[cutAt + 1]) - (t + step);
  for (std::size_t i = cutAt; i < lines.size(); ++i) {
    if (lines[i][0] == '@') {
      second.push_back("@" + std::to_string(++number) +
                       rest(test::WithStartTimeMoved(lines[i], -clockStart)));
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
  FirstRun firstRun;
};
std::ostream& operator<<(std::ostream& os, const RealFile& c) {
  return os << c.name << ", first portion of " << c.firstInjections << " injections"
            << (c.firstRun == FirstRun::StoppedEarly ? ", stopped early" : "");
}

class RealFiles : public ::testing::TestWithParam<RealFile> {};

TEST_P(RealFiles, PortionsWithTheirOwnHeadersRebuildTheTitration) {
  const RealFile& c = GetParam();
  const std::string path = std::string(TANDEMO_SAMPLES_DIR) + "/" + c.name;
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "real files not present at " << path;
  const std::string original = ReadAll(path);
  const bool lfOnly = original.find('\r') == std::string::npos;
  std::vector<std::string> lines = SplitLines(original);
  Cut cut = CutRealFile(lines, c.firstInjections, lfOnly ? "\n" : "\r\n", c.firstRun);

  TempDir dir;
  std::string a = dir.Write("a.itc", cut.first);
  std::string b = dir.Write("b.itc", cut.second);
  const Inspection inspection = Inspect({a, b});
  ASSERT_FALSE(inspection.failure) << inspection.failure->Message();
  EXPECT_TRUE(inspection.agrees()) << inspection.differences[0].text;
  EXPECT_TRUE(inspection.notes.empty()) << inspection.notes[0];
  EXPECT_TRUE(inspection.notCompared.empty()) << inspection.notCompared[0];
  EXPECT_EQ(inspection.files[0].injectionsPerformed, c.firstInjections);

  // Without --force, with --update-header: the original titration, its header
  // listing exactly the injections performed.
  MergeOutcome done = Merge({a, b}, dir.Path("out.itc"), true);
  ASSERT_TRUE(done.ok()) << done.error->Message();
  const int total = static_cast<int>(std::count_if(
                        lines.begin(), lines.end(),
                        [](const std::string& l) { return !l.empty() && l[0] == '@'; })) -
                    1;
  EXPECT_EQ(done.summary.injectionsAnnounced, total);
  EXPECT_EQ(done.summary.plannedNotRun,
            c.firstRun == FirstRun::StoppedEarly ? total - c.firstInjections : 0);
  std::vector<std::string> merged = SplitLines(ReadAll(dir.Path("out.itc")));
  ASSERT_EQ(merged.size(), lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // Time stamps are written back as whole seconds with two decimals, as the instrument does,
    // and the marker lines' start times are back on the first run's clock.
    EXPECT_EQ(merged[i], lines[i]) << "line " << i + 1;
  }
  EXPECT_EQ(ReadAll(dir.Path("out.itc")).find('\n') - 1, merged[0].size()) << "CR LF line ends";
}

INSTANTIATE_TEST_SUITE_P(
    Samples, RealFiles,
    ::testing::Values(RealFile{"Mg1EDTAp1a.itc", 10, FirstRun::Complete},
                      RealFile{"Mg1EDTAp1a.itc", 15, FirstRun::StoppedEarly},
                      RealFile{"PIIE09trypsin2502111.itc", 5, FirstRun::Complete},
                      RealFile{"PIIE09trypsin2502111.itc", 1, FirstRun::Complete},
                      RealFile{"PIIE09trypsin2502111.itc", 4, FirstRun::StoppedEarly},
                      RealFile{"102612c24.itc", 0, FirstRun::Complete},
                      RealFile{"102612c24.itc", 0, FirstRun::StoppedEarly},
                      RealFile{"sample2.itc", 6, FirstRun::Complete},
                      RealFile{"sample2.itc", 3, FirstRun::StoppedEarly},
                      RealFile{"20191018a5.itc", 5, FirstRun::Complete},
                      RealFile{"20191018a5.itc", 8, FirstRun::StoppedEarly}),
    [](const auto& test) {
      return test::FileCaseName(test.param.name) + "_" +
             std::to_string(test.param.firstInjections) +
             (test.param.firstRun == FirstRun::StoppedEarly ? "_StoppedEarly" : "");
    });

}  // namespace
}  // namespace tandemo
