#include "macos/updater/archive_rule.h"

#include "macos/updater/platform.h"
#include "qv/escape.h"

namespace qv::updater {

Vendor BuildVendor() {
  return Vendor{QV_UPDATER_VENDOR_DOMAIN, QV_UPDATER_VENDOR_RELEASE_BASE_URL};
}

namespace {

// Absent never equals anything.
bool SameText(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  return a && b && *a == *b;
}

std::string PercentDecoded(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hex_digit_value(s[i + 1]) >= 0 &&
        hex_digit_value(s[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit_value(s[i + 1]) * 16 + hex_digit_value(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool HasDotSegment(std::string_view path) {
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    const std::string_view segment = path.substr(start, slash - start);
    if (segment == "." || segment == "..") return true;
    if (slash == std::string_view::npos) return false;
    start = slash + 1;
  }
}

// A path that reaches outside the release folder through dot segments only looks like it is
// inside it; such segments are refused whether written raw or percent-encoded (an encoded "/"
// counts as a separator once decoded).
bool StaysUnderPrefix(std::string_view path) {
  return !HasDotSegment(path) && !HasDotSegment(PercentDecoded(path));
}

std::string_view PathExtension(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = last.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : last.substr(dot + 1);
}

}  // namespace

WrittenComponents WrittenIn(std::string_view url) {
  WrittenComponents written;
  const size_t hash = url.find('#');
  written.fragment = hash != std::string_view::npos;
  const std::string_view beforeFragment = url.substr(0, hash);
  written.query = beforeFragment.find('?') != std::string_view::npos;
  // The authority follows "scheme://" and ends at the path, query or fragment.
  const size_t colon = beforeFragment.find(':');
  if (colon == std::string_view::npos || colon == 0) return written;
  if (beforeFragment.substr(0, colon).find_first_of("/?") != std::string_view::npos) {
    return written;
  }
  const std::string_view rest = beforeFragment.substr(colon + 1);
  if (!rest.starts_with("//")) return written;
  const std::string_view authority = rest.substr(2, rest.find_first_of("/?", 2) - 2);
  const size_t at = authority.rfind('@');
  if (at == std::string_view::npos) return written;
  written.user = true;
  written.password = authority.substr(0, at).find(':') != std::string_view::npos;
  return written;
}

bool ArchiveAllowed(const std::optional<std::string>& url, std::string_view extension,
                    const std::optional<std::string>& feed, const Vendor& vendor) {
  if (!url || !feed) return false;
  const std::optional<UrlParts> feedURL = platform::ParseUrl(*feed);
  if (!feedURL) return false;
  std::optional<UrlParts> base = feedURL;
  if (SameText(feedURL->host, vendor.domain)) base = platform::ParseUrl(vendor.releaseBaseURL);
  const std::optional<UrlParts> archive = platform::ParseUrl(*url);
  if (!base || !archive) return false;

  if (!SameText(archive->scheme, base->scheme)) return false;
  if (!SameText(archive->host, base->host)) return false;
  if (archive->port || base->port) {
    if (!SameText(archive->port, base->port)) return false;
  }
  // Present when written, even empty, or when the parser reports it.
  const WrittenComponents written = WrittenIn(*url);
  if (archive->user || written.user) return false;
  if (archive->password || written.password) return false;
  if (archive->query || written.query) return false;
  if (archive->fragment || written.fragment) return false;
  if (!archive->path.starts_with(kReleasesPrefix)) return false;
  if (!StaysUnderPrefix(archive->path)) return false;
  return PathExtension(archive->path) == extension;
}

}  // namespace qv::updater
