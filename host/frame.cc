#include "frame.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "qv/write_all.h"

namespace qv::host {

InputReader::InputReader(int fd, std::size_t buffer_size) : fd_(fd), buffer_(buffer_size) {}

std::size_t InputReader::read_some(char* dest, std::size_t n) {
  if (ended_) return 0;
  for (;;) {
    ssize_t got = ::read(fd_, dest, n);
    if (got > 0) return static_cast<std::size_t>(got);
    if (got < 0 && errno == EINTR) continue;
    ended_ = true;
    return 0;
  }
}

bool InputReader::read_exact(char* dest, std::size_t n) {
  while (n > 0) {
    if (pos_ == len_) {
      // Large requests bypass the buffer to avoid copying every byte twice.
      if (n >= buffer_.size()) {
        std::size_t got = read_some(dest, n);
        if (got == 0) return false;
        dest += got;
        n -= got;
        continue;
      }
      len_ = read_some(buffer_.data(), buffer_.size());
      pos_ = 0;
      if (len_ == 0) return false;
    }
    std::size_t take = std::min(n, len_ - pos_);
    std::memcpy(dest, buffer_.data() + pos_, take);
    pos_ += take;
    dest += take;
    n -= take;
  }
  return true;
}

bool read_frame(InputReader& in, std::string& payload) {
  char prefix[4];
  if (!in.read_exact(prefix, sizeof prefix)) return false;
  std::uint32_t length;
  std::memcpy(&length, prefix, sizeof length);
  // The buffer grows with the data that actually arrives (1 MiB first, then doubling), so a
  // bogus length costs little until its bytes are really sent. Resizing a reused buffer only
  // clears the part beyond its previous size.
  if (length == 0) payload.clear();
  std::size_t have = 0;
  while (have < length) {
    std::size_t next = std::min<std::size_t>(length, std::max<std::size_t>(1 << 20, have * 2));
    payload.resize(next);
    if (!in.read_exact(payload.data() + have, next - have)) return false;
    have = next;
  }
  return true;
}

std::optional<std::string> read_frame(InputReader& in) {
  std::string payload;
  if (!read_frame(in, payload)) return std::nullopt;
  return payload;
}

std::string encode_frame(std::string_view payload) {
  std::string frame(4 + payload.size(), '\0');
  const auto length = static_cast<std::uint32_t>(payload.size());
  std::memcpy(frame.data(), &length, sizeof length);
  std::memcpy(frame.data() + 4, payload.data(), payload.size());
  return frame;
}

qv::Status<int> BrowserWriter::write_frame(std::string_view payload) {
  const std::string frame = encode_frame(payload);
  std::lock_guard lock(lock_);
  // Writes go straight to the descriptor, so there is no user-space buffer left to flush.
  return qv::write_all(fd_, frame);
}

}  // namespace qv::host
