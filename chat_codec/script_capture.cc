#include "script_capture.h"

#include <array>
#include <cmath>
#include <cstdint>

#include "budget.h"
#include "capture.h"
#include "compiled_script.h"

namespace qv::chat {
namespace {

// Tags written by the walk; the numbers are the kinds' order.
// Layout: Undefined [0]; Null [1]; Boolean [2, b]; Number [3, x]; String [4, length];
// Array [5, n, element...]; Object [6, n, (key length, value)...]. Text goes to the string in
// the same order, except that long string values ([7, length]) are handed over one by one in
// a side array: reading them through Node-API flattens them in place, so a text that grows by
// concatenation is not walked piece by piece again on every update. A refusal is answered with
// its code (an index into kRefusals).
//
// The walk mirrors capture_value step by step: depth, then the node charge, then the type; the
// array length and key count before any element or member; a key's charge before its member is
// read (so a getter runs exactly once, in the engine's key order, depth first). Where JavaScript
// alone cannot tell what Node-API sees (a proxy posing as an array, an external, a callable that
// is not a function), it asks `kindOf`, a native function answering napi_typeof, plus 16 for a
// real array.
constexpr char kWalkSource[] = R"js((function (kindOf) {
  'use strict';
  const keys = Object.keys;
  const symbols = Object.getOwnPropertySymbols;
  const getPrototype = Object.getPrototypeOf;
  const isArray = Array.isArray;
  const isEnumerable = Function.prototype.call.bind(Object.prototype.propertyIsEnumerable);
  const ObjectPrototype = Object.prototype;
  const copyInto = Function.prototype.call.bind(Object.getPrototypeOf(Float64Array.prototype).set);
  const F64 = Float64Array;
  const setPrototype = Object.setPrototypeOf;
  const NAPI_FUNCTION = 7, NAPI_EXTERNAL = 8, REAL_ARRAY = 16;
  const NESTING = 1, BUDGET = 2, UNSUPPORTED = 3, NON_PLAIN = 4, OBJECT = 5, ARRAY = 6,
    NONSTANDARD = 7, SPARSE = 8;

  // A refusal unwinds the walk with this token and leaves its code here: nothing is assigned
  // to objects that inherit from the context's prototypes, whose setters could intercept it.
  const REFUSED = Object.freeze({ __proto__: null });
  let refusal = 0;
  function refuse(code) {
    refusal = code;
    throw REFUSED;
  }
  let spare = null;  // one buffer reused between captures; nested captures take their own

  function capture(message) {
    // `long` has no prototype, so an index setter on Array.prototype cannot intercept it.
    const c = { ops: spare ?? new F64(1024), n: 0, text: '', long: setPrototype([], null),
      nodes: 0, bytes: 0 };
    spare = null;
    try {
      walk(c, message, 0);
    } catch (e) {
      if (e === REFUSED) return refusal;
      throw e;
    } finally {
      if (c.ops.length <= 65536) spare = c.ops;
    }
    return [c.ops, c.n, c.text, c.long];
  }

  function push(c, x) {
    if (c.n === c.ops.length) {
      const bigger = new F64(c.ops.length * 2);
      copyInto(bigger, c.ops);
      c.ops = bigger;
    }
    c.ops[c.n++] = x;
  }

  function charge(c, amount) {
    c.nodes += 1;
    c.bytes += amount;
    if (c.nodes > 20000 || c.bytes > 8388608) refuse(BUDGET);
  }

  function countKeys(o, stringKeys) {
    let n = stringKeys.length;
    const s = symbols(o);
    for (let i = 0; i < s.length; i++) if (isEnumerable(o, s[i])) n++;
    return n;
  }

  function walk(c, v, depth) {
    if (depth > 32) refuse(NESTING);
    charge(c, 32);
    switch (typeof v) {
      case 'undefined': push(c, 0); return;
      case 'boolean': push(c, 2); push(c, v ? 1 : 0); return;
      case 'number': push(c, 3); push(c, v); return;
      case 'string':
        charge(c, 2 * v.length);
        if (v.length > 64) {
          push(c, 7); push(c, v.length); c.long[c.long.length] = v;
        } else {
          push(c, 4); push(c, v.length); c.text += v;
        }
        return;
      case 'object':
        if (v === null) { push(c, 1); return; }
        break;
      case 'function':
        if (kindOf(v) === NAPI_FUNCTION) refuse(UNSUPPORTED);
        break;
      default:
        refuse(UNSUPPORTED);
    }
    if (isArray(v) && kindOf(v) & REAL_ARRAY) { walkArray(c, v, depth); return; }
    const prototype = getPrototype(v);
    if (prototype !== ObjectPrototype) {
      if (kindOf(v) === NAPI_EXTERNAL) refuse(UNSUPPORTED);
      if (prototype !== null) refuse(NON_PLAIN);
    }
    const k = keys(v);
    if (countKeys(v, k) > 20000) refuse(OBJECT);
    push(c, 6); push(c, k.length);
    for (let i = 0; i < k.length; i++) {
      const key = k[i];
      charge(c, 2 * key.length);
      push(c, key.length); c.text += key;
      walk(c, v[key], depth + 1);
    }
  }

