// The framework seam on macOS: the framework updater (SPUUpdater) driven through
// QuorvelUpdater, the main queue of libdispatch, the main thread, the application's Info.plist
// and the platform's URL parser. Each operation forwards and converts; the core decides.
#import <Foundation/Foundation.h>
#import <Sparkle/Sparkle.h>
#include <dispatch/dispatch.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "macos/apple/ns_text.h"
#import "macos/updater/apple/QuorvelUpdater.h"
#include "macos/updater/apple/sparkle_convert.h"
#include "macos/updater/framework.h"

namespace qv::updater {
namespace {

using qv::apple::StringFromUtf8;
using qv::apple::Utf8;

class AppleFrameworkUpdater final : public FrameworkUpdater {
 public:
  explicit AppleFrameworkUpdater(QuorvelUpdater* driver) : driver_(driver) {}

  qv::Status<FrameworkError> startUpdater() override {
    NSError* error = nil;
    if ([driver_.updater startUpdater:&error]) return qv::kOk;
    return qv::Err{apple::ErrorFrom(error)};
  }

  void checkForUpdates() override { [driver_.updater checkForUpdates]; }

  void checkForUpdatesInBackground() override { [driver_.updater checkForUpdatesInBackground]; }

  bool automaticallyChecksForUpdates() const override {
    return driver_.updater.automaticallyChecksForUpdates == YES;
  }

  bool sessionInProgress() const override { return driver_.updater.sessionInProgress == YES; }

  void observeSessionInProgress() override { [driver_ observeSessionInProgress]; }

  void stopObservingSessionInProgress() override { [driver_ stopObservingSessionInProgress]; }

  void dispatchAfter(uint64_t nanoseconds, std::function<void()> block) override {
    const auto delay = static_cast<int64_t>(std::min<uint64_t>(nanoseconds, INT64_MAX));
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delay), dispatch_get_main_queue(), ^{
      block();
    });
  }

 private:
  QuorvelUpdater* driver_;
};

}  // namespace

namespace platform {

bool IsMainThread() {
  return [NSThread isMainThread] == YES;
}

std::optional<std::string> ConfiguredFeedURL() {
  @autoreleasepool {
    return Utf8([[NSBundle mainBundle] objectForInfoDictionaryKey:@"SUFeedURL"]);
  }
}

// Whether an empty user, query or fragment comes back as empty text or as nil is the parser's
// detail; the archive rule also reads their presence from the text (WrittenIn).
std::optional<UrlParts> ParseUrl(std::string_view text) {
  @autoreleasepool {
    NSString* string = StringFromUtf8(text);
    NSURL* url = string != nil ? [NSURL URLWithString:string] : nil;
    if (url == nil || url.scheme == nil) return std::nullopt;
    UrlParts parts;
    parts.scheme = Utf8(url.scheme);
    parts.host = Utf8(url.host);
    parts.port = url.port != nil ? Utf8(url.port.stringValue) : std::nullopt;
    parts.user = Utf8(url.user);
    parts.password = Utf8(url.password);
    parts.query = Utf8(url.query);
    parts.fragment = Utf8(url.fragment);
    parts.path = Utf8(url.path).value_or(std::string());
    return parts;
  }
}

std::unique_ptr<FrameworkUpdater> CreateFrameworkUpdater(napi_env /*env*/, UpdaterClient& client) {
  QuorvelUpdater* driver = [[QuorvelUpdater alloc] initWithClient:&client];
  NSBundle* bundle = [NSBundle mainBundle];
  driver.updater = [[SPUUpdater alloc] initWithHostBundle:bundle
                                        applicationBundle:bundle
                                               userDriver:driver
                                                 delegate:driver];
  return std::make_unique<AppleFrameworkUpdater>(driver);
}

}  // namespace platform

}  // namespace qv::updater
