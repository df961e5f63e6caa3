// The merge run from paths to the output file: the first file copied, the second
// appended, the time axis taken from the first file's last data lines, and every
// failure leaving the output as it was.
#include "merge/merge_run.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "failure_cases.hpp"
#include "merge/tracked_output.hpp"
#include "test_support.hpp"

namespace tandemo {
namespace {

using test::FileState;
using test::TempDir;
using test::Text;

struct Merged {
  MergeOutcome outcome;
  std::string bytes;  // the output file; empty when none was written
};

Merged Merge(const TempDir& dir, const std::string& first, const std::string& second,
             bool compensate) {
  test::WriteFile(dir / "first.itc", first);
  test::WriteFile(dir / "second.itc", second);
  Merged m;
  m.outcome = RunMerge(dir / "first.itc", dir / "second.itc", dir / "out.itc", compensate);
  m.bytes = test::ReadFile(dir / "out.itc").value_or("");
  return m;
}

// A first file with a header, "@0" and its baseline, then injections 1 to 10:
// 11 marker lines, time stamps 2.0 to 598.0 in steps of 2, ending with the lines
// 596.0,10.50,25.0 and 598.0,10.52,25.0.
std::vector<std::string> TypicalFirstFile() {
  std::vector<std::string> lines = {"$ITC", "$ 10 ", "$ 0.4 , 0.8 , 180 , 5 ", "# 25 ", "?", "@0"};
  for (int t = 2, n = 0; t <= 598; t += 2, ++n) {
    if (n > 0 && n % 29 == 0) lines.push_back("@" + std::to_string(n / 29) + ",4.0000,8.0");
    if (t == 596) {
      lines.push_back("596.0,10.50,25.0");
    } else if (t == 598) {
      lines.push_back("598.0,10.52,25.0");
    } else {
      lines.push_back(std::to_string(t) + ".0,10." + std::to_string(10 + n % 80) + ",25.0");
    }
  }
  return lines;
}

const std::string kTypicalSecond = Text({"header", "@0", "2.0,10.90,25.1", "4.0,10.92,25.1",
                                         "@1,5.0", "6.0,11.40,25.1", "8.0,11.38,25.1"});

TEST(MergeRunTest, TypicalJoinByteForByte) {
  TempDir dir;
  int markers = 0;
  for (const std::string& l : TypicalFirstFile()) markers += l[0] == '@';
  ASSERT_EQ(markers, 11);
  const std::string first = Text(TypicalFirstFile());
  Merged off = Merge(dir, first, kTypicalSecond, false);
  ASSERT_TRUE(off.outcome.ok()) << off.outcome.error->Message();
  EXPECT_EQ(off.bytes, first + Text({"@11,5.0", "600.00,11.40,25.1", "602.00,11.38,25.1"}));
  EXPECT_EQ(Describe(off.outcome.summary), "Wrote 318 lines to \"" + (dir / "out.itc") +
                                               "\": 1 injection appended (numbered 11).");

  Merged on = Merge(dir, first, kTypicalSecond, true);
  ASSERT_TRUE(on.outcome.ok()) << on.outcome.error->Message();
  EXPECT_EQ(on.bytes, first + Text({"@11,5.0", "600.00,11.0,25.1", "602.00,10.98,25.1"}));
  EXPECT_EQ(Describe(on.outcome.summary), "Wrote 318 lines to \"" + (dir / "out.itc") +
                                              "\": 1 injection appended (numbered 11), DP offset "
                                              "0.39999962.");
}

TEST(MergeRunTest, FirstFileIsCopiedWithoutItsEmptyLines) {
  TempDir dir;
  // Every non-empty line stays as read: blanks, a marker line without a comma, 8-bit text.
  const std::string first =
      "$ITC \r\n\r\n# 0.2 , \xe9\r\n@0\r\n1.0,5.0\r\n\r\n\r\n@\r\n2.0,6.0 \r\n3.0,7.0\r\n";
  Merged m = Merge(dir, first, Text({"@0", "1,1", "@1,x", "9,8"}), false);
  ASSERT_TRUE(m.outcome.ok()) << m.outcome.error->Message();
  EXPECT_EQ(m.bytes, Text({"$ITC ", "# 0.2 , \xe9", "@0", "1.0,5.0", "@", "2.0,6.0 ", "3.0,7.0",
                           // 2 marker lines in the first file, "@0" of the second lowers it to 1.
                           "@2,x", "4.00,8"}));
}

// The first file's lines as the merge copies them: split at CR LF, CR and LF,
// empty lines dropped, each ended with CR LF.
std::string CopiedLines(const std::string& bytes) {
  std::string out;
  for (const std::string& line : test::SplitLines(bytes)) {
    if (!line.empty()) out += line + "\r\n";
  }
  return out;
}

struct LargeFirstCase {
  std::string name;
  std::string (*lineEnd)(int i);  // the end of data line i
  std::string (*extra)(int i);    // what follows data line i
};
std::ostream& operator<<(std::ostream& os, const LargeFirstCase& c) { return os << c.name; }

class LargeFirstFileTest : public testing::TestWithParam<LargeFirstCase> {};

// A first file of several read buffers is copied in blocks where its lines stand
// unchanged; whatever is not (empty lines, other line ends, a lone CR, long lines),
// wherever it falls, comes out as from copying line by line.
TEST_P(LargeFirstFileTest, CopiedAsLineByLine) {
  TempDir dir;
  std::string first = "$ITC\r\n$ 10 \r\n@0\r\n";
  int time = 0;
  for (int i = 0; first.size() < 900 * 1024; ++i) {
    if (i % 500 == 499) first += "@" + std::to_string(i / 500 + 1) + ",4.0,8.0\r\n";
    time += 2;
    first +=
        std::to_string(time) + ".00,10." + std::to_string(i % 89) + ",25.0" + GetParam().lineEnd(i);
    first += GetParam().extra(i);
  }
  first += std::to_string(time + 2) + ".00,9.5,25.0\r\n" + std::to_string(time + 4) +
           ".00,9.5,25.0\r\n\r\n";
  Merged m = Merge(dir, first, Text({"@0", "1,1", "@1,x", "9,8"}), false);
  ASSERT_TRUE(m.outcome.ok()) << m.outcome.error->Message();
  const std::string copied = CopiedLines(first);
  ASSERT_GE(m.bytes.size(), copied.size());
  EXPECT_TRUE(m.bytes.compare(0, copied.size(), copied) == 0) << GetParam().name;
  EXPECT_EQ(m.bytes.substr(copied.size()),
            Text({"@" + std::to_string(m.outcome.summary.joins[0].firstNumber) + ",x",
                  std::to_string(time + 6) + ".00,8"}))
      << "the step and last time come from the file's last two data lines";
  EXPECT_FALSE(m.outcome.summary.firstFile.cutShort);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LargeFirstFileTest,
    testing::Values(
        LargeFirstCase{"CrLf", [](int) { return std::string("\r\n"); },
                       [](int) { return std::string(); }},
        LargeFirstCase{"EmptyLinesBetween", [](int) { return std::string("\r\n"); },
                       [](int i) { return std::string(i % 37 == 0 ? "\r\n\n\r" : ""); }},
        LargeFirstCase{"LfAndCrNowAndThen",
                       [](int i) {
                         return std::string(i % 41 == 0 ? "\n" : i % 43 == 0 ? "\r" : "\r\n");
                       },
                       [](int) { return std::string(); }},
        LargeFirstCase{"LoneCrInsideALine", [](int) { return std::string("\r\n"); },
                       [](int i) { return std::string(i % 53 == 0 ? "x,1\ry,2\r\n" : ""); }},
        LargeFirstCase{"LfOnly", [](int) { return std::string("\n"); },
                       [](int) { return std::string(); }},
        LargeFirstCase{"LongLines", [](int) { return std::string("\r\n"); },
                       [](int i) {
                         return i % 400 == 0 ? "#" + std::string(5000, 'w') + "\r\n"
                                             : std::string();
                       }}),
    [](const testing::TestParamInfo<LargeFirstCase>& p) { return p.param.name; });

// What counts as an injection to append is a marker line with a comma, whatever its number.
TEST(MergeRunTest, InjectionNumberedZeroIsAppended) {
  TempDir dir;
  Merged m = Merge(dir, Text({"@0", "1,1", "2,2"}), Text({"@0,x", "5,5", "6,6"}), false);
  ASSERT_TRUE(m.outcome.ok()) << m.outcome.error->Message();
  EXPECT_EQ(m.bytes, Text({"@0", "1,1", "2,2", "@1,x", "3.00,5", "4.00,6"}));
}

// The time step, last time stamp and last DP come from the first file's last two
// data lines; trailing lines that are not data lines change nothing but the count.
struct StatisticsCase {
  std::string name;
  std::vector<std::string> firstTail;  // after "@0"
  std::vector<std::string> appended;   // what "@1,x" / "9,1" / "9,2" of the second file become
};
std::ostream& operator<<(std::ostream& os, const StatisticsCase& c) { return os << c.name; }

class StatisticsTest : public testing::TestWithParam<StatisticsCase> {};

TEST_P(StatisticsTest, ContinuesTheTimeAxis) {
  TempDir dir;
  std::vector<std::string> first = {"$ 1 , 2 ", "@0"};
  first.insert(first.end(), GetParam().firstTail.begin(), GetParam().firstTail.end());
  Merged m = Merge(dir, Text(first), Text({"@0", "7,7", "@1,x", "9,1", "9,2"}), false);
  ASSERT_TRUE(m.outcome.ok()) << m.outcome.error->Message();
  std::string expected;
  for (const std::string& l : first) {
    if (!l.empty()) expected += l + "\r\n";
  }
  EXPECT_EQ(m.bytes, expected + Text(GetParam().appended));
}

INSTANTIATE_TEST_SUITE_P(
    FirstFiles, StatisticsTest,
    testing::Values(
        StatisticsCase{"WholeSeconds", {"100.0,1", "102.0,2"}, {"@1,x", "104.00,1", "106.00,2"}},
        // The step and the last time stamp are taken in hundredths of a second, exactly.
        StatisticsCase{"HalfSeconds", {"1.0,1", "3.5,2"}, {"@1,x", "6.00,1", "8.50,2"}},
        StatisticsCase{
            "StepOfTwoAndAHalfSeconds", {"597.50,1", "600.00,2"}, {"@1,x", "602.50,1", "605.00,2"}},
        StatisticsCase{"StepOfOneHundredth", {"3.56,1", "3.57,2"}, {"@1,x", "3.58,1", "3.59,2"}},
        StatisticsCase{
            "LastTimeStampWithHundredths", {"2.57,1", "3.57,2"}, {"@1,x", "4.57,1", "5.57,2"}},
        // 0.006 s rounds to the smallest step, 0.01 s.
        StatisticsCase{
            "StepRoundsUpToOneHundredth", {"5.000,1", "5.006,2"}, {"@1,x", "5.02,1", "5.03,2"}},
        // Hundredths beyond the first two decimals are rounded: 2.004 s and 10.006 s.
        StatisticsCase{
            "ThirdDecimalsRounded", {"8.002,1", "10.006,2"}, {"@1,x", "12.01,1", "14.01,2"}},
        StatisticsCase{
            "TrailingEmptyLine", {"10.0,1", "15.0,2", ""}, {"@1,x", "20.00,1", "25.00,2"}},
        StatisticsCase{
            "TrailingEmptyLines", {"10.0,1", "15.0,2", "", "", ""}, {"@1,x", "20.00,1", "25.00,2"}},
        // A closing marker line still counts as an injection.
        StatisticsCase{"ClosingMarkerWithComma",
                       {"10.0,1", "15.0,2", "@1,0.4"},
                       {"@2,x", "20.00,1", "25.00,2"}},
        StatisticsCase{
            "ClosingMarkerWithoutComma", {"10.0,1", "15.0,2", "@"}, {"@2,x", "20.00,1", "25.00,2"}},
        StatisticsCase{"TrailingLineWithoutComma",
                       {"10.0,1", "15.0,2", "END"},
                       {"@1,x", "20.00,1", "25.00,2"}},
        StatisticsCase{
            "DataLinesAcrossAMarker", {"10.0,1", "@1,x", "15.0,2"}, {"@2,x", "20.00,1", "25.00,2"}},
        // 32767.4 s rounds to 32767 whole seconds, the largest in the 16-bit range; the axis
        // goes on in the step as read.
        StatisticsCase{"LargestStep", {"0,1", "32767.4,2"}, {"@1,x", "65534.80,1", "98302.20,2"}},
        // The last data line's first comma at 32766: the position after it still fits in 16 bits.
        StatisticsCase{"LastCommaAt32766",
                       {"1,1", "2" + std::string(32764, ' ') + ",5"},
                       {"@1,x", "3.00,1", "4.00,2"}}),
    [](const testing::TestParamInfo<StatisticsCase>& p) { return p.param.name; });

TEST(MergeRunTest, LastDPIsFieldOneOfTheLastDataLine) {
  TempDir dir;
  // With the last DP 2.5 and the baseline 3.0, the offset is 0.5.
  Merged m = Merge(dir, Text({"@0", "1,1.0", "2, 2.5 ,9", "@1,closing"}),
                   Text({"@0", "1,3.0", "@1,x", "1,4.0"}), true);
  ASSERT_TRUE(m.outcome.ok()) << m.outcome.error->Message();
  EXPECT_EQ(m.bytes, Text({"@0", "1,1.0", "2, 2.5 ,9", "@1,closing", "@2,x", "3.00,3.5"}));
}

// A last data line cut short by an interrupted write ("4412.00,9.70" where the DP is
// "9.703258") is left out of the output and of the statistics, and the summary says so.
struct CutShortMergeCase {
  std::string name;
  std::string first;
  std::string second;
  bool compensate;
  std::string appended;            // what follows the first file's lines that are kept
  std::vector<std::string> notes;  // the remarks on what was left out
};
std::ostream& operator<<(std::ostream& os, const CutShortMergeCase& c) { return os << c.name; }

const std::vector<std::string> kWholeFirst = {"$ITC", "@0", "4410.00,9.703256,25.03",
                                              "4411.00,9.703258,25.03"};
const std::string kWholeSecond =
    Text({"@0", "1.00,10.0,25", "@1,x", "2.00,10.1,25", "3.00,10.2,25"});

std::string WithLines(std::vector<std::string> lines, std::initializer_list<std::string> more) {
  lines.insert(lines.end(), more);
  return Text(lines);
}

class CutShortMergeTest : public testing::TestWithParam<CutShortMergeCase> {};

TEST_P(CutShortMergeTest, LeavesTheLineOutAndSaysSo) {
  const CutShortMergeCase& c = GetParam();
  // Lines ending in CR LF are copied in blocks, those ending in LF one by one.
  for (std::string_view end : {"\r\n", "\n"}) {
    SCOPED_TRACE(end == "\n" ? "LF" : "CR LF");
    TempDir dir;
    Merged m =
        Merge(dir, test::WithLineEnd(c.first, end), test::WithLineEnd(c.second, end), c.compensate);
    ASSERT_TRUE(m.outcome.ok()) << m.outcome.error->Message();
    EXPECT_EQ(m.bytes, Text(kWholeFirst) + c.appended);
    // The summary line says what was written; what was left out is a remark of its own.
    EXPECT_EQ(Describe(m.outcome.summary).find("cut short"), std::string::npos);
    EXPECT_EQ(MergeRemarks(Inspection{}, m.outcome.summary), c.notes);
  }
}

TEST(CutShortMergeTest, AWordAfterTheFirstFilesLastDataLineStays) {
  TempDir dir;
  Merged m = Merge(dir, WithLines(kWholeFirst, {"END"}), kWholeSecond, true);
  ASSERT_TRUE(m.outcome.ok()) << m.outcome.error->Message();
  EXPECT_EQ(m.bytes, WithLines(kWholeFirst, {"END"}) +
                         Text({"@1,x", "4412.00,9.803258,25", "4413.00,9.903258,25"}));
  EXPECT_TRUE(MergeRemarks(Inspection{}, m.outcome.summary).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, CutShortMergeTest,
    testing::Values(
        // The time axis and the DP offset come from the lines before it: 4412.00 and
        // 10.0 - 9.703258 (in floats), not 9.70.
        CutShortMergeCase{
            "FirstFile",
            WithLines(kWholeFirst, {"4412.00,9.70"}),
            kWholeSecond,
            false,
            Text({"@1,x", "4412.00,10.1,25", "4413.00,10.2,25"}),
            {"note: first file, line 5: the last data line (\"4412.00,9.70\") is cut short and "
             "was left out"}},
        CutShortMergeCase{
            "FirstFileCompensated",
            WithLines(kWholeFirst, {"4412.00,9.70"}),
            kWholeSecond,
            true,
            Text({"@1,x", "4412.00,9.803258,25", "4413.00,9.903258,25"}),
            {"note: first file, line 5: the last data line (\"4412.00,9.70\") is cut short and "
             "was left out"}},
        CutShortMergeCase{
            "FirstFileEndsInItsComma",
            WithLines(kWholeFirst, {"4412.00,", ""}),
            kWholeSecond,
            true,
            Text({"@1,x", "4412.00,9.803258,25", "4413.00,9.903258,25"}),
            {"note: first file, line 5: the last data line (\"4412.00,\") is cut short and was "
             "left out"}},
        CutShortMergeCase{
            "SecondFile",
            Text(kWholeFirst),
            kWholeSecond + Text({"4.00,10"}),
            false,
            Text({"@1,x", "4412.00,10.1,25", "4413.00,10.2,25"}),
            {"note: second file, line 6: the last data line (\"4.00,10\") is cut short and was "
             "left out"}},
        CutShortMergeCase{
            "SecondFileCompensated",
            Text(kWholeFirst),
            kWholeSecond + Text({"4.00,10"}),
            true,
            Text({"@1,x", "4412.00,9.803258,25", "4413.00,9.903258,25"}),
            {"note: second file, line 6: the last data line (\"4.00,10\") is cut short and was "
             "left out"}},
        // Cut before the first comma: only the start of the time field is left.
        CutShortMergeCase{
            "FirstFileCutBeforeItsComma",
            WithLines(kWholeFirst, {"4412.0"}),
            kWholeSecond,
            true,
            Text({"@1,x", "4412.00,9.803258,25", "4413.00,9.903258,25"}),
            {"note: first file, line 5: the last data line (\"4412.0\") is cut short and was "
             "left out"}},
        CutShortMergeCase{
            "SecondFileCutBeforeItsCommaCompensated",
            Text(kWholeFirst),
            kWholeSecond + Text({"4.0"}),
            true,
            Text({"@1,x", "4412.00,9.803258,25", "4413.00,9.903258,25"}),
            {"note: second file, line 6: the last data line (\"4.0\") is cut short and was "
             "left out"}},
        CutShortMergeCase{
            "BothFiles",
            WithLines(kWholeFirst, {"4412.00,9.70"}),
            kWholeSecond + Text({"4.00,"}),
            true,
            Text({"@1,x", "4412.00,9.803258,25", "4413.00,9.903258,25"}),
            {"note: first file, line 5: the last data line (\"4412.00,9.70\") is cut short and "
             "was left out",
             "note: second file, line 6: the last data line (\"4.00,\") is cut short and was "
             "left out"}}),
    [](const testing::TestParamInfo<CutShortMergeCase>& p) { return p.param.name; });

// Start times of marker lines: the first file's stay as read; each appended one moves
// with its injection's first data line (own 2.00 to 3.00, own 4.00 to 4.00).
TEST(MergeRunTest, StartTimesOfAppendedInjectionsOnly) {
  TempDir dir;
  const std::string first = Text({"@0", "1.00,1", "@1,0.2,0.4, 1.5 ", "2.00,2"});
  Merged m =
      Merge(dir, first,
            Text({"@0", "1.00,5", "@1,3,6, 1.25 ", "2.00,6", "@2,3,6, 3.75 ", "4.00,7"}), false);
  ASSERT_TRUE(m.outcome.ok()) << m.outcome.error->Message();
  EXPECT_EQ(m.bytes, first + Text({"@2,3,6, 2.25 ", "3.00,6", "@3,3,6, 3.75 ", "4.00,7"}));
}

// Only the last data line is left out: a short one before it is copied as read.
TEST(MergeRunTest, ShortDataLineBeforeTheLastIsCopied) {
  TempDir dir;
  const std::string first = Text({"@0", "1.00,9.1,25", "2.00,9.2", "3.00,9.3,25"});
  Merged m = Merge(dir, first, kWholeSecond, false);
  ASSERT_TRUE(m.outcome.ok()) << m.outcome.error->Message();
  EXPECT_EQ(m.bytes, first + Text({"@1,x", "4.00,10.1,25", "5.00,10.2,25"}));
  EXPECT_EQ(Describe(m.outcome.summary),
            "Wrote 7 lines to \"" + (dir / "out.itc") + "\": 1 injection appended (numbered 1).");
}

TEST(MergeRunTest, HeaderNumbersOfTheSecondFileAreNoBaseline) {
  TempDir dir;
  const std::string first = Text({"@0", "1,1.0", "2,2.0"});
  const std::string second = Text({"$ 0.2 , 0.4 , 60 , 1 ", "# 25 ", "@1,0.4", "5,9.0"});
  Merged off = Merge(dir, first, second, false);
  ASSERT_TRUE(off.outcome.ok()) << off.outcome.error->Message();
  EXPECT_EQ(off.bytes, first + Text({"@2,0.4", "3.00,9.0"}));

  test::WriteFile(dir / "out.itc", "kept\r\n");
  Merged on = Merge(dir, first, second, true);
  ASSERT_FALSE(on.outcome.ok());
  EXPECT_EQ(on.outcome.error->Message(),
            "No baseline (1002): second file, line 4: no baseline line (a line with a comma after "
            "the first "
            "marker line) comes before the first data line, so there is no reference DP to "
            "compensate from");
  EXPECT_EQ(on.bytes, "kept\r\n");
}

// A step too large for 16 bits is reported with the time stamps as the file
// writes them, not as a float would round them or as infinities.
TEST(MergeRunTest, TimeStepOverflowNamesTheTimeStampsAsWritten) {
  const std::vector<std::pair<std::string, std::string>> stamps = {{"123456789", "123496789"},
                                                                   {"-1e308", "1e308"}};
  for (const auto& [previous, last] : stamps) {
    TempDir dir;
    Merged m = Merge(dir, Text({"@0", previous + ",1", last + ",2"}),
                     Text({"@0", "1,1", "@1,x", "2,2"}), false);
    ASSERT_FALSE(m.outcome.ok());
    EXPECT_EQ(m.outcome.error->Message(),
              "Overflow (6): first file, line 3: the time step from \"" + previous + "\" to \"" +
                  last + "\" does not fit in 16 bits");
  }
}

// Files whose lines end in LF alone, CR alone or a mixture merge exactly as CR LF
// ones do, and the output always ends its lines with CR LF.
struct LineEndCase {
  std::string name;
  std::string end;
};
std::ostream& operator<<(std::ostream& os, const LineEndCase& c) { return os << c.name; }

std::string MixedEnds(const std::string& crlfText) {
  static const char* const kEnds[] = {"\n", "\r\n", "\r"};
  std::string out;
  std::size_t n = 0;
  for (const std::string& line : test::SplitLines(crlfText)) out += line + kEnds[n++ % 3];
  return out;
}

class LineEndTest : public testing::TestWithParam<std::tuple<LineEndCase, bool>> {};

TEST_P(LineEndTest, MergesLikeCrLf) {
  const auto& [ends, compensate] = GetParam();
  const std::string first = Text(TypicalFirstFile());
  TempDir dir;
  Merged reference = Merge(dir, first, kTypicalSecond, compensate);
  ASSERT_TRUE(reference.outcome.ok()) << reference.outcome.error->Message();
  // clang 14 cannot capture a structured binding: the line end is captured by value.
  auto convert = [end = ends.end](const std::string& t) {
    return end == "mixed" ? MixedEnds(t) : test::WithLineEnd(t, end);
  };
  Merged m = Merge(dir, convert(first), convert(kTypicalSecond), compensate);
  ASSERT_TRUE(m.outcome.ok()) << m.outcome.error->Message();
  EXPECT_EQ(m.bytes, reference.bytes);
  EXPECT_EQ(m.outcome.summary.linesWritten, reference.outcome.summary.linesWritten);
}

INSTANTIATE_TEST_SUITE_P(Ends, LineEndTest,
                         testing::Combine(testing::Values(LineEndCase{"LfOnly", "\n"},
                                                          LineEndCase{"CrOnly", "\r"},
                                                          LineEndCase{"Mixed", "mixed"}),
                                          testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<LineEndCase, bool>>& p) {
                           return std::get<0>(p.param).name +
                                  (std::get<1>(p.param) ? "_Compensated" : "_Uncompensated");
                         });

TEST(MergeRunTest, LfOnlyFileWithoutFinalLineEnd) {
  TempDir dir;
  Merged m = Merge(dir, "@0\n1,1\n2,2", "@0\n5,5\n@1,x\n6,6", false);
  ASSERT_TRUE(m.outcome.ok()) << m.outcome.error->Message();
  EXPECT_EQ(m.bytes, Text({"@0", "1,1", "2,2", "@1,x", "3.00,6"}));
}

TEST(MergeRunTest, OutputMayBeAnInputFile) {
  for (const char* which : {"first.itc", "second.itc"}) {
    SCOPED_TRACE(which);
    TempDir dir;
    test::WriteFile(dir / "first.itc", Text({"@0", "1,1", "2,2"}));
    test::WriteFile(dir / "second.itc", Text({"@0", "5,5", "@1,x", "6,6"}));
    MergeOutcome o = RunMerge(dir / "first.itc", dir / "second.itc", dir / which, false);
    ASSERT_TRUE(o.ok()) << o.error->Message();
    EXPECT_EQ(test::ReadFile(dir / which), Text({"@0", "1,1", "2,2", "@1,x", "3.00,6"}));
    EXPECT_EQ(test::ListDir(dir.path()), (std::vector<std::string>{"first.itc", "second.itc"}));
  }
}

const std::string kFirst = Text({"$ITC", "@0", "1.0,1.0", "2.0,2.0"});
const std::string kSecond = Text({"@0", "1.0,5.0", "@1,x", "2.0,6.0"});

// Every failure of the table the command line's test shares: its code and exact
// message, the output left as it was (or not created), and no scratch file left in
// the folder. The files are inspected and merged as the front ends do.
class MergeFailureTest : public testing::TestWithParam<test::FailureRun> {};

TEST_P(MergeFailureTest, LeavesTheOutputAsItWas) {
  const test::FailureCase& c = GetParam().failure;
  TempDir dir;
  const test::FailurePaths paths = test::LayOut(GetParam(), dir);
  const FileState before = FileState::Of(paths.output);
  const std::vector<std::string> listing = test::ListDir(dir.path());

  MergeRequest request{{paths.first, paths.second}, paths.output, {}};
  request.options.compensate = c.compensate;
  request.options.force = c.force;
  MergeOutcome o = RunMerge(request, Inspect(request.inputs));
  ASSERT_FALSE(o.ok()) << "merged: " << Describe(o.summary);
  EXPECT_EQ(static_cast<int>(o.error->code), c.code);
  EXPECT_EQ(o.error->Message(), test::InDir(c.message, dir.path()));
  EXPECT_EQ(FileState::Of(paths.output), before);
  EXPECT_EQ(test::ListDir(dir.path()), listing);
}

INSTANTIATE_TEST_SUITE_P(Table, MergeFailureTest,
                         testing::ValuesIn(test::FailureRuns(test::RunBy::Engine)),
                         test::FailureRunName);

}  // namespace
}  // namespace tandemo

namespace tandemo {
namespace {

// A pair of a few MB: enough for several progress reports.
struct LargePair {
  TempDir dir;
  std::string first = dir / "first.itc", second = dir / "second.itc", out = dir / "out.itc";
  LargePair() {
    std::vector<std::string> a = {"$ITC", "@0"}, b = {"$ITC", "@0", "1,5.0", "@1,x"};
    for (int t = 1; t <= 100000; ++t) a.push_back(std::to_string(t) + ".00,10.5,25.01,0.0001");
    for (int t = 2; t <= 100000; ++t) b.push_back(std::to_string(t) + ".00,10.9,25.01,0.0001");
    test::WriteFile(first, Text(a));
    test::WriteFile(second, Text(b));
    test::WriteFile(out, "the previous result\r\n");
    test::SetOldMtime(out);
  }
  MergeRequest Request() const {
    MergeRequest r;
    r.inputs = {first, second};
    r.output = out;
    return r;
  }
};

TEST(MergeProgressTest, ReportsRisingCountsUpToTheTotal) {
  LargePair pair;
  MergeRequest request = pair.Request();
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  request.options.progress = [&](std::uint64_t read, std::uint64_t total) {
    calls.emplace_back(read, total);
  };
  const Inspection inspection = Inspect(request.inputs);
  MergeOutcome o = RunMerge(request, inspection);
  ASSERT_TRUE(o.ok()) << o.error->Message();
  const std::uint64_t total =
      test::ReadFile(pair.first)->size() + test::ReadFile(pair.second)->size();
  ASSERT_GT(total, 4u << 20);
  // One call at the start, about one per MiB (the stride for inputs under 100 MiB), one at the end.
  ASSERT_GE(calls.size(), 5u);
  EXPECT_LE(calls.size(), 2 + total / (1 << 20) + 1);
  EXPECT_EQ(calls.front().first, 0u);
  EXPECT_EQ(calls.back().first, total);
  for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].second, total);
  for (std::size_t i = 1; i < calls.size(); ++i) EXPECT_GE(calls[i].first, calls[i - 1].first);
}

// A cancelled merge is a failure of its own: the output as it was, no scratch file.
TEST(MergeProgressTest, CancelledBeforeAndWhileReading) {
  for (bool fromStart : {true, false}) {
    SCOPED_TRACE(fromStart ? "cancelled before" : "cancelled while reading the second file");
    LargePair pair;
    MergeRequest request = pair.Request();
    std::atomic<bool> cancel{fromStart};
    request.options.cancel = &cancel;
    const std::uint64_t firstSize = test::ReadFile(pair.first)->size();
    std::uint64_t lastSeen = 0;
    request.options.progress = [&](std::uint64_t read, std::uint64_t) {
      lastSeen = read;
      if (read > firstSize) cancel = true;
    };
    const FileState before = FileState::Of(pair.out);
    const std::vector<std::string> listing = test::ListDir(pair.dir.path());
    MergeOutcome o = RunMerge(request, Inspect(request.inputs));
    ASSERT_FALSE(o.ok());
    EXPECT_EQ(o.error->Message(), "Cancelled (1009): the merge was cancelled; nothing was written");
    EXPECT_EQ(FileState::Of(pair.out), before);
    EXPECT_EQ(test::ListDir(pair.dir.path()), listing);
    if (!fromStart) {
      EXPECT_GT(lastSeen, firstSize);
    }
  }
}

// Each input is read once more by the merge: a file changed since the inspection,
// or while it is read, is refused rather than merged from mixed bytes.
TEST(MergeInputChangedTest, ChangedAfterTheInspectionOrWhileRead) {
  enum class When { AfterInspection, WhileRead };
  for (When when : {When::AfterInspection, When::WhileRead}) {
    for (bool firstFile : {true, false}) {
      SCOPED_TRACE(
          std::string(when == When::AfterInspection ? "after the inspection" : "while read") +
          (firstFile ? ", first file" : ", second file"));
      LargePair pair;
      MergeRequest request = pair.Request();
      const std::string& changed = firstFile ? pair.first : pair.second;
      auto change = [&] {
        std::ofstream(changed, std::ios::binary | std::ios::app)
            << "100001.00,10.5,25.01,0.0001\r\n";
      };
      const Inspection inspection = Inspect(request.inputs);
      ASSERT_FALSE(inspection.failure);
      bool changedYet = false;
      if (when == When::AfterInspection) {
        change();
      } else {
        request.options.progress = [&](std::uint64_t, std::uint64_t) {
          if (!changedYet) change();
          changedYet = true;
        };
      }
      const FileState before = FileState::Of(pair.out);
      MergeOutcome o = RunMerge(request, inspection);
      ASSERT_FALSE(o.ok());
      const std::string role = firstFile ? "first" : "second";
      EXPECT_EQ(o.error->Message(), "Input changed (1008): " + role + " file: the " + role +
                                        " file changed while it was read (\"" + changed +
                                        "\"); nothing was written");
      EXPECT_EQ(FileState::Of(pair.out), before);
      EXPECT_EQ(test::ListDir(pair.dir.path()),
                (std::vector<std::string>{"first.itc", "out.itc", "second.itc"}));
    }
  }
}

TEST(MergeInputChangedTest, InspectionOfOtherFilesIsRefused) {
  TempDir dir;
  test::WriteFile(dir / "first.itc", kFirst);
  test::WriteFile(dir / "second.itc", kSecond);
  test::WriteFile(dir / "third.itc", kSecond + Text({"3.0,7.0"}));
  MergeRequest request;
  request.inputs = {dir / "first.itc", dir / "third.itc"};
  request.output = dir / "out.itc";
  MergeOutcome o = RunMerge(request, Inspect({dir / "first.itc", dir / "second.itc"}));
  ASSERT_FALSE(o.ok());
  EXPECT_EQ(o.error->Message(),
            "Bad file name (52): second file: the files to merge are not the files inspected");
  EXPECT_FALSE(test::ReadFile(dir / "out.itc"));
}

// The guard lives in the engine: differences stop RunMerge unless forced.
TEST(MergeGuardTest, DifferencesStopTheMergeUnlessForced) {
  TempDir dir;
  test::WriteFile(dir / "first.itc", kFirst);
  test::WriteFile(dir / "second.itc",
                  Text({"@0", "1.0,5.0", "@1,x", "6.0,6.0", "11.0,6.5"}));  // a 5 s step
  MergeRequest request;
  request.inputs = {dir / "first.itc", dir / "second.itc"};
  request.output = dir / "out.itc";
  const Inspection inspection = Inspect(request.inputs);
  MergeOutcome refused = RunMerge(request, inspection);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(
      refused.error->Message(),
      "Files differ (1004): these files may not belong to one titration; nothing was written\n"
      "  time step: 1 in the first file, 5 in the second file");
  EXPECT_FALSE(test::ReadFile(dir / "out.itc"));
  request.options.force = true;
  MergeOutcome forced = RunMerge(request, inspection);
  ASSERT_TRUE(forced.ok()) << forced.error->Message();
}

// The merge into no file hands its observer the lines the file would hold, in
// order, each with the file and line it came from (the data lines the output
// holds back until the next line included), and writes nothing.
struct LineRecord {
  std::string text;
  int file = -1;
  long long line = 0;
  bool operator==(const LineRecord&) const = default;
};

class RecordingObserver final : public WrittenLineObserver {
 public:
  void Written(std::string_view line, SourcePlace from) override {
    lines.push_back({std::string(line), from.file.index, from.line});
  }
  std::vector<LineRecord> lines;
};

TEST(MergeIntoObserverTest, SeesTheLinesTheFileHoldsAndWritesNothing) {
  test::TempDir dir;
  test::WriteFile(dir / "first.itc",
                  test::Text({"$ITC", "", "@0", "1.0,1.0", "@1,x", "2.0,2.0", "3.0,3.0"}));
  test::WriteFile(dir / "second.itc", test::Text({"@0", "1.0,5.0", "@1,y", "2.0,6.0"}));
  MergeRequest request{{dir / "first.itc", dir / "second.itc"}, dir / "out.itc", {}};
  request.options.compensate = true;
  const Inspection inspection = Inspect(request.inputs);

  RecordingObserver written;
  const MergeOutcome withFile = RunMerge(request, inspection, &written);
  ASSERT_TRUE(withFile.ok()) << withFile.error->Message();
  const std::vector<std::string> fileLines =
      test::SplitLines(test::ReadFile(dir / "out.itc").value_or(""));
  ASSERT_EQ(written.lines.size(), fileLines.size());
  for (std::size_t i = 0; i < fileLines.size(); ++i) EXPECT_EQ(written.lines[i].text, fileLines[i]);
  EXPECT_EQ(written.lines, (std::vector<LineRecord>{{"$ITC", 1, 1},
                                                    {"@0", 1, 3},
                                                    {"1.0,1.0", 1, 4},
                                                    {"@1,x", 1, 5},
                                                    {"2.0,2.0", 1, 6},
                                                    {"3.0,3.0", 1, 7},
                                                    {"@2,y", 2, 3},
                                                    {"4.00,4.0", 2, 4}}));  // 6.0 - (5.0 - 3.0)

  std::filesystem::remove(dir / "out.itc");
  RecordingObserver observed;
  const MergeOutcome intoNothing = RunMergeInto(request, inspection, observed);
  ASSERT_TRUE(intoNothing.ok()) << intoNothing.error->Message();
  EXPECT_EQ(observed.lines, written.lines);
  EXPECT_EQ(intoNothing.summary.linesWritten, withFile.summary.linesWritten);
  EXPECT_EQ(test::ListDir(dir.path()), (std::vector<std::string>{"first.itc", "second.itc"}));
}

TEST(MergeIntoObserverTest, FailsAsTheMergeDoes) {
  test::TempDir dir;
  test::WriteFile(dir / "first.itc", test::Text({"$ITC", "@0", "1.0,1.0", "2.0,2.0"}));
  test::WriteFile(dir / "second.itc", test::Text({"@0", "1,1", "@1,x", "2,2", "3,abc", "4,4"}));
  MergeRequest request{{dir / "first.itc", dir / "second.itc"}, {}, {}};
  request.options.compensate = true;
  RecordingObserver observed;
  const MergeOutcome outcome = RunMergeInto(request, Inspect(request.inputs), observed);
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error->Message(),
            "Type mismatch (13): second file, line 5: the DP field \"abc\" is not a number");
  EXPECT_EQ(test::ListDir(dir.path()), (std::vector<std::string>{"first.itc", "second.itc"}));
}

}  // namespace
}  // namespace tandemo
