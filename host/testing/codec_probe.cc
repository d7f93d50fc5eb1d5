// Test helper: runs the host's text functions on requests read from stdin so that tests in
// other languages can compare them with independent reference implementations.
//
// Request:  one op byte, a 4-byte native-order length, that many bytes.
// Response: a 4-byte native-order length, that many bytes.
//   'u' -> repair_utf8 of the bytes
//   's' -> scan_header: "0" when invalid, else "1" + JSON of {idText, idValue, event} with the
//          texts as arrays of byte values (so no encoding question arises)
//   'o' -> oversize_reply: "" when there is none, else the reply
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "host/frame.h"
#include "host/json/header_scan.h"
#include "host/oversize.h"
#include "qv/utf8.h"

namespace {

std::string bytes_array(const std::string& s) {
  std::string out = "[";
  for (unsigned char c : s) {
    if (out.size() > 1) out += ',';
    out += std::to_string(c);
  }
  return out + "]";
}

std::string describe_scan(const std::string& text) {
  auto h = qv::json::scan_header(text);
  if (!h) return "0";
  char value[64];
  std::snprintf(value, sizeof value, "%.17g", h->id_value);
  std::string v = value;
  if (v == "inf") v = "\"inf\"";
  if (v == "-inf") v = "\"-inf\"";
  std::string out = "1{\"idText\":";
  out += h->id_text ? bytes_array(*h->id_text) : "null";
  out += ",\"idValue\":" + (h->id_text ? v : std::string("null"));
  out += ",\"event\":" + (h->event ? bytes_array(*h->event) : std::string("null")) + "}";
  return out;
}

}  // namespace

int main() {
  qv::host::InputReader in(STDIN_FILENO);
  qv::host::BrowserWriter out(STDOUT_FILENO);
  for (;;) {
    char op;
    if (!in.read_exact(&op, 1)) return 0;
    auto payload = qv::host::read_frame(in);
    if (!payload) return 1;
    std::string answer;
    switch (op) {
      case 'u':
        answer = qv::repair_utf8(*payload);
        break;
      case 's':
        answer = describe_scan(*payload);
        break;
      case 'o':
        answer = qv::host::oversize_reply(*payload).value_or("");
        break;
      default:
        return 2;
    }
    if (!out.write_frame(answer)) return 3;
  }
}
