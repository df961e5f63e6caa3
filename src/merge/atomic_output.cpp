// Replacing the output, the same on every platform: the scratch file's name, the
// order of the steps and the messages. The system calls are the platform's.
#include "atomic_output.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <random>
#include <string_view>

namespace tandemo {
namespace {

volatile std::sig_atomic_t g_replaced = 0;

constexpr std::string_view kScratchMark = ".tandemo-";
constexpr std::string_view kScratchEnd = ".tmp";

std::string RandomSuffix() {
  static std::atomic<unsigned> counter{0};
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device rd;
  std::seed_seq seq{
      rd(), rd(), static_cast<unsigned>(platform::CurrentProcessId()),
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
std::uint64_t ScratchOwnerProcess(const std::string& fullName) {
  std::string_view name = fullName;
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
  std::uint64_t pid = 0;
  auto [end, ec] = std::from_chars(rest.data(), rest.data() + dash, pid);
  if (ec != std::errc() || end != rest.data() + dash || pid == 0) return 0;
  return pid;
}

}  // namespace

namespace platform {
std::string JoinedPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder == ".") return name;
  const char last = folder.back();
  return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}
}  // namespace platform

AtomicOutput::~AtomicOutput() { Abandon(); }

MergeError AtomicOutput::Fail(int err, std::string what) const {
  return OutputFailure(err, std::move(what));
}

std::string AtomicOutput::TargetShown() const {
  return QuotedPath(platform::JoinedPath(folder_->folderShown(), folder_->targetName()));
}

std::string AtomicOutput::scratchPath() const {
  if (scratchName_.empty()) return std::string();
  const std::string& folder = folder_->folderShown();
  return platform::JoinedPath(folder.empty() ? "." : folder, scratchName_);
}

std::optional<MergeError> AtomicOutput::Begin(const std::string& outputPath, bool force) {
  g_replaced = 0;
  if (outputPath.empty()) {
    return MergeError{ErrorCode::BadFileName, FilePlace::Output(), 0, "no output path was given"};
  }
  folder_ = std::make_unique<platform::OutputFolder>();
  if (auto err = folder_->Find(outputPath)) return err;
  if (auto err = folder_->Examine(force)) return err;
  folder_->RemoveStaleScratchFiles(ScratchOwnerProcess);

  // The name says which process made the file, so that the next merge here can
  // remove it should this one be killed; a long output name is cut so that the
  // scratch name still fits the longest name a folder entry may have.
  const std::string& name = folder_->targetName();
  const std::string shownFolder =
      QuotedPath(folder_->folderShown().empty() ? "." : folder_->folderShown());
  const std::string tail =
      std::string(kScratchMark) + std::to_string(platform::CurrentProcessId()) + "-";
  const std::size_t fixed = 1 + tail.size() + 8 + kScratchEnd.size();
  const std::size_t nameMax = folder_->LongestName();
  const std::size_t room = nameMax > fixed ? nameMax - fixed : 0;
  std::size_t keep = std::min(name.size(), room);
  while (keep > 0 && keep < name.size() &&
         (static_cast<unsigned char>(name[keep]) & 0xC0u) == 0x80u)
    --keep;
  const std::string base = name.substr(0, keep);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = "." + base + tail + RandomSuffix() + std::string(kScratchEnd);
    platform::SignalsHeld held;  // a signal now finds the file made and known, or neither
    int fd = -1;
    const int err = folder_->CreateScratch(candidate, fd);
    if (err == 0) {
      fd_ = fd;
      scratchName_ = std::move(candidate);
      return std::nullopt;
    }
    if (err != EEXIST) return Fail(err, "cannot create a file in the folder " + shownFolder);
  }
  return Fail(EEXIST, "cannot create a uniquely named file in the folder " + shownFolder);
}

std::optional<MergeError> AtomicOutput::Commit() {
  if (fd_ < 0) return Fail(EBADF, "nothing to write");
  if (int err = folder_->Flush(fd_); err != 0) {
    Abandon();
    return Fail(err, "the result could not be written to disk");
  }
  if (auto err = folder_->GiveTargetsRights(fd_)) {
    Abandon();
    return err;
  }
  const int closed = platform::CloseFile(fd_);
  fd_ = -1;
  if (closed != 0) {
    Abandon();
    return Fail(closed, "the result could not be written to disk");
  }
  {
    platform::SignalsHeld held;  // a signal now finds the output replaced, or as it was
    if (int err = folder_->Replace(scratchName_); err != 0) {
      Abandon();
      return Fail(err, TargetShown() + " could not be replaced");
    }
    g_replaced = 1;
  }
  scratchName_.clear();
  folder_
      ->SyncFolder();  // makes the replacement itself durable; a failure here no longer loses data
  return std::nullopt;
}

void AtomicOutput::Abandon() {
  if (fd_ >= 0) {
    platform::CloseFile(fd_);
    fd_ = -1;
  }
  if (!scratchName_.empty()) {
    folder_->Remove(scratchName_);
    scratchName_.clear();
  }
}

void RemovePendingScratchFile() noexcept { platform::RemovePendingScratch(); }

bool OutputReplaced() noexcept { return g_replaced != 0; }

}  // namespace tandemo
