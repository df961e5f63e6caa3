#include "inspection.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

#include "data_tail.hpp"
#include "fields.hpp"
#include "line_io.hpp"
#include "number_read.hpp"
#include "number_text.hpp"
#include "rounding.hpp"

namespace tandemo {
namespace {

// A header longer than this is no ITC header; the rest of it is not kept.
constexpr std::size_t kMaxHeaderLines = 10000;
constexpr std::size_t kFirstInjectionLine = 11;
// Enough for the last two data lines and the last marker line of a real file;
// the tail read grows backwards from here when it is not.
constexpr std::uint64_t kTailBytes = 64 * 1024;
// A baseline longer than this is not read for its DP: the inspection stays short.
constexpr std::uint64_t kBaselineBytes = 1 << 20;
constexpr std::size_t kLineEndSample = 64 * 1024;
constexpr std::size_t kCompareChunk = 64 * 1024;
constexpr std::uint64_t kScanChunk = 256 * 1024;

class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(const std::string& path) { error_ = platform::OpenForReading(path, fd_); }
  ~FileHandle() {
    if (fd_ >= 0) platform::CloseFile(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int fd() const { return fd_; }
  int error() const { return error_; }  // of the opening

 private:
  int fd_ = -1;
  int error_ = 0;
};

// Reads up to `size` bytes at `offset`; the count read, or -1 with errno set.
long ReadAt(int fd, char* into, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const long n = platform::ReadSomeAt(fd, into + done, size - done, offset + done);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long>(done);
}

LineEnd LineEndOf(std::string_view bytes) {
  bool crlf = false, cr = false, lf = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r') {
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') {
        crlf = true;
        ++i;
      } else if (i + 1 < bytes.size()) {  // a CR last in the sample may be half of CR LF
        cr = true;
      }
    } else if (bytes[i] == '\n') {
      lf = true;
    }
  }
  const int kinds = int{crlf} + int{cr} + int{lf};
  if (kinds == 0) return LineEnd::None;
  if (kinds > 1) return LineEnd::Mixed;
  return crlf ? LineEnd::CrLf : cr ? LineEnd::Cr : LineEnd::Lf;
}

// What the inspection reads from a stretch of a file after its first marker line:
// its last data lines, held by the merge's own DataTail so that the time step, last
// time and last DP follow the one rule the merge follows, and its last injection.
struct TailReading {
  DataTail data;
  bool injectionSeen = false;      // a marker line with a comma
  std::int32_t lastInjection = 0;  // its number

  // What a stretch read before this one adds to it.
  void TakeEarlier(const TailReading& earlier) {
    if (!injectionSeen && earlier.injectionSeen) {
      injectionSeen = true;
      lastInjection = earlier.lastInjection;
    }
    data.TakeEarlier(earlier.data);
  }

  void Feed(std::string_view line, long long lineNumber) {
    if (line.empty()) return;
    if (IsMarkerLine(line)) {
      data.AddOther();
      const std::size_t comma = line.find(',');
      if (comma == std::string_view::npos) return;
      injectionSeen = true;
      Checked<std::int32_t> number = RoundToInt32(LeadingValue(line.substr(1, comma - 1)));
      lastInjection = number ? std::max<std::int32_t>(number.value, 0)
                             : std::numeric_limits<std::int32_t>::max();
      return;
    }
    if (IsDataLine(line)) {
      data.Add(line, lineNumber);
    } else {
      data.AddOther();
    }
  }
};

// A data line's time field as written.
std::string_view TimeField(std::string_view line) { return line.substr(0, line.find(',')); }

// Digits after the decimal point of a time stamp as written.
int Decimals(std::string_view text) {
  const std::size_t point = text.find('.');
  if (point == std::string_view::npos) return 0;
  int n = 0;
  for (std::size_t i = point + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) ++n;
  return n;
}

// A step shown to as many decimals as the time stamps carry, trailing zeros
// dropped: "2", "0.4", never the binary noise of the difference.
std::string StepText(std::string_view previousTime, std::string_view lastTime, double step) {
  const int decimals = std::min(15, std::max(Decimals(previousTime), Decimals(lastTime)));
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, step, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) return "?";
  std::string text(buf, r.ptr);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

