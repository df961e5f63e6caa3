// Small helpers shared by the engine and command-line tests: a scratch folder
// per test, whole-file reads and writes, and ITC text built from lines and taken
// apart into lines.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "text_lines.hpp"

namespace tandemo::test {

#ifdef _WIN32
// Descriptors the tests open write bytes as they are, not text with CR LF.
inline constexpr int kBinary = O_BINARY;
inline int ProcessId() { return ::_getpid(); }
#else
inline constexpr int kBinary = 0;
inline int ProcessId() { return static_cast<int>(::getpid()); }
#endif

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path p =
          std::filesystem::temp_directory_path() /
          ("tandemo-test-" + std::to_string(ProcessId()) + "-" + std::to_string(rd()));
      std::error_code ec;
      if (std::filesystem::create_directory(p, ec)) {
        path_ = p.string();
        return;
      }
    }
    ADD_FAILURE() << "cannot create a temporary folder";
  }
  ~TempDir() {
    std::error_code ec;
    // Restore rights a test may have taken away, so the folder can be removed.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

// The whole file, or nothing when it cannot be read.
inline std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Each line followed by the given line end, the way an instrument writes them.
inline std::string Text(std::initializer_list<std::string_view> lines,
                        std::string_view end = "\r\n") {
  std::string s;
  for (std::string_view l : lines) {
    s.append(l);
    s.append(end);
  }
  return s;
}
inline std::string Text(const std::vector<std::string>& lines, std::string_view end = "\r\n") {
  std::string s;
  for (const std::string& l : lines) {
    s.append(l);
    s.append(end);
  }
  return s;
}

// Names in a folder, sorted; shows a scratch file left behind.
inline std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// What a failed merge must leave as it was: the bytes, mode and modification time of a path.
struct FileState {
  bool exists = false;
  std::string bytes;
  unsigned mode = 0;  // type and permission bits as the system gives them
  long long mtimeSeconds = 0;
  long long mtimeNanoseconds = 0;

  static FileState Of(const std::string& path) {
    FileState s;
#ifdef _WIN32
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec || !fs::exists(status)) return s;
    s.exists = true;
    s.mode =
        static_cast<unsigned>(status.type()) << 16 | static_cast<unsigned>(status.permissions());
    const auto since = fs::last_write_time(path, ec).time_since_epoch();
    const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
    s.mtimeSeconds = ns / 1000000000;
    s.mtimeNanoseconds = ns % 1000000000;
    if (fs::is_regular_file(status)) s.bytes = ReadFile(path).value_or("");
#else
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return s;
    s.exists = true;
    s.mode = st.st_mode;
    s.mtimeSeconds = st.st_mtim.tv_sec;
    s.mtimeNanoseconds = st.st_mtim.tv_nsec;
    if (S_ISREG(st.st_mode)) s.bytes = ReadFile(path).value_or("");
#endif
    return s;
  }
  bool operator==(const FileState& o) const {
    return exists == o.exists && bytes == o.bytes && mode == o.mode &&
           mtimeSeconds == o.mtimeSeconds && mtimeNanoseconds == o.mtimeNanoseconds;
  }
};

inline std::ostream& operator<<(std::ostream& os, const FileState& s) {
  if (!s.exists) return os << "(absent)";
  return os << "mode " << std::oct << s.mode << std::dec << ", mtime " << s.mtimeSeconds << "."
            << s.mtimeNanoseconds << ", " << s.bytes.size() << " bytes";
}

// Sets a modification time far in the past, so a rewrite of the file cannot keep it by chance.
inline void SetOldMtime(const std::string& path) {
#ifdef _WIN32
  std::error_code ec;
  // The C runtime sets no folder's time there; a folder's state is compared all the same.
  if (std::filesystem::is_directory(path, ec)) return;
  const std::chrono::sys_time<std::chrono::nanoseconds> old{
      std::chrono::seconds(978307200) + std::chrono::nanoseconds(123456700)};  // 2001-01-01
  std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(old), ec);
  ASSERT_FALSE(ec) << path;
#else
  struct timespec times[2] = {{978307200, 123456789}, {978307200, 123456789}};  // 2001-01-01
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
#endif
}

// The text with each of its lines ended in `end` instead of the line end it has;
// a last line without a line end keeps having none.
inline std::string WithLineEnd(std::string_view crlfText, std::string_view end) {
  std::string out;
  const std::vector<std::string> lines = SplitLines(crlfText);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    out.append(lines[k]);
    if (k + 1 < lines.size() || crlfText.back() == '\n' || crlfText.back() == '\r') out.append(end);
  }
  return out;
}

// Replaces every "{dir}" in an expected text with the test's folder.
inline std::string InDir(std::string text, const std::string& dir) {
  for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, dir);
  return text;
}

// A name for a case of a parameterised test, as GoogleTest takes it: letters and
// digits kept, every other byte turned into '_' ("25 C, run 2" gives "25_C__run_2").
inline std::string CaseName(std::string_view text) {
  std::string name(text);
  for (char& c : name) {
    const bool alphanumeric =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alphanumeric) c = '_';
  }
  return name;
}

// The case name of a file: its name without the folder and the extension
// ("../itc-samples/Mg1EDTAp1a.itc" gives "Mg1EDTAp1a").
inline std::string FileCaseName(std::string_view file) {
  return CaseName(std::filesystem::path(file).stem().string());
}

// A marker line with its fourth field, the injection's start time, moved by `delta`
// seconds as an instrument whose clock started that much later would write it: 15
// significant digits, the blanks around it kept. Other lines are returned as they are.
inline std::string WithStartTimeMoved(const std::string& marker, double delta) {
  std::size_t comma = 0;
  for (int k = 0; k < 3; ++k) {
    comma = marker.find(',', k == 0 ? 0 : comma + 1);
    if (comma == std::string::npos) return marker;
  }
  std::size_t begin = marker.find_first_not_of(' ', comma + 1);
  std::size_t end = marker.find_first_of(", ", begin);
  if (begin == std::string::npos) return marker;
  if (end == std::string::npos) end = marker.size();
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", std::stod(marker.substr(begin, end - begin)) + delta);
  return marker.substr(0, begin) + text + marker.substr(end);
}

}  // namespace tandemo::test
