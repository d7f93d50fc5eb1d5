// QuorvelUpdater: the update framework's user driver and delegate. It shows no interface of its
// own; it turns the framework's callbacks into JSON events, answers the framework where no user
// decision is wanted, parks the replies that JavaScript decides, defers checks while a session
// runs, and vets where archives come from. Main thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "macos/updater/archive_rule.h"
#include "macos/updater/framework.h"
#include "macos/updater/json.h"
#include "qv/thread_affinity.h"

namespace qv::updater {

// Percent of a download for the "downloading" event: received * 100 / expected, truncated and
// capped at 99; nullopt while the expected length is unknown (0).
std::optional<uint64_t> DownloadPercent(uint64_t received, uint64_t expected);

class QuorvelUpdater final : public UpdaterClient {
 public:
  // Queues one event text for JavaScript; answers whether it was queued.
  using EventChannel = std::function<bool(std::string text)>;

  explicit QuorvelUpdater(Vendor vendor = BuildVendor()) : vendor_(std::move(vendor)) {}

  // The object's properties.
  std::unique_ptr<FrameworkUpdater> updater;
  std::optional<std::string> feed;
  Block installHandler;
  Block skipHandler;
  std::optional<std::string> replacedVersion;
  int64_t replaceAttempts = 0;
  Block cancelHandler;
  EventChannel events;
  uint64_t expected = 0;
  uint64_t received = 0;
  bool disposed = false;
  bool pendingCheck = false;
  bool feedArchivesAllowed = false;
  std::optional<Json> releaseInfo;

  // Where trace lines go.
  std::FILE* traceStream = stderr;

  // Builds the framework updater that calls this object back.
  using FrameworkFactory = std::function<std::unique_ptr<FrameworkUpdater>(QuorvelUpdater&)>;

  // The JavaScript functions' decisions; the binding only converts arguments and results.
  // "start" after its entry checks: keeps a non-empty feed and the channel, creates the framework
  // updater, observes its session and starts it. A framework that fails to start is reported as
  // an event, never as a result.
  void start(std::string feedText, EventChannel channel, const FrameworkFactory& makeFramework,
             bool checkNow);
  // "check": deferred while a session runs and no install answer is parked.
  void check();
  // "install": false, changing nothing, when no install answer is parked.
  bool install();
  // "replace": false, with no trace, when no skip answer is parked; otherwise the skip answer is
  // given after the bookkeeping for the fresh check is done.
  bool replace();
  // "cancel": gives the parked cancellation, if any, once.
  void cancel();
  // "dispose": stops observing the session (once) and silences events. The channel's own
  // handle belongs to whoever made it and is released by them after this call.
  void dispose();
  // The channel is going away with the JavaScript environment while the framework may still
  // call back (a reply already queued on the main queue): drops this object's copy of it, so
  // later events are dropped. Nothing else changes; the framework's replies are still answered.
  void detachEvents();

  void traceCode(std::string_view label, int64_t code);
  void emit(const Json& event);
  void waitFor(const ChoiceReply& reply);
  void fail(const FrameworkError* error);
  Json releaseFor(const AppcastItem& item) const;
  bool allowsAs(const std::optional<std::string>& url, std::string_view extension) const;

  // User driver.
  void showUpdatePermissionRequestReply(PermissionReply reply) override;
  void showUserInitiatedUpdateCheckWithCancellation(Block cancellation) override;
  void showUpdateFoundWithAppcastItemStateReply(const AppcastItem& item, UserUpdateState state,
                                                ChoiceReply reply) override;
  void showUpdateReleaseNotesWithDownloadData(std::string_view data) override;
  void showUpdateReleaseNotesFailedToDownloadWithError(const FrameworkError& error) override;
  void showUpdateNotFoundWithErrorAcknowledgement(const FrameworkError& error,
                                                  Block acknowledgement) override;
  void showUpdaterErrorAcknowledgement(const FrameworkError& error, Block acknowledgement) override;
  void showDownloadInitiatedWithCancellation(Block cancellation) override;
  void showDownloadDidReceiveExpectedContentLength(uint64_t expectedContentLength) override;
  void showDownloadDidReceiveDataOfLength(uint64_t length) override;
  void showDownloadDidStartExtractingUpdate() override;
  void showExtractionReceivedProgress(double progress) override;
  void showReadyToInstallAndRelaunch(ChoiceReply reply) override;
  void showInstallingUpdateWithApplicationTerminatedRetryTerminatingApplication(
      bool applicationTerminated, Block retryTerminatingApplication) override;
  void showUpdateInstalledAndRelaunchedAcknowledgement(bool relaunched,
                                                       Block acknowledgement) override;
  void dismissUpdateInstallation() override;
  void showUpdateInFocus() override;

  // Delegate.
  std::optional<std::string> feedURLStringForUpdater() override;
  bool updaterShouldDownloadReleaseNotesForUpdate(const AppcastItem& item) override;
  void updaterDidFinishLoadingAppcast(const Appcast& appcast) override;
  bool updaterShouldProceedWithUpdateUpdateCheckError(const AppcastItem& item,
                                                      UpdateCheck updateCheck,
                                                      FrameworkError* error) override;
  void updaterDidFindValidUpdate(const AppcastItem& item) override;
  void updaterDidNotFindUpdateError(const FrameworkError& error) override;
  void updaterDidAbortWithError(const FrameworkError& error) override;
  void updaterDidFinishUpdateCycleForUpdateCheckError(UpdateCheck updateCheck,
                                                      const FrameworkError* error) override;
  void updaterWillDownloadUpdateWithRequest(const AppcastItem& item) override;
  void userDidCancelDownload() override;
  bool updaterWillInstallUpdateOnQuitImmediateInstallationBlock(
      const AppcastItem& item, Block immediateInstallation) override;

  void sessionInProgressDidChange() override;

 private:
  bool sessionInProgress() const { return updater && updater->sessionInProgress(); }
  bool deferredCheckDue() const { return pendingCheck && !disposed && !sessionInProgress(); }

  Vendor vendor_;
  qv::ThreadAffinity thread_;  // the main thread, which makes the updater
};

}  // namespace qv::updater
