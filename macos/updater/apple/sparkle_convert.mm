#include "macos/apple/arc.h"

#include "macos/updater/apple/sparkle_convert.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "macos/apple/ns_text.h"

namespace qv::updater::apple {
namespace {

using qv::apple::StringFromUtf8;
using qv::apple::Utf8;

// The seam passes the framework's choices, stages and kinds of check on as plain numbers.
static_assert(SPUUserUpdateChoiceSkip == static_cast<NSInteger>(kChoiceSkip));
static_assert(SPUUserUpdateChoiceInstall == static_cast<NSInteger>(kChoiceInstall));
static_assert(SPUUserUpdateChoiceDismiss == static_cast<NSInteger>(kChoiceDismiss));
static_assert(SPUUserUpdateStageNotDownloaded == 0 && SPUUserUpdateStageDownloaded == 1 &&
              SPUUserUpdateStageInstalling == 2);
static_assert(SPUUpdateCheckUpdates == static_cast<NSInteger>(UpdateCheck::kUpdates));
static_assert(SPUUpdateCheckUpdatesInBackground ==
              static_cast<NSInteger>(UpdateCheck::kUpdatesInBackground));
static_assert(SPUUpdateCheckUpdateInformation ==
              static_cast<NSInteger>(UpdateCheck::kUpdateInformation));

// Underlying errors followed at most; deeper links are dropped.
constexpr int kMaxUnderlyingDepth = 64;

FrameworkError ErrorFrom(NSError* error, int depth) {
  FrameworkError converted;
  if (error == nil) return converted;
  converted.domain = Utf8(error.domain).value_or(std::string());
  converted.code = static_cast<int64_t>(error.code);
  NSDictionary* info = error.userInfo;
  converted.description = Utf8(info[NSLocalizedDescriptionKey]).value_or(std::string());
  id latest = info[SPULatestAppcastItemFoundKey];
  if ([latest isKindOfClass:[SUAppcastItem class]]) {
    converted.latestItem = std::make_shared<const AppcastItem>(ItemFrom(latest));
  }
  id reason = info[SPUNoUpdateFoundReasonKey];
  if ([reason isKindOfClass:[NSNumber class]]) {
    converted.noUpdateReason = static_cast<int64_t>([reason longLongValue]);
  }
  id underlying = info[NSUnderlyingErrorKey];
  if ([underlying isKindOfClass:[NSError class]] && depth < kMaxUnderlyingDepth) {
    converted.underlying = std::make_shared<const FrameworkError>(ErrorFrom(underlying, depth + 1));
  }
  return converted;
}

}  // namespace

AppcastItem ItemFrom(SUAppcastItem* item) {
  AppcastItem converted;
  if (item == nil) return converted;
  converted.versionString = Utf8(item.versionString);
  converted.displayVersionString = Utf8(item.displayVersionString);
  converted.minimumSystemVersion = Utf8(item.minimumSystemVersion);
  converted.itemDescription = Utf8(item.itemDescription);
  converted.isCriticalUpdate = [item isCriticalUpdate];
  converted.isInformationOnlyUpdate = [item isInformationOnlyUpdate];
  converted.isDeltaUpdate = [item isDeltaUpdate];
  converted.fileURL = Utf8(item.fileURL.absoluteString);
  converted.contentLength = item.contentLength;
  NSDictionary* properties = item.propertiesDictionary;
  for (id key in properties) {
    std::optional<std::string> name = Utf8(key);
    if (!name) continue;
    std::optional<std::string> text = Utf8(properties[key]);
    converted.propertiesDictionary.emplace(
        std::move(*name),
        text ? PropertyValue(std::move(*text)) : PropertyValue(NonTextProperty{}));
  }
  // Every delta is kept, whatever its key, because each one's archive is vetted.
  NSDictionary* deltas = item.deltaUpdates;
  for (id key in deltas) {
    id delta = deltas[key];
    if (![delta isKindOfClass:[SUAppcastItem class]]) continue;
    std::string from = Utf8(key).value_or(std::string());
    auto converted_delta = std::make_shared<const AppcastItem>(ItemFrom(delta));
    while (!converted.deltaUpdates.emplace(from, converted_delta).second) from.push_back('\x1f');
  }
  return converted;
}

Appcast AppcastFrom(SUAppcast* appcast) {
  Appcast converted;
  for (id item in appcast.items) {
    if ([item isKindOfClass:[SUAppcastItem class]]) converted.items.push_back(ItemFrom(item));
  }
  return converted;
}

UserUpdateState StateFrom(SPUUserUpdateState* state) {
  return UserUpdateState{static_cast<int64_t>(state.stage), state.userInitiated == YES};
}

FrameworkError ErrorFrom(NSError* error) {
  return ErrorFrom(error, 0);
}

NSError* NSErrorFrom(const FrameworkError& error) {
  NSMutableDictionary* info = [NSMutableDictionary dictionary];
  if (NSString* description = StringFromUtf8(error.description); description.length > 0) {
    info[NSLocalizedDescriptionKey] = description;
  }
  if (error.noUpdateReason) info[SPUNoUpdateFoundReasonKey] = @(*error.noUpdateReason);
  if (error.underlying) info[NSUnderlyingErrorKey] = NSErrorFrom(*error.underlying);
  NSString* domain = StringFromUtf8(error.domain);
  return [NSError errorWithDomain:(domain != nil ? domain : @"")
                             code:static_cast<NSInteger>(error.code)
                         userInfo:info];
}

Block BlockFrom(void (^block)(void)) {
  if (block == nil) return Block();
  void (^held)(void) = [block copy];
  return Block([held] { held(); });
}

ChoiceReply ChoiceReplyFrom(void (^reply)(SPUUserUpdateChoice)) {
  if (reply == nil) return ChoiceReply();
  void (^held)(SPUUserUpdateChoice) = [reply copy];
  return ChoiceReply([held](int64_t choice) { held(static_cast<SPUUserUpdateChoice>(choice)); });
}

PermissionReply PermissionReplyFrom(void (^reply)(SUUpdatePermissionResponse*)) {
  if (reply == nil) return PermissionReply();
  void (^held)(SUUpdatePermissionResponse*) = [reply copy];
  return PermissionReply([held](PermissionResponse response) {
    held([[SUUpdatePermissionResponse alloc]
        initWithAutomaticUpdateChecks:response.automaticUpdateChecks
                    sendSystemProfile:response.sendSystemProfile]);
  });
}

}  // namespace qv::updater::apple
