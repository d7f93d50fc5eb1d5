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

// Whether an archive URL may be used with the given feed: same scheme, host and port as the base
// URL (the vendor release base URL for a feed on the vendor domain, else the feed URL), no user
// information, query or fragment, a path under "/releases/" without "." or ".." segments (also
// percent-encoded ones), and the expected extension.
bool ArchiveAllowed(const std::optional<std::string>& url, std::string_view extension,
                    const std::optional<std::string>& feed, const Vendor& vendor);

}  // namespace qv::updater
