// Writing a whole buffer to a descriptor: continuing after short writes, retrying interrupted
// ones, and reporting the first real failure as a value.
#pragma once

#include <limits.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <span>
#include <string_view>

#include "qv/result.h"

namespace qv {

// Calls `write_some(data, size)`, a write-like call that answers the count it wrote or -1 with
// errno set, until every byte of `bytes` is out. The error is the errno of the first call that
// failed other than by interruption, or EIO for a call that wrote nothing.
template <class WriteSome>
Status<int> write_all_with(std::string_view bytes, WriteSome&& write_some) {
  while (!bytes.empty()) {
    const ssize_t n = write_some(bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Err{errno};
    if (n == 0) return Err{EIO};
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return kOk;
}

// The gathered form: `writev_some(parts, count)` is a writev-like call. The entries of `parts`
// are used up as their bytes go out, so on success every entry is empty; on failure they hold
// what was not written.
template <class WritevSome>
Status<int> write_all_gathered_with(std::span<iovec> parts, WritevSome&& writev_some) {
  for (;;) {
    while (!parts.empty() && parts.front().iov_len == 0) parts = parts.subspan(1);
    if (parts.empty()) return kOk;
    const auto count = static_cast<int>(std::min<std::size_t>(parts.size(), IOV_MAX));
    const ssize_t n = writev_some(parts.data(), count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Err{errno};
    if (n == 0) return Err{EIO};
    auto done = static_cast<std::size_t>(n);
    while (done > 0 && !parts.empty() && done >= parts.front().iov_len) {
      done -= parts.front().iov_len;
      parts.front().iov_len = 0;
      parts = parts.subspan(1);
    }
    if (done > 0 && !parts.empty()) {
      parts.front().iov_base = static_cast<char*>(parts.front().iov_base) + done;
      parts.front().iov_len -= done;
    }
  }
}

// Writes every byte of `bytes` to `fd` with write(2).
inline Status<int> write_all(int fd, std::string_view bytes) {
  return write_all_with(
      bytes, [fd](const char* data, std::size_t size) { return ::write(fd, data, size); });
}

// Writes every byte the entries of `parts` describe to `fd`, in order, with writev(2).
inline Status<int> write_all(int fd, std::span<iovec> parts) {
  return write_all_gathered_with(
      parts, [fd](const iovec* iov, int count) { return ::writev(fd, iov, count); });
}

}  // namespace qv
