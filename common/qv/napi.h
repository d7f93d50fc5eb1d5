// The Node-API boundary of the modules: how a failed call becomes a JavaScript error, how an
// entry point hands its outcome to JavaScript once, the calls whose status is deliberately left
// unexamined, and owners for the handles and native state a module keeps beyond one call.
// Header-only and made of plain Node-API calls, so it serves a module that resolves those
// functions from the hosting process when it is loaded as well as one that links them.
#pragma once

#include <node_api.h>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "qv/result.h"

namespace qv::napi {

// ---------------------------------------------------------------------------------------------
// Unchecked calls. Where a module's contract is that a call's status is not acted upon, the call
// goes through here, so that the choice is written at the call and not mistaken for an
// oversight: `napi::unchecked(napi_create_promise(env, &deferred, &promise));`.

inline void unchecked(napi_status /*status*/) {}

// ---------------------------------------------------------------------------------------------
// Errors: a JavaScript Error whose `message` is the text and whose `code` names the status.

struct Error {
  napi_status status = napi_generic_failure;
  std::string message;
  bool as_type_error = false;  // thrown as a TypeError rather than a plain Error
};

template <class T>
using Result = qv::Result<T, Error>;
using Status = qv::Status<Error>;

// The name of a Node-API status by value ("InvalidArg", "GenericFailure", ...), "Unknown" if none.
inline const char* status_name(int status) {
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

// A module's own failure, not a failed call: code GenericFailure and a fixed text.
inline Error generic_error(std::string_view message) {
  return Error{napi_generic_failure, std::string(message)};
}

// A refusal JavaScript sees as a TypeError (a class called without `new`).
inline Error type_error(napi_status status, std::string_view message) {
  return Error{status, std::string(message), true};
}

// A failed Node-API call during `step`.
inline Error call_error(napi_status status, std::string_view step) {
  std::string message = "Failed to ";
  message += step;
  return Error{status, std::move(message)};
}

// Throws `error` into JavaScript unless an exception is already pending: when JavaScript code
// (a getter, a proxy trap) threw, that exception is what the caller sees, unmasked. Nothing is
// thrown when the error object itself cannot be made: there is nobody left to tell.
inline void throw_error(napi_env env, const Error& error) {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) != napi_ok || pending) return;
  napi_value code = nullptr;
  napi_value message = nullptr;
  napi_value object = nullptr;
  if (napi_create_string_utf8(env, status_name(error.status), NAPI_AUTO_LENGTH, &code) != napi_ok ||
      napi_create_string_utf8(env, error.message.data(), error.message.size(), &message) !=
          napi_ok) {
    return;
  }
  const napi_status made = error.as_type_error ? napi_create_type_error(env, code, message, &object)
                                               : napi_create_error(env, code, message, &object);
  if (made == napi_ok) unchecked(napi_throw(env, object));
}

// Checks a Node-API call: `QV_TRY(check(napi_x(...), "step"))`.
inline Status check(napi_status status, std::string_view step) {
  if (status == napi_ok) return kOk;
  return Err{call_error(status, step)};
}

// ---------------------------------------------------------------------------------------------
// Entry points: the body returns a Result; the adapter gives JavaScript the value, or throws the
// error once and returns no value.

inline napi_value finish(napi_env env, Result<napi_value> outcome) {
  if (outcome) return *outcome;
  throw_error(env, outcome.error());
  return nullptr;
}

// A napi_callback made from `Body`: `napi::entry<&Update>`.
template <Result<napi_value> (*Body)(napi_env, napi_callback_info)>
napi_value entry(napi_env env, napi_callback_info info) {
  return finish(env, Body(env, info));
}

// ---------------------------------------------------------------------------------------------
// Handle owners.

// Owns one handle of a Node-API environment and gives it back exactly once, through Release
// (called as release(env, handle)), when the owner is reset or destroyed. A moved-from owner
// holds nothing. Release runs on the thread that destroys the owner: for references and async
// work that must be the JavaScript thread.
template <class Handle, class Release>
class Unique {
 public:
  Unique() = default;
  Unique(napi_env env, Handle handle) : env_(env), handle_(handle) {}
  Unique(Unique&& other) noexcept
      : env_(other.env_), handle_(std::exchange(other.handle_, Handle{})) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) {
      reset();
      env_ = other.env_;
      handle_ = std::exchange(other.handle_, Handle{});
    }
    return *this;
  }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  ~Unique() { reset(); }

  Handle get() const { return handle_; }
  napi_env env() const { return env_; }
  explicit operator bool() const { return handle_ != Handle{}; }

  // Gives the handle back now; the owner then holds nothing.
  void reset() {
    if (handle_ != Handle{}) Release{}(env_, std::exchange(handle_, Handle{}));
  }
  // Hands the handle over to a caller that gives it back itself (a completion callback).
  [[nodiscard]] Handle release() { return std::exchange(handle_, Handle{}); }

 private:
  napi_env env_ = nullptr;
  Handle handle_{};
};

