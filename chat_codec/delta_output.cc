#include "chat_codec/delta_output.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace qv::chat {
namespace {

// Largest sequence number created as an unsigned 32-bit integer; larger ones as doubles.
constexpr double kMaxUint32 = 4294967295.0;

napi::Result<napi_value> utf16(napi_env env, std::u16string_view text, const char* step) {
  napi_value result = nullptr;
  QV_NAPI_CALL(napi_create_string_utf16(env, text.data(), text.size(), &result), step);
  return result;
}

// Ordinary assignment of a named property on a fresh object.
napi::Status assign(napi_env env, napi_value object, napi_value name, napi_value value,
                    const char* what) {
  QV_NAPI_CALL(napi_set_property(env, object, name, value), std::string("set property ") + what);
  return kOk;
}

napi::Result<napi_value> array_value(napi_env env, const ArrayValue& elements) {
  napi_value array = nullptr;
  QV_NAPI_CALL(napi_create_array_with_length(env, elements.size(), &array), "create an array");
  for (std::size_t i = 0; i < elements.size(); ++i) {
    auto element = to_js_value(env, elements[i]);
    if (!element) return element;
    QV_NAPI_CALL(napi_set_element(env, array, static_cast<std::uint32_t>(i), *element),
                 "set array element " + std::to_string(i));
  }
  return array;
}

napi::Result<napi_value> object_value(napi_env env, const ObjectValue& entries) {
  napi_value object = nullptr;
  QV_NAPI_CALL(napi_create_object(env, &object), "create an object");
  std::vector<napi_property_descriptor> descriptors(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    auto name = utf16(env, entries[i].key, "create an object key");
    if (!name) return name;
    auto value = to_js_value(env, entries[i].value);
    if (!value) return value;
    descriptors[i].name = *name;
    descriptors[i].value = *value;
    descriptors[i].attributes =
        static_cast<napi_property_attributes>(napi_writable | napi_enumerable | napi_configurable);
  }
  // Defining, not assigning: keys such as "__proto__" become ordinary own data properties.
  QV_NAPI_CALL(napi_define_properties(env, object, descriptors.size(), descriptors.data()),
               "define object members");
  return object;
}

napi::Result<napi_value> path_array(napi_env env, const Path& path) {
  napi_value array = nullptr;
  QV_NAPI_CALL(napi_create_array_with_length(env, path.size(), &array), "create a path");
  for (std::size_t j = 0; j < path.size(); ++j) {
    napi_value segment = nullptr;
    if (path[j].is_key()) {
      auto key = utf16(env, path[j].key(), "create a path key");
      if (!key) return key;
      segment = *key;
    } else {
      QV_NAPI_CALL(napi_create_uint32(env, path[j].index(), &segment), "create a path index");
    }
    QV_NAPI_CALL(napi_set_element(env, array, static_cast<std::uint32_t>(j), segment),
                 "set path segment " + std::to_string(j));
  }
  return array;
}

napi::Result<napi_value> edit_object(napi_env env, const DeltaNames::Names& names,
                                     const Edit& edit) {
  napi_value object = nullptr;
  QV_NAPI_CALL(napi_create_object(env, &object), "create an edit");
  auto path = path_array(env, edit.path);
  if (!path) return path;
  QV_TRY(assign(env, object, names.path, *path, "path"));
  napi_value op = edit.kind == EditKind::Set      ? names.set
                  : edit.kind == EditKind::Remove ? names.remove
                                                  : names.append;
  QV_TRY(assign(env, object, names.op, op, "op"));

  if (edit.kind == EditKind::Set) {
    auto value = to_js_value(env, *edit.value);
    if (!value) return value;
    QV_TRY(assign(env, object, names.value, *value, "value"));
  } else if (edit.kind == EditKind::Append) {
    napi_value offset = nullptr;
    // Offsets are old string lengths, which the capture budget keeps far below 2^32.
    QV_NAPI_CALL(napi_create_uint32(env, static_cast<std::uint32_t>(edit.offset), &offset),
                 "create an offset");
    QV_TRY(assign(env, object, names.offset, offset, "offset"));
    auto text = utf16(env, edit.text, "create appended text");
    if (!text) return text;
    QV_TRY(assign(env, object, names.text, *text, "text"));
  }
  return object;
}

}  // namespace

