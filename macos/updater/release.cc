#include "macos/updater/release.h"

#include <string>

#include "qv/utf8.h"

namespace qv::updater {
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
  if (!text || utf16_length(*text) > kMaxAnnouncementUnits) return std::nullopt;
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
