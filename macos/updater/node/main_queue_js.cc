#include "macos/updater/node/main_queue_js.h"

#include <utility>

#include "qv/napi.h"

namespace qv::updater {

using qv::napi::unchecked;

JavaScriptMainQueue::JavaScriptMainQueue(napi_env env) : env_(env) {
  napi_value name = nullptr;
  unchecked(napi_create_string_utf8(env, "Quorvel update framework", NAPI_AUTO_LENGTH, &name));
  unchecked(napi_create_threadsafe_function(env, nullptr, nullptr, name, 0, 1, nullptr, nullptr,
                                            nullptr, &JavaScriptMainQueue::Run, &tsfn_));
  unchecked(napi_unref_threadsafe_function(env, tsfn_));
  // Added after the channel exists, so it runs before the runtime closes that channel.
  hooked_ = napi_add_env_cleanup_hook(env_, &JavaScriptMainQueue::Teardown, this) == napi_ok;
}

JavaScriptMainQueue::~JavaScriptMainQueue() {
  thread_.assert_on_thread();
  if (hooked_) unchecked(napi_remove_env_cleanup_hook(env_, &JavaScriptMainQueue::Teardown, this));
  close();
}

void JavaScriptMainQueue::Teardown(void* self) {
  auto* queue = static_cast<JavaScriptMainQueue*>(self);
  queue->hooked_ = false;
  if (std::function<void()> handler = std::exchange(queue->teardown_, nullptr)) handler();
  queue->close();
}

void JavaScriptMainQueue::Run(napi_env env, napi_value /*callback*/, void* /*context*/,
                              void* data) {
  const std::unique_ptr<std::function<void()>> task = qv::napi::adopt<std::function<void()>>(data);
  if (env != nullptr) (*task)();  // without an environment the channel is being torn down
}

void JavaScriptMainQueue::post(std::function<void()> task) {
  auto item = std::make_unique<std::function<void()>>(std::move(task));
  std::lock_guard lock(postMutex_);
  // Examined: only a queued task is the channel's to free (Run adopts it).
  if (!channelClosed_ && tsfn_ != nullptr &&
      napi_call_threadsafe_function(tsfn_, item.get(), napi_tsfn_nonblocking) == napi_ok) {
    static_cast<void>(item.release());
  }
}

void JavaScriptMainQueue::hold() {
  thread_.assert_on_thread();
  if (closed_) return;
  if (holds_++ == 0) unchecked(napi_ref_threadsafe_function(env_, tsfn_));
}

void JavaScriptMainQueue::release() {
  thread_.assert_on_thread();
  if (closed_ || holds_ == 0) return;
  if (--holds_ == 0) unchecked(napi_unref_threadsafe_function(env_, tsfn_));
}

void JavaScriptMainQueue::close() {
  thread_.assert_on_thread();
  if (closed_) return;
  closed_ = true;
  std::lock_guard lock(postMutex_);
  channelClosed_ = true;
  unchecked(napi_release_threadsafe_function(tsfn_, napi_tsfn_abort));
}

void JavaScriptMainQueue::setTeardown(std::function<void()> handler) {
  thread_.assert_on_thread();
  teardown_ = std::move(handler);
}

}  // namespace qv::updater
