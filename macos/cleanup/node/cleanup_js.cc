#include "macos/cleanup/node/cleanup_js.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "macos/cleanup/clean_copies.h"
#include "macos/cleanup/node/job_platform.h"
#include "macos/cleanup/result_json.h"
#include "qv/napi.h"

#ifndef QV_BUNDLE_IDENTIFIER
#error "QV_BUNDLE_IDENTIFIER must name the application's bundle identifier"
#endif

namespace {

using qv::cleanup::Platform;
// This module leaves its Node-API statuses unexamined, except where noted.
using qv::napi::unchecked;

// One module-wide job at a time, however often the module is initialised.
bool cleaning = false;               // touched on the JavaScript thread only
std::atomic<bool> cancelled{false};  // written on the JavaScript thread, read by the scan

constexpr char kBundleIdentifier[] = QV_BUNDLE_IDENTIFIER;

// One accepted job; owned by the job from creation until its completion callback.
struct CleanupWork {
  napi_deferred deferred = nullptr;
  qv::napi::AsyncWork work;  // deleted with the record, in the completion callback
  std::string bundle;
  std::vector<std::string> roots;
  std::string result;
  std::unique_ptr<Platform> platform;
};

void Execute(napi_env /*env*/, void* data) {
  auto* job = static_cast<CleanupWork*>(data);
  const qv::cleanup::CleanupResult result = qv::cleanup::CleanCopies(
      *job->platform, job->bundle, job->roots, kBundleIdentifier, cancelled);
  job->result = qv::cleanup::ResultJson(result);
}

void Complete(napi_env env, napi_status /*status*/, void* data) {
  std::unique_ptr<CleanupWork> job = qv::napi::adopt<CleanupWork>(data);
  {
    qv::napi::HandleScope scope(env);
    const std::string text =
        job->result.empty() ? std::string(qv::cleanup::kFallbackResultJson) : job->result;
    napi_value value = nullptr;
    unchecked(napi_create_string_utf8(env, text.data(), text.size(), &value));
    unchecked(napi_resolve_deferred(env, job->deferred, value));
  }
  job.reset();
  cleaning = false;
}

napi_value Cleanup(napi_env env, napi_callback_info /*info*/) {
  if (cleaning) {
    unchecked(napi_throw_error(env, nullptr, "Cleanup is already running"));
    return nullptr;
  }
  cleaning = true;
  cancelled.store(false, std::memory_order_seq_cst);

  auto job = std::make_unique<CleanupWork>();
  job->platform = qv::cleanup::MakeJobPlatform();
  job->bundle = job->platform->MainBundle();
  const std::string home = job->platform->HomeFolder();
  // Without a home folder the second root names nothing, and is skipped by the scan.
  job->roots = {"/Applications", home.empty() ? std::string() : home + "/Applications"};

  napi_value promise = nullptr;
  unchecked(napi_create_promise(env, &job->deferred, &promise));
  napi_value name = nullptr;
  unchecked(napi_create_string_utf8(env, "Quorvel copy cleanup", NAPI_AUTO_LENGTH, &name));
  CleanupWork* raw = job.get();
  napi_async_work work = nullptr;
  unchecked(napi_create_async_work(env, nullptr, name, Execute, Complete, raw, &work));
  raw->work = qv::napi::AsyncWork(env, work);
  if (napi_queue_async_work(env, raw->work.get()) == napi_ok) {
    static_cast<void>(job.release());  // the completion callback frees it
  } else {
    // The job can never complete: settle its promise here rather than leave it pending.
    napi_value value = nullptr;
    unchecked(napi_create_string_utf8(env, qv::cleanup::kFallbackResultJson.data(),
                                      qv::cleanup::kFallbackResultJson.size(), &value));
    unchecked(napi_resolve_deferred(env, raw->deferred, value));
    cleaning = false;  // the record and its work go with `job`
  }
  return promise;
}

napi_value CancelCleanup(napi_env /*env*/, napi_callback_info /*info*/) {
  cancelled.store(true, std::memory_order_seq_cst);
  return nullptr;
}

}  // namespace

void RegisterAppCopyCleanup(napi_env env, napi_value exports) {
  napi_value cleanup = nullptr;
  unchecked(
      napi_create_function(env, "cleanupCopies", NAPI_AUTO_LENGTH, Cleanup, nullptr, &cleanup));
  napi_value cancel = nullptr;
  unchecked(napi_create_function(env, "cancelCleanup", NAPI_AUTO_LENGTH, CancelCleanup, nullptr,
                                 &cancel));
  unchecked(napi_set_named_property(env, exports, "cleanupCopies", cleanup));
  unchecked(napi_set_named_property(env, exports, "cancelCleanup", cancel));
}
