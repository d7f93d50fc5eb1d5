#include "qv/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

namespace qv {
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

// The block-wise check against the bytewise one, with each sequence moved across the 16-byte
// blocks and the 64-byte steps, inside ASCII and inside non-ASCII text, and cut by the end.
TEST(IsValidUtf8, AgreesWithTheBytewiseCheckAtEveryPosition) {
  const std::string pieces[] = {
      "\xC3\xA9",
      "\xE2\x82\xAC",
      "\xF0\x9F\x98\x80",
      "\xC2\x80",
      "\xDF\xBF",
      "\xE0\xA0\x80",
      "\xED\x9F\xBF",
      "\xEE\x80\x80",
      "\xF4\x8F\xBF\xBF",
      "\x80",
      "\xBF",
      "\xC0\xAF",
      "\xC1\xBF",
      "\xE0\x9F\xBF",
      "\xED\xA0\x80",
      "\xF0\x8F\xBF\xBF",
      "\xF4\x90\x80\x80",
      "\xF5\x80\x80\x80",
      "\xFF",
      "\xC3",
      "\xE2\x82",
      "\xF0\x9F\x98",
      "\xC3\xA9\xA9",
      "\xE2\xC3\xA9",
      "\xF0\x9F\x98\x80\x80",
  };
  std::size_t checked = 0;
  std::size_t valid = 0;
  for (const std::string& filler : {std::string("a"), std::string("\xC3\xA9")}) {
    for (const std::string& piece : pieces) {
      for (std::size_t before = 0; before < 70; ++before) {
        for (std::size_t after : {std::size_t{0}, std::size_t{1}, std::size_t{17}}) {
          std::string text;
          while (text.size() < before) text += filler;
          text += piece;
          for (std::size_t i = 0; i < after; ++i) text += filler;
          const bool expected = valid_utf8_prefix(text) == text.size();
          ASSERT_EQ(is_valid_utf8(text), expected) << "piece of " << piece.size() << " bytes at "
                                                   << before << ", " << after << " fillers after";
          ++checked;
          valid += expected ? 1 : 0;
        }
      }
    }
  }
  EXPECT_TRUE(is_valid_utf8(std::string_view()));
  // Both outcomes must really occur for the comparison to mean anything.
  EXPECT_GT(valid, 0u);
  EXPECT_LT(valid, checked);
}

TEST(Utf16Length, CountsUnitsAsJavaScriptDoes) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"", 0},     {"abc", 3},      {"\xC3\xA9", 1}, {"\xE2\x82\xAC", 1}, {"\xF0\x9F\x98\x80", 2},
      {"\xC3", 1}, {"\xFF\xFE", 2}, {"\xF0\x9F", 1}, {"\xED\xA0\x80", 3}, {"\xF0\x9F\xC3\xA9", 2},
  };
  for (const auto& [text, units] : cases) EXPECT_EQ(utf16_length(text), units) << text;
}

}  // namespace
}  // namespace qv