// The DP of a data line: field 1 as the merge reads it.
FactValue DpOf(std::string_view line) {
  std::string_view rest = line.substr(line.find(',') + 1);
  std::string_view field = rest.substr(0, rest.find(','));
  while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
  while (!field.empty() && field.back() == ' ') field.remove_suffix(1);
  return FactValue{LeadingValue(rest), std::string(field)};
}

// Lines that start in [start, end) into `tail`; line numbers are not known here.
// False when the file could not be read.
bool ReadStretch(LineReader& reader, std::uint64_t start, std::uint64_t end, bool atLineStart,
                 TailReading& tail) {
  // From the byte before `start`, the first line read ends where the line
  // holding `start` ends: the next one is the first to start at or after it.
  if (!reader.SeekTo(atLineStart ? start : start - 1)) return false;
  std::string_view line;
  if (!atLineStart) {
    LineReader::Status status = reader.Next(line);
    if (status != LineReader::Status::Line) return status == LineReader::Status::End;
  }
  while (reader.Offset() < end) {
    LineReader::Status status = reader.Next(line);
    if (status == LineReader::Status::End) break;
    if (status == LineReader::Status::Error) return false;
    tail.Feed(line, 0);
  }
  return true;
}

// The last marker line with a comma that starts in [from, end), searched backwards
// through the bytes for an "@" that starts a line: once the tail holds its data
// lines, the last injection may still lie far back, and its lines need no reading.
// `from` is a line's start after the file's first. The errno of a failed read, else 0.
int FindLastInjection(int fd, LineReader& reader, std::uint64_t from, std::uint64_t end,
                      TailReading& tail) {
  std::unique_ptr<char[]> chunk(new char[kScanChunk + 1]);
  std::vector<std::uint64_t> starts;
  while (end > from) {
    const std::uint64_t chunkStart = end - from > kScanChunk ? end - kScanChunk : from;
    // One byte before the chunk tells whether its first byte starts a line.
    const long read =
        ReadAt(fd, chunk.get(), static_cast<std::size_t>(end - chunkStart + 1), chunkStart - 1);
    if (read < 0) return errno;
    const auto size = static_cast<std::size_t>(read);  // less when the file has shrunk meanwhile
    starts.clear();
    for (std::size_t at = 1; at < size;) {
      const void* hit = std::memchr(chunk.get() + at, '@', size - at);
      if (!hit) break;
      at = static_cast<std::size_t>(static_cast<const char*>(hit) - chunk.get());
      if (chunk[at - 1] == '\r' || chunk[at - 1] == '\n') starts.push_back(chunkStart - 1 + at);
      ++at;
    }
    for (std::size_t k = starts.size(); k-- > 0;) {  // the latest line start first
      std::string_view line;
      if (!reader.SeekTo(starts[k])) return reader.error();
      LineReader::Status status = reader.Next(line);
      if (status == LineReader::Status::Error) return reader.error();
      if (status == LineReader::Status::Line && line.find(',') != std::string_view::npos) {
        tail.Feed(line, 0);
        return 0;
      }
    }
    end = chunkStart;
  }
  return 0;
}

void TakeTail(TailReading& tail, FileFacts& facts) {
  facts.injectionsPerformed = tail.injectionSeen ? tail.lastInjection : 0;
  facts.hasInjection = tail.injectionSeen;
  DataTail& data = tail.data;
  // A last data line cut short by an interrupted write is left out, as the merge leaves it out.
  if (data.lastCutShort()) data.DropLast();
  if (data.count() >= 1) {
    const std::string& last = data.last().text;
    facts.lastTime = FactValue{LeadingValue(last), std::string(TimeField(last))};
    facts.lastDp = DpOf(last);
    facts.lastDataLine = data.last().line;
  }
  if (data.count() < 2) return;
  const std::string& previous = data.previous().text;
  facts.previousTime = FactValue{LeadingValue(previous), std::string(TimeField(previous))};
  // The step the merge continues, in hundredths of a second, shown as the file writes it.
  Checked<std::int32_t> hundredths = data.StepHundredths();
  if (hundredths) {
    facts.timeStep =
        FactValue{static_cast<double>(hundredths.value) / 100.0, SecondsText(hundredths.value)};
    return;
  }
  // Beyond what the merge takes: shown all the same, the merge refuses it.
  Checked<double> step = TestedDifference(facts.lastTime->number, facts.previousTime->number);
  if (step)
    facts.timeStep =
        FactValue{step.value, StepText(facts.previousTime->text, facts.lastTime->text, step.value)};
}

