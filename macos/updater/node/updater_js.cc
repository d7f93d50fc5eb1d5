// The updater's JavaScript functions and its event channel.
#include "macos/updater/node/updater_js.h"

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "macos/updater/node/main_queue_js.h"
#include "macos/updater/platform.h"
#include "macos/updater/updater.h"
#include "qv/napi.h"

namespace {

using qv::napi::unchecked;
using qv::updater::QuorvelUpdater;

constexpr const char* kInvalidInitialization = "Invalid updater initialization";
constexpr const char* kNotReady = "Update is not ready";

// The one updater of the process. Never released: the framework may call it until the process
// ends, and "dispose" only silences it. Nor is it held by a static owner: that would destroy it
// during exit while the framework's objects, which are never torn down, can still call it.
QuorvelUpdater* controller = nullptr;
// The event channel; empty before "start" and after "dispose".
napi_threadsafe_function events = nullptr;
// Flush markers queued on the channel and not yet delivered; while there are any, the channel
// keeps the loop alive (FlushEvents).
int flushes = 0;

// The updater's state lives on the main thread; a call from another JavaScript thread (a worker
// that loaded this module) finds no updater, as before "start", and leaves that state alone.
bool Started() {
  return qv::updater::platform::IsMainThread() && controller != nullptr;
}

napi_value Undefined(napi_env env) {
  napi_value undefined = nullptr;
  unchecked(napi_get_undefined(env, &undefined));
  return undefined;
}

napi_value Throw(napi_env env, const char* message) {
  unchecked(napi_throw_error(env, nullptr, message));
  return Undefined(env);
}

void EndFlush(napi_env env) {
  if (flushes > 0 && --flushes == 0 && events != nullptr) {
    unchecked(napi_unref_threadsafe_function(env, events));
  }
}

// Holds the loop until the channel reaches a marker queued behind every event queued so far.
void FlushEvents(napi_env env) {
  if (events == nullptr) return;
  if (flushes++ == 0) unchecked(napi_ref_threadsafe_function(env, events));
  // Examined: a marker that was not queued is never delivered, so the flush ends here.
  if (napi_call_threadsafe_function(events, nullptr, napi_tsfn_nonblocking) != napi_ok) {
    EndFlush(env);
  }
}

// Call-into-JavaScript callback of the channel: one JSON string per event, or a flush marker.
void Deliver(napi_env env, napi_value jsCallback, void* /*context*/, void* data) {
  if (data == nullptr) {
    if (env != nullptr) EndFlush(env);
    return;
  }
  const std::unique_ptr<char[]> text = qv::napi::adopt<char[]>(data);
  // Events still queued when "dispose" ran are dropped, so nothing arrives after it.
  const bool disposed = controller == nullptr || controller->disposed;
  if (env != nullptr && jsCallback != nullptr && !disposed) {
    napi_value receiver = Undefined(env);
    napi_value argument = nullptr;
    unchecked(napi_create_string_utf8(env, text.get(), NAPI_AUTO_LENGTH, &argument));
    napi_value result = nullptr;
    unchecked(napi_call_function(env, receiver, jsCallback, 1, &argument, &result));
  }
}

// Releases the event channel, which closes once drained; it then holds the loop for no flush.
void CloseEvents() {
  if (events == nullptr) return;
  unchecked(napi_release_threadsafe_function(events, napi_tsfn_release));
  events = nullptr;
  flushes = 0;
}

// Environment teardown: the runtime is about to close the channel and free its handle, while
// the framework may still call back later (a reply already queued on the main queue). Release
// the channel and clear the core's copy of it, so such callbacks drop their events instead of
// queuing on a freed channel.
void TearDown(void* /*arg*/) {
  if (controller != nullptr) controller->detachEvents();
  CloseEvents();
}

bool Queue(napi_threadsafe_function channel, const std::string& json) {
  auto text = std::make_unique<char[]>(json.size() + 1);
  std::memcpy(text.get(), json.c_str(), json.size() + 1);
  // Examined: only a queued text is the channel's to free (Deliver adopts it).
  if (napi_call_threadsafe_function(channel, text.get(), napi_tsfn_nonblocking) != napi_ok) {
    return false;
  }
  static_cast<void>(text.release());
  return true;
}

std::string FeedText(napi_env env, napi_value value) {
  // A value that is not a string leaves the length at 0 and reads as empty text.
  size_t length = 0;
  unchecked(napi_get_value_string_utf8(env, value, nullptr, 0, &length));
  std::vector<char> buffer(length + 1, '\0');
  size_t copied = 0;
  unchecked(napi_get_value_string_utf8(env, value, buffer.data(), buffer.size(), &copied));
  return std::string(buffer.data(), length);
}

napi_value Boolean(napi_env env, bool value) {
  napi_value result = nullptr;
  unchecked(napi_get_boolean(env, value, &result));
  return result;
}

napi_value Start(napi_env env, napi_callback_info info) {
  size_t argc = 3;
  napi_value argv[3] = {};
  unchecked(napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr));
  if (controller != nullptr || argc != 3 || !qv::updater::platform::IsMainThread()) {
    return Throw(env, kInvalidInitialization);
  }
  // Without a function there can be no channel; refuse before anything is created.
  napi_valuetype callbackType = napi_undefined;
  unchecked(napi_typeof(env, argv[1], &callbackType));
  if (callbackType != napi_function) return Throw(env, kInvalidInitialization);

