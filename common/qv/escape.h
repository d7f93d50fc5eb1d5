// Reading escapes: hexadecimal digits (percent escapes, JSON's \u) and JSON's \u escapes with
// their surrogate pairs, so that every reader decodes the same escapes alike.
#pragma once

#include <optional>
#include <string_view>

namespace qv {

// The value of one hexadecimal digit in either case, or -1 for any other byte.
inline int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// What JSON's one-letter escape "\\" + `letter` stands for: '"', '\\' and '/' themselves, b f n r t
// the control characters; nothing for any other letter ('u' included, see decode_u_escape).
inline std::optional<char> short_escape(char letter) {
  switch (letter) {
    case '"':
    case '\\':
    case '/':
      return letter;
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return std::nullopt;
  }
}

// What a lone surrogate decodes to: a high half not directly followed by the escape of a low
// half, or a low half on its own.
enum class LoneSurrogate {
  kReplace,  // U+FFFD, as when a JavaScript string is turned into UTF-8
  kRefuse,   // nothing: the text is not acceptable
};

// Decodes the escape "\uXXXX" at the start of `text` and removes what it used from the front of
// `text`; a high surrogate directly followed by "\uXXXX" of a low one is joined with it into one
// code point. Answers the code point (U+FFFD for a lone surrogate under kReplace), or nothing
// when `text` does not start with "\u" and four hexadecimal digits, or for a lone surrogate
// under kRefuse.
std::optional<char32_t> decode_u_escape(std::string_view& text, LoneSurrogate lone);

}  // namespace qv
