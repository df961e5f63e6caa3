#include "csv_tables.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace tandemo {
namespace {

constexpr std::size_t kPieceBytes = 64 * 1024;

void AppendCell(std::string& out, const std::optional<double>& value) {
  if (value && std::isfinite(*value)) AppendCsvNumber(out, *value);
}

void AppendInteger(std::string& out, long long n) {
  char buf[std::numeric_limits<long long>::digits10 + 3];
  const auto result = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, result.ptr);
}

}  // namespace

void AppendCsvNumber(std::string& out, double value) {
  if (value == 0.0) value = 0.0;  // "-0" would read as a different value to some tools
  char buf[32];                   // the shortest text of any double fits in 24 characters
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, result.ptr);
}

std::string HeatsCsv(std::span<const InjectionHeat> heats) {
  std::string out =
      "number,portion,start time (s),volume (uL),heat (ucal),molar ratio,"
      "heat per mole of injectant (kcal/mol)\n";
  for (const InjectionHeat& h : heats) {
    AppendInteger(out, h.number);
    out += ',';
    AppendInteger(out, static_cast<long long>(h.portion) + 1);
    out += ',';
    AppendCell(out, h.startTime);
    out += ',';
    AppendCell(out, h.volume);
    out += ',';
    AppendCell(out, h.heat);
    out += ',';
    AppendCell(out, h.molarRatio);
    out += ',';
    AppendCell(out, h.heatPerMole);
    out += '\n';
  }
  return out;
}

void WriteTraceCsv(const Trace& trace, const std::function<void(std::string_view)>& write) {
  std::string piece = "time (s),DP (ucal/s),portion\n";
  piece.reserve(kPieceBytes + 128);
  for (std::size_t p = 0; p < trace.portions.size(); ++p) {
    std::string portion;
    AppendInteger(portion, static_cast<long long>(p) + 1);
    for (const TracePoint& point : trace.PortionPoints(p)) {
      AppendCsvNumber(piece, point.time);
      piece += ',';
      AppendCsvNumber(piece, point.dp);
      piece += ',';
      piece += portion;
      piece += '\n';
      if (piece.size() >= kPieceBytes) {
        write(piece);
        piece.clear();
      }
    }
  }
  if (!piece.empty()) write(piece);
}

std::string TraceCsv(const Trace& trace) {
  std::string out;
  WriteTraceCsv(trace, [&out](std::string_view piece) { out.append(piece); });
  return out;
}

}  // namespace tandemo
