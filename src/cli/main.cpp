// tandemo-merge: the merge engine on the command line, for labs that script their work.
#ifdef _WIN32
#include <windows.h>  // first: shellapi.h needs its types

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "merge/atomic_output.hpp"
#include "merge/csv_tables.hpp"
#include "merge/heats.hpp"
#include "merge/inspection.hpp"
#include "merge/merge_run.hpp"
#include "merge/platform.hpp"
#include "merge/trace.hpp"

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
    "  --heats=FILE     also write the injection table as comma-separated text:\n"
    "                   number, portion, start time (s), volume (uL), heat (ucal),\n"
    "                   molar ratio, heat per mole of injectant (kcal/mol); a quick\n"
    "                   integration against a straight baseline, not a fit\n"
    "  --trace=FILE     also write the merged trace: time (s), DP (ucal/s), portion\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "The tables are written as OUTPUT is, each replaced in one step, and only\n"
    "after OUTPUT was written; none is written when the merge fails.\n"
    "\n"
    "Exit status: 0 when OUTPUT (and each table asked for) was written, 1 when the\n"
    "merge failed or was refused, or a table could not be written after OUTPUT was\n"
    "(the reason is on standard error), 2 for a usage error.\n";

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
// Windows has only these: Ctrl+C, Ctrl+Break and a request to end (the others have no meaning
// there).
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
  std::optional<std::string> heats;  // --heats: the injection table
  std::optional<std::string> trace;  // --trace: the merged trace
};

// A table the merge also writes, beside the output.
struct Table {
  std::string_view role;  // "heats file", "trace file"
  std::string path;
};

bool WriteAll(int fd, std::string_view bytes, int& err) {
  while (!bytes.empty()) {
    const long n = tandemo::platform::WriteSome(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      err = n == 0 ? EIO : errno;
      return false;
    }
  }
  return true;
}

// The engine speaks of "the output file"; here it is the table that failed.
tandemo::MergeError TableFailure(const Table& table, tandemo::MergeError error) {
  error.file = tandemo::FilePlace::None();
  error.detail = std::string(table.role) + ": " + error.detail;
  return error;
}

