#include "qv/thread_affinity.h"

#include <gtest/gtest.h>

#include <thread>

namespace qv {
namespace {

TEST(ThreadAffinity, DebugBuildsAbortOffTheOwningThread) {
#ifdef NDEBUG
  GTEST_SKIP() << "release builds check nothing";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const ThreadAffinity affinity;
  affinity.assert_on_thread();  // its own thread: passes
  EXPECT_DEATH(std::thread([&] { affinity.assert_on_thread(); }).join(), "does not belong");
#endif
}

}  // namespace
}  // namespace qv
