// The second file's rewrite on its own: given the state the first file left, which
// lines it appends, renumbered, re-timed and compensated, and where it refuses.
#include "merge/rewrite.hpp"

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <ostream>
#include <random>
#include <string>

#include "merge/data_tail.hpp"
#include "merge/line_io.hpp"
#include "merge/number_read.hpp"
#include "merge/tracked_output.hpp"
#include "test_support.hpp"

namespace tandemo {
namespace {

using test::Text;

struct Rewritten {
  std::optional<MergeError> error;
  std::string written;
  RunState state;
  RewriteReport report;
};

Rewritten Rewrite(const std::string& second, RunState state, bool compensate) {
  test::TempDir dir;
  test::WriteFile(dir / "second.itc", second);
  Rewritten r;
  LineReader reader;
  EXPECT_TRUE(reader.Open(dir / "second.itc"));
  int fd = ::open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | test::kBinary, 0644);
  EXPECT_GE(fd, 0);
  LineWriter writer;
  writer.Attach(fd);
  TrackedOutput out(writer);
  MergeOptions options;
  options.compensate = compensate;
  MergeProgress progress(options, 0);
  r.error = RewriteSecondFile(reader, FilePlace::Input(2), out, state, options, progress, r.report);
  EXPECT_TRUE(writer.Flush());
  ::close(fd);
  r.written = test::ReadFile(dir / "out").value_or("(unreadable)");
  r.state = state;
  return r;
}

// A state whose step and time stamp are whole seconds.
RunState Whole(std::int32_t markerCount, std::int32_t step, std::int64_t time, float lastDp) {
  return RunState{markerCount, step * 100, time * 100, lastDp};
}

// What a typical first file leaves: 11 marker lines, last lines
// 596.0,10.50,25.0 and 598.0,10.52,25.0.
RunState TypicalJoinState() { return Whole(11, 2, 598, 10.52f); }

const std::string kTypicalSecond = Text({"header", "@0", "2.0,10.90,25.1", "4.0,10.92,25.1",
                                         "@1,5.0", "6.0,11.40,25.1", "8.0,11.38,25.1"});

TEST(RewriteTypicalJoinTest, CompensationOff) {
  Rewritten r = Rewrite(kTypicalSecond, TypicalJoinState(), false);
  ASSERT_FALSE(r.error) << r.error->Message();
  EXPECT_EQ(r.written, Text({"@11,5.0", "600.00,11.40,25.1", "602.00,11.38,25.1"}));
  EXPECT_EQ(r.state.markerCount, 10);
  EXPECT_EQ(r.state.timeHundredths, 60200);
  EXPECT_EQ(r.report.injectionsAppended, 1);
  EXPECT_EQ(r.report.dataLinesAppended, 2);
}

// Without compensation the offset is still told, for a preview to show what it
// would do; a file without a baseline line has none to tell.
TEST(RewriteTypicalJoinTest, OffsetOnlyFromABaselineLine) {
  Rewritten withBaseline = Rewrite(kTypicalSecond, TypicalJoinState(), false);
  ASSERT_FALSE(withBaseline.error) << withBaseline.error->Message();
  EXPECT_TRUE(withBaseline.report.offsetTaken);
  // The latest baseline line's 10.92 - 10.52, in 32-bit floats.
  EXPECT_NEAR(withBaseline.report.dpOffset, 0.4, 1e-6);
  Rewritten withoutBaseline =
      Rewrite(Text({"header", "@1,5.0", "6.0,11.40,25.1"}), TypicalJoinState(), false);
  ASSERT_FALSE(withoutBaseline.error) << withoutBaseline.error->Message();
  EXPECT_EQ(withoutBaseline.written, Text({"@12,5.0", "600.00,11.40,25.1"}));  // no "@0" lowers 11
  EXPECT_FALSE(withoutBaseline.report.offsetTaken);
}

TEST(RewriteTypicalJoinTest, CompensationOn) {
  Rewritten r = Rewrite(kTypicalSecond, TypicalJoinState(), true);
  ASSERT_FALSE(r.error) << r.error->Message();
  EXPECT_EQ(r.written, Text({"@11,5.0", "600.00,11.0,25.1", "602.00,10.98,25.1"}));
  // 10.92f - 10.52f, rounded to a float.
  EXPECT_EQ(r.report.dpOffset, 0.3999996185302734375f);
}

// Compensation: the offset is exact to the last bit, and each field
// comes out as the field minus that offset, in the DP pattern.
struct CompensationCase {
  std::string lastDP;
  std::string refDP;
  double offset;
  std::string field;
  std::string written;
};
std::ostream& operator<<(std::ostream& os, const CompensationCase& c) {
  return os << "last " << c.lastDP << ", reference " << c.refDP << ", field \"" << c.field << '"';
}

class CompensationTest : public testing::TestWithParam<CompensationCase> {};

TEST_P(CompensationTest, SubtractsTheOffsetFromFieldOne) {
  const CompensationCase& c = GetParam();
  RunState state = Whole(1, 1, 5, static_cast<float>(std::stod(c.lastDP)));
  Rewritten r =
      Rewrite(Text({"@0", "1.0," + c.refDP, "@1,x", "9.0," + c.field + ",25.1"}), state, true);
  ASSERT_FALSE(r.error) << r.error->Message();
  EXPECT_EQ(static_cast<double>(r.report.dpOffset), c.offset);
  EXPECT_EQ(r.written, Text({"@1,x", "6.00," + c.written + ",25.1"}));
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, CompensationTest,
    testing::Values(CompensationCase{"10.25", "10.5", 0.25, "12.75", "12.5"},
                    CompensationCase{"10.25", "10.5", 0.25, " 12.75 ",
                                     "12.5"},  // the blanks go with the field
                    CompensationCase{"-2.5", "1.25", 3.75, "3.0", "-0.75"},
                    CompensationCase{"10.1", "10.3", 0.19999980926513671875, "11.0", "10.8"},
                    CompensationCase{"0.1", "100.3", 100.20000457763671875, "100.3", "0.099995"},
                    CompensationCase{"0.1", "100.3", 100.20000457763671875, "101.0", "0.799995"}));

// The quick reading of plain DP fields gives the very double the full reading gives,
// and leaves every other form to it.
TEST(QuickDecimalTest, SameAsFieldNumber) {
  std::mt19937_64 gen(20261212);
  std::uniform_int_distribution<int> length(1, 18), digit(0, 9), place(0, 18), sign(0, 3);
  for (int i = 0; i < 200000; ++i) {
    std::string text = sign(gen) == 0 ? "-" : "";
    const int n = length(gen);
    const int point = place(gen);
    for (int k = 0; k < n; ++k) {
      if (k == point) text += '.';
      text += static_cast<char>('0' + digit(gen));
    }
    std::optional<double> quick = detail::QuickDecimal(text);
    Checked<double> full = FieldNumber(text);
    ASSERT_TRUE(full.ok()) << text;
    if (quick) {
      ASSERT_EQ(std::signbit(*quick), std::signbit(full.value)) << text;
      ASSERT_EQ(*quick, full.value) << text;
    }
  }
  for (const char* other :
       {"", "-", ".", "-.", " 1.5", "1.5 ", "+1.5", "1e5", "1.2.3", "&H10", "1234567890123456",
        "0.00000000000000000000001"}) {  // 23 decimals: 10^23 is no exact double
    EXPECT_FALSE(detail::QuickDecimal(other)) << other;
  }
  EXPECT_EQ(detail::QuickDecimal("000123.4500"), 123.45);
  EXPECT_EQ(detail::QuickDecimal("-.5"), -0.5);
  EXPECT_EQ(detail::QuickDecimal("5."), 5.0);
  EXPECT_EQ(detail::QuickDecimal("0.0000000000000000000001"),
            FieldNumber("0.0000000000000000000001").value);
}

// One row per behaviour of the line-by-line state machine.
struct RewriteCase {
  std::string name;
  RunState state;
  std::string second;
  bool compensate;
  std::string written;
  std::int32_t markerCount;
  std::int32_t time;
};
std::ostream& operator<<(std::ostream& os, const RewriteCase& c) { return os << c.name; }

class RewriteStateTest : public testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteStateTest, AppendsWhatContinuesTheFirstFile) {
  const RewriteCase& c = GetParam();
  Rewritten r = Rewrite(c.second, c.state, c.compensate);
  ASSERT_FALSE(r.error) << r.error->Message();
  EXPECT_EQ(r.written, c.written);
  EXPECT_EQ(r.state.markerCount, c.markerCount);
  EXPECT_EQ(r.state.timeHundredths, std::int64_t{c.time} * 100);
}

