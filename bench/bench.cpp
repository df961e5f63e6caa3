// tandemo-bench: merge throughput beside the throughput of a plain copy of the same bytes.
//
// Generates an ITC pair of the requested size in a scratch folder, then runs, a few
// times each and interleaved: a plain copy (read both inputs, write one output,
// fsync it), the engine's merge without and with compensation, and the
// tandemo-merge command (which compares the files before merging) likewise.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "itcgen.hpp"
#include "merge/merge_run.hpp"

#ifndef TANDEMO_MERGE_COMMAND
#define TANDEMO_MERGE_COMMAND ""
#endif

extern char** environ;

namespace {

constexpr std::string_view kUsage =
    "Usage: tandemo-bench [--mb N] [--dir D] [--repeat R] [--merge PATH]\n"
    "\n"
    "  --mb N        total size of the generated pair in MB (10^6 bytes; default 200)\n"
    "  --dir D       folder for the scratch files (default $TMPDIR, else /tmp); the\n"
    "                figures are for the disk that holds it\n"
    "  --repeat R    runs of each kind (default 5); the median is reported\n"
    "  --merge PATH  the tandemo-merge command to time (default: the one built\n"
    "                beside this program); \"\" leaves it out\n";

constexpr std::size_t kCopyBlock = 1 << 18;  // the engine reads in blocks of this size too

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Removes the scratch folder however the program ends its work.
struct ScratchFolder {
  std::filesystem::path path;
  ~ScratchFolder() {
    if (path.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

// Reads every input and writes them one after the other to `output`, then flushes it to disk.
// With `writeBackEarly`, written bytes are sent on to disk every 8 MiB as the merge does.
std::optional<std::string> PlainCopy(const std::vector<std::string>& inputs,
                                     const std::string& output, bool writeBackEarly = false) {
  int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) return output + ": " + std::strerror(errno);
  std::vector<char> block(kCopyBlock);
  std::optional<std::string> problem;
  off_t written = 0;
  off_t writtenBack = 0;
  for (const std::string& path : inputs) {
    int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
      problem = path + ": " + std::strerror(errno);
      break;
    }
    for (;;) {
      ssize_t n = ::read(in, block.data(), block.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) problem = path + ": " + std::strerror(errno);
      if (n <= 0) break;
      for (ssize_t done = 0; done < n;) {
        ssize_t w = ::write(out, block.data() + done, static_cast<std::size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) {
          problem = output + ": " + std::strerror(errno);
          break;
        }
        done += w;
        written += w;
      }
#ifdef __linux__
      if (writeBackEarly && written - writtenBack >= (off_t{8} << 20)) {
        ::sync_file_range(out, writtenBack, written - writtenBack, SYNC_FILE_RANGE_WRITE);
        writtenBack = written;
      }
#endif
      if (problem) break;
    }
    ::close(in);
    if (problem) break;
  }
  if (!problem && ::fsync(out) != 0) problem = output + ": " + std::strerror(errno);
  ::close(out);
  return problem;
}

// Runs the command and waits for it. (Its peak resident memory is best measured with
// /usr/bin/time -v: what wait4 reports for a child also counts the parent's peak.)
std::optional<std::string> RunCommand(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return args[0] + ": " + std::strerror(err);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::string("waitpid: ") + std::strerror(errno);
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return args[0] + " failed";
  return std::nullopt;
}

struct Kind {
  std::string name;
  std::function<std::optional<std::string>()> run;
  std::vector<double> seconds;
};

bool ParseCount(std::string_view text, long long& out, long long low, long long high) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && out >= low && out <= high;
}

std::string Fixed(double x, int decimals) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

std::string Padded(std::string s, std::size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

}  // namespace

int main(int argc, char** argv) {
  long long megabytes = 200;
  long long repeat = 5;
  std::string dirOption;
  std::string mergeCommand = TANDEMO_MERGE_COMMAND;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
      return 0;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "tandemo-bench: bad arguments\n%.*s", static_cast<int>(kUsage.size()),
                   kUsage.data());
      return 2;
    }
    const std::string_view value = argv[++i];
    bool ok = true;
    if (arg == "--mb")
      ok = ParseCount(value, megabytes, 1, 100000);
    else if (arg == "--repeat")
      ok = ParseCount(value, repeat, 1, 1000);
    else if (arg == "--dir")
      dirOption = value;
    else if (arg == "--merge")
      mergeCommand = value;
    else
      ok = false;
    if (!ok) {
      std::fprintf(stderr, "tandemo-bench: bad argument '%s'\n%.*s", argv[i - 1],
                   static_cast<int>(kUsage.size()), kUsage.data());
      return 2;
    }
  }
  if (dirOption.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    dirOption = (tmp && *tmp) ? tmp : "/tmp";
  }

  ScratchFolder scratch;
  std::string folder = (std::filesystem::path(dirOption) / "tandemo-bench-XXXXXX").string();
  if (!::mkdtemp(folder.data())) {
    std::fprintf(stderr, "tandemo-bench: cannot make a folder in %s: %s\n", dirOption.c_str(),
                 std::strerror(errno));
    return 1;
  }
  scratch.path = folder;
  const std::string first = folder + "/portion1.itc";
  const std::string second = folder + "/portion2.itc";
  const std::string output = folder + "/merged.itc";

  tandemo::itcgen::TitrationSettings settings;
  if (auto problem =
          tandemo::itcgen::FitToSize(settings, static_cast<std::uint64_t>(megabytes) * 1000000)) {
    std::fprintf(stderr, "tandemo-bench: %s\n", problem->c_str());
    return 1;
  }
  const auto genStart = std::chrono::steady_clock::now();
  {
    tandemo::itcgen::FileSink a, b;
    if (!a.Open(first) || !b.Open(second)) {
      std::fprintf(stderr, "tandemo-bench: %s%s\n", a.error().c_str(), b.error().c_str());
      return 1;
    }
    tandemo::itcgen::WritePair(settings, a, b);
    if (!a.Close() || !b.Close()) {
      std::fprintf(stderr, "tandemo-bench: %s%s\n", a.error().c_str(), b.error().c_str());
      return 1;
    }
  }
  const double genSeconds = Seconds(std::chrono::steady_clock::now() - genStart);
  const double firstBytes = static_cast<double>(std::filesystem::file_size(first));
  const double secondBytes = static_cast<double>(std::filesystem::file_size(second));
  const double inputMb = (firstBytes + secondBytes) / 1e6;

  std::vector<Kind> kinds;
  kinds.push_back({"plain copy (read, write, fsync)",
                   [&] {
                     return PlainCopy({first, second}, output);
                   },
                   {}});
