#include "macos/apple/arc.h"

#import "macos/updater/apple/QuorvelUpdater.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "macos/apple/ns_text.h"
#include "macos/updater/apple/sparkle_convert.h"

using qv::updater::UpdateCheck;
using qv::updater::apple::AppcastFrom;
using qv::updater::apple::BlockFrom;
using qv::updater::apple::ChoiceReplyFrom;
using qv::updater::apple::ErrorFrom;
using qv::updater::apple::ItemFrom;
using qv::updater::apple::NSErrorFrom;
using qv::updater::apple::PermissionReplyFrom;
using qv::updater::apple::StateFrom;

// Never read or written: its address marks this module's observation of "sessionInProgress".
static char sessionObservation;

@implementation QuorvelUpdater {
  qv::updater::UpdaterClient* _client;
}

- (instancetype)initWithClient:(qv::updater::UpdaterClient*)client {
  if ((self = [super init])) _client = client;
  return self;
}

- (void)observeSessionInProgress {
  [self.updater addObserver:self
                 forKeyPath:@"sessionInProgress"
                    options:NSKeyValueObservingOptionNew
                    context:&sessionObservation];
}

- (void)stopObservingSessionInProgress {
  [self.updater removeObserver:self forKeyPath:@"sessionInProgress" context:&sessionObservation];
}

- (void)observeValueForKeyPath:(NSString*)keyPath
                      ofObject:(id)object
                        change:(NSDictionary*)change
                       context:(void*)context {
  if (context == &sessionObservation) {
    _client->sessionInProgressDidChange();
    return;
  }
  [super observeValueForKeyPath:keyPath ofObject:object change:change context:context];
}

// User driver.

- (void)showUpdatePermissionRequest:(SPUUpdatePermissionRequest*)request
                              reply:(void (^)(SUUpdatePermissionResponse*))reply {
  (void)request;
  _client->showUpdatePermissionRequestReply(PermissionReplyFrom(reply));
}

- (void)showUserInitiatedUpdateCheckWithCancellation:(void (^)(void))cancellation {
  _client->showUserInitiatedUpdateCheckWithCancellation(BlockFrom(cancellation));
}

- (void)showUpdateFoundWithAppcastItem:(SUAppcastItem*)appcastItem
                                 state:(SPUUserUpdateState*)state
                                 reply:(void (^)(SPUUserUpdateChoice))reply {
  _client->showUpdateFoundWithAppcastItemStateReply(ItemFrom(appcastItem), StateFrom(state),
                                                    ChoiceReplyFrom(reply));
}

- (void)showUpdateReleaseNotesWithDownloadData:(SPUDownloadData*)downloadData {
  NSData* data = downloadData.data;
  _client->showUpdateReleaseNotesWithDownloadData(
      std::string_view(static_cast<const char*>(data.bytes), data.length));
}

- (void)showUpdateReleaseNotesFailedToDownloadWithError:(NSError*)error {
  _client->showUpdateReleaseNotesFailedToDownloadWithError(ErrorFrom(error));
}

- (void)showUpdateNotFoundWithError:(NSError*)error
                    acknowledgement:(void (^)(void))acknowledgement {
  _client->showUpdateNotFoundWithErrorAcknowledgement(ErrorFrom(error), BlockFrom(acknowledgement));
}

- (void)showUpdaterError:(NSError*)error acknowledgement:(void (^)(void))acknowledgement {
  _client->showUpdaterErrorAcknowledgement(ErrorFrom(error), BlockFrom(acknowledgement));
}

- (void)showDownloadInitiatedWithCancellation:(void (^)(void))cancellation {
  _client->showDownloadInitiatedWithCancellation(BlockFrom(cancellation));
}

- (void)showDownloadDidReceiveExpectedContentLength:(uint64_t)expectedContentLength {
  _client->showDownloadDidReceiveExpectedContentLength(expectedContentLength);
}

- (void)showDownloadDidReceiveDataOfLength:(uint64_t)length {
  _client->showDownloadDidReceiveDataOfLength(length);
}

- (void)showDownloadDidStartExtractingUpdate {
  _client->showDownloadDidStartExtractingUpdate();
}

- (void)showExtractionReceivedProgress:(double)progress {
  _client->showExtractionReceivedProgress(progress);
}

