// The order in which the update framework calls QuorvelUpdater, flow by flow, as data.
//
// Read from the framework's own update drivers (2.6 series); each segment names the driver
// files and methods it was read from. Only calls that reach QuorvelUpdater are listed: the
// user-driver and delegate methods it implements, changes of the observed "sessionInProgress",
// and the points where the framework goes on in a later turn of the main queue. Calls the
// framework makes to methods we do not implement are named in the segment notes.
//
// Two readers keep this honest: the Linux stand-in framework plays these segments when it calls
// back (so it cannot drift from them), and the core's replay test runs every flow against
// QuorvelUpdater and checks what JavaScript receives.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace qv::updater::orders {

enum class Call : uint8_t {
  // Observation of the framework updater's "sessionInProgress".
  kSessionBegins,
  kSessionEnds,
  // The framework goes on in a later turn of the main queue (a dispatched reply or
  // acknowledgement, an installer probe, a transfer).
  kNextTurn,

  // User driver.
  kShowUpdatePermissionRequest,
  kShowUserInitiatedUpdateCheck,
  kShowUpdateFound,
  kShowUpdateNotFound,  // the rest of the segment waits for the acknowledgement
  kShowUpdaterError,    // the rest of the segment waits for the acknowledgement
  kShowDownloadInitiated,
  kShowDownloadExpectedContentLength,
  kShowDownloadDataOfLength,
  kShowDownloadStartedExtracting,
  kShowExtractionProgress,
  kShowReadyToInstall,
  kShowInstalling,
  kDismissUpdateInstallation,
  kShowUpdateInFocus,

  // Delegate.
  kFeedURLString,
  kDidFinishLoadingAppcast,
  kShouldProceedWithUpdate,
  kDidFindValidUpdate,
  kDidNotFindUpdate,
  kDidAbortWithError,
  kDidFinishUpdateCycle,
  kWillDownloadUpdate,
  kUserDidCancelDownload,
  kWillInstallUpdateOnQuit,

  // What JavaScript does at that point of the flow (the framework does not play these).
  kJavaScriptCheck,
  kJavaScriptInstall,
  kJavaScriptReplace,
  kJavaScriptCancel,
};

struct Segment {
  std::string_view name;
  std::string_view source;  // framework file and methods the order was read from
  std::span<const Call> calls;
};

// One error as the framework builds it: its code and, where it wraps others, the codes of its
// underlying errors, outermost first (all in the framework's domain unless foreignCause).
struct ErrorShape {
  int64_t code = 0;
  int64_t cause = 0;       // 0: no underlying error
  int64_t innerCause = 0;  // 0: none below the cause
  bool foreignCause = false;
  int64_t noUpdateReason = 0;
};

struct Flow {
  std::string_view name;
  std::span<const Segment* const> segments;
  ErrorShape error;     // the error the flow's error callbacks carry, if any
  int64_t stage = 0;    // stage of the offered update
  bool standIn = true;  // whether the Linux stand-in produces this flow
  std::string_view note;
};

// --- segments ---------------------------------------------------------------------------------

