// The browser's framing: a 4-byte native-order length, then that many payload bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qv/result.h"

namespace qv::host {

// The largest payload the browser accepts from the host (inclusive).
inline constexpr std::size_t kMaxBrowserMessage = 1'048'576;

// Buffered reads from one descriptor, retrying interrupted reads.
class InputReader {
 public:
  explicit InputReader(int fd, std::size_t buffer_size = 64 * 1024);
  // Fills `dest` completely; false when the input ends first or a read fails.
  bool read_exact(char* dest, std::size_t n);

 private:
  // Reads once into `dest`; returns the count, 0 at end of input or on failure.
  std::size_t read_some(char* dest, std::size_t n);

  int fd_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool ended_ = false;
};

// Reads the next frame's payload into `payload`, reusing its storage; false at end of input
// (also when a frame is cut short), leaving `payload` unspecified.
bool read_frame(InputReader& in, std::string& payload);

// The next frame's payload, or nothing at end of input (also when a frame is cut short).
std::optional<std::string> read_frame(InputReader& in);

// The 4-byte prefix followed by the payload, ready to be written in one go.
std::string encode_frame(std::string_view payload);

// Standard output behind a lock, so frames written by different threads never interleave.
class BrowserWriter {
 public:
  explicit BrowserWriter(int fd) : fd_(fd) {}
  // Writes one whole frame; the error is the errno of the failed write.
  qv::Status<int> write_frame(std::string_view payload);

 private:
  int fd_;
  std::mutex lock_;
};

}  // namespace qv::host
