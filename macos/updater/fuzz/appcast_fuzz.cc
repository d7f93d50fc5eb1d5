// The stand-in's feed reader takes any bytes without failing unsafely.
#include <cstdint>
#include <string_view>

#include "macos/updater/linux/appcast.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = qv::updater::standin::ParseAppcast(text, "http://127.0.0.1:8080/feed.xml", "1.0");
  if (parsed.ok()) {
    for (const auto& item : parsed->items) {
      if (!item.versionString) __builtin_trap();  // items without a version are left out
    }
  }
  return 0;
}
