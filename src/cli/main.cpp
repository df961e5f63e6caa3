// tandemo-merge: the merge engine on the command line, for labs that script their work.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "merge/merge_run.hpp"

#ifndef TANDEMO_VERSION
#define TANDEMO_VERSION "0"
#endif

namespace {

constexpr int kExitMergeFailed = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "Usage: tandemo-merge [--compensate] FIRST SECOND OUTPUT\n";

constexpr std::string_view kHelp =
    "Joins the two portions of an ITC titration into one ITC data file.\n"
    "\n"
    "The first file is copied whole; the second file's injections are appended\n"
    "with their numbers continued and their time stamps continued in the first\n"
    "file's time step. OUTPUT is replaced in one step once the merge has succeeded;\n"
    "on any failure it is left as it was.\n"
    "\n"
    "Options:\n"
    "  --compensate  shift the second file's DP signal by one offset so that its\n"
    "                baseline continues from the first file's last DP value\n"
    "  --help        show this help and exit\n"
    "  --version     show the version and exit\n"
    "\n"
    "Exit status: 0 when OUTPUT was written, 1 when the merge failed (the reason\n"
    "is on standard error), 2 for a usage error.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "tandemo-merge: %s\n%.*s", message.c_str(), static_cast<int>(kUsage.size()),
               kUsage.data());
  std::fputs("Try 'tandemo-merge --help' for more information.\n", stderr);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  tandemo::MergeRequest request;
  std::vector<std::string> paths;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!optionsDone && arg.size() > 1 && arg.front() == '-') {
      if (arg == "--") {
        optionsDone = true;
      } else if (arg == "--compensate") {
        request.compensate = true;
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
  if (paths.size() != 3) {
    return UsageError(paths.size() < 3 ? "missing file operand" : "too many file operands");
  }
  request.output = paths.back();
  paths.pop_back();
  request.inputs = std::move(paths);

  tandemo::MergeOutcome outcome = tandemo::RunMerge(request);
  if (!outcome.ok()) {
    std::fprintf(stderr, "tandemo-merge: %s\n", outcome.error->Message().c_str());
    return kExitMergeFailed;
  }
  std::printf("%s\n", tandemo::Describe(outcome.summary).c_str());
  return 0;
}
