#include "chat_codec/napi_error.h"

#include <array>

namespace qv::chat {

const char* status_name(int status) {
  static constexpr std::array<const char*, 23> kNames = {
      "Ok",
      "InvalidArg",
      "ObjectExpected",
      "StringExpected",
      "NameExpected",
      "FunctionExpected",
      "NumberExpected",
      "BooleanExpected",
      "ArrayExpected",
      "GenericFailure",
      "PendingException",
      "Cancelled",
      "EscapeCalledTwice",
      "HandleScopeMismatch",
      "CallbackScopeMismatch",
      "QueueFull",
      "Closing",
      "BigintExpected",
      "DateExpected",
      "ArrayBufferExpected",
      "DetachableArraybufferExpected",
      "WouldDeadlock",
      "NoExternalBuffersAllowed",
  };
  if (status < 0 || static_cast<std::size_t>(status) >= kNames.size()) return "Unknown";
  return kNames[static_cast<std::size_t>(status)];
}

NapiError codec_error(std::string_view message) {
  return NapiError{napi_generic_failure, std::string(message)};
}

NapiError call_error(napi_status status, std::string_view step) {
  std::string message = "Failed to ";
  message += step;
  return NapiError{status, std::move(message)};
}

void throw_error(napi_env env, const NapiError& error) {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) != napi_ok || pending) return;
  napi_value code = nullptr;
  napi_value message = nullptr;
  napi_value object = nullptr;
  if (napi_create_string_utf8(env, status_name(error.status), NAPI_AUTO_LENGTH, &code) != napi_ok ||
      napi_create_string_utf8(env, error.message.data(), error.message.size(), &message) !=
          napi_ok ||
      napi_create_error(env, code, message, &object) != napi_ok) {
    return;
  }
  napi_throw(env, object);
}

}  // namespace qv::chat
