// Line input and output for ITC files: 8-bit text, streamed through a fixed
// buffer. On input CR LF, a lone CR and a lone LF each end a line; on output
// every line ends with CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tandemo {

// Bytes in the longest line the reader returns: 1 MiB, far more than any line of
// ITC data holds; a longer line fails at once with error() EMSGSIZE, so a file
// that is no ITC data (a NUL-filled image, say) is neither read whole nor held.
inline constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

class LineReader {
 public:
  enum class Status { Line, End, Error };

  LineReader() = default;
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Opens an existing regular file for reading; false with errno() set otherwise.
  bool Open(const std::string& path);
  // Reads from a descriptor the caller keeps open (tests, standard input).
  void Attach(int fd);

  // The next line, without its line end. The view stays valid until the next call.
  // End comes once no character is left; the last line needs no line end. A UTF-8
  // byte order mark at the very start of the file and an end-of-file byte (0x1A)
  // as its very last byte are not data; anywhere else they are ordinary bytes.
  // Time is proportional to the bytes read, however long a line is.
  Status Next(std::string_view& line);

  long long LineNumber() const { return lineNumber_; }  // of the line returned last
  // Byte offset in the file of the next unread byte.
  std::uint64_t Offset() const { return base_ + begin_; }
  // Goes on reading from a byte offset; line numbers are no longer counted from the start.
  bool SeekTo(std::uint64_t offset);
  // The file's size, or 0 when it cannot be told.
  std::uint64_t Size() const;
  // The errno of a failed read; EMSGSIZE for a line longer than kMaxLineBytes.
  int error() const { return error_; }

  // For a caller that takes many lines at once: the unread bytes buffered, after
  // reading more when fewer than half a read's worth are. Empty at the end of the
  // file or on an error (error() tells); valid until the next call. The caller
  // takes whole lines from its front with Skip and leaves the rest to Next.
  std::string_view Buffered();
  // Takes `bytes` from the front of what Buffered returned, as `lines` whole lines.
  void Skip(std::size_t bytes, long long lines) {
    begin_ += bytes;
    lineNumber_ += lines;
    if (lines > 0) lastEndedInLf_ = true;
  }

 private:
  // Where the next CR (or LF) lies: `at` < `limit` is its position; `at` == `limit`
  // means there is none before `limit`, so a later search resumes there.
  struct Scan {
    std::size_t at = 0;
    std::size_t limit = 0;
  };

  bool Fill();                // reads more; false at the end of the file or on an error
  std::size_t FindLineEnd();  // first CR or LF at or after begin_, else end_
  std::size_t Find(Scan& scan, char c);
  bool SkipByteOrderMark();  // false on a read error

  int fd_ = -1;
  bool owned_ = false;
  bool eof_ = false;
  bool bomChecked_ = false;
  bool lastEndedInLf_ = false;  // the line returned last ended in LF or CR LF
  int error_ = 0;
  long long lineNumber_ = 0;
  // Not zero-filled: only bytes read from the file are ever looked at.
  std::unique_ptr<char[]> buf_;
  std::size_t capacity_ = 0;
  std::uint64_t base_ = 0;  // file offset of buf_[0]
  std::size_t begin_ = 0;   // first unread byte
  std::size_t end_ = 0;     // one past the last byte read from the file
  Scan cr_;
  Scan lf_;
};

class LineWriter {
 public:
  LineWriter() = default;
  ~LineWriter() = default;
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  void Attach(int fd);  // the caller owns the descriptor
  // Writes the text and CR LF. Failures are sticky and reported by Flush().
  void WriteLine(std::string_view text) {
    const std::size_t size = text.size() + 2;
    if (capacity_ - used_ < size) {
      WriteLong(text);
      return;
    }
    char* at = buf_.get() + used_;
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    at[text.size()] = '\r';
    at[text.size() + 1] = '\n';
    used_ += size;
    ++lines_;
  }
  // Room for a line of up to `size` bytes and its CR LF, to be filled in place and
  // handed over with Commit; the pointer is valid until the next call.
  char* Reserve(std::size_t size) {
    if (capacity_ - used_ < size + 2) Drain();
    if (capacity_ - used_ < size + 2) Grow(size + 2);
    return buf_.get() + used_;
  }
  // Ends the `size` bytes written at what Reserve returned as one line, adding CR LF.
  void Commit(std::size_t size) {
    char* at = buf_.get() + used_;
    at[size] = '\r';
    at[size + 1] = '\n';
    used_ += size + 2;
    ++lines_;
  }
  // Bytes that are `lines` whole lines already ending in CR LF, written as they stand.
  void WriteLines(std::string_view bytes, long long lines);
  bool Flush();  // false with error() set when any write failed
  int error() const { return error_; }
  long long LinesWritten() const { return lines_; }

 private:
  void WriteLong(std::string_view text);
  void Grow(std::size_t room);
  void Drain() {
    Send(buf_.get(), used_);
    used_ = 0;
  }
  void Send(const char* data, std::size_t size);

  int fd_ = -1;
  int error_ = 0;
  long long lines_ = 0;
  // A fixed buffer, sent whenever the next line would not fit: no growth check per line.
  std::unique_ptr<char[]> buf_;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
  std::uint64_t sent_ = 0;           // bytes written since Attach
  std::uint64_t writebackFrom_ = 0;  // the first of them not yet sent on to disk
};

}  // namespace tandemo
