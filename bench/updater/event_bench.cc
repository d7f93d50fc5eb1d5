// Cost of the updater's events: each downloaded chunk produces one JSON text, so the writer sits
// on the download path. Measured against nlohmann::json building and serialising the same
// events (the baseline), in the same run.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "macos/updater/json.h"
#include "macos/updater/release.h"
#include "macos/updater/updater.h"

namespace {

using Clock = std::chrono::steady_clock;
using qv::updater::Json;

// Hands the text on the way the module's channel does: a fresh NUL-terminated copy.
size_t Hand(const std::string& text) {
  char* copy = new char[text.size() + 1];
  std::memcpy(copy, text.c_str(), text.size() + 1);
  const size_t n = std::strlen(copy);
  delete[] copy;
  return n;
}

template <class F>
double NanosPerCall(int calls, F&& f) {
  const auto start = Clock::now();
  for (int i = 0; i < calls; ++i) f(i);
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / calls;
}

void Report(const char* name, double ours, double baseline) {
  std::printf("%-26s core %8.1f ns/event   nlohmann baseline %8.1f ns/event   ratio %.2f\n", name,
              ours, baseline, ours / baseline);
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 1'000'000;
  size_t sink = 0;

  // One "downloading" event per chunk, through the updater object.
  qv::updater::QuorvelUpdater updater(qv::updater::Vendor{"quorvel.example", "https://x/"});
  updater.events = [&](std::string text) {
    sink += Hand(text);
    return true;
  };
  updater.showDownloadDidReceiveExpectedContentLength(uint64_t{1} << 40);
  const double chunkOurs =
      NanosPerCall(calls, [&](int) { updater.showDownloadDidReceiveDataOfLength(16384); });
  uint64_t received = 0;
  const double chunkBase = NanosPerCall(calls, [&](int) {
    received += 16384;
    nlohmann::json event = {{"type", "downloading"}};
    event["percent"] = received * 100 / (uint64_t{1} << 40);
    sink += Hand(event.dump());
  });
  Report("downloading chunk", chunkOurs, chunkBase);

  // An "available" event with notes and an announcement of about 1 KB.
  qv::updater::AppcastItem item;
  item.versionString = "2.4.1";
  item.itemDescription = "Faster sync\nSmaller downloads\n\nFixes: \"quoted\" text, tabs\tand more";
  std::string announcement = R"({"headline":"Quorvel 2.4","body":")";
  announcement.append(1000, 'x');
  announcement += R"(","links":[1,2,3]})";
  item.propertiesDictionary[std::string(qv::updater::kAnnouncementKey)] = announcement;
  const int releaseCalls = calls / 10;
  const double releaseOurs = NanosPerCall(releaseCalls, [&](int) {
    Json event = Json::MakeObject();
    event.set("type", Json::Str("available")).set("release", qv::updater::ReleaseFor(item));
    sink += Hand(qv::updater::WriteJson(event));
  });
  const double releaseBase = NanosPerCall(releaseCalls, [&](int) {
    nlohmann::json notes = nlohmann::json::array();
    const std::string& d = *item.itemDescription;
    for (size_t start = 0;;) {
      const size_t lf = d.find('\n', start);
      notes.push_back(d.substr(start, lf == std::string::npos ? std::string::npos : lf - start));
      if (lf == std::string::npos) break;
      start = lf + 1;
    }
    nlohmann::json release = {{"version", *item.versionString},
                              {"minimumMacOS", "15.0"},
                              {"notes", notes},
                              {"required", false}};
    nlohmann::json parsed = nlohmann::json::parse(announcement, nullptr, false);
    if (parsed.is_object()) release["announcement"] = parsed;
    sink += Hand(nlohmann::json{{"type", "available"}, {"release", release}}.dump());
  });
  Report("available with release", releaseOurs, releaseBase);
  std::printf("(%d chunk events, %d release events; %zu bytes handed on)\n", calls, releaseCalls,
              sink);
  return 0;
}
