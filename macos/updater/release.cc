#include "macos/updater/release.h"

#include <string>

namespace qv::updater {

size_t Utf16Length(std::string_view utf8) {
  size_t units = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t n = 1;
    size_t u = 1;
    if (c >= 0xF0 && c <= 0xF4) {
      n = 4, u = 2;
    } else if (c >= 0xE0 && c < 0xF0) {
      n = 3;
    } else if (c >= 0xC2 && c < 0xE0) {
      n = 2;
    }
    bool valid = n == 1 || (i + n <= utf8.size());
    for (size_t k = 1; valid && k < n; ++k) {
      valid = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
    }
    if (!valid) n = 1, u = 1;
    units += u;
    i += n;
  }
  return units;
}

namespace {

Json Notes(std::string_view description) {
  Json notes = Json::MakeArray();
  size_t start = 0;
  for (;;) {
    const size_t lf = description.find('\n', start);
    if (lf == std::string_view::npos) {
      notes.push(Json::Str(std::string(description.substr(start))));
      return notes;
    }
    notes.push(Json::Str(std::string(description.substr(start, lf - start))));
    start = lf + 1;
  }
}

std::optional<Json> Announcement(const AppcastItem& item) {
  const auto it = item.propertiesDictionary.find(std::string(kAnnouncementKey));
  if (it == item.propertiesDictionary.end()) return std::nullopt;
  const std::string* text = std::get_if<std::string>(&it->second);
  if (!text || Utf16Length(*text) > kMaxAnnouncementUnits) return std::nullopt;
  std::optional<Json> parsed = ParseJson(*text);
  if (!parsed || !parsed->isObject()) return std::nullopt;
  return parsed;
}

}  // namespace

Json ReleaseFor(const AppcastItem& item) {
  Json release = Json::MakeObject();
  release.set("version", Json::Str(item.versionString.value_or("")));
  release.set("minimumMacOS",
              Json::Str(item.minimumSystemVersion.value_or(std::string(kDefaultMinimumMacOS))));
  release.set("notes", Notes(item.itemDescription.value_or("")));
  release.set("required", Json::Bool(item.isCriticalUpdate));
  if (std::optional<Json> announcement = Announcement(item)) {
    release.set("announcement", std::move(*announcement));
  }
  return release;
}

}  // namespace qv::updater
