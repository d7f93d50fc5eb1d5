#include "host/oversize.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/json/header_scan.h"

namespace qv::host {

namespace {

// The shortest digits that read back as `value`, and the decimal exponent of the first one.
// (Floating-point to_chars is missing from the C++ library of older macOS releases.)
void shortest_digits(double value, std::string& digits, int& exponent) {
  char buf[40];
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*e", precision - 1, value);
    if (precision == 17 || std::strtod(buf, nullptr) == value) break;
  }
  // buf is "[-]d.ddde±xx" or "[-]de±xx".
  const char* e = std::strchr(buf, 'e');
  digits.clear();
  for (const char* p = buf; p < e; ++p) {
    if (*p >= '0' && *p <= '9') digits.push_back(*p);
  }
  exponent = std::atoi(e + 1);
}

}  // namespace

std::string render_id(double value, std::string_view text) {
  if (!std::isfinite(value)) return "null";
  if (value == 0) return "0";
  if (std::trunc(value) == value && std::fabs(value) < 1e21) {
    // Shortest round-trip digits, then zeros up to the units digit: 1e20 has one digit and
    // twenty zeros. A whole number never has digits after its units digit, so no fraction
    // can appear; the check only keeps a surprise from turning into a wrong id.
    std::string digits;
    int exponent = 0;
    shortest_digits(value, digits, exponent);
    if (exponent >= 0 && static_cast<std::size_t>(exponent) + 1 >= digits.size()) {
      digits.append(static_cast<std::size_t>(exponent) + 1 - digits.size(), '0');
      return (value < 0 ? "-" : "") + digits;
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
