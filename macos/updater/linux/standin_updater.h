// A stand-in for the update framework on systems without it: it loads the feed, asks the
// delegate, and calls the user driver and the delegate back by playing the framework's own
// orders (framework_orders.h), honouring the answers. A user-initiated check runs the framework's
// user-initiated driver; a background check its automatic driver (downloads in silence and waits
// to install on quit). Downloads are counted, not kept; installing only reports that it has
// begun, after which the real framework would terminate the application, so the session is left
// running. No installer outlives a session, so no update is ever offered as staged.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "macos/updater/framework.h"
#include "macos/updater/framework_orders.h"
#include "macos/updater/linux/main_loop.h"
#include "macos/updater/platform.h"
#include "qv/thread_affinity.h"

namespace qv::updater::standin {

struct Host {
  std::string applicationVersion;  // the running application's version
  std::string systemVersion;       // the running system's version
};

// Error codes of the framework the stand-in reports beyond those the core names.
enum StandInErrorCode : int64_t {
  kInvalidFeedURLError = 4,
  kInvalidHostVersionError = 7,
  kAppcastParseError = 1000,
  kDownloadError = 2001,
};

class StandInUpdater final : public FrameworkUpdater {
 public:
  // Main thread. The framework works on the main thread through queue.
  StandInUpdater(UpdaterClient& client, Host host, std::unique_ptr<MainQueue> queue);
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
  enum class Phase {
    kIdle,
    kChecking,
    kFound,
    kOffered,
    kDownloading,
    kReady,
    kInstalling,
    kEnding
  };
  struct Job {
    std::atomic<bool> cancelled{false};
    std::thread thread;
  };
  // The arguments of the calls a segment makes, and what the client answers to them.
  struct Args {
    std::optional<AppcastItem> item;
    std::optional<Appcast> appcast;
    UserUpdateState state;
    std::optional<FrameworkError> error;
    ChoiceReply choice;
    Block cancellation;
    PermissionReply permission;
    Block immediateInstallation;
    uint64_t length = 0;
    double progress = 0;
    // Answers.
    std::optional<std::string> feed;
    bool proceed = true;
    FrameworkError refusal;
    bool handled = false;
  };
  using ArgsPtr = std::shared_ptr<Args>;

  // The session, and when named its phase, that a reply or a result belongs to. Taken on the main
  // thread when the work that answers is set going.
  struct Ticket {
    uint64_t generation = 0;
    std::optional<Phase> phase;
  };
  Ticket ticket(std::optional<Phase> phase = std::nullopt) const { return {generation_, phase}; }
  // Whether the ticket's session is still the current one (in its phase): replies and results of
  // an earlier session, or of a phase already left, are ignored.
  bool current(const Ticket& ticket) const;
  // work, made to do nothing when called once its ticket is no longer current.
  template <class Work>
  auto guarded(Ticket ticket, Work work);

  // Makes the segment's calls in order; a later turn of the loop, or an acknowledgement, goes on
  // where the segment says so. then runs once the segment has been played to its end.
  void play(const orders::Segment& segment, const ArgsPtr& args,
            const std::function<void()>& then = {});
  void playFrom(std::span<const orders::Call> calls, size_t index, const ArgsPtr& args,
                const std::function<void()>& then);
  // play, going on with then only while the session it was played in is current.
  void playInSession(const orders::Segment& segment, const ArgsPtr& args,
                     std::function<void()> then);
  void nextTurn(std::function<void()> task);

  void startUpdateCycle();
  void scheduleNextCheck();
  void beginCheck(UpdateCheck check);
  void loadFeed(const std::string& url);
  void feedLoaded(const std::string& body);
  void offer(const AppcastItem& item);
  void choiceMade(int64_t choice);
  void download();
  void downloadFinished(bool ok);
  void ready();
  void installOnQuit();
  void noUpdate(int64_t reason, std::shared_ptr<const AppcastItem> latest);
  void fail(const FrameworkError& error);
  void end(const orders::Segment& ending, std::optional<FrameworkError> error, bool schedule);
  void sessionEnded();
  void setSession(bool inProgress);
  void flushEvents();
  bool userInitiated() const { return check_ == UpdateCheck::kUpdates; }

  // Runs work on a thread of its own; results come back through post().
  std::shared_ptr<Job> startJob(std::function<void(Job&)> work);
  void finishJob(const std::shared_ptr<Job>& job);
  // At environment teardown, or when destroyed: stops the jobs and the loop.
  void teardown();

  // Everything but post() of the loop and a job's own work runs on the main thread.
  qv::ThreadAffinity thread_;
  UpdaterClient& client_;
  Host host_;
  MainLoop loop_;
  bool tornDown_ = false;
  // Keeps the loop alive until the events queued so far are delivered (see FrameworkUpdater).
  std::function<void()> eventFlush_;

  bool started_ = false;
  bool automatic_ = true;
  bool permissionAnswered_ = false;
  bool showingPermission_ = false;
  bool showingUpdate_ = false;  // an update was offered in this session
  bool session_ = false;
  bool observing_ = false;

  // The current session; replies and results of an earlier one carry an older generation.
  uint64_t generation_ = 0;
  Phase phase_ = Phase::kIdle;
  UpdateCheck check_ = UpdateCheck::kUpdates;
  std::string feedURL_;
  std::optional<AppcastItem> item_;
  uint64_t downloaded_ = 0;
  std::shared_ptr<Job> job_;
  std::list<std::shared_ptr<Job>> jobs_;  // every job whose thread is not yet joined
};

}  // namespace qv::updater::standin
