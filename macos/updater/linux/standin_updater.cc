#include "macos/updater/linux/standin_updater.h"

#include <utility>

#include "macos/updater/linux/appcast.h"
#include "macos/updater/linux/fetch.h"

namespace qv::updater {

namespace standin {

namespace {

FrameworkError MakeError(int64_t code, std::string description) {
  FrameworkError error;
  error.domain = kSparkleErrorDomain;
  error.code = code;
  error.description = std::move(description);
  return error;
}

constexpr size_t kMaxFeedBytes = 16 * 1024 * 1024;

std::optional<std::string> Property(const AppcastItem& item, const std::string& key) {
  const auto it = item.propertiesDictionary.find(key);
  if (it == item.propertiesDictionary.end()) return std::nullopt;
  const std::string* text = std::get_if<std::string>(&it->second);
  return text ? std::optional<std::string>(*text) : std::nullopt;
}

}  // namespace

bool StandInUpdater::current(const Ticket& ticket) const {
  thread_.assert_on_thread();
  return ticket.generation == generation_ && (!ticket.phase || phase_ == *ticket.phase);
}

// Made on any thread (a job's), called on the main thread: it reads the session only then.
template <class Work>
auto StandInUpdater::guarded(Ticket ticket, Work work) {
  return [this, ticket, work = std::move(work)](auto... args) {
    if (current(ticket)) work(args...);
  };
}

StandInUpdater::StandInUpdater(UpdaterClient& client, Host host, std::unique_ptr<MainQueue> queue)
    : client_(client), host_(std::move(host)), loop_(std::move(queue)) {
  // Runs while the queue can still take the jobs' last posts.
  loop_.setTeardown([this] { teardown(); });
}

StandInUpdater::~StandInUpdater() {
  if (!tornDown_) {
    loop_.setTeardown(nullptr);
    teardown();
  }
}

void StandInUpdater::teardown() {
  thread_.assert_on_thread();
  tornDown_ = true;
  for (const std::shared_ptr<Job>& job : jobs_) {
    job->cancelled = true;
    if (job->thread.joinable()) job->thread.join();
  }
  jobs_.clear();
  loop_.shutdown();
}

qv::Status<FrameworkError> StandInUpdater::startUpdater() {
  thread_.assert_on_thread();
  if (started_) return qv::kOk;
  // The framework refuses a host it cannot compare versions for; a missing feed only fails
  // each check.
  if (host_.applicationVersion.empty()) {
    return qv::Err{MakeError(kInvalidHostVersionError, "The application has no valid version.")};
  }
  started_ = true;
  // The update cycle starts a turn later, unless a check was asked for in the meantime.
  play(orders::kStartUpdater, std::make_shared<Args>(), [this] {
    if (!session_) startUpdateCycle();
  });
  return qv::kOk;
}

void StandInUpdater::checkForUpdates() {
  thread_.assert_on_thread();
  if (tornDown_ || !started_) return;
  if (showingPermission_ || showingUpdate_) {
    play(orders::kFocus, std::make_shared<Args>());
    return;
  }
  if (session_) return;  // the framework only logs this
  beginCheck(UpdateCheck::kUpdates);
}

void StandInUpdater::checkForUpdatesInBackground() {
  thread_.assert_on_thread();
  if (tornDown_ || !started_ || session_) return;
  beginCheck(UpdateCheck::kUpdatesInBackground);
}

void StandInUpdater::dispatchAfter(uint64_t nanoseconds, std::function<void()> block) {
  thread_.assert_on_thread();
  loop_.after(nanoseconds, std::move(block));
}

// The loop is held only while this framework works; when a piece of work ends, the events it
// queued must still reach JavaScript even if nothing else keeps the process running.
void StandInUpdater::flushEvents() {
  if (eventFlush_ && !tornDown_) eventFlush_();
}

void StandInUpdater::setSession(bool inProgress) {
  if (session_ == inProgress) return;
  session_ = inProgress;
  if (observing_) client_.sessionInProgressDidChange();
}

void StandInUpdater::nextTurn(std::function<void()> task) {
  if (tornDown_) return;
  loop_.hold();
  loop_.post([this, task = std::move(task)] {
    loop_.release();
    if (!tornDown_) task();
  });
}

void StandInUpdater::play(const orders::Segment& segment, const ArgsPtr& args,
                          const std::function<void()>& then) {
  playFrom(segment.calls, 0, args, then);
}

void StandInUpdater::playInSession(const orders::Segment& segment, const ArgsPtr& args,
                                   std::function<void()> then) {
  play(segment, args, guarded(ticket(), std::move(then)));
}

void StandInUpdater::playFrom(std::span<const orders::Call> calls, size_t index,
                              const ArgsPtr& args, const std::function<void()>& then) {
  thread_.assert_on_thread();
  using orders::Call;
  // The calls after the current one, to be made later.
  const auto rest = [&] {
    return [this, calls, next = index + 1, args, then] { playFrom(calls, next, args, then); };
  };
  for (; index < calls.size(); ++index) {
    if (tornDown_) return;
    switch (calls[index]) {
      case Call::kSessionBegins:
        setSession(true);
        break;
      case Call::kSessionEnds:
        sessionEnded();
        break;
      case Call::kNextTurn:
        nextTurn(rest());
        return;
      case Call::kShowUpdatePermissionRequest:
        client_.showUpdatePermissionRequestReply(args->permission);
        break;
      case Call::kShowUserInitiatedUpdateCheck:
        client_.showUserInitiatedUpdateCheckWithCancellation(args->cancellation);
        break;
      case Call::kShowUpdateFound:
        client_.showUpdateFoundWithAppcastItemStateReply(*args->item, args->state, args->choice);
        break;
      // The framework goes on once the user driver acknowledges.
      case Call::kShowUpdateNotFound:
        client_.showUpdateNotFoundWithErrorAcknowledgement(*args->error, Block(rest()));
        return;
      case Call::kShowUpdaterError:
        client_.showUpdaterErrorAcknowledgement(*args->error, Block(rest()));
        return;
      case Call::kShowDownloadInitiated:
        client_.showDownloadInitiatedWithCancellation(args->cancellation);
        break;
      case Call::kShowDownloadExpectedContentLength:
        client_.showDownloadDidReceiveExpectedContentLength(args->length);
        break;
      case Call::kShowDownloadDataOfLength:
        client_.showDownloadDidReceiveDataOfLength(args->length);
        break;
      case Call::kShowDownloadStartedExtracting:
        client_.showDownloadDidStartExtractingUpdate();
        break;
      case Call::kShowExtractionProgress:
        client_.showExtractionReceivedProgress(args->progress);
        break;
      case Call::kShowReadyToInstall:
        client_.showReadyToInstallAndRelaunch(args->choice);
        break;
      case Call::kShowInstalling:
        // Nothing is terminated here, so there is nothing to retry.
        client_.showInstallingUpdateWithApplicationTerminatedRetryTerminatingApplication(
            false, Block([] {}));
        break;
      case Call::kDismissUpdateInstallation:
        client_.dismissUpdateInstallation();
        break;
      case Call::kShowUpdateInFocus:
        client_.showUpdateInFocus();
        break;
      case Call::kFeedURLString:
        args->feed = client_.feedURLStringForUpdater();
        if (!args->feed) args->feed = platform::ConfiguredFeedURL();
        break;
      case Call::kDidFinishLoadingAppcast:
        client_.updaterDidFinishLoadingAppcast(*args->appcast);
        break;
      case Call::kShouldProceedWithUpdate:
        args->proceed = client_.updaterShouldProceedWithUpdateUpdateCheckError(*args->item, check_,
                                                                               &args->refusal);
        break;
      case Call::kDidFindValidUpdate:
        client_.updaterDidFindValidUpdate(*args->item);
        break;
      case Call::kDidNotFindUpdate:
        client_.updaterDidNotFindUpdateError(*args->error);
        break;
      case Call::kDidAbortWithError:
        if (args->error) client_.updaterDidAbortWithError(*args->error);
        break;
      case Call::kDidFinishUpdateCycle:
        client_.updaterDidFinishUpdateCycleForUpdateCheckError(
            check_, args->error ? &*args->error : nullptr);
        break;
      case Call::kWillDownloadUpdate:
        client_.updaterWillDownloadUpdateWithRequest(*args->item);
        break;
      case Call::kUserDidCancelDownload:
        client_.userDidCancelDownload();
        break;
      case Call::kWillInstallUpdateOnQuit:
        args->handled = client_.updaterWillInstallUpdateOnQuitImmediateInstallationBlock(
            *args->item, args->immediateInstallation);
        break;
      case Call::kJavaScriptCheck:
      case Call::kJavaScriptInstall:
      case Call::kJavaScriptReplace:
      case Call::kJavaScriptCancel:
        break;  // what JavaScript did to get here
    }
  }
  flushEvents();
  if (then && !tornDown_) then();
}

// Every process is taken for one whose user has never answered the permission question.
void StandInUpdater::startUpdateCycle() {
  if (permissionAnswered_) {
    scheduleNextCheck();
    return;
  }
  showingPermission_ = true;
  auto args = std::make_shared<Args>();
  args->permission = PermissionReply([this](PermissionResponse response) {
    if (!showingPermission_) return;
    play(orders::kPermissionAnswered, std::make_shared<Args>(), [this, response] {
      showingPermission_ = false;
      permissionAnswered_ = true;
      automatic_ = response.automaticUpdateChecks;
      scheduleNextCheck();
    });
  });
  play(orders::kPermission, args);
}

// No check is ever due: the last one is taken to be recent.
void StandInUpdater::scheduleNextCheck() {
  if (automatic_) play(orders::kSchedule, std::make_shared<Args>());
}

void StandInUpdater::beginCheck(UpdateCheck check) {
  ++generation_;
  check_ = check;
  phase_ = Phase::kChecking;
  item_.reset();
  auto args = std::make_shared<Args>();
  playInSession(orders::kCheckBegins, args, [this, args] {
    if (!args->feed || !platform::ParseUrl(*args->feed)) {
      // A configuration error: no next check is scheduled.
      end(userInitiated() ? orders::kUserError : orders::kBackgroundError,
          MakeError(kInvalidFeedURLError, "The feed URL is missing or not valid."), false);
      return;
    }
    // Only while the feed loads; afterwards the cancellation is ignored.
    args->cancellation = Block(
        guarded(ticket(Phase::kChecking), [this] { end(orders::kUserAbort, std::nullopt, true); }));
    play(userInitiated() ? orders::kUserFeedCheck : orders::kBackgroundFeedCheck, args,
         guarded(ticket(Phase::kChecking), [this, args] { loadFeed(*args->feed); }));
  });
}

void StandInUpdater::loadFeed(const std::string& url) {
  if (!FetchableURL(url)) {
    fail(MakeError(kDownloadError, "An error occurred in retrieving update information."));
    return;
  }
  feedURL_ = url;
  job_ = startJob([this, checking = ticket(Phase::kChecking), url](Job& job) {
    auto body = std::make_shared<std::string>();
    FetchHandlers handlers;
    handlers.data = [&](std::string_view chunk) {
      body->append(chunk);
      return body->size() <= kMaxFeedBytes;  // a feed is small; anything larger is refused
    };
    const qv::Status<FetchFailure> status = Fetch(url, job.cancelled, handlers, FeedLimits());
    const bool ok = status.ok();
    loop_.post(guarded(checking, [this, ok, body] {
      if (!ok) {
        // The framework reports a feed it cannot fetch with its download error.
        fail(MakeError(kDownloadError, "An error occurred in retrieving update information."));
      } else {
        feedLoaded(*body);
      }
    }));
  });
}

void StandInUpdater::feedLoaded(const std::string& body) {
  qv::Result<Appcast, std::string> parsed = ParseAppcast(body, feedURL_, host_.applicationVersion);
  if (!parsed) {
    fail(MakeError(kAppcastParseError, parsed.error()));
    return;
  }
  auto args = std::make_shared<Args>();
  args->appcast = std::move(*parsed);
  playInSession(orders::kFeedLoaded, args, [this, args] {
    phase_ = Phase::kFound;  // the check can no longer be cancelled
    const Appcast& appcast = *args->appcast;
    // The newest item overall, and the newest one this system can run.
    const AppcastItem* latest = nullptr;
    const AppcastItem* best = nullptr;
    const auto newer = [](const AppcastItem* a, const AppcastItem& b) {
      return !a || CompareVersions(*b.versionString, *a->versionString) > 0;
    };
    const auto minimumFits = [&](const AppcastItem& item) {
      return !item.minimumSystemVersion ||
             CompareVersions(*item.minimumSystemVersion, host_.systemVersion) <= 0;
    };
    const auto maximumFits = [&](const AppcastItem& item) {
      const std::optional<std::string> maximum = Property(item, "sparkle:maximumSystemVersion");
      return !maximum || CompareVersions(*maximum, host_.systemVersion) >= 0;
    };
    for (const AppcastItem& item : appcast.items) {
      if (newer(latest, item)) latest = &item;
      if (minimumFits(item) && maximumFits(item) && newer(best, item)) best = &item;
    }
    if (best && CompareVersions(*best->versionString, host_.applicationVersion) > 0) {
      offer(*best);
      return;
    }
    // An empty feed counts as being on the latest version.
    int64_t reason = kReasonOnLatestVersion;
    if (latest) {
      const int order = CompareVersions(*latest->versionString, host_.applicationVersion);
      if (order > 0) {
        reason = !minimumFits(*latest)   ? kReasonSystemIsTooOld
                 : !maximumFits(*latest) ? kReasonSystemIsTooNew
                                         : kReasonUnknown;
      } else {
        reason = order == 0 ? kReasonOnLatestVersion : kReasonOnNewerThanLatestVersion;
      }
    }
    noUpdate(reason, latest ? std::make_shared<AppcastItem>(*latest) : nullptr);
  });
}

void StandInUpdater::offer(const AppcastItem& item) {
  item_ = item;
  auto args = std::make_shared<Args>();
  args->item = item;
  playInSession(orders::kProceed, args, [this, args] {
    if (!args->proceed) {
      // A refusal without an error ends the session quietly.
      if (args->refusal.domain.empty()) {
        end(userInitiated() ? orders::kUserAbort : orders::kBackgroundEnd, std::nullopt, true);
      } else {
        fail(args->refusal);
      }
      return;
    }
    playInSession(orders::kValidUpdate, args, [this, args] {
      if (!userInitiated()) {
        download();
        return;
      }
      phase_ = Phase::kOffered;
      showingUpdate_ = true;
      args->state = UserUpdateState{.stage = 0, .userInitiated = true};
      args->choice = ChoiceReply(
          guarded(ticket(Phase::kOffered), [this](int64_t choice) { choiceMade(choice); }));
      play(orders::kOffer, args);
    });
  });
}

void StandInUpdater::choiceMade(int64_t choice) {
  if (choice == kChoiceInstall) {
    if (phase_ == Phase::kOffered) {
      download();
    } else {
      phase_ = Phase::kInstalling;  // the session runs on until the application would quit
      play(orders::kInstalling, std::make_shared<Args>());
    }
    return;
  }
  // Skipping or dismissing: an offer is dropped, a prepared installation cancelled.
  end(orders::kUserAbort, std::nullopt, true);
}

void StandInUpdater::download() {
  phase_ = Phase::kDownloading;
  downloaded_ = 0;
  const Ticket downloading = ticket(Phase::kDownloading);
  auto args = std::make_shared<Args>();
  args->item = item_;
  const bool visible = userInitiated();
  args->cancellation =
      Block(guarded(downloading, [this] { end(orders::kUserCancelDownload, std::nullopt, true); }));
  play(visible ? orders::kDownload : orders::kBackgroundDownload, args,
       guarded(downloading, [this, downloading, visible] {
         const std::string url = item_->fileURL.value_or("");
         job_ = startJob([this, downloading, url, visible](Job& job) {
           FetchHandlers handlers;
           handlers.expectedLength = [&](uint64_t length) {
             loop_.post(guarded(downloading, [this, length, visible] {
               if (!visible) return;
               auto step = std::make_shared<Args>();
               step->length = length;
               play(orders::kExpectedLength, step);
             }));
           };
           handlers.data = [&](std::string_view chunk) {
             loop_.post(guarded(downloading, [this, n = chunk.size(), visible] {
               downloaded_ += n;
               if (!visible) return;  // the silent driver shows no progress
               auto step = std::make_shared<Args>();
               step->length = n;
               play(orders::kChunk, step);
             }));
             return true;
           };
           const qv::Status<FetchFailure> status =
               Fetch(url, job.cancelled, handlers, ArchiveLimits());
           loop_.post(guarded(downloading, [this, ok = status.ok()] { downloadFinished(ok); }));
         });
       }));
}

void StandInUpdater::downloadFinished(bool ok) {
  if (!ok) {
    fail(MakeError(kDownloadError, "The update could not be downloaded."));
    return;
  }
  // Nothing to unpack is a failed extraction, reported over the unarchiver's own error.
  const auto extracted = [this]() -> std::optional<FrameworkError> {
    if (downloaded_ != 0) return std::nullopt;
    FrameworkError error = MakeError(kUnarchivingError, "An error occurred while extracting.");
    error.underlying = std::make_shared<FrameworkError>(
        MakeError(kUnarchivingError, "The update archive is empty."));
    return error;
  };
  if (!userInitiated()) {
    if (std::optional<FrameworkError> error = extracted()) {
      fail(*error);
    } else {
      installOnQuit();
    }
    return;
  }
  playInSession(orders::kExtract, std::make_shared<Args>(), [this, extracted] {
    if (std::optional<FrameworkError> error = extracted()) {
      fail(*error);
      return;
    }
    auto args = std::make_shared<Args>();
    args->progress = 1.0;
    playInSession(orders::kExtractionProgress, args, [this] { ready(); });
  });
}

void StandInUpdater::ready() {
  phase_ = Phase::kReady;
  auto args = std::make_shared<Args>();
  args->choice =
      ChoiceReply(guarded(ticket(Phase::kReady), [this](int64_t choice) { choiceMade(choice); }));
  play(orders::kReady, args);
}

void StandInUpdater::installOnQuit() {
  phase_ = Phase::kReady;
  auto args = std::make_shared<Args>();
  args->item = item_;
  args->immediateInstallation = Block(guarded(ticket(Phase::kReady), [this] {
    phase_ = Phase::kInstalling;
    play(orders::kSilentInstall, std::make_shared<Args>());
  }));
  playInSession(orders::kInstallOnQuit, args, [this, args] {
    if (!args->handled) end(orders::kBackgroundEnd, std::nullopt, true);
  });
}

void StandInUpdater::noUpdate(int64_t reason, std::shared_ptr<const AppcastItem> latest) {
  FrameworkError error = MakeError(kNoUpdateError, "You're up to date!");
  error.latestItem = std::move(latest);
  error.noUpdateReason = reason;
  end(userInitiated() ? orders::kUserNotFound : orders::kBackgroundNotFound, error, true);
}

void StandInUpdater::fail(const FrameworkError& error) {
  end(userInitiated() ? orders::kUserError : orders::kBackgroundError, error, true);
}

void StandInUpdater::end(const orders::Segment& ending, std::optional<FrameworkError> error,
                         bool schedule) {
  phase_ = Phase::kEnding;
  if (job_) job_->cancelled = true;
  auto args = std::make_shared<Args>();
  args->error = std::move(error);
  play(ending, args, [this, schedule] {
    if (schedule) scheduleNextCheck();
  });
}

void StandInUpdater::sessionEnded() {
  ++generation_;
  phase_ = Phase::kIdle;
  showingUpdate_ = false;
  if (job_) job_->cancelled = true;
  job_.reset();
  setSession(false);
}

std::shared_ptr<StandInUpdater::Job> StandInUpdater::startJob(std::function<void(Job&)> work) {
  auto job = std::make_shared<Job>();
  loop_.hold();
  jobs_.push_back(job);
  job->thread = std::thread([this, job, work = std::move(work)] {
    work(*job);
    loop_.post([this, job] { finishJob(job); });
  });
  return job;
}

void StandInUpdater::finishJob(const std::shared_ptr<Job>& job) {
  if (job->thread.joinable()) job->thread.join();
  jobs_.remove(job);
  flushEvents();  // before the hold goes, so the loop is never left without one
  loop_.release();
}

}  // namespace standin

namespace platform {

std::unique_ptr<FrameworkUpdater> CreateFrameworkUpdater(UpdaterClient& client,
                                                         const MainQueueFactory& makeMainQueue) {
  return std::make_unique<standin::StandInUpdater>(
      client,
      standin::Host{QV_UPDATER_STANDIN_APPLICATION_VERSION, QV_UPDATER_STANDIN_SYSTEM_VERSION},
      makeMainQueue());
}

}  // namespace platform

}  // namespace qv::updater
