// A stand-in for the update framework on systems without it: it loads the feed, asks the
// delegate, drives the user driver through the framework's usual sequence and honours the
// answers. Downloads are counted, not kept; installing only reports that it has begun.
#pragma once

#include <node_api.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "macos/updater/framework.h"
#include "macos/updater/linux/main_loop.h"

namespace qv::updater::standin {

struct Host {
  std::string applicationVersion;  // the running application's version
  std::string systemVersion;       // the running system's version
};

// Error codes of the framework the stand-in reports beyond those the core names.
enum StandInErrorCode : int64_t {
  kInvalidFeedURLError = 4,
  kAppcastParseError = 1000,
  kAppcastError = 1002,
  kDownloadError = 2001,
};

class StandInUpdater final : public FrameworkUpdater {
 public:
  StandInUpdater(napi_env env, UpdaterClient& client, Host host);
  ~StandInUpdater() override;
  StandInUpdater(const StandInUpdater&) = delete;
  StandInUpdater& operator=(const StandInUpdater&) = delete;

  qv::Status<FrameworkError> startUpdater() override;
  void checkForUpdates() override;
  void checkForUpdatesInBackground() override;
  bool automaticallyChecksForUpdates() const override { return automatic_; }
  bool sessionInProgress() const override { return session_; }
  void observeSessionInProgress() override { observing_ = true; }
  void stopObservingSessionInProgress() override { observing_ = false; }
  void dispatchAfter(uint64_t nanoseconds, std::function<void()> block) override;
  void setEventFlush(const std::function<void()>& flush) override { eventFlush_ = flush; }

 private:
  enum class Phase { kIdle, kPermission, kChecking, kOffered, kDownloading, kReady };
  struct Job {
    std::atomic<bool> cancelled{false};
    std::thread thread;
  };

  void beginSession(UpdateCheck check);
  void loadFeed();
  void feedLoaded(const std::string& body);
  void offer(const AppcastItem& item);
  void choiceMade(int64_t choice);
  void download();
  void downloadFinished(bool ok);
  void install();
  void cancelSession(bool download);
  void noUpdate(int64_t reason, std::shared_ptr<const AppcastItem> latest);
  void abort(const FrameworkError& error);
  void endSession(const FrameworkError* error);
  void setSession(bool inProgress);
  void flushEvents();
  bool userInitiated() const { return check_ == UpdateCheck::kUpdates; }

  // Runs work on a thread of its own; results come back through post().
  std::shared_ptr<Job> startJob(std::function<void(Job&)> work);
  void finishJob(const std::shared_ptr<Job>& job);
  static void Teardown(void* self);

  napi_env env_;
  UpdaterClient& client_;
  Host host_;
  MainLoop loop_;
  bool tornDown_ = false;
  // Keeps the loop alive until the events queued so far are delivered (see FrameworkUpdater).
  std::function<void()> eventFlush_;

  bool automatic_ = true;
  bool permissionAnswered_ = false;
  bool session_ = false;
  bool observing_ = false;

  // The current session; replies and results of an earlier one carry an older generation.
  uint64_t generation_ = 0;
  Phase phase_ = Phase::kIdle;
  UpdateCheck check_ = UpdateCheck::kUpdates;
  std::string feedURL_;
  std::optional<AppcastItem> item_;
  int64_t offeredStage_ = 0;
  uint64_t downloaded_ = 0;
  std::shared_ptr<Job> job_;
  std::list<std::shared_ptr<Job>> jobs_;  // every job whose thread is not yet joined

  // Version of an update downloaded earlier and not installed: offered again in stage 2.
  std::optional<std::string> staged_;
};

}  // namespace qv::updater::standin
