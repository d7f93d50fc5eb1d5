// Listing an object's own enumerable keys in the engine's order: string keys (integer-like keys
// converted to strings) followed by enumerable symbol keys, as the capture needs them.
#pragma once

#include <node_api.h>

#include <cstdint>
#include <memory>

#include "napi_error.h"

namespace qv::chat {

// Made once per environment when the module loads. It calls a small function built from the
// engine's own Object.keys, which is much cheaper per object than napi_get_all_property_names;
// when that function cannot be built, it falls back to napi_get_all_property_names.
class OwnKeys {
 public:
  static NapiResult<std::unique_ptr<OwnKeys>> create(napi_env env);
  ~OwnKeys();
  OwnKeys(const OwnKeys&) = delete;
  OwnKeys& operator=(const OwnKeys&) = delete;

  // The helpers as values of the current call; resolved once per capture, not per object.
  struct Functions {
    napi_value list = nullptr;  // null when falling back
    napi_value count = nullptr;
    napi_value receiver = nullptr;
  };
  NapiResult<Functions> resolve(napi_env env) const;

  // An array of the keys (strings, then symbols).
  static NapiResult<napi_value> list(napi_env env, const Functions& fns, napi_value object);
  // How many keys `list` would return, without building the array's strings in native code.
  static NapiResult<std::uint32_t> count(napi_env env, const Functions& fns, napi_value object);

 private:
  OwnKeys(napi_env env, napi_ref list, napi_ref count) : env_(env), list_(list), count_(count) {}

  napi_env env_;
  napi_ref list_;   // null when falling back
  napi_ref count_;  // null when falling back
};

}  // namespace qv::chat
