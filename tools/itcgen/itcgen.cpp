#include "itcgen.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace tandemo::itcgen {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Heat flow after an injection rises with the injection and decays with the
// cell's response; the two time constants shape every peak.
constexpr double kDecaySeconds = 14.0;
constexpr double kRiseExtraSeconds = 2.0;  // rise time beyond half the injection's duration

// A merged file continues the first portion's time axis, so each portion must
// leave the other room within the 32-bit time stamps.
constexpr long long kMaxPortionSeconds = 1'000'000'000;

// xoshiro256** seeded through splitmix64: the same numbers on every platform,
// which the standard library's distributions do not promise.
class Random {
 public:
  explicit Random(std::uint64_t seed) {
    for (auto& s : state_) {
      seed += 0x9e3779b97f4a7c15ULL;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
      s = z ^ (z >> 31);
    }
  }

  double Uniform() {  // [0, 1)
    return static_cast<double>(Next() >> 11) * 0x1.0p-53;
  }

  double Normal() {  // Box-Muller, the second value of each pair kept for the next call
    if (haveSpare_) {
      haveSpare_ = false;
      return spare_;
    }
    const double u1 = 1.0 - Uniform();  // (0, 1]: the logarithm stays finite
    const double u2 = Uniform();
    const double r = std::sqrt(-2.0 * std::log(u1));
    spare_ = r * std::sin(2.0 * kPi * u2);
    haveSpare_ = true;
    return r * std::cos(2.0 * kPi * u2);
  }

 private:
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t Next() {
    const std::uint64_t result = Rotl(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = Rotl(state_[3], 45);
    return result;
  }

  std::uint64_t state_[4]{};
  bool haveSpare_ = false;
  double spare_ = 0.0;
};

void AppendFixed(std::string& out, double x, int decimals) {  // decimals: 0 to 6
  static constexpr double kScale[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};
  const double scale = kScale[decimals];
  double rounded = std::round(x * scale) / scale;
  if (rounded == 0.0) rounded = 0.0;  // no "-0.00000"
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed, decimals);
  out.append(buf, r.ptr);
}

// The shortest form, as header lines write their settings: "25", "0.6".
void AppendShort(std::string& out, double x) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  out.append(buf, r.ptr);
}

void AppendInt(std::string& out, long long n) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, r.ptr);
}

struct Injection {
  double volume = 0.0;  // µL
  double heat = 0.0;    // µcal; below zero: released, the DP dips
};

// Heats of every injection of the whole titration, both portions in order. The
// cell keeps its volume, so each injection pushes the same volume of mixture out.
std::vector<Injection> TitrationHeats(const TitrationSettings& settings) {
  const int total = settings.firstInjections + settings.secondInjections;
  std::vector<Injection> injections(static_cast<std::size_t>(total));
  const double cellMicroliters = settings.cellVolume * 1000.0;
  const double cellLiters = settings.cellVolume / 1000.0;
  const double m0 = settings.cellConcentration * 1e-3;     // M
  const double x0 = settings.syringeConcentration * 1e-3;  // M
  const double kd = 1.0 / settings.bindingConstant;
  auto bound = [&](double injected) {  // complex concentration after `injected` µL
    const double d = std::exp(-injected / cellMicroliters);
    const double mt = m0 * d;
    const double xt = x0 * (1.0 - d);
    const double b = mt + xt + kd;
    return (b - std::sqrt(b * b - 4.0 * mt * xt)) / 2.0;
  };
  double injected = 0.0;
  double complex = 0.0;
  for (int k = 0; k < total; ++k) {
    const double v = (k == 0) ? settings.firstInjectionVolume : settings.injectionVolume;
    const double after = bound(injected + v);
    const double kept = complex * std::exp(-v / cellMicroliters);  // what stayed in the cell
    const double heatCal = settings.enthalpy * 1000.0 * cellLiters * (after - kept);
    injections[static_cast<std::size_t>(k)] = {v, heatCal * 1e6 + settings.dilutionHeat * v};
    injected += v;
    complex = after;
  }
  return injections;
}

