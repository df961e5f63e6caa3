#include "failure.hpp"

#include <cerrno>
#include <cstring>

namespace tandemo {

std::string_view Description(ErrorCode code) {
  switch (code) {
    case ErrorCode::Overflow: return "Overflow";
    case ErrorCode::Subscript: return "Subscript out of range";
    case ErrorCode::TypeMismatch: return "Type mismatch";
    case ErrorCode::BadFileName: return "Bad file name";
    case ErrorCode::FileNotFound: return "File not found";
    case ErrorCode::DeviceIo: return "Device I/O error";
    case ErrorCode::DiskFull: return "Disk full";
    case ErrorCode::PermissionDenied: return "Permission denied";
    case ErrorCode::PathFileAccess: return "Path/File access error";
    case ErrorCode::PathNotFound: return "Path not found";
    case ErrorCode::NoTimeStep: return "No time step";
    case ErrorCode::NoBaseline: return "No baseline";
    case ErrorCode::BadHeader: return "Bad header";
    case ErrorCode::FilesDiffer: return "Files differ";
    case ErrorCode::SameRun: return "Same run twice";
    case ErrorCode::NoInjection: return "No injection";
    case ErrorCode::OutputIsInput: return "Output is an input";
    case ErrorCode::InputChanged: return "Input changed";
    case ErrorCode::Cancelled: return "Cancelled";
  }
  return "Unknown failure";
}

ErrorCode CodeOf(Failure failure) {
  switch (failure) {
    case Failure::Subscript: return ErrorCode::Subscript;
    case Failure::TypeMismatch: return ErrorCode::TypeMismatch;
    case Failure::Overflow:
    case Failure::None: break;
  }
  return ErrorCode::Overflow;
}

std::string FileLabel(FilePlace place) {
  static constexpr std::string_view kOrdinals[] = {"output", "first", "second", "third",
                                                   "fourth", "fifth", "sixth", "seventh",
                                                   "eighth", "ninth", "tenth"};
  if (place.index < 0) return {};
  if (place.index < static_cast<int>(std::size(kOrdinals))) {
    return std::string(kOrdinals[static_cast<std::size_t>(place.index)]) + " file";
  }
  return "file " + std::to_string(place.index);
}

std::string MergeError::Title() const {
  return std::string(Description(code)) + " (" + std::to_string(static_cast<int>(code)) + ")";
}

std::string MergeError::Message() const {
  std::string text = Title();
  std::string where = FileLabel(file);
  if (line > 0) where += (where.empty() ? "line " : ", line ") + std::to_string(line);
  if (!where.empty()) text += ": " + where;
  if (!detail.empty()) text += ": " + detail;
  return text;
}

std::string Quoted(std::string_view text) {
  constexpr std::size_t kMax = 60;  // long enough to recognise, short enough to read
  std::string q = "\"";
  if (text.size() > kMax) {
    q.append(text.substr(0, kMax));
    q += "...";
  } else {
    q.append(text);
  }
  q += '"';
  return q;
}

MergeError OpenFailure(FilePlace place, const std::string& path, int err) {
  return MergeError{err == ENOENT ? ErrorCode::FileNotFound : CodeForErrno(err), place, 0,
                    Quoted(path) + " cannot be opened: " + std::strerror(err)};
}

MergeError ReadFailure(FilePlace place, long long line, int err) {
  return MergeError{CodeForErrno(err), place, line,
                    std::string("the file could not be read: ") + std::strerror(err)};
}

ErrorCode CodeForErrno(int err) {
  switch (err) {
    case ENOENT: return ErrorCode::FileNotFound;
    case ENOTDIR: return ErrorCode::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return ErrorCode::PermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ErrorCode::DiskFull;
    case EIO: return ErrorCode::DeviceIo;
    case ENAMETOOLONG: return ErrorCode::BadFileName;
    default: return ErrorCode::PathFileAccess;
  }
}

}  // namespace tandemo
