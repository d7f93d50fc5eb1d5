#include "host/log.h"

#include <unistd.h>

#include <mutex>
#include <string>

#include "qv/write_all.h"

namespace qv::host {

void log_line(std::string_view message) {
  static std::mutex stderr_lock;
  std::string line = "[quorvel-host] ";
  line.append(message);
  line.push_back('\n');
  std::lock_guard lock(stderr_lock);
  (void)qv::write_all(STDERR_FILENO, line);
}

}  // namespace qv::host