const RunState kState = Whole(5, 2, 100, 10.25f);

INSTANTIATE_TEST_SUITE_P(
    Lines, RewriteStateTest,
    testing::Values(
        RewriteCase{"EmptyFile", kState, "", true, "", 5, 100},
        RewriteCase{"NoMarkerLine", kState, Text({"$ITC", "1.0,2.0", "", "3"}), true, "", 5, 100},
        RewriteCase{"MarkersWithoutComma", kState, Text({"@0", "1.0,2.0", "@", "3.0,4.0"}), false,
                    "", 3, 100},
        RewriteCase{"MarkerThenDataDirectly", kState,
                    Text({"@1,0.4", "1.0,11.0,25", "2.0,12.0,25"}), false,
                    Text({"@6,0.4", "102.00,11.0,25", "104.00,12.0,25"}), 5, 104},
        RewriteCase{"NothingBetweenAtAndComma", kState, Text({"@,x"}), false, Text({"@5,x"}), 5,
                    100},
        RewriteCase{"MarkerEndsInItsComma", kState, Text({"@3,"}), false, Text({"@8,"}), 5, 100},
        RewriteCase{"MarkerNumberWithBlanks", kState, Text({"@ 1 2,x"}), false, Text({"@17,x"}), 5,
                    100},
        RewriteCase{"FractionHalfToEven", kState, Text({"@2.5,a", "@3.5,b", "@-0.5,c"}), false,
                    Text({"@7,a", "@9,b", "@5,c"}), 5, 100},
        // Not the file's last data line, so not cut short: written as read.
        RewriteCase{"DataLineEndsInItsComma", kState, Text({"@1,x", "6.0,", "7.0,1"}), false,
                    Text({"@6,x", "102.00,", "104.00,1"}), 5, 104},
        RewriteCase{"TimeStampsOfTheFileAreIgnored", kState,
                    Text({"@1,x", "999.0,1", "-5,2", "abc,3"}), false,
                    Text({"@6,x", "102.00,1", "104.00,2", "106.00,3"}), 5, 106},
        RewriteCase{"StepZero", Whole(0, 0, 7, 0.0f), Text({"@1,x", "1.0,1", "2.0,2"}), false,
                    Text({"@1,x", "7.00,1", "7.00,2"}), 0, 7},
        RewriteCase{"NegativeTimeThroughZero", Whole(0, 2, -4, 0.0f),
                    Text({"@1,x", "1,7", "2,8", "3,9"}), false,
                    Text({"@1,x", "-2.00,7", ".00,8", "2.00,9"}), 0, 2},
        RewriteCase{"LineWithoutCommaInDataSectionCopied", kState,
                    Text({"@1,x", "1,2", "note", "2,3"}), false,
                    Text({"@6,x", "102.00,2", "note", "104.00,3"}), 5, 104},
        RewriteCase{"EmptyLinesAreDropped", kState, Text({"@1,x", "", "1,2", ""}), false,
                    Text({"@6,x", "102.00,2"}), 5, 102},
        RewriteCase{"OutsideLinesAreNotWritten", kState,
                    Text({"@1,x", "1,2", "@", "9,9", "stray", "@2,y", "3,4"}), false,
                    Text({"@6,x", "102.00,2", "@6,y", "104.00,4"}), 4, 104},
        // A data section entered again: its markers use the lowered count, and the
        // offset stays as first computed (0.25 from the baseline 10.5).
        RewriteCase{
            "OffsetTakenOnceOnly", kState,
            Text({"@0", "1.0,10.5", "@1,x", "2.0,12.75", "@", "3.0,50.0", "@2,y", "4.0,13.75"}),
            true, Text({"@5,x", "102.00,12.5", "@5,y", "104.00,13.5"}), 3, 104},
        // Only baseline lines (with a comma, after the first marker line) give the
        // reference DP: not header numbers, empty lines or lines without a comma.
        RewriteCase{"HeaderNumbersAreNoBaseline", kState,
                    Text({"$ 99 , 99", "# 98", "@0", "1.0,10.5", "@1,x", "2.0,12.75"}), true,
                    Text({"@5,x", "102.00,12.5"}), 4, 102},
        RewriteCase{"EmptyLineBeforeDataKeepsBaseline", kState,
                    Text({"@0", "1.0,10.5", "", "@1,x", "", "2.0,12.75"}), true,
                    Text({"@5,x", "102.00,12.5"}), 4, 102},
        RewriteCase{"LineWithoutCommaKeepsBaseline", kState,
                    Text({"@0", "1.0,10.5", "77", "@1,x", "2.0,12.75"}), true,
                    Text({"@5,x", "102.00,12.5"}), 4, 102},
        RewriteCase{"LatestBaselineLineCounts", kState,
                    Text({"@0", "1.0,99.0", "1.5,10.5", "@1,x", "2.0,12.75"}), true,
                    Text({"@5,x", "102.00,12.5"}), 4, 102},
        RewriteCase{"BaselineDPIsFieldOne", kState,
                    Text({"@0", "1.0, 10.5 ,3,4", "@1,x", "2.0,12.75,9,8"}), true,
                    Text({"@5,x", "102.00,12.5,9,8"}), 4, 102},
        RewriteCase{"DataLineWithOneCommaIsCompensated", kState,
                    Text({"@0", "1,10.5", "@1,x", "2,12.75"}), true, Text({"@5,x", "102.00,12.5"}),
                    4, 102},
        RewriteCase{"MarkerLinesAreNeverCompensated", kState,
                    Text({"@0", "1,10.5", "@1,20.0,30", "2,12.75"}), true,
                    Text({"@5,20.0,30", "102.00,12.5"}), 4, 102},
        // Without compensation the reference DP is never needed, so no baseline is required.
        RewriteCase{"NoBaselineIsFineWithoutCompensation", kState,
                    Text({"$ 1 , 2", "@1,x", "2.0,12.75"}), false, Text({"@6,x", "102.00,12.75"}),
                    5, 102},
        // The data line's comma at 32767 is fine: its rest is taken with a 32-bit subtraction.
        RewriteCase{"DataCommaAt32767", kState, Text({"@1,x", std::string(32766, '1') + ",5"}),
                    false, Text({"@6,x", "102.00,5"}), 5, 102},
        // Marker count 0 and number -2147483648.5: the half goes to the even -2147483648.
        RewriteCase{"MarkerNumberLowestLimit", Whole(0, 1, 0, 0.0f), Text({"@-2147483648.5,x"}),
                    false, Text({"@-2147483648,x"}), 0, 0},
        RewriteCase{"MarkerNumberHighestLimit", Whole(1, 1, 0, 0.0f), Text({"@2147483646,x"}),
                    false, Text({"@2147483647,x"}), 1, 0},
        RewriteCase{"TimeStampHighestLimit", Whole(0, 2, 2147483645, 0.0f), Text({"@1,x", "1,1"}),
                    false, Text({"@1,x", "2147483647.00,1"}), 0, 2147483647},
        // Marker lines with a fourth field, the injection's start time on the run's clock,
        // move with their injection's first data line: here from 361.00 to 102.00, by -259.
        RewriteCase{"StartTimeMovesWithItsData", kState,
                    Text({"@0", "360.00,10.5", "@1,3.0002,6.0, 360.165999999997 ", "361.00,11.0",
                          "362.00,11.1"}),
                    false, Text({"@5,3.0002,6.0, 101.165999999997 ", "102.00,11.0", "104.00,11.1"}),
                    4, 104},
        RewriteCase{
            "TwoAndThreeFieldsStayAsRead", kState,
            Text({"@0", "1.00,10.5", "@1,0.4000", "2.00,11.0", "@2,3.0000,6.0", "3.00,11.1"}),
            false, Text({"@5,0.4000", "102.00,11.0", "@6,3.0000,6.0", "104.00,11.1"}), 4, 104},
        RewriteCase{"StartTimeNotANumberStaysAsRead", kState,
                    Text({"@0", "1.00,10.5", "@1,3,6, 7.5s ", "2.00,11.0"}), false,
                    Text({"@5,3,6, 7.5s ", "102.00,11.0"}), 4, 102},
        // Tabs stay around the start time, and fields after it stay as read: 102 - 10 = 92.
        RewriteCase{"BlanksAndFurtherFieldsKept", kState,
                    Text({"@1,1,2,\t9.25\t,extra", "10.00,5"}), false,
                    Text({"@6,1,2,\t101.25\t,extra", "102.00,5"}), 5, 102},
        // A whole number is written without a point.
        RewriteCase{"WholeStartTime", kState, Text({"@1,1,2, 10.5 ", "10.50,5"}), false,
                    Text({"@6,1,2, 102 ", "102.00,5"}), 5, 102},
        // An injection without data lines moves as the line before it would have:
        // 100.00 (the merged file's last time) - 2.00 (the own time of the line before) = 98.
        RewriteCase{
            "InjectionWithoutDataLines", kState,
            Text({"@0", "1.00,10.5", "2.00,10.6", "@1,3,6, 2.5 ", "@2,3,6, 5.5 ", "3.00,11.0"}),
            false, Text({"@5,3,6, 100.5 ", "@6,3,6, 104.5 ", "102.00,11.0"}), 4, 102},
        RewriteCase{"InjectionWithoutDataLinesAtTheEnd", kState,
                    Text({"@0", "1.00,10.5", "@1,x,y", "5.00,1", "@2,3,6, 7.25 "}), false,
                    Text({"@5,x,y", "102.00,1", "@6,3,6, 104.25 "}), 4, 102},
        RewriteCase{"NothingToMoveBy", kState, Text({"$ 1 , 2", "@1,3,6, 7.25 "}), false,
                    Text({"@6,3,6, 7.25 "}), 5, 100},
        // A line without a comma between marker and data: the marker goes first, moved as
        // the line before it would have been (100 - 1 = 99).
        RewriteCase{"LineWithoutCommaAfterMarker", kState,
                    Text({"@0", "1.00,10.5", "@1,3,6, 1 ", "note", "2.00,11.0"}), false,
                    Text({"@5,3,6, 100 ", "note", "102.00,11.0"}), 4, 102},
        RewriteCase{"OwnTimeNotANumber", kState, Text({"@0", "1.00,10.5", "@1,1,2, 3 ", "abc,5"}),
                    false, Text({"@5,1,2, 102 ", "102.00,5"}), 4, 102},
        RewriteCase{"StartTimeWithCompensation", kState,
                    Text({"@0", "1.00,10.5", "@1,1,2, 3 ", "2.00,12.75"}), true,
                    Text({"@5,1,2, 103 ", "102.00,12.5"}), 4, 102},
        // A step of 2.5 s from 600.00: 602.50, 605.00; the start time moves by 602.50 - 1.00.
        RewriteCase{"StepOfTwoAndAHalfSeconds", RunState{5, 250, 60000, 0.0f},
                    Text({"@1,1,2, 0.5 ", "1.00,5", "3.50,6"}), false,
                    Text({"@6,1,2, 602 ", "602.50,5", "605.00,6"}), 5, 605},
        RewriteCase{"CountLowestLimit", Whole(-2147483647, 1, 0, 0.0f), Text({"@"}), false, "",
                    -2147483647 - 1, 0}),
    [](const testing::TestParamInfo<RewriteCase>& p) { return p.param.name; });

