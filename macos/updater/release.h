// The release object that describes a feed item to JavaScript.
#pragma once

#include <cstddef>
#include <string_view>

#include "macos/updater/framework.h"
#include "macos/updater/json.h"

namespace qv::updater {

// Longest announcement text accepted, in UTF-16 code units.
inline constexpr size_t kMaxAnnouncementUnits = 30000;
inline constexpr std::string_view kAnnouncementKey = "quorvel:announcement";
inline constexpr std::string_view kDefaultMinimumMacOS = "15.0";

// {"version", "minimumMacOS", "notes", "required"} and, when the item carries a usable one,
// "announcement".
Json ReleaseFor(const AppcastItem& item);

}  // namespace qv::updater
