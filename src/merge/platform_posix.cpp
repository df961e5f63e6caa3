// The POSIX side of the engine's system calls: descriptors, folder handles,
// links, owner, mode, access control lists and extended attributes, signals.
#include "platform.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <fstream>
#include <limits>
#include <string_view>
#include <vector>

namespace tandemo::platform {
namespace {

// The scratch file of the merge under way, for RemovePendingScratch(): a folder
// handle and a fixed buffer, since a signal handler may neither allocate nor lock.
char g_pendingName[NAME_MAX + 1];
volatile std::sig_atomic_t g_pendingDir = -1;
volatile std::sig_atomic_t g_hasPending = 0;

constexpr int kMaxLinkHops = 40;  // as many as the system follows in one path

struct PathParts {
  std::string folder;  // "" for the current folder
  std::string name;
};

PathParts Split(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {"", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// A folder handle that serves for *at calls, fsync and listing; a folder that
// may be searched but not read still gives a handle for the *at calls.
int OpenFolder(int at, const std::string& folder) {
  const char* path = folder.empty() ? "." : folder.c_str();
  int fd = ::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = ::openat(at, path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  return fd;
}

// Removes the scratch files that merges into this folder left when they were
// killed: the runner's own, whose process no longer runs and which no process
// holds locked (a live merge locks its scratch file, which guards against
// process numbers of other machines or namespaces).
void RemoveStale(int dirFd, std::uint64_t (*ownerOf)(const std::string& name)) {
  int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return;
  DIR* dir = ::fdopendir(listFd);
  if (!dir) {
    ::close(listFd);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::uint64_t owner = ownerOf(entry->d_name);
    if (owner == 0 || owner > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max()))
      continue;
    const pid_t pid = static_cast<pid_t>(owner);
    if (pid == ::getpid()) continue;
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
  for (std::size_t at = kHeader; at < list.size(); at += kEntry)
    hasMask = hasMask || tagAt(at) == kMask;
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
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buf.data(), buf.size(), &found) == 0 && found)
    return Printable(found->pw_name);
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  std::vector<char> buf(16384);
  group entry{};
  group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buf.data(), buf.size(), &found) == 0 && found)
    return Printable(found->gr_name);
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
    if (::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(size), 0) != 0)
      return errno;
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

FileStatus StatusFrom(const struct stat& st) {
  FileStatus s;
  s.isRegular = S_ISREG(st.st_mode);
  s.isDirectory = S_ISDIR(st.st_mode);
  s.device = static_cast<std::uint64_t>(st.st_dev);
  s.index = static_cast<std::uint64_t>(st.st_ino);
  s.size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  s.modifiedSeconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  s.modifiedNanoseconds = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
  return s;
}

}  // namespace

int OpenForReading(const std::string& path, int& fd) {
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd < 0 ? errno : 0;
}

int StatusOf(int fd, FileStatus& status) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  status = StatusFrom(st);
  return 0;
}

int StatusOfPath(const std::string& path, FileStatus& status) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  status = StatusFrom(st);
  return 0;
}

long ReadSome(int fd, char* into, std::size_t size) {
  return static_cast<long>(::read(fd, into, size));
}

long ReadSomeAt(int fd, char* into, std::size_t size, std::uint64_t offset) {
  return static_cast<long>(::pread(fd, into, size, static_cast<off_t>(offset)));
}

bool SeekTo(int fd, std::uint64_t offset) {
  return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

long WriteSome(int fd, const char* from, std::size_t size) {
  return static_cast<long>(::write(fd, from, size));
}

void StartWriteback([[maybe_unused]] int fd, [[maybe_unused]] std::uint64_t offset,
                    [[maybe_unused]] std::uint64_t size) noexcept {
#ifdef __linux__
  // Only a hint: on a pipe or a file system without it, the flush does all the work.
  const int saved = errno;
  ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(size),
                    SYNC_FILE_RANGE_WRITE);
  errno = saved;
#endif
}

int CloseFile(int fd) { return ::close(fd) == 0 ? 0 : errno; }

std::uint64_t CurrentProcessId() { return static_cast<std::uint64_t>(::getpid()); }

std::string ErrorText(int err) { return std::strerror(err); }

static_assert(sizeof(sigset_t) <= 128 && alignof(sigset_t) <= 16);

SignalsHeld::SignalsHeld() {
  sigset_t all;
  sigfillset(&all);
  ::pthread_sigmask(SIG_BLOCK, &all, reinterpret_cast<sigset_t*>(saved_));
}

SignalsHeld::~SignalsHeld() {
  ::pthread_sigmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(saved_), nullptr);
}

struct OutputFolder::State {
  int dirFd = -1;
  std::string dirShown;
  std::string name;
  std::string folderDefaultList;  // the folder's default access list, for a new file
  int targetFd = -1;              // the file to be replaced, when there is one
  bool targetExists = false;
  bool keepOwner = false;
  bool force = false;
  uid_t targetUid = 0;
  gid_t targetGid = 0;
  mode_t targetMode = 0;
  dev_t targetDev = 0;
  ino_t targetIno = 0;

