#include "oversize.h"

#include <charconv>
#include <cmath>

#include "json/header_scan.h"

namespace qv::host {

std::string render_id(double value, std::string_view text) {
  if (!std::isfinite(value)) return "null";
  if (value == 0) return "0";
  if (std::trunc(value) == value && std::fabs(value) < 1e21) {
    // Shortest round-trip digits, then zeros up to the units digit. (Fixed notation from
    // to_chars would print the double's exact value instead, e.g. ...770624 for ...77e4.)
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    if (ec == std::errc()) {
      std::string_view sci(buf, static_cast<std::size_t>(end - buf));
      std::size_t e = sci.find('e');
      int exponent = 0;
      std::from_chars(sci.data() + e + 1 + (sci[e + 1] == '+'), sci.data() + sci.size(), exponent);
      std::string out;
      for (char c : sci.substr(0, e)) {
        if (c != '.') out.push_back(c);
      }
      const std::size_t digits = out.size() - (value < 0);
      // A whole number never needs digits after the units digit, so the padding is never
      // negative; the guard only keeps a surprise from turning into a wrong id.
      if (exponent >= 0 && static_cast<std::size_t>(exponent) + 1 >= digits) {
        out.append(static_cast<std::size_t>(exponent) + 1 - digits, '0');
        return out;
      }
    }
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
