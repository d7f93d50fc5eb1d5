#include "script_delta.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "compiled_script.h"

namespace qv::chat {
namespace {

// Layout of the numbers: the edit count, then per edit its kind (0 set, 1 remove, 2 append), the
// path length and the segments (a key as [0, length], an index as [1, index]), then for a set
// the value (Undefined [0]; Null [1]; Boolean [2, b]; Number [3, x]; String [4, length];
// Array [5, n, element...]; Object [6, n, (key length, value)...]) and for an append
// [offset, length]. Every key and text goes to the string in the same order.
constexpr char kBuilderSource[] = R"js((function () {
  const ArrayConstructor = Array;
  const defineProperty = Object.defineProperty;
  const slice = Function.prototype.call.bind(String.prototype.slice);
  // Assignments in sloppy mode: like napi_set_property and napi_set_element they leave a property
  // unset, instead of throwing, when an inherited one is read-only. One small function per name
  // keeps each store monomorphic.
  const setAt = (a, i, v) => { a[i] = v; };
  const setBaseSeq = (o, v) => { o.baseSeq = v; };
  const setEdits = (o, v) => { o.edits = v; };
  const setPath = (o, v) => { o.path = v; };
  const setOp = (o, v) => { o.op = v; };
  const setValue = (o, v) => { o.value = v; };
  const setOffset = (o, v) => { o.offset = v; };
  const setText = (o, v) => { o.text = v; };
  // One descriptor, refilled for every member: entries are defined, not assigned. No prototype,
  // so an inherited "get" or "set" cannot make it an accessor descriptor. Shared by nested
  // builds: nothing runs between filling it and using it.
  const member = {
    __proto__: null, value: undefined, writable: true, enumerable: true, configurable: true,
  };

  return function build(ops, text, baseSeq) {
    'use strict';
    let p = 0;
    let t = 0;

    function string(n) {
      const s = slice(text, t, t + n);
      t += n;
      return s;
    }

    function value() {
      switch (ops[p++]) {
        case 0: return undefined;
        case 1: return null;
        case 2: return ops[p++] !== 0;
        case 3: return ops[p++];
        case 4: return string(ops[p++]);
        case 5: {
          const n = ops[p++];
          const a = new ArrayConstructor(n);
          for (let i = 0; i < n; i++) setAt(a, i, value());
          return a;
        }
        default: {
          const n = ops[p++];
          const o = {};
          for (let i = 0; i < n; i++) {
            const key = string(ops[p++]);
            member.value = value();
            defineProperty(o, key, member);
          }
          member.value = undefined;
          return o;
        }
      }
    }

    const delta = {};
    setBaseSeq(delta, baseSeq);
    const count = ops[p++];
    const edits = new ArrayConstructor(count);
    for (let i = 0; i < count; i++) {
      const edit = {};
      const kind = ops[p++];
      const length = ops[p++];
      const path = new ArrayConstructor(length);
      for (let j = 0; j < length; j++) {
        setAt(path, j, ops[p++] === 0 ? string(ops[p++]) : ops[p++]);
      }
      setPath(edit, path);
      if (kind === 0) {
        setOp(edit, 'set');
        setValue(edit, value());
      } else if (kind === 1) {
        setOp(edit, 'remove');
      } else {
        setOp(edit, 'append');
        setOffset(edit, ops[p++]);
        setText(edit, string(ops[p++]));
      }
      setAt(edits, i, edit);
    }
    setEdits(delta, edits);
    return delta;
  };
}))js";

class Encoder {
 public:
  void number(double x) { ops.push_back(x); }
  void text_of(std::u16string_view s) {
    ops.push_back(static_cast<double>(s.size()));
    text.append(s);
  }
  void value(const MessageValue& v) {
    number(static_cast<double>(v.kind()));
    switch (v.kind()) {
      case Kind::Undefined:
      case Kind::Null:
        break;
      case Kind::Boolean:
        number(v.as_boolean() ? 1 : 0);
        break;
      case Kind::Number:
        number(v.as_number());
        break;
      case Kind::String:
        text_of(v.as_string());
        break;
      case Kind::Array:
        number(static_cast<double>(v.as_array().size()));
        for (const auto& element : v.as_array()) value(element);
        break;
      case Kind::Object:
        number(static_cast<double>(v.as_object().size()));
        for (const auto& entry : v.as_object()) {
          text_of(entry.key);
          value(entry.value);
        }
        break;
    }
  }
  void edit(const Edit& e) {
    number(e.kind == EditKind::Set ? 0 : e.kind == EditKind::Remove ? 1 : 2);
    number(static_cast<double>(e.path.size()));
    for (const auto& segment : e.path) {
      if (segment.is_key()) {
        number(0);
        text_of(segment.key());
      } else {
        number(1);
        number(segment.index());
      }
    }
    if (e.kind == EditKind::Set) {
      value(*e.value);
    } else if (e.kind == EditKind::Append) {
      number(static_cast<double>(e.offset));
      text_of(e.text);
    }
  }

