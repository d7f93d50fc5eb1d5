// A small JSON value with a strict parser and a compact writer. Event texts are written here so
// that every platform produces the same bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace qv::updater {

class Json {
 public:
  // Numbers keep the text they were parsed from, so a parsed value is written back unchanged.
  struct Number {
    std::string text;
    bool operator==(const Number&) const = default;
  };
  using Array = std::vector<Json>;
  // Members in insertion order; keys are unique.
  using Object = std::vector<std::pair<std::string, Json>>;

  Json() = default;  // null
  static Json Bool(bool b) { return Json(b); }
  static Json Int(int64_t n) { return Json(Number{std::to_string(n)}); }
  static Json Uint(uint64_t n) { return Json(Number{std::to_string(n)}); }
  // text must already be a JSON number.
  static Json NumberText(std::string text) { return Json(Number{std::move(text)}); }
  static Json Str(std::string s) { return Json(std::move(s)); }
  static Json MakeArray(Array a = {}) { return Json(std::move(a)); }
  static Json MakeObject(Object o = {}) { return Json(std::move(o)); }

  bool isNull() const { return std::holds_alternative<std::nullptr_t>(v_); }
  bool isObject() const { return std::holds_alternative<Object>(v_); }
  bool isArray() const { return std::holds_alternative<Array>(v_); }
  const Object* object() const { return std::get_if<Object>(&v_); }
  const Array* array() const { return std::get_if<Array>(&v_); }
  const std::string* string() const { return std::get_if<std::string>(&v_); }
  const bool* boolean() const { return std::get_if<bool>(&v_); }
  const Number* number() const { return std::get_if<Number>(&v_); }

  // The member named key of an object, or null when there is none (or this is no object).
  const Json* find(std::string_view key) const;
  // Sets a member of an object, replacing one of the same key; turns a non-object into an object.
  Json& set(std::string key, Json value);
  Json& push(Json value);  // appends to an array; turns a non-array into an array

  bool operator==(const Json&) const = default;

 private:
  explicit Json(bool b) : v_(b) {}
  explicit Json(Number n) : v_(std::move(n)) {}
  explicit Json(std::string s) : v_(std::move(s)) {}
  explicit Json(Array a) : v_(std::move(a)) {}
  explicit Json(Object o) : v_(std::move(o)) {}

  std::variant<std::nullptr_t, bool, Number, std::string, Array, Object> v_{nullptr};
};

// Deepest nesting the parser accepts; deeper texts are refused rather than risking the stack.
inline constexpr int kMaxJsonDepth = 512;

// Parses a JSON text whose top level is an array or an object (RFC 8259 otherwise: no comments,
// no trailing commas, valid UTF-8, paired surrogate escapes). A repeated key keeps its last value.
std::optional<Json> ParseJson(std::string_view text);

// Compact JSON text (no whitespace). Strings are written by qv::append_json_string, so ill-formed
// UTF-8 in them becomes one U+FFFD per maximal invalid subsequence.
std::string WriteJson(const Json& value);

}  // namespace qv::updater
