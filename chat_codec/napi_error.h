// How the codec's failures become JavaScript errors: an Error whose `code` names the Node-API
// status. A failure caused by a pending JavaScript exception is left to that exception.
#pragma once

#include <node_api.h>

#include <string>
#include <string_view>

#include "qv/result.h"

namespace qv::chat {

struct NapiError {
  napi_status status = napi_generic_failure;
  std::string message;
};

template <class T>
using NapiResult = Result<T, NapiError>;
using NapiStatus = Status<NapiError>;

// The name of a Node-API status by value ("InvalidArg", "GenericFailure", ...), "Unknown" if none.
const char* status_name(int status);

// The codec's own failure: code GenericFailure and a fixed text.
NapiError codec_error(std::string_view message);

// A failed Node-API call during `step`.
NapiError call_error(napi_status status, std::string_view step);

// Throws `error` into JavaScript unless an exception is already pending: when JavaScript code
// (a getter, a proxy trap) threw, that exception is what the caller sees, unmasked.
void throw_error(napi_env env, const NapiError& error);

// Checks a Node-API call: `if (auto s = check(napi_x(...), "step"); !s) return Err{...}`.
inline NapiStatus check(napi_status status, std::string_view step) {
  if (status == napi_ok) return kOk;
  return Err{call_error(status, step)};
}

}  // namespace qv::chat

// Returns the failure of a Node-API call from the enclosing function, which returns a NapiResult.
#define QV_NAPI_CALL(call, step)                                          \
  do {                                                                    \
    if (napi_status qv_napi_status_ = (call); qv_napi_status_ != napi_ok) \
      return ::qv::Err{::qv::chat::call_error(qv_napi_status_, (step))};  \
  } while (false)
