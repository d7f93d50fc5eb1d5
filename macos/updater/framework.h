// The seam between the portable updater core and the update framework.
//
// The core (QuorvelUpdater in updater.h) implements UpdaterClient: the framework's user-driver and
// delegate callbacks in C++ form. A platform adapter forwards the framework's callbacks to it
// (on Apple platforms an Objective-C++ object conforming to SPUUserDriver and SPUUpdaterDelegate;
// elsewhere a stand-in framework) and implements FrameworkUpdater over the framework's updater.
// Creating it, and the other services of the platform, are in platform.h.
// Everything here is used on the main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "qv/result.h"

namespace qv::updater {

// Error domain and codes of the framework that the core relies on.
inline constexpr std::string_view kSparkleErrorDomain = "SUSparkleErrorDomain";
enum ErrorCode : int64_t {
  kNoUpdateError = 1001,
  kUnarchivingError = 3000,
  kSignatureError = 3001,
  kValidationError = 3002,
  kInstallationCanceledError = 4007,
};

// Choices passed to an update-choice reply.
enum UpdateChoice : int64_t { kChoiceSkip = 0, kChoiceInstall = 1, kChoiceDismiss = 2 };

// Kind of check (SPUUpdateCheck).
enum class UpdateCheck : int64_t { kUpdates = 0, kUpdatesInBackground = 1, kUpdateInformation = 2 };

// No-update reasons (under SPUNoUpdateFoundReasonKey).
enum NoUpdateReason : int64_t {
  kReasonUnknown = 0,
  kReasonOnLatestVersion = 1,
  kReasonOnNewerThanLatestVersion = 2,
  kReasonSystemIsTooOld = 3,
  kReasonSystemIsTooNew = 4,
};

// A value of an item's properties dictionary that is not a text.
struct NonTextProperty {
  bool operator==(const NonTextProperty&) const = default;
};
using PropertyValue = std::variant<std::string, NonTextProperty>;

// An immutable text held by every copy of an item that has it. A delta update's item holds the
// texts of the item it belongs to, as the framework's items share their strings, so copying an
// item costs the same however long its texts are.
class ItemText {
 public:
  ItemText() : ItemText(std::string()) {}
  ItemText(std::string text)  // NOLINT(google-explicit-constructor): stands for a text
      : text_(std::make_shared<const std::string>(std::move(text))) {}
  ItemText(const char* text)
      : ItemText(std::string(text)) {}  // NOLINT(google-explicit-constructor)
  ItemText(std::string_view text)       // NOLINT(google-explicit-constructor)
      : ItemText(std::string(text)) {}

  operator const std::string&() const { return *text_; }  // NOLINT(google-explicit-constructor)
  operator std::string_view() const { return *text_; }    // NOLINT(google-explicit-constructor)
  const std::string& str() const { return *text_; }
  const std::string* operator->() const { return text_.get(); }
  // Whether both hold the one stored text (not merely equal ones).
  bool sharedWith(const ItemText& other) const { return text_ == other.text_; }

  friend bool operator==(const ItemText& a, const ItemText& b) { return a.str() == b.str(); }
  friend bool operator==(const ItemText& a, const std::string& b) { return a.str() == b; }
  friend bool operator==(const ItemText& a, std::string_view b) { return a.str() == b; }
  friend bool operator==(const ItemText& a, const char* b) { return a.str() == b; }
  friend std::ostream& operator<<(std::ostream& out, const ItemText& t) { return out << t.str(); }

 private:
  std::shared_ptr<const std::string> text_;
};

// An item's elements by name, held like ItemText by every copy of the item; a copy that is
// changed gets a map of its own first (a reference from operator[] or emplace stays valid until
// the item is next copied).
class ItemProperties {
 public:
  using Map = std::map<std::string, PropertyValue>;
  using const_iterator = Map::const_iterator;

  ItemProperties() : map_(std::make_shared<Map>()) {}

