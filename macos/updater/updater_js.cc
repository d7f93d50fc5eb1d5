#include "updater/updater_js.h"

void RegisterUpdater(napi_env /*env*/, napi_value /*exports*/) {}