namespace calls {
using enum Call;
inline constexpr Call kStartUpdater[] = {kFeedURLString, kNextTurn};
inline constexpr Call kPermission[] = {kSessionBegins, kShowUpdatePermissionRequest};
inline constexpr Call kPermissionAnswered[] = {kNextTurn, kSessionEnds};
inline constexpr Call kSchedule[] = {kSessionBegins, kNextTurn, kSessionEnds};
inline constexpr Call kCheckBegins[] = {kSessionBegins, kNextTurn, kFeedURLString};
inline constexpr Call kUserFeedCheck[] = {kFeedURLString, kShowUserInitiatedUpdateCheck};
inline constexpr Call kBackgroundFeedCheck[] = {kFeedURLString};
inline constexpr Call kResumeFound[] = {kNextTurn, kDidFindValidUpdate};
inline constexpr Call kFeedLoaded[] = {kDidFinishLoadingAppcast};
inline constexpr Call kProceed[] = {kShouldProceedWithUpdate};
inline constexpr Call kValidUpdate[] = {kDidFindValidUpdate};
inline constexpr Call kOffer[] = {kShowUpdateFound};
inline constexpr Call kDownload[] = {kNextTurn, kWillDownloadUpdate, kShowDownloadInitiated};
inline constexpr Call kExpectedLength[] = {kShowDownloadExpectedContentLength};
inline constexpr Call kChunk[] = {kShowDownloadDataOfLength};
inline constexpr Call kExtract[] = {kShowDownloadStartedExtracting};
inline constexpr Call kExtractionProgress[] = {kShowExtractionProgress};
inline constexpr Call kReady[] = {kShowReadyToInstall};
inline constexpr Call kInstalling[] = {kNextTurn, kShowInstalling};
inline constexpr Call kFocus[] = {kJavaScriptCheck, kShowUpdateInFocus};
inline constexpr Call kCheckIgnored[] = {kJavaScriptCheck};
inline constexpr Call kJsInstall[] = {kJavaScriptInstall};
inline constexpr Call kJsReplace[] = {kJavaScriptReplace};
inline constexpr Call kJsCancel[] = {kJavaScriptCancel};
inline constexpr Call kUserNotFound[] = {
    kDidNotFindUpdate,  kShowUpdateNotFound,  kNextTurn, kDismissUpdateInstallation, kSessionEnds,
    kDidAbortWithError, kDidFinishUpdateCycle};
inline constexpr Call kUserError[] = {kShowUpdaterError,          kNextTurn,
                                      kDismissUpdateInstallation, kSessionEnds,
                                      kDidAbortWithError,         kDidFinishUpdateCycle};
inline constexpr Call kUserAbort[] = {kNextTurn, kDismissUpdateInstallation, kSessionEnds,
                                      kDidFinishUpdateCycle};
inline constexpr Call kUserCancelDownload[] = {kNextTurn, kUserDidCancelDownload,
                                               kDismissUpdateInstallation, kSessionEnds,
                                               kDidFinishUpdateCycle};
inline constexpr Call kBackgroundDownload[] = {kWillDownloadUpdate};
inline constexpr Call kInstallOnQuit[] = {kWillInstallUpdateOnQuit};
inline constexpr Call kSilentInstall[] = {kNextTurn};
inline constexpr Call kBackgroundNotFound[] = {kDidNotFindUpdate, kSessionEnds, kDidAbortWithError,
                                               kDidFinishUpdateCycle};
inline constexpr Call kBackgroundError[] = {kSessionEnds, kDidAbortWithError,
                                            kDidFinishUpdateCycle};
inline constexpr Call kBackgroundEnd[] = {kSessionEnds, kDidFinishUpdateCycle};
}  // namespace calls

// "start": the configuration check asks for the feed; the update cycle starts a turn later,
// and only when no session has begun meanwhile (a check asked for at once comes first).
inline constexpr Segment kStartUpdater{
    "start the updater",
    "SPUUpdater.m startUpdater: (checkIfConfiguredProperlyAndRequireFeedURL:..., retrieveFeedURL:,"
    " then a dispatched startUpdateCycle)",
    calls::kStartUpdater};
// Asked once when the user has never answered and the host sets no default; the reply goes on
// in a later turn.
inline constexpr Segment kPermission{
    "permission request", "SPUUpdater.m startUpdateCycle (shouldPrompt)", calls::kPermission};
inline constexpr Segment kPermissionAnswered{
    "permission answered",
    "SPUUpdater.m startUpdateCycle (reply block), updatePermissionRequestFinishedWithResponse:,"
    " resetUpdateCycle",
    calls::kPermissionAnswered};
// With automatic checks on, scheduling the next check probes the installer inside a session of
// its own; no check is due when the last one was recent.
inline constexpr Segment kSchedule{
    "schedule the next check",
    "SPUUpdater.m scheduleNextUpdateCheckFiringImmediately:usingCurrentDate: (not firing;"
    " not called when automatic checks are off; delegate updater:willScheduleUpdateCheckAfterDelay:"
    " is not ours)",
    calls::kSchedule};
inline constexpr Segment kCheckBegins{
    "check begins",
    "SPUUpdater.m checkForUpdates / _checkForUpdatesInBackground (probe of the installer),"
    " checkForUpdatesWithDriver:updateCheck:installerInProgress: (checkIfConfiguredProperly"
    "AndRequireFeedURL:; delegate updater:mayPerformUpdateCheck:error: is not ours)",
    calls::kCheckBegins};