std::optional<MergeError> InspectFile(const std::string& path, FilePlace place, FileFacts& facts) {
  facts = FileFacts{};
  facts.path = path;
  platform::FileStatus st;
  if (platform::StatusOfPath(path, st) == 0 && !st.isRegular && !st.isDirectory) {
    facts.header.formProblem = "it is a pipe or device, which can be read only once";
    return std::nullopt;
  }
  FileHandle file(path);
  if (file.fd() < 0) return OpenFailure(place, path, file.error());
  if (int err = platform::StatusOf(file.fd(), st); err != 0) return OpenFailure(place, path, err);
  if (st.isDirectory) return OpenFailure(place, path, EISDIR);
  if (!st.isRegular) {  // became a pipe since: leave it to the merge
    facts.header.formProblem = "it is a pipe or device, which can be read only once";
    return std::nullopt;
  }
  facts.inspected = true;
  facts.identity = FileIdentity::Of(st);
  {
    std::unique_ptr<char[]> sample(new char[kLineEndSample]);
    long n = ReadAt(file.fd(), sample.get(), kLineEndSample, 0);
    if (n < 0) return ReadFailure(place, 1, errno);
    facts.lineEnd = LineEndOf(std::string_view(sample.get(), static_cast<std::size_t>(n)));
  }

  LineReader reader;
  reader.Attach(file.fd());
  auto readFailure = [&](long long line) { return ReadFailure(place, line, reader.error()); };

  std::vector<std::string> header;
  std::string_view line;
  LineReader::Status status;
  while ((status = reader.Next(line)) == LineReader::Status::Line && !IsMarkerLine(line)) {
    if (header.size() < kMaxHeaderLines) header.emplace_back(line);
  }
  if (status == LineReader::Status::Error) return readFailure(reader.LineNumber() + 1);
  facts.header = ReadHeader(header);
  if (status == LineReader::Status::End) {  // no marker line: no data, nothing to append
    facts.injectionsPerformed = 0;
    return std::nullopt;
  }

  // Forward: the first marker line and, after "@0", the baseline up to the next marker line.
  TailReading start;
  start.Feed(line, reader.LineNumber());
  const std::uint64_t dataStart = reader.Offset();
  if (line.find(',') == std::string_view::npos) {
    while (reader.Offset() - dataStart < kBaselineBytes) {
      status = reader.Next(line);
      if (status == LineReader::Status::Error) return readFailure(reader.LineNumber() + 1);
      if (status == LineReader::Status::End) break;
      start.Feed(line, reader.LineNumber());
      if (IsMarkerLine(line)) break;
      if (IsDataLine(line)) facts.baselineDp = DpOf(line);
    }
  }

  // Then the tail: the rest of a short file with its line numbers, else the last
  // stretch of a long one, growing backwards until it holds three data lines (two
  // when the last is cut short) and a marker line with a comma.
  const std::uint64_t forwardEnd = reader.Offset();
  const std::uint64_t size = facts.identity.size;
  if (status == LineReader::Status::End || size <= forwardEnd + kTailBytes) {
    while (status != LineReader::Status::End) {
      status = reader.Next(line);
      if (status == LineReader::Status::Error) return readFailure(reader.LineNumber() + 1);
      if (status == LineReader::Status::Line) start.Feed(line, reader.LineNumber());
    }
    TakeTail(start, facts);
    return std::nullopt;
  }
  TailReading tail;
  std::uint64_t end = size;
  for (std::uint64_t window = kTailBytes;; window *= 2) {
    const std::uint64_t from = end - forwardEnd > window ? end - window : forwardEnd;
    TailReading stretch;
    if (!ReadStretch(reader, from, end, from == forwardEnd, stretch)) return readFailure(0);
    tail.TakeEarlier(stretch);
    end = from;
    if (end == forwardEnd) {
      tail.TakeEarlier(start);
      break;
    }
    if (tail.data.count() >= 3) {
      if (!tail.injectionSeen) {
        TailReading marker;
        if (int err = FindLastInjection(file.fd(), reader, forwardEnd, end, marker))
          return ReadFailure(place, 0, err);
        tail.TakeEarlier(marker);
        if (!tail.injectionSeen) tail.TakeEarlier(start);
      }
      break;
    }
  }
  TakeTail(tail, facts);
  return std::nullopt;
}

