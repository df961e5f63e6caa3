// The injection table and the trace as comma-separated text that fitting tools
// and spreadsheets read: a header row, "." decimals whatever the locale, an
// empty cell where a value is absent, LF line ends. Only the text: where it is
// written is the caller's business.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "heats.hpp"
#include "trace.hpp"

namespace tandemo {

// number, portion (1 = first file), start time (s), volume (uL), heat (ucal),
// molar ratio, heat per mole of injectant (kcal/mol).
std::string HeatsCsv(std::span<const InjectionHeat> heats);

// time (s), DP (ucal/s) as written, portion (1 = first file): one row per data line.
// Handed over in pieces of about 64 kB, so a 200 MB titration needs no second copy.
void WriteTraceCsv(const Trace& trace, const std::function<void(std::string_view)>& write);
std::string TraceCsv(const Trace& trace);

// A number as the tables write it: the shortest text that reads back as the same
// double, never "-0", never in the locale's form ("0.4", "600", "-28.5", "1e-05").
void AppendCsvNumber(std::string& out, double value);

}  // namespace tandemo