// A later file's last data line cut short by an interrupted write: left out, its
// time stamp not used, and reported; anywhere else it is written or refused as ever.
struct CutShortCase {
  std::string name;
  std::string second;
  bool compensate;
  std::string written;
  long long cutLine;  // 0: nothing left out
  std::int32_t time;
};
std::ostream& operator<<(std::ostream& os, const CutShortCase& c) { return os << c.name; }

class RewriteCutShortTest : public testing::TestWithParam<CutShortCase> {};

TEST_P(RewriteCutShortTest, LeavesOutOnlyTheLastDataLine) {
  const CutShortCase& c = GetParam();
  Rewritten r = Rewrite(c.second, kState, c.compensate);
  ASSERT_FALSE(r.error) << r.error->Message();
  EXPECT_EQ(r.written, c.written);
  EXPECT_EQ(r.state.timeHundredths, std::int64_t{c.time} * 100);
  if (c.cutLine == 0) {
    EXPECT_FALSE(r.report.cutShort);
    return;
  }
  ASSERT_TRUE(r.report.cutShort);
  EXPECT_EQ(r.report.cutShort->line, c.cutLine);
  EXPECT_EQ(r.report.cutShort->file.index, 2);
  EXPECT_EQ(DescribeCutShort(*r.report.cutShort),
            "second file, line " + std::to_string(c.cutLine) + ": the last data line (\"" +
                r.report.cutShort->text + "\") is cut short and was left out");
}