// The statuses of these releases have nobody to go to: an owner is given back in a destructor.
struct DeleteReference {
  void operator()(napi_env env, napi_ref ref) const { unchecked(napi_delete_reference(env, ref)); }
};
struct DeleteAsyncWork {
  void operator()(napi_env env, napi_async_work work) const {
    unchecked(napi_delete_async_work(env, work));
  }
};

using Reference = Unique<napi_ref, DeleteReference>;
using AsyncWork = Unique<napi_async_work, DeleteAsyncWork>;

// A strong reference (count 1) to `value`; `out` is left empty on failure.
inline napi_status make_reference(napi_env env, napi_value value, Reference& out) {
  napi_ref ref = nullptr;
  napi_status status = napi_create_reference(env, value, 1, &ref);
  if (status == napi_ok) out = Reference(env, ref);
  return status;
}

// The referenced value as a handle of the current call.
inline napi_status value_of(napi_env env, const Reference& ref, napi_value* result) {
  return napi_get_reference_value(env, ref.get(), result);
}

// A handle scope for native code that runs outside a JavaScript call (a completion callback):
// the handles made inside it are released when it closes. Its statuses are not examined: a scope
// that could not be opened is not closed, and its handles then stay in the enclosing scope.
class HandleScope {
 public:
  explicit HandleScope(napi_env env) : env_(env) {
    unchecked(napi_open_handle_scope(env_, &scope_));
  }
  ~HandleScope() {
    if (scope_ != nullptr) unchecked(napi_close_handle_scope(env_, scope_));
  }
  HandleScope(const HandleScope&) = delete;
  HandleScope& operator=(const HandleScope&) = delete;

 private:
  napi_env env_;
  napi_handle_scope scope_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Native state handed to Node-API. Ownership passes only when the call succeeds; on failure the
// state is freed here and the status returned, so a binding never writes new or delete.

// Takes back what was handed over as a raw pointer (a finalizer's or a completion callback's
// data, a thread-safe function's item). T may be an array type (char[]).
template <class T>
std::unique_ptr<T> adopt(void* data) {
  return std::unique_ptr<T>(static_cast<std::remove_extent_t<T>*>(data));
}

template <class T>
void finalize_owned(napi_env /*env*/, void* data, void* /*hint*/) {
  adopt<T>(data).reset();
}

// Attaches `state` to the JavaScript object; it is freed when the object is collected.
template <class T>
napi_status wrap(napi_env env, napi_value object, std::unique_ptr<T> state) {
  const napi_status status =
      napi_wrap(env, object, state.get(), &finalize_owned<T>, nullptr, nullptr);
  if (status == napi_ok) static_cast<void>(state.release());  // the finalizer frees it
  return status;
}

// The state attached by wrap, still owned by the object (null when there is none).
template <class T>
napi_status unwrap(napi_env env, napi_value object, T** state) {
  void* data = nullptr;
  const napi_status status = napi_unwrap(env, object, &data);
  *state = static_cast<T*>(data);
  return status;
}

// Keeps `data` as the environment's instance data; it is freed when the environment ends.
template <class T>
napi_status set_instance_data(napi_env env, std::unique_ptr<T> data) {
  const napi_status status = napi_set_instance_data(env, data.get(), &finalize_owned<T>, nullptr);
  if (status == napi_ok) static_cast<void>(data.release());  // the finalizer frees it
  return status;
}

}  // namespace qv::napi

// Returns the failure of a Node-API call from the enclosing function, which returns a
// qv::napi::Result or Status.
#define QV_NAPI_CALL(call, step)                                          \
  do {                                                                    \
    if (napi_status qv_napi_status_ = (call); qv_napi_status_ != napi_ok) \
      return ::qv::Err{::qv::napi::call_error(qv_napi_status_, (step))};  \
  } while (false)
