// Registration of quorvel_chat_codec: adds NativeMessageEncoder to the module's exports.
#include <node_api.h>

#include <memory>
#include <utility>

#include "chat_codec/capture.h"
#include "chat_codec/delta_output.h"
#include "chat_codec/encoder.h"
#include "qv/napi.h"

namespace {

qv::napi::Result<qv::chat::ModuleData*> make_module_data(napi_env env) {
  using namespace qv::chat;
  QV_TRY_VALUE(prototype_of, keep_prototype_reader(env));
  QV_TRY_VALUE(names, DeltaNames::create(env));
  auto data = std::make_unique<ModuleData>(ModuleData{std::move(prototype_of), std::move(names)});
  ModuleData* kept = data.get();  // the environment owns it once it is kept
  QV_NAPI_CALL(qv::napi::set_instance_data(env, std::move(data)), "keep the module's data");
  return kept;
}

qv::napi::Result<napi_value> Init(napi_env env, napi_value exports) {
  using namespace qv::chat;
  QV_TRY_VALUE(data, make_module_data(env));
  QV_TRY(define_encoder_class(env, exports, data));
  return exports;
}

}  // namespace

NAPI_MODULE_INIT() {
  return qv::napi::finish(env, Init(env, exports));
}
