// Fuzz target: the copy-name and version patterns against a second, hand-written matcher, and
// the result JSON against an independent decoder for arbitrary name and path bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "macos/cleanup/probes.h"
#include "macos/cleanup/result_json.h"
#include "qv/utf8.h"

namespace {

using qv::cleanup::CleanupResult;
using qv::cleanup::CleanupStatus;

bool Digits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

bool Consume(std::string_view& s, std::string_view prefix) {
  if (s.substr(0, prefix.size()) != prefix) return false;
  s.remove_prefix(prefix.size());
  return true;
}

bool ThreeNumbers(std::string_view s, bool no_leading_zero) {
  for (int part = 0; part < 3; ++part) {
    const std::size_t dot = part < 2 ? s.find('.') : s.size();
    if (dot == std::string_view::npos) return false;
    const std::string_view number = s.substr(0, dot);
    if (!Digits(number)) return false;
    if (no_leading_zero && number.size() > 1 && number.front() == '0') return false;
    s.remove_prefix(part < 2 ? dot + 1 : dot);
  }
  return s.empty();
}

bool ExpectedCopyName(std::string_view name) {
  if (name.size() > 255) return false;  // longer than any directory entry's name
  if (!Consume(name, "Quorvel")) return false;
  if (name.size() < 4 || name.substr(name.size() - 4) != ".app") return false;
  std::string_view middle = name.substr(0, name.size() - 4);
  if (middle.empty()) return true;
  if (!Consume(middle, " ")) return false;
  if (Digits(middle)) return true;
  if (middle == "copy") return true;
  std::string_view rest = middle;
  if (Consume(rest, "copy ") && Digits(rest)) return true;
  rest = middle;
  if (Consume(rest, "(") && rest.size() >= 2 && rest.back() == ')' &&
      Digits(rest.substr(0, rest.size() - 1))) {
    return true;
  }
  return ThreeNumbers(middle, false);
}

bool ExpectedVersion(std::string_view v) {
  return v.size() < 32 && ThreeNumbers(v, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (qv::cleanup::CopyName(input) != ExpectedCopyName(input)) std::abort();
  if (qv::cleanup::Version(std::string(input)) != ExpectedVersion(input)) std::abort();

  const std::size_t split = input.find('/');
  const std::string name(input.substr(0, split));
  const std::string path(split == std::string_view::npos ? "" : input.substr(split));
  CleanupResult result;
  result.status = CleanupStatus::kComplete;
  result.removed = {{name, path}};
  const std::string text = qv::cleanup::ResultJson(result);
  // The decoder refuses ill-formed UTF-8 and bad escapes, so any output must parse.
  const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
  if (parsed.is_discarded()) std::abort();
  const std::string decoded = parsed["removed"][0]["name"].get<std::string>();
  if (qv::is_valid_utf8(name) ? decoded != name : decoded == name) std::abort();
  if (qv::repair_utf8(decoded) != decoded) std::abort();
  return 0;
}
