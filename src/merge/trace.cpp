#include "trace.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fields.hpp"
#include "number_read.hpp"

namespace tandemo {
namespace {

// The field from `start` up to the next comma or the end of the line.
std::string_view FieldAt(std::string_view line, std::size_t start) {
  if (start > line.size()) return {};
  const std::size_t comma = line.find(',', start);
  return line.substr(start,
                     comma == std::string_view::npos ? std::string_view::npos : comma - start);
}

std::optional<double> NumberOrNothing(std::string_view field) {
  Checked<double> value = FieldNumber(field);
  if (!value) return std::nullopt;
  return value.value;
}

// The injection number as the marker line writes it ("@12,..."), read the way
// the merge reads it, so a stray blank or sign does not lose the mark.
std::int64_t InjectionNumber(std::string_view digits) {
  const double value = LeadingValue(digits);
  constexpr double limit = static_cast<double>(std::numeric_limits<std::int32_t>::max());
  if (!(std::fabs(value) <= limit)) return 0;
  return static_cast<std::int64_t>(std::llround(value));
}

}  // namespace

std::span<const TracePoint> Trace::PortionPoints(std::size_t portion) const {
  if (portion >= portions.size()) return {};
  const TracePortion& p = portions[portion];
  return std::span<const TracePoint>(points).subspan(p.firstPoint, p.endPoint - p.firstPoint);
}

std::span<const TracePoint> Trace::Baseline() const {
  const std::size_t end = injections.empty() ? points.size() : injections.front().firstPoint;
  return std::span<const TracePoint>(points).first(end);
}

std::vector<TracePoint> UncompensatedPoints(const Trace& trace, std::size_t portion) {
  std::vector<TracePoint> shifted;
  if (portion >= trace.portions.size()) return shifted;
  const TracePortion& p = trace.portions[portion];
  if (!p.compensated || !p.offset) return shifted;
  const double offset = static_cast<double>(*p.offset);
  std::span<const TracePoint> written = trace.PortionPoints(portion);
  shifted.reserve(written.size());
  for (const TracePoint& point : written) shifted.push_back({point.time, point.dp + offset});
  return shifted;
}

void TraceBuilder::OpenPortion(std::size_t portion) {
  std::size_t next = opened_ ? portion_ + 1 : 0;
  for (; next <= portion; ++next) {
    const std::size_t at = trace_.points.size();
    trace_.portions.push_back(TracePortion{at, at, std::nullopt, false});
    if (next > 0) trace_.joins.push_back(JoinPoint{next, std::nullopt, std::nullopt, false});
  }
  portion_ = portion;
  opened_ = true;
}

void TraceBuilder::Put(std::string_view line, std::size_t portion, long long sourceLine) {
  // A line from an earlier portion than the current one stays in the current one:
  // the points keep the order in which they were written.
  if (!opened_ || portion > portion_) OpenPortion(portion);

  if (IsMarkerLine(line)) {
    seenMarker_ = true;
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) {  // "@0": a baseline follows, no injection
      inInjection_ = false;
      return;
    }
    InjectionMark mark;
    mark.number = InjectionNumber(line.substr(1, comma - 1));
    mark.portion = portion_;
    mark.line = sourceLine;
    mark.volume = NumberOrNothing(FieldAt(line, comma + 1));
    const std::size_t second = line.find(',', comma + 1);
    if (second != std::string_view::npos)
      mark.duration = NumberOrNothing(FieldAt(line, second + 1));
    mark.firstPoint = mark.endPoint = trace_.points.size();
    trace_.injections.push_back(mark);
    inInjection_ = true;
    return;
  }
  if (!seenMarker_ || !IsDataLine(line)) return;

  const std::size_t comma = line.find(',');
  const std::optional<double> time = NumberOrNothing(line.substr(0, comma));
  const std::optional<double> dp = NumberOrNothing(FieldAt(line, comma + 1));
  if (!time || !dp) {
    if (trace_.unreadableLines++ == 0) {
      trace_.firstUnreadablePortion = portion_;
      trace_.firstUnreadableLine = sourceLine;
    }
    return;
  }
  trace_.points.push_back(TracePoint{*time, *dp});
  const std::size_t end = trace_.points.size();
  trace_.portions.back().endPoint = end;
  if (inInjection_) {
    InjectionMark& mark = trace_.injections.back();
    if (!mark.time) mark.time = *time;
    mark.endPoint = end;
  }
  if (portion_ > 0) {
    JoinPoint& join = trace_.joins[portion_ - 1];
    if (!join.time) join.time = *time;
  }
}

