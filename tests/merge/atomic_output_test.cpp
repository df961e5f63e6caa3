// Replacing the output: a unique scratch file beside the file finally written,
// renamed over it in one step, with its permission bits and links kept, and
// nothing left behind when the merge does not go through.
#include "merge/atomic_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <grp.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "merge/merge_run.hpp"
#include "test_support.hpp"

namespace tandemo {
namespace {

using test::FileState;
using test::TempDir;
using test::Text;

const std::string kFirst = Text({"$ITC", "@0", "1.0,1.0", "2.0,2.0"});
const std::string kSecond = Text({"@0", "1.0,5.0", "@1,x", "2.0,6.0"});
const std::string kMerged = Text({"$ITC", "@0", "1.0,1.0", "2.0,2.0", "@1,x", "3.00,6.0"});

void WriteInputs(const TempDir& dir) {
  test::WriteFile(dir / "first.itc", kFirst);
  test::WriteFile(dir / "second.itc", kSecond);
}

std::string Merge(const TempDir& dir, const std::string& output) {
  MergeOutcome o = RunMerge(dir / "first.itc", dir / "second.itc", output, false);
  return o.ok() ? std::string() : o.error->Message();
}

#ifdef _WIN32
unsigned ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}
#else
mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

std::string LinkText(const std::string& path) {
  char buf[4096];
  ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
  return n < 0 ? std::string("(no link)") : std::string(buf, static_cast<std::size_t>(n));
}

#endif

std::string DirOf(const std::string& path) { return path.substr(0, path.find_last_of('/')); }

TEST(AtomicOutputTest, ScratchFilesAreUniqueFreshAndBesideTheOutput) {
  TempDir dir;
  const std::string output = dir / "out.itc";
  AtomicOutput a, b;
  ASSERT_FALSE(a.Begin(output));
  ASSERT_FALSE(b.Begin(output));
  EXPECT_NE(a.scratchPath(), b.scratchPath());
  for (const AtomicOutput* o : {&a, &b}) {
    EXPECT_EQ(DirOf(o->scratchPath()), dir.path());
    EXPECT_TRUE(S_ISREG(ModeOf(o->scratchPath())));
    struct stat st {};
    ASSERT_EQ(::fstat(o->fd(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
  }
  EXPECT_EQ(test::ListDir(dir.path()).size(), 2u);
  a.Abandon();
  EXPECT_EQ(test::ListDir(dir.path()).size(), 1u);
  EXPECT_FALSE(FileState::Of(output).exists);
}

TEST(AtomicOutputTest, DestructionWithoutCommitRemovesTheScratchFile) {
  TempDir dir;
  {
    AtomicOutput o;
    ASSERT_FALSE(o.Begin(dir / "out.itc"));
    ASSERT_EQ(::write(o.fd(), "partial", 7), 7);
  }
  EXPECT_TRUE(test::ListDir(dir.path()).empty());
}

TEST(AtomicOutputTest, CommitRenamesOverTheOutput) {
  TempDir dir;
  test::WriteFile(dir / "out.itc", "old");
  AtomicOutput o;
  ASSERT_FALSE(o.Begin(dir / "out.itc"));
  ASSERT_EQ(::write(o.fd(), "new", 3), 3);
  EXPECT_EQ(test::ReadFile(dir / "out.itc"), "old");  // untouched until the commit
  ASSERT_FALSE(o.Commit());
  EXPECT_EQ(test::ReadFile(dir / "out.itc"), "new");
  EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string>{"out.itc"});
}

// What an interrupted front end calls from its signal handler.
TEST(AtomicOutputTest, PendingScratchFileCanBeRemovedFromOutside) {
  TempDir dir;
  AtomicOutput o;
  ASSERT_FALSE(o.Begin(dir / "out.itc"));
  RemovePendingScratchFile();
  EXPECT_TRUE(test::ListDir(dir.path()).empty());
  o.Abandon();

  // After a commit there is nothing pending: the output stays.
  AtomicOutput done;
  ASSERT_FALSE(done.Begin(dir / "out.itc"));
  ASSERT_FALSE(done.Commit());
  RemovePendingScratchFile();
  EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string>{"out.itc"});
}

// 255 characters is the longest name a folder entry may have; the scratch file
// beside such an output must still be possible.
TEST(AtomicOutputTest, OutputWithTheLongestNameIsWritten) {
  TempDir dir;
  WriteInputs(dir);
  const std::string name = std::string(251, 'x') + ".itc";
  ASSERT_EQ(Merge(dir, dir / name), "");
  EXPECT_EQ(test::ReadFile(dir / name), kMerged);
  EXPECT_EQ(test::ListDir(dir.path()), (std::vector<std::string>{"first.itc", "second.itc", name}));
}

class PermissionBitsTest : public testing::TestWithParam<mode_t> {};

TEST_P(PermissionBitsTest, ReplacedOutputKeepsItsMode) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX permission bits: a replaced file keeps its attributes and access list "
                  "through ReplaceFileW";
#else
  TempDir dir;
  WriteInputs(dir);
  test::WriteFile(dir / "out.itc", "old");
  ASSERT_EQ(::chmod((dir / "out.itc").c_str(), GetParam()), 0);
  ASSERT_EQ(Merge(dir, dir / "out.itc"), "");
  EXPECT_EQ(test::ReadFile(dir / "out.itc"), kMerged);
  EXPECT_EQ(ModeOf(dir / "out.itc") & 07777, GetParam());
#endif
}

// "Mode0640": the bits in octal, as chmod takes them.
INSTANTIATE_TEST_SUITE_P(Modes, PermissionBitsTest, testing::Values(0600, 0640, 0664, 0755, 0604),
                         [](const testing::TestParamInfo<mode_t>& p) {
                           char octal[16];
                           char* end = std::to_chars(octal, octal + sizeof octal, p.param, 8).ptr;
                           return "Mode0" + std::string(octal, end);
                         });

TEST(NewOutputTest, GetsTheUsualModeOfANewFile) {
#ifdef _WIN32
  GTEST_SKIP() << "the umask has no meaning on Windows";
#else
  for (mode_t mask : {mode_t{022}, mode_t{027}}) {
    TempDir dir;
    WriteInputs(dir);
    mode_t old = ::umask(mask);
    std::string error = Merge(dir, dir / "out.itc");
    ::umask(old);
    ASSERT_EQ(error, "");
    EXPECT_EQ(ModeOf(dir / "out.itc") & 07777, 0666 & ~mask) << "umask " << std::oct << mask;
  }
#endif
}

// A symbolic link at the output path stays a link; the file it leads to is replaced.
struct LinkCase {
  std::string name;
  std::vector<std::pair<std::string, std::string>>
      links;           // link name -> link text ("{dir}" = folder)
  std::string output;  // the path given to the merge
  std::string target;  // the file that gets the result
};
std::ostream& operator<<(std::ostream& os, const LinkCase& c) { return os << c.name; }

class OutputLinkTest : public testing::TestWithParam<LinkCase> {};

TEST_P(OutputLinkTest, LinkStaysAndItsTargetIsReplaced) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links are refused as outputs on Windows";
#else
  const LinkCase& c = GetParam();
  TempDir dir;
  WriteInputs(dir);
  ASSERT_EQ(::mkdir((dir / "data").c_str(), 0755), 0);
  test::WriteFile(dir / "data/real.itc", "old");
  auto expand = [&](std::string s) {
    if (s.rfind("{dir}", 0) == 0) s.replace(0, 5, dir.path());
    return s;
  };
  for (const auto& [name, text] : c.links)
    ASSERT_EQ(::symlink(expand(text).c_str(), (dir / name).c_str()), 0);
  const std::vector<std::string> topBefore = test::ListDir(dir.path());

