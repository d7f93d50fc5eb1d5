// The fast route for capturing a message: a walk compiled from JavaScript when the module loads
// visits the message inside the engine, with the same rules, order of reads and budgets as the
// Node-API walk in capture.h, and hands the result over in two transfers (a Float64Array of
// tags and numbers, and one string holding every key and string value). Each Node-API call
// costs tens of nanoseconds, so the per-node walk spends most of its time crossing into the
// engine; this route crosses only a few times per capture.
#pragma once

#include <node_api.h>

#include <memory>

#include "message_value.h"
#include "napi_error.h"

namespace qv::chat {

class ScriptCapture {
 public:
  // Null when the walk cannot be compiled (the caller then uses the Node-API walk).
  static std::unique_ptr<ScriptCapture> create(napi_env env);
  ~ScriptCapture();
  ScriptCapture(const ScriptCapture&) = delete;
  ScriptCapture& operator=(const ScriptCapture&) = delete;

  // The walk as a value of the current call. A failure here happens before any capture.
  struct Walk {
    napi_value function = nullptr;
    napi_value receiver = nullptr;
  };
  NapiResult<Walk> prepare(napi_env env) const;

  // Same results as capture_value at depth 0 with a fresh budget: the tree, a refusal text with
  // GenericFailure, or the failure of a call (a getter's exception stays pending).
  static NapiResult<MessageValue> capture(napi_env env, const Walk& walk, napi_value message);

 private:
  ScriptCapture(napi_env env, napi_ref walk) : env_(env), walk_(walk) {}

  napi_env env_;
  napi_ref walk_;
};

}  // namespace qv::chat