const std::string kBeforeCut = Text({"@0", "1.00,10.5,25", "@1,x", "2.00,11.0,25", "3.00,11.1,25"});

INSTANTIATE_TEST_SUITE_P(
    Lines, RewriteCutShortTest,
    testing::Values(
        CutShortCase{"FewerFields", kBeforeCut + Text({"4412.00,9.70"}), false,
                     Text({"@5,x", "102.00,11.0,25", "104.00,11.1,25"}), 6, 104},
        // The offset is 10.5 - 10.25 = 0.25.
        CutShortCase{"FewerFieldsCompensated", kBeforeCut + Text({"4412.00,9.70"}), true,
                     Text({"@5,x", "102.00,10.75,25", "104.00,10.85,25"}), 6, 104},
        CutShortCase{"EndsInItsComma", kBeforeCut + Text({"4412.00,"}), true,
                     Text({"@5,x", "102.00,10.75,25", "104.00,10.85,25"}), 6, 104},
        CutShortCase{"DpNotANumber", kBeforeCut + Text({"4412.00,9.7x,25"}), true,
                     Text({"@5,x", "102.00,10.75,25", "104.00,10.85,25"}), 6, 104},
        CutShortCase{"EmptyLinesAfterIt", kBeforeCut + Text({"4412.00,9.70", "", ""}), false,
                     Text({"@5,x", "102.00,11.0,25", "104.00,11.1,25"}), 6, 104},
        CutShortCase{"OnlyDataLineOfItsInjection", Text({"@0", "1.00,10.5,25", "@1,x", "2.00,9.7"}),
                     true, Text({"@5,x"}), 4, 100},
        // The marker waited for this line to learn how far it moves (102 - 2 = 100).
        CutShortCase{"StartTimeMovedByTheCutLine",
                     Text({"@0", "1.00,10.5,25", "@1,1,2, 3 ", "2.00,9.7"}), false,
                     Text({"@5,1,2, 103 "}), 4, 100},
        // Cut before its first comma: only the start of the time field is left.
        CutShortCase{"CutBeforeItsFirstComma", kBeforeCut + Text({"4412.0"}), false,
                     Text({"@5,x", "102.00,11.0,25", "104.00,11.1,25"}), 6, 104},
        CutShortCase{"CutBeforeItsFirstCommaCompensated", kBeforeCut + Text({"4412.0", ""}), true,
                     Text({"@5,x", "102.00,10.75,25", "104.00,10.85,25"}), 6, 104},
        // A word is no time field, and a line right after a marker line follows no data line.
        CutShortCase{"WordAfterTheLastDataLine", kBeforeCut + Text({"END"}), false,
                     Text({"@5,x", "102.00,11.0,25", "104.00,11.1,25", "END"}), 0, 104},
        CutShortCase{"NumberRightAfterAMarkerLine", kBeforeCut + Text({"@2,y", "4412"}), false,
                     Text({"@5,x", "102.00,11.0,25", "104.00,11.1,25", "@6,y", "4412"}), 0, 104},
        // Not the file's last line: written as read, or refused (see the failures).
        CutShortCase{
            "TimeFieldStartBeforeADataLine", kBeforeCut + Text({"4412", "5.00,11.2,25"}), false,
            Text({"@5,x", "102.00,11.0,25", "104.00,11.1,25", "4412", "106.00,11.2,25"}), 0, 106},
        CutShortCase{"MarkerAfterIt", Text({"@0", "1.00,10.5,25", "@1,x", "2.00,9.7", "@2,y"}),
                     false, Text({"@5,x", "102.00,9.7", "@6,y"}), 0, 102},
        CutShortCase{"DataLineAfterIt",
                     Text({"@0", "1.00,10.5,25", "@1,x", "2.00,9.7", "3.00,9.8,25"}), true,
                     Text({"@5,x", "102.00,9.45", "104.00,9.55,25"}), 0, 104},
        // A baseline-like line after "@" comes last: the data line before it is written.
        CutShortCase{"UnwrittenLineAfterIt", kBeforeCut + Text({"4.00,9.7", "@", "9.00,9.7"}),
                     false, Text({"@5,x", "102.00,11.0,25", "104.00,11.1,25", "106.00,9.7"}), 0,
                     106},
        CutShortCase{"MarkerWithoutCommaAfterIt", kBeforeCut + Text({"4.00,9.7", "@"}), false,
                     Text({"@5,x", "102.00,11.0,25", "104.00,11.1,25", "106.00,9.7"}), 0, 106},
        CutShortCase{"AsManyFieldsAsTheLineBefore", kBeforeCut + Text({"4.00,11.2,2"}), false,
                     Text({"@5,x", "102.00,11.0,25", "104.00,11.1,25", "106.00,11.2,2"}), 0, 106}),
    [](const testing::TestParamInfo<CutShortCase>& p) { return p.param.name; });

