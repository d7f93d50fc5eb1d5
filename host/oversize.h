// What the application is told when one of its messages is too large for the browser.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv::host {

// Renders a numeric id for the reply: whole numbers below 1e21 in plain shortest round-trip
// digits, non-finite values as null, anything else exactly as the message wrote it.
std::string render_id(double value, std::string_view text);

// The error reply for an oversized message, or nothing when it has no numeric top-level "id"
// or is not valid JSON.
std::optional<std::string> oversize_reply(std::string_view text);

}  // namespace qv::host
