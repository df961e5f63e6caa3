// The POSIX side of replacing the output: folder handles, links, owner, mode,
// access control lists and extended attributes, scratch files, signals.
#include "atomic_output.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <random>
#include <string_view>
#include <vector>

namespace tandemo {
namespace {

// The scratch file of the merge under way, for RemovePendingScratchFile(): a
// folder handle and a fixed buffer, since a signal handler may neither allocate nor lock.
char g_pendingName[NAME_MAX + 1];
volatile std::sig_atomic_t g_pendingDir = -1;
volatile std::sig_atomic_t g_hasPending = 0;
volatile std::sig_atomic_t g_replaced = 0;

constexpr int kMaxLinkHops = 40;  // as many as the system follows in one path
constexpr std::string_view kScratchMark = ".tandemo-";
constexpr std::string_view kScratchEnd = ".tmp";

// Holds every signal off while a few steps that belong together are taken.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &saved_);
  }
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t saved_;
};

struct PathParts {
  std::string folder;  // "" for the current folder
  std::string name;
};

PathParts Split(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {"", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string Joined(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder == ".") return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// A folder handle that serves for *at calls, fsync and listing; a folder that
// may be searched but not read still gives a handle for the *at calls.
int OpenFolder(int at, const std::string& folder) {
  const char* path = folder.empty() ? "." : folder.c_str();
  int fd = ::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = ::openat(at, path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  return fd;
}

std::string RandomSuffix() {
  static std::atomic<unsigned> counter{0};
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device rd;
  std::seed_seq seq{rd(), rd(), static_cast<unsigned>(::getpid()),
                    static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()),
                    counter.fetch_add(1)};
  std::mt19937 gen(seq);
  std::uniform_int_distribution<int> pick(0, 35);
  std::string s(8, 'x');
  for (char& c : s) c = kAlphabet[pick(gen)];
  return s;
}

// The process that made a scratch file, from its name
// ".<output name>.tandemo-<process id>-<8 letters or digits>.tmp"; 0 when the name is no such name.
pid_t ScratchOwnerProcess(std::string_view name) {
  if (name.size() < 1 + kScratchMark.size() + 2 + 8 + kScratchEnd.size() || name.front() != '.' ||
      name.substr(name.size() - kScratchEnd.size()) != kScratchEnd) {
    return 0;
  }
  name.remove_suffix(kScratchEnd.size());
  const std::size_t mark = name.rfind(kScratchMark);
  if (mark == std::string_view::npos) return 0;
  std::string_view rest = name.substr(mark + kScratchMark.size());
  const std::size_t dash = rest.find('-');
  if (dash == std::string_view::npos || rest.size() - dash - 1 != 8) return 0;
  pid_t pid = 0;
  auto [end, ec] = std::from_chars(rest.data(), rest.data() + dash, pid);
  if (ec != std::errc() || end != rest.data() + dash || pid <= 0) return 0;
  return pid;
}

// Removes the scratch files that merges into this folder left when they were
// killed: the runner's own, whose process no longer runs and which no process
// holds locked (a live merge locks its scratch file, which guards against
// process numbers of other machines or namespaces).
void RemoveStaleScratchFiles(int dirFd) {
  int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return;
  DIR* dir = ::fdopendir(listFd);
  if (!dir) {
    ::close(listFd);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t pid = ScratchOwnerProcess(entry->d_name);
    if (pid == 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // that process still runs
    int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::close(fd);
  }
  ::closedir(dir);
}

// The permission bits a new file is created with here: 0666 less the umask,
// read without changing it (another thread may be creating files).
mode_t NewFileMode() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) != 0) continue;
    std::size_t at = line.find_first_not_of(" \t", 6);
    unsigned mask = 0;
    if (at != std::string::npos &&
        std::from_chars(line.data() + at, line.data() + line.size(), mask, 8).ec == std::errc()) {
      return static_cast<mode_t>(0666 & ~mask);
    }
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// The access list a file created with `mode` takes from its folder's default list
// (the system's own rule): the owner's, the others' and the mask's rights are cut
// to what the mode grants. Lists are stored as a version word and entries of tag,
// rights and id, little-endian.
std::string InheritedAccessList(std::string list, mode_t mode) {
  constexpr unsigned kUserObj = 0x01, kGroupObj = 0x04, kMask = 0x10, kOther = 0x20;
  constexpr std::size_t kHeader = 4, kEntry = 8;
  if (list.size() < kHeader || (list.size() - kHeader) % kEntry != 0) return {};
  const auto tagAt = [&](std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(list[at])) |
           static_cast<unsigned>(static_cast<unsigned char>(list[at + 1])) << 8;
  };
  const auto cut = [&](std::size_t at, unsigned allowed) {
    list[at + 2] = static_cast<char>(static_cast<unsigned char>(list[at + 2]) & allowed);
  };
  bool hasMask = false;
  for (std::size_t at = kHeader; at < list.size(); at += kEntry) hasMask = hasMask || tagAt(at) == kMask;
  for (std::size_t at = kHeader; at < list.size(); at += kEntry) {
    const unsigned tag = tagAt(at);
    if (tag == kUserObj) cut(at, (mode >> 6) & 7u);
    if (tag == kOther) cut(at, mode & 7u);
    if (tag == (hasMask ? kMask : kGroupObj)) cut(at, (mode >> 3) & 7u);
  }
  return list;
}

