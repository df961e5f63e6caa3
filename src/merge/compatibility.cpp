#include "compatibility.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tandemo {
namespace {

// Time stamps are written with two decimals; anything closer is the same step.
bool SameNumber(double a, double b) {
  return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

std::string DoubleText(double x) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

void CompareValue(const char* what, const std::optional<FactValue>& a,
                  const std::optional<FactValue>& b, FilePlace laterPlace, Comparison& out) {
  if (!a || !b) {
    out.notCompared.push_back(std::string(what) + ": the " +
                              (!a ? FileLabel(FilePlace::Input(1)) : FileLabel(laterPlace)) +
                              "'s header does not hold it");
    return;
  }
  if (!SameNumber(a->number, b->number)) out.differences.push_back({what, a->text, b->text, laterPlace});
}

}  // namespace

void CompareFacts(const FileFacts& first, const FileFacts& later, FilePlace laterPlace,
                  Comparison& out) {
  if (!first.scanned || !later.scanned) {
    const bool firstUnread = !first.scanned;
    out.notCompared.push_back(
        "any value: the " + (firstUnread ? FileLabel(FilePlace::Input(1)) : FileLabel(laterPlace)) +
        " is a pipe or device, which can be read only once");
    return;
  }
  if (first.usualForm && later.usualForm) {
    CompareValue("target temperature", first.temperature, later.temperature, laterPlace, out);
    CompareValue("syringe concentration (mM)", first.syringeConcentration,
                 later.syringeConcentration, laterPlace, out);
    CompareValue("cell volume (mL)", first.cellVolume, later.cellVolume, laterPlace, out);
    if (first.instrument && later.instrument) {
      if (*first.instrument != *later.instrument)
        out.differences.push_back({"instrument", *first.instrument, *later.instrument, laterPlace});
    } else {
      out.notCompared.push_back(
          "instrument: the " +
          (!first.instrument ? FileLabel(FilePlace::Input(1)) : FileLabel(laterPlace)) +
          "'s header does not name it");
    }
  } else {
    const bool firstOdd = !first.usualForm;
    out.notCompared.push_back(
        "temperature, concentration, cell volume and instrument: the " +
        (firstOdd ? FileLabel(FilePlace::Input(1)) : FileLabel(laterPlace)) +
        "'s header is not of the usual form (" +
        (firstOdd ? first.formProblem : later.formProblem) + ")");
  }
  if (first.timeStep && later.timeStep) {
    if (!SameNumber(*first.timeStep, *later.timeStep)) {
      out.differences.push_back(
          {"time step", DoubleText(*first.timeStep), DoubleText(*later.timeStep), laterPlace});
    }
  } else {
    out.notCompared.push_back("time step: the " +
                              (!first.timeStep ? FileLabel(FilePlace::Input(1)) : FileLabel(laterPlace)) +
                              " has fewer than two data lines");
  }
}

Comparison CompareAll(const std::vector<FileFacts>& facts) {
  Comparison out;
  for (std::size_t i = 1; i < facts.size(); ++i)
    CompareFacts(facts.front(), facts[i], FilePlace::Input(static_cast<int>(i + 1)), out);
  return out;
}

std::string DescribeDifference(const Difference& d) {
  return d.what + ": " + d.firstValue + " in the first file, " + d.laterValue + " in the " +
         FileLabel(d.later);
}

std::optional<MergeError> ScanInputs(const std::vector<std::string>& inputs,
                                     std::vector<FileFacts>& facts, ScanDepth depth) {
  facts.assign(inputs.size(), FileFacts{});
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (inputs[i].empty()) {
      return MergeError{ErrorCode::BadFileName, FilePlace::Input(static_cast<int>(i + 1)), 0,
                        "no path was given"};
    }
    if (auto err = ScanFile(inputs[i], FilePlace::Input(static_cast<int>(i + 1)), facts[i], depth))
      return err;
  }
  return std::nullopt;
}

}  // namespace tandemo
