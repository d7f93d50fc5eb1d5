// The parts of the Sparkle 2 update framework that the updater adapter calls or implements,
// declared for the syntax check on machines without the macOS SDK. On Apple platforms the
// framework's own headers are used instead.
#pragma once
// A system header, as the framework's own are (-iframework): the constants below sit outside
// the non-null region as the framework's do, which only a system header may leave unannotated.
#pragma clang system_header

#import <Foundation/Foundation.h>

// Declared outside the non-null region, as the framework declares them.
extern NSString* const SUSparkleErrorDomain;
extern NSString* const SPULatestAppcastItemFoundKey;
extern NSString* const SPUNoUpdateFoundReasonKey;

NS_ASSUME_NONNULL_BEGIN

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

@interface SUAppcastItem : NSObject
- (instancetype)init NS_UNAVAILABLE;
@property(nonatomic, copy, readonly) NSString* versionString;
@property(nonatomic, copy, readonly) NSString* displayVersionString;
@property(nonatomic, readonly, nullable) NSURL* fileURL;
@property(nonatomic, readonly) uint64_t contentLength;
@property(nonatomic, getter=isInformationOnlyUpdate, readonly) BOOL informationOnlyUpdate;
@property(nonatomic, copy, readonly, nullable) NSString* itemDescription;
@property(nonatomic, copy, readonly, nullable) NSString* minimumSystemVersion;
@property(nonatomic, getter=isCriticalUpdate, readonly) BOOL criticalUpdate;
@property(nonatomic, copy, readonly, nullable)
    NSDictionary<NSString*, SUAppcastItem*>* deltaUpdates;
@property(nonatomic, getter=isDeltaUpdate, readonly) BOOL deltaUpdate;
@property(nonatomic, readonly, copy) NSDictionary* propertiesDictionary;
@end

@interface SUAppcast : NSObject
- (instancetype)init NS_UNAVAILABLE;
@property(readonly, nonatomic, copy) NSArray<SUAppcastItem*>* items;
@end

@interface SPUUserUpdateState : NSObject
- (instancetype)init NS_UNAVAILABLE;
@property(nonatomic, readonly) SPUUserUpdateStage stage;
@property(nonatomic, readonly) BOOL userInitiated;
@end

@interface SPUUpdatePermissionRequest : NSObject
@end

@interface SUUpdatePermissionResponse : NSObject
- (instancetype)initWithAutomaticUpdateChecks:(BOOL)automaticUpdateChecks
                            sendSystemProfile:(BOOL)sendSystemProfile;
- (instancetype)init NS_UNAVAILABLE;
@end

@interface SPUDownloadData : NSObject
@property(nonatomic, readonly) NSData* data;
@end

@protocol SPUUserDriver <NSObject>
- (void)showUpdatePermissionRequest:(SPUUpdatePermissionRequest*)request
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
- (nullable NSString*)feedURLStringForUpdater:(SPUUpdater*)updater;
- (BOOL)updater:(SPUUpdater*)updater shouldDownloadReleaseNotesForUpdate:(SUAppcastItem*)updateItem;
- (void)updater:(SPUUpdater*)updater didFinishLoadingAppcast:(SUAppcast*)appcast;
- (BOOL)updater:(SPUUpdater*)updater
    shouldProceedWithUpdate:(SUAppcastItem*)updateItem
                updateCheck:(SPUUpdateCheck)updateCheck
                      error:(NSError* __autoreleasing*)error;
- (void)updater:(SPUUpdater*)updater didFindValidUpdate:(SUAppcastItem*)item;
- (void)updaterDidNotFindUpdate:(SPUUpdater*)updater error:(NSError*)error;
- (void)updater:(SPUUpdater*)updater didAbortWithError:(NSError*)error;
- (void)updater:(SPUUpdater*)updater
    didFinishUpdateCycleForUpdateCheck:(SPUUpdateCheck)updateCheck
                                 error:(nullable NSError*)error;
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
                          delegate:(nullable id<SPUUpdaterDelegate>)delegate;
- (instancetype)init NS_UNAVAILABLE;
- (BOOL)startUpdater:(NSError* __autoreleasing*)error;
- (void)checkForUpdates;
- (void)checkForUpdatesInBackground;
@property(nonatomic, readonly) BOOL sessionInProgress;
@property(nonatomic) BOOL automaticallyChecksForUpdates;
@end

NS_ASSUME_NONNULL_END