// Each refusal: its code, the second file's line where it arose, and why.
struct FailureCase {
  std::string name;
  RunState state;
  std::string second;
  bool compensate;
  std::string message;
};
std::ostream& operator<<(std::ostream& os, const FailureCase& c) { return os << c.name; }

class RewriteFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(RewriteFailureTest, RefusesWithItsMessage) {
  const FailureCase& c = GetParam();
  Rewritten r = Rewrite(c.second, c.state, c.compensate);
  ASSERT_TRUE(r.error) << "no failure; wrote:\n" << r.written;
  EXPECT_EQ(r.error->Message(), c.message);
}

std::string CommaAt(std::size_t position) {
  std::string s(position - 1, '1');
  return s + ",2";
}

INSTANTIATE_TEST_SUITE_P(
    Failures, RewriteFailureTest,
    testing::Values(
        FailureCase{"MarkerNumberBeyond32Bits", kState, Text({"@0", "@2147483648,x"}), false,
                    "Overflow (6): second file, line 2: the injection number \"2147483648\" does "
                    "not fit in 32 bits"},
        // 2147483647.5 rounds to 2^31, one past the top.
        FailureCase{"MarkerNumberRoundsBeyond32Bits", kState, Text({"@2147483647.5,x"}), false,
                    "Overflow (6): second file, line 1: the injection number \"2147483647.5\" does "
                    "not fit in 32 "
                    "bits"},
        FailureCase{"NewMarkerNumberBeyond32Bits", Whole(1, 1, 0, 0.0f), Text({"@2147483647,x"}),
                    false,
                    "Overflow (6): second file, line 1: the injection number 2147483647 + 1 does "
                    "not fit in 32 "
                    "bits"},
        FailureCase{
            "MarkerCountBelow32Bits", Whole(-2147483647 - 1, 1, 0, 0.0f), Text({"x", "@"}), false,
            "Overflow (6): second file, line 2: the injection count falls below -2147483648"},
        FailureCase{"TimeStampBeyond32Bits", Whole(0, 2, 2147483646, 0.0f), Text({"@1,x", "1,1"}),
                    false,
                    "Overflow (6): second file, line 2: the time stamp 2147483646 + 2 leaves the "
                    "32-bit range"},
        // Every line's first comma is found first, so even a header line counts.
        FailureCase{"CommaAt32768", kState, Text({"$ITC", CommaAt(32768)}), false,
                    "Overflow (6): second file, line 2: the first comma stands at position 32768, "
                    "beyond 32767"},
        FailureCase{"BaselineCommaAt32767", kState, Text({"@0", CommaAt(32767)}), false,
                    "Overflow (6): second file, line 2: the first comma stands at position 32767; "
                    "the position "
                    "after it does not fit in 16 bits"},
        FailureCase{"LineWithoutCommaCompensated", kState,
                    Text({"@0", "1,10", "@1,x", "1,2", "note"}), true,
                    "Subscript out of range (9): second file, line 5: the line \"note\" inside a "
                    "data section has "
                    "no DP field to compensate"},
        FailureCase{"TimeFieldStartNotLastCompensated", kState,
                    Text({"@0", "1,10", "@1,x", "1,2", "4412", "2,3"}), true,
                    "Subscript out of range (9): second file, line 5: the line \"4412\" inside a "
                    "data section has "
                    "no DP field to compensate"},
        FailureCase{
            "DPFieldNotANumber", kState, Text({"@0", "1,10", "@1,x", "", "1,abc,3", "2,1,3"}), true,
            "Type mismatch (13): second file, line 5: the DP field \"abc\" is not a number"},
        FailureCase{"DPFieldEmpty", kState, Text({"@0", "1,10", "@1,x", "6.00,,3", "7.00,1,3"}),
                    true,
                    "Type mismatch (13): second file, line 4: the DP field \"\" is not a number"},
        FailureCase{"DataLineEndsInItsComma", kState,
                    Text({"@0", "1,10", "@1,x", "6.00,", "7.00,1"}), true,
                    "Type mismatch (13): second file, line 4: the DP field \"\" is not a number"},
        FailureCase{"DPFieldLongIsCutShort", kState,
                    Text({"@0", "1,10", "@1,x", "6.00," + std::string(100, 'z'), "7.00,1"}), true,
                    "Type mismatch (13): second file, line 4: the DP field \"" +
                        std::string(60, 'z') + "...\" is not a number"},
        // A data line that would be cut short as the last: followed by a marker line, it fails.
        FailureCase{"CutShortLineNotLast", kState,
                    Text({"@0", "1,10", "@1,x", "6.00,", "", "@2,y"}), true,
                    "Type mismatch (13): second file, line 4: the DP field \"\" is not a number"},
        FailureCase{"TimeStampBeyond32BitsInHundredths", RunState{0, 250, 214748364500, 0.0f},
                    Text({"@1,x", "1,1"}), false,
                    "Overflow (6): second file, line 2: the time stamp 2147483645 + 2.5 leaves the "
                    "32-bit range"},
        FailureCase{"TimeStampBelow32Bits", RunState{0, -1, -214748364800, 0.0f},
                    Text({"@1,x", "1,1"}), false,
                    "Overflow (6): second file, line 2: the time stamp -2147483648 + -0.01 leaves "
                    "the 32-bit range"},
        FailureCase{"DPFieldBeyondDoubleRange", kState, Text({"@0", "1,10", "@1,x", "6.00,1e999"}),
                    true,
                    "Overflow (6): second file, line 4: the DP field \"1e999\" is beyond the "
                    "64-bit float range"},
        FailureCase{
            "NoBaselineBeforeData", kState, Text({"$ 1 , 2", "@1,x", "2.0,12.75"}), true,
            "No baseline (1002): second file, line 3: no baseline line (a line with a comma after "
            "the "
            "first marker line) comes before the first data line, so there is no reference DP to "
            "compensate from"},
        FailureCase{
            "OnlyEmptyAndCommalessLinesBeforeData", kState,
            Text({"@0", "", "5", "@1,x", "2.0,12.75"}), true,
            "No baseline (1002): second file, line 5: no baseline line (a line with a comma after "
            "the "
            "first marker line) comes before the first data line, so there is no reference DP to "
            "compensate from"},
        // 3e38 - (-3e38) = 6e38 is beyond the largest float, about 3.4e38.
        FailureCase{"OffsetBeyondFloatRange", Whole(0, 1, 0, -3e38f),
                    Text({"@0", "1,3e38", "@1,x", "2,1"}), true,
                    "Overflow (6): second file, line 4: the DP offset between the reference DP "
                    "3e+38 and the "
                    "first file's last DP -3e+38 is beyond the 32-bit float range"},
        // Line numbers count every line read, whatever ends it.
        FailureCase{
            "LineNumbersCountEveryLineEnd", kState, "@0\n1,10\r@1,x\r\n\n\r\n1,abc\n2,1\n", true,
            "Type mismatch (13): second file, line 6: the DP field \"abc\" is not a number"}),
    [](const testing::TestParamInfo<FailureCase>& p) { return p.param.name; });

