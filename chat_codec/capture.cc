#include "chat_codec/capture.h"

#include <array>
#include <utility>
#include <variant>

namespace qv::chat {
namespace {

// Most keys and many values are short: they are read in one call through this buffer, and only
// longer ones are measured first, so that their length is charged before anything is copied.
constexpr std::size_t kShortString = 64;

napi::Status charge(CaptureBudget& budget, std::uint64_t amount) {
  if (!charge_budget(budget, amount)) return Err{napi::generic_error(kBudgetText)};
  return kOk;
}

// Reads a string into `out`, charging one node and two bytes per code unit before keeping its
// text. A symbol (only possible for keys) reports napi_string_expected without a charge.
napi::Status read_string(napi_env env, napi_value value, CaptureBudget& budget, const char* step,
                         U16String& out) {
  std::array<char16_t, kShortString> buffer;
  std::size_t copied = 0;
  QV_NAPI_CALL(napi_get_value_string_utf16(env, value, buffer.data(), buffer.size(), &copied),
               step);
  if (copied + 1 < buffer.size()) {  // the whole string fitted, terminator included
    QV_TRY(charge(budget, 2 * static_cast<std::uint64_t>(copied)));
    out.assign(buffer.data(), copied);
    return kOk;
  }
  std::size_t length = 0;
  QV_NAPI_CALL(napi_get_value_string_utf16(env, value, nullptr, 0, &length), step);
  QV_TRY(charge(budget, 2 * static_cast<std::uint64_t>(length)));
  out.assign(length, u'\0');
  // The string's own storage has room for the terminator the call writes.
  QV_NAPI_CALL(napi_get_value_string_utf16(env, value, out.data(), length + 1, &copied), step);
  out.resize(copied);
  return kOk;
}

enum class PrototypeKind : std::uint8_t { Plain, Null, Other };

napi::Result<PrototypeKind> prototype_kind(const CaptureContext& context, napi_value prototype) {
  bool same = false;
  QV_NAPI_CALL(napi_strict_equals(context.env, prototype, context.plain_prototype, &same),
               "compare an object's prototype");
  if (same) return PrototypeKind::Plain;
  napi_valuetype type = napi_undefined;
  QV_NAPI_CALL(napi_typeof(context.env, prototype, &type), "read an object's prototype");
  return type == napi_null ? PrototypeKind::Null : PrototypeKind::Other;
}

// napi_get_prototype reads the prototype an ordinary object holds, which is what
// Object.getPrototypeOf answers for it; but it reports null for every proxy without asking the
// proxy's getPrototypeOf trap, so a proxy for a date, a class instance or an array would pass
// for a null-prototype plain object. A null answer is therefore confirmed through
// Object.getPrototypeOf itself, which runs the trap once and fails for a revoked proxy.
napi::Result<bool> is_plain(const CaptureContext& context, napi_value object) {
  napi_value prototype = nullptr;
  QV_NAPI_CALL(napi_get_prototype(context.env, object, &prototype), "read an object's prototype");
  QV_TRY_VALUE(held, prototype_kind(context, prototype));
  if (held != PrototypeKind::Null) return held == PrototypeKind::Plain;
  QV_NAPI_CALL(napi_call_function(context.env, context.receiver, context.prototype_of, 1, &object,
                                  &prototype),
               "read an object's prototype");
  QV_TRY_VALUE(answered, prototype_kind(context, prototype));
  return answered != PrototypeKind::Other;
}

// Own enumerable keys, integer-like ones as strings, symbols included: one listing per object,
// so a proxy's ownKeys trap runs once.
napi::Result<napi_value> own_keys(napi_env env, napi_value object, napi_key_conversion conversion) {
  napi_value keys = nullptr;
  QV_NAPI_CALL(napi_get_all_property_names(env, object, napi_key_own_only, napi_key_enumerable,
                                           conversion, &keys),
               "list object keys");
  return keys;
}

napi::Status capture_into(const CaptureContext& context, napi_value value, std::uint32_t depth,
                          CaptureBudget& budget, MessageValue& out);

// Containers are filled in place, children captured straight into their final slots: the vectors
// are reserved with their final capacity, so no slot moves while it is being filled.
napi::Status capture_object(const CaptureContext& context, napi_value value, std::uint32_t depth,
                            CaptureBudget& budget, MessageValue& out) {
  napi_env env = context.env;
  napi_value object = nullptr;
  QV_NAPI_CALL(napi_coerce_to_object(env, value, &object), "read an object");
  QV_TRY_VALUE(plain, is_plain(context, object));
  if (!plain) return Err{napi::generic_error(kNonPlainText)};

  QV_TRY_VALUE(keys, own_keys(env, object, napi_key_numbers_to_strings));
  std::uint32_t count = 0;
  QV_NAPI_CALL(napi_get_array_length(env, keys, &count), "count object keys");
  if (count > MAX_OBJECT_KEYS) return Err{napi::generic_error(kObjectBudgetText)};

  auto& entries = context.storage != nullptr
                      ? out.payload.emplace<ObjectValue>(context.storage->take_object(count))
                      : out.payload.emplace<ObjectValue>();
  entries.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    napi_value key = nullptr;
    QV_NAPI_CALL(napi_get_element(env, keys, i, &key), "read an object key");
    ObjectEntry& entry = entries.emplace_back();
    if (auto text = read_string(env, key, budget, "read an object key", entry.key); !text) {
      entries.pop_back();
      if (text.error().status == napi_string_expected) continue;  // a symbol key: left out
      return text;
    }
    napi_value member = nullptr;
    QV_NAPI_CALL(napi_get_property(env, object, key, &member), "read an object member");
    QV_TRY(capture_into(context, member, depth + 1, budget, entry.value));
  }
  return kOk;
}

napi::Status capture_array(const CaptureContext& context, napi_value array, std::uint32_t depth,
                           CaptureBudget& budget, MessageValue& out) {
  napi_env env = context.env;
  std::uint32_t length = 0;
  QV_NAPI_CALL(napi_get_array_length(env, array, &length), "read an array's length");
  if (length > MAX_ARRAY_LENGTH) return Err{napi::generic_error(kArrayBudgetText)};

  napi_value object = nullptr;
  QV_NAPI_CALL(napi_coerce_to_object(env, array, &object), "read an array");
  // Only counted: keeping indices as numbers spares the engine making a string per element,
  // and the count is the same.
  QV_TRY_VALUE(keys, own_keys(env, object, napi_key_keep_numbers));
  std::uint32_t count = 0;
  QV_NAPI_CALL(napi_get_array_length(env, keys, &count), "count array keys");
  if (count != length) return Err{napi::generic_error(kNonstandardArrayText)};

  auto& elements = context.storage != nullptr
                       ? out.payload.emplace<ArrayValue>(context.storage->take_array(length))
                       : out.payload.emplace<ArrayValue>();
  elements.reserve(length);
  for (std::uint32_t i = 0; i < length; ++i) {
    bool present = false;
    QV_NAPI_CALL(napi_has_element(env, array, i, &present), "check an array element");
    if (!present) return Err{napi::generic_error(kSparseArrayText)};
    napi_value element = nullptr;
    QV_NAPI_CALL(napi_get_element(env, array, i, &element), "read an array element");
    QV_TRY(capture_into(context, element, depth + 1, budget, elements.emplace_back()));
  }
  return kOk;
}

napi::Status capture_into(const CaptureContext& context, napi_value value, std::uint32_t depth,
                          CaptureBudget& budget, MessageValue& out) {
  napi_env env = context.env;
  if (depth > MAX_CAPTURE_DEPTH) return Err{napi::generic_error(kNestingText)};
  QV_TRY(charge(budget, NODE_BYTES));

  napi_valuetype type = napi_undefined;
  QV_NAPI_CALL(napi_typeof(env, value, &type), "read a value's type");
  switch (type) {
    case napi_undefined:
      out.payload.emplace<UndefinedValue>();
      return kOk;
    case napi_null:
      out.payload.emplace<NullValue>();
      return kOk;
    case napi_boolean: {
      bool b = false;
      QV_NAPI_CALL(napi_get_value_bool(env, value, &b), "read a boolean");
      out.payload.emplace<bool>(b);
      return kOk;
    }
    case napi_number: {
      double d = 0;
      QV_NAPI_CALL(napi_get_value_double(env, value, &d), "read a number");
      out.payload.emplace<double>(d);
      return kOk;
    }
    case napi_string:
      return read_string(env, value, budget, "read a string", out.payload.emplace<U16String>());
    case napi_object: {
      bool array = false;
      QV_NAPI_CALL(napi_is_array(env, value, &array), "check for an array");
      return array ? capture_array(context, value, depth, budget, out)
                   : capture_object(context, value, depth, budget, out);
    }
    case napi_symbol:
    case napi_function:
    case napi_external:
    case napi_bigint:
      break;
  }
  return Err{napi::generic_error(kUnsupportedText)};
}

// A kept container is handed out only when its capacity is exactly the count asked for: then
// every container of a tree holds what it needs and no more, and the kept ones are at most the
// previous tree's. Taking a larger one would carry its capacity to the new position, and a
// large container moving through the tree would leave its size behind everywhere it had been.
// A kept container that does not fit is freed: it stands where this capture has another shape.
template <typename Container>
Container take_from(std::vector<Container>& kept, std::size_t count) {
  Container container;
  if (!kept.empty()) {
    if (kept.back().capacity() == count) container = std::move(kept.back());
    kept.pop_back();
  }
  container.reserve(count);
  return container;
}

// The lists keep their own capacity from tree to tree, unless it is much more than this tree
// needs: they too follow the present shape, not the largest one seen.
template <typename Container>
void fit(std::vector<Container>& kept) {
  if (kept.capacity() > 2 * kept.size() + 16) kept.shrink_to_fit();
}

}  // namespace

