// Where update archives may come from.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv::updater {

inline constexpr std::string_view kReleasesPrefix = "/releases/";
inline constexpr std::string_view kFullArchiveExtension = "zip";
inline constexpr std::string_view kDeltaArchiveExtension = "delta";

struct Vendor {
  std::string domain;          // host of the vendor's own feed
  std::string releaseBaseURL;  // where the vendor's archives are served from
};

// The vendor settings this build was configured with.
Vendor BuildVendor();

// The components the archive rule refuses that a URL's text spells out, empty ones included: an
// "@" in the authority ("http://@host" has an empty user), a ":" before it, a bare "?" or "#".
// URL parsers differ on whether such a component is empty text or none (and the platform's
// parser on Apple systems does not promise either), so presence is read from the text itself.
struct WrittenComponents {
  bool user = false;
  bool password = false;
  bool query = false;
  bool fragment = false;
};
WrittenComponents WrittenIn(std::string_view url);

// Whether an archive URL may be used with the given feed: same scheme, host and port as the base
// URL (the vendor release base URL for a feed on the vendor domain, else the feed URL), no user
// information, query or fragment (written, see WrittenIn, or reported by the parser), a path
// under "/releases/" without "." or ".." segments (also percent-encoded ones), and the expected
// extension.
bool ArchiveAllowed(const std::optional<std::string>& url, std::string_view extension,
                    const std::optional<std::string>& feed, const Vendor& vendor);

}  // namespace qv::updater
