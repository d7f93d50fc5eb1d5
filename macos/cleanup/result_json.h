// The compact JSON text with which a cleanup job reports its result.
#pragma once

#include <string>
#include <string_view>

#include "macos/cleanup/clean_copies.h"

namespace qv::cleanup {

// Text the job reports when it produced none.
inline constexpr std::string_view kFallbackResultJson = R"({"status":"unverified","removed":[]})";

// "status" and "removed" always; "busy", "newer", "unverified" and "inaccessible" only with
// status "complete". Names and paths with ill-formed UTF-8 are repaired (U+FFFD) rather than
// dropped, so what was moved is always reported.
std::string ResultJson(const CleanupResult& result);

}  // namespace qv::cleanup
