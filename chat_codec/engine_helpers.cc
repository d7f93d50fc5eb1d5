#include "engine_helpers.h"

#include "compiled_script.h"

namespace qv::chat {
namespace {

// The builtins are taken once, so later changes to the globals cannot alter what is listed.
// Symbols follow the string keys, as in the engine's own key order.
constexpr char kHelpers[] = R"js((() => {
  const keys = Object.keys;
  const symbols = Object.getOwnPropertySymbols;
  const isEnumerable = Function.prototype.call.bind(Object.prototype.propertyIsEnumerable);
  const define = Object.defineProperty;
  const list = (o) => {
    const k = keys(o);
    const s = symbols(o);
    for (let i = 0; i < s.length; i++) {
      if (isEnumerable(o, s[i])) {
        define(k, k.length, {value: s[i], writable: true, enumerable: true, configurable: true});
      }
    }
    return k;
  };
  const count = (o) => {
    let n = keys(o).length;
    const s = symbols(o);
    for (let i = 0; i < s.length; i++) if (isEnumerable(o, s[i])) n++;
    return n;
  };
  return [list, count];
})())js";

napi_ref build_helper(napi_env env, napi_value pair, std::uint32_t index) {
  napi_value function = nullptr;
  napi_valuetype type = napi_undefined;
  napi_ref ref = nullptr;
  if (napi_get_element(env, pair, index, &function) != napi_ok ||
      napi_typeof(env, function, &type) != napi_ok || type != napi_function ||
      napi_create_reference(env, function, 1, &ref) != napi_ok) {
    return nullptr;
  }
  return ref;
}

}  // namespace

NapiResult<std::unique_ptr<EngineHelpers>> EngineHelpers::create(napi_env env, bool scripts) {
  // Read from the global object rather than compiled, so it is there even without scripts.
  napi_value global = nullptr;
  napi_value object_ctor = nullptr;
  napi_value prototype_of = nullptr;
  napi_ref prototype_ref = nullptr;
  QV_NAPI_CALL(napi_get_global(env, &global), "read the global object");
  QV_NAPI_CALL(napi_get_named_property(env, global, "Object", &object_ctor), "read Object");
  QV_NAPI_CALL(napi_get_named_property(env, object_ctor, "getPrototypeOf", &prototype_of),
               "read Object.getPrototypeOf");
  QV_NAPI_CALL(napi_create_reference(env, prototype_of, 1, &prototype_ref),
               "keep Object.getPrototypeOf");

  // Nothing below can fail: the key helpers fall back to napi_get_all_property_names.
  napi_value source = nullptr;
  napi_value pair = nullptr;
  napi_ref list = nullptr;
  napi_ref count = nullptr;
  if (!scripts) {
    // Listed through Node-API below.
  } else if (napi_create_string_utf8(env, kHelpers, sizeof(kHelpers) - 1, &source) == napi_ok &&
             napi_run_script(env, source, &pair) == napi_ok) {
    list = build_helper(env, pair, 0);
    count = build_helper(env, pair, 1);
  } else {
    // Code generation may be refused by the host; the slower route gives the same keys.
    clear_pending_exception(env);
  }
  if (list == nullptr || count == nullptr) {
    if (list != nullptr) napi_delete_reference(env, list);
    if (count != nullptr) napi_delete_reference(env, count);
    list = count = nullptr;
  }
  return std::unique_ptr<EngineHelpers>(new EngineHelpers(env, list, count, prototype_ref));
}

EngineHelpers::~EngineHelpers() {
  if (list_ != nullptr) napi_delete_reference(env_, list_);
  if (count_ != nullptr) napi_delete_reference(env_, count_);
  napi_delete_reference(env_, prototype_of_);
}

NapiResult<EngineHelpers::Functions> EngineHelpers::resolve(napi_env env) const {
  Functions fns;
  QV_NAPI_CALL(napi_get_undefined(env, &fns.receiver), "read undefined");
  QV_NAPI_CALL(napi_get_reference_value(env, prototype_of_, &fns.prototype_of),
               "read Object.getPrototypeOf");
  if (list_ != nullptr) {
    QV_NAPI_CALL(napi_get_reference_value(env, list_, &fns.list), "read the key helper");
    QV_NAPI_CALL(napi_get_reference_value(env, count_, &fns.count), "read the key helper");
  }
  return fns;
}

NapiResult<napi_value> EngineHelpers::list(napi_env env, const Functions& fns, napi_value object) {
  napi_value keys = nullptr;
  if (fns.list != nullptr) {
    QV_NAPI_CALL(napi_call_function(env, fns.receiver, fns.list, 1, &object, &keys),
                 "list object keys");
    return keys;
  }
  QV_NAPI_CALL(napi_get_all_property_names(env, object, napi_key_own_only, napi_key_enumerable,
                                           napi_key_numbers_to_strings, &keys),
               "list object keys");
  return keys;
}

NapiResult<std::uint32_t> EngineHelpers::count(napi_env env, const Functions& fns,
                                               napi_value object) {
  if (fns.count != nullptr) {
    napi_value result = nullptr;
    QV_NAPI_CALL(napi_call_function(env, fns.receiver, fns.count, 1, &object, &result),
                 "count object keys");
    std::uint32_t n = 0;
    QV_NAPI_CALL(napi_get_value_uint32(env, result, &n), "count object keys");
    return n;
  }
  auto keys = list(env, fns, object);
  if (!keys) return Err{std::move(keys.error())};
  std::uint32_t n = 0;
  QV_NAPI_CALL(napi_get_array_length(env, *keys, &n), "count object keys");
  return n;
}

NapiResult<napi_value> EngineHelpers::prototype(napi_env env, const Functions& fns,
                                                napi_value object) {
  napi_value result = nullptr;
  QV_NAPI_CALL(napi_call_function(env, fns.receiver, fns.prototype_of, 1, &object, &result),
               "read an object's prototype");
  return result;
}

}  // namespace qv::chat
