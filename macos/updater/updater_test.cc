// QuorvelUpdater against a scripted framework: events, answers, parked replies, deferred checks.
#include "macos/updater/updater.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <vector>

#include "macos/updater/framework_orders.h"

namespace qv::updater {
namespace {

using nlohmann::json;

class FakeFramework final : public FrameworkUpdater {
 public:
  qv::Status<FrameworkError> startUpdater() override {
    calls.push_back("start");
    if (startError) return qv::Err(*startError);
    return qv::kOk;
  }
  void checkForUpdates() override {
    calls.push_back("check");
    ++checks;
  }
  void checkForUpdatesInBackground() override {
    calls.push_back("background");
    ++backgroundChecks;
  }
  bool automaticallyChecksForUpdates() const override { return automatic; }
  bool sessionInProgress() const override { return session; }
  void observeSessionInProgress() override { calls.push_back("observe"); }
  void stopObservingSessionInProgress() override { calls.push_back("stop-observing"); }
  void dispatchAfter(uint64_t nanoseconds, std::function<void()> block) override {
    scheduled.push_back({nanoseconds, std::move(block)});
  }
  void runScheduled() {
    auto blocks = std::exchange(scheduled, {});
    for (auto& [delay, block] : blocks) block();
  }

  bool session = false;
  bool automatic = true;
  std::optional<FrameworkError> startError;
  std::vector<std::string> calls;
  int checks = 0;
  int backgroundChecks = 0;
  std::vector<std::pair<uint64_t, std::function<void()>>> scheduled;
};

class UpdaterTest : public ::testing::Test {
 protected:
  UpdaterTest() : updater_(Vendor{"quorvel.example", "https://download.quorvel.example/"}) {
    auto framework = std::make_unique<FakeFramework>();
    framework_ = framework.get();
    updater_.updater = std::move(framework);
    updater_.feed = "https://updates.example.org/feed.xml";
    updater_.events = [this](std::string text) {
      events_.push_back(json::parse(text));
      return true;
    };
    unsetenv("QV_UPDATE_DEBUG");
  }
  ~UpdaterTest() override { unsetenv("QV_UPDATE_DEBUG"); }

  std::vector<json> takeEvents() { return std::exchange(events_, {}); }

  static AppcastItem Item(std::string version, std::string url) {
    AppcastItem item;
    item.versionString = std::move(version);
    item.fileURL = std::move(url);
    return item;
  }
  static json ReleaseJson(const std::string& version) {
    return {{"version", version}, {"minimumMacOS", "15.0"}, {"notes", {""}}, {"required", false}};
  }

