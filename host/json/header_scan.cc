#include "host/json/header_scan.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qv/escape.h"
#include "qv/utf8.h"

namespace qv::json {
namespace {

// Sixteen bytes as one value; the GCC/Clang vector extension compiles to SSE2 or NEON.
using Block = unsigned char __attribute__((vector_size(16)));

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// Non-zero when some byte of the word is '"', '\\' or below 0x20. Bytes at or above 0x80 never
// trigger it on their own; a flagged word is rescanned bytewise, so carries are harmless.
inline std::uint64_t string_stop(std::uint64_t w) {
  std::uint64_t quote = w ^ (kOnes * '"');
  std::uint64_t slash = w ^ (kOnes * '\\');
  std::uint64_t zero_q = (quote - kOnes) & ~quote;
  std::uint64_t zero_s = (slash - kOnes) & ~slash;
  std::uint64_t control = (w - kOnes * 0x20) & ~w;
  return (zero_q | zero_s | control) & kHighs;
}

inline unsigned char closer(bool object) {
  return object ? '}' : ']';
}
inline bool is_ws(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
inline bool is_digit(unsigned char c) {
  return c >= '0' && c <= '9';
}

enum class Member { kOther, kId, kEvent };
enum : std::uint8_t { kArray, kObject };

class Scanner {
 public:
  explicit Scanner(std::string_view text)
      : p_(reinterpret_cast<const unsigned char*>(text.data())), end_(p_ + text.size()) {}

  bool run();
  MessageHeader& header() { return header_; }

 private:
  struct Str {
    const unsigned char* begin;
    const unsigned char* end;
    bool escaped;
    std::string_view raw() const {
      return {reinterpret_cast<const char*>(begin), static_cast<std::size_t>(end - begin)};
    }
  };

  void skip_ws() {
    while (p_ < end_ && is_ws(*p_)) ++p_;
  }
  bool string(Str& s);
  bool number();
  bool literal(const char* word, std::size_t n);
  bool member_key(Member& which);

  const unsigned char* p_;
  const unsigned char* end_;
  std::vector<std::uint8_t> stack_;
  MessageHeader header_;
};

// Expects p_ at the opening quote; leaves it after the closing quote.
bool Scanner::string(Str& s) {
  ++p_;
  s.begin = p_;
  s.escaped = false;
  for (;;) {
    // Long runs of plain contents go sixteen bytes at a time, then words, then single bytes.
    while (end_ - p_ >= 16) {
      Block b;
      std::memcpy(&b, p_, sizeof b);
      const Block stop = (Block)(b == '"') | (Block)(b == '\\') | (Block)(b < 0x20);
      std::uint64_t half[2];
      std::memcpy(half, &stop, sizeof half);
      if ((half[0] | half[1]) == 0) {
        p_ += 16;
        continue;
      }
      // Every lane is exact, so on little-endian machines the first stop is found directly.
      if constexpr (std::endian::native == std::endian::little) {
        p_ += half[0] != 0 ? std::countr_zero(half[0]) / 8 : 8 + std::countr_zero(half[1]) / 8;
      }
      break;
    }
    while (end_ - p_ >= 8) {
      std::uint64_t w;
      std::memcpy(&w, p_, 8);
      if (string_stop(w)) break;
      p_ += 8;
    }
    if (p_ == end_) return false;
    unsigned char c = *p_;
    if (c == '"') {
      s.end = p_;
      ++p_;
      return true;
    }
    if (c < 0x20) return false;
    if (c != '\\') {
      ++p_;
      continue;
    }
    s.escaped = true;
    if (end_ - p_ < 2) return false;
    if (short_escape(static_cast<char>(p_[1]))) {
      p_ += 2;
      continue;
    }
    if (p_[1] != 'u' || end_ - p_ < 6) return false;
    for (int i = 2; i < 6; ++i) {
      if (hex_digit_value(static_cast<char>(p_[i])) < 0) return false;
    }
    p_ += 6;
  }
}

bool Scanner::number() {
  if (*p_ == '-') ++p_;
  if (p_ == end_) return false;
  if (*p_ == '0') {
    ++p_;
  } else if (*p_ >= '1' && *p_ <= '9') {
    while (p_ < end_ && is_digit(*p_)) ++p_;
  } else {
    return false;
  }
  if (p_ < end_ && *p_ == '.') {
    ++p_;
    if (p_ == end_ || !is_digit(*p_)) return false;
    while (p_ < end_ && is_digit(*p_)) ++p_;
  }
  if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
    ++p_;
    if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
    if (p_ == end_ || !is_digit(*p_)) return false;
    while (p_ < end_ && is_digit(*p_)) ++p_;
  }
  return true;
}

bool Scanner::literal(const char* word, std::size_t n) {
  if (static_cast<std::size_t>(end_ - p_) < n || std::memcmp(p_, word, n) != 0) return false;
  p_ += n;
  return true;
}

// Reads `"key" ws : ws` and says which tracked member the following value belongs to.
bool Scanner::member_key(Member& which) {
  if (p_ == end_ || *p_ != '"') return false;
  Str key;
  if (!string(key)) return false;
  skip_ws();
  if (p_ == end_ || *p_ != ':') return false;
  ++p_;
  skip_ws();
  which = Member::kOther;
  if (stack_.size() != 1) return true;
  std::string decoded;
  std::string_view name = key.raw();
  if (key.escaped) {
    decoded = decode_json_string(name);
    name = decoded;
  }
  if (name == "id") {
    which = Member::kId;
  } else if (name == "event") {
    which = Member::kEvent;
  }
  return true;
}

bool Scanner::run() {
  Member which = Member::kOther;
  skip_ws();
  for (;;) {
    // A value is expected at p_; `which` names the tracked member it belongs to, if any.
    if (p_ == end_) return false;
    unsigned char c = *p_;
    if (c == '{' || c == '[') {
      if (which == Member::kId) header_.id_text.reset();
      if (which == Member::kEvent) header_.event.reset();
      const bool object = c == '{';
      stack_.push_back(object ? kObject : kArray);
      ++p_;
      skip_ws();
      if (p_ < end_ && *p_ == closer(object)) {
        ++p_;
        stack_.pop_back();
      } else {
        which = Member::kOther;
        if (object && !member_key(which)) return false;
        continue;
      }
    } else if (c == '"') {
      Str s;
      if (!string(s)) return false;
      if (which == Member::kId) header_.id_text.reset();
      if (which == Member::kEvent) {
        header_.event = s.escaped ? decode_json_string(s.raw()) : std::string(s.raw());
      }
    } else if (c == '-' || is_digit(c)) {
      const unsigned char* start = p_;
      if (!number()) return false;
      if (which == Member::kId) {
        header_.id_text.emplace(reinterpret_cast<const char*>(start), p_ - start);
        // strtod rounds correctly and saturates to infinity or zero, which is what the id
        // comparison needs; the process never changes its locale away from "C".
        header_.id_value = std::strtod(header_.id_text->c_str(), nullptr);
      }
      if (which == Member::kEvent) header_.event.reset();
    } else {
      bool ok = c == 't'   ? literal("true", 4)
                : c == 'f' ? literal("false", 5)
                : c == 'n' ? literal("null", 4)
                           : false;
      if (!ok) return false;
      if (which == Member::kId) header_.id_text.reset();
      if (which == Member::kEvent) header_.event.reset();
    }

    // After a complete value: close containers, or move on to the next element or member.
    for (;;) {
      skip_ws();
      if (stack_.empty()) return p_ == end_;
      if (p_ == end_) return false;
      const bool object = stack_.back() == kObject;
      if (*p_ == ',') {
        ++p_;
        skip_ws();
        which = Member::kOther;
        if (object && !member_key(which)) return false;
        break;
      }
      if (*p_ != closer(object)) return false;
      ++p_;
      stack_.pop_back();
    }
  }
}

}  // namespace

std::string decode_json_string(std::string_view contents) {
  std::string out;
  out.reserve(contents.size());
  for (;;) {
    const std::size_t backslash = contents.find('\\');
    out.append(contents.substr(0, backslash));
    if (backslash == std::string_view::npos || contents.size() - backslash < 2) return out;
    contents.remove_prefix(backslash);
    const char e = contents[1];
    if (e == 'u') {
      if (auto cp = decode_u_escape(contents, LoneSurrogate::kReplace)) {
        append_utf8(out, *cp);
        continue;
      }
    }
    contents.remove_prefix(2);
    out.push_back(short_escape(e).value_or(e));
  }
}

std::optional<MessageHeader> scan_header(std::string_view text) {
  Scanner scanner(text);
  if (!scanner.run()) return std::nullopt;
  return std::move(scanner.header());
}

}  // namespace qv::json
