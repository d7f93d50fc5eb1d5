#include "host/bridge_state.h"

#include "host/socket_io.h"

namespace qv::host {

void BridgeState::Locked::send_to_app(std::string_view text) {
  UniqueFd& fd = state_.socket_;
  if (!fd) return;
  if (!send_all(fd.get(), text, "\n")) shutdown_both(fd.get());
}

void BridgeState::Locked::send_lines(std::string_view lines) {
  UniqueFd& fd = state_.socket_;
  if (!fd) return;
  if (!send_all(fd.get(), lines)) shutdown_both(fd.get());
}

}  // namespace qv::host
