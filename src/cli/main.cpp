// tandemo-merge: the merge engine on the command line, for labs that script their work.
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "merge/atomic_output.hpp"
#include "merge/inspection.hpp"
#include "merge/merge_run.hpp"

#ifndef TANDEMO_VERSION
#define TANDEMO_VERSION "0"
#endif

namespace {

constexpr int kExitMergeFailed = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "Usage: tandemo-merge [OPTION]... FIRST SECOND [THIRD]... OUTPUT\n";

constexpr std::string_view kHelp =
    "Joins the portions of an ITC titration into one ITC data file.\n"
    "\n"
    "The first file is copied whole; each further file's injections are appended\n"
    "with their numbers continued and their time stamps continued in the first\n"
    "file's time step. More than two portions are joined left to right. OUTPUT is\n"
    "replaced in one step once the merge has succeeded; on any failure it is left\n"
    "as it was.\n"
    "\n"
    "Before merging, the files are compared: instrument unit, run start time,\n"
    "target temperature, syringe concentration, cell volume and time step. Files\n"
    "that differ are refused unless --force is given; a different control software\n"
    "or cell concentration, and what cannot be compared, are noted on standard\n"
    "error. The same run twice, a later file with no injection to append and a\n"
    "first file without a time step are refused even with --force. An OUTPUT that\n"
    "is one of the inputs is replaced only with --force.\n"
    "\n"
    "Options:\n"
    "  --compensate     shift each appended file's DP signal by one offset so that\n"
    "                   its baseline continues from the last DP value before it\n"
    "  --update-header  make the header announce and list every injection\n"
    "  --force          merge even files whose headers or time steps differ\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Exit status: 0 when OUTPUT was written, 1 when the merge failed or was\n"
    "refused (the reason is on standard error), 2 for a usage error.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "tandemo-merge: %s\n%.*s", message.c_str(), static_cast<int>(kUsage.size()),
               kUsage.data());
  std::fputs("Try 'tandemo-merge --help' for more information.\n", stderr);
  return kExitUsage;
}

// The failure, and a hint where --force would get past it.
int MergeFailed(const tandemo::MergeError& error, const std::string& hint = "") {
  std::fprintf(stderr, "tandemo-merge: %s\n", error.Message().c_str());
  if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
  return kExitMergeFailed;
}

// An interrupted merge removes its scratch file, then ends as the signal would have.
extern "C" void OnTerminatingSignal(int sig) {
  tandemo::RemovePendingScratchFile();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

int main(int argc, char** argv) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, OnTerminatingSignal);

  tandemo::MergeRequest request;
  bool force = false;
  std::vector<std::string> paths;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!optionsDone && arg.size() > 1 && arg.front() == '-') {
      if (arg == "--") {
        optionsDone = true;
      } else if (arg == "--compensate") {
        request.options.compensate = true;
      } else if (arg == "--update-header") {
        request.options.updateHeader = true;
      } else if (arg == "--force") {
        force = true;
      } else if (arg == "--help" || arg == "-h") {
        std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
        std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
        return 0;
      } else if (arg == "--version") {
        std::printf("tandemo-merge %s\n", TANDEMO_VERSION);
        return 0;
      } else {
        return UsageError("unknown option '" + std::string(arg) + "'");
      }
      continue;
    }
    paths.emplace_back(arg);
  }
  if (paths.size() < 3) return UsageError("missing file operand");
  request.output = paths.back();
  paths.pop_back();
  request.inputs = std::move(paths);

  request.options.force = force;

  const tandemo::Inspection inspection = tandemo::Inspect(request.inputs);
  if (inspection.failure) return MergeFailed(*inspection.failure);
  if (const std::optional<std::size_t> input = inspection.InputAt(request.output); input && !force) {
    return MergeFailed(tandemo::OutputIsInputRefusal(*input, request.output), "Use --force to replace it.");
  }
  tandemo::MergeOutcome outcome = tandemo::RunMerge(request, inspection);
  if (!outcome.ok()) {
    const bool forceHelps = outcome.error->code == tandemo::ErrorCode::FilesDiffer;
    return MergeFailed(*outcome.error, forceHelps ? "Use --force to merge them anyway." : "");
  }
  std::printf("%s\n", tandemo::Describe(outcome.summary).c_str());
  std::fflush(stdout);
  // Remarks only matter for a merge that went ahead.
  for (const std::string& remark : tandemo::MergeRemarks(inspection, outcome.summary))
    std::fprintf(stderr, "tandemo-merge: %s\n", remark.c_str());
  return 0;
}
