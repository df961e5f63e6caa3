#include "settings_table.hpp"

#include <filesystem>

#include "merge/inspection.hpp"
#include "merge/itc_header.hpp"

namespace tandemo::ui {
namespace {

std::string Range(std::int64_t from, std::int64_t to) {
  return from == to ? std::to_string(from) : std::to_string(from) + "-" + std::to_string(to);
}

// The row a difference of the inspection belongs to, by its label.
std::optional<SettingsRow> RowOf(std::string_view what) {
  struct Prefix {
    std::string_view words;
    SettingsRow row;
  };
  static constexpr Prefix kPrefixes[] = {
      {"target temperature", SettingsRow::Temperature},
      {"syringe concentration", SettingsRow::SyringeConcentration},
      {"cell concentration", SettingsRow::CellConcentration},
      {"cell volume", SettingsRow::CellVolume},
      {"instrument unit", SettingsRow::InstrumentUnit},
      {"control software", SettingsRow::Software},
      {"time step", SettingsRow::TimeStep},
  };
  for (const Prefix& p : kPrefixes)
    if (what.substr(0, p.words.size()) == p.words) return p.row;
  return std::nullopt;
}

}  // namespace

std::string_view RowName(SettingsRow row) {
  switch (row) {
    case SettingsRow::InstrumentUnit: return "Instrument unit";
    case SettingsRow::Software: return "Software";
    case SettingsRow::Temperature: return "Target temperature (\u00B0C)";
    case SettingsRow::SyringeConcentration: return "Syringe concentration (mM)";
    case SettingsRow::CellConcentration: return "Cell concentration (mM)";
    case SettingsRow::CellVolume: return "Cell volume (mL)";
    case SettingsRow::TimeStep: return "Time step (s)";
    case SettingsRow::InjectionsAnnounced: return "Injections announced";
    case SettingsRow::InjectionsPerformed: return "Injections performed";
    case SettingsRow::Numbering: return "Numbered in the join";
  }
  return {};
}

SettingsReading ReadSettings(const std::vector<std::string>& inputs, const Trace& trace,
                             const MergeSummary& summary) {
  return ReadSettings(Inspect(inputs), trace, summary);
}

SettingsReading ReadSettings(const Inspection& inspection, const Trace& trace,
                             const MergeSummary& summary) {
  SettingsReading reading;
  std::vector<std::string> inputs;
  for (const FileFacts& file : inspection.files) inputs.push_back(file.path);
  if (inspection.failure) {
    reading.error = inspection.failure;
    return reading;
  }
  const std::vector<FileFacts>& facts = inspection.files;

  // Injections per portion as the merged trace holds them, and the numbers they carry.
  std::vector<long long> performed(inputs.size(), 0);
  std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>> numbers(inputs.size());
  for (const InjectionMark& mark : trace.injections) {
    if (mark.portion >= inputs.size()) continue;
    ++performed[mark.portion];
    auto& range = numbers[mark.portion];
    if (!range)
      range.emplace(mark.number, mark.number);
    else
      range->second = mark.number;
  }

  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const HeaderFacts& f = facts[i].header;
    SettingsColumn column;
    column.role = FileLabel(FilePlace::Input(static_cast<int>(i + 1)));
    column.name = std::filesystem::path(inputs[i]).filename().string();
    if (f.instrumentUnit) column[SettingsRow::InstrumentUnit].text = *f.instrumentUnit;
    if (f.controlSoftware) column[SettingsRow::Software].text = *f.controlSoftware;
    if (f.temperature) column[SettingsRow::Temperature].text = f.temperature->text;
    if (f.syringeConcentration)
      column[SettingsRow::SyringeConcentration].text = f.syringeConcentration->text;
    if (f.cellConcentration)
      column[SettingsRow::CellConcentration].text = f.cellConcentration->text;
    if (f.cellVolume) column[SettingsRow::CellVolume].text = f.cellVolume->text;
    if (facts[i].timeStep) column[SettingsRow::TimeStep].text = facts[i].timeStep->text;
    if (f.usualForm) column[SettingsRow::InjectionsAnnounced].text = std::to_string(f.announced);
    // What the merged file holds, so only once the merge has run.
    if (i == 0 || i - 1 < summary.joins.size()) {
      column[SettingsRow::InjectionsPerformed].text = std::to_string(performed[i]);
      if (i == 0) {
        if (numbers[0])
          column[SettingsRow::Numbering].text = Range(numbers[0]->first, numbers[0]->second);
      } else if (const RewriteReport& join = summary.joins[i - 1]; join.injectionsAppended > 0) {
        column[SettingsRow::Numbering].text = Range(join.firstNumber, join.lastNumber);
      }
    }
    reading.table.columns.push_back(std::move(column));
  }

  for (const Difference& d : inspection.differences) {
    const std::optional<SettingsRow> row = RowOf(d.label);
    const int index = d.later.index - 1;
    if (!row || index < 0 || static_cast<std::size_t>(index) >= reading.table.columns.size())
      continue;
    SettingsCell& cell = reading.table.columns[static_cast<std::size_t>(index)][*row];
    cell.differs = true;
    cell.reason = d.text;
  }

  const HeaderFacts& first = facts.front().header;
  if (first.syringeConcentration)
    reading.cell.syringeConcentration = first.syringeConcentration->number;
  if (first.cellConcentration) reading.cell.cellConcentration = first.cellConcentration->number;
  if (first.cellVolume) reading.cell.cellVolume = first.cellVolume->number;
  return reading;
}

}  // namespace tandemo::ui