  function walkArray(c, a, depth) {
    const length = a.length;
    if (length > 20000) refuse(ARRAY);
    if (countKeys(a, keys(a)) !== length) refuse(NONSTANDARD);
    push(c, 5); push(c, length);
    for (let i = 0; i < length; i++) {
      if (!(i in a)) refuse(SPARSE);
      walk(c, a[i], depth + 1);
    }
  }

  return capture;
}))js";

constexpr std::array<const char*, 9> kRefusals = {
    nullptr,           kNestingText,     kBudgetText,           kUnsupportedText, kNonPlainText,
    kObjectBudgetText, kArrayBudgetText, kNonstandardArrayText, kSparseArrayText,
};

napi_value KindOf(napi_env env, napi_callback_info info) {
  std::size_t argc = 1;
  napi_value arg = nullptr;
  napi_value result = nullptr;
  napi_valuetype type = napi_undefined;
  bool array = false;
  if (napi_get_cb_info(env, info, &argc, &arg, nullptr, nullptr) != napi_ok ||
      napi_typeof(env, arg, &type) != napi_ok || napi_is_array(env, arg, &array) != napi_ok ||
      napi_create_uint32(env, static_cast<std::uint32_t>(type) + (array ? 16 : 0), &result) !=
          napi_ok) {
    return nullptr;
  }
  return result;
}

// Rebuilds the tree from the walk's output; any inconsistency is reported, never trusted.
class Decoder {
 public:
  Decoder(napi_env env, const double* ops, std::size_t count, const U16String& text,
          napi_value long_strings)
      : env_(env), ops_(ops), count_(count), text_(text), long_strings_(long_strings) {}

  bool decode(MessageValue& out, std::uint32_t depth) {
    double tag = -1;
    if (depth > MAX_CAPTURE_DEPTH || !next(tag) || !(tag >= 0 && tag <= 7)) return false;
    switch (static_cast<int>(tag)) {
      case 0:
        out = MessageValue::undefined();
        return true;
      case 1:
        out = MessageValue::null();
        return true;
      case 2: {
        double b = 0;
        if (!next(b)) return false;
        out = MessageValue::boolean(b != 0);
        return true;
      }
      case 3: {
        double x = 0;
        if (!next(x)) return false;
        out = MessageValue::number(x);
        return true;
      }
      case 4: {
        U16String s;
        if (!string(s)) return false;
        out = MessageValue::string(std::move(s));
        return true;
      }
      case 5: {
        std::size_t n = 0;
        if (!size(n, MAX_ARRAY_LENGTH)) return false;
        ArrayValue elements(n);
        for (auto& element : elements) {
          if (!decode(element, depth + 1)) return false;
        }
        out = MessageValue::array(std::move(elements));
        return true;
      }
      case 7: {
        U16String s;
        if (!long_string(s)) return false;
        out = MessageValue::string(std::move(s));
        return true;
      }
      case 6: {
        std::size_t n = 0;
        if (!size(n, MAX_OBJECT_KEYS)) return false;
        ObjectValue entries(n);
        for (auto& entry : entries) {
          if (!string(entry.key) || !decode(entry.value, depth + 1)) return false;
        }
        out = MessageValue::object(std::move(entries));
        return true;
      }
      default:
        return false;
    }
  }

  bool finished() const { return pos_ == count_ && text_pos_ == text_.size(); }

 private:
  bool next(double& x) {
    if (pos_ >= count_) return false;
    x = ops_[pos_++];
    return true;
  }
  bool size(std::size_t& n, std::size_t limit) {
    double x = 0;
    if (!next(x) || !(x >= 0) || x > static_cast<double>(limit) || std::trunc(x) != x) {
      return false;
    }
    n = static_cast<std::size_t>(x);
    return true;
  }
  bool string(U16String& s) {
    std::size_t n = 0;
    if (!size(n, text_.size() - text_pos_)) return false;
    s.assign(text_, text_pos_, n);
    text_pos_ += n;
    return true;
  }

