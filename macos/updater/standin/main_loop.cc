#include "updater/standin/main_loop.h"

#include <memory>
#include <utility>

namespace qv::updater::standin {

MainLoop::MainLoop(napi_env env) : env_(env) {
  napi_value name;
  napi_create_string_utf8(env, "Quorvel update framework", NAPI_AUTO_LENGTH, &name);
  napi_create_threadsafe_function(env, nullptr, nullptr, name, 0, 1, nullptr, nullptr, nullptr,
                                  &MainLoop::Run, &tsfn_);
  napi_unref_threadsafe_function(env, tsfn_);
  timer_ = std::thread([this] { timerThread(); });
}

MainLoop::~MainLoop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (timer_.joinable()) timer_.join();
}

void MainLoop::Run(napi_env env, napi_value, void*, void* data) {
  std::unique_ptr<std::function<void()>> task(static_cast<std::function<void()>*>(data));
  if (env != nullptr) (*task)();  // without an environment the channel is being torn down
}

void MainLoop::post(std::function<void()> task) {
  auto* item = new std::function<void()>(std::move(task));
  std::lock_guard lock(postMutex_);
  if (channelClosed_ ||
      napi_call_threadsafe_function(tsfn_, item, napi_tsfn_nonblocking) != napi_ok) {
    delete item;
  }
}

void MainLoop::hold() {
  if (closed_) return;
  if (holds_++ == 0) napi_ref_threadsafe_function(env_, tsfn_);
}

void MainLoop::release() {
  if (closed_ || holds_ == 0) return;
  if (--holds_ == 0) napi_unref_threadsafe_function(env_, tsfn_);
}

void MainLoop::after(uint64_t nanoseconds, std::function<void()> task) {
  if (closed_) return;
  hold();
  const auto due = std::chrono::steady_clock::now() + std::chrono::nanoseconds(nanoseconds);
  {
    std::lock_guard lock(mutex_);
    timers_.emplace(due, [this, task = std::move(task)] {
      release();
      task();
    });
  }
  wake_.notify_all();
}

void MainLoop::timerThread() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (timers_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto due = timers_.begin()->first;
    if (std::chrono::steady_clock::now() < due) {
      wake_.wait_until(lock, due);
      continue;
    }
    std::function<void()> task = std::move(timers_.begin()->second);
    timers_.erase(timers_.begin());
    lock.unlock();
    post(std::move(task));
    lock.lock();
  }
}

void MainLoop::shutdown() {
  if (closed_) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    timers_.clear();
  }
  wake_.notify_all();
  if (timer_.joinable()) timer_.join();
  closed_ = true;
  std::lock_guard lock(postMutex_);
  channelClosed_ = true;
  napi_release_threadsafe_function(tsfn_, napi_tsfn_abort);
}

}  // namespace qv::updater::standin
