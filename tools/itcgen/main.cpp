// tandemo-itcgen: writes a synthetic two-portion ITC titration as two raw data files.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "itcgen.hpp"

#ifndef TANDEMO_VERSION
#define TANDEMO_VERSION "0"
#endif

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage = "Usage: tandemo-itcgen [OPTION]... FIRST SECOND\n";

constexpr std::string_view kHelp =
    "Writes one synthetic ITC titration carried out in two portions: FIRST gets the\n"
    "first portion, SECOND the second. Each is a raw data file of its own, with its\n"
    "own header, its own \"@0\" baseline, injections numbered from 1 and time stamps\n"
    "starting again. The same options always give the same bytes.\n"
    "\n"
    "Options:\n"
    "  --seed N              noise and wander of the signal (default 1)\n"
    "  --injections N1,N2    injections in the first and second portion (default 10,8)\n"
    "  --step S              seconds between data lines (default 5)\n"
    "  --spacing S           seconds between injections, a multiple of the step (default 150)\n"
    "  --delay S             seconds of baseline before the first injection (default 60)\n"
    "  --reload-offset X     DP step in ucal/s from the first portion's end to the\n"
    "                        second portion's baseline (default 0.35)\n"
    "  --noise X             standard deviation of the DP noise in ucal/s (default 0.004)\n"
    "  --endothermic         the binding takes up heat: peaks rise instead of dip\n"
    "  --lf                  end lines with LF alone instead of CR LF\n"
    "  --size-mb M           make the pair about M MB (10^6 bytes) in all by lengthening\n"
    "                        the time between injections (overrides --spacing)\n"
    "  --help                show this help and exit\n"
    "  --version             show the version and exit\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "tandemo-itcgen: %s\n%.*s", message.c_str(), static_cast<int>(kUsage.size()),
               kUsage.data());
  std::fputs("Try 'tandemo-itcgen --help' for more information.\n", stderr);
  return kExitUsage;
}

template <class T>
bool ParseWhole(std::string_view text, T& out) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool ParseNumber(std::string_view text, double& out) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool ParsePair(std::string_view text, int& a, int& b) {
  std::size_t comma = text.find(',');
  return comma != std::string_view::npos && ParseWhole(text.substr(0, comma), a) &&
         ParseWhole(text.substr(comma + 1), b);
}

bool WriteFiles(const tandemo::itcgen::TitrationSettings& settings, const std::string& firstPath,
                const std::string& secondPath) {
  tandemo::itcgen::FileSink first, second;
  if (!first.Open(firstPath)) {
    std::fprintf(stderr, "tandemo-itcgen: %s\n", first.error().c_str());
    return false;
  }
  if (!second.Open(secondPath)) {
    std::fprintf(stderr, "tandemo-itcgen: %s\n", second.error().c_str());
    return false;
  }
  tandemo::itcgen::WritePair(settings, first, second);
  bool ok = true;
  for (tandemo::itcgen::FileSink* sink : {&first, &second}) {
    if (!sink->Close()) {
      std::fprintf(stderr, "tandemo-itcgen: %s\n", sink->error().c_str());
      ok = false;
    }
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  tandemo::itcgen::TitrationSettings settings;
  double sizeMb = 0.0;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
      std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("tandemo-itcgen %s\n", TANDEMO_VERSION);
      return 0;
    }
    if (arg == "--endothermic") {
      settings.enthalpy = -settings.enthalpy;
      continue;
    }
    if (arg == "--lf") {
      settings.crlf = false;
      continue;
    }
    if (arg.size() < 2 || arg.substr(0, 2) != "--") {
      paths.emplace_back(arg);
      continue;
    }
    if (i + 1 >= argc) return UsageError("option '" + std::string(arg) + "' needs a value");
    const std::string_view value = argv[++i];
    bool ok = false;
    if (arg == "--seed")
      ok = ParseWhole(value, settings.seed);
    else if (arg == "--injections")
      ok = ParsePair(value, settings.firstInjections, settings.secondInjections);
    else if (arg == "--step")
      ok = ParseWhole(value, settings.timeStep);
    else if (arg == "--spacing")
      ok = ParseWhole(value, settings.spacing);
    else if (arg == "--delay")
      ok = ParseWhole(value, settings.initialDelay);
    else if (arg == "--reload-offset")
      ok = ParseNumber(value, settings.reloadOffset);
    else if (arg == "--noise")
      ok = ParseNumber(value, settings.noise);
    else if (arg == "--size-mb")
      ok = ParseNumber(value, sizeMb) && sizeMb > 0 && sizeMb < 1e6;
    else
      return UsageError("unknown option '" + std::string(arg) + "'");
    if (!ok) return UsageError("bad value '" + std::string(value) + "' for " + std::string(arg));
  }
  if (paths.size() != 2) {
    return UsageError(paths.size() < 2 ? "missing file operand" : "too many file operands");
  }
  if (auto problem = tandemo::itcgen::Validate(settings)) return UsageError(*problem);
  if (sizeMb > 0) {
    if (auto problem =
            tandemo::itcgen::FitToSize(settings, static_cast<std::uint64_t>(sizeMb * 1e6)))
      return UsageError(*problem);
  }
  return WriteFiles(settings, paths[0], paths[1]) ? 0 : kExitFailed;
}
