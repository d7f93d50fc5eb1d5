#include "host/frame.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

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
  thread_.assert_on_thread();
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

bool InputReader::frame_buffered() const {
  thread_.assert_on_thread();
  if (len_ - pos_ < 4) return false;
  std::uint32_t length;
  std::memcpy(&length, buffer_.data() + pos_, sizeof length);
  return length <= len_ - pos_ - 4;
}

std::optional<std::span<char>> InputReader::next_frame(std::string& spill) {
  thread_.assert_on_thread();
  std::uint32_t length;
  if (len_ - pos_ >= sizeof length) {
    std::memcpy(&length, buffer_.data() + pos_, sizeof length);
    pos_ += sizeof length;
  } else {
    char prefix[sizeof length];
    if (!read_exact(prefix, sizeof prefix)) return std::nullopt;
    std::memcpy(&length, prefix, sizeof length);
  }
  if (length > len_ - pos_) {
    // Scanning in place saves a copy, but the part already read has to move to the front
    // first when the buffer's end is near, so only frames much smaller than the buffer stay.
    if (length > buffer_.size() / 4) {
      if (!spill_payload(length, spill)) return std::nullopt;
      return std::span<char>(spill.data(), spill.size());
    }
    if (buffer_.size() - pos_ < length) {
      std::memmove(buffer_.data(), buffer_.data() + pos_, len_ - pos_);
      len_ -= pos_;
      pos_ = 0;
    }
    while (len_ - pos_ < length) {
      std::size_t got = read_some(buffer_.data() + len_, buffer_.size() - len_);
      if (got == 0) return std::nullopt;
      len_ += got;
    }
  }
  std::span<char> payload(buffer_.data() + pos_, length);
  pos_ += length;
  return payload;
}

bool InputReader::spill_payload(std::uint32_t length, std::string& spill) {
  // The buffer grows with the data that actually arrives (1 MiB first, then doubling), so a
  // bogus length costs little until its bytes are really sent. Resizing a reused buffer only
  // clears the part beyond its previous size.
  std::size_t have = 0;
  while (have < length) {
    std::size_t next = std::min<std::size_t>(length, std::max<std::size_t>(1 << 20, have * 2));
    spill.resize(next);
    if (!read_exact(spill.data() + have, next - have)) return false;
    have = next;
  }
  return true;
}

bool read_frame(InputReader& in, std::string& payload) {
  auto frame = in.next_frame(payload);
  if (!frame) return false;
  if (frame->data() != payload.data()) payload.assign(frame->data(), frame->size());
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

namespace {

// Payloads from this size on are referred to rather than copied into a batch.
constexpr std::size_t kBorrowFrom = 16 * 1024;

// The browser's pipe is written 4 KiB at a time. A pipe wakes its reader when a write ends or
// finds it full, so one long write has the two sides take turns, while short ones let the
// browser read a piece as the next is copied in.
constexpr std::size_t kPipePiece = 4096;

// Writes at most kPipePiece bytes of `parts` in one writev(2).
ssize_t writev_piece(int fd, const iovec* parts, int count) {
  // Pieces of a batch alternate between copied runs and payloads of kBorrowFrom bytes or more,
  // so a few entries always fill a piece; a shorter write is continued by the caller.
  constexpr int kMaxEntries = 8;
  iovec piece[kMaxEntries];
  std::size_t room = kPipePiece;
  int n = 0;
  for (; n < std::min(count, kMaxEntries) && room > 0; ++n) {
    piece[n] = parts[n];
    piece[n].iov_len = std::min(piece[n].iov_len, room);
    room -= piece[n].iov_len;
  }
  return ::writev(fd, piece, n);
}

qv::Status<int> write_in_pieces(int fd, std::span<iovec> parts) {
  return qv::write_all_gathered_with(
      parts, [fd](const iovec* iov, int count) { return writev_piece(fd, iov, count); });
}

}  // namespace

void FrameBatch::add(std::string_view payload) {
  const auto length = static_cast<std::uint32_t>(payload.size());
  if (pieces_.empty() || pieces_.back().borrowed != nullptr) {
    pieces_.push_back({nullptr, copied_.size(), 0});
  }
  copied_.append(reinterpret_cast<const char*>(&length), sizeof length);
  pieces_.back().size += sizeof length;
  if (payload.size() >= kBorrowFrom) {
    pieces_.push_back({payload.data(), 0, payload.size()});
  } else {
    copied_.append(payload);
    pieces_.back().size += payload.size();
  }
}

void FrameBatch::clear() {
  copied_.clear();
  pieces_.clear();
}

qv::Status<int> BrowserWriter::write_frame(std::string_view payload) {
  auto length = static_cast<std::uint32_t>(payload.size());
  iovec parts[2] = {{&length, sizeof length}, {const_cast<char*>(payload.data()), payload.size()}};
  std::lock_guard lock(lock_);
  // Writes go straight to the descriptor, so there is no user-space buffer left to flush.
  return write_in_pieces(fd_, parts);
}

qv::Status<int> BrowserWriter::write_frames(FrameBatch& batch) {
  // Most batches are one run of copied frames; longer payloads add an entry each.
  constexpr std::size_t kInline = 8;
  iovec inline_parts[kInline];
  std::vector<iovec> more;
  if (batch.pieces_.size() > kInline) more.resize(batch.pieces_.size());
  std::span<iovec> parts(more.empty() ? inline_parts : more.data(), batch.pieces_.size());
  for (std::size_t i = 0; i < batch.pieces_.size(); ++i) {
    const FrameBatch::Piece& piece = batch.pieces_[i];
    const char* data = piece.borrowed ? piece.borrowed : batch.copied_.data() + piece.begin;
    parts[i] = {const_cast<char*>(data), piece.size};
  }
  qv::Status<int> status = qv::kOk;
  {
    std::lock_guard lock(lock_);
    status = write_in_pieces(fd_, parts);
  }
  batch.clear();
  return status;
}

}  // namespace qv::host
