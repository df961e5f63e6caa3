// libFuzzer target: the merge run on arbitrary input files.
//
// The input is cut at each 0x1E byte (record separator) into up to four files:
// first file, second file and further portions; without a separator the second
// file is empty. Every input is merged four ways and what must always hold is
// checked; a violation aborts, so libFuzzer keeps the input.
//   plain:  no compensation, to an output that does not exist yet
//   comp:   compensation on, to an output that already holds other bytes
//   header: no compensation, header update on
//   inplace: no compensation, the output path being the last input's own path
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "merge/merge_run.hpp"
#include "text_lines.hpp"

namespace {

constexpr char kSeparator = '\x1e';
constexpr std::size_t kMaxInputs = 4;
const std::string kSentinel = "an earlier output, to be left alone on failure\r\n";

void RemoveDir();

// libFuzzer keeps the input that led here; the scratch folder is not needed for it.
[[noreturn]] void Fail(const char* what, const std::string& detail = {}) {
  std::fprintf(stderr, "INVARIANT BROKEN: %s\n%s\n", what, detail.c_str());
  RemoveDir();
  std::abort();
}

#define CHECK(cond, ...)                                 \
  do {                                                   \
    if (!(cond)) Fail(#cond __VA_OPT__(, ) __VA_ARGS__); \
  } while (0)

std::string g_dir;

void RemoveDir() {
  if (g_dir.empty()) return;
  const std::string dir = std::move(g_dir);
  g_dir.clear();
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") ::unlink((dir + "/" + name).c_str());
    }
    ::closedir(d);
  }
  ::rmdir(dir.c_str());
}

// tmpfs where there is one: the merge flushes every output to disk.
const std::string& Dir() {
  if (g_dir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string base =
        (tmp && *tmp) ? tmp : (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    std::string templ = base + "/tandemo-fuzz-XXXXXX";
    if (!::mkdtemp(templ.data())) Fail("mkdtemp", base);
    g_dir = templ;
    std::atexit(RemoveDir);
  }
  return g_dir;
}

void WriteFile(const std::string& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("open for writing", path);
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n <= 0) Fail("write", path);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  ::close(fd);
}

bool ReadFile(const std::string& path, std::string& out) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) Fail("read", path);
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

std::set<std::string> Entries() {
  std::set<std::string> names;
  DIR* d = ::opendir(Dir().c_str());
  if (!d) Fail("opendir", Dir());
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.insert(name);
  }
  ::closedir(d);
  return names;
}

// The folder holds exactly these names: no scratch file is left behind.
void CheckEntries(const std::set<std::string>& expected, const char* run) {
  std::set<std::string> got = Entries();
  if (got != expected) {
    std::string list;
    for (const std::string& n : got) list += " " + n;
    Fail("the folder holds other files than expected", std::string(run) + ":" + list);
  }
}

// Lines as any reader of the inputs sees them: CR LF, CR and LF each end one.
// Neither a byte order mark at the very start nor an end-of-file byte as the very
// last byte is data, as the reader has it.
std::vector<std::string> InputLines(std::string_view text) {
  if (text.substr(0, 3) == "\xef\xbb\xbf") text.remove_prefix(3);
  if (!text.empty() && text.back() == '\x1a') text.remove_suffix(1);
  return tandemo::test::SplitLines(text);
}

// An output's lines; each must end in CR LF, and no other CR or LF may occur.
std::vector<std::string_view> OutputLines(std::string_view text, const char* run) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    CHECK(end != std::string_view::npos, std::string(run) + ": last line without CR LF");
    CHECK(text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n',
          std::string(run) + ": a line end other than CR LF");
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

bool IsMarker(std::string_view line) { return !line.empty() && line.front() == '@'; }

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> f;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = line.find(',', start);
    f.push_back(
        line.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return f;
    start = at + 1;
  }
}

// A whole field as a plain decimal number; false for anything else (blanks, "+",
// "&H"). A number too small for a double is one, read as 0 (or a subnormal); one
// too large is none.
bool PlainNumber(std::string_view text, double& out) {
  if (text.empty()) return false;
  auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  if (r.ptr != text.data() + text.size()) return false;
  if (r.ec == std::errc::result_out_of_range)
    out = std::strtod(std::string(text).c_str(), nullptr);
  else if (r.ec != std::errc())
    return false;
  return std::isfinite(out);
}