inline constexpr Segment kUserFeedCheck{
    "user-initiated feed check",
    "SPUUpdater.m checkForUpdatesWithDriver:... (parameterizedFeedURL);"
    " SPUUserInitiatedUpdateDriver.m checkForUpdatesAtAppcastURL:withUserAgent:httpHeaders:",
    calls::kUserFeedCheck};
inline constexpr Segment kBackgroundFeedCheck{
    "background feed check",
    "SPUUpdater.m checkForUpdatesWithDriver:... (parameterizedFeedURL);"
    " SPUAutomaticUpdateDriver.m checkForUpdatesAtAppcastURL:withUserAgent:httpHeaders:",
    calls::kBackgroundFeedCheck};
// An installer left waiting by an earlier session: no feed is loaded and nothing is asked.
inline constexpr Segment kResumeFound{
    "staged update found",
    "SPUUpdater.m checkForUpdatesWithDriver:... (installerInProgress: resumeInstallingUpdate);"
    " SPUBasicUpdateDriver.m resumeInstallingUpdate, notifyResumableUpdateItem:...,"
    " notifyFoundValidUpdateWithAppcastItem:... (resuming: no proceed question)",
    calls::kResumeFound};
inline constexpr Segment kFeedLoaded{
    "feed loaded",
    "SUAppcastDriver.m appcastDidFinishLoading:inBackground:; SPUBasicUpdateDriver.m"
    " didFinishLoadingAppcast:",
    calls::kFeedLoaded};
inline constexpr Segment kProceed{
    "proceed question",
    "SPUBasicUpdateDriver.m notifyFoundValidUpdateWithAppcastItem:... (a refusal aborts with the"
    " delegate's error)",
    calls::kProceed};
inline constexpr Segment kValidUpdate{
    "valid update", "SPUBasicUpdateDriver.m notifyFoundValidUpdateWithAppcastItem:...",
    calls::kValidUpdate};
// Release notes are asked for (updater:shouldDownloadReleaseNotesForUpdate:) right after this,
// only when the item has a release-notes link.
inline constexpr Segment kOffer{
    "update offered",
    "SPUUIBasedUpdateDriver.m basicDriverDidFindUpdateWithAppcastItem:secondaryAppcastItem:",
    calls::kOffer};
inline constexpr Segment kDownload{
    "download begins",
    "SPUUIBasedUpdateDriver.m reply of showUpdateFoundWithAppcastItem:... (install, not"
    " downloaded); SPUCoreBasedUpdateDriver.m downloadUpdateFromAppcastItem:...;"
    " SPUUIBasedUpdateDriver.m downloadDriverWillBeginDownload",
    calls::kDownload};
inline constexpr Segment kExpectedLength{
    "expected length",
    "SPUDownloadDriver.m downloaderDidReceiveExpectedContentLength: (the item's length when the"
    " response gives none)",
    calls::kExpectedLength};
inline constexpr Segment kChunk{
    "chunk received", "SPUDownloadDriver.m downloaderDidReceiveDataOfLength:", calls::kChunk};
inline constexpr Segment kExtract{
    "extraction begins",
    "SPUCoreBasedUpdateDriver.m downloadDriverDidDownloadUpdate:, extractUpdate: (delegate"
    " updater:didDownloadUpdate: and updater:willExtractUpdate: are not ours)",
    calls::kExtract};
inline constexpr Segment kExtractionProgress{
    "extraction progress",
    "SPUInstallerDriver.m _handleMessageWithIdentifier:data: (SPUExtractedArchiveWithProgress)",
    calls::kExtractionProgress};
inline constexpr Segment kReady{
    "ready to install",
    "SPUInstallerDriver.m _handleMessageWithIdentifier:data: (SPUInstallationFinishedStage1);"
    " SPUUIBasedUpdateDriver.m installerDidFinishPreparationAndWillInstallImmediately:silently:",
    calls::kReady};
// After this the installer terminates and relaunches the application: the session never ends
// in this process and no end of cycle is reported.
inline constexpr Segment kInstalling{
    "installing",
    "SPUUIBasedUpdateDriver.m reply of showReadyToInstallAndRelaunch: / showUpdateFound... (stage"
    " 2); SPUCoreBasedUpdateDriver.m finishInstallationWithResponse:displayingUserInterface:;"
    " SPUInstallerDriver.m installWithToolAndRelaunch:displayingUserInterface:, stage 2 message;"
    " SPUUIBasedUpdateDriver.m installerDidStartInstallingWithApplicationTerminated:",
    calls::kInstalling};