// Children are kept before their parent and in reverse order, so that taking from the back
// hands containers out in the order of a capture of the same shape.
void NodeStorage::keep(MessageValue& node) {
  if (auto* elements = std::get_if<ArrayValue>(&node.payload)) {
    for (auto it = elements->rbegin(); it != elements->rend(); ++it) keep(*it);
    elements->clear();
    arrays_.push_back(std::move(*elements));
  } else if (auto* entries = std::get_if<ObjectValue>(&node.payload)) {
    for (auto it = entries->rbegin(); it != entries->rend(); ++it) keep(it->value);
    entries->clear();
    objects_.push_back(std::move(*entries));
  }
}

void NodeStorage::recycle(MessageValue&& tree) {
  arrays_.clear();
  objects_.clear();
  keep(tree);
  fit(arrays_);
  fit(objects_);
}

void NodeStorage::clear() {
  // Swapped out, not cleared: clear() would keep the lists' own capacity.
  std::vector<ArrayValue>().swap(arrays_);
  std::vector<ObjectValue>().swap(objects_);
}

ArrayValue NodeStorage::take_array(std::size_t count) {
  return take_from(arrays_, count);
}

ObjectValue NodeStorage::take_object(std::size_t count) {
  return take_from(objects_, count);
}

napi::Result<napi::Reference> keep_prototype_reader(napi_env env) {
  napi_value global = nullptr;
  napi_value object_ctor = nullptr;
  napi_value prototype_of = nullptr;
  QV_NAPI_CALL(napi_get_global(env, &global), "read the global object");
  QV_NAPI_CALL(napi_get_named_property(env, global, "Object", &object_ctor), "read Object");
  QV_NAPI_CALL(napi_get_named_property(env, object_ctor, "getPrototypeOf", &prototype_of),
               "read Object.getPrototypeOf");
  napi_valuetype type = napi_undefined;
  QV_NAPI_CALL(napi_typeof(env, prototype_of, &type), "read Object.getPrototypeOf");
  if (type != napi_function)
    return Err{napi::generic_error("Object.getPrototypeOf is not a function")};
  napi::Reference kept;
  QV_NAPI_CALL(napi::make_reference(env, prototype_of, kept), "keep Object.getPrototypeOf");
  return kept;
}

napi::Result<CaptureContext> prepare_capture(napi_env env, const napi::Reference& prototype_of) {
  CaptureContext context;
  context.env = env;
  napi_value probe = nullptr;
  QV_NAPI_CALL(napi_create_object(env, &probe), "create an object");
  QV_NAPI_CALL(napi_get_prototype(env, probe, &context.plain_prototype), "read Object.prototype");
  QV_NAPI_CALL(napi::value_of(env, prototype_of, &context.prototype_of),
               "read Object.getPrototypeOf");
  QV_NAPI_CALL(napi_get_undefined(env, &context.receiver), "read undefined");
  return context;
}

napi::Result<MessageValue> capture_value(const CaptureContext& context, napi_value value,
                                         std::uint32_t depth, CaptureBudget& budget) {
  MessageValue captured;
  QV_TRY(capture_into(context, value, depth, budget, captured));
  return captured;
}

}  // namespace qv::chat
