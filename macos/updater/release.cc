#include "macos/updater/release.h"

#include <string>

#include "qv/utf8.h"

namespace qv::updater {

size_t Utf16Length(std::string_view utf8) {
  if (!is_valid_utf8(utf8)) return Utf16Length(repair_utf8(utf8));
  size_t units = 0;
  for (const char byte : utf8) {
    const auto c = static_cast<unsigned char>(byte);
    // One unit for each lead byte, and a second one for the four-byte forms (above U+FFFF).
    units += (c & 0xC0) != 0x80 ? 1 : 0;
    units += c >= 0xF0 ? 1 : 0;
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
