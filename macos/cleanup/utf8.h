// UTF-8 checks for byte strings that come from the file system.
#pragma once

#include <string>
#include <string_view>

namespace qv::cleanup {

// True when text is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool ValidUtf8(std::string_view text);

// text with every maximal ill-formed subsequence replaced by U+FFFD, so that paths with
// unusual bytes can still be reported.
std::string RepairUtf8(std::string_view text);

}  // namespace qv::cleanup
