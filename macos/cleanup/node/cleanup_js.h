// JavaScript functions of the app-copy cleanup ("cleanupCopies", "cancelCleanup").
#pragma once

#include <node_api.h>

// Adds "cleanupCopies" and "cancelCleanup" to exports.
void RegisterAppCopyCleanup(napi_env env, napi_value exports);