  ASSERT_EQ(Merge(dir, dir / c.output), "");
  for (const auto& [name, text] : c.links) {
    EXPECT_TRUE(S_ISLNK(ModeOf(dir / name))) << name;
    EXPECT_EQ(LinkText(dir / name), expand(text));
  }
  EXPECT_EQ(test::ReadFile(dir / c.target), kMerged);
  // The scratch file was made beside the target and is gone; nothing was added anywhere else.
  EXPECT_EQ(test::ListDir(dir.path()), topBefore);
  std::vector<std::string> data = test::ListDir(dir / "data");
  EXPECT_EQ(data.size(), c.target == "data/new.itc" ? 2u : 1u);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Links, OutputLinkTest,
    testing::Values(
        LinkCase{"Relative", {{"out.itc", "data/real.itc"}}, "out.itc", "data/real.itc"},
        LinkCase{"Absolute", {{"out.itc", "{dir}/data/real.itc"}}, "out.itc", "data/real.itc"},
        LinkCase{"Chain",
                 {{"hop.itc", "data/real.itc"}, {"out.itc", "hop.itc"}},
                 "out.itc",
                 "data/real.itc"},
        // A link to a file not yet there: the file is created where the link points.
        LinkCase{"Dangling", {{"out.itc", "data/new.itc"}}, "out.itc", "data/new.itc"}),
    [](const testing::TestParamInfo<LinkCase>& p) { return p.param.name; });