// The time stamp the merge writes, in hundredths: digits, "." and two decimals
// ("-5.00", "602.50", ".00" for 0, "-.50"; no leading zero, no "+").
bool WrittenTime(std::string_view text, long long& out) {
  if (text.size() < 3 || text[text.size() - 3] != '.') return false;
  const std::string_view decimals = text.substr(text.size() - 2);
  if (decimals[0] < '0' || decimals[0] > '9' || decimals[1] < '0' || decimals[1] > '9')
    return false;
  const bool negative = !text.empty() && text.front() == '-';
  std::string_view whole = text.substr(negative ? 1 : 0, text.size() - 3 - (negative ? 1 : 0));
  long long seconds = 0;
  if (!whole.empty()) {
    auto r = std::from_chars(whole.data(), whole.data() + whole.size(), seconds);
    if (r.ec != std::errc() || r.ptr != whole.data() + whole.size() || whole.front() == '0' ||
        whole.front() == '-' || whole.front() == '+')
      return false;
  }
  const long long magnitude = seconds * 100 + (decimals[0] - '0') * 10 + (decimals[1] - '0');
  if (negative && magnitude == 0) return false;  // zero has no sign
  out = negative ? -magnitude : magnitude;
  return true;
}

struct Run {
  const char* name;
  tandemo::MergeOutcome outcome;
  std::string output;  // bytes of the output after the run
  std::vector<std::string_view> lines;
};

void CheckFailure(const Run& run) {
  const tandemo::MergeError& e = *run.outcome.error;
  CHECK(!e.Message().empty(), run.name);
  CHECK(!e.detail.empty(), std::string(run.name) + ": no words on what went wrong: " + e.Message());
}

// What holds for every successful merge: CR LF lines, none empty; the first
// file's non-empty lines first, unchanged; after them only marker lines "@n,..."
// and lines of the data sections, whose time stamps strictly increase.
void CheckSuccess(Run& run, const std::vector<std::string>& firstLines,
                  const std::vector<std::string_view>& contents) {
  run.lines = OutputLines(run.output, run.name);
  const tandemo::MergeSummary& s = run.outcome.summary;
  CHECK(s.linesWritten == static_cast<long long>(run.lines.size()),
        std::string(run.name) + ": summary counts " + std::to_string(s.linesWritten) +
            " lines, output has " + std::to_string(run.lines.size()));
  for (std::string_view line : run.lines)
    CHECK(!line.empty(), std::string(run.name) + ": an empty line");

  // A cut-short last data line left out of a file is its last non-empty line.
  auto checkCutShort = [&](const std::optional<tandemo::CutShortLine>& cut,
                           std::string_view input) {
    if (!cut) return;
    const std::vector<std::string> lines = InputLines(input);
    CHECK(cut->line >= 1 && static_cast<std::size_t>(cut->line) <= lines.size() &&
              lines[static_cast<std::size_t>(cut->line) - 1] == cut->text,
          std::string(run.name) + ": the line reported cut short is not the file's: " + cut->text);
    for (std::size_t k = static_cast<std::size_t>(cut->line); k < lines.size(); ++k)
      CHECK(lines[k].empty(),
            std::string(run.name) + ": a line cut short is not the file's last: " + cut->text);
  };
  checkCutShort(s.firstFile.cutShort, contents[0]);
  for (std::size_t j = 0; j < s.joins.size() && j + 1 < contents.size(); ++j)
    checkCutShort(s.joins[j].cutShort, contents[j + 1]);

  std::size_t n = 0;
  for (std::size_t k = 0; k < firstLines.size(); ++k) {
    std::string_view line = firstLines[k];
    if (line.empty()) continue;
    if (s.firstFile.cutShort && s.firstFile.cutShort->line == static_cast<long long>(k + 1))
      continue;
    CHECK(n < run.lines.size() && run.lines[n] == line,
          std::string(run.name) + ": the first file's line " + std::string(line) +
              " is not copied unchanged");
    ++n;
  }
  long long markers = 0;
  bool haveTime = false;
  long long lastTime = 0;
  long long step = 0;  // every appended time stamp is the one before it plus the first file's step
  for (std::size_t i = n; i < run.lines.size(); ++i) {
    std::string_view line = run.lines[i];
    if (IsMarker(line)) {
      std::size_t comma = line.find(',');
      CHECK(comma != std::string_view::npos,
            std::string(run.name) + ": appended marker without comma");
      std::int32_t number = 0;
      auto r = std::from_chars(line.data() + 1, line.data() + comma, number);
      CHECK(r.ec == std::errc() && r.ptr == line.data() + comma,
            std::string(run.name) +
                ": appended marker number is not a 32-bit integer: " + std::string(line));
      ++markers;
      continue;
    }
    if (line.find(',') == std::string_view::npos)
      continue;  // a line without comma inside a data section
    long long t = 0;
    CHECK(WrittenTime(Fields(line)[0], t),
          std::string(run.name) + ": bad time stamp in " + std::string(line));
    CHECK(!haveTime || t > lastTime,
          std::string(run.name) + ": the time axis does not advance at " + std::string(line));
    if (haveTime && step == 0) step = t - lastTime;
    CHECK(!haveTime || t - lastTime == step, std::string(run.name) +
                                                 ": the time stamps do not go on in one step at " +
                                                 std::string(line));
    haveTime = true;
    lastTime = t;
  }
  CHECK(markers == s.InjectionsAppended(),
        std::string(run.name) + ": injections appended miscounted");
}