class PortionWriter {
 public:
  PortionWriter(const TitrationSettings& settings, Sink& sink, int portion)
      : settings_(settings),
        sink_(sink),
        portion_(portion),
        eol_(settings.crlf ? "\r\n" : "\n"),
        random_(settings.seed * 2 + static_cast<std::uint64_t>(portion)) {
    buf_.reserve(kFlushAt + 512);
  }

  // `baseline` is the DP level the portion settles to; `settle` the excess it starts with.
  void Write(const std::vector<Injection>& injections, double baseline, double settle) {
    WriteHeader(injections);
    const long long linesPerInjection = settings_.spacing / settings_.timeStep;
    std::vector<long long> times;  // injection times, s
    times.reserve(injections.size());
    for (std::size_t k = 0; k < injections.size(); ++k)
      times.push_back(settings_.initialDelay +
                      static_cast<long long>(k) * linesPerInjection * settings_.timeStep);

    Line("@0");
    long long t = 0;
    std::size_t firstActive = 0;  // earlier peaks have died away
    auto dataLine = [&] {
      t += settings_.timeStep;
      double dp = baseline + settle * std::exp(-static_cast<double>(t) / 500.0) + Wander() +
                  settings_.noise * random_.Normal();
      for (std::size_t k = firstActive; k < injections.size() && times[k] < t; ++k) {
        const double since = static_cast<double>(t - times[k]);
        if (since > 40.0 * kDecaySeconds) {
          firstActive = k + 1;
          continue;
        }
        // A slow injection rises slowly, but never as slowly as the response decays.
        const double rise =
            std::min(kRiseExtraSeconds + 0.5 * injections[k].volume / settings_.injectionRate,
                     0.8 * kDecaySeconds);
        const double shape =
            (std::exp(-since / kDecaySeconds) - std::exp(-since / rise)) / (kDecaySeconds - rise);
        dp += injections[k].heat * shape;
      }
      DataLine(t, dp);
    };
    for (long long n = settings_.initialDelay / settings_.timeStep; n > 0; --n) dataLine();
    for (std::size_t k = 0; k < injections.size(); ++k) {
      std::string& m = line_;
      m.clear();
      m += '@';
      AppendInt(m, static_cast<long long>(k) + 1);
      m += ',';
      AppendFixed(m, injections[k].volume, 4);
      m += ',';
      AppendFixed(m, injections[k].volume / settings_.injectionRate, 1);
      Line(m);
      for (long long n = linesPerInjection; n > 0; --n) dataLine();
    }
    Flush();
  }

 private:
  static constexpr std::size_t kFlushAt = 1 << 16;

  void Line(std::string_view text) {
    buf_.append(text);
    buf_.append(eol_);
    if (buf_.size() >= kFlushAt) Flush();
  }
  void Flush() {
    sink_.Append(buf_);
    buf_.clear();
  }

  // Slow random wandering of the baseline, mean-reverting so that long runs stay near it.
  double Wander() {
    const double keep = std::exp(-settings_.timeStep / 400.0);
    wander_ = wander_ * keep + 0.003 * std::sqrt(1.0 - keep * keep) * random_.Normal();
    return wander_;
  }

  void HeaderNumber(char mark, double value) {
    std::string& h = line_;
    h.assign(1, mark);
    h += ' ';
    AppendShort(h, value);
    h += ' ';
    Line(h);
  }

