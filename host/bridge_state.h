// What the two relay threads share about the application side: the descriptor the host writes
// to and the browser's last hello, behind one lock.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "qv/unique_fd.h"

namespace qv::host {

class BridgeState {
 public:
  // Access to the fields exists only while the lock is held.
  class Locked {
   public:
    explicit Locked(BridgeState& state) : state_(state), lock_(state.lock_) {}
    UniqueFd& socket() { return state_.socket_; }
    std::optional<std::string>& hello() { return state_.hello_; }
    // Sends the text and a newline to the application; a failed send shuts the socket down so
    // that the connection loop ends the connection. Nothing happens while disconnected.
    void send_to_app(std::string_view text);
    // Sends texts that already end in their newlines, with the same failure rule.
    void send_lines(std::string_view lines);

   private:
    BridgeState& state_;
    std::lock_guard<std::mutex> lock_;
  };

  Locked lock() { return Locked(*this); }

 private:
  std::mutex lock_;
  UniqueFd socket_;
  std::optional<std::string> hello_;
};

}  // namespace qv::host
