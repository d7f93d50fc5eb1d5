// The application's side of the socket split into newline-terminated lines, received straight
// into the buffer the lines are handed out from, so that a long line is not copied on its way to
// the browser.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

#include "qv/result.h"

namespace qv::host {

class LineReader {
 public:
  explicit LineReader(int fd);

  // Receives once, as much as the buffer has room for. When room runs short the unterminated
  // rest is moved to the front first (or the buffer grows for a line longer than it), so the
  // lines handed out before this call are no longer valid. The count received, 0 at end of
  // stream; the error is an errno value.
  qv::Result<std::size_t, int> receive();

  // The next complete line received, without its newline, or nothing when only an unterminated
  // rest is left. Valid until the next receive().
  std::optional<std::string_view> next_line();

 private:
  int fd_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;    // the first byte not yet handed out in a line
  std::size_t scanned_ = 0;  // from begin_ up to here there is no newline
  std::size_t end_ = 0;      // the end of what was received
};

}  // namespace qv::host
