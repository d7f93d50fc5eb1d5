#include "macos/updater/linux/timer_queue.h"

#include <utility>

namespace qv::updater::standin {

TimerQueue::TimerQueue(std::function<void(Task)> dispatch)
    : dispatch_(std::move(dispatch)), thread_([this] { run(); }) {}

TimerQueue::~TimerQueue() {
  stop();
}

void TimerQueue::after(uint64_t nanoseconds, Task task) {
  const auto due = std::chrono::steady_clock::now() + std::chrono::nanoseconds(nanoseconds);
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    due_.emplace(due, std::move(task));
  }
  wake_.notify_all();
}

void TimerQueue::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    due_.clear();
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TimerQueue::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (due_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto when = due_.begin()->first;
    if (std::chrono::steady_clock::now() < when) {
      wake_.wait_until(lock, when);
      continue;
    }
    Task task = std::move(due_.begin()->second);
    due_.erase(due_.begin());
    lock.unlock();
    dispatch_(std::move(task));
    lock.lock();
  }
}

}  // namespace qv::updater::standin
