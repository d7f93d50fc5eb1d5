#include "macos/cleanup/utf8.h"

#include <cstddef>

namespace qv::cleanup {
namespace {

// Length of the well-formed sequence starting at text[i], or, when it is ill-formed, the
// negated length of its maximal ill-formed prefix (at least 1).
int SequenceAt(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  int length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return -1;
  }
  for (int k = 1; k < length; ++k) {
    const std::size_t at = i + static_cast<std::size_t>(k);
    if (at >= text.size()) return -k;
    const unsigned char b = byte(at);
    const bool fits = k == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
    if (!fits) return -k;
  }
  return length;
}

}  // namespace

bool ValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const int n = SequenceAt(text, i);
    if (n < 0) return false;
    i += static_cast<std::size_t>(n);
  }
  return true;
}

std::string RepairUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const int n = SequenceAt(text, i);
    if (n > 0) {
      out.append(text.substr(i, static_cast<std::size_t>(n)));
      i += static_cast<std::size_t>(n);
    } else {
      out.append("\xEF\xBF\xBD");
      i += static_cast<std::size_t>(-n);
    }
  }
  return out;
}

}  // namespace qv::cleanup