  bool checkNow = false;
  unchecked(napi_get_value_bool(env, argv[2], &checkNow));  // a non-boolean leaves it false
  std::string feed = FeedText(env, argv[0]);

  controller = new QuorvelUpdater();
  napi_value name = nullptr;
  unchecked(napi_create_string_utf8(env, "Sparkle events", NAPI_AUTO_LENGTH, &name));
  unchecked(napi_create_threadsafe_function(env, argv[1], nullptr, name, 0, 1, nullptr, nullptr,
                                            nullptr, &Deliver, &events));
  unchecked(napi_unref_threadsafe_function(env, events));
  // Cleanup hooks run last added first: added after the channel, this one runs while the
  // channel's handle is still valid.
  unchecked(napi_add_env_cleanup_hook(env, &TearDown, nullptr));
  controller->start(
      std::move(feed), [channel = events](const std::string& text) { return Queue(channel, text); },
      [env](QuorvelUpdater& client) {
        auto framework = qv::updater::platform::CreateFrameworkUpdater(
            client, [env] { return std::make_unique<qv::updater::JavaScriptMainQueue>(env); });
        framework->setEventFlush([env] { FlushEvents(env); });
        return framework;
      },
      checkNow);
  return Undefined(env);
}

napi_value Check(napi_env env, napi_callback_info /*info*/) {
  if (Started()) controller->check();
  return Undefined(env);
}

napi_value Install(napi_env env, napi_callback_info /*info*/) {
  if (!Started() || !controller->install()) return Throw(env, kNotReady);
  return Undefined(env);
}

napi_value Replace(napi_env env, napi_callback_info /*info*/) {
  return Boolean(env, Started() && controller->replace());
}

napi_value Cancel(napi_env env, napi_callback_info /*info*/) {
  if (Started()) controller->cancel();
  return Undefined(env);
}

napi_value Dispose(napi_env env, napi_callback_info /*info*/) {
  if (!Started()) return Undefined(env);
  controller->dispose();
  CloseEvents();
  return Undefined(env);
}

}  // namespace

void RegisterUpdater(napi_env env, napi_value exports) {
  const std::pair<const char*, napi_callback> functions[] = {
      {"start", &Start},     {"check", &Check},   {"install", &Install},
      {"replace", &Replace}, {"cancel", &Cancel}, {"dispose", &Dispose},
  };
  for (const auto& [name, callback] : functions) {
    napi_value fn = nullptr;
    unchecked(napi_create_function(env, name, NAPI_AUTO_LENGTH, callback, nullptr, &fn));
    unchecked(napi_set_named_property(env, exports, name, fn));
  }
}
