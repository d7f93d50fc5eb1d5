// The parts of the Sparkle 2 update framework that the updater adapter calls or implements,
// declared for the syntax check on machines without the macOS SDK. On Apple platforms the
// framework's own headers are used instead.
#pragma once

#import <Foundation/Foundation.h>

@class SPUUpdater;
@class SUAppcast;
@class SUAppcastItem;

// Answer to an update-choice reply block.
typedef NS_ENUM(NSInteger, SPUUserUpdateChoice) {
  SPUUserUpdateChoiceSkip = 0,
  SPUUserUpdateChoiceInstall = 1,
  SPUUserUpdateChoiceDismiss = 2,
};

// How far an offered update has come.
typedef NS_ENUM(NSInteger, SPUUserUpdateStage) {
  SPUUserUpdateStageNotDownloaded = 0,
  SPUUserUpdateStageDownloaded = 1,
  SPUUserUpdateStageInstalling = 2,
};

// Kind of an update check.
typedef NS_ENUM(NSInteger, SPUUpdateCheck) {
  SPUUpdateCheckUpdates = 0,
  SPUUpdateCheckUpdatesInBackground = 1,
  SPUUpdateCheckUpdateInformation = 2,
};

extern NSString* const SUSparkleErrorDomain;
extern NSString* const SPULatestAppcastItemFoundKey;
extern NSString* const SPUNoUpdateFoundReasonKey;

@interface SUAppcastItem : NSObject
@property(readonly, copy) NSString* versionString;
@property(readonly, copy) NSString* displayVersionString;
@property(readonly, copy) NSString* minimumSystemVersion;
@property(readonly, copy) NSString* itemDescription;
@property(readonly, getter=isCriticalUpdate) BOOL criticalUpdate;
@property(readonly, getter=isInformationOnlyUpdate) BOOL informationOnlyUpdate;
@property(readonly, getter=isDeltaUpdate) BOOL deltaUpdate;
@property(readonly, copy) NSDictionary* propertiesDictionary;
@property(readonly, strong) NSURL* fileURL;
@property(readonly) uint64_t contentLength;
@property(readonly, copy) NSDictionary* deltaUpdates;
@end

@interface SUAppcast : NSObject
@property(readonly, copy) NSArray* items;
@end

@interface SPUUserUpdateState : NSObject
@property(readonly) SPUUserUpdateStage stage;
@property(readonly) BOOL userInitiated;
@end

@interface SUUpdatePermissionRequest : NSObject
@end

@interface SUUpdatePermissionResponse : NSObject
- (instancetype)initWithAutomaticUpdateChecks:(BOOL)automaticUpdateChecks
                            sendSystemProfile:(BOOL)sendSystemProfile;
@end

@interface SPUDownloadData : NSObject
@property(readonly, copy) NSData* data;
@end

@protocol SPUUserDriver <NSObject>
- (void)showUpdatePermissionRequest:(SUUpdatePermissionRequest*)request
                              reply:(void (^)(SUUpdatePermissionResponse*))reply;
- (void)showUserInitiatedUpdateCheckWithCancellation:(void (^)(void))cancellation;
- (void)showUpdateFoundWithAppcastItem:(SUAppcastItem*)appcastItem
                                 state:(SPUUserUpdateState*)state
                                 reply:(void (^)(SPUUserUpdateChoice))reply;
- (void)showUpdateReleaseNotesWithDownloadData:(SPUDownloadData*)downloadData;
- (void)showUpdateReleaseNotesFailedToDownloadWithError:(NSError*)error;
- (void)showUpdateNotFoundWithError:(NSError*)error acknowledgement:(void (^)(void))acknowledgement;
- (void)showUpdaterError:(NSError*)error acknowledgement:(void (^)(void))acknowledgement;
- (void)showDownloadInitiatedWithCancellation:(void (^)(void))cancellation;
- (void)showDownloadDidReceiveExpectedContentLength:(uint64_t)expectedContentLength;
- (void)showDownloadDidReceiveDataOfLength:(uint64_t)length;
- (void)showDownloadDidStartExtractingUpdate;
- (void)showExtractionReceivedProgress:(double)progress;
- (void)showReadyToInstallAndRelaunch:(void (^)(SPUUserUpdateChoice))reply;
- (void)showInstallingUpdateWithApplicationTerminated:(BOOL)applicationTerminated
                          retryTerminatingApplication:(void (^)(void))retryTerminatingApplication;
- (void)showUpdateInstalledAndRelaunched:(BOOL)relaunched
                         acknowledgement:(void (^)(void))acknowledgement;
- (void)showUpdateInFocus;
- (void)dismissUpdateInstallation;
@end

@protocol SPUUpdaterDelegate <NSObject>
@optional
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

@interface SPUUpdater : NSObject
- (instancetype)initWithHostBundle:(NSBundle*)hostBundle
                 applicationBundle:(NSBundle*)applicationBundle
                        userDriver:(id<SPUUserDriver>)userDriver
                          delegate:(id<SPUUpdaterDelegate>)delegate;
- (BOOL)startUpdater:(NSError**)error;
- (void)checkForUpdates;
- (void)checkForUpdatesInBackground;
@property BOOL automaticallyChecksForUpdates;
@property(readonly) BOOL sessionInProgress;
@end
