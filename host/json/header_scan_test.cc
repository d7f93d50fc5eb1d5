#include "host/json/header_scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace qv::json {
namespace {

struct Case {
  const char* name;
  std::string text;
  bool valid;
  std::optional<std::string> id_text = std::nullopt;
  double id_value = 0;
  std::optional<std::string> event = std::nullopt;
};

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ScanHeader, TrackedMembersAndValidity) {
  const Case cases[] = {
      {"plain id", R"({"id":5})", true, "5", 5},
      {"id and event", R"({"id":12,"event":"hello"})", true, "12", 12, "hello"},
      {"later string id clears", R"({"id":1,"id":"x"})", true},
      {"later id wins", R"({"id":"x","id":2.5e1})", true, "2.5e1", 25},
      {"negative zero", R"({"id":-0})", true, "-0", -0.0},
      {"zero with exponent", R"({"id":0e5})", true, "0e5", 0},
      {"overflow", R"({"id":1e400})", true, "1e400", kInf},
      {"negative overflow", R"({"id":-1e400})", true, "-1e400", -kInf},
      {"underflow", R"({"id":1e-400})", true, "1e-400", 0},
      {"fraction as written", R"({"id":1.50})", true, "1.50", 1.5},
      {"escaped key", R"({"\u0069d":7})", true, "7", 7},
      {"escaped event", R"({"event":"hel\u006co"})", true, std::nullopt, 0, "hello"},
      {"event object clears", R"({"event":"a","event":{"x":1}})", true},
      {"event number clears", R"({"event":"a","event":3})", true},
      {"id literal clears", R"({"id":3,"id":true})", true},
      {"id array clears", R"({"id":3,"id":[1]})", true},
      {"id null", R"({"id":null})", true},
      {"nested id ignored", R"({"params":{"id":9,"event":"hello"}})", true},
      {"nested before outer", R"({"a":{"id":9},"id":4})", true, "4", 4},
      {"top-level array", R"([{"id":3}])", true},
      {"bare number", "17", true},
      {"bare string", R"("id")", true},
      {"surrogate pair", R"({"event":"\ud83d\ude00"})", true, std::nullopt, 0, "\xF0\x9F\x98\x80"},
      {"lone high", R"({"event":"a\ud800b"})", true, std::nullopt, 0,
       "a\xEF\xBF\xBD"
       "b"},
      {"lone low", R"({"event":"\udc00"})", true, std::nullopt, 0, "\xEF\xBF\xBD"},
      {"two highs", R"({"event":"\ud800\ud83d\ude00"})", true, std::nullopt, 0,
       "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
      {"simple escapes", R"({"event":"\"\\\/\b\f\n\r\t"})", true, std::nullopt, 0,
       "\"\\/\b\f\n\r\t"},
      {"raw multibyte", "{\"event\":\"h\xC3\xA9\"}", true, std::nullopt, 0, "h\xC3\xA9"},
      {"whitespace around", " \t\r\n{ \"id\" : 1 } \n", true, "1", 1},
      {"key with escape is not id", R"({"i\u0064x":1})", true},
      {"empty containers", R"({"a":[],"b":{},"id":[ ]})", true},
      {"deep nesting", std::string(5000, '[') + std::string(5000, ']'), true},

      {"leading zero", R"({"id":01})", false},
      {"dot without digits", R"({"id":1.})", false},
      {"bare fraction", R"({"id":.5})", false},
      {"plus sign", R"({"id":+1})", false},
      {"bare exponent", R"({"id":1e})", false},
      {"minus alone", R"({"id":-})", false},
      {"empty text", "", false},
      {"only whitespace", " \n", false},
      {"trailing character", R"({"id":1}x)", false},
      {"second value", R"({"id":1} {})", false},
      {"byte-order mark", "\xEF\xBB\xBF{}", false},
      {"trailing comma object", R"({"id":1,})", false},
      {"trailing comma array", R"([1,])", false},
      {"missing comma", R"([1 2])", false},
      {"non-string key", R"({1:2})", false},
      {"missing colon", R"({"a" 1})", false},
      {"raw tab in string", "{\"a\":\"x\ty\"}", false},
      {"raw line feed in string", "{\"a\":\"x\ny\"}", false},
      {"bad escape", R"({"a":"\x"})", false},
      {"short unicode escape", R"({"a":"\u12"})", false},
      {"non-hex unicode escape", R"({"a":"\u12g4"})", false},
      {"unterminated string", R"({"a":"abc)", false},
      {"unclosed object", R"({"id":1)", false},
      {"mismatched close", R"([1})", false},
      {"upper-case literal", "True", false},
      {"truncated literal", "nul", false},
      {"single quotes", "{'id':1}", false},
      {"form feed is not whitespace", "\f1", false},
      {"deep unclosed", std::string(5000, '['), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto header = scan_header(c.text);
    ASSERT_EQ(header.has_value(), c.valid);
    if (!header) continue;
    EXPECT_EQ(header->id_text, c.id_text);
    if (c.id_text) {
      EXPECT_EQ(header->id_value, c.id_value);
      EXPECT_EQ(std::signbit(header->id_value), std::signbit(c.id_value));
    }
    EXPECT_EQ(header->event, c.event);
  }
}

// Validity must not depend on where the text ends: every proper prefix of a valid object is
// invalid (the scanner never reads past the end to complete a token).
TEST(ScanHeader, EveryPrefixOfAnObjectIsInvalid) {
  const std::string text = R"({"id":-12.5e+3,"event":"h\u00e9llo","x":[true,false,null,{}]})";
  ASSERT_TRUE(scan_header(text));
  for (std::size_t n = 0; n < text.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_FALSE(scan_header(std::string(text, 0, n)));
  }
}

}  // namespace
}  // namespace qv::json
