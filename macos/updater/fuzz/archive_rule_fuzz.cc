// Whatever the feed and archive texts, an allowed archive has no user information, query or
// fragment, lies under the release folder without dot segments, and has the expected extension.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "macos/updater/archive_rule.h"
#include "macos/updater/platform.h"

namespace {

// Dot segments judged on a lower-cased copy in which every "%2e" is a dot and "%2f" a slash.
bool HasDotSegment(std::string path) {
  for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string plain;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path.compare(i, 3, "%2e") == 0) {
      plain += '.';
      i += 2;
    } else if (path.compare(i, 3, "%2f") == 0) {
      plain += '/';
      i += 2;
    } else {
      plain += path[i];
    }
  }
  plain = "/" + plain + "/";
  return plain.find("/./") != std::string::npos || plain.find("/../") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\n');
  const std::string feed = input.substr(0, split);
  const std::string url = split == std::string::npos ? "" : input.substr(split + 1);
  const qv::updater::Vendor vendor{"quorvel.example", "https://download.quorvel.example/"};
  for (const char* extension : {"zip", "delta"}) {
    if (!qv::updater::ArchiveAllowed(url, extension, feed, vendor)) continue;
    const std::optional<qv::updater::UrlParts> parts = qv::updater::platform::ParseUrl(url);
    if (!parts || parts->user || parts->password || parts->query || parts->fragment) std::abort();
    if (!parts->path.starts_with("/releases/") || HasDotSegment(parts->path)) std::abort();
    if (!parts->path.ends_with(std::string(".") + extension)) std::abort();
  }
  return 0;
}