  bool long_string(U16String& s) {
    std::size_t n = 0;
    napi_value value = nullptr;
    napi_valuetype type = napi_undefined;
    if (!size(n, MAX_CAPTURE_BYTES / 2) ||
        napi_get_element(env_, long_strings_, long_pos_++, &value) != napi_ok ||
        napi_typeof(env_, value, &type) != napi_ok || type != napi_string) {
      return false;
    }
    s.assign(n, u'\0');
    std::size_t copied = 0;
    // The string's own storage has room for the terminator the call writes.
    return napi_get_value_string_utf16(env_, value, s.data(), n + 1, &copied) == napi_ok &&
           copied == n;
  }

  napi_env env_;
  const double* ops_;
  std::size_t count_;
  const U16String& text_;
  napi_value long_strings_;
  std::size_t pos_ = 0;
  std::size_t text_pos_ = 0;
  std::uint32_t long_pos_ = 0;
};

NapiResult<U16String> read_text(napi_env env, napi_value value) {
  std::size_t length = 0;
  QV_NAPI_CALL(napi_get_value_string_utf16(env, value, nullptr, 0, &length), "read the capture");
  U16String text(length, u'\0');
  std::size_t copied = 0;
  QV_NAPI_CALL(napi_get_value_string_utf16(env, value, text.data(), length + 1, &copied),
               "read the capture");
  text.resize(copied);
  return text;
}

}  // namespace

std::unique_ptr<ScriptCapture> ScriptCapture::create(napi_env env) {
  napi_value kind_of = nullptr;
  if (napi_create_function(env, "kindOf", NAPI_AUTO_LENGTH, KindOf, nullptr, &kind_of) != napi_ok) {
    clear_pending_exception(env);
    return nullptr;
  }
  napi_ref walk = compile_function(env, kWalkSource, 1, &kind_of);
  if (walk == nullptr) return nullptr;
  return std::unique_ptr<ScriptCapture>(new ScriptCapture(env, walk));
}

ScriptCapture::~ScriptCapture() {
  napi_delete_reference(env_, walk_);
}

NapiResult<ScriptCapture::Walk> ScriptCapture::prepare(napi_env env) const {
  Walk walk;
  QV_NAPI_CALL(napi_get_reference_value(env, walk_, &walk.function), "read the capture walk");
  QV_NAPI_CALL(napi_get_undefined(env, &walk.receiver), "read undefined");
  return walk;
}

NapiResult<MessageValue> ScriptCapture::capture(napi_env env, const Walk& walk,
                                                napi_value message) {
  napi_value result = nullptr;
  QV_NAPI_CALL(napi_call_function(env, walk.receiver, walk.function, 1, &message, &result),
               "capture the message");

  napi_valuetype type = napi_undefined;
  QV_NAPI_CALL(napi_typeof(env, result, &type), "read the capture");
  if (type == napi_number) {
    std::uint32_t code = 0;
    QV_NAPI_CALL(napi_get_value_uint32(env, result, &code), "read the capture");
    if (code == 0 || code >= kRefusals.size()) return Err{codec_error("Capture failed")};
    return Err{codec_error(kRefusals[code])};
  }

  napi_value ops_value = nullptr;
  napi_value count_value = nullptr;
  napi_value text_value = nullptr;
  napi_value long_strings = nullptr;
  QV_NAPI_CALL(napi_get_element(env, result, 3, &long_strings), "read the capture");
  QV_NAPI_CALL(napi_get_element(env, result, 0, &ops_value), "read the capture");
  QV_NAPI_CALL(napi_get_element(env, result, 1, &count_value), "read the capture");
  QV_NAPI_CALL(napi_get_element(env, result, 2, &text_value), "read the capture");
  napi_typedarray_type array_type = napi_int8_array;
  std::size_t length = 0;
  void* data = nullptr;
  QV_NAPI_CALL(
      napi_get_typedarray_info(env, ops_value, &array_type, &length, &data, nullptr, nullptr),
      "read the capture");
  std::uint32_t count = 0;
  QV_NAPI_CALL(napi_get_value_uint32(env, count_value, &count), "read the capture");
  if (array_type != napi_float64_array || count > length) {
    return Err{codec_error("Capture failed")};
  }
  auto text = read_text(env, text_value);
  if (!text) return Err{std::move(text.error())};

  Decoder decoder(env, static_cast<const double*>(data), count, *text, long_strings);
  MessageValue root;
  if (!decoder.decode(root, 0) || !decoder.finished()) return Err{codec_error("Capture failed")};
  return root;
}

}  // namespace qv::chat
