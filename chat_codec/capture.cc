#include "capture.h"

#include <array>

namespace qv::chat {
namespace {

// Short strings (most keys) are read in one call through this buffer; longer ones are measured
// first so that their length is charged before anything is copied.
constexpr std::size_t kShortString = 64;

NapiStatus charge(CaptureBudget& budget, std::uint64_t amount) {
  if (!charge_budget(budget, amount)) return Err{codec_error(kBudgetText)};
  return kOk;
}

// Reads a string, charging one node and two bytes per code unit before keeping its text. A
// symbol (only possible for keys) reports napi_string_expected without a charge.
NapiResult<U16String> read_string(napi_env env, napi_value value, CaptureBudget& budget,
                                  const char* step) {
  std::array<char16_t, kShortString> buffer;
  std::size_t copied = 0;
  QV_NAPI_CALL(napi_get_value_string_utf16(env, value, buffer.data(), buffer.size(), &copied),
               step);
  if (copied + 1 < buffer.size()) {
    if (auto charged = charge(budget, 2 * static_cast<std::uint64_t>(copied)); !charged) {
      return Err{std::move(charged.error())};
    }
    return U16String(buffer.data(), copied);
  }
  std::size_t length = 0;
  QV_NAPI_CALL(napi_get_value_string_utf16(env, value, nullptr, 0, &length), step);
  if (auto charged = charge(budget, 2 * static_cast<std::uint64_t>(length)); !charged) {
    return Err{std::move(charged.error())};
  }
  U16String text(length, u'\0');
  // The string's own storage has room for the terminator the call writes.
  QV_NAPI_CALL(napi_get_value_string_utf16(env, value, text.data(), length + 1, &copied), step);
  text.resize(copied);
  return text;
}

NapiResult<bool> is_plain(const CaptureContext& context, napi_value object) {
  auto read = EngineHelpers::prototype(context.env, context.keys, object);
  if (!read) return Err{std::move(read.error())};
  napi_value prototype = *read;
  bool same = false;
  QV_NAPI_CALL(napi_strict_equals(context.env, prototype, context.plain_prototype, &same),
               "compare an object's prototype");
  if (same) return true;
  napi_valuetype type = napi_undefined;
  QV_NAPI_CALL(napi_typeof(context.env, prototype, &type), "read an object's prototype");
  return type == napi_null;
}

NapiResult<MessageValue> capture_object(const CaptureContext& context, napi_value object,
                                        std::uint32_t depth, CaptureBudget& budget) {
  napi_env env = context.env;
  auto plain = is_plain(context, object);
  if (!plain) return Err{std::move(plain.error())};
  if (!*plain) return Err{codec_error(kNonPlainText)};

  auto listed = EngineHelpers::list(env, context.keys, object);
  if (!listed) return Err{std::move(listed.error())};
  napi_value keys = *listed;
  std::uint32_t count = 0;
  QV_NAPI_CALL(napi_get_array_length(env, keys, &count), "count object keys");
  if (count > MAX_OBJECT_KEYS) return Err{codec_error(kObjectBudgetText)};

  ObjectValue entries;
  entries.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    napi_value key = nullptr;
    QV_NAPI_CALL(napi_get_element(env, keys, i, &key), "read an object key");
    auto text = read_string(env, key, budget, "read an object key");
    if (!text) {
      if (text.error().status == napi_string_expected) continue;  // a symbol key: left out
      return Err{std::move(text.error())};
    }
    napi_value member = nullptr;
    QV_NAPI_CALL(napi_get_property(env, object, key, &member), "read an object member");
    auto captured = capture_value(context, member, depth + 1, budget);
    if (!captured) return Err{std::move(captured.error())};
    entries.push_back(ObjectEntry{std::move(*text), std::move(*captured)});
  }
  return MessageValue::object(std::move(entries));
}

NapiResult<MessageValue> capture_array(const CaptureContext& context, napi_value array,
                                       std::uint32_t depth, CaptureBudget& budget) {
  napi_env env = context.env;
  std::uint32_t length = 0;
  QV_NAPI_CALL(napi_get_array_length(env, array, &length), "read an array's length");
  if (length > MAX_ARRAY_LENGTH) return Err{codec_error(kArrayBudgetText)};

  auto keys = EngineHelpers::count(env, context.keys, array);
  if (!keys) return Err{std::move(keys.error())};
  if (*keys != length) return Err{codec_error(kNonstandardArrayText)};

  ArrayValue elements;
  elements.reserve(length);
  for (std::uint32_t i = 0; i < length; ++i) {
    bool present = false;
    QV_NAPI_CALL(napi_has_element(env, array, i, &present), "check an array element");
    if (!present) return Err{codec_error(kSparseArrayText)};
    napi_value element = nullptr;
    QV_NAPI_CALL(napi_get_element(env, array, i, &element), "read an array element");
    auto captured = capture_value(context, element, depth + 1, budget);
    if (!captured) return Err{std::move(captured.error())};
    elements.push_back(std::move(*captured));
  }
  return MessageValue::array(std::move(elements));
}

}  // namespace

NapiResult<MessageValue> capture_value(const CaptureContext& context, napi_value value,
                                       std::uint32_t depth, CaptureBudget& budget) {
  napi_env env = context.env;
  if (depth > MAX_CAPTURE_DEPTH) return Err{codec_error(kNestingText)};
  if (auto charged = charge(budget, NODE_BYTES); !charged) return Err{std::move(charged.error())};

  napi_valuetype type = napi_undefined;
  QV_NAPI_CALL(napi_typeof(env, value, &type), "read a value's type");
  switch (type) {
    case napi_undefined:
      return MessageValue::undefined();
    case napi_null:
      return MessageValue::null();
    case napi_boolean: {
      bool b = false;
      QV_NAPI_CALL(napi_get_value_bool(env, value, &b), "read a boolean");
      return MessageValue::boolean(b);
    }
    case napi_number: {
      double d = 0;
      QV_NAPI_CALL(napi_get_value_double(env, value, &d), "read a number");
      return MessageValue::number(d);
    }
    case napi_string: {
      auto text = read_string(env, value, budget, "read a string");
      if (!text) return Err{std::move(text.error())};
      return MessageValue::string(std::move(*text));
    }
    case napi_object: {
      bool array = false;
      QV_NAPI_CALL(napi_is_array(env, value, &array), "check for an array");
      return array ? capture_array(context, value, depth, budget)
                   : capture_object(context, value, depth, budget);
    }
    case napi_symbol:
    case napi_function:
    case napi_external:
    case napi_bigint:
      break;
  }
  return Err{codec_error(kUnsupportedText)};
}

}  // namespace qv::chat