  QuorvelUpdater updater_;
  FakeFramework* framework_;
  std::vector<json> events_;
};

FrameworkError Error(std::string domain, int64_t code,
                     std::shared_ptr<const FrameworkError> underlying = nullptr) {
  FrameworkError e;
  e.domain = std::move(domain);
  e.code = code;
  e.underlying = std::move(underlying);
  return e;
}

TEST_F(UpdaterTest, FailReportsOneOutcomePerError) {
  const std::string sparkle(kSparkleErrorDomain);
  auto latest = std::make_shared<AppcastItem>(Item("9.0", "https://x/releases/a.zip"));
  latest->minimumSystemVersion = "99.0";
  const auto notFound = [&](std::optional<int64_t> reason, bool withItem, std::string domain) {
    FrameworkError e = Error(std::move(domain), 1001);
    e.noUpdateReason = reason;
    if (withItem) e.latestItem = latest;
    return e;
  };
  const json unsupported = {
      {"type", "unsupported"},
      {"release",
       {{"version", "9.0"}, {"minimumMacOS", "99.0"}, {"notes", {""}}, {"required", false}}}};
  const json upToDate = {{"type", "up-to-date"}};
  const auto error = [](const char* phase, int64_t code) {
    return json{{"type", "error"}, {"error", phase}, {"code", code}};
  };
  auto verify = std::make_shared<FrameworkError>(Error(sparkle, 3001));
  auto foreignVerify = std::make_shared<FrameworkError>(Error("NSURLErrorDomain", 3001));
  auto deep = std::make_shared<FrameworkError>(
      Error("NSCocoaErrorDomain", 7, std::make_shared<FrameworkError>(Error(sparkle, 3000))));
  struct Case {
    const char* name;
    std::optional<FrameworkError> error;
    json expected;
  };
  const Case cases[] = {
      {"too old", notFound(3, true, sparkle), unsupported},
      {"too new", notFound(4, true, sparkle), unsupported},
      {"reason above the known ones", notFound(5, true, sparkle), unsupported},
      {"on latest", notFound(1, true, sparkle), upToDate},
      {"newer than latest", notFound(2, true, sparkle), upToDate},
      {"too old without item", notFound(3, false, sparkle), upToDate},
      {"no reason", notFound(std::nullopt, true, sparkle), upToDate},
      {"not found in another domain", notFound(3, true, "Other"), unsupported},
      {"installation cancelled", Error(sparkle, 4007), {{"type", "cancelled"}}},
      {"installation cancelled elsewhere", Error("Other", 4007), {{"type", "cancelled"}}},
      {"download with signature cause", Error(sparkle, 2001, verify), error("verify", 2001)},
      {"download with foreign cause", Error(sparkle, 2001, foreignVerify), error("download", 2001)},
      {"download", Error(sparkle, 2001), error("download", 2001)},
      {"cause two levels down", Error(sparkle, 4005, deep), error("verify", 4005)},
      {"install", Error(sparkle, 4005), error("install", 4005)},
      {"install boundary", Error(sparkle, 4000), error("install", 4000)},
      {"download boundary", Error(sparkle, 2000), error("download", 2000)},
      {"check below download", Error(sparkle, 1999), error("check", 1999)},
      {"check", Error(sparkle, 1002), error("check", 1002)},
      {"validation", Error(sparkle, 3002), error("verify", 3002)},
      {"validation elsewhere", Error("Other", 3002), error("download", 3002)},
      {"negative code", Error("NSURLErrorDomain", -1009), error("check", -1009)},
      {"absent error", std::nullopt, error("check", 0)},
  };
  for (const Case& c : cases) {
    updater_.installHandler = Block([] {});
    updater_.skipHandler = Block([] {});
    updater_.cancelHandler = Block([] {});
    updater_.replacedVersion = "1.0";
    updater_.replaceAttempts = 2;
    updater_.pendingCheck = true;
    updater_.fail(c.error ? &*c.error : nullptr);
    EXPECT_EQ(takeEvents(), std::vector<json>{c.expected}) << c.name;
    EXPECT_FALSE(updater_.installHandler || updater_.skipHandler || updater_.cancelHandler)
        << c.name;
    EXPECT_FALSE(updater_.replacedVersion) << c.name;
    EXPECT_EQ(updater_.replaceAttempts, 2) << c.name;
    EXPECT_TRUE(updater_.pendingCheck) << c.name;
  }
}

TEST(DownloadPercent, TruncatesAndCaps) {
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  struct Case {
    uint64_t received, expected;
    std::optional<uint64_t> percent;
  };
  const Case cases[] = {
      {0, 0, std::nullopt},
      {500, 0, std::nullopt},
      {0, 1000, 0},
      {9, 1000, 0},
      {10, 1000, 1},
      {400, 1000, 40},
      {999, 1000, 99},
      {1000, 1000, 99},
      {5000, 1000, 99},
      {1, 3, 33},
      {2, 3, 66},
      {max, max, 99},
      {max / 2, max, 49},
      {max - 1, max, 99},
      {max / 100 + 1, max / 50, 50},
      // Beyond the 64-bit product, where a floating-point quotient rounds across an integer.
      {3873816255479005839u, max, 20},
      {6271892985061247549u, max, 33},
      {max / 100 + 1, max, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DownloadPercent(c.received, c.expected), c.percent)
        << c.received << "/" << c.expected;
  }
}

TEST_F(UpdaterTest, DownloadReportsPercentPerChunk) {
  struct Case {
    const char* name;
    std::optional<uint64_t> expected;
    std::vector<uint64_t> chunks;
    std::vector<std::optional<int>> percents;
  };
  const Case cases[] = {
      {"thirds", 1000, {400, 400, 200}, {40, 80, 99}},
      {"unknown length", std::nullopt, {400, 600}, {std::nullopt, std::nullopt}},
      {"zero length", 0, {10}, {std::nullopt}},
      {"more than announced", 100, {60, 60, 60}, {60, 99, 99}},
      {"tiny chunks", 1000, {1, 9, 0}, {0, 1, 1}},
  };
  for (const Case& c : cases) {
    // A second download starts again from zero.
    for (int round = 0; round < 2; ++round) {
      updater_.showDownloadInitiatedWithCancellation(Block([] {}));
      EXPECT_TRUE(updater_.cancelHandler) << c.name;
      if (c.expected) updater_.showDownloadDidReceiveExpectedContentLength(*c.expected);
      for (uint64_t chunk : c.chunks) updater_.showDownloadDidReceiveDataOfLength(chunk);
      updater_.showDownloadDidStartExtractingUpdate();
      EXPECT_FALSE(updater_.cancelHandler) << c.name;
      std::vector<json> expected = {{{"type", "downloading"}, {"canCancel", true}}};
      for (const auto& p : c.percents) {
        json e = {{"type", "downloading"}};
        if (p) e["percent"] = *p;
        expected.push_back(e);
      }
      expected.push_back({{"type", "downloading"}, {"canCancel", false}, {"percent", 99}});
      EXPECT_EQ(takeEvents(), expected) << c.name << " round " << round;
    }
  }
}

TEST_F(UpdaterTest, ReplacedVersionIsSkippedThreeTimesInStageTwo) {
  const AppcastItem offered = Item("2.0", "https://updates.example.org/releases/a.zip");
  updater_.releaseInfo = Json::MakeObject();  // stands for the release on offer before "replace"
  updater_.replacedVersion = "2.0";
  updater_.replaceAttempts = 0;
  std::vector<int64_t> answers;
  for (int offer = 1; offer <= 4; ++offer) {
    updater_.pendingCheck = false;
    updater_.showUpdateFoundWithAppcastItemStateReply(
        offered, UserUpdateState{2, true}, ChoiceReply([&](int64_t c) { answers.push_back(c); }));
    if (offer <= 3) {
      EXPECT_EQ(answers, std::vector<int64_t>(static_cast<size_t>(offer), kChoiceSkip));
      EXPECT_TRUE(updater_.pendingCheck) << offer;
      EXPECT_TRUE(takeEvents().empty()) << offer;
      EXPECT_FALSE(updater_.installHandler) << offer;
    }
  }
  EXPECT_EQ(answers.size(), 3u);
  EXPECT_EQ(updater_.replaceAttempts, 4);
  EXPECT_EQ(takeEvents(),
            (std::vector<json>{{{"type", "ready"}, {"release", ReleaseJson("2.0")}}}));
  ASSERT_TRUE(updater_.installHandler && updater_.skipHandler);
  updater_.installHandler();
  updater_.skipHandler();  // the reply has answered; a second answer must not get through
  EXPECT_EQ(answers, (std::vector<int64_t>{0, 0, 0, 1}));
}

TEST_F(UpdaterTest, OffersOutsideTheSkipRuleAreAnsweredOrParked) {
  struct Case {
    const char* name;
    int64_t stage;
    std::optional<std::string> replaced;
    std::vector<int64_t> answers;  // answered at once
    bool ready;
  };
  const Case cases[] = {
      {"stage 0 installs", 0, std::nullopt, {kChoiceInstall}, false},
      {"stage 1 installs", 1, std::nullopt, {kChoiceInstall}, false},
      {"stage 0 of the replaced version installs", 0, "2.0", {kChoiceInstall}, false},
      {"stage 2 parks", 2, std::nullopt, {}, true},
      {"stage 2 of another version parks", 2, "1.9", {}, true},
  };
  for (const Case& c : cases) {
    updater_.installHandler = Block();
    updater_.replacedVersion = c.replaced;
    updater_.replaceAttempts = 0;
    updater_.pendingCheck = false;
    std::vector<int64_t> answers;
    updater_.showUpdateFoundWithAppcastItemStateReply(
        Item("2.0", "u"), UserUpdateState{c.stage, false},
        ChoiceReply([&](int64_t a) { answers.push_back(a); }));
    EXPECT_EQ(answers, c.answers) << c.name;
    EXPECT_EQ(static_cast<bool>(updater_.installHandler), c.ready) << c.name;
    EXPECT_FALSE(updater_.pendingCheck) << c.name;
    EXPECT_EQ(json::parse(WriteJson(*updater_.releaseInfo)), ReleaseJson("2.0")) << c.name;
    const std::vector<json> events = takeEvents();
    EXPECT_EQ(events.size(), c.ready ? 1u : 0u) << c.name;
  }
}

TEST_F(UpdaterTest, ValidUpdateOfAnotherVersionResetsTheReplaceBookkeeping) {
  const std::pair<const char*, bool> cases[] = {{"2.0", false}, {"2.1", true}};
  for (const auto& [version, reset] : cases) {
    updater_.replacedVersion = "2.0";
    updater_.replaceAttempts = 2;
    updater_.updaterDidFindValidUpdate(Item(version, "u"));
    EXPECT_EQ(!updater_.replacedVersion, reset) << version;
    EXPECT_EQ(updater_.replaceAttempts, reset ? 0 : 2) << version;
    EXPECT_EQ(takeEvents(),
              (std::vector<json>{{{"type", "available"}, {"release", ReleaseJson(version)}}}));
  }
}

std::string ReadAll(std::FILE* f) {
  std::rewind(f);
  std::string text;
  char buf[512];
  while (size_t n = std::fread(buf, 1, sizeof buf, f)) text.append(buf, n);
  return text;
}

TEST_F(UpdaterTest, TraceLinesFollowTheStateAndTheEnvironment) {
  std::FILE* trace = std::tmpfile();
  ASSERT_NE(trace, nullptr);
  updater_.traceStream = trace;

  updater_.traceCode("silent", 1);   // tracing off: nothing written
  setenv("QV_UPDATE_DEBUG", "", 1);  // any value, the empty one included, enables it
  framework_->session = true;
  updater_.showReadyToInstallAndRelaunch(ChoiceReply([](int64_t) {}));
  framework_->session = false;
  updater_.pendingCheck = true;
  updater_.fail(nullptr);
  const FrameworkError negative = Error("x", -42);
  updater_.fail(&negative);
  updater_.updaterDidFinishUpdateCycleForUpdateCheckError(UpdateCheck::kUpdates, nullptr);
  const FrameworkError cycleError = Error("x", 1001);
  updater_.updaterDidFinishUpdateCycleForUpdateCheckError(UpdateCheck::kUpdates, &cycleError);
  updater_.disposed = true;
  updater_.showUpdateInFocus();  // traced, not delivered

  EXPECT_EQ(ReadAll(trace),
            "[updater] ready code=0 session=1 pending=0 ready=1\n"
            "[updater] error code=0 session=0 pending=1 ready=0\n"
            "[updater] error code=-42 session=0 pending=1 ready=0\n"
            "[updater] finished code=0 session=0 pending=1 ready=0\n"
            "[updater] finished code=1001 session=0 pending=1 ready=0\n"
            "[updater] focus code=0 session=0 pending=1 ready=0\n");
  EXPECT_EQ(takeEvents().size(), 3u);  // ready and two errors; nothing after disposal
  std::fclose(trace);
}

TEST_F(UpdaterTest, DeferredChecksStartOnceWhenTheSessionEnds) {
  struct Case {
    const char* name;
    bool pending, disposed, session, ready;
    std::optional<std::string> replaced;
    int notifications;
    std::optional<uint64_t> delay;  // of the scheduled block, when one is scheduled
    int checks;
  };
  const Case cases[] = {
      {"pending", true, false, false, false, std::nullopt, 1, 0u, 1},
      {"after replace", true, false, false, false, "2.0", 1, 1'000'000'000u, 1},
      {"several notifications", true, false, false, false, std::nullopt, 3, 0u, 1},
      {"nothing pending", false, false, false, false, std::nullopt, 1, std::nullopt, 0},
      {"disposed", true, true, false, false, std::nullopt, 1, std::nullopt, 0},
      {"session still running", true, false, true, false, std::nullopt, 1, std::nullopt, 0},
      {"update ready", true, false, false, true, std::nullopt, 1, 0u, 0},
  };
  for (const Case& c : cases) {
    framework_->checks = 0;
    framework_->scheduled.clear();
    updater_.pendingCheck = c.pending;
    updater_.disposed = c.disposed;
    framework_->session = c.session;
    updater_.replacedVersion = c.replaced;
    updater_.installHandler = c.ready ? Block([] {}) : Block();
    for (int i = 0; i < c.notifications; ++i) updater_.sessionInProgressDidChange();
    if (c.delay) {
      ASSERT_EQ(framework_->scheduled.size(), static_cast<size_t>(c.notifications)) << c.name;
      EXPECT_EQ(framework_->scheduled.front().first, *c.delay) << c.name;
    } else {
      EXPECT_TRUE(framework_->scheduled.empty()) << c.name;
    }
    framework_->runScheduled();
    EXPECT_EQ(framework_->checks, c.checks) << c.name;
    if (c.delay) {
      EXPECT_FALSE(updater_.pendingCheck) << c.name;
    }
  }
  // Conditions are tested again when the block runs: a session that started meanwhile wins.
  framework_->checks = 0;
  framework_->session = false;
  updater_.disposed = false;
  updater_.installHandler = Block();
  updater_.pendingCheck = true;
  updater_.sessionInProgressDidChange();
  framework_->session = true;
  framework_->runScheduled();
  EXPECT_EQ(framework_->checks, 0);
  EXPECT_TRUE(updater_.pendingCheck);
}

TEST_F(UpdaterTest, FeedArchivesGateEveryUpdate) {
  const std::string good = "https://updates.example.org/releases/a.zip";
  const std::string goodDelta = "https://updates.example.org/releases/a.delta";
  const std::string bad = "https://elsewhere.example.org/releases/a.zip";
  const auto with = [](AppcastItem item, std::string deltaURL) {
    auto delta = std::make_shared<AppcastItem>(item);
    delta->fileURL = std::move(deltaURL);
    delta->isDeltaUpdate = true;
    item.deltaUpdates["1.0"] = delta;
    return item;
  };
  AppcastItem info = Item("3.0", "");
  info.fileURL.reset();
  info.isInformationOnlyUpdate = true;
  AppcastItem deltaItem = Item("2.0", goodDelta);
  deltaItem.isDeltaUpdate = true;
  AppcastItem wrongDelta = Item("2.0", good);
  wrongDelta.isDeltaUpdate = true;
  struct Case {
    const char* name;
    std::vector<AppcastItem> feed;
    AppcastItem offered;
    bool proceed;
  };
  const Case cases[] = {
      {"all good",
       {Item("2.0", good), with(Item("1.5", good), goodDelta)},
       Item("2.0", good),
       true},
      {"a failing delta bars the valid item",
       {Item("2.0", good), with(Item("1.5", good), goodDelta + "x")},
       Item("2.0", good),
       false},
      {"a failing full archive of another item",
       {Item("2.0", good), Item("1.5", bad)},
       Item("2.0", good),
       false},
      {"information-only items do not count", {info, Item("2.0", good)}, Item("2.0", good), true},
      {"but their deltas do", {with(info, bad), Item("2.0", good)}, Item("2.0", good), false},
      {"information-only never proceeds", {info}, info, false},
      {"offered archive itself", {}, Item("2.0", bad), false},
      {"delta offer needs the delta extension", {}, deltaItem, true},
      {"delta offer with a zip", {}, wrongDelta, false},
      {"empty feed", {}, Item("2.0", good), true},
  };
  for (const Case& c : cases) {
    updater_.updaterDidFinishLoadingAppcast(Appcast{c.feed});
    FrameworkError error;
    EXPECT_EQ(updater_.updaterShouldProceedWithUpdateUpdateCheckError(
                  c.offered, UpdateCheck::kUpdates, &error),
              c.proceed)
        << c.name;
    if (!c.proceed) {
      EXPECT_EQ(error.domain, "SUSparkleErrorDomain") << c.name;
      EXPECT_EQ(error.code, 3002) << c.name;
      EXPECT_EQ(error.description, "Invalid update archive") << c.name;
      // The framework hands the refusal back; it is reported as a verification failure.
      updater_.fail(&error);
      EXPECT_EQ(takeEvents(),
                (std::vector<json>{{{"type", "error"}, {"error", "verify"}, {"code", 3002}}}));
    }
    EXPECT_FALSE(updater_.updaterShouldProceedWithUpdateUpdateCheckError(
                     c.offered, UpdateCheck::kUpdates, nullptr) != c.proceed)
        << c.name << " without an error out-parameter";
  }
  // Without a feed of its own the object falls back to the configured one (none in this build).
  updater_.feed.reset();
  updater_.updaterDidFinishLoadingAppcast(Appcast{});
  EXPECT_FALSE(
      updater_.updaterShouldProceedWithUpdateUpdateCheckError(Item("2.0", good), {}, nullptr));
  EXPECT_EQ(updater_.feedURLStringForUpdater(), std::nullopt);
}

TEST_F(UpdaterTest, DriverCallbacksAnswerAndReport) {
  // Permission: automatic checks on, no system profile, answered at once.
  std::optional<PermissionResponse> permission;
  updater_.showUpdatePermissionRequestReply(
      PermissionReply([&](PermissionResponse r) { permission = r; }));
  ASSERT_TRUE(permission);
  EXPECT_TRUE(permission->automaticUpdateChecks);
  EXPECT_FALSE(permission->sendSystemProfile);

  int cancelled = 0;
  updater_.showUserInitiatedUpdateCheckWithCancellation(Block([&] { ++cancelled; }));
  ASSERT_TRUE(updater_.cancelHandler);
  updater_.cancelHandler();
  EXPECT_EQ(cancelled, 1);

  // Ready without an offered release carries an empty object.
  updater_.releaseInfo.reset();
  std::vector<int64_t> answers;
  updater_.showReadyToInstallAndRelaunch(ChoiceReply([&](int64_t a) { answers.push_back(a); }));
  ASSERT_TRUE(updater_.installHandler && updater_.skipHandler);
  updater_.skipHandler();
  EXPECT_EQ(answers, std::vector<int64_t>{kChoiceSkip});

  // Install on quit replaces the install handler only.
  int immediate = 0;
  EXPECT_TRUE(updater_.updaterWillInstallUpdateOnQuitImmediateInstallationBlock(
      Item("4.0", "u"), Block([&] { ++immediate; })));
  updater_.installHandler();
  EXPECT_EQ(immediate, 1);
  EXPECT_TRUE(updater_.skipHandler);

  updater_.dismissUpdateInstallation();
  EXPECT_FALSE(updater_.installHandler || updater_.skipHandler || updater_.cancelHandler);

  int acknowledged = 0;
  updater_.showUpdateInstalledAndRelaunchedAcknowledgement(true, Block([&] { ++acknowledged; }));
  updater_.showUpdateNotFoundWithErrorAcknowledgement(Error("x", 1001),
                                                      Block([&] { ++acknowledged; }));
  updater_.showUpdaterErrorAcknowledgement(Error("x", 1), Block([&] { ++acknowledged; }));
  EXPECT_EQ(acknowledged, 3);

  updater_.updaterWillDownloadUpdateWithRequest(Item("4.0", "u"));
  updater_.userDidCancelDownload();
  updater_.showInstallingUpdateWithApplicationTerminatedRetryTerminatingApplication(false, {});
  updater_.showUpdateInFocus();
  updater_.showExtractionReceivedProgress(0.5);
  updater_.showUpdateReleaseNotesWithDownloadData("notes");
  EXPECT_FALSE(updater_.updaterShouldDownloadReleaseNotesForUpdate(Item("4.0", "u")));

  EXPECT_EQ(takeEvents(), (std::vector<json>{
                              {{"type", "checking"}},
                              {{"type", "ready"}, {"release", json::object()}},
                              {{"type", "ready"}, {"release", ReleaseJson("4.0")}},
                              {{"type", "up-to-date"}},
                              {{"type", "error"}, {"error", "check"}, {"code", 1}},
                              {{"type", "downloading"}, {"canCancel", false}},
                              {{"type", "cancelled"}},
                              {{"type", "installing"}},
                              {{"type", "focus"}},
                          }));

  // After disposal, or without a channel, events are dropped.
  updater_.disposed = true;
  updater_.showUpdateInFocus();
  updater_.disposed = false;
  updater_.events = nullptr;
  updater_.showUpdateInFocus();
  EXPECT_TRUE(takeEvents().empty());
}

// "install", "replace" and "cancel": each answers a parked reply at most once, and every state
// change is made before the reply runs (the reply may re-enter the updater).
TEST_F(UpdaterTest, JavaScriptCallsAnswerParkedRepliesOnce) {
  enum class Call { kInstall, kReplace, kCancel };
  struct Seen {  // the updater's state as the reply sees it
    bool install, skip, cancel, pending;
    std::optional<std::string> replaced;
    int64_t attempts;
    bool operator==(const Seen&) const = default;
  };
  struct Case {
    const char* name;
    Call call;
    bool install, skip, cancel;           // parked before the call
    std::optional<std::string> released;  // "version" of the release on offer
    bool result;                          // what the call answers (cancel: true)
    std::vector<std::pair<std::string, Seen>> ran;
    const char* trace;
  };
  const Case cases[] = {
      {"install with nothing to install", Call::kInstall, false, true, true, "2.0", false, {}, ""},
      {"install",
       Call::kInstall,
       true,
       true,
       true,
       "2.0",
       true,
       {{"install", {false, false, true, false, "1.0", 2}}},
       ""},
      {"replace without a skip answer", Call::kReplace, true, false, true, "2.0", false, {}, ""},
      {"replace",
       Call::kReplace,
       true,
       true,
       true,
       "2.0",
       true,
       {{"skip", {false, false, true, true, "2.0", 0}}},
       "[updater] replace code=0 session=0 pending=0 ready=1\n"},
      {"replace without a release",
       Call::kReplace,
       false,
       true,
       false,
       std::nullopt,
       true,
       {{"skip", {false, false, false, true, std::nullopt, 0}}},
       "[updater] replace code=0 session=0 pending=0 ready=0\n"},
      {"cancel with nothing to cancel", Call::kCancel, true, true, false, "2.0", true, {}, ""},
      {"cancel",
       Call::kCancel,
       true,
       true,
       true,
       "2.0",
       true,
       {{"cancel", {true, true, false, false, "1.0", 2}}},
       ""},
  };
  setenv("QV_UPDATE_DEBUG", "1", 1);
  for (const Case& c : cases) {
    std::FILE* trace = std::tmpfile();
    ASSERT_NE(trace, nullptr);
    updater_.traceStream = trace;
    std::vector<std::pair<std::string, Seen>> ran;
    const auto reply = [&](const char* name) {
      return Block([&ran, this, name] {
        ran.push_back({name,
                       {bool(updater_.installHandler), bool(updater_.skipHandler),
                        bool(updater_.cancelHandler), updater_.pendingCheck,
                        updater_.replacedVersion, updater_.replaceAttempts}});
      });
    };
    updater_.installHandler = c.install ? reply("install") : Block();
    updater_.skipHandler = c.skip ? reply("skip") : Block();
    updater_.cancelHandler = c.cancel ? reply("cancel") : Block();
    updater_.pendingCheck = false;
    updater_.replacedVersion = "1.0";
    updater_.replaceAttempts = 2;
    updater_.releaseInfo.reset();
    if (c.released) updater_.releaseInfo = updater_.releaseFor(Item(*c.released, "u"));
    const auto call = [&] {
      switch (c.call) {
        case Call::kInstall:
          return updater_.install();
        case Call::kReplace:
          return updater_.replace();
        case Call::kCancel:
          updater_.cancel();
          return true;
      }
      return false;
    };
    EXPECT_EQ(call(), c.result) << c.name;
    EXPECT_EQ(ran, c.ran) << c.name;
    EXPECT_EQ(ReadAll(trace), c.trace) << c.name;
    std::fclose(trace);
    // Nothing is parked twice: a second call answers nothing more.
    if (c.call != Call::kCancel) {
      EXPECT_FALSE(call()) << c.name << ", again";
    } else {
      call();
    }
    EXPECT_EQ(ran, c.ran) << c.name << ", again";
    if (c.ran.empty()) {  // a refused call leaves every parked reply in place
      EXPECT_EQ(bool(updater_.installHandler), c.install) << c.name;
      EXPECT_EQ(bool(updater_.skipHandler), c.skip) << c.name;
      EXPECT_EQ(bool(updater_.cancelHandler), c.cancel) << c.name;
    }
  }
  EXPECT_TRUE(takeEvents().empty());
}

TEST_F(UpdaterTest, CheckStartsNowOrWhenTheSessionEnds) {
  struct Case {
    const char* name;
    bool session, ready;
    bool pending;
    int checks;
  };
  const Case cases[] = {
      {"idle", false, false, false, 1},
      {"idle with an update ready", false, true, false, 1},
      {"session running", true, false, true, 0},
      // A parked install answer means the session waits for JavaScript, not for the framework.
      {"session waiting for install", true, true, false, 1},
  };
  for (const Case& c : cases) {
    framework_->checks = 0;
    framework_->session = c.session;
    updater_.pendingCheck = false;
    updater_.installHandler = c.ready ? Block([] {}) : Block();
    updater_.check();
    EXPECT_EQ(updater_.pendingCheck, c.pending) << c.name;
    EXPECT_EQ(framework_->checks, c.checks) << c.name;
  }
  // Without a framework updater (before "start") a check changes nothing.
  QuorvelUpdater unstarted(Vendor{"quorvel.example", "https://download.quorvel.example/"});
  unstarted.check();
  EXPECT_FALSE(unstarted.pendingCheck);
}

TEST(UpdaterStart, StartsTheFrameworkAndDisposeSilencesIt) {
  struct Case {
    const char* name;
    std::string feedText;
    bool checkNow, automatic;
    std::optional<FrameworkError> startError;
    std::optional<std::string> feed;
    std::vector<std::string> calls;
    std::vector<json> events;
  };
  FrameworkError broken;
  broken.domain = "SUSparkleErrorDomain";
  broken.code = 1;
  const Case cases[] = {
      {"check now",
       "https://u.example/f.xml",
       true,
       true,
       std::nullopt,
       "https://u.example/f.xml",
       {"observe", "start", "background"},
       {}},
      {"automatic checks off", "f", true, false, std::nullopt, "f", {"observe", "start"}, {}},
      {"no check asked", "f", false, true, std::nullopt, "f", {"observe", "start"}, {}},
      {"empty feed falls back",
       "",
       false,
       true,
       std::nullopt,
       std::nullopt,
       {"observe", "start"},
       {}},
      {"framework fails to start",
       "f",
       true,
       true,
       broken,
       "f",
       {"observe", "start"},
       {{{"type", "error"}, {"error", "check"}, {"code", 1}}}},
  };
  for (const Case& c : cases) {
    QuorvelUpdater updater(Vendor{"quorvel.example", "https://download.quorvel.example/"});
    FakeFramework* framework = nullptr;
    std::vector<json> events;
    updater.start(
        c.feedText,
        [&](std::string text) {
          events.push_back(json::parse(text));
          return true;
        },
        [&](QuorvelUpdater& client) {
          EXPECT_EQ(&client, &updater) << c.name;
          EXPECT_EQ(client.feed, c.feed) << c.name << ": the feed is set before the framework";
          auto made = std::make_unique<FakeFramework>();
          made->automatic = c.automatic;
          made->startError = c.startError;
          framework = made.get();
          return made;
        },
        c.checkNow);
    ASSERT_NE(framework, nullptr) << c.name;
    EXPECT_EQ(framework->calls, c.calls) << c.name;
    EXPECT_EQ(events, c.events) << c.name;

    // "dispose": the observation ends once; afterwards nothing is reported, but calls still
    // reach the framework.
    framework->calls.clear();
    updater.dispose();
    updater.dispose();
    EXPECT_EQ(framework->calls, std::vector<std::string>{"stop-observing"}) << c.name;
    EXPECT_TRUE(updater.disposed) << c.name;
    updater.showUpdateInFocus();
    updater.check();
    EXPECT_EQ(events.size(), c.events.size()) << c.name;
    EXPECT_EQ(framework->checks, 1) << c.name;
  }
}

// Every flow of the framework's callback orders, replayed against the core: the events JavaScript
// receives, duplicates included, and the answers the core gives the framework on the way.
TEST(FrameworkOrders, EachFlowGivesJavaScriptItsEvents) {
  using orders::Call;
  const json release = {
      {"version", "2.0"}, {"minimumMacOS", "15.0"}, {"notes", {""}}, {"required", false}};
  const json checking = {{"type", "checking"}};
  const json available = {{"type", "available"}, {"release", release}};
  const json ready = {{"type", "ready"}, {"release", release}};
  const json upToDate = {{"type", "up-to-date"}};
  const json aboutToDownload = {{"type", "downloading"}, {"canCancel", false}};
  const json downloading = {{"type", "downloading"}, {"canCancel", true}};
  const json half = {{"type", "downloading"}, {"percent", 50}};
  const json whole = {{"type", "downloading"}, {"percent", 99}};
  const json extracting = {{"type", "downloading"}, {"canCancel", false}, {"percent", 99}};
  const auto error = [](const char* phase, int64_t code) {
    return json{{"type", "error"}, {"error", phase}, {"code", code}};
  };
  struct Case {
    std::string_view flow;
    std::vector<json> events;
    std::vector<int64_t> answers;  // choices the core gave, in order
    int checks = 0;                // checkForUpdates calls, counting deferred checks run afterwards
    bool refuses = false;          // the core refuses to proceed (the archive is on another host)
  };
  const std::vector<json> downloadStart = {checking, available, aboutToDownload, downloading, half};
  const auto then = [](std::vector<json> head, const std::vector<json>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const Case cases[] = {
      {"permission request", {}, {}},
      // The delegate, the driver and the abort each report the outcome.
      {"user-initiated check, no update", {checking, upToDate, upToDate, upToDate}, {}},
      {"user-initiated check, update downloaded, extracted, ready and installed",
       then(downloadStart,
            {whole, extracting, ready, {{"type", "focus"}}, {{"type", "installing"}}}),
       {kChoiceInstall, kChoiceInstall},
       1},
      // Nothing reports the silent installation, and the check while it waits is dropped by the
      // framework.
      {"background check, silent download, install on quit",
       {available, aboutToDownload, ready},
       {kChoiceInstall},  // the immediate installation block
       1},
      {"background check, no update", {upToDate, upToDate}, {}},
      // A feed that cannot be fetched carries the download error's code.
      {"feed error", {checking, error("download", 2001), error("download", 2001)}, {}},
      // Shown to nobody: only the abort reports it.
      {"background check, feed error", {error("download", 2001)}, {}},
      {"no feed configured", {error("check", 4), error("check", 4)}, {}},
      {"update refused by the proceed question",
       {checking, error("verify", 3002), error("verify", 3002)},
       {},
       0,
       true},
      {"download error",
       then(downloadStart, {error("download", 2001), error("download", 2001)}),
       {kChoiceInstall}},
      {"extraction error",
       then(downloadStart, {extracting, error("verify", 3000), error("verify", 3000)}),
       {kChoiceInstall}},
      {"validation error after extraction",
       then(downloadStart, {extracting, error("verify", 4005), error("verify", 4005)}),
       {kChoiceInstall}},
      // A cancelled check ends without an event.
      {"cancel during the check", {checking}, {}},
      {"cancel during the download",
       then(downloadStart, {{{"type", "cancelled"}}}),
       {kChoiceInstall}},
      // The skip ends the session quietly; the fresh check follows once it has ended.
      {"replace at ready",
       then(downloadStart, {whole, extracting, ready}),
       {kChoiceInstall, kChoiceSkip},
       1},
      // No "checking": a staged update is offered without loading the feed.
      {"staged update resumed in stage 2",
       {available, ready, {{"type", "installing"}}},
       {kChoiceInstall}},
  };
  ASSERT_EQ(std::size(cases), std::size(orders::kFlows));

  for (const orders::Flow& flow : orders::kFlows) {
    const auto found = std::find_if(std::begin(cases), std::end(cases),
                                    [&](const Case& c) { return c.flow == flow.name; });
    ASSERT_NE(found, std::end(cases)) << flow.name;
    const Case& c = *found;
    const std::string name(flow.name);

    QuorvelUpdater updater(Vendor{"quorvel.example", "https://download.quorvel.example/"});
    auto owned = std::make_unique<FakeFramework>();
    FakeFramework& framework = *owned;
    updater.updater = std::move(owned);
    updater.feed = "https://updates.example.org/feed.xml";
    std::vector<json> events;
    updater.events = [&](std::string text) {
      events.push_back(json::parse(text));
      return true;
    };

    const std::string host =
        c.refuses ? "https://elsewhere.example.org" : "https://updates.example.org";
    AppcastItem item;
    item.versionString = "2.0";
    item.fileURL = host + "/releases/Quorvel-2.0.zip";
    auto latest = std::make_shared<AppcastItem>(item);
    latest->versionString = "1.0";
    const orders::ErrorShape& shape = flow.error;
    FrameworkError failure;
    failure.domain = kSparkleErrorDomain;
    failure.code = shape.code;
    if (shape.code == kNoUpdateError) {
      failure.noUpdateReason = shape.noUpdateReason;
      failure.latestItem = latest;
    }
    if (shape.cause != 0) {
      auto cause = std::make_shared<FrameworkError>();
      cause->domain = shape.foreignCause ? "NSURLErrorDomain" : kSparkleErrorDomain;
      cause->code = shape.cause;
      if (shape.innerCause != 0) {
        auto inner = std::make_shared<FrameworkError>();
        inner->domain = kSparkleErrorDomain;
        inner->code = shape.innerCause;
        cause->underlying = inner;
      }
      failure.underlying = cause;
    }
    const bool userInitiated =
        std::any_of(flow.segments.begin(), flow.segments.end(), [](const orders::Segment* s) {
          return s == &orders::kUserFeedCheck || s == &orders::kResumeFound;
        });
    const UpdateCheck kind =
        userInitiated ? UpdateCheck::kUpdates : UpdateCheck::kUpdatesInBackground;

    std::vector<int64_t> answers;
    std::optional<PermissionResponse> permission;
    int cancellations = 0;
    int acknowledgements = 0;
    const auto choice = [&] { return ChoiceReply([&](int64_t a) { answers.push_back(a); }); };
    const auto acknowledgement = [&] { return Block([&] { ++acknowledgements; }); };
    const auto cancellation = [&] { return Block([&] { ++cancellations; }); };
    for (const orders::Segment* segment : flow.segments) {
      for (const Call call : segment->calls) {
        switch (call) {
          case Call::kSessionBegins:
          case Call::kSessionEnds:
            framework.session = call == Call::kSessionBegins;
            updater.sessionInProgressDidChange();
            break;
          case Call::kNextTurn:
            break;
          case Call::kShowUpdatePermissionRequest:
            updater.showUpdatePermissionRequestReply(
                PermissionReply([&](PermissionResponse r) { permission = r; }));
            ASSERT_TRUE(permission && permission->automaticUpdateChecks) << name;
            break;
          case Call::kShowUserInitiatedUpdateCheck:
            updater.showUserInitiatedUpdateCheckWithCancellation(cancellation());
            break;
          case Call::kShowUpdateFound:
            updater.showUpdateFoundWithAppcastItemStateReply(
                item, UserUpdateState{flow.stage, userInitiated}, choice());
            break;
          case Call::kShowUpdateNotFound:
            updater.showUpdateNotFoundWithErrorAcknowledgement(failure, acknowledgement());
            ASSERT_EQ(acknowledgements, 1) << name << ": the framework waits for it";
            break;
          case Call::kShowUpdaterError:
            updater.showUpdaterErrorAcknowledgement(failure, acknowledgement());
            ASSERT_EQ(acknowledgements, 1) << name << ": the framework waits for it";
            break;
          case Call::kShowDownloadInitiated:
            updater.showDownloadInitiatedWithCancellation(cancellation());
            break;
          case Call::kShowDownloadExpectedContentLength:
            updater.showDownloadDidReceiveExpectedContentLength(1000);
            break;
          case Call::kShowDownloadDataOfLength:
            updater.showDownloadDidReceiveDataOfLength(500);
            break;
          case Call::kShowDownloadStartedExtracting:
            updater.showDownloadDidStartExtractingUpdate();
            break;
          case Call::kShowExtractionProgress:
            updater.showExtractionReceivedProgress(1.0);
            break;
          case Call::kShowReadyToInstall:
            updater.showReadyToInstallAndRelaunch(choice());
            break;
          case Call::kShowInstalling:
            updater.showInstallingUpdateWithApplicationTerminatedRetryTerminatingApplication(
                false, Block([] {}));
            break;
          case Call::kDismissUpdateInstallation:
            updater.dismissUpdateInstallation();
            break;
          case Call::kShowUpdateInFocus:
            updater.showUpdateInFocus();
            break;
          case Call::kFeedURLString:
            EXPECT_EQ(updater.feedURLStringForUpdater(), updater.feed) << name;
            break;
          case Call::kDidFinishLoadingAppcast:
            updater.updaterDidFinishLoadingAppcast(Appcast{{item}});
            break;
          case Call::kShouldProceedWithUpdate: {
            FrameworkError refusal;
            const bool proceeded =
                updater.updaterShouldProceedWithUpdateUpdateCheckError(item, kind, &refusal);
            EXPECT_EQ(proceeded, !c.refuses) << name;
            if (!proceeded) {
              EXPECT_EQ(refusal.code, failure.code) << name;
            }
            break;
          }
          case Call::kDidFindValidUpdate:
            updater.updaterDidFindValidUpdate(item);
            break;
          case Call::kDidNotFindUpdate:
            updater.updaterDidNotFindUpdateError(failure);
            break;
          case Call::kDidAbortWithError:
            updater.updaterDidAbortWithError(failure);
            break;
          case Call::kDidFinishUpdateCycle:
            updater.updaterDidFinishUpdateCycleForUpdateCheckError(
                kind, shape.code != 0 ? &failure : nullptr);
            break;
          case Call::kWillDownloadUpdate:
            updater.updaterWillDownloadUpdateWithRequest(item);
            break;
          case Call::kUserDidCancelDownload:
            updater.userDidCancelDownload();
            break;
          case Call::kWillInstallUpdateOnQuit:
            EXPECT_TRUE(updater.updaterWillInstallUpdateOnQuitImmediateInstallationBlock(
                item, Block([&] { answers.push_back(kChoiceInstall); })))
                << name;
            break;
          case Call::kJavaScriptCheck:
            updater.check();
            break;
          case Call::kJavaScriptInstall:
            EXPECT_TRUE(updater.install()) << name;
            break;
          case Call::kJavaScriptReplace:
            EXPECT_TRUE(updater.replace()) << name;
            break;
          case Call::kJavaScriptCancel:
            updater.cancel();
            EXPECT_EQ(cancellations, 1) << name << ": the framework waits for it";
            break;
        }
      }
    }
    framework.runScheduled();

    EXPECT_EQ(events, c.events) << name;
    EXPECT_EQ(answers, c.answers) << name;
    EXPECT_EQ(framework.checks, c.checks) << name;
  }
}

// What the module does when the JavaScript environment is torn down: the framework may still
// call back afterwards (replies already queued on the main queue), and by then the channel is
// freed, so no copy of it may remain and nothing may be queued.
TEST(UpdaterStart, DetachedChannelIsDroppedAndLaterCallbacksStillAnswer) {
  QuorvelUpdater updater(Vendor{"quorvel.example", "https://download.quorvel.example/"});
  auto handle = std::make_shared<int>(0);  // stands for the channel's handle in the copy
  const std::weak_ptr<int> copy = handle;
  int queued = 0;
  updater.start(
      "https://u.example/f.xml",
      [handle = std::move(handle), &queued](const std::string&) {
        ++queued;
        return true;
      },
      [](QuorvelUpdater&) { return std::make_unique<FakeFramework>(); }, false);
  updater.showUserInitiatedUpdateCheckWithCancellation(Block());
  ASSERT_EQ(queued, 1);
  ASSERT_FALSE(copy.expired());

  updater.detachEvents();
  EXPECT_TRUE(copy.expired()) << "the core still holds the channel";
  std::vector<int64_t> choices;
  const auto reply = [&] {
    return ChoiceReply([&](int64_t choice) { choices.push_back(choice); });
  };
  AppcastItem item;
  item.versionString = "2.0";
  updater.updaterDidFindValidUpdate(item);
  updater.showUpdateFoundWithAppcastItemStateReply(item, UserUpdateState{.stage = 0}, reply());
  updater.showDownloadInitiatedWithCancellation(Block());
  updater.showDownloadDidReceiveDataOfLength(10);
  updater.showReadyToInstallAndRelaunch(reply());
  EXPECT_EQ(queued, 1) << "an event was queued on the detached channel";
  EXPECT_EQ(choices, std::vector<int64_t>{kChoiceInstall});
  EXPECT_TRUE(updater.install());
  EXPECT_EQ(choices, (std::vector<int64_t>{kChoiceInstall, kChoiceInstall}));
  EXPECT_FALSE(updater.disposed);
}

}  // namespace
}  // namespace qv::updater
