// Registration of quorvel_chat_codec: adds NativeMessageEncoder to the module's exports.
#include <node_api.h>

#include <utility>

#include "chat_codec/capture.h"
#include "chat_codec/delta_output.h"
#include "chat_codec/encoder.h"
#include "chat_codec/napi_error.h"

namespace {

qv::chat::NapiResult<qv::chat::ModuleData*> make_module_data(napi_env env) {
  using namespace qv::chat;
  QV_TRY_VALUE(prototype_of, keep_prototype_reader(env));
  QV_TRY_VALUE(names, DeltaNames::create(env));
  auto* data = new ModuleData{std::move(prototype_of), std::move(names)};
  auto finalize = [](napi_env, void* d, void*) { delete static_cast<ModuleData*>(d); };
  if (napi_status s = napi_set_instance_data(env, data, finalize, nullptr); s != napi_ok) {
    delete data;
    return qv::Err{call_error(s, "keep the module's data")};
  }
  return data;
}

napi_value Init(napi_env env, napi_value exports) {
  using namespace qv::chat;
  auto data = make_module_data(env);
  if (!data) {
    throw_error(env, data.error());
    return nullptr;
  }
  if (auto defined = define_encoder_class(env, exports, *data); !defined) {
    throw_error(env, defined.error());
    return nullptr;
  }
  return exports;
}

}  // namespace

NAPI_MODULE_INIT() {
  return Init(env, exports);
}
