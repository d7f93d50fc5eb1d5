// The JSON reader agrees with an independent one, and what it reads is written back losslessly.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

#include "macos/updater/json.h"

namespace {

int Depth(const nlohmann::json& v) {
  int deepest = 0;
  if (v.is_structured()) {
    for (const auto& child : v) deepest = std::max(deepest, Depth(child));
    return deepest + 1;
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using qv::updater::Json;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<Json> ours = qv::updater::ParseJson(text);
  const bool theirs = nlohmann::json::accept(text);
  if (ours) {
    if (!theirs) std::abort();  // accepted something that is not JSON
    const std::string written = qv::updater::WriteJson(*ours);
    if (!nlohmann::json::accept(written)) std::abort();
    if (nlohmann::json::parse(written) != nlohmann::json::parse(text)) std::abort();
  } else if (theirs && text.find('\0') == std::string_view::npos) {
    // (The other reader stops at a NUL byte; such texts are not JSON.)
    const nlohmann::json value = nlohmann::json::parse(text);
    if ((value.is_object() || value.is_array()) && Depth(value) <= qv::updater::kMaxJsonDepth) {
      std::abort();  // refused standard JSON within the limits
    }
  }
  // Any bytes as a string value still give valid JSON.
  const std::string quoted =
      qv::updater::WriteJson(Json::MakeArray().push(Json::Str(std::string(text))));
  if (!nlohmann::json::accept(quoted)) std::abort();
  return 0;
}