// From the first comma on; the whole line when it has none.
std::string_view FromFirstComma(std::string_view line) {
  std::size_t at = line.find(',');
  return at == std::string_view::npos ? line : line.substr(at);
}

// A field as a plain decimal number once the blanks around it are taken off.
bool TrimmedNumber(std::string_view text, double& out) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return PlainNumber(text, out);
}

// The fields of a marker line but its fourth, the start time, which the merge moves.
std::string WithoutStartTime(std::string_view line) {
  std::vector<std::string_view> f =
      Fields(line.substr(line.find(',') == std::string_view::npos ? line.size() : line.find(',')));
  std::string rest;
  for (std::size_t k = 0; k < f.size(); ++k) {
    if (k == 3)
      continue;  // fields of the text from the first comma on: "", volume, duration, start
    rest += std::string(f[k]) + "|";
  }
  return rest;
}

// Without compensation every appended line is a line of the second file, in its
// order, with at most the text before its first comma (number, time) and a marker
// line's start time replaced. A start time moves by what the injection's first data
// line moved.
void CheckAppendedFromSecond(const Run& plain, std::size_t firstCount, std::string_view second) {
  const std::vector<std::string> source = InputLines(second);
  std::vector<std::string_view> sourceOf(plain.lines.size());
  std::size_t j = 0;
  for (std::size_t i = firstCount; i < plain.lines.size(); ++i) {
    std::string_view out = plain.lines[i];
    const bool outComma = out.find(',') != std::string_view::npos;
    bool found = false;
    while (j < source.size() && !found) {
      std::string_view src = source[j++];
      const bool srcComma = src.find(',') != std::string_view::npos;
      found = IsMarker(out) == IsMarker(src) && outComma == srcComma &&
              (!outComma       ? out == src
               : IsMarker(out) ? WithoutStartTime(out) == WithoutStartTime(src)
                               : FromFirstComma(out) == FromFirstComma(src));
      if (found) sourceOf[i] = src;
    }
    CHECK(found, "appended line " + std::to_string(i + 1) +
                     " is no line of the second file: " + std::string(out));
  }
  for (std::size_t i = firstCount; i < plain.lines.size(); ++i) {
    const std::string_view out = plain.lines[i];
    if (!IsMarker(out)) continue;
    const std::vector<std::string_view> outFields = Fields(out), srcFields = Fields(sourceOf[i]);
    double outStart = 0, srcStart = 0, outTime = 0, srcTime = 0;
    if (outFields.size() < 4) continue;
    if (!TrimmedNumber(srcFields[3], srcStart)) {
      CHECK(outFields[3] == srcFields[3],
            "a start time that is no number changed: " + std::string(out));
      continue;
    }
    if (i + 1 == plain.lines.size()) continue;
    const std::string_view next = plain.lines[i + 1];
    if (IsMarker(next) || next.find(',') == std::string_view::npos ||
        !PlainNumber(Fields(sourceOf[i + 1])[0], srcTime))
      continue;
    CHECK(TrimmedNumber(outFields[3], outStart),
          "a moved start time is no number: " + std::string(out));
    CHECK(PlainNumber(Fields(next)[0], outTime),
          "an appended time stamp is no number: " + std::string(next));
    const double moved = outStart - srcStart, expected = outTime - srcTime;
    // 15 significant digits of the start time written, and the sums taken in doubles.
    const double tolerance = 1e-13 * (std::fabs(outStart) + std::fabs(srcStart) +
                                      std::fabs(outTime) + std::fabs(srcTime)) +
                             1e-9;
    CHECK(std::fabs(moved - expected) <= tolerance,
          "the start time moved by " + std::to_string(moved) + ", its first data line by " +
              std::to_string(expected) + ": " + std::string(out));
    // The blanks around the start time stay as read.
    const std::string_view srcField = srcFields[3], outField = outFields[3];
    CHECK(srcField.find_first_not_of(" \t") == outField.find_first_not_of(" \t") &&
              srcField.size() - srcField.find_last_not_of(" \t") ==
                  outField.size() - outField.find_last_not_of(" \t"),
          "the blanks around a start time changed: " + std::string(out));
  }
}

