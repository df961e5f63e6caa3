// The merged titration as a picture: time and DP of every data line as the merge
// writes it, the injection marks and the joins; and the same reduced for drawing.
// Built from the lines the merge writes, so it shows exactly what the file will hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "tracked_output.hpp"

namespace tandemo {

struct TracePoint {
  double time = 0.0;  // s, as written (appended portions retimed by the merge)
  double dp = 0.0;    // µcal/s, as written (with compensation: the offset taken off)
};

// One input file's share of the merged titration: points [firstPoint, endPoint).
struct TracePortion {
  std::size_t firstPoint = 0;
  std::size_t endPoint = 0;
  std::optional<float> offset;  // DP offset of the join that appended it; none for the first
  bool compensated = false;     // the offset was taken off the written DP
};

struct InjectionMark {
  std::int64_t number = 0;         // as written on the marker line
  std::size_t portion = 0;         // 0: first file
  std::optional<double> time;      // s: of the data line that follows the marker
  std::optional<double> volume;    // µL: the marker's second field, where it is a number
  std::optional<double> duration;  // s: the marker's third field, where it is a number
  std::size_t firstPoint = 0;      // its interval, up to the next marker line:
  std::size_t endPoint = 0;        //   points [firstPoint, endPoint)
  long long line = 0;              // line of its portion's file, when the feeder gave it
};

struct JoinPoint {
  std::size_t portion = 0;      // the appended portion that begins here
  std::optional<double> time;   // s: its first data line; none when it wrote none
  std::optional<float> offset;  // DP offset reported for the join
  bool compensated = false;
};

struct Trace {
  std::vector<TracePoint> points;  // every data line, in the order written
  std::vector<TracePortion> portions;
  std::vector<InjectionMark> injections;
  std::vector<JoinPoint> joins;   // one per appended portion
  long long unreadableLines = 0;  // data lines whose time or DP is not a number: not drawn
  std::size_t firstUnreadablePortion = 0;
  long long firstUnreadableLine = 0;  // 0 when the feeder gave no line numbers

  std::span<const TracePoint> PortionPoints(std::size_t portion) const;
  // The points before the first injection: the baseline after "@0".
  std::span<const TracePoint> Baseline() const;
};

// The portion as it would be written without compensation (DP + offset), for
// drawing behind the compensated one; empty when no offset was taken off it.
std::vector<TracePoint> UncompensatedPoints(const Trace& trace, std::size_t portion);

// Collects the trace from the merged titration's lines as they are written. A
// data line is what the merge counts as one: after the first marker line, not
// empty, not a marker line, holding a comma; time is its first field, DP its second.
class TraceBuilder {
 public:
  // One line as written, from input `portion` (0 = first file, 1 = second, ...).
  // Portions come in order; `sourceLine` is the line in that portion's file, or 0.
  void Put(std::string_view line, std::size_t portion, long long sourceLine = 0);
  // What the merge reports for the join that appended `portion` (>= 1): the DP
  // offset, when one was taken, and whether it was taken off the written DP.
  void SetJoin(std::size_t portion, std::optional<float> offset, bool compensated);
  // The trace collected so far; the builder starts afresh.
  Trace Finish();

 private:
  void OpenPortion(std::size_t portion);
  void CloseInterval();

  Trace trace_;
  std::size_t portion_ = 0;
  bool opened_ = false;       // a portion has been opened
  bool seenMarker_ = false;   // the merged file's first marker line has been written
  bool inInjection_ = false;  // points go to the last injection's interval
};

// Feeds a builder from the lines a merge writes (RunMerge's or RunMergeInto's
// observer): the lines of input file n are portion n - 1, with their line in it.
class TracingObserver final : public WrittenLineObserver {
 public:
  explicit TracingObserver(TraceBuilder& builder) : builder_(builder) {}
  void Written(std::string_view line, SourcePlace from) override {
    builder_.Put(line, from.file.index > 1 ? static_cast<std::size_t>(from.file.index - 1) : 0,
                 from.line);
  }

 private:
  TraceBuilder& builder_;
};

// Indices of the points to draw: at most `maxPoints`, in time order. The first and
// the last point are always kept; the points between them are cut into equal
// buckets, (maxPoints - 2) / 2 of them, bucket b holding interior points
// [1 + b*n/B, 1 + (b+1)*n/B) of the n interior ones, and each bucket keeps its
// minimum and its maximum DP (the first of equal values), so no spike is lost.
// With maxPoints >= size every point is kept.
std::vector<std::size_t> ReduceForDrawing(std::span<const TracePoint> points,
                                          std::size_t maxPoints);

// The points from time `from` to time `to`, both included, of points in time
// order: a zoomed view is reduced from these, so it shows every line it can.
std::span<const TracePoint> PointsBetween(std::span<const TracePoint> points, double from,
                                          double to);

struct ReducedPortion {
  std::vector<std::size_t> indices;       // into Trace::points
  std::vector<TracePoint> points;         // as written
  std::vector<TracePoint> uncompensated;  // DP + offset at the same times; empty unless compensated
};

// Each portion reduced to at most `maxPointsPerPortion` points.
std::vector<ReducedPortion> ReduceTrace(const Trace& trace, std::size_t maxPointsPerPortion);

}  // namespace tandemo