  void WriteHeader(const std::vector<Injection>& injections) {
    Line("$ITC");
    HeaderNumber('$', static_cast<double>(injections.size()));
    Line("$NOT");
    HeaderNumber('$', settings_.temperature);
    HeaderNumber('$', settings_.initialDelay);
    HeaderNumber('$', 750);                               // stirring speed, rpm
    HeaderNumber('$', std::round(settings_.baselineDP));  // reference power, µcal/s
    HeaderNumber('$', 2);                                 // feedback mode
    Line("$ADCGainCode:  0 ");
    Line("$False,True,True");
    for (const Injection& inj : injections) {  // from line 11: volume, duration, spacing, filter
      std::string& h = line_;
      h.assign("$ ");
      AppendShort(h, inj.volume);
      h += " , ";
      AppendShort(h, inj.volume / settings_.injectionRate);
      h += " , ";
      AppendInt(h, settings_.spacing);
      h += " , ";
      AppendInt(h, settings_.timeStep);
      h += ' ';
      Line(h);
    }
    HeaderNumber('#', 0);
    HeaderNumber('#', settings_.syringeConcentration);
    HeaderNumber('#', settings_.cellConcentration);
    HeaderNumber('#', settings_.cellVolume);
    HeaderNumber('#', settings_.temperature);
    HeaderNumber('#', 4.1);
    HeaderNumber('#', 7.75);
    // The run is named in the comment; the unit line is the same in every run, as an instrument's
    // is.
    std::string& h = line_;
    h.assign("?ITCGEN synthetic titration, portion ");
    AppendInt(h, portion_);
    h += " of 2, seed ";
    AppendInt(h, static_cast<long long>(settings_.seed));
    Line(h);
    Line("% ITCGEN synthetic unit");
    HeaderNumber('%', settings_.syringeConcentration);
    HeaderNumber('%', settings_.cellVolume);
    Line("%-0.5123 , 29.912 ");
    Line("%-0.1408 , 29.655 ");
    Line("% 1 , 90 ");
    Line("% 750 , 5 ");
    Line("% 0.031 ,-0.0017 , 0.000051 ");
    Line("% ITCGEN Ver: 1.0");
  }

  void DataLine(long long t, double dp) {
    const double seconds = static_cast<double>(t);
    std::string& d = line_;
    d.clear();
    AppendInt(d, t);
    d += ".00,";
    AppendFixed(d, dp, 5);
    d += ',';
    AppendFixed(d,
                settings_.temperature - 0.018 + 0.00035 * (1.0 - std::exp(-seconds / 2400.0)) +
                    4e-6 * random_.Normal(),
                6);
    d += ',';
    AppendFixed(d, 0.00062 + 6e-6 * random_.Normal(), 6);
    d += ',';
    AppendFixed(d, settings_.temperature + 0.0192 + 5e-5 * random_.Normal(), 6);
    d += ',';
    AppendFixed(d, -3.30 + 0.55 * (1.0 - std::exp(-seconds / 25000.0)) + 4e-4 * random_.Normal(),
                4);
    d += ',';
    AppendFixed(d, -0.105 + 0.3 * (1.0 - std::exp(-seconds / 40000.0)), 3);
    Line(d);
  }

  const TitrationSettings& settings_;
  Sink& sink_;
  int portion_;
  std::string_view eol_;
  Random random_;
  std::string buf_;
  std::string line_;
  double wander_ = 0.0;
};

