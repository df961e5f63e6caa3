#include "failure.hpp"

#include <cerrno>
#include <cstring>

#include "platform.hpp"

namespace tandemo {

std::string_view Description(ErrorCode code) {
  switch (code) {
    case ErrorCode::Overflow: return "Overflow";
    case ErrorCode::OutOfMemory: return "Out of memory";
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
    case ErrorCode::LineTooLong: return "Line too long";
    case ErrorCode::FileTooLarge: return "File too large";
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
                                                   "fourth", "fifth", "sixth",  "seventh",
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

namespace {

// Length of the valid UTF-8 sequence of a printable character at the start of
// `text`, or 0. C1 controls (U+0080 to U+009F) count as not printable.
std::size_t PrintableUtf8(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  char32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2, code = lead & 0x1Fu;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3, code = lead & 0x0Fu;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4, code = lead & 0x07u;
  else
    return 0;
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0u) != 0x80u) return 0;
    code = (code << 6) | (byte(i) & 0x3Fu);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  if (code <= 0x9F) return 0;  // C1 controls steer some terminals
  return length;
}

}  // namespace

std::string Printable(std::string_view text, bool keepNewlines) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c >= 0x20 && c < 0x7F) || (c == '\n' && keepNewlines)) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (c >= 0x80) {
      if (std::size_t n = PrintableUtf8(text.substr(i)); n > 0) {
        out.append(text.substr(i, n));
        i += n;
        continue;
      }
    }
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0x0Fu];
    ++i;
  }
  return out;
}

std::string Quoted(std::string_view text) {
  constexpr std::size_t kMax = 60;  // long enough to recognise, short enough to read
  if (text.size() > kMax) return "\"" + Printable(text.substr(0, kMax)) + "...\"";
  return "\"" + Printable(text) + "\"";
}

std::string QuotedPath(std::string_view path) { return "\"" + Printable(path) + "\""; }

MergeError OpenFailure(FilePlace place, const std::string& path, int err) {
  return MergeError{err == ENOENT ? ErrorCode::FileNotFound : CodeForErrno(err), place, 0,
                    QuotedPath(path) + " cannot be opened: " + platform::ErrorText(err)};
}

MergeError ReadFailure(FilePlace place, long long line, int err) {
  if (err == EMSGSIZE) {  // the line reader's word for a line past its limit
    return MergeError{ErrorCode::LineTooLong, place, line,
                      "the line is longer than 1 MiB (1048576 bytes), far longer than any line of "
                      "ITC data; is it an ITC data file?"};
  }
  return MergeError{CodeForErrno(err), place, line,
                    std::string("the file could not be read: ") + platform::ErrorText(err)};
}

MergeError OutputFailure(int err, std::string what) {
  MergeError e;
  e.code = err == ENOENT ? ErrorCode::PathNotFound : CodeForErrno(err);
  e.file = FilePlace::Output();
  e.detail = std::move(what) + ": " + platform::ErrorText(err);
  return e;
}

ErrorCode CodeForErrno(int err) {
  switch (err) {
    case ENOENT: return ErrorCode::FileNotFound;
    case ENOTDIR: return ErrorCode::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return ErrorCode::PermissionDenied;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return ErrorCode::DiskFull;
    case EFBIG: return ErrorCode::FileTooLarge;
    case ENOMEM: return ErrorCode::OutOfMemory;
    case EIO: return ErrorCode::DeviceIo;
    case ENAMETOOLONG: return ErrorCode::BadFileName;
    default: return ErrorCode::PathFileAccess;
  }
}

}  // namespace tandemo