void TraceBuilder::SetJoin(std::size_t portion, std::optional<float> offset, bool compensated) {
  if (portion == 0) return;  // the first file is not appended to anything
  if (!opened_ || portion > portion_) OpenPortion(portion);
  trace_.portions[portion].offset = offset;
  trace_.portions[portion].compensated = compensated && offset.has_value();
  JoinPoint& join = trace_.joins[portion - 1];
  join.offset = offset;
  join.compensated = compensated && offset.has_value();
}

Trace TraceBuilder::Finish() {
  Trace done = std::move(trace_);
  *this = TraceBuilder{};
  return done;
}

std::vector<std::size_t> ReduceForDrawing(std::span<const TracePoint> points,
                                          std::size_t maxPoints) {
  const std::size_t n = points.size();
  std::vector<std::size_t> kept;
  if (n <= maxPoints) {
    kept.reserve(n);
    for (std::size_t i = 0; i < n; ++i) kept.push_back(i);
    return kept;
  }
  if (maxPoints == 0) return kept;
  kept.push_back(0);
  if (maxPoints == 1) return kept;

  const std::size_t interior = n - 2;
  const std::size_t buckets = (maxPoints - 2) / 2;
  kept.reserve(2 * buckets + 2);
  // Bucket b starts at interior point b*interior/buckets, taken apart as
  // b*q + b*r/buckets so that no product leaves the size_t range.
  const std::size_t q = buckets ? interior / buckets : 0;
  const std::size_t r = buckets ? interior % buckets : 0;
  for (std::size_t b = 0; b < buckets; ++b) {
    const std::size_t lo = 1 + b * q + (b * r) / buckets;
    const std::size_t hi = 1 + (b + 1) * q + ((b + 1) * r) / buckets;
    if (lo >= hi) continue;
    std::size_t lowest = lo, highest = lo;
    for (std::size_t i = lo + 1; i < hi; ++i) {
      if (points[i].dp < points[lowest].dp) lowest = i;
      if (points[i].dp > points[highest].dp) highest = i;
    }
    const std::size_t earlier = lowest < highest ? lowest : highest;
    const std::size_t later = lowest < highest ? highest : lowest;
    kept.push_back(earlier);
    if (later != earlier) kept.push_back(later);
  }
  kept.push_back(n - 1);
  return kept;
}

std::span<const TracePoint> PointsBetween(std::span<const TracePoint> points, double from,
                                          double to) {
  auto first = std::partition_point(points.begin(), points.end(),
                                    [from](const TracePoint& p) { return p.time < from; });
  auto last =
      std::partition_point(first, points.end(), [to](const TracePoint& p) { return p.time <= to; });
  return points.subspan(static_cast<std::size_t>(first - points.begin()),
                        static_cast<std::size_t>(last - first));
}

std::vector<ReducedPortion> ReduceTrace(const Trace& trace, std::size_t maxPointsPerPortion) {
  std::vector<ReducedPortion> reduced(trace.portions.size());
  for (std::size_t p = 0; p < trace.portions.size(); ++p) {
    const TracePortion& portion = trace.portions[p];
    std::span<const TracePoint> points = trace.PortionPoints(p);
    ReducedPortion& out = reduced[p];
    out.indices = ReduceForDrawing(points, maxPointsPerPortion);
    out.points.reserve(out.indices.size());
    for (std::size_t& i : out.indices) {
      out.points.push_back(points[i]);
      i += portion.firstPoint;
    }
    if (portion.compensated && portion.offset) {
      const double offset = static_cast<double>(*portion.offset);
      out.uncompensated.reserve(out.points.size());
      for (const TracePoint& point : out.points)
        out.uncompensated.push_back({point.time, point.dp + offset});
    }
  }
  return reduced;
}

}  // namespace tandemo