bool Finite(std::initializer_list<double> values) {
  for (double v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

}  // namespace

std::optional<std::string> Validate(const TitrationSettings& s) {
  if (s.firstInjections < 1 || s.secondInjections < 1 || s.firstInjections > 100000 ||
      s.secondInjections > 100000)
    return "each portion needs between 1 and 100000 injections";
  if (s.timeStep < 1 || s.timeStep > 3600) return "the time step must be 1 to 3600 s";
  if (s.spacing < s.timeStep || s.spacing % s.timeStep != 0)
    return "the spacing between injections must be a whole number of time steps";
  if (s.initialDelay < 2 * s.timeStep || s.initialDelay % s.timeStep != 0)
    return "the initial delay must be a whole number of time steps, at least two";
  const int most = s.firstInjections > s.secondInjections ? s.firstInjections : s.secondInjections;
  if (s.initialDelay + static_cast<long long>(most) * s.spacing > kMaxPortionSeconds)
    return "a portion would last beyond " + std::to_string(kMaxPortionSeconds) +
           " s, past what a merged file's time stamps can hold";
  if (!Finite({s.injectionVolume, s.firstInjectionVolume, s.injectionRate, s.temperature,
               s.cellVolume, s.cellConcentration, s.syringeConcentration, s.bindingConstant,
               s.enthalpy, s.dilutionHeat, s.baselineDP, s.reloadOffset, s.noise}))
    return "every setting must be a finite number";
  if (s.injectionVolume <= 0 || s.firstInjectionVolume <= 0 || s.injectionRate <= 0 ||
      s.cellVolume <= 0 || s.cellConcentration <= 0 || s.syringeConcentration <= 0 ||
      s.bindingConstant <= 0)
    return "volumes, rate, concentrations and binding constant must be above zero";
  if (s.noise < 0) return "the noise must not be negative";
  return std::nullopt;
}

void WritePair(const TitrationSettings& settings, Sink& first, Sink& second) {
  std::vector<Injection> all = TitrationHeats(settings);
  const auto split = all.begin() + settings.firstInjections;
  std::vector<Injection> firstPart(all.begin(), split);
  std::vector<Injection> secondPart(split, all.end());

  PortionWriter one(settings, first, 1);
  one.Write(firstPart, settings.baselineDP, 0.04);
  // The cell is not refilled; after the syringe is reloaded the baseline comes back
  // a little off where the first portion ended and settles again.
  PortionWriter two(settings, second, 2);
  two.Write(secondPart, settings.baselineDP + settings.reloadOffset, 0.06);
}

std::optional<std::string> FitToSize(TitrationSettings& settings, std::uint64_t totalBytes) {
  auto sizeWith = [&](long long linesPerInjection) {
    TitrationSettings s = settings;
    s.spacing = static_cast<int>(linesPerInjection * s.timeStep);
    CountingSink a, b;
    WritePair(s, a, b);
    return static_cast<double>(a.bytes() + b.bytes());
  };
  const double injections = settings.firstInjections + settings.secondInjections;
  const long long most = settings.firstInjections > settings.secondInjections
                             ? settings.firstInjections
                             : settings.secondInjections;
  const long long maxLines = (kMaxPortionSeconds - settings.initialDelay) /
                             (most * static_cast<long long>(settings.timeStep));

  const double target = static_cast<double>(totalBytes);
  const double smallest = sizeWith(1);
  if (target < smallest) {
    return "with these injections the pair holds at least " +
           std::to_string(static_cast<long long>(smallest)) + " bytes";
  }
  const double at10 = sizeWith(10);
  // Lines grow a little as the time stamps get longer, so one correction follows
  // the first estimate.
  long long lines = 1 + std::llround((target - smallest) / ((at10 - smallest) / 9.0));
  for (int round = 0; round < 2; ++round) {
    if (lines < 1) lines = 1;
    if (lines > maxLines || lines > std::numeric_limits<int>::max() / settings.timeStep) {
      return "a pair of that size does not fit within the time stamps of a merged file; "
             "add injections";
    }
    if (round == 1) break;
    const double got = sizeWith(lines);
    const double perLine = (got - smallest) / (static_cast<double>(lines - 1) * injections);
    if (lines > 1 && perLine > 0) lines += std::llround((target - got) / (perLine * injections));
  }
  settings.spacing = static_cast<int>(lines * settings.timeStep);
  return Validate(settings);
}

FileSink::~FileSink() {
  if (file_) std::fclose(file_);
}

bool FileSink::Open(const std::string& path) {
  path_ = path;
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) {
    error_ = path + ": " + std::strerror(errno);
    return false;
  }
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  return true;
}

void FileSink::Append(std::string_view bytes) {
  if (!file_ || !error_.empty()) return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
    error_ = path_ + ": " + std::strerror(errno);
}

bool FileSink::Close() {
  if (!file_) return error_.empty();
  const bool flushed = std::fflush(file_) == 0;
  const int flushErr = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (error_.empty() && (!flushed || !closed))
    error_ = path_ + ": " + std::strerror(flushed ? errno : flushErr);
  return error_.empty();
}

}  // namespace tandemo::itcgen
