// What the preview of a join draws, computed away from the window: the merged
// titration's trace (whole, and reduced for drawing), the heat of each injection
// and the settings of each file. Engine types and the standard library only, so
// it runs on any thread and needs no widget.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "merge/failure.hpp"
#include "merge/heats.hpp"
#include "merge/merge_run.hpp"
#include "merge/trace.hpp"
#include "ui/settings_table.hpp"

namespace tandemo::ui {

struct PreviewInput {
  std::string first;
  std::string second;
  bool compensate = false;

  bool operator==(const PreviewInput&) const = default;
};

// Points per portion for the whole view: a few per pixel of a wide chart.
inline constexpr std::size_t kPreviewPointsPerPortion = 2000;

struct PreviewData {
  PreviewInput input;
  std::optional<MergeError> error;      // the files cannot be previewed; nothing else is set
  bool stopped = false;                 // a newer request stopped the work; nothing else is set
  std::shared_ptr<const Trace> trace;   // every data line, for redrawing a zoomed window
  std::vector<ReducedPortion> reduced;  // each portion reduced for the whole view
  std::vector<InjectionHeat> heats;
  SettingsTable settings;

  bool ok() const { return !error && !stopped && trace != nullptr; }
};

// Merges, traces, integrates and reduces. `stop` is checked between the steps
// and while the merged lines are read.
PreviewData BuildPreview(const PreviewInput& input, const std::stop_token& stop = {});

struct MergedLines {
  std::optional<MergeError> error;
  bool stopped = false;
  Trace trace;
  MergeSummary summary;
  Inspection inspection;  // the one inspection the merge went by
};

// The merged lines source: the files are inspected once and merged, forced past
// differences, into no file; each line the merged file would hold is traced as
// the engine hands it over, with its portion and its line in that portion's file.
// `stop` stops the merge between lines.
MergedLines TraceMergedLines(const PreviewInput& input, const std::stop_token& stop = {});

}  // namespace tandemo::ui
