#include "qv/json_string.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "qv/utf8.h"

namespace qv {
namespace {

using nlohmann::json;

std::string Written(std::string_view text) {
  std::string out = "x";  // appends, never replaces
  append_json_string(out, text);
  EXPECT_EQ(out[0], 'x');
  return out.substr(1);
}

TEST(JsonString, EscapesAndRepairs) {
  struct Case {
    std::string in;
    std::string written;
    std::string decoded;  // what a reader of the written text must get back
  };
  const Case cases[] = {
      {"", R"("")", ""},
      {"plain", R"("plain")", "plain"},
      {"q\"b\\s/", R"("q\"b\\s/")", "q\"b\\s/"},
      {std::string("nul\0x", 5), R"("nul\u0000x")", std::string("nul\0x", 5)},
      {"\b\f\n\r\t", R"("\b\f\n\r\t")", "\b\f\n\r\t"},
      {"\x01\x0b\x1f\x7f", "\"\\u0001\\u000b\\u001f\x7f\"", "\x01\x0b\x1f\x7f"},
      {"\xC3\xA9\xF0\x9F\x98\x80", "\"\xC3\xA9\xF0\x9F\x98\x80\"", "\xC3\xA9\xF0\x9F\x98\x80"},
      {"bad\xC3", "\"bad\xEF\xBF\xBD\"", "bad\xEF\xBF\xBD"},
      // One U+FFFD per maximal invalid subsequence: a cut-short sequence is one.
      {"\xE2\x82\"", "\"\xEF\xBF\xBD\\\"\"", "\xEF\xBF\xBD\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"",
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xFF\n", "\"\xEF\xBF\xBD\\n\"", "\xEF\xBF\xBD\n"},
  };
  for (const Case& c : cases) {
    const std::string written = Written(c.in);
    EXPECT_EQ(written, c.written);
    ASSERT_TRUE(json::accept(written)) << written;
    EXPECT_EQ(json::parse(written).get<std::string>(), c.decoded) << written;
  }
}

// Any bytes give a JSON string that an independent reader decodes to their repaired form, and
// valid text is written byte for byte as that reader's own compact writer writes it.
TEST(JsonString, AgreesWithAnIndependentReaderAndWriter) {
  // Single bytes with and without escapes, then well-formed and ill-formed sequences.
  const std::string_view bytes = "a\"\\/\n\b\f\t\x01\x1f\x7f";
  const std::string sequences[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\x80", "\xC3",
                                   "\xE2\x82", "\xED\xA0\x80", "\xF4\x90",         "\xFF"};
  std::mt19937 rng(20261208);
  int repaired = 0;
  for (int i = 0; i < 5000; ++i) {
    std::string in;
    for (unsigned n = rng() % 12; n > 0; --n) {
      if (rng() % 2 == 0) {
        in += bytes[rng() % bytes.size()];
      } else {
        in += sequences[rng() % std::size(sequences)];
      }
    }
    const std::string written = Written(in);
    ASSERT_TRUE(json::accept(written)) << written;
    EXPECT_EQ(json::parse(written).get<std::string>(), repair_utf8(in)) << written;
    if (is_valid_utf8(in)) {
      EXPECT_EQ(written, json(in).dump()) << written;
    } else {
      ++repaired;
    }
  }
  EXPECT_GT(repaired, 0);  // both kinds of input really occur
  EXPECT_LT(repaired, 5000);
}

}  // namespace
}  // namespace qv
