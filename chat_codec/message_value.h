// The captured form of a chat message: a tree of JavaScript-like values that owns its children.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace qv::chat {

// Strings are kept as UTF-16 code units so that lengths and offsets match JavaScript's.
using U16String = std::u16string;

// Declared in this order; the numbering is part of the tree's meaning.
enum class Kind : std::uint8_t { Undefined = 0, Null, Boolean, Number, String, Array, Object };

struct MessageValue;
struct ObjectEntry;

using ArrayValue = std::vector<MessageValue>;
using ObjectValue = std::vector<ObjectEntry>;

struct UndefinedValue {};
struct NullValue {};

struct MessageValue {
  // The variant's alternatives follow Kind exactly, so index() is the kind.
  std::variant<UndefinedValue, NullValue, bool, double, U16String, ArrayValue, ObjectValue> payload;

  Kind kind() const { return static_cast<Kind>(payload.index()); }

  static MessageValue undefined();
  static MessageValue null();
  static MessageValue boolean(bool b);
  static MessageValue number(double d);
  static MessageValue string(U16String s);
  static MessageValue array(ArrayValue elements);
  static MessageValue object(ObjectValue entries);

  bool as_boolean() const { return std::get<bool>(payload); }
  double as_number() const { return std::get<double>(payload); }
  const U16String& as_string() const { return std::get<U16String>(payload); }
  const ArrayValue& as_array() const { return std::get<ArrayValue>(payload); }
  const ObjectValue& as_object() const { return std::get<ObjectValue>(payload); }
  ArrayValue& as_array() { return std::get<ArrayValue>(payload); }
  ObjectValue& as_object() { return std::get<ObjectValue>(payload); }
};

struct ObjectEntry {
  U16String key;
  MessageValue value;
};

// Defined once ObjectEntry is complete: building the variant needs every alternative complete.
inline MessageValue MessageValue::undefined() {
  return {UndefinedValue{}};
}
inline MessageValue MessageValue::null() {
  return {NullValue{}};
}
inline MessageValue MessageValue::boolean(bool b) {
  return {b};
}
inline MessageValue MessageValue::number(double d) {
  return {d};
}
inline MessageValue MessageValue::string(U16String s) {
  return {std::move(s)};
}
inline MessageValue MessageValue::array(ArrayValue elements) {
  return {std::move(elements)};
}
inline MessageValue MessageValue::object(ObjectValue entries) {
  return {std::move(entries)};
}

}  // namespace qv::chat
