// The browser's framing: a 4-byte native-order length, then that many payload bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qv/result.h"
#include "qv/thread_affinity.h"

namespace qv::host {

// The largest payload the browser accepts from the host (inclusive).
inline constexpr std::size_t kMaxBrowserMessage = 1'048'576;

// Buffered reads from one descriptor, retrying interrupted reads. Used only on the thread that
// creates it (in the host, the main thread, which reads standard input for the process's life);
// debug builds check that.
class InputReader {
 public:
  explicit InputReader(int fd, std::size_t buffer_size = 1 << 20);
  // Fills `dest` completely; false when the input ends first or a read fails.
  bool read_exact(char* dest, std::size_t n);

  // The next frame's payload, or nothing at end of input (also when a frame is cut short).
  // A frame already buffered whole, or no larger than a quarter of the buffer, is left where it
  // was read: the bytes are writable and stay valid until the next call. A larger one is read
  // into `spill`, reusing its storage.
  std::optional<std::span<char>> next_frame(std::string& spill);

  // Whether a whole frame is buffered, so that next_frame answers without reading.
  bool frame_buffered() const;

 private:
  // Reads once into `dest`; returns the count, 0 at end of input or on failure.
  std::size_t read_some(char* dest, std::size_t n);
  // Reads the `length`-byte payload whose prefix was just taken into `spill`.
  bool spill_payload(std::uint32_t length, std::string& spill);

  qv::ThreadAffinity thread_;
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

// Frames encoded one after another, written to the browser together. Short payloads are
// copied; longer ones are referred to and must stay unchanged until the batch is written.
class FrameBatch {
 public:
  void add(std::string_view payload);
  bool empty() const { return pieces_.empty(); }
  void clear();

 private:
  friend class BrowserWriter;
  // Bytes held by the caller, or (when `borrowed` is null) the run of `copied_` that starts at
  // `begin`.
  struct Piece {
    const char* borrowed;
    std::size_t begin;
    std::size_t size;
  };
  std::string copied_;
  std::vector<Piece> pieces_;
};

// Standard output behind a lock, so frames written by different threads never interleave.
class BrowserWriter {
 public:
  explicit BrowserWriter(int fd) : fd_(fd) {}
  // Writes one whole frame; the error is the errno of the failed write.
  qv::Status<int> write_frame(std::string_view payload);
  // Writes every frame of `batch`, in order, under one lock acquisition, and clears it.
  qv::Status<int> write_frames(FrameBatch& batch);

 private:
  int fd_;
  std::mutex lock_;
};

}  // namespace qv::host
