// The Windows side of the engine's system calls: paths UTF-8 in the engine, wide
// at every call; files are C runtime descriptors over handles shared for reading.
// No Windows meaning, so not done here: owner and group, POSIX modes and access
// lists, user attributes (ReplaceFileW keeps the replaced file's attributes and
// access list itself), the sticky-folder rule for links, and the folder flush after
// a rename (MOVEFILE_WRITE_THROUGH and ReplaceFileW return once it is on disk).
#include "platform.hpp"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace tandemo::platform {
namespace {

// The scratch file of the merge under way, as a whole wide path in a fixed
// buffer: a console control handler may not allocate.
constexpr std::size_t kLongestWidePath = 32768;
wchar_t g_pendingPath[kLongestWidePath];
HANDLE volatile g_pendingHandle = INVALID_HANDLE_VALUE;
volatile LONG g_hasPending = 0;

// A path as the system calls take it; false for text that is not UTF-8.
bool ToWide(const std::string& text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<std::size_t>(n));
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n) ==
         n;
}

std::string ToUtf8(const wchar_t* wide) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string text(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), n, nullptr, nullptr);
  text.resize(static_cast<std::size_t>(n - 1));
  return text;
}

// The errno value the engine words its messages by, for a system error.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD: return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: return EBUSY;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILE_TOO_LARGE: return EFBIG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return EINVAL;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE: return EIO;
    default: return EIO;
  }
}

int LastErrno() { return ErrnoOf(::GetLastError()); }

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

// 100-nanosecond ticks since 1601 to seconds and nanoseconds since 1970.
void SetModified(const FILETIME& time, FileStatus& status) {
  constexpr std::int64_t kTicksPerSecond = 10000000;
  constexpr std::int64_t kEpochDifference = 11644473600;  // seconds from 1601 to 1970
  const std::int64_t ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  status.modifiedSeconds = ticks / kTicksPerSecond - kEpochDifference;
  status.modifiedNanoseconds = ticks % kTicksPerSecond * 100;
}

int StatusOfHandle(HANDLE handle, FileStatus& status) {
  status = FileStatus{};
  const DWORD type = ::GetFileType(handle);
  if (type != FILE_TYPE_DISK) {
    if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR) return LastErrno();
    return 0;  // a pipe or a device: neither file nor folder
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return LastErrno();
  status.isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status.isRegular = !status.isDirectory;
  status.device = info.dwVolumeSerialNumber;
  status.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  SetModified(info.ftLastWriteTime, status);
  return 0;
}

// Opens a path only to learn what it is: no right to read its content is needed.
HANDLE OpenToExamine(const std::wstring& path) {
  return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

struct PathParts {
  std::string folder;  // "" for the current folder
  std::string name;
};

PathParts Split(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) {
    if (path.size() >= 2 && path[1] == ':') return {path.substr(0, 2), path.substr(2)};  // "C:name"
    return {"", path};
  }
  const bool root = slash == 0 || (slash == 2 && path[1] == ':');
  return {path.substr(0, root ? slash + 1 : slash), path.substr(slash + 1)};
}

// Whether process `pid` still runs; a process that cannot be asked is taken as running.
bool ProcessRuns(std::uint64_t pid) {
  if (pid > MAXDWORD) return false;
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!process) return ::GetLastError() != ERROR_INVALID_PARAMETER;
  const bool runs = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return runs;
}

}  // namespace

int OpenForReading(const std::string& path, int& fd) {
  fd = -1;
  std::wstring wide;
  if (!ToWide(path, wide)) return EILSEQ;
  // Shared with every reader and writer, and with a replacement of the file: an
  // input may be the output of a forced merge.
  HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED) {  // a folder is opened only as one; say what it is
      const DWORD attributes = ::GetFileAttributesW(wide.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return EISDIR;
    }
    return ErrnoOf(error);
  }
  fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    return EMFILE;
  }
  return 0;
}

int StatusOf(int fd, FileStatus& status) {
  HANDLE handle = HandleOf(fd);
  if (handle == INVALID_HANDLE_VALUE) return EBADF;
  return StatusOfHandle(handle, status);
}

