// UTF-8: validation and repair of bytes from outside, and encoding of code points. Every
// deliverable checks and repairs text with these, so the same bytes come out the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// Length of the longest prefix of `bytes` that is well-formed UTF-8.
std::size_t valid_utf8_prefix(std::string_view bytes);

// Whether all of `bytes` is well-formed UTF-8; 16 bytes at a time, without locating the fault.
bool is_valid_utf8(std::string_view bytes);

// The bytes with each maximal invalid subsequence replaced by U+FFFD (EF BF BD); valid input
// comes back unchanged.
std::string repair_utf8(std::string_view bytes);

// Number of UTF-16 code units of the text as JavaScript counts it once decoded: each maximal
// invalid subsequence decodes to one U+FFFD (repair_utf8).
std::size_t utf16_length(std::string_view utf8);

// Appends the UTF-8 form of the code point `cp`, which must be at most U+10FFFF and no
// surrogate. Inline: the JSON readers call it for every escape they decode.
inline void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace qv