  const_iterator begin() const { return map_->begin(); }
  const_iterator end() const { return map_->end(); }
  const_iterator find(const std::string& key) const { return map_->find(key); }
  const PropertyValue& at(const std::string& key) const { return map_->at(key); }
  size_t size() const { return map_->size(); }
  bool empty() const { return map_->empty(); }
  bool sharedWith(const ItemProperties& other) const { return map_ == other.map_; }

  PropertyValue& operator[](const std::string& key) { return own()[key]; }
  template <class... Args>
  std::pair<Map::iterator, bool> emplace(Args&&... args) {
    return own().emplace(std::forward<Args>(args)...);
  }

 private:
  Map& own() {
    if (map_.use_count() != 1) map_ = std::make_shared<Map>(*map_);
    return *map_;
  }
  std::shared_ptr<Map> map_;
};

// A feed item (SUAppcastItem). Texts are UTF-8.
struct AppcastItem {
  std::optional<ItemText> versionString;
  std::optional<ItemText> displayVersionString;
  std::optional<ItemText> minimumSystemVersion;
  std::optional<ItemText> itemDescription;
  bool isCriticalUpdate = false;
  bool isInformationOnlyUpdate = false;
  bool isDeltaUpdate = false;
  std::optional<std::string> fileURL;  // absolute URL text
  uint64_t contentLength = 0;
  // The item's elements by name, e.g. "quorvel:announcement".
  ItemProperties propertiesDictionary;
  // Delta archives keyed by the version they apply to; each value is an item of its own.
  std::map<std::string, std::shared_ptr<const AppcastItem>> deltaUpdates;
};

// A loaded feed (SUAppcast).
struct Appcast {
  std::vector<AppcastItem> items;
};

// An error (NSError) with the user-information entries the core reads.
struct FrameworkError {
  std::string domain;
  int64_t code = 0;
  std::string description;                           // NSLocalizedDescriptionKey
  std::shared_ptr<const AppcastItem> latestItem;     // SPULatestAppcastItemFoundKey
  std::optional<int64_t> noUpdateReason;             // SPUNoUpdateFoundReasonKey
  std::shared_ptr<const FrameworkError> underlying;  // NSUnderlyingErrorKey
};

// The state passed with an offered update (SPUUserUpdateState).
struct UserUpdateState {
  int64_t stage = 0;  // 0 not downloaded, 1 downloaded, 2 staged for installation
  bool userInitiated = false;
};

// The answer to a permission request (SUUpdatePermissionResponse).
struct PermissionResponse {
  bool automaticUpdateChecks = false;
  bool sendSystemProfile = false;
};

// A reply block of the framework. Copies share one underlying block, which runs at most once
// whichever copy is invoked; later invocations do nothing. An empty reply does nothing.
template <class... Args>
class Reply {
 public:
  Reply() = default;
  explicit Reply(std::function<void(Args...)> block)
      : state_(std::make_shared<State>(State{std::move(block)})) {}

  explicit operator bool() const { return state_ != nullptr; }
  // Whether the underlying block has run (through any copy).
  bool answered() const { return state_ && !state_->block; }

  void operator()(Args... args) const {
    if (!state_ || !state_->block) return;
    // Taken before it runs, so a re-entrant call cannot answer twice.
    auto block = std::exchange(state_->block, nullptr);
    block(std::forward<Args>(args)...);
  }

 private:
  struct State {
    std::function<void(Args...)> block;
  };
  std::shared_ptr<State> state_;
};

using Block = Reply<>;
using ChoiceReply = Reply<int64_t>;
using PermissionReply = Reply<PermissionResponse>;

// The user-driver and delegate callbacks the core implements (the framework's updater argument
// is left out: there is one updater). Names follow the framework's selectors.
class UpdaterClient {
 public:
  virtual ~UpdaterClient() = default;