  std::string TargetShown() const { return QuotedPath(JoinedPath(dirShown, name)); }
};

OutputFolder::OutputFolder() : state_(std::make_unique<State>()) {}

OutputFolder::~OutputFolder() {
  if (state_->targetFd >= 0) ::close(state_->targetFd);
  if (state_->dirFd >= 0) ::close(state_->dirFd);
}

bool OutputFolder::targetExists() const { return state_->targetExists; }
const std::string& OutputFolder::folderShown() const { return state_->dirShown; }
const std::string& OutputFolder::targetName() const { return state_->name; }

// Walks the links at the output path one at a time, each from a handle of the
// folder it lies in, so that nothing is resolved again between the checks and the rename.
std::optional<MergeError> OutputFolder::Find(const std::string& outputPath) {
  State& s = *state_;
  PathParts parts = Split(outputPath);
  s.dirFd = OpenFolder(AT_FDCWD, parts.folder);
  if (s.dirFd < 0) {
    return OutputFailure(errno, "cannot create a file in the folder " +
                                    QuotedPath(parts.folder.empty() ? "." : parts.folder));
  }
  s.dirShown = parts.folder;
  s.name = parts.name;
  for (int hops = 0;; ++hops) {
    if (s.name.empty() || s.name == "." || s.name == "..") {
      return MergeError{ErrorCode::PathFileAccess, FilePlace::Output(), 0,
                        s.TargetShown() + " is a folder, not a file that can be replaced"};
    }
    struct stat st {};
    if (::fstatat(s.dirFd, s.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) break;  // a new file
      return OutputFailure(errno, s.TargetShown() + " cannot be examined");
    }
    if (!S_ISLNK(st.st_mode)) {
      s.targetExists = true;
      s.targetUid = st.st_uid;
      s.targetGid = st.st_gid;
      s.targetMode = st.st_mode;
      s.targetDev = st.st_dev;
      s.targetIno = st.st_ino;
      return std::nullopt;
    }
    if (hops == kMaxLinkHops)
      return OutputFailure(ELOOP,
                           "the output path " + QuotedPath(outputPath) + " is a loop of links");
    // The system's own rule for links in shared folders such as /tmp: another
    // user may have planted the link there to redirect what is written.
    struct stat folder {};
    if (::fstat(s.dirFd, &folder) == 0 && (folder.st_mode & S_ISVTX) &&
        (folder.st_mode & S_IWOTH) && st.st_uid != ::geteuid() && st.st_uid != folder.st_uid) {
      return MergeError{
          ErrorCode::PermissionDenied, FilePlace::Output(), 0,
          s.TargetShown() + " is a symbolic link of user " + UserName(st.st_uid) +
              " in a shared folder (sticky, anyone may write to it); it is not followed, as "
              "the system would not follow it either: remove it or name another output"};
    }
    std::vector<char> text(static_cast<std::size_t>(st.st_size > PATH_MAX ? st.st_size : PATH_MAX) +
                           1);
    const ssize_t n = ::readlinkat(s.dirFd, s.name.c_str(), text.data(), text.size());
    if (n < 0) return OutputFailure(errno, s.TargetShown() + " cannot be examined");
    if (static_cast<std::size_t>(n) == text.size())
      return OutputFailure(ENAMETOOLONG, s.TargetShown() + " cannot be examined");
    const std::string link(text.data(), static_cast<std::size_t>(n));
    PathParts next = Split(link);
    const bool absolute = !link.empty() && link.front() == '/';
    int nextFd = OpenFolder(absolute ? AT_FDCWD : s.dirFd, next.folder);
    const std::string nextShown = absolute ? next.folder : JoinedPath(s.dirShown, next.folder);
    if (nextFd < 0) {
      return OutputFailure(errno, "cannot create a file in the folder " +
                                      QuotedPath(nextShown.empty() ? "." : nextShown));
    }
    ::close(s.dirFd);
    s.dirFd = nextFd;
    s.dirShown = nextShown;
    s.name = next.name;
  }
  std::vector<char> list(4096);
  const ssize_t n = ::fgetxattr(s.dirFd, "system.posix_acl_default", list.data(), list.size());
  if (n > 0) s.folderDefaultList.assign(list.data(), static_cast<std::size_t>(n));
  return std::nullopt;
}