- (void)showReadyToInstallAndRelaunch:(void (^)(SPUUserUpdateChoice))reply {
  _client->showReadyToInstallAndRelaunch(ChoiceReplyFrom(reply));
}

- (void)showInstallingUpdateWithApplicationTerminated:(BOOL)applicationTerminated
                          retryTerminatingApplication:(void (^)(void))retryTerminatingApplication {
  _client->showInstallingUpdateWithApplicationTerminatedRetryTerminatingApplication(
      applicationTerminated == YES, BlockFrom(retryTerminatingApplication));
}

- (void)showUpdateInstalledAndRelaunched:(BOOL)relaunched
                         acknowledgement:(void (^)(void))acknowledgement {
  _client->showUpdateInstalledAndRelaunchedAcknowledgement(relaunched == YES,
                                                           BlockFrom(acknowledgement));
}

- (void)showUpdateInFocus {
  _client->showUpdateInFocus();
}

- (void)dismissUpdateInstallation {
  _client->dismissUpdateInstallation();
}

// Delegate.

- (NSString*)feedURLStringForUpdater:(SPUUpdater*)updater {
  (void)updater;
  const std::optional<std::string> feed = _client->feedURLStringForUpdater();
  return feed ? qv::apple::StringFromUtf8(*feed) : nil;
}

- (BOOL)updater:(SPUUpdater*)updater shouldDownloadReleaseNotesForUpdate:(SUAppcastItem*)item {
  (void)updater;
  return _client->updaterShouldDownloadReleaseNotesForUpdate(ItemFrom(item)) ? YES : NO;
}

- (void)updater:(SPUUpdater*)updater didFinishLoadingAppcast:(SUAppcast*)appcast {
  (void)updater;
  _client->updaterDidFinishLoadingAppcast(AppcastFrom(appcast));
}

- (BOOL)updater:(SPUUpdater*)updater
    shouldProceedWithUpdate:(SUAppcastItem*)updateItem
                updateCheck:(SPUUpdateCheck)updateCheck
                      error:(NSError**)error {
  (void)updater;
  qv::updater::FrameworkError refusal;
  const bool proceed = _client->updaterShouldProceedWithUpdateUpdateCheckError(
      ItemFrom(updateItem), static_cast<UpdateCheck>(updateCheck),
      error != nullptr ? &refusal : nullptr);
  if (!proceed && error != nullptr) *error = NSErrorFrom(refusal);
  return proceed ? YES : NO;
}

- (void)updater:(SPUUpdater*)updater didFindValidUpdate:(SUAppcastItem*)item {
  (void)updater;
  _client->updaterDidFindValidUpdate(ItemFrom(item));
}

- (void)updaterDidNotFindUpdate:(SPUUpdater*)updater error:(NSError*)error {
  (void)updater;
  _client->updaterDidNotFindUpdateError(ErrorFrom(error));
}

- (void)updater:(SPUUpdater*)updater didAbortWithError:(NSError*)error {
  (void)updater;
  _client->updaterDidAbortWithError(ErrorFrom(error));
}

- (void)updater:(SPUUpdater*)updater
    didFinishUpdateCycleForUpdateCheck:(SPUUpdateCheck)updateCheck
                                 error:(NSError*)error {
  (void)updater;
  const qv::updater::FrameworkError converted = ErrorFrom(error);
  _client->updaterDidFinishUpdateCycleForUpdateCheckError(static_cast<UpdateCheck>(updateCheck),
                                                          error != nil ? &converted : nullptr);
}

- (void)updater:(SPUUpdater*)updater
    willDownloadUpdate:(SUAppcastItem*)item
           withRequest:(NSMutableURLRequest*)request {
  (void)updater;
  (void)request;
  _client->updaterWillDownloadUpdateWithRequest(ItemFrom(item));
}

- (void)userDidCancelDownload:(SPUUpdater*)updater {
  (void)updater;
  _client->userDidCancelDownload();
}

- (BOOL)updater:(SPUUpdater*)updater
       willInstallUpdateOnQuit:(SUAppcastItem*)item
    immediateInstallationBlock:(void (^)(void))immediateInstallHandler {
  (void)updater;
  return _client->updaterWillInstallUpdateOnQuitImmediateInstallationBlock(
             ItemFrom(item), BlockFrom(immediateInstallHandler))
             ? YES
             : NO;
}

@end
