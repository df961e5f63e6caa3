// tandemo-merge as a script runs it: exit status, standard output and error, the
// output file, and the folder it lives in.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "portion_fixture.hpp"
#include "test_support.hpp"

namespace {

using tandemo::test::FileState;
using tandemo::test::TempDir;
using tandemo::test::Text;

struct Result {
  bool exited = false;
  int status = -1;  // exit status, or the signal that ended it
  std::string out;
  std::string err;
};
std::ostream& operator<<(std::ostream& os, const Result& r) {
  return os << (r.exited ? "exit " : "signal ") << r.status << "\nstdout: " << r.out << "\nstderr: " << r.err;
}

struct Launch {
  pid_t pid = -1;
  std::string outPath, errPath;
};

// Starts tandemo-merge with its output streams in files; as user "nobody" when asked,
// so that permission bits count even for a test run as root.
Launch Start(const TempDir& io, const std::vector<std::string>& args, bool unprivileged = false) {
  Launch l{-1, io / "stdout", io / "stderr"};
  std::vector<std::string> all = {TANDEMO_MERGE_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  l.pid = ::fork();
  if (l.pid == 0) {
    int out = ::open(l.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = ::open(l.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(sig, SIG_DFL);
    if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return l;
}

Result Finish(const Launch& l) {
  Result r;
  int status = 0;
  if (l.pid < 0 || ::waitpid(l.pid, &status, 0) != l.pid) return r;
  r.exited = WIFEXITED(status);
  r.status = r.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  r.out = tandemo::test::ReadFile(l.outPath).value_or("");
  r.err = tandemo::test::ReadFile(l.errPath).value_or("");
  return r;
}

Result RunMerge(const std::vector<std::string>& args, bool unprivileged = false) {
  TempDir io;
  return Finish(Start(io, args, unprivileged));
}

std::string InDir(std::string text, const std::string& dir) {
  for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, dir);
  return text;
}

const std::string kFirst = Text({"$ITC", "@0", "1.0,1.0", "2.0,2.0"});
const std::string kSecond = Text({"@0", "1.0,5.0", "@1,x", "2.0,6.0"});

TEST(CliTest, MergesAndSaysWhatItWrote) {
  TempDir dir;
  tandemo::test::WriteFile(dir / "first.itc", kFirst);
  tandemo::test::WriteFile(dir / "second.itc", kSecond);
  Result r = RunMerge({dir / "first.itc", dir / "second.itc", dir / "out.itc"});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  EXPECT_EQ(r.out, "Wrote 6 lines to \"" + (dir / "out.itc") + "\": 1 injection appended (numbered 1).\n");
  EXPECT_EQ(tandemo::test::ReadFile(dir / "out.itc"), kFirst + Text({"@1,x", "3.00,6.0"}));
  EXPECT_EQ(tandemo::test::ListDir(dir.path()), (std::vector<std::string>{"first.itc", "out.itc", "second.itc"}));
}

TEST(CliTest, CompensatesOnRequest) {
  TempDir dir;
  tandemo::test::WriteFile(dir / "first.itc", kFirst);
  tandemo::test::WriteFile(dir / "second.itc", kSecond);
  // The baseline 5.0 lies 3 above the first file's last DP 2.0.
  Result r = RunMerge({"--compensate", dir / "first.itc", dir / "second.itc", dir / "out.itc"});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  EXPECT_EQ(r.out,
            "Wrote 6 lines to \"" + (dir / "out.itc") + "\": 1 injection appended (numbered 1), DP offset 3.\n");
  EXPECT_EQ(tandemo::test::ReadFile(dir / "out.itc"), kFirst + Text({"@1,x", "3.00,3.0"}));
}

TEST(CliTest, DoubleDashEndsTheOptions) {
  TempDir dir;
  tandemo::test::WriteFile(dir / "-first.itc", kFirst);
  tandemo::test::WriteFile(dir / "second.itc", kSecond);
  // Relative paths, so the first operand begins with "-".
  Result r;
  {
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    r = RunMerge({"--", "-first.itc", "second.itc", "out.itc"});
    std::filesystem::current_path(cwd);
  }
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  EXPECT_EQ(tandemo::test::ReadFile(dir / "out.itc"), kFirst + Text({"@1,x", "3.00,6.0"}));
}

TEST(CliTest, HelpAndVersion) {
  Result help = RunMerge({"--help"});
  ASSERT_TRUE(help.exited && help.status == 0) << help;
  EXPECT_EQ(help.out.rfind("Usage: tandemo-merge ", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("--compensate"), std::string::npos);
  EXPECT_EQ(help.err, "");

  Result version = RunMerge({"--version"});
  ASSERT_TRUE(version.exited && version.status == 0) << version;
  EXPECT_EQ(version.out, "tandemo-merge " TANDEMO_EXPECTED_VERSION "\n");
  EXPECT_EQ(version.err, "");
}

struct UsageCase {
  std::string name;
  std::vector<std::string> args;
  std::string complaint;
};
std::ostream& operator<<(std::ostream& os, const UsageCase& c) { return os << c.name; }

class CliUsageTest : public testing::TestWithParam<UsageCase> {};

TEST_P(CliUsageTest, ExitsWithTwoAndWritesNothing) {
  TempDir dir;
  std::vector<std::string> args;
  for (const std::string& a : GetParam().args) args.push_back(InDir(a, dir.path()));
  tandemo::test::WriteFile(dir / "a.itc", kFirst);
  tandemo::test::WriteFile(dir / "b.itc", kSecond);
  Result r = RunMerge(args);
  ASSERT_TRUE(r.exited) << r;
  EXPECT_EQ(r.status, 2) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tandemo-merge: " + GetParam().complaint +
                       "\nUsage: tandemo-merge [OPTION]... FIRST SECOND [THIRD]... OUTPUT\n"
                       "Try 'tandemo-merge --help' for more information.\n");
  EXPECT_EQ(tandemo::test::ListDir(dir.path()), (std::vector<std::string>{"a.itc", "b.itc"}));
}

INSTANTIATE_TEST_SUITE_P(
    Errors, CliUsageTest,
    testing::Values(UsageCase{"NoOperands", {}, "missing file operand"},
                    UsageCase{"OneOperand", {"{dir}/a.itc"}, "missing file operand"},
                    UsageCase{"TwoOperands", {"{dir}/a.itc", "{dir}/b.itc"}, "missing file operand"},
                    UsageCase{"OnlyOptions", {"--compensate"}, "missing file operand"},
                    UsageCase{"UnknownLongOption", {"--bogus", "{dir}/a.itc", "{dir}/b.itc", "{dir}/o.itc"},
                              "unknown option '--bogus'"},
                    UsageCase{"UnknownShortOption", {"{dir}/a.itc", "-x", "{dir}/b.itc", "{dir}/o.itc"},
                              "unknown option '-x'"}),
    [](const testing::TestParamInfo<UsageCase>& p) { return p.param.name; });

// Each failure kind: exit 1, its message on standard error, the output as it was
// (or still absent), and no scratch file left in the folder.
enum class Setup { Files, FirstMissing, SecondMissing, FirstIsFolder, FirstUnreadable, OutputFolderMissing };

struct FailureCase {
  std::string name;
  Setup setup;
  std::string first;
  std::string second;
  bool compensate;
  std::string message;  // "{dir}" stands for the test's folder
};
std::ostream& operator<<(std::ostream& os, const FailureCase& c) { return os << c.name; }

class CliFailureTest : public testing::TestWithParam<std::tuple<FailureCase, bool>> {};

TEST_P(CliFailureTest, ExitsWithOneAndLeavesTheOutput) {
  const auto& [c, outputExists] = GetParam();
  TempDir dir;
  const std::string first = dir / "first.itc";
  const std::string second = dir / "second.itc";
  std::string output = dir / "out.itc";
  if (c.setup == Setup::FirstIsFolder) {
    ASSERT_TRUE(std::filesystem::create_directory(first));
  } else if (c.setup != Setup::FirstMissing) {
    tandemo::test::WriteFile(first, c.first);
  }
  if (c.setup == Setup::FirstUnreadable) {
    ASSERT_EQ(::chmod(first.c_str(), 0), 0);
  }
  if (c.setup != Setup::SecondMissing) tandemo::test::WriteFile(second, c.second);
  if (c.setup == Setup::OutputFolderMissing) output = dir / "missing/out.itc";
  if (outputExists) {
    tandemo::test::WriteFile(output, "the previous result\r\n");
    tandemo::test::SetOldMtime(output);
  }
  const FileState before = FileState::Of(output);
  const std::vector<std::string> listing = tandemo::test::ListDir(dir.path());

  std::vector<std::string> args = {first, second, output};
  if (c.compensate) args.insert(args.begin(), "--compensate");
  Result r = RunMerge(args, c.setup == Setup::FirstUnreadable);
  // 126: the user could not be changed; 127: that user may not run the program
  // (a build folder under a private home, for instance).
  if (c.setup == Setup::FirstUnreadable && r.exited && (r.status == 126 || r.status == 127)) {
    GTEST_SKIP() << "cannot run tandemo-merge as an unprivileged user here";
  }
  ASSERT_TRUE(r.exited) << r;
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tandemo-merge: " + InDir(c.message, dir.path()) + "\n");
  EXPECT_EQ(FileState::Of(output), before);
  EXPECT_EQ(tandemo::test::ListDir(dir.path()), listing);
}

const FailureCase kFailures[] = {
    {"FirstNotFound", Setup::FirstMissing, "", kSecond, false,
     "File not found (53): first file: \"{dir}/first.itc\" cannot be opened: No such file or directory"},
    {"SecondNotFound", Setup::SecondMissing, kFirst, "", false,
     "File not found (53): second file: \"{dir}/second.itc\" cannot be opened: No such file or directory"},
    {"FirstIsFolder", Setup::FirstIsFolder, "", kSecond, false,
     "Path/File access error (75): first file: \"{dir}/first.itc\" cannot be opened: Is a directory"},
    {"FirstUnreadable", Setup::FirstUnreadable, kFirst, kSecond, false,
     "Permission denied (70): first file: \"{dir}/first.itc\" cannot be opened: Permission denied"},
    {"Overflow", Setup::Files, kFirst, Text({"@1,x", "3,3", "@2147483647,y"}), false,
     "Overflow (6): second file, line 3: the injection number 2147483647 + 1 does not fit in 32 bits"},
    {"Subscript", Setup::Files, kFirst, Text({"@0", "1,1", "@1,x", "2,2", "no comma"}), true,
     "Subscript out of range (9): second file, line 5: the line \"no comma\" inside a data section has no DP "
     "field to compensate"},
    {"TypeMismatch", Setup::Files, kFirst, Text({"@0", "1,1", "@1,x", "2,2", "3,abc", "4,4"}), true,
     "Type mismatch (13): second file, line 5: the DP field \"abc\" is not a number"},
    {"NoTimeStep", Setup::Files, Text({"$ 1 , 2", "@0", "5.0,1"}), kSecond, false,
     "No time step (1001): first file: fewer than two data lines (lines with a comma after the first marker "
     "line), so the time step cannot be taken"},
    {"NoBaseline", Setup::Files, kFirst, Text({"$ 1 , 2 ", "@1,x", "", "2,2"}), true,
     "No baseline (1002): second file, line 4: no baseline line (a line with a comma after the first marker "
     "line) comes before the first data line, so there is no reference DP to compensate from"},
};

INSTANTIATE_TEST_SUITE_P(Kinds, CliFailureTest, testing::Combine(testing::ValuesIn(kFailures), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<FailureCase, bool>>& p) {
                           return std::get<0>(p.param).name + (std::get<1>(p.param) ? "_OutputExists" : "_NoOutput");
                         });

// No file can exist in a missing folder: one state only.
INSTANTIATE_TEST_SUITE_P(
    OutputPath, CliFailureTest,
    testing::Values(std::make_tuple(
        FailureCase{"OutputFolderMissing", Setup::OutputFolderMissing, kFirst, kSecond, false,
                    "Path not found (76): output file: cannot create a file in the folder \"{dir}/missing\": No "
                    "such file or directory"},
        false)),
    [](const testing::TestParamInfo<std::tuple<FailureCase, bool>>& p) { return std::get<0>(p.param).name; });

// An interrupted merge: the second file is a named pipe that the test feeds, so
// the merge is known to be under way (its scratch file made) when the signal comes.
class CliInterruptTest : public testing::TestWithParam<int> {};

TEST_P(CliInterruptTest, RemovesItsScratchFile) {
  std::signal(SIGPIPE, SIG_IGN);
  TempDir dir, io;
  tandemo::test::WriteFile(dir / "first.itc", kFirst);
  ASSERT_EQ(::mkfifo((dir / "second.fifo").c_str(), 0600), 0);
  tandemo::test::WriteFile(dir / "out.itc", "the previous result\r\n");
  tandemo::test::SetOldMtime(dir / "out.itc");
  const FileState before = FileState::Of(dir / "out.itc");
  const std::vector<std::string> listing = tandemo::test::ListDir(dir.path());

  Launch l = Start(io, {dir / "first.itc", dir / "second.fifo", dir / "out.itc"});
  ASSERT_GT(l.pid, 0);
  auto alive = [&] { return ::waitpid(l.pid, nullptr, WNOHANG) == 0; };
  int fd = -1;
  while (fd < 0 && alive()) {  // no reader yet gives ENXIO
    fd = ::open((dir / "second.fifo").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) ::usleep(1000);
  }
  ASSERT_GE(fd, 0) << Finish(l);
  const std::string part = "@0\r\n1.0,5.0\r\n";
  ASSERT_EQ(::write(fd, part.data(), part.size()), static_cast<ssize_t>(part.size()));
  // Once the merge has taken these bytes it is reading the second file.
  for (int pending = 1; pending > 0 && alive(); ::usleep(1000)) ASSERT_EQ(::ioctl(fd, FIONREAD, &pending), 0);
  ASSERT_TRUE(alive());
  EXPECT_EQ(tandemo::test::ListDir(dir.path()).size(), listing.size() + 1) << "no scratch file while merging";

  ASSERT_EQ(::kill(l.pid, GetParam()), 0);
  Result r = Finish(l);
  ::close(fd);
  EXPECT_FALSE(r.exited) << r;
  EXPECT_EQ(r.status, GetParam());
  EXPECT_EQ(tandemo::test::ListDir(dir.path()), listing);
  EXPECT_EQ(FileState::Of(dir / "out.itc"), before);
}

INSTANTIATE_TEST_SUITE_P(Signals, CliInterruptTest, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& p) {
                           return p.param == SIGINT ? std::string("SIGINT")
                                  : p.param == SIGTERM ? std::string("SIGTERM")
                                                       : std::string("SIGHUP");
                         });

}  // namespace

// ---------------------------------------------- comparing, the header, more portions

namespace portions {

using tandemo::testing::Portion;

Portion Later(const std::string& temperature) {
  Portion p;
  p.temperature = "$ " + temperature + " ";
  p.dp = 11.2;
  return p;
}

struct Pair {
  TempDir dir;
  std::string first, second, out;
  Pair(const Portion& a, const Portion& b)
      : first(dir / "first.itc"), second(dir / "second.itc"), out(dir / "out.itc") {
    tandemo::test::WriteFile(first, a.Text());
    tandemo::test::WriteFile(second, b.Text());
  }
};

TEST(CliPortionsTest, RefusesFilesThatDifferAndListsEachDifference) {
  for (bool outputExists : {false, true}) {
    Portion second = Later("30");
    second.step = 5;
    Pair p(Portion{}, second);
    if (outputExists) tandemo::test::WriteFile(p.out, "kept\r\n");
    const FileState before = FileState::Of(p.out);
    Result r = RunMerge({p.first, p.second, p.out});
    ASSERT_TRUE(r.exited && r.status == 1) << r;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "tandemo-merge: Files differ (1004): these files may not belong to one titration; nothing "
              "was written\n"
              "  target temperature: 25 in the first file, 30 in the second file\n"
              "  time step: 2 in the first file, 5 in the second file\n"
              "Use --force to merge them anyway.\n");
    EXPECT_EQ(FileState::Of(p.out), before);
    EXPECT_EQ(tandemo::test::ListDir(p.dir.path()).size(), outputExists ? 3u : 2u);
  }
}

TEST(CliPortionsTest, ForceMergesThemAndSaysWhatDiffered) {
  Pair p(Portion{}, Later("30"));
  Result r = RunMerge({"--force", p.first, p.second, p.out});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  // 32 lines of the first file, then two markers with three data lines each.
  EXPECT_EQ(r.out, "Wrote 40 lines to \"" + p.out + "\": 2 injections appended (numbered 3 to 4).\n");
  EXPECT_EQ(r.err,
            "tandemo-merge: merged despite a difference: target temperature: 25 in the first file, 30 "
            "in the second file\n");
}

TEST(CliPortionsTest, NotesWhatItCouldNotCompare) {
  Portion second = Later("25");
  second.instrument = "% unnamed";
  Pair p(Portion{}, second);
  Result r = RunMerge({p.first, p.second, p.out});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  EXPECT_EQ(r.err, "tandemo-merge: not compared: instrument: the second file's header does not name it\n");
}

TEST(CliPortionsTest, UpdateHeaderAndThreePortions) {
  Pair p(Portion{}, Later("25.0"));
  const std::string third = p.dir / "third.itc";
  tandemo::test::WriteFile(third, Later("25").Text());
  Result r = RunMerge({"--update-header", "--compensate", p.first, p.second, third, p.out});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  // 32 + 2 listed injection lines + 2 x 8 appended lines. The offsets: baseline 11.22
  // less the last DP 10.58 in 32-bit floats, then 11.22 less the compensated 10.64.
  EXPECT_EQ(r.out, "Wrote 52 lines to \"" + p.out +
                       "\": 4 injections appended from 2 files (numbered 3 to 6), header lists 6 "
                       "injections, DP offsets 0.64000034, 0.5799999.\n");
  EXPECT_EQ(r.err, "");
  const std::string merged = tandemo::test::ReadFile(p.out).value_or("");
  EXPECT_EQ(merged.substr(0, 12), "$ITC\r\n$ 6 \r\n");
}

}  // namespace portions
