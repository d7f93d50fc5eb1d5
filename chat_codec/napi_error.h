// The codec's names for the Node-API boundary of qv/napi.h: its failures become JavaScript
// errors whose `code` names the Node-API status, and its own refusals carry GenericFailure.
#pragma once

#include <string_view>

#include "qv/napi.h"

namespace qv::chat {

using NapiError = napi::Error;
template <class T>
using NapiResult = napi::Result<T>;
using NapiStatus = napi::Status;
using napi::call_error;
using napi::check;
using napi::status_name;
using napi::throw_error;

// The codec's own failure (budgets, unsupported values, an invalid sequence): a fixed text.
inline NapiError codec_error(std::string_view message) {
  return napi::generic_error(message);
}

}  // namespace qv::chat