int StatusOfPath(const std::string& path, FileStatus& status) {
  std::wstring wide;
  if (!ToWide(path, wide)) return EILSEQ;
  HANDLE handle = OpenToExamine(wide);
  if (handle == INVALID_HANDLE_VALUE) return LastErrno();
  const int err = StatusOfHandle(handle, status);
  ::CloseHandle(handle);
  return err;
}

long ReadSome(int fd, char* into, std::size_t size) {
  const unsigned count =
      size > INT_MAX ? static_cast<unsigned>(INT_MAX) : static_cast<unsigned>(size);
  return ::_read(fd, into, count);
}

// As pread: the file position stays where sequential reading left it.
long ReadSomeAt(int fd, char* into, std::size_t size, std::uint64_t offset) {
  HANDLE handle = HandleOf(fd);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return -1;
  }
  LARGE_INTEGER zero{}, position{};
  if (!::SetFilePointerEx(handle, zero, &position, FILE_CURRENT)) {
    errno = LastErrno();
    return -1;
  }
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD count = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
  DWORD done = 0;
  const BOOL ok = ::ReadFile(handle, into, count, &done, &at);
  const DWORD error = ::GetLastError();
  ::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN);
  if (!ok && error != ERROR_HANDLE_EOF) {
    errno = ErrnoOf(error);
    return -1;
  }
  return static_cast<long>(done);
}

bool SeekTo(int fd, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(LLONG_MAX)) {
    errno = EINVAL;
    return false;
  }
  return ::_lseeki64(fd, static_cast<long long>(offset), SEEK_SET) >= 0;
}

long WriteSome(int fd, const char* from, std::size_t size) {
  const unsigned count =
      size > INT_MAX ? static_cast<unsigned>(INT_MAX) : static_cast<unsigned>(size);
  return ::_write(fd, from, count);
}

// Windows has no call that starts writing a range without waiting for it; the
// flush at the end does all the work.
void StartWriteback(int, std::uint64_t, std::uint64_t) noexcept {}

int CloseFile(int fd) { return ::_close(fd) == 0 ? 0 : errno; }

std::uint64_t CurrentProcessId() { return ::GetCurrentProcessId(); }

// The same words as on Linux for the values the engine meets, so that a message
// reads alike on both; the C runtime's own text for the rest.
std::string ErrorText(int err) {
  switch (err) {
    case EPERM: return "Operation not permitted";
    case ENOENT: return "No such file or directory";
    case EIO: return "Input/output error";
    case EBADF: return "Bad file descriptor";
    case EAGAIN: return "Resource temporarily unavailable";
    case ENOMEM: return "Cannot allocate memory";
    case EACCES: return "Permission denied";
    case EBUSY: return "Device or resource busy";
    case EEXIST: return "File exists";
    case EXDEV: return "Invalid cross-device link";
    case ENOTDIR: return "Not a directory";
    case EISDIR: return "Is a directory";
    case EINVAL: return "Invalid argument";
    case EMFILE: return "Too many open files";
    case EFBIG: return "File too large";
    case ENOSPC: return "No space left on device";
    case EROFS: return "Read-only file system";
    case ENAMETOOLONG: return "File name too long";
    case EILSEQ: return "Invalid or incomplete multibyte or wide character";
    case ELOOP: return "Too many levels of symbolic links";
    default: return std::strerror(err);
  }
}

// Console control events reach their handler on a thread of its own: there is no
// mask to hold them off with, and removing a scratch file being renamed fails harmlessly.
SignalsHeld::SignalsHeld() { std::memset(saved_, 0, sizeof(saved_)); }
SignalsHeld::~SignalsHeld() = default;

struct OutputFolder::State {
  std::string folderShown;
  std::wstring folderWide;  // with its separator at the end; empty for the current folder
  std::string name;
  std::wstring targetWide;
  bool targetExists = false;
  DWORD targetAttributes = 0;
  std::uint64_t targetVolume = 0;
  std::uint64_t targetIndex = 0;

