// Reading a feed (an RSS 2.0 appcast) into items, and comparing versions, for the stand-in
// update framework.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "macos/updater/framework.h"
#include "qv/result.h"

namespace qv::updater::standin {

inline constexpr std::string_view kSparkleNamespace =
    "http://www.andymatuschak.org/xml-namespaces/sparkle";

// The most text one element of a feed may hold, in bytes; no property or description of a
// release comes near it, and a feed with a longer one is refused.
inline constexpr size_t kMaxElementTextBytes = 1024 * 1024;

// Negative, zero or positive as a is older than, the same as or newer than b. Runs of digits
// compare by value, runs of letters as text and sort before numbers (1.0b1 < 1.0 < 1.0.1).
int CompareVersions(std::string_view a, std::string_view b);

// Parses the feed text. Document type declarations with an internal subset and entity references
// (other than the predefined ones and character references) are refused. Archive URLs are resolved
// against feedURL; hostVersion decides which critical and informational markings apply. Items
// without a version are left out.
qv::Result<Appcast, std::string> ParseAppcast(std::string_view xml, const std::string& feedURL,
                                              const std::string& hostVersion);

}  // namespace qv::updater::standin
