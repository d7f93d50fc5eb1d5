#include "own_keys.h"

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

NapiResult<std::unique_ptr<OwnKeys>> OwnKeys::create(napi_env env) {
  napi_value source = nullptr;
  QV_NAPI_CALL(napi_create_string_utf8(env, kHelpers, sizeof(kHelpers) - 1, &source),
               "create the key helpers' source");
  napi_value pair = nullptr;
  napi_ref list = nullptr;
  napi_ref count = nullptr;
  if (napi_run_script(env, source, &pair) == napi_ok) {
    list = build_helper(env, pair, 0);
    count = build_helper(env, pair, 1);
  } else {
    // Code generation may be refused by the host; the slower route gives the same keys.
    bool pending = false;
    napi_value ignored = nullptr;
    if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
      napi_get_and_clear_last_exception(env, &ignored);
    }
  }
  if (list == nullptr || count == nullptr) {
    if (list != nullptr) napi_delete_reference(env, list);
    if (count != nullptr) napi_delete_reference(env, count);
    list = count = nullptr;
  }
  return std::unique_ptr<OwnKeys>(new OwnKeys(env, list, count));
}

OwnKeys::~OwnKeys() {
  if (list_ != nullptr) napi_delete_reference(env_, list_);
  if (count_ != nullptr) napi_delete_reference(env_, count_);
}

NapiResult<napi_value> OwnKeys::call(napi_env env, napi_ref function, napi_value object) const {
  napi_value fn = nullptr;
  napi_value undefined = nullptr;
  napi_value result = nullptr;
  QV_NAPI_CALL(napi_get_reference_value(env, function, &fn), "read the key helper");
  QV_NAPI_CALL(napi_get_undefined(env, &undefined), "read undefined");
  QV_NAPI_CALL(napi_call_function(env, undefined, fn, 1, &object, &result), "list object keys");
  return result;
}

NapiResult<napi_value> OwnKeys::list(napi_env env, napi_value object) const {
  if (list_ != nullptr) return call(env, list_, object);
  napi_value keys = nullptr;
  QV_NAPI_CALL(napi_get_all_property_names(env, object, napi_key_own_only, napi_key_enumerable,
                                           napi_key_numbers_to_strings, &keys),
               "list object keys");
  return keys;
}

NapiResult<std::uint32_t> OwnKeys::count(napi_env env, napi_value object) const {
  if (count_ != nullptr) {
    auto called = call(env, count_, object);
    if (!called) return Err(std::move(called.error()));
    double n = 0;
    QV_NAPI_CALL(napi_get_value_double(env, *called, &n), "count object keys");
    return static_cast<std::uint32_t>(n);
  }
  auto keys = list(env, object);
  if (!keys) return Err(std::move(keys.error()));
  std::uint32_t n = 0;
  QV_NAPI_CALL(napi_get_array_length(env, *keys, &n), "count object keys");
  return n;
}

}  // namespace qv::chat
