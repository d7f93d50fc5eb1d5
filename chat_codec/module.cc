// Registration of quorvel_chat_codec: adds NativeMessageEncoder to the module's exports.
#include <node_api.h>

#include <cstdlib>
#include <string_view>
#include <utility>

#include "encoder.h"
#include "napi_error.h"
#include "own_keys.h"
#include "script_capture.h"

namespace {

napi_value Init(napi_env env, napi_value exports) {
  using namespace qv::chat;
  auto keys = OwnKeys::create(env);
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
  // QV_CHAT_CODEC_CAPTURE=native selects the Node-API routes for capture and output, so that
  // both routes can be tested.
  const char* route = std::getenv("QV_CHAT_CODEC_CAPTURE");
  if (route == nullptr || std::string_view(route) != "native") {
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
