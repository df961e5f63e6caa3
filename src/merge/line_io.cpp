#include "line_io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform.hpp"

namespace tandemo {
namespace {
constexpr std::size_t kChunk = 1 << 18;       // 256 KiB: large reads, small footprint
constexpr std::size_t kWriteChunk = 1 << 20;  // 1 MiB: few large writes
constexpr std::size_t kQuickLine = 4096;      // far longer than an ITC data line
// Written bytes are sent on to disk in stretches of this size while the merge
// goes on, so that the flush at the end has little left to wait for.
constexpr std::uint64_t kWritebackStride = std::uint64_t{8} << 20;
}  // namespace

LineReader::~LineReader() {
  if (owned_ && fd_ >= 0) platform::CloseFile(fd_);
}

bool LineReader::Open(const std::string& path) {
  int fd = -1;
  if (int err = platform::OpenForReading(path, fd); err != 0) {
    error_ = err;
    return false;
  }
  platform::FileStatus st;
  const int statusError = platform::StatusOf(fd, st);
  if (statusError != 0 || st.isDirectory) {
    error_ = st.isDirectory ? EISDIR : statusError;
    platform::CloseFile(fd);
    return false;
  }
  Attach(fd);
  owned_ = true;
  return true;
}

void LineReader::Attach(int fd) {
  fd_ = fd;
  owned_ = false;
  buf_.reset(new char[kChunk]);
  capacity_ = kChunk;
  base_ = 0;
  begin_ = end_ = 0;
  lastEndedInLf_ = false;
  cr_ = lf_ = Scan{};
}

bool LineReader::Fill() {
  if (eof_ || error_) return false;
  if (begin_ > 0) {  // keep the unread part, at the front
    std::memmove(buf_.get(), buf_.get() + begin_, end_ - begin_);
    for (Scan* scan : {&cr_, &lf_}) {
      if (scan->at < begin_) scan->at = scan->limit = begin_;  // passed: nothing known
      scan->at -= begin_;
      scan->limit -= begin_;
    }
    base_ += begin_;
    end_ -= begin_;
    begin_ = 0;
  }
  if (capacity_ - end_ < kChunk / 2) {  // a long line: double, so copying stays linear
    const std::size_t bigger = capacity_ * 2;
    std::unique_ptr<char[]> grown(new char[bigger]);
    std::memcpy(grown.get(), buf_.get(), end_);
    buf_ = std::move(grown);
    capacity_ = bigger;
  }
  for (;;) {
    const long n = platform::ReadSome(fd_, buf_.get() + end_, capacity_ - end_);
    if (n > 0) {
      end_ += static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) {
      eof_ = true;
      // A DOS end-of-file byte as the last byte ends the file; it is no character of it.
      if (end_ > begin_ && buf_[end_ - 1] == '\x1a') {
        --end_;
        for (Scan* scan : {&cr_, &lf_}) {
          if (scan->at > end_) scan->at = end_;
          if (scan->limit > end_) scan->limit = end_;
        }
      }
      return false;
    }
    if (errno != EINTR) {
      error_ = errno;
      return false;
    }
  }
}

std::size_t LineReader::Find(Scan& scan, char c) {
  // Each search resumes where the last one for the same byte stopped, so no byte
  // is searched twice however many reads a long line takes.
  if (scan.at < begin_) scan.at = scan.limit = begin_;
  if (scan.at == scan.limit && scan.limit < end_) {
    const char* base = buf_.get();
    const void* p = std::memchr(base + scan.limit, c, end_ - scan.limit);
    scan.at = p ? static_cast<std::size_t>(static_cast<const char*>(p) - base) : end_;
    scan.limit = p ? scan.at + 1 : end_;
  }
  return scan.at < scan.limit ? scan.at : end_;
}

std::size_t LineReader::FindLineEnd() {
  const std::size_t cr = Find(cr_, '\r');
  const std::size_t lf = Find(lf_, '\n');
  return cr < lf ? cr : lf;
}

bool LineReader::SkipByteOrderMark() {
  bomChecked_ = true;
  if (base_ + begin_ != 0) return true;
  while (end_ - begin_ < 3 && Fill()) {
  }
  if (error_) return false;
  if (end_ - begin_ >= 3 && std::memcmp(buf_.get() + begin_, "\xef\xbb\xbf", 3) == 0) begin_ += 3;
  return true;
}

LineReader::Status LineReader::Next(std::string_view& line) {
  // The usual line, ended by LF or CR LF, found with one search for the LF and one
  // for a CR before it. Only after a line that ended in LF, and never searching more
  // than kQuickLine bytes, so that a file of lone CRs costs no more than before.
  if (lastEndedInLf_ && bomChecked_) {
    const char* at = buf_.get() + begin_;
    const std::size_t reach = std::min(end_ - begin_, kQuickLine);
    if (const void* lf = std::memchr(at, '\n', reach)) {
      std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - at);
      const std::size_t taken = length + 1;
      if (length > 0 && at[length - 1] == '\r') --length;
      if (length == 0 || !std::memchr(at, '\r', length)) {
        line = std::string_view(at, length);
        begin_ += taken;
        ++lineNumber_;
        return Status::Line;
      }
    }
  }
  if (!bomChecked_ && !SkipByteOrderMark()) return Status::Error;
  for (;;) {
    const std::size_t i = FindLineEnd();
    if (i == end_) {  // no line end buffered: read more, or the last line has none
      // One byte more than the limit may yet be a final end-of-file byte.
      if (end_ - begin_ > kMaxLineBytes + 1) {
        error_ = EMSGSIZE;
        return Status::Error;
      }
      if (Fill()) continue;
      if (error_) return Status::Error;
      if (begin_ == end_) return Status::End;
      if (end_ - begin_ > kMaxLineBytes) {
        error_ = EMSGSIZE;
        return Status::Error;
      }
      line = std::string_view(buf_.get() + begin_, end_ - begin_);
      begin_ = end_;
      ++lineNumber_;
      return Status::Line;
    }
    if (i - begin_ > kMaxLineBytes) {
      error_ = EMSGSIZE;
      return Status::Error;
    }
    const char c = buf_[i];
    // A CR at the very end of what is buffered may be the first half of CR LF.
    if (c == '\r' && i + 1 == end_ && !eof_) {
      if (Fill()) continue;
      if (error_) return Status::Error;
      continue;  // the end of the file: the CR ends the last line alone
    }
    line = std::string_view(buf_.get() + begin_, i - begin_);
    begin_ = i + 1;
    lastEndedInLf_ = c == '\n';
    if (c == '\r' && begin_ < end_ && buf_[begin_] == '\n') {
      ++begin_;
      lastEndedInLf_ = true;
    }
    ++lineNumber_;
    return Status::Line;
  }
}