#ifdef __linux__
  // The merge sends what it wrote on to disk as it goes; so can a copy, for comparison.
  kinds.push_back({"plain copy, writing back early",
                   [&] {
                     return PlainCopy({first, second}, output, true);
                   },
                   {}});
#endif
  for (bool compensate : {false, true}) {
    kinds.push_back({compensate ? "merge --compensate (engine)" : "merge (engine)",
                     [&, compensate]() -> std::optional<std::string> {
                       tandemo::MergeOutcome o =
                           tandemo::RunMerge(first, second, output, compensate);
                       if (!o.ok()) return o.error->Message();
                       return std::nullopt;
                     },
                     {}});
  }
  const bool haveCommand = !mergeCommand.empty() && ::access(mergeCommand.c_str(), X_OK) == 0;
  if (haveCommand) {
    for (bool compensate : {false, true}) {
      std::vector<std::string> args = {mergeCommand};
      if (compensate) args.emplace_back("--compensate");
      args.insert(args.end(), {"-o", output, first, second});
      kinds.push_back({compensate ? "tandemo-merge --compensate" : "tandemo-merge",
                       [args] { return RunCommand(args); },
                       {}});
    }
  }

  std::printf(
      "tandemo-bench: a %s MB pair (first %s MB, second %s MB, %d + %d injections) in %s,\n"
      "  generated in %s s\n",
      Fixed(inputMb, 1).c_str(), Fixed(firstBytes / 1e6, 1).c_str(),
      Fixed(secondBytes / 1e6, 1).c_str(), settings.firstInjections, settings.secondInjections,
      folder.c_str(), Fixed(genSeconds, 1).c_str());
  std::printf(
      "Throughput: input MB (10^6 bytes of both files) / wall time; median of %lld runs,\n"
      "best in brackets. Every run ends with its output flushed to disk.\n\n",
      repeat);
  std::fflush(stdout);

  // Interleaved, so that a slow spell of the disk does not fall on one kind alone.
  for (long long r = 0; r < repeat; ++r) {
    for (Kind& kind : kinds) {
      std::filesystem::remove(output);
      ::sync();  // start each run with nothing of the last one still to be written
      const auto start = std::chrono::steady_clock::now();
      if (auto problem = kind.run()) {
        std::fprintf(stderr, "tandemo-bench: %s failed: %s\n", kind.name.c_str(), problem->c_str());
        return 1;
      }
      kind.seconds.push_back(Seconds(std::chrono::steady_clock::now() - start));
    }
  }
  std::filesystem::remove(output);

  const double copyMbps = inputMb / Median(kinds[0].seconds);
  std::printf("  %s%s%s\n", Padded("run", 34).c_str(), Padded("MB/s", 18).c_str(), "of plain copy");
  for (const Kind& kind : kinds) {
    const double median = inputMb / Median(kind.seconds);
    const double best = inputMb / *std::min_element(kind.seconds.begin(), kind.seconds.end());
    std::string line = "  " + Padded(kind.name, 34) +
                       Padded(Fixed(median, 1) + " (" + Fixed(best, 1) + ")", 18) +
                       Fixed(median / copyMbps, 2);
    std::printf("%s\n", line.c_str());
  }
  std::printf(
      "\nTargets: merge at least 0.85 of the plain copy, merge --compensate at least 0.70.\n"
      "tandemo-merge also compares the files first, reading their headers and tails.\n"
      "Like the merge, the second copy starts writing to disk every 8 MiB as it goes.\n"
      "Peak resident memory (target: below 16 MiB): /usr/bin/time -v tandemo-merge ...\n");
  if (!haveCommand) std::printf("(tandemo-merge not timed: %s not found)\n", mergeCommand.c_str());
  return 0;
}