// "the same path", "the same file" or "the same bytes" when `later` is `earlier` again.
std::optional<std::string> SameRun(const FileFacts& earlier, const FileFacts& later) {
  if (earlier.path == later.path) return "the same path";
  if (!earlier.inspected || !later.inspected) return std::nullopt;
  if (earlier.identity.SameFile(later.identity)) return "the same file under another name";
  if (earlier.identity.size != later.identity.size) return std::nullopt;
  FileHandle a(earlier.path);
  FileHandle b(later.path);
  if (a.fd() < 0 || b.fd() < 0) return std::nullopt;
  std::unique_ptr<char[]> bufA(new char[kCompareChunk]), bufB(new char[kCompareChunk]);
  for (std::uint64_t at = 0;;
       at += kCompareChunk) {  // two portions differ early: line 2 or the data
    long n = ReadAt(a.fd(), bufA.get(), kCompareChunk, at);
    long m = ReadAt(b.fd(), bufB.get(), kCompareChunk, at);
    if (n < 0 || m < 0 || n != m) return std::nullopt;
    if (std::memcmp(bufA.get(), bufB.get(), static_cast<std::size_t>(n)) != 0) return std::nullopt;
    if (n == 0) return "the same bytes";
  }
}

// ------------------------------------------------------------------ the comparison

// A value as a row reads it from a file's facts: a number for comparing (where
// the row compares numbers), the text for showing.
struct Reading {
  double number = 0.0;
  std::string text;
};

enum class Against { First, Previous };    // the file a later file is compared with
enum class Mismatch { Difference, Note };  // what a mismatch is

struct Row {
  std::string_view label;
  Against against;
  Mismatch mismatch;
  bool needsUsualForm;     // read from the header's fixed lines
  bool quietWhenBothLack;  // a value older instruments do not write
  std::optional<Reading> (*read)(const FileFacts&);
  bool (*agree)(const Reading& earlier, const Reading& later);
  std::string_view lacking;  // after "the second file"
  // How a mismatch is worded; nothing: "label: A in the first file, B in the second file".
  std::string (*word)(FilePlace earlier, const Reading&, FilePlace later, const Reading&);
};

std::optional<Reading> FromValue(const std::optional<FactValue>& v) {
  if (!v) return std::nullopt;
  return Reading{v->number, v->text};
}
std::optional<Reading> FromText(const std::optional<std::string>& v) {
  if (!v) return std::nullopt;
  return Reading{0.0, *v};
}

// Header numbers are written with a few decimals; anything closer is the same.
bool SameNumber(const Reading& a, const Reading& b) {
  return std::fabs(a.number - b.number) <=
         1e-9 * std::max({1.0, std::fabs(a.number), std::fabs(b.number)});
}
bool SameText(const Reading& a, const Reading& b) { return a.text == b.text; }
bool NotEarlier(const Reading& earlier, const Reading& later) {
  return later.number >= earlier.number;
}

