// Platform services of the Linux build.
#include <sys/syscall.h>
#include <unistd.h>
#include <uriparser/Uri.h>

#include "macos/updater/platform.h"

namespace qv::updater::platform {

namespace {

std::optional<std::string> Range(const UriTextRangeA& range) {
  if (range.first == nullptr) return std::nullopt;
  return std::string(range.first, range.afterLast);
}

// Empty host or port texts count as absent, as the platform parsers on Apple systems treat them.
std::optional<std::string> NonEmpty(std::optional<std::string> text) {
  if (text && text->empty()) return std::nullopt;
  return text;
}

struct ParsedUri {
  UriUriA uri{};
  bool ok = false;
  explicit ParsedUri(std::string_view text) {
    const char* error = nullptr;
    ok = uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &error) == URI_SUCCESS;
  }
  ~ParsedUri() {
    if (ok) uriFreeUriMembersA(&uri);
  }
  ParsedUri(const ParsedUri&) = delete;
  ParsedUri& operator=(const ParsedUri&) = delete;
};

}  // namespace

bool IsMainThread() {
  return static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
}

std::optional<std::string> ConfiguredFeedURL() {
  const std::string configured = QV_UPDATER_STANDIN_FEED_URL;
  if (configured.empty()) return std::nullopt;
  return configured;
}

std::optional<UrlParts> ParseUrl(std::string_view text) {
  ParsedUri parsed(text);
  if (!parsed.ok) return std::nullopt;
  const UriUriA& uri = parsed.uri;
  UrlParts parts;
  parts.scheme = NonEmpty(Range(uri.scheme));
  if (!parts.scheme) return std::nullopt;  // only absolute URLs
  parts.host = NonEmpty(Range(uri.hostText));
  parts.port = NonEmpty(Range(uri.portText));
  if (std::optional<std::string> userInfo = Range(uri.userInfo)) {
    const size_t colon = userInfo->find(':');
    parts.user = userInfo->substr(0, colon);
    if (colon != std::string::npos) parts.password = userInfo->substr(colon + 1);
  }
  parts.query = Range(uri.query);
  parts.fragment = Range(uri.fragment);
  const bool rooted = uri.absolutePath || uri.hostText.first != nullptr;
  bool first = true;
  for (const UriPathSegmentA* s = uri.pathHead; s != nullptr; s = s->next) {
    if (!first || rooted) parts.path += '/';
    first = false;
    parts.path.append(s->text.first, s->text.afterLast);
  }
  if (first && uri.absolutePath) parts.path = "/";
  return parts;
}

}  // namespace qv::updater::platform
