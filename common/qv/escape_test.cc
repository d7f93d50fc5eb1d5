#include "qv/escape.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace qv {
namespace {

TEST(HexDigitValue, AgreesWithTheCLibraryOnEveryByte) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const int expected = std::isxdigit(b)
                             ? static_cast<int>(std::strtol(std::string(1, c).c_str(), nullptr, 16))
                             : -1;
    EXPECT_EQ(hex_digit_value(c), expected) << b;
  }
}

// Each text is decoded under both policies; `used` is how much of the text the escape took.
TEST(DecodeUEscape, PairsAndLoneSurrogatesUnderBothPolicies) {
  struct Case {
    const char* name;
    std::string_view text;
    std::optional<char32_t> replaced;  // under kReplace
    std::size_t used;                  // under kReplace
    bool refused;                      // under kRefuse (otherwise the same answer and use)
  };
  const Case cases[] = {
      {"ascii", R"(\u0041rest)", U'A', 6, false},
      {"upper and lower hex", R"(\uAbCd)", U'\uABCD', 6, false},
      {"last before surrogates", R"(\ud7ff)", U'\uD7FF', 6, false},
      {"first after surrogates", R"(\ue000)", U'\uE000', 6, false},
      {"pair", R"(\ud83d\ude00x)", U'\U0001F600', 12, false},
      {"highest pair", R"(\udbff\udfff)", U'\U0010FFFF', 12, false},
      {"lone high then text", R"(\ud800b)", U'\uFFFD', 6, true},
      {"lone high at the end", R"(\ud800)", U'\uFFFD', 6, true},
      {"high then high", R"(\ud800\ud83d\ude00)", U'\uFFFD', 6, true},
      {"high then plain escape", R"(\ud800\u0041)", U'\uFFFD', 6, true},
      {"high then short escape", R"(\ud800\u12)", U'\uFFFD', 6, true},
      {"high then other escape", R"(\ud800\n)", U'\uFFFD', 6, true},
      {"lone low", R"(\udc00\udc00)", U'\uFFFD', 6, true},
      {"three digits", R"(\u123)", std::nullopt, 0, true},
      {"non-hex digit", R"(\u12g4)", std::nullopt, 0, true},
      {"not an escape", "u0041", std::nullopt, 0, true},
      {"other escape", R"(\n0041)", std::nullopt, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string_view replace = c.text;
    EXPECT_EQ(decode_u_escape(replace, LoneSurrogate::kReplace), c.replaced);
    EXPECT_EQ(c.text.size() - replace.size(), c.used);
    std::string_view refuse = c.text;
    const std::optional<char32_t> strict = decode_u_escape(refuse, LoneSurrogate::kRefuse);
    if (c.refused) {
      EXPECT_EQ(strict, std::nullopt);
    } else {
      EXPECT_EQ(strict, c.replaced);
      EXPECT_EQ(c.text.size() - refuse.size(), c.used);
    }
  }
}

}  // namespace
}  // namespace qv