// Data lines ending in CR LF are rebuilt in runs straight from the read buffer;
// lines ending otherwise go one by one. Both ways must give the same bytes, the
// same failures and the same state, whatever the lines hold.
struct LineEndCase {
  std::string name;
  std::string second;  // with CR LF
};
std::ostream& operator<<(std::ostream& os, const LineEndCase& c) { return os << c.name; }

std::string ManyDataLines(int count, std::string_view dp) {
  std::string text = Text({"@0", "1,10.5,25", "@1,0.4,2, 10.5 "});
  for (int k = 0; k < count; ++k) {
    text += std::to_string(k) + ".0," + std::string(dp) + std::to_string(k % 1000) + ",24.9,x\r\n";
  }
  return text;
}

class RewriteLineEndTest : public testing::TestWithParam<LineEndCase> {};

TEST_P(RewriteLineEndTest, RunsAndSingleLinesAgree) {
  const LineEndCase& c = GetParam();
  for (bool compensate : {false, true}) {
    const Rewritten crlf = Rewrite(c.second, kState, compensate);
    for (std::string_view end : {"\n", "\r"}) {
      const Rewritten other = Rewrite(test::WithLineEnd(c.second, end), kState, compensate);
      const std::string label =
          std::string(compensate ? "compensated, " : "") + (end == "\n" ? "LF" : "CR");
      ASSERT_EQ(crlf.error.has_value(), other.error.has_value()) << label;
      // After a failure nothing is kept, so what was written by then does not count.
      if (crlf.error) {
        EXPECT_EQ(crlf.error->Message(), other.error->Message()) << label;
        continue;
      }
      EXPECT_EQ(crlf.written, other.written) << label;
      EXPECT_EQ(crlf.state.timeHundredths, other.state.timeHundredths) << label;
      EXPECT_EQ(crlf.state.markerCount, other.state.markerCount) << label;
      EXPECT_EQ(crlf.report.dataLinesAppended, other.report.dataLinesAppended) << label;
      EXPECT_EQ(crlf.report.cutShort.has_value(), other.report.cutShort.has_value()) << label;
      if (crlf.report.cutShort && other.report.cutShort) {
        EXPECT_EQ(crlf.report.cutShort->line, other.report.cutShort->line) << label;
        EXPECT_EQ(crlf.report.cutShort->text, other.report.cutShort->text) << label;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RewriteLineEndTest,
    testing::Values(
        // Past the reader's 256 KiB buffer, so that runs end where the buffer does.
        LineEndCase{"ManyLines", ManyDataLines(12000, "10.4")},
        // DP texts the quick way refuses: read the longer way, or refused.
        LineEndCase{
            "DpFormsOfTheLongerWay",
            Text({"@0", "1,10", "@1,x", "1,1e-3,a", "2,+5.0,b", "3, 7.5,c", "4,12345678901234567,d",
                  "5,0.00000000000000000000001,e", "6,-0,f", "7,5.,g", "8,.5,h", "9,9999.9999995,i",
                  "10,0.0000005,j", "11,&H10,k", "12,10.25,l"})},
        LineEndCase{"DpNotANumberInTheMiddle",
                    Text({"@0", "1,10", "@1,x", "1,10.5", "2,abc", "3,10.5"})},
        LineEndCase{"DpNotANumberLast", Text({"@0", "1,10", "@1,x", "1,10.5", "2,10.5", "3,abc"})},
        LineEndCase{"CutShortLast",
                    Text({"@0", "1,10", "@1,x", "1,10.5,3,4", "2,10.5,3,4", "3,10.5"})},
        LineEndCase{"CutShortBeforeEmptyLines",
                    Text({"@0", "1,10", "@1,x", "1,10.5,3", "2,10", "", ""})},
        LineEndCase{"LastLineWithoutLineEnd",
                    Text({"@0", "1,10", "@1,x", "1,10.5,3", "2,10.5,3"}) + "3,10.5,3"},
        LineEndCase{"EmptyLinesBetweenDataLines",
                    Text({"@0", "1,10", "@1,x", "1,10.5", "", "2,10.6", "", "3,1"})},
        LineEndCase{"LongLine", Text({"@0", "1,10", "@1,x", "1,10.5",
                                      "2,10.5," + std::string(5000, 'y'), "3,10.5", "4,10.5"})},
        LineEndCase{
            "MarkersWithStartTimes",
            Text({"@0", "1,10", "@1,0.4,2, 10.5 ", "11,10.5", "12,10.6", "@2,0.4,2, 20.25 ",
                  "21,10.7", "22,10.8", "@3,0.4,2, 30 ", "@4,0.4,2, 40 ", "41,10.9", "42,11"})},
        LineEndCase{"LinesWithoutCommaInside",
                    Text({"@0", "1,10", "@1,x", "1,10.5", "note", "2,10.5", "3,1"})},
        LineEndCase{"CutBeforeItsFirstComma",
                    Text({"@0", "1,10", "@1,x", "1,10.5", "2,10.5", "3,10.5", "4412"})},
        LineEndCase{"TimeFieldStartInTheMiddle",
                    Text({"@0", "1,10", "@1,x", "1,10.5", "2,10.5", "4412", "3,1"})},
        LineEndCase{"EndOfFileByte", Text({"@0", "1,10", "@1,x", "1,10.5", "2,10.5"}) + "\x1a"}),
    [](const testing::TestParamInfo<LineEndCase>& p) { return p.param.name; });

}  // namespace
}  // namespace tandemo
