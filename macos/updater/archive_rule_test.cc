// The archive URL rule and the URL components it compares.
#include "macos/updater/archive_rule.h"

#include <gtest/gtest.h>

#include "macos/updater/framework.h"
#include "macos/updater/platform.h"
#if !defined(__APPLE__)
#include "macos/updater/linux/appcast.h"
#endif

namespace qv::updater {
namespace {

const Vendor kVendor{"quorvel.example", "https://download.quorvel.example/"};
constexpr const char* kVendorFeed = "https://quorvel.example/appcast.xml";
constexpr const char* kOtherFeed = "https://updates.example.org/feed.xml";

struct RuleCase {
  const char* name;
  std::optional<std::string> feed;
  std::optional<std::string> url;
  const char* extension;
  bool allowed;
};

// The archive URL as the rule receives it: written in a feed's enclosure and read back by the
// framework, which resolves it against the feed URL. The rule is judged on what the framework
// hands over, so the table goes through the same reading step.
std::optional<std::string> AsReadFromFeed(const std::optional<std::string>& url,
                                          const std::optional<std::string>& feed) {
#if defined(__APPLE__)
  (void)feed;
  return url;
#else
  std::string attribute;
  if (url) {
    attribute = " url=\"";
    for (const char c : *url) {
      switch (c) {
        case '&':
          attribute += "&amp;";
          break;
        case '<':
          attribute += "&lt;";
          break;
        case '"':
          attribute += "&quot;";
          break;
        default:
          attribute += c;
      }
    }
    attribute += '"';
  }
  const std::string xml = "<rss xmlns:sparkle=\"" + std::string(standin::kSparkleNamespace) +
                          "\"><channel><item><sparkle:version>2</sparkle:version><enclosure" +
                          attribute + "/></item></channel></rss>";
  const qv::Result<Appcast, std::string> appcast =
      standin::ParseAppcast(xml, feed.value_or(""), "1");
  EXPECT_TRUE(appcast.ok()) << xml;
  if (!appcast.ok() || appcast->items.size() != 1) return std::nullopt;
  return appcast->items[0].fileURL;
#endif
}

bool Decide(const RuleCase& c) {
  return ArchiveAllowed(AsReadFromFeed(c.url, c.feed), c.extension, c.feed, kVendor);
}

TEST(ArchiveRule, DecidesEveryCase) {
  const RuleCase cases[] = {
      // Vendor feed: archives come from the release host.
      {"vendor release host", kVendorFeed, "https://download.quorvel.example/releases/Q-2.0.zip",
       "zip", true},
      {"vendor domain itself", kVendorFeed, "https://quorvel.example/releases/Q-2.0.zip", "zip",
       false},
      {"vendor host over http", kVendorFeed, "http://download.quorvel.example/releases/a.zip",
       "zip", false},
      {"vendor host explicit 443", kVendorFeed,
       "https://download.quorvel.example:443/releases/a.zip", "zip", false},
      {"vendor domain differs in case", "https://Quorvel.example/feed.xml",
       "https://download.quorvel.example/releases/a.zip", "zip", false},
      // Any other feed: its own origin.
      {"same origin", kOtherFeed, "https://updates.example.org/releases/a.zip", "zip", true},
      {"scheme differs", kOtherFeed, "http://updates.example.org/releases/a.zip", "zip", false},
      {"host differs", kOtherFeed, "https://cdn.example.org/releases/a.zip", "zip", false},
      {"host differs in case", kOtherFeed, "https://Updates.example.org/releases/a.zip", "zip",
       false},
      {"explicit default port", kOtherFeed, "https://updates.example.org:443/releases/a.zip", "zip",
       false},
      {"port missing", "https://updates.example.org:8443/feed.xml",
       "https://updates.example.org/releases/a.zip", "zip", false},
      {"same port", "https://updates.example.org:8443/feed.xml",
       "https://updates.example.org:8443/releases/a.zip", "zip", true},
      {"other port", "https://updates.example.org:8443/feed.xml",
       "https://updates.example.org:8444/releases/a.zip", "zip", false},
      {"loopback v6", "http://[::1]:8080/feed.xml", "http://[::1]:8080/releases/a.zip", "zip",
       true},
      {"loopback v6, relative archive", "http://[::1]:8080/feed.xml", "/releases/a.zip", "zip",
       true},
      {"loopback v4, relative archive", "http://127.0.0.1:8080/feed.xml", "releases/a.zip", "zip",
       true},
      // Hosts are compared as written: another spelling of the same address is another host.
      {"v6 written out against abbreviated", "http://[::1]:8080/feed.xml",
       "http://[0000:0000:0000:0000:0000:0000:0000:0001]:8080/releases/a.zip", "zip", false},
      {"v6 abbreviated against written out",
       "http://[0000:0000:0000:0000:0000:0000:0000:0001]:8080/feed.xml",
       "http://[::1]:8080/releases/a.zip", "zip", false},
      {"v6 abbreviated differently", "http://[::1]:8080/feed.xml",
       "http://[0:0::1]:8080/releases/a.zip", "zip", false},
      {"v6 written out, relative archive",
       "http://[0000:0000:0000:0000:0000:0000:0000:0001]:8080/feed.xml", "/releases/a.zip", "zip",
       true},
      // User information, query, fragment.
      {"user", kOtherFeed, "https://u@updates.example.org/releases/a.zip", "zip", false},
      {"user and password", kOtherFeed, "https://u:p@updates.example.org/releases/a.zip", "zip",
       false},
      {"password only", kOtherFeed, "https://:p@updates.example.org/releases/a.zip", "zip", false},
      {"empty user information", kOtherFeed, "https://@updates.example.org/releases/a.zip", "zip",
       false},
      {"query", kOtherFeed, "https://updates.example.org/releases/a.zip?x=1", "zip", false},
      {"bare query", kOtherFeed, "https://updates.example.org/releases/a.zip?", "zip", false},
      {"fragment", kOtherFeed, "https://updates.example.org/releases/a.zip#x", "zip", false},
      {"bare fragment", kOtherFeed, "https://updates.example.org/releases/a.zip#", "zip", false},
      // Path prefix.
      {"singular folder", kOtherFeed, "https://updates.example.org/release/a.zip", "zip", false},
      {"capitalised folder", kOtherFeed, "https://updates.example.org/Releases/a.zip", "zip",
       false},
      {"bare folder", kOtherFeed, "https://updates.example.org/releases", "zip", false},
      {"folder name run on", kOtherFeed, "https://updates.example.org/releasesa.zip", "zip", false},
      {"nested below", kOtherFeed, "https://updates.example.org/releases/a/b/c.zip", "zip", true},
      // Extension.
      {"upper-case extension", kOtherFeed, "https://updates.example.org/releases/a.ZIP", "zip",
       false},
      {"tar", kOtherFeed, "https://updates.example.org/releases/a.tar", "zip", false},
      {"delta", kOtherFeed, "https://updates.example.org/releases/a.delta", "delta", true},
      {"zip where delta expected", kOtherFeed, "https://updates.example.org/releases/a.zip",
       "delta", false},
      {"no extension", kOtherFeed, "https://updates.example.org/releases/zip", "zip", false},
      {"last dot decides", kOtherFeed, "https://updates.example.org/releases/a.zip.tar", "zip",
       false},
      {"dots inside a name", kOtherFeed, "https://updates.example.org/releases/a..zip", "zip",
       true},
      {"name starting with two dots", kOtherFeed, "https://updates.example.org/releases/..a.zip",
       "zip", true},
      // Dot segments leave the folder although the text starts with the prefix.
      {"parent segment", kOtherFeed, "https://updates.example.org/releases/../a.zip", "zip", false},
      {"current segment", kOtherFeed, "https://updates.example.org/releases/./a.zip", "zip", false},
      {"deep parent segments", kOtherFeed, "https://updates.example.org/releases/a/../../b.zip",
       "zip", false},
      {"encoded parent", kOtherFeed, "https://updates.example.org/releases/%2e%2e/a.zip", "zip",
       false},
      {"encoded parent mixed case", kOtherFeed,
       "https://updates.example.org/releases/%2E%2e/x/a.zip", "zip", false},
      {"half encoded parent", kOtherFeed, "https://updates.example.org/releases/.%2e/a.zip", "zip",
       false},
      {"encoded current", kOtherFeed, "https://updates.example.org/releases/%2e/a.zip", "zip",
       false},
      {"parent behind encoded slash", kOtherFeed, "https://updates.example.org/releases/..%2fa.zip",
       "zip", false},
      {"parent segment last", kOtherFeed, "https://updates.example.org/releases/x/..", "zip",
       false},
      // Absent or malformed inputs.
      {"no archive URL", kOtherFeed, std::nullopt, "zip", false},
      {"no feed", std::nullopt, "https://updates.example.org/releases/a.zip", "zip", false},
      {"feed not a URL", "not a url", "https://updates.example.org/releases/a.zip", "zip", false},
      {"archive not a URL", kOtherFeed, "https://updates.example.org/re leases/a.zip", "zip",
       false},
      {"relative archive", kOtherFeed, "/releases/a.zip", "zip", true},
      {"network-path archive", kOtherFeed, "//cdn.example.org/releases/a.zip", "zip", false},
      {"relative archive with a query", kOtherFeed, "/releases/a.zip?x", "zip", false},
      {"host-less feed", "file:///srv/feed.xml", "file:///releases/a.zip", "zip", false},
  };
  for (const RuleCase& c : cases) {
    EXPECT_EQ(Decide(c), c.allowed)
        << c.name << ": " << AsReadFromFeed(c.url, c.feed).value_or("-");
  }
  // The rule itself takes only absolute URLs: a text the framework has not resolved fails.
  EXPECT_FALSE(ArchiveAllowed("/releases/a.zip", "zip", kOtherFeed, kVendor));
}

// Presence read from the text, whatever the platform's parser reports for empty components.
TEST(ArchiveRule, ReadsWrittenComponentsFromTheText) {
  struct Case {
    const char* url;
    bool user, password, query, fragment;
  };
  const Case cases[] = {
      {"https://h/releases/a.zip", false, false, false, false},
      {"https://h/a.zip?", false, false, true, false},
      {"https://h/a.zip#", false, false, false, true},
      {"https://h/a.zip?#", false, false, true, true},
      {"https://h/a.zip#x?y", false, false, false, true},
      {"https://h?", false, false, true, false},
      {"https://@h/a.zip", true, false, false, false},
      {"https://:@h/a.zip", true, true, false, false},
      {"https://u:p@h:8/a.zip", true, true, false, false},
      {"https://a@b@h/a.zip", true, false, false, false},
      {"https://h:8/a@b.zip", false, false, false, false},
      {"https://h/a.zip?u@h", false, false, true, false},
      {"https://h#u:p@h", false, false, false, true},
      {"https:/@h/a.zip", false, false, false, false},
      {"mailto:u@h", false, false, false, false},
      {"/rel/a@b:c", false, false, false, false},
  };
  for (const Case& c : cases) {
    const WrittenComponents got = WrittenIn(c.url);
    EXPECT_EQ(got.user, c.user) << c.url;
    EXPECT_EQ(got.password, c.password) << c.url;
    EXPECT_EQ(got.query, c.query) << c.url;
    EXPECT_EQ(got.fragment, c.fragment) << c.url;
  }
}

// The answers below follow this build's RFC 3986 parser, which keeps the path as written: percent
// escapes stay encoded and a trailing slash stays. (The platform parser on Apple systems decodes
// and trims the path, so it answers these two differently.)
#if !defined(__APPLE__)
TEST(ArchiveRule, JudgesThePathAsWritten) {
  const RuleCase cases[] = {
      {"encoded prefix", kOtherFeed, "https://updates.example.org/%72eleases/a.zip", "zip", false},
      {"trailing slash", kOtherFeed, "https://updates.example.org/releases/a.zip/", "zip", false},
  };
  for (const RuleCase& c : cases) {
    EXPECT_EQ(Decide(c), c.allowed) << c.name;
  }
}

struct PartsCase {
  const char* url;
  UrlParts parts;
};

TEST(ArchiveRule, UrlComponentsKeepAbsentDistinctFromEmpty) {
  const auto parts = [](std::optional<std::string> scheme, std::optional<std::string> host,
                        std::optional<std::string> port, std::optional<std::string> user,
                        std::optional<std::string> password, std::optional<std::string> query,
                        std::optional<std::string> fragment, std::string path) {
    return UrlParts{scheme, host, port, user, password, query, fragment, path};
  };
  const std::nullopt_t none = std::nullopt;
  const PartsCase cases[] = {
      {"https://h/releases/a.zip",
       parts("https", "h", none, none, none, none, none, "/releases/a.zip")},
      {"https://h:443/", parts("https", "h", "443", none, none, none, none, "/")},
      {"https://h", parts("https", "h", none, none, none, none, none, "")},
      {"https://u:p@h/x?", parts("https", "h", none, "u", "p", "", none, "/x")},
      {"https://u@h/x#", parts("https", "h", none, "u", none, none, "", "/x")},
      {"https://u:@h/x?q#f", parts("https", "h", none, "u", "", "q", "f", "/x")},
      {"http://[::1]:8/a", parts("http", "::1", "8", none, none, none, none, "/a")},
      {"https://h/%2e%2e/a", parts("https", "h", none, none, none, none, none, "/%2e%2e/a")},
  };
  for (const PartsCase& c : cases) {
    const std::optional<UrlParts> got = platform::ParseUrl(c.url);
    ASSERT_TRUE(got.has_value()) << c.url;
    EXPECT_EQ(got->scheme, c.parts.scheme) << c.url;
    EXPECT_EQ(got->host, c.parts.host) << c.url;
    EXPECT_EQ(got->port, c.parts.port) << c.url;
    EXPECT_EQ(got->user, c.parts.user) << c.url;
    EXPECT_EQ(got->password, c.parts.password) << c.url;
    EXPECT_EQ(got->query, c.parts.query) << c.url;
    EXPECT_EQ(got->fragment, c.parts.fragment) << c.url;
    EXPECT_EQ(got->path, c.parts.path) << c.url;
  }
  EXPECT_FALSE(platform::ParseUrl("relative/path"));
  EXPECT_FALSE(platform::ParseUrl("http://h/a b"));
}
#endif

}  // namespace
}  // namespace qv::updater
