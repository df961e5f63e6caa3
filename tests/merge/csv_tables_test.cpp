// The injection table and the trace as text: exact bytes, "." decimals, empty
// cells for absent values, and the trace handed over in pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "merge/csv_tables.hpp"
#include "trace_fixture.hpp"

namespace tandemo {
namespace {

struct NumberCase {
  double value;
  const char* text;
};
std::ostream& operator<<(std::ostream& os, const NumberCase& c) { return os << c.text; }

class CsvNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(CsvNumber, ShortestTextThatReadsBack) {
  std::string out = "x";
  AppendCsvNumber(out, GetParam().value);
  EXPECT_EQ(out, std::string("x") + GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CsvNumber,
    testing::Values(NumberCase{0.4, "0.4"}, NumberCase{600.0, "600"}, NumberCase{-28.5, "-28.5"},
                    NumberCase{-0.0, "0"}, NumberCase{1e-05, "1e-05"},
                    NumberCase{0.1 + 0.2, "0.30000000000000004"}, NumberCase{1.40547, "1.40547"},
                    NumberCase{std::numeric_limits<double>::lowest(), "-1.7976931348623157e+308"}));

TEST(HeatsCsv, HeaderRowAndEmptyCellsForAbsentValues) {
  std::vector<InjectionHeat> heats(3);
  heats[0].number = 1;
  heats[0].startTime = 22.0;
  heats[0].volume = 0.4;
  heats[0].heat = -5.25;
  heats[0].molarRatio = 0.1005;
  heats[0].heatPerMole = -1.3125;
  heats[1].number = 11;  // appended, volume not a number: no ratio, no heat per mole
  heats[1].portion = 1;
  heats[1].startTime = 602.0;
  heats[1].heat = 0.0;
  heats[2].number = 12;  // a marker with no data line after it
  heats[2].portion = 1;
  heats[2].volume = 2.0;
  EXPECT_EQ(HeatsCsv(heats),
            "number,portion,start time (s),volume (uL),heat (ucal),molar ratio,"
            "heat per mole of injectant (kcal/mol)\n"
            "1,1,22,0.4,-5.25,0.1005,-1.3125\n"
            "11,2,602,,0,,\n"
            "12,2,,2,,,\n");
  EXPECT_EQ(HeatsCsv({}),
            "number,portion,start time (s),volume (uL),heat (ucal),molar ratio,"
            "heat per mole of injectant (kcal/mol)\n");
}

TEST(TraceCsv, OneRowPerDataLineWithItsPortion) {
  const Trace trace =
      test::TraceOf({{{"$ITC", "@0", "1.00,1.40547,24.9", "@1,2", ".00,-0.5"}, std::nullopt, false},
                     {{"@2,2", "3.00,0.25"}, 0.25f, true}});
  EXPECT_EQ(TraceCsv(trace),
            "time (s),DP (ucal/s),portion\n"
            "1,1.40547,1\n"
            "0,-0.5,1\n"
            "3,0.25,2\n");
}

TEST(TraceCsv, LongTraceComesInPiecesOfWholeRows) {
  test::PortionLines portion{{"@0"}, std::nullopt, false};
  for (int i = 1; i <= 20000; ++i) portion.lines.push_back(test::DataLine(i, 10.0 + 1e-5 * i));
  const Trace trace = test::TraceOf({portion});
  std::vector<std::string> pieces;
  WriteTraceCsv(trace, [&](std::string_view piece) { pieces.emplace_back(piece); });
  ASSERT_GT(pieces.size(), 1u);
  std::string whole;
  for (const std::string& piece : pieces) {
    EXPECT_EQ(piece.back(), '\n');
    EXPECT_LT(piece.size(), 64u * 1024u + 100u);
    whole += piece;
  }
  EXPECT_EQ(whole, TraceCsv(trace));
  EXPECT_EQ(std::count(whole.begin(), whole.end(), '\n'), 20001);
}

}  // namespace
}  // namespace tandemo