bool InOwnGroups(gid_t gid) {
  if (gid == ::getegid()) return true;
  int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  n = ::getgroups(n, groups.data());
  for (int i = 0; i < n; ++i) {
    if (groups[static_cast<std::size_t>(i)] == gid) return true;
  }
  return false;
}

std::string UserName(uid_t uid) {
  std::vector<char> buf(16384);
  passwd entry {};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buf.data(), buf.size(), &found) == 0 && found) return Printable(found->pw_name);
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  std::vector<char> buf(16384);
  group entry {};
  group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buf.data(), buf.size(), &found) == 0 && found) return Printable(found->gr_name);
  return std::to_string(gid);
}

// The attributes a replaced file keeps: its access control list and the user's
// own attributes. Security labels belong to the system's policy and are not copied.
bool IsKeptAttribute(std::string_view name) {
  return name == "system.posix_acl_access" || name.rfind("user.", 0) == 0;
}

// Copies the kept attributes from one open file to another; 0 or the errno of
// the failure, with `failedName` set to the attribute.
int CopyAttributes(int from, int to, std::string& failedName) {
  std::vector<char> names;
  for (;;) {
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size < 0 && errno != ENOTSUP) return errno;
    names.resize(static_cast<std::size_t>(size > 0 ? size : 0));
    if (size <= 0) break;
    size = ::flistxattr(from, names.data(), names.size());
    if (size >= 0) {
      names.resize(static_cast<std::size_t>(size));
      break;
    }
    if (errno != ERANGE) return errno;  // the list grew meanwhile: ask again
  }
  std::vector<char> value;
  bool aclCopied = false;
  for (std::size_t at = 0; at < names.size();) {
    const std::string name(names.data() + at);
    at += name.size() + 1;
    if (!IsKeptAttribute(name)) continue;
    failedName = name;
    ssize_t size = ::fgetxattr(from, name.c_str(), nullptr, 0);
    if (size < 0) {
      if (errno == ENODATA) continue;  // removed meanwhile
      return errno;
    }
    value.resize(static_cast<std::size_t>(size));
    size = ::fgetxattr(from, name.c_str(), value.data(), value.size());
    if (size < 0) return errno;
    if (::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(size), 0) != 0) return errno;
    aclCopied = aclCopied || name == "system.posix_acl_access";
  }
  // A list the new file took from its folder's default list is not the replaced file's.
  if (!aclCopied && ::fremovexattr(to, "system.posix_acl_access") != 0 && errno != ENODATA &&
      errno != ENOTSUP) {
    failedName = "system.posix_acl_access";
    return errno;
  }
  return 0;
}

}  // namespace

