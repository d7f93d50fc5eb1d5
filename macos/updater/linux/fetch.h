// Fetching a feed or an archive from a file: URL or a loopback http: URL (stand-in framework).
#pragma once

#include <atomic>
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

// Blocking transfer; returns when done, failed, or once cancelled becomes true.
qv::Status<FetchFailure> Fetch(const std::string& url, const std::atomic<bool>& cancelled,
                               const FetchHandlers& handlers);

}  // namespace qv::updater::standin
