// Engine functions the Node-API walk calls: listing an object's own enumerable keys in the
// engine's order (string keys, integer-like ones converted to strings, then enumerable symbol
// keys), and reading an object's prototype the way JavaScript does.
#pragma once

#include <node_api.h>

#include <cstdint>
#include <memory>

#include "napi_error.h"

namespace qv::chat {

// Made once per environment when the module loads. It calls a small function built from the
// engine's own Object.keys, which is much cheaper per object than napi_get_all_property_names;
// when that function cannot be built, it falls back to napi_get_all_property_names.
class EngineHelpers {
 public:
  // Without `scripts` the keys are listed with napi_get_all_property_names.
  static NapiResult<std::unique_ptr<EngineHelpers>> create(napi_env env, bool scripts);
  ~EngineHelpers();
  EngineHelpers(const EngineHelpers&) = delete;
  EngineHelpers& operator=(const EngineHelpers&) = delete;

  // The helpers as values of the current call; resolved once per capture, not per object.
  struct Functions {
    napi_value list = nullptr;  // null when falling back
    napi_value count = nullptr;
    napi_value receiver = nullptr;
    napi_value prototype_of = nullptr;
  };
  NapiResult<Functions> resolve(napi_env env) const;

  // An array of the keys (strings, then symbols).
  static NapiResult<napi_value> list(napi_env env, const Functions& fns, napi_value object);
  // How many keys `list` would return, without building the array's strings in native code.
  static NapiResult<std::uint32_t> count(napi_env env, const Functions& fns, napi_value object);
  // Object.getPrototypeOf: unlike napi_get_prototype, which reports null for every proxy, it
  // asks a proxy's trap, so a proxy for a date, a class instance or an array is not taken for a
  // plain object.
  static NapiResult<napi_value> prototype(napi_env env, const Functions& fns, napi_value object);

 private:
  EngineHelpers(napi_env env, napi_ref list, napi_ref count, napi_ref prototype_of)
      : env_(env), list_(list), count_(count), prototype_of_(prototype_of) {}

  napi_env env_;
  napi_ref list_;   // null when falling back
  napi_ref count_;  // null when falling back
  napi_ref prototype_of_;
};

}  // namespace qv::chat
