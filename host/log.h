// The host's log channel: one line per event on standard error.
#pragma once

#include <string_view>

namespace qv::host {

// Writes "[quorvel-host] " + message + newline as one write; failures are ignored.
void log_line(std::string_view message);

}  // namespace qv::host
