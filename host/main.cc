// quorvel-host: started by the browser as its native-messaging host; relays JSON messages
// between the browser (frames on stdin/stdout) and the desktop application (lines on a
// Unix-domain socket).
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "host/bridge_state.h"
#include "host/frame.h"
#include "host/relay.h"
#include "qv/write_all.h"

namespace {

using qv::host::BridgeState;
using qv::host::BrowserWriter;

// Writes to a closed peer must come back as errors, and the standard descriptors must exist
// so that no socket or file ever lands on 0, 1 or 2.
void prepare_process() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (::open("/dev/null", O_RDWR) != fd) std::abort();
  }
  std::signal(SIGPIPE, SIG_IGN);
}

void write_stderr(const std::string& text) {
  // Best effort: nothing useful can be done when standard error is gone.
  (void)qv::write_all(STDERR_FILENO, text);
}

struct ReaderArgs {
  std::string path;
  std::shared_ptr<BrowserWriter> browser;
  std::shared_ptr<BridgeState> state;
};

void* reader_main(void* raw) {
  std::unique_ptr<ReaderArgs> args(static_cast<ReaderArgs*>(raw));
  qv::host::connection_loop(args->path, *args->browser, *args->state);
}

}  // namespace

int main() {
  prepare_process();

  const char* path = std::getenv("QV_BROWSER_BRIDGE_SOCKET");
  if (path == nullptr || *path == '\0') {
    write_stderr("QV_BROWSER_BRIDGE_SOCKET is not set.\n");
    return 1;
  }

  // Both live until the process ends; neither thread ever releases them.
  auto browser = std::make_shared<BrowserWriter>(STDOUT_FILENO);
  auto state = std::make_shared<BridgeState>();

  auto* args = new ReaderArgs{path, browser, state};
  pthread_t reader;
  if (int rc = ::pthread_create(&reader, nullptr, reader_main, args); rc != 0) {
    delete args;
    write_stderr(std::string("failed to spawn thread: ") + std::strerror(rc) + "\n");
    return 101;
  }
  ::pthread_detach(reader);

  qv::host::InputReader in(STDIN_FILENO);
  qv::host::browser_loop(in, *state);
  qv::host::end_process(0);
}
