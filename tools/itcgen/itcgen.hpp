// Synthetic raw ITC data files: one titration carried out in two portions, each
// portion written as the instrument writes a run of its own. The same settings and
// seed always give the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace tandemo::itcgen {

struct TitrationSettings {
  std::uint64_t seed = 1;
  int firstInjections = 10;
  int secondInjections = 8;
  int timeStep = 5;       // s between data lines, the instrument's filter period
  int spacing = 150;      // s from one injection to the next
  int initialDelay = 60;  // s of baseline before the first injection

  double injectionVolume = 2.0;       // µL
  double firstInjectionVolume = 0.4;  // µL, the small opening injection of the first portion
  double injectionRate = 0.5;         // µL/s; an injection lasts volume / rate

  // The binding reaction: one set of sites in the cell, ligand in the syringe.
  double temperature = 25.0;          // °C
  double cellVolume = 0.2;            // mL
  double cellConcentration = 0.05;    // mM
  double syringeConcentration = 0.5;  // mM; the syringe is reloaded with the same solution
  double bindingConstant = 1.0e6;     // 1/M
  double enthalpy = -12.0;            // kcal/mol; below zero the binding releases heat
  double dilutionHeat = -0.08;        // µcal per µL injected

  // The signal.
  double baselineDP = 10.0;    // µcal/s
  double reloadOffset = 0.35;  // µcal/s between the first portion's end and the second's baseline
  double noise = 0.004;        // µcal/s, standard deviation of the DP noise

  bool crlf = true;  // false: LF alone, as in files that passed through other tools
};

// Why a titration with these settings cannot be written, or nothing when it can.
std::optional<std::string> Validate(const TitrationSettings& settings);

// Where generated text goes. The generator hands over whole lines with their ends.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Append(std::string_view bytes) = 0;
};

class StringSink final : public Sink {
 public:
  void Append(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

class CountingSink final : public Sink {
 public:
  void Append(std::string_view bytes) override { bytes_ += bytes.size(); }
  std::uint64_t bytes() const { return bytes_; }

 private:
  std::uint64_t bytes_ = 0;
};

// Writes a file through a large buffer; errors are kept and reported by Close().
class FileSink final : public Sink {
 public:
  FileSink() = default;
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  bool Open(const std::string& path);  // false with error() set
  void Append(std::string_view bytes) override;
  bool Close();  // false when any write, the flush or the close failed
  const std::string& error() const { return error_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string error_;
};

// Writes the first portion to `first` and the second to `second`. Each is a run
// of its own: own header, own "@0" baseline, injections numbered from 1 and time
// stamps starting again at one time step. Call Validate() first.
void WritePair(const TitrationSettings& settings, Sink& first, Sink& second);

// The settings with the time between injections lengthened so that the pair holds
// about `totalBytes` bytes; the injections stay as they are. Fails when the size
// cannot be reached within the 32-bit time stamps of a merged file.
std::optional<std::string> FitToSize(TitrationSettings& settings, std::uint64_t totalBytes);

}  // namespace tandemo::itcgen