// Writes one table as the output is written: a scratch file beside it, renamed
// over it in one step; on failure the file is as it was and no scratch is left.
std::optional<tandemo::MergeError> WriteTable(
    const Table& table, bool force,
    const std::function<void(const std::function<void(std::string_view)>&)>& produce) {
  tandemo::AtomicOutput out;
  if (auto err = out.Begin(table.path, force)) return TableFailure(table, std::move(*err));
  int err = 0;
  bool ok = true;
  produce([&](std::string_view piece) { ok = ok && WriteAll(out.fd(), piece, err); });
  if (!ok) {
    out.Abandon();
    return TableFailure(
        table, tandemo::MergeError{tandemo::CodeForErrno(err), tandemo::FilePlace::None(), 0,
                                   std::string("it could not be written: ") + std::strerror(err)});
  }
  if (auto failure = out.Commit()) return TableFailure(table, std::move(*failure));
  return std::nullopt;
}

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
  auto setTable = [](std::optional<std::string>& table, std::string_view option,
                     std::string_view value) -> std::optional<std::string> {
    if (table)
      return "the " + std::string(option.substr(2)) + " file is named twice (" +
             std::string(option) + ")";
    if (value.empty()) return "the " + std::string(option.substr(2)) + " file name is empty";
    table = std::string(value);
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
    } else if (arg == "--heats" || arg == "--trace") {
      if (i + 1 == argc) return "option '" + std::string(arg) + "' needs a file name";
      if (auto problem = setTable(arg == "--heats" ? args.heats : args.trace, arg, argv[++i]))
        return problem;
    } else if (arg.rfind("--heats=", 0) == 0 || arg.rfind("--trace=", 0) == 0) {
      const bool heats = arg[2] == 'h';
      if (auto problem = setTable(heats ? args.heats : args.trace, heats ? "--heats" : "--trace",
                                  arg.substr(8)))
        return problem;
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
    return inputs.empty()
               ? std::string("missing file operands")
               : "no output file named: name it with -o OUTPUT (every operand is an input)";
  }
  if (inputs.size() < 2)
    return "two or more input files are needed, the first and the second portion";
  // One file for two things would keep only the last written.
  const std::pair<std::string_view, const std::optional<std::string>*> named[] = {
      {"--heats", &args.heats}, {"--trace", &args.trace}};
  for (const auto& [option, table] : named) {
    if (!*table) continue;
    std::error_code ec;
    const auto here = std::filesystem::weakly_canonical(**table, ec);
    if (!ec && here == std::filesystem::weakly_canonical(args.request.output, ec) && !ec)
      return std::string(option) + " names the output file";
  }
  if (args.heats && args.trace) {
    std::error_code ec;
    if (std::filesystem::weakly_canonical(*args.heats, ec) ==
            std::filesystem::weakly_canonical(*args.trace, ec) &&
        !ec)
      return "--heats and --trace name the same file";
  }
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
  if (const std::optional<std::size_t> input = inspection.InputAt(request.output);
      input && !force) {
    return MergeFailed(tandemo::OutputIsInputRefusal(*input, request.output),
                       "Use --force to replace it.");
  }
  std::vector<Table> tables;
  if (args.heats) tables.push_back({"heats file", *args.heats});
  if (args.trace) tables.push_back({"trace file", *args.trace});
  for (const Table& table : tables) {
    // A table never replaces an input, --force or not: that would lose a titration.
    if (const std::optional<std::size_t> input = inspection.InputAt(table.path)) {
      return MergeFailed(TableFailure(table, tandemo::OutputIsInputRefusal(*input, table.path)));
    }
    // A folder that cannot take the table is found before anything is written.
    tandemo::AtomicOutput probe;
    if (auto err = probe.Begin(table.path, force)) {
      tandemo::MergeError failure = TableFailure(table, std::move(*err));
      failure.detail += "; nothing was written";
      return MergeFailed(failure);
    }
    probe.Abandon();
  }

  tandemo::TraceBuilder traced;  // for the tables, from the lines as they are written
  tandemo::TracingObserver tracing(traced);
  tandemo::MergeOutcome outcome =
      tandemo::RunMerge(request, inspection, tables.empty() ? nullptr : &tracing);
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
  if (tables.empty()) return 0;

  for (std::size_t j = 0; j < outcome.summary.joins.size(); ++j) {
    const tandemo::RewriteReport& join = outcome.summary.joins[j];
    traced.SetJoin(j + 1, join.offsetTaken ? std::optional<float>(join.dpOffset) : std::nullopt,
                   request.options.compensate && join.offsetTaken);
  }
  const tandemo::Trace trace = traced.Finish();
  for (const Table& table : tables) {
    std::optional<tandemo::MergeError> err;
    if (table.role == "heats file") {
      // The cell is filled once: the first file's header gives what is in it.
      const tandemo::HeaderFacts& header = inspection.files.front().header;
      tandemo::CellContents cell;
      if (header.syringeConcentration)
        cell.syringeConcentration = header.syringeConcentration->number;
      if (header.cellConcentration) cell.cellConcentration = header.cellConcentration->number;
      if (header.cellVolume) cell.cellVolume = header.cellVolume->number;
      const std::string text = tandemo::HeatsCsv(tandemo::IntegrateHeats(trace, cell));
      err = WriteTable(table, force, [&text](const auto& write) { write(text); });
    } else {
      err = WriteTable(table, force,
                       [&trace](const auto& write) { tandemo::WriteTraceCsv(trace, write); });
    }
    if (err) {
      PrintError(err->Message());
      PrintError(tandemo::QuotedPath(request.output) + " was written; the " +
                 std::string(table.role) + " " + tandemo::QuotedPath(table.path) + " was not");
      return kExitMergeFailed;
    }
    std::printf("Wrote the %.*s %s.\n", static_cast<int>(table.role.size()), table.role.data(),
                tandemo::Printable(tandemo::QuotedPath(table.path)).c_str());
  }
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
    return MergeFailed(tandemo::MergeError{tandemo::ErrorCode::OutOfMemory,
                                           tandemo::FilePlace::None(), 0,
                                           "the merge needed more memory than the system gave it; "
                                           "nothing was written"});
  }
}
