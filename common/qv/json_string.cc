#include "qv/json_string.h"

#include "qv/utf8.h"

namespace qv {
namespace {

// Escapes of the bytes below 0x20, by value.
constexpr std::string_view kControlEscape[0x20] = {
    "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
    "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
    "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
    "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f",
};

// `text` must be valid UTF-8. Runs of bytes that need no escape are copied whole.
void append_escaped(std::string& out, std::string_view text) {
  out.push_back('"');
  const char* run = text.data();
  const char* const end = run + text.size();
  for (const char* p = run; p != end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(run, p);
    if (c < 0x20) {
      out.append(kControlEscape[c]);
    } else {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    }
    run = p + 1;
  }
  out.append(run, end);
  out.push_back('"');
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  if (is_valid_utf8(text)) {
    append_escaped(out, text);
  } else {
    append_escaped(out, repair_utf8(text));
  }
}

}  // namespace qv
