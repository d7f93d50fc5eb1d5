// The cancel flag crossing threads while a scan runs on its own thread.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "macos/cleanup/clean_copies.h"
#include "macos/cleanup/testing/scan_platform_testing.h"
#include "macos/cleanup/testing/test_tree_testing.h"

namespace qv::cleanup {
namespace {

constexpr char kIdentifier[] = "app.quorvel.test";

struct Tree {
  testing::TempFolder temp;
  std::string apps = temp.path() + "/Applications";
  std::string running;
  explicit Tree(int copies) {
    running = testing::MakeBundle(apps, "Quorvel.app");
    for (int i = 2; i < copies + 2; ++i) {
      testing::MakeBundle(apps, "Quorvel " + std::to_string(i) + ".app");
    }
  }
};

// A cancel made on another thread while the scan waits right before a move stops the scan there.
TEST(CleanupCancelTest, CancelFromAnotherThreadStopsBeforeTheMove) {
  Tree tree(3);
  testing::ScanPlatform platform(tree.temp.path() + "/Trash");
  std::atomic<bool> cancelled{false};
  std::promise<void> reached;
  std::promise<void> cancel_done;
  std::shared_future<void> cancel_seen = cancel_done.get_future().share();
  bool first = true;
  platform.after_signature = [&](const std::string& bundle) {
    if (bundle == tree.running || !first) return;
    first = false;
    reached.set_value();
    cancel_seen.wait();
  };
  std::future<CleanupResult> scan = std::async(std::launch::async, [&] {
    return CleanCopies(platform, tree.running, {tree.apps}, kIdentifier, cancelled);
  });
  reached.get_future().wait();
  cancelled.store(true);
  cancel_done.set_value();
  const CleanupResult result = scan.get();
  EXPECT_EQ(result.status, CleanupStatus::kComplete);
  EXPECT_TRUE(result.removed.empty());
  EXPECT_EQ(result.counts.unverified + result.counts.busy + result.counts.newer +
                result.counts.inaccessible,
            0U);
  for (int i = 2; i < 5; ++i) {
    EXPECT_TRUE(testing::Exists(tree.apps + "/Quorvel " + std::to_string(i) + ".app"));
  }
}

// A cancel racing a running scan: whatever was done before the flag was seen is reported,
// and every copy is either reported removed or still in place.
TEST(CleanupCancelTest, CancelRacingTheScan) {
  for (int round = 0; round < 4; ++round) {
    Tree tree(12);
    testing::ScanPlatform platform(tree.temp.path() + "/Trash");
    std::atomic<bool> cancelled{false};
    std::thread scan_thread;
    CleanupResult result;
    scan_thread = std::thread(
        [&] { result = CleanCopies(platform, tree.running, {tree.apps}, kIdentifier, cancelled); });
    std::this_thread::sleep_for(std::chrono::microseconds(500 * round));
    cancelled.store(true);
    scan_thread.join();
    EXPECT_EQ(result.status, CleanupStatus::kComplete);
    int present = 0;
    for (int i = 2; i < 14; ++i) {
      present += testing::Exists(tree.apps + "/Quorvel " + std::to_string(i) + ".app") ? 1 : 0;
    }
    EXPECT_EQ(present + static_cast<int>(result.removed.size()), 12);
    EXPECT_TRUE(testing::Exists(tree.running));
  }
}

}  // namespace
}  // namespace qv::cleanup
