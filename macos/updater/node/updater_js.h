// JavaScript functions of the updater ("start", "check", "install", "replace", "cancel",
// "dispose").
#pragma once

#include <node_api.h>

// Adds the six updater functions to exports, in that order.
void RegisterUpdater(napi_env env, napi_value exports);
