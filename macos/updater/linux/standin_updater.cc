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

StandInUpdater::StandInUpdater(napi_env env, UpdaterClient& client, Host host)
    : env_(env), client_(client), host_(std::move(host)), loop_(env) {
  // Added after the loop's channel exists, so it runs before the runtime closes that channel.
  napi_add_env_cleanup_hook(env_, &StandInUpdater::Teardown, this);
}

StandInUpdater::~StandInUpdater() {
  if (!tornDown_) {
    napi_remove_env_cleanup_hook(env_, &StandInUpdater::Teardown, this);
    Teardown(this);
  }
}

void StandInUpdater::Teardown(void* self) {
  auto* updater = static_cast<StandInUpdater*>(self);
  updater->tornDown_ = true;
  for (const std::shared_ptr<Job>& job : updater->jobs_) {
    job->cancelled = true;
    if (job->thread.joinable()) job->thread.join();
  }
  updater->jobs_.clear();
  updater->loop_.shutdown();
}

qv::Status<FrameworkError> StandInUpdater::startUpdater() {
  if (!client_.feedURLStringForUpdater() && !platform::ConfiguredFeedURL()) {
    return qv::Err{MakeError(kInvalidFeedURLError, "No feed URL is configured.")};
  }
  return qv::kOk;
}

void StandInUpdater::checkForUpdates() {
  beginSession(UpdateCheck::kUpdates);
}

void StandInUpdater::checkForUpdatesInBackground() {
  beginSession(UpdateCheck::kUpdatesInBackground);
}

