// libFuzzer target: the header scan on arbitrary bytes, with properties any valid result keeps.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/json/header_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto header = qv::json::scan_header(text);
  if (!header) return 0;
  // Trailing whitespace never changes the outcome; a trailing letter always makes it invalid.
  auto spaced = qv::json::scan_header(text + " \n");
  if (!spaced || spaced->id_text != header->id_text || spaced->event != header->event) std::abort();
  if (qv::json::scan_header(text + "x")) std::abort();
  // The id's text is itself a complete JSON number.
  if (header->id_text && !qv::json::scan_header(*header->id_text)) std::abort();
  return 0;
}
