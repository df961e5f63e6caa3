// tandemo-merge as a script runs it: exit status, standard output and error, the
// output file, and the folder it lives in.
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "failure_cases.hpp"
#include "portion_fixture.hpp"
#include "test_support.hpp"

namespace tandemo {
namespace {

using test::FileState;
using test::TempDir;
using test::Text;

struct Result {
  bool exited = false;
  int status = -1;  // exit status, or the signal that ended it
  std::string out;
  std::string err;
};
std::ostream& operator<<(std::ostream& os, const Result& r) {
  return os << (r.exited ? "exit " : "signal ") << r.status << "\nstdout: " << r.out
            << "\nstderr: " << r.err;
}

#ifdef _WIN32
using Limit = unsigned long long;
constexpr Limit kNoLimit = ~0ull;

struct Launch {
  HANDLE process = nullptr;
  std::string outPath, errPath;
};

// The POSIX set-ups (another user, limits, a descriptor as standard output) have no
// counterpart there; the tests that need them are skipped.
struct Child {
  bool unprivileged = false;
  Limit fileSizeLimit = kNoLimit;
  int stdoutFd = -1;
  Limit addressSpaceLimit = kNoLimit;
};

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

// One argument as the C runtime splits a command line: quoted, with the
// backslashes before a quote doubled.
std::wstring QuotedArgument(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

// tandemo-merge beside this test in the build folder.
std::wstring MergeProgram() {
  wchar_t self[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self, n);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder + Wide(TANDEMO_MERGE_RELATIVE_PATH);
}

HANDLE InheritableFile(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts tandemo-merge with its output streams in files.
Launch Start(const TempDir& io, const std::vector<std::string>& args, const Child& = {}) {
  Launch l{nullptr, io / "stdout", io / "stderr"};
  const std::wstring program = MergeProgram();
  std::wstring commandLine = QuotedArgument(program);
  for (const std::string& a : args) commandLine += L" " + QuotedArgument(Wide(a));
  HANDLE out = InheritableFile(l.outPath);
  HANDLE err = InheritableFile(l.errPath);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION started{};
  if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
      ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &started)) {
    ::CloseHandle(started.hThread);
    l.process = started.hProcess;
  }
  if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
  if (err != INVALID_HANDLE_VALUE) ::CloseHandle(err);
  return l;
}

Result Finish(const Launch& l) {
  Result r;
  if (!l.process) return r;
  DWORD code = 0;
  if (::WaitForSingleObject(l.process, INFINITE) == WAIT_OBJECT_0 &&
      ::GetExitCodeProcess(l.process, &code)) {
    r.exited = true;
    r.status = static_cast<int>(code);
  }
  ::CloseHandle(l.process);
  r.out = test::ReadFile(l.outPath).value_or("");
  r.err = test::ReadFile(l.errPath).value_or("");
  return r;
}
#else
using Limit = rlim_t;
constexpr Limit kNoLimit = RLIM_INFINITY;

struct Launch {
  pid_t pid = -1;
  std::string outPath, errPath;
};

// How the child that runs tandemo-merge is set up.
struct Child {
  bool unprivileged = false;       // as user "nobody", so that permission bits count even for root
  Limit fileSizeLimit = kNoLimit;  // as `ulimit -f` sets it
  int stdoutFd = -1;               // standard output to this descriptor instead of a file
  Limit addressSpaceLimit = kNoLimit;  // as `ulimit -v` sets it
};

// Starts tandemo-merge with its output streams in files (no core file, whatever the signal).
Launch Start(const TempDir& io, const std::vector<std::string>& args, const Child& child = {}) {
  Launch l{-1, io / "stdout", io / "stderr"};
  std::vector<std::string> all = {TANDEMO_MERGE_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  l.pid = ::fork();
  if (l.pid == 0) {
    int out = child.stdoutFd >= 0 ? child.stdoutFd
                                  : ::open(l.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = ::open(l.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
    for (int sig :
         {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGXCPU, SIGXFSZ})
      std::signal(sig, SIG_DFL);
    const struct rlimit noCore = {0, 0};
    const struct rlimit fileSize = {child.fileSizeLimit, child.fileSizeLimit};
    const struct rlimit addressSpace = {child.addressSpaceLimit, child.addressSpaceLimit};
    if (::setrlimit(RLIMIT_CORE, &noCore) != 0 || ::setrlimit(RLIMIT_FSIZE, &fileSize) != 0 ||
        ::setrlimit(RLIMIT_AS, &addressSpace) != 0) {
      ::_exit(126);
    }
    if (child.unprivileged && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(126);
    }
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
  r.out = test::ReadFile(l.outPath).value_or("");
  r.err = test::ReadFile(l.errPath).value_or("");
  return r;
}

#endif

Result RunMerge(const std::vector<std::string>& args, const Child& child = {}) {
  TempDir io;
  return Finish(Start(io, args, child));
}

const std::string kFirst = Text({"$ITC", "@0", "1.0,1.0", "2.0,2.0"});
const std::string kSecond = Text({"@0", "1.0,5.0", "@1,x", "2.0,6.0"});

TEST(CliTest, MergesAndSaysWhatItWrote) {
  TempDir dir;
  test::WriteFile(dir / "first.itc", kFirst);
  test::WriteFile(dir / "second.itc", kSecond);
  Result r = RunMerge({"-o", dir / "out.itc", dir / "first.itc", dir / "second.itc"});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  EXPECT_EQ(r.out,
            "Wrote 6 lines to \"" + (dir / "out.itc") + "\": 1 injection appended (numbered 1).\n");
  EXPECT_EQ(test::ReadFile(dir / "out.itc"), kFirst + Text({"@1,x", "3.00,6.0"}));
  EXPECT_EQ(test::ListDir(dir.path()),
            (std::vector<std::string>{"first.itc", "out.itc", "second.itc"}));
}

TEST(CliTest, CompensatesOnRequest) {
  TempDir dir;
  test::WriteFile(dir / "first.itc", kFirst);
  test::WriteFile(dir / "second.itc", kSecond);
  // The baseline 5.0 lies 3 above the first file's last DP 2.0.
  Result r = RunMerge(
      {"--compensate", "--output=" + (dir / "out.itc"), dir / "first.itc", dir / "second.itc"});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  EXPECT_EQ(r.out, "Wrote 6 lines to \"" + (dir / "out.itc") +
                       "\": 1 injection appended (numbered 1), DP offset 3.\n");
  EXPECT_EQ(test::ReadFile(dir / "out.itc"), kFirst + Text({"@1,x", "3.00,3.0"}));
}

TEST(CliTest, DoubleDashEndsTheOptions) {
  TempDir dir;
  test::WriteFile(dir / "-first.itc", kFirst);
  test::WriteFile(dir / "second.itc", kSecond);
  // Relative paths, so the first operand begins with "-".
  Result r;
  {
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    r = RunMerge({"-o", "out.itc", "--", "-first.itc", "second.itc"});
    std::filesystem::current_path(cwd);
  }
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  EXPECT_EQ(test::ReadFile(dir / "out.itc"), kFirst + Text({"@1,x", "3.00,6.0"}));
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
  for (const std::string& a : GetParam().args) args.push_back(test::InDir(a, dir.path()));
  test::WriteFile(dir / "a.itc", kFirst);
  test::WriteFile(dir / "b.itc", kSecond);
  Result r = RunMerge(args);
  ASSERT_TRUE(r.exited) << r;
  EXPECT_EQ(r.status, 2) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tandemo-merge: " + GetParam().complaint +
                       "\nUsage: tandemo-merge [OPTION]... -o OUTPUT FIRST SECOND [THIRD]...\n"
                       "Try 'tandemo-merge --help' for more information.\n");
  // Nothing written, and no operand taken for an output.
  EXPECT_EQ(test::ListDir(dir.path()), (std::vector<std::string>{"a.itc", "b.itc"}));
  EXPECT_EQ(test::ReadFile(dir / "a.itc"), kFirst);
  EXPECT_EQ(test::ReadFile(dir / "b.itc"), kSecond);
}

const char kNoOutput[] = "no output file named: name it with -o OUTPUT (every operand is an input)";

INSTANTIATE_TEST_SUITE_P(
    Errors, CliUsageTest,
    testing::Values(
        UsageCase{"NoOperands", {}, "missing file operands"},
        UsageCase{"OnlyOptions", {"--compensate"}, "missing file operands"},
        UsageCase{"TwoInputsNoOutput", {"{dir}/a.itc", "{dir}/b.itc"}, kNoOutput},
        // The old form, whose last operand was the output: it would replace the last portion.
        UsageCase{"TrailingOperandIsNoOutput",
                  {"--compensate", "{dir}/a.itc", "{dir}/a.itc", "{dir}/b.itc"},
                  kNoOutput},
        UsageCase{"OneInput",
                  {"-o", "{dir}/o.itc", "{dir}/a.itc"},
                  "two or more input files are needed, the first and the second portion"},
        UsageCase{"OutputNamedTwice",
                  {"-o", "{dir}/o.itc", "--output={dir}/p.itc", "{dir}/a.itc", "{dir}/b.itc"},
                  "the output is named twice (-o)"},
        UsageCase{"OutputOptionLast",
                  {"{dir}/a.itc", "{dir}/b.itc", "-o"},
                  "option '-o' needs the output file name"},
        UsageCase{"LongOutputOptionLast",
                  {"{dir}/a.itc", "{dir}/b.itc", "--output"},
                  "option '--output' needs the output file name"},
        UsageCase{"EmptyOutput",
                  {"-o", "", "{dir}/a.itc", "{dir}/b.itc"},
                  "the output file name is empty"},
        UsageCase{"EmptyLongOutput",
                  {"--output=", "{dir}/a.itc", "{dir}/b.itc"},
                  "the output file name is empty"},
        UsageCase{
            "EmptyInput", {"-o", "{dir}/o.itc", "{dir}/a.itc", ""}, "an input file name is empty"},
        UsageCase{"UnknownLongOption",
                  {"--bogus", "{dir}/a.itc", "{dir}/b.itc", "-o", "{dir}/o.itc"},
                  "unknown option '--bogus'"},
        UsageCase{"UnknownShortOption",
                  {"{dir}/a.itc", "-x", "{dir}/b.itc", "-o", "{dir}/o.itc"},
                  "unknown option '-x'"},
        UsageCase{"EmptyHeats",
                  {"--heats=", "-o", "{dir}/o.itc", "{dir}/a.itc", "{dir}/b.itc"},
                  "the heats file name is empty"},
        UsageCase{"EmptyTrace",
                  {"--trace", "", "-o", "{dir}/o.itc", "{dir}/a.itc", "{dir}/b.itc"},
                  "the trace file name is empty"},
        UsageCase{"HeatsOptionLast",
                  {"-o", "{dir}/o.itc", "{dir}/a.itc", "{dir}/b.itc", "--heats"},
                  "option '--heats' needs a file name"},
        UsageCase{"TraceNamedTwice",
                  {"--trace", "{dir}/t.csv", "--trace={dir}/u.csv", "-o", "{dir}/o.itc",
                   "{dir}/a.itc", "{dir}/b.itc"},
                  "the trace file is named twice (--trace)"},
        UsageCase{"HeatsIsTheOutput",
                  {"--heats", "{dir}/./o.itc", "-o", "{dir}/o.itc", "{dir}/a.itc", "{dir}/b.itc"},
                  "--heats names the output file"},
        UsageCase{"HeatsAndTraceOneFile",
                  {"--heats={dir}/x.csv", "--trace={dir}/x.csv", "-o", "{dir}/o.itc", "{dir}/a.itc",
                   "{dir}/b.itc"},
                  "--heats and --trace name the same file"}),
    [](const testing::TestParamInfo<UsageCase>& p) { return p.param.name; });

// Each failure of the table the engine's test shares: exit 1, the message alone on
// standard error, nothing on standard output, the output as it was (or still
// absent), and no scratch file left in the folder.
class CliFailureTest : public testing::TestWithParam<test::FailureRun> {};

TEST_P(CliFailureTest, ExitsWithOneAndLeavesTheOutput) {
  const test::FailureCase& c = GetParam().failure;
  const bool unreadable = c.layout == test::Layout::FirstUnreadable;
#ifdef _WIN32
  if (unreadable) GTEST_SKIP() << "staged with POSIX permission bits as user nobody";
#endif
  TempDir dir;
  const test::FailurePaths paths = test::LayOut(GetParam(), dir);
  const FileState before = FileState::Of(paths.output);
  const std::vector<std::string> listing = test::ListDir(dir.path());

  std::vector<std::string> args = {paths.first, paths.second, "--output", paths.output};
  if (c.compensate) args.insert(args.begin(), "--compensate");
  if (c.force) args.insert(args.begin(), "--force");
  Result r = RunMerge(args, Child{unreadable});
  // 126: the user could not be changed; 127: that user may not run the program
  // (a build folder under a private home, for instance).
  if (unreadable && r.exited && (r.status == 126 || r.status == 127)) {
    GTEST_SKIP() << "cannot run tandemo-merge as an unprivileged user here";
  }
  ASSERT_TRUE(r.exited) << r;
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tandemo-merge: " + test::InDir(c.message, dir.path()) + "\n");
  EXPECT_EQ(FileState::Of(paths.output), before);
  EXPECT_EQ(test::ListDir(dir.path()), listing);
}

INSTANTIATE_TEST_SUITE_P(Table, CliFailureTest,
                         testing::ValuesIn(test::FailureRuns(test::RunBy::CommandLine)),
                         test::FailureRunName);

// An interrupted merge: the second file is a named pipe that the test feeds, so
// the merge is known to be under way (its scratch file made) when the signal comes.
#ifdef _WIN32
TEST(CliInterruptTest, RemovesItsScratchFile) {
  GTEST_SKIP() << "staged with a FIFO and POSIX signals sent by kill()";
}
TEST(CliAfterReplaceTest, ExitsWithZero) {
  GTEST_SKIP() << "staged with a full pipe and POSIX signals sent by kill()";
}
#else
class CliInterruptTest : public testing::TestWithParam<int> {};

TEST_P(CliInterruptTest, RemovesItsScratchFile) {
  std::signal(SIGPIPE, SIG_IGN);
  TempDir dir, io;
  test::WriteFile(dir / "first.itc", kFirst);
  ASSERT_EQ(::mkfifo((dir / "second.fifo").c_str(), 0600), 0);
  test::WriteFile(dir / "out.itc", "the previous result\r\n");
  test::SetOldMtime(dir / "out.itc");
  const FileState before = FileState::Of(dir / "out.itc");
  const std::vector<std::string> listing = test::ListDir(dir.path());

  Launch l = Start(io, {"-o", dir / "out.itc", dir / "first.itc", dir / "second.fifo"});
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
  for (int pending = 1; pending > 0 && alive(); ::usleep(1000))
    ASSERT_EQ(::ioctl(fd, FIONREAD, &pending), 0);
  ASSERT_TRUE(alive());
  EXPECT_EQ(test::ListDir(dir.path()).size(), listing.size() + 1)
      << "no scratch file while merging";

  ASSERT_EQ(::kill(l.pid, GetParam()), 0);
  Result r = Finish(l);
  ::close(fd);
  EXPECT_FALSE(r.exited) << r;
  EXPECT_EQ(r.status, GetParam());
  EXPECT_EQ(FileState::Of(dir / "out.itc"), before);
  if (GetParam() == SIGKILL) {
    // Nothing can catch it: the scratch file stays, until the next merge into the folder.
    EXPECT_EQ(test::ListDir(dir.path()).size(), listing.size() + 1);
    test::WriteFile(dir / "second.itc", kSecond);
    Result next = RunMerge({"-o", dir / "out.itc", dir / "first.itc", dir / "second.itc"});
    EXPECT_TRUE(next.exited && next.status == 0) << next;
    std::filesystem::remove(dir / "second.itc");
  }
  EXPECT_EQ(test::ListDir(dir.path()), listing);
}

// Every signal that ends a process by default and can be caught; and SIGKILL, which cannot.
INSTANTIATE_TEST_SUITE_P(Signals, CliInterruptTest,
                         testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2,
                                         SIGALRM, SIGPIPE, SIGXCPU, SIGKILL),
                         [](const testing::TestParamInfo<int>& p) {
                           return std::string(sigabbrev_np(p.param));
                         });

// Once the output is replaced the merge has succeeded: a signal that arrives while
// the summary is being written changes nothing. Standard output is a pipe the test
// has filled, so tandemo-merge waits in its write after the rename.
class CliAfterReplaceTest : public testing::TestWithParam<int> {};

TEST_P(CliAfterReplaceTest, ExitsWithZero) {
  std::signal(SIGPIPE, SIG_IGN);
  TempDir dir, io;
  test::WriteFile(dir / "first.itc", kFirst);
  test::WriteFile(dir / "second.itc", kSecond);
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);  // the merge gets the writing end only
  ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
  ASSERT_EQ(::fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
  const std::string block(4096, 'x');
  while (::write(fds[1], block.data(), block.size()) > 0) {
  }
  ASSERT_EQ(errno, EAGAIN);
  ASSERT_EQ(::fcntl(fds[1], F_SETFL, 0), 0);  // the merge's writes block

  Launch l = Start(io, {"-o", dir / "out.itc", dir / "first.itc", dir / "second.itc"},
                   Child{false, kNoLimit, fds[1]});
  ::close(fds[1]);
  ASSERT_GT(l.pid, 0);
  const std::string merged = kFirst + Text({"@1,x", "3.00,6.0"});
  for (int waited = 0; test::ReadFile(dir / "out.itc") != merged && waited < 10000; ++waited)
    ::usleep(1000);
  ASSERT_EQ(test::ReadFile(dir / "out.itc"), merged);
  ASSERT_EQ(::kill(l.pid, GetParam()), 0);
  ::usleep(20000);
  ::close(fds[0]);  // the reader goes: the blocked write ends
  Result r = Finish(l);
  EXPECT_TRUE(r.exited) << r;
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(test::ListDir(dir.path()),
            (std::vector<std::string>{"first.itc", "out.itc", "second.itc"}));
}

INSTANTIATE_TEST_SUITE_P(Signals, CliAfterReplaceTest, testing::Values(SIGTERM, SIGINT, SIGPIPE),
                         [](const testing::TestParamInfo<int>& p) {
                           return std::string(sigabbrev_np(p.param));
                         });
#endif

#ifdef _WIN32
TEST(CliHardeningTest, RefusesOrWritesAsItShould) {
  GTEST_SKIP() << "staged with POSIX users, modes, links in sticky folders and limits";
}
#else
// The ways an attacker or a careless user tried to make tandemo-merge write where
// it should not, lose data or garble the terminal: each case stages its folder,
// then checks the exit status, both output streams and what the folder holds after.
struct Staged {
  std::vector<std::string> args;
  Child child;
};

struct HardeningCase {
  std::string name;
  bool needsRoot;  // the case gives files or links to another user
  std::function<Staged(const TempDir&)> stage;
  int status;
  std::string out;  // "{dir}" stands for the test's folder
  std::string err;
  std::function<void(const TempDir&)> check;  // what the folder holds after
};
std::ostream& operator<<(std::ostream& os, const HardeningCase& c) { return os << c.name; }

class CliHardeningTest : public testing::TestWithParam<HardeningCase> {};

TEST_P(CliHardeningTest, RefusesOrWritesAsItShould) {
  const HardeningCase& c = GetParam();
  if (c.needsRoot && ::geteuid() != 0) GTEST_SKIP() << "staging files of another user needs root";
  TempDir dir;
  test::WriteFile(dir / "first.itc", kFirst);
  test::WriteFile(dir / "second.itc", kSecond);
  const Staged staged = c.stage(dir);
  Result r = RunMerge(staged.args, staged.child);
  if (staged.child.unprivileged && r.exited && (r.status == 126 || r.status == 127)) {
    GTEST_SKIP() << "cannot run tandemo-merge as an unprivileged user here";
  }
  ASSERT_TRUE(r.exited) << r;
  EXPECT_EQ(r.status, c.status) << r;
  EXPECT_EQ(r.out, test::InDir(c.out, dir.path()));
  EXPECT_EQ(r.err, test::InDir(c.err, dir.path()));
  c.check(dir);
}

const std::string kMergedPair = kFirst + Text({"@1,x", "3.00,6.0"});
// kFirst has no header of the usual form: a merge of it goes ahead with this note.
const char kNotComparedNote[] =
    "tandemo-merge: not compared: target temperature, concentrations and cell volume: the first "
    "file's "
    "header is not of the usual form (its second line is not \"$\" and a whole number)\n";

// The folder holds exactly these names; no scratch file was left.
void ExpectNames(const TempDir& dir, std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  EXPECT_EQ(test::ListDir(dir.path()), names);
}

// Folders of 200 characters until one name makes the path 4095 characters long,
// the longest the system opens (PATH_MAX 4096 counts the closing NUL).
std::string LongestOutputPath(const TempDir& dir) {
  std::string folder = dir / "long";
  EXPECT_EQ(::mkdir(folder.c_str(), 0755), 0);
  while (PATH_MAX - 1 - folder.size() > 1 + 255) {
    folder += "/" + std::string(200, 'd');
    EXPECT_EQ(::mkdir(folder.c_str(), 0755), 0);
  }
  return folder + "/" + std::string(PATH_MAX - 1 - folder.size() - 1, 'o');
}

const HardeningCase kHardeningCases[] = {
    {"LinkOfAnotherUserInSharedFolder", true,
     [](const TempDir& dir) {
       EXPECT_EQ(::mkdir((dir / "pub").c_str(), 01777), 0);
       EXPECT_EQ(::chmod((dir / "pub").c_str(), 01777), 0);
       test::WriteFile(dir / "notes.cfg", "mine\r\n");
       EXPECT_EQ(::symlink("../notes.cfg", (dir / "pub/merged.itc").c_str()), 0);
       EXPECT_EQ(::lchown((dir / "pub/merged.itc").c_str(), 65534, 65534), 0);
       return Staged{{"-o", dir / "pub/merged.itc", dir / "first.itc", dir / "second.itc"}, {}};
     },
     1, "",
     "tandemo-merge: Permission denied (70): output file: \"{dir}/pub/merged.itc\" is a symbolic "
     "link of user "
     "nobody in a shared folder (sticky, anyone may write to it); it is not followed, as the "
     "system would not "
     "follow it either: remove it or name another output\n",
     [](const TempDir& dir) {
       EXPECT_EQ(test::ReadFile(dir / "notes.cfg"), "mine\r\n");
       EXPECT_EQ(test::ListDir(dir / "pub"), std::vector<std::string>{"merged.itc"});
     }},
    {"OwnLinkInSharedFolderIsFollowed", false,
     [](const TempDir& dir) {
       EXPECT_EQ(::mkdir((dir / "pub").c_str(), 01777), 0);
       EXPECT_EQ(::chmod((dir / "pub").c_str(), 01777), 0);
       test::WriteFile(dir / "notes.itc", "old\r\n");
       EXPECT_EQ(::symlink("../notes.itc", (dir / "pub/merged.itc").c_str()), 0);
       return Staged{{"-o", dir / "pub/merged.itc", dir / "first.itc", dir / "second.itc"}, {}};
     },
     0, "Wrote 6 lines to \"{dir}/pub/merged.itc\": 1 injection appended (numbered 1).\n",
     kNotComparedNote,
     [](const TempDir& dir) {
       EXPECT_EQ(test::ReadFile(dir / "notes.itc"), kMergedPair);
       EXPECT_EQ(test::ListDir(dir / "pub"), std::vector<std::string>{"merged.itc"});
     }},
    {"FileOfAnotherUser", true,
     [](const TempDir& dir) {
       EXPECT_EQ(::chmod(dir.path().c_str(), 0777), 0);
       test::WriteFile(dir / "out.itc", "root's\r\n");
       EXPECT_EQ(::chmod((dir / "out.itc").c_str(), 0666), 0);
       return Staged{{"-o", dir / "out.itc", dir / "first.itc", dir / "second.itc"}, Child{true}};
     },
     1, "",
     "tandemo-merge: Permission denied (70): output file: \"{dir}/out.itc\" belongs to user root "
     "and group root; "
     "a file written in its place would belong to you instead, which could open it to others: "
     "nothing was "
     "written (--force replaces it all the same)\n",
     [](const TempDir& dir) {
       EXPECT_EQ(test::ReadFile(dir / "out.itc"), "root's\r\n");
       ExpectNames(dir, {"first.itc", "out.itc", "second.itc"});
     }},
    {"FileSizeLimit", false,
     [](const TempDir& dir) {
       test::WriteFile(dir / "out.itc", "old\r\n");
       std::vector<std::string> lines = {"$ITC", "@0"};
       for (int i = 1; i <= 600; ++i) lines.push_back(std::to_string(i) + ".0,1.0");  // about 6 KB
       test::WriteFile(dir / "first.itc", Text(lines));
       return Staged{{"-o", dir / "out.itc", dir / "first.itc", dir / "second.itc"},
                     Child{false, 4096}};  // `ulimit -f 8` (8 blocks of 512 bytes)
     },
     1, "",
     "tandemo-merge: File too large (1011): output file: the result could not be written: File too "
     "large\n",
     [](const TempDir& dir) {
       EXPECT_EQ(test::ReadFile(dir / "out.itc"), "old\r\n");
       ExpectNames(dir, {"first.itc", "out.itc", "second.itc"});
     }},
    {"ControlBytesInTheOutputName", false,
     [](const TempDir& dir) {
       return Staged{{"-o", dir / "a\x1b[2Jb\nc.itc", dir / "first.itc", dir / "second.itc"}, {}};
     },
     0, "Wrote 6 lines to \"{dir}/a\\x1b[2Jb\\x0ac.itc\": 1 injection appended (numbered 1).\n",
     kNotComparedNote,
     [](const TempDir& dir) { EXPECT_EQ(test::ReadFile(dir / "a\x1b[2Jb\nc.itc"), kMergedPair); }},
    {"ControlBytesInAMissingInputName", false,
     [](const TempDir& dir) {
       return Staged{{"-o", dir / "out.itc", dir / "x\a\x1b]0;title\x07.itc", dir / "second.itc"},
                     {}};
     },
     1, "",
     "tandemo-merge: File not found (53): first file: \"{dir}/x\\x07\\x1b]0;title\\x07.itc\" "
     "cannot be opened: No "
     "such file or directory\n",
     [](const TempDir& dir) {
       ExpectNames(dir, {"first.itc", "second.itc"});
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, CliHardeningTest, testing::ValuesIn(kHardeningCases),
                         [](const testing::TestParamInfo<HardeningCase>& p) {
                           return p.param.name;
                         });
#endif

// Out of memory is a failure like any other: its code and message, exit 1, nothing
// left behind. The address space is limited to the least in which tandemo-merge
// starts at all; lines of 1 MiB then need more than is left.
TEST(CliOutOfMemoryTest, IsReportedAndLeavesNothing) {
#ifdef _WIN32
  GTEST_SKIP() << "staged with an address-space limit (ulimit -v)";
#else
  TempDir dir;
  std::string first = "$ITC\r\n@0\r\n";
  for (int i = 1; i <= 8; ++i) {
    const std::string head = std::to_string(i) + ".0,1.";
    first += head + std::string((std::size_t{1} << 20) - head.size(), '0') +
             "\r\n";  // 1 MiB, the longest line
  }
  test::WriteFile(dir / "first.itc", first);
  test::WriteFile(dir / "second.itc", kSecond);
  rlim_t least = 0;
  for (rlim_t mib = 4; mib <= 64 && least == 0; mib += 2) {
    Result version = RunMerge({"--version"}, Child{false, kNoLimit, -1, mib << 20});
    if (version.exited && version.status == 0) least = mib << 20;
  }
  if (least == 0)
    GTEST_SKIP()
        << "tandemo-merge does not start within 64 MiB of address space (a sanitizer build?)";
  Result r = RunMerge({"--force", "-o", dir / "out.itc", dir / "first.itc", dir / "second.itc"},
                      Child{false, kNoLimit, -1, least});
  if (r.exited && r.status == 0)
    GTEST_SKIP() << "the merge fit in the least address space tandemo-merge starts in";
  ASSERT_TRUE(r.exited) << r;
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "tandemo-merge: Out of memory (7): the merge needed more memory than the system gave "
            "it; nothing was "
            "written\n");
  EXPECT_EQ(test::ListDir(dir.path()), (std::vector<std::string>{"first.itc", "second.itc"}));
#endif
}

// The summary of the longest path names it whole, on one line.
TEST(CliLongPathTest, SummaryNamesTheWholePath) {
#ifdef _WIN32
  GTEST_SKIP() << "staged with a 4095-character path; Windows paths past 260 characters are not "
                  "yet supported";
#else
  TempDir dir;
  test::WriteFile(dir / "first.itc", kFirst);
  test::WriteFile(dir / "second.itc", kSecond);
  const std::string output = LongestOutputPath(dir);
  ASSERT_EQ(output.size(), static_cast<std::size_t>(PATH_MAX - 1));
  Result r = RunMerge({"-o", output, dir / "first.itc", dir / "second.itc"});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  EXPECT_EQ(r.out, "Wrote 6 lines to \"" + output + "\": 1 injection appended (numbered 1).\n");
  EXPECT_EQ(test::ReadFile(output), kMergedPair);
#endif
}

// ---------------------------------------------- comparing, the header, more portions

namespace portions {

using test::Portion;

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
    test::WriteFile(first, a.Text());
    test::WriteFile(second, b.Text());
  }
};

TEST(CliPortionsTest, RefusesFilesThatDifferAndListsEachDifference) {
  for (bool outputExists : {false, true}) {
    Portion second = Later("30");
    second.step = 5;
    Pair p(Portion{}, second);
    if (outputExists) test::WriteFile(p.out, "kept\r\n");
    const FileState before = FileState::Of(p.out);
    Result r = RunMerge({p.first, p.second, "-o", p.out});
    ASSERT_TRUE(r.exited && r.status == 1) << r;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(
        r.err,
        "tandemo-merge: Files differ (1004): these files may not belong to one titration; nothing "
        "was written\n"
        "  target temperature: 25 in the first file, 30 in the second file\n"
        "  time step: 2 in the first file, 5 in the second file\n"
        "Use --force to merge them anyway.\n");
    EXPECT_EQ(FileState::Of(p.out), before);
    EXPECT_EQ(test::ListDir(p.dir.path()).size(), outputExists ? 3u : 2u);
  }
}

TEST(CliPortionsTest, ForceMergesThemAndSaysWhatDiffered) {
  Pair p(Portion{}, Later("30"));
  Result r = RunMerge({"--force", p.first, p.second, "-o", p.out});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  // 32 lines of the first file, then two markers with three data lines each.
  EXPECT_EQ(r.out,
            "Wrote 40 lines to \"" + p.out + "\": 2 injections appended (numbered 3 to 4).\n");
  EXPECT_EQ(
      r.err,
      "tandemo-merge: merged despite a difference: target temperature: 25 in the first file, 30 "
      "in the second file\n");
}

TEST(CliPortionsTest, NotesWhatItCouldNotCompare) {
  Portion second = Later("25");
  second.instrument = "% unnamed";
  Pair p(Portion{}, second);
  Result r = RunMerge({p.first, p.second, "-o", p.out});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  EXPECT_EQ(
      r.err,
      "tandemo-merge: not compared: instrument unit: the first file's header does not name it\n"
      "tandemo-merge: not compared: control software: the second file's header does not name it\n");
}

TEST(CliPortionsTest, UpdateHeaderAndThreePortions) {
  Pair p(Portion{}, Later("25.0"));
  const std::string third = p.dir / "third.itc";
  test::WriteFile(third, Later("25").Text());
  Result r = RunMerge({"--update-header", "--compensate", "-o" + p.out, p.first, p.second, third});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  // 32 + 2 listed injection lines + 2 x 8 appended lines. The offsets: baseline 11.22
  // less the last DP 10.58 in 32-bit floats, then 11.22 less the compensated 10.64.
  EXPECT_EQ(r.out, "Wrote 52 lines to \"" + p.out +
                       "\": 4 injections appended from 2 files (numbered 3 to 6), header lists 6 "
                       "injections, DP offsets 0.64000034, 0.5799999.\n");
  EXPECT_EQ(r.err, "");
  const std::string merged = test::ReadFile(p.out).value_or("");
  EXPECT_EQ(merged.substr(0, 12), "$ITC\r\n$ 6 \r\n");
}

}  // namespace portions

// ------------------------------------------- what tandemo-merge refuses, and its notes

namespace guard {

using test::Portion;

const char kUnit[] = "% VPITC06.03.471";
const char kNewest[] = "% MicroCalITC Ver: 1.29.32 Run time:";

Portion First() {
  Portion p;
  p.unit = kUnit;
  return p;
}
Portion Second() {
  Portion p = First();
  p.dp = 11.2;
  return p;
}

void Write(const std::string& path, const Portion& p) { test::WriteFile(path, p.Text()); }

// The arguments of one run; the files they name are made in `dir`.
using Setup = std::vector<std::string> (*)(const std::string& dir);

struct GuardCase {
  std::string name;
  Setup setup;
  int status;
  std::string err;  // exact; "{dir}" stands for the test's folder
};
std::ostream& operator<<(std::ostream& os, const GuardCase& c) { return os << c.name; }

class CliGuardTest : public testing::TestWithParam<GuardCase> {};

// Every refusal: exit 1, its message alone on standard error, nothing on standard
// output, every file in the folder (the previous output, the inputs) byte for byte
// and time for time as it was, and no scratch file.
TEST_P(CliGuardTest, RefusesAndTouchesNothing) {
  const GuardCase& c = GetParam();
  TempDir dir;
  test::WriteFile(dir / "out.itc", "the previous result\r\n");
  const std::vector<std::string> args = c.setup(dir.path());
  std::vector<std::string> names = test::ListDir(dir.path());
  std::vector<FileState> before;
  for (const std::string& n : names) {
    if (std::filesystem::is_regular_file(dir / n)) test::SetOldMtime(dir / n);
    before.push_back(FileState::Of(dir / n));
  }
  Result r = RunMerge(args);
  ASSERT_TRUE(r.exited) << r;
  EXPECT_EQ(r.status, c.status) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, test::InDir(c.err, dir.path()));
  EXPECT_EQ(test::ListDir(dir.path()), names);
  for (std::size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(FileState::Of(dir / names[i]), before[i]) << names[i];
}

// Another name for the same file: a symbolic link, or on Windows, where making one
// needs a privilege, a hard link.
void SameFileLink(const std::string& target, const std::string& link) {
#ifdef _WIN32
  std::filesystem::create_hard_link(target, link);
#else
  std::filesystem::create_symlink(target, link);
#endif
}

const GuardCase kGuardCases[] = {
    {"InstrumentUnitDiffers",
     [](const std::string& d) -> std::vector<std::string> {
       Portion second = Second();
       second.unit = "% VPITC07.01.002";
       Write(d + "/a.itc", First());
       Write(d + "/b.itc", second);
       return {"-o", d + "/out.itc", d + "/a.itc", d + "/b.itc"};
     },
     1,
     "tandemo-merge: Files differ (1004): these files may not belong to one titration; nothing was "
     "written\n"
     "  instrument unit: VPITC06.03.471 in the first file, VPITC07.01.002 in the second file\n"
     "Use --force to merge them anyway.\n"},
    {"RunsSwapped",
     [](const std::string& d) -> std::vector<std::string> {
       Portion first = First(), second = Second();
       first.instrument = std::string(kNewest) + "10/29/2019 9:02:40 PM";
       second.instrument = std::string(kNewest) + "10/29/2019 5:59:16 PM";
       Write(d + "/a.itc", first);
       Write(d + "/b.itc", second);
       return {"-o", d + "/out.itc", d + "/a.itc", d + "/b.itc"};
     },
     1,
     "tandemo-merge: Files differ (1004): these files may not belong to one titration; nothing was "
     "written\n"
     "  run start time: the second file's run started before the first's: are they swapped? (first "
     "file "
     "10/29/2019 9:02:40 PM, second file 10/29/2019 5:59:16 PM)\n"
     "Use --force to merge them anyway.\n"},
    // 602.8 - 602.4 is 0.39999999999997726 in binary; the step is shown as the stamps write it.
    {"TimeStepAsWritten",
     [](const std::string& d) -> std::vector<std::string> {
       Write(d + "/a.itc", First());
       test::WriteFile(d + "/b.itc", Text({"$ITC", "@0", "602.0,1", "@1,x", "602.4,1", "602.8,2"}));
       return {"-o", d + "/out.itc", d + "/a.itc", d + "/b.itc"};
     },
     1,
     "tandemo-merge: Files differ (1004): these files may not belong to one titration; nothing was "
     "written\n"
     "  time step: 2 in the first file, 0.4 in the second file\n"
     "Use --force to merge them anyway.\n"},
    {"SamePathTwiceForced",
     [](const std::string& d) -> std::vector<std::string> {
       Write(d + "/a.itc", First());
       return {"--force", "-o", d + "/out.itc", d + "/a.itc", d + "/a.itc"};
     },
     1,
     "tandemo-merge: Same run twice (1005): second file: \"{dir}/a.itc\" is the first file again "
     "(the same "
     "path); nothing was written\n"},
    {"SameFileByLinkForced",
     [](const std::string& d) -> std::vector<std::string> {
       Write(d + "/a.itc", First());
       SameFileLink(d + "/a.itc", d + "/link.itc");
       return {"--force", "-o", d + "/out.itc", d + "/a.itc", d + "/link.itc"};
     },
     1,
     "tandemo-merge: Same run twice (1005): second file: \"{dir}/link.itc\" is the first file "
     "again (the same "
     "file under another name); nothing was written\n"},
    {"SameBytesForced",
     [](const std::string& d) -> std::vector<std::string> {
       Write(d + "/a.itc", First());
       Write(d + "/copy.itc", First());
       return {"--force", "-o", d + "/out.itc", d + "/a.itc", d + "/copy.itc"};
     },
     1,
     "tandemo-merge: Same run twice (1005): second file: \"{dir}/copy.itc\" is the first file "
     "again (the same "
     "bytes); nothing was written\n"},
    {"ThirdIsTheFirstAgain",
     [](const std::string& d) -> std::vector<std::string> {
       Write(d + "/a.itc", First());
       Write(d + "/b.itc", Second());
       return {"-o", d + "/out.itc", d + "/a.itc", d + "/b.itc", d + "/a.itc"};
     },
     1,
     "tandemo-merge: Same run twice (1005): third file: \"{dir}/a.itc\" is the first file again "
     "(the same "
     "path); nothing was written\n"},
    {"SecondIsANote",
     [](const std::string& d) -> std::vector<std::string> {
       Write(d + "/a.itc", First());
       test::WriteFile(d + "/note.itc", "Day 2: reload the syringe, 2 x 10 uL, then @ 25 C.\n");
       return {"--force", "-o", d + "/out.itc", d + "/a.itc", d + "/note.itc"};
     },
     1,
     "tandemo-merge: No injection (1006): second file: no injection to append; is it an ITC data "
     "file? "
     "(\"{dir}/note.itc\")\n"},
    {"SecondIsAPicture",
     [](const std::string& d) -> std::vector<std::string> {
       Write(d + "/a.itc", First());
       static const char kSignature[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10";
       std::string png(kSignature, sizeof kSignature - 1);
       for (int i = 0; i < 5000; ++i) png += static_cast<char>((i * 37) % 251);
       test::WriteFile(d + "/photo.itc", png);
       return {"-o", d + "/out.itc", d + "/a.itc", d + "/photo.itc"};
     },
     1,
     "tandemo-merge: No injection (1006): second file: no injection to append; is it an ITC data "
     "file? "
     "(\"{dir}/photo.itc\")\n"},
    {"OutputIsTheFirstInput",
     [](const std::string& d) -> std::vector<std::string> {
       Write(d + "/a.itc", First());
       Write(d + "/b.itc", Second());
       return {"-o", d + "/a.itc", d + "/a.itc", d + "/b.itc"};
     },
     1,
     "tandemo-merge: Output is an input (1007): output file: \"{dir}/a.itc\" is the first input "
     "file; nothing was "
     "written\n"
     "Use --force to replace it.\n"},
    {"OutputIsTheSecondInputByLink",
     [](const std::string& d) -> std::vector<std::string> {
       Write(d + "/a.itc", First());
       Write(d + "/b.itc", Second());
       SameFileLink(d + "/b.itc", d + "/link.itc");
       return {"-o", d + "/link.itc", d + "/a.itc", d + "/b.itc"};
     },
     1,
     "tandemo-merge: Output is an input (1007): output file: \"{dir}/link.itc\" is the second "
     "input file; nothing "
     "was written\n"
     "Use --force to replace it.\n"},
    // Without a time step nothing can be merged: said as such, before any difference, and
    // without suggesting --force.
    {"FirstFileWithoutTimeStep",
     [](const std::string& d) -> std::vector<std::string> {
       Portion first = First();
       first.baselineLines = 1;
       first.injections = 0;
       first.countLine = "$ 0 ";
       Portion second = Second();
       second.temperature = "$ 30 ";
       Write(d + "/a.itc", first);
       Write(d + "/b.itc", second);
       return {"-o", d + "/out.itc", d + "/a.itc", d + "/b.itc"};
     },
     1,
     "tandemo-merge: No time step (1001): first file: fewer than two data lines (lines with a "
     "comma after the "
     "first marker line), so the time step cannot be taken\n"},
    {"FirstFileTimeStepBackwards",
     [](const std::string& d) -> std::vector<std::string> {
       test::WriteFile(d + "/a.itc", Text({"$ITC", "@0", "10.00,1", "8.00,2"}));
       Portion second = Second();
       second.step = 5;
       Write(d + "/b.itc", second);
       return {"--force", "-o", d + "/out.itc", d + "/a.itc", d + "/b.itc"};
     },
     1,
     "tandemo-merge: No time step (1001): first file, line 4: the last two data lines have the "
     "time stamps "
     "\"10.00\" and \"8.00\", a time step of -2 that would not advance the time axis\n"},
};

INSTANTIATE_TEST_SUITE_P(Refusals, CliGuardTest, testing::ValuesIn(kGuardCases),
                         [](const testing::TestParamInfo<GuardCase>& p) { return p.param.name; });

// What went ahead is said on standard output, what is worth knowing about it on
// standard error.
TEST(CliGuardNotes, SoftwareUpdateIsANoteAfterTheMerge) {
  TempDir dir;
  Portion first = First(), second = Second();
  first.instrument = std::string(kNewest) + "10/29/2019 5:59:16 PM";
  second.instrument = "% MicroCalITC Ver: 1.30.2 Run time:10/30/2019 8:10:00 AM";
  Write(dir / "a.itc", first);
  Write(dir / "b.itc", second);
  Result r = RunMerge({"-o", dir / "out.itc", dir / "a.itc", dir / "b.itc"});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  EXPECT_EQ(r.out, "Wrote 41 lines to \"" + (dir / "out.itc") +
                       "\": 2 injections appended (numbered 3 to 4).\n");
  EXPECT_EQ(r.err,
            "tandemo-merge: note: control software: MicroCalITC Ver: 1.29.32 in the first file, "
            "MicroCalITC Ver: "
            "1.30.2 in the second file\n");
}

// A last line cut short by an interrupted write is left out, and a note names it:
// here cut after its comma in the first file and before its first comma in the second.
TEST(CliGuardNotes, LinesCutShortAreLeftOutAndNamed) {
  TempDir dir;
  const std::vector<std::string> kept = {"$ITC",   "@0",       "10,5.0,1", "15,5.25,1",
                                         "@1,2,3", "20,5.5,1", "25,5.75,1"};
  std::vector<std::string> first = kept;
  first.push_back("30,5.8");
  test::WriteFile(dir / "a.itc", Text(first));
  test::WriteFile(dir / "b.itc",
                  Text({"$ITC", "@0", "0,7.0,1", "@1,2,3", "5,7.5,1", "10,8.0,1", "15.0"}));
  Result r = RunMerge({"--compensate", "-o", dir / "out.itc", dir / "a.itc", dir / "b.itc"});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  // The time step and the offset come from the lines before them: 25 + 5, 7.0 - 5.75.
  EXPECT_EQ(test::ReadFile(dir / "out.itc").value_or(""),
            Text(kept) + Text({"@2,2,3", "30.00,6.25,1", "35.00,6.75,1"}));
  EXPECT_EQ(r.out, "Wrote 10 lines to \"" + (dir / "out.itc") +
                       "\": 1 injection appended (numbered 2), DP offset 1.25.\n");
  EXPECT_EQ(r.err,
            "tandemo-merge: not compared: target temperature, concentrations and cell volume: the "
            "first file's header is not of the usual form (its second line is not \"$\" and a "
            "whole number)\n"
            "tandemo-merge: note: first file, line 8: the last data line (\"30,5.8\") is cut short "
            "and was left out\n"
            "tandemo-merge: note: second file, line 7: the last data line (\"15.0\") is cut short "
            "and was left out\n");
}

TEST(CliGuardNotes, ForceReplacesAnInputOnRequest) {
  TempDir dir;
  Write(dir / "a.itc", First());
  Write(dir / "b.itc", Second());
  Result r = RunMerge({"--force", "-o", dir / "a.itc", dir / "a.itc", dir / "b.itc"});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  EXPECT_EQ(r.out, "Wrote 41 lines to \"" + (dir / "a.itc") +
                       "\": 2 injections appended (numbered 3 to 4).\n");
  EXPECT_EQ(test::ListDir(dir.path()), (std::vector<std::string>{"a.itc", "b.itc"}));
}

TEST(CliGuardNotes, StoppedEarlyRunHeaderListsWhatWasPerformed) {
  TempDir dir;
  Portion first = First();
  first.countLine = "$ 4 ";  // planned 4, stopped after 2
  std::string text = first.Text();
  const std::string lastPlanned = first.injectionLine(2) + "\r\n";
  text.insert(text.find(lastPlanned) + lastPlanned.size(),
              first.injectionLine(3) + "\r\n" + first.injectionLine(4) + "\r\n");
  test::WriteFile(dir / "a.itc", text);
  Portion second = Second();
  second.injections = 2;
  Write(dir / "b.itc", second);
  Result r = RunMerge({"--update-header", "-o", dir / "out.itc", dir / "a.itc", dir / "b.itc"});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  EXPECT_EQ(r.out, "Wrote 43 lines to \"" + (dir / "out.itc") +
                       "\": 2 injections appended (numbered 3 to 4), header lists 4 injections (2 "
                       "planned injections "
                       "of the first file never ran and are left out).\n");
  const std::string merged = test::ReadFile(dir / "out.itc").value_or("");
  // Line 2, then after the 8 fixed lines the first file's two injections and the second file's two.
  EXPECT_EQ(merged.substr(0, 12), "$ITC\r\n$ 4 \r\n");
  const std::vector<std::string> lines = test::SplitLines(merged);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 10, lines.begin() + 15),
            (std::vector<std::string>{first.injectionLine(1), first.injectionLine(2),
                                      second.injectionLine(1), second.injectionLine(2), "# 0 "}));
}

}  // namespace guard

// ---------------------------------------------- the tables: --heats and --trace

namespace tables {

// --heats and --trace: the tables' bytes for the example pair, and nothing
// written at all when the merge or a table cannot be.
struct TableCase {
  std::string name;
  std::vector<std::string> options;  // before the operands; "{dir}" stands for the test's folder
  std::string file;                  // the table looked at
  std::string firstLines;            // its first lines, exactly
  std::size_t lines;  // all its lines: a header and one row per injection or data line
};
std::ostream& operator<<(std::ostream& os, const TableCase& c) { return os << c.name; }

class CliTablesTest : public testing::TestWithParam<TableCase> {};

TEST_P(CliTablesTest, WritesTheTableBesideTheOutput) {
  const TableCase& c = GetParam();
  TempDir dir;
  std::vector<std::string> args;
  for (const std::string& a : c.options) args.push_back(test::InDir(a, dir.path()));
  for (std::string a : {"-o", "{dir}/merged.itc", TANDEMO_EXAMPLES_DIR "/portion1.itc",
                        TANDEMO_EXAMPLES_DIR "/portion2.itc"})
    args.push_back(test::InDir(a, dir.path()));
  Result r = RunMerge(args);
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  const std::optional<std::string> table = test::ReadFile(dir / c.file);
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(table->substr(0, c.firstLines.size()), c.firstLines);
  EXPECT_EQ(static_cast<std::size_t>(std::count(table->begin(), table->end(), '\n')), c.lines);
  EXPECT_NE(r.out.find("Wrote the " + std::string(c.file == "h.csv" ? "heats" : "trace") +
                       " file \"" + (dir / c.file) + "\".\n"),
            std::string::npos)
      << r;
  std::vector<std::string> expected = {"merged.itc", c.file};
  for (const std::string& a : c.options)
    if (a.find("t.csv") != std::string::npos && c.file != "t.csv") expected.push_back("t.csv");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(test::ListDir(dir.path()), expected);  // no scratch file left
}

// The example pair: the first injection at 65 s with 0.4 uL (its marker line
// "@1,0.4000,0.8" and the data line after it); 18 injections; 552 data lines.
// Its header: syringe 0.5 mM, cell 0.05 mM, 0.2 mL, so after 0.4 uL the molar
// ratio is 0.5 (0.4/200)(1 - 0.001) / (0.05 (1 - 0.001)/(1 + 0.001)) = 0.02002.
const TableCase kTableCases[] = {
    {"Heats",
     {"--compensate", "--heats", "{dir}/h.csv"},
     "h.csv",
     "number,portion,start time (s),volume (uL),heat (ucal),molar ratio,heat per mole of injectant "
     "(kcal/mol)\n"
     "1,1,65,0.4,-2.3256499999999924,0.02002,-11.628249999999962\n",
     19},
    {"HeatsJoinedOn",
     {"--heats={dir}/h.csv", "--trace={dir}/t.csv"},
     "h.csv",
     "number,portion,start time (s),volume (uL),heat (ucal),molar ratio,heat per mole of injectant "
     "(kcal/mol)\n",
     19},
    {"Trace",
     {"--trace={dir}/t.csv"},
     "t.csv",
     "time (s),DP (ucal/s),portion\n5,10.03441,1\n10,10.036,1\n",
     553},
};

INSTANTIATE_TEST_SUITE_P(Tables, CliTablesTest, testing::ValuesIn(kTableCases),
                         [](const testing::TestParamInfo<TableCase>& p) { return p.param.name; });

TEST(CliTablesTest, AppendedRowsCarryOnAcrossTheJoin) {
  TempDir dir;
  Result r = RunMerge({"--compensate", "--heats", dir / "h.csv", "--trace", dir / "t.csv", "-o",
                       dir / "m.itc", TANDEMO_EXAMPLES_DIR "/portion1.itc",
                       TANDEMO_EXAMPLES_DIR "/portion2.itc"});
  ASSERT_TRUE(r.exited && r.status == 0) << r;
  const std::string heats = test::ReadFile(dir / "h.csv").value_or("");
  // Injection 11 is the second file's first, numbered on, in portion 2.
  EXPECT_NE(heats.find("\n11,2,"), std::string::npos) << heats;
  // The trace's last row is the merged file's last data line ("2765.00,..."), in portion 2.
  const std::string merged = test::ReadFile(dir / "m.itc").value_or("");
  const std::string trace = test::ReadFile(dir / "t.csv").value_or("");
  ASSERT_GT(merged.size(), 3u);
  ASSERT_GT(trace.size(), 2u);
  const std::size_t lastLine = merged.rfind('\n', merged.size() - 3) + 1;
  const std::size_t lastRow = trace.rfind('\n', trace.size() - 2) + 1;
  double lineTime = 0, rowTime = 0;
  const std::string line = merged.substr(lastLine), row = trace.substr(lastRow);
  ASSERT_EQ(std::from_chars(line.data(), line.data() + line.size(), lineTime).ec, std::errc())
      << line;
  ASSERT_EQ(std::from_chars(row.data(), row.data() + row.size(), rowTime).ec, std::errc()) << row;
  EXPECT_EQ(rowTime, lineTime);
  EXPECT_EQ(row.substr(row.size() - 3), ",2\n");
}

struct TableRefusal {
  std::string name;
  std::string second;  // "{examples}" or a file that makes the merge fail
  std::vector<std::string> options;
  bool readOnlyFolder;  // the tables go into a folder the runner cannot write
  std::string message;
};
std::ostream& operator<<(std::ostream& os, const TableRefusal& c) { return os << c.name; }

class CliTablesRefusalTest : public testing::TestWithParam<TableRefusal> {};

TEST_P(CliTablesRefusalTest, WritesNothingAtAll) {
  const TableRefusal& c = GetParam();
  TempDir dir;
  const std::string first = dir / "first.itc";
  const std::string second = dir / "second.itc";
  test::WriteFile(first, test::ReadFile(TANDEMO_EXAMPLES_DIR "/portion1.itc").value_or(""));
  test::WriteFile(second, c.second.empty()
                              ? test::ReadFile(TANDEMO_EXAMPLES_DIR "/portion2.itc").value_or("")
                              : c.second);
  ASSERT_TRUE(std::filesystem::create_directory(dir / "tables"));
  if (c.readOnlyFolder) {
#ifdef _WIN32
    GTEST_SKIP()
        << "staged with permission bits of a folder and a second user, which Windows does not have";
#endif
    ASSERT_EQ(::chmod((dir / "tables").c_str(), 0555), 0);
    // The runner can write the output's folder: it is the tables' folder that is refused.
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  }
  const std::vector<std::string> listing = test::ListDir(dir.path());
  std::vector<std::string> args;
  for (const std::string& a : c.options) args.push_back(test::InDir(a, dir.path()));
  for (const std::string& a : {std::string("-o"), dir / "merged.itc", first, second})
    args.push_back(a);
  Result r = RunMerge(args, Child{c.readOnlyFolder});
  if (c.readOnlyFolder && r.exited && (r.status == 126 || r.status == 127))
    GTEST_SKIP() << "cannot run tandemo-merge as an unprivileged user here";
  ASSERT_TRUE(r.exited) << r;
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tandemo-merge: " + test::InDir(c.message, dir.path()) + "\n");
  EXPECT_EQ(test::ListDir(dir.path()), listing);
  EXPECT_EQ(test::ListDir(dir / "tables"), std::vector<std::string>{});
  ::chmod((dir / "tables").c_str(), 0755);
}

const TableRefusal kTableRefusals[] = {
    {"MergeRefused",
     Text({"@0", "1,1", "@1,x", "2,2", "3,3"}),
     {"--heats={dir}/tables/h.csv", "--trace={dir}/tables/t.csv"},
     false,
     "Files differ (1004): these files may not belong to one titration; nothing was written\n"
     "  time step: 5 in the first file, 1 in the second file\nUse --force to merge them anyway."},
    {"MergeFails",
     Text({"@0", "1,1", "@1,x", "2,2", "3,abc", "4,4"}),
     {"--force", "--compensate", "--heats={dir}/tables/h.csv", "--trace={dir}/tables/t.csv"},
     false,
     "Type mismatch (13): second file, line 5: the DP field \"abc\" is not a number"},
    {"HeatsFolderNotWritable",
     "",
     {"--heats", "{dir}/tables/h.csv"},
     true,
     "Permission denied (70): heats file: cannot create a file in the folder \"{dir}/tables\": "
     "Permission denied; "
     "nothing was written"},
    {"TraceIsAnInput",
     "",
     {"--trace", "{dir}/second.itc"},
     false,
     "Output is an input (1007): trace file: \"{dir}/second.itc\" is the second input file; "
     "nothing was written"},
};

INSTANTIATE_TEST_SUITE_P(Refusals, CliTablesRefusalTest, testing::ValuesIn(kTableRefusals),
                         [](const testing::TestParamInfo<TableRefusal>& p) {
                           return p.param.name;
                         });

}  // namespace tables

}  // namespace
}  // namespace tandemo