void StandInUpdater::dispatchAfter(uint64_t nanoseconds, std::function<void()> block) {
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

void StandInUpdater::beginSession(UpdateCheck check) {
  if (tornDown_) return;
  if (session_) {
    // An update on offer is brought forward instead of starting another session.
    if (phase_ == Phase::kOffered || phase_ == Phase::kReady) client_.showUpdateInFocus();
    return;
  }
  ++generation_;
  check_ = check;
  item_.reset();
  setSession(true);
  if (!userInitiated() && !permissionAnswered_) {
    phase_ = Phase::kPermission;
    const uint64_t generation = generation_;
    client_.showUpdatePermissionRequestReply(
        PermissionReply([this, generation](PermissionResponse response) {
          if (generation != generation_ || phase_ != Phase::kPermission) return;
          permissionAnswered_ = true;
          automatic_ = response.automaticUpdateChecks;
          if (automatic_) {
            loadFeed();
          } else {
            endSession(nullptr);
          }
        }));
    return;
  }
  loadFeed();
}

void StandInUpdater::loadFeed() {
  std::optional<std::string> feed = client_.feedURLStringForUpdater();
  if (!feed) feed = platform::ConfiguredFeedURL();
  if (!feed || !FetchableURL(*feed)) {
    abort(MakeError(kInvalidFeedURLError, "The feed URL is missing or not supported."));
    return;
  }
  feedURL_ = *feed;
  phase_ = Phase::kChecking;
  const uint64_t generation = generation_;
  if (userInitiated()) {
    client_.showUserInitiatedUpdateCheckWithCancellation(Block([this, generation] {
      if (generation == generation_ && phase_ == Phase::kChecking) cancelSession(false);
    }));
    if (generation != generation_) return;  // cancelled from within
  }
  job_ = startJob([this, generation, url = feedURL_](Job& job) {
    auto body = std::make_shared<std::string>();
    FetchHandlers handlers;
    handlers.data = [&](std::string_view chunk) {
      body->append(chunk);
      return body->size() <= kMaxFeedBytes;  // a feed is small; anything larger is refused
    };
    const qv::Status<FetchFailure> status = Fetch(url, job.cancelled, handlers, FeedLimits());
    const bool ok = status.ok();
    loop_.post([this, generation, ok, body] {
      if (generation != generation_ || phase_ != Phase::kChecking) return;
      if (!ok) {
        abort(MakeError(kAppcastError, "The feed could not be loaded."));
      } else {
        feedLoaded(*body);
      }
    });
  });
}

void StandInUpdater::feedLoaded(const std::string& body) {
  qv::Result<Appcast, std::string> parsed = ParseAppcast(body, feedURL_, host_.applicationVersion);
  if (!parsed) {
    abort(MakeError(kAppcastParseError, parsed.error()));
    return;
  }
  const Appcast& appcast = *parsed;
  const uint64_t generation = generation_;
  client_.updaterDidFinishLoadingAppcast(appcast);
  if (generation != generation_) return;

  // The newest item overall, and the newest one this system can run.
  const AppcastItem* latest = nullptr;
  const AppcastItem* best = nullptr;
  const auto newer = [](const AppcastItem* a, const AppcastItem& b) {
    return !a || CompareVersions(*b.versionString, *a->versionString) > 0;
  };
  const auto fits = [&](const AppcastItem& item) {
    const std::optional<std::string> maximum = Property(item, "sparkle:maximumSystemVersion");
    return (!item.minimumSystemVersion ||
            CompareVersions(*item.minimumSystemVersion, host_.systemVersion) <= 0) &&
           (!maximum || CompareVersions(*maximum, host_.systemVersion) >= 0);
  };
  for (const AppcastItem& item : appcast.items) {
    if (newer(latest, item)) latest = &item;
    if (fits(item) && newer(best, item)) best = &item;
  }
  if (best && CompareVersions(*best->versionString, host_.applicationVersion) > 0) {
    offer(*best);
    return;
  }
  int64_t reason = kReasonUnknown;
  if (latest) {
    const int order = CompareVersions(*latest->versionString, host_.applicationVersion);
    if (order > 0) {
      const bool tooOld = latest->minimumSystemVersion &&
                          CompareVersions(*latest->minimumSystemVersion, host_.systemVersion) > 0;
      reason = tooOld ? kReasonSystemIsTooOld : kReasonSystemIsTooNew;
    } else {
      reason = order == 0 ? kReasonOnLatestVersion : kReasonOnNewerThanLatestVersion;
    }
  }
  noUpdate(reason, latest ? std::make_shared<AppcastItem>(*latest) : nullptr);
}

void StandInUpdater::offer(const AppcastItem& item) {
  const uint64_t generation = generation_;
  FrameworkError refusal;
  if (!client_.updaterShouldProceedWithUpdateUpdateCheckError(item, check_, &refusal)) {
    if (generation != generation_) return;
    if (refusal.domain.empty()) refusal = MakeError(kValidationError, "The update was refused.");
    abort(refusal);
    return;
  }
  if (generation != generation_) return;
  item_ = item;
  client_.updaterDidFindValidUpdate(item);
  if (generation != generation_) return;
  offeredStage_ = staged_ && *staged_ == *item.versionString ? 2 : 0;
  phase_ = Phase::kOffered;
  client_.showUpdateFoundWithAppcastItemStateReply(
      item, UserUpdateState{.stage = offeredStage_, .userInitiated = userInitiated()},
      ChoiceReply([this, generation](int64_t choice) {
        if (generation == generation_ && phase_ == Phase::kOffered) choiceMade(choice);
      }));
}

void StandInUpdater::choiceMade(int64_t choice) {
  if (choice != kChoiceInstall) {
    client_.dismissUpdateInstallation();
    endSession(nullptr);
  } else if (phase_ == Phase::kOffered && offeredStage_ == 0) {
    download();
  } else {
    install();
  }
}

void StandInUpdater::download() {
  phase_ = Phase::kDownloading;
  downloaded_ = 0;
  const uint64_t generation = generation_;
  client_.updaterWillDownloadUpdateWithRequest(*item_);
  if (generation != generation_) return;
  client_.showDownloadInitiatedWithCancellation(Block([this, generation] {
    if (generation == generation_ && phase_ == Phase::kDownloading) cancelSession(true);
  }));
  if (generation != generation_) return;
  const std::string url = item_->fileURL.value_or("");
  job_ = startJob([this, generation, url](Job& job) {
    const auto live = [this, generation] {
      return generation == generation_ && phase_ == Phase::kDownloading;
    };
    FetchHandlers handlers;
    handlers.expectedLength = [&](uint64_t length) {
      loop_.post([this, live, length] {
        if (live()) client_.showDownloadDidReceiveExpectedContentLength(length);
      });
    };
    handlers.data = [&](std::string_view chunk) {
      loop_.post([this, live, n = chunk.size()] {
        if (!live()) return;
        downloaded_ += n;
        client_.showDownloadDidReceiveDataOfLength(n);
      });
      return true;
    };
    const qv::Status<FetchFailure> status = Fetch(url, job.cancelled, handlers, ArchiveLimits());
    loop_.post([this, live, ok = status.ok()] {
      if (live()) downloadFinished(ok);
    });
  });
}

void StandInUpdater::downloadFinished(bool ok) {
  if (!ok) {
    abort(MakeError(kDownloadError, "The update could not be downloaded."));
    return;
  }
  const uint64_t generation = generation_;
  client_.showDownloadDidStartExtractingUpdate();
  if (generation != generation_) return;
  if (downloaded_ == 0) {
    abort(MakeError(kUnarchivingError, "The update archive is empty."));
    return;
  }
  client_.showExtractionReceivedProgress(1.0);
  if (generation != generation_) return;
  staged_ = item_->versionString;
  phase_ = Phase::kReady;
  client_.showReadyToInstallAndRelaunch(ChoiceReply([this, generation](int64_t choice) {
    if (generation == generation_ && phase_ == Phase::kReady) choiceMade(choice);
  }));
}

void StandInUpdater::install() {
  // Nothing is replaced on this system; the session ends once installation is reported.
  staged_.reset();
  client_.showInstallingUpdateWithApplicationTerminatedRetryTerminatingApplication(false,
                                                                                   Block([] {}));
  endSession(nullptr);
}

void StandInUpdater::cancelSession(bool download) {
  if (job_) job_->cancelled = true;
  if (download) client_.userDidCancelDownload();
  client_.dismissUpdateInstallation();
  endSession(nullptr);
}

void StandInUpdater::noUpdate(int64_t reason, std::shared_ptr<const AppcastItem> latest) {
  FrameworkError error = MakeError(kNoUpdateError, "You're up to date!");
  error.latestItem = std::move(latest);
  error.noUpdateReason = reason;
  const uint64_t generation = generation_;
  client_.updaterDidNotFindUpdateError(error);
  if (generation != generation_) return;
  if (userInitiated()) client_.showUpdateNotFoundWithErrorAcknowledgement(error, Block([] {}));
  if (generation != generation_) return;
  client_.dismissUpdateInstallation();
  client_.updaterDidAbortWithError(error);
  endSession(&error);
}

void StandInUpdater::abort(const FrameworkError& error) {
  const uint64_t generation = generation_;
  if (userInitiated()) client_.showUpdaterErrorAcknowledgement(error, Block([] {}));
  if (generation != generation_) return;
  client_.dismissUpdateInstallation();
  client_.updaterDidAbortWithError(error);
  endSession(&error);
}

void StandInUpdater::endSession(const FrameworkError* error) {
  ++generation_;
  phase_ = Phase::kIdle;
  if (job_) job_->cancelled = true;
  job_.reset();
  client_.updaterDidFinishUpdateCycleForUpdateCheckError(check_, error);
  setSession(false);
  flushEvents();
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

std::unique_ptr<FrameworkUpdater> CreateFrameworkUpdater(napi_env env, UpdaterClient& client) {
  return std::make_unique<standin::StandInUpdater>(
      env, client,
      standin::Host{QV_UPDATER_STANDIN_APPLICATION_VERSION, QV_UPDATER_STANDIN_SYSTEM_VERSION});
}

}  // namespace platform

}  // namespace qv::updater