TEST(OutputLinkTest, LoopOfLinksIsRefused) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links are refused as outputs on Windows";
#else
  TempDir dir;
  WriteInputs(dir);
  ASSERT_EQ(::symlink("b", (dir / "a").c_str()), 0);
  ASSERT_EQ(::symlink("a", (dir / "b").c_str()), 0);
  const std::vector<std::string> before = test::ListDir(dir.path());
  EXPECT_EQ(Merge(dir, dir / "a"), "Path/File access error (75): output file: the output path \"" +
                                       (dir / "a") +
                                       "\" is a loop of links: Too many levels of symbolic links");
  EXPECT_EQ(test::ListDir(dir.path()), before);
  EXPECT_EQ(LinkText(dir / "a"), "b");
#endif
}

// Runs `body` as an unprivileged user, since the tests may run as root, whom no
// permission bit stops; returns what the body wrote, or nothing when that is impossible.
#ifndef _WIN32
std::optional<std::string> AsUnprivilegedUser(const std::function<std::string()>& body) {
  if (::geteuid() != 0) return body();
  int fds[2];
  if (::pipe(fds) != 0) return std::nullopt;
  pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    ::close(fds[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(77);
    std::string result = body();
    ssize_t ignored = ::write(fds[1], result.data(), result.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string result;
  char buf[1024];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    result.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return result;
}
#endif

TEST(UnwritableOutputTest, ReadOnlyOutputFileIsRefusedAndKept) {
  TempDir dir;
  WriteInputs(dir);
#ifdef _WIN32
  // The read-only attribute is what says so on Windows: a replacement would ignore it.
  namespace fs = std::filesystem;
  test::WriteFile(dir / "out.itc", "protected\r\n");
  test::SetOldMtime(dir / "out.itc");
  fs::permissions(dir / "out.itc",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const FileState before = FileState::Of(dir / "out.itc");
  const std::vector<std::string> listing = test::ListDir(dir.path());
  EXPECT_EQ(Merge(dir, dir / "out.itc"), "Permission denied (70): output file: \"" +
                                             (dir / "out.itc") +
                                             "\" may not be written: Permission denied");
  EXPECT_EQ(FileState::Of(dir / "out.itc"), before);
  EXPECT_EQ(test::ListDir(dir.path()), listing);
  fs::permissions(dir / "out.itc", fs::perms::owner_write, fs::perm_options::add);
#else
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);  // the folder itself may be written
  test::WriteFile(dir / "out.itc", "protected\r\n");
  ASSERT_EQ(::chmod((dir / "out.itc").c_str(), 0444), 0);
  test::SetOldMtime(dir / "out.itc");
  const FileState before = FileState::Of(dir / "out.itc");
  const std::vector<std::string> listing = test::ListDir(dir.path());

  std::optional<std::string> error =
      AsUnprivilegedUser([&] { return Merge(dir, dir / "out.itc"); });
  if (!error) GTEST_SKIP() << "cannot run as an unprivileged user here";
  EXPECT_EQ(*error, "Permission denied (70): output file: \"" + (dir / "out.itc") +
                        "\" may not be written: Permission denied");
  EXPECT_EQ(FileState::Of(dir / "out.itc"), before);
  EXPECT_EQ(test::ListDir(dir.path()), listing);
#endif
}

// Another program that holds the output open without sharing it: Windows would
// refuse the replacement at the very end; it is refused before anything is written.
TEST(UnwritableOutputTest, OutputHeldOpenWithoutSharingIsRefusedAndKept) {
#ifndef _WIN32
  GTEST_SKIP() << "a file held open without sharing is a Windows situation";
#else
  TempDir dir;
  WriteInputs(dir);
  test::WriteFile(dir / "out.itc", "in use\r\n");
  const FileState before = FileState::Of(dir / "out.itc");
  HANDLE held = ::CreateFileA((dir / "out.itc").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Merge(dir, dir / "out.itc"), "Path/File access error (75): output file: \"" +
                                             (dir / "out.itc") +
                                             "\" is open in another program that does not let it "
                                             "be replaced; close it there and merge again");
  ::CloseHandle(held);
  EXPECT_EQ(FileState::Of(dir / "out.itc"), before);
  EXPECT_EQ(test::ListDir(dir.path()),
            (std::vector<std::string>{"first.itc", "out.itc", "second.itc"}));
#endif
}

TEST(UnwritableOutputTest, FolderThatMayNotBeWrittenIsRefused) {
#ifdef _WIN32
  GTEST_SKIP() << "staged with POSIX permission bits as user nobody";
#else
  TempDir dir;
  WriteInputs(dir);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);  // readable and searchable, not writable
  std::optional<std::string> error =
      AsUnprivilegedUser([&] { return Merge(dir, dir / "out.itc"); });
  if (!error) GTEST_SKIP() << "cannot run as an unprivileged user here";
  EXPECT_EQ(*error, "Permission denied (70): output file: cannot create a file in the folder \"" +
                        dir.path() + "\": Permission denied");
  EXPECT_EQ(test::ListDir(dir.path()), (std::vector<std::string>{"first.itc", "second.itc"}));
#endif
}

// No other user may read a byte while the result is written, whatever the umask
// and whatever the mode the replaced file will have.
TEST(ScratchFileTest, IsPrivateWhileWrittenAndTakesTheFinalModeAtTheEnd) {
#ifdef _WIN32
  GTEST_SKIP()
      << "POSIX modes and the umask; a Windows scratch file takes its folder's access list";
#else
  for (bool outputExists : {false, true}) {
    TempDir dir;
    if (outputExists) {
      test::WriteFile(dir / "out.itc", "old");
      ASSERT_EQ(::chmod((dir / "out.itc").c_str(), 0664), 0);
    }
    const mode_t oldMask = ::umask(0);
    AtomicOutput o;
    std::optional<MergeError> error = o.Begin(dir / "out.itc");
    ASSERT_FALSE(error) << error->Message();
    struct stat st {};
    ASSERT_EQ(::fstat(o.fd(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "output exists: " << outputExists;
    ASSERT_EQ(::write(o.fd(), "new", 3), 3);
    error = o.Commit();
    ::umask(oldMask);
    ASSERT_FALSE(error) << error->Message();
    // umask 0: a new file gets 0666.
    EXPECT_EQ(ModeOf(dir / "out.itc") & 07777, outputExists ? 0664u : 0666u);
  }
#endif
}

// A merge killed by SIGKILL leaves its scratch file; its name says which process
// made it, and the next merge into that folder removes it once that process is gone.
TEST(ScratchFileTest, LeftoversOfKilledMergesAreRemovedByTheNextMerge) {
  TempDir dir;
  WriteInputs(dir);
#ifdef _WIN32
  // Process ids are multiples of four there: 3 is no process.
  const unsigned long gone = 3;
  const std::string stale = ".out.itc.tandemo-" + std::to_string(gone) + "-abcd1234.tmp";
  // A process that still runs (this one) and a file a live merge holds open (without
  // sharing its removal) are left alone, as are names of other makes.
  const std::string running =
      ".out.itc.tandemo-" + std::to_string(::GetCurrentProcessId()) + "-abcd1234.tmp";
  const std::string locked = ".other.itc.tandemo-" + std::to_string(gone) + "-lock5678.tmp";
  const std::string unrelated = ".out.itc.tandemo-" + std::to_string(gone) + "-short.tmp";
  for (const std::string& name : {stale, running, locked, unrelated})
    test::WriteFile(dir / name, "partial");
  HANDLE held =
      ::CreateFileA((dir / locked).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_EQ(Merge(dir, dir / "out.itc"), "");
  ::CloseHandle(held);
#else
  pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_GT(gone, 0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  const std::string stale = ".out.itc.tandemo-" + std::to_string(gone) + "-abcd1234.tmp";
  // A process that still runs (this one's parent) and a file still locked by a
  // live merge (of another machine, say) are left alone, as are names of other makes.
  const std::string running = ".out.itc.tandemo-" + std::to_string(::getppid()) + "-abcd1234.tmp";
  const std::string locked = ".other.itc.tandemo-" + std::to_string(gone) + "-lock5678.tmp";
  const std::string unrelated = ".out.itc.tandemo-" + std::to_string(gone) + "-short.tmp";
  for (const std::string& name : {stale, running, locked, unrelated})
    test::WriteFile(dir / name, "partial");
  int lockFd = ::open((dir / locked).c_str(), O_RDONLY);
  ASSERT_GE(lockFd, 0);
  ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);

  ASSERT_EQ(Merge(dir, dir / "out.itc"), "");
  ::close(lockFd);
#endif
  std::vector<std::string> expected = {running,     locked,    unrelated,
                                       "first.itc", "out.itc", "second.itc"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(test::ListDir(dir.path()), expected);
}

// PATH_MAX (4096) counts the closing NUL, so 4095 characters is the longest path
// the system opens; the scratch name beside it is longer still, and works from the folder's handle.
TEST(LongPathTest, OutputPathOfTheLongestLengthIsWritten) {
#ifdef _WIN32
  GTEST_SKIP() << "staged with a 4095-character path; Windows paths past 260 characters are not "
                  "yet supported";
#else
  TempDir dir;
  WriteInputs(dir);
  std::string folder = dir.path();
  const std::size_t longest = PATH_MAX - 1;
  // Folders of 200 characters until what is left fits one name (255 at most).
  while (longest - folder.size() > 1 + 255) {
    folder += "/" + std::string(200, 'd');
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0) << folder.size();
  }
  const std::string output = folder + "/" + std::string(longest - folder.size() - 1, 'o');
  ASSERT_EQ(output.size(), longest);
  ASSERT_EQ(Merge(dir, output), "");
  EXPECT_EQ(test::ReadFile(output), kMerged);
  EXPECT_EQ(test::ListDir(folder).size(), 1u);
#endif
}

// Runs as root only: the files and links must belong to other users.
#ifndef _WIN32
bool IsRoot() { return ::geteuid() == 0; }
#endif

TEST(OwnerTest, RootKeepsTheOwnerAndGroupOfAnotherUsersFile) {
#ifdef _WIN32
  GTEST_SKIP() << "owners and groups of POSIX files";
#else
  if (!IsRoot()) GTEST_SKIP() << "giving a file to another user needs root";
  TempDir dir;
  WriteInputs(dir);
  test::WriteFile(dir / "out.itc", "old");
  ASSERT_EQ(::chown((dir / "out.itc").c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod((dir / "out.itc").c_str(), 0640), 0);
  ASSERT_EQ(Merge(dir, dir / "out.itc"), "");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "out.itc").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(test::ReadFile(dir / "out.itc"), kMerged);
#endif
}

// A user allowed to write another user's file could replace it only with a file
// of their own: refused, unless forced, and then the file is theirs.
TEST(OwnerTest, AnotherUsersFileIsRefusedUnlessForced) {
#ifdef _WIN32
  GTEST_SKIP() << "owners and groups of POSIX files";
#else
  if (!IsRoot())
    GTEST_SKIP()
        << "a file of another user can be staged only as root (here: root's, replaced by nobody)";
  for (bool force : {false, true}) {
    TempDir dir;
    WriteInputs(dir);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    test::WriteFile(dir / "out.itc", "root's\r\n");
    ASSERT_EQ(::chmod((dir / "out.itc").c_str(), 0666), 0);
    test::SetOldMtime(dir / "out.itc");
    const FileState before = FileState::Of(dir / "out.itc");
    std::optional<std::string> error = AsUnprivilegedUser([&]() -> std::string {
      AtomicOutput o;
      if (auto e = o.Begin(dir / "out.itc", force)) return e->Message();
      if (::write(o.fd(), "new", 3) != 3) return "write failed";
      if (auto e = o.Commit()) return e->Message();
      return "";
    });
    if (!error) GTEST_SKIP() << "cannot run as an unprivileged user here";
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out.itc").c_str(), &st), 0);
    if (force) {
      EXPECT_EQ(*error, "");
      EXPECT_EQ(test::ReadFile(dir / "out.itc"), "new");
      EXPECT_EQ(st.st_uid, 65534u);
      EXPECT_EQ(st.st_mode & 07777, 0666u);
    } else {
      EXPECT_EQ(
          *error,
          "Permission denied (70): output file: \"" + (dir / "out.itc") +
              "\" belongs to user root and group root; a file written in its place would belong "
              "to you instead, which could open it to others: nothing was written (--force "
              "replaces it all the same)");
      EXPECT_EQ(FileState::Of(dir / "out.itc"), before);
      EXPECT_EQ(st.st_uid, 0u);
    }
    EXPECT_EQ(test::ListDir(dir.path()),
              (std::vector<std::string>{"first.itc", "out.itc", "second.itc"}));
  }
#endif
}

// The raw value of an extended attribute, or "(none)".
#ifndef _WIN32
std::string Attribute(const std::string& path, const char* name) {
  std::string value(65536, '\0');
  ssize_t n = ::lgetxattr(path.c_str(), name, value.data(), value.size());
  if (n < 0) return "(none)";
  value.resize(static_cast<std::size_t>(n));
  return value;
}

bool Shell(const std::string& command) {
  return std::system((command + " 2>/dev/null").c_str()) == 0;
}
#endif

// Staged with the tools of the Debian packages attr and acl; compared byte for byte.
TEST(AttributeTest, AccessControlListAndUserAttributesAreKept) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX access lists and extended attributes";
#else
  TempDir dir;
  WriteInputs(dir);
  const std::string out = dir / "out.itc";
  test::WriteFile(out, "old");
  ASSERT_EQ(::chmod(out.c_str(), 0600), 0);
  if (!Shell("setfattr -n user.sample -v 'cell 3' '" + out + "'")) {
    GTEST_SKIP() << "setfattr is missing or the test folder's file system keeps no user attributes";
  }
  if (!Shell("setfacl -m u:65534:rw,g:65534:r '" + out + "'")) {
    GTEST_SKIP()
        << "setfacl is missing or the test folder's file system keeps no access control lists";
  }
  ASSERT_EQ(::setxattr(out.c_str(), "user.empty", "", 0, 0), 0);
  const std::string acl = Attribute(out, "system.posix_acl_access");
  ASSERT_NE(acl, "(none)");
  const mode_t mode = ModeOf(out) & 07777;

  ASSERT_EQ(Merge(dir, out), "");
  EXPECT_EQ(test::ReadFile(out), kMerged);
  EXPECT_EQ(Attribute(out, "user.sample"), "cell 3");
  EXPECT_EQ(Attribute(out, "user.empty"), "");
  EXPECT_EQ(Attribute(out, "system.posix_acl_access"), acl);
  EXPECT_EQ(ModeOf(out) & 07777, mode);
#endif
}

// A file without a list keeps none, even in a folder whose default list a new file inherits.
TEST(AttributeTest, FileWithoutAListGetsNoneFromItsFolder) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX access lists and extended attributes";
#else
  TempDir dir;
  WriteInputs(dir);
  const std::string out = dir / "out.itc";
  test::WriteFile(out, "old");
  ASSERT_EQ(::chmod(out.c_str(), 0640), 0);
  if (!Shell("setfacl -d -m u:65534:rw '" + dir.path() + "'")) {
    GTEST_SKIP()
        << "setfacl is missing or the test folder's file system keeps no access control lists";
  }
  ASSERT_EQ(Attribute(out, "system.posix_acl_access"), "(none)");
  ASSERT_EQ(Merge(dir, out), "");
  EXPECT_EQ(Attribute(out, "system.posix_acl_access"), "(none)");
  EXPECT_EQ(ModeOf(out) & 07777, 0640u);
#endif
}

// A new output gets what any new file gets in its folder, here by the folder's
// default access list, though the scratch file was private while it was written.
TEST(AttributeTest, NewFileGetsWhatTheFoldersDefaultListGives) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX access lists and extended attributes";
#else
  TempDir dir;
  WriteInputs(dir);
  if (!Shell("setfacl -d -m u::rw,g::r,o::r,u:65534:rw,m::rwx '" + dir.path() + "'")) {
    GTEST_SKIP()
        << "setfacl is missing or the test folder's file system keeps no access control lists";
  }
  const int reference = ::open((dir / "reference").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  ASSERT_GE(reference, 0);
  ::close(reference);
  ASSERT_EQ(Merge(dir, dir / "out.itc"), "");
  EXPECT_NE(Attribute(dir / "reference", "system.posix_acl_access"), "(none)");
  EXPECT_EQ(Attribute(dir / "out.itc", "system.posix_acl_access"),
            Attribute(dir / "reference", "system.posix_acl_access"));
  EXPECT_EQ(ModeOf(dir / "out.itc") & 07777, ModeOf(dir / "reference") & 07777);
#endif
}

// A link at the output path is followed only where the system would follow it
// (fs.protected_symlinks): in a sticky folder anyone may write to, only a link of
// the runner's own or of the folder's owner.
struct SharedFolderCase {
  std::string name;
  mode_t folderMode;
  unsigned folderOwner;  // user ids
  unsigned linkOwner;
  bool followed;
};
std::ostream& operator<<(std::ostream& os, const SharedFolderCase& c) { return os << c.name; }

class SharedFolderLinkTest : public testing::TestWithParam<SharedFolderCase> {};

TEST_P(SharedFolderLinkTest, FollowsOnlyWhereTheSystemWould) {
#ifdef _WIN32
  GTEST_SKIP() << "sticky folders and their link rule have no meaning on Windows";
#else
  const SharedFolderCase& c = GetParam();
  if (!IsRoot()) GTEST_SKIP() << "a link of another user can be staged only as root";
  TempDir dir;
  WriteInputs(dir);
  const std::string pub = dir / "pub";
  ASSERT_EQ(::mkdir(pub.c_str(), 0755), 0);
  ASSERT_EQ(::chown(pub.c_str(), c.folderOwner, c.folderOwner), 0);
  ASSERT_EQ(::chmod(pub.c_str(), c.folderMode), 0);
  test::WriteFile(dir / "notes.cfg", "mine\r\n");
  test::SetOldMtime(dir / "notes.cfg");
  const FileState before = FileState::Of(dir / "notes.cfg");
  ASSERT_EQ(::symlink("../notes.cfg", (pub + "/merged.itc").c_str()), 0);
  ASSERT_EQ(::lchown((pub + "/merged.itc").c_str(), c.linkOwner, c.linkOwner), 0);

  const std::string error = Merge(dir, pub + "/merged.itc");
  EXPECT_TRUE(S_ISLNK(ModeOf(pub + "/merged.itc")));
  EXPECT_EQ(test::ListDir(pub), std::vector<std::string>{"merged.itc"});
  if (c.followed) {
    EXPECT_EQ(error, "");
    EXPECT_EQ(test::ReadFile(dir / "notes.cfg"), kMerged);
  } else {
    EXPECT_EQ(
        error,
        "Permission denied (70): output file: \"" + pub +
            "/merged.itc\" is a symbolic link of user nobody in a shared folder (sticky, anyone "
            "may write to it); it is not followed, as the system would not follow it either: "
            "remove it or name another output");
    EXPECT_EQ(FileState::Of(dir / "notes.cfg"), before);
  }
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Links, SharedFolderLinkTest,
    testing::Values(SharedFolderCase{"OtherUsersLinkInSharedFolder", 01777, 0, 65534, false},
                    SharedFolderCase{"OwnLinkInSharedFolder", 01777, 0, 0, true},
                    SharedFolderCase{"FolderOwnersLinkInSharedFolder", 01777, 65534, 65534, true},
                    SharedFolderCase{"OtherUsersLinkInStickyPrivateFolder", 01775, 0, 65534, true},
                    SharedFolderCase{"OtherUsersLinkInWritableFolderWithoutStickyBit", 0777, 0,
                                     65534, true}),
    [](const testing::TestParamInfo<SharedFolderCase>& p) { return p.param.name; });

}  // namespace
}  // namespace tandemo
