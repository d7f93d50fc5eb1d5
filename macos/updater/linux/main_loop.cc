#include "macos/updater/linux/main_loop.h"

#include <utility>

namespace qv::updater::standin {

MainLoop::MainLoop(std::unique_ptr<MainQueue> queue)
    : queue_(std::move(queue)), timers_([this](TimerQueue::Task task) { post(std::move(task)); }) {}

void MainLoop::post(std::function<void()> task) {
  queue_->post(std::move(task));
}

void MainLoop::hold() {
  thread_.assert_on_thread();
  if (!closed_) queue_->hold();
}

void MainLoop::release() {
  thread_.assert_on_thread();
  if (!closed_) queue_->release();
}

void MainLoop::after(uint64_t nanoseconds, std::function<void()> task) {
  thread_.assert_on_thread();
  if (closed_) return;
  hold();
  timers_.after(nanoseconds, [this, task = std::move(task)] {
    release();
    task();
  });
}

void MainLoop::setTeardown(std::function<void()> handler) {
  thread_.assert_on_thread();
  queue_->setTeardown(std::move(handler));
}

void MainLoop::shutdown() {
  thread_.assert_on_thread();
  if (closed_) return;
  timers_.stop();
  closed_ = true;
  queue_->close();
}

}  // namespace qv::updater::standin
