// The few socket operations the relay needs, with the platform differences kept here.
#pragma once

#include <cstddef>
#include <string_view>

#include "qv/result.h"
#include "qv/unique_fd.h"

namespace qv::host {

// Longest socket path, in bytes, that fits every platform's address with its terminating NUL.
inline constexpr std::size_t kMaxSocketPath = 103;

// A blocking, close-on-exec stream socket connected to the Unix-domain path, with SIGPIPE
// suppressed; the error is an errno value (EINVAL for a path that cannot be addressed).
qv::Result<UniqueFd, int> connect_unix(std::string_view path);

// A close-on-exec duplicate numbered 3 or above.
qv::Result<UniqueFd, int> duplicate(int fd);

// Sends every byte, continuing after partial sends and retrying interrupted ones. Fails on
// any other error or when a send makes no progress.
qv::Status<int> send_all(int fd, std::string_view bytes);

// Sends `head` then `tail` as one stream of bytes without joining them first, with the same
// continuation and failure rules as send_all.
qv::Status<int> send_all(int fd, std::string_view head, std::string_view tail);

// Receives once, retrying interruptions: the count received, 0 at end of stream; the error is an
// errno value.
qv::Result<std::size_t, int> receive_some(int fd, char* dest, std::size_t n);

// Shuts the socket down both ways, ignoring errors.
void shutdown_both(int fd);

}  // namespace qv::host