inline constexpr Segment kFocus{
    "check while an update is shown",
    "SPUUpdater.m checkForUpdates (showing the permission request or the driver's showingUpdate)",
    calls::kFocus};
// The automatic driver never reports showingUpdate and its session runs on: the framework only
// logs that a session is in progress.
inline constexpr Segment kCheckIgnored{
    "check while a silent update waits",
    "SPUUpdater.m checkForUpdates (sessionInProgress); SPUAutomaticUpdateDriver.m showingUpdate",
    calls::kCheckIgnored};
inline constexpr Segment kJsInstall{"JavaScript installs", "", calls::kJsInstall};
inline constexpr Segment kJsReplace{"JavaScript replaces", "", calls::kJsReplace};
inline constexpr Segment kJsCancel{"JavaScript cancels", "", calls::kJsCancel};
inline constexpr Segment kUserNotFound{
    "no update (user-initiated)",
    "SPUBasicUpdateDriver.m didNotFindUpdateWithLatestAppcastItem:...; SPUUIBasedUpdateDriver.m"
    " _abortUpdateWithError:showErrorToUser: (SUNoUpdateError, acknowledgement dispatched);"
    " SPUCoreBasedUpdateDriver.m abortUpdateAndShowNextUpdateImmediately:error:; SPUUpdater.m"
    " checkForUpdatesWithDriver:... completion (sessionInProgress off before the delegate hears)",
    calls::kUserNotFound};
inline constexpr Segment kUserError{
    "error (user-initiated)",
    "SPUUserInitiatedUpdateDriver.m abortUpdateWithError:; SPUUIBasedUpdateDriver.m"
    " _abortUpdateWithError:showErrorToUser: (showUpdaterError:, acknowledgement dispatched);"
    " SPUUpdater.m checkForUpdatesWithDriver:... completion",
    calls::kUserError};
inline constexpr Segment kUserAbort{
    "abort without error (user-initiated)",
    "SPUUserInitiatedUpdateDriver.m cancellation of showUserInitiatedUpdateCheckWithCancellation:"
    " (dispatched; only while the feed loads), abortUpdate; SPUUIBasedUpdateDriver.m skip reply;"
    " SPUCoreBasedUpdateDriver.m finishInstallationWithResponse: (skip: SPUInstallerDriver.m"
    " cancelUpdate); SPUUpdater.m completion (no error: no abort)",
    calls::kUserAbort};
inline constexpr Segment kUserCancelDownload{
    "download cancelled",
    "SPUUIBasedUpdateDriver.m downloadDriverWillBeginDownload (cancellation block, dispatched);"
    " SPUUserInitiatedUpdateDriver.m abortUpdateWithError: (no error); SPUUpdater.m completion",
    calls::kUserCancelDownload};
// The automatic driver calls none of the user driver's download or extraction methods.
inline constexpr Segment kBackgroundDownload{
    "silent download",
    "SPUAutomaticUpdateDriver.m basicDriverDidFindUpdateWithAppcastItem:...;"
    " SPUCoreBasedUpdateDriver.m downloadUpdateFromAppcastItem:... (the automatic driver"
    " implements no download or extraction progress)",
    calls::kBackgroundDownload};
// Answering true keeps the session running until the application quits or the block is run.
inline constexpr Segment kInstallOnQuit{
    "install on quit",
    "SPUAutomaticUpdateDriver.m installerDidFinishPreparationAndWillInstallImmediately:silently:",
    calls::kInstallOnQuit};
// Installs without a word to the user driver; the installer then terminates the application.
inline constexpr Segment kSilentInstall{
    "silent install",
    "SPUAutomaticUpdateDriver.m immediate installation block; SPUCoreBasedUpdateDriver.m"
    " finishInstallationWithResponse:displayingUserInterface: (NO); the automatic driver"
    " implements no installerDidStartInstallingWithApplicationTerminated:",
    calls::kSilentInstall};
inline constexpr Segment kBackgroundNotFound{
    "no update (background)",
    "SPUBasicUpdateDriver.m didNotFindUpdateWithLatestAppcastItem:...; SPUAutomaticUpdateDriver.m"
    " abortUpdateWithError:; SPUUpdater.m checkForUpdatesWithDriver:... completion",
    calls::kBackgroundNotFound};
