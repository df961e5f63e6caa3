// Failures of the merge, as values: a code with its fixed description, the file
// it arose in, the line where that applies, and plain words about what was wrong.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tandemo {

// The three failure kinds of the numeric rules. Operations that can fail return
// one of these beside their value instead of throwing.
enum class Failure : std::uint8_t { None, Overflow, Subscript, TypeMismatch };

// Codes as the scientist sees them: "Overflow (6)". The numeric kinds keep the
// classic numbers; file failures use the numbers of the same family; refusals
// of inputs that cannot be merged, and a cancelled merge, have numbers of their own.
enum class ErrorCode : int {
  Overflow = 6,
  OutOfMemory = 7,
  Subscript = 9,
  TypeMismatch = 13,
  BadFileName = 52,
  FileNotFound = 53,
  DeviceIo = 57,
  DiskFull = 61,
  PermissionDenied = 70,
  PathFileAccess = 75,
  PathNotFound = 76,
  NoTimeStep = 1001,
  NoBaseline = 1002,
  BadHeader = 1003,
  FilesDiffer = 1004,
  SameRun = 1005,
  NoInjection = 1006,
  OutputIsInput = 1007,
  InputChanged = 1008,
  Cancelled = 1009,
  LineTooLong = 1010,
  FileTooLarge = 1011,
};

std::string_view Description(ErrorCode code);
ErrorCode CodeOf(Failure failure);

// Which file a failure arose in. Inputs are numbered from 1 (first file,
// second file, ...); 0 is the output.
struct FilePlace {
  int index = -1;  // -1: no particular file
  static FilePlace None() { return {}; }
  static FilePlace Output() { return {0}; }
  static FilePlace Input(int n) { return {n}; }
};

std::string FileLabel(FilePlace place);  // "first file", "second file", "output file", "file 7"

struct MergeError {
  ErrorCode code = ErrorCode::PathFileAccess;
  FilePlace file;
  long long line = 0;  // 1-based; 0 when no line applies
  std::string detail;  // plain words: what and why

  // "Type mismatch (13): second file, line 1234: the DP field "abc" is not a number"
  std::string Message() const;
  // "Type mismatch (13)"
  std::string Title() const;
};

// A text quoted for a message, cut short when it is long; bytes that are not
// printable are shown escaped (\x00, \x1b), so file content cannot cut a message
// off, split it or steer the terminal.
std::string Quoted(std::string_view text);
// A path quoted whole for a message, escaped likewise.
std::string QuotedPath(std::string_view path);
// The text with every byte that is not printable escaped as \xNN; valid UTF-8
// passes as it is. With `keepNewlines`, LF stays (messages of several lines).
std::string Printable(std::string_view text, bool keepNewlines = false);

// A file that cannot be opened: "File not found (53): second file: "/x.itc" cannot be opened: ..."
MergeError OpenFailure(FilePlace place, const std::string& path, int err);

// A file that could not be read on: its line is the one that was being read (0: unknown).
MergeError ReadFailure(FilePlace place, long long line, int err);

// A failure to write or replace the output: the code for `err`, the plain words and the system's
// reason.
MergeError OutputFailure(int err, std::string what);

// Maps an errno value from opening, reading or writing a file to its code.
ErrorCode CodeForErrno(int err);

}  // namespace tandemo
