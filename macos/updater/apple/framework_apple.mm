// The framework seam on macOS: the framework updater (SPUUpdater) driven through
// QuorvelUpdater, the main queue of libdispatch, the main thread, the application's Info.plist
// and the platform's URL parser. Each operation forwards and converts; the core decides.
#include "macos/apple/arc.h"

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
#include "macos/updater/platform.h"

#if defined(__APPLE__) && !defined(__MAC_14_0)
// SDKs older than macOS 14 do not declare it; every macOS the module runs on (15 and later)
// has it.
@interface NSURL (QuorvelStrictParsing)
+ (instancetype)URLWithString:(NSString*)URLString encodingInvalidCharacters:(BOOL)encode;
@end
#endif

namespace qv::updater {
namespace {

using qv::apple::StringFromUtf8;
using qv::apple::Utf8;

// The framework's own code for an updater that cannot find its Sparkle.framework
// (SUInvalidUpdaterError).
constexpr int64_t kInvalidUpdaterError = 5;

// Sparkle is linked weakly: in a process that has no Sparkle.framework where the run-time
// search path points (any executable outside the application bundle), the module still loads
// and its classes are nil. Nothing of Sparkle may then be touched, its exported constants
// included.
bool SparkleLoaded() {
  return [SPUUpdater class] != nil;
}

class AppleFrameworkUpdater final : public FrameworkUpdater {
 public:
  explicit AppleFrameworkUpdater(QuorvelUpdater* driver) : driver_(driver) {}

  qv::Status<FrameworkError> startUpdater() override {
    if (driver_.updater == nil) {
      FrameworkError missing;
      missing.domain = kSparkleErrorDomain;
      missing.code = kInvalidUpdaterError;
      missing.description = "Sparkle.framework is not loaded.";
      return qv::Err{std::move(missing)};
    }
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
// detail; the archive rule also reads their presence from the text (WrittenIn). Invalid
// characters are refused, not percent-encoded (what URLWithString: does when linked against
// the macOS 14 SDK or later), so a text such as one with a space fails here as it does on Linux.
std::optional<UrlParts> ParseUrl(std::string_view text) {
  @autoreleasepool {
    NSString* string = StringFromUtf8(text);
    NSURL* url = string != nil ? [NSURL URLWithString:string encodingInvalidCharacters:NO] : nil;
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

// The framework runs on the main queue of libdispatch: no main queue is asked for.
std::unique_ptr<FrameworkUpdater> CreateFrameworkUpdater(
    UpdaterClient& client, const MainQueueFactory& /*makeMainQueue*/) {
  QuorvelUpdater* driver = [[QuorvelUpdater alloc] initWithClient:&client];
  // Without the framework the driver has no updater, and startUpdater() reports that.
  if (SparkleLoaded()) {
    NSBundle* bundle = [NSBundle mainBundle];
    driver.updater = [[SPUUpdater alloc] initWithHostBundle:bundle
                                          applicationBundle:bundle
                                                 userDriver:driver
                                                   delegate:driver];
  }
  return std::make_unique<AppleFrameworkUpdater>(driver);
}

}  // namespace platform

}  // namespace qv::updater