  // User driver.
  virtual void showUpdatePermissionRequestReply(PermissionReply reply) = 0;
  virtual void showUserInitiatedUpdateCheckWithCancellation(Block cancellation) = 0;
  virtual void showUpdateFoundWithAppcastItemStateReply(const AppcastItem& item,
                                                        UserUpdateState state,
                                                        ChoiceReply reply) = 0;
  virtual void showUpdateReleaseNotesWithDownloadData(std::string_view data) = 0;
  virtual void showUpdateReleaseNotesFailedToDownloadWithError(const FrameworkError& error) = 0;
  virtual void showUpdateNotFoundWithErrorAcknowledgement(const FrameworkError& error,
                                                          Block acknowledgement) = 0;
  virtual void showUpdaterErrorAcknowledgement(const FrameworkError& error,
                                               Block acknowledgement) = 0;
  virtual void showDownloadInitiatedWithCancellation(Block cancellation) = 0;
  virtual void showDownloadDidReceiveExpectedContentLength(uint64_t expectedContentLength) = 0;
  virtual void showDownloadDidReceiveDataOfLength(uint64_t length) = 0;
  virtual void showDownloadDidStartExtractingUpdate() = 0;
  virtual void showExtractionReceivedProgress(double progress) = 0;
  virtual void showReadyToInstallAndRelaunch(ChoiceReply reply) = 0;
  virtual void showInstallingUpdateWithApplicationTerminatedRetryTerminatingApplication(
      bool applicationTerminated, Block retryTerminatingApplication) = 0;
  virtual void showUpdateInstalledAndRelaunchedAcknowledgement(bool relaunched,
                                                               Block acknowledgement) = 0;
  virtual void dismissUpdateInstallation() = 0;
  virtual void showUpdateInFocus() = 0;

  // Delegate.
  virtual std::optional<std::string> feedURLStringForUpdater() = 0;
  virtual bool updaterShouldDownloadReleaseNotesForUpdate(const AppcastItem& item) = 0;
  virtual void updaterDidFinishLoadingAppcast(const Appcast& appcast) = 0;
  // Sets *error (when error is not null) whenever it answers false.
  virtual bool updaterShouldProceedWithUpdateUpdateCheckError(const AppcastItem& item,
                                                              UpdateCheck updateCheck,
                                                              FrameworkError* error) = 0;
  virtual void updaterDidFindValidUpdate(const AppcastItem& item) = 0;
  virtual void updaterDidNotFindUpdateError(const FrameworkError& error) = 0;
  virtual void updaterDidAbortWithError(const FrameworkError& error) = 0;
  virtual void updaterDidFinishUpdateCycleForUpdateCheckError(UpdateCheck updateCheck,
                                                              const FrameworkError* error) = 0;
  virtual void updaterWillDownloadUpdateWithRequest(const AppcastItem& item) = 0;
  virtual void userDidCancelDownload() = 0;
  virtual bool updaterWillInstallUpdateOnQuitImmediateInstallationBlock(
      const AppcastItem& item, Block immediateInstallation) = 0;

  // Observation of the updater's "sessionInProgress" (registered through
  // FrameworkUpdater::observeSessionInProgress): called after each change.
  virtual void sessionInProgressDidChange() = 0;
};

// The framework's updater (SPUUpdater), created over a client that is its user driver and
// delegate.
class FrameworkUpdater {
 public:
  virtual ~FrameworkUpdater() = default;

  virtual qv::Status<FrameworkError> startUpdater() = 0;
  virtual void checkForUpdates() = 0;
  virtual void checkForUpdatesInBackground() = 0;
  virtual bool automaticallyChecksForUpdates() const = 0;
  virtual bool sessionInProgress() const = 0;

  // Starts or stops forwarding changes of sessionInProgress to the client's
  // sessionInProgressDidChange.
  virtual void observeSessionInProgress() = 0;
  virtual void stopObservingSessionInProgress() = 0;

  // Runs block on the main queue after the delay (0: the next turn of the main queue).
  virtual void dispatchAfter(uint64_t nanoseconds, std::function<void()> block) = 0;

  // Given by the module once its event channel exists: calling it keeps the JavaScript event
  // loop alive until every event queued so far has been delivered. The channel holds nothing
  // otherwise; a framework that lets go of the loop when its work ends calls it then, so
  // that the last events of that work still arrive. By default it is ignored.
  virtual void setEventFlush(const std::function<void()>& /*flush*/) {}
};

}  // namespace qv::updater
