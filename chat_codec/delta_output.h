// Turning edits and captured values into fresh JavaScript values. Nothing in the output refers to
// the caller's own objects.
#pragma once

#include <node_api.h>

#include <cstddef>

#include "chat_codec/edits.h"
#include "chat_codec/message_value.h"
#include "qv/napi.h"

namespace qv::chat {

// A new JavaScript value equal to `value`: -0, NaN and unpaired surrogates kept; object entries
// become own data properties (a captured "__proto__" key included) in captured order.
napi::Result<napi_value> to_js_value(napi_env env, const MessageValue& value);

// The property names and op strings of delta objects, made once per environment: creating and
// internalizing them again for every delta costs more than building a small delta. They are
// kept in one array: references of this Node-API version hold objects only.
class DeltaNames {
 public:
  struct Names {
    napi_value base_seq, edits, path, op, value, offset, text, set, remove, append;
  };
  static constexpr std::size_t kCount = sizeof(Names) / sizeof(napi_value);

  static napi::Result<DeltaNames> create(napi_env env);
  // The names as values of the current call.
  napi::Result<Names> resolve(napi_env env) const;

 private:
  napi::Reference names_;
};

// The delta object {baseSeq, edits: [{path, op, value | offset, text}, ...]}.
napi::Result<napi_value> build_delta(napi_env env, const EditList& edits, double base_seq,
                                     const DeltaNames& names);

}  // namespace qv::chat