inline constexpr Segment kBackgroundError{
    "error (background)",
    "SPUAutomaticUpdateDriver.m abortUpdateWithError: (nothing shown); SPUUpdater.m"
    " checkForUpdatesWithDriver:... completion",
    calls::kBackgroundError};
// Reached only when the delegate declines to install on quit, which QuorvelUpdater never does;
// no flow of ours passes here.
inline constexpr Segment kBackgroundEnd{
    "end without error (background)",
    "SPUAutomaticUpdateDriver.m installerDidFinishPreparationAndWillInstallImmediately:silently:"
    " (not handled), abortUpdate; SPUUpdater.m completion",
    calls::kBackgroundEnd};

// --- flows ------------------------------------------------------------------------------------

namespace segments {
inline constexpr const Segment* kPermissionRequest[] = {&kStartUpdater, &kPermission,
                                                        &kPermissionAnswered, &kSchedule};
inline constexpr const Segment* kUserNoUpdate[] = {&kCheckBegins, &kUserFeedCheck, &kFeedLoaded,
                                                   &kUserNotFound, &kSchedule};
inline constexpr const Segment* kUserInstall[] = {
    &kCheckBegins, &kUserFeedCheck,  &kFeedLoaded, &kProceed,   &kValidUpdate, &kOffer,
    &kDownload,    &kExpectedLength, &kChunk,      &kChunk,     &kExtract,     &kExtractionProgress,
    &kReady,       &kFocus,          &kJsInstall,  &kInstalling};
inline constexpr const Segment* kBackgroundInstallOnQuit[] = {
    &kCheckBegins,        &kBackgroundFeedCheck, &kFeedLoaded,   &kProceed,   &kValidUpdate,
    &kBackgroundDownload, &kInstallOnQuit,       &kCheckIgnored, &kJsInstall, &kSilentInstall};
inline constexpr const Segment* kBackgroundNoUpdate[] = {
    &kCheckBegins, &kBackgroundFeedCheck, &kFeedLoaded, &kBackgroundNotFound, &kSchedule};
inline constexpr const Segment* kFeedError[] = {&kCheckBegins, &kUserFeedCheck, &kUserError,
                                                &kSchedule};
inline constexpr const Segment* kBackgroundFeedError[] = {&kCheckBegins, &kBackgroundFeedCheck,
                                                          &kBackgroundError, &kSchedule};
inline constexpr const Segment* kNoFeed[] = {&kCheckBegins, &kUserError};
inline constexpr const Segment* kRefused[] = {&kCheckBegins, &kUserFeedCheck, &kFeedLoaded,
                                              &kProceed,     &kUserError,     &kSchedule};
inline constexpr const Segment* kDownloadError[] = {
    &kCheckBegins, &kUserFeedCheck,  &kFeedLoaded, &kProceed,   &kValidUpdate, &kOffer,
    &kDownload,    &kExpectedLength, &kChunk,      &kUserError, &kSchedule};
inline constexpr const Segment* kExtractionError[] = {
    &kCheckBegins, &kUserFeedCheck,  &kFeedLoaded, &kProceed, &kValidUpdate, &kOffer,
    &kDownload,    &kExpectedLength, &kChunk,      &kExtract, &kUserError,   &kSchedule};
inline constexpr const Segment* kValidationError[] = {
    &kCheckBegins, &kUserFeedCheck,  &kFeedLoaded, &kProceed, &kValidUpdate,        &kOffer,
    &kDownload,    &kExpectedLength, &kChunk,      &kExtract, &kExtractionProgress, &kUserError,
    &kSchedule};
inline constexpr const Segment* kCancelCheck[] = {&kCheckBegins, &kUserFeedCheck, &kJsCancel,
                                                  &kUserAbort, &kSchedule};
inline constexpr const Segment* kCancelDownload[] = {
    &kCheckBegins, &kUserFeedCheck,  &kFeedLoaded, &kProceed,  &kValidUpdate,        &kOffer,
    &kDownload,    &kExpectedLength, &kChunk,      &kJsCancel, &kUserCancelDownload, &kSchedule};
inline constexpr const Segment* kReplaceAtReady[] = {
    &kCheckBegins, &kUserFeedCheck,  &kFeedLoaded, &kProceed, &kValidUpdate, &kOffer,
    &kDownload,    &kExpectedLength, &kChunk,      &kChunk,   &kExtract,     &kExtractionProgress,
    &kReady,       &kJsReplace,      &kUserAbort,  &kSchedule};
inline constexpr const Segment* kResumeStaged[] = {&kCheckBegins, &kResumeFound, &kOffer,
                                                   &kJsInstall, &kInstalling};
}  // namespace segments

