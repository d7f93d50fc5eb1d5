// QuorvelUpdater on macOS: the update framework's user driver and delegate. It holds the
// framework updater and the portable core it reports to, and forwards every callback to the
// core with its arguments converted; the core decides everything. Main thread only.
#pragma once

#import <Foundation/Foundation.h>
#import <Sparkle/Sparkle.h>

#include "macos/updater/framework.h"

// The delegate callbacks QuorvelUpdater answers. The framework declares them optional and skips
// any it does not find, so they are required here: a missing or misspelt one fails the build
// instead of silently leaving, for instance, archive vetting to the framework's default.
@protocol QuorvelUpdaterDelegateCallbacks <SPUUpdaterDelegate>
@required
- (NSString*)feedURLStringForUpdater:(SPUUpdater*)updater;
- (BOOL)updater:(SPUUpdater*)updater shouldDownloadReleaseNotesForUpdate:(SUAppcastItem*)item;
- (void)updater:(SPUUpdater*)updater didFinishLoadingAppcast:(SUAppcast*)appcast;
- (BOOL)updater:(SPUUpdater*)updater
    shouldProceedWithUpdate:(SUAppcastItem*)updateItem
                updateCheck:(SPUUpdateCheck)updateCheck
                      error:(NSError**)error;
- (void)updater:(SPUUpdater*)updater didFindValidUpdate:(SUAppcastItem*)item;
- (void)updaterDidNotFindUpdate:(SPUUpdater*)updater error:(NSError*)error;
- (void)updater:(SPUUpdater*)updater didAbortWithError:(NSError*)error;
- (void)updater:(SPUUpdater*)updater
    didFinishUpdateCycleForUpdateCheck:(SPUUpdateCheck)updateCheck
                                 error:(NSError*)error;
- (void)updater:(SPUUpdater*)updater
    willDownloadUpdate:(SUAppcastItem*)item
           withRequest:(NSMutableURLRequest*)request;
- (void)userDidCancelDownload:(SPUUpdater*)updater;
- (BOOL)updater:(SPUUpdater*)updater
       willInstallUpdateOnQuit:(SUAppcastItem*)item
    immediateInstallationBlock:(void (^)(void))immediateInstallHandler;
@end

@interface QuorvelUpdater : NSObject <SPUUserDriver, QuorvelUpdaterDelegateCallbacks>

// client must outlive the object; the core lives for the rest of the process. The inherited
// initialisers are unavailable, so no instance exists without a client.
- (instancetype)initWithClient:(qv::updater::UpdaterClient*)client NS_DESIGNATED_INITIALIZER;
- (instancetype)init NS_UNAVAILABLE;
+ (instancetype)new NS_UNAVAILABLE;

// The framework updater this object is user driver and delegate of.
@property(nonatomic, strong) SPUUpdater* updater;

// Starts and stops forwarding changes of the updater's "sessionInProgress" to the client.
- (void)observeSessionInProgress;
- (void)stopObservingSessionInProgress;

@end
