#include "host/relay.h"

#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <span>
#include <string>

#include "host/json/header_scan.h"
#include "host/line_reader.h"
#include "host/log.h"
#include "host/oversize.h"
#include "host/socket_io.h"
#include "qv/utf8.h"

namespace qv::host {
namespace {

// Frame buffers up to this capacity are kept for the next frame (room for the largest message
// the browser accepts, grown once).
constexpr std::size_t kKeptFrameBuffer = 4 * kMaxBrowserMessage;

void pause_before_reconnect() {
  timespec left{1, 0};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void write_frame_or_end(BrowserWriter& browser, std::string_view text) {
  // The browser has gone away when its pipe cannot be written; nothing is left to do.
  if (!browser.write_frame(text)) end_process(0);
}

// The frames of the lines of one receive, written to the browser together.
class ToBrowser {
 public:
  ToBrowser(BrowserWriter& browser, BridgeState& state) : browser_(browser), state_(state) {}

  void line(std::string_view text) {
    if (text.empty()) return;
    if (!is_valid_utf8(text)) {
      // Kept until the end of the receive: the batch may refer to it.
      repaired_.push_back(repair_utf8(text));
      text = repaired_.back();
    }
    if (text.size() <= kMaxBrowserMessage) {
      batch_.add(text);
      return;
    }
    // A message the browser would refuse keeps its place: the frames before it go out first.
    flush();
    if (auto reply = oversize_reply(text)) state_.lock().send_to_app(*reply);
    log_line("dropped a " + std::to_string(text.size()) + "-byte message to the browser");
  }

  void flush() {
    if (!batch_.empty() && !browser_.write_frames(batch_)) end_process(0);
  }

  // Writes what is left; after this the lines handed in may change.
  void end_receive() {
    flush();
    repaired_.clear();
  }

 private:
  BrowserWriter& browser_;
  BridgeState& state_;
  FrameBatch batch_;
  std::deque<std::string> repaired_;  // a deque never moves its strings
};

// Reads lines until the connection ends; an unterminated tail is dropped with it.
void relay_lines(int fd, BrowserWriter& browser, BridgeState& state) {
  LineReader reader(fd);
  ToBrowser out(browser, state);
  for (;;) {
    auto got = reader.receive();
    if (!got || *got == 0) return;
    while (auto line = reader.next_line()) out.line(*line);
    // Every frame of this receive is written, in order, before the next receive may move the
    // bytes the batch refers to.
    out.end_receive();
  }
}

// Messages for the application from frames that were already buffered, handed over under one
// lock acquisition: the latest hello and the forwarded texts joined with their newlines.
class ToApp {
 public:
  explicit ToApp(BridgeState& state) : state_(state) {}

  void hello(std::string_view text) {
    hello_.assign(text);
    has_hello_ = true;
  }

  void forward(std::string_view text) {
    // A long text is sent where it is rather than copied.
    if (text.size() >= kJoinBelow) {
      flush(text);
      return;
    }
    lines_.append(text);
    lines_.push_back('\n');
    if (lines_.size() >= kJoinedLimit) flush();
  }

  // Hands over everything collected, then `last` if given.
  void flush(std::optional<std::string_view> last = std::nullopt) {
    if (!has_hello_ && lines_.empty() && !last) return;
    auto locked = state_.lock();
    if (has_hello_) {
      // Swapping keeps both buffers' storage for the next hello.
      if (!locked.hello()) locked.hello().emplace();
      locked.hello()->swap(hello_);
      has_hello_ = false;
    }
    if (!lines_.empty()) locked.send_lines(lines_);
    if (last) locked.send_to_app(*last);
    lines_.clear();
  }

 private:
  static constexpr std::size_t kJoinBelow = 16 * 1024;
  static constexpr std::size_t kJoinedLimit = 64 * 1024;

  BridgeState& state_;
  std::string hello_;
  bool has_hello_ = false;
  std::string lines_;
};

// In valid JSON a raw line feed can only be whitespace between tokens; as a space it keeps the
// message on one line of the socket protocol and leaves its meaning unchanged.
void newlines_to_spaces(std::span<char> text) {
  char* end = text.data() + text.size();
  for (char* p = text.data(); p != end;) {
    p = static_cast<char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (p == nullptr) break;
    *p++ = ' ';
  }
}

}  // namespace

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
    write_frame_or_end(browser, kDetachNotice);
    reading->reset();
    pause_before_reconnect();
  }
}

void browser_loop(InputReader& in, BridgeState& state) {
  // The buffers live across frames, so steady traffic allocates nothing.
  std::string spill;
  std::string repaired;
  ToApp out(state);
  for (;;) {
    // Nothing collected waits while the loop blocks for more input.
    if (!in.frame_buffered()) out.flush();
    auto frame = in.next_frame(spill);
    if (!frame) break;
    std::span<char> text = *frame;
    if (!is_valid_utf8(std::string_view(text.data(), text.size()))) {
      repaired = repair_utf8(std::string_view(text.data(), text.size()));
      text = repaired;
    }
    const std::string_view view(text.data(), text.size());
    auto scanned = json::scan_header(view);
    if (!scanned) continue;
    const json::MessageHeader& header = *scanned;
    newlines_to_spaces(text);
    if (header.event == "hello") out.hello(view);
    // Id 0 belongs to the host's own detach notice; such messages are consumed here.
    if (!header.id_text || header.id_value != 0) out.forward(view);
    // One outsized frame should not pin its memory for the rest of the session.
    if (spill.capacity() > kKeptFrameBuffer) std::string().swap(spill);
    if (repaired.capacity() > kKeptFrameBuffer) std::string().swap(repaired);
  }
  out.flush();
}

}  // namespace qv::host
