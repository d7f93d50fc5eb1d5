#include "utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace qv::host {
namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

TEST(RepairUtf8, MaximalSubparts) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"ascii", "plain text", "plain text"},
      {"all widths", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
       "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"edges of the ranges",
       "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF",
       "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF"},
      // The Unicode Standard's own example of substituting maximal subparts.
      {"standard example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + R + R + R + "b" + R + "c" + R + R + "d"},
      {"lone continuation", "\x80", R},
      {"overlong two-byte lead", "\xC0\xAF", R + R},
      {"overlong three-byte", "\xE0\x80\xAF", R + R + R},
      {"surrogate", "\xED\xA0\x80", R + R + R},
      {"above U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
      {"invalid leads", "\xF5\xFE\xFF", R + R + R},
      {"truncated four-byte at end", "x\xF0\x9F\x98", "x" + R},
      {"truncated three-byte then ascii", "\xE2\x82z", R + "z"},
      {"truncated two then lead", "\xC3\xC3\xA9", R + "\xC3\xA9"},
      {"invalid after long ascii run", std::string(40, 'a') + "\xFF" + std::string(20, 'b'),
       std::string(40, 'a') + R + std::string(20, 'b')},
      {"nul byte is valid", std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(repair_utf8(c.in), c.out);
    EXPECT_EQ(is_valid_utf8(c.in), c.in == c.out);
    // Repair is idempotent: its output is always valid.
    EXPECT_TRUE(is_valid_utf8(repair_utf8(c.in)));
  }
}

// The word-at-a-time ASCII skip must not hide an invalid byte at any offset.
TEST(RepairUtf8, InvalidByteAtEveryOffset) {
  for (std::size_t at = 0; at < 40; ++at) {
    std::string in(40, 'q');
    in[at] = '\x80';
    SCOPED_TRACE(at);
    EXPECT_EQ(valid_utf8_prefix(in), at);
    EXPECT_EQ(repair_utf8(in), std::string(at, 'q') + R + std::string(39 - at, 'q'));
  }
}

}  // namespace
}  // namespace qv::host
