// Small helpers shared by the engine and command-line tests: a scratch folder
// per test, whole-file reads and writes, and ITC text built from lines.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

namespace tandemo::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path p = std::filesystem::temp_directory_path() /
                                ("tandemo-test-" + std::to_string(::getpid()) + "-" +
                                 std::to_string(rd()));
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
inline std::string Text(std::initializer_list<std::string_view> lines, std::string_view end = "\r\n") {
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
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// What a failed merge must leave as it was: the bytes, mode and modification time of a path.
struct FileState {
  bool exists = false;
  std::string bytes;
  mode_t mode = 0;
  struct timespec mtime {};

  static FileState Of(const std::string& path) {
    FileState s;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return s;
    s.exists = true;
    s.mode = st.st_mode;
    s.mtime = st.st_mtim;
    if (S_ISREG(st.st_mode)) s.bytes = ReadFile(path).value_or("");
    return s;
  }
  bool operator==(const FileState& o) const {
    return exists == o.exists && bytes == o.bytes && mode == o.mode &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

inline std::ostream& operator<<(std::ostream& os, const FileState& s) {
  if (!s.exists) return os << "(absent)";
  return os << "mode " << std::oct << s.mode << std::dec << ", mtime " << s.mtime.tv_sec << "."
            << s.mtime.tv_nsec << ", " << s.bytes.size() << " bytes";
}

// Sets a modification time far in the past, so a rewrite of the file cannot keep it by chance.
inline void SetOldMtime(const std::string& path) {
  struct timespec times[2] = {{978307200, 123456789}, {978307200, 123456789}};  // 2001-01-01
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Turns the text of a file to the given line end (the text must use CR LF).
inline std::string WithLineEnd(std::string_view crlfText, std::string_view end) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = crlfText.find("\r\n", start);
    if (at == std::string_view::npos) {
      out.append(crlfText.substr(start));
      return out;
    }
    out.append(crlfText.substr(start, at - start));
    out.append(end);
    start = at + 2;
  }
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
