#include "host/log.h"

#include <unistd.h>

#include <mutex>
#include <string>

#include "qv/write_all.h"

namespace qv::host {

void write_stderr(std::string_view text) {
  static std::mutex stderr_lock;
  std::lock_guard lock(stderr_lock);
  (void)qv::write_all(STDERR_FILENO, text);
}

void log_line(std::string_view message) {
  std::string line = "[quorvel-host] ";
  line.append(message);
  line.push_back('\n');
  write_stderr(line);
}

}  // namespace qv::host