napi::Result<napi_value> to_js_value(napi_env env, const MessageValue& value) {
  napi_value result = nullptr;
  switch (value.kind()) {
    case Kind::Undefined:
      QV_NAPI_CALL(napi_get_undefined(env, &result), "create undefined");
      return result;
    case Kind::Null:
      QV_NAPI_CALL(napi_get_null(env, &result), "create null");
      return result;
    case Kind::Boolean:
      QV_NAPI_CALL(napi_get_boolean(env, value.as_boolean(), &result), "create a boolean");
      return result;
    case Kind::Number:
      QV_NAPI_CALL(napi_create_double(env, value.as_number(), &result), "create a number");
      return result;
    case Kind::String:
      return utf16(env, value.as_string(), "create a string");
    case Kind::Array:
      return array_value(env, value.as_array());
    case Kind::Object:
      return object_value(env, value.as_object());
  }
  return Err{napi::generic_error("Unknown captured value")};
}

namespace {
constexpr std::array<const char*, DeltaNames::kCount> kNameTexts = {
    "baseSeq", "edits", "path", "op", "value", "offset", "text", "set", "remove", "append",
};
}  // namespace

napi::Result<DeltaNames> DeltaNames::create(napi_env env) {
  napi_value array = nullptr;
  QV_NAPI_CALL(napi_create_array_with_length(env, kCount, &array), "create the property names");
  for (std::size_t i = 0; i < kCount; ++i) {
    napi_value name = nullptr;
    QV_NAPI_CALL(napi_create_string_utf8(env, kNameTexts[i], NAPI_AUTO_LENGTH, &name),
                 "create the property names");
    QV_NAPI_CALL(napi_set_element(env, array, static_cast<std::uint32_t>(i), name),
                 "create the property names");
  }
  DeltaNames names;
  QV_NAPI_CALL(napi::make_reference(env, array, names.names_), "keep the property names");
  return names;
}

napi::Result<DeltaNames::Names> DeltaNames::resolve(napi_env env) const {
  napi_value array = nullptr;
  QV_NAPI_CALL(napi::value_of(env, names_, &array), "read the property names");
  Names names{};
  napi_value* slots[kCount] = {&names.base_seq, &names.edits,  &names.path, &names.op,
                               &names.value,    &names.offset, &names.text, &names.set,
                               &names.remove,   &names.append};
  for (std::size_t i = 0; i < kCount; ++i) {
    QV_NAPI_CALL(napi_get_element(env, array, static_cast<std::uint32_t>(i), slots[i]),
                 "read the property names");
  }
  return names;
}

napi::Result<napi_value> build_delta(napi_env env, const EditList& edits, double base_seq,
                                     const DeltaNames& delta_names) {
  QV_TRY_VALUE(names, delta_names.resolve(env));
  napi_value delta = nullptr;
  QV_NAPI_CALL(napi_create_object(env, &delta), "create the delta");
  napi_value seq = nullptr;
  if (base_seq <= kMaxUint32) {
    QV_NAPI_CALL(napi_create_uint32(env, static_cast<std::uint32_t>(base_seq), &seq),
                 "create baseSeq");
  } else {
    QV_NAPI_CALL(napi_create_double(env, base_seq, &seq), "create baseSeq");
  }
  QV_TRY(assign(env, delta, names.base_seq, seq, "baseSeq"));

  napi_value list = nullptr;
  QV_NAPI_CALL(napi_create_array_with_length(env, edits.size(), &list), "create the edit list");
  for (std::size_t i = 0; i < edits.size(); ++i) {
    auto edit = edit_object(env, names, edits[i]);
    if (!edit) return edit;
    QV_NAPI_CALL(napi_set_element(env, list, static_cast<std::uint32_t>(i), *edit),
                 "set edit " + std::to_string(i));
  }
  QV_TRY(assign(env, delta, names.edits, list, "edits"));
  return delta;
}

}  // namespace qv::chat