std::size_t FirstMarker(const std::vector<std::string_view>& lines) {
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (IsMarker(lines[i])) return i;
  return lines.size();
}

// Compensation changes nothing but the DP field of appended non-marker lines, and
// that by the offset it reports (checked where one offset applies to all).
void CompareCompensated(const Run& plain, const Run& comp, std::size_t firstCount, bool oneJoin) {
  CHECK(plain.lines.size() == comp.lines.size(), "compensation changed the number of lines");
  const double offset = comp.outcome.summary.joins.empty()
                            ? 0.0
                            : static_cast<double>(comp.outcome.summary.joins[0].dpOffset);
  for (std::size_t i = 0; i < plain.lines.size(); ++i) {
    std::string_view a = plain.lines[i], b = comp.lines[i];
    if (i < firstCount || IsMarker(a)) {
      CHECK(a == b,
            "compensation changed a line it must keep: " + std::string(a) + " / " + std::string(b));
      continue;
    }
    std::vector<std::string_view> fa = Fields(a), fb = Fields(b);
    CHECK(fa.size() == fb.size() && fa.size() >= 2,
          "compensation changed the fields of " + std::string(a));
    for (std::size_t k = 0; k < fa.size(); ++k) {
      if (k != 1)
        CHECK(fa[k] == fb[k],
              "compensation changed field " + std::to_string(k) + " of " + std::string(a));
    }
    double before = 0, after = 0;
    if (oneJoin && PlainNumber(fa[1], before)) {
      CHECK(PlainNumber(fb[1], after), "compensated DP is no number: " + std::string(fb[1]));
      const double expected = before - offset;
      // six decimals, after rounding to 15 significant digits
      const double tolerance = 5.0000001e-7 + 1e-14 * std::fabs(expected);
      CHECK(std::fabs(after - expected) <= tolerance, "compensated DP " + std::string(fb[1]) +
                                                          " is not " + std::string(fa[1]) +
                                                          " minus " + std::to_string(offset));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> contents;
  std::size_t start = 0;
  while (contents.size() + 1 < kMaxInputs) {
    std::size_t at = bytes.find(kSeparator, start);
    if (at == std::string_view::npos) break;
    contents.push_back(bytes.substr(start, at - start));
    start = at + 1;
  }
  contents.push_back(bytes.substr(start));
  if (contents.size() < 2) contents.emplace_back();

  const std::string& dir = Dir();
  std::vector<std::string> inputs;
  std::set<std::string> names;
  for (std::size_t i = 0; i < contents.size(); ++i) {
    std::string name = "in" + std::to_string(i + 1) + ".itc";
    inputs.push_back(dir + "/" + name);
    names.insert(name);
    WriteFile(inputs.back(), contents[i]);
  }
  const std::vector<std::string> firstLines = InputLines(contents[0]);
  std::size_t firstCount = 0;
  for (std::string_view l : firstLines)
    if (!l.empty()) ++firstCount;
  const bool oneJoin = contents.size() == 2;
  // The first file's lines in a merged file: its non-empty lines but a last one cut short.
  auto firstKept = [&](const Run& run) {
    return firstCount - (run.outcome.summary.firstFile.cutShort ? 1 : 0);
  };

  auto merge = [&](const char* name, const std::string& out, bool compensate, bool updateHeader) {
    tandemo::MergeRequest request{inputs, out, {}};
    request.options.compensate = compensate;
    request.options.updateHeader = updateHeader;
    request.options.force = true;
    Run run{name, tandemo::RunMerge(request, tandemo::Inspect(request.inputs)), {}, {}};
    if (!run.outcome.ok()) {
      CHECK(run.outcome.error.has_value(), name);
      CheckFailure(run);
    }
    return run;
  };

  // plain: the output does not exist before; on failure it must not exist after.
  const std::string plainPath = dir + "/plain.itc";
  Run plain = merge("plain", plainPath, false, false);
  if (plain.outcome.ok()) {
    CHECK(ReadFile(plainPath, plain.output), "plain: no output after success");
    CheckSuccess(plain, firstLines, contents);
    names.insert("plain.itc");
    if (oneJoin) CheckAppendedFromSecond(plain, firstKept(plain), contents[1]);
  } else {
    std::string ignored;
    CHECK(!ReadFile(plainPath, ignored), "plain: an output was created by a failed merge");
  }
  CheckEntries(names, "plain");

  // comp: an earlier output stays byte for byte on failure.
  const std::string compPath = dir + "/comp.itc";
  WriteFile(compPath, kSentinel);
  names.insert("comp.itc");
  Run comp = merge("comp", compPath, true, false);
  CHECK(ReadFile(compPath, comp.output), "comp: the output vanished");
  if (comp.outcome.ok()) {
    CHECK(plain.outcome.ok(),
          "compensation succeeded where the plain merge failed: " + plain.outcome.error->Message());
    CheckSuccess(comp, firstLines, contents);
    CompareCompensated(plain, comp, firstKept(plain), oneJoin);
  } else {
    CHECK(comp.output == kSentinel, "comp: a failed merge changed the existing output");
  }
  CheckEntries(names, "comp");

  // lf: the same files with LF line ends merge the same. Data lines ending in CR
  // LF are taken in runs, LF-ended ones one by one, so this compares the two ways.
  // Only where the change keeps every file's lines and keeps the files apart.
  std::vector<std::string> lfContents;
  for (std::string_view content : contents) {
    std::string lf;
    for (std::size_t k = 0; k < content.size(); ++k) {
      if (content[k] == '\r' && k + 1 < content.size() && content[k + 1] == '\n') continue;
      lf += content[k];
    }
    lfContents.push_back(std::move(lf));
  }
  bool lfComparable = true;
  for (std::size_t i = 0; i < contents.size(); ++i) {
    lfComparable = lfComparable && InputLines(lfContents[i]) == InputLines(contents[i]);
    for (std::size_t j = 0; j < i; ++j)
      lfComparable = lfComparable && lfContents[i] != lfContents[j];
  }
  if (lfComparable) {
    tandemo::MergeRequest request{{}, dir + "/lf.itc", {}};
    for (std::size_t i = 0; i < contents.size(); ++i) {
      std::string name = "lf" + std::to_string(i + 1) + ".itc";
      request.inputs.push_back(dir + "/" + name);
      names.insert(name);
      WriteFile(request.inputs.back(), lfContents[i]);
    }
    request.options.compensate = true;
    request.options.force = true;
    const tandemo::MergeOutcome lf = tandemo::RunMerge(request, tandemo::Inspect(request.inputs));
    CHECK(lf.ok() == comp.outcome.ok(), "LF line ends changed the outcome");
    if (lf.ok()) {
      std::string lfOutput;
      CHECK(ReadFile(request.output, lfOutput), "lf: no output after success");
      CHECK(lfOutput == comp.output, "LF line ends changed the merged file");
      names.insert("lf.itc");
    } else {
      // Messages may name the files, whose names differ.
      CHECK(
          lf.error->code == comp.outcome.error->code && lf.error->line == comp.outcome.error->line,
          "LF line ends changed the failure: " + lf.error->Message() + " / " +
              comp.outcome.error->Message());
    }
  }
  CheckEntries(names, "lf");

  // header: the header update only adds failures and only changes lines before
  // the first marker line.
  const std::string headerPath = dir + "/header.itc";
  Run header = merge("header", headerPath, false, true);
  if (header.outcome.ok()) {
    CHECK(plain.outcome.ok(), "the header update succeeded where the plain merge failed");
    CHECK(ReadFile(headerPath, header.output), "header: no output after success");
    header.lines = OutputLines(header.output, "header");
    const std::size_t a = FirstMarker(plain.lines), b = FirstMarker(header.lines);
    CHECK(plain.lines.size() - a == header.lines.size() - b,
          "the header update changed what follows the header");
    for (std::size_t i = 0; a + i < plain.lines.size(); ++i)
      CHECK(plain.lines[a + i] == header.lines[b + i], "the header update changed a data line");
    names.insert("header.itc");
  }
  CheckEntries(names, "header");

  // inplace: the output replaces the last input; the same result as "plain".
  const std::string& last = inputs.back();
  Run inplace = merge("inplace", last, false, false);
  std::string lastAfter;
  CHECK(ReadFile(last, lastAfter), "inplace: the input vanished");
  CHECK(inplace.outcome.ok() == plain.outcome.ok(),
        "merging onto an input path changed the outcome");
  if (inplace.outcome.ok()) {
    CHECK(lastAfter == plain.output, "merging onto an input path gave another result");
  } else {
    CHECK(lastAfter == contents.back(), "inplace: a failed merge changed the input");
    CHECK(inplace.outcome.error->code == plain.outcome.error->code,
          "merging onto an input path failed otherwise: " + inplace.outcome.error->Message());
  }
  CheckEntries(names, "inplace");

  for (const std::string& n : names) ::unlink((dir + "/" + n).c_str());
  return 0;
}
