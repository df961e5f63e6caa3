// The last data lines of a file: the cut-short rule, and the time step, last time
// stamp and last DP read from them.
#include "merge/data_tail.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

namespace tandemo {
namespace {

struct CutShortRuleCase {
  std::string line;
  std::size_t fieldsBefore;
  bool cutShort;
};
std::ostream& operator<<(std::ostream& os, const CutShortRuleCase& c) {
  return os << '"' << c.line << "\" after " << c.fieldsBefore << " fields";
}

class CutShortRuleTest : public testing::TestWithParam<CutShortRuleCase> {};

TEST_P(CutShortRuleTest, FewerFieldsOrADpThatIsNoNumber) {
  EXPECT_EQ(LooksCutShort(GetParam().line, GetParam().fieldsBefore), GetParam().cutShort);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CutShortRuleTest,
    testing::Values(
        CutShortRuleCase{"4412.00,9.70", 9, true}, CutShortRuleCase{"4412.00,9.70", 2, false},
        CutShortRuleCase{"4412.00,9.70", 0, false},  // no line before: only the DP counts
        CutShortRuleCase{"4412.00,", 0, true}, CutShortRuleCase{"4412.00,,25", 3, true},
        CutShortRuleCase{"4412.00,9.7-", 2, true}, CutShortRuleCase{"4412.00, 9.7 ,25", 3, false},
        CutShortRuleCase{"4412.00,1e5,25,1", 3, false},  // more fields than before is fine
        CutShortRuleCase{"4412.00,1e999", 2, false},     // a number, if a huge one
        CutShortRuleCase{"4412.00,&H10", 2, true}));     // no number a DP field may hold

DataTail Fed(std::initializer_list<const char*> lines) {
  DataTail tail;
  long long n = 0;
  for (const char* l : lines) tail.Add(l, ++n, FilePlace::Input(1));
  return tail;
}

TEST(DataTailTest, KeepsTheLastThreeDataLines) {
  DataTail tail = Fed({"1.00,1", "2.00,2", "3.00,3", "4.00,4"});
  EXPECT_EQ(tail.count(), 3);
  EXPECT_EQ(tail.last().text, "4.00,4");
  EXPECT_EQ(tail.last().line, 4);
  EXPECT_EQ(tail.previous().text, "3.00,3");
  EXPECT_FALSE(tail.lastCutShort());
}

TEST(DataTailTest, CutShortLastLineIsDroppedForTheOneBefore) {
  DataTail tail = Fed({"4410.00,9.703256,25.03", "4411.00,9.703258,25.03", "4412.00,9.70"});
  ASSERT_TRUE(tail.lastCutShort());
  tail.DropLast();
  EXPECT_FALSE(tail.lastCutShort());
  ASSERT_EQ(tail.count(), 2);
  EXPECT_EQ(tail.last().line, 2);
  EXPECT_EQ(tail.StepHundredths().value, 100);
  EXPECT_EQ(tail.LastTimeHundredths().value, 441100);
  EXPECT_EQ(tail.LastDp(), 9.703258);
}

TEST(DataTailTest, ALineAfterTheLastDataLineMeansItWasNotCutShort) {
  DataTail tail = Fed({"1.00,9.7,25", "2.00,9.7"});
  EXPECT_TRUE(tail.lastCutShort());
  tail.AddOther();  // "@2,3.0,6.0": the file went on
  EXPECT_FALSE(tail.lastCutShort());
}

struct AxisCase {
  const char* previous;
  const char* last;
  Checked<std::int32_t> step;
  Checked<std::int64_t> time;
};
std::ostream& operator<<(std::ostream& os, const AxisCase& c) {
  return os << c.previous << " / " << c.last;
}

class TimeAxisTest : public testing::TestWithParam<AxisCase> {};

TEST_P(TimeAxisTest, InHundredthsOfASecond) {
  const AxisCase& c = GetParam();
  DataTail tail = Fed({c.previous, c.last});
  const Checked<std::int32_t> step = tail.StepHundredths();
  const Checked<std::int64_t> time = tail.LastTimeHundredths();
  EXPECT_EQ(step.failure, c.step.failure);
  if (c.step.ok()) {
    EXPECT_EQ(step.value, c.step.value);
  }
  EXPECT_EQ(time.failure, c.time.failure);
  if (c.time.ok()) {
    EXPECT_EQ(time.value, c.time.value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, TimeAxisTest,
    testing::Values(
        AxisCase{"600.00,1", "602.00,1", 200, std::int64_t{60200}},
        AxisCase{"597.50,1", "600.00,1", 250, std::int64_t{60000}},
        AxisCase{"3.56,1", "3.57,1", 1, std::int64_t{357}},
        AxisCase{"5.000,1", "5.004,1", 0, std::int64_t{500}},  // 0.4 hundredths: no step
        AxisCase{"5.5,1", "5.0,1", -50, std::int64_t{500}},
        // 32767.49 s rounds to 32767 whole seconds, the top of the 16-bit range; 32767.5 to 32768.
        AxisCase{"0,1", "32767.49,1", 3276749, std::int64_t{3276749}},
        AxisCase{"0,1", "32767.5,1", Failure::Overflow, std::int64_t{3276750}},
        // -32768.5 s rounds to the even -32768, the bottom of the range; -32769 is beyond.
        AxisCase{"32768.5,1", "0,1", -3276850, std::int64_t{0}},
        AxisCase{"32769,1", "0,1", Failure::Overflow, std::int64_t{0}},
        // 2147483647.49 s rounds to the top of the 32-bit range; 2147483647.5 beyond it.
        AxisCase{"2147483646.49,1", "2147483647.49,1", 100, std::int64_t{214748364749}},
        AxisCase{"2147483646.5,1", "2147483647.5,1", 100, Failure::Overflow}));

TEST(DataTailTest, LastDpIsTheNumberAtTheStartOfTheSecondField) {
  EXPECT_EQ(Fed({"1,1", "2, 2.5 ,9"}).LastDp(), 2.5);
  EXPECT_EQ(Fed({"1,1", "2,"}).LastDp(), 0.0);
}

TEST(DataTailTest, NoteNamesTheFileAndLine) {
  EXPECT_EQ(
      DescribeCutShort(CutShortLine{FilePlace::Input(1), 4412, "4412.00,9.70"}),
      "first file, line 4412: the last data line (\"4412.00,9.70\") is cut short and was left out");
}

// A file's end read backwards in stretches holds what reading it forwards holds:
// every split of the same lines ("-" an other line) into an earlier and a later stretch.
TEST(DataTailTest, StretchesReadBackwardsMakeOneTail) {
  const std::vector<std::string> lines = {"1,1", "-", "3,1,0", "5,2,0", "-", "7,3", "9,4"};
  auto feed = [&](DataTail& tail, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      if (lines[i] == "-")
        tail.AddOther();
      else
        tail.Add(lines[i], static_cast<long long>(i + 1));
    }
  };
  for (std::size_t end = 0; end <= lines.size(); ++end) {
    DataTail whole;
    feed(whole, 0, end);
    for (std::size_t split = 0; split <= end; ++split) {
      DataTail earlier, later;
      feed(earlier, 0, split);
      feed(later, split, end);
      later.TakeEarlier(earlier);
      SCOPED_TRACE("lines 1 to " + std::to_string(end) + ", split after " + std::to_string(split));
      ASSERT_EQ(later.count(), whole.count());
      EXPECT_EQ(later.lastCutShort(), whole.lastCutShort());
      if (whole.count() >= 1) {
        EXPECT_EQ(later.last().line, whole.last().line);
      }
      if (whole.count() >= 2) {
        EXPECT_EQ(later.previous().text, whole.previous().text);
      }
      if (whole.count() == 3) {
        DataTail wholeDropped = whole;
        later.DropLast();
        wholeDropped.DropLast();
        EXPECT_EQ(later.previous().text, wholeDropped.previous().text) << "the oldest line held";
      }
    }
  }
}

}  // namespace
}  // namespace tandemo
