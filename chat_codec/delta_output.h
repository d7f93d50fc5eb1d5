// Turning edits and captured values into fresh JavaScript values. Nothing in the output refers to
// the caller's own objects.
#pragma once

#include <node_api.h>

#include "edits.h"
#include "message_value.h"
#include "napi_error.h"

namespace qv::chat {

// A new JavaScript value equal to `value`: -0, NaN and unpaired surrogates kept; object entries
// become own data properties (a captured "__proto__" key included) in captured order.
NapiResult<napi_value> to_js_value(napi_env env, const MessageValue& value);

// The delta object {baseSeq, edits: [{path, op, value | offset, text}, ...]}.
NapiResult<napi_value> build_delta(napi_env env, const EditList& edits, double base_seq);

}  // namespace qv::chat
