// Entry of cleanup_test_module, a test-only Node-API module holding just the cleanup functions
// over the stand-in signature check. It is never installed or shipped.
#include <node_api.h>

#include "macos/cleanup/node/cleanup_js.h"

extern "C" {

__attribute__((visibility("default"))) napi_value napi_register_module_v1(napi_env env,
                                                                          napi_value exports) {
  RegisterAppCopyCleanup(env, exports);
  return exports;
}

__attribute__((visibility("default"))) int32_t node_api_module_get_api_version_v1() {
  return 8;
}

}  // extern "C"
