// Reading the top-level dictionary of a property-list file (XML or binary).
#pragma once

#include <optional>
#include <string>

#include "macos/cleanup/platform.h"

namespace qv::cleanup {

// Files above this size are refused rather than read.
inline constexpr std::size_t kMaxPropertyListBytes = 16 * 1024 * 1024;

std::optional<PlistDictionary> ReadPropertyListFile(const std::string& path);

}  // namespace qv::cleanup
