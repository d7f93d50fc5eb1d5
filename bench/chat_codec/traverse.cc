// Benchmark-only module: the floor for reading a message through Node-API. It visits every value
// once and reads it (types, numbers, booleans, string and key text, array elements, listed keys
// and members), checking no rule and building nothing; the encoder's capture makes these calls
// and more. It also reads the calling thread's CPU clock for the benchmark.
#include <node_api.h>
#include <time.h>

#include <cstdint>
#include <vector>

namespace {

struct Walk {
  napi_env env;
  std::vector<char16_t> text;  // one buffer reused for every string
  std::uint64_t units = 0;     // read text, so that nothing can be skipped

  bool read_string(napi_value value) {
    std::size_t length = 0;
    if (napi_get_value_string_utf16(env, value, text.data(), text.size(), &length) != napi_ok) {
      return false;
    }
    if (length + 1 >= text.size()) {
      if (napi_get_value_string_utf16(env, value, nullptr, 0, &length) != napi_ok) return false;
      text.resize(length + 1);
      if (napi_get_value_string_utf16(env, value, text.data(), text.size(), &length) != napi_ok) {
        return false;
      }
    }
    units += length + (length > 0 ? text[0] : 0);
    return true;
  }

  bool visit(napi_value value) {
    napi_valuetype type = napi_undefined;
    if (napi_typeof(env, value, &type) != napi_ok) return false;
    switch (type) {
      case napi_boolean: {
        bool b = false;
        if (napi_get_value_bool(env, value, &b) != napi_ok) return false;
        units += b;
        return true;
      }
      case napi_number: {
        double d = 0;
        if (napi_get_value_double(env, value, &d) != napi_ok) return false;
        units += d != 0;
        return true;
      }
      case napi_string:
        return read_string(value);
      case napi_object:
        break;
      default:
        return true;
    }
    bool array = false;
    if (napi_is_array(env, value, &array) != napi_ok) return false;
    std::uint32_t length = 0;
    if (array) {
      if (napi_get_array_length(env, value, &length) != napi_ok) return false;
      for (std::uint32_t i = 0; i < length; ++i) {
        napi_value element = nullptr;
        if (napi_get_element(env, value, i, &element) != napi_ok || !visit(element)) return false;
      }
      return true;
    }
    napi_value keys = nullptr;
    if (napi_get_all_property_names(env, value, napi_key_own_only, napi_key_enumerable,
                                    napi_key_numbers_to_strings, &keys) != napi_ok ||
        napi_get_array_length(env, keys, &length) != napi_ok) {
      return false;
    }
    for (std::uint32_t i = 0; i < length; ++i) {
      napi_value key = nullptr;
      napi_value member = nullptr;
      if (napi_get_element(env, keys, i, &key) != napi_ok || !read_string(key) ||
          napi_get_property(env, value, key, &member) != napi_ok || !visit(member)) {
        return false;
      }
    }
    return true;
  }
};

// traverse(message): the number of code units read plus a checksum of the values, or throws.
napi_value Traverse(napi_env env, napi_callback_info info) {
  std::size_t argc = 1;
  napi_value message = nullptr;
  napi_value result = nullptr;
  if (napi_get_cb_info(env, info, &argc, &message, nullptr, nullptr) != napi_ok) return nullptr;
  Walk walk{env, std::vector<char16_t>(64), 0};
  if (!walk.visit(message)) {
    napi_throw_error(env, nullptr, "traversal failed");
    return nullptr;
  }
  napi_create_double(env, static_cast<double>(walk.units), &result);
  return result;
}

// threadCpuNs(): CPU time of the calling thread in nanoseconds. On a loaded machine a call that
// spans several scheduler slices also waits for the processor; this clock leaves the waits out.
napi_value ThreadCpuNs(napi_env env, napi_callback_info /*info*/) {
  timespec now{};
  napi_value result = nullptr;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  napi_create_double(env, static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec),
                     &result);
  return result;
}

bool add(napi_env env, napi_value exports, const char* name, napi_callback callback) {
  napi_value function = nullptr;
  return napi_create_function(env, name, NAPI_AUTO_LENGTH, callback, nullptr, &function) ==
             napi_ok &&
         napi_set_named_property(env, exports, name, function) == napi_ok;
}

}  // namespace

NAPI_MODULE_INIT() {
  if (!add(env, exports, "traverse", Traverse) || !add(env, exports, "threadCpuNs", ThreadCpuNs)) {
    return nullptr;
  }
  return exports;
}
