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

// Number of UTF-16 code units of a UTF-8 text as JavaScript counts it once decoded: each maximal
// invalid subsequence decodes to one U+FFFD (qv::repair_utf8).
size_t Utf16Length(std::string_view utf8);

// {"version", "minimumMacOS", "notes", "required"} and, when the item carries a usable one,
// "announcement".
Json ReleaseFor(const AppcastItem& item);

}  // namespace qv::updater
