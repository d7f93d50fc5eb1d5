#include "qv/utf8.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace qv {
namespace {

// How a sequence starting at `p` ends: `length` bytes are consumed; `valid` says whether they
// form one well-formed character or one maximal invalid subpart.
struct Step {
  std::size_t length;
  bool valid;
};

Step step(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = *p;
  if (lead < 0x80) return {1, true};
  std::size_t need;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;  // bounds of the second byte, which depend on the lead
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return {1, false};
  }
  std::size_t i = 1;
  for (; i <= need; ++i) {
    if (p + i == end) return {i, false};
    const unsigned char c = p[i];
    if (i == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF)) return {i, false};
  }
  return {i, true};
}

// Sixteen bytes as one value; the GCC/Clang vector extension compiles to SSE2 or NEON.
using Block = unsigned char __attribute__((vector_size(16)));
using Signed = signed char __attribute__((vector_size(16)));

[[gnu::always_inline]] inline Block load(const unsigned char* p) {
  Block b;
  std::memcpy(&b, p, sizeof b);
  return b;
}

[[gnu::always_inline]] inline bool any(Block b) {
  std::uint64_t half[2];
  std::memcpy(half, &b, sizeof half);
  return (half[0] | half[1]) != 0;
}

// Lanes set where the block at `q` breaks well-formed UTF-8; the three bytes before it are read
// too. A byte must be a continuation exactly when one of the three bytes before it leads a
// sequence that long; beyond that only the never-used bytes and the second-byte limits after
// E0, ED, F0 and F4 are left to check.
[[gnu::always_inline]] inline Block faults(const unsigned char* q) {
  const Block b = load(q);
  const Block p1 = load(q - 1);
  // Signed views with the top bit flipped turn unsigned limits into single signed compares.
  const Signed x = (Signed)(b ^ 0x80);
  const Signed x1 = (Signed)(p1 ^ 0x80);
  const Signed x2 = (Signed)(load(q - 2) ^ 0x80);
  const Signed x3 = (Signed)(load(q - 3) ^ 0x80);
  const Signed continuation = (Signed)b < -0x40;                              // 80..BF
  const Signed expected = (x1 >= 0x40) | (x2 >= 0x60) | (x3 >= 0x70);         // C0.., E0.., F0..
  Signed bad = (continuation ^ expected) | ((x & -2) == 0x40) | (x >= 0x75);  // C0, C1, F5..
  // After E0, ED, F0 and F4 a continuation byte must also be at least A0, at most 9F, at
  // least 90 and at most 8F.
  bad |= (p1 == 0xE0) & (x < 0x20);
  bad |= (p1 == 0xED) & (x >= 0x20);
  bad |= (p1 == 0xF0) & (x < 0x10);
  bad |= (p1 == 0xF4) & (x >= 0x10);
  return (Block)bad;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  // The first block is checked from a copy with zeros before it (nothing is open at the
  // start) and, for short texts, after it (the end closes every sequence).
  unsigned char edge[3 + 16] = {};
  if (n != 0) std::memcpy(edge + 3, p, std::min<std::size_t>(n, 16));  // an empty view may be null
  if (any(faults(edge + 3))) return false;
  if (n < 16) return true;
  const auto* q = p + 16;
  const auto* end = p + n;
  const Block high = Block{} | 0x80;
  // Four blocks per step, so that one test covers 64 bytes.
  for (; end - q >= 64; q += 64) {
    // ASCII after three ASCII bytes cannot hold a fault.
    const Block all = load(q - 3) | load(q) | load(q + 16) | load(q + 32) | load(q + 48);
    if (!any(all & high)) continue;
    if (any(faults(q) | faults(q + 16) | faults(q + 32) | faults(q + 48))) return false;
  }
  for (; end - q >= 16; q += 16) {
    if (any(faults(q))) return false;
  }
  // The rest, with the three bytes before it and zeros after it, which close any open sequence.
  unsigned char tail[3 + 16] = {};
  std::memcpy(tail, q - 3, static_cast<std::size_t>(end - q) + 3);
  return !any(faults(tail + 3));
}

std::size_t valid_utf8_prefix(std::string_view bytes) {
  const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* p = begin;
  const auto* end = begin + bytes.size();
  while (end - p >= 8) {
    // Messages are mostly ASCII: test a word at a time and jump straight to the first byte
    // with its high bit set.
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    const std::uint64_t high = w & 0x8080808080808080ULL;
    if (high == 0) {
      p += 8;
      continue;
    }
    p += (std::endian::native == std::endian::little ? std::countr_zero(high)
                                                     : std::countl_zero(high)) /
         8;
    if (end - p >= 4) {
      // The common two- and three-byte forms checked on the bytes in reading order:
      // 110xxxxx 10xxxxxx with a lead of at least C2, or 1110xxxx 10xxxxxx 10xxxxxx that is
      // neither overlong (E0 with a second byte below A0) nor a surrogate (ED above 9F).
      const std::uint32_t b0 = p[0], b1 = p[1], b2 = p[2];
      if ((b0 & 0xE0) == 0xC0 && (b1 & 0xC0) == 0x80 && b0 >= 0xC2) {
        p += 2;
        continue;
      }
      if ((b0 & 0xF0) == 0xE0 && (b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80) {
        const std::uint32_t t = (b0 & 0x0F) | (b1 & 0x20) << 8;
        if (t != 0 && t != (0x2000 | 0x0D)) {
          p += 3;
          continue;
        }
        break;
      }
    }
    Step s = step(p, end);
    if (!s.valid) break;
    p += s.length;
  }
  while (p < end) {
    Step s = step(p, end);
    if (!s.valid) break;
    p += s.length;
  }
  return static_cast<std::size_t>(p - begin);
}

std::string repair_utf8(std::string_view bytes) {
  std::size_t good = valid_utf8_prefix(bytes);
  if (good == bytes.size()) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  out.append(bytes.data(), good);
  p += good;
  while (p < end) {
    const auto* run = p;
    while (p < end) {
      Step s = step(p, end);
      if (!s.valid) break;
      p += s.length;
    }
    out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
    if (p == end) break;
    Step bad = step(p, end);
    out.append("\xEF\xBF\xBD");
    p += bad.length;
  }
  return out;
}

std::size_t utf16_length(std::string_view utf8) {
  if (!is_valid_utf8(utf8)) return utf16_length(repair_utf8(utf8));
  std::size_t units = 0;
  for (const char byte : utf8) {
    const auto c = static_cast<unsigned char>(byte);
    // One unit for each lead byte, and a second one for the four-byte forms (above U+FFFF).
    units += (c & 0xC0) != 0x80 ? 1 : 0;
    units += c >= 0xF0 ? 1 : 0;
  }
  return units;
}

}  // namespace qv
