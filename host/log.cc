#include "log.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

namespace qv::host {

void log_line(std::string_view message) {
  static std::mutex stderr_lock;
  std::string line = "[quorvel-host] ";
  line.append(message);
  line.push_back('\n');
  std::lock_guard lock(stderr_lock);
  std::string_view rest = line;
  while (!rest.empty()) {
    ssize_t n = ::write(STDERR_FILENO, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace qv::host
