#include "host/line_reader.h"

#include <algorithm>
#include <cstring>

#include "host/socket_io.h"

namespace qv::host {
namespace {

// Room for many messages per receive, so a long one costs few system calls. (Zeroed when made:
// the macOS SDKs' libc++ has no make_unique_for_overwrite, and it is made rarely.)
constexpr std::size_t kBuffer = 1 << 20;
// Receives get at least this much room; with less left, the rest moves to the front.
constexpr std::size_t kMinReceive = 64 * 1024;
// A buffer grown beyond this for a very long line goes back to the usual size once it is empty.
constexpr std::size_t kKeptBuffer = 4 * kBuffer;

}  // namespace

LineReader::LineReader(int fd)
    : fd_(fd), capacity_(kBuffer), buffer_(std::make_unique<char[]>(kBuffer)) {}

qv::Result<std::size_t, int> LineReader::receive() {
  const std::size_t rest = end_ - begin_;
  if (rest == 0) {
    // Nothing pending: starting over at the front costs nothing.
    begin_ = scanned_ = end_ = 0;
    if (capacity_ > kKeptBuffer) {
      capacity_ = kBuffer;
      buffer_ = std::make_unique<char[]>(capacity_);
    }
  } else if (capacity_ - end_ < kMinReceive) {
    // Only the part of a line that straddles the end of the room is moved, and only when the
    // room runs out.
    if (capacity_ - rest < kMinReceive) {
      const std::size_t grown = std::max(2 * capacity_, rest + kMinReceive);
      auto bigger = std::make_unique<char[]>(grown);
      std::memcpy(bigger.get(), buffer_.get() + begin_, rest);
      buffer_ = std::move(bigger);
      capacity_ = grown;
    } else {
      std::memmove(buffer_.get(), buffer_.get() + begin_, rest);
    }
    scanned_ -= begin_;
    begin_ = 0;
    end_ = rest;
  }
  auto got = receive_some(fd_, buffer_.get() + end_, capacity_ - end_);
  if (got) end_ += *got;
  return got;
}

std::optional<std::string_view> LineReader::next_line() {
  char* const base = buffer_.get();
  const void* nl = std::memchr(base + scanned_, '\n', end_ - scanned_);
  if (nl == nullptr) {
    scanned_ = end_;
    return std::nullopt;
  }
  const auto at = static_cast<std::size_t>(static_cast<const char*>(nl) - base);
  const std::string_view line(base + begin_, at - begin_);
  begin_ = scanned_ = at + 1;
  return line;
}

}  // namespace qv::host
