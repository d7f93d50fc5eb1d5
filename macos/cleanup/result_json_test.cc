#include "macos/cleanup/result_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "qv/utf8.h"

namespace qv::cleanup {
namespace {

using nlohmann::json;

bool WhitespaceOutsideStrings(const std::string& text) {
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
      return true;
    }
  }
  return false;
}

TEST(CleanupResultJsonTest, MembersByStatus) {
  CleanupResult complete;
  complete.status = CleanupStatus::kComplete;
  complete.removed = {{"Quorvel 2.app", "/home/u/.local/share/Trash/files/Quorvel 2.app"},
                      {"Quorvel copy.app", ""}};
  complete.counts = {1, 2, 3, UINT64_MAX};
  CleanupResult not_installed;
  not_installed.status = CleanupStatus::kNotInstalled;
  CleanupResult unverified;
  unverified.status = CleanupStatus::kUnverified;

  const struct {
    const CleanupResult& result;
    json want;
  } cases[] = {
      {complete,
       {{"status", "complete"},
        {"removed", json::array({{{"name", "Quorvel 2.app"},
                                  {"path", "/home/u/.local/share/Trash/files/Quorvel 2.app"}},
                                 {{"name", "Quorvel copy.app"}, {"path", ""}}})},
        {"busy", 1},
        {"newer", 2},
        {"unverified", 3},
        {"inaccessible", UINT64_MAX}}},
      {not_installed, {{"status", "not-installed"}, {"removed", json::array()}}},
      {unverified, {{"status", "unverified"}, {"removed", json::array()}}},
  };
  for (const auto& c : cases) {
    const std::string text = ResultJson(c.result);
    EXPECT_FALSE(WhitespaceOutsideStrings(text)) << text;
    EXPECT_EQ(json::parse(text), c.want) << text;
  }
  EXPECT_EQ(json::parse(kFallbackResultJson), cases[2].want);
}

TEST(CleanupResultJsonTest, UnusualBytesAreStillReported) {
  // Expected decodings follow the Unicode Standard's practice for U+FFFD substitution
  // (one replacement per maximal ill-formed subsequence).
  const struct {
    std::string raw;
    std::u8string want;
  } cases[] = {
      {"plain /path", u8"plain /path"},
      {"quote \" backslash \\ tab \t newline \n", u8"quote \" backslash \\ tab \t newline \n"},
      {std::string("nul \0 bell \x07 esc \x1b", 15),
       std::u8string(u8"nul \0 bell \x07 esc \x1b", 15)},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", u8"café € 😀"},
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       u8"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
      {"\xC0\xAF", u8"\uFFFD\uFFFD"},                      // overlong
      {"\xED\xA0\x80", u8"\uFFFD\uFFFD\uFFFD"},            // surrogate
      {"\xF4\x90\x80\x80", u8"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
      {"\xE2\x82", u8"\uFFFD"},                            // cut short at the end
      {"\xFF", u8"\uFFFD"},
  };
  for (const auto& c : cases) {
    CleanupResult result;
    result.status = CleanupStatus::kComplete;
    result.removed = {{c.raw, "/trash/" + c.raw}};
    const std::string text = ResultJson(result);
    const json parsed = json::parse(text);  // throws on invalid UTF-8 or bad escapes
    const std::string want(c.want.begin(), c.want.end());
    EXPECT_EQ(parsed["removed"][0]["name"].get<std::string>(), want);
    EXPECT_EQ(parsed["removed"][0]["path"].get<std::string>(), "/trash/" + want);
    EXPECT_EQ(is_valid_utf8(c.raw), c.raw == want);
  }
}

}  // namespace
}  // namespace qv::cleanup
