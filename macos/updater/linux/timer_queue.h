// Tasks due after a delay, handed to a dispatch function by a thread of their own when due.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace qv::updater::standin {

class TimerQueue {
 public:
  using Task = std::function<void()>;
  // dispatch runs on the queue's thread; it should hand the task on, not run long work.
  explicit TimerQueue(std::function<void(Task)> dispatch);
  ~TimerQueue();  // stops; tasks not yet due are dropped
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  void after(uint64_t nanoseconds, Task task);
  void stop();

 private:
  void run();

  std::function<void(Task)> dispatch_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::multimap<std::chrono::steady_clock::time_point, Task> due_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace qv::updater::standin