  std::string TargetShown() const { return QuotedPath(JoinedPath(folderShown, name)); }
  std::wstring InFolder(const std::wstring& entry) const { return folderWide + entry; }
};

OutputFolder::OutputFolder() : state_(std::make_unique<State>()) {}
OutputFolder::~OutputFolder() = default;

bool OutputFolder::targetExists() const { return state_->targetExists; }
const std::string& OutputFolder::folderShown() const { return state_->folderShown; }
const std::string& OutputFolder::targetName() const { return state_->name; }

std::optional<MergeError> OutputFolder::Find(const std::string& outputPath) {
  State& s = *state_;
  PathParts parts = Split(outputPath);
  s.folderShown = parts.folder;
  s.name = parts.name;
  const std::string folderText = parts.folder.empty() ? "." : parts.folder;
  const std::string cannotCreate = "cannot create a file in the folder " + QuotedPath(folderText);
  std::wstring name;
  if (!ToWide(parts.folder, s.folderWide) || !ToWide(parts.name, name))
    return OutputFailure(EILSEQ, cannotCreate);
  const DWORD folderAttributes =
      ::GetFileAttributesW(s.folderWide.empty() ? L"." : s.folderWide.c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES) return OutputFailure(LastErrno(), cannotCreate);
  if (!(folderAttributes & FILE_ATTRIBUTE_DIRECTORY)) return OutputFailure(ENOTDIR, cannotCreate);
  // Whole paths from here on: ReplaceFileW under Wine fails on a relative one.
  const std::wstring given = s.folderWide.empty() ? std::wstring(L".") : s.folderWide;
  const DWORD length = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  std::wstring full(length, L'\0');
  if (length == 0 ||
      ::GetFullPathNameW(given.c_str(), length, full.data(), nullptr) != length - 1) {
    return OutputFailure(LastErrno(), cannotCreate);
  }
  full.resize(length - 1);
  if (!full.empty() && full.back() != L'/' && full.back() != L'\\') full += L'\\';
  s.folderWide = std::move(full);
  if (s.name.empty() || s.name == "." || s.name == "..") {
    return MergeError{ErrorCode::PathFileAccess, FilePlace::Output(), 0,
                      s.TargetShown() + " is a folder, not a file that can be replaced"};
  }
  s.targetWide = s.InFolder(name);
  const DWORD attributes = ::GetFileAttributesW(s.targetWide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;  // a new file
    return OutputFailure(ErrnoOf(error), s.TargetShown() + " cannot be examined");
  }
  s.targetExists = true;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    return MergeError{ErrorCode::PathFileAccess, FilePlace::Output(), 0,
                      s.TargetShown() + " is a folder, not a file that can be replaced"};
  }
  // A replacement would put the file in the link's place instead of writing where it leads.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return MergeError{
        ErrorCode::PathFileAccess, FilePlace::Output(), 0,
        s.TargetShown() + " is a symbolic link; name the file it leads to as the output"};
  }
  s.targetAttributes = attributes;
  return std::nullopt;
}

// Owners have no part in this here: a replaced file keeps its access list whoever writes it.
std::optional<MergeError> OutputFolder::Examine(bool /*force*/) {
  State& s = *state_;
  if (!s.targetExists) return std::nullopt;
  // A rename needs no right to write the file it replaces; a read-only file stays as it is.
  if (s.targetAttributes & FILE_ATTRIBUTE_READONLY)
    return OutputFailure(EACCES, s.TargetShown() + " may not be written");
  HANDLE target = ::CreateFileW(s.targetWide.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (target == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
      return MergeError{ErrorCode::PathFileAccess, FilePlace::Output(), 0,
                        s.TargetShown() +
                            " is open in another program that does not let it be replaced; "
                            "close it there and merge again"};
    }
    return OutputFailure(ErrnoOf(error), s.TargetShown() + " may not be written");
  }
  FileStatus status;
  const int err = StatusOfHandle(target, status);
  ::CloseHandle(target);
  if (err != 0) return OutputFailure(err, s.TargetShown() + " cannot be examined");
  if (!status.isRegular) {
    return MergeError{ErrorCode::PathFileAccess, FilePlace::Output(), 0,
                      s.TargetShown() + " is not a regular file, not a file that can be replaced"};
  }
  s.targetVolume = status.device;
  s.targetIndex = status.index;
  return std::nullopt;
}

