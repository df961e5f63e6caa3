#include "atomic_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

namespace tandemo {
namespace {

// The scratch file of the merge under way, for RemovePendingScratchFile(): a
// fixed buffer, since a signal handler may neither allocate nor lock.
char g_pending[4096];
volatile std::sig_atomic_t g_hasPending = 0;

void SetPending(const std::string& path) {
  g_hasPending = 0;
  if (path.size() >= sizeof g_pending) return;
  std::memcpy(g_pending, path.c_str(), path.size() + 1);
  g_hasPending = 1;
}

std::string DirName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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
  std::string s(10, 'x');
  for (char& c : s) c = kAlphabet[pick(gen)];
  return s;
}

}  // namespace

bool ResolveLinks(const std::string& path, std::string& resolved) {
  resolved = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(resolved.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    ssize_t n = ::readlink(resolved.c_str(), link.data(), link.size());
    if (n < 0) return true;  // vanished meanwhile: treat as the path itself
    link.resize(static_cast<std::size_t>(n));
    resolved = (!link.empty() && link.front() == '/') ? link : DirName(resolved) + "/" + link;
  }
  errno = ELOOP;
  return false;
}

AtomicOutput::~AtomicOutput() { Abandon(); }

MergeError AtomicOutput::Fail(int err, std::string what) const {
  MergeError e;
  e.code = err == ENOENT ? ErrorCode::PathNotFound : CodeForErrno(err);
  e.file = FilePlace::Output();
  e.detail = std::move(what) + ": " + std::strerror(err);
  return e;
}

std::optional<MergeError> AtomicOutput::Begin(const std::string& outputPath) {
  if (outputPath.empty()) {
    return MergeError{ErrorCode::BadFileName, FilePlace::Output(), 0, "no output path was given"};
  }
  if (!ResolveLinks(outputPath, target_)) {
    return Fail(errno, "the output path \"" + outputPath + "\" is a loop of links");
  }
  struct stat st {};
  if (::stat(target_.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      return MergeError{ErrorCode::PathFileAccess, FilePlace::Output(), 0,
                        "\"" + outputPath + "\" is " +
                            (S_ISDIR(st.st_mode) ? "a folder" : "not a regular file") +
                            ", not a file that can be replaced"};
    }
    targetExists_ = true;
    targetMode_ = st.st_mode & 07777;
    // A rename needs no right to write the file it replaces; without this test a
    // file the user may not change would be replaced all the same.
    if (::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
      return Fail(errno, "\"" + outputPath + "\" may not be written");
    }
  } else if (errno != ENOENT) {
    return Fail(errno, "\"" + outputPath + "\" cannot be examined");
  }

  std::string dir = DirName(target_);
  // The scratch name adds 24 characters to the output's own; a long name is cut
  // so that the scratch name still fits within the 255 a folder entry may have.
  std::string base = BaseName(target_).substr(0, 200);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = dir + "/." + base + ".tandemo-" + RandomSuffix() + ".tmp";
    // O_EXCL never opens an existing file and, with O_CREAT, never follows a link.
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd_ = fd;
      scratch_ = std::move(candidate);
      SetPending(scratch_);
      return std::nullopt;
    }
    if (errno != EEXIST) {
      return Fail(errno, "cannot create a file in the folder \"" + dir + "\"");
    }
  }
  return Fail(EEXIST, "cannot create a uniquely named file in the folder \"" + dir + "\"");
}

std::optional<MergeError> AtomicOutput::Commit() {
  if (fd_ < 0) return Fail(EBADF, "nothing to write");
  if (::fsync(fd_) != 0) {
    int err = errno;
    Abandon();
    return Fail(err, "the result could not be written to disk");
  }
  if (targetExists_ && ::fchmod(fd_, static_cast<mode_t>(targetMode_)) != 0) {
    int err = errno;
    Abandon();
    return Fail(err, "the permissions of \"" + target_ + "\" could not be kept");
  }
  if (::close(fd_) != 0) {
    int err = errno;
    fd_ = -1;
    Abandon();
    return Fail(err, "the result could not be written to disk");
  }
  fd_ = -1;
  if (::rename(scratch_.c_str(), target_.c_str()) != 0) {
    int err = errno;
    Abandon();
    return Fail(err, "\"" + target_ + "\" could not be replaced");
  }
  g_hasPending = 0;
  scratch_.clear();
  // Make the rename itself durable; a failure here no longer loses data.
  int dirFd = ::open(DirName(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return std::nullopt;
}

void AtomicOutput::Abandon() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!scratch_.empty()) {
    g_hasPending = 0;
    ::unlink(scratch_.c_str());
    scratch_.clear();
  }
}

void RemovePendingScratchFile() noexcept {
  if (g_hasPending) {
    g_hasPending = 0;
    ::unlink(g_pending);
  }
}

}  // namespace tandemo
