// Fetching a feed or an archive from a file: URL or a loopback http: URL (stand-in framework).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "qv/result.h"

namespace qv::updater::standin {

struct FetchHandlers {
  // The body's length, when the response announces it.
  std::function<void(uint64_t)> expectedLength;
  // One chunk of the body as it arrives; answering false ends the transfer as failed.
  std::function<bool(std::string_view)> data;
};

enum class FetchFailure { kRefused, kCancelled, kFailed };

// Whether the URL is one the stand-in may fetch: file:, or http: on a loopback host.
bool FetchableURL(std::string_view url);

// How long a transfer may go without receiving anything before it fails. A server that stops
// sending would otherwise hold the update session; a quarter of a minute is about as long as a
// user watching a check or a download will wait, and far longer than a working server pauses.
inline constexpr std::chrono::seconds kStalledTransferBound{15};

// How long a feed may take in all, from the request (connection and headers included) to its
// last byte. A feed is small, so a working server delivers it in well under a second; a server
// trickling a byte now and then never trips the stall bound and would otherwise keep a check,
// a background one included (it has no cancel handle), at "checking" for ever.
inline constexpr std::chrono::seconds kFeedDeadline{30};

// The slowest an archive may arrive: below kMinimumArchiveRate bytes a second, averaged over
// any kArchiveRateWindow, the download ends. Archives are large, so they get no deadline, but a
// server that sends just enough to beat the stall bound would hold the download for ever.
inline constexpr uint64_t kMinimumArchiveRate = 1024;
inline constexpr std::chrono::seconds kArchiveRateWindow{30};

// Bounds of one transfer; a transfer that passes one fails like any other failed transfer.
struct FetchLimits {
  std::chrono::milliseconds stall = kStalledTransferBound;
  std::chrono::milliseconds deadline{0};    // from the request; 0: none
  uint64_t minimumRate = 0;                 // bytes a second over rateWindow; 0: none
  std::chrono::milliseconds rateWindow{0};  // measured from the request on
};

// The bounds the stand-in applies to feeds and to archives.
inline FetchLimits FeedLimits() {
  return FetchLimits{.deadline = kFeedDeadline};
}
inline FetchLimits ArchiveLimits() {
  return FetchLimits{.minimumRate = kMinimumArchiveRate, .rateWindow = kArchiveRateWindow};
}

// Blocking transfer; returns when done, failed, or once cancelled becomes true. An http: answer
// other than 200 fails (redirects are not followed) without handing its body to the handlers.
qv::Status<FetchFailure> Fetch(const std::string& url, const std::atomic<bool>& cancelled,
                               const FetchHandlers& handlers,
                               const FetchLimits& limits = FetchLimits{});

}  // namespace qv::updater::standin