// Folder entries hold 255 UTF-16 units; 255 bytes of UTF-8 never need more.
std::size_t OutputFolder::LongestName() const { return MAX_PATH - 5; }

void OutputFolder::RemoveStaleScratchFiles(
    std::uint64_t (*ownerOf)(const std::string& name)) const {
  WIN32_FIND_DATAW entry{};
  HANDLE search = ::FindFirstFileW(state_->InFolder(L".*.tmp").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
      continue;
    const std::uint64_t pid = ownerOf(ToUtf8(entry.cFileName));
    if (pid == 0 || pid == CurrentProcessId() || ProcessRuns(pid)) continue;
    ::DeleteFileW(state_->InFolder(entry.cFileName).c_str());
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
}

int OutputFolder::CreateScratch(const std::string& name, int& fd) {
  fd = -1;
  std::wstring wide;
  if (!ToWide(name, wide)) return EILSEQ;
  const std::wstring path = state_->InFolder(wide);
  if (path.size() >= kLongestWidePath) return ENAMETOOLONG;
  // CREATE_NEW never opens an existing file; no other program may write to it meanwhile.
  // Deleting stays open, so that a console control handler can remove it.
  HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastErrno();
  fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    ::DeleteFileW(path.c_str());
    return EMFILE;
  }
  std::memcpy(g_pendingPath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  g_pendingHandle = handle;
  ::InterlockedExchange(&g_hasPending, 1);
  return 0;
}

int OutputFolder::Flush(int fd) const { return ::FlushFileBuffers(HandleOf(fd)) ? 0 : LastErrno(); }

// A new file keeps the access list it took from the folder when it was created,
// which is what a new file gets there; ReplaceFileW gives it the replaced file's.
std::optional<MergeError> OutputFolder::GiveTargetsRights(int /*fd*/) {
  State& s = *state_;
  if (!s.targetExists) return std::nullopt;
  FileStatus now;
  HANDLE target = OpenToExamine(s.targetWide);
  const bool same = target != INVALID_HANDLE_VALUE && StatusOfHandle(target, now) == 0 &&
                    now.device == s.targetVolume && now.index == s.targetIndex;
  if (target != INVALID_HANDLE_VALUE) ::CloseHandle(target);
  if (!same) {
    return MergeError{
        ErrorCode::PathFileAccess, FilePlace::Output(), 0,
        s.TargetShown() +
            " was replaced by another program while the merge ran; it was left as it is"};
  }
  return std::nullopt;
}

int OutputFolder::Replace(const std::string& scratchName) {
  std::wstring wide;
  if (!ToWide(scratchName, wide)) return EILSEQ;
  const std::wstring scratch = state_->InFolder(wide);
  const BOOL ok = state_->targetExists
                      ? ::ReplaceFileW(state_->targetWide.c_str(), scratch.c_str(), nullptr,
                                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                      : ::MoveFileExW(scratch.c_str(), state_->targetWide.c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) return LastErrno();
  ::InterlockedExchange(&g_hasPending, 0);
  return 0;
}

void OutputFolder::Remove(const std::string& scratchName) const {
  ::InterlockedExchange(&g_hasPending, 0);
  std::wstring wide;
  if (ToWide(scratchName, wide)) ::DeleteFileW(state_->InFolder(wide).c_str());
}

void OutputFolder::SyncFolder() const {}

// The handle is closed first: a file still open would only be marked for removal
// at its last close. The process ends right after; its writes fail meanwhile.
void RemovePendingScratch() noexcept {
  if (::InterlockedExchange(&g_hasPending, 0) != 0) {
    ::CloseHandle(g_pendingHandle);
    ::DeleteFileW(g_pendingPath);
  }
}

}  // namespace tandemo::platform
