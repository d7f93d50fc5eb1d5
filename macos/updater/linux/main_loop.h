// Running work on the main thread from any thread, now or after a delay, through the main queue
// the module gives the stand-in. The queue is held only while something is running or scheduled.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "macos/updater/linux/timer_queue.h"
#include "macos/updater/platform.h"
#include "qv/thread_affinity.h"

namespace qv::updater::standin {

class MainLoop {
 public:
  explicit MainLoop(std::unique_ptr<MainQueue> queue);
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // Any thread: runs task on the main thread in a later turn. Dropped after shutdown.
  void post(std::function<void()> task);
  // Main thread: keeps the process running until the matching release.
  void hold();
  void release();
  // Main thread: runs task on the main thread after the delay, holding the queue.
  void after(uint64_t nanoseconds, std::function<void()> task);
  // Main thread: handler runs once when the environment ends, before shutdown.
  void setTeardown(std::function<void()> handler);
  // Main thread, at environment teardown: stops the timers and closes the queue.
  void shutdown();

 private:
  qv::ThreadAffinity thread_;  // the main thread, which makes the loop
  std::unique_ptr<MainQueue> queue_;
  bool closed_ = false;
  TimerQueue timers_;
};

}  // namespace qv::updater::standin
