// Validates a message as one JSON value and extracts its top-level "id" and "event" members
// in a single forward pass, without building a tree.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv::json {

struct MessageHeader {
  // The number exactly as written; absent when there is no numeric top-level "id".
  std::optional<std::string> id_text;
  // id_text converted with correct rounding; meaningful only when id_text is present.
  double id_value = 0;
  // The top-level "event" string with escapes decoded; absent unless it is a string.
  std::optional<std::string> event;
};

// Returns the header, or nothing when the text is not exactly one JSON value surrounded by
// optional whitespace.
std::optional<MessageHeader> scan_header(std::string_view text);

// Decodes the contents of a JSON string (between its quotes, already validated) to UTF-8:
// escapes are resolved as UTF-16 code units, pairs are joined, lone surrogates become U+FFFD.
std::string decode_json_string(std::string_view contents);

}  // namespace qv::json
