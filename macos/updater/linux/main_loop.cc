#include "macos/updater/linux/main_loop.h"

#include <memory>
#include <utility>

namespace qv::updater::standin {

MainLoop::MainLoop(napi_env env)
    : env_(env), timers_([this](TimerQueue::Task task) { post(std::move(task)); }) {
  napi_value name;
  napi_create_string_utf8(env, "Quorvel update framework", NAPI_AUTO_LENGTH, &name);
  napi_create_threadsafe_function(env, nullptr, nullptr, name, 0, 1, nullptr, nullptr, nullptr,
                                  &MainLoop::Run, &tsfn_);
  napi_unref_threadsafe_function(env, tsfn_);
}

void MainLoop::Run(napi_env env, napi_value, void*, void* data) {
  std::unique_ptr<std::function<void()>> task(static_cast<std::function<void()>*>(data));
  if (env != nullptr) (*task)();  // without an environment the channel is being torn down
}

void MainLoop::post(std::function<void()> task) {
  auto* item = new std::function<void()>(std::move(task));
  std::lock_guard lock(postMutex_);
  if (channelClosed_ || tsfn_ == nullptr ||
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
  timers_.after(nanoseconds, [this, task = std::move(task)] {
    release();
    task();
  });
}

void MainLoop::shutdown() {
  if (closed_) return;
  timers_.stop();
  closed_ = true;
  std::lock_guard lock(postMutex_);
  channelClosed_ = true;
  napi_release_threadsafe_function(tsfn_, napi_tsfn_abort);
}

}  // namespace qv::updater::standin
