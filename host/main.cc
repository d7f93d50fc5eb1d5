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
#include <string>

#include "host/bridge_state.h"
#include "host/frame.h"
#include "host/log.h"
#include "host/relay.h"

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

// What the reader thread is handed. It refers to objects of main(), which never returns once
// the thread runs: the process ends through end_process, without unwinding main's frame.
struct ReaderArgs {
  const std::string& path;
  BrowserWriter& browser;
  BridgeState& state;
};

void* reader_main(void* raw) {
  const ReaderArgs& args = *static_cast<const ReaderArgs*>(raw);
  qv::host::connection_loop(args.path, args.browser, args.state);
}

}  // namespace

int main() {
  prepare_process();

  const char* path = std::getenv("QV_BROWSER_BRIDGE_SOCKET");
  if (path == nullptr || *path == '\0') {
    qv::host::write_stderr("QV_BROWSER_BRIDGE_SOCKET is not set.\n");
    return 1;
  }

  // The objects both threads share live in this frame, which lasts as long as the process.
  const std::string socket_path(path);
  BrowserWriter browser(STDOUT_FILENO);
  BridgeState state;
  ReaderArgs args{socket_path, browser, state};
  pthread_t reader;
  if (int rc = ::pthread_create(&reader, nullptr, reader_main, &args); rc != 0) {
    qv::host::write_stderr(std::string("failed to spawn thread: ") + std::strerror(rc) + "\n");
    return 101;
  }
  ::pthread_detach(reader);

  qv::host::InputReader in(STDIN_FILENO);
  qv::host::browser_loop(in, state);
  qv::host::end_process(0);
}
