// Registration of quorvel_chat_codec: adds NativeMessageEncoder to the module's exports.
#include <node_api.h>

#include <cstdlib>
#include <string_view>
#include <utility>

#include "encoder.h"
#include "engine_helpers.h"
#include "napi_error.h"
#include "script_capture.h"

namespace {

napi_value Init(napi_env env, napi_value exports) {
  using namespace qv::chat;
  // QV_CHAT_CODEC_CAPTURE=native makes the module behave as when the host refuses to compile
  // scripts: everything goes through Node-API calls. It lets the tests cover both routes.
  const char* route = std::getenv("QV_CHAT_CODEC_CAPTURE");
  const bool scripts = route == nullptr || std::string_view(route) != "native";
  auto keys = EngineHelpers::create(env, scripts);
  if (!keys) {
    throw_error(env, keys.error());
    return nullptr;
  }
  auto names = DeltaNames::create(env);
  if (!names) {
    throw_error(env, codec_error("Failed to create the delta property names"));
    return nullptr;
  }
  auto* data = new ModuleData{std::move(*keys), nullptr, std::move(names), nullptr};
  if (scripts) {
    data->script = ScriptCapture::create(env);
    data->builder = ScriptDelta::create(env);
  }
  auto finalize = [](napi_env, void* d, void*) { delete static_cast<ModuleData*>(d); };
  if (napi_status s = napi_set_instance_data(env, data, finalize, nullptr); s != napi_ok) {
    delete data;
    throw_error(env, call_error(s, "keep the module's data"));
    return nullptr;
  }
  if (auto defined = define_encoder_class(env, exports, data); !defined) {
    throw_error(env, defined.error());
    return nullptr;
  }
  return exports;
}

}  // namespace

NAPI_MODULE_INIT() {
  return Init(env, exports);
}
