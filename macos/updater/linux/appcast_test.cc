// The stand-in framework's feed reader and version order.
#include "macos/updater/linux/appcast.h"

#include <gtest/gtest.h>
#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
#define QV_TEST_ASAN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_TEST_ASAN_ALLOCATOR 1
#endif
#endif
#if defined(QV_TEST_ASAN_ALLOCATOR)
// From the sanitizer runtime (not every compiler ships the header declaring it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace qv::updater::standin {
namespace {

// Bytes the process holds in allocations right now, from whichever allocator serves them.
size_t AllocatedBytes() {
#if defined(QV_TEST_ASAN_ALLOCATOR)
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

TEST(StandInVersions, OrderLikeTheFramework) {
  struct Case {
    const char* a;
    const char* b;
    int order;
  };
  const Case cases[] = {
      {"1.0", "1.0", 0},
      {"1.0", "1.1", -1},
      {"1.10", "1.9", 1},
      {"2", "10", -1},
      {"1.0.1", "1.0", 1},
      {"1.0b1", "1.0", -1},
      {"1.0b2", "1.0b10", -1},
      {"1.0a", "1.0b", -1},
      {"007", "7", 0},
      {"1.0", "1.0.0", -1},
      {"99999999999999999999", "99999999999999999998", 1},
      {"", "1", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
    EXPECT_EQ(CompareVersions(c.b, c.a), -c.order) << c.b << " vs " << c.a;
  }
}

constexpr const char* kFeed = R"xml(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:s="http://www.andymatuschak.org/xml-namespaces/sparkle"
     xmlns:quorvel="https://quorvel.example/xml">
  <channel>
    <title>Quorvel</title>
    <item>
      <title>Two</title>
      <description><![CDATA[line one
<b>line two</b>]]></description>
      <s:minimumSystemVersion> 15.1 </s:minimumSystemVersion>
      <s:criticalUpdate s:version="1.5"/>
      <quorvel:announcement>  {"headline":"Hello"}  </quorvel:announcement>
      <enclosure url="releases/Q-2.0.zip" length="1234" s:version="2.0"
                 s:shortVersionString="2.0 (Beta)" type="application/octet-stream"/>
      <s:deltas>
        <enclosure url="https://other.example/releases/d.delta" s:version="2.0"
                   s:deltaFrom="1.0" length="12"/>
      </s:deltas>
    </item>
    <item>
      <s:version>3.0</s:version>
      <link>https://quorvel.example/news</link>
      <s:criticalUpdate s:version="0.5"/>
    </item>
    <item><title>no version</title><enclosure url="x.zip"/></item>
    <item>
      <s:version>1.1</s:version>
      <enclosure url="/releases/a.zip"/>
      <s:informationalUpdate><s:belowVersion>1.0.5</s:belowVersion></s:informationalUpdate>
    </item>
  </channel>
</rss>)xml";

TEST(StandInAppcast, MapsItemsToTheirProperties) {
  auto parsed = ParseAppcast(kFeed, "http://127.0.0.1:8080/feeds/appcast.xml", "1.0");
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  const std::vector<AppcastItem>& items = parsed->items;
  ASSERT_EQ(items.size(), 3u);

  const AppcastItem& two = items[0];
  EXPECT_EQ(two.versionString, "2.0");
  EXPECT_EQ(two.displayVersionString, "2.0 (Beta)");
  EXPECT_EQ(two.minimumSystemVersion, "15.1");
  EXPECT_EQ(two.itemDescription, "line one\n<b>line two</b>");
  EXPECT_TRUE(two.isCriticalUpdate);
  EXPECT_FALSE(two.isInformationOnlyUpdate);
  EXPECT_FALSE(two.isDeltaUpdate);
  EXPECT_EQ(two.fileURL, "http://127.0.0.1:8080/feeds/releases/Q-2.0.zip");
  EXPECT_EQ(two.contentLength, 1234u);
  const auto text = [&](const char* key) -> std::optional<std::string> {
    auto it = two.propertiesDictionary.find(key);
    if (it == two.propertiesDictionary.end()) return std::nullopt;
    const std::string* s = std::get_if<std::string>(&it->second);
    return s ? std::optional<std::string>(*s) : std::optional<std::string>("<not text>");
  };
  EXPECT_EQ(text("quorvel:announcement"), R"({"headline":"Hello"})");
  EXPECT_EQ(text("sparkle:minimumSystemVersion"), "15.1");  // keyed by namespace, not prefix
  EXPECT_EQ(text("title"), "Two");
  EXPECT_EQ(text("enclosure"), "<not text>");
  EXPECT_EQ(text("sparkle:deltas"), "<not text>");
  EXPECT_EQ(text("s:deltas"), std::nullopt);
  ASSERT_EQ(two.deltaUpdates.count("1.0"), 1u);
  const AppcastItem& delta = *two.deltaUpdates.at("1.0");
  EXPECT_TRUE(delta.isDeltaUpdate);
  EXPECT_EQ(delta.fileURL, "https://other.example/releases/d.delta");
  EXPECT_EQ(delta.versionString, "2.0");
  EXPECT_EQ(delta.contentLength, 12u);

  const AppcastItem& three = items[1];
  EXPECT_EQ(three.versionString, "3.0");
  EXPECT_EQ(three.displayVersionString, "3.0");
  EXPECT_TRUE(three.isInformationOnlyUpdate);
  EXPECT_FALSE(three.isCriticalUpdate);  // critical only below 0.5
  EXPECT_FALSE(three.fileURL);
  EXPECT_FALSE(three.itemDescription);

  const AppcastItem& informational = items[2];
  EXPECT_TRUE(informational.isInformationOnlyUpdate);  // 1.0 is below 1.0.5
  EXPECT_EQ(informational.fileURL, "http://127.0.0.1:8080/releases/a.zip");
}

// One item whose title is the given markup, in a feed that may start with a declaration.
std::string TitledFeed(const std::string& prolog, const std::string& title) {
  return prolog + "<rss><channel><item><title>" + title +
         "</title><enclosure url=\"a.zip\" "
         "xmlns:s=\"http://www.andymatuschak.org/xml-namespaces/sparkle\" s:version=\"2\"/>"
         "</item></channel></rss>";
}

// A delta entry is an item of its own but holds the texts of the item it belongs to: one long
// description and many delta entries must not make the loaded feed many times its size.
TEST(StandInAppcast, HoldsAFeedInAFewTimesItsSize) {
  std::string feed =
      "<rss xmlns:s=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><item>"
      "<s:version>2.0</s:version><title>" +
      std::string(50000, 't') + "</title><description>" + std::string(900000, 'd') +
      "</description><enclosure url=\"/releases/a.zip\"/><s:deltas>";
  for (int i = 0; i < 300; ++i) {
    feed += "<enclosure url=\"/releases/" + std::to_string(i) + ".delta\" s:deltaFrom=\"1." +
            std::to_string(i) + "\"/>";
  }
  feed += "</s:deltas></item></channel></rss>";
  const size_t before = AllocatedBytes();
  const qv::Result<Appcast, std::string> parsed =
      ParseAppcast(feed, "http://127.0.0.1:8080/feed.xml", "1.0");
  const size_t held = AllocatedBytes() - before;
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  ASSERT_EQ(parsed->items.size(), 1u);
  const AppcastItem& item = parsed->items[0];
  ASSERT_EQ(item.deltaUpdates.size(), 300u);
  const AppcastItem& delta = *item.deltaUpdates.at("1.7");
  EXPECT_EQ(delta.fileURL, "http://127.0.0.1:8080/releases/7.delta");
  EXPECT_TRUE(delta.isDeltaUpdate);
  ASSERT_TRUE(delta.itemDescription && item.itemDescription);
  EXPECT_TRUE(delta.itemDescription->sharedWith(*item.itemDescription));
  EXPECT_TRUE(delta.propertiesDictionary.sharedWith(item.propertiesDictionary));
  EXPECT_LT(held, 4 * feed.size()) << "a feed of " << feed.size() << " bytes holds " << held;
}

TEST(StandInAppcast, RefusesWhatIsNotAFeed) {
  std::string references;
  for (int i = 0; i < 2000; ++i) references += "&big;";
  const std::string bigEntity =
      "<!DOCTYPE rss [<!ENTITY big \"" + std::string(10000, 'x') + "\">]>";
  const std::string longest(kMaxElementTextBytes, 'y');
  const std::string refused[] = {
      "",
      "not xml",
      "<rss><channel>",
      "<feed/>",
      "<rss></channel></rss>",
      // One entity referenced over and over would multiply this 16 KB feed into 20 MB of notes.
      TitledFeed(bigEntity, references),
      // An external entity is never read, and its declaration alone refuses the feed.
      TitledFeed("<!DOCTYPE rss [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>", "&e;"),
      TitledFeed("<!DOCTYPE rss [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>", "plain"),
      TitledFeed("<!DOCTYPE rss [<!ATTLIST rss version CDATA \"2.0\">]>", "plain"),
      // An external subset is not loaded; what it might declare is still refused where used.
      TitledFeed("<!DOCTYPE rss SYSTEM \"rss.dtd\">", "&e;"),
      TitledFeed("<!DOCTYPE rss SYSTEM \"rss.dtd\">", "<b a=\"&e;\">x</b>"),
      // Texts are bounded per element, nested text counting towards every enclosing element.
      TitledFeed("", longest + "y"),
      TitledFeed("", "<b>" + longest.substr(1) + "</b><b>yy</b>"),
  };
  for (const std::string& text : refused) {
    EXPECT_FALSE(ParseAppcast(text, "file:///feed.xml", "1.0").ok()) << text.substr(0, 120);
  }
  const struct {
    std::string feed;
    std::string title;
  } accepted[] = {
      {TitledFeed("", "a &amp; b &lt;&#65;&#x42;&gt; &quot;&apos;"), "a & b <AB> \"'"},
      {TitledFeed("<!DOCTYPE rss>", "plain"), "plain"},
      {TitledFeed("<!DOCTYPE rss SYSTEM \"rss.dtd\">", "plain"), "plain"},
      {TitledFeed("", longest), longest},
  };
  for (const auto& c : accepted) {
    auto parsed = ParseAppcast(c.feed, "file:///feed.xml", "1.0");
    ASSERT_TRUE(parsed.ok()) << c.feed.substr(0, 120) << ": " << parsed.error();
    ASSERT_EQ(parsed->items.size(), 1u);
    EXPECT_EQ(std::get<std::string>(parsed->items[0].propertiesDictionary.at("title")), c.title);
  }
}

}  // namespace
}  // namespace qv::updater::standin
