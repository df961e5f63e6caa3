// What an ITC file's header says about the titration it holds. A header of the
// usual form starts "$ITC", announces its injections on line 2 ("$ 26 ") and gives
// one "$" line per injection from line 11 on ("$ 10 , 20 , 600 , 2 "); its "%"
// lines name the instrument unit (the first) and the control software (the one
// with "Ver:"), on the newest instruments with the run's start time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tandemo {

// A number as the file writes it: the value for comparing, the text for showing.
struct FactValue {
  double number = 0.0;
  std::string text;
};

// When a run started, as "Run time:10/29/2019 5:59:16 PM" gives it: month/day/year
// and a 12-hour clock.
struct RunStart {
  long long secondsKey = 0;  // orders start times; not seconds since any epoch
  std::string text;          // "10/29/2019 5:59:16 PM"
};

struct HeaderFacts {
  bool usualForm = false;
  std::string formProblem;                  // why the header is not of the usual form
  std::int32_t announced = 0;               // injections announced on line 2
  std::string countPrefix;                  // line 2 before its number ("$ ")
  std::string countSuffix;                  // line 2 after its number (" ")
  std::vector<std::string> injectionLines;  // lines 11 .. 10 + announced

  std::optional<FactValue> temperature;           // line 4, target temperature
  std::optional<FactValue> syringeConcentration;  // 2nd "#" line after the injection lines, mM
  std::optional<FactValue> cellConcentration;     // 3rd "#" line, mM
  std::optional<FactValue> cellVolume;            // 4th "#" line, mL
  std::optional<std::string> instrumentUnit;   // the first "%" line, unless it names the software
  std::optional<std::string> controlSoftware;  // the "%" line with "Ver:", without its run time
  std::optional<RunStart> runStart;            // from the software line, where it has one
};

// Reads the lines before the first marker line; a UTF-8 byte order mark before
// the first line is no part of it.
HeaderFacts ReadHeader(const std::vector<std::string>& lines);

// "10/29/2019 5:59:16 PM" (leading blanks allowed, seconds optional); nothing for
// any other text. Read the same whatever the locale.
std::optional<RunStart> ParseRunStart(std::string_view text);

}  // namespace tandemo
