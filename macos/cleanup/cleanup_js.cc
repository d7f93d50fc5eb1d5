#include "cleanup/cleanup_js.h"

void RegisterAppCopyCleanup(napi_env /*env*/, napi_value /*exports*/) {}
