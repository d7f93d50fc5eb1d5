// The host's standard error: its log channel, one line per event, and the few start-up reports.
#pragma once

#include <string_view>

namespace qv::host {

// Writes `text` to standard error as one write, under the lock that keeps lines from different
// threads apart; failures are ignored (nothing useful can be done when standard error is gone).
void write_stderr(std::string_view text);

// Writes "[quorvel-host] " + message + newline as one write; failures are ignored.
void log_line(std::string_view message);

}  // namespace qv::host
