// Copying a JavaScript message into a MessageValue tree, within the native budgets. Only data a
// message can carry is accepted: primitives, plain objects and ordinary dense arrays.
#pragma once

#include <node_api.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "chat_codec/budget.h"
#include "chat_codec/message_value.h"
#include "qv/napi.h"

namespace qv::chat {

inline constexpr char kNestingText[] = "Message nesting exceeds native budget";
inline constexpr char kBudgetText[] = "Message checkpoint budget exceeded";
inline constexpr char kUnsupportedText[] = "Unsupported message value";
inline constexpr char kNonPlainText[] = "Non-plain objects use complete messages";
inline constexpr char kObjectBudgetText[] = "Message object exceeds native budget";
inline constexpr char kArrayBudgetText[] = "Message array exceeds native budget";
inline constexpr char kNonstandardArrayText[] = "Nonstandard arrays use complete messages";
inline constexpr char kSparseArrayText[] = "Sparse arrays use complete messages";

// Object.getPrototypeOf, taken once per environment when the module loads, so that replacing
// the global later changes nothing. Null-prototype answers of napi_get_prototype are confirmed
// through it (see capture.cc).
napi::Result<napi::Reference> keep_prototype_reader(napi_env env);

// The containers of discarded trees, handed out again to the next capture: a stream of updates
// of one message then reuses the same storage instead of freeing and allocating every container
// of the tree on each update. Holds at most one tree's containers, each of its exact capacity.
class NodeStorage {
 public:
  // Takes `tree` apart, keeping its containers (emptied) in the order a capture asks for them;
  // whatever an earlier tree left unused is freed.
  void recycle(MessageValue&& tree);
  // Frees every kept container.
  void clear();
  // An empty container with room for `count` children, reused when one is kept.
  ArrayValue take_array(std::size_t count);
  ObjectValue take_object(std::size_t count);

 private:
  void keep(MessageValue& node);
  std::vector<ArrayValue> arrays_;
  std::vector<ObjectValue> objects_;
};

// What the walk needs besides the value: the context's Object.prototype (a plain object's
// prototype is that or null) and the prototype reader as values of the current call.
struct CaptureContext {
  napi_env env = nullptr;
  napi_value plain_prototype = nullptr;
  napi_value prototype_of = nullptr;
  napi_value receiver = nullptr;   // undefined, the reader's `this`
  NodeStorage* storage = nullptr;  // containers to reuse; none when null
};

// The context for one update: Object.prototype read from a fresh object, and the reader.
napi::Result<CaptureContext> prepare_capture(napi_env env, const napi::Reference& prototype_of);

// Captures `value`, standing at `depth` (the root at 0). Any failure ends the whole walk; no
// partial tree is returned. The engine's value is never modified.
napi::Result<MessageValue> capture_value(const CaptureContext& context, napi_value value,
                                         std::uint32_t depth, CaptureBudget& budget);

}  // namespace qv::chat
