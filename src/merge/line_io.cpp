#include "line_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tandemo {
namespace {
constexpr std::size_t kChunk = 1 << 18;  // 256 KiB: large reads, small footprint
}

LineReader::~LineReader() {
  if (owned_ && fd_ >= 0) ::close(fd_);
}

bool LineReader::Open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    error_ = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return false;
  }
  Attach(fd);
  owned_ = true;
  return true;
}

void LineReader::Attach(int fd) {
  fd_ = fd;
  owned_ = false;
  buf_.assign(kChunk, '\0');
  begin_ = end_ = 0;
}

bool LineReader::Fill() {
  if (eof_ || error_) return false;
  if (begin_ > 0) {  // keep the unread part, at the front
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buf_.size() - end_ < kChunk / 2) buf_.resize(buf_.size() + kChunk);  // a long line
  for (;;) {
    ssize_t n = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (n > 0) {
      end_ += static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) {
      eof_ = true;
      return false;
    }
    if (errno != EINTR) {
      error_ = errno;
      return false;
    }
  }
}

LineReader::Status LineReader::Next(std::string_view& line) {
  std::size_t scanFrom = begin_;
  for (;;) {
    const char* base = buf_.data();
    for (std::size_t i = scanFrom; i < end_; ++i) {
      char c = base[i];
      if (c != '\r' && c != '\n') continue;
      // A CR at the very end of what is buffered may be the first half of CR LF.
      if (c == '\r' && i + 1 == end_ && !eof_) {
        std::size_t offset = i - begin_;
        if (Fill()) {
          scanFrom = begin_ + offset;
          goto rescan;
        }
        if (error_) return Status::Error;
        base = buf_.data();
        i = begin_ + offset;
      }
      line = std::string_view(base + begin_, i - begin_);
      begin_ = i + 1;
      if (c == '\r' && begin_ < end_ && base[begin_] == '\n') ++begin_;
      ++lineNumber_;
      return Status::Line;
    }
    {
      std::size_t offset = end_ - begin_;
      if (!Fill()) {
        if (error_) return Status::Error;
        if (begin_ == end_) return Status::End;
        line = std::string_view(buf_.data() + begin_, end_ - begin_);  // last line, no line end
        begin_ = end_;
        ++lineNumber_;
        return Status::Line;
      }
      scanFrom = begin_ + offset;
    }
  rescan:;
  }
}

void LineWriter::Attach(int fd) {
  fd_ = fd;
  buf_.reserve(kChunk + 4096);
}

void LineWriter::WriteLine(std::string_view text) {
  buf_.append(text);
  buf_ += "\r\n";
  ++lines_;
  if (buf_.size() >= kChunk) Drain();
}

void LineWriter::Drain() {
  std::size_t done = 0;
  while (done < buf_.size() && error_ == 0) {
    ssize_t n = ::write(fd_, buf_.data() + done, buf_.size() - done);
    if (n >= 0) done += static_cast<std::size_t>(n);
    else if (errno != EINTR) error_ = errno;
  }
  buf_.clear();
}

bool LineWriter::Flush() {
  Drain();
  return error_ == 0;
}

}  // namespace tandemo
