// The captured form of a chat message: a tree of JavaScript-like values that owns its children.
#pragma once

#include <cstdint>
#include <string>
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

  static MessageValue undefined() { return {UndefinedValue{}}; }
  static MessageValue null() { return {NullValue{}}; }
  static MessageValue boolean(bool b) { return {b}; }
  static MessageValue number(double d) { return {d}; }
  static MessageValue string(U16String s) { return {std::move(s)}; }
  static MessageValue array(ArrayValue elements) { return {std::move(elements)}; }
  static MessageValue object(ObjectValue entries) { return {std::move(entries)}; }

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

}  // namespace qv::chat
