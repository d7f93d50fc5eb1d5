// Turning edits and captured values into fresh JavaScript values. Nothing in the output refers to
// the caller's own objects.
#pragma once

#include <node_api.h>

#include <cstddef>
#include <memory>

#include "edits.h"
#include "message_value.h"
#include "napi_error.h"

namespace qv::chat {

// A new JavaScript value equal to `value`: -0, NaN and unpaired surrogates kept; object entries
// become own data properties (a captured "__proto__" key included) in captured order.
NapiResult<napi_value> to_js_value(napi_env env, const MessageValue& value);

// The property names and op strings of delta objects, made once per environment: creating and
// internalizing them again for every delta costs more than building a small delta.
class DeltaNames {
 public:
  static constexpr std::size_t kCount = 10;
  struct Names {
    napi_value base_seq, edits, path, op, value, offset, text, set, remove, append;
  };

  static std::unique_ptr<DeltaNames> create(napi_env env);
  ~DeltaNames();
  DeltaNames(const DeltaNames&) = delete;
  DeltaNames& operator=(const DeltaNames&) = delete;

  NapiResult<Names> resolve(napi_env env) const;

 private:
  DeltaNames(napi_env env, napi_ref names) : env_(env), names_(names) {}
  napi_env env_;
  napi_ref names_;
};

// The delta object {baseSeq, edits: [{path, op, value | offset, text}, ...]}.
NapiResult<napi_value> build_delta(napi_env env, const EditList& edits, double base_seq,
                                   const DeltaNames& names);

}  // namespace qv::chat
