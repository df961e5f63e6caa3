#include "preview_data.hpp"

#include <atomic>

namespace tandemo::ui {

MergedLines TraceMergedLines(const PreviewInput& input, const std::stop_token& stop) {
  MergedLines result;
  MergeRequest request{{input.first, input.second}, std::string(), {}};
  request.options.compensate = input.compensate;
  request.options.force = true;  // the preview shows files that differ: that is what it is for
  std::atomic<bool> cancel{false};
  request.options.cancel = &cancel;
  const std::stop_callback stopMerge(stop, [&cancel] { cancel = true; });

  result.inspection = Inspect(request.inputs);
  if (stop.stop_requested()) {
    result.stopped = true;
    return result;
  }
  TraceBuilder builder;
  TracingObserver observer(builder);
  MergeOutcome outcome = RunMergeInto(request, result.inspection, observer);
  if (stop.stop_requested()) {
    result.stopped = true;
    return result;
  }
  if (!outcome.ok()) {
    result.error = std::move(outcome.error);
    return result;
  }
  result.summary = std::move(outcome.summary);
  const RewriteReport& join = result.summary.joins.at(0);
  builder.SetJoin(1, join.offsetTaken ? std::optional<float>(join.dpOffset) : std::nullopt,
                  input.compensate && join.offsetTaken);
  result.trace = builder.Finish();
  return result;
}

PreviewData BuildPreview(const PreviewInput& input, const std::stop_token& stop) {
  PreviewData data;
  data.input = input;
  MergedLines merged = TraceMergedLines(input, stop);
  if (merged.error || merged.stopped) {
    data.error = std::move(merged.error);
    data.stopped = merged.stopped;
    return data;
  }
  SettingsReading settings = ReadSettings(merged.inspection, merged.trace, merged.summary);
  if (settings.error) {
    data.error = std::move(settings.error);
    return data;
  }
  if (stop.stop_requested()) {
    data.stopped = true;
    return data;
  }
  data.heats = IntegrateHeats(merged.trace, settings.cell);
  data.settings = std::move(settings.table);
  data.reduced = ReduceTrace(merged.trace, kPreviewPointsPerPortion);
  data.trace = std::make_shared<const Trace>(std::move(merged.trace));
  return data;
}

}  // namespace tandemo::ui
