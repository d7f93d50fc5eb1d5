#include "qv/escape.h"

namespace qv {
namespace {

// The code unit of "\uXXXX" at the start of `text`, or nothing.
std::optional<char32_t> unit_at(std::string_view text) {
  if (text.size() < 6 || text[0] != '\\' || text[1] != 'u') return std::nullopt;
  char32_t unit = 0;
  for (std::size_t i = 2; i < 6; ++i) {
    const int digit = hex_digit_value(text[i]);
    if (digit < 0) return std::nullopt;
    unit = unit * 16 + static_cast<char32_t>(digit);
  }
  return unit;
}

bool is_high(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low(char32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::optional<char32_t> decode_u_escape(std::string_view& text, LoneSurrogate lone) {
  const std::optional<char32_t> unit = unit_at(text);
  if (!unit) return std::nullopt;
  if (!is_high(*unit) && !is_low(*unit)) {
    text.remove_prefix(6);
    return unit;
  }
  if (is_high(*unit)) {
    if (const std::optional<char32_t> low = unit_at(text.substr(6)); low && is_low(*low)) {
      text.remove_prefix(12);
      return 0x10000 + ((*unit - 0xD800) << 10) + (*low - 0xDC00);
    }
  }
  if (lone == LoneSurrogate::kRefuse) return std::nullopt;
  text.remove_prefix(6);
  return 0xFFFD;
}

}  // namespace qv