AtomicOutput::~AtomicOutput() {
  Abandon();
  if (targetFd_ >= 0) ::close(targetFd_);
  if (dirFd_ >= 0) ::close(dirFd_);
}

MergeError AtomicOutput::Fail(int err, std::string what) const {
  MergeError e;
  e.code = err == ENOENT ? ErrorCode::PathNotFound : CodeForErrno(err);
  e.file = FilePlace::Output();
  e.detail = std::move(what) + ": " + std::strerror(err);
  return e;
}

std::string AtomicOutput::TargetShown() const { return QuotedPath(Joined(dirShown_, name_)); }

std::string AtomicOutput::scratchPath() const {
  return scratchName_.empty() ? std::string() : Joined(dirShown_.empty() ? "." : dirShown_, scratchName_);
}

// Walks the links at the output path one at a time, each from a handle of the
// folder it lies in, so that nothing is resolved again between the checks and the rename.
std::optional<MergeError> AtomicOutput::FindTarget(const std::string& outputPath) {
  PathParts parts = Split(outputPath);
  dirFd_ = OpenFolder(AT_FDCWD, parts.folder);
  if (dirFd_ < 0) return Fail(errno, "cannot create a file in the folder " + QuotedPath(parts.folder.empty() ? "." : parts.folder));
  dirShown_ = parts.folder;
  name_ = parts.name;
  for (int hops = 0;; ++hops) {
    if (name_.empty() || name_ == "." || name_ == "..") {
      return MergeError{ErrorCode::PathFileAccess, FilePlace::Output(), 0,
                        TargetShown() + " is a folder, not a file that can be replaced"};
    }
    struct stat st {};
    if (::fstatat(dirFd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) return std::nullopt;  // a new file
      return Fail(errno, TargetShown() + " cannot be examined");
    }
    if (!S_ISLNK(st.st_mode)) {
      targetExists_ = true;
      targetUid_ = st.st_uid;
      targetGid_ = st.st_gid;
      targetMode_ = st.st_mode;
      targetDev_ = st.st_dev;
      targetIno_ = st.st_ino;
      return std::nullopt;
    }
    if (hops == kMaxLinkHops) return Fail(ELOOP, "the output path " + QuotedPath(outputPath) + " is a loop of links");
    // The system's own rule for links in shared folders such as /tmp: another
    // user may have planted the link there to redirect what is written.
    struct stat folder {};
    if (::fstat(dirFd_, &folder) == 0 && (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH) &&
        st.st_uid != ::geteuid() && st.st_uid != folder.st_uid) {
      return MergeError{ErrorCode::PermissionDenied, FilePlace::Output(), 0,
                        TargetShown() + " is a symbolic link of user " + UserName(st.st_uid) +
                            " in a shared folder (sticky, anyone may write to it); it is not followed, as "
                            "the system would not follow it either: remove it or name another output"};
    }
    std::vector<char> text(static_cast<std::size_t>(st.st_size > PATH_MAX ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = ::readlinkat(dirFd_, name_.c_str(), text.data(), text.size());
    if (n < 0) return Fail(errno, TargetShown() + " cannot be examined");
    if (static_cast<std::size_t>(n) == text.size()) return Fail(ENAMETOOLONG, TargetShown() + " cannot be examined");
    const std::string link(text.data(), static_cast<std::size_t>(n));
    PathParts next = Split(link);
    const bool absolute = !link.empty() && link.front() == '/';
    int nextFd = OpenFolder(absolute ? AT_FDCWD : dirFd_, next.folder);
    const std::string nextShown = absolute ? next.folder : Joined(dirShown_, next.folder);
    if (nextFd < 0) {
      return Fail(errno, "cannot create a file in the folder " + QuotedPath(nextShown.empty() ? "." : nextShown));
    }
    ::close(dirFd_);
    dirFd_ = nextFd;
    dirShown_ = nextShown;
    name_ = next.name;
  }
}

std::optional<MergeError> AtomicOutput::ExamineTarget(bool force) {
  if (!S_ISREG(targetMode_)) {
    return MergeError{ErrorCode::PathFileAccess, FilePlace::Output(), 0,
                      TargetShown() + " is " + (S_ISDIR(targetMode_) ? "a folder" : "not a regular file") +
                          ", not a file that can be replaced"};
  }
  // A rename needs no right to write the file it replaces; without this test a
  // file the user may not change would be replaced all the same.
  if (::faccessat(dirFd_, name_.c_str(), W_OK, AT_EACCESS) != 0) {
    return Fail(errno, TargetShown() + " may not be written");
  }
  const uid_t me = ::geteuid();
  keepOwner_ = me == 0 || (targetUid_ == me && InOwnGroups(targetGid_));
  if (!keepOwner_ && !force) {
    return MergeError{ErrorCode::PermissionDenied, FilePlace::Output(), 0,
                      TargetShown() + " belongs to user " + UserName(targetUid_) + " and group " +
                          GroupName(targetGid_) +
                          "; a file written in its place would belong to you instead, which could open it "
                          "to others: nothing was written (--force replaces it all the same)"};
  }
  // Its attributes are read at the end through this handle, from the very file examined.
  targetFd_ = ::openat(dirFd_, name_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (targetFd_ < 0 && errno == EACCES) {
    targetFd_ = ::openat(dirFd_, name_.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  }
  if (targetFd_ < 0) return Fail(errno, TargetShown() + " cannot be examined");
  struct stat st {};
  if (::fstat(targetFd_, &st) != 0 || st.st_dev != targetDev_ || st.st_ino != targetIno_) {
    return Fail(EAGAIN, TargetShown() + " was replaced by another program while it was examined");
  }
  return std::nullopt;
}

std::optional<MergeError> AtomicOutput::Begin(const std::string& outputPath, bool force) {
  g_replaced = 0;
  force_ = force;
  if (outputPath.empty()) {
    return MergeError{ErrorCode::BadFileName, FilePlace::Output(), 0, "no output path was given"};
  }
  if (auto err = FindTarget(outputPath)) return err;
  if (targetExists_) {
    if (auto err = ExamineTarget(force)) return err;
  } else {
    std::vector<char> list(4096);
    const ssize_t n = ::fgetxattr(dirFd_, "system.posix_acl_default", list.data(), list.size());
    if (n > 0) folderDefaultList_.assign(list.data(), static_cast<std::size_t>(n));
  }
  RemoveStaleScratchFiles(dirFd_);

  // The name says which process made the file, so that the next merge here can
  // remove it should this one be killed; a long output name is cut so that the
  // scratch name still fits the longest name a folder entry may have.
  long nameMax = ::fpathconf(dirFd_, _PC_NAME_MAX);
  if (nameMax <= 0 || nameMax > NAME_MAX) nameMax = NAME_MAX;
  const std::string tail = std::string(kScratchMark) + std::to_string(::getpid()) + "-";
  const std::size_t fixed = 1 + tail.size() + 8 + kScratchEnd.size();
  const std::size_t room = static_cast<std::size_t>(nameMax) > fixed ? static_cast<std::size_t>(nameMax) - fixed : 0;
  std::size_t keep = std::min(name_.size(), room);
  while (keep > 0 && keep < name_.size() && (static_cast<unsigned char>(name_[keep]) & 0xC0u) == 0x80u) --keep;
  const std::string base = name_.substr(0, keep);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = "." + base + tail + RandomSuffix() + std::string(kScratchEnd);
    SignalsHeld held;  // a signal now finds the file made and known, or neither
    // O_EXCL never opens an existing file and, with O_CREAT, never follows a link.
    const int fd = ::openat(dirFd_, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::flock(fd, LOCK_EX | LOCK_NB);  // held while this merge runs
      fd_ = fd;
      scratchName_ = std::move(candidate);
      std::memcpy(g_pendingName, scratchName_.c_str(), scratchName_.size() + 1);
      g_pendingDir = dirFd_;
      g_hasPending = 1;
      return std::nullopt;
    }
    if (errno != EEXIST) {
      return Fail(errno, "cannot create a file in the folder " + QuotedPath(dirShown_.empty() ? "." : dirShown_));
    }
  }
  return Fail(EEXIST, "cannot create a uniquely named file in the folder " +
                          QuotedPath(dirShown_.empty() ? "." : dirShown_));
}

// Owner and group first (a change of owner clears the set-id bits), then the
// mode, then the access control list and user attributes.
std::optional<MergeError> AtomicOutput::GiveTargetsRights() {
  if (!targetExists_) {
    // As if created with 0666 here: by the folder's default access list, else by the umask.
    const std::string inherited = InheritedAccessList(folderDefaultList_, 0666);
    if (!inherited.empty()) {
      if (::fsetxattr(fd_, "system.posix_acl_access", inherited.data(), inherited.size(), 0) != 0) {
        return Fail(errno, "the access control list of " + TargetShown() + " could not be set");
      }
    } else if (::fchmod(fd_, NewFileMode()) != 0) {
      return Fail(errno, "the permissions of " + TargetShown() + " could not be set");
    }
    return std::nullopt;
  }
  struct stat now {};
  if (::fstatat(dirFd_, name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != targetDev_ ||
      now.st_ino != targetIno_) {
    return MergeError{ErrorCode::PathFileAccess, FilePlace::Output(), 0,
                      TargetShown() + " was replaced by another program while the merge ran; it was left as it is"};
  }
  if (keepOwner_) {
    // Root may yet be refused (a user namespace, a network file system that maps root).
    if (::fchown(fd_, targetUid_, targetGid_) != 0 && !force_) {
      return Fail(errno, "the owner and group of " + TargetShown() + " could not be kept");
    }
  } else if (InOwnGroups(targetGid_)) {
    ::fchown(fd_, static_cast<uid_t>(-1), targetGid_);  // --force: the group at least, where it may be kept
  }
  if (::fchmod(fd_, targetMode_ & 07777) != 0) {
    return Fail(errno, "the permissions of " + TargetShown() + " could not be kept");
  }
  std::string attribute;
  if (int err = CopyAttributes(targetFd_, fd_, attribute); err != 0) {
    return Fail(err, "the attribute " + Quoted(attribute) + " of " + TargetShown() + " could not be kept");
  }
  return std::nullopt;
}

std::optional<MergeError> AtomicOutput::Commit() {
  if (fd_ < 0) return Fail(EBADF, "nothing to write");
  if (::fsync(fd_) != 0) {
    int err = errno;
    Abandon();
    return Fail(err, "the result could not be written to disk");
  }
  if (auto err = GiveTargetsRights()) {
    Abandon();
    return err;
  }
  if (::close(fd_) != 0) {
    int err = errno;
    fd_ = -1;
    Abandon();
    return Fail(err, "the result could not be written to disk");
  }
  fd_ = -1;
  {
    SignalsHeld held;  // a signal now finds the output replaced, or as it was
    if (::renameat(dirFd_, scratchName_.c_str(), dirFd_, name_.c_str()) != 0) {
      int err = errno;
      Abandon();
      return Fail(err, TargetShown() + " could not be replaced");
    }
    g_hasPending = 0;
    g_replaced = 1;
  }
  scratchName_.clear();
  ::fsync(dirFd_);  // makes the rename itself durable; a failure here no longer loses data
  return std::nullopt;
}

void AtomicOutput::Abandon() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!scratchName_.empty()) {
    g_hasPending = 0;
    ::unlinkat(dirFd_, scratchName_.c_str(), 0);
    scratchName_.clear();
  }
}

void RemovePendingScratchFile() noexcept {
  if (g_hasPending) {
    g_hasPending = 0;
    ::unlinkat(g_pendingDir, g_pendingName, 0);
  }
}

bool OutputReplaced() noexcept { return g_replaced != 0; }

}  // namespace tandemo
