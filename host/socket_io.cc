#include "host/socket_io.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "qv/write_all.h"

namespace qv::host {
namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;  // SO_NOSIGPIPE is set on the socket instead
#endif

qv::Result<UniqueFd, int> open_socket() {
#ifdef SOCK_CLOEXEC
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return qv::Err{errno};
#else
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!fd) return qv::Err{errno};
  if (::fcntl(fd.get(), F_SETFD, FD_CLOEXEC) != 0) return qv::Err{errno};
#endif
#ifdef SO_NOSIGPIPE
  int on = 1;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) != 0) return qv::Err{errno};
#endif
  return fd;
}

}  // namespace

qv::Result<UniqueFd, int> connect_unix(std::string_view path) {
  sockaddr_un addr{};
  static_assert(sizeof addr.sun_path > kMaxSocketPath);
  if (path.size() > kMaxSocketPath || path.find('\0') != std::string_view::npos) {
    return qv::Err{EINVAL};
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
#ifdef __APPLE__
  addr.sun_len = static_cast<unsigned char>(length);
#endif
  auto fd = open_socket();
  if (!fd) return fd;
  // An interrupted connect is not restarted: the attempt fails and the caller retries later.
  if (::connect(fd->get(), reinterpret_cast<const sockaddr*>(&addr), length) != 0) {
    return qv::Err{errno};
  }
  return fd;
}

qv::Result<UniqueFd, int> duplicate(int fd) {
  UniqueFd copy(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
  if (!copy) return qv::Err{errno};
  return copy;
}

qv::Status<int> send_all(int fd, std::string_view bytes) {
  return qv::write_all_with(bytes, [fd](const char* data, std::size_t size) {
    return ::send(fd, data, size, kSendFlags);
  });
}

qv::Status<int> send_all(int fd, std::string_view head, std::string_view tail) {
  // Short messages cost less joined in a stack buffer than gathered by the kernel.
  constexpr std::size_t kJoinLimit = 4096;
  if (head.size() + tail.size() <= kJoinLimit) {
    char joined[kJoinLimit];
    std::memcpy(joined, head.data(), head.size());
    std::memcpy(joined + head.size(), tail.data(), tail.size());
    return send_all(fd, std::string_view(joined, head.size() + tail.size()));
  }
  iovec parts[2] = {{const_cast<char*>(head.data()), head.size()},
                    {const_cast<char*>(tail.data()), tail.size()}};
  return qv::write_all_gathered_with(parts, [fd](iovec* iov, int count) {
    msghdr message{};
    message.msg_iov = iov;
    message.msg_iovlen = static_cast<decltype(message.msg_iovlen)>(count);
    return ::sendmsg(fd, &message, kSendFlags);
  });
}

qv::Result<std::size_t, int> receive_some(int fd, char* dest, std::size_t n) {
  for (;;) {
    const ssize_t got = ::recv(fd, dest, n, 0);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return qv::Err{errno};
  }
}

void shutdown_both(int fd) {
  (void)::shutdown(fd, SHUT_RDWR);
}

}  // namespace qv::host
