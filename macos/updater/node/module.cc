// Entry of the macos_services module: the cleanup functions first, then the updater's.
#include <node_api.h>

#include "macos/cleanup/node/cleanup_js.h"
#include "macos/updater/node/updater_js.h"

namespace {

napi_value Init(napi_env env, napi_value exports) {
  RegisterAppCopyCleanup(env, exports);
  RegisterUpdater(env, exports);
  return exports;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) napi_value napi_register_module_v1(napi_env env,
                                                                          napi_value exports) {
  return Init(env, exports);
}

__attribute__((visibility("default"))) int32_t node_api_module_get_api_version_v1() {
  return NAPI_VERSION;
}

}  // extern "C"
