#include "macos/updater/linux/fetch.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>

#include "macos/updater/platform.h"

namespace qv::updater::standin {

namespace {

struct Transfer {
  const std::atomic<bool>* cancelled;
  const FetchHandlers* handlers;
  CURL* curl;
  bool http;
  FetchLimits limits;
  bool lengthReported = false;
  curl_off_t received = 0;
  std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
  // Bytes received by each moment since the request, for the rate over the last window: the
  // front is the newest sample at least a window old once the transfer is that old.
  struct Sample {
    std::chrono::steady_clock::time_point at;
    curl_off_t received;
  };
  std::deque<Sample> samples{{lastProgress, 0}};
};

// Whether less than the minimum rate arrived over the last window. Samples are kept a tenth of
// a second apart at the closest, so a window holds a few hundred of them at most.
bool BelowRate(Transfer& t, std::chrono::steady_clock::time_point now, curl_off_t received) {
  const FetchLimits& limits = t.limits;
  if (limits.minimumRate == 0 || limits.rateWindow.count() <= 0) return false;
  if (now - t.samples.back().at >= std::chrono::milliseconds(100)) {
    t.samples.push_back({now, received});
  }
  while (t.samples.size() > 1 && now - t.samples[1].at >= limits.rateWindow) t.samples.pop_front();
  const Transfer::Sample& oldest = t.samples.front();
  const auto span = std::chrono::duration_cast<std::chrono::milliseconds>(now - oldest.at);
  if (span < limits.rateWindow) return false;
  const auto bytes = static_cast<uint64_t>(received - oldest.received);
  return bytes * 1000 < limits.minimumRate * static_cast<uint64_t>(span.count());
}

// Only a 200 answer carries the resource. A redirect's body is the server's note about where
// to go, and following it would fetch from a place nobody vetted; any other status (partial or
// empty content, errors) is not the whole resource either. file: transfers have no status.
bool Answered(const Transfer& t) {
  if (!t.http) return true;
  long status = 0;
  return curl_easy_getinfo(t.curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
}

size_t OnData(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  if (t->cancelled->load()) return 0;
  if (!t->lengthReported) {
    if (!Answered(*t)) return 0;  // nothing of another answer reaches the handlers
    t->lengthReported = true;
    curl_off_t length = -1;
    if (curl_easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length > 0 && t->handlers->expectedLength) {
      t->handlers->expectedLength(static_cast<uint64_t>(length));
    }
  }
  if (t->handlers->data && !t->handlers->data(std::string_view(data, size * count))) return 0;
  return size * count;
}

// Called at least about once a second, also while nothing arrives.
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(user);
  if (t->cancelled->load()) return 1;
  const auto now = std::chrono::steady_clock::now();
  if (received != t->received) {
    t->received = received;
    t->lastProgress = now;
  }
  if (BelowRate(*t, now, received)) return 1;
  return now - t->lastProgress >= t->limits.stall ? 1 : 0;
}

// Only address literals of the loopback ranges, and "localhost", which the client resolves to
// loopback itself: a name such as "127.example.org" is looked up like any other and may be remote.
bool IsLoopbackHost(const std::string& host) {
  if (host == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

}  // namespace

bool FetchableURL(std::string_view url) {
  const std::optional<UrlParts> parts = platform::ParseUrl(url);
  if (!parts || !parts->scheme) return false;
  if (*parts->scheme == "file") return !parts->host || *parts->host == "localhost";
  return *parts->scheme == "http" && parts->host && IsLoopbackHost(*parts->host) && !parts->user;
}

qv::Status<FetchFailure> Fetch(const std::string& url, const std::atomic<bool>& cancelled,
                               const FetchHandlers& handlers, const FetchLimits& limits) {
  if (!FetchableURL(url)) return qv::Err{FetchFailure::kRefused};
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  if (!curl) return qv::Err{FetchFailure::kFailed};
  Transfer t{&cancelled, &handlers, curl.get(), url.compare(0, 5, "http:") == 0, limits};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "file,http");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 10L);
  if (limits.deadline.count() > 0) {
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.deadline.count()));
  }
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnData);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  // Cancellation, a server that stops sending and one sending too slowly end the transfer here.
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
  const CURLcode rc = curl_easy_perform(c);
  if (cancelled.load()) return qv::Err{FetchFailure::kCancelled};
  if (rc != CURLE_OK || !Answered(t)) return qv::Err{FetchFailure::kFailed};
  return qv::kOk;
}

}  // namespace qv::updater::standin