std::optional<MergeError> OutputFolder::Examine(bool force) {
  State& s = *state_;
  s.force = force;
  if (!s.targetExists) return std::nullopt;
  if (!S_ISREG(s.targetMode)) {
    return MergeError{ErrorCode::PathFileAccess, FilePlace::Output(), 0,
                      s.TargetShown() + " is " +
                          (S_ISDIR(s.targetMode) ? "a folder" : "not a regular file") +
                          ", not a file that can be replaced"};
  }
  // A rename needs no right to write the file it replaces; without this test a
  // file the user may not change would be replaced all the same.
  if (::faccessat(s.dirFd, s.name.c_str(), W_OK, AT_EACCESS) != 0) {
    return OutputFailure(errno, s.TargetShown() + " may not be written");
  }
  const uid_t me = ::geteuid();
  s.keepOwner = me == 0 || (s.targetUid == me && InOwnGroups(s.targetGid));
  if (!s.keepOwner && !force) {
    return MergeError{
        ErrorCode::PermissionDenied, FilePlace::Output(), 0,
        s.TargetShown() + " belongs to user " + UserName(s.targetUid) + " and group " +
            GroupName(s.targetGid) +
            "; a file written in its place would belong to you instead, which could open it "
            "to others: nothing was written (--force replaces it all the same)"};
  }
  // Its attributes are read at the end through this handle, from the very file examined.
  s.targetFd =
      ::openat(s.dirFd, s.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (s.targetFd < 0 && errno == EACCES) {
    s.targetFd = ::openat(s.dirFd, s.name.c_str(),
                          O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  }
  if (s.targetFd < 0) return OutputFailure(errno, s.TargetShown() + " cannot be examined");
  struct stat st {};
  if (::fstat(s.targetFd, &st) != 0 || st.st_dev != s.targetDev || st.st_ino != s.targetIno) {
    return OutputFailure(
        EAGAIN, s.TargetShown() + " was replaced by another program while it was examined");
  }
  return std::nullopt;
}

std::size_t OutputFolder::LongestName() const {
  long nameMax = ::fpathconf(state_->dirFd, _PC_NAME_MAX);
  if (nameMax <= 0 || nameMax > NAME_MAX) nameMax = NAME_MAX;
  return static_cast<std::size_t>(nameMax);
}

void OutputFolder::RemoveStaleScratchFiles(
    std::uint64_t (*ownerOf)(const std::string& name)) const {
  RemoveStale(state_->dirFd, ownerOf);
}

int OutputFolder::CreateScratch(const std::string& name, int& fd) {
  // O_EXCL never opens an existing file and, with O_CREAT, never follows a link.
  fd = ::openat(state_->dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                0600);
  if (fd < 0) return errno;
  ::flock(fd, LOCK_EX | LOCK_NB);  // held while this merge runs
  std::memcpy(g_pendingName, name.c_str(), name.size() + 1);
  g_pendingDir = state_->dirFd;
  g_hasPending = 1;
  return 0;
}

int OutputFolder::Flush(int fd) const { return ::fsync(fd) == 0 ? 0 : errno; }

// Owner and group first (a change of owner clears the set-id bits), then the
// mode, then the access control list and user attributes.
std::optional<MergeError> OutputFolder::GiveTargetsRights(int fd) {
  State& s = *state_;
  if (!s.targetExists) {
    // As if created with 0666 here: by the folder's default access list, else by the umask.
    const std::string inherited = InheritedAccessList(s.folderDefaultList, 0666);
    if (!inherited.empty()) {
      if (::fsetxattr(fd, "system.posix_acl_access", inherited.data(), inherited.size(), 0) != 0) {
        return OutputFailure(errno,
                             "the access control list of " + s.TargetShown() + " could not be set");
      }
    } else if (::fchmod(fd, NewFileMode()) != 0) {
      return OutputFailure(errno, "the permissions of " + s.TargetShown() + " could not be set");
    }
    return std::nullopt;
  }
  struct stat now {};
  if (::fstatat(s.dirFd, s.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
      now.st_dev != s.targetDev || now.st_ino != s.targetIno) {
    return MergeError{
        ErrorCode::PathFileAccess, FilePlace::Output(), 0,
        s.TargetShown() +
            " was replaced by another program while the merge ran; it was left as it is"};
  }
  if (s.keepOwner) {
    // Root may yet be refused (a user namespace, a network file system that maps root).
    if (::fchown(fd, s.targetUid, s.targetGid) != 0 && !s.force) {
      return OutputFailure(errno,
                           "the owner and group of " + s.TargetShown() + " could not be kept");
    }
  } else if (InOwnGroups(s.targetGid)) {
    ::fchown(fd, static_cast<uid_t>(-1),
             s.targetGid);  // --force: the group at least, where it may be kept
  }
  if (::fchmod(fd, s.targetMode & 07777) != 0) {
    return OutputFailure(errno, "the permissions of " + s.TargetShown() + " could not be kept");
  }
  std::string attribute;
  if (int err = CopyAttributes(s.targetFd, fd, attribute); err != 0) {
    return OutputFailure(err, "the attribute " + Quoted(attribute) + " of " + s.TargetShown() +
                                  " could not be kept");
  }
  return std::nullopt;
}

int OutputFolder::Replace(const std::string& scratchName) {
  if (::renameat(state_->dirFd, scratchName.c_str(), state_->dirFd, state_->name.c_str()) != 0)
    return errno;
  g_hasPending = 0;
  return 0;
}

void OutputFolder::Remove(const std::string& scratchName) const {
  g_hasPending = 0;
  ::unlinkat(state_->dirFd, scratchName.c_str(), 0);
}

void OutputFolder::SyncFolder() const { ::fsync(state_->dirFd); }

void RemovePendingScratch() noexcept {
  if (g_hasPending) {
    g_hasPending = 0;
    ::unlinkat(g_pendingDir, g_pendingName, 0);
  }
}

}  // namespace tandemo::platform
