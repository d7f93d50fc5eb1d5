#include "oversize.h"

#include <charconv>
#include <cmath>

#include "json/header_scan.h"

namespace qv::host {

std::string render_id(double value, std::string_view text) {
  if (!std::isfinite(value)) return "null";
  if (value == 0) return "0";
  if (std::trunc(value) == value && std::fabs(value) < 1e21) {
    // Fixed notation with no precision asks for the shortest digits that read back as the same
    // double, padded with zeros up to the units digit.
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (ec == std::errc()) return std::string(buf, end);
  }
  return std::string(text);
}

std::optional<std::string> oversize_reply(std::string_view text) {
  auto header = json::scan_header(text);
  if (!header || !header->id_text) return std::nullopt;
  std::string reply = "{\"id\":";
  reply += render_id(header->id_value, *header->id_text);
  reply += ",\"error\":\"The message is larger than the browser accepts (1 MB).\"}";
  return reply;
}

}  // namespace qv::host