  std::vector<double> ops;
  U16String text;
};

}  // namespace

std::unique_ptr<ScriptDelta> ScriptDelta::create(napi_env env) {
  napi_ref builder = compile_function(env, kBuilderSource, 0, nullptr);
  if (builder == nullptr) return nullptr;
  return std::unique_ptr<ScriptDelta>(new ScriptDelta(env, builder));
}

ScriptDelta::~ScriptDelta() {
  napi_delete_reference(env_, builder_);
  if (buffer_ != nullptr) napi_delete_reference(env_, buffer_);
}

NapiResult<napi_value> ScriptDelta::numbers(napi_env env, const std::vector<double>& ops) const {
  napi_value array = nullptr;
  void* data = nullptr;
  std::size_t length = 0;
  if (buffer_busy_) {
    // A setter run by an outer build started this one: the kept buffer is still being read.
    napi_value buffer = nullptr;
    QV_NAPI_CALL(napi_create_arraybuffer(env, ops.size() * sizeof(double), &data, &buffer),
                 "create the delta buffer");
    QV_NAPI_CALL(napi_create_typedarray(env, napi_float64_array, ops.size(), buffer, 0, &array),
                 "create the delta buffer");
    if (!ops.empty()) std::memcpy(data, ops.data(), ops.size() * sizeof(double));
    return array;
  }
  if (buffer_ != nullptr) {
    QV_NAPI_CALL(napi_get_reference_value(env, buffer_, &array), "read the delta buffer");
    napi_typedarray_type type = napi_float64_array;
    QV_NAPI_CALL(napi_get_typedarray_info(env, array, &type, &length, &data, nullptr, nullptr),
                 "read the delta buffer");
  }
  if (buffer_ == nullptr || length < ops.size()) {
    // Grown by doubling and kept: allocating an ArrayBuffer costs more than the rest of a small
    // delta. The builder reads only the numbers of this delta and keeps no reference. The
    // budgets bound it: at most two numbers per captured node plus 256 paths, under 512 KiB.
    std::size_t capacity = std::max<std::size_t>(1024, length);
    while (capacity < ops.size()) capacity *= 2;
    napi_value buffer = nullptr;
    QV_NAPI_CALL(napi_create_arraybuffer(env, capacity * sizeof(double), &data, &buffer),
                 "create the delta buffer");
    QV_NAPI_CALL(napi_create_typedarray(env, napi_float64_array, capacity, buffer, 0, &array),
                 "create the delta buffer");
    napi_ref ref = nullptr;
    QV_NAPI_CALL(napi_create_reference(env, array, 1, &ref), "keep the delta buffer");
    if (buffer_ != nullptr) napi_delete_reference(env, buffer_);
    buffer_ = ref;
  }
  std::memcpy(data, ops.data(), ops.size() * sizeof(double));
  return array;
}

NapiResult<napi_value> ScriptDelta::build(napi_env env, const EditList& edits,
                                          double base_seq) const {
  Encoder encoder;
  encoder.number(static_cast<double>(edits.size()));
  for (const auto& e : edits) encoder.edit(e);

  napi_value args[3] = {nullptr, nullptr, nullptr};
  auto ops = numbers(env, encoder.ops);
  if (!ops) return Err{std::move(ops.error())};
  args[0] = *ops;
  QV_NAPI_CALL(napi_create_string_utf16(env, encoder.text.data(), encoder.text.size(), &args[1]),
               "create the delta text");
  // As in build_delta: up to 2^32 - 1 an unsigned 32-bit integer (so a stored -0 reads 0).
  if (base_seq <= 4294967295.0) {
    QV_NAPI_CALL(napi_create_uint32(env, static_cast<std::uint32_t>(base_seq), &args[2]),
                 "create baseSeq");
  } else {
    QV_NAPI_CALL(napi_create_double(env, base_seq, &args[2]), "create baseSeq");
  }

  napi_value builder = nullptr;
  napi_value undefined = nullptr;
  napi_value delta = nullptr;
  QV_NAPI_CALL(napi_get_reference_value(env, builder_, &builder), "read the delta builder");
  QV_NAPI_CALL(napi_get_undefined(env, &undefined), "read undefined");
  const bool outer = !buffer_busy_;
  buffer_busy_ = true;
  napi_status status = napi_call_function(env, undefined, builder, 3, args, &delta);
  if (outer) buffer_busy_ = false;
  QV_NAPI_CALL(status, "build the delta");
  return delta;
}

}  // namespace qv::chat