// "second file's run started before the first's": the ordinal of a file label.
std::string Ordinal(FilePlace place) {
  std::string label = FileLabel(place);
  const std::string_view suffix = " file";
  if (label.size() > suffix.size() &&
      label.compare(label.size() - suffix.size(), suffix.size(), suffix) == 0)
    label.resize(label.size() - suffix.size());
  return label;
}

std::string RunOrderWords(FilePlace earlier, const Reading& earlierStart, FilePlace later,
                          const Reading& laterStart) {
  return "the " + FileLabel(later) + "'s run started before the " + Ordinal(earlier) +
         "'s: are they swapped? (" + FileLabel(earlier) + " " + earlierStart.text + ", " +
         FileLabel(later) + " " + laterStart.text + ")";
}

constexpr std::string_view kHeaderHoldsNot = "'s header does not hold it";
constexpr std::string_view kHeaderNamesNot = "'s header does not name it";

const Row kRows[] = {
    {"instrument unit", Against::First, Mismatch::Difference, false, true,
     [](const FileFacts& f) { return FromText(f.header.instrumentUnit); }, SameText,
     kHeaderNamesNot, nullptr},
    {"control software", Against::First, Mismatch::Note, false, true,
     [](const FileFacts& f) { return FromText(f.header.controlSoftware); }, SameText,
     kHeaderNamesNot, nullptr},
    {"run start time", Against::Previous, Mismatch::Difference, false, true,
     [](const FileFacts& f) -> std::optional<Reading> {
       if (!f.header.runStart) return std::nullopt;
       return Reading{static_cast<double>(f.header.runStart->secondsKey), f.header.runStart->text};
     },
     NotEarlier, "'s header does not say when its run started", RunOrderWords},
    {"target temperature", Against::First, Mismatch::Difference, true, false,
     [](const FileFacts& f) { return FromValue(f.header.temperature); }, SameNumber,
     kHeaderHoldsNot, nullptr},
    {"syringe concentration (mM)", Against::First, Mismatch::Difference, true, false,
     [](const FileFacts& f) { return FromValue(f.header.syringeConcentration); }, SameNumber,
     kHeaderHoldsNot, nullptr},
    // The cell is not refilled between portions, but a new run may be given its diluted
    // concentration.
    {"cell concentration (mM)", Against::First, Mismatch::Note, true, false,
     [](const FileFacts& f) { return FromValue(f.header.cellConcentration); }, SameNumber,
     kHeaderHoldsNot, nullptr},
    {"cell volume (mL)", Against::First, Mismatch::Difference, true, false,
     [](const FileFacts& f) { return FromValue(f.header.cellVolume); }, SameNumber, kHeaderHoldsNot,
     nullptr},
    {"time step", Against::First, Mismatch::Difference, false, false,
     [](const FileFacts& f) { return FromValue(f.timeStep); }, SameNumber,
     " has fewer than two data lines", nullptr},
};

