// tandemo-merge: the merge engine on the command line, for labs that script their work.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#endif

#include <csignal>
#include <cstdio>
#include <new>
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
    "Usage: tandemo-merge [OPTION]... -o OUTPUT FIRST SECOND [THIRD]...\n";

constexpr std::string_view kHelp =
    "Joins the portions of an ITC titration into one ITC data file.\n"
    "\n"
    "The first file is copied whole; each further file's injections are appended\n"
    "with their numbers continued and their time stamps continued in the first\n"
    "file's time step. More than two portions are joined left to right. OUTPUT is\n"
    "replaced in one step once the merge has succeeded, keeping its owner, group,\n"
    "permissions, access control list and user attributes; on any failure it is\n"
    "left as it was.\n"
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
    "  -o, --output=OUTPUT  the file to write; every operand is an input\n"
    "  --compensate     shift each appended file's DP signal by one offset so that\n"
    "                   its baseline continues from the last DP value before it\n"
    "  --update-header  make the header announce and list every injection\n"
    "  --force          merge even files whose headers or time steps differ, and\n"
    "                   replace an OUTPUT whose owner or group cannot be kept\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Exit status: 0 when OUTPUT was written, 1 when the merge failed or was\n"
    "refused (the reason is on standard error), 2 for a usage error.\n";

// Every message goes out through here: bytes from file names or file content
// that are not printable are escaped, so none can cut a message off or steer the terminal.
void PrintError(std::string_view message) {
  const std::string text = "tandemo-merge: " + tandemo::Printable(message, true) + "\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
}

int UsageError(const std::string& message) {
  PrintError(message);
  std::fwrite(kUsage.data(), 1, kUsage.size(), stderr);
  std::fputs("Try 'tandemo-merge --help' for more information.\n", stderr);
  return kExitUsage;
}

// The failure, and a hint where --force would get past it.
int MergeFailed(const tandemo::MergeError& error, std::string_view hint = {}) {
  PrintError(error.Message());
  if (!hint.empty()) std::fprintf(stderr, "%.*s\n", static_cast<int>(hint.size()), hint.data());
  return kExitMergeFailed;
}

// The signals that end a process by default and can be caught: each removes the
// scratch file first. Once the output is replaced the merge has succeeded, and
// such a signal no longer changes that.
#ifdef _WIN32
// Windows has only these: Ctrl+C, Ctrl+Break and a request to end (the others have no meaning there).
constexpr int kTerminatingSignals[] = {SIGINT, SIGTERM, SIGBREAK};

extern "C" void OnTerminatingSignal(int sig) {
  tandemo::RemovePendingScratchFile();
  if (tandemo::OutputReplaced()) return;
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void InstallSignalHandlers() {
  for (int sig : kTerminatingSignals) std::signal(sig, OnTerminatingSignal);
}
#else
constexpr int kTerminatingSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGUSR1,
                                       SIGUSR2, SIGALRM, SIGPIPE, SIGXCPU};

extern "C" void OnTerminatingSignal(int sig) {
  tandemo::RemovePendingScratchFile();
  if (tandemo::OutputReplaced()) return;
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(sig, &fallback, nullptr);
  ::raise(sig);
}

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnTerminatingSignal;
  sigfillset(&action.sa_mask);  // one handler at a time
  for (int sig : kTerminatingSignals) ::sigaction(sig, &action, nullptr);
  // Past a file-size limit a write then fails with EFBIG, which the merge reports.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}
#endif

struct Arguments {
  tandemo::MergeRequest request;
  bool force = false;
  bool outputGiven = false;
};