// Built through these so that each flow names only what it needs.
constexpr ErrorShape Error(int64_t code, int64_t cause = 0, int64_t innerCause = 0,
                           bool foreignCause = false) {
  ErrorShape error;
  error.code = code;
  error.cause = cause;
  error.innerCause = innerCause;
  error.foreignCause = foreignCause;
  return error;
}
constexpr ErrorShape NoUpdate(int64_t reason) {
  ErrorShape error = Error(1001);
  error.noUpdateReason = reason;
  return error;
}
constexpr Flow MakeFlow(std::string_view name, std::span<const Segment* const> segments,
                        ErrorShape error = {}, std::string_view note = {}, int64_t stage = 0,
                        bool standIn = true) {
  Flow flow;
  flow.name = name;
  flow.segments = segments;
  flow.error = error;
  flow.stage = stage;
  flow.standIn = standIn;
  flow.note = note;
  return flow;
}

inline constexpr Flow kFlows[] = {
    MakeFlow("permission request", segments::kPermissionRequest),
    MakeFlow("user-initiated check, no update", segments::kUserNoUpdate, NoUpdate(1)),
    MakeFlow("user-initiated check, update downloaded, extracted, ready and installed",
             segments::kUserInstall),
    MakeFlow("background check, silent download, install on quit",
             segments::kBackgroundInstallOnQuit, {},
             "with automatic downloads on; otherwise a background check runs the user-initiated"
             " driver's order without showUserInitiatedUpdateCheckWithCancellation: and shows"
             " errors only once an update was shown"),
    MakeFlow("background check, no update", segments::kBackgroundNoUpdate, NoUpdate(1)),
    MakeFlow("feed error", segments::kFeedError, Error(2001, -1004, 0, true),
             "SUAppcastDriver.m downloadDriverDidFailToDownloadFileWithError: reports a feed"
             " that cannot be fetched as SUDownloadError; one that cannot be parsed as"
             " SUAppcastParseError (1000) in the same order"),
    MakeFlow("background check, feed error", segments::kBackgroundFeedError,
             Error(2001, -1004, 0, true)),
    MakeFlow("no feed configured", segments::kNoFeed, Error(4),
             "SPUUpdater.m checkForUpdatesWithDriver:... abortUpdateDriver (no next check is"
             " scheduled)"),
    MakeFlow("update refused by the proceed question", segments::kRefused, Error(3002)),
    MakeFlow("download error", segments::kDownloadError, Error(2001, -1005, 0, true),
             "SPUCoreBasedUpdateDriver.m downloadDriverDidFailToDownloadFileWithError:"
             " (delegate updater:failedToDownloadUpdate:error: is not ours)"),
    MakeFlow("extraction error", segments::kExtractionError, Error(3000, 3000),
             "SPUInstallerDriver.m _reportInstallerError:genericErrorCode:genericUserInfo:"
             " (SPUArchiveExtractionFailed; the generic SUUnarchivingError wraps the"
             " installer's)"),
    MakeFlow("validation error after extraction", segments::kValidationError,
             Error(4005, 4005, 3002),
             "SPUInstallerDriver.m setUpConnection invalidation handler,"
             " _reportInstallerError:... (an underlying SUValidationError becomes"
             " SUInstallationError over the installer's error); the stand-in verifies no"
             " signatures",
             0, false),
    MakeFlow("cancel during the check", segments::kCancelCheck),
    MakeFlow("cancel during the download", segments::kCancelDownload),
    MakeFlow("replace at ready", segments::kReplaceAtReady),
    MakeFlow("staged update resumed in stage 2", segments::kResumeStaged, {},
             "the installer must still wait from an earlier session, which takes a dismiss at"
             " ready or declining to install on quit: QuorvelUpdater gives neither answer, so"
             " the stand-in never stages an update",
             2, false),
};

}  // namespace qv::updater::orders
