// The one way JSON strings are written, so that every JSON text the deliverables produce escapes
// and repairs alike.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// Appends `text` to `out` as a quoted JSON string. Ill-formed UTF-8 is repaired first
// (repair_utf8: one U+FFFD per maximal invalid subsequence). '"' and '\' are escaped with a
// backslash; bytes below 0x20 use the short forms \b \f \n \r \t where JSON has one and \u00xx
// (lower-case hex) otherwise; every other byte, '/' and DEL included, is written as it is.
void append_json_string(std::string& out, std::string_view text);

}  // namespace qv
