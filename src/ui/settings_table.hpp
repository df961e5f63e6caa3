// The settings of every file of a join side by side, one column per file, with
// each value that differs from the first file's marked and the reason kept for
// the tooltip. Plain values: filled away from the window, drawn by SettingsView.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "merge/failure.hpp"
#include "merge/heats.hpp"
#include "merge/inspection.hpp"
#include "merge/merge_run.hpp"
#include "merge/trace.hpp"

namespace tandemo::ui {

enum class SettingsRow : std::size_t {
  InstrumentUnit,
  Software,
  Temperature,
  SyringeConcentration,
  CellConcentration,
  CellVolume,
  TimeStep,
  InjectionsAnnounced,
  InjectionsPerformed,
  Numbering,
};
inline constexpr std::size_t kSettingsRows = static_cast<std::size_t>(SettingsRow::Numbering) + 1;

// "Target temperature (°C)": the row's label, with the unit its values are in.
std::string_view RowName(SettingsRow row);

struct SettingsCell {
  std::string text;      // empty where the file does not give the value
  bool differs = false;  // not the first file's value
  std::string reason;    // why it is marked: "target temperature: 25 in the first file, 30 in the
                         // second file"
};

struct SettingsColumn {
  std::string role;  // "first file", "second file"
  std::string name;  // the file's name without its folder
  std::array<SettingsCell, kSettingsRows> cells;

  const SettingsCell& operator[](SettingsRow row) const {
    return cells[static_cast<std::size_t>(row)];
  }
  SettingsCell& operator[](SettingsRow row) { return cells[static_cast<std::size_t>(row)]; }
};

struct SettingsTable {
  std::vector<SettingsColumn> columns;  // first file first
};

// What the headers say, for the table and for the isotherm.
struct SettingsReading {
  std::optional<MergeError> error;  // a file could not be read; the rest is empty
  SettingsTable table;
  CellContents cell;  // the first file's: the cell is filled once, for the whole titration
};

// The settings source. It inspects the files (each one's header and last data
// lines), marks what the inspection finds different, counts the injections the
// merged trace holds per portion and takes the numbering the merge gave.
SettingsReading ReadSettings(const std::vector<std::string>& inputs, const Trace& trace,
                             const MergeSummary& summary);
// The same from an inspection already made, the one the merge went by.
SettingsReading ReadSettings(const Inspection& inspection, const Trace& trace,
                             const MergeSummary& summary);

}  // namespace tandemo::ui
