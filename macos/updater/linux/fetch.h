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

// Blocking transfer; returns when done, failed, or once cancelled becomes true. An http: answer
// other than 200 fails (redirects are not followed) without handing its body to the handlers.
qv::Status<FetchFailure> Fetch(const std::string& url, const std::atomic<bool>& cancelled,
                               const FetchHandlers& handlers,
                               std::chrono::seconds stallBound = kStalledTransferBound);

}  // namespace qv::updater::standin
