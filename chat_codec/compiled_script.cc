#include "compiled_script.h"

namespace qv::chat {

void clear_pending_exception(napi_env env) {
  bool pending = false;
  napi_value ignored = nullptr;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
    napi_get_and_clear_last_exception(env, &ignored);
  }
}

napi_ref compile_function(napi_env env, std::string_view source, std::size_t argc,
                          const napi_value* argv) {
  napi_value text = nullptr;
  napi_value factory = nullptr;
  napi_value undefined = nullptr;
  napi_value function = nullptr;
  napi_valuetype type = napi_undefined;
  napi_ref ref = nullptr;
  if (napi_create_string_utf8(env, source.data(), source.size(), &text) != napi_ok ||
      napi_run_script(env, text, &factory) != napi_ok ||
      napi_get_undefined(env, &undefined) != napi_ok ||
      napi_call_function(env, undefined, factory, argc, argv, &function) != napi_ok ||
      napi_typeof(env, function, &type) != napi_ok || type != napi_function ||
      napi_create_reference(env, function, 1, &ref) != napi_ok) {
    clear_pending_exception(env);
    return nullptr;
  }
  return ref;
}

}  // namespace qv::chat
