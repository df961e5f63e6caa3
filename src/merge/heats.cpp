#include "heats.hpp"

namespace tandemo {
namespace {

// Mean DP of the last tenth of an interval: n / 10 points, at least one.
double TailLevel(std::span<const TracePoint> interval) {
  std::size_t count = interval.size() / 10;
  if (count == 0) count = 1;
  double sum = 0.0;
  for (const TracePoint& p : interval.last(count)) sum += p.dp;
  return sum / static_cast<double>(count);
}

// The interval whose end gives an injection's starting baseline: the nearest
// earlier injection that holds data, else the baseline after "@0".
std::span<const TracePoint> IntervalBefore(const Trace& trace, std::size_t injection) {
  std::span<const TracePoint> all(trace.points);
  for (std::size_t j = injection; j-- > 0;) {
    const InjectionMark& earlier = trace.injections[j];
    if (earlier.endPoint > earlier.firstPoint)
      return all.subspan(earlier.firstPoint, earlier.endPoint - earlier.firstPoint);
  }
  return trace.Baseline();
}

}  // namespace

std::optional<CellComposition> CompositionAfter(double injectedMicrolitres,
                                                const CellContents& cell) {
  if (!cell.syringeConcentration || !cell.cellConcentration || !cell.cellVolume)
    return std::nullopt;
  const double cellMicrolitres = *cell.cellVolume * 1000.0;
  const double v = injectedMicrolitres;
  if (!(cellMicrolitres > 0.0) || !(*cell.cellConcentration > 0.0) || !(v >= 0.0))
    return std::nullopt;
  const double half = v / (2.0 * cellMicrolitres);
  if (!(half < 1.0)) return std::nullopt;
  CellComposition c;
  c.macromolecule = *cell.cellConcentration * (1.0 - half) / (1.0 + half);
  c.ligand = *cell.syringeConcentration * (v / cellMicrolitres) * (1.0 - half);
  c.molarRatio = c.ligand / c.macromolecule;
  return c;
}

std::vector<InjectionHeat> IntegrateHeats(const Trace& trace, const CellContents& cell) {
  const std::vector<TracePoint>& points = trace.points;
  const std::size_t n = points.size();
  // The time a data line stands for: up to the next line, the last one the step before it.
  auto span = [&](std::size_t k) {
    return k + 1 < n ? points[k + 1].time - points[k].time : points[k].time - points[k - 1].time;
  };

  std::vector<InjectionHeat> heats;
  heats.reserve(trace.injections.size());
  std::optional<double> injected = 0.0;
  for (std::size_t i = 0; i < trace.injections.size(); ++i) {
    const InjectionMark& mark = trace.injections[i];
    InjectionHeat h;
    h.number = mark.number;
    h.portion = mark.portion;
    h.startTime = mark.time;
    h.volume = mark.volume;

    if (injected && mark.volume)
      *injected += *mark.volume;
    else
      injected.reset();  // one unknown volume leaves every later total unknown
    h.injectedVolume = injected;

    const std::size_t first = mark.firstPoint, end = mark.endPoint;
    if (end > first && n >= 2) {
      std::span<const TracePoint> own =
          std::span<const TracePoint>(points).subspan(first, end - first);
      std::span<const TracePoint> before = IntervalBefore(trace, i);
      h.baselineAfter = TailLevel(own);
      h.baselineBefore = before.empty() ? h.baselineAfter : TailLevel(before);
      const double t0 = own.front().time;
      const double length = own.back().time - t0;
      const double rise = h.baselineAfter - h.baselineBefore;
      double area = 0.0;
      for (std::size_t k = first; k < end; ++k) {
        const double fraction = length != 0.0 ? (points[k].time - t0) / length : 0.0;
        area += (points[k].dp - (h.baselineBefore + rise * fraction)) * span(k);
      }
      h.heat = area;
    }

    if (injected) {
      if (std::optional<CellComposition> c = CompositionAfter(*injected, cell))
        h.molarRatio = c->molarRatio;
    }
    if (h.heat && h.volume && cell.syringeConcentration && *cell.syringeConcentration > 0.0 &&
        *h.volume > 0.0) {
      h.heatPerMole = *h.heat / (*cell.syringeConcentration * *h.volume);
    }
    heats.push_back(h);
  }
  return heats;
}

}  // namespace tandemo
