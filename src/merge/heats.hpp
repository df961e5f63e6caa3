// The heat of each injection, integrated from the trace for a quick look at the
// isotherm (not a fit): the area between the DP trace and a straight baseline,
// with the molar ratio and the heat per mole of injectant where the header
// gives the concentrations and the cell volume.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "trace.hpp"

namespace tandemo {

// The header values the isotherm needs; any of them may be missing.
struct CellContents {
  std::optional<double> syringeConcentration;  // mM, ligand in the syringe
  std::optional<double>
      cellConcentration;             // mM, macromolecule in the cell before the first injection
  std::optional<double> cellVolume;  // mL
};

// The cell after a total injected volume v (µL) in a cell of volume V, with the
// displaced-volume approximation: macromolecule M0 (1 - v/2V)/(1 + v/2V), ligand
// X0 (v/V)(1 - v/2V), both in mM; molar ratio ligand / macromolecule.
struct CellComposition {
  double macromolecule = 0.0;
  double ligand = 0.0;
  double molarRatio = 0.0;
};

// None when a value is missing, the cell volume or concentration is not above
// zero, v is negative, or v reaches 2V (where the approximation leaves no macromolecule).
std::optional<CellComposition> CompositionAfter(double injectedMicrolitres,
                                                const CellContents& cell);

struct InjectionHeat {
  std::int64_t number = 0;               // as written on its marker line
  std::size_t portion = 0;               // 0: first file
  std::optional<double> startTime;       // s: time of its first data line
  std::optional<double> volume;          // µL, from its marker line
  std::optional<double> heat;            // µcal; none when its interval holds no data line
  double baselineBefore = 0.0;           // µcal/s: the baseline at the interval's first point
  double baselineAfter = 0.0;            //          and at its last point
  std::optional<double> injectedVolume;  // µL in the cell after it, counted on across joins
  std::optional<double> molarRatio;      // none without the header values: plot against number
  std::optional<double> heatPerMole;     // kcal/mol of injectant: heat / (syringe mM x volume µL)
};

// One entry per injection mark of the trace, in order. An injection's interval
// runs from its marker to the next marker line (the last to the end of the data);
// the interval before the first injection is the baseline after "@0", and that
// before the first injection of an appended portion is the last injection of the
// portion before (the cell was not refilled, the trace runs on). Each baseline
// level is the mean DP of the last tenth of an interval (n / 10 points, at least
// one); with no data before an injection the baseline is flat at its own level.
// Each data line stands for the time up to the next one (the last line: the step
// before it), which is the time step wherever the time axis is regular.
std::vector<InjectionHeat> IntegrateHeats(const Trace& trace, const CellContents& cell);

}  // namespace tandemo