// Reads the command line; a usage error's message otherwise. A help or version
// request is answered here (`exitNow`).
std::optional<std::string> ParseArguments(int argc, char** argv, Arguments& args, bool& exitNow) {
  std::vector<std::string> inputs;
  bool optionsDone = false;
  auto setOutput = [&](std::string_view value) -> std::optional<std::string> {
    if (args.outputGiven) return "the output is named twice (-o)";
    if (value.empty()) return "the output file name is empty";
    args.outputGiven = true;
    args.request.output = std::string(value);
    return std::nullopt;
  };
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (optionsDone || arg.size() < 2 || arg.front() != '-') {
      if (arg.empty()) return "an input file name is empty";
      inputs.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsDone = true;
    } else if (arg == "-o" || arg == "--output") {
      if (i + 1 == argc) return "option '" + std::string(arg) + "' needs the output file name";
      if (auto problem = setOutput(argv[++i])) return problem;
    } else if (arg.rfind("--output=", 0) == 0) {
      if (auto problem = setOutput(arg.substr(9))) return problem;
    } else if (arg.rfind("-o", 0) == 0 && arg.rfind("--", 0) != 0) {
      if (auto problem = setOutput(arg.substr(2))) return problem;
    } else if (arg == "--compensate") {
      args.request.options.compensate = true;
    } else if (arg == "--update-header") {
      args.request.options.updateHeader = true;
    } else if (arg == "--force") {
      args.force = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
      std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
      exitNow = true;
      return std::nullopt;
    } else if (arg == "--version") {
      std::printf("tandemo-merge %s\n", TANDEMO_VERSION);
      exitNow = true;
      return std::nullopt;
    } else {
      return "unknown option '" + std::string(arg) + "'";
    }
  }
  if (!args.outputGiven) {
    // A trailing output operand is no longer taken: a forgotten one would replace the last portion.
    return inputs.empty() ? std::string("missing file operands")
                          : "no output file named: name it with -o OUTPUT (every operand is an input)";
  }
  if (inputs.size() < 2) return "two or more input files are needed, the first and the second portion";
  args.request.inputs = std::move(inputs);
  return std::nullopt;
}

int Run(int argc, char** argv) {
  Arguments args;
  bool exitNow = false;
  if (auto problem = ParseArguments(argc, argv, args, exitNow)) return UsageError(*problem);
  if (exitNow) return 0;
  tandemo::MergeRequest& request = args.request;
  const bool force = args.force;

  request.options.force = force;

  const tandemo::Inspection inspection = tandemo::Inspect(request.inputs);
  if (inspection.failure) return MergeFailed(*inspection.failure);
  if (const std::optional<std::size_t> input = inspection.InputAt(request.output); input && !force) {
    return MergeFailed(tandemo::OutputIsInputRefusal(*input, request.output),
                       "Use --force to replace it.");
  }
  tandemo::MergeOutcome outcome = tandemo::RunMerge(request, inspection);
  if (!outcome.ok()) {
    const bool forceHelps = outcome.error->code == tandemo::ErrorCode::FilesDiffer;
    return MergeFailed(*outcome.error, forceHelps ? "Use --force to merge them anyway." : "");
  }
  const std::string summary = tandemo::Describe(outcome.summary);
  std::printf("%s\n", tandemo::Printable(summary).c_str());
  std::fflush(stdout);
  // Remarks only matter for a merge that went ahead.
  for (const std::string& remark : tandemo::MergeRemarks(inspection, outcome.summary))
    PrintError(remark);
  return 0;
}

#ifdef _WIN32
// The engine takes paths as UTF-8: the arguments as the system holds them (wide),
// not in the ANSI code page that argv is given in; messages go out as UTF-8 too.
std::vector<std::string> Utf8Arguments() {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return arguments;
  for (int i = 0; i < count; ++i) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 1, '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), n, nullptr, nullptr);
    text.resize(text.size() - 1);
    arguments.push_back(std::move(text));
  }
  ::LocalFree(wide);
  return arguments;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  InstallSignalHandlers();
#ifdef _WIN32
  // The same bytes as elsewhere: lines end in LF, not the C runtime's CR LF.
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  ::SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> arguments = Utf8Arguments();
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  if (!arguments.empty()) {
    argc = static_cast<int>(arguments.size());
    argv = pointers.data();
  }
#endif
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    // The scratch file went with the unwinding; the output is as it was.
    if (tandemo::OutputReplaced()) return 0;
    return MergeFailed(tandemo::MergeError{tandemo::ErrorCode::OutOfMemory, tandemo::FilePlace::None(), 0,
                                           "the merge needed more memory than the system gave it; "
                                           "nothing was written"});
  }
}
