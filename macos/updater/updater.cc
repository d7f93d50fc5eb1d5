#include "macos/updater/updater.h"

#include <charconv>
#include <cinttypes>
#include <cstdlib>
#include <limits>
#include <utility>

#include "macos/updater/platform.h"
#include "macos/updater/release.h"

namespace qv::updater {

namespace {

Json Event(std::string_view type) {
  Json event = Json::MakeObject();
  event.set("type", Json::Str(std::string(type)));
  return event;
}

int64_t EventCode(const Json& event) {
  const Json* code = event.find("code");
  const Json::Number* number = code ? code->number() : nullptr;
  int64_t value = 0;
  if (number)
    std::from_chars(number->text.data(), number->text.data() + number->text.size(), value);
  return value;
}

bool IsVerificationFailure(const FrameworkError& error) {
  return error.domain == kSparkleErrorDomain &&
         (error.code == kUnarchivingError || error.code == kSignatureError ||
          error.code == kValidationError);
}

}  // namespace

std::optional<uint64_t> DownloadPercent(uint64_t received, uint64_t expected) {
  if (expected == 0) return std::nullopt;
  if (received >= expected) return 99;
  if (received <= std::numeric_limits<uint64_t>::max() / 100) return received * 100 / expected;
  // The product would overflow (downloads beyond 184 petabytes). Floating point is not exact
  // here, so add received a hundred times modulo expected and count the wraps: that count is
  // received * 100 / expected, below 100 because received < expected.
  uint64_t percent = 0;
  uint64_t remainder = 0;
  for (int i = 0; i < 100; ++i) {
    if (remainder >= expected - received) {
      remainder -= expected - received;
      ++percent;
    } else {
      remainder += received;
    }
  }
  return percent;
}

void QuorvelUpdater::traceCode(std::string_view label, int64_t code) {
  if (std::getenv("QV_UPDATE_DEBUG") == nullptr) return;
  const std::string text(label);
  std::fprintf(traceStream, "[updater] %s code=%" PRId64 " session=%d pending=%d ready=%d\n",
               text.c_str(), code, sessionInProgress() ? 1 : 0, pendingCheck ? 1 : 0,
               installHandler ? 1 : 0);
  std::fflush(traceStream);
}

void QuorvelUpdater::emit(const Json& event) {
  thread_.assert_on_thread();
  const Json* type = event.find("type");
  const std::string* label = type ? type->string() : nullptr;
  traceCode(label ? *label : std::string_view(), EventCode(event));
  if (disposed || !events) return;
  events(WriteJson(event));  // a text that cannot be queued is dropped by the channel
}

void QuorvelUpdater::waitFor(const ChoiceReply& reply) {
  thread_.assert_on_thread();
  installHandler = Block([reply] { reply(kChoiceInstall); });
  skipHandler = Block([reply] { reply(kChoiceSkip); });
}

void QuorvelUpdater::fail(const FrameworkError* error) {
  installHandler = Block();
  skipHandler = Block();
  cancelHandler = Block();
  replacedVersion.reset();

  const int64_t code = error ? error->code : 0;
  if (code == kNoUpdateError) {
    const int64_t reason = error->noUpdateReason.value_or(kReasonUnknown);
    if (error->latestItem && reason >= kReasonSystemIsTooOld) {
      emit(Event("unsupported").set("release", releaseFor(*error->latestItem)));
    } else {
      emit(Event("up-to-date"));
    }
    return;
  }
  if (code == kInstallationCanceledError) {
    emit(Event("cancelled"));
    return;
  }
  std::string_view phase = code >= 4000 ? "install" : code >= 2000 ? "download" : "check";
  for (const FrameworkError* e = error; e != nullptr; e = e->underlying.get()) {
    if (IsVerificationFailure(*e)) {
      phase = "verify";
      break;
    }
  }
  emit(Event("error").set("error", Json::Str(std::string(phase))).set("code", Json::Int(code)));
}

Json QuorvelUpdater::releaseFor(const AppcastItem& item) const {
  return ReleaseFor(item);
}

bool QuorvelUpdater::allowsAs(const std::optional<std::string>& url,
                              std::string_view extension) const {
  return ArchiveAllowed(url, extension, feed ? feed : platform::ConfiguredFeedURL(), vendor_);
}

// The JavaScript functions.

void QuorvelUpdater::start(std::string feedText, EventChannel channel,
                           const FrameworkFactory& makeFramework, bool checkNow) {
  thread_.assert_on_thread();
  // An empty text leaves the feed unset, so the application's configured feed applies.
  if (!feedText.empty()) feed = std::move(feedText);
  events = std::move(channel);
  updater = makeFramework(*this);
  updater->observeSessionInProgress();
  qv::Status<FrameworkError> started = updater->startUpdater();
  if (!started) {
    fail(&started.error());
  } else if (checkNow && updater->automaticallyChecksForUpdates()) {
    updater->checkForUpdatesInBackground();
  }
}

void QuorvelUpdater::check() {
  thread_.assert_on_thread();
  traceCode("request-check", 0);
  if (sessionInProgress() && !installHandler) {
    pendingCheck = true;
  } else if (updater) {
    updater->checkForUpdates();
  }
}

bool QuorvelUpdater::install() {
  thread_.assert_on_thread();
  if (!installHandler) return false;
  // Cleared before it runs, so the framework is answered at most once.
  Block handler = std::exchange(installHandler, Block());
  skipHandler = Block();
  handler();
  return true;
}

bool QuorvelUpdater::replace() {
  thread_.assert_on_thread();
  if (!skipHandler) return false;
  Block skip = std::exchange(skipHandler, Block());
  traceCode("replace", 0);
  replacedVersion.reset();
  if (releaseInfo) {
    const Json* version = releaseInfo->find("version");
    if (version != nullptr && version->string() != nullptr) replacedVersion = *version->string();
  }
  replaceAttempts = 0;
  installHandler = Block();
  pendingCheck = true;
  skip();
  return true;
}

void QuorvelUpdater::cancel() {
  thread_.assert_on_thread();
  if (!cancelHandler) return;
  Block handler = std::exchange(cancelHandler, Block());
  handler();
}

void QuorvelUpdater::dispose() {
  thread_.assert_on_thread();
  if (!disposed && updater) updater->stopObservingSessionInProgress();
  disposed = true;
  events = nullptr;
}

void QuorvelUpdater::detachEvents() {
  thread_.assert_on_thread();
  events = nullptr;
}

// User driver.

void QuorvelUpdater::showUpdatePermissionRequestReply(PermissionReply reply) {
  reply(PermissionResponse{.automaticUpdateChecks = true, .sendSystemProfile = false});
}

void QuorvelUpdater::showUserInitiatedUpdateCheckWithCancellation(Block cancellation) {
  cancelHandler = std::move(cancellation);
  emit(Event("checking"));
}

void QuorvelUpdater::showUpdateFoundWithAppcastItemStateReply(const AppcastItem& item,
                                                              UserUpdateState state,
                                                              ChoiceReply reply) {
  bool skip = false;
  if (state.stage == 2 && item.versionString && replacedVersion &&
      *item.versionString == *replacedVersion) {
    const int64_t n = replaceAttempts;
    replaceAttempts = n + 1;
    skip = n < 3;
  }
  if (skip) {
    pendingCheck = true;
    reply(kChoiceSkip);
    return;
  }
  releaseInfo = releaseFor(item);
  if (state.stage == 2) {
    waitFor(reply);
    emit(Event("ready").set("release", *releaseInfo));
  } else {
    reply(kChoiceInstall);
  }
}

void QuorvelUpdater::showUpdateReleaseNotesWithDownloadData(std::string_view /*data*/) {}

void QuorvelUpdater::showUpdateReleaseNotesFailedToDownloadWithError(
    const FrameworkError& /*error*/) {}

void QuorvelUpdater::showUpdateNotFoundWithErrorAcknowledgement(const FrameworkError& error,
                                                                Block acknowledgement) {
  fail(&error);
  acknowledgement();
}

void QuorvelUpdater::showUpdaterErrorAcknowledgement(const FrameworkError& error,
                                                     Block acknowledgement) {
  fail(&error);
  acknowledgement();
}

void QuorvelUpdater::showDownloadInitiatedWithCancellation(Block cancellation) {
  cancelHandler = std::move(cancellation);
  expected = 0;
  received = 0;
  emit(Event("downloading").set("canCancel", Json::Bool(true)));
}

void QuorvelUpdater::showDownloadDidReceiveExpectedContentLength(uint64_t expectedContentLength) {
  expected = expectedContentLength;
}

void QuorvelUpdater::showDownloadDidReceiveDataOfLength(uint64_t length) {
  received += length;
  Json event = Event("downloading");
  if (std::optional<uint64_t> percent = DownloadPercent(received, expected)) {
    event.set("percent", Json::Uint(*percent));
  }
  emit(event);
}

void QuorvelUpdater::showDownloadDidStartExtractingUpdate() {
  cancelHandler = Block();
  emit(Event("downloading").set("canCancel", Json::Bool(false)).set("percent", Json::Int(99)));
}

void QuorvelUpdater::showExtractionReceivedProgress(double /*progress*/) {}

void QuorvelUpdater::showReadyToInstallAndRelaunch(ChoiceReply reply) {
  waitFor(reply);
  emit(Event("ready").set("release", releaseInfo ? *releaseInfo : Json::MakeObject()));
}

void QuorvelUpdater::showInstallingUpdateWithApplicationTerminatedRetryTerminatingApplication(
    bool /*applicationTerminated*/, Block /*retryTerminatingApplication*/) {
  emit(Event("installing"));
}

void QuorvelUpdater::showUpdateInstalledAndRelaunchedAcknowledgement(bool /*relaunched*/,
                                                                     Block acknowledgement) {
  acknowledgement();
}

void QuorvelUpdater::dismissUpdateInstallation() {
  cancelHandler = Block();
  installHandler = Block();
  skipHandler = Block();
}

void QuorvelUpdater::showUpdateInFocus() {
  emit(Event("focus"));
}

// Delegate.

std::optional<std::string> QuorvelUpdater::feedURLStringForUpdater() {
  return feed;
}

bool QuorvelUpdater::updaterShouldDownloadReleaseNotesForUpdate(const AppcastItem& /*item*/) {
  return false;
}

void QuorvelUpdater::updaterDidFinishLoadingAppcast(const Appcast& appcast) {
  bool allowed = true;
  for (const AppcastItem& item : appcast.items) {
    if (allowed && !item.isInformationOnlyUpdate) {
      allowed = allowsAs(item.fileURL, kFullArchiveExtension);
    }
    for (const auto& [from, delta] : item.deltaUpdates) {
      if (!allowed) break;
      allowed = delta && allowsAs(delta->fileURL, kDeltaArchiveExtension);
    }
  }
  feedArchivesAllowed = allowed;
}

bool QuorvelUpdater::updaterShouldProceedWithUpdateUpdateCheckError(const AppcastItem& item,
                                                                    UpdateCheck /*updateCheck*/,
                                                                    FrameworkError* error) {
  bool proceed = false;
  if (!item.isInformationOnlyUpdate && feedArchivesAllowed) {
    proceed =
        allowsAs(item.fileURL, item.isDeltaUpdate ? kDeltaArchiveExtension : kFullArchiveExtension);
  }
  if (!proceed && error) {
    *error = FrameworkError();
    error->domain = kSparkleErrorDomain;
    error->code = kValidationError;
    error->description = "Invalid update archive";
  }
  return proceed;
}

void QuorvelUpdater::updaterDidFindValidUpdate(const AppcastItem& item) {
  if (!(item.versionString && replacedVersion && *item.versionString == *replacedVersion)) {
    replacedVersion.reset();
    replaceAttempts = 0;
  }
  releaseInfo = releaseFor(item);
  emit(Event("available").set("release", *releaseInfo));
}

void QuorvelUpdater::updaterDidNotFindUpdateError(const FrameworkError& error) {
  fail(&error);
}

void QuorvelUpdater::updaterDidAbortWithError(const FrameworkError& error) {
  fail(&error);
}

void QuorvelUpdater::updaterDidFinishUpdateCycleForUpdateCheckError(UpdateCheck /*updateCheck*/,
                                                                    const FrameworkError* error) {
  traceCode("finished", error ? error->code : 0);
}

void QuorvelUpdater::updaterWillDownloadUpdateWithRequest(const AppcastItem& /*item*/) {
  emit(Event("downloading").set("canCancel", Json::Bool(false)));
}

void QuorvelUpdater::userDidCancelDownload() {
  emit(Event("cancelled"));
}

bool QuorvelUpdater::updaterWillInstallUpdateOnQuitImmediateInstallationBlock(
    const AppcastItem& item, Block immediateInstallation) {
  releaseInfo = releaseFor(item);
  installHandler = std::move(immediateInstallation);
  emit(Event("ready").set("release", *releaseInfo));
  return true;
}

void QuorvelUpdater::sessionInProgressDidChange() {
  thread_.assert_on_thread();
  if (!deferredCheckDue()) return;
  const uint64_t delay = replacedVersion ? 1'000'000'000u : 0u;
  // The object lives for the rest of the process (the module never releases it).
  updater->dispatchAfter(delay, [this] {
    if (!deferredCheckDue()) return;
    pendingCheck = false;
    if (!installHandler) updater->checkForUpdates();
  });
}

}  // namespace qv::updater