bool LineReader::SeekTo(std::uint64_t offset) {
  if (!platform::SeekTo(fd_, offset)) {
    error_ = errno;
    return false;
  }
  base_ = offset;
  begin_ = end_ = 0;
  eof_ = false;
  bomChecked_ = false;
  lastEndedInLf_ = false;
  cr_ = lf_ = Scan{};
  return true;
}

std::uint64_t LineReader::Size() const {
  platform::FileStatus st;
  if (fd_ < 0 || platform::StatusOf(fd_, st) != 0) return 0;
  return st.size;
}

std::string_view LineReader::Buffered() {
  if (!bomChecked_ && !SkipByteOrderMark()) return {};
  if (end_ - begin_ < kChunk / 2 && !eof_) Fill();
  if (error_) return {};
  return std::string_view(buf_.get() + begin_, end_ - begin_);
}

void LineWriter::Attach(int fd) {
  fd_ = fd;
  buf_.reset(new char[kWriteChunk]);
  capacity_ = kWriteChunk;
  used_ = 0;
  sent_ = writebackFrom_ = 0;
}

void LineWriter::WriteLong(std::string_view text) {
  char* at = Reserve(text.size());
  if (!text.empty()) std::memcpy(at, text.data(), text.size());
  Commit(text.size());
}

void LineWriter::Grow(std::size_t room) {
  // Only a line longer than the buffer gets here; it is at most kMaxLineBytes long.
  const std::size_t bigger = used_ + room;
  std::unique_ptr<char[]> grown(new char[bigger]);
  if (used_ > 0) std::memcpy(grown.get(), buf_.get(), used_);
  buf_ = std::move(grown);
  capacity_ = bigger;
}

void LineWriter::WriteLines(std::string_view bytes, long long lines) {
  lines_ += lines;
  if (bytes.size() <= capacity_ - used_) {
    if (!bytes.empty()) std::memcpy(buf_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
    return;
  }
  // A large block goes out from where it lies, without a copy.
  Drain();
  Send(bytes.data(), bytes.size());
}

void LineWriter::Send(const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size && error_ == 0) {
    const long n = platform::WriteSome(fd_, data + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      sent_ += static_cast<std::uint64_t>(n);
      if (sent_ - writebackFrom_ >= kWritebackStride) {
        platform::StartWriteback(fd_, writebackFrom_, sent_ - writebackFrom_);
        writebackFrom_ = sent_;
      }
    } else if (n == 0) {
      error_ = EIO;  // no progress: never spin
    } else if (errno != EINTR) {
      error_ = errno;
    }
  }
}

bool LineWriter::Flush() {
  Drain();
  return error_ == 0;
}

}  // namespace tandemo