void Compare(const std::vector<FileFacts>& files, Inspection& out) {
  for (std::size_t i = 1; i < files.size(); ++i) {
    const FilePlace laterPlace = FilePlace::Input(static_cast<int>(i + 1));
    const FileFacts& later = files[i];
    if (!files[0].inspected || !later.inspected) {
      const bool firstUnread = !files[0].inspected;
      out.notCompared.push_back(
          "any value: the " +
          (firstUnread ? FileLabel(FilePlace::Input(1)) : FileLabel(laterPlace)) +
          " is a pipe or device, which can be read only once");
      continue;
    }
    bool formNoted = false;
    for (const Row& row : kRows) {
      const std::size_t e = row.against == Against::First ? 0 : i - 1;
      const FileFacts& earlier = files[e];
      const FilePlace earlierPlace = FilePlace::Input(static_cast<int>(e + 1));
      if (!earlier.inspected) continue;  // a pipe between: its run start is not known
      if (row.needsUsualForm && (!earlier.header.usualForm || !later.header.usualForm)) {
        if (!formNoted) {
          const bool earlierOdd = !earlier.header.usualForm;
          out.notCompared.push_back(
              "target temperature, concentrations and cell volume: the " +
              (earlierOdd ? FileLabel(earlierPlace) : FileLabel(laterPlace)) +
              "'s header is not of the usual form (" +
              (earlierOdd ? earlier.header.formProblem : later.header.formProblem) + ")");
          formNoted = true;
        }
        continue;
      }
      const std::optional<Reading> a = row.read(earlier);
      const std::optional<Reading> b = row.read(later);
      if (!a || !b) {  // what a file lacks is never a difference
        if (!a && !b && row.quietWhenBothLack) continue;
        out.notCompared.push_back(std::string(row.label) + ": the " +
                                  (!a ? FileLabel(earlierPlace) : FileLabel(laterPlace)) +
                                  std::string(row.lacking));
        continue;
      }
      if (row.agree(*a, *b)) continue;
      std::string text = std::string(row.label) + ": " +
                         (row.word ? row.word(earlierPlace, *a, laterPlace, *b)
                                   : a->text + " in the " + FileLabel(earlierPlace) + ", " +
                                         b->text + " in the " + FileLabel(laterPlace));
      if (row.mismatch == Mismatch::Difference) {
        out.differences.push_back({std::string(row.label), std::move(text), laterPlace});
      } else {
        out.notes.push_back(std::move(text));
      }
    }
  }
}

// The first file's time step, checked before anything else: without one the
// merge cannot continue the time axis, whatever the comparison says.
std::optional<MergeError> FirstFileTimeStep(const FileFacts& first) {
  const FilePlace place = FilePlace::Input(1);
  if (!first.inspected) return std::nullopt;
  if (!first.previousTime) {
    return MergeError{
        ErrorCode::NoTimeStep, place, 0,
        "fewer than two data lines (lines with a comma after the first marker line), so the "
        "time step cannot be taken"};
  }
  if (first.timeStep && first.timeStep->number <= 0) {
    return MergeError{ErrorCode::NoTimeStep, place, first.lastDataLine,
                      "the last two data lines have the time stamps " +
                          Quoted(first.previousTime->text) + " and " +
                          Quoted(first.lastTime->text) + ", a time step of " +
                          first.timeStep->text + " that would not advance the time axis"};
  }
  return std::nullopt;
}

}  // namespace

std::uint64_t Inspection::BytesTotal() const {
  std::uint64_t total = 0;
  for (const FileFacts& f : files) total += f.identity.size;
  return total;
}

std::optional<std::size_t> Inspection::InputAt(const std::string& outputPath) const {
  platform::FileStatus st;
  const bool known = platform::StatusOfPath(outputPath, st) == 0;
  const FileIdentity output = FileIdentity::Of(st);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].path == outputPath) return i;
    if (known && files[i].inspected && files[i].identity.SameFile(output)) return i;
  }
  return std::nullopt;
}

Inspection Inspect(const std::vector<std::string>& inputs) {
  Inspection out;
  if (inputs.size() < 2) {
    out.failure = MergeError{ErrorCode::BadFileName, FilePlace::None(), 0,
                             "a merge needs a first and a second file"};
    return out;
  }
  out.files.resize(inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const FilePlace place = FilePlace::Input(static_cast<int>(i + 1));
    if (inputs[i].empty()) {
      out.failure = MergeError{ErrorCode::BadFileName, place, 0, "no path was given"};
      return out;
    }
    if (auto err = InspectFile(inputs[i], place, out.files[i])) {
      out.failure = std::move(err);
      return out;
    }
  }
  for (std::size_t j = 1; j < inputs.size(); ++j) {
    for (std::size_t i = 0; i < j; ++i) {
      if (std::optional<std::string> how = SameRun(out.files[i], out.files[j])) {
        out.failure = MergeError{ErrorCode::SameRun, FilePlace::Input(static_cast<int>(j + 1)), 0,
                                 Quoted(inputs[j]) + " is the " +
                                     FileLabel(FilePlace::Input(static_cast<int>(i + 1))) +
                                     " again (" + *how + "); nothing was written"};
        return out;
      }
    }
  }
  if ((out.failure = FirstFileTimeStep(out.files[0]))) return out;
  for (std::size_t i = 1; i < inputs.size(); ++i) {
    const FileFacts& f = out.files[i];
    if (f.inspected && !f.hasInjection) {
      out.failure = NoInjectionFailure(FilePlace::Input(static_cast<int>(i + 1)), f.path);
      return out;
    }
  }
  Compare(out.files, out);
  return out;
}

