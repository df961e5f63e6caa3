// Replacing the output: a unique scratch file beside the file finally written,
// renamed over it in one step, with its permission bits and links kept, and
// nothing left behind when the merge does not go through.
#include "merge/atomic_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
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
  TempDir dir;
  WriteInputs(dir);
  test::WriteFile(dir / "out.itc", "old");
  ASSERT_EQ(::chmod((dir / "out.itc").c_str(), GetParam()), 0);
  ASSERT_EQ(Merge(dir, dir / "out.itc"), "");
  EXPECT_EQ(test::ReadFile(dir / "out.itc"), kMerged);
  EXPECT_EQ(ModeOf(dir / "out.itc") & 07777, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Modes, PermissionBitsTest, testing::Values(0600, 0640, 0664, 0755, 0604));

TEST(NewOutputTest, GetsTheUsualModeOfANewFile) {
  for (mode_t mask : {mode_t{022}, mode_t{027}}) {
    TempDir dir;
    WriteInputs(dir);
    mode_t old = ::umask(mask);
    std::string error = Merge(dir, dir / "out.itc");
    ::umask(old);
    ASSERT_EQ(error, "");
    EXPECT_EQ(ModeOf(dir / "out.itc") & 07777, 0666 & ~mask) << "umask " << std::oct << mask;
  }
}

// A symbolic link at the output path stays a link; the file it leads to is replaced.
struct LinkCase {
  std::string name;
  std::vector<std::pair<std::string, std::string>> links;  // link name -> link text ("{dir}" = folder)
  std::string output;                                      // the path given to the merge
  std::string target;                                      // the file that gets the result
};
std::ostream& operator<<(std::ostream& os, const LinkCase& c) { return os << c.name; }

class OutputLinkTest : public testing::TestWithParam<LinkCase> {};

TEST_P(OutputLinkTest, LinkStaysAndItsTargetIsReplaced) {
  const LinkCase& c = GetParam();
  TempDir dir;
  WriteInputs(dir);
  ASSERT_EQ(::mkdir((dir / "data").c_str(), 0755), 0);
  test::WriteFile(dir / "data/real.itc", "old");
  auto expand = [&](std::string s) {
    if (s.rfind("{dir}", 0) == 0) s.replace(0, 5, dir.path());
    return s;
  };
  for (const auto& [name, text] : c.links) ASSERT_EQ(::symlink(expand(text).c_str(), (dir / name).c_str()), 0);
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
}

INSTANTIATE_TEST_SUITE_P(
    Links, OutputLinkTest,
    testing::Values(LinkCase{"Relative", {{"out.itc", "data/real.itc"}}, "out.itc", "data/real.itc"},
                    LinkCase{"Absolute", {{"out.itc", "{dir}/data/real.itc"}}, "out.itc", "data/real.itc"},
                    LinkCase{"Chain", {{"hop.itc", "data/real.itc"}, {"out.itc", "hop.itc"}}, "out.itc",
                             "data/real.itc"},
                    // A link to a file not yet there: the file is created where the link points.
                    LinkCase{"Dangling", {{"out.itc", "data/new.itc"}}, "out.itc", "data/new.itc"}),
    [](const testing::TestParamInfo<LinkCase>& p) { return p.param.name; });

TEST(OutputLinkTest, LoopOfLinksIsRefused) {
  TempDir dir;
  WriteInputs(dir);
  ASSERT_EQ(::symlink("b", (dir / "a").c_str()), 0);
  ASSERT_EQ(::symlink("a", (dir / "b").c_str()), 0);
  const std::vector<std::string> before = test::ListDir(dir.path());
  EXPECT_EQ(Merge(dir, dir / "a"), "Path/File access error (75): output file: the output path \"" + (dir / "a") +
                                       "\" is a loop of links: Too many levels of symbolic links");
  EXPECT_EQ(test::ListDir(dir.path()), before);
  EXPECT_EQ(LinkText(dir / "a"), "b");
}

// Runs `body` as an unprivileged user, since the tests may run as root, whom no
// permission bit stops; returns what the body wrote, or nothing when that is impossible.
std::optional<std::string> AsUnprivilegedUser(const std::function<std::string()>& body) {
  if (::geteuid() != 0) return body();
  int fds[2];
  if (::pipe(fds) != 0) return std::nullopt;
  pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    ::close(fds[0]);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(77);
    std::string result = body();
    ssize_t ignored = ::write(fds[1], result.data(), result.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string result;
  char buf[1024];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) result.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return result;
}

TEST(UnwritableOutputTest, ReadOnlyOutputFileIsRefusedAndKept) {
  TempDir dir;
  WriteInputs(dir);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);  // the folder itself may be written
  test::WriteFile(dir / "out.itc", "protected\r\n");
  ASSERT_EQ(::chmod((dir / "out.itc").c_str(), 0444), 0);
  test::SetOldMtime(dir / "out.itc");
  const FileState before = FileState::Of(dir / "out.itc");
  const std::vector<std::string> listing = test::ListDir(dir.path());

  std::optional<std::string> error = AsUnprivilegedUser([&] { return Merge(dir, dir / "out.itc"); });
  if (!error) GTEST_SKIP() << "cannot run as an unprivileged user here";
  EXPECT_EQ(*error, "Permission denied (70): output file: \"" + (dir / "out.itc") +
                        "\" may not be written: Permission denied");
  EXPECT_EQ(FileState::Of(dir / "out.itc"), before);
  EXPECT_EQ(test::ListDir(dir.path()), listing);
}

TEST(UnwritableOutputTest, FolderThatMayNotBeWrittenIsRefused) {
  TempDir dir;
  WriteInputs(dir);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);  // readable and searchable, not writable
  std::optional<std::string> error = AsUnprivilegedUser([&] { return Merge(dir, dir / "out.itc"); });
  if (!error) GTEST_SKIP() << "cannot run as an unprivileged user here";
  EXPECT_EQ(*error, "Permission denied (70): output file: cannot create a file in the folder \"" + dir.path() +
                        "\": Permission denied");
  EXPECT_EQ(test::ListDir(dir.path()), (std::vector<std::string>{"first.itc", "second.itc"}));
}

}  // namespace
}  // namespace tandemo
