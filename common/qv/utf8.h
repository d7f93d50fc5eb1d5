// UTF-8 validation and repair of received bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv::host {

// Length of the longest prefix of `bytes` that is well-formed UTF-8.
std::size_t valid_utf8_prefix(std::string_view bytes);

// Whether all of `bytes` is well-formed UTF-8; 16 bytes at a time, without locating the fault.
bool is_valid_utf8(std::string_view bytes);

// The bytes with each maximal invalid subsequence replaced by U+FFFD (EF BF BD); valid input
// comes back unchanged.
std::string repair_utf8(std::string_view bytes);

}  // namespace qv::host