MergeError DifferencesRefusal(const Inspection& inspection) {
  std::string detail = "these files may not belong to one titration; nothing was written";
  for (const Difference& d : inspection.differences) detail += "\n  " + d.text;
  return MergeError{ErrorCode::FilesDiffer, FilePlace::None(), 0, detail};
}

std::string InputRole(std::size_t inputIndex) {
  std::string label = FileLabel(FilePlace::Input(static_cast<int>(inputIndex + 1)));
  const std::size_t file = label.rfind("file");
  label.insert(file, "input ");
  return "the " + label;
}

MergeError OutputIsInputRefusal(std::size_t inputIndex, const std::string& outputPath) {
  return MergeError{ErrorCode::OutputIsInput, FilePlace::Output(), 0,
                    Quoted(outputPath) + " is " + InputRole(inputIndex) + "; nothing was written"};
}

MergeError NoInjectionFailure(FilePlace place, const std::string& path) {
  return MergeError{ErrorCode::NoInjection, place, 0,
                    "no injection to append; is it an ITC data file? (" + Quoted(path) + ")"};
}

MergeError InputChangedFailure(FilePlace place, const std::string& path) {
  return MergeError{ErrorCode::InputChanged, place, 0,
                    "the " + FileLabel(place) + " changed while it was read (" + Quoted(path) +
                        "); nothing was written"};
}

std::optional<MergeError> PlanHeader(const Inspection& inspection, HeaderPlan& plan) {
  plan = HeaderPlan{};
  const std::vector<FileFacts>& files = inspection.files;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!files[i].header.usualForm) {
      return MergeError{ErrorCode::BadHeader, FilePlace::Input(static_cast<int>(i + 1)), 0,
                        "the header cannot list every injection: " + files[i].header.formProblem};
    }
  }
  const HeaderFacts& first = files.front().header;
  const std::int32_t firstPerformed = files.front().injectionsPerformed.value_or(0);
  if (firstPerformed > first.announced) {
    return MergeError{ErrorCode::BadHeader, FilePlace::Input(1), 2,
                      "the header announces " + std::to_string(first.announced) +
                          " injections but " + std::to_string(firstPerformed) + " were performed"};
  }
  long long total = firstPerformed;
  for (std::size_t i = 1; i < files.size(); ++i) {
    const HeaderFacts& h = files[i].header;
    const std::int32_t performed = files[i].injectionsPerformed.value_or(0);
    if (h.announced < performed) {
      return MergeError{ErrorCode::BadHeader, FilePlace::Input(static_cast<int>(i + 1)), 2,
                        "the header announces " + std::to_string(h.announced) + " injections but " +
                            std::to_string(performed) + " are appended from this file"};
    }
    total += performed;
    plan.appended.push_back(performed);
    for (std::int32_t k = 0; k < performed; ++k)
      plan.inserted.push_back(h.injectionLines[static_cast<std::size_t>(k)]);
  }
  if (total > std::numeric_limits<std::int32_t>::max()) {
    return MergeError{ErrorCode::Overflow, FilePlace::Input(1), 2,
                      "the total number of injections does not fit in 32 bits"};
  }
  plan.total = static_cast<std::int32_t>(total);
  plan.plannedNotRun = first.announced - firstPerformed;
  plan.countLine = first.countPrefix + std::to_string(total) + first.countSuffix;
  plan.skipFromLine = static_cast<long long>(kFirstInjectionLine) + firstPerformed;
  plan.insertAfterLine = static_cast<long long>(kFirstInjectionLine) - 1 + first.announced;
  return std::nullopt;
}

}  // namespace tandemo
