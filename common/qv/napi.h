// Owners for the Node-API handles a module keeps beyond one call. Header-only and made of plain
// Node-API calls, so it serves a module that resolves those functions from the hosting process
// when it is loaded as well as one that links them.
#pragma once

#include <node_api.h>

#include <utility>

#include "qv/result.h"

namespace qv::napi {

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

struct DeleteReference {
  void operator()(napi_env env, napi_ref ref) const { napi_delete_reference(env, ref); }
};
struct DeleteAsyncWork {
  void operator()(napi_env env, napi_async_work work) const { napi_delete_async_work(env, work); }
};
// The environment is not needed: a thread-safe function may be released from any thread.
struct ReleaseThreadsafeFunction {
  void operator()(napi_env /*env*/, napi_threadsafe_function function) const {
    napi_release_threadsafe_function(function, napi_tsfn_release);
  }
};

using Reference = Unique<napi_ref, DeleteReference>;
using AsyncWork = Unique<napi_async_work, DeleteAsyncWork>;
using ThreadsafeFunction = Unique<napi_threadsafe_function, ReleaseThreadsafeFunction>;

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

}  // namespace qv::napi
