#include "relay.h"

#include <time.h>

#include <cerrno>
#include <cstdlib>

#include "json/header_scan.h"
#include "log.h"
#include "oversize.h"
#include "qv/utf8.h"
#include "socket_io.h"

namespace qv::host {
namespace {

constexpr std::size_t kReadBuffer = 8192;
// Frame buffers up to this capacity are kept for the next frame (room for the largest message
// the browser accepts, grown once).
constexpr std::size_t kKeptFrameBuffer = 4 * kMaxBrowserMessage;

void pause_before_reconnect() {
  timespec left{1, 0};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void to_browser(BrowserWriter& browser, std::string_view text) {
  // The browser has gone away when its pipe cannot be written; nothing is left to do.
  if (!browser.write_frame(text)) end_process(0);
}

void deliver(std::string_view text, BrowserWriter& browser, BridgeState& state) {
  if (text.size() <= kMaxBrowserMessage) {
    to_browser(browser, text);
    return;
  }
  if (auto reply = oversize_reply(text)) state.lock().send_to_app(*reply);
  log_line("dropped a " + std::to_string(text.size()) + "-byte message to the browser");
}

void deliver_line(std::string_view line, BrowserWriter& browser, BridgeState& state) {
  if (line.empty()) return;
  if (is_valid_utf8(line)) {
    deliver(line, browser, state);
  } else {
    deliver(repair_utf8(line), browser, state);
  }
}

// Reads lines until the connection ends; an unterminated tail is dropped with it.
void relay_lines(int fd, BrowserWriter& browser, BridgeState& state) {
  char buffer[kReadBuffer];
  std::string line;
  for (;;) {
    long got = receive_some(fd, buffer, sizeof buffer);
    if (got <= 0) return;
    std::string_view chunk(buffer, static_cast<std::size_t>(got));
    for (;;) {
      std::size_t nl = chunk.find('\n');
      if (nl == std::string_view::npos) {
        line.append(chunk);
        break;
      }
      if (line.empty()) {
        deliver_line(chunk.substr(0, nl), browser, state);
      } else {
        line.append(chunk.substr(0, nl));
        deliver_line(line, browser, state);
        line.clear();
      }
      chunk.remove_prefix(nl + 1);
    }
  }
}

}  // namespace

void BridgeState::Locked::send_to_app(std::string_view text) {
  UniqueFd& fd = state_.socket_;
  if (!fd) return;
  if (!send_all(fd.get(), text, "\n")) shutdown_both(fd.get());
}

[[noreturn]] void end_process(int status) {
  std::_Exit(status);
}

void connection_loop(const std::string& path, BrowserWriter& browser, BridgeState& state) {
  for (;;) {
    auto writing = connect_unix(path);
    if (!writing) {
      pause_before_reconnect();
      continue;
    }
    auto reading = duplicate(writing->get());
    if (!reading) {
      pause_before_reconnect();
      continue;
    }
    {
      auto locked = state.lock();
      locked.socket() = std::move(*writing);
      log_line("connected to Quorvel");
      // Replaying under the lock puts the hello ahead of anything the browser loop sends.
      if (locked.hello()) locked.send_to_app(*locked.hello());
    }
    relay_lines(reading->get(), browser, state);
    shutdown_both(reading->get());
    state.lock().socket().reset();
    to_browser(browser, kDetachNotice);
    reading->reset();
    pause_before_reconnect();
  }
}

void browser_loop(InputReader& in, BridgeState& state) {
  // Both buffers live across frames, so steady traffic allocates nothing.
  std::string payload;
  std::string repaired;
  while (read_frame(in, payload)) {
    std::string* text = &payload;
    if (!is_valid_utf8(payload)) {
      repaired = repair_utf8(payload);
      text = &repaired;
    }
    auto scanned = json::scan_header(*text);
    if (!scanned) continue;
    const json::MessageHeader& header = *scanned;
    // In valid JSON a raw line feed can only be whitespace between tokens; as a space it keeps
    // the message on one line of the socket protocol and leaves its meaning unchanged.
    for (auto nl = text->find('\n'); nl != std::string::npos; nl = text->find('\n', nl + 1)) {
      (*text)[nl] = ' ';
    }
    {
      auto locked = state.lock();
      if (header.event == "hello") locked.hello() = *text;
      // Id 0 belongs to the host's own detach notice; such messages are consumed here.
      if (!header.id_text || header.id_value != 0) locked.send_to_app(*text);
    }
    // One outsized frame should not pin its memory for the rest of the session.
    if (payload.capacity() > kKeptFrameBuffer) std::string().swap(payload);
    if (repaired.capacity() > kKeptFrameBuffer) std::string().swap(repaired);
  }
}

}  // namespace qv::host
