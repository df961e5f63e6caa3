// Reading numbers from ITC text: the prefix reader used for time stamps, marker
// numbers and DP values, and the whole-field reader used for compensation.
#include "merge/number_read.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace tandemo {
namespace {

struct LeadingCase {
  std::string text;
  double expected;
};
std::ostream& operator<<(std::ostream& os, const LeadingCase& c) {
  return os << '"' << c.text << "\" -> " << c.expected;
}

class LeadingValueTest : public testing::TestWithParam<LeadingCase> {};

TEST_P(LeadingValueTest, ReadsTheNumberAtTheStart) {
  EXPECT_EQ(LeadingValue(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, LeadingValueTest,
    testing::Values(LeadingCase{"2.00,10.5,25.1", 2.0},
                    LeadingCase{"1,5", 1.0},  // the comma is never a decimal point
                    LeadingCase{"  4.5 abc", 4.5},
                    LeadingCase{" 12 34,5", 1234.0},  // blanks vanish, even between digits
                    LeadingCase{"\t-1.5", -1.5},
                    LeadingCase{"2.00\n4.00,1",
                                2.004},  // the line feed vanishes, the second "." ends it
                    LeadingCase{"-.5", -0.5}, LeadingCase{"+7", 7.0}, LeadingCase{"5.", 5.0},
                    LeadingCase{"1.2.3", 1.2}, LeadingCase{"5$", 5.0}, LeadingCase{"1e3,7", 1000.0},
                    LeadingCase{"2.5E-1", 0.25},
                    LeadingCase{"1e", 1.0},  // an exponent letter without digits is not read
                    LeadingCase{"1e+", 1.0}, LeadingCase{"0.1", 0.1},
                    // More digits than a double holds: still the nearest double.
                    LeadingCase{"3.14159265358979323846", 3.14159265358979323846},
                    LeadingCase{"1e-999", 0.0},
                    // The marker number: the characters after "@" up to the comma.
                    LeadingCase{"12,3.", 12.0}, LeadingCase{" 1 2,3.", 12.0}));

INSTANTIATE_TEST_SUITE_P(NoNumberGivesZero, LeadingValueTest,
                         testing::Values(LeadingCase{"", 0.0}, LeadingCase{"abc", 0.0},
                                         LeadingCase{"$ITC", 0.0}, LeadingCase{"# 25", 0.0},
                                         LeadingCase{",7", 0.0}, LeadingCase{"-", 0.0},
                                         LeadingCase{".", 0.0}, LeadingCase{"@1,10", 0.0},
                                         LeadingCase{"&", 0.0}));

INSTANTIATE_TEST_SUITE_P(
    HexAndOctal, LeadingValueTest,
    testing::Values(LeadingCase{"&HFFFF", -1.0},  // four hex digits: 16-bit two's complement
                    LeadingCase{"&H8000", -32768.0}, LeadingCase{"&H7FFF", 32767.0},
                    LeadingCase{"&H10,5", 16.0}, LeadingCase{"&O17", 15.0},
                    LeadingCase{"&H", 0.0}));

struct FieldCase {
  std::string text;
  Failure failure;
  double expected;  // when there is no failure
};
std::ostream& operator<<(std::ostream& os, const FieldCase& c) {
  return os << '"' << c.text << "\" -> failure " << static_cast<int>(c.failure) << ", "
            << c.expected;
}

class FieldNumberTest : public testing::TestWithParam<FieldCase> {};

TEST_P(FieldNumberTest, TakesTheWholeFieldOrRefusesIt) {
  const FieldCase& c = GetParam();
  Checked<double> r = FieldNumber(c.text);
  EXPECT_EQ(r.failure, c.failure);
  if (c.failure == Failure::None) {
    EXPECT_EQ(r.value, c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, FieldNumberTest,
    testing::Values(FieldCase{"12.75", Failure::None, 12.75},
                    FieldCase{" 12.75 ", Failure::None, 12.75},
                    FieldCase{"\t7\t", Failure::None, 7.0}, FieldCase{"-0.5", Failure::None, -0.5},
                    FieldCase{"+3", Failure::None, 3.0}, FieldCase{"1.5E2", Failure::None, 150.0},
                    FieldCase{"1e-2", Failure::None, 0.01}, FieldCase{".5", Failure::None, 0.5},
                    FieldCase{"5.", Failure::None, 5.0}, FieldCase{"1e-999", Failure::None, 0.0}));

INSTANTIATE_TEST_SUITE_P(
    NotANumber, FieldNumberTest,
    testing::Values(
        FieldCase{"", Failure::TypeMismatch, 0}, FieldCase{"   ", Failure::TypeMismatch, 0},
        FieldCase{"abc", Failure::TypeMismatch, 0}, FieldCase{"12.7.5", Failure::TypeMismatch, 0},
        FieldCase{"12abc", Failure::TypeMismatch, 0}, FieldCase{"1 2", Failure::TypeMismatch, 0},
        FieldCase{"1e", Failure::TypeMismatch, 0}, FieldCase{"1e+", Failure::TypeMismatch, 0},
        FieldCase{"-", Failure::TypeMismatch, 0}, FieldCase{".", Failure::TypeMismatch, 0},
        FieldCase{"--1", Failure::TypeMismatch, 0}, FieldCase{"&H10", Failure::TypeMismatch, 0},
        FieldCase{"1,5", Failure::TypeMismatch, 0}));

// Beyond the largest double (about 1.8e308) a field cannot be held at all.
INSTANTIATE_TEST_SUITE_P(BeyondDoubleRange, FieldNumberTest,
                         testing::Values(FieldCase{"1e999", Failure::Overflow, 0},
                                         FieldCase{"-1e309", Failure::Overflow, 0},
                                         FieldCase{"1.7976931348623157e308", Failure::None,
                                                   1.7976931348623157e308}));

}  // namespace
}  // namespace tandemo
