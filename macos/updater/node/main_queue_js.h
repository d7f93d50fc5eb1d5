// The main queue of a framework that has none of its own, made by the module over the Node event
// loop of its JavaScript environment, whose thread is the main thread.
#pragma once

#include <node_api.h>

#include <functional>
#include <memory>
#include <mutex>

#include "macos/updater/platform.h"
#include "qv/thread_affinity.h"

namespace qv::updater {

class JavaScriptMainQueue final : public MainQueue {
 public:
  // JavaScript thread.
  explicit JavaScriptMainQueue(napi_env env);
  ~JavaScriptMainQueue() override;
  JavaScriptMainQueue(const JavaScriptMainQueue&) = delete;
  JavaScriptMainQueue& operator=(const JavaScriptMainQueue&) = delete;

  void post(std::function<void()> task) override;
  void hold() override;
  void release() override;
  void close() override;
  void setTeardown(std::function<void()> handler) override;

 private:
  static void Run(napi_env env, napi_value callback, void* context, void* data);
  static void Teardown(void* self);

  napi_env env_;
  qv::ThreadAffinity thread_;
  napi_threadsafe_function tsfn_ = nullptr;
  int holds_ = 0;
  bool closed_ = false;
  bool hooked_ = false;  // the environment cleanup hook is registered and has not run
  std::function<void()> teardown_;
  std::mutex postMutex_;
  bool channelClosed_ = false;  // under postMutex_: the channel may no longer be called
};

}  // namespace qv::updater
