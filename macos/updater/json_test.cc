// The JSON reader and writer, checked against an independent implementation.
#include "macos/updater/json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

namespace qv::updater {
namespace {

using nlohmann::json;

bool OracleAccepts(std::string_view text) {
  if (!json::accept(text)) return false;
  const json parsed = json::parse(text);
  return parsed.is_object() || parsed.is_array();
}

TEST(Json, AcceptsExactlyStandardArraysAndObjects) {
  const char* texts[] = {"{}", "[]", " { \"a\" : [1, -2.5e+3, true, false, null, \"x\"] } ",
                         "[\"\\u00e9\\ud83d\\ude00\"]", "[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"]",
                         "{\"a\":1,\"a\":2}", "[0, -0, 0.0, 1E5, 1e-5]", "[\"caf\xC3\xA9\"]",
                         // Refused by both.
                         "", "1", "\"s\"", "null", "[1,]", "{\"a\":1,}", "[01]", "[1.]", "[.5]",
                         "[+1]", "[1e]", "[\"\\x\"]", "[\"\\ud800\"]", "[\"\\udc00\"]",
                         "[\"\\ud800\\u0041\"]", "[\"a\nb\"]", "['a']", "{a:1}", "[1] [2]", "[1]x",
                         "[\"\xC3\"]", "[\"\xED\xA0\x80\"]", "[\"\xC0\xAF\"]",
                         "[\"\xF4\x90\x80\x80\"]", "[NaN]", "[Infinity]", "[tru]", "[nul]",
                         "{\"a\"}", "{\"a\" 1}", "[\"unterminated", "/* c */ []", "[1 /* c */]"};
  for (const char* text : texts) {
    EXPECT_EQ(ParseJson(text).has_value(), OracleAccepts(text)) << text;
  }
}

TEST(Json, RefusesNestingDeeperThanTheLimit) {
  const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_TRUE(ParseJson(nested(kMaxJsonDepth)));
  EXPECT_FALSE(ParseJson(nested(kMaxJsonDepth + 1)));
  EXPECT_FALSE(ParseJson(nested(100000)));  // must not exhaust the stack
}

json RandomValue(std::mt19937& rng, int depth) {
  std::uniform_int_distribution<int> kind(0, depth > 3 ? 4 : 6);
  switch (kind(rng)) {
    case 0:
      return nullptr;
    case 1:
      return rng() % 2 == 0;
    case 2:
      return static_cast<int64_t>(rng()) - (1LL << 31);
    case 3:
      return std::ldexp(static_cast<double>(rng() % 100000) - 50000,
                        static_cast<int>(rng() % 40) - 20);
    case 4: {
      static const char* pieces[] = {"a",
                                     "\"",
                                     "\\",
                                     "/",
                                     "\n",
                                     "\x01",
                                     "\x1f",
                                     "\xC3\xA9",
                                     "\xE2\x82\xAC",
                                     "\xF0\x9F\x98\x80",
                                     " ",
                                     "\t"};
      std::string s;
      for (unsigned n = rng() % 8; n > 0; --n) s += pieces[rng() % std::size(pieces)];
      return s;
    }
    case 5: {
      json a = json::array();
      for (unsigned n = rng() % 5; n > 0; --n) a.push_back(RandomValue(rng, depth + 1));
      return a;
    }
    default: {
      json o = json::object();
      for (unsigned n = rng() % 5; n > 0; --n) {
        o[RandomValue(rng, 10).dump()] = RandomValue(rng, depth + 1);
      }
      return o;
    }
  }
}

TEST(Json, RoundTripsWhatTheOracleWrites) {
  std::mt19937 rng(20261208);
  for (int i = 0; i < 3000; ++i) {
    const json value =
        rng() % 2 ? json::object({{"v", RandomValue(rng, 0)}}) : json::array({RandomValue(rng, 0)});
    const std::string text = value.dump(i % 3 == 0 ? 2 : -1, ' ', i % 2 == 0);
    const std::optional<Json> parsed = ParseJson(text);
    ASSERT_TRUE(parsed) << text;
    const std::string written = WriteJson(*parsed);
    ASSERT_TRUE(json::accept(written)) << written;
    EXPECT_EQ(json::parse(written), value) << text;
    // Compact, members in the order read, number texts kept: the oracle's own compact form.
    EXPECT_EQ(written, value.dump()) << text;
  }
}

// Strings go through the shared writer (its own tests cover escapes and repair); this pins that
// events use it: one U+FFFD for a cut-short sequence, the short form of a backspace.
TEST(Json, WritesCompactEvents) {
  EXPECT_EQ(
      WriteJson(Json::MakeObject()
                    .set("type", Json::Str("downloading"))
                    .set("percent", Json::Uint(99))
                    .set("canCancel", Json::Bool(false))
                    .set("note", Json::Str("\xE2\x82\b"))),
      "{\"type\":\"downloading\",\"percent\":99,\"canCancel\":false,\"note\":\"\xEF\xBF\xBD\\b\"}");
}

TEST(Json, KeepsTheLastOfRepeatedKeysAndNumberTexts) {
  const std::optional<Json> parsed = ParseJson(R"({"a":1,"b":2,"a":1.50e+2})");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(WriteJson(*parsed), R"({"a":1.50e+2,"b":2})");
}

}  // namespace
}  // namespace qv::updater
