// The release object: notes, defaults and the announcement's limits.
#include "macos/updater/release.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace qv::updater {
namespace {

using nlohmann::json;

json Release(const AppcastItem& item) {
  return json::parse(WriteJson(ReleaseFor(item)));
}

TEST(Release, DescribesTheItem) {
  struct Case {
    const char* name;
    AppcastItem item;
    json expected;
  };
  AppcastItem full;
  full.versionString = "2.1";
  full.minimumSystemVersion = "15.2";
  full.itemDescription = "a\n\nb";
  full.isCriticalUpdate = true;
  AppcastItem bare;
  AppcastItem crlf;
  crlf.versionString = "3";
  crlf.itemDescription = "<b>x</b>\r\ny\n";
  const Case cases[] = {
      {"full",
       full,
       {{"version", "2.1"},
        {"minimumMacOS", "15.2"},
        {"notes", {"a", "", "b"}},
        {"required", true}}},
      {"bare",
       bare,
       {{"version", ""}, {"minimumMacOS", "15.0"}, {"notes", {""}}, {"required", false}}},
      {"carriage returns stay",
       crlf,
       {{"version", "3"},
        {"minimumMacOS", "15.0"},
        {"notes", {"<b>x</b>\r", "y", ""}},
        {"required", false}}},
  };
  for (const Case& c : cases) EXPECT_EQ(Release(c.item), c.expected) << c.name;
}

// An announcement text of exactly `units` UTF-16 units: {"t":"<filler...>"} padded with ASCII.
std::string AnnouncementOf(size_t units, const std::string& filler, size_t fillerUnits) {
  const std::string head = "{\"t\":\"";
  const std::string tail = "\"}";
  std::string text = head;
  size_t used = head.size() + tail.size();
  while (used + fillerUnits <= units) {
    text += filler;
    used += fillerUnits;
  }
  text.append(units - used, 'x');
  return text + tail;
}

TEST(Release, KeepsOnlyUsableAnnouncements) {
  struct Case {
    const char* name;
    std::optional<PropertyValue> value;
    bool kept;
  };
  const std::string euro = "\xE2\x82\xAC";      // one unit, three bytes
  const std::string face = "\xF0\x9F\x98\x80";  // two units, four bytes
  const Case cases[] = {
      {"object", PropertyValue(std::string(R"({"title":"New","n":[1,2.50]})")), true},
      {"exactly the limit", PropertyValue(AnnouncementOf(30000, "x", 1)), true},
      {"one over the limit", PropertyValue(AnnouncementOf(30001, "x", 1)), false},
      {"limit in multi-byte units", PropertyValue(AnnouncementOf(30000, euro, 1)), true},
      {"limit in surrogate pairs", PropertyValue(AnnouncementOf(30000, face, 2)), true},
      {"over in surrogate pairs", PropertyValue(AnnouncementOf(30001, face, 2)), false},
      {"array", PropertyValue(std::string("[1,2]")), false},
      {"scalar", PropertyValue(std::string("\"text\"")), false},
      {"invalid", PropertyValue(std::string("{\"a\":}")), false},
      {"empty", PropertyValue(std::string("")), false},
      {"not a text", PropertyValue(NonTextProperty{}), false},
      {"absent", std::nullopt, false},
  };
  for (const Case& c : cases) {
    AppcastItem item;
    item.versionString = "2";
    if (c.value) item.propertiesDictionary[std::string(kAnnouncementKey)] = *c.value;
    item.propertiesDictionary["other"] = std::string("{\"x\":1}");
    const json release = Release(item);
    ASSERT_EQ(release.contains("announcement"), c.kept) << c.name;
    if (c.kept) {
      EXPECT_EQ(release["announcement"], json::parse(std::get<std::string>(*c.value))) << c.name;
    }
  }
}

}  // namespace
}  // namespace qv::updater
