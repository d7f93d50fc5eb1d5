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

// Whether the other reader refuses the text only because a number lies beyond the range of a
// double. JSON's grammar has no such limit, and ours keeps such a number as its text.
bool OnlyANumberOutOfRange(std::string_view text) {
  try {
    (void)nlohmann::json::parse(text);
  } catch (const nlohmann::json::out_of_range& e) {
    return e.id == 406;
  } catch (const nlohmann::json::exception&) {
    return false;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using qv::updater::Json;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<Json> ours = qv::updater::ParseJson(text);
  // A byte-order mark is not part of a JSON text: the other reader skips one, but ours refuses
  // it, as JSON.parse does.
  const bool bom = text.starts_with("\xEF\xBB\xBF");
  const bool theirs = !bom && nlohmann::json::accept(text);
  if (ours) {
    const std::string written = qv::updater::WriteJson(*ours);
    if (!theirs) {
      if (bom || !OnlyANumberOutOfRange(text)) std::abort();  // accepted something not JSON
      // Numbers kept as text are written back as read, so the text reads the same again.
      const std::optional<Json> again = qv::updater::ParseJson(written);
      if (!again || qv::updater::WriteJson(*again) != written) std::abort();
    } else {
      if (!nlohmann::json::accept(written)) std::abort();
      if (nlohmann::json::parse(written) != nlohmann::json::parse(text)) std::abort();
    }
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
