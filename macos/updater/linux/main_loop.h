// Running work on the JavaScript thread from any thread, now or after a delay, through the Node
// event loop. The loop is kept alive only while something is running or scheduled.
#pragma once

#include <node_api.h>

#include <cstdint>
#include <functional>
#include <mutex>

#include "macos/updater/linux/timer_queue.h"

namespace qv::updater::standin {

class MainLoop {
 public:
  explicit MainLoop(napi_env env);
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // Any thread: runs task on the JavaScript thread in a later turn. Dropped after shutdown.
  void post(std::function<void()> task);
  // JavaScript thread: keeps the loop alive until the matching release.
  void hold();
  void release();
  // JavaScript thread: runs task on the JavaScript thread after the delay, holding the loop.
  void after(uint64_t nanoseconds, std::function<void()> task);
  // JavaScript thread, at environment teardown: stops the timers and closes the channel.
  void shutdown();

 private:
  static void Run(napi_env env, napi_value, void*, void* data);

  napi_env env_;
  napi_threadsafe_function tsfn_ = nullptr;
  int holds_ = 0;
  bool closed_ = false;
  std::mutex postMutex_;
  bool channelClosed_ = false;  // under postMutex_: the channel may no longer be called
  TimerQueue timers_;
};

}  // namespace qv::updater::standin
